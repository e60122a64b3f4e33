#include "browser/festad.h"
#include "browser/forden.h"
#include "browser/fselec.h"
#include "browser/stringgrid.h"
#include "browser/walkprogress.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

using namespace vorel;

namespace {

QStringList column(const TStringGrid *g, int col)
{
    QStringList out;
    for (int r = 0; r < g->RowCount(); ++r)
        out << g->Cells(col, r);
    return out;
}

// The grid the list window builds: labels carrying column names.
void fillRows(TFSelec &d, int rows)
{
    d.SGSele->SetRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        d.SGSele->SetCells(0, r, QStringLiteral("Etiqueta %1").arg(r));
        d.SGSele->SetObjects(0, r, QStringLiteral("COL%1").arg(r));
    }
}

void showActive(QWidget *w)
{
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
}

QStringList items(const QListWidget *l)
{
    QStringList out;
    for (int i = 0; i < l->count(); ++i)
        out << l->item(i)->text();
    return out;
}

using Entries = QList<std::pair<QString, bool>>;

void fillOrden(TFOrden &d, const QStringList &fuente, const Entries &destino)
{
    d.Fuente->clear();
    d.Destino->clear();
    for (const QString &t : fuente)
        d.Fuente->addItem(t);
    TSortSnapshot s;
    s.Fuente = items(d.Fuente);
    s.Destino = destino;
    s.Restore(d);
}

QPoint centreOf(QListWidget *l, int row) { return l->visualItemRect(l->item(row)).center(); }

} // namespace

class TstDialogs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stringGridCells();
    void selecAddRemoveClear();
    void selecCancelRestoresEverything();
    void selecCloseBoxKeepsEdits();
    void selecKeys();
    void selecAcceptCommitsOpenEditor();
    void ordenMovesBothWays();
    void ordenDropRule();
    void ordenMouseDrag();
    void ordenKeyboard_data();
    void ordenKeyboard();
    void ordenStatusTexts();
    void ordenAcceptedAndSnapshot();
    void estadLayout();
    void walkProgress();
};

void TstDialogs::stringGridCells()
{
    TStringGrid g;
    g.SetDefaultColWidth(77);
    g.SetDefaultRowHeight(21);
    g.SetColCount(3);
    g.SetRowCount(3);
    g.SetFixedRows(1);
    g.SetFixedCols(1);
    g.SetEditable(true);
    QCOMPARE(g.ColWidths(2), 77);
    QCOMPARE(g.RowHeights(2), 21);

    g.SetCells(0, 1, QStringLiteral("Precio"));
    g.SetObjects(0, 1, QStringLiteral("PRECIO"));
    QCOMPARE(g.Cells(0, 1), QStringLiteral("Precio"));
    QCOMPARE(g.Objects(0, 1), QStringLiteral("PRECIO"));
    QCOMPARE(g.Objects(1, 1), QString());
    g.SetCells(9, 9, QStringLiteral("x")); // outside: ignored
    QCOMPARE(g.ColCount(), 3);

    // Titles are not typed into, values are; new cells follow the rule too.
    g.SetColCount(4);
    g.SetRowCount(4);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            const bool fixed = r == 0 || c == 0;
            const Qt::ItemFlags f = g.item(r, c)->flags();
            QCOMPARE(bool(f & Qt::ItemIsEditable), !fixed);
            QCOMPARE(bool(f & Qt::ItemIsSelectable), !fixed);
        }
    QCOMPARE(g.ColWidths(3), 77);
    g.SetEditable(false);
    QVERIFY(!(g.item(2, 2)->flags() & Qt::ItemIsEditable));

    // A spare row shrunk to a line really is one pixel high.
    g.SetRowHeights(3, 1);
    g.resize(400, 300);
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    QCOMPARE(g.RowHeights(3), 1);
    QCOMPARE(g.verticalHeader()->length(), 3 * 21 + 1);
    QCOMPARE(g.rowAt(g.rowViewportPosition(3)), 3);
}

