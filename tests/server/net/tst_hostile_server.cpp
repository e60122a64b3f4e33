// The reference server under peers that do not play by the rules: too many
// connections, no login, idle sessions, big frames before login, guessed
// passwords, statements beyond what a session may run, runaway queries, and
// processes killed in the middle of a transaction.
#include "data/connection.h"
#include "rawclient.h"
#include "support/testserver.h"

#include "common/exception.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QtEndian>
#include <QTest>
#include <QHash>
#include <QTcpSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <atomic>
#include <csignal>
#include <latch>
#include <cstdio>
#include <vector>
#include <memory>

using namespace vorel;
using namespace vorel::test;
using proto::MsgType;

namespace {

const QString kUser = QStringLiteral("7001");
const QString kPassword = QStringLiteral("clave7");
const char kHolder[] = "--hold-transaction";

TestServer::Options withArgs(const QStringList &args, bool captureLog = false)
{
    TestServer::Options o;
    o.demo = false;
    o.serveArgs = args;
    o.captureLog = captureLog;
    return o;
}

void addTestTable(TestServer &server)
{
    server.exec(QStringLiteral(
        "INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (7001, 'Prueba', 'clave7');"
        "INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (7002, 'Otra', 'clave8');"
        // Both administer: the tests write tables of their own making.
        "INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('PRUEBAS', 'Pruebas');"
        "INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (7001, 'PRUEBAS', 1);"
        "INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (7002, 'PRUEBAS', 1);"
        "CREATE TABLE TPRUEBA (PRUE_Id NUMBER(8) PRIMARY KEY, PRUE_Texto VARCHAR2(40));"
        "INSERT INTO TPRUEBA VALUES (1, 'uno');"));
}

int rows(TestServer &server, const QString &where)
{
    return server.query(QStringLiteral("SELECT count(*) FROM TPRUEBA WHERE ") + where).value(0).value(0).toInt();
}

QString ejeDir(RawClient &c, const QString &sql) { return c.error(c.call(QStringLiteral("EjeDir"), {sql})); }

// Bytes enough to make a row heavy, in the backend's own words; on
// PostgreSQL made once for all rows, which keeps the query within a short
// timeout on a busy machine.
QString heavyBlob(int bytes)
{
    return TestServer::postgres() ? QStringLiteral("(SELECT convert_to(repeat('x', %1), 'UTF8') FROM dual)").arg(bytes)
                                  : QStringLiteral("randomblob(%1)").arg(bytes);
}

// The helper process killed by the test: logs in, commits row id + 1, then
// in a transaction adds row id and opens a cursor, says so and waits to be
// killed.
int holdTransaction(quint16 port, int id)
{
    RawClient c;
    if (!c.connectTo(port) || !c.login(kUser, kPassword))
        return 2;
    const auto insert = [&](int row, const char *text) {
        return ejeDir(c, QStringLiteral("INSERT INTO TPRUEBA (PRUE_Id, PRUE_Texto) VALUES (%1, '%2')")
                             .arg(row)
                             .arg(QLatin1String(text)))
            .isEmpty();
    };
    if (c.call(QStringLiteral("StartTran")).type != MsgType::CallResult || !insert(id + 1, "confirmada")
        || c.call(QStringLiteral("CommitTran")).type != MsgType::CallResult)
        return 3;
    if (c.call(QStringLiteral("StartTran")).type != MsgType::CallResult || !insert(id, "sin confirmar")
        || c.open(QStringLiteral("dspq0"), QStringLiteral("SELECT PRUE_Id FROM TPRUEBA"), 1).type != MsgType::OpenResult)
        return 4;
    std::puts("ready");
    std::fflush(stdout);
    QThread::sleep(60);
    return 0;
}

} // namespace

class TstHostileServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { VOREL_REQUIRE_BACKEND(); }

    void traceIsForItsOwnerOnly()
    {
        TestServer server(withArgs({}));
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup
            | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeGroup | QFileDevice::ExeOther;
        QCOMPARE(QFileInfo(server.tracePath()).permissions() & others, QFileDevice::Permissions());
        // A trace left by an earlier run, readable by all, is narrowed.
        server.stop();
        QFile::setPermissions(server.tracePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                      | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        QVERIFY2(server.restart(&error), qPrintable(error));
        QCOMPARE(QFileInfo(server.tracePath()).permissions() & others, QFileDevice::Permissions());
    }

    void sessionsPastTheCapAreRefusedWithAReason()
    {
        TestServer server(withArgs({QStringLiteral("--max-sessions"), QStringLiteral("2")}));
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        addTestTable(server);
        auto a = std::make_unique<RawClient>();
        RawClient notLoggedIn, b;
        QVERIFY(a->connectTo(server.port()) && a->login(kUser, kPassword));
        // Connected but not logged in: no session, no place taken.
        QVERIFY(notLoggedIn.connectTo(server.port()));
        QVERIFY(b.connectTo(server.port()) && b.login(QStringLiteral("7002"), QStringLiteral("clave8")));

        const QString busy = QStringLiteral("El servidor de aplicaciones está ocupado: atiende ya el máximo de 2 "
                                            "sesiones. Inténtelo más tarde.");
        QCOMPARE(notLoggedIn.error(notLoggedIn.call(QStringLiteral("Login"), {kUser, kPassword, QStringLiteral("DEMO"),
                                                                             QStringLiteral("127.0.0.1")})),
                 busy);
        // The client shows the server's reason.
        TSocketConnection connection;
        connection.SetHost(QStringLiteral("127.0.0.1"));
        connection.SetPort(server.port());
        try {
            connection.Open();
            connection.Call(QStringLiteral("Login"), {kUser, kPassword, QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")});
            QFAIL("a session past the cap was accepted");
        } catch (const vorel::Exception &e) {
            QCOMPARE(e.message(), busy);
        }
        // A session that ends frees its place, for the peer already there.
        a.reset();
        QElapsedTimer timer;
        timer.start();
        bool accepted = false;
        while (!accepted && timer.elapsed() < 10000) {
            accepted = notLoggedIn.login(kUser, kPassword);
            if (!accepted)
                QTest::qWait(100);
        }
        QVERIFY(accepted);
    }

    void peersThatDoNotLogInAreDropped()
    {
        TestServer server(withArgs({QStringLiteral("--login-timeout"), QStringLiteral("1")}));
        VOREL_START(server);
        addTestTable(server);
        RawClient silent, greeted, loggedIn;
        QVERIFY(silent.connectTo(server.port(), false));
        QVERIFY(greeted.connectTo(server.port()));
        QVERIFY(loggedIn.connectTo(server.port()) && loggedIn.login(kUser, kPassword));
        QElapsedTimer timer;
        timer.start();
        const proto::Message why = greeted.receive(10000);
        QCOMPARE(why.type, MsgType::Error);
        QCOMPARE(why.text, QStringLiteral("Conexión cerrada por el servidor: no se inició sesión (Login) en 1 s"));
        QVERIFY(greeted.waitClosed());
        QVERIFY(silent.waitClosed());
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        // A session that logged in in time stays.
        QCOMPARE(loggedIn.call(QStringLiteral("MenIni")).type, MsgType::CallResult);
    }

    void idleSessionsAreClosedAndRolledBack()
    {
        TestServer server(withArgs({QStringLiteral("--idle-timeout"), QStringLiteral("1.5")}));
        VOREL_START(server);
        addTestTable(server);
        RawClient c;
        QVERIFY(c.connectTo(server.port()) && c.login(kUser, kPassword));
        QCOMPARE(c.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(ejeDir(c, QStringLiteral("INSERT INTO TPRUEBA VALUES (50, 'abierta')")), QString());
        // Requests keep a session alive.
        for (int i = 0; i < 3; ++i) {
            QTest::qWait(700);
            QCOMPARE(c.call(QStringLiteral("MenIni")).type, MsgType::CallResult);
        }
        const proto::Message why = c.receive(10000);
        QCOMPARE(why.text, QStringLiteral("Conexión cerrada por el servidor: sesión inactiva durante 1.5 s"));
        QVERIFY(c.waitClosed());
        QTRY_COMPARE_WITH_TIMEOUT(rows(server, QStringLiteral("1=1")), 1, 5000);
        QCOMPARE(rows(server, QStringLiteral("PRUE_Id = 50")), 0);
    }

    // SIGHUP reads the certificate again for the connections from then on;
    // SIGTERM ends a session still in its transaction at the drain bound,
    // telling it why, rolls the transaction back and ends the server.
    void signalsReloadAndStop()
    {
        QTemporaryDir own;
        const QString certificate = own.filePath(QStringLiteral("vorel-server.crt"));
        const QString key = own.filePath(QStringLiteral("vorel-server.key"));
        QVERIFY(QFile::copy(TestServer::certificateFile(), certificate));
        QVERIFY(QFile::copy(TestServer::keyFile(), key));
        TestServer server(withArgs({QStringLiteral("--tls-cert"), certificate, QStringLiteral("--tls-key"), key,
                                    QStringLiteral("--drain-timeout"), QStringLiteral("1")},
                                   true));
        VOREL_START(server);
        addTestTable(server);
        RawClient open;
        QVERIFY(open.connectTo(server.port()) && open.login(kUser, kPassword));
        QCOMPARE(open.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(ejeDir(open, QStringLiteral("INSERT INTO TPRUEBA VALUES (4242, 'sin confirmar')")), QString());

        QVERIFY(QFile::remove(certificate) && QFile::remove(key));
        QCOMPARE(TestServer::runServer({QStringLiteral("certificate"), QStringLiteral("--out"), own.path()}), 0);
        QCOMPARE(::kill(pid_t(server.pid()), SIGHUP), 0);
        QTRY_VERIFY_WITH_TIMEOUT(server.log().contains(QStringLiteral("read again")), 5000);
        RawClient stale;
        QVERIFY(!stale.connectTo(server.port())); // the old certificate is no longer the server's
        const QByteArray shared = qgetenv("VOREL_CA_FILE");
        qputenv("VOREL_CA_FILE", QFile::encodeName(certificate));
        RawClient renewed;
        const bool reached = renewed.connectTo(server.port()) && renewed.login(kUser, kPassword);
        qputenv("VOREL_CA_FILE", shared);
        QVERIFY(reached);
        // The session open before keeps its connection.
        QCOMPARE(open.call(QStringLiteral("dServer")).type, MsgType::CallResult);

        QCOMPARE(::kill(pid_t(server.pid()), SIGTERM), 0);
        QCOMPARE(open.receive(10000).text,
                 QStringLiteral("Conexión cerrada por el servidor: el servidor de aplicaciones se detiene"));
        QVERIFY(open.waitClosed());
        QTRY_VERIFY_WITH_TIMEOUT(!server.running(), 10000);
        QVERIFY(server.log().contains(QStringLiteral("\nstopped\n")));
        QCOMPARE(rows(server, QStringLiteral("PRUE_Id = 4242")), 0);
    }

    // SIGTERM drains: each session ends at its next transaction boundary,
    // the health page fails at once, and what is still open at the bound
    // is rolled back; a second signal ends everything after the request in
    // hand.
    void stopDrainsAtTransactionBoundaries_data()
    {
        QTest::addColumn<QString>("then"); // what the session in a transaction does after SIGTERM
        QTest::addColumn<int>("kept");     // of its rows 10 and 11
        QTest::newRow("commits: ends after it") << "commit" << 2;
        QTest::newRow("never ends: rolled back at the bound") << "nothing" << 0;
        QTest::newRow("a second signal: rolled back at once") << "SIGTERM" << 0;
    }
    void stopDrainsAtTransactionBoundaries()
    {
        QFETCH(QString, then);
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 metricsPort = probe.serverPort();
        probe.close();
        const int boundMs = then == QLatin1String("SIGTERM") ? 30000 : 4000;
        TestServer server(withArgs({QStringLiteral("--drain-timeout"), QString::number(boundMs / 1000),
                                    QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:%1").arg(metricsPort)},
                                   true));
        VOREL_START(server);
        addTestTable(server);
        RawClient idle, busy;
        for (RawClient *c : {&idle, &busy})
            QVERIFY(c->connectTo(server.port()) && c->login(kUser, kPassword));
        QCOMPARE(busy.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(ejeDir(busy, QStringLiteral("INSERT INTO TPRUEBA VALUES (10, 'antes')")), QString());
        auto health = [&] {
            QTcpSocket http;
            http.connectToHost(QHostAddress::LocalHost, metricsPort);
            if (!http.waitForConnected(5000))
                return QByteArray();
            http.write("GET /health HTTP/1.0\r\n\r\n");
            QByteArray answer;
            while (http.waitForReadyRead(5000))
                answer += http.readAll();
            return answer;
        };
        QVERIFY(health().startsWith("HTTP/1.0 200"));

        QElapsedTimer since;
        since.start();
        QCOMPARE(::kill(pid_t(server.pid()), SIGTERM), 0);
        const QString stopping =
            QStringLiteral("Conexión cerrada por el servidor: el servidor de aplicaciones se detiene");
        QCOMPARE(idle.receive(5000).text, stopping);
        QVERIFY2(since.elapsed() < 1500, qPrintable(QString::number(since.elapsed())));
        const QByteArray draining = health();
        QVERIFY2(draining.startsWith("HTTP/1.0 503") && draining.contains("\nvorel_draining 1\n")
                     && draining.contains("\nvorel_login_room 0\n"),
                 draining.constData());
        RawClient late;
        QVERIFY(!late.connectTo(server.port()));
        // The use case under way goes on.
        QCOMPARE(ejeDir(busy, QStringLiteral("INSERT INTO TPRUEBA VALUES (11, 'durante')")), QString());
        if (then == QLatin1String("commit")) {
            QCOMPARE(busy.call(QStringLiteral("CommitTran")).type, MsgType::CallResult);
            QCOMPARE(busy.receive(5000).text, stopping);
        } else if (then == QLatin1String("SIGTERM")) {
            QCOMPARE(::kill(pid_t(server.pid()), SIGTERM), 0);
            since.restart();
            QCOMPARE(busy.receive(5000).text, stopping);
            QVERIFY2(since.elapsed() < 1500, qPrintable(QString::number(since.elapsed())));
        } else {
            QCOMPARE(busy.receive(boundMs + 2000).text, stopping);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!server.running(), 3000);
        QVERIFY2(since.elapsed() <= boundMs + 1000, qPrintable(QString::number(since.elapsed())));
        QVERIFY(server.log().contains(QStringLiteral("\nstopped\n")));
        QTEST(rows(server, QStringLiteral("PRUE_Id IN (10, 11)")), "kept");
    }

    // Logins that fail on the server's side (its database gone) make the
    // health page fail, so that a director sends nobody there, until a
    // probe finds the database back.
    void healthFailsWhileLoginsCannotWork()
    {
        if (TestServer::postgres())
            QSKIP("the database is taken away as a file");
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 metricsPort = probe.serverPort();
        probe.close();
        TestServer server(withArgs({QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:%1").arg(metricsPort)}));
        VOREL_START(server);
        addTestTable(server);
        auto health = [&] {
            QTcpSocket http;
            http.connectToHost(QHostAddress::LocalHost, metricsPort);
            if (!http.waitForConnected(5000))
                return QByteArray();
            http.write("GET /health HTTP/1.0\r\n\r\n");
            QByteArray answer;
            while (http.waitForReadyRead(5000))
                answer += http.readAll();
            return answer;
        };
        QVERIFY(health().startsWith("HTTP/1.0 200"));
        const QString file = server.databaseFile();
        QVERIFY(QFile::rename(file, file + QStringLiteral(".away")));
        RawClient c;
        QVERIFY(c.connectTo(server.port()));
        QVERIFY(!c.login(kUser, kPassword));
        const QByteArray down = health();
        QVERIFY2(down.startsWith("HTTP/1.0 503") && down.contains("\nvorel_login_path_up 0\n"), down.constData());
        QVERIFY(QFile::rename(file + QStringLiteral(".away"), file));
        QTRY_VERIFY_WITH_TIMEOUT(health().startsWith("HTTP/1.0 200"), 6000);
        QVERIFY(c.login(kUser, kPassword));
    }

    // The figures a monitoring system scrapes count what the clients did.
    void metricsCountWhatWasDone()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const QString where = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        TestServer server(withArgs({QStringLiteral("--metrics"), where}));
        VOREL_START(server);
        addTestTable(server);
        RawClient c;
        QVERIFY(c.connectTo(server.port()) && c.login(kUser, kPassword));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(c.call(QStringLiteral("MenIni")).type, MsgType::CallResult);
        QCOMPARE(c.open(QStringLiteral("dspq0"), QStringLiteral("SELECT PRUE_Id FROM TPRUEBA")).rows.size(), 1);
        QVERIFY(ejeDir(c, QStringLiteral("INSERT INTO TNOEXISTE VALUES (1)")).startsWith(QStringLiteral("ORA-00942")));
        RawClient wrong;
        QVERIFY(wrong.connectTo(server.port()));
        QVERIFY(!wrong.login(kUser, QStringLiteral("mala")));

        auto get = [&](const QByteArray &path) {
            QTcpSocket http;
            http.connectToHost(QHostAddress::LocalHost, quint16(where.section(QLatin1Char(':'), 1).toUInt()));
            if (!http.waitForConnected(5000))
                return QByteArray();
            http.write("GET " + path + " HTTP/1.0\r\n\r\n");
            while (http.state() == QAbstractSocket::ConnectedState && http.waitForReadyRead(5000)) {
            }
            return http.readAll();
        };
        QVERIFY(get("/nada").startsWith("HTTP/1.0 404"));
        const QByteArray scrape = get("/metrics");
        QVERIFY(scrape.startsWith("HTTP/1.0 200"));
        QHash<QByteArray, double> value;
        for (const QByteArray &line : scrape.mid(scrape.indexOf("\r\n\r\n") + 4).split('\n'))
            if (!line.isEmpty() && !line.startsWith('#'))
                value.insert(line.left(line.lastIndexOf(' ')), line.mid(line.lastIndexOf(' ') + 1).toDouble());
        QCOMPARE(value.value("vorel_sessions"), 1.0);
        QCOMPARE(value.value("vorel_requests_total{kind=\"call\"}"), 4.0);
        QCOMPARE(value.value("vorel_request_duration_seconds_bucket{kind=\"call\",le=\"+Inf\"}"), 4.0);
        QCOMPARE(value.value("vorel_requests_total{kind=\"open\"}"), 1.0);
        QCOMPARE(value.value("vorel_errors_total{ora=\"ORA-00942\"}"), 1.0);
        QCOMPARE(value.value("vorel_login_failures_total"), 1.0);
        QCOMPARE(value.value("vorel_rows_sent_total"), 1.0);
        QVERIFY(value.value("vorel_bytes_sent_total") > 0);
    }

    // PostgreSQL restarted under sessions at work: the sessions whose
    // connection was cut are told so, the server stays up, and logins work
    // again as soon as PostgreSQL is back.
    void postgresRestartLeavesTheServerUp()
    {
        if (!TestServer::postgres())
            QSKIP("PostgreSQL's own restart");
        const QString cluster = qEnvironmentVariable("VOREL_TEST_PG_DIR");
        if (cluster.isEmpty())
            QSKIP("the cluster's folder is not known (tests/run.sh sets VOREL_TEST_PG_DIR)");
        TestServer server(withArgs({}));
        VOREL_START(server);
        addTestTable(server);
        std::vector<std::unique_ptr<RawClient>> working;
        for (int i = 0; i < 5; ++i) {
            working.push_back(std::make_unique<RawClient>());
            QVERIFY(working.back()->connectTo(server.port()) && working.back()->login(kUser, kPassword));
            QCOMPARE(working.back()->open(QStringLiteral("dspq0"), QStringLiteral("SELECT PRUE_Id FROM TPRUEBA")).type,
                     MsgType::OpenResult);
        }
        QProcess restart;
        restart.start(QStringLiteral("bash"), {QStringLiteral(VOREL_SOURCE_DIR "/tests/support/pgcluster.sh"),
                                               QStringLiteral("restart"), cluster});
        QVERIFY(restart.waitForFinished(90000));
        QVERIFY2(restart.exitCode() == 0, restart.readAllStandardError().constData());
        // A request that finds its pooled connection cut fails with why; the
        // session goes on, on a connection made anew.
        for (const auto &c : working) {
            const proto::Message m = c->open(QStringLiteral("dspq0"), QStringLiteral("SELECT PRUE_Id FROM TPRUEBA"));
            if (m.type == MsgType::Error)
                QVERIFY2(!m.text.isEmpty(), "a failure without a message");
            QCOMPARE(c->open(QStringLiteral("dspq0"), QStringLiteral("SELECT PRUE_Id FROM TPRUEBA")).type,
                     MsgType::OpenResult);
        }
        QVERIFY(server.running());
        RawClient again;
        QVERIFY(again.connectTo(server.port()) && again.login(kUser, kPassword));
        QCOMPARE(again.open(QStringLiteral("dspq0"), QStringLiteral("SELECT PRUE_Id FROM TPRUEBA")).rows.size(), 1);
        // The lock that marks the server's sessions alive went with its
        // connection, and is taken again: a server starting now would not
        // clear their working rows as a dead server's.
        const QString unmarked =
            QStringLiteral("SELECT count(*) FROM (SELECT DISTINCT server FROM vorel_work.sessions) s WHERE NOT EXISTS "
                           "(SELECT 1 FROM pg_locks l WHERE l.locktype = 'advisory' AND l.granted AND "
                           "l.classid::bigint = %1 AND l.objid::bigint = s.server::bigint)")
                .arg(0x566f72);
        QTRY_COMPARE_WITH_TIMEOUT(server.query(unmarked).value(0).value(0), QStringLiteral("0"), 10000);
        QCOMPARE(server.query(QStringLiteral("SELECT count(*) FROM vorel_work.sessions")).value(0).value(0),
                 QStringLiteral("6"));
    }

    void bigFramesOnlyAfterLogin()
    {
        TestServer server(withArgs({}));
        VOREL_START(server);
        addTestTable(server);
        // A header announcing 1 MiB before Login ends the connection at once,
        // before the bytes are even sent.
        RawClient before;
        QVERIFY(before.connectTo(server.port()));
        QByteArray header(4, '\0');
        qToBigEndian<quint32>(1u << 20, header.data());
        before.sendRaw(header + QByteArray(1000, 'x'));
        const proto::Message why = before.receive(10000);
        QCOMPARE(why.text, QStringLiteral("Conexión cerrada por el servidor: frame exceeds the size limit before Login"));
        QVERIFY(before.waitClosed());

        // After Login the same size is an ordinary request.
        RawClient after;
        QVERIFY(after.connectTo(server.port()) && after.login(kUser, kPassword));
        server.exec(QStringLiteral("CREATE TABLE TLARGO (LARG_Id NUMBER(8), LARG_Texto CLOB)"));
        const QString text(300000, QLatin1Char('a'));
        QCOMPARE(ejeDir(after, QStringLiteral("INSERT INTO TLARGO VALUES (60, '%1')").arg(text)), QString());
        QCOMPARE(server.query(QStringLiteral("SELECT count(*) FROM TLARGO WHERE length(LARG_Texto) = 300000")),
                 QList<QStringList>{{QStringLiteral("1")}});
    }

    // A reply sent to the server ends the connection before its rows are
    // built; the server serves the next peer.
    void repliesAreNotTakenAsRequests()
    {
        TestServer server(withArgs({}));
        VOREL_START(server);
        addTestTable(server);
        RawClient peer;
        QVERIFY(peer.connectTo(server.port()) && peer.login(kUser, kPassword));
        QByteArray payload(1, char(proto::MsgType::Rows));
        payload += QByteArray(4, '\0') + QByteArray(100000, '\x05');
        QByteArray header(4, '\0');
        qToBigEndian<quint32>(quint32(payload.size()), header.data());
        peer.sendRaw(header + payload);
        const proto::Message why = peer.receive(10000);
        QCOMPARE(why.text, QStringLiteral("Conexión cerrada por el servidor: not a request"));
        QVERIFY(peer.waitClosed());
        RawClient next;
        QVERIFY(next.connectTo(server.port()) && next.login(kUser, kPassword));
    }

    // A write does not cut short a cursor of the same session that holds
    // more than one answer could carry: it is still read to its end.
    void largeCursorsOutliveAWrite()
    {
        TestServer server(withArgs({}));
        VOREL_START(server);
        addTestTable(server);
        server.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM n WHERE i < 179) "
                                   "INSERT INTO TPRUEBA SELECT i, 'x' FROM n"));
        RawClient c;
        QVERIFY(c.connectTo(server.port()) && c.login(kUser, kPassword));
        const proto::Message first = c.open(
            QStringLiteral("dspq0"), QStringLiteral("SELECT PRUE_Id, %1 b FROM TPRUEBA WHERE PRUE_Id >= 100").arg(heavyBlob(1000000)), 5);
        QCOMPARE(first.type, MsgType::OpenResult);
        int seen = int(first.rows.size());
        QCOMPARE(ejeDir(c, QStringLiteral("UPDATE TPRUEBA SET PRUE_Texto = 'y' WHERE PRUE_Id = 1")), QString());
        for (bool eof = first.rows.eof; !eof;) {
            const proto::Message more = c.fetch(first.cursor, 5);
            QCOMPARE(more.type, MsgType::Rows);
            seen += int(more.rows.size());
            eof = more.rows.eof;
        }
        QCOMPARE(seen, 80); // 80 MB, more than the 64 MiB of one frame
    }

    // --delay-ms holds answers back as a long line does: requests sent one
    // after another are answered one delay later, not one delay each.
    void delayedAnswersAreInFlightTogether()
    {
        TestServer server(withArgs({QStringLiteral("--delay-ms"), QStringLiteral("300")}));
        VOREL_START(server);
        addTestTable(server);
        RawClient c;
        QVERIFY(c.connectTo(server.port()) && c.login(kUser, kPassword));
        proto::Message call;
        call.type = MsgType::Call;
        call.text = QStringLiteral("MenIni");
        QElapsedTimer t;
        t.start();
        QList<quint32> sent;
        for (int i = 0; i < 4; ++i)
            sent << c.send(call);
        for (quint32 id : sent) {
            const proto::Message answer = c.receive();
            QCOMPARE(answer.type, MsgType::CallResult);
            QCOMPARE(answer.requestId, id);
        }
        QVERIFY2(t.elapsed() >= 290 && t.elapsed() < 900, qPrintable(QString::number(t.elapsed())));
    }

    void failedLoginsSlowDownWithoutHoldingUpOthers()
    {
        TestServer server(withArgs({}, true));
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        addTestTable(server);
        RawClient other;
        QVERIFY(other.connectTo(server.port()) && other.login(QStringLiteral("7002"), QStringLiteral("clave8")));

        RawClient guesser;
        QVERIFY(guesser.connectTo(server.port()));
        const QStringList wrong{kUser, QStringLiteral("mala"), QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")};
        QList<qint64> took;
        for (int i = 0; i < 4; ++i) {
            QElapsedTimer t;
            t.start();
            QCOMPARE(guesser.error(guesser.call(QStringLiteral("Login"), wrong)),
                     QStringLiteral("Usuario o contraseña incorrectos"));
            took << t.elapsed();
        }
        // Each failure is answered after the wait it set: 250, 500, 1000,
        // 2000 ms; a client that waits for its answer never meets it.
        QVERIFY2(took[0] >= 200 && took[1] >= 450 && took[2] >= 950 && took[3] >= 1950,
                 qPrintable(QString::number(took[3])));

        // While the fifth failure's answer waits (4 s), another session is
        // served at once, and a guess on another connection is answered at
        // once with the wait, holding nothing.
        proto::Message login;
        login.type = MsgType::Call;
        login.text = QStringLiteral("Login");
        login.args = wrong;
        QElapsedTimer t;
        t.start();
        guesser.send(login);
        QTest::qWait(300);
        QElapsedTimer served;
        served.start();
        QCOMPARE(other.call(QStringLiteral("MenIni")).type, MsgType::CallResult);
        RawClient again;
        QVERIFY(again.connectTo(server.port()));
        QVERIFY2(again
                     .error(again.call(QStringLiteral("Login"),
                                       {kUser, kPassword, QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")}))
                     .contains(QStringLiteral("inténtelo de nuevo en ")),
                 "not refused at once");
        QVERIFY2(served.elapsed() < 1500, qPrintable(QString::number(served.elapsed())));
        QCOMPARE(guesser.error(guesser.receive(10000)), QStringLiteral("Usuario o contraseña incorrectos"));
        QVERIFY2(t.elapsed() >= 3900, qPrintable(QString::number(t.elapsed())));

        // The wait is over once the answer came: the right password goes
        // through at once, and clears the count.
        RawClient last;
        QVERIFY(last.connectTo(server.port()));
        t.restart();
        QVERIFY(last.login(kUser, kPassword));
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));

        QTRY_VERIFY_WITH_TIMEOUT(
            server.log().contains(QStringLiteral("failed Login for user 7001 (5 in a row for the user, 5 from the "
                                                 "address); the next attempt waits 4000 ms")),
            10000);
        QTRY_VERIFY_WITH_TIMEOUT(server.log().contains(QStringLiteral("Login for user 7001 refused")), 10000);
    }

    // Connections guessing together: one attempt is checked at a time, the
    // others answered at once, however many connections guess.
    void guessesAreCheckedOneAtATime()
    {
        TestServer server(withArgs({}));
        VOREL_START(server);
        addTestTable(server);
        const QStringList wrong{kUser, QStringLiteral("mala"), QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")};
        RawClient first;
        QVERIFY(first.connectTo(server.port()));
        QCOMPARE(first.call(QStringLiteral("Login"), wrong).type, MsgType::Error);
        std::vector<std::unique_ptr<RawClient>> guessers;
        for (int i = 0; i < 3; ++i) {
            guessers.push_back(std::make_unique<RawClient>());
            QVERIFY(guessers.back()->connectTo(server.port()));
        }
        proto::Message login;
        login.type = MsgType::Call;
        login.text = QStringLiteral("Login");
        login.args = wrong;
        for (auto &g : guessers)
            g->send(login);
        QStringList answers;
        for (auto &g : guessers)
            answers << g->error(g->receive(20000)).section(QLatin1Char(':'), 0, 0);
        answers.sort();
        QCOMPARE(answers, (QStringList{QStringLiteral("Demasiados intentos fallidos de inicio de sesión"),
                                       QStringLiteral("Demasiados intentos fallidos de inicio de sesión"),
                                       QStringLiteral("Usuario o contraseña incorrectos")}));
    }

    // What a Login may not do: log in under another form of the number, take
    // more places than a user or an address has, or have its wait for a
    // turn count against the time to log in.
    void loginsWithinTheirBounds()
    {
        TestServer server(
            withArgs({QStringLiteral("--max-sessions"), QStringLiteral("6"), QStringLiteral("--max-sessions-per-user"),
                      QStringLiteral("2"), QStringLiteral("--max-sessions-per-source"), QStringLiteral("3"),
                      QStringLiteral("--login-timeout"), QStringLiteral("1")},
                     true));
        VOREL_START(server);
        addTestTable(server);
        // Each refused: for the form, or, once failures are on record, at once.
        for (const QString &form :
             {QStringLiteral("07001"), QStringLiteral("+7001"), QStringLiteral("7001.0"), QStringLiteral("7.001e3")}) {
            RawClient c;
            QVERIFY(c.connectTo(server.port()));
            QVERIFY2(!c.login(form, kPassword), qPrintable(form));
            QTest::qWait(1100);
        }
        QTest::qWait(2100); // the address's wait after four failures
        const QString full = QStringLiteral("El servidor de aplicaciones no admite más sesiones de este usuario (2) o "
                                            "de esta dirección (3). Cierre alguna e inténtelo de nuevo.");
        struct Step {
            QString user, password;
            bool accepted;
        };
        const QList<Step> steps{{kUser, kPassword, true},
                                {kUser, kPassword, true},
                                {kUser, kPassword, false}, // the user's third
                                {QStringLiteral("7002"), QStringLiteral("clave8"), true},
                                {QStringLiteral("7002"), QStringLiteral("clave8"), false}}; // the address's fourth
        std::vector<std::unique_ptr<RawClient>> sessions;
        for (const Step &step : steps) {
            auto c = std::make_unique<RawClient>();
            QVERIFY(c->connectTo(server.port()));
            const proto::Message reply =
                c->call(QStringLiteral("Login"),
                        {step.user, step.password, QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")});
            QCOMPARE(reply.type == MsgType::CallResult, step.accepted);
            if (!step.accepted)
                QCOMPARE(c->error(reply), full);
            sessions.push_back(std::move(c));
        }
        sessions.clear();

        // Connections that end without a word make the address's next ones
        // wait before they are served: longer than the time to log in, which
        // counts only from then.
        for (int i = 0; i < 12; ++i) {
            QTcpSocket silent;
            silent.connectToHost(QHostAddress::LocalHost, server.port());
            QVERIFY(silent.waitForConnected(5000));
            silent.disconnectFromHost();
            QTest::qWait(30);
        }
        QTest::qWait(300);
        RawClient held;
        QElapsedTimer t;
        t.start();
        QVERIFY(held.connectTo(server.port()) && held.login(kUser, kPassword));
        QVERIFY2(t.elapsed() >= 1000, qPrintable(QString::number(t.elapsed())));
    }

    // A shift starting behind one address, many more at once than the
    // bounds on connections not logged in: they wait their turn, none is
    // closed, all log in.
    void aShiftFromOneAddressIsQueuedNotShed()
    {
        TestServer server(withArgs({QStringLiteral("--max-startups"), QStringLiteral("8"),
                                    QStringLiteral("--max-startups-per-source"), QStringLiteral("2")}));
        VOREL_START(server);
        addTestTable(server);
        constexpr int kShift = 40;
        std::atomic<int> in{0};
        std::latch start(kShift);
        std::vector<std::unique_ptr<QThread>> threads;
        const quint16 port = server.port();
        for (int i = 0; i < kShift; ++i) {
            threads.emplace_back(QThread::create([&, i] {
                RawClient c;
                start.arrive_and_wait();
                if (c.connectTo(port)
                    && c.login(i % 2 ? kUser : QStringLiteral("7002"), i % 2 ? kPassword : QStringLiteral("clave8")))
                    ++in;
            }));
            threads.back()->start();
        }
        for (auto &t : threads)
            QVERIFY(t->wait(60000));
        QCOMPARE(in.load(), kShift);
    }

    // Requests before Login are answered only while their answers are read,
    // and nothing but the Login is traced.
    void nothingBeforeLoginPilesUpOrIsTraced()
    {
        TestServer server(withArgs({}));
        VOREL_START(server);
        addTestTable(server);
        RawClient spammer;
        QVERIFY(spammer.connectTo(server.port()));
        proto::Message menIni;
        menIni.type = MsgType::Call;
        menIni.text = QStringLiteral("MenIni");
        QByteArray burst;
        for (int i = 0; i < 20000; ++i) {
            menIni.requestId = quint32(i + 100);
            burst += proto::encode(menIni);
        }
        spammer.sendRaw(burst);
        QTest::qWait(1000);
        QCOMPARE(server.texts(), QStringList());
        // Read, it is all answered, in order, and the Login goes through.
        for (int i = 0; i < 20000; ++i) {
            const proto::Message m = spammer.receive(10000);
            QCOMPARE(m.requestId, quint32(i + 100));
        }
        QCOMPARE(spammer.call(QStringLiteral("dServer")).type, MsgType::CallResult);
        QVERIFY(spammer.login(kUser, kPassword));
        QCOMPARE(server.texts(), QStringList({QStringLiteral("Login|7001|********|DEMO|127.0.0.1")}));
    }

    void sessionsRunOnlyWhatTheContractAllows_data()
    {
        QTest::addColumn<bool>("provider");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("answer");
        const QString denied = QStringLiteral("ORA-01031: insufficient privileges");
        QTest::newRow("attach") << false << QStringLiteral("ATTACH DATABASE '/tmp/otra.db' AS otra") << denied;
        QTest::newRow("attach, provider") << true << QStringLiteral("ATTACH DATABASE '/tmp/otra.db' AS otra") << denied;
        QTest::newRow("detach") << false << QStringLiteral("DETACH DATABASE temp") << denied;
        QTest::newRow("pragma") << true << QStringLiteral("PRAGMA table_info(TUSUARIOS)") << denied;
        QTest::newRow("pragma write") << false << QStringLiteral("PRAGMA writable_schema = ON") << denied;
        QTest::newRow("pragma function") << true << QStringLiteral("SELECT * FROM pragma_table_info('TUSUARIOS')") << denied;
        QTest::newRow("load_extension") << true << QStringLiteral("SELECT load_extension('/tmp/x.so') FROM dual") << denied;
        QTest::newRow("load_extension in a change")
            << false << QStringLiteral("UPDATE TPRUEBA SET PRUE_Texto = load_extension('/tmp/x.so')") << denied;
        // Not Oracle's, and SQLite's own matcher cannot be stopped midway.
        QTest::newRow("sqlite: glob") << true << QStringLiteral("SELECT 1 FROM dual WHERE 'x' GLOB '*x'") << denied;
        QTest::newRow("password hash") << true
                                       << QStringLiteral("SELECT vorel_password_hash(PRUE_Texto) FROM TPRUEBA") << denied;
        QTest::newRow("registry insert") << false
                                         << QStringLiteral("INSERT INTO vorel.TDICTABLAS VALUES ('X', 'TABLE', 'x')") << denied;
        QTest::newRow("registry update") << false << QStringLiteral("UPDATE TDICCOLUM SET DCOL_Coment = 'x'") << denied;
        QTest::newRow("registry delete") << false << QStringLiteral("DELETE FROM TDICRESTR") << denied;
        QTest::newRow("registry delete, columns") << false << QStringLiteral("DELETE FROM vorel.TDICRESCOL") << denied;
        // What reaches outside the data on PostgreSQL.
        QTest::newRow("pg: read a file") << true << QStringLiteral("SELECT pg_read_file('/etc/passwd') FROM dual") << denied;
        QTest::newRow("pg: settings") << false
                                      << QStringLiteral("UPDATE TPRUEBA SET PRUE_Texto = set_config('search_path', "
                                                        "'x', false)") << denied;
        QTest::newRow("pg: read a setting") << true << QStringLiteral("SELECT current_setting('data_directory') FROM dual") << denied;
        QTest::newRow("pg: catalog") << true << QStringLiteral("SELECT usename FROM pg_catalog.pg_user") << denied;
        QTest::newRow("pg: schema's function") << false
                                               << QStringLiteral("UPDATE TPRUEBA SET PRUE_Texto = "
                                                                 "vorel_password_hash('x')") << denied;
        QTest::newRow("pg: query as text") << true << QStringLiteral("SELECT query_to_xml('SELECT 1', true, true, '') "
                                                                     "FROM dual") << denied;
        // Texts PostgreSQL reads otherwise than Oracle: what it would run is
        // what is checked.
        QTest::newRow("pg: a call after an E'' string")
            << true << QStringLiteral("SELECT E'\\'' a, pg_ls_dir(chr(47)) b --' FROM dual") << denied;
        QTest::newRow("pg: a call after a $$ string")
            << true << QStringLiteral("SELECT $q$'$q$ a, pg_ls_dir(chr(47)) b --' FROM dual") << denied;
        QTest::newRow("pg: a comment a CR ends")
            << false
            << QStringLiteral("--\rDROP TABLE TPRUEBA /*\nUPDATE TPRUEBA SET PRUE_Texto = 'x' WHERE 1 = 0 --\r*/\n")
            << QStringLiteral("EjeDir solo ejecuta una sentencia INSERT, UPDATE o DELETE");
        QTest::newRow("pg: a catalog table") << true << QStringLiteral("SELECT usename, passwd FROM pg_shadow") << denied;
        QTest::newRow("pg: a name in U& escapes")
            << true << QStringLiteral("SELECT U&\"\\0070g_ls_dir\"(chr(47)) FROM dual") << denied;
    }

    void sessionsRunOnlyWhatTheContractAllows()
    {
        QFETCH(bool, provider);
        QFETCH(QString, sql);
        QFETCH(QString, answer);
        if (QByteArray(QTest::currentDataTag()).startsWith("pg:") && !TestServer::postgres())
            QSKIP("PostgreSQL's functions and catalog");
        if (QByteArray(QTest::currentDataTag()).startsWith("sqlite:") && TestServer::postgres())
            QSKIP("SQLite's own functions");
        if (!m_shared) {
            m_shared = std::make_unique<TestServer>(withArgs({}));
            QString error;
            QVERIFY2(m_shared->start(&error), qPrintable(error));
            addTestTable(*m_shared);
        }
        const int registry = m_shared->query(QStringLiteral("SELECT (SELECT count(*) FROM TDICTABLAS) + (SELECT "
                                                            "count(*) FROM TDICCOLUM) + (SELECT count(*) FROM "
                                                            "TDICRESTR) + (SELECT count(*) FROM TDICRESCOL)"))
                                 .value(0)
                                 .value(0)
                                 .toInt();
        RawClient c;
        QVERIFY(c.connectTo(m_shared->port()) && c.login(kUser, kPassword));
        QCOMPARE(provider ? c.error(c.open(QStringLiteral("dspq0"), sql)) : ejeDir(c, sql), answer);
        // Nothing changed, and the session goes on.
        QCOMPARE(rows(*m_shared, QStringLiteral("PRUE_Texto = 'uno'")), 1);
        QCOMPARE(m_shared->query(QStringLiteral("SELECT (SELECT count(*) FROM TDICTABLAS) + (SELECT count(*) FROM "
                                                "TDICCOLUM) + (SELECT count(*) FROM TDICRESTR) + (SELECT count(*) FROM "
                                                "TDICRESCOL)"))
                     .value(0)
                     .value(0)
                     .toInt(),
                 registry);
        const proto::Message ok = c.open(QStringLiteral("dspq0"), QStringLiteral("SELECT count(*) n FROM ALL_CONSTRAINTS"));
        QCOMPARE(ok.type, MsgType::OpenResult);
        QCOMPARE(ejeDir(c, QStringLiteral("UPDATE TPRUEBA SET PRUE_Texto = 'uno' WHERE PRUE_Id = 1")), QString());
    }

    void runawayQueriesAreCancelled()
    {
        TestServer server(withArgs({QStringLiteral("--query-timeout"), QStringLiteral("1")}));
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        addTestTable(server);
        server.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                                   "INSERT INTO TPRUEBA SELECT i, 'fila' FROM n"));
        RawClient c, other;
        QVERIFY(c.connectTo(server.port()) && c.login(kUser, kPassword));
        QVERIFY(other.connectTo(server.port()) && other.login(QStringLiteral("7002"), QStringLiteral("clave8")));
        const QString cancelled = QStringLiteral("ORA-01013: user requested cancel of current operation");
        const QStringList runaways{
            QStringLiteral("WITH RECURSIVE r(n) AS (SELECT 1 FROM dual UNION ALL SELECT n + 1 FROM r) "
                           "SELECT count(*) FROM r"),
            QStringLiteral("SELECT count(*) FROM TPRUEBA a, TPRUEBA b, TPRUEBA c"),
        };
        for (const QString &sql : runaways) {
            QElapsedTimer t;
            t.start();
            // The other session is answered while this one runs.
            c.send(c.openMessage(QStringLiteral("dspq0"), sql));
            QTest::qWait(100);
            QElapsedTimer served;
            served.start();
            QCOMPARE(other.open(QStringLiteral("dspq0"), QStringLiteral("SELECT 1 FROM dual")).type,
                     MsgType::OpenResult);
            QVERIFY2(served.elapsed() < 900, qPrintable(QString::number(served.elapsed())));
            QCOMPARE(c.error(c.receive(20000)), cancelled);
            QVERIFY2(t.elapsed() >= 900 && t.elapsed() < 10000, qPrintable(QString::number(t.elapsed())));
        }
        // A runaway change is cancelled the same way and leaves nothing behind.
        QCOMPARE(ejeDir(c, QStringLiteral("DELETE FROM TPRUEBA WHERE PRUE_Id IN (SELECT a.PRUE_Id FROM TPRUEBA a, "
                                          "TPRUEBA b, TPRUEBA c WHERE a.PRUE_Id + b.PRUE_Id + c.PRUE_Id < 0)")),
                 cancelled);
        // A result no frame could carry is refused before it fills the memory;
        // on a busy machine its time may run out first, between two rows.
        const proto::Message huge =
            c.open(QStringLiteral("dspq0"),
                   QStringLiteral("SELECT %1 b FROM TPRUEBA WHERE PRUE_Id <= 5").arg(heavyBlob(20000000)));
        const QString why = huge.type == MsgType::OpenResult ? c.error(c.fetch(huge.cursor, -1)) : c.error(huge);
        QVERIFY2(
            why == QStringLiteral("No se puede enviar la respuesta: el resultado supera el tamaño máximo de una trama")
                || why == cancelled,
            qPrintable(why));
        // A packet asked for by its number of rows ends early when they weigh
        // too much, and the rest follows packet by packet.
        const proto::Message wide = c.open(
            QStringLiteral("dspq0"),
            QStringLiteral("WITH n (x) AS (SELECT 1 FROM dual UNION ALL SELECT x + 1 FROM n WHERE x < 40) "
                           "SELECT x, %1 b FROM n")
                .arg(heavyBlob(1000000)),
            1000);
        QCOMPARE(wide.type, MsgType::OpenResult);
        QVERIFY2(wide.rows.size() > 0 && wide.rows.size() < 40, qPrintable(QString::number(wide.rows.size())));
        QVERIFY(!wide.rows.eof);
        qsizetype seen = wide.rows.size();
        for (bool eof = false; !eof;) {
            const proto::Message next = c.fetch(wide.cursor, 1000);
            QCOMPARE(next.type, MsgType::Rows);
            QCOMPARE(next.rows.value(0, 0).toLongLong(), seen + 1);
            seen += next.rows.size();
            eof = next.rows.eof;
        }
        QCOMPARE(seen, 40);
        // The session and the server go on.
        QCOMPARE(c.open(QStringLiteral("dspq0"), QStringLiteral("SELECT count(*) n FROM TPRUEBA")).type,
                 MsgType::OpenResult);
        QCOMPARE(rows(server, QStringLiteral("1=1")), 3000);
    }

    void clientKilledInATransactionLeavesNothing()
    {
        TestServer server(withArgs({}, true));
        VOREL_START(server);
        addTestTable(server);
        QProcess holder;
        holder.start(QCoreApplication::applicationFilePath(),
                     {QString::fromLatin1(kHolder), QString::number(server.port()), QStringLiteral("70")});
        QVERIFY(holder.waitForStarted(10000));
        QVERIFY(holder.waitForReadyRead(20000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("ready"));
        ::kill(pid_t(holder.processId()), SIGKILL);
        QVERIFY(holder.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(server.log().contains(QStringLiteral("its open transaction is rolled back")), 10000);
        QCOMPARE(rows(server, QStringLiteral("PRUE_Id = 70")), 0);
        QCOMPARE(rows(server, QStringLiteral("PRUE_Id = 71 AND PRUE_Texto = 'confirmada'")), 1);
        // Its lock went with it: another session writes and commits at once.
        RawClient c;
        QVERIFY(c.connectTo(server.port()) && c.login(kUser, kPassword));
        QCOMPARE(c.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(ejeDir(c, QStringLiteral("INSERT INTO TPRUEBA VALUES (70, 'otra')")), QString());
        QCOMPARE(c.call(QStringLiteral("CommitTran")).type, MsgType::CallResult);
        QCOMPARE(rows(server, QStringLiteral("PRUE_Id = 70 AND PRUE_Texto = 'otra'")), 1);
    }

    void serverKilledInATransactionKeepsOnlyWhatWasCommitted()
    {
        TestServer server(withArgs({}));
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        addTestTable(server);
        const quint16 port = server.port();
        RawClient c;
        QVERIFY(c.connectTo(port) && c.login(kUser, kPassword));
        QCOMPARE(c.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(ejeDir(c, QStringLiteral("INSERT INTO TPRUEBA VALUES (80, 'confirmada')")), QString());
        QCOMPARE(c.call(QStringLiteral("CommitTran")).type, MsgType::CallResult);
        QCOMPARE(c.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(ejeDir(c, QStringLiteral("INSERT INTO TPRUEBA VALUES (81, 'abierta')")), QString());
        QCOMPARE(ejeDir(c, QStringLiteral("UPDATE TPRUEBA SET PRUE_Texto = 'cambiada' WHERE PRUE_Id = 80")), QString());

        TSocketConnection connection;
        connection.SetHost(QStringLiteral("127.0.0.1"));
        connection.SetPort(port);
        connection.Open();
        connection.Call(QStringLiteral("Login"), {kUser, kPassword, QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")});

        ::kill(pid_t(server.pid()), SIGKILL);
        QVERIFY(c.waitClosed());
        try {
            connection.Call(QStringLiteral("MenIni"));
            QFAIL("a call to a dead server succeeded");
        } catch (const vorel::Exception &e) {
            QVERIFY2(e.message().contains(QStringLiteral("127.0.0.1:%1").arg(port)), qPrintable(e.message()));
        }
        QVERIFY(!connection.Connected());

        QVERIFY2(server.restart(&error), qPrintable(error));
        QCOMPARE(rows(server, QStringLiteral("PRUE_Id = 80 AND PRUE_Texto = 'confirmada'")), 1);
        QCOMPARE(rows(server, QStringLiteral("PRUE_Id = 81")), 0);
        RawClient after;
        QVERIFY(after.connectTo(server.port()) && after.login(kUser, kPassword));
        QCOMPARE(ejeDir(after, QStringLiteral("DELETE FROM TPRUEBA WHERE PRUE_Id = 80")), QString());
    }

    void aTransactionThatReadsFirstStillWrites()
    {
        if (TestServer::postgres())
            QSKIP("the write queue is SQLite's: PostgreSQL locks rows, and a change to others does not wait");
        TestServer server(withArgs({}));
        VOREL_START(server);
        addTestTable(server);
        RawClient a, b;
        QVERIFY(a.connectTo(server.port()) && a.login(kUser, kPassword));
        QVERIFY(b.connectTo(server.port()) && b.login(QStringLiteral("7002"), QStringLiteral("clave8")));
        // A method's use case: read, then change. Another session's change
        // arriving in between waits for it instead of making it fail.
        QCOMPARE(a.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(a.open(QStringLiteral("dspq0"), QStringLiteral("SELECT count(*) n FROM TPRUEBA")).type,
                 MsgType::OpenResult);
        proto::Message change;
        change.type = MsgType::Call;
        change.text = QStringLiteral("EjeDir");
        change.args = {QStringLiteral("INSERT INTO TPRUEBA VALUES (90, 'b')")};
        b.send(change);
        QCOMPARE(b.receive(300).text, QStringLiteral("<timeout>"));
        QCOMPARE(ejeDir(a, QStringLiteral("INSERT INTO TPRUEBA VALUES (91, 'a')")), QString());
        QCOMPARE(a.call(QStringLiteral("CommitTran")).type, MsgType::CallResult);
        QCOMPARE(b.receive(10000).type, MsgType::CallResult);
        QCOMPARE(rows(server, QStringLiteral("PRUE_Id IN (90, 91)")), 2);
        // A rolled-back or dropped transaction gives its turn back too.
        QCOMPARE(a.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(a.call(QStringLiteral("RollBackTran")).type, MsgType::CallResult);
        QCOMPARE(b.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        b.abort();
        QCOMPARE(ejeDir(a, QStringLiteral("DELETE FROM TPRUEBA WHERE PRUE_Id IN (90, 91)")), QString());
    }

    void cleanupTestCase() { m_shared.reset(); }

private:
    std::unique_ptr<TestServer> m_shared;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], kHolder) == 0)
        return holdTransaction(quint16(QByteArray(argv[2]).toUInt()), QByteArray(argv[3]).toInt());
    TstHostileServer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostile_server.moc"
