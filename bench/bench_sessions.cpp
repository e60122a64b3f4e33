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
#include "common/exception.h"
#include "data/datawalk.h"
#include "rawclient.h"
#include "support/testserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <atomic>
#include <latch>
#include <memory>

using namespace vorel;
using proto::Message;
using proto::MsgType;
using test::RawClient;

namespace {

struct Settings {
    int sessions = 100;
    int rounds = 5;
    qint64 rows = 10000;
    int packet = 0; // 0: the client walk's growing packets
    int thinkMs = 0; // mean pause of a session before each round
};

// The requests whose latency is also shown on its own.
enum Kind { Handshake, Login, Change, Open, Fetch, Close, KindCount };
const char *const kKindNames[KindCount] = {"Hello", "Login", "EjeDir", "Open", "Fetch", "CloseCursor"};

struct Outcome {
    double seconds = 0;
    qint64 requests = 0;
    qint64 rows = 0;
    qint64 errors = 0;
    std::vector<double> latencyMs;
    std::vector<double> latencyOfKind[KindCount];
    QStringList firstErrors;
    qint64 serverPeakKb = -1;
    qint64 serverRssKb = -1;
};

class Session
{
public:
    Session(int index, quint16 port, const Settings &settings, const QString &sql)
        : m_index(index), m_port(port), m_settings(settings), m_sql(sql)
    {
    }

    void run()
    {
        RawClient client;
        if (!logIn(client))
            return;
        // A user looks at what came before the next class: pauses spread
        // evenly up to twice the mean, different for each session.
        quint32 seed = quint32(m_index) * 2654435761u + 1;
        for (int round = 0; round < m_settings.rounds; ++round) {
            if (m_settings.thinkMs > 0) {
                seed = seed * 1664525u + 1013904223u;
                QThread::msleep(seed % quint32(2 * m_settings.thinkMs + 1));
            }
            if (!this->round(client))
                return;
        }
    }

    std::vector<double> latencyMs;
    std::vector<double> latencyOfKind[KindCount];
    qint64 requests = 0;
    qint64 rows = 0;
    qint64 errors = 0;
    QStringList firstErrors;

private:
    void took(Kind kind, const QElapsedTimer &t)
    {
        const double ms = double(t.nsecsElapsed()) / 1e6;
        if (kind != Handshake && kind != Login)
            latencyMs.push_back(ms);
        latencyOfKind[kind].push_back(ms);
        ++requests;
    }

    void error(const QString &what)
    {
        ++errors;
        if (firstErrors.size() < 3)
            firstErrors << QStringLiteral("session %1: %2").arg(m_index).arg(what);
    }

    // One request and its answer, timed; false (counted as an error) on an
    // Error answer.
    bool ask(RawClient &client, const Message &request, Message *reply, Kind kind)
    {
        QElapsedTimer t;
        t.start();
        *reply = client.request(request, 120000);
        took(kind, t);
        if (reply->type == MsgType::Error) {
            error(QString::fromLatin1(kKindNames[kind]) + QStringLiteral(": ") + reply->text);
            return false;
        }
        return true;
    }

    static Message call(const QString &method, const QStringList &args = {})
    {
        Message m;
        m.type = MsgType::Call;
        m.text = method;
        m.args = args;
        return m;
    }

