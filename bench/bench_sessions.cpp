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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    Settings settings;
    bool ok = true;
    for (int i = 0; i < args.size() && ok; ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QLatin1String("--sessions") && hasValue)
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
        || settings.packet < 0 || settings.thinkMs < 0) {
        std::fputs("usage: bench_sessions [--sessions N (1..250)] [--rounds N] [--rows N] [--packet N (0: as the walk grows them)] [--think-ms N]\n", stderr);
        return 2;
    }

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
