// Many sessions at once against the reference server: each, on a thread of
// its own with a bare protocol client, connects and logs in, then --rounds
// times clears its working rows, opens a class of 10,000 rows with the list
// window's first packet of 50, walks it to its end in packets grown as the
// client's walk grows them, and closes the cursor. Prints the throughput
// (requests and rows per second), the latency of one request (p50, p99),
// the errors (there must be none) and the server's peak memory, beside the
// same rounds of one session alone on a server of its own.
//
//   bench_sessions [--sessions 100] [--rounds 5] [--rows 10000] [--packet N] [--think-ms N]
//   bench_sessions --storm N [--within-s S]
//   bench_sessions --rolling [--sessions 30] [--rows 2000] [--think-ms 500] [--drain-s 30]
//
// --storm: N logins from one address, spread over S seconds (0: at once),
// each staying logged in until the last has tried: how many were refused,
// and the time each took to log in (p50, p99).
// --rolling: three servers on one database behind a director, under the
// sessions' load (each round a use case's transaction, then an open and a
// walk); each member in turn is stopped (SIGTERM), waited for and started
// again. Prints the requests that failed, the sessions that logged in
// again, and how long each member took to drain.
//
// With --think-ms each session pauses before each round, as a user does
// between two classes; without it the sessions ask back to back, which
// on a small machine measures its saturation rather than a working day.
#include "bench/benchutil.h"
#include "bench/classgen.h"
#include "bench/sessionload.h"
#include "common/exception.h"
#include "support/testserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <memory>

using namespace vorel;

namespace {

using namespace vorel::bench;

Outcome runOnOwnServer(const Settings &settings, int sessions)
{
    test::TestServer server;
    QString error;
    if (!server.start(&error))
        throw vorel::Exception(QStringLiteral("server: ") + error);
    const GeneratedClass cls = generateClass(server.databaseFile(), QStringLiteral("MEDIANA"), settings.rows);
    return runSessions(settings, sessions, server.port(), server.pid(), cls.classRowsSql(QStringLiteral("VENTAS")));
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

int storm(int logins, int withinS)
{
    test::TestServer::Options o;
    // Room for the whole storm, from one address, as an office's server is
    // set up for it.
    const QString room = QString::number(logins + 16);
    o.serveArgs = {QStringLiteral("--max-sessions"),          room, QStringLiteral("--max-sessions-per-source"), room,
                   QStringLiteral("--max-sessions-per-user"), room};
    test::TestServer server(o);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "bench_sessions: server: %s\n", error.toUtf8().constData());
        return 1;
    }
    QElapsedTimer wall;
    wall.start();
    const StormOutcome out = runStorm(logins, withinS * 1000, server.port());
    std::printf("%d logins from one address within %d s (took %.1f s): %d refused; login (connect, TLS, Hello, "
                "Login) p50 %.0f ms, p99 %.0f ms, max %.0f ms; server peak memory %.0f MB\n",
                logins, withinS, double(wall.elapsed()) / 1000.0, out.refused, bench::percentile(out.loginMs, 50),
                bench::percentile(out.loginMs, 99), bench::percentile(out.loginMs, 100),
                double(procStatusKb(server.pid(), "VmHWM")) / 1024.0);
    for (const QString &e : out.firstErrors)
        std::printf("  %s\n", e.toUtf8().constData());
    return out.refused == 0 ? 0 : 1;
}

