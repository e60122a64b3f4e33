// The shell rides through a line that breaks: each fault of the relay,
// while the shell is idle, while a class opens, between the writes of a use
// case and during a walk. One message at most, for the action the fault hit;
// a new Login in the trace; no write repeated and no half transaction; the
// next action runs on the new session as if nothing happened.
#include "data/connection.h"
#include "data/dataset.h"
#include "data/datawalk.h"
#include "data/protocol.h"
#include "runtime/ui.h"
#include "server/net/tlscert.h"
#include "shell/fmain.h"
#include "shell/outbar.h"
#include "shell/shelldriver.h"
#include "support/faultproxy.h"
#include "support/testserver.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSslKey>
#include <QSslSocket>
#include <QThread>
#include <QSet>
#include <QTcpServer>
#include <atomic>
#include <optional>
#include <QTemporaryDir>
#include <QTest>
#include <QVariant>
#include <memory>

using namespace vorel;
using shelltest::LoginDriver;
using shelltest::Messages;
using Fault = test::FaultProxy::Fault;

Q_DECLARE_METATYPE(Fault)

namespace {

const QString kReconnected =
    QStringLiteral("Se perdió la conexión con el servidor; se ha vuelto a conectar. Repita la operación.");
const QString kRetry = QStringLiteral("Se intentará de nuevo en la próxima operación.");

// How long the shell waits for an answer here: a blackholed line is found
// by the request's own timeout.
constexpr int kTimeoutMs = 3000;

enum class Moment { Idle, ClassOpen, Writes, Walk };

QString momentName(Moment m)
{
    switch (m) {
    case Moment::Idle: return QStringLiteral("idle");
    case Moment::ClassOpen: return QStringLiteral("open");
    case Moment::Writes: return QStringLiteral("writes");
    case Moment::Walk: return QStringLiteral("walk");
    }
    return QString();
}

// A server that came back as another: with a certificate the client does
// not trust, or speaking another version of the protocol. On a thread of its
// own, since the client blocks while it waits.
class OtherServer : public QObject
{
public:
    enum class Face { Certificate, Version };
    explicit OtherServer(Face face)
        : m_face(face)
    {
        std::optional<QSslConfiguration> tls;
        if (face == Face::Certificate) {
            const QDateTime now = QDateTime::currentDateTimeUtc();
            const auto other =
                server::tls::makeSelfSigned({QStringLiteral("127.0.0.1")}, now.addDays(-1), now.addDays(30));
            QSslConfiguration c = test::TestServer::serverTls();
            c.setLocalCertificate(QSslCertificate(other.certificatePem));
            c.setPrivateKey(QSslKey(other.keyPem, QSsl::Ec));
            tls = c;
        }
        moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            this,
            [this, tls] {
                m_listener = tls ? new test::TlsListener(*tls, this) : new test::TlsListener(this);
                m_listener->listen(QHostAddress::LocalHost, 0);
                m_port = m_listener->serverPort();
                connect(m_listener, &QTcpServer::newConnection, this, [this] { accept(); });
            },
            Qt::BlockingQueuedConnection);
    }
    ~OtherServer() override
    {
        QMetaObject::invokeMethod(
            this, [this] { delete m_listener; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    quint16 port() const { return m_port; }
    // Bytes of the session the client sent once the TLS handshake stood.
    qint64 received() const { return m_received; }

private:
    void accept()
    {
        while (QTcpSocket *peer = m_listener->nextPendingConnection()) {
            auto *tls = static_cast<QSslSocket *>(peer);
            connect(tls, &QSslSocket::readyRead, this, [this, tls] {
                const QByteArray bytes = tls->readAll();
                m_received += bytes.size();
                if (m_face != Face::Version || m_answered.contains(tls))
                    return;
                m_answered.insert(tls);
                proto::Message hello;
                hello.type = proto::MsgType::HelloOk;
                hello.requestId = 1;
                hello.version = proto::kVersion + 1;
                tls->write(proto::encode(hello));
            });
        }
    }
    Face m_face;
    QThread m_thread;
    test::TlsListener *m_listener = nullptr;
    quint16 m_port = 0;
    std::atomic<qint64> m_received{0};
    QSet<QSslSocket *> m_answered;
};

// What the start-up says of the server at `port`: the failure of its first
// call.
QString startupFailure(quint16 port)
{
    TSocketConnection c;
    c.SetHost(QStringLiteral("127.0.0.1"));
    c.SetPort(port);
    c.SetTimeout(kTimeoutMs);
    try {
        c.Open();
        c.Call(QStringLiteral("dServer"));
    } catch (const vorel::Exception &e) {
        return e.message();
    }
    return QString();
}

} // namespace

Q_DECLARE_METATYPE(Moment)
Q_DECLARE_METATYPE(OtherServer::Face)

class TstReconnect : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TestServer> m_server;
    std::unique_ptr<test::FaultProxy> m_proxy;
    std::unique_ptr<QTemporaryDir> m_work;

    std::unique_ptr<shell::TFMain> startShell(quint16 port, const QString &user = QStringLiteral("1001"))
    {
        auto frame = std::make_unique<shell::TFMain>();
        frame->SyncProgramFolder = m_work->filePath(QStringLiteral("prog"));
        frame->SyncShellFile = QDir(QStringLiteral(VOREL_BIN_DIR)).filePath(QStringLiteral("Vorel7"));
        LoginDriver driver({shelltest::fill(user, QStringLiteral("clave"), QStringLiteral("DEMO"), m_server->host(),
                                            QString::number(port))});
        frame->FormCreate();
        frame->SConect->SetTimeout(kTimeoutMs);
        return frame;
    }

    // Clicks the role bar's button of `classId`; false when there is none.
    static bool clickClass(shell::TFMain &frame, const QString &classId)
    {
        for (int i = 0; i < frame.OutBar->PageCount(); ++i) {
            QWidget *page = frame.OutBar->Page(i);
            for (int j = 0; j < frame.OutBar->ButtonCount(page); ++j) {
                QAbstractButton *button = frame.OutBar->Button(page, j);
                if (frame.ItemId(button) == classId) {
                    frame.OutBar->SetActivePage(i);
                    button->click();
                    return true;
                }
            }
        }
        return false;
    }

    static int windows(shell::TFMain &frame) { return int(frame.MdiArea->subWindowList().size()); }

    QStringList logins() const { return m_server->texts().filter(QRegularExpression(QStringLiteral("^Login\\|"))); }

    // Descriptions that a write of the TARIFAS use case reached.
    int written() const
    {
        return m_server
            ->query(QStringLiteral("SELECT count(*) FROM TPRODUCTOS WHERE PROD_Descrip LIKE '%(1)%' OR PROD_Descrip "
                                   "LIKE '%(2)%'"))
            .value(0)
            .value(0)
            .toInt();
    }

private Q_SLOTS:
    void initTestCase()
    {
        VOREL_REQUIRE_BACKEND();
        test::TestServer::Options o;
        // A session left in a transaction by a line that went silent is
        // ended soon: the next use case waits for its write lock.
        o.serveArgs << QStringLiteral("--idle-in-transaction") << QStringLiteral("2");
        m_server = std::make_unique<test::TestServer>(o);
        VOREL_START(*m_server);
        m_server->exec(QStringLiteral("DELETE FROM TBINS"));
        m_server->exec(QStringLiteral("DELETE FROM TPARAMS WHERE PARA_Param = 'MENINI'"));
        // The writing class gets its button.
        m_server->exec(QStringLiteral("UPDATE TCUSOS SET CUSO_Activo = 1 WHERE CUSO_Clase = 'TARIFAS' AND "
                                      "CUSO_Metodo = 'main'"));
    }

    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        for (const char *dir : {"config", "prog", "win/System32", "datos"})
            QVERIFY(QDir(m_work->path()).mkpath(QLatin1String(dir)));
        qputenv("VOREL_CONFIG_DIR", QFile::encodeName(m_work->filePath(QStringLiteral("config"))));
        qputenv("SystemRoot", QFile::encodeName(m_work->filePath(QStringLiteral("win"))));
        QVERIFY(QDir::setCurrent(m_work->filePath(QStringLiteral("datos"))));
        m_proxy = std::make_unique<test::FaultProxy>(m_server->port());
    }

