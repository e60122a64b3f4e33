#include "browser/festad.h"

#include "browser/stringgrid.h"

#include <QLabel>
#include <QVBoxLayout>

namespace vorel {

TFEstad::TFEstad(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("FEstad"));
    resize(675, 489);

    strGrid = new TStringGrid(this);
    strGrid->setObjectName(QStringLiteral("strGrid"));
    strGrid->SetColCount(5);
    strGrid->SetRowCount(2);
    strGrid->SetFixedRows(1);
    strGrid->SetFixedCols(1);

    Pan = new QLabel(this);
    Pan->setObjectName(QStringLiteral("Pan"));
    Pan->setFixedHeight(31);
    Pan->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Pan->setAlignment(Qt::AlignCenter);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(strGrid, 1);
    layout->addWidget(Pan);

    FormCreate();
}

TFEstad::~TFEstad() = default;

void TFEstad::FormCreate()
{
    strGrid->SetCells(1, 0, QStringLiteral("Suma"));
    strGrid->SetCells(2, 0, QStringLiteral("Máximo"));
    strGrid->SetCells(3, 0, QStringLiteral("Mínimo"));
    strGrid->SetCells(4, 0, QStringLiteral("Promedio"));
}

} // namespace vorel
