// Allocation of the workspace's heap tables. Every table is one zero-filled
// block plus reference arrays. When memory runs out the allocators print
// what they could not get on standard output and end the process with
// exit status 1; they never return an empty table for a non-empty request.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tavrin/detail/workspace.h"

namespace tavrin {

// Writes `what` and the formatted detail on standard output, then ends the
// process with exit status 1: what running out of memory does to every
// numeric table and to the scratch of the fits.
[[noreturn]] void outOfMemory(const char* what, const char* detailFormat, ...)
    __attribute__((format(printf, 2, 3)));

// A zero-filled table of `rows` x `cols` elements.
template <class T>
Table<T> allocTable(std::size_t rows, std::size_t cols);

// A zero-filled triangular table of `layers` layers of width `rows`.
template <class T>
TriangularTable<T> allocTriangularTable(std::size_t layers, std::size_t rows);

template <class T>
void freeTable(Table<T>& table) {
  table = Table<T>();
}

template <class T>
void freeTriangularTable(TriangularTable<T>& table) {
  table = TriangularTable<T>();
}

// Releases coefTable, then obsTable; planMatrix is left alone.
void freeModelTables(NumericWorkspace& ws);

// A zero-filled obsTable of (objCount + 1) x (runCount + 1) cells; coefTable
// is left empty.
void allocObsTable(NumericWorkspace& ws);

}  // namespace tavrin
