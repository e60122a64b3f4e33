#include "browser/stringgrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QPalette>

namespace vorel {

namespace {

constexpr int kObjectRole = Qt::UserRole + 1;

} // namespace

TStringGrid::TStringGrid(QWidget *parent) : QTableWidget(parent)
{
    horizontalHeader()->hide();
    verticalHeader()->hide();
    // A spare row is shrunk to a line; the header must let a section be
    // that small.
    verticalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setDefaultSectionSize(m_defaultColWidth);
    verticalHeader()->setDefaultSectionSize(m_defaultRowHeight);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(true);
    setWordWrap(false);
    SetEditable(false);
}

void TStringGrid::SetColCount(int n)
{
    const int before = columnCount();
    setColumnCount(qMax(0, n));
    for (int c = before; c < columnCount(); ++c) {
        setColumnWidth(c, m_defaultColWidth);
        for (int r = 0; r < rowCount(); ++r)
            dressCell(c, r);
    }
}

void TStringGrid::SetRowCount(int n)
{
    const int before = rowCount();
    setRowCount(qMax(0, n));
    for (int r = before; r < rowCount(); ++r) {
        setRowHeight(r, m_defaultRowHeight);
        for (int c = 0; c < columnCount(); ++c)
            dressCell(c, r);
    }
}

void TStringGrid::SetFixedRows(int n)
{
    m_fixedRows = qMax(0, n);
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c)
            dressCell(c, r);
}

void TStringGrid::SetFixedCols(int n)
{
    m_fixedCols = qMax(0, n);
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c)
            dressCell(c, r);
}

QString TStringGrid::Cells(int col, int row) const
{
    const QTableWidgetItem *it = item(row, col);
    return it ? it->text() : QString();
}

void TStringGrid::SetCells(int col, int row, const QString &text)
{
    if (col < 0 || row < 0 || col >= columnCount() || row >= rowCount())
        return;
    dressCell(col, row);
    item(row, col)->setText(text);
}

QString TStringGrid::Objects(int col, int row) const
{
    const QTableWidgetItem *it = item(row, col);
    return it ? it->data(kObjectRole).toString() : QString();
}

void TStringGrid::SetObjects(int col, int row, const QString &text)
{
    if (col < 0 || row < 0 || col >= columnCount() || row >= rowCount())
        return;
    dressCell(col, row);
    item(row, col)->setData(kObjectRole, text);
}

void TStringGrid::SetRowHeights(int row, int height)
{
    if (row >= 0 && row < rowCount())
        setRowHeight(row, qMax(1, height));
}

void TStringGrid::SetColWidths(int col, int width)
{
    if (col >= 0 && col < columnCount())
        setColumnWidth(col, qMax(1, width));
}

void TStringGrid::SetDefaultColWidth(int width)
{
    m_defaultColWidth = qMax(1, width);
    horizontalHeader()->setDefaultSectionSize(m_defaultColWidth);
}

void TStringGrid::SetDefaultRowHeight(int height)
{
    m_defaultRowHeight = qMax(1, height);
    verticalHeader()->setDefaultSectionSize(m_defaultRowHeight);
}

void TStringGrid::SetEditable(bool on)
{
    m_editable = on;
    setEditTriggers(on ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                             | QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked
                       : QAbstractItemView::NoEditTriggers);
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c)
            dressCell(c, r);
}

// Every cell has an item: an empty cell without one would take the model's
// default flags and be editable even in a fixed row or column.
void TStringGrid::dressCell(int col, int row)
{
    QTableWidgetItem *it = item(row, col);
    if (!it) {
        it = new QTableWidgetItem;
        setItem(row, col, it);
    }
    const bool fixed = row < m_fixedRows || col < m_fixedCols;
    if (fixed) {
        it->setFlags(Qt::ItemIsEnabled);
        it->setBackground(palette().brush(QPalette::Button));
        it->setForeground(palette().brush(QPalette::ButtonText));
    } else {
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (m_editable)
            flags |= Qt::ItemIsEditable;
        it->setFlags(flags);
        it->setData(Qt::BackgroundRole, QVariant());
        it->setData(Qt::ForegroundRole, QVariant());
    }
}

} // namespace vorel
