#include "design/tables.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace tavrin {
namespace {

// rows * cols, or the largest size_t if the product does not fit (calloc
// then fails, which the allocators report as exhaustion).
std::size_t product(std::size_t a, std::size_t b) {
  if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) {
    return std::numeric_limits<std::size_t>::max();
  }
  return a * b;
}

template <class T>
HeapBlock<T> zeroedBlock(std::size_t count) {
  if (count > static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(T)) return nullptr;
  return HeapBlock<T>(static_cast<T*>(std::calloc(count == 0 ? 1 : count, sizeof(T))));
}

int asInt(std::size_t value) { return static_cast<int>(value); }

}  // namespace

void outOfMemory(const char* what, const char* detailFormat, ...) {
  std::fputs(what, stdout);
  va_list args;
  va_start(args, detailFormat);
  std::vprintf(detailFormat, args);
  va_end(args);
  std::fflush(stdout);
  std::exit(1);
}

template <class T>
Table<T> allocTable(std::size_t rows, std::size_t cols) {
  Table<T> table;
  const std::size_t cells = product(rows, cols);
  table.block_ = zeroedBlock<T>(cells);
  if (!table.block_) {
    outOfMemory("\nInsufficient memory, mass1 v mass2", "\n N=%d  Nbite=%d", asInt(cells),
                asInt(sizeof(T)));
  }
  table.rows_ = zeroedBlock<T*>(rows);
  if (!table.rows_) {
    outOfMemory("\nInsufficient memory, mass2 v mass2", "\n N=%d  Nbite=%d", asInt(rows),
                asInt(sizeof(T)));
  }
  for (std::size_t r = 0; r < rows; ++r) table.rows_[r] = table.block_.get() + r * cols;
  table.rowCount_ = rows;
  table.colCount_ = cols;
  return table;
}

template <class T>
TriangularTable<T> allocTriangularTable(std::size_t layers, std::size_t rows) {
  TriangularTable<T> table;
  const std::size_t perLayer = rows * (rows + 1) / 2;
  const std::size_t cells = product(layers, perLayer);
  table.block_ = zeroedBlock<T>(cells);
  if (!table.block_) {
    outOfMemory("\nInsufficient memory, mass1 v mass3 ", "\n Ntrg=%d  Nkat=%d  m=%d  N=%d  Nbite=%d",
                asInt(layers), asInt(rows), asInt(perLayer), asInt(cells), asInt(sizeof(T)));
  }
  const std::size_t rowRefCount = product(layers, rows);
  table.rowRefs_ = zeroedBlock<T*>(rowRefCount);
  if (!table.rowRefs_) {
    outOfMemory("Insufficient memory, mass2 v mass3", "\n N=%d  Nbite=%d", asInt(rowRefCount),
                asInt(sizeof(T)));
  }
  table.layers_ = zeroedBlock<T**>(layers);
  if (!table.layers_) {
    outOfMemory("\nInsufficient memory, mass3 v mass3", "\n N=%d  Nbite=%d", asInt(layers),
                asInt(sizeof(T)));
  }
  for (std::size_t t = 0; t < layers; ++t) {
    T** layerRows = table.rowRefs_.get() + t * rows;
    std::size_t offset = t * perLayer;
    for (std::size_t r = 0; r < rows; ++r) {
      layerRows[r] = table.block_.get() + offset;
      offset += rows - r;
    }
    table.layers_[t] = layerRows;
  }
  table.layerCount_ = layers;
  table.width_ = rows;
  return table;
}

template <class T>
Table<T>::Table(const Table& other) {
  if (!other) return;
  *this = allocTable<T>(other.rowCount_, other.colCount_);
  std::memcpy(block_.get(), other.block_.get(), rowCount_ * colCount_ * sizeof(T));
}

template <class T>
TriangularTable<T>::TriangularTable(const TriangularTable& other) {
  if (!other) return;
  *this = allocTriangularTable<T>(other.layerCount_, other.width_);
  std::memcpy(block_.get(), other.block_.get(),
              layerCount_ * (width_ * (width_ + 1) / 2) * sizeof(T));
}

void freeModelTables(NumericWorkspace& ws) {
  freeTriangularTable(ws.coefTable);
  freeTable(ws.obsTable);
}

void allocObsTable(NumericWorkspace& ws) {
  ws.obsTable = allocTable<float>(static_cast<std::size_t>(ws.objCount) + 1,
                                  static_cast<std::size_t>(ws.runCount) + 1);
  ws.coefTable = TriangularTable<float>();
}

template class Table<float>;
template class Table<double>;
template class Table<std::int32_t>;
template class TriangularTable<float>;
template Table<float> allocTable<float>(std::size_t, std::size_t);
template Table<double> allocTable<double>(std::size_t, std::size_t);
template Table<std::int32_t> allocTable<std::int32_t>(std::size_t, std::size_t);
template TriangularTable<float> allocTriangularTable<float>(std::size_t, std::size_t);

}  // namespace tavrin
