#include "browser/findbar.h"

#include "data/dataset.h"
#include "data/datasetmodel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QToolButton>

namespace vorel {

QModelIndex FindText(const QAbstractItemModel &model, const QString &text, const QModelIndex &from, bool forward)
{
    const int rows = model.rowCount();
    const int columns = model.columnCount();
    const qint64 cells = qint64(rows) * columns;
    if (text.isEmpty() || cells == 0)
        return {};
    // Cells numbered row by row; the search starts next to `from` and takes
    // `from` itself last, so a lone match is found again.
    const qint64 start = from.isValid() ? qint64(from.row()) * columns + from.column() : (forward ? -1 : cells);
    for (qint64 step = 1; step <= cells; ++step) {
        qint64 at = (forward ? start + step : start - step) % cells;
        if (at < 0)
            at += cells;
        const QModelIndex cell = model.index(int(at / columns), int(at % columns));
        if (cell.data(Qt::DisplayRole).toString().contains(text, Qt::CaseInsensitive))
            return cell;
    }
    return {};
}

namespace {

QToolButton *barButton(QWidget *parent, const char *name, const QString &text, const QString &hint)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setText(text);
    b->setToolTip(hint);
    b->setAccessibleName(hint);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::TabFocus);
    return b;
}

} // namespace

TFindBar::TFindBar(QTableView *grid, TDataSetModel *model, QWidget *parent)
    : QWidget(parent), m_grid(grid), m_model(model)
{
    setObjectName(QStringLiteral("FindBar"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    auto *label = new QLabel(QStringLiteral("&Buscar:"), this);
    Texto = new QLineEdit(this);
    Texto->setObjectName(QStringLiteral("Texto"));
    Texto->setAccessibleName(QStringLiteral("Buscar"));
    Texto->setClearButtonEnabled(true);
    label->setBuddy(Texto);
    bAnterior = barButton(this, "bAnterior", QStringLiteral("<"), QStringLiteral("Anterior (Mayús+Ctrl+G)"));
    bSiguiente = barButton(this, "bSiguiente", QStringLiteral(">"), QStringLiteral("Siguiente (Ctrl+G)"));
    Aviso = new QLabel(this);
    Aviso->setObjectName(QStringLiteral("Aviso"));
    Aviso->setTextFormat(Qt::PlainText);
    bResto = barButton(this, "bResto", QStringLiteral("Leer el resto"), QStringLiteral("Leer el resto de las filas"));
    bResto->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bResto->hide();
    bCierra = barButton(this, "bCierra", QStringLiteral("×"), QStringLiteral("Cerrar la búsqueda (Esc)"));
    layout->addWidget(label);
    layout->addWidget(Texto, 1);
    layout->addWidget(bAnterior);
    layout->addWidget(bSiguiente);
    layout->addWidget(Aviso, 2);
    layout->addWidget(bResto);
    layout->addWidget(bCierra);

    connect(Texto, &QLineEdit::returnPressed, this, [this] { Find(true); });
    connect(Texto, &QLineEdit::textChanged, this, [this] {
        Aviso->clear();
        bResto->hide();
    });
    connect(bAnterior, &QToolButton::clicked, this, [this] { Find(false); });
    connect(bSiguiente, &QToolButton::clicked, this, [this] { Find(true); });
    connect(bResto, &QToolButton::clicked, this, &TFindBar::FetchRestRequested);
    connect(bCierra, &QToolButton::clicked, this, [this] {
        hide();
        m_grid->setFocus();
    });
    hide();
}

void TFindBar::Open()
{
    show();
    Texto->setFocus();
    Texto->selectAll();
}

bool TFindBar::Find(bool forward)
{
    const QString text = Texto->text();
    bResto->hide();
    Aviso->clear();
    if (text.isEmpty())
        return false;
    const QModelIndex found = FindText(*m_model, text, m_grid->currentIndex(), forward);
    if (found.isValid()) {
        // The grid's own rule reads the modifiers still held: Ctrl of
        // Ctrl+G would toggle the match into the old selection, Shift of
        // Shift+Ctrl+G extend it. A match found is the only cell selected,
        // and where a Shift+arrow starts from, however it was asked for.
        const QAbstractItemView::SelectionMode mode = m_grid->selectionMode();
        m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
        m_grid->setCurrentIndex(found);
        m_grid->setSelectionMode(mode);
        m_grid->scrollTo(found);
        return true;
    }
    const TClientDataSet *data = m_model->DataSet();
    if (data && data->Active() && !data->AllFetched()) {
        Aviso->setText(QStringLiteral("No está en las %1 filas leídas").arg(m_model->rowCount()));
        bResto->show();
    } else {
        Aviso->setText(QStringLiteral("No se encuentra"));
    }
    return false;
}

void TFindBar::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        bCierra->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace vorel