void TstDialogs::selecAddRemoveClear()
{
    TFSelec d;
    fillRows(d, 3);
    d.Elimina1Click(); // one value column always remains
    QCOMPARE(d.SGSele->ColCount(), 2);
    d.Agrega1Click();
    d.Agrega1Click();
    QCOMPARE(d.SGSele->ColCount(), 4);
    QCOMPARE(d.SGSele->ColWidths(3), 128);
    QVERIFY(d.SGSele->item(2, 3)->flags() & Qt::ItemIsEditable);
    d.SGSele->SetCells(3, 1, QStringLiteral("perdido"));
    d.Elimina1Click();
    QCOMPARE(d.SGSele->ColCount(), 3);
    d.Agrega1Click();
    QCOMPARE(d.SGSele->Cells(3, 1), QString()); // a removed column takes its values along

    d.SGSele->SetCells(1, 0, QStringLiteral("a"));
    d.SGSele->SetCells(1, 2, QStringLiteral("b"));
    d.SGSele->SetCells(2, 0, QStringLiteral("c"));
    d.SGSele->setCurrentCell(1, 1);
    d.Limpia1Click();
    QCOMPARE(column(d.SGSele, 1), QStringList(3, QString()));
    QCOMPARE(d.SGSele->Cells(2, 0), QStringLiteral("c"));
    // The labels are never emptied.
    d.SGSele->setCurrentCell(0, 0);
    d.Limpia1Click();
    QCOMPARE(d.SGSele->Cells(0, 0), QStringLiteral("Etiqueta 0"));
}

void TstDialogs::selecCancelRestoresEverything()
{
    TFSelec d;
    fillRows(d, 8); // more rows than the backup grid starts with
    d.SGSele->SetCells(1, 0, QStringLiteral("uno"));
    d.SGSele->SetCells(1, 7, QStringLiteral("ocho"));
    showActive(&d);
    QVERIFY(!d.Accepted);

    d.Agrega1Click();
    d.Agrega1Click();
    d.SGSele->SetCells(1, 7, QStringLiteral("cambiado"));
    d.SGSele->SetCells(2, 3, QStringLiteral("nuevo"));
    d.SGSele->SetCells(3, 6, QStringLiteral("nuevo"));
    d.Cancela1Click();
    QVERIFY(!d.Accepted);
    QVERIFY(!d.isVisible());
    QCOMPARE(d.SGSele->ColCount(), 2);
    QStringList expected(8, QString());
    expected[0] = QStringLiteral("uno");
    expected[7] = QStringLiteral("ocho");
    QCOMPARE(column(d.SGSele, 1), expected);
    QCOMPARE(d.SGSele->Cells(0, 7), QStringLiteral("Etiqueta 7"));
    QCOMPARE(d.SGSele->Objects(0, 7), QStringLiteral("COL7"));

    // Shown again, the dialog backs up what it now holds.
    d.Agrega1Click();
    d.SGSele->SetCells(2, 2, QStringLiteral("aceptado"));
    showActive(&d);
    d.Acepta1Click();
    QVERIFY(d.Accepted);
    showActive(&d);
    QVERIFY(!d.Accepted);
    d.Elimina1Click();
    d.Cancela1Click();
    QCOMPARE(d.SGSele->ColCount(), 3);
    QCOMPARE(d.SGSele->Cells(2, 2), QStringLiteral("aceptado"));
}

void TstDialogs::selecCloseBoxKeepsEdits()
{
    TFSelec d;
    fillRows(d, 2);
    showActive(&d);
    d.Agrega1Click();
    d.SGSele->SetCells(2, 1, QStringLiteral("queda"));
    QVERIFY(d.close());
    QVERIFY(!d.Accepted);
    QCOMPARE(d.SGSele->ColCount(), 3);
    QCOMPARE(d.SGSele->Cells(2, 1), QStringLiteral("queda"));
}