    // A session connects and logs in once, as a user does at the start of
    // the day; the login's key stretching is deliberately slow, so it is
    // shown on its own and not among the requests of the work itself.
    bool logIn(RawClient &client)
    {
        QElapsedTimer t;
        t.start();
        if (!client.connectTo(m_port)) {
            error(QStringLiteral("cannot connect"));
            return false;
        }
        took(Handshake, t);
        Message reply;
        return ask(client, call(QStringLiteral("Login"), {QString::number(1001 + m_index % 8), QStringLiteral("clave"),
                                                          QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")}),
                   &reply, Login);
    }

    // What opening a class and walking it costs: the working rows cleared,
    // the list window's first packet, then the walk's packets, growing as
    // the client's walk grows them.
    bool round(RawClient &client)
    {
        Message reply;
        if (!ask(client, call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM vorel.RVFILRAP")}), &reply,
                 Change)
            || !ask(client, call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM vorel.RQBEX")}), &reply,
                    Change)
            || !ask(client, client.openMessage(QStringLiteral("dspModulo"), m_sql, 50), &reply, Open))
            return false;
        const quint32 cursor = reply.cursor;
        qint64 seen = reply.rows.size();
        qint64 rowBytes = reply.rows.isEmpty() ? 0 : reply.rows.byteSize() / reply.rows.size() + 1;
        int packet = 50;
        bool eof = reply.rows.eof;
        while (!eof) {
            packet = m_settings.packet > 0 ? m_settings.packet : nextPacket(packet, rowBytes);
            Message fetch;
            fetch.type = MsgType::Fetch;
            fetch.cursor = cursor;
            fetch.count = packet;
            if (!ask(client, fetch, &reply, Fetch))
                return false;
            seen += reply.rows.size();
            if (!reply.rows.isEmpty())
                rowBytes = reply.rows.byteSize() / reply.rows.size() + 1;
            eof = reply.rows.eof || reply.rows.isEmpty();
        }
        Message close;
        close.type = MsgType::CloseCursor;
        close.cursor = cursor;
        if (!ask(client, close, &reply, Close))
            return false;
        rows += seen;
        if (seen != m_settings.rows)
            error(QStringLiteral("walked %1 rows of %2").arg(seen).arg(m_settings.rows));
        return true;
    }

    // The client walk's rule: twice the last packet, within its limits in
    // rows and in bytes.
    static int nextPacket(int last, qint64 rowBytes)
    {
        qint64 next = qMin<qint64>(qint64(last) * 2, WalkPacketLimit);
        if (rowBytes > 0)
            next = qMin(next, qMax<qint64>(1, WalkPacketBytes / rowBytes));
        return int(next);
    }

    const int m_index;
    const quint16 m_port;
    const Settings &m_settings;
    const QString m_sql;
};

Outcome runSessions(const Settings &settings, int sessions)
{
    test::TestServer server;
    QString error;
    if (!server.start(&error))
        throw vorel::Exception(QStringLiteral("server: ") + error);
    const bench::GeneratedClass cls = bench::generateClass(server.databaseFile(), QStringLiteral("MEDIANA"), settings.rows);
    const QString sql = cls.classRowsSql(QStringLiteral("VENTAS"));

    std::vector<std::unique_ptr<Session>> all;
    for (int i = 0; i < sessions; ++i)
        all.push_back(std::make_unique<Session>(i, server.port(), settings, sql));
    std::latch ready(sessions + 1);
    std::vector<QThread *> threads;
    for (int i = 0; i < sessions; ++i) {
        Session *s = all[size_t(i)].get();
        threads.push_back(QThread::create([s, &ready] {
            ready.arrive_and_wait();
            s->run();
        }));
        threads.back()->start();
    }
    QElapsedTimer wall;
    ready.arrive_and_wait();
    wall.start();
    for (QThread *t : threads) {
        t->wait();
        delete t;
    }
    Outcome out;
    out.seconds = double(wall.nsecsElapsed()) / 1e9;
    out.serverPeakKb = bench::procStatusKb(server.pid(), "VmHWM");
    // The server notices the last disconnections a moment later.
    QThread::msleep(2000);
    out.serverRssKb = bench::procStatusKb(server.pid(), "VmRSS");
    for (const auto &s : all) {
        out.requests += s->requests;
        out.rows += s->rows;
        out.errors += s->errors;
        out.latencyMs.insert(out.latencyMs.end(), s->latencyMs.begin(), s->latencyMs.end());
        for (int k = 0; k < KindCount; ++k)
            out.latencyOfKind[k].insert(out.latencyOfKind[k].end(), s->latencyOfKind[k].begin(),
                                        s->latencyOfKind[k].end());
        for (const QString &e : s->firstErrors)
            if (out.firstErrors.size() < 10)
                out.firstErrors << e;
    }
    return out;
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
        alone = runSessions(settings, 1);
        many = runSessions(settings, settings.sessions);
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
