// The shell, the real Cambia library and the gateway together against the
// demo database: account dialogs reached from the file menu, the change of
// user rebuilding the bar, and a class opened from the bar.
#include "shelldriver.h"
#include "support/testserver.h"

#include "data/connection.h"
#include "shell/fmain.h"
#include "shell/outbar.h"
#include "runtime/ferror.h"
#include "runtime/frmvrl.h"

#include <QMdiArea>
#include <QMdiSubWindow>

#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

using namespace shelltest;
using vorel::shell::TFMain;

namespace {

// Runs `step` once on the first modal dialog named `name` that comes up.
class ModalDriver : public QObject
{
public:
    ModalDriver(const QString &name, std::function<void(QDialog *)> step)
        : m_name(name), m_step(std::move(step))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!d || d->objectName() != m_name || !m_step)
                return;
            auto step = std::move(m_step);
            m_step = nullptr;
            step(d);
        });
        m_timer.start(10);
    }
    bool done() const { return !m_step; }

private:
    QString m_name;
    std::function<void(QDialog *)> m_step;
    QTimer m_timer;
};

void type(QDialog *d, const char *edit, const QString &text)
{
    auto *e = d->findChild<QLineEdit *>(QLatin1String(edit));
    QVERIFY(e);
    e->setFocus();
    QTest::keyClicks(e, text);
}

} // namespace

class TstEndToEnd : public QObject
{
    Q_OBJECT

    std::unique_ptr<vorel::test::TestServer> m_server;
    std::unique_ptr<QTemporaryDir> m_work;

    std::unique_ptr<TFMain> loginAs(const QString &user)
    {
        auto frame = std::make_unique<TFMain>();
        frame->SyncProgramFolder = m_work->path();
        frame->SyncShellFile = QDir(QStringLiteral(VOREL_BIN_DIR)).filePath(QStringLiteral("Vorel7"));
        LoginDriver driver({fill(user, QStringLiteral("clave"), QStringLiteral("DEMO"), m_server->host(),
                                 QString::number(m_server->port()))});
        frame->FormCreate();
        return frame;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_server = std::make_unique<vorel::test::TestServer>();
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_work = std::make_unique<QTemporaryDir>();
        qputenv("VOREL_CONFIG_DIR", QFile::encodeName(m_work->filePath(QStringLiteral("config"))));
        qputenv("SystemRoot", QFile::encodeName(m_work->filePath(QStringLiteral("win"))));
        // The working folder is the installation's program folder, where the
        // shell finds the library by its bare name.
        QVERIFY(QDir::setCurrent(QStringLiteral(VOREL_BIN_DIR)));
    }

    void changeOfUserRebuildsTheBar()
    {
        Messages messages;
        auto frame = loginAs(QStringLiteral("1004"));
        QVERIFY(frame->mUsuario);
        QCOMPARE(frame->OutBar->PageCount(), 0);
        QCOMPARE(messages.texts().size(), 1); // the greeting
        messages.shown.clear();
        m_server->clearTrace();

        QString shownName;
        ModalDriver driver(QStringLiteral("FUsua"), [&](QDialog *d) {
            // Focus moves only within the active window: under load the
            // dialog may not be active yet when it first shows.
            d->activateWindow();
            QTest::qWaitForWindowActive(d);
            type(d, "nUsua", QStringLiteral("1001"));
            d->findChild<QLineEdit *>(QStringLiteral("nUsua"))->setFocus();
            d->findChild<QPushButton *>(QStringLiteral("btnOk"))->setFocus(); // leaving the field looks the user up
            shownName = d->findChild<QLabel *>(QStringLiteral("lUsua"))->text();
            d->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
        });
        frame->meMailClick(frame->mUsuario);
        QVERIFY(driver.done());
        QCOMPARE(shownName, QStringLiteral("Ana Martínez López"));
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("Cambio efectuado")});
        const QStringList texts = m_server->texts();
        QVERIFY(texts.contains(QStringLiteral("SELECT USUA_Nombre FROM TUSUARIOS WHERE USUA_Usua=1001")));
        QVERIFY(texts.contains(QStringLiteral("EjeDir|UPDATE VOREL.RSESION SET SESI_USUADer= 1001")));

        // The bar now shows the chosen user's roles; the caption names both.
        QCOMPARE(frame->OutBar->PageCount(), 1);
        QCOMPARE(frame->OutBar->PageCaption(0), QStringLiteral("Ventas"));
        QVERIFY2(frame->windowTitle().endsWith(QStringLiteral(" Conectado como : 1001-Ana Martínez López")),
                 qPrintable(frame->windowTitle()));
        QVERIFY(frame->windowTitle().contains(QStringLiteral(" 1004@DEMO   ")));

        // A class of the bar goes through creaObj and the gateway; without a
        // library of its own it opens in the generic browser Comun, which
        // lists the class for the role.
        m_server->clearTrace();
        messages.shown.clear();
        QStringList errors;
        vorel::TFError::SetShowHook([&](vorel::TFError &d) { errors << d.MessageText; });
        frame->OutBarButtonClick(frame->OutBar, 0);
        vorel::TFError::SetShowHook(nullptr);
        QCOMPARE(errors, QStringList());
        QCOMPARE(messages.texts(), QStringList());
        const QString check = m_server->texts().value(0);
        QVERIFY2(check.startsWith(QStringLiteral("SELECT BINS_Arch Arch, BINS_Vers FROM vorel.TBINS WHERE BINS_Arch= '"))
                     && check.endsWith(QStringLiteral(".dll'")),
                 qPrintable(check));
        QMdiSubWindow *sub = frame->MdiArea->currentSubWindow();
        QVERIFY(sub);
        auto *window = qobject_cast<vorel::TfrmVrl *>(sub->widget());
        QVERIFY(window);
        QVERIFY(window->inherits("vorel::TfrmVrlLis"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Consulta de ") + window->ClassLabel);
        QVERIFY(m_server->texts().contains(QStringLiteral("SELECT * FROM TABLE(p") + window->ClassId
                                           + QStringLiteral(".main('VENTAS'))")));
        sub->close();
    }

    void passwordChangeFromTheFileMenu()
    {
        Messages messages;
        auto frame = loginAs(QStringLiteral("1002"));
        messages.shown.clear();
        m_server->clearTrace();
        ModalDriver driver(QStringLiteral("FPaswd"), [&](QDialog *d) {
            type(d, "paswd", QStringLiteral("nueva'clave"));
            type(d, "confirma", QStringLiteral("nueva'clave"));
            d->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
        });
        frame->meMailClick(frame->mPaswd);
        QVERIFY(driver.done());
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("Cambio efectuado")});
        QVERIFY(m_server->texts().contains(
            QStringLiteral("EjeDir|UPDATE Vorel.TUsuarios SET USUA_Paswd= 'nueva''clave' WHERE USUA_Usua= 1002")));
        // Kept as a salted hash, and the new password logs in.
        const QString kept =
            m_server->query(QStringLiteral("SELECT USUA_Paswd FROM TUSUARIOS WHERE USUA_Usua = 1002")).value(0).value(0);
        QVERIFY2(kept.startsWith(QStringLiteral("$pbkdf2-sha256$")) && !kept.contains(QStringLiteral("nueva")),
                 qPrintable(kept));
        vorel::TSocketConnection check;
        check.SetHost(m_server->host());
        check.SetPort(m_server->port());
        check.Open();
        check.Call(QStringLiteral("Login"), {QStringLiteral("1002"), QStringLiteral("nueva'clave"), QStringLiteral("DEMO"),
                                             QStringLiteral("127.0.0.1")});
    }
};

QTEST_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
