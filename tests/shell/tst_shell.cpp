// The shell end to end against the reference server: what it sends, what it
// builds, what it shows.
#include "shelldriver.h"

#include "common/fileversion.h"
#include "common/platform.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "runtime/imagelist.h"
#include "shell/fmain.h"
#include "shell/fsplash.h"
#include "shell/outbar.h"
#include "shell/spanish.h"
#include "support/testserver.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

using namespace shelltest;
using vorel::shell::TFMain;

namespace {
const QString kCheckQuery = QStringLiteral(
    "Select\r\nGUIS_Gui GUI,\r\nGUIS_Fecha Actu\r\nFrom Vorel.TGUIS\r\nWHERE GUIS_Gui= 'WIN32'\r\n");
const QString kUseCaseLine = QStringLiteral(
    "  And EXISTS (SELECT CUSO_Clase FROM vorel.TCUSOS WHERE CUSO_GUI= 'WIN32' And CUSO_Clase= CLAR_Clase And "
    "CUSO_Activo= 1) \r\n");

QString userBarQuery(const QString &user)
{
    return QStringLiteral("SELECT \r\n ROLE_Rol, ROLE_Etiq, CLAR_Clase, NVL(CLAR_Etiq, CLAS_Etiq) CLAR_Etiq \r\n"
                          "FROM vorel.TROLES, Vorel.TUSUROL, Vorel.TCLAROL, Vorel.TCLASES \r\n"
                          "WHERE USUR_Usua= ")
           + user
           + QStringLiteral("\r\n  And USUR_Admin <> 2\r\n  And USUR_Rol= ROLE_Rol \r\n  And CLAR_Rol= ROLE_Rol \r\n"
                            "  And CLAR_Activo= 1 \r\n  And CLAR_Menu= 1 \r\n  And CLAS_Clase= CLAR_Clase \r\n")
           + kUseCaseLine + QStringLiteral("ORDER BY ROLE_Rol \r\n");
}

QString roleBarQuery(const QString &role)
{
    return QStringLiteral("SELECT \r\n ROLE_Rol, ROLE_Etiq, CLAR_Clase, NVL(CLAR_Etiq, CLAS_Etiq) CLAR_Etiq \r\n"
                          "FROM vorel.TROLES, Vorel.TCLAROL, Vorel.TCLASES \r\nWHERE ROLE_Rol= '")
           + role
           + QStringLiteral("' \r\n  And CLAR_Rol= ROLE_Rol \r\n  And CLAR_Activo= 1 \r\n  And CLAR_Menu= 1 \r\n"
                            "  And CLAS_Clase= CLAR_Clase \r\n")
           + kUseCaseLine;
}

QStringList startTexts(const QString &user, const QString &address)
{
    // dServer, asked before Login, is not traced.
    return {QStringLiteral("Login|%1|********|DEMO|%2").arg(user, address), kCheckQuery, QStringLiteral("MenIni"),
            QStringLiteral("SELECT USUR_Usua FROM vorel.TUSUROL WHERE USUR_Usua= ") + user
                + QStringLiteral(" And USUR_Admin <> 0"),
            QStringLiteral("SELECT \r\n USUM_Usua \r\nFROM vorel.TUSUMROL \r\nWHERE USUM_Usua= ") + user
                + QStringLiteral("\r\n")};
}

// The binary synchronisation has texts of its own; these tests look at the
// rest.
QStringList withoutSync(const QStringList &texts)
{
    QStringList out;
    for (const QString &t : texts) {
        const QString u = t.toUpper();
        if (!u.contains(QLatin1String("TBINS")) && !u.contains(QLatin1String("TPARAMS"))
            && !u.contains(QLatin1String("TBOTONES")))
            out << t;
    }
    return out;
}

QStringList actionTexts(const QList<QAction *> &actions)
{
    QStringList out;
    for (QAction *a : actions)
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

QStringList visibleMenus(QMenuBar *bar)
{
    QStringList out;
    for (QAction *a : bar->actions()) {
        if (a->isVisible())
            out << a->text();
    }
    return out;
}

QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// A module window that refuses to close when asked.
class Stubborn : public QMainWindow
{
public:
    bool asked = false;

protected:
    void closeEvent(QCloseEvent *e) override
    {
        asked = true;
        e->ignore();
    }
};
} // namespace

class TstShell : public QObject
{
    Q_OBJECT

    std::unique_ptr<vorel::test::TestServer> m_server;
    std::unique_ptr<QTemporaryDir> m_work;
    QString m_port;

    std::unique_ptr<TFMain> start(QList<LoginDriver::Step> steps, LoginDriver **driverOut = nullptr)
    {
        auto frame = std::make_unique<TFMain>();
        frame->SyncProgramFolder = m_work->filePath(QStringLiteral("prog"));
        frame->SyncShellFile = QDir(QStringLiteral(VOREL_BIN_DIR)).filePath(QStringLiteral("Vorel7"));
        static std::unique_ptr<LoginDriver> driver;
        driver = std::make_unique<LoginDriver>(std::move(steps));
        if (driverOut)
            *driverOut = driver.get();
        frame->FormCreate();
        return frame;
    }

