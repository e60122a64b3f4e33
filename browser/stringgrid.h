#pragma once
#include <QTableWidget>

namespace vorel {

// A grid of texts addressed as (column, row), as the dialogs' metadata rows
// are written: fixed rows at the top and fixed columns at the left are drawn
// as titles and cannot be edited; every cell may carry an attached text
// (the column name a row stands for). Headers are not used: titles are
// cells of the fixed rows and columns.
class TStringGrid : public QTableWidget
{
    Q_OBJECT
public:
    explicit TStringGrid(QWidget *parent = nullptr);

    int ColCount() const { return columnCount(); }
    void SetColCount(int n);
    int RowCount() const { return rowCount(); }
    void SetRowCount(int n);
    int FixedRows() const { return m_fixedRows; }
    void SetFixedRows(int n);
    int FixedCols() const { return m_fixedCols; }
    void SetFixedCols(int n);

    // Empty text outside the grid; writing outside the grid does nothing.
    QString Cells(int col, int row) const;
    void SetCells(int col, int row, const QString &text);
    // The text attached to a cell (empty when none).
    QString Objects(int col, int row) const;
    void SetObjects(int col, int row, const QString &text);

    int RowHeights(int row) const { return rowHeight(row); }
    void SetRowHeights(int row, int height);
    int ColWidths(int col) const { return columnWidth(col); }
    void SetColWidths(int col, int width);
    int DefaultColWidth() const { return m_defaultColWidth; }
    void SetDefaultColWidth(int width);
    int DefaultRowHeight() const { return m_defaultRowHeight; }
    void SetDefaultRowHeight(int height);
    // Cells outside the fixed rows and columns can be typed into.
    void SetEditable(bool on);

    // The current cell; -1 when none.
    int Col() const { return currentColumn(); }
    int Row() const { return currentRow(); }

private:
    void dressCell(int col, int row);
    int m_fixedRows = 0;
    int m_fixedCols = 0;
    int m_defaultColWidth = 64;
    int m_defaultRowHeight = 24;
    bool m_editable = false;
};

} // namespace vorel
