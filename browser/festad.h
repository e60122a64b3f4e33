#pragma once
#include <QDialog>

class QLabel;

namespace vorel {

class TStringGrid;

// The statistics dialog: one row per column configured for statistics
// (label in column 0, carrying the upper-case column name), then sum,
// maximum, minimum and average; the row count at the bottom.
class TFEstad : public QDialog
{
    Q_OBJECT
public:
    explicit TFEstad(QWidget *owner = nullptr);
    ~TFEstad() override;

    TStringGrid *strGrid; // 5 columns, row 0 and column 0 fixed, 2 rows at first
    QLabel *Pan;          // "N Registros"

    // Titles of row 0: "", "Suma", "Máximo", "Mínimo", "Promedio".
    void FormCreate();
};

} // namespace vorel
