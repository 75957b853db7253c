#include <gtest/gtest.h>

#include <cstdint>

#include "design/tables.h"

using tavrin::allocTable;
using tavrin::allocTriangularTable;

TEST(Tables, TwoLevelTableRowsReferenceOneZeroFilledBlock) {
  for (const auto& [rows, cols] : {std::pair<std::size_t, std::size_t>{1, 1}, {4, 3}, {233, 21}}) {
    tavrin::Table<std::int32_t> t = allocTable<std::int32_t>(rows, cols);
    ASSERT_TRUE(t);
    EXPECT_EQ(t.rowCount(), rows);
    EXPECT_EQ(t.colCount(), cols);
    for (std::size_t k = 0; k < rows; ++k) {
      EXPECT_EQ(t[k], t.data() + k * cols);
      EXPECT_EQ(t.rowRefs()[k], t[k]);
    }
    for (std::size_t e = 0; e < rows * cols; ++e) ASSERT_EQ(t.data()[e], 0) << e;
  }
}

TEST(Tables, TriangularTableLayout) {
  // Layer k starts at k*T, T = W(W+1)/2; row r of a layer holds W - r
  // elements and starts right after row r - 1.
  for (const auto& [layers, width] : {std::pair<std::size_t, std::size_t>{1, 1}, {3, 4}, {21, 21}}) {
    tavrin::TriangularTable<float> t = allocTriangularTable<float>(layers, width);
    ASSERT_TRUE(t);
    EXPECT_EQ(t.layerCount(), layers);
    EXPECT_EQ(t.width(), width);
    const std::size_t perLayer = width * (width + 1) / 2;
    for (std::size_t k = 0; k < layers; ++k) {
      std::size_t offset = k * perLayer;
      for (std::size_t r = 0; r < width; ++r) {
        EXPECT_EQ(t[k][r], t.data() + offset) << k << "," << r;
        offset += width - r;
      }
      EXPECT_EQ(offset, (k + 1) * perLayer);
    }
    for (std::size_t e = 0; e < layers * perLayer; ++e) ASSERT_EQ(t.data()[e], 0.0f) << e;
  }
  // Width 4: rows of 4, 3, 2 and 1 elements, layer 1 from element 10.
  tavrin::TriangularTable<float> t = allocTriangularTable<float>(2, 4);
  EXPECT_EQ(t[0][3] - t.data(), 9);
  EXPECT_EQ(t[1][0] - t.data(), 10);
  EXPECT_EQ(t[1][2] - t.data(), 17);
}

TEST(Tables, FreeingEmptiesAndToleratesEmptyTables) {
  tavrin::Table<float> empty;
  tavrin::freeTable(empty);
  EXPECT_FALSE(empty);
  tavrin::TriangularTable<float> emptyTriangle;
  tavrin::freeTriangularTable(emptyTriangle);
  EXPECT_FALSE(emptyTriangle);

  tavrin::Table<float> t = allocTable<float>(2, 2);
  tavrin::freeTable(t);
  EXPECT_FALSE(t);
  EXPECT_EQ(t.data(), nullptr);
  tavrin::TriangularTable<float> tri = allocTriangularTable<float>(2, 2);
  tavrin::freeTriangularTable(tri);
  EXPECT_FALSE(tri);
  EXPECT_EQ(tri.data(), nullptr);
}

TEST(Tables, CopiesAreDeep) {
  tavrin::Table<float> source = allocTable<float>(3, 4);
  source[2][3] = 7.5f;
  tavrin::Table<float> copy(source);
  ASSERT_TRUE(copy);
  EXPECT_NE(copy.data(), source.data());
  EXPECT_EQ(copy[1], copy.data() + 4);  // the copy's rows point into its own block
  EXPECT_EQ(copy[2][3], 7.5f);
  copy[0][0] = 1.0f;
  EXPECT_EQ(source[0][0], 0.0f);
  tavrin::Table<float> assigned = allocTable<float>(1, 1);
  assigned = source;
  EXPECT_EQ(assigned.rowCount(), 3u);
  EXPECT_EQ(assigned[2][3], 7.5f);
  EXPECT_NE(assigned.data(), source.data());
  const tavrin::Table<float> none;
  tavrin::Table<float> fromEmpty(none);
  EXPECT_FALSE(fromEmpty);

  tavrin::TriangularTable<float> tri = allocTriangularTable<float>(2, 3);
  tri[1][2][0] = 4.0f;
  tavrin::TriangularTable<float> triCopy(tri);
  EXPECT_NE(triCopy.data(), tri.data());
  EXPECT_EQ(triCopy[1][2], triCopy.data() + 11);
  EXPECT_EQ(triCopy[1][2][0], 4.0f);
  triCopy[0][0][0] = 2.0f;
  EXPECT_EQ(tri[0][0][0], 0.0f);
  tri = triCopy;
  EXPECT_EQ(tri[0][0][0], 2.0f);
  EXPECT_NE(tri.data(), triCopy.data());
}

TEST(Tables, ModelTablesOfTheWorkspace) {
  tavrin::NumericWorkspace ws;
  ws.objCount = 2;
  ws.runCount = 9;
  ws.coefTable = allocTriangularTable<float>(3, 3);
  ws.planMatrix = allocTable<std::int32_t>(10, 3);
  tavrin::allocObsTable(ws);
  EXPECT_FALSE(ws.coefTable);
  ASSERT_TRUE(ws.obsTable);
  EXPECT_EQ(ws.obsTable.rowCount(), 3u);
  EXPECT_EQ(ws.obsTable.colCount(), 10u);
  ws.coefTable = allocTriangularTable<float>(3, 3);
  tavrin::freeModelTables(ws);
  EXPECT_FALSE(ws.coefTable);
  EXPECT_FALSE(ws.obsTable);
  EXPECT_TRUE(ws.planMatrix);  // not a model table
}
