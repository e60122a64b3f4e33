#include "browser/fselec.h"

#include "browser/stringgrid.h"
#include "runtime/imagelist.h"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace vorel {

namespace {

QAction *makeAction(QObject *owner, const char *name, const QString &caption, const QString &hint,
                    const QList<QKeySequence> &keys)
{
    auto *a = new QAction(caption, owner);
    a->setObjectName(QLatin1String(name));
    if (!hint.isEmpty()) {
        a->setToolTip(hint);
        a->setStatusTip(hint);
    }
    a->setShortcuts(keys);
    a->setShortcutContext(Qt::WindowShortcut);
    return a;
}

QToolButton *makeToolButton(QWidget *owner, const char *name, QAction *action)
{
    auto *b = new QToolButton(owner);
    b->setObjectName(QLatin1String(name));
    b->setDefaultAction(action);
    b->setAutoRaise(true);
    return b;
}

// Hands the text of an open cell editor to the grid, so what the user sees
// typed is what the caller reads.
void commitOpenEditor(TStringGrid *grid)
{
    const QModelIndex index = grid->currentIndex();
    if (QWidget *editor = grid->indexWidget(index)) {
        QMetaObject::invokeMethod(grid, "commitData", Qt::DirectConnection, Q_ARG(QWidget *, editor));
        QMetaObject::invokeMethod(grid, "closeEditor", Qt::DirectConnection, Q_ARG(QWidget *, editor),
                                  Q_ARG(QAbstractItemDelegate::EndEditHint, QAbstractItemDelegate::NoHint));
    }
}

void copyValueColumns(const TStringGrid *from, TStringGrid *to)
{
    for (int c = 1; c < from->ColCount() && c < to->ColCount(); ++c)
        for (int r = 0; r < from->RowCount() && r < to->RowCount(); ++r)
            to->SetCells(c, r, from->Cells(c, r));
}

} // namespace

