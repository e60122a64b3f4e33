// What a line that breaks costs a client that holds a session (the
// shell's connection, with what it needs to open the session again):
//
//   return    the server stopped and started again on the same port: from
//             the moment it listens again until the client's next request
//             (MenIni) is answered, on a session opened again on the way;
//   idle      the line going silent (no FIN, no RST) while nothing is
//             asked: until the connection knows it is gone;
//   request   the same with a request waiting for its answer: until the
//             request fails.
//
// The silent line is the loopback interface taken down inside a network
// namespace of the benchmark's own (it starts itself again under
// "unshare -n", which needs root): the server's process is still there,
// and only the system's keep-alive and retransmission limits find the loss.
// SQLite only (the namespace has no way to a PostgreSQL cluster).
//
//   bench_reconnect [--runs N]      medians of N runs (3 by default)
#include "bench/benchutil.h"
#include "data/connection.h"
#include "support/testserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <cstdio>
#include <vector>

using namespace vorel;

namespace {

bool loopback(bool up)
{
    return QProcess::execute(QStringLiteral("ip"), {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
                                                    up ? QStringLiteral("up") : QStringLiteral("down")})
           == 0;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void logIn(TSocketConnection &c, const test::TestServer &server)
{
    TSocketConnection::Session session;
    session.address = server.host();
    session.login = {QStringLiteral("1001"), QStringLiteral("clave"), QStringLiteral("DEMO"),
                     QStringLiteral("127.0.0.1")};
    c.SetHost(server.host());
    c.SetPort(server.port());
    c.Open();
    c.Call(QStringLiteral("Login"), session.login);
    c.SetSession(session);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("VOREL_BENCH_NETNS")) {
        qputenv("VOREL_BENCH_NETNS", "1");
        QStringList args{QStringLiteral("-n"), QString::fromLocal8Bit(argv[0])};
        for (int i = 1; i < argc; ++i)
            args << QString::fromLocal8Bit(argv[i]);
        QCoreApplication app(argc, argv);
        return QProcess::execute(QStringLiteral("unshare"), args);
    }
    qunsetenv("VOREL_TEST_BACKEND");
    QCoreApplication app(argc, argv);
    int runs = 3;
    const QStringList args = app.arguments();
    if (const qsizetype at = args.indexOf(QStringLiteral("--runs")); at > 0)
        runs = qMax(1, args.value(at + 1).toInt());
    if (!loopback(true)) {
        std::fprintf(stderr, "bench_reconnect: cannot bring the loopback up (root, unshare -n)\n");
        return 1;
    }

    test::TestServer::Options o;
    o.serveArgs << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:%1").arg(freePort());
    test::TestServer server(o);
    QString why;
    if (!server.start(&why)) {
        std::fprintf(stderr, "bench_reconnect: %s\n", qPrintable(why));
        return 1;
    }

    std::vector<double> back, idle, request;
    for (int run = 0; run < runs; ++run) {
        TSocketConnection c;
        logIn(c, server);

        // The server back on its port: the next request opens a session.
        if (!server.restart(&why)) {
            std::fprintf(stderr, "bench_reconnect: %s\n", qPrintable(why));
            return 1;
        }
        QElapsedTimer t;
        t.start();
        QCoreApplication::processEvents();
        c.Call(QStringLiteral("MenIni"));
        back.push_back(double(t.nsecsElapsed()) / 1e6);

        // Silent while idle.
        bool gone = false;
        QObject::connect(&c, &TSocketConnection::Disconnected, [&gone] { gone = true; });
        loopback(false);
        t.restart();
        while (!gone && t.elapsed() < 120000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        idle.push_back(double(t.elapsed()) / 1000);
        loopback(true);
        c.Call(QStringLiteral("MenIni"));

        // Silent with a request on its way.
        loopback(false);
        t.restart();
        try {
            c.Call(QStringLiteral("MenIni"));
        } catch (const ConnectionFailure &) {
        }
        request.push_back(double(t.elapsed()) / 1000);
        loopback(true);
        std::printf("run %d: return %.1f ms, idle %.1f s, request %.1f s\n", run + 1, back.back(), idle.back(),
                    request.back());
        std::fflush(stdout);
    }
    std::printf("median of %d: server's return to the first answer %.1f ms; silent line found idle %.1f s, "
                "during a request %.1f s\n",
                runs, bench::median(back), bench::median(idle), bench::median(request));
    return 0;
}
