#include "browser/forden.h"

#include "runtime/imagelist.h"

#include <QAction>
#include <QApplication>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace vorel {

namespace {

const QString kDestinoHint = QStringLiteral("Orden, marca para descendente, sin marca ascendente");

QListWidgetItem *destinoItem(const QString &text, bool checked)
{
    auto *it = new QListWidgetItem(text);
    it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    it->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    return it;
}

QListWidgetItem *selectedItem(const QListWidget *list)
{
    QListWidgetItem *it = list->currentItem();
    return it && it->isSelected() ? it : nullptr;
}

QLabel *boldLabel(QWidget *owner, const char *name, const QString &text)
{
    auto *l = new QLabel(text, owner);
    l->setObjectName(QLatin1String(name));
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

} // namespace

TFOrden::TFOrden(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("FOrden"));
    resize(375, 360);

    Aceptar1 = new QAction(QStringLiteral("Aceptar"), this);
    Aceptar1->setObjectName(QStringLiteral("Aceptar1"));
    Aceptar1->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    Cancelar1 = new QAction(QStringLiteral("Cancelar"), this);
    Cancelar1->setObjectName(QStringLiteral("Cancelar1"));
    Cancelar1->setShortcut(QKeySequence(Qt::Key_Escape));

    mMenu = new QMenuBar(this);
    mMenu->setObjectName(QStringLiteral("mMenu"));
    Accion1 = mMenu->addMenu(QStringLiteral("Accion"));
    Accion1->setObjectName(QStringLiteral("Accion1"));
    Accion1->addAction(Aceptar1);
    Accion1->addAction(Cancelar1);
    addActions({Aceptar1, Cancelar1});

    ToolBar = new QToolBar(this);
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setMovable(false);
    ToolBar->setIconSize(QSize(16, 16));
    bAcepta = new QToolButton(ToolBar);
    bAcepta->setObjectName(QStringLiteral("bAcepta"));
    bAcepta->setDefaultAction(Aceptar1);
    bAcepta->setAutoRaise(true);
    bCancela = new QToolButton(ToolBar);
    bCancela->setObjectName(QStringLiteral("bCancela"));
    bCancela->setDefaultAction(Cancelar1);
    bCancela->setAutoRaise(true);
    ToolBar->addWidget(bAcepta);
    ToolBar->addWidget(bCancela);

    Label1 = boldLabel(this, "Label1", QStringLiteral("Campos"));
    Label2 = boldLabel(this, "Label2", QStringLiteral("Orden"));

    Fuente = new QListWidget(this);
    Fuente->setObjectName(QStringLiteral("Fuente"));
    Fuente->setFixedSize(121, 225);
    Fuente->setSortingEnabled(true);
    Fuente->setSelectionMode(QAbstractItemView::SingleSelection);

    Destino = new QListWidget(this);
    Destino->setObjectName(QStringLiteral("Destino"));
    Destino->setFixedSize(121, 225);
    Destino->setSelectionMode(QAbstractItemView::SingleSelection);
    // Reordering is this dialog's own drag with its own drop rule.
    Destino->setDragDropMode(QAbstractItemView::NoDragDrop);

    BFteDno = new QPushButton(QStringLiteral(">"), this);
    BFteDno->setObjectName(QStringLiteral("BFteDno"));
    BFteDno->setToolTip(QStringLiteral("Agregar"));
    BFteDno->setAutoDefault(false);
    BDnoFte = new QPushButton(QStringLiteral("<"), this);
    BDnoFte->setObjectName(QStringLiteral("BDnoFte"));
    BDnoFte->setToolTip(QStringLiteral("Quitar"));
    BDnoFte->setAutoDefault(false);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);

    auto *buttons = new QVBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BFteDno);
    buttons->addWidget(BDnoFte);
    buttons->addStretch(1);

    auto *lists = new QGridLayout;
    lists->setContentsMargins(8, 8, 8, 8);
    lists->addWidget(Label1, 0, 0);
    lists->addWidget(Label2, 0, 2);
    lists->addWidget(Fuente, 1, 0);
    lists->addLayout(buttons, 1, 1);
    lists->addWidget(Destino, 1, 2);
    lists->setRowStretch(2, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(mMenu);
    layout->addWidget(ToolBar);
    layout->addLayout(lists, 1);
    layout->addWidget(StatusBar1);

    connect(BFteDno, &QPushButton::clicked, this, &TFOrden::BFteDnoClick);
    connect(BDnoFte, &QPushButton::clicked, this, &TFOrden::BDnoFteClick);
    connect(Aceptar1, &QAction::triggered, this, &TFOrden::Aceptar1Click);
    connect(Cancelar1, &QAction::triggered, this, &TFOrden::Cancelar1Click);

    Fuente->installEventFilter(this);
    Destino->installEventFilter(this);
    Destino->viewport()->installEventFilter(this);
}

TFOrden::~TFOrden() = default;

void TFOrden::SetImages(TImageList *images)
{
    m_images = images;
    Aceptar1->setIcon(images ? images->Icon(12) : QIcon());
    Cancelar1->setIcon(images ? images->Icon(13) : QIcon());
}

QList<std::pair<QString, bool>> TFOrden::DestinoEntries() const
{
    QList<std::pair<QString, bool>> out;
    for (int i = 0; i < Destino->count(); ++i) {
        const QListWidgetItem *it = Destino->item(i);
        out.append({it->text(), it->checkState() == Qt::Checked});
    }
    return out;
}

