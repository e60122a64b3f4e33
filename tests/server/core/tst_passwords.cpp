// Passwords at rest: salted PBKDF2 hashes written by the server's triggers
// whatever statement the client sends, logins checked against them, and the
// plain passwords of databases made by an earlier release converted.
#include "rawclient.h"
#include "server/net/loginthrottle.h"
#include "server/backend/backends.h"
#include "server/core/database.h"
#include "server/core/passwords.h"
#include "support/testserver.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace vorel;
using namespace vorel::test;
using proto::MsgType;
namespace passwords = vorel::server::passwords;

namespace {

bool logsIn(quint16 port, const QString &user, const QString &password)
{
    RawClient c;
    return c.connectTo(port) && c.login(user, password);
}

QString stored(TestServer &server, const QString &user)
{
    return server.query(QStringLiteral("SELECT USUA_Paswd FROM TUSUARIOS WHERE USUA_Usua = ") + user).value(0).value(0);
}

} // namespace

class TstPasswords : public QObject
{
    Q_OBJECT

private:
    TestServer m_server{TestServer::Options{true, {}, {}, {}, {}, true}};

private Q_SLOTS:
    void initTestCase()
    {
        VOREL_START(m_server);
    }

    void hashesAreSaltedAndChecked()
    {
        const QString a = passwords::hash(QStringLiteral("clave"));
        const QString b = passwords::hash(QStringLiteral("clave"));
        QVERIFY(a.startsWith(QStringLiteral("$pbkdf2-sha256$%1$").arg(passwords::kIterations)));
        QVERIFY(a != b);
        QVERIFY(passwords::verify(QStringLiteral("clave"), a));
        QVERIFY(passwords::verify(QStringLiteral("clave"), b));
        QVERIFY(!passwords::verify(QStringLiteral("Clave"), a));
        QVERIFY(!passwords::verify(a, a));
        QVERIFY(passwords::isHash(a));
        // A damaged or foreign record matches nothing, and a count that would
        // stall the login is not run.
        QString damaged = a;
        damaged.chop(2);
        QVERIFY(!passwords::verify(QStringLiteral("clave"), damaged));
        QString huge = a;
        huge.replace(QStringLiteral("$%1$").arg(passwords::kIterations), QStringLiteral("$999999999$"));
        QVERIFY(!passwords::verify(QStringLiteral("clave"), huge));
        QVERIFY(!passwords::verify(QString(), QStringLiteral("$pbkdf2-sha256$")));
        // Not a record of ours: a password kept as typed.
        QVERIFY(passwords::verify(QStringLiteral("clave"), QStringLiteral("clave")));
        QVERIFY(!passwords::isHash(QStringLiteral("clave")));
    }

    void loginDelaysDoubleUpToTheCapAndStayBounded()
    {
        using vorel::server::LoginThrottle;
        QCOMPARE(LoginThrottle::delayAfter(0), 0);
        QCOMPARE(LoginThrottle::delayAfter(1), 250);
        QCOMPARE(LoginThrottle::delayAfter(3), 1000);
        QCOMPARE(LoginThrottle::delayAfter(6), 8000);
        QCOMPARE(LoginThrottle::delayAfter(1000), 8000);

        LoginThrottle throttle;
        QCOMPARE(throttle.waitMs(QStringLiteral("1001"), QStringLiteral("10.0.0.1")), 0);
        QCOMPARE(throttle.failed(QStringLiteral("1001"), QStringLiteral("10.0.0.1")), std::make_pair(1, 1));
        QCOMPARE(throttle.failed(QStringLiteral("1001"), QStringLiteral("10.0.0.2")), std::make_pair(2, 1));
        // The user waits wherever it comes from; another user from a clean address does not.
        QVERIFY(throttle.waitMs(QStringLiteral("1001"), QStringLiteral("10.0.0.3")) > 250);
        QCOMPARE(throttle.waitMs(QStringLiteral("1002"), QStringLiteral("10.0.0.3")), 0);
        QVERIFY(throttle.waitMs(QStringLiteral("1002"), QStringLiteral("10.0.0.1")) > 0);
        QVERIFY(throttle.suspect(QStringLiteral("1002"), QStringLiteral("10.0.0.2")));
        QVERIFY(!throttle.suspect(QStringLiteral("1002"), QStringLiteral("10.0.0.3")));
        throttle.succeeded(QStringLiteral("1001"), QStringLiteral("10.0.0.1"));
        QCOMPARE(throttle.waitMs(QStringLiteral("1001"), QStringLiteral("10.0.0.1")), 0);

        // Sprayed user names do not grow the tables without end: past the
        // limit the oldest record goes.
        LoginThrottle sprayed;
        sprayed.failed(QStringLiteral("primero"), QStringLiteral("10.0.0.9"));
        QTest::qWait(5);
        for (int i = 0; i < LoginThrottle::kMaxEntries; ++i)
            sprayed.failed(QString::number(i), QStringLiteral("10.0.0.9"));
        QCOMPARE(sprayed.waitMs(QStringLiteral("primero"), QStringLiteral("10.0.0.8")), 0);
        QVERIFY(sprayed.waitMs(QString::number(LoginThrottle::kMaxEntries - 1), QStringLiteral("10.0.0.8")) > 0);
    }

