// The record grid of the list dialogs (the list initial load and initialise everything): every
// row of a query in a read-only string grid.
#pragma once

#include <QTableWidget>
#include <span>
#include <string_view>

#include "database/MDOQuery.h"

namespace fesko::dlg {

// The title row is the grid's header and counts as row 0; the records are rows 1 to n, and one
// empty row follows them.

struct GridColumn {
  std::u16string_view title;
  int width;
};

QTableWidget* MakeRecordGrid(QWidget* parent, const char* name, QRect geometry);
// Sets the column count to the number of titles and gives each column its title and width.
void TitulosGrilla(QTableWidget* grid, std::span<const GridColumn> columns);
// Blanks every row below the titles, leaves one and selects it.
void LimpiarGrilla(QTableWidget* grid);
// Opens the query if needed, reads all its rows, and writes one record per row from row 1 on,
// leaving one empty row after them.
void LlenarGrilla(QTableWidget* grid, db::TMDOQuery& query);
// The grid as rows counted with the title row, and the text of a cell (row 0 is the title).
int GridRowCount(const QTableWidget* grid);
QString GridCell(const QTableWidget* grid, int column, int row);

}  // namespace fesko::dlg