void TFOrden::BFteDnoClick()
{
    QListWidgetItem *it = selectedItem(Fuente);
    if (!it)
        return;
    Destino->addItem(destinoItem(it->text(), false));
    delete Fuente->takeItem(Fuente->row(it));
    if (Fuente->count() > 0)
        Fuente->setCurrentRow(0);
}

void TFOrden::BDnoFteClick()
{
    QListWidgetItem *it = selectedItem(Destino);
    if (!it)
        return;
    Fuente->addItem(it->text()); // the sorted list puts it in place
    delete Destino->takeItem(Destino->row(it));
    if (Destino->count() > 0)
        Destino->setCurrentRow(0);
}

void TFOrden::DestinoxDragDrop(const QPoint &pos)
{
    QListWidgetItem *moved = selectedItem(Destino);
    if (!moved)
        return;
    const QString text = moved->text();
    const QModelIndex at = Destino->indexAt(pos);
    int index = at.isValid() ? at.row() : Destino->count();
    if (index == Destino->count())
        --index;
    delete Destino->takeItem(Destino->row(moved));
    Destino->insertItem(index, destinoItem(text, false));
    Destino->setCurrentRow(index);
    Destino->viewport()->update();
}

void TFOrden::DestinoEnter() { StatusBar1->showMessage(kDestinoHint); }

void TFOrden::FuenteEnter() { StatusBar1->clearMessage(); }

void TFOrden::Aceptar1Click()
{
    Accepted = true;
    accept();
}

void TFOrden::Cancelar1Click()
{
    Accepted = false;
    QDialog::reject();
}

void TFOrden::keyPressEvent(QKeyEvent *event)
{
    // Esc is "Cancelar"; QDialog's own reject would keep the last result.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        Cancelar1Click();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TFOrden::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == Destino)
            DestinoEnter();
        else if (watched == Fuente)
            FuenteEnter();
    }
    if (event->type() == QEvent::KeyPress && (watched == Fuente || watched == Destino))
        return listKey(static_cast<QListWidget *>(watched), static_cast<QKeyEvent *>(event));
    if (watched == Destino->viewport())
        return destinoMouse(event);
    return QDialog::eventFilter(watched, event);
}

// What the mouse does with the lists, from the keyboard: Enter takes a
// field into the order, Delete gives it back, Ctrl+Up and Ctrl+Down move it
// within the order (Space, the list's own key, turns descending on and off).
bool TFOrden::listKey(QListWidget *list, QKeyEvent *event)
{
    const int key = event->key();
    if (list == Fuente && (key == Qt::Key_Return || key == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        BFteDnoClick();
        return true;
    }
    if (list != Destino)
        return false;
    if ((key == Qt::Key_Delete || key == Qt::Key_Backspace) && event->modifiers() == Qt::NoModifier) {
        BDnoFteClick();
        return true;
    }
    if ((key == Qt::Key_Up || key == Qt::Key_Down) && event->modifiers() == Qt::ControlModifier) {
        const int from = Destino->currentRow();
        const int to = from + (key == Qt::Key_Up ? -1 : 1);
        if (from >= 0 && to >= 0 && to < Destino->count()) {
            Destino->insertItem(to, Destino->takeItem(from));
            Destino->setCurrentRow(to);
        }
        return true;
    }
    return false;
}

// A press on an entry arms the drag, a move past the system's threshold
// starts it, the release inside Destino is the drop. While armed the list
// must not see the moves, or it would move the selection under the mouse.
bool TFOrden::destinoMouse(QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *me = static_cast<QMouseEvent *>(event);
        m_dragging = false;
        m_pressed = me->button() == Qt::LeftButton && Destino->itemAt(me->position().toPoint()) != nullptr;
        m_pressPos = me->position().toPoint();
        return false;
    }
    case QEvent::MouseMove: {
        if (!m_pressed)
            return false;
        auto *me = static_cast<QMouseEvent *>(event);
        if (!m_dragging
            && (me->position().toPoint() - m_pressPos).manhattanLength() >= QApplication::startDragDistance()) {
            m_dragging = true;
            Destino->viewport()->setCursor(Qt::DragMoveCursor);
        }
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto *me = static_cast<QMouseEvent *>(event);
        if (me->button() != Qt::LeftButton || !m_pressed)
            return false;
        const bool dragged = m_dragging;
        m_pressed = false;
        m_dragging = false;
        if (!dragged)
            return false;
        Destino->viewport()->unsetCursor();
        if (Destino->viewport()->rect().contains(me->position().toPoint()))
            DestinoxDragDrop(me->position().toPoint());
        return true;
    }
    default:
        return false;
    }
}

TSortSnapshot TSortSnapshot::Take(const TFOrden &dialog)
{
    TSortSnapshot s;
    for (int i = 0; i < dialog.Fuente->count(); ++i)
        s.Fuente.append(dialog.Fuente->item(i)->text());
    s.Destino = dialog.DestinoEntries();
    return s;
}

void TSortSnapshot::Restore(TFOrden &dialog) const
{
    dialog.Fuente->clear();
    dialog.Destino->clear();
    for (const QString &text : Fuente)
        dialog.Fuente->addItem(text);
    for (const auto &[text, checked] : Destino)
        dialog.Destino->addItem(destinoItem(text, checked));
}

} // namespace vorel