    // A guess at a user that does not exist takes as long as a wrong
    // password of one that does: the time tells nothing.
    void unknownUsersCostAHashToo()
    {
        const QString file = m_server.databaseFile();
        const std::unique_ptr<vorel::server::Database> db = vorel::server::backends::forLocation(file).open(file);
        auto fastest = [&](const QString &user) {
            qint64 best = -1;
            for (int i = 0; i < 3; ++i) {
                QElapsedTimer t;
                t.start();
                if (db->checkUser(user, QStringLiteral("mala")))
                    return qint64(-1);
                best = best < 0 ? t.nsecsElapsed() : qMin(best, t.nsecsElapsed());
            }
            return best;
        };
        const qint64 known = fastest(QStringLiteral("1001"));
        const qint64 unknown = fastest(QStringLiteral("99999"));
        qInfo("wrong password %.1f ms, unknown user %.1f ms", double(known) / 1e6, double(unknown) / 1e6);
        QVERIFY(known > 0);
        QVERIFY2(unknown * 2 > known, qPrintable(QStringLiteral("%1 against %2 ns").arg(unknown).arg(known)));
    }

    void demoLoginsWorkAgainstHashes()
    {
        for (const char *user : {"1001", "1002", "1008"}) {
            QVERIFY(passwords::isHash(stored(m_server, QString::fromLatin1(user))));
            QVERIFY(logsIn(m_server.port(), QString::fromLatin1(user), QStringLiteral("clave")));
        }
        QVERIFY(!logsIn(m_server.port(), QStringLiteral("1003"), stored(m_server, QStringLiteral("1003"))));
    }

    void theClientsOwnStatementsStoreHashes()
    {
        RawClient c;
        QVERIFY(c.connectTo(m_server.port()) && c.login(QStringLiteral("1002")));
        // Exactly what the account dialog sends.
        QCOMPARE(c.call(QStringLiteral("EjeDir"),
                        {QStringLiteral("UPDATE Vorel.TUsuarios SET USUA_Paswd= 'nu''eva' WHERE USUA_Usua= 1004")})
                     .type,
                 MsgType::CallResult);
        const QString changed = stored(m_server, QStringLiteral("1004"));
        QVERIFY2(passwords::isHash(changed), qPrintable(changed));
        QVERIFY(passwords::verify(QStringLiteral("nu'eva"), changed));
        QVERIFY(logsIn(m_server.port(), QStringLiteral("1004"), QStringLiteral("nu'eva")));
        QVERIFY(!logsIn(m_server.port(), QStringLiteral("1004"), QStringLiteral("clave")));
        // Inside a transaction that is rolled back, nothing changes.
        QCOMPARE(c.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(c.call(QStringLiteral("EjeDir"),
                        {QStringLiteral("UPDATE vorel.TUSUARIOS SET USUA_Paswd = 'otra' WHERE USUA_Usua = 1004")})
                     .type,
                 MsgType::CallResult);
        QCOMPARE(c.call(QStringLiteral("RollBackTran")).type, MsgType::CallResult);
        QCOMPARE(stored(m_server, QStringLiteral("1004")), changed);
        // The rule on short passwords still speaks of what the user typed.
        const QString tooShort = c.error(c.call(
            QStringLiteral("EjeDir"), {QStringLiteral("UPDATE Vorel.TUsuarios SET USUA_Paswd= 'ab' WHERE USUA_Usua= 1004")}));
        QVERIFY2(tooShort.startsWith(QStringLiteral("ORA-02290: check constraint (VOREL.CK_USUARIOS_PASWD)")),
                 qPrintable(tooShort));
        // A new user's password, and one that looks like ours but is not.
        QCOMPARE(c.call(QStringLiteral("EjeDir"),
                        {QStringLiteral("INSERT INTO vorel.TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES "
                                        "(1101, 'Nuevo', 'primera')")})
                     .type,
                 MsgType::CallResult);
        QVERIFY(passwords::verify(QStringLiteral("primera"), stored(m_server, QStringLiteral("1101"))));
        QVERIFY(logsIn(m_server.port(), QStringLiteral("1101"), QStringLiteral("primera")));
        QCOMPARE(c.call(QStringLiteral("EjeDir"),
                        {QStringLiteral("UPDATE vorel.TUSUARIOS SET USUA_Paswd = '$pbkdf2-sha256$x' WHERE USUA_Usua = 1101")})
                     .type,
                 MsgType::CallResult);
        QVERIFY(!logsIn(m_server.port(), QStringLiteral("1101"), QStringLiteral("$pbkdf2-sha256$x")));
        // A hash the server made is kept as it is.
        const QString hash = passwords::hash(QStringLiteral("otra"));
        QCOMPARE(c.call(QStringLiteral("EjeDir"),
                        {QStringLiteral("UPDATE vorel.TUSUARIOS SET USUA_Paswd = '%1' WHERE USUA_Usua = 1003").arg(hash)})
                     .type,
                 MsgType::CallResult);
        QCOMPARE(stored(m_server, QStringLiteral("1003")), hash);
        QVERIFY(logsIn(m_server.port(), QStringLiteral("1003"), QStringLiteral("otra")));
        m_server.exec(QStringLiteral("UPDATE TUSUARIOS SET USUA_Paswd = 'clave' WHERE USUA_Usua IN (1003, 1004, 1101)"));
    }

    void aPasswordWrittenAsTypedIsHashedAtItsFirstLogin()
    {
        if (TestServer::postgres()) {
            // PostgreSQL's own trigger hashes whoever writes, the server or not.
            m_server.exec(QStringLiteral("UPDATE TUSUARIOS SET USUA_Paswd = 'deFuera' WHERE USUA_Usua = 1005"));
            QVERIFY(passwords::verify(QStringLiteral("deFuera"), stored(m_server, QStringLiteral("1005"))));
            QVERIFY(logsIn(m_server.port(), QStringLiteral("1005"), QStringLiteral("deFuera")));
        }
        // Written with a tool that has no server functions; on PostgreSQL
        // one that by-passes the schema's triggers.
        m_server.exec(QStringLiteral("%1UPDATE TUSUARIOS SET USUA_Paswd = 'aMano' WHERE USUA_Usua = 1005")
                          .arg(TestServer::postgres() ? QStringLiteral("SET session_replication_role = replica;")
                                                      : QString()));
        QCOMPARE(stored(m_server, QStringLiteral("1005")), QStringLiteral("aMano"));
        QVERIFY(!logsIn(m_server.port(), QStringLiteral("1005"), QStringLiteral("amano")));
        QCOMPARE(stored(m_server, QStringLiteral("1005")), QStringLiteral("aMano"));
        QVERIFY(logsIn(m_server.port(), QStringLiteral("1005"), QStringLiteral("aMano")));
        QVERIFY(passwords::verify(QStringLiteral("aMano"), stored(m_server, QStringLiteral("1005"))));
        QVERIFY(logsIn(m_server.port(), QStringLiteral("1005"), QStringLiteral("aMano")));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.log().contains(QStringLiteral(
                                     "the password of user 1005 was stored as typed; it is kept as a salted hash now")),
                                 10000);
    }