    std::unique_ptr<TFMain> loginAs(const QString &user)
    {
        return start({fill(user, QStringLiteral("clave"), QStringLiteral("DEMO"), m_server->host(), m_port)});
    }

private Q_SLOTS:
    void initTestCase()
    {
        vorel::test::TestServer::Options o;
        o.oracleScripts << QStringLiteral(VOREL_SHELL_FIXTURE);
        m_server = std::make_unique<vorel::test::TestServer>(o);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_port = QString::number(m_server->port());
    }

    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        const QString root = m_work->path();
        QDir(root).mkpath(QStringLiteral("config"));
        QDir(root).mkpath(QStringLiteral("prog"));
        QDir(root).mkpath(QStringLiteral("win/System32"));
        qputenv("VOREL_CONFIG_DIR", QFile::encodeName(root + QStringLiteral("/config")));
        qputenv("SystemRoot", QFile::encodeName(root + QStringLiteral("/win")));
        qputenv("FAKE_CAMBIA_LOG", QFile::encodeName(root + QStringLiteral("/cambia.log")));
        qunsetenv("FAKE_CAMBIA_THROW");
        qunsetenv("FAKE_CAMBIA_USER");
        QDir::setCurrent(root);
        m_server->clearTrace();
    }

    void cleanup()
    {
        QDir::setCurrent(QDir::tempPath());
        m_work.reset();
    }

    void userWithTwoRoles()
    {
        Messages messages;
        auto frame = loginAs(QStringLiteral("9001"));
        QVERIFY(!frame->Terminated());
        QCOMPARE(messages.texts(), QStringList());

        QStringList expected = startTexts(QStringLiteral("9001"), frame->ClientAddress);
        expected << QStringLiteral("SELECT USUA_Nombre FROM TUSUARIOS WHERE USUA_Usua= 9001") << userBarQuery("9001");
        QCOMPARE(withoutSync(m_server->texts()), expected);

        // One page per granted role, in role order; only active menu classes
        // with an active use case, labels falling back to the class's.
        vorel::shell::TOutBar *bar = frame->OutBar;
        QCOMPARE(bar->PageCount(), 2);
        QCOMPARE(bar->PageCaption(0), QStringLiteral("Rol de prueba A"));
        QCOMPARE(bar->PageCaption(1), QStringLiteral("Rol de prueba B"));
        QWidget *a = bar->Page(0);
        QWidget *b = bar->Page(1);
        QCOMPARE(bar->ButtonCount(a), 2);
        QCOMPARE(bar->Button(a, 0)->text(), QStringLiteral("Uno en A"));
        QCOMPARE(bar->Button(a, 1)->text(), QStringLiteral("Clase Dos"));
        QVERIFY(bar->Button(a, 0)->icon().isNull());
        QCOMPARE(bar->ButtonCount(b), 1);
        QCOMPARE(bar->Button(b, 0)->text(), QStringLiteral("Dos en B"));
        QCOMPARE(frame->ItemId(a), QStringLiteral("ZT_A"));
        QCOMPARE(frame->ItemId(b), QStringLiteral("ZT_B"));
        QCOMPARE(frame->ItemId(bar->Button(a, 0)), QStringLiteral("ZTUNO"));
        QCOMPARE(frame->ItemId(bar->Button(a, 1)), QStringLiteral("ZTDOS"));
        QCOMPARE(frame->ItemId(bar->Button(b, 0)), QStringLiteral("ZTDOS"));

        // Administers a role: the entry on top of the file menu.
        QCOMPARE(actionTexts(frame->Archivo1->actions()),
                 (QStringList{"Admin &Usuarios", "Cambia &Paswd", "Cambia &eMail", "-", "&Salir"}));
        QVERIFY(!frame->mRol);
        QVERIFY(!frame->mUsuario);

        // The short caption, also after the bar set the long one.
        QCOMPARE(frame->windowTitle(), vorel::ui::ApplicationTitle() + QStringLiteral(" 9001@DEMO   ")
                                           + frame->SConect->Host() + QStringLiteral(":") + m_port);
        QVERIFY(frame->SConect->Connected());
        QVERIFY(!frame->Splash()->isVisible());
        QCOMPARE(vorel::ShortDateFormat(), QStringLiteral("DD/MM/YYYY"));
    }

