#include "dialogs/RecordGrid.h"

#include <QHeaderView>

#include "dialogs/DialogConvention.h"

namespace fesko::dlg {
namespace {

constexpr int kRowHeight = 16;

}  // namespace

QTableWidget* MakeRecordGrid(QWidget* parent, const char* name, QRect geometry) {
  auto* grid = new QTableWidget(parent);
  grid->setObjectName(QString::fromLatin1(name));
  grid->setGeometry(geometry);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Tab leaves the grid for the next control instead of walking its cells.
  grid->setTabKeyNavigation(false);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
  grid->setShowGrid(true);
  grid->setWordWrap(false);
  grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid->verticalHeader()->hide();
  grid->verticalHeader()->setMinimumSectionSize(kRowHeight);
  grid->verticalHeader()->setDefaultSectionSize(kRowHeight);
  grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid->horizontalHeader()->setHighlightSections(false);
  grid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  grid->horizontalHeader()->setSectionsClickable(false);
  return grid;
}

void TitulosGrilla(QTableWidget* grid, std::span<const GridColumn> columns) {
  grid->setColumnCount(static_cast<int>(columns.size()));
  for (int c = 0; c < grid->columnCount(); ++c) {
    grid->setHorizontalHeaderItem(c, new QTableWidgetItem(ToQString(columns[c].title)));
    grid->setColumnWidth(c, columns[c].width);
  }
}

void LimpiarGrilla(QTableWidget* grid) {
  grid->clearContents();
  grid->setRowCount(1);
  grid->selectRow(0);
}

void LlenarGrilla(QTableWidget* grid, db::TMDOQuery& query) {
  if (!query.Active()) query.Open();
  query.FetchAll();
  int records = query.RecordCount();
  grid->setUpdatesEnabled(false);
  grid->setRowCount(records + 1);  // the title row is the header
  for (int c = 0; c < grid->columnCount(); ++c) grid->setItem(records, c, nullptr);
  int columns = query.FieldCount();
  grid->setColumnCount(columns);
  int row = 0;
  for (query.First(); !query.Eof(); query.Next(), ++row) {
    for (int c = 0; c < columns; ++c) {
      grid->setItem(row, c, new QTableWidgetItem(FromAnsi(query.FieldText(c))));
    }
  }
  grid->setUpdatesEnabled(true);
}

int GridRowCount(const QTableWidget* grid) {
  return grid->rowCount() + 1;
}

QString GridCell(const QTableWidget* grid, int column, int row) {
  const QTableWidgetItem* item =
      row == 0 ? grid->horizontalHeaderItem(column) : grid->item(row - 1, column);
  return item ? item->text() : QString();
}

}  // namespace fesko::dlg
