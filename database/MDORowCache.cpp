#include "database/MDORowCache.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace fesko::db {
namespace {

// What empty texts point at.
constexpr char kEmpty[] = "";
constexpr std::size_t kArenaBlock = 64 * 1024;

}  // namespace

void RowCache::Reset(std::size_t width, int chunk_rows) {
  Clear();
  width_ = width;
  chunk_rows_ = static_cast<std::size_t>(std::max(1, chunk_rows));
}

void RowCache::Clear() noexcept {
  chunks_.clear();
  arena_.clear();
  arena_used_ = arena_size_ = 0;
  count_ = 0;
}

char* RowCache::ArenaCopy(const char* data, std::size_t length) {
  if (length == 0) return const_cast<char*>(kEmpty);
  if (arena_used_ + length > arena_size_) {
    arena_size_ = std::max(kArenaBlock, length);
    arena_.push_back(std::make_unique_for_overwrite<char[]>(arena_size_));
    arena_used_ = 0;
  }
  char* target = arena_.back().get() + arena_used_;
  std::memcpy(target, data, length);
  arena_used_ += length;
  return target;
}

void RowCache::Store(const SqlDescriptor& fetched, const std::vector<CachedColumn>& columns) {
  if (count_ / chunk_rows_ == chunks_.size()) {
    chunks_.push_back(
        std::make_unique_for_overwrite<Cell[]>(chunk_rows_ * std::max<std::size_t>(width_, 1)));
  }
  Cell* row = chunks_[count_ / chunk_rows_].get() + (count_ % chunk_rows_) * width_;
  for (std::size_t f = 0; f < width_; ++f) {
    const CachedColumn& column = columns[f];
    const XSQLVAR& var = fetched[column.column];
    Cell& cell = row[f];
    cell.length = 0;
    cell.null = (var.sqltype & 1) && *var.sqlind == -1;
    if (cell.null) {
      cell.integer = 0;
      continue;
    }
    const char* data = var.sqldata;
    switch (var.sqltype & ~1) {
      case SQL_TEXT:
        cell.bytes = ArenaCopy(data, static_cast<std::size_t>(var.sqllen));
        cell.length = static_cast<uint32_t>(var.sqllen);
        break;
      case SQL_VARYING: {
        // The descriptor holds the length in the machine's own byte order.
        ISC_USHORT length;
        std::memcpy(&length, data, sizeof length);
        cell.bytes = ArenaCopy(data + 2, length);
        cell.length = length;
        break;
      }
      case SQL_SHORT: {
        int16_t value;
        std::memcpy(&value, data, sizeof value);
        cell.integer = value;
        break;
      }
      case SQL_LONG: {
        int32_t value;
        std::memcpy(&value, data, sizeof value);
        cell.integer = value;
        break;
      }
      case SQL_INT64:
        std::memcpy(&cell.integer, data, sizeof cell.integer);
        break;
      case SQL_FLOAT: {
        float value;
        std::memcpy(&value, data, sizeof value);
        cell.real = value;
        break;
      }
      case SQL_DOUBLE:
        std::memcpy(&cell.real, data, sizeof cell.real);
        break;
      case SQL_TYPE_DATE:
        std::memcpy(&cell.date, data, sizeof cell.date);
        break;
      case SQL_TYPE_TIME:
        std::memcpy(&cell.time, data, sizeof cell.time);
        break;
      case SQL_TIMESTAMP:
        std::memcpy(&cell.stamp, data, sizeof cell.stamp);
        break;
      case SQL_BLOB:
        std::memcpy(&cell.blob, data, sizeof cell.blob);
        break;
    }
    if (column.as_float)
      cell.real = static_cast<double>(cell.integer) * std::pow(10.0, column.scale);
  }
  ++count_;
}

}  // namespace fesko::db