    void administratorOnlyAndUserWithoutGrants()
    {
        Messages messages;
        {
            auto frame = loginAs(QStringLiteral("9002"));
            QCOMPARE(frame->OutBar->PageCount(), 0);
            QVERIFY(frame->mAdmUsu);
            QCOMPARE(frame->Archivo1->actions().first(), frame->mAdmUsu);
        }
        m_server->clearTrace();
        auto frame = loginAs(QStringLiteral("9004"));
        QCOMPARE(frame->OutBar->PageCount(), 0);
        QVERIFY(!frame->mAdmUsu);
        QCOMPARE(actionTexts(frame->Archivo1->actions()),
                 (QStringList{"Cambia &Paswd", "Cambia &eMail", "-", "&Salir"}));
        QCOMPARE(messages.texts(), QStringList());
    }

    void multiRoleUser()
    {
        Messages messages;
        auto frame = loginAs(QStringLiteral("9003"));
        QVERIFY(!frame->Terminated());

        const QString roles = QStringLiteral(
            "SELECT *  \r\nFROM vorel.TROLES   \r\nWHERE EXISTS \r\n"
            " (SELECT CUSO_Cuso FROM vorel.TMETROL, vorel.TCUSOS \r\n  WHERE METR_Metodo= CUSO_Metodo \r\n"
            "    And METR_Clase= CUSO_Clase \r\n    And METR_Rol= ROLE_Rol  \r\n    And CUSO_GUI= 'WIN32') \r\n"
            "ORDER BY ROLE_Rol \r\n");
        QCOMPARE(withoutSync(m_server->texts()), startTexts(QStringLiteral("9003"), frame->ClientAddress) << roles);

        QCOMPARE(actionTexts(frame->Archivo1->actions()),
                 (QStringList{"Cambiar &Usuario", "Cambiar &Rol", "Admin &Usuarios", "Cambia &Paswd", "Cambia &eMail",
                              "-", "&Salir"}));
        QCOMPARE(frame->OutBar->PageCount(), 0);

        // Every role with a method granted that has a use case of this kind,
        // active or not, in role order.
        const auto rows = m_server->query(QStringLiteral(
            "SELECT ROLE_Rol, ROLE_Etiq FROM TROLES WHERE EXISTS (SELECT 1 FROM TMETROL, TCUSOS WHERE "
            "METR_Metodo = CUSO_Metodo AND METR_Clase = CUSO_Clase AND METR_Rol = ROLE_Rol AND CUSO_GUI = 'WIN32') "
            "ORDER BY ROLE_Rol"));
        const QList<QAction *> entries = frame->mRol->actions();
        QCOMPARE(entries.size(), rows.size());
        for (int i = 0; i < rows.size(); ++i) {
            QCOMPARE(entries[i]->objectName(), rows[i][0]);
            QCOMPARE(entries[i]->text(), rows[i][1]);
        }
        QAction *roleB = frame->mRol->findChild<QAction *>(QStringLiteral("ZT_B"));
        QVERIFY(roleB);
        QVERIFY(!frame->mRol->findChild<QAction *>(QStringLiteral("ZT_C")));

        // Choosing a role: one page, all its active menu classes, whether the
        // user holds it or not; the caption stays.
        const QString caption = frame->windowTitle();
        for (int round = 0; round < 2; ++round) {
            m_server->clearTrace();
            frame->mRol->findChild<QAction *>(QStringLiteral("ZT_A"))->trigger();
            QCOMPARE(m_server->texts(), QStringList{roleBarQuery(QStringLiteral("ZT_A"))});
            QCOMPARE(frame->OutBar->PageCount(), 1);
            QCOMPARE(frame->OutBar->ButtonCount(frame->OutBar->Page(0)), 2);
        }
        roleB->trigger();
        QCOMPARE(frame->OutBar->PageCount(), 1);
        QCOMPARE(frame->OutBar->PageCaption(0), QStringLiteral("Rol de prueba B"));
        QCOMPARE(frame->OutBar->ButtonCount(frame->OutBar->Page(0)), 1);
        QCOMPARE(frame->windowTitle(), caption);

        // After the rebuilds a click reaches the ids of what is shown now.
        frame->OutBar->SetActivePage(0);
        frame->OutBar->Button(frame->OutBar->Page(0), 0)->click();
        QStringList calls = readLines(m_work->filePath(QStringLiteral("cambia.log")));
        QCOMPARE(calls.size(), 1);
        QVERIFY2(calls[0].endsWith(QStringLiteral("|ZT_B|ZTDOS|")), qPrintable(calls[0]));

        // Acting as another user: that user's bar and the long caption.
        qputenv("FAKE_CAMBIA_USER", "9001");
        m_server->clearTrace();
        frame->mUsuario->trigger();
        QCOMPARE(m_server->texts(),
                 (QStringList{QStringLiteral("SELECT USUA_Nombre FROM TUSUARIOS WHERE USUA_Usua= 9001"),
                              userBarQuery("9001")}));
        QCOMPARE(frame->OutBar->PageCount(), 2);
        QCOMPARE(frame->windowTitle(), vorel::ui::ApplicationTitle() + QStringLiteral(" 9003@DEMO   ")
                                           + frame->SConect->Host() + QStringLiteral(":") + m_port
                                           + QStringLiteral(" Conectado como : 9001-Ana Prueba"));
        calls = readLines(m_work->filePath(QStringLiteral("cambia.log")));
        QCOMPARE(calls.last().section(QLatin1Char('|'), 0, 2), QStringLiteral("main|9003|2"));

        // A dialog that ends without a user changes nothing; an unknown user
        // ends the caption with "-".
        qputenv("FAKE_CAMBIA_USER", "");
        m_server->clearTrace();
        const QString longCaption = frame->windowTitle();
        frame->mUsuario->trigger();
        QCOMPARE(m_server->texts(), QStringList());
        QCOMPARE(frame->windowTitle(), longCaption);
        QCOMPARE(frame->OutBar->PageCount(), 2);
        frame->CambUsua(QStringLiteral("9999"));
        QVERIFY(frame->windowTitle().endsWith(QStringLiteral(" Conectado como : 9999-")));
        QCOMPARE(frame->OutBar->PageCount(), 0);
        QCOMPARE(messages.texts(), QStringList());
    }

