#pragma once
// The cheapest way through a macroblock row when each macroblock's choice
// changes what the next one costs (its DCs are predicted from the one
// before): a shortest path over the row's trials, column by column.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace _rvxlib_ {

// The `before` a row's first column is linked to: nothing, predictors of 0.
inline constexpr uint32_t kRowStart = UINT32_MAX;

// The trials of column j are first[j] .. first[j + 1] - 1, every column
// holding at least one. own[k] is what trial k costs by itself, link(k,
// before) what it adds after trial `before` of the column to its left (or
// after kRowStart). Fills chosen with one trial per column, the path whose
// costs add up to the least; on ties the earlier trial. total and from are
// working space, kept by the caller so a row allocates nothing.
struct RowPathScratch {
    std::vector<float> total;
    std::vector<uint32_t> from;
};
void ChooseRowPath(std::span<const uint32_t> first, std::span<const float> own,
                   const std::function<float(uint32_t trial, uint32_t before)>& link, RowPathScratch& scratch,
                   std::vector<uint32_t>& chosen);

}  // namespace _rvxlib_