TFSelec::TFSelec(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("FSelec"));
    resize(696, 480);

    Acepta1 = makeAction(this, "Acepta1", QStringLiteral("Acepta"), QStringLiteral("Acepta"),
                         {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    Cancela1 = makeAction(this, "Cancela1", QStringLiteral("Cancela"), QStringLiteral("Cancela"),
                          {QKeySequence(Qt::Key_Escape)});
    Agrega1 = makeAction(this, "Agrega1", QStringLiteral("Agrega"), QStringLiteral("Inserta"),
                         {QKeySequence(Qt::CTRL | Qt::Key_Insert)});
    Elimina1 = makeAction(this, "Elimina1", QStringLiteral("Elimina"), QStringLiteral("Elimina"),
                          {QKeySequence(Qt::CTRL | Qt::Key_Delete)});
    Limpia1 = makeAction(this, "Limpia1", QStringLiteral("Limpia"), QString(), {QKeySequence(Qt::CTRL | Qt::Key_L)});

    mmenu = new QMenuBar(this);
    mmenu->setObjectName(QStringLiteral("mmenu"));
    Accion1 = mmenu->addMenu(QStringLiteral("Accion"));
    Accion1->setObjectName(QStringLiteral("Accion1"));
    Accion1->addAction(Acepta1);
    Accion1->addAction(Cancela1);
    N1 = Accion1->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    Accion1->addAction(Agrega1);
    Accion1->addAction(Elimina1);
    Accion1->addAction(Limpia1);
    // The keys work wherever the focus is in the dialog, menu open or not.
    addActions({Acepta1, Cancela1, Agrega1, Elimina1, Limpia1});

    ToolBar = new QToolBar(this);
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setMovable(false);
    ToolBar->setIconSize(QSize(16, 16));
    bAcepta = makeToolButton(ToolBar, "bAcepta", Acepta1);
    bCancela = makeToolButton(ToolBar, "bCancela", Cancela1);
    bInserta = makeToolButton(ToolBar, "bInserta", Agrega1);
    bBorra = makeToolButton(ToolBar, "bBorra", Elimina1);
    ToolBar->addWidget(bAcepta);
    ToolBar->addWidget(bCancela);
    ToolButton3 = ToolBar->addSeparator();
    ToolButton3->setObjectName(QStringLiteral("ToolButton3"));
    ToolBar->addWidget(bInserta);
    ToolBar->addWidget(bBorra);

    SGSele = new TStringGrid(this);
    SGSele->setObjectName(QStringLiteral("SGSele"));
    SGSele->SetDefaultColWidth(128);
    SGSele->SetDefaultRowHeight(24);
    SGSele->SetColCount(2);
    SGSele->SetRowCount(1);
    SGSele->SetFixedRows(0);
    SGSele->SetFixedCols(1);
    SGSele->SetEditable(true);
    SGSele->horizontalHeader()->setSectionsMovable(true);
    SGSele->verticalHeader()->setSectionsMovable(true);

    SgBk = new TStringGrid(this);
    SgBk->setObjectName(QStringLiteral("SgBk"));
    SgBk->SetColCount(2);
    SgBk->SetRowCount(5);
    SgBk->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(mmenu);
    layout->addWidget(ToolBar);
    layout->addWidget(SGSele, 1);

    connect(Acepta1, &QAction::triggered, this, &TFSelec::Acepta1Click);
    connect(Cancela1, &QAction::triggered, this, &TFSelec::Cancela1Click);
    connect(Agrega1, &QAction::triggered, this, &TFSelec::Agrega1Click);
    connect(Elimina1, &QAction::triggered, this, &TFSelec::Elimina1Click);
    connect(Limpia1, &QAction::triggered, this, &TFSelec::Limpia1Click);
}

TFSelec::~TFSelec() = default;

void TFSelec::SetImages(TImageList *images)
{
    m_images = images;
    const auto icon = [&](int index) { return images ? images->Icon(index) : QIcon(); };
    Acepta1->setIcon(icon(12));
    Cancela1->setIcon(icon(13));
    Agrega1->setIcon(icon(1));
    Elimina1->setIcon(icon(3));
}

void TFSelec::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFSelec::keyPressEvent(QKeyEvent *event)
{
    // QDialog would reject on Esc without putting the grid back.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        Cancela1Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFSelec::closeEvent(QCloseEvent *event)
{
    // The close box keeps what was typed, the open cell included.
    commitOpenEditor(SGSele);
    QDialog::closeEvent(event);
}

void TFSelec::FormShow()
{
    Accepted = false;
    SgBk->SetColCount(SGSele->ColCount());
    // Every row is kept, however many the list window gave the grid.
    SgBk->SetRowCount(SGSele->RowCount());
    copyValueColumns(SGSele, SgBk);
}

void TFSelec::Acepta1Click()
{
    commitOpenEditor(SGSele);
    Accepted = true;
    accept();
}

void TFSelec::Cancela1Click()
{
    Accepted = false;
    // What is being typed is dropped with the rest.
    if (QWidget *editor = SGSele->indexWidget(SGSele->currentIndex()))
        QMetaObject::invokeMethod(SGSele, "closeEditor", Qt::DirectConnection, Q_ARG(QWidget *, editor),
                                  Q_ARG(QAbstractItemDelegate::EndEditHint, QAbstractItemDelegate::RevertModelCache));
    SGSele->SetColCount(SgBk->ColCount());
    copyValueColumns(SgBk, SGSele);
    QDialog::reject();
}

void TFSelec::Agrega1Click() { SGSele->SetColCount(SGSele->ColCount() + 1); }

void TFSelec::Elimina1Click()
{
    if (SGSele->ColCount() > 2)
        SGSele->SetColCount(SGSele->ColCount() - 1);
}

void TFSelec::Limpia1Click()
{
    const int col = SGSele->Col();
    // The label column is not the user's to empty.
    if (col < SGSele->FixedCols() || col >= SGSele->ColCount())
        return;
    commitOpenEditor(SGSele);
    for (int r = 0; r < SGSele->RowCount(); ++r)
        SGSele->SetCells(col, r, QString());
}

} // namespace vorel
