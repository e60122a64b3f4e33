// What one session may cost the server: memory for rows read ahead, rows
// being built and request frames; time for a statement, even one long call
// of a function; and how long an open transaction may sit silent. Then the
// files and the log a hostile user could otherwise read or forge.
#include "rawclient.h"
#include "support/testserver.h"

#include "server/net/trace.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace vorel;
using namespace vorel::test;
using proto::MsgType;

namespace {

const QString kUser = QStringLiteral("7001");
const QString kPassword = QStringLiteral("clave7");
const QString kOutOfMemory = QStringLiteral("ORA-04030: out of process memory when trying to allocate ");

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
    server.exec(
        QStringLiteral("INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (7001, 'Prueba', 'clave7');"
                       "INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (7002, 'Otra', 'clave8');"
                       // Both administer: the tests write a table of their own making.
                       "INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('PRUEBAS', 'Pruebas');"
                       "INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (7001, 'PRUEBAS', 1);"
                       "INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (7002, 'PRUEBAS', 1);"
                       "CREATE TABLE TPRUEBA (PRUE_Id NUMBER(8) PRIMARY KEY, PRUE_Texto VARCHAR2(40));"
                       "INSERT INTO TPRUEBA VALUES (1, 'uno');"));
}

QString ejeDir(RawClient &c, const QString &sql) { return c.error(c.call(QStringLiteral("EjeDir"), {sql})); }

// `bytes` bytes of a blob in the backend's own words.
QString heavyBlob(int bytes)
{
    return TestServer::postgres() ? QStringLiteral("(SELECT convert_to(repeat('x', %1), 'UTF8') FROM dual)").arg(bytes)
                                  : QStringLiteral("randomblob(%1)").arg(bytes);
}

QString longText(int chars)
{
    return TestServer::postgres() ? QStringLiteral("repeat('a', %1)").arg(chars)
                                  : QStringLiteral("printf('%.*c', %1, 'a')").arg(chars);
}

// A frame of `payload` as the client would send it.
QByteArray frame(const QByteArray &payload)
{
    QByteArray header(4, '\0');
    qToBigEndian<quint32>(quint32(payload.size()), header.data());
    return header + payload;
}

} // namespace