    void useCasesAndAccountDialogs()
    {
        Messages messages;
        auto frame = loginAs(QStringLiteral("9001"));
        const QString conn = QString::number(quintptr(frame->SConect), 16);
        const QString images = QString::number(quintptr(frame->ImgBoton), 16);
        const QString log = m_work->filePath(QStringLiteral("cambia.log"));

        // A click beside the buttons does nothing.
        frame->OutBarButtonClick(frame->OutBar, -1);
        QVERIFY(readLines(log).isEmpty());

        frame->OutBar->SetActivePage(1);
        frame->OutBar->Button(frame->OutBar->Page(1), 0)->click();
        frame->OutBar->SetActivePage(0);
        frame->OutBar->Button(frame->OutBar->Page(0), 1)->click();
        frame->mAdmUsu->trigger();
        frame->mPaswd->trigger();
        frame->meMail->trigger();
        QCOMPARE(readLines(log), (QStringList{
                                     QStringLiteral("creaObj|%1|%2|ZT_B|ZTDOS|").arg(conn, images),
                                     QStringLiteral("creaObj|%1|%2|ZT_A|ZTDOS|").arg(conn, images),
                                     QStringLiteral("creaObj|%1|%2|ADMIN|USUROL|").arg(conn, images),
                                     QStringLiteral("main|9001|0|%1|").arg(conn),
                                     QStringLiteral("main|9001|1|%1|").arg(conn),
                                 }));
        QCOMPARE(messages.texts(), QStringList());

        // A failure inside the library: its text in a plain box, nothing else
        // changes.
        qputenv("FAKE_CAMBIA_THROW", "ORA-00942: la tabla o vista no existe");
        const QString caption = frame->windowTitle();
        frame->OutBar->Button(frame->OutBar->Page(0), 0)->click();
        frame->meMail->trigger();
        QCOMPARE(messages.shown.size(), 2);
        for (const Shown &s : messages.shown) {
            QCOMPARE(s.kind, vorel::ui::Kind::Message);
            QCOMPARE(s.title, vorel::ui::ApplicationTitle());
            QCOMPARE(s.text, QStringLiteral("ORA-00942: la tabla o vista no existe"));
        }
        QCOMPARE(frame->OutBar->PageCount(), 2);
        QCOMPARE(frame->windowTitle(), caption);
    }

    void failedLoginsEndTheProgram()
    {
        Messages messages;
        QString typedAgain;
        LoginDriver *driver = nullptr;
        const auto bad = fill(QStringLiteral("9001"), QStringLiteral("mala"), QStringLiteral("DEMO"),
                              m_server->host(), m_port, [&](vorel::shell::TFLogin *d) {
                                  typedAgain = d->lPaswd->text();
                              });
        auto frame = start({bad, bad, bad}, &driver);
        QVERIFY(frame->Terminated());
        QCOMPARE(driver->shown, 3);
        QCOMPARE(driver->unexpected, 0);
        // The rejection comes back with the server's own text, once per try.
        QCOMPARE(messages.shown.size(), 3);
        const QString serverText = messages.shown[0].text;
        QVERIFY(!serverText.isEmpty());
        for (const Shown &s : messages.shown) {
            QCOMPARE(s.kind, vorel::ui::Kind::Message);
            QCOMPARE(s.text, serverText);
        }
        QCOMPARE(typedAgain, QStringLiteral("mala"));
        // Three attempts, each through a fresh connection.
        const QStringList texts = m_server->texts();
        QCOMPARE(texts.filter(QStringLiteral("Login|9001|")).size(), 3);
        QVERIFY(!texts.contains(QStringLiteral("MenIni")));
        QVERIFY(!frame->SConect->Connected());
        // Nothing typed was kept; only the defaults were created.
        vorel::platform::TSettingsStore store;
        QVERIFY(store.OpenKey(QStringLiteral("Software\\Vorel7"), false));
        QCOMPARE(store.ReadString(QStringLiteral("Login")), QString());
        QCOMPARE(store.ReadString(QStringLiteral("Port")), QStringLiteral("211"));
    }

