#include <cstddef>

#include "design/plans.h"
#include "design/tables.h"

namespace tavrin {
namespace {

// Two-level factorials; row by row, column t is the level of the t-th
// variable of a block. The five-variable half fraction takes the rows of
// F4 and the product of their four levels as its fifth column.
constexpr int kF2[4][2] = {
    {+1, +1},
    {+1, -1},
    {-1, +1},
    {-1, -1},
};

constexpr int kF3[8][3] = {
    {+1, +1, +1},
    {+1, +1, -1},
    {+1, -1, -1},
    {-1, -1, -1},
    {-1, -1, +1},
    {-1, +1, +1},
    {+1, -1, +1},
    {-1, +1, -1},
};

constexpr int kF4[16][4] = {
    {-1, -1, -1, -1},
    {+1, -1, -1, +1},
    {-1, +1, -1, +1},
    {+1, +1, -1, -1},
    {-1, -1, +1, -1},
    {+1, -1, +1, +1},
    {-1, +1, +1, +1},
    {+1, +1, +1, -1},
    {+1, +1, +1, +1},
    {-1, +1, +1, -1},
    {+1, -1, +1, -1},
    {-1, -1, +1, +1},
    {+1, +1, -1, +1},
    {-1, +1, -1, -1},
    {+1, -1, -1, -1},
    {-1, -1, -1, +1},
};

// Variable blocks of each plan, in plan order; each block lists the
// variables it moves in increasing order.
constexpr int kBlocks3[][2] = {{1, 2}, {1, 3}, {2, 3}};
constexpr int kBlocks4[][2] = {{1, 2}, {3, 4}, {1, 4}, {2, 3}, {1, 3}, {2, 4}};
constexpr int kBlocks5[][2] = {{1, 2}, {3, 4}, {2, 5}, {1, 3}, {4, 5},
                               {2, 3}, {1, 4}, {3, 5}, {1, 5}, {2, 4}};
constexpr int kBlocks6[][3] = {{1, 2, 4}, {2, 3, 5}, {3, 4, 6}, {1, 4, 5}, {2, 5, 6}, {1, 3, 6}};
constexpr int kBlocks7[][3] = {{4, 5, 6}, {1, 6, 7}, {2, 5, 7}, {1, 2, 4},
                               {3, 4, 7}, {1, 3, 5}, {2, 3, 6}};
constexpr int kBlocks9[][3] = {{1, 4, 7}, {2, 5, 8}, {3, 6, 9}, {1, 2, 3}, {4, 5, 6},
                               {7, 8, 9}, {1, 5, 9}, {3, 4, 8}, {2, 6, 7}, {1, 6, 8},
                               {2, 4, 9}, {3, 5, 7}, {1, 4, 7}, {2, 5, 8}, {3, 6, 9}};
constexpr int kBlocks10[][4] = {{2, 6, 7, 10}, {1, 2, 5, 10}, {2, 3, 7, 8}, {2, 4, 6, 9},
                                {1, 8, 9, 10}, {3, 4, 5, 10}, {1, 4, 7, 8}, {3, 5, 7, 9},
                                {1, 3, 6, 9},  {4, 5, 6, 8}};
constexpr int kBlocks11[][5] = {{3, 7, 8, 9, 11}, {1, 4, 8, 9, 10}, {2, 5, 9, 10, 11}, {1, 3, 6, 10, 11},
                                {1, 2, 4, 7, 11}, {1, 2, 3, 5, 8},  {2, 3, 4, 6, 9},   {3, 4, 5, 7, 10},
                                {4, 5, 6, 8, 11}, {1, 5, 6, 7, 9},  {2, 6, 7, 8, 10}};
constexpr int kBlocks12[][4] = {{1, 2, 5, 7},  {2, 3, 6, 8},   {3, 4, 7, 9},   {4, 5, 8, 10},
                                {5, 6, 9, 11}, {6, 7, 10, 12}, {1, 7, 8, 11},  {2, 8, 9, 12},
                                {1, 3, 9, 10}, {2, 4, 10, 11}, {3, 5, 11, 12}, {1, 4, 6, 12}};
constexpr int kBlocks16[][4] = {{1, 2, 6, 9},    {3, 4, 8, 11},   {5, 10, 13, 14}, {7, 12, 15, 16},
                                {2, 3, 7, 10},   {1, 4, 5, 12},   {6, 11, 14, 15}, {8, 9, 13, 16},
                                {2, 5, 6, 13},   {4, 7, 8, 15},   {1, 9, 10, 14},  {3, 11, 12, 16},
                                {3, 6, 7, 14},   {1, 5, 8, 16},   {2, 10, 11, 15}, {4, 9, 12, 13},
                                {1, 3, 13, 15},  {2, 4, 14, 16},  {5, 7, 9, 11},   {6, 8, 10, 12},
                                {4, 6, 10, 16},  {3, 5, 9, 15},   {1, 7, 11, 13},  {2, 8, 12, 14}};

struct BlockDesign {
  int blockSize;
  int blockCount;
  const int* blocks;  // blockCount rows of blockSize variables
};

template <std::size_t Count, std::size_t Size>
constexpr BlockDesign design(const int (&blocks)[Count][Size]) {
  return {static_cast<int>(Size), static_cast<int>(Count), &blocks[0][0]};
}

// The block design for n >= 3, or a design of no blocks for n = 1, 2 and
// unsupported counts.
constexpr BlockDesign blockDesign(int n) {
  switch (n) {
    case 3: return design(kBlocks3);
    case 4: return design(kBlocks4);
    case 5: return design(kBlocks5);
    case 6: return design(kBlocks6);
    case 7: return design(kBlocks7);
    case 9: return design(kBlocks9);
    case 10: return design(kBlocks10);
    case 11: return design(kBlocks11);
    case 12: return design(kBlocks12);
    case 16: return design(kBlocks16);
    default: return {0, 0, nullptr};
  }
}

// Rows of the two-level factorial crossed with blocks of this size.
constexpr int factorialRows(int blockSize) { return blockSize == 2 ? 4 : blockSize == 3 ? 8 : 16; }

// Level of the t-th block variable (0-based) in factorial row `row`.
int factorialLevel(int blockSize, int row, int t) {
  switch (blockSize) {
    case 2: return kF2[row][t];
    case 3: return kF3[row][t];
    case 4: return kF4[row][t];
    default:
      if (t < 4) return kF4[row][t];
      return kF4[row][0] * kF4[row][1] * kF4[row][2] * kF4[row][3];
  }
}

}  // namespace

bool boxBehnkenSupports(int n) { return n == 1 || n == 2 || blockDesign(n).blockCount > 0; }

int boxBehnkenRunCount(int n) {
  if (n == 1) return 3;
  if (n == 2) return 9;
  const BlockDesign d = blockDesign(n);
  return d.blockCount * factorialRows(d.blockSize) + 1;
}

Table<std::int32_t> buildBoxBehnkenPlan(int n) {
  const int runs = boxBehnkenRunCount(n);
  Table<std::int32_t> plan = allocTable<std::int32_t>(static_cast<std::size_t>(runs) + 1,
                                                     static_cast<std::size_t>(n) + 1);
  if (n == 1) {
    plan[1][1] = -1;
    plan[2][1] = +1;
    return plan;
  }
  if (n == 2) {
    static constexpr int kFullFactorial[8][2] = {{+1, +1}, {-1, +1}, {+1, -1}, {-1, -1},
                                                 {+1, 0},  {-1, 0},  {0, +1},  {0, -1}};
    for (int r = 0; r < 8; ++r) {
      plan[r + 1][1] = kFullFactorial[r][0];
      plan[r + 1][2] = kFullFactorial[r][1];
    }
    return plan;
  }

  const BlockDesign d = blockDesign(n);
  int run = 0;
  for (int b = 0; b < d.blockCount; ++b) {
    const int* block = d.blocks + b * d.blockSize;
    for (int row = 0; row < factorialRows(d.blockSize); ++row) {
      ++run;
      for (int t = 0; t < d.blockSize; ++t) plan[run][block[t]] = factorialLevel(d.blockSize, row, t);
    }
  }
  // The last run stays all 0: the centre run.
  return plan;
}

}  // namespace tavrin
