// The pieces of the way in that need no running server: the one form of a
// user number, a Login's turn, the director's reading of a member's health,
// the places a user and an address may take, and the socket options that
// find dead peers.
#include "server/net/director.h"
#include "server/net/server.h"
#include "server/net/sockopts.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace vorel::server;

class TstPreLogin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void userNumbersHaveOneForm_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("user");
        QTest::newRow("plain") << "1002"
                               << "1002";
        QTest::newRow("spaces around") << " 1002 "
                                       << "1002";
        QTest::newRow("zero") << "0"
                              << "0";
        // All of these were 1002 to a numeric comparison.
        QTest::newRow("leading zero") << "01002"
                                      << "";
        QTest::newRow("sign") << "+1002"
                              << "";
        QTest::newRow("fraction") << "1002.0"
                                  << "";
        QTest::newRow("exponent") << "1.002e3"
                                  << "";
        QTest::newRow("hex") << "0x3ea"
                             << "";
        QTest::newRow("negative") << "-1002"
                                  << "";
        QTest::newRow("other digits") << QString::fromUtf8("١٠٠٢") << "";
        QTest::newRow("inner space") << "10 02"
                                     << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("too long") << QString(19, QLatin1Char('9')) << "";
    }
    void userNumbersHaveOneForm()
    {
        QFETCH(QString, typed);
        QFETCH(QString, user);
        QCOMPARE(canonicalUser(typed), user);
    }

    void sessionPlacesPerUserAndAddress_data()
    {
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("perUser");
        QTest::addColumn<int>("perSource");
        QTest::addColumn<int>("userPlaces");
        QTest::addColumn<int>("sourcePlaces");
        QTest::newRow("derived") << 256 << 0 << 0 << 128 << 224;
        QTest::newRow("derived, tiny") << 2 << 0 << 0 << 1 << 2;
        QTest::newRow("given") << 256 << 4 << 40 << 4 << 40;
        QTest::newRow("never past the total") << 10 << 50 << 50 << 10 << 10;
    }
    void sessionPlacesPerUserAndAddress()
    {
        QFETCH(int, max);
        QFETCH(int, perUser);
        QFETCH(int, perSource);
        ServerConfig c;
        c.maxSessions = max;
        c.maxSessionsPerUser = perUser;
        c.maxSessionsPerSource = perSource;
        QTEST(c.sessionsPerUser(), "userPlaces");
        QTEST(c.sessionsPerSource(), "sourcePlaces");
    }

    // A Login's turn: checked, queued behind the attempt of its user or
    // address being checked, or answered at once while failures hold it back.
    void loginTurns_data()
    {
        QTest::addColumn<int>("userFailures");    // of user 7001
        QTest::addColumn<int>("addressFailures"); // from the address, for another user
        QTest::addColumn<int>("waitedMs");        // since the last failure
        QTest::addColumn<bool>("inFlight");
        QTest::addColumn<int>("turn");
        QTest::addColumn<QString>("answer");
        const int check = int(LoginThrottle::Turn::Check), queue = int(LoginThrottle::Turn::Queue),
                  refuse = int(LoginThrottle::Turn::Refuse);
        const QString again =
            QStringLiteral("Demasiados intentos fallidos de inicio de sesión: inténtelo de nuevo en %1 s");
        QTest::newRow("first of a shift") << 0 << 0 << 0 << false << check << QString();
        QTest::newRow("a shift behind one being checked") << 0 << 0 << 0 << true << queue << QString();
        QTest::newRow("right after a failure") << 1 << 0 << 0 << false << refuse << again.arg(1);
        QTest::newRow("after five in a row") << 5 << 0 << 0 << false << refuse << again.arg(4);
        QTest::newRow("right after a failure from the address") << 0 << 2 << 0 << false << refuse << again.arg(1);
        QTest::newRow("the wait over") << 1 << 0 << 300 << false << check << QString();
        QTest::newRow("the wait over, another guess being checked") << 1 << 0 << 300 << true << refuse << again.arg(1);
    }
    void loginTurns()
    {
        QFETCH(int, userFailures);
        QFETCH(int, addressFailures);
        QFETCH(int, waitedMs);
        QFETCH(bool, inFlight);
        const QString address = QStringLiteral("10.0.0.1");
        LoginThrottle throttle;
        for (int i = 0; i < userFailures; ++i)
            throttle.failed(QStringLiteral("7001"), QStringLiteral("10.0.0.2"));
        for (int i = 0; i < addressFailures; ++i)
            throttle.failed(QStringLiteral("7002"), address);
        QTest::qWait(waitedMs);
        const LoginThrottle::Verdict v = throttle.turnOf(QStringLiteral("7001"), address, inFlight);
        QTEST(int(v.turn), "turn");
        QTEST(v.turn == LoginThrottle::Turn::Refuse ? LoginThrottle::retryMessage(v.retryMs) : QString(), "answer");
    }

    void directorReadsAMembersHealth_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("healthy");
        QTest::addColumn<int>("sessions");
        QTest::addColumn<int>("room");
        const QByteArray head = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";
        QTest::newRow("takes logins") << head + "vorel_sessions 12\nvorel_draining 0\nvorel_login_room 244\n"
                                      << true << 12 << 244;
        QTest::newRow("full") << head + "vorel_sessions 256\nvorel_login_room 0\n" << true << 256 << 0;
        QTest::newRow("no room said") << head + "vorel_sessions 3\n" << true << 3 << -1;
        QTest::newRow("draining") << QByteArray("HTTP/1.0 503 Service Unavailable\r\n\r\nvorel_sessions 3\n") << false
                                  << 0 << -1;
        QTest::newRow("not a member") << head + "hello\n" << false << 0 << -1;
        QTest::newRow("a name that only begins alike") << head + "vorel_sessions_total 3\n" << false << 0 << -1;
        QTest::newRow("nothing") << QByteArray() << false << 0 << -1;
    }
    void directorReadsAMembersHealth()
    {
        QFETCH(QByteArray, answer);
        const Director::Health h = Director::read(answer);
        QTEST(h.healthy, "healthy");
        QTEST(h.sessions, "sessions");
        QTEST(h.room, "room");
    }

    // What the server sets on each connection it takes: a peer that
    // vanished is found within 30 s of silence.
    void deadPeersAreLookedFor()
    {
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, listener.serverPort());
        QVERIFY(listener.waitForNewConnection(5000));
        QTcpSocket *accepted = listener.nextPendingConnection();
        const qintptr fd = accepted->socketDescriptor();
        QCOMPARE(sockopts::deadPeerSettings(fd).idleS, -1);
        QVERIFY(sockopts::findDeadPeers(fd));
        const sockopts::DeadPeerSettings s = sockopts::deadPeerSettings(fd);
        QCOMPARE(s.idleS, sockopts::kIdleS);
        QCOMPARE(s.intervalS, sockopts::kIntervalS);
        QCOMPARE(s.probes, sockopts::kProbes);
        QCOMPARE(s.userTimeoutMs, sockopts::kDeadPeerMs);
        QVERIFY(s.idleS * 1000 + s.intervalS * 1000 * s.probes <= 30000);
        QCOMPARE(sockopts::peerAddress(fd), QHostAddress(QHostAddress::LocalHost));
    }
};

QTEST_GUILESS_MAIN(TstPreLogin)
#include "tst_prelogin.moc"
