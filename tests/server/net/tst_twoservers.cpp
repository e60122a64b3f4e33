// Two server processes in front of one database, as several machines serve
// one central PostgreSQL database: what one session commits, the other
// sees; what it has not committed, and its working rows, it does not.
#include "rawclient.h"
#include "support/testserver.h"

#include <QTest>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTemporaryDir>

#include <csignal>
#include <map>
#include <memory>
#include <vector>

using namespace vorel;
using namespace vorel::test;
using proto::MsgType;

namespace {

// Another vorel-server on the first one's database; `serveArgs` come after
// the usual arguments, and so override them.
std::unique_ptr<TestServer> onTheSameDatabase(const TestServer &first, const QStringList &serveArgs = {})
{
    TestServer::Options o;
    o.database = first.databaseFile();
    o.serveArgs = serveArgs;
    return std::make_unique<TestServer>(o);
}

qint64 countOf(RawClient &c, const QString &sql)
{
    const proto::Message m = c.open(QStringLiteral("dspq0"), sql);
    if (m.type != MsgType::OpenResult) {
        qWarning("%s: %s", qPrintable(sql), qPrintable(m.text));
        return -1;
    }
    c.closeCursor(m.cursor);
    return m.rows.value(0, 0).toLongLong();
}

} // namespace

class TstTwoServers : public QObject
{
    Q_OBJECT

private:
    TestServer m_first;
    std::unique_ptr<TestServer> m_second;

private Q_SLOTS:
    void initTestCase()
    {
        VOREL_REQUIRE_BACKEND();
        QString error;
        QVERIFY2(m_first.start(&error), qPrintable(error));
        m_second = onTheSameDatabase(m_first);
        QVERIFY2(m_second->start(&error), qPrintable(error));
    }

