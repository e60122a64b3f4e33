// The list window as a user meets it: opened through the gateway from the
// real Comun library, against the demo database, checked through what the
// server was sent.
#include "common/exception.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "data/datasetmodel.h"
#include "data/datawalk.h"
#include "data/selectiontotals.h"
#include "common/platform.h"
#include "runtime/ferror.h"
#include "runtime/filedialog.h"
#include "runtime/frmvrl.h"
#include "runtime/snvorel.h"
#include "runtime/ui.h"
#include "support/moduleframe.h"
#include "support/testserver.h"

#include <QAccessible>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <QAction>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalSpy>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QPointer>
#include <QScopeGuard>
#include <memory>

using namespace vorel;

namespace {

QString lines(const QStringList &l)
{
    QString s;
    for (const QString &x : l)
        s += x + QStringLiteral("\r\n");
    return s;
}

// Closes the next modal dialog that comes up, after `step` has seen it.
void onNextModal(std::function<void(QDialog *)> step)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, step] {
        auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!d)
            return;
        timer->deleteLater();
        timer->stop();
        step(d);
        if (d->isVisible())
            d->reject();
    });
    timer->start(10);
}

// Assistive technology listening, as a screen reader makes it: the objects
// whose accessible name changed are collected until it goes.
class ScreenReader
{
public:
    ScreenReader()
    {
        named().clear();
        QAccessible::installUpdateHandler([](QAccessibleEvent *e) {
            if (e->type() == QAccessible::NameChanged)
                named() << e->object();
        });
        if (QPlatformAccessibility *a = QGuiApplicationPrivate::platformIntegration()->accessibility())
            a->setActive(true);
    }
    ~ScreenReader()
    {
        if (QPlatformAccessibility *a = QGuiApplicationPrivate::platformIntegration()->accessibility())
            a->setActive(false);
        QAccessible::installUpdateHandler(nullptr);
    }
    ScreenReader(const ScreenReader &) = delete;
    ScreenReader &operator=(const ScreenReader &) = delete;
    static QObjectList &named()
    {
        static QObjectList objects;
        return objects;
    }
};

} // namespace

class TstListWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TestServer> m_server;
    std::unique_ptr<TSocketConnection> m_connection;
    std::unique_ptr<QMainWindow> m_frame;
    std::unique_ptr<QTemporaryDir> m_work;
    QMdiArea *m_area = nullptr;
    QStringList m_boxes;
    QStringList m_errors;
    ui::Answer m_answer = ui::Answer::Yes;

    TfrmVrl *current() const
    {
        QMdiSubWindow *sub = m_area->currentSubWindow();
        return sub ? qobject_cast<TfrmVrl *>(sub->widget()) : nullptr;
    }
    static QAction *action(QWidget *w, const char *name) { return w->findChild<QAction *>(QLatin1String(name)); }
    static TClientDataSet *data(TfrmVrl *w) { return w->Session->ModuleData; }
    void closeAll()
    {
        m_area->closeAllSubWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QStringList since() const { return m_server->texts(); }
    static int columnTitled(QTableView *view, const QString &title)
    {
        for (int c = 0; c < view->model()->columnCount(); ++c)
            if (view->model()->headerData(c, Qt::Horizontal).toString() == title)
                return c;
        return -1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_server = std::make_unique<test::TestServer>();
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_work->path()));
        m_connection = std::make_unique<TSocketConnection>();
        test::LogIn(*m_connection, *m_server);
        m_frame = std::make_unique<QMainWindow>();
        m_area = new QMdiArea(m_frame.get());
        m_frame->setCentralWidget(m_area);
        m_frame->resize(1200, 900);
        m_frame->show();
        ui::SetMainWindow(m_frame.get(), m_area);
        ui::SetMessageHook([this](ui::Kind, const QString &, const QString &text) {
            m_boxes << text;
            return m_answer;
        });
        TFError::SetShowHook([this](TFError &d) { m_errors << d.MessageText; });
    }

    void cleanupTestCase()
    {
        // Nothing was set up when the server did not start.
        if (m_area)
            closeAll();
        TFError::SetShowHook(nullptr);
        ui::SetMessageHook(nullptr);
        ui::SetFileDialogHook(nullptr);
        ui::SetMainWindow(nullptr, nullptr);
    }

    void init()
    {
        m_boxes.clear();
        m_errors.clear();
        m_answer = ui::Answer::Yes;
        m_server->clearTrace();
    }

    void cleanup() { closeAll(); }

    // Totals of the selected cells against the values the cells hold:
    // money, a number with a NULL, text, both mixed, ranges that overlap.
    void selectionTotals_data()
    {
        QTest::addColumn<QList<QRect>>("ranges"); // x: column, y: row
        QTest::addColumn<qint64>("cells");
        QTest::addColumn<qint64>("numbers");
        QTest::addColumn<QString>("sumSql");
        QTest::addColumn<bool>("currency");
        const QString sum = QStringLiteral("SELECT SUM(%1) FROM TCLIENTES WHERE CLIE_Cliente BETWEEN %2 AND %3");
        QTest::newRow("money") << QList<QRect>{QRect(0, 0, 1, 5)} << 5LL << 5LL
                               << sum.arg("CLIE_Limite").arg(1).arg(5) << true;
        QTest::newRow("a NULL") << QList<QRect>{QRect(1, 0, 1, 5)} << 5LL << 4LL
                                << sum.arg("NULLIF(CLIE_Activo, 0)").arg(1).arg(5) << false;
        QTest::newRow("text") << QList<QRect>{QRect(2, 0, 1, 2)} << 2LL << 0LL << QString() << false;
        QTest::newRow("mixed") << QList<QRect>{QRect(0, 0, 3, 2)} << 6LL << 3LL
                               << sum.arg("CLIE_Limite + CLIE_Activo").arg(1).arg(2) << false;
        QTest::newRow("overlap") << QList<QRect>{QRect(0, 0, 1, 3), QRect(0, 1, 1, 3)} << 4LL << 4LL
                                 << sum.arg("CLIE_Limite").arg(1).arg(4) << true;
    }
    void selectionTotals()
    {
        QFETCH(QList<QRect>, ranges);
        QFETCH(qint64, cells);
        QFETCH(qint64, numbers);
        QFETCH(QString, sumSql);
        QFETCH(bool, currency);
        TClientDataSet ds;
        ds.SetRemoteServer(m_connection.get());
        ds.SetProviderName(QStringLiteral("dspq0"));
        ds.SetCommandText(QStringLiteral("SELECT CLIE_Limite L, NULLIF(CLIE_Activo, 0) A, CLIE_Nombre N "
                                         "FROM vorel.TCLIENTES WHERE CLIE_Cliente <= 5 ORDER BY CLIE_Cliente"));
        ds.Open();
        ds.FieldByName(QStringLiteral("L"))->SetCurrency(true);
        TDataSetModel model;
        model.SetDataSet(&ds);
        QItemSelection selection;
        for (const QRect &r : std::as_const(ranges))
            selection.append(QItemSelectionRange(model.index(r.top(), r.left()), model.index(r.bottom(), r.right())));
        const TSelectionTotals totals = SelectionTotals(model, selection);
        QCOMPARE(totals.Cells, cells);
        QCOMPARE(totals.Numbers, numbers);
        QCOMPARE(totals.Currency, currency);
        const double expected = sumSql.isEmpty() ? 0.0 : m_server->query(sumSql).at(0).at(0).toDouble();
        QCOMPARE(totals.Sum, expected);
        QString text = QString::number(cells) + QStringLiteral(" celdas");
        if (numbers > 0)
            text += QStringLiteral("  Suma: ") + StatisticText(expected, currency) + QStringLiteral("  Promedio: ")
                    + StatisticText(expected / double(numbers), currency);
        QCOMPARE(totals.Text(), text);
    }

    // The grid's selection reaches the status bar, and a screen reader
    // through the label's name, announced as it changes; one cell shows
    // nothing.
    void selectionTotalsInTheStatusBar()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
        TfrmVrl *w = current();
        QVERIFY(w);
        auto *view = w->findChild<QTableView *>(QStringLiteral("dbgModulo"));
        auto *totals = w->findChild<QLabel *>(QStringLiteral("sbTotales"));
        const int limite = columnTitled(view, QStringLiteral("Límite de crédito"));
        const ScreenReader reader;
        QAccessibleInterface *heard = QAccessible::queryAccessibleInterface(totals);
        m_server->clearTrace();
        view->selectionModel()->select(QItemSelection(view->model()->index(0, limite), view->model()->index(3, limite)),
                                       QItemSelectionModel::ClearAndSelect);
        QVERIFY(totals->text().startsWith(QStringLiteral("4 celdas  Suma: ")));
        QCOMPARE(heard->text(QAccessible::Name), QStringLiteral("Totales de la selección: ") + totals->text());
        QVERIFY(ScreenReader::named().contains(totals));
        QCOMPARE(since(), QStringList());
        ScreenReader::named().clear();
        view->selectionModel()->select(view->model()->index(0, 0), QItemSelectionModel::ClearAndSelect);
        QCOMPARE(totals->text(), QString());
        QCOMPARE(heard->text(QAccessible::Name), QStringLiteral("Totales de la selección"));
        QVERIFY(ScreenReader::named().contains(totals));
    }

    // Widths and order the user gives the columns come back when the class
    // opens again, without a request more, also after the metadata drops a
    // column; "Restaurar Columnas" forgets them.
    void columnLayoutRemembered()
    {
        QTemporaryDir config;
        qputenv("VOREL_CONFIG_DIR", QFile::encodeName(config.path()));
        const auto unset = qScopeGuard([] { qunsetenv("VOREL_CONFIG_DIR"); });
        {
            platform::TSettingsStore store;
            QVERIFY(store.OpenKey(QStringLiteral("\\Software\\Vorel7"), true));
            store.WriteString(QStringLiteral("Login"), QStringLiteral("1001"));
            store.WriteString(QStringLiteral("dBase"), QStringLiteral("DEMO"));
        }
        auto open = [this] {
            new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
            return current()->findChild<QTableView *>(QStringLiteral("dbgModulo"))->horizontalHeader();
        };
        auto titles = [](QHeaderView *h) {
            QStringList t;
            for (int v = 0; v < h->count(); ++v)
                t << h->model()->headerData(h->logicalIndex(v), Qt::Horizontal).toString();
            return t;
        };
        m_server->clearTrace();
        QHeaderView *header = open();
        const QStringList plain = since();
        const QStringList metadataOrder = titles(header);
        const int ciudad = metadataOrder.indexOf(QStringLiteral("Población"));
        header->moveSection(header->visualIndex(ciudad), 0);
        header->resizeSection(ciudad, 211);
        closeAll();

        m_server->clearTrace();
        header = open();
        QCOMPARE(since(), plain);
        QCOMPARE(titles(header).value(0), QStringLiteral("Población"));
        QCOMPARE(header->sectionSize(header->logicalIndex(0)), 211);
        closeAll();

        m_server->exec(QStringLiteral("UPDATE TPROPCLASES SET PROP_Visib = 0 WHERE PROP_Clase = 'CLIENTES' "
                                      "AND PROP_Prop IN ('NOMBRE', 'CIUDAD')"));
        const auto back = qScopeGuard([this] {
            m_server->exec(QStringLiteral("UPDATE TPROPCLASES SET PROP_Visib = 1 WHERE PROP_Clase = 'CLIENTES' "
                                          "AND PROP_Prop IN ('NOMBRE', 'CIUDAD')"));
        });
        header = open();
        QCOMPARE(m_errors, QStringList());
        QStringList without = metadataOrder;
        without.removeAll(QStringLiteral("Nombre"));
        without.removeAll(QStringLiteral("Población"));
        QCOMPARE(titles(header), without);
        closeAll();

        header = open();
        action(current(), "RestauraColumnas1")->trigger();
        QCOMPARE(titles(header), without);
        closeAll();
        platform::TSettingsStore store;
        QVERIFY(store.OpenKey(QStringLiteral("\\Software\\Vorel7\\DEMO\\Columnas\\1001"), false));
        QCOMPARE(store.ReadString(QStringLiteral("CLIENTES")), QString());
    }

    // Two users' clients on one desktop share the settings store, whose
    // last login is either's: each keeps the layout of their own session.
    void columnLayoutPerSessionUser()
    {
        QTemporaryDir config;
        qputenv("VOREL_CONFIG_DIR", QFile::encodeName(config.path()));
        const auto unset = qScopeGuard([] { qunsetenv("VOREL_CONFIG_DIR"); });
        {
            platform::TSettingsStore store;
            QVERIFY(store.OpenKey(QStringLiteral("\\Software\\Vorel7"), true));
            store.WriteString(QStringLiteral("Login"), QStringLiteral("1001"));
            store.WriteString(QStringLiteral("dBase"), QStringLiteral("DEMO"));
        }
        TSocketConnection carlos;
        test::LogIn(carlos, *m_server, QStringLiteral("1002"));
        auto open = [this](TSocketConnection *c) {
            new TSnVorel(c, nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
            QHeaderView *h = current()->findChild<QTableView *>(QStringLiteral("dbgModulo"))->horizontalHeader();
            return h->model()->headerData(h->logicalIndex(0), Qt::Horizontal).toString();
        };
        const QString first = open(m_connection.get());
        closeAll();
        open(&carlos);
        auto *view = current()->findChild<QTableView *>(QStringLiteral("dbgModulo"));
        QHeaderView *header = view->horizontalHeader();
        header->moveSection(header->visualIndex(columnTitled(view, QStringLiteral("Población"))), 0);
        closeAll();

        QCOMPARE(open(m_connection.get()), first);
        closeAll();
        QCOMPARE(open(&carlos), QStringLiteral("Población"));
        closeAll();
        platform::TSettingsStore store;
        QVERIFY(store.OpenKey(QStringLiteral("\\Software\\Vorel7\\DEMO\\Columnas\\1002"), false));
        QVERIFY(store.ReadString(QStringLiteral("CLIENTES")).startsWith(QStringLiteral("CIUDAD:")));
        QVERIFY(!store.OpenKey(QStringLiteral("\\Software\\Vorel7\\DEMO\\Columnas\\1001"), false));
    }

    // Find in the rows held, wrapping; a text only in rows not yet read is
    // found once the rest is read.
    void findAcrossPackets()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("LINEAS"));
        TfrmVrl *w = current();
        QVERIFY(w);
        auto *view = w->findChild<QTableView *>(QStringLiteral("dbgModulo"));
        QAbstractItemModel *model = view->model();
        QCOMPARE(model->rowCount(), 50);
        QString held;
        for (int r = 0; r < model->rowCount(); ++r)
            for (int c = 0; c < model->columnCount(); ++c)
                held += model->index(r, c).data().toString() + QLatin1Char('\n');
        QString later;
        for (const QStringList &row : m_server->query(QStringLiteral("SELECT PROD_Descrip FROM TPRODUCTOS")))
            if (!held.contains(row.at(0), Qt::CaseInsensitive))
                later = row.at(0);
        if (later.isEmpty())
            QSKIP("every product is in the first packet");
        const QString first = model->index(3, 0).data().toString();

        auto *bar = w->findChild<QWidget *>(QStringLiteral("FindBar"));
        auto *text = bar->findChild<QLineEdit *>(QStringLiteral("Texto"));
        action(w, "Buscar1")->trigger();
        QVERIFY(bar->isVisible());
        text->setText(first);
        QTest::keyClick(text, Qt::Key_Return);
        QVERIFY(view->currentIndex().data().toString().contains(first, Qt::CaseInsensitive));

        text->setText(later.toLower());
        QTest::keyClick(text, Qt::Key_Return);
        QCOMPARE(bar->findChild<QLabel *>(QStringLiteral("Aviso"))->text(),
                 QStringLiteral("No está en las 50 filas leídas"));
        auto *rest = bar->findChild<QToolButton *>(QStringLiteral("bResto"));
        QVERIFY(rest->isVisible());
        rest->click();
        QVERIFY(data(w)->AllFetched());
        const QModelIndex found = view->currentIndex();
        QVERIFY(found.row() >= 50);
        QCOMPARE(found.data().toString(), later);
        action(w, "BuscarSiguiente1")->trigger();
        const QModelIndex next = view->currentIndex();
        QVERIFY(next.row() > found.row() || next.row() < 50);
        action(w, "BuscarAnterior1")->trigger();
        QCOMPARE(view->currentIndex(), found);
    }

    // However the next match is asked for (Enter, Ctrl+G, Shift+Ctrl+G),
    // it is the one cell selected, and a Shift+arrow extends from it.
    void findKeysSelectTheMatchAlone()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
        TfrmVrl *w = current();
        auto *view = w->findChild<QTableView *>(QStringLiteral("dbgModulo"));
        auto *totals = w->findChild<QLabel *>(QStringLiteral("sbTotales"));
        auto *text = w->findChild<QLineEdit *>(QStringLiteral("Texto"));
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        action(w, "Buscar1")->trigger();
        text->setText(QStringLiteral("a"));
        QTest::keyClick(text, Qt::Key_Return);
        const QModelIndex first = view->currentIndex();
        QVERIFY(first.isValid());
        QCOMPARE(view->selectionModel()->selectedIndexes(), QModelIndexList{first});
        view->setFocus();
        const std::pair<Qt::KeyboardModifiers, const char *> keys[] = {
            {Qt::ControlModifier, "Ctrl+G"},
            {Qt::ControlModifier, "Ctrl+G again"},
            {Qt::ShiftModifier | Qt::ControlModifier, "Shift+Ctrl+G"},
        };
        for (const auto &[modifiers, name] : keys) {
            const QModelIndex before = view->currentIndex();
            QTest::keyClick(view, Qt::Key_G, modifiers);
            QVERIFY2(view->currentIndex() != before, name);
            QVERIFY2(view->selectionModel()->selectedIndexes() == QModelIndexList{view->currentIndex()}, name);
            QCOMPARE(totals->text(), QString());
        }
        const QModelIndex match = view->currentIndex();
        QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(view->selectionModel()->selectedIndexes().size(), 2);
        QVERIFY(view->selectionModel()->isSelected(match));
    }

    // Ctrl+C the cells, Ctrl+Shift+C with titles; an HTML table beside the
    // text carries numbers and dates as values.
    void copyFormats()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
        TfrmVrl *w = current();
        auto *view = w->findChild<QTableView *>(QStringLiteral("dbgModulo"));
        const int nombre = columnTitled(view, QStringLiteral("Nombre"));
        const int alta = columnTitled(view, QStringLiteral("Fecha de alta"));
        const int limite = columnTitled(view, QStringLiteral("Límite de crédito"));
        QItemSelection cells;
        for (int c : {nombre, limite, alta})
            cells.select(view->model()->index(0, c), view->model()->index(1, c));
        view->selectionModel()->select(cells, QItemSelectionModel::ClearAndSelect);
        auto shown = [view](int r, int c) { return view->model()->index(r, c).data().toString(); };
        const QString rows = shown(0, nombre) + '\t' + shown(0, limite) + '\t' + shown(0, alta) + '\n' + shown(1, nombre)
                             + '\t' + shown(1, limite) + '\t' + shown(1, alta) + '\n';
        for (QAction *a : view->actions())
            if (a->shortcut() == QKeySequence(QKeySequence::Copy))
                a->trigger();
        QCOMPARE(QApplication::clipboard()->text(), rows);
        action(w, "CopiarTitulos1")->trigger();
        const QMimeData *mime = QApplication::clipboard()->mimeData();
        QCOMPARE(mime->text(), QStringLiteral("Nombre\tLímite de crédito\tFecha de alta\n") + rows);
        const QString html = mime->html();
        QVERIFY(html.contains(QStringLiteral("<th>Límite de crédito</th>")));
        QVERIFY2(html.contains(QStringLiteral("<td x:num=\"10000\" sdval=\"10000\" align=\"right\">")), qPrintable(html));
        QVERIFY(html.contains(QStringLiteral("<td>2022-07-15 09:00:00</td>")));
        QVERIFY(html.contains(QStringLiteral("<td>Hostal La Parra</td>")));
    }

    // A value with a line break, a tab or a leading quote pastes into one
    // cell of a spreadsheet from the plain text: quoted, its quotes doubled.
    void copiedFieldsQuoted_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("copied");
        QTest::newRow("CR LF") << QStringLiteral("Casa\r\nRural") << QStringLiteral("\"Casa\r\nRural\"");
        QTest::newRow("LF") << QStringLiteral("Casa\nRural") << QStringLiteral("\"Casa\nRural\"");
        QTest::newRow("tab and quotes") << QStringLiteral("Bar \"El\"\tTajo")
                                        << QStringLiteral("\"Bar \"\"El\"\"\tTajo\"");
        QTest::newRow("leading quote") << QStringLiteral("\"Tajo\" S.L.") << QStringLiteral("\"\"\"Tajo\"\" S.L.\"");
        QTest::newRow("inner quote") << QStringLiteral("Mesón 5\" Sur") << QStringLiteral("Mesón 5\" Sur");
    }
    void copiedFieldsQuoted()
    {
        QFETCH(QString, value);
        QFETCH(QString, copied);
        const QString was =
            m_server->query(QStringLiteral("SELECT CLIE_Nombre FROM TCLIENTES WHERE CLIE_Cliente = 1")).at(0).at(0);
        auto set = [this](QString name) {
            m_server->exec(QStringLiteral("UPDATE TCLIENTES SET CLIE_Nombre = '") + name.replace('\'', "''")
                           + QStringLiteral("' WHERE CLIE_Cliente = 1"));
        };
        set(value);
        const auto back = qScopeGuard([&] { set(was); });
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
        auto *view = current()->findChild<QTableView *>(QStringLiteral("dbgModulo"));
        const int nombre = columnTitled(view, QStringLiteral("Nombre"));
        // PostgreSQL gives an updated row back among the last.
        while (view->model()->canFetchMore({}))
            view->model()->fetchMore({});
        int row = 0;
        while (row < view->model()->rowCount() && view->model()->index(row, nombre).data() != value)
            ++row;
        QVERIFY(row < view->model()->rowCount());
        view->selectionModel()->select(view->model()->index(row, nombre), QItemSelectionModel::ClearAndSelect);
        for (QAction *a : view->actions())
            if (a->shortcut() == QKeySequence(QKeySequence::Copy))
                a->trigger();
        QCOMPARE(QApplication::clipboard()->text(), copied + '\n');
        action(current(), "CopiarTitulos1")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("Nombre\n") + copied + '\n');
    }

    // Every button of the list window has a name a person reads and can be
    // pressed through the accessibility interface; the forward button's
    // arrow keeps its menu, and the grid names the column with the value.
    void accessibleButtonsAndGrid()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
        TfrmVrl *w = current();
        QVERIFY(w);
        const QList<QToolButton *> buttons = w->findChildren<QToolButton *>();
        QVERIFY(buttons.size() >= 15);
        for (QToolButton *b : buttons) {
            if (!b->isVisibleTo(w)
                || (qobject_cast<QToolBar *>(b->parentWidget()) == nullptr
                    && b->parentWidget()->objectName() != QStringLiteral("navcdsModulo")))
                continue;
            QAccessibleInterface *a = QAccessible::queryAccessibleInterface(b);
            QVERIFY(a);
            const QString name = a->text(QAccessible::Name);
            QVERIFY2(!name.isEmpty() && name != b->objectName(), qPrintable(b->objectName() + ": " + name));
            QVERIFY2(a->actionInterface()
                         && a->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()),
                     qPrintable(name));
        }
        auto *forward = w->findChild<QToolButton *>(QStringLiteral("bRelF"));
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(forward);
        QCOMPARE(a->text(QAccessible::Name), QStringLiteral("Registros Hijo"));
        QVERIFY(a->actionInterface()->actionNames().contains(QAccessibleActionInterface::showMenuAction()));
        QSignalSpy pressed(forward, &QToolButton::clicked);
        a->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(pressed.size(), 1);
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QTest::keyClick(w->findChild<QTableView *>(QStringLiteral("dbgModulo")), Qt::Key_Right, Qt::AltModifier);
        QCOMPARE(pressed.size(), 2);

        auto *view = w->findChild<QTableView *>(QStringLiteral("dbgModulo"));
        QAccessibleTableInterface *grid = QAccessible::queryAccessibleInterface(view)->tableInterface();
        QVERIFY(grid);
        const int limite = columnTitled(view, QStringLiteral("Límite de crédito"));
        QAccessibleInterface *cell = grid->cellAt(0, limite);
        QCOMPARE(cell->text(QAccessible::Name), view->model()->index(0, limite).data().toString());
        QCOMPARE(cell->text(QAccessible::Description), QStringLiteral("Límite de crédito"));

        // The relation menu, open, is the button's child: its entries are
        // found by name and pressed.
        QAccessibleInterface *entry = nullptr;
        QTimer::singleShot(0, this, [a, &entry] {
            QAccessibleInterface *menu = a->childCount() == 1 ? a->child(0) : nullptr;
            if (menu && menu->role() == QAccessible::PopupMenu && a->indexOfChild(menu) == 0)
                for (int i = 0; i < menu->childCount(); ++i)
                    if (menu->child(i)->text(QAccessible::Name) == QStringLiteral("Código -> Pedidos de venta"))
                        entry = menu->child(i);
            if (QWidget *open = QApplication::activePopupWidget())
                open->close();
        });
        a->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
        QVERIFY(entry);
        QVERIFY(entry->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
        entry->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(m_errors, QStringList());
        QCOMPARE(current()->ClassId, QStringLiteral("PEDIDOS"));
    }

    // A title too wide for its column loses its end, right-aligned or not:
    // two columns of one title, one of text and one of numbers, look alike.
    void titlesElidedAtTheirEnd()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
        TfrmVrl *w = current();
        auto *view = w->findChild<QTableView *>(QStringLiteral("dbgModulo"));
        auto *model = qobject_cast<TDataSetModel *>(view->model());
        data(w)->FieldByName(QStringLiteral("NOMBRE"))->SetDisplayLabel(QStringLiteral("Límite de crédito"));
        model->RefreshLayout();
        QHeaderView *header = view->horizontalHeader();
        QList<QImage> titles;
        for (const char *field : {"NOMBRE", "LIMITE"}) {
            const int column = model->ColumnOfField(data(w)->FieldByName(QLatin1String(field))->Index());
            header->resizeSection(column, 48);
            const QImage section =
                header->grab(QRect(header->sectionViewportPosition(column), 0, 48, header->height())).toImage();
            // The title's own pixels, in the navy of the titles.
            QRect ink;
            for (int y = 0; y < section.height(); ++y)
                for (int x = 0; x < section.width(); ++x)
                    if (const QColor c = section.pixelColor(x, y); c.blue() - c.red() > 60)
                        ink |= QRect(x, y, 1, 1);
            titles << section.copy(ink);
        }
        // Alike but for the smoothing of the glyphs at another place.
        QVERIFY(!titles.at(0).isNull());
        QVERIFY(qAbs(titles.at(0).width() - titles.at(1).width()) <= 1);
        QCOMPARE(titles.at(0).height(), titles.at(1).height());
        int unlike = 0;
        for (int y = 0; y < titles.at(0).height(); ++y)
            for (int x = 0; x < std::min(titles.at(0).width(), titles.at(1).width()); ++x)
                unlike += qAbs(qGray(titles.at(0).pixel(x, y)) - qGray(titles.at(1).pixel(x, y))) > 96;
        QVERIFY2(unlike * 10 < titles.at(0).width() * titles.at(0).height(), qPrintable(QString::number(unlike)));
    }

    // Ctrl+W closes the active window.
    void closeKeys()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
        QPointer<TfrmVrl> w = current();
        QVERIFY(w);
        m_frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        QTest::keyClick(w->findChild<QTableView *>(QStringLiteral("dbgModulo")), Qt::Key_W, Qt::ControlModifier);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!w);
    }

    // Windows opened from the role bar stand wholly inside the frame's
    // client area, however small the main window; the cascade starts again
    // at the top left when the next place would leave it.
    void placementInSmallFrames_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<bool>("cascades"); // room for a second place
        QTest::newRow("1280") << QSize(1280, 800) << true;
        QTest::newRow("1024") << QSize(1024, 700) << true;
        QTest::newRow("640, smaller than a window") << QSize(640, 480) << false;
    }
    void placementInSmallFrames()
    {
        QFETCH(QSize, frame);
        QFETCH(bool, cascades);
        const QSize before = m_frame->size();
        const auto back = qScopeGuard([&] { m_frame->resize(before); });
        m_frame->resize(frame);
        QCoreApplication::processEvents();
        const QRect visible = m_area->viewport()->rect();
        for (int i = 0; i < 6; ++i)
            new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"),
                         i % 2 ? QStringLiteral("PEDIDOS") : QStringLiteral("CLIENTES"));
        const QList<QMdiSubWindow *> subs = m_area->subWindowList(QMdiArea::CreationOrder);
        QCOMPARE(subs.size(), 6);
        for (QMdiSubWindow *sub : subs)
            QVERIFY2(visible.contains(sub->geometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                       .arg(sub->x()).arg(sub->y())
                                                                       .arg(sub->width()).arg(sub->height())));
        QCOMPARE(subs.at(1)->pos() != subs.at(0)->pos(), cascades);
    }

    // The texts of construction, the method menu in button order, the
    // dialog rows and the first query.
    void opensAClassFromTheMetadata()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
        QCOMPARE(m_errors, QStringList());
        TfrmVrl *w = current();
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("Consulta de Clientes"));
        const QStringList texts = since();
        QVERIFY(texts.contains(lines({"SELECT NVL(CLAR_Etiq,CLAS_Etiq) Etiq, CLAS_PKey PKey ",
                                      "FROM vorel.TClases, vorel.TClaRol ", "WHERE CLAS_Clase= 'CLIENTES' ",
                                      "And CLAR_Clase= 'CLIENTES' ", "And CLAR_ROL= 'VENTAS' "})));
        const QString methods = lines(
            {"SELECT ", " METO_Metodo Metodo, ", " METO_Ejec Ejec, ", " METO_Boton Boton, ", " BOTO_HotKey HKey, ",
             " NVL(METR_Etiq, METO_Etiq) Etiq, ", " METO_Externo Externo ",
             "FROM vorel.TMETODS, vorel.TMETROL, vorel.TBOTONES ", "WHERE METO_Clase= 'CLIENTES' ",
             "  And METO_Activo= 1 ", "  And METO_Padre = 'main'", "  And METO_Visib = 1 ",
             "  And METR_Clase= METO_Clase ", "  And METR_Metodo= METO_Metodo ", "  And METR_Rol= 'VENTAS' ",
             "  And METR_Activo= 1 ", "  And BOTO_Boton(+)= METO_Boton ", "  And METO_Metodo not in ",
             " ( SELECT XUSU_Metodo ", "   FROM vorel.TXUSUROL, vorel.RSESION ", "   WHERE XUSU_Usua= SESI_Usua ",
             "     And XUSU_Clase= 'CLIENTES' ", "     And XUSU_Rol= 'VENTAS') ", "ORDER BY METO_Boton DESC "});
        QVERIFY(texts.contains(methods));
        QVERIFY(texts.contains(QStringLiteral("SELECT UPPER(PROP_Prop) Col, PROP_Etiq, PROP_Visib, PROP_Estad FROM "
                                              "vorel.TPROPCLASES WHERE PROP_Clase= 'CLIENTES'ORDER BY PROP_Orden")));

        // Ascending button numbers, -1 first, the one without a button last;
        // BORRAR is taken away from this user.
        QStringList names;
        for (QAction *a : w->Procesos1->actions())
            names << a->objectName();
        QCOMPARE(names, (QStringList{"ETIQUETAS", "EDITAR", "IMPRIMIR", "NUEVO", "CORREO", "HISTORICO"}));
        QCOMPARE(w->MethodRuns.Strings(0), QString());
        QCOMPARE(w->MethodRuns.Strings(1), QStringLiteral("CliEditar"));
        QVERIFY(w->Procesos1->isEnabled());
        QStringList buttons;
        for (QAction *a : w->tbProcesos->actions()) {
            auto *b = qobject_cast<QToolButton *>(w->tbProcesos->widgetForAction(a));
            buttons << (b->objectName().isEmpty() ? b->text() : b->objectName());
        }
        QCOMPARE(buttons.mid(0, 4), (QStringList{"bRefresca", "bRelB", "bRelF", "ETIQUETAS"}));
        QCOMPARE(buttons.size(), 3 + 5);

        // Visibility 2 is listed for selection with its mark, not for sorting
        // nor in the grid.
        auto *grid = w->findChild<QDialog *>(QStringLiteral("FSelec"))->findChild<QTableWidget *>(QStringLiteral("SGSele"));
        QStringList labels;
        for (int r = 0; r < grid->rowCount(); ++r)
            labels << grid->item(r, 0)->text();
        QVERIFY(labels.contains(QStringLiteral("* NIF")));
        auto *fuente = w->findChild<QListWidget *>(QStringLiteral("Fuente"));
        QVERIFY(!fuente->findItems(QStringLiteral("NIF"), Qt::MatchExactly).size());
        QVERIFY(fuente->findItems(QStringLiteral("Nombre"), Qt::MatchExactly).size());

        // The run: the default entry of filter 3, then the class's rows.
        const int del = int(texts.indexOf(QStringLiteral("EjeDir|DELETE FROM vorel.RVFILRAP")));
        QVERIFY(del >= 0);
        QCOMPARE(texts.mid(del, 4),
                 (QStringList{"EjeDir|DELETE FROM vorel.RVFILRAP",
                              "EjeDir|INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (3, 'ACTIVO = 1') ",
                              "EjeDir|DELETE FROM vorel.RQBEX", "SELECT * FROM TABLE(pCLIENTES.main('VENTAS'))"}));
        QCOMPARE(w->Session->FilterState, QStringLiteral("0."));
        auto *view = w->findChild<QTableView *>(QStringLiteral("dbgModulo"));
        QCOMPARE(view->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Código"));
        QVERIFY(!data(w)->FieldByName(QStringLiteral("NIF"))->Visible());
        QVERIFY(data(w)->FieldByName(QStringLiteral("LIMITE"))->Currency());
    }

    // Every class of every role opens in the list window without a failure,
    // with its columns dressed and its quick filters applied.
    void everyDemoClassOpens()
    {
        const QList<QStringList> grants = m_server->query(QStringLiteral(
            "SELECT CLAR_Rol, CLAR_Clase FROM TCLAROL WHERE CLAR_Activo = 1 ORDER BY CLAR_Rol, CLAR_Clase"));
        QVERIFY(grants.size() >= 10);
        for (const QStringList &grant : grants) {
            const QString what = grant.join(QLatin1Char('/'));
            m_errors.clear();
            m_boxes.clear();
            new TSnVorel(m_connection.get(), nullptr, grant.at(0), grant.at(1));
            QVERIFY2(m_errors.isEmpty() && m_boxes.isEmpty(), qPrintable(what + QLatin1Char(' ') + m_errors.join(
                                                                  QLatin1Char('|')) + m_boxes.join(QLatin1Char('|'))));
            TfrmVrl *w = current();
            QVERIFY2(w && w->ClassId == grant.at(1), qPrintable(what));
            QVERIFY2(data(w)->Active(), qPrintable(what));
            QVERIFY2(!w->windowTitle().isEmpty(), qPrintable(what));
            closeAll();
        }
    }

    // A large class shows its first packet only: no fetch until the user
    // scrolls, and the count says more are coming.
    void largeClassFetchesOnePacket()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("LINEAS"));
        TfrmVrl *w = current();
        QVERIFY(w);
        QVERIFY(m_server->query(QStringLiteral("SELECT COUNT(*) FROM pLINEAS_main")).at(0).at(0).toInt() >= 20000);
        QCOMPARE(data(w)->RecordCountFetched(), 50);
        QCOMPARE(m_server->fetches(), QList<qint32>());
        // No filter, no example, no order: the run clears both working tables only.
        const QStringList texts = since();
        const qsizetype del = texts.indexOf(QStringLiteral("EjeDir|DELETE FROM vorel.RVFILRAP"));
        QVERIFY(del >= 0);
        QCOMPARE(texts.mid(del, 3), (QStringList{"EjeDir|DELETE FROM vorel.RVFILRAP", "EjeDir|DELETE FROM vorel.RQBEX",
                                                 "SELECT * FROM TABLE(pLINEAS.main('VENTAS'))"}));
        auto *count = w->findChild<QLabel *>(QStringLiteral("sbPanel0"));
        QCOMPARE(count->text(), QStringLiteral("50+ Registros"));
        auto *view = w->findChild<QTableView *>(QStringLiteral("dbgModulo"));
        view->scrollToBottom();
        QCoreApplication::processEvents();
        QTRY_VERIFY(!m_server->fetches().isEmpty());
        QCOMPARE(m_server->fetches().first(), 50);
    }

    // Quick filter, example values with quotes, refresh; then the title sort.
    void filtersAndExamples()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("PEDIDOS"));
        TfrmVrl *w = current();
        QVERIFY(w);
        QCOMPARE(w->Session->FilterState, QStringLiteral("0.0."));
        auto *states = w->findChild<QComboBox *>(QStringLiteral("QuickFilter1"));
        QVERIFY(states);
        m_server->clearTrace();
        states->setCurrentIndex(4);
        QVERIFY(since().contains(
            QStringLiteral("EjeDir|INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (1, 'ESTADO = ''A''') ")));
        QCOMPARE(w->Session->FilterState, QStringLiteral("4.0."));
        for (int r = 0; r < data(w)->RecordCountFetched(); ++r)
            QCOMPARE(data(w)->ValueAt(r, data(w)->FieldByName(QStringLiteral("ESTADO"))->Index()).toString(),
                     QStringLiteral("A"));

        // Two example records; a date column is flagged.
        auto *grid = w->findChild<QDialog *>(QStringLiteral("FSelec"))->findChild<QTableWidget *>(QStringLiteral("SGSele"));
        grid->setColumnCount(3);
        int nombreRow = -1, fechaRow = -1;
        for (int r = 0; r < grid->rowCount(); ++r) {
            if (grid->item(r, 0)->text() == QStringLiteral("Nombre del cliente"))
                nombreRow = r;
            if (grid->item(r, 0)->text() == QStringLiteral("Fecha"))
                fechaRow = r;
        }
        QVERIFY(nombreRow >= 0 && fechaRow >= 0);
        grid->setItem(nombreRow, 1, new QTableWidgetItem(QStringLiteral("O'Brien")));
        grid->setItem(fechaRow, 1, new QTableWidgetItem(QStringLiteral("01/01/2025")));
        grid->setItem(nombreRow, 2, new QTableWidgetItem(QStringLiteral("Ana")));
        m_server->clearTrace();
        m_answer = ui::Answer::Yes;
        action(w, "Refrescar1")->trigger();
        QCOMPARE(m_boxes.value(0), QStringLiteral("Refrescar Datos"));
        QCOMPARE(m_errors, QStringList());
        QCOMPARE(w->windowTitle(), w->ClassLabel);
        const QStringList texts = since();
        const QStringList qbe = texts.filter(QStringLiteral("INTO vorel.RQBEX"));
        QCOMPARE(qbe.size(), 3);
        QVERIFY(qbe.at(0).startsWith(QStringLiteral("EjeDir|INSERT INTO vorel.RQBEX (QBEX_Reg, QBEX_Campo, QBEX_Valor, QBEX_Fecha) VALUES (1,'")));
        QVERIFY(qbe.contains(QStringLiteral("EjeDir|INSERT INTO vorel.RQBEX (QBEX_Reg, QBEX_Campo, QBEX_Valor, QBEX_Fecha) VALUES (1,'NOMCLIENTE', 'O''Brien',0)")));
        QVERIFY(qbe.contains(QStringLiteral("EjeDir|INSERT INTO vorel.RQBEX (QBEX_Reg, QBEX_Campo, QBEX_Valor, QBEX_Fecha) VALUES (1,'FECHA', '01/01/2025',1)")));
        QCOMPARE(qbe.at(2), QStringLiteral("EjeDir|INSERT INTO vorel.RQBEX (QBEX_Reg, QBEX_Campo, QBEX_Valor, QBEX_Fecha) VALUES (2,'NOMCLIENTE', 'Ana',0)"));

        // Refresh answered No sends nothing.
        m_server->clearTrace();
        m_answer = ui::Answer::No;
        action(w, "Refrescar1")->trigger();
        QCOMPARE(since(), QStringList());

        // Sort dialog order reaches the server.
        grid->setColumnCount(2);
        for (int r = 0; r < grid->rowCount(); ++r)
            grid->setItem(r, 1, new QTableWidgetItem());
        states->setCurrentIndex(0);
        auto *fuente = w->findChild<QListWidget *>(QStringLiteral("Fuente"));
        auto *destino = w->findChild<QListWidget *>(QStringLiteral("Destino"));
        m_server->clearTrace();
        onNextModal([&](QDialog *d) {
            for (const char *label : {"Fecha", "Cliente"}) {
                fuente->setCurrentItem(fuente->findItems(QLatin1String(label), Qt::MatchExactly).first());
                d->findChild<QAction *>(QStringLiteral("Aceptar1")); // present
                QMetaObject::invokeMethod(d->findChild<QWidget *>(QStringLiteral("BFteDno")), "click");
            }
            destino->item(0)->setCheckState(Qt::Checked);
            d->findChild<QAction *>(QStringLiteral("Aceptar1"))->trigger();
        });
        action(w, "Ordenar1")->trigger();
        QVERIFY2(since().contains(QStringLiteral(
                     "EjeDir|INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (-1, 'FECHA DESC ,CLIENTE') ")),
                 qPrintable(since().join(QLatin1Char('\n'))));
        const int fecha = data(w)->FieldByName(QStringLiteral("FECHA"))->Index();
        QVERIFY(data(w)->ValueAt(0, fecha).toDateTime() >= data(w)->ValueAt(1, fecha).toDateTime());

        // Title sort: ascending on the client, again returns to the server's order.
        auto *view = w->findChild<QTableView *>(QStringLiteral("dbgModulo"));
        const int importe = data(w)->FieldByName(QStringLiteral("IMPORTE"))->Index();
        int column = -1;
        for (int c = 0; c < view->model()->columnCount(); ++c)
            if (view->model()->headerData(c, Qt::Horizontal).toString() == QStringLiteral("Importe"))
                column = c;
        QVERIFY(column >= 0);
        m_server->clearTrace();
        emit view->horizontalHeader()->sectionClicked(column);
        QCOMPARE(data(w)->IndexFieldNames(), QStringLiteral("IMPORTE"));
        QVERIFY(view->horizontalHeader()->isSortIndicatorShown());
        QCOMPARE(view->horizontalHeader()->sortIndicatorSection(), column);
        for (int r = 1; r < data(w)->RecordCountFetched(); ++r)
            QVERIFY(data(w)->ValueAt(r - 1, importe).toDouble() <= data(w)->ValueAt(r, importe).toDouble());
        emit view->horizontalHeader()->sectionClicked(column);
        QCOMPARE(data(w)->IndexFieldNames(), QString());
        QVERIFY(!view->horizontalHeader()->isSortIndicatorShown());
        QCOMPARE(since(), QStringList());
    }

    // Statistics against the database's own sums; export read back.
    void statisticsAndExport()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("FACTURAS"));
        TfrmVrl *w = current();
        QVERIFY(w);
        QStringList cells;
        onNextModal([&](QDialog *d) {
            auto *grid = d->findChild<QTableWidget *>(QStringLiteral("strGrid"));
            for (int r = 1; r < grid->rowCount() - 1; ++r)
                cells << grid->item(r, 0)->text() + QLatin1Char('|') + grid->item(r, 1)->text() + QLatin1Char('|')
                        + grid->item(r, 2)->text();
            cells << d->findChild<QLabel *>(QStringLiteral("Pan"))->text();
        });
        action(w, "Estadistico1")->trigger();
        QCOMPARE(m_boxes.value(0), QStringLiteral("Calcular Estadísticos"));
        const QList<QStringList> db = m_server->query(
            QStringLiteral("SELECT COUNT(*), SUM(TOTAL), MAX(TOTAL) FROM pFACTURAS_main"));
        QCOMPARE(cells.last(), db.at(0).at(0) + QStringLiteral(" Registros"));
        const QString total = cells.filter(QStringLiteral("Total|")).value(0);
        QCOMPARE(total, QStringLiteral("Total|") + StatisticText(db.at(0).at(1).toDouble(), true) + QLatin1Char('|')
                            + StatisticText(db.at(0).at(2).toDouble(), true));
        QVERIFY(data(w)->Eof());

        // Export: every row, display names, CR LF; ".csv" added.
        const QString file = m_work->filePath(QStringLiteral("facturas"));
        QString title;
        QStringList filters;
        ui::SetFileDialogHook([&](QFileDialog &d) {
            title = d.windowTitle();
            filters = d.nameFilters();
            return file;
        });
        const QString folder = QDir::currentPath();
        action(w, "GrabaraDisco1")->trigger();
        QCOMPARE(title, QStringLiteral("Guardar Como ..."));
        QCOMPARE(filters, (QStringList{"CSV (*.csv)", "Cualquier Archivo (*.*)"}));
        QCOMPARE(w->windowTitle(), file + QStringLiteral(".csv"));
        QCOMPARE(QDir::currentPath(), folder);

        // Again onto the file now there: replaced without a question. An
        // extension other than exactly "csv" gets ".csv" after it.
        const int boxes = int(m_boxes.size());
        const QString named = file + QStringLiteral(".csv");
        ui::SetFileDialogHook([&](QFileDialog &) { return named; });
        action(w, "GrabaraDisco1")->trigger();
        QCOMPARE(w->windowTitle(), named);
        QCOMPARE(int(m_boxes.size()), boxes);
        ui::SetFileDialogHook([&](QFileDialog &) { return file + QStringLiteral(".CSV"); });
        action(w, "GrabaraDisco1")->trigger();
        QCOMPARE(w->windowTitle(), file + QStringLiteral(".CSV.csv"));

        // A folder that is not there: the caption and a message say so.
        const QString nowhere = m_work->filePath(QStringLiteral("no-existe/facturas.csv"));
        ui::SetFileDialogHook([&](QFileDialog &) { return nowhere; });
        action(w, "GrabaraDisco1")->trigger();
        ui::SetFileDialogHook(nullptr);
        QCOMPARE(w->windowTitle(), QStringLiteral("No se pudo guardar ") + nowhere);
        QVERIFY(m_boxes.size() + m_errors.size() > boxes);
        QVERIFY(!QFileInfo::exists(nowhere));
        QFile f(file + QStringLiteral(".csv"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> rows = f.readAll().split('\n');
        QVERIFY(rows.first().startsWith("\"Factura\",\"Fecha\","));
        QVERIFY(rows.first().endsWith('\r'));
        QCOMPARE(rows.size() - 2, db.at(0).at(0).toInt()); // header, and the empty piece after the last CR LF

        // Read back by Python's csv module, the file is the class's rows.
        QProcess python;
        python.start(QStringLiteral("python3"),
                     {QStringLiteral("-c"),
                      QStringLiteral("import csv, json, sys\n"
                                     "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                                     "    print(json.dumps(list(csv.reader(f))))"),
                      file + QStringLiteral(".csv")});
        QVERIFY(python.waitForFinished(30000));
        QCOMPARE(python.exitCode(), 0);
        const QJsonArray read = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
        QStringList header;
        for (const QJsonValue &v : read.at(0).toArray())
            header << v.toString();
        QStringList labels;
        for (int f = 0; f < data(w)->FieldCount(); ++f)
            labels << data(w)->Fields(f)->DisplayName();
        QCOMPARE(header, labels);
        QHash<QString, QStringList> byInvoice;
        for (const QStringList &r : m_server->query(QStringLiteral("SELECT * FROM pFACTURAS_main")))
            byInvoice.insert(r.at(0), r);
        QCOMPARE(read.size() - 1, byInvoice.size());
        for (qsizetype r = 1; r < read.size(); ++r) {
            const QJsonArray row = read.at(r).toArray();
            const QStringList stored = byInvoice.value(row.at(0).toString());
            QCOMPARE(row.size(), stored.size());
            for (qsizetype c = 0; c < row.size(); ++c) {
                const QString shown = row.at(c).toString(), kept = stored.at(c);
                bool a = false, b = false;
                const double x = shown.toDouble(&a), y = kept.toDouble(&b);
                if (kept == QStringLiteral("<null>"))
                    QCOMPARE(shown, QString());
                else if (a && b)
                    QCOMPARE(x, y);
                else if (QDate::fromString(kept.left(10), QStringLiteral("yyyy-MM-dd")).isValid())
                    QCOMPARE(QDate::fromString(shown.left(10), QStringLiteral("dd/MM/yyyy")),
                             QDate::fromString(kept.left(10), QStringLiteral("yyyy-MM-dd")));
                else
                    QCOMPARE(shown, kept);
            }
        }
    }

    // A lookup filter starts on the key its third line names; the choices
    // of the quick filters come back with a kept entry of the history.
    void filterDefaultsAndRestoredChoices()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("COMPRAS"), QStringLiteral("PRODUCTOS"));
        TfrmVrl *w = current();
        QVERIFY(w);
        auto *families = w->findChild<QComboBox *>(QStringLiteral("QuickFilter5"));
        QVERIFY(families);
        const QList<QStringList> beb =
            m_server->query(QStringLiteral("SELECT FAMI_Nombre FROM TFAMILIAS WHERE FAMI_Familia = 'BEB'"));
        QCOMPARE(families->currentText(), beb.at(0).at(0));
        QCOMPARE(families->toolTip(), QStringLiteral("Familia de productos"));
        QVERIFY(since().contains(QStringLiteral("SELECT * FROM vorel.TFAMILIAS")));
        QVERIFY(since().contains(
            QStringLiteral("EjeDir|INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (5, 'FAMILIA = ''BEB''') ")));
        QVERIFY(since().contains(
            QStringLiteral("EjeDir|INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (6, 'ACTIVO = 1') ")));
        QCOMPARE(w->Session->FilterState, QString::number(families->currentIndex()) + QStringLiteral(".0."));
        const int familia = data(w)->FieldByName(QStringLiteral("FAMILIA"))->Index();
        for (int r = 0; r < data(w)->RecordCountFetched(); ++r)
            QCOMPARE(data(w)->ValueAt(r, familia).toString(), QStringLiteral("BEB"));
        closeAll();

        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("PEDIDOS"));
        w = current();
        w->findChild<QComboBox *>(QStringLiteral("QuickFilter1"))->setCurrentIndex(2);
        QCOMPARE(w->Session->FilterState, QStringLiteral("2.0."));
        QVERIFY(!data(w)->IsEmpty());
        for (QAction *a : w->findChild<QMenu *>(QStringLiteral("popRelF"))->actions())
            if (a->text().endsWith(QStringLiteral("neas de pedido")))
                a->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(current()->ClassId, QStringLiteral("LINEAS"));
        QCOMPARE(current()->Session->FilterState, QString());
        m_server->clearTrace();
        current()->findChild<QToolButton *>(QStringLiteral("bRelB"))->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        w = current();
        QCOMPARE(w->ClassId, QStringLiteral("PEDIDOS"));
        QCOMPARE(w->findChild<QComboBox *>(QStringLiteral("QuickFilter1"))->currentIndex(), 2);
        QCOMPARE(w->findChild<QComboBox *>(QStringLiteral("QuickFilter2"))->currentIndex(), 0);
        QCOMPARE(w->Session->FilterState, QStringLiteral("2.0."));
        QVERIFY(since().filter(QStringLiteral("RVFILRAP")).isEmpty());
    }

    // A method of the list window runs from the class's own library: a
    // failing one leaves the list open, one that opens a window replaces it.
    void methodRunsFromTheClassLibrary()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
        QPointer<TfrmVrl> list = current();
        QVERIFY(list);
        const QString library = QDir::current().filePath(QStringLiteral("CLIENTES.so"));
        QVERIFY(QFile::copy(QStringLiteral(VOREL_CLIENTES_LIBRARY), library));
        const auto removeLibrary = qScopeGuard([&] { QFile::remove(library); });

        m_server->clearTrace();
        action(list, "IMPRIMIR")->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(m_errors.size(), 1);
        QVERIFY2(m_errors.first().contains(QStringLiteral("La impresora no responde")), qPrintable(m_errors.first()));
        QVERIFY(list);
        QCOMPARE(current(), list.data());
        QVERIFY(since().contains(QStringLiteral("RollBackTran")));

        m_errors.clear();
        m_server->clearTrace();
        action(list, "EDITAR")->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(m_errors, QStringList());
        QVERIFY(!list);
        QCOMPARE(m_area->subWindowList().size(), 1);
        QCOMPARE(current()->MethodId, QStringLiteral("EDITAR"));
        QCOMPARE(since().first(), QStringLiteral("StartTran"));
        QVERIFY(since().contains(QStringLiteral("CommitTran")));
        QVERIFY(!since().filter(QStringLiteral("CUSO_Clase= 'CLIENTES'   And CUSO_Metodo= 'EDITAR' ")).isEmpty());
    }

    // Statistics of a class without statistics columns, and of no rows.
    void statisticsOfNothing()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("TARIFAS"));
        TfrmVrl *w = current();
        QVERIFY(w);
        int rows = -1;
        QString pan;
        onNextModal([&](QDialog *d) {
            rows = d->findChild<QTableWidget *>(QStringLiteral("strGrid"))->rowCount();
            pan = d->findChild<QLabel *>(QStringLiteral("Pan"))->text();
        });
        action(w, "Estadistico1")->trigger();
        QCOMPARE(rows, 2); // the titles and the spare row
        const QString count = m_server->query(QStringLiteral("SELECT COUNT(*) FROM pTARIFAS_main")).at(0).at(0);
        QCOMPARE(pan, count + QStringLiteral(" Registros"));
        closeAll();

        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("FACTURAS"));
        w = current();
        auto *grid = w->findChild<QDialog *>(QStringLiteral("FSelec"))->findChild<QTableWidget *>(QStringLiteral("SGSele"));
        for (int r = 0; r < grid->rowCount(); ++r)
            if (grid->item(r, 0)->text() == QStringLiteral("Nombre del cliente"))
                grid->setItem(r, 1, new QTableWidgetItem(QStringLiteral("Nadie con este nombre")));
        action(w, "Refrescar1")->trigger();
        QVERIFY(data(w)->IsEmpty());
        m_boxes.clear();
        action(w, "Estadistico1")->trigger();
        QCOMPARE(m_boxes, (QStringList{"Calcular Estadísticos", "No hay Registros"}));
        QCOMPARE(w->findChild<QLabel *>(QStringLiteral("sbPanel0"))->text(), QStringLiteral("0 Registros"));
    }

    // Drill two steps down, back without a query, forward again, and a move
    // of the row dropping the forward part.
    void drillDownChain()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
        TfrmVrl *clientes = current();
        QVERIFY(clientes);
        TSnVorel *session = clientes->Session;
        const QString cliente = data(clientes)->FieldByName(QStringLiteral("CLIENTE"))->AsString();
        auto *pop = clientes->findChild<QMenu *>(QStringLiteral("popRelF"));
        QVERIFY(pop && pop->actions().size() == 2);
        QAction *toOrders = nullptr;
        for (QAction *a : pop->actions())
            if (a->text() == QStringLiteral("Código -> Pedidos de venta"))
                toOrders = a;
        QVERIFY(toOrders);
        m_server->clearTrace();
        toOrders->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(m_errors, QStringList());
        TfrmVrl *pedidos = current();
        QVERIFY(pedidos && pedidos->ClassId == QStringLiteral("PEDIDOS"));
        QVERIFY(since().contains(QStringLiteral("EjeDir|INSERT INTO vorel.RVFILRAP (VFIL_Valor) VALUES ('CLIENTE= ''")
                                 + cliente + QStringLiteral("''')")));
        QCOMPARE(m_area->subWindowList().size(), 1);
        QVERIFY(!data(pedidos)->IsEmpty());

        for (QAction *a : pedidos->findChild<QMenu *>(QStringLiteral("popRelF"))->actions())
            if (a->text().endsWith(QStringLiteral("neas de pedido"))) {
                a->trigger();
                break;
            }
        QCOMPARE(m_errors, QStringList());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(current()->ClassId, QStringLiteral("LINEAS"));
        QCOMPARE(session->ClassHistory.Count(), 3);

        m_server->clearTrace();
        current()->findChild<QToolButton *>(QStringLiteral("bRelB"))->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(current()->ClassId, QStringLiteral("PEDIDOS"));
        QVERIFY(since().filter(QStringLiteral("SELECT * FROM TABLE")).isEmpty());
        QCOMPARE(session->HistoryIndex, 1);
        current()->findChild<QToolButton *>(QStringLiteral("bRelF"))->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(current()->ClassId, QStringLiteral("LINEAS"));
        current()->findChild<QToolButton *>(QStringLiteral("bRelF"))->click(); // at the end: nothing
        QCOMPARE(current()->ClassId, QStringLiteral("LINEAS"));

        current()->findChild<QToolButton *>(QStringLiteral("bRelB"))->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        TfrmVrl *back = current();
        QCOMPARE(back->ClassId, QStringLiteral("PEDIDOS"));
        QVERIFY(data(back)->RecordCountFetched() > 1);
        data(back)->MoveTo(1);
        QCOMPARE(session->ClassHistory.Count(), 2);
        m_server->clearTrace();
        current()->findChild<QToolButton *>(QStringLiteral("bRelF"))->click(); // nothing ahead any more
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(current(), back);
        QVERIFY(since().isEmpty());
    }

    // Each action of the list window sends the same requests, in the same
    // order, whether its requests wait for their answers or not, and shows
    // the same rows and the same failure.
    void pipelinedAsWaited()
    {
        m_server->exec(QStringLiteral("INSERT INTO TCOLFILTROS (COLF_Filtro, COLF_Orden, COLF_Col, COLF_Expr) "
                                      "VALUES (1, 99, 'Roto', 'ESTADO = = 1')"));
        const auto cleanupRow = qScopeGuard([this] {
            m_connection->SetPipelining(true);
            m_server->exec(QStringLiteral("DELETE FROM TCOLFILTROS WHERE COLF_Filtro = 1 AND COLF_Orden = 99"));
        });
        const auto browse = [this](bool pipelined) {
            m_connection->SetPipelining(pipelined);
            m_errors.clear();
            m_boxes.clear();
            const qsizetype from = m_server->trace().size();
            QStringList seen;
            const auto rows = [&](const char *step) {
                seen << QStringLiteral("%1: %2 rows").arg(QLatin1String(step)).arg(data(current())->RecordCountFetched());
            };
            new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("PEDIDOS"));
            TfrmVrl *w = current();
            rows("open");
            auto *states = w->findChild<QComboBox *>(QStringLiteral("QuickFilter1"));
            states->setCurrentIndex(1);
            rows("quick filter");
            auto *grid = w->findChild<QDialog *>(QStringLiteral("FSelec"))->findChild<QTableWidget *>(QStringLiteral("SGSele"));
            grid->setColumnCount(2);
            grid->setItem(0, 1, new QTableWidgetItem(QStringLiteral("1")));
            m_answer = ui::Answer::Yes;
            action(w, "Refrescar1")->trigger();
            rows("example");
            grid->setItem(0, 1, new QTableWidgetItem());
            auto *fuente = w->findChild<QListWidget *>(QStringLiteral("Fuente"));
            onNextModal([&](QDialog *d) {
                fuente->setCurrentItem(fuente->findItems(QStringLiteral("Fecha"), Qt::MatchExactly).first());
                QMetaObject::invokeMethod(d->findChild<QWidget *>(QStringLiteral("BFteDno")), "click");
                d->findChild<QAction *>(QStringLiteral("Aceptar1"))->trigger();
            });
            action(w, "Ordenar1")->trigger();
            rows("sort");
            for (QAction *a : w->findChild<QMenu *>(QStringLiteral("popRelF"))->actions())
                if (a->text().endsWith(QStringLiteral("neas de pedido"))) {
                    a->trigger();
                    break;
                }
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            rows("drill-down");
            current()->findChild<QToolButton *>(QStringLiteral("bRelB"))->click();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            rows("back");
            // An entry whose condition the server refuses: the open fails.
            states = current()->findChild<QComboBox *>(QStringLiteral("QuickFilter1"));
            states->setCurrentIndex(states->findText(QStringLiteral("Roto")));
            seen << m_errors << m_boxes;
            for (const QJsonObject &r : m_server->trace().mid(from)) {
                QJsonObject kept = r;
                kept.remove(QStringLiteral("cursor"));
                seen << QString::fromUtf8(QJsonDocument(kept).toJson(QJsonDocument::Compact));
            }
            closeAll();
            return seen;
        };
        const QStringList waited = browse(false);
        const QStringList pipelined = browse(true);
        QCOMPARE(pipelined, waited);
        QVERIFY2(!waited.filter(QRegularExpression(QStringLiteral("^ORA-"))).isEmpty(),
                 qPrintable(waited.join(QLatin1Char('\n'))));
    }

    // A drill value with a quote reaches the server with it doubled once
    // and restricts the rows to that value.
    void drillValueWithAQuote()
    {
        m_server->exec(QStringLiteral("UPDATE TCLIENTES SET CLIE_Nombre = 'Bar O''Brien' WHERE CLIE_Cliente = 7"));
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
        TfrmVrl *w = current();
        QVERIFY(w);
        auto *all = w->findChild<QComboBox *>(QStringLiteral("QuickFilter3"));
        all->setCurrentIndex(1); // "Todos": the customer may be one of those gone
        w->Session->DrillColumn = QStringLiteral("NOMBRE");
        w->Session->DrillValue = QStringLiteral("Bar O'Brien");
        m_server->clearTrace();
        action(w, "Refrescar1")->trigger();
        QCOMPARE(m_errors, QStringList());
        QVERIFY(since().contains(
            QStringLiteral("EjeDir|INSERT INTO vorel.RVFILRAP (VFIL_Valor) VALUES ('NOMBRE= ''Bar O''Brien''')")));
        QCOMPARE(data(w)->RecordCountFetched(), 1);
        QCOMPARE(data(w)->FieldByName(QStringLiteral("CLIENTE"))->AsInteger(), 7);
    }

    // The mended gateway faults under the browser.
    void failedStepsKeepTheirEntry()
    {
        new TSnVorel(m_connection.get(), nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
        TSnVorel *session = current()->Session;
        TClientDataSet *before = session->ModuleData;
        QVERIFY_THROWS_EXCEPTION(Exception, session->DrillDown(QStringLiteral("NOEXISTE.PEDIDOS.CLIENTE")));
        QCOMPARE(session->DrillColumn, QString());
        QCOMPARE(session->ModuleData, before);
        QCOMPARE(session->HistoryIndex, 0);
    }
};

QTEST_MAIN(TstListWindow)
#include "tst_listwindow.moc"
