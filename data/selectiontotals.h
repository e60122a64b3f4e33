#pragma once
// Count, sum and average of the cells selected in a list window's grid,
// read from the rows the dataset holds: nothing goes to the server.
#include "common/vorelglobal.h"

#include <QItemSelection>
#include <QLocale>
#include <QString>

namespace vorel {

class TDataSetModel;

struct TSelectionTotals {
    qint64 Cells = 0;      // cells selected
    qint64 Numbers = 0;    // of them, numbers (NULL and text cells are not)
    double Sum = 0;
    bool Currency = false; // every number is shown as money
    double Average() const { return Numbers > 0 ? Sum / double(Numbers) : 0.0; }
    // "12 celdas  Suma: 1.234,50  Promedio: 102,88"; the sum and average
    // only when numbers were selected, in the grid's money format when all
    // of them are money.
    QString Text(const QLocale &locale = QLocale()) const;
};

// Every cell of `selection`, a cell that several ranges hold counted once.
VOREL_CORE_EXPORT TSelectionTotals SelectionTotals(const TDataSetModel &model, const QItemSelection &selection);

} // namespace vorel