    void cleanup()
    {
        QCoreApplication::instance()->setProperty("vorelBetweenWrites", QVariant());
        m_proxy.reset();
        QDir::setCurrent(QDir::tempPath());
        m_work.reset();
    }

    void faults_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<Moment>("moment");
        QTest::addColumn<bool>("told"); // the action the fault hit says so
        for (Fault f : {Fault::Drop, Fault::Reset, Fault::Blackhole, Fault::Cut, Fault::Delay}) {
            for (Moment m : {Moment::Idle, Moment::ClassOpen, Moment::Writes, Moment::Walk}) {
                // A line closed while idle is seen closed before the next
                // action, which then opens the session first, unseen; a
                // silent one, or one cut in the middle of an answer, costs
                // the action that meets it.
                const bool told = f != Fault::Delay && !(m == Moment::Idle && (f == Fault::Drop || f == Fault::Reset));
                QTest::addRow("%s-%s", qPrintable(test::FaultProxy::name(f)), qPrintable(momentName(m)))
                    << f << m << told;
            }
        }
    }

    void faults()
    {
        QFETCH(Fault, fault);
        QFETCH(Moment, moment);
        QFETCH(bool, told);
        const bool breaks = fault != Fault::Delay;

        Messages messages;
        auto frame = startShell(m_proxy->port());
        QCOMPARE(frame->OutBar->PageCount(), 1);
        QVERIFY(clickClass(*frame, QStringLiteral("CLIENTES")));
        QCOMPARE(windows(*frame), 1);
        m_server->clearTrace();

        // Whatever the new window asks by itself is answered before the fault.
        QTest::qWait(500);
        std::function<void()> between = [&] { m_proxy->apply(fault); };
        const QString exportFile = m_work->filePath(QStringLiteral("datos/clientes.csv"));
        switch (moment) {
        case Moment::Idle:
            m_proxy->apply(fault);
            // The shell's loop runs meanwhile, as between two clicks.
            QTest::qWait(300);
            QVERIFY(clickClass(*frame, QStringLiteral("PEDIDOS")));
            break;
        case Moment::ClassOpen:
            m_proxy->arm(fault);
            QVERIFY(clickClass(*frame, QStringLiteral("PEDIDOS")));
            break;
        case Moment::Writes:
            QCoreApplication::instance()->setProperty("vorelBetweenWrites", QVariant::fromValue<void *>(&between));
            QVERIFY(clickClass(*frame, QStringLiteral("TARIFAS")));
            break;
        case Moment::Walk: {
            TClientDataSet data;
            data.SetProviderName(QStringLiteral("dspq0"));
            data.SetRemoteServer(frame->SConect);
            data.SetPacketRecords(2);
            data.SetCommandText(QStringLiteral("SELECT * FROM vorel.TCLIENTES"));
            data.Open();
            m_proxy->arm(fault);
            try {
                ExportCsv(&data, exportFile);
            } catch (const ConnectionFailure &e) {
                vorel::ui::ShowMessage(e.message());
            }
            QCOMPARE(QFile::exists(exportFile), !breaks);
            QCOMPARE(QDir(m_work->filePath(QStringLiteral("datos"))).entryList(QDir::Files | QDir::Hidden).size(),
                     breaks ? 0 : 1);
            break;
        }
        }
        QCOMPARE(messages.texts(), told ? QStringList{kReconnected} : QStringList());
        QCOMPARE(logins().size(), breaks ? 1 : 0);
        QCOMPARE(frame->SConect->Reconnections(), breaks ? 1 : 0);
        if (moment == Moment::Writes) {
            // The first write ran once, on the session the fault ended; the
            // second never ran anywhere.
            const QStringList texts = m_server->texts();
            QCOMPARE(texts.filter(QStringLiteral("' (1)'")).size(), 1);
            // A cut answer's request ran, and went with the rollback.
            QCOMPARE(texts.filter(QStringLiteral("' (2)'")).size(), breaks && fault != Fault::Cut ? 0 : 1);
        }

        // The next action runs on the session as it stands, without a word.
        m_proxy->heal();
        messages.shown.clear();
        const int before = windows(*frame);
        QVERIFY(clickClass(*frame, QStringLiteral("FACTURAS")));
        QCOMPARE(messages.texts(), QStringList());
        QCOMPARE(windows(*frame), before + 1);
        QCOMPARE(logins().size(), breaks ? 1 : 0);
        // Nothing of a use case cut short stands in the database.
        QCOMPARE(written(),
                 moment == Moment::Writes && !breaks
                     ? int(m_server->query(QStringLiteral("SELECT count(*) FROM TPRODUCTOS")).value(0).value(0).toInt())
                     : 0);
        if (moment == Moment::Writes && !breaks)
            m_server->exec(QStringLiteral("UPDATE TPRODUCTOS SET PROD_Descrip = replace(replace(PROD_Descrip, ' (1)', "
                                          "''), ' (2)', '')"));
    }

    // The server stopped and started again on its port (an update): the
    // next class button opens its class with no message, after a Login of
    // its own, with the same requests as the first time.
    void serverRestart()
    {
        quint16 port = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        test::TestServer::Options o;
        o.serveArgs << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:%1").arg(port);
        test::TestServer server(o);
        VOREL_START(server);
        server.exec(QStringLiteral("DELETE FROM TBINS"));
        server.exec(QStringLiteral("DELETE FROM TPARAMS WHERE PARA_Param = 'MENINI'"));

        Messages messages;
        auto frame = startShell(port);
        server.clearTrace();
        QVERIFY(clickClass(*frame, QStringLiteral("PEDIDOS")));
        const QStringList first = server.texts();
        QVERIFY(clickClass(*frame, QStringLiteral("CLIENTES")));

        QString why;
        QVERIFY2(server.restart(&why), qPrintable(why));
        QCOMPARE(server.port(), port);
        QTest::qWait(300);
        server.clearTrace();
        QVERIFY(clickClass(*frame, QStringLiteral("PEDIDOS")));
        QCOMPARE(messages.texts(), QStringList());
        QCOMPARE(windows(*frame), 3);
        const QStringList again = server.texts();
        QCOMPARE(again.value(0), QStringLiteral("Login|1001|********|DEMO|") + frame->ClientAddress);
        QCOMPARE(again.mid(1), first);
    }

    // A user acting on behalf of another after "Cambiar Usuario" goes on
    // doing so on the new session.
    void actingUserRestored()
    {
        Messages messages;
        // 1004 may act on behalf of anyone.
        auto frame = startShell(m_proxy->port(), QStringLiteral("1004"));
        const QString act = QStringLiteral("UPDATE VOREL.RSESION SET SESI_USUADer= 1007");
        frame->SConect->Call(QStringLiteral("EjeDir"), {act});
        frame->SConect->SetSessionRestore({act});
        m_server->clearTrace();
        m_proxy->apply(Fault::Drop);
        QTest::qWait(300);
        frame->AbreCuso(QStringLiteral("VENTAS"), QStringLiteral("PEDIDOS"));
        QCOMPARE(messages.texts(), QStringList());
        QCOMPARE(windows(*frame), 1);
        const QStringList texts = m_server->texts();
        const qsizetype login = texts.indexOf(QRegularExpression(QStringLiteral("Login\\|.*")));
        QVERIFY(login >= 0);
        QCOMPARE(texts.value(login + 1), QStringLiteral("EjeDir|") + act);
    }

    // The password changed meanwhile: the login dialog comes back for the
    // password alone, and the action goes on with it.
    void passwordChanged()
    {
        Messages messages;
        auto frame = startShell(m_proxy->port(), QStringLiteral("1007"));
        const auto restore = qScopeGuard(
            [this] { m_server->exec(QStringLiteral("UPDATE TUSUARIOS SET USUA_Paswd = 'clave' WHERE USUA_Usua = 1007")); });
        m_server->exec(QStringLiteral("UPDATE TUSUARIOS SET USUA_Paswd = 'nueva' WHERE USUA_Usua = 1007"));
        m_proxy->apply(Fault::Drop);
        QTest::qWait(300);
        bool fixed = false;
        LoginDriver driver({[&fixed](shell::TFLogin *d) {
            fixed = d->lLogin->isReadOnly() && d->lLogin->text() == QLatin1String("1007") && d->ldBase->isReadOnly();
            d->lPaswd->setText(QStringLiteral("nueva"));
            d->bEntra->click();
        }});
        QVERIFY(clickClass(*frame, QStringLiteral("PEDIDOS")));
        QCOMPARE(driver.shown, 1);
        QVERIFY(fixed);
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("Usuario o contraseña incorrectos")});
        QCOMPARE(windows(*frame), 1);
        QCOMPARE(frame->Password, QStringLiteral("nueva"));
    }

    // The server back with another certificate or another protocol: told
    // as the start-up tells it, no window lost, and once the right server is
    // back the next action opens its session.
    void otherServer_data()
    {
        QTest::addColumn<OtherServer::Face>("face");
        QTest::addRow("certificate") << OtherServer::Face::Certificate;
        QTest::addRow("version") << OtherServer::Face::Version;
    }

    void otherServer()
    {
        QFETCH(OtherServer::Face, face);
        OtherServer other(face);
        Messages messages;
        auto frame = startShell(m_proxy->port());
        QVERIFY(clickClass(*frame, QStringLiteral("PEDIDOS")));
        m_proxy->apply(Fault::Drop);
        m_proxy->setServerPort(other.port());
        QTest::qWait(300);
        const QString startup = startupFailure(m_proxy->port());
        QVERIFY(!startup.isEmpty());
        const qint64 sentAtStartup = other.received();
        QVERIFY(clickClass(*frame, QStringLiteral("CLIENTES")));
        const QString told = startup.endsWith(QLatin1Char('.')) ? startup : startup + QLatin1Char('.');
        QCOMPARE(messages.texts(), QStringList{told + QLatin1Char('\n') + kRetry});
        if (face == OtherServer::Face::Certificate)
            QCOMPARE(other.received(), sentAtStartup); // nothing sent to it, ever
        QCOMPARE(windows(*frame), 1);

        m_proxy->setServerPort(m_server->port());
        messages.shown.clear();
        QVERIFY(clickClass(*frame, QStringLiteral("CLIENTES")));
        QCOMPARE(messages.texts(), QStringList());
        QCOMPARE(windows(*frame), 2);
    }

    // The server back but full: told, nothing lost, and the next action
    // tries again.
    void refusedReconnection()
    {
        test::TestServer::Options o;
        o.serveArgs << QStringLiteral("--max-sessions") << QStringLiteral("1");
        o.database = m_server->databaseFile();
        test::TestServer small(o);
        VOREL_START(small);
        test::FaultProxy proxy(small.port());

        Messages messages;
        auto frame = startShell(proxy.port());
        QVERIFY(clickClass(*frame, QStringLiteral("PEDIDOS")));
        proxy.apply(Fault::Drop);
        QTest::qWait(300);
        // Another client takes the one session the server allows.
        TSocketConnection squatter;
        squatter.SetHost(small.host());
        squatter.SetPort(small.port());
        squatter.Open();
        squatter.Call(QStringLiteral("Login"), {QStringLiteral("1002"), QStringLiteral("clave"), QStringLiteral("DEMO"),
                                                QStringLiteral("127.0.0.1")});

        QVERIFY(clickClass(*frame, QStringLiteral("CLIENTES")));
        QCOMPARE(messages.shown.size(), 1);
        const QString full = messages.shown[0].text;
        QVERIFY2(full.startsWith(QStringLiteral("El servidor de aplicaciones está ocupado")), qPrintable(full));
        QVERIFY2(full.endsWith(kRetry), qPrintable(full));
        QCOMPARE(windows(*frame), 1);

        squatter.Close();
        QTest::qWait(300);
        messages.shown.clear();
        QVERIFY(clickClass(*frame, QStringLiteral("CLIENTES")));
        QCOMPARE(messages.texts(), QStringList());
        QCOMPARE(windows(*frame), 2);
    }
};

QTEST_MAIN(TstReconnect)
#include "tst_reconnect.moc"
