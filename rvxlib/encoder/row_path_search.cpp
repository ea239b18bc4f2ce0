#include "rvxlib/encoder/row_path_search.h"

#include <limits>

namespace _rvxlib_ {

void ChooseRowPath(std::span<const uint32_t> first, std::span<const float> own,
                   const std::function<float(uint32_t trial, uint32_t before)>& link, RowPathScratch& scratch,
                   std::vector<uint32_t>& chosen) {
    chosen.clear();
    if (first.size() < 2) return;
    const uint32_t columns = uint32_t(first.size() - 1);
    std::vector<float>& total = scratch.total;
    std::vector<uint32_t>& from = scratch.from;
    total.assign(own.size(), 0);
    from.assign(own.size(), 0);
    for (uint32_t k = first[0]; k < first[1]; ++k) total[k] = own[k] + link(k, kRowStart);
    for (uint32_t j = 1; j < columns; ++j) {
        for (uint32_t k = first[j]; k < first[j + 1]; ++k) {
            // Even when every way here costs beyond measure, the path stays
            // within the column to the left.
            total[k] = std::numeric_limits<float>::max();
            from[k] = first[j - 1];
            for (uint32_t m = first[j - 1]; m < first[j]; ++m) {
                const float cost = total[m] + own[k] + link(k, m);
                if (cost < total[k]) {
                    total[k] = cost;
                    from[k] = m;
                }
            }
        }
    }
    chosen.assign(columns, 0);
    uint32_t k = first[columns - 1];
    for (uint32_t m = k; m < first[columns]; ++m)
        if (total[m] < total[k]) k = m;
    for (uint32_t j = columns; j-- > 0;) {
        chosen[j] = k;
        k = from[k];
    }
}

}  // namespace _rvxlib_