    void committedChangesAreSeenThroughTheOther()
    {
        RawClient a, b;
        // Administrators: the parameters are theirs to write.
        QVERIFY(a.connectTo(m_first.port()) && a.login(QStringLiteral("1002")));
        QVERIFY(b.connectTo(m_second->port()) && b.login(QStringLiteral("1002")));
        const QString count = QStringLiteral("SELECT count(*) FROM TPARAMS WHERE PARA_Param = 'DOSSERV'");
        QCOMPARE(countOf(b, count), 0);

        QCOMPARE(a.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(a.call(QStringLiteral("EjeDir"),
                        {QStringLiteral("INSERT INTO vorel.TPARAMS (PARA_Param, PARA_Valor) VALUES ('DOSSERV', 'uno')")})
                     .type,
                 MsgType::CallResult);
        // Its own transaction sees it; the other server's session does not yet.
        QCOMPARE(countOf(a, count), 1);
        QCOMPARE(countOf(b, count), 0);
        QCOMPARE(a.call(QStringLiteral("CommitTran")).type, MsgType::CallResult);
        QCOMPARE(countOf(b, count), 1);

        // And back: a change through the second, rolled back, never shows.
        QCOMPARE(b.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(b.call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM TPARAMS WHERE PARA_Param = 'DOSSERV'")})
                     .type,
                 MsgType::CallResult);
        QCOMPARE(b.call(QStringLiteral("RollBackTran")).type, MsgType::CallResult);
        QCOMPARE(countOf(a, count), 1);
        QCOMPARE(b.call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM TPARAMS WHERE PARA_Param = 'DOSSERV'")})
                     .type,
                 MsgType::CallResult);
        QCOMPARE(countOf(a, count), 0);
    }

    void workingRowsStayWithTheirSession()
    {
        RawClient a, b, c;
        QVERIFY(a.connectTo(m_first.port()) && a.login());
        QVERIFY(b.connectTo(m_second->port()) && b.login());
        QVERIFY(c.connectTo(m_first.port()) && c.login());
        const QString insert =
            QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (1, '%1')");
        QCOMPARE(a.call(QStringLiteral("EjeDir"), {insert.arg(QStringLiteral("A%"))}).type, MsgType::CallResult);
        QCOMPARE(b.call(QStringLiteral("EjeDir"), {insert.arg(QStringLiteral("B%"))}).type, MsgType::CallResult);
        const QString mine = QStringLiteral("SELECT count(*) FROM vorel.RVFILRAP WHERE VFIL_Valor = '%1'");
        QCOMPARE(countOf(a, mine.arg(QStringLiteral("A%"))), 1);
        QCOMPARE(countOf(a, mine.arg(QStringLiteral("B%"))), 0);
        QCOMPARE(countOf(b, mine.arg(QStringLiteral("B%"))), 1);
        QCOMPARE(countOf(b, mine.arg(QStringLiteral("A%"))), 0);
        // Another session of the same server and user has none of them.
        QCOMPARE(countOf(c, QStringLiteral("SELECT count(*) FROM vorel.RVFILRAP")), 0);
        // Each session's own row of RSESION names its user.
        QCOMPARE(countOf(b, QStringLiteral("SELECT count(*) FROM vorel.RSESION")), 1);
    }

    // A director in front of three servers on the same database sends each
    // login to the least busy member whose health check answered; a member
    // that dies is left out within seconds, its clients lose their
    // connection, and every later login goes to the others.
    void directorSpreadsLoginsAndLeavesTheDeadOut()
    {
        const QStringList hosts{QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")};
        QTemporaryDir dir;
        QCOMPARE(TestServer::runServer({QStringLiteral("certificate"), QStringLiteral("--out"), dir.path(),
                                        QStringLiteral("--name"), hosts[0], QStringLiteral("--name"), hosts[1],
                                        QStringLiteral("--name"), hosts[2]}),
                 0);
        const QString certificate = dir.filePath(QStringLiteral("vorel-server.crt"));
        const QStringList tls{QStringLiteral("--tls-cert"), certificate, QStringLiteral("--tls-key"),
                              dir.filePath(QStringLiteral("vorel-server.key"))};
        // A port free on every one of the hosts: the tests running beside
        // this one take ports on 127.0.0.2 and .3 too.
        auto freePort = [](const QStringList &on) {
            for (int attempt = 0; attempt < 50; ++attempt) {
                std::vector<std::unique_ptr<QTcpServer>> probes;
                quint16 port = 0;
                for (const QString &host : on) {
                    probes.push_back(std::make_unique<QTcpServer>());
                    if (!probes.back()->listen(QHostAddress(host), port))
                        break;
                    port = probes.back()->serverPort();
                }
                if (probes.size() == size_t(on.size()) && probes.back()->isListening())
                    return port;
            }
            return quint16(0);
        };
        // Clients reach every member on one port; each is told only a host.
        const quint16 port = freePort(hosts);
        QStringList pool;
        std::vector<std::unique_ptr<TestServer>> members;
        for (const QString &host : hosts) {
            const QString metrics = QStringLiteral("%1:%2").arg(host).arg(freePort({host}));
            pool << metrics;
            members.push_back(onTheSameDatabase(m_first, tls + QStringList{QStringLiteral("--listen"),
                                                                           QStringLiteral("%1:%2").arg(host).arg(port),
                                                                           QStringLiteral("--metrics"), metrics}));
            QString error;
            QVERIFY2(members.back()->start(&error), qPrintable(error));
        }
        const auto director = onTheSameDatabase(m_first, tls + QStringList{QStringLiteral("--pool"), pool.join(QLatin1Char(','))});
        QString error;
        QVERIFY2(director->start(&error), qPrintable(error));
        const QByteArray shared = qgetenv("VOREL_CA_FILE");
        qputenv("VOREL_CA_FILE", QFile::encodeName(certificate));
        const auto restore = qScopeGuard([&] { qputenv("VOREL_CA_FILE", shared); });

        auto ask = [&] {
            RawClient d;
            return d.connectTo(director->port()) ? d.call(QStringLiteral("dServer")).value.toString() : QString();
        };
        // The director's first checks are under way as it starts.
        QTRY_VERIFY_WITH_TIMEOUT(hosts.contains(ask()), 5000);
        std::map<QString, std::vector<std::unique_ptr<RawClient>>> sessions;
        // Empty, or why a login failed.
        auto logIn = [&](int count) {
            for (int i = 0; i < count; ++i) {
                const QString host = ask();
                auto c = std::make_unique<RawClient>();
                c->setHost(host);
                if (!c->connectTo(port))
                    return QStringLiteral("login %1: no connection to %2").arg(i).arg(host);
                const proto::Message reply = c->call(QStringLiteral("Login"), {QStringLiteral("1001"), QStringLiteral("clave"),
                                                                              QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")});
                if (reply.type != MsgType::CallResult)
                    return QStringLiteral("login %1 on %2: %3").arg(i).arg(host, c->error(reply));
                sessions[host].push_back(std::move(c));
            }
            return QString();
        };
        QString failed = logIn(300);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        for (const QString &host : hosts)
            QVERIFY2(sessions[host].size() >= 90 && sessions[host].size() <= 110,
                     qPrintable(QStringLiteral("%1: %2 sessions").arg(host).arg(sessions[host].size())));

        members[1]->kill();
        QElapsedTimer since;
        since.start();
        qint64 lastSent = 0;
        while (since.elapsed() < 8000) {
            if (ask() == hosts[1])
                lastSent = since.elapsed();
            QTest::qWait(50);
        }
        qInfo("300 logins: %zu, %zu, %zu; the dead member last chosen %lld ms after it died",
              sessions[hosts[0]].size(), sessions[hosts[1]].size(), sessions[hosts[2]].size(), lastSent);
        QVERIFY2(lastSent < 5000, qPrintable(QString::number(lastSent)));
        for (const auto &c : sessions[hosts[1]])
            QVERIFY(c->waitClosed());
        const size_t before = sessions[hosts[1]].size();
        failed = logIn(30);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QCOMPARE(sessions[hosts[1]].size(), before);
    }

    // A member told to stop is left out at once, while it still answers its
    // page and its sessions finish their transactions.
    void directorLeavesADrainingMemberOut()
    {
        auto freePort = [] {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            return probe.serverPort();
        };
        const QString metrics = QStringLiteral("127.0.0.1:%1").arg(freePort());
        const auto member = onTheSameDatabase(m_first, {QStringLiteral("--metrics"), metrics});
        QString error;
        QVERIFY2(member->start(&error), qPrintable(error));
        // Without a member to send to, it answers its own --advertise.
        const auto director = onTheSameDatabase(
            m_first, {QStringLiteral("--pool"), metrics, QStringLiteral("--advertise"), QStringLiteral("director")});
        QVERIFY2(director->start(&error), qPrintable(error));
        auto ask = [&] {
            RawClient d;
            return d.connectTo(director->port()) ? d.call(QStringLiteral("dServer")).value.toString() : QString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(ask(), QStringLiteral("127.0.0.1"), 5000);
        RawClient busy;
        QVERIFY(busy.connectTo(member->port()) && busy.login());
        QCOMPARE(busy.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(::kill(pid_t(member->pid()), SIGTERM), 0);
        QElapsedTimer since;
        since.start();
        QTRY_VERIFY_WITH_TIMEOUT(ask() == QStringLiteral("director") || since.elapsed() > 10000, 11000);
        qInfo("a draining member left out %lld ms after SIGTERM", since.elapsed());
        QVERIFY2(since.elapsed() < 3000, qPrintable(QString::number(since.elapsed())));
        QVERIFY(member->running());
        QCOMPARE(busy.call(QStringLiteral("RollBackTran")).type, MsgType::CallResult);
        QVERIFY(busy.waitClosed());
        QTRY_VERIFY_WITH_TIMEOUT(!member->running(), 5000);
    }
};

QTEST_GUILESS_MAIN(TstTwoServers)
#include "tst_twoservers.moc"