    void cancelEndsTheProgram()
    {
        Messages messages;
        LoginDriver *driver = nullptr;
        auto frame = start({cancel()}, &driver);
        QVERIFY(frame->Terminated());
        QCOMPARE(driver->shown, 1);
        QCOMPARE(messages.texts(), QStringList());
        QCOMPARE(m_server->texts(), QStringList());
    }

    void rejectedThenAccepted()
    {
        Messages messages;
        QStringList seen;
        auto frame = start({fill(QStringLiteral("9001"), QStringLiteral("mala"), QStringLiteral("DEMO"),
                                 m_server->host(), m_port),
                            [&](vorel::shell::TFLogin *d) {
                                seen << d->lLogin->text() << d->lPaswd->text() << d->ldBase->text()
                                     << d->lAddrs->text() << d->LPort->text();
                                d->lPaswd->setText(QStringLiteral("clave"));
                                d->bEntra->click();
                            }});
        QVERIFY(!frame->Terminated());
        QCOMPARE(seen, (QStringList{"9001", "mala", "DEMO", m_server->host(), m_port}));
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(frame->OutBar->PageCount(), 2);
        QVERIFY(frame->SConect->Connected());
    }

    void serverInTheClearRefusedThenCorrected()
    {
        vorel::test::TestServer::Options o;
        o.serveArgs = {QStringLiteral("--insecure-plaintext")};
        vorel::test::TestServer plain(o);
        QString error;
        QVERIFY2(plain.start(&error), qPrintable(error));
        Messages messages;
        const QString wrongPort = QString::number(plain.port());
        auto frame = start({fill(QStringLiteral("9001"), QStringLiteral("clave"), QStringLiteral("DEMO"), plain.host(),
                                 wrongPort),
                            fill(QStringLiteral("9001"), QStringLiteral("clave"), QStringLiteral("DEMO"),
                                 m_server->host(), m_port)});
        QVERIFY(!frame->Terminated());
        QCOMPARE(messages.texts(),
                 QStringList{QStringLiteral("El servidor de aplicaciones %1:%2 no usa una conexión cifrada (TLS): no se "
                                            "envió nada. Compruebe la dirección y el puerto, o actualice el servidor.")
                                 .arg(plain.host(), wrongPort)});
        // Not even the first server's dServer went out in the clear.
        QCOMPARE(plain.texts(), QStringList());
        QVERIFY(
            m_server->texts().contains(QStringLiteral("Login|9001|********|DEMO|") + vorel::platform::ClientAddress()));
    }