void TstDialogs::selecKeys()
{
    TFSelec d;
    fillRows(d, 2);
    d.SGSele->SetCells(1, 0, QStringLiteral("antes"));
    showActive(&d);
    d.SGSele->setFocus();
    d.SGSele->setCurrentCell(0, 1);

    QTest::keyClick(&d, Qt::Key_Insert, Qt::ControlModifier);
    QCOMPARE(d.SGSele->ColCount(), 3);
    QTest::keyClick(d.SGSele, Qt::Key_Insert, Qt::ControlModifier);
    QCOMPARE(d.SGSele->ColCount(), 4);
    QTest::keyClick(&d, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(d.SGSele->ColCount(), 3);
    d.SGSele->SetCells(1, 1, QStringLiteral("x"));
    QTest::keyClick(&d, Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(column(d.SGSele, 1), QStringList(2, QString()));

    // Esc is Cancela: the grid goes back, the dialog closes.
    QTest::keyClick(d.SGSele, Qt::Key_Escape);
    QVERIFY(!d.isVisible());
    QVERIFY(!d.Accepted);
    QCOMPARE(d.SGSele->ColCount(), 2);
    QCOMPARE(d.SGSele->Cells(1, 0), QStringLiteral("antes"));

    showActive(&d);
    QTest::keyClick(&d, Qt::Key_Return, Qt::ControlModifier);
    QVERIFY(d.Accepted);
    QVERIFY(!d.isVisible());

    showActive(&d);
    QTest::keyClick(&d, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    QVERIFY(d.Accepted);
    QVERIFY(!d.isVisible());
}

void TstDialogs::selecAcceptCommitsOpenEditor()
{
    TFSelec d;
    fillRows(d, 2);
    showActive(&d);
    d.SGSele->setFocus();
    d.SGSele->setCurrentCell(1, 1);
    d.SGSele->editItem(d.SGSele->item(1, 1));
    auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
    QVERIFY(editor);
    QTest::keyClicks(editor, QStringLiteral("Perez"));
    QCOMPARE(d.SGSele->Cells(1, 1), QString()); // still in the editor
    QTest::keyClick(editor, Qt::Key_Return, Qt::ControlModifier);
    QVERIFY(d.Accepted);
    QVERIFY(!d.isVisible());
    QCOMPARE(d.SGSele->Cells(1, 1), QStringLiteral("Perez"));

    // Cancela drops what is being typed along with the rest.
    showActive(&d);
    d.SGSele->setCurrentCell(0, 1);
    d.SGSele->editItem(d.SGSele->item(0, 1));
    editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
    QVERIFY(editor);
    QTest::keyClicks(editor, QStringLiteral("tirado"));
    d.Cancela1->trigger();
    QCOMPARE(d.SGSele->Cells(1, 0), QString());
    QCOMPARE(d.SGSele->Cells(1, 1), QStringLiteral("Perez"));
}

void TstDialogs::ordenMovesBothWays()
{
    TFOrden d;
    fillOrden(d, {QStringLiteral("Fecha"), QStringLiteral("Cliente"), QStringLiteral("Monto")}, {});
    QCOMPARE(items(d.Fuente), (QStringList{QStringLiteral("Cliente"), QStringLiteral("Fecha"), QStringLiteral("Monto")}));

    d.BFteDnoClick(); // nothing selected: nothing moves
    QCOMPARE(d.Destino->count(), 0);
    d.Fuente->setCurrentRow(1);
    d.BFteDno->click();
    QCOMPARE(items(d.Fuente), (QStringList{QStringLiteral("Cliente"), QStringLiteral("Monto")}));
    QCOMPARE(d.DestinoEntries(), (Entries{{QStringLiteral("Fecha"), false}}));
    QCOMPARE(d.Fuente->currentRow(), 0); // the first entry is selected after a move
    QVERIFY(d.Fuente->item(0)->isSelected());
    d.BFteDnoClick();
    d.BFteDnoClick();
    QCOMPARE(d.Fuente->count(), 0);
    d.BFteDnoClick(); // empty source: harmless
    QCOMPARE(d.DestinoEntries(), (Entries{{QStringLiteral("Fecha"), false},
                                          {QStringLiteral("Cliente"), false},
                                          {QStringLiteral("Monto"), false}}));

    d.Destino->clearSelection();
    d.BDnoFteClick();
    QCOMPARE(d.Destino->count(), 3);
    d.Destino->setCurrentRow(2);
    d.BDnoFte->click();
    d.Destino->setCurrentRow(0);
    d.BDnoFteClick();
    QCOMPARE(items(d.Fuente), (QStringList{QStringLiteral("Fecha"), QStringLiteral("Monto")}));
    QCOMPARE(d.DestinoEntries(), (Entries{{QStringLiteral("Cliente"), false}}));
    QVERIFY(d.Destino->item(0)->isSelected());
}

void TstDialogs::ordenDropRule()
{
    TFOrden d;
    d.resize(375, 360);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    const Entries start{{QStringLiteral("A"), true}, {QStringLiteral("B"), false},
                        {QStringLiteral("C"), true}, {QStringLiteral("D"), false}};
    const auto names = [&] {
        QStringList out;
        for (const auto &e : d.DestinoEntries())
            out << e.first;
        return out;
    };

    fillOrden(d, {}, start);
    d.Destino->setCurrentRow(0);
    d.DestinoxDragDrop(centreOf(d.Destino, 2)); // takes the place of C
    QCOMPARE(names(), (QStringList{QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("A"), QStringLiteral("D")}));
    QCOMPARE(d.DestinoEntries().at(2), (std::pair<QString, bool>{QStringLiteral("A"), false}));
    QCOMPARE(d.DestinoEntries().at(1).second, true); // the others keep their marks

    fillOrden(d, {}, start);
    d.Destino->setCurrentRow(3);
    d.DestinoxDragDrop(centreOf(d.Destino, 0));
    QCOMPARE(names(), (QStringList{QStringLiteral("D"), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));

    fillOrden(d, {}, start);
    d.Destino->setCurrentRow(1);
    const QRect last = d.Destino->visualItemRect(d.Destino->item(3));
    d.DestinoxDragDrop(QPoint(last.center().x(), last.bottom() + 20)); // below the last entry
    QCOMPARE(names(), (QStringList{QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("B")}));

    fillOrden(d, {}, start);
    d.Destino->setCurrentRow(2);
    d.DestinoxDragDrop(centreOf(d.Destino, 2)); // onto itself
    QCOMPARE(names(), (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D")}));
    QVERIFY(!d.DestinoEntries().at(2).second);

    fillOrden(d, {}, start);
    d.Destino->clearSelection();
    d.DestinoxDragDrop(centreOf(d.Destino, 0)); // nothing selected
    QCOMPARE(d.DestinoEntries(), start);
}

void TstDialogs::ordenMouseDrag()
{
    TFOrden d;
    showActive(&d);
    fillOrden(d, {}, {{QStringLiteral("A"), true}, {QStringLiteral("B"), false}, {QStringLiteral("C"), true}});
    QWidget *vp = d.Destino->viewport();
    const QPoint from = centreOf(d.Destino, 0);
    const QPoint to = centreOf(d.Destino, 2);

    // A press and release without moving is a click, not a drag.
    QTest::mouseClick(vp, Qt::LeftButton, {}, from);
    QCOMPARE(d.DestinoEntries().at(0).first, QStringLiteral("A"));

    QTest::mousePress(vp, Qt::LeftButton, {}, from);
    QCOMPARE(d.Destino->currentRow(), 0);
    QTest::mouseMove(vp, from + QPoint(0, QApplication::startDragDistance() + 1));
    QTest::mouseMove(vp, to);
    QCOMPARE(d.Destino->currentRow(), 0); // the moves do not drag the selection along
    QTest::mouseRelease(vp, Qt::LeftButton, {}, to);
    QCOMPARE(d.DestinoEntries(), (Entries{{QStringLiteral("B"), false}, {QStringLiteral("C"), true},
                                          {QStringLiteral("A"), false}}));

    // A drag released outside the list drops nothing.
    QTest::mousePress(vp, Qt::LeftButton, {}, centreOf(d.Destino, 1));
    QTest::mouseMove(vp, QPoint(-40, -40));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(-40, -40));
    QCOMPARE(d.DestinoEntries().at(1), (std::pair<QString, bool>{QStringLiteral("C"), true}));
}

// Everything the mouse does in the sort dialog, from the keyboard.
void TstDialogs::ordenKeyboard_data()
{
    QTest::addColumn<bool>("inFuente");
    QTest::addColumn<int>("row");
    QTest::addColumn<QKeyCombination>("key");
    QTest::addColumn<QStringList>("fuente");
    QTest::addColumn<Entries>("destino");
    const Entries start{{QStringLiteral("A"), true}, {QStringLiteral("B"), false}};
    QTest::newRow("Enter takes a field") << true << 0 << QKeyCombination(Qt::Key_Return) << QStringList{}
                                         << Entries{start.at(0), start.at(1), {QStringLiteral("X"), false}};
    QTest::newRow("Delete gives it back") << false << 1 << QKeyCombination(Qt::Key_Delete)
                                          << QStringList{"B", "X"} << Entries{start.at(0)};
    QTest::newRow("Ctrl+Up") << false << 1 << QKeyCombination(Qt::ControlModifier, Qt::Key_Up) << QStringList{"X"}
                             << Entries{start.at(1), start.at(0)};
    QTest::newRow("Ctrl+Down at the end") << false << 1 << QKeyCombination(Qt::ControlModifier, Qt::Key_Down)
                                          << QStringList{"X"} << start;
    QTest::newRow("Space turns descending") << false << 1 << QKeyCombination(Qt::Key_Space) << QStringList{"X"}
                                            << Entries{start.at(0), {QStringLiteral("B"), true}};
}

void TstDialogs::ordenKeyboard()
{
    QFETCH(bool, inFuente);
    QFETCH(int, row);
    QFETCH(QKeyCombination, key);
    QFETCH(QStringList, fuente);
    QFETCH(Entries, destino);
    TFOrden d;
    showActive(&d);
    fillOrden(d, {QStringLiteral("X")}, {{QStringLiteral("A"), true}, {QStringLiteral("B"), false}});
    QListWidget *list = inFuente ? d.Fuente : d.Destino;
    list->setFocus();
    list->setCurrentRow(row);
    QTest::keyClick(list, key.key(), key.keyboardModifiers());
    QCOMPARE(items(d.Fuente), fuente);
    QCOMPARE(d.DestinoEntries(), destino);
}

void TstDialogs::ordenStatusTexts()
{
    TFOrden d;
    showActive(&d);
    d.Destino->setFocus();
    QTRY_COMPARE(d.StatusBar1->currentMessage(), QStringLiteral("Orden, marca para descendente, sin marca ascendente"));
    d.Fuente->setFocus();
    QTRY_COMPARE(d.StatusBar1->currentMessage(), QString());
}

void TstDialogs::ordenAcceptedAndSnapshot()
{
    TFOrden d;
    fillOrden(d, {QStringLiteral("Monto"), QStringLiteral("Cliente")},
              {{QStringLiteral("Fecha"), true}, {QStringLiteral("Tipo"), false}});
    const TSortSnapshot snap = TSortSnapshot::Take(d);
    QCOMPARE(snap.Fuente, (QStringList{QStringLiteral("Cliente"), QStringLiteral("Monto")}));

    // Closed with the close box before any "Aceptar": as "Cancelar".
    showActive(&d);
    QVERIFY(d.close());
    QVERIFY(!d.Accepted);

    showActive(&d);
    d.Fuente->setCurrentRow(0);
    d.BFteDnoClick();
    d.Destino->item(1)->setCheckState(Qt::Checked);
    d.Destino->setCurrentRow(0);
    d.DestinoxDragDrop(centreOf(d.Destino, 2));
    QTest::keyClick(&d, Qt::Key_Return, Qt::ControlModifier);
    QVERIFY(d.Accepted);
    QVERIFY(!d.isVisible());

    // The close box keeps the last result; Esc is "Cancelar".
    showActive(&d);
    QVERIFY(d.close());
    QVERIFY(d.Accepted);
    showActive(&d);
    QTest::keyClick(&d, Qt::Key_Escape);
    QVERIFY(!d.Accepted);
    QVERIFY(!d.isVisible());

    snap.Restore(d);
    QCOMPARE(items(d.Fuente), snap.Fuente);
    QCOMPARE(d.DestinoEntries(), (Entries{{QStringLiteral("Fecha"), true}, {QStringLiteral("Tipo"), false}}));
    QVERIFY(d.Destino->item(0)->flags() & Qt::ItemIsUserCheckable);
}

void TstDialogs::estadLayout()
{
    TFEstad d;
    QCOMPARE(d.size(), QSize(675, 489));
    QCOMPARE(d.strGrid->ColCount(), 5);
    QCOMPARE(d.strGrid->RowCount(), 2);
    QCOMPARE(d.strGrid->FixedRows(), 1);
    QCOMPARE(d.strGrid->FixedCols(), 1);
    QCOMPARE(column(d.strGrid, 0).first(), QString());
    const QStringList titles{QString(), QStringLiteral("Suma"), QStringLiteral("Máximo"), QStringLiteral("Mínimo"),
                             QStringLiteral("Promedio")};
    for (int c = 0; c < 5; ++c)
        QCOMPARE(d.strGrid->Cells(c, 0), titles.at(c));
    QVERIFY(!(d.strGrid->item(1, 1)->flags() & Qt::ItemIsEditable));
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QCOMPARE(d.Pan->height(), 31);
    QCOMPARE(d.Pan->frameShadow(), QFrame::Sunken);
    QCOMPARE(d.Pan->geometry().bottom(), d.height() - 1);
    QCOMPARE(d.strGrid->geometry().bottom() + 1, d.Pan->geometry().top());
    QCOMPARE(d.strGrid->width(), d.width());
}

void TstDialogs::walkProgress()
{
    QWidget owner;
    owner.show();
    {
        TWalkProgressDialog::SetDelayMs(60000);
        TWalkProgressDialog quick(&owner, QStringLiteral("Calculando"));
        QVERIFY(quick.Callback()(1000, -1));
        QVERIFY(!quick.Dialog()); // a short walk shows nothing
    }
    TWalkProgressDialog::SetDelayMs(0);
    TWalkProgressDialog p(&owner, QStringLiteral("Guardando"));
    const TWalkProgress step = p.Callback();
    QVERIFY(step(1000, -1));
    QVERIFY(p.Dialog());
    QVERIFY(p.Dialog()->isVisible());
    QVERIFY(p.Dialog()->labelText().contains(QStringLiteral("1000 registros")));
    QVERIFY(step(2000, 4000));
    QVERIFY(p.Dialog()->labelText().contains(QStringLiteral("2000 de 4000")));
    auto *cancel = p.Dialog()->findChild<QPushButton *>();
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QStringLiteral("Cancelar"));
    cancel->click();
    QVERIFY(!step(3000, 4000));
    QVERIFY(p.WasCancelled());
    QVERIFY(!step(4000, 4000)); // once stopped, stays stopped
    TWalkProgressDialog::SetDelayMs(500);
}

QTEST_MAIN(TstDialogs)
#include "tst_dialogs.moc"
