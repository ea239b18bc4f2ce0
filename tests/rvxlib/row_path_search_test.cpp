// The row path search on hand-made rows: each case's cheapest path is
// worked out from its table.

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <utility>
#include <vector>

#include "rvxlib/encoder/row_path_search.h"

using namespace _rvxlib_;

namespace {

struct RowCase {
    const char* name;
    std::vector<uint32_t> first;  // column j's trials: first[j] .. first[j + 1] - 1
    std::vector<float> own;
    // What a trial adds after another (or after kRowStart); pairs not listed add 0.
    std::map<std::pair<uint32_t, uint32_t>, float> links;
    std::vector<uint32_t> path;
};

std::vector<uint32_t> Search(const RowCase& row) {
    RowPathScratch scratch;
    std::vector<uint32_t> chosen;
    ChooseRowPath(
        row.first, row.own,
        [&](uint32_t k, uint32_t before) {
            const auto link = row.links.find({k, before});
            return link == row.links.end() ? 0.0f : link->second;
        },
        scratch, chosen);
    return chosen;
}

constexpr float kNever = std::numeric_limits<float>::max();

}  // namespace

TEST(ChooseRowPath, FindsTheCheapestPathOfHandMadeRows) {
    const RowCase cases[] = {
        {"one way per column", {0, 1, 2, 3}, {5, 1, 7}, {}, {0, 1, 2}},
        {"one column picks its cheapest", {0, 3}, {4, 2, 3}, {}, {1}},
        // Trial 0 (1) is cheaper than 1 (2), but 2 after 0 costs 10 and
        // after 1 nothing: 1 + 1 + 10 = 12 against 2 + 1 = 3.
        {"a link outweighs the cheaper start", {0, 2, 3}, {1, 2, 1}, {{{2, 0}, 10}}, {1, 2}},
        // The row's start is priced too: 0 pays 5 to start, 1 nothing.
        {"the start is priced", {0, 2}, {1, 3}, {{{0, kRowStart}, 5}}, {1}},
        // Column 1's cheapest own cost (trial 2) is dearer after every way
        // of column 0; trial 3 after trial 1 wins (2 + 4 + 0 = 6).
        {"the path, not each column, is cheapest",
         {0, 2, 4, 5},
         {3, 2, 1, 4, 1},
         {{{2, 0}, 9}, {{2, 1}, 9}, {{3, 0}, 3}},
         {1, 3, 4}},
        // The last column's choice reaches back: trial 4 only pays after 2,
        // 2 only after 0.
        {"the choice at the end reaches back",
         {0, 2, 4, 6},
         {1, 1, 1, 1, 1, 1},
         {{{2, 1}, 5}, {{3, 0}, 5}, {{3, 1}, 5}, {{4, 3}, 5}, {{5, 2}, 5}, {{5, 3}, 5}},
         {0, 2, 4}},
        {"ties keep the earlier trial", {0, 2, 4}, {1, 1, 2, 2}, {}, {0, 2}},
        // A way that cannot be coded costs beyond measure; the path keeps to
        // the row's own columns even when every way does.
        {"refused ways are passed over", {0, 2, 4}, {kNever, 1, 1, kNever}, {}, {1, 2}},
        {"a row of refused ways stays in its columns", {0, 1, 3, 4}, {kNever, kNever, kNever, kNever}, {}, {0, 1, 3}},
    };
    for (const RowCase& row : cases) EXPECT_EQ(Search(row), row.path) << row.name;
}

TEST(ChooseRowPath, AnEmptyRowHasNoPath) {
    RowCase none{"no columns", {0}, {}, {}, {}};
    EXPECT_TRUE(Search(none).empty());
}
