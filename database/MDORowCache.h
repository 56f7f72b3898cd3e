// The rows an open query has fetched, kept in fetch order: one cell per field, grown by a chunk
// of rows at a time, with the bytes of texts in an arena of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "database/MDOSQL.h"

namespace fesko::db {

// One cached value. Texts point into the cache's arena; blobs hold their identifier.
struct Cell {
  union {
    int64_t integer;
    double real;
    const char* bytes;
    ISC_QUAD blob;
    ISC_DATE date;
    ISC_TIME time;
    ISC_TIMESTAMP stamp;
  };
  uint32_t length;
  uint32_t null;
};

// Where a field's value stands in the fetched row, and whether a whole number with more than
// four decimals is to be kept as floating point.
struct CachedColumn {
  int column;
  int scale;
  bool as_float;
};

class RowCache {
 public:
  // Empties the cache for rows of `width` fields, grown by `chunk_rows` rows at a time.
  void Reset(std::size_t width, int chunk_rows);
  // Empties the cache and gives its memory back.
  void Clear() noexcept;
  // Copies the row a fetch wrote through `row` into a new last row.
  void Store(const SqlDescriptor& row, const std::vector<CachedColumn>& columns);
  std::size_t Count() const { return count_; }
  const Cell& At(std::size_t row, std::size_t field) const {
    return chunks_[row / chunk_rows_][(row % chunk_rows_) * width_ + field];
  }

 private:
  char* ArenaCopy(const char* data, std::size_t length);

  std::size_t width_ = 0;
  std::size_t chunk_rows_ = 1;
  std::size_t count_ = 0;
  std::vector<std::unique_ptr<Cell[]>> chunks_;
  std::vector<std::unique_ptr<char[]>> arena_;
  std::size_t arena_used_ = 0;
  std::size_t arena_size_ = 0;
};

}  // namespace fesko::db
