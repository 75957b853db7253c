// A dense matrix of doubles in row-major order: the plain value that the
// study layer passes between its stages (points, results, model matrices).
#pragma once

#include <cassert>
#include <cstddef>
#include <initializer_list>
#include <vector>

namespace tavrin {

class Matrix {
 public:
  Matrix() = default;
  Matrix(std::size_t rows, std::size_t cols, double fill = 0.0) : rows_(rows), cols_(cols), data_(rows * cols, fill) {}
  // Rows given as lists; every row must have the same length.
  Matrix(std::initializer_list<std::initializer_list<double>> rows);

  std::size_t rows() const noexcept { return rows_; }
  std::size_t cols() const noexcept { return cols_; }
  bool empty() const noexcept { return data_.empty(); }

  double& operator()(std::size_t r, std::size_t c) noexcept {
    assert(r < rows_ && c < cols_);
    return data_[r * cols_ + c];
  }
  double operator()(std::size_t r, std::size_t c) const noexcept {
    assert(r < rows_ && c < cols_);
    return data_[r * cols_ + c];
  }
  double* row(std::size_t r) noexcept { return data_.data() + r * cols_; }
  const double* row(std::size_t r) const noexcept { return data_.data() + r * cols_; }
  double* data() noexcept { return data_.data(); }
  const double* data() const noexcept { return data_.data(); }

  // Equal shapes and equal values; NaN equals NaN here, so a matrix with
  // missing entries compares equal to its copy.
  friend bool operator==(const Matrix& a, const Matrix& b) noexcept;

 private:
  std::size_t rows_ = 0;
  std::size_t cols_ = 0;
  std::vector<double> data_;
};

inline Matrix::Matrix(std::initializer_list<std::initializer_list<double>> rows)
    : rows_(rows.size()), cols_(rows.size() == 0 ? 0 : rows.begin()->size()) {
  data_.reserve(rows_ * cols_);
  for (const auto& r : rows) {
    assert(r.size() == cols_);
    data_.insert(data_.end(), r.begin(), r.end());
  }
}

inline bool operator==(const Matrix& a, const Matrix& b) noexcept {
  if (a.rows_ != b.rows_ || a.cols_ != b.cols_) return false;
  for (std::size_t k = 0; k < a.data_.size(); ++k) {
    const double x = a.data_[k];
    const double y = b.data_[k];
    if (!(x == y) && !(x != x && y != y)) return false;
  }
  return true;
}

}  // namespace tavrin