// Until `pid` has exited (a zombie counts), at most `ms`; the time taken.
qint64 waitExit(test::TestServer &server, qint64 ms)
{
    QElapsedTimer t;
    t.start();
    while (server.running() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
    return t.elapsed();
}

int rolling(const Settings &settings, int drainS)
{
    const QStringList hosts{QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")};
    QTemporaryDir dir;
    QStringList certArgs{QStringLiteral("certificate"), QStringLiteral("--out"), dir.path()};
    // The director on a fourth address, on the members' port: a client
    // reaches the member it is told of on the port it was set up with.
    const QString directorHost = QStringLiteral("127.0.0.4");
    for (const QString &h : hosts + QStringList{directorHost})
        certArgs << QStringLiteral("--name") << h;
    if (test::TestServer::runServer(certArgs) != 0) {
        std::fprintf(stderr, "bench_sessions: cannot make a certificate\n");
        return 1;
    }
    const QString certificate = dir.filePath(QStringLiteral("vorel-server.crt"));
    const QStringList tls{QStringLiteral("--tls-cert"),      certificate,
                          QStringLiteral("--tls-key"),       dir.filePath(QStringLiteral("vorel-server.key")),
                          QStringLiteral("--drain-timeout"), QString::number(drainS)};
    // The first server makes the database; the members serve it.
    test::TestServer first;
    QString error;
    if (!first.start(&error)) {
        std::fprintf(stderr, "bench_sessions: server: %s\n", error.toUtf8().constData());
        return 1;
    }
    const GeneratedClass cls = generateClass(first.databaseFile(), QStringLiteral("MEDIANA"), settings.rows);
    const quint16 port = freePort();
    QStringList pool;
    std::vector<std::unique_ptr<test::TestServer>> members;
    for (const QString &host : hosts) {
        const QString metrics = QStringLiteral("%1:%2").arg(host).arg(freePort());
        pool << metrics;
        test::TestServer::Options o;
        o.database = first.databaseFile();
        o.serveArgs = tls
                      + QStringList{QStringLiteral("--listen"), QStringLiteral("%1:%2").arg(host).arg(port),
                                    QStringLiteral("--metrics"), metrics};
        members.push_back(std::make_unique<test::TestServer>(o));
        if (!members.back()->start(&error)) {
            std::fprintf(stderr, "bench_sessions: member %s: %s\n", host.toUtf8().constData(),
                         error.toUtf8().constData());
            return 1;
        }
    }
    test::TestServer::Options d;
    d.database = first.databaseFile();
    d.serveArgs = tls
                  + QStringList{QStringLiteral("--pool"), pool.join(QLatin1Char(',')), QStringLiteral("--listen"),
                                QStringLiteral("%1:%2").arg(directorHost).arg(port)};
    test::TestServer director(d);
    if (!director.start(&error)) {
        std::fprintf(stderr, "bench_sessions: director: %s\n", error.toUtf8().constData());
        return 1;
    }
    QThread::msleep(2500); // the director's first health checks
    // The clients trust the pool's certificate (the test servers' own is
    // set up as the servers start).
    qputenv("VOREL_CA_FILE", QFile::encodeName(certificate));

    RollingLoad load(settings.sessions, directorHost, port, cls.classRowsSql(QStringLiteral("VENTAS")),
                     settings.thinkMs);
    QThread::msleep(3000);
    std::vector<double> drainMs;
    QElapsedTimer wall;
    wall.start();
    for (size_t i = 0; i < members.size(); ++i) {
        ::kill(pid_t(members[i]->pid()), SIGTERM);
        drainMs.push_back(double(waitExit(*members[i], qint64(drainS + 10) * 1000)));
        if (!members[i]->restart(&error)) {
            std::fprintf(stderr, "bench_sessions: restarting %s: %s\n", hosts[int(i)].toUtf8().constData(),
                         error.toUtf8().constData());
            return 1;
        }
        // Back in the director's choice at its next check.
        QThread::msleep(3000);
    }
    const double rollS = double(wall.elapsed()) / 1000.0;
    QThread::msleep(2000);
    const RollingOutcome out = load.stop();
    std::printf("rolling restart of 3 members behind a director (SQLite, one file), %d sessions, %lld-row class, "
                "think %d ms, --drain-timeout %d: %.1f s\n",
                settings.sessions, static_cast<long long>(settings.rows), settings.thinkMs, drainS, rollS);
    std::printf("  requests %lld, failed %lld (%.3f %%), sessions logged in again %lld, Logins refused %lld\n",
                static_cast<long long>(out.requests), static_cast<long long>(out.failed),
                out.requests ? 100.0 * double(out.failed) / double(out.requests) : 0.0,
                static_cast<long long>(out.reconnects), static_cast<long long>(out.refusedLogins));
    std::printf("  request p50 %.1f ms, p99 %.1f ms\n", bench::percentile(out.latencyMs, 50),
                bench::percentile(out.latencyMs, 99));
    for (size_t i = 0; i < drainMs.size(); ++i)
        std::printf("  member %s drained and exited in %.0f ms\n", hosts[int(i)].toUtf8().constData(), drainMs[i]);
    for (const QString &e : out.firstErrors)
        std::printf("  %s\n", e.toUtf8().constData());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    Settings settings;
    bool ok = true;
    int stormLogins = 0, withinS = 0, drainS = 30;
    bool roll = false;
    for (int i = 0; i < args.size() && ok; ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QLatin1String("--storm") && hasValue)
            stormLogins = args[++i].toInt(&ok);
        else if (args[i] == QLatin1String("--within-s") && hasValue)
            withinS = args[++i].toInt(&ok);
        else if (args[i] == QLatin1String("--rolling"))
            roll = true;
        else if (args[i] == QLatin1String("--drain-s") && hasValue)
            drainS = args[++i].toInt(&ok);
        else if (args[i] == QLatin1String("--sessions") && hasValue)
            settings.sessions = args[++i].toInt(&ok);
        else if (args[i] == QLatin1String("--rounds") && hasValue)
            settings.rounds = args[++i].toInt(&ok);
        else if (args[i] == QLatin1String("--rows") && hasValue)
            settings.rows = args[++i].toLongLong(&ok);
        else if (args[i] == QLatin1String("--packet") && hasValue)
            settings.packet = args[++i].toInt(&ok);
        else if (args[i] == QLatin1String("--think-ms") && hasValue)
            settings.thinkMs = args[++i].toInt(&ok);
        else
            ok = false;
    }
    if (!ok || settings.sessions < 1 || settings.sessions > 250 || settings.rounds < 1 || settings.rows < 1
        || settings.packet < 0 || settings.thinkMs < 0 || stormLogins < 0 || stormLogins > 2000 || withinS < 0
        || drainS < 1) {
        std::fputs("usage: bench_sessions [--sessions N (1..250)] [--rounds N] [--rows N] [--packet N (0: as the walk "
                   "grows them)] [--think-ms N]\n"
                   "       bench_sessions --storm N (1..2000) [--within-s S]\n"
                   "       bench_sessions --rolling [--sessions N] [--rows N] [--think-ms N] [--drain-s S]\n",
                   stderr);
        return 2;
    }

    if (stormLogins > 0)
        return storm(stormLogins, withinS);
    if (roll)
        return rolling(settings, drainS);

    Outcome alone, many;
    try {
        alone = runOnOwnServer(settings, 1);
        many = runOnOwnServer(settings, settings.sessions);
    } catch (const vorel::Exception &e) {
        std::fprintf(stderr, "bench_sessions: %s\n", e.message().toUtf8().constData());
        return 1;
    }

    const QString packets = settings.packet > 0 ? QString::number(settings.packet)
                                                : QStringLiteral("the walk's growing packets");
    std::printf("%d sessions x %d rounds (after one connect and Login each: working rows, open of %lld rows in "
                "packets of 50 then %s, close; a pause of %d ms on average before each): %lld requests, %lld rows "
                "in %.2f s\n"
                "latencies without Hello and Login, which come once per session\n\n",
                settings.sessions, settings.rounds, static_cast<long long>(settings.rows),
                packets.toUtf8().constData(), settings.thinkMs, static_cast<long long>(many.requests),
                static_cast<long long>(many.rows), many.seconds);
    bench::Table table;
    const QString one = QStringLiteral("1 session alone");
    table.row(QStringLiteral("throughput, requests"), double(many.requests) / many.seconds,
              double(alone.requests) / alone.seconds, "req/s", one);
    table.row(QStringLiteral("throughput, rows"), double(many.rows) / many.seconds, double(alone.rows) / alone.seconds,
              "rows/s", one);
    // Hello and Login stand apart: they happen once per session.
    table.row(QStringLiteral("latency per request, p50"), bench::percentile(many.latencyMs, 50),
              bench::percentile(alone.latencyMs, 50), "ms", one);
    table.row(QStringLiteral("latency per request, p99"), bench::percentile(many.latencyMs, 99),
              bench::percentile(alone.latencyMs, 99), "ms", one);
    for (int k = 0; k < KindCount; ++k)
        table.row(QStringLiteral("  %1, p50").arg(QLatin1String(kKindNames[k])),
                  bench::percentile(many.latencyOfKind[k], 50), bench::percentile(alone.latencyOfKind[k], 50), "ms",
                  QStringLiteral("1 session alone (p99: %1 ms here, %2 ms alone)")
                      .arg(bench::percentile(many.latencyOfKind[k], 99), 0, 'f', 1)
                      .arg(bench::percentile(alone.latencyOfKind[k], 99), 0, 'f', 1));
    table.row(QStringLiteral("server peak memory (VmHWM)"), double(many.serverPeakKb) / 1024.0,
              double(alone.serverPeakKb) / 1024.0, "MB", one);
    table.row(QStringLiteral("server VmRSS 2 s after the last session"), double(many.serverRssKb) / 1024.0,
              double(alone.serverRssKb) / 1024.0, "MB", one);
    table.print();
    std::printf("errors: %lld (1 session alone: %lld)\n", static_cast<long long>(many.errors),
                static_cast<long long>(alone.errors));
    for (const QString &e : many.firstErrors + alone.firstErrors)
        std::printf("  %s\n", e.toUtf8().constData());
    return many.errors == 0 && alone.errors == 0 ? 0 : 1;
}
