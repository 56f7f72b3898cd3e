// What the record builders need of a result set: walk its rows and read each column of the
// current row as text. The query component implements it; the web layer reads through it, so
// neither layer knows the other.
#pragma once

#include <string_view>

namespace fesko {

class RowSource {
 public:
  virtual ~RowSource() = default;

  // Moves to the first row (re-reading the result set if the source must).
  virtual void First() = 0;
  // True when past the last row, or when the result set is empty.
  virtual bool Eof() = 0;
  virtual void Next() = 0;
  virtual int FieldCount() = 0;
  // The text of column `index` of the current row, as the column's rendering rules give it
  // (ANSI bytes; "" for NULL). Valid until the next call on this source.
  virtual std::string_view FieldText(int index) = 0;
};

}  // namespace fesko
