// Heap tables held by the numeric workspace. Not part of the interface:
// CTavrin holds them by value, so their layout is visible here.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace tavrin {

struct FreeDeleter {
  void operator()(void* p) const noexcept { std::free(p); }
};

template <class T>
using HeapBlock = std::unique_ptr<T[], FreeDeleter>;

// Two-level table: one zero-filled block of rows x cols elements plus an
// array of row references; row k begins at element k * cols.
// Made by allocTable (src/design/tables.h); copies are deep.
template <class T>
class Table {
 public:
  Table() = default;
  Table(Table&&) noexcept = default;
  Table& operator=(Table&&) noexcept = default;
  Table(const Table& other);
  Table& operator=(const Table& other) {
    Table copy(other);
    *this = std::move(copy);
    return *this;
  }
  ~Table() = default;

  explicit operator bool() const { return rows_ != nullptr; }
  T* operator[](std::size_t row) const { return rows_[row]; }
  std::size_t rowCount() const { return rowCount_; }
  std::size_t colCount() const { return colCount_; }
  T* data() const { return block_.get(); }
  T* const* rowRefs() const { return rows_.get(); }

 private:
  template <class U>
  friend Table<U> allocTable(std::size_t rows, std::size_t cols);

  HeapBlock<T> block_;
  HeapBlock<T*> rows_;
  std::size_t rowCount_ = 0;
  std::size_t colCount_ = 0;
};

// Three-level triangular table: L layers of width W. One zero-filled block
// of L x T elements (T = W(W+1)/2), L x W row references and L layer
// references. Within a layer row 0 holds W elements, row 1 W-1, ..., row
// W-1 one. Made by allocTriangularTable; copies are deep.
template <class T>
class TriangularTable {
 public:
  TriangularTable() = default;
  TriangularTable(TriangularTable&&) noexcept = default;
  TriangularTable& operator=(TriangularTable&&) noexcept = default;
  TriangularTable(const TriangularTable& other);
  TriangularTable& operator=(const TriangularTable& other) {
    TriangularTable copy(other);
    *this = std::move(copy);
    return *this;
  }
  ~TriangularTable() = default;

  explicit operator bool() const { return layers_ != nullptr; }
  T* const* operator[](std::size_t layer) const { return layers_[layer]; }
  std::size_t layerCount() const { return layerCount_; }
  std::size_t width() const { return width_; }
  T* data() const { return block_.get(); }

 private:
  template <class U>
  friend TriangularTable<U> allocTriangularTable(std::size_t layers, std::size_t rows);

  HeapBlock<T> block_;
  HeapBlock<T*> rowRefs_;
  HeapBlock<T**> layers_;
  std::size_t layerCount_ = 0;
  std::size_t width_ = 0;
};

}  // namespace tavrin