class TstBudgets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        VOREL_REQUIRE_BACKEND();
        m_server = std::make_unique<TestServer>(withArgs({QStringLiteral("--session-memory"), QStringLiteral("32")}));
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        addTestTable(*m_server);
        m_server->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM n WHERE i < 159) "
                                      "INSERT INTO TPRUEBA SELECT i, 'x' FROM n"));
    }

    // A row is weighed value by value as it is built, not once it is whole.
    void wideRowsWithinTheSessionsMemory_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<bool>("refused");
        QTest::newRow("8 values of 6 MB") << 8 << 6000000 << true;
        QTest::newRow("2 values of 6 MB") << 2 << 6000000 << false;
        QTest::newRow("one value of 20 MB") << 1 << 20000000 << false;
    }

    void wideRowsWithinTheSessionsMemory()
    {
        QFETCH(int, columns);
        QFETCH(int, bytes);
        QFETCH(bool, refused);
        RawClient c;
        QVERIFY(c.connectTo(m_server->port()) && c.login(kUser, kPassword));
        QStringList values;
        for (int i = 0; i < columns; ++i)
            values << heavyBlob(bytes) + QStringLiteral(" b%1").arg(i);
        const proto::Message answer =
            c.open(QStringLiteral("dspq0"),
                   QStringLiteral("SELECT %1 FROM TPRUEBA WHERE PRUE_Id = 1").arg(values.join(QStringLiteral(", "))));
        if (refused) {
            QVERIFY2(c.error(answer).startsWith(kOutOfMemory), qPrintable(c.error(answer)));
        } else {
            QCOMPARE(c.error(answer), QString());
            QCOMPARE(answer.rows.size(), 1);
        }
        QCOMPARE(c.call(QStringLiteral("MenIni")).type, MsgType::CallResult);
    }

    // A cursor read into memory before a rollback (which would otherwise end
    // it) gives its rows up to what the session may hold, then the refusal;
    // the rollback itself and the session go on.
    void drainedCursorBeyondTheBudget()
    {
        RawClient c;
        QVERIFY(c.connectTo(m_server->port()) && c.login(kUser, kPassword));
        QCOMPARE(c.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(ejeDir(c, QStringLiteral("INSERT INTO TPRUEBA VALUES (2, 'dos')")), QString());
        const proto::Message first =
            c.open(QStringLiteral("dspq0"),
                   QStringLiteral("SELECT PRUE_Id, %1 b FROM TPRUEBA WHERE PRUE_Id >= 100").arg(heavyBlob(1000000)), 1);
        QCOMPARE(first.type, MsgType::OpenResult);
        QCOMPARE(c.call(QStringLiteral("RollBackTran")).type, MsgType::CallResult);
        qsizetype seen = first.rows.size();
        QString failure;
        for (bool eof = first.rows.eof; !eof && failure.isEmpty();) {
            const proto::Message more = c.fetch(first.cursor, 5);
            failure = c.error(more);
            seen += more.rows.size();
            eof = more.rows.eof;
        }
        QVERIFY2(failure.startsWith(kOutOfMemory), qPrintable(failure));
        QVERIFY2(seen > 10 && seen < 40, qPrintable(QString::number(seen)));
        QCOMPARE(c.call(QStringLiteral("MenIni")).type, MsgType::CallResult);
        QCOMPARE(m_server->query(QStringLiteral("SELECT count(*) FROM TPRUEBA WHERE PRUE_Id = 2")),
                 QList<QStringList>{{QStringLiteral("0")}});
    }

    // After Login a frame may hold 1 MiB, but an EjeDir's, which may carry
    // a binary; that one counts against the session's memory. A frame
    // refused is answered without being read into memory, and the session
    // goes on.
    void requestFramesAfterLogin_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QString>("refusal");
        const QString tooLarge =
            QStringLiteral("La petición supera el tamaño máximo de 1024 KB; solo EjeDir admite más");
        QTest::newRow("Open of 2 MiB") << QString() << (2 << 20) << tooLarge;
        QTest::newRow("MenIni of 2 MiB") << QStringLiteral("MenIni") << (2 << 20) << tooLarge;
        QTest::newRow("EjeDir of 2 MiB") << QStringLiteral("EjeDir") << (2 << 20) << QString();
        QTest::newRow("EjeDir past the session's memory") << QStringLiteral("EjeDir") << (12 << 20) << kOutOfMemory;
    }

    void requestFramesAfterLogin()
    {
        QFETCH(QString, method);
        QFETCH(int, bytes);
        QFETCH(QString, refusal);
        RawClient c;
        QVERIFY(c.connectTo(m_server->port()) && c.login(kUser, kPassword));
        const QString sql = QStringLiteral("UPDATE TPRUEBA SET PRUE_Texto = 'x' WHERE PRUE_Id = 1 OR '%1' = ''")
                                .arg(QString(bytes, QLatin1Char('z')));
        proto::Message m;
        if (method.isEmpty()) {
            m = c.openMessage(QStringLiteral("dspq0"), sql);
        } else {
            m.type = MsgType::Call;
            m.text = method;
            m.args = {sql};
        }
        const proto::Message answer = c.request(m, 20000);
        if (refusal.isEmpty())
            QCOMPARE(c.error(answer), QString());
        else
            QVERIFY2(c.error(answer).startsWith(refusal), qPrintable(answer.text));
        QCOMPARE(c.call(QStringLiteral("MenIni")).type, MsgType::CallResult);
    }

    // One call of LIKE over a long text is stopped at the query's time,
    // not when it is done.
    void slowLikeIsCancelled()
    {
        TestServer server(withArgs({QStringLiteral("--query-timeout"), QStringLiteral("1")}));
        VOREL_START(server);
        addTestTable(server);
        RawClient c;
        QVERIFY(c.connectTo(server.port()) && c.login(kUser, kPassword));
        const QString pattern = QLatin1Char('%') + QString(998, QLatin1Char('a')) + QLatin1Char('b');
        QElapsedTimer t;
        t.start();
        const proto::Message answer =
            c.open(QStringLiteral("dspq0"),
                   QStringLiteral("SELECT count(*) n FROM (SELECT %1 x FROM dual) t WHERE x LIKE '%2'")
                       .arg(longText(3000000), pattern),
                   -1);
        QCOMPARE(c.error(answer), QStringLiteral("ORA-01013: user requested cancel of current operation"));
        // PostgreSQL runs a failed read again, row by row, for the rows
        // before the failure: twice the time.
        QVERIFY2(t.elapsed() < (TestServer::postgres() ? 15000 : 5000), qPrintable(QString::number(t.elapsed())));
        QCOMPARE(c.call(QStringLiteral("MenIni")).type, MsgType::CallResult);
    }

    // A transaction left open without requests is rolled back and its
    // session closed, telling why; another session's write waits no longer
    // than that. A session without a transaction may stay silent.
    void idleTransactionIsRolledBack()
    {
        TestServer server(withArgs({QStringLiteral("--idle-in-transaction"), QStringLiteral("1")}));
        VOREL_START(server);
        addTestTable(server);
        RawClient holder, writer, quiet;
        QVERIFY(holder.connectTo(server.port()) && holder.login(kUser, kPassword));
        QVERIFY(writer.connectTo(server.port()) && writer.login(QStringLiteral("7002"), QStringLiteral("clave8")));
        QVERIFY(quiet.connectTo(server.port()) && quiet.login(kUser, kPassword));
        QCOMPARE(holder.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(ejeDir(holder, QStringLiteral("UPDATE TPRUEBA SET PRUE_Texto = 'holder' WHERE PRUE_Id = 1")),
                 QString());
        QElapsedTimer t;
        t.start();
        QCOMPARE(writer.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(ejeDir(writer, QStringLiteral("UPDATE TPRUEBA SET PRUE_Texto = 'writer' WHERE PRUE_Id = 1")),
                 QString());
        QCOMPARE(writer.call(QStringLiteral("CommitTran")).type, MsgType::CallResult);
        QVERIFY2(t.elapsed() >= 500 && t.elapsed() < 10000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(holder.receive(5000).text,
                 QStringLiteral("Conexión cerrada por el servidor: ORA-02396: exceeded maximum idle time, please "
                                "connect again (transacción abierta sin peticiones durante 1 s: se deshizo)"));
        QVERIFY(holder.waitClosed());
        QCOMPARE(server.query(QStringLiteral("SELECT PRUE_Texto FROM TPRUEBA WHERE PRUE_Id = 1")),
                 QList<QStringList>{{QStringLiteral("writer")}});
        QTest::qWait(500);
        QCOMPARE(quiet.call(QStringLiteral("MenIni")).type, MsgType::CallResult);
    }

    // Database, key, backup and trace are their owner's alone, whatever the
    // mask the server was started with; a trace is never written through
    // a link.
    void filesAreTheirOwnersAlone()
    {
        if (TestServer::postgres())
            QSKIP("the files of an SQLite database");
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("v.db"));
        const QString copy = dir.filePath(QStringLiteral("copia.db"));
        const QString target = dir.filePath(QStringLiteral("otro.txt"));
        const QString link = dir.filePath(QStringLiteral("traza.jsonl"));
        QFile other(target);
        QVERIFY(other.open(QIODevice::WriteOnly) && other.write("de otro\n") > 0);
        other.close();
        QVERIFY(QFile::link(target, link));
        const auto run = [&](const QString &args) {
            QProcess p;
            p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("umask 022; exec \"$0\" ") + args,
                                                TestServer::serverProgram()});
            p.waitForFinished(60000);
            return p.exitCode();
        };
        QCOMPARE(run(QStringLiteral("init '%1'").arg(db)), 0);
        QCOMPARE(run(QStringLiteral("backup '%1' '%2'").arg(db, copy)), 0);
        const QFileDevice::Permissions ownerOnly =
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
        for (const QString &file : {db, copy, dir.filePath(QStringLiteral("vorel-server.key"))})
            QCOMPARE(QFileInfo(file).permissions(), ownerOnly);
        QVERIFY(run(QStringLiteral("serve --db '%1' --listen 127.0.0.1:0 --trace '%2'").arg(db, link)) != 0);
        QVERIFY(other.open(QIODevice::ReadOnly));
        QCOMPARE(other.readAll(), QByteArray("de otro\n"));
    }

    // The trace marks the password of every Login, before and after one
    // succeeds; the log escapes what a peer sends and says a run of the
    // same refusal to one address once.
    void neitherTraceNorLogGivesAnythingAway()
    {
        TestServer server(withArgs({}, true));
        VOREL_START(server);
        addTestTable(server);
        const QString forged = QStringLiteral("7001\nvorel-server: session 9 (user 1): forged");
        for (int i = 0; i < 3; ++i) {
            RawClient c;
            QVERIFY(c.connectTo(server.port()));
            QVERIFY(!c.login(forged, QStringLiteral("secreto1")));
        }
        RawClient c;
        QVERIFY(c.connectTo(server.port()) && c.login(kUser, kPassword));
        QVERIFY(!c.error(c.call(QStringLiteral("Login"), {kUser, QStringLiteral("secreto2"), QStringLiteral("DEMO"),
                                                          QStringLiteral("127.0.0.1")}))
                     .isEmpty());
        QFile trace(server.tracePath());
        QVERIFY(trace.open(QIODevice::ReadOnly));
        const QByteArray traced = trace.readAll();
        for (const char *password : {"secreto1", "secreto2", "clave7"})
            QVERIFY2(!traced.contains(password), password);
        const QStringList logins = server.texts().filter(QStringLiteral("Login|"));
        QCOMPARE(logins.size(), 5);
        for (const QString &login : logins)
            QCOMPARE(login.section(QLatin1Char('|'), 2, 2), QString::fromLatin1(server::Trace::kPasswordMark));

        QTest::qWait(300);
        const QStringList lines = server.log().split(QLatin1Char('\n'));
        const QStringList naming = lines.filter(QStringLiteral("forged"));
        QVERIFY(!naming.isEmpty());
        for (const QString &line : naming) {
            QVERIFY2(!line.startsWith(QStringLiteral("vorel-server: session")), qPrintable(line));
            QVERIFY2(line.contains(QStringLiteral("7001\\nvorel-server")), qPrintable(line));
        }
        QCOMPARE(lines.filter(QStringLiteral("failed Login")).size(), 3);
        for (int i = 0; i < 3; ++i) {
            proto::Message big = c.openMessage(QStringLiteral("dspq0"), QString(2 << 20, QLatin1Char(' ')));
            QVERIFY(!c.error(c.request(big)).isEmpty());
        }
        QTest::qWait(300);
        QCOMPARE(server.log().split(QLatin1Char('\n')).filter(QStringLiteral("bytes refused")).size(), 1);
    }

    void cleanupTestCase() { m_server.reset(); }

private:
    std::unique_ptr<TestServer> m_server;
};

QTEST_GUILESS_MAIN(TstBudgets)
#include "tst_budgets.moc"