    void earlierDatabasesAreConverted()
    {
        if (TestServer::postgres())
            QSKIP("databases of earlier releases are SQLite files; a PostgreSQL one hashes from the start");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("antigua.db"));
        QVERIFY(QFile::copy(m_server.databaseFile(), file));
        // As an earlier release left it: every password as typed.
        {
            // A converted database has nothing left to convert.
            QString out;
            QCOMPARE(TestServer::runServer({QStringLiteral("init"), file, QStringLiteral("--upgrade")}, &out), 0);
            QCOMPARE(TestServer::runServer({QStringLiteral("init"), file, QStringLiteral("--upgrade")}, &out), 0);
            QVERIFY2(out.contains(QStringLiteral(": 0 password(s) stored as typed now kept as salted hashes")),
                     qPrintable(out));
        }
        const auto plainAll = [&] { vorel::test::exec(file, QStringLiteral("UPDATE TUSUARIOS SET USUA_Paswd = 'clave'")); };
        plainAll();
        QString out;
        QCOMPARE(TestServer::runServer({QStringLiteral("init"), file, QStringLiteral("--upgrade")}, &out), 0);
        QVERIFY2(out.contains(QStringLiteral("%1: %2 password(s) stored as typed now kept as salted hashes")
                                  .arg(file)
                                  .arg(countUsers(file))),
                 qPrintable(out));
        QCOMPARE(plainCount(file), 0);

        // Or at the first start of the new server, which says so.
        plainAll();
        TestServer::Options upgraded;
        upgraded.database = file;
        upgraded.captureLog = true;
        TestServer serve(upgraded);
        VOREL_START(serve);
        QTRY_VERIFY2_WITH_TIMEOUT(serve.log().contains(QStringLiteral("password(s) stored as typed by an earlier "
                                                                      "release now kept as salted hashes")),
                                  qPrintable(serve.log()), 10000);
        QCOMPARE(plainCount(file), 0);
        QVERIFY(logsIn(serve.port(), QStringLiteral("1001"), QStringLiteral("clave")));
    }

private:
    static int countUsers(const QString &file)
    {
        return vorel::test::query(file, QStringLiteral("SELECT count(*) FROM TUSUARIOS")).value(0).value(0).toInt();
    }
    static int plainCount(const QString &file)
    {
        return vorel::test::query(file, QStringLiteral("SELECT count(*) FROM TUSUARIOS WHERE substr(USUA_Paswd, 1, 15) <> "
                                          "'$pbkdf2-sha256$'"))
            .value(0)
            .value(0)
            .toInt();
    }
};

QTEST_GUILESS_MAIN(TstPasswords)
#include "tst_passwords.moc"
