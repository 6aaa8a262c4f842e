#include "tiles/grid_line.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace roamgrid {
namespace {

std::vector<GridCell> Line(GridCell from, GridCell to) {
  std::vector<GridCell> cells;
  ForEachLineCell(from, to, [&](GridCell cell) { cells.push_back(cell); });
  return cells;
}

TEST(GridLineTest, MarksTheCellsOfTheRule) {
  struct Case {
    const char* what;
    GridCell from, to;
    std::vector<GridCell> cells;
  };
  const Case cases[] = {
      {"zero length", {5, 7}, {5, 7}, {{5, 7}}},
      {"along a row", {0, 0}, {0, 3}, {{0, 0}, {0, 1}, {0, 2}, {0, 3}}},
      {"along a column, south", {2, 1}, {0, 1}, {{2, 1}, {1, 1}, {0, 1}}},
      // Each corner is passed through the southern of its two cells.
      {"diagonal north-east", {0, 0}, {2, 2}, {{0, 0}, {0, 1}, {1, 1}, {1, 2}, {2, 2}}},
      {"diagonal south-west", {2, 2}, {0, 0}, {{2, 2}, {1, 2}, {1, 1}, {0, 1}, {0, 0}}},
      {"diagonal north-west", {0, 2}, {1, 1}, {{0, 2}, {0, 1}, {1, 1}}},
      {"through one corner", {0, 0}, {1, 3}, {{0, 0}, {0, 1}, {0, 2}, {1, 2}, {1, 3}}},
      {"shallow", {0, 0}, {1, 4}, {{0, 0}, {0, 1}, {0, 2}, {1, 2}, {1, 3}, {1, 4}}},
      {"steep", {0, 0}, {3, -1}, {{0, 0}, {1, 0}, {1, -1}, {2, -1}, {3, -1}}},
      // Rows 895 and 896 lie in two tiles, as do columns 895 and 896.
      {"across a tile corner", {895, 895}, {896, 896}, {{895, 895}, {895, 896}, {896, 896}}},
      {"across the zero corner", {0, 0}, {-1, -1}, {{0, 0}, {-1, 0}, {-1, -1}}},
  };
  for (const Case& c : cases) EXPECT_EQ(Line(c.from, c.to), c.cells) << c.what;
}

TEST(GridLineTest, RandomLinesAreFourConnectedMinimalAndInTheirBox) {
  std::mt19937 random(22);
  std::uniform_int_distribution<int64_t> near(-40, 40);
  for (int n = 0; n < 2000; ++n) {
    const GridCell from{near(random), near(random) + 6451200 / 2};
    const GridCell to{from.row + near(random), from.column + near(random)};
    const std::vector<GridCell> cells = Line(from, to);
    ASSERT_EQ(cells.front(), from);
    ASSERT_EQ(cells.back(), to);
    ASSERT_EQ(int64_t(cells.size()),
              1 + std::llabs(to.row - from.row) + std::llabs(to.column - from.column));
    std::set<std::pair<int64_t, int64_t>> set;
    for (size_t i = 0; i < cells.size(); ++i) {
      const GridCell c = cells[i];
      ASSERT_GE(c.row, std::min(from.row, to.row));
      ASSERT_LE(c.row, std::max(from.row, to.row));
      ASSERT_GE(c.column, std::min(from.column, to.column));
      ASSERT_LE(c.column, std::max(from.column, to.column));
      if (i > 0) {
        ASSERT_EQ(std::llabs(c.row - cells[i - 1].row) + std::llabs(c.column - cells[i - 1].column),
                  1);
      }
      set.insert({c.row, c.column});
    }
    // Either direction gives the same cells.
    for (const GridCell c : Line(to, from)) ASSERT_TRUE(set.count({c.row, c.column}));
  }
}

}  // namespace
}  // namespace roamgrid