    void portThatIsNoNumber()
    {
        Messages messages;
        QString portSeen;
        LoginDriver *driver = nullptr;
        auto frame = start({fill(QStringLiteral("9001"), QStringLiteral("clave"), QStringLiteral("DEMO"),
                                 m_server->host(), QStringLiteral("21x1")),
                            [&](vorel::shell::TFLogin *d) {
                                portSeen = d->LPort->text();
                                d->LPort->setText(m_port);
                                d->bEntra->click();
                            }},
                           &driver);
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("El puerto debe ser un número entero")});
        QCOMPARE(portSeen, QStringLiteral("21x1"));
        QVERIFY(!frame->Terminated());
        QCOMPARE(frame->OutBar->PageCount(), 2);

        // Three bad ports are three failed attempts.
        Messages again;
        const auto bad = fill(QStringLiteral("9001"), QStringLiteral("clave"), QStringLiteral("DEMO"),
                              m_server->host(), QStringLiteral("puerto"));
        auto ended = start({bad, bad, bad}, &driver);
        QVERIFY(ended->Terminated());
        QCOMPARE(driver->unexpected, 0);
        QCOMPARE(again.shown.size(), 3);
    }

    void settingsWrittenAndReadBack()
    {
        Messages messages;
        loginAs(QStringLiteral("9001"));
        {
            vorel::platform::TSettingsStore store;
            QVERIFY(store.OpenKey(QStringLiteral("Software\\Vorel7"), false));
            QCOMPARE(store.ReadString(QStringLiteral("Login")), QStringLiteral("9001"));
            QCOMPARE(store.ReadString(QStringLiteral("dBase")), QStringLiteral("DEMO"));
            QCOMPARE(store.ReadString(QStringLiteral("Addrs")), m_server->host());
            QCOMPARE(store.ReadString(QStringLiteral("Port")), m_port);
            QVERIFY(store.ValueExists(QStringLiteral("Sitio")));
            QVERIFY(store.OpenKey(QStringLiteral("DEMO"), false));
            QVERIFY(store.ValueExists(QStringLiteral("VerBoton")));
        }
        QFile file(vorel::platform::TSettingsStore::StorageFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(!text.contains("clave"));

        // The next start offers what the last one stored.
        QStringList seen;
        auto frame = start({[&](vorel::shell::TFLogin *d) {
            seen << d->windowTitle() << d->lLogin->text() << d->lPaswd->text() << d->ldBase->text()
                 << d->lAddrs->text() << d->LPort->text();
            d->lPaswd->setText(QStringLiteral("clave"));
            d->bEntra->click();
        }});
        QCOMPARE(seen, (QStringList{QStringLiteral("Login ") + vorel::ui::ApplicationTitle(), "9001", "", "DEMO",
                                    m_server->host(), m_port}));
        QVERIFY(!frame->Terminated());
    }

    void greetingAndFailureAfterLogin()
    {
        m_server->exec(QStringLiteral("INSERT INTO TPARAMS (PARA_Param, PARA_Valor) VALUES ('MENINI', 'Bienvenido')"));
        m_server->exec(QStringLiteral("ALTER TABLE TUSUMROL RENAME TO TUSUMROL_X"));
        Messages messages;
        auto frame = loginAs(QStringLiteral("9001"));
        m_server->exec(QStringLiteral("ALTER TABLE TUSUMROL_X RENAME TO TUSUMROL"));
        m_server->exec(QStringLiteral("DELETE FROM TPARAMS WHERE PARA_Param = 'MENINI'"));

        // The greeting, then the failure of the menu set-up through the
        // application-level report; the window opens without a bar.
        QVERIFY(!frame->Terminated());
        QCOMPARE(messages.shown.size(), 2);
        QCOMPARE(messages.shown[0].kind, vorel::ui::Kind::Message);
        QCOMPARE(messages.shown[0].text, QStringLiteral("Bienvenido"));
        QCOMPARE(messages.shown[1].kind, vorel::ui::Kind::Error);
        QVERIFY(!messages.shown[1].text.isEmpty());
        QCOMPARE(frame->OutBar->PageCount(), 0);
        QVERIFY(!frame->windowTitle().contains(QLatin1Char('@')));
        QVERIFY(!frame->Splash()->isVisible());
    }

    // A start-up sends the same requests in the same order, and shows the
    // same messages and role bar, whether its requests wait for their
    // answers or not; also when the greeting or the menu set-up fails.
    void startUpPipelinedAsWaited_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("breaking"); // a table renamed away meanwhile
        QTest::newRow("two roles") << QStringLiteral("9001") << QString();
        QTest::newRow("several roles") << QStringLiteral("9003") << QString();
        QTest::newRow("greeting fails") << QStringLiteral("9001") << QStringLiteral("TPARAMS");
        QTest::newRow("menu fails") << QStringLiteral("9001") << QStringLiteral("TUSUMROL");
        QTest::newRow("login fails") << QStringLiteral("9999") << QString();
    }

    void startUpPipelinedAsWaited()
    {
        QFETCH(QString, user);
        QFETCH(QString, breaking);
        const auto startUp = [&](const char *pipelining) {
            qputenv("VOREL_PIPELINE", pipelining);
            if (!breaking.isEmpty())
                m_server->exec(QStringLiteral("ALTER TABLE %1 RENAME TO %1_X").arg(breaking));
            Messages messages;
            m_server->clearTrace();
            QStringList seen;
            {
                auto frame = start({fill(user, QStringLiteral("clave"), QStringLiteral("DEMO"), m_server->host(), m_port),
                                    [](vorel::shell::TFLogin *d) { d->reject(); }});
                seen << messages.texts() << QString::number(frame->OutBar->PageCount()) << frame->windowTitle();
            }
            if (!breaking.isEmpty())
                m_server->exec(QStringLiteral("ALTER TABLE %1_X RENAME TO %1").arg(breaking));
            return seen << m_server->texts();
        };
        const auto restore = qScopeGuard([] { qunsetenv("VOREL_PIPELINE"); });
        startUp("1"); // the files a first start-up downloads
        const QStringList waited = startUp("0");
        QCOMPARE(startUp("1"), waited);
    }

    void closingAsksAndDestroysChildren()
    {
        Messages messages;
        auto frame = loginAs(QStringLiteral("9001"));
        frame->show();
        QPointer<Stubborn> one = new Stubborn;
        QPointer<Stubborn> two = new Stubborn;
        frame->MdiArea->addSubWindow(one)->show();
        frame->MdiArea->addSubWindow(two)->show();

        messages.confirmAnswers << vorel::ui::Answer::No;
        frame->Salir1->trigger();
        QVERIFY(frame->isVisible());
        QVERIFY(one && two);
        QCOMPARE(frame->MdiArea->subWindowList().size(), 2);
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].kind, vorel::ui::Kind::Confirm);
        QCOMPARE(messages.shown[0].title, QStringLiteral("Confirmar"));
        QCOMPARE(messages.shown[0].text, QStringLiteral("Salir del Sistema"));

        messages.confirmAnswers << vorel::ui::Answer::Yes;
        QVERIFY(frame->close());
        QVERIFY(!one && !two);
        QCOMPARE(frame->MdiArea->subWindowList().size(), 0);
        QCOMPARE(frame->SqlLines.Count(), 0);
    }

    void childMenusMergeWhileActive()
    {
        Messages messages;
        auto frame = loginAs(QStringLiteral("9001"));
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
        const QStringList own{"&Archivo", "Ventanas", "Ayuda"};
        QCOMPARE(visibleMenus(frame->MMenu), own);

        auto makeChild = [](const QString &caption) {
            auto *w = new QMainWindow;
            QMenu *m = w->menuBar()->addMenu(caption);
            m->setProperty("vorelMergeGroup", 1);
            m->addAction(QStringLiteral("Recargar"));
            return w;
        };
        QMainWindow *first = makeChild(QStringLiteral("&Modulo"));
        QMainWindow *second = makeChild(QStringLiteral("&Otro"));
        QMdiSubWindow *s1 = frame->MdiArea->addSubWindow(first);
        QMdiSubWindow *s2 = frame->MdiArea->addSubWindow(second);
        s1->show();
        s2->show();
        frame->MdiArea->setActiveSubWindow(s1);
        QTRY_COMPARE(visibleMenus(frame->MMenu), (QStringList{"&Archivo", "&Modulo", "Ventanas", "Ayuda"}));
        QVERIFY(!first->menuBar()->isVisible());
        frame->MdiArea->setActiveSubWindow(s2);
        QTRY_COMPARE(visibleMenus(frame->MMenu), (QStringList{"&Archivo", "&Otro", "Ventanas", "Ayuda"}));
        delete s2;
        QTRY_COMPARE(visibleMenus(frame->MMenu), (QStringList{"&Archivo", "&Modulo", "Ventanas", "Ayuda"}));
        delete s1;
        QTRY_COMPARE(visibleMenus(frame->MMenu), own);
    }

    // The shipped demo database as it comes: the texts sent and what each
    // kind of user gets.
    void demoUsers()
    {
        vorel::test::TestServer demo;
        QString error;
        QVERIFY2(demo.start(&error), qPrintable(error));
        const QString port = QString::number(demo.port());
        Messages messages;
        const QString roles = QStringLiteral(
            "SELECT *  \r\nFROM vorel.TROLES   \r\nWHERE EXISTS \r\n"
            " (SELECT CUSO_Cuso FROM vorel.TMETROL, vorel.TCUSOS \r\n  WHERE METR_Metodo= CUSO_Metodo \r\n"
            "    And METR_Clase= CUSO_Clase \r\n    And METR_Rol= ROLE_Rol  \r\n    And CUSO_GUI= 'WIN32') \r\n"
            "ORDER BY ROLE_Rol \r\n");
        const QString grantedRoles = QStringLiteral(
            "SELECT DISTINCT ROLE_Rol FROM TROLES, TUSUROL, TCLAROL, TCLASES WHERE USUR_Usua = %1 AND USUR_Admin <> 2 "
            "AND USUR_Rol = ROLE_Rol AND CLAR_Rol = ROLE_Rol AND CLAR_Activo = 1 AND CLAR_Menu = 1 AND CLAS_Clase = "
            "CLAR_Clase AND EXISTS (SELECT 1 FROM TCUSOS WHERE CUSO_GUI = 'WIN32' AND CUSO_Clase = CLAR_Clase AND "
            "CUSO_Activo = 1) ORDER BY ROLE_Rol");
        for (const QString user : {"1001", "1002", "1003", "1004"}) {
            demo.clearTrace();
            auto frame = start({fill(user, QStringLiteral("clave"), QStringLiteral("DEMO"), demo.host(), port)});
            QVERIFY2(!frame->Terminated(), qPrintable(user));
            QStringList expected = startTexts(user, frame->ClientAddress);
            const bool multi = user == QLatin1String("1004");
            if (multi)
                expected << roles;
            else
                expected << QStringLiteral("SELECT USUA_Nombre FROM TUSUARIOS WHERE USUA_Usua= ") + user
                         << userBarQuery(user);
            QCOMPARE(withoutSync(demo.texts()), expected);

            QCOMPARE(bool(frame->mAdmUsu), user != QLatin1String("1001"));
            QCOMPARE(bool(frame->mRol), multi);
            QCOMPARE(bool(frame->mUsuario), multi);
            QStringList pages;
            for (int i = 0; i < frame->OutBar->PageCount(); ++i) {
                pages << frame->ItemId(frame->OutBar->Page(i));
                QVERIFY(frame->OutBar->ButtonCount(frame->OutBar->Page(i)) > 0);
            }
            QStringList granted;
            if (!multi) {
                for (const QStringList &row : demo.query(grantedRoles.arg(user)))
                    granted << row[0];
            }
            QCOMPARE(pages, granted);
            if (user == QLatin1String("1001") || user == QLatin1String("1002"))
                QVERIFY(!pages.isEmpty());
            if (multi)
                QCOMPARE(actionTexts(frame->Archivo1->actions()),
                         (QStringList{"Cambiar &Usuario", "Cambiar &Rol", "Admin &Usuarios", "Cambia &Paswd",
                                      "Cambia &eMail", "-", "&Salir"}));
        }
        // The demo greets every login; nothing else is shown.
        for (const Shown &s : messages.shown)
            QCOMPARE(s.kind, vorel::ui::Kind::Message);
        QCOMPARE(messages.shown.size(), 4);
    }

    void menusAndVersionBox()
    {
        TFMain frame;
        QCOMPARE(actionTexts(frame.MMenu->actions()), (QStringList{"&Archivo", "Ventanas", "Ayuda"}));
        QCOMPARE(actionTexts(frame.Ventanas1->actions()),
                 (QStringList{"&Apilar", "&Cascada", "&Siguiente", "&Anterior"}));
        QCOMPARE(actionTexts(frame.Ayuda1->actions()), (QStringList{"Modulo", "General", "Version"}));
        QCOMPARE(frame.Salir1->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
        QCOMPARE(frame.Siguiente1->shortcut(), QKeySequence(QStringLiteral("Ctrl+PgDown")));
        QCOMPARE(frame.Anterior1->shortcut(), QKeySequence(QStringLiteral("Ctrl+PgUp")));
        QCOMPARE(frame.Modulo1->shortcut(), QKeySequence(QStringLiteral("F1")));
        QCOMPARE(vorel::ui::MainWindow(), &frame);
        QCOMPARE(vorel::ui::MdiArea(), frame.MdiArea);
        QCOMPARE(frame.Panel1->height(), 5);

        // Image 25 of the list is the exit's.
        for (int i = 0; i < 26; ++i) {
            QPixmap p(16, 16);
            p.fill(i == 25 ? Qt::red : Qt::blue);
            frame.ImgBoton->Add(p);
        }
        QVERIFY(!frame.Salir1->icon().isNull());

        // The bar panel keeps its width when the frame grows.
        frame.resize(1000, 700);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QCOMPARE(frame.Panel2->width(), 143);
        QCOMPARE(frame.JvSplitter2->widget(0), frame.Panel2);
        QCOMPARE(frame.JvSplitter2->widget(1), frame.MdiArea);

        Messages messages;
        frame.Version1->trigger();
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("Vorel 3 Capas para Win32\rversion ")
                                               + vorel::FileVersionText(QCoreApplication::applicationFilePath())});
    }
    void statusWindow()
    {
        vorel::shell::TFSplash splash;
        QCOMPARE(splash.size(), QSize(402, 69));
        QCOMPARE(splash.minimumSize(), splash.maximumSize());
        const Qt::WindowFlags flags = splash.windowFlags();
        QVERIFY(flags & Qt::WindowTitleHint);
        QVERIFY(!(flags & (Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
                           | Qt::WindowCloseButtonHint)));
        QVERIFY(splash.children().isEmpty());
        splash.SetCaption(QStringLiteral("Conectando ..."));
        splash.ShowNow();
        QVERIFY(splash.isVisible());
        QCOMPARE(splash.windowTitle(), QStringLiteral("Conectando ..."));
        const QPoint off = splash.geometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY2(qAbs(off.x()) <= 2 && qAbs(off.y()) <= 2, qPrintable(QStringLiteral("%1,%2").arg(off.x()).arg(off.y())));
        splash.HideNow();
        QVERIFY(!splash.isVisible());
    }

    // The toolkit's own texts speak Spanish: standard buttons and the file
    // dialog.
    void spanishToolkitTexts()
    {
        QVERIFY(vorel::shell::InstallSpanishTranslations(QCoreApplication::instance()));
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Yes)->text().remove(QLatin1Char('&')), QStringLiteral("Sí"));
        QCOMPARE(box.button(QMessageBox::No)->text().remove(QLatin1Char('&')), QStringLiteral("No"));
        QCOMPARE(box.button(QMessageBox::Ok)->text().remove(QLatin1Char('&')), QStringLiteral("Aceptar"));
        QCOMPARE(box.button(QMessageBox::Cancel)->text().remove(QLatin1Char('&')), QStringLiteral("Cancelar"));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Save As"), QStringLiteral("Guardar como"));
        QCOMPARE(QLocale().language(), QLocale::Spanish);
    }
};

QTEST_MAIN(TstShell)
#include "tst_shell.moc"
