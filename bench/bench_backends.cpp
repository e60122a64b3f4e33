// The two backends of the reference server side by side, in one run, on
// the same data: a demo database on SQLite and one on PostgreSQL, each with
// the same generated classes, each behind a vorel-server of its own.
//  - the class walk: open a class of --rows rows with the list window's
//    packet of 50, then walk it to its end in the client walk's growing
//    packets (median of --runs); the answers of both must be the same;
//  - --sessions sessions at once (default 50), each walking a class of
//    --session-rows rows --rounds times (see sessionload.h).
// Prints each figure on PostgreSQL beside SQLite's and their ratio.
//
//   bench_backends [--pg URI] [--rows 100000] [--runs 5] [--sessions 50] [--rounds 5]
//                  [--session-rows 10000] [--think-ms 0]
//
// URI names a cluster (tests/support/pgcluster.sh start DIR prints one; the
// default is VOREL_TEST_PG); the benchmark makes a database of its own there
// and drops it at the end.
#include "bench/benchutil.h"
#include "bench/classgen.h"
#include "bench/sessionload.h"
#include "common/exception.h"
#include "data/datawalk.h"
#include "rawclient.h"
#include "server/backend/postgres/pgconnection.h"
#include "support/testserver.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>

using namespace vorel;
using namespace vorel::bench;
using proto::Message;
using proto::MsgType;
using test::RawClient;

namespace {

const QString kServer = QStringLiteral(VOREL_BIN_DIR "/vorel-server");

void runInit(const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(kServer, QStringList{QStringLiteral("init")} + args);
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        throw Exception(QStringLiteral("init %1: %2").arg(args.join(QLatin1Char(' ')), QString::fromUtf8(p.readAll())));
}

// A vorel-server on one database, on a free port.
class Server
{
public:
    explicit Server(const QString &database)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(kServer, {QStringLiteral("serve"), QStringLiteral("--db"), QStringLiteral("DEMO=") + database,
                                  QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                  QStringLiteral("--max-sessions"), QStringLiteral("300"),
                                  QStringLiteral("--tls-cert"), test::TestServer::certificateFile(),
                                  QStringLiteral("--tls-key"), test::TestServer::keyFile()});
        static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        if (!m_process.waitForStarted(30000) || !m_process.waitForReadyRead(30000))
            throw Exception(QStringLiteral("the server did not start"));
        const auto m = listening.match(QString::fromUtf8(m_process.readLine()));
        if (!m.hasMatch())
            throw Exception(QStringLiteral("the server did not report its port"));
        m_port = quint16(m.captured(1).toUInt());
    }
    ~Server()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

struct Walk {
    double ms = 0;
    qint64 rows = 0;
    QByteArray digest; // of every column description and row as it travelled
};

// The statistics walk of the client over raw frames: 50 rows, then packets
// twice the last, within the walk's limits in rows and bytes.
Walk walk(quint16 port, const QString &sql, bool digest)
{
    RawClient c;
    if (!c.connectTo(port) || !c.login())
        throw Exception(QStringLiteral("cannot log in"));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QElapsedTimer t;
    t.start();
    Message reply = c.open(QStringLiteral("dspModulo"), sql, 50);
    if (reply.type != MsgType::OpenResult)
        throw Exception(QStringLiteral("open: ") + reply.text);
    const quint32 cursor = reply.cursor;
    Walk out;
    if (digest)
        for (const proto::Column &col : reply.columns)
            hash.addData((col.name + QLatin1Char(':') + QString::number(int(col.type)) + QLatin1Char(':')
                          + QString::number(col.size))
                             .toUtf8());
    int packet = 50;
    for (;;) {
        out.rows += reply.rows.size();
        if (digest)
            for (qsizetype r = 0; r < reply.rows.size(); ++r) {
                const char *row = reply.rows.rowData(r), *end = row;
                for (int col = 0; col < reply.rows.width(); ++col)
                    end = proto::RowBlock::skipValue(end);
                hash.addData(QByteArrayView(row, end - row));
            }
        const qint64 rowBytes = reply.rows.isEmpty() ? 0 : reply.rows.byteSize() / reply.rows.size() + 1;
        if (reply.rows.eof || reply.rows.isEmpty())
            break;
        qint64 next = qMin<qint64>(qint64(packet) * 2, WalkPacketLimit);
        if (rowBytes > 0)
            next = qMin(next, qMax<qint64>(1, WalkPacketBytes / rowBytes));
        packet = int(next);
        reply = c.fetch(cursor, packet);
        if (reply.type == MsgType::Error)
            throw Exception(QStringLiteral("fetch: ") + reply.text);
    }
    out.ms = double(t.nsecsElapsed()) / 1e6;
    c.closeCursor(cursor);
    if (digest)
        out.digest = hash.result().toHex();
    return out;
}

struct Backend {
    QString name;
    QString database;
    std::unique_ptr<Server> server;
    std::vector<double> walkMs;
    Walk first;
    Outcome sessions;
};

int parse(const QStringList &args, Settings *settings, qint64 *rows, int *runs, QString *pg)
{
    bool ok = true;
    for (int i = 0; i < args.size() && ok; ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QLatin1String("--pg") && hasValue)
            *pg = args[++i];
        else if (args[i] == QLatin1String("--rows") && hasValue)
            *rows = countOf(args[++i]), ok = *rows > 0;
        else if (args[i] == QLatin1String("--runs") && hasValue)
            *runs = args[++i].toInt(&ok);
        else if (args[i] == QLatin1String("--sessions") && hasValue)
            settings->sessions = args[++i].toInt(&ok);
        else if (args[i] == QLatin1String("--rounds") && hasValue)
            settings->rounds = args[++i].toInt(&ok);
        else if (args[i] == QLatin1String("--session-rows") && hasValue)
            settings->rows = countOf(args[++i]), ok = settings->rows > 0;
        else if (args[i] == QLatin1String("--think-ms") && hasValue)
            settings->thinkMs = args[++i].toInt(&ok);
        else
            ok = false;
    }
    return ok && *runs > 0 && settings->sessions > 0 && settings->sessions <= 250 && settings->rounds > 0
        && settings->thinkMs >= 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Settings settings;
    settings.sessions = 50;
    qint64 rows = 100000;
    int runs = 5;
    QString cluster = qEnvironmentVariable("VOREL_TEST_PG");
    if (!parse(app.arguments().mid(1), &settings, &rows, &runs, &cluster)) {
        std::fputs("usage: bench_backends [--pg URI] [--rows N] [--runs N] [--sessions N (1..250)] [--rounds N] "
                   "[--session-rows N] [--think-ms N]\n",
                   stderr);
        return 2;
    }
    if (cluster.isEmpty()) {
        std::fputs("bench_backends: needs a PostgreSQL cluster: --pg URI or VOREL_TEST_PG "
                   "(tests/support/pgcluster.sh start DIR prints one)\n",
                   stderr);
        return 2;
    }

    QTemporaryDir dir;
    const QString pgName = QStringLiteral("vorel_bench_%1").arg(QCoreApplication::applicationPid());
    auto dropDatabase = [&] {
        try {
            server::pg::Connection c(cluster);
            c.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(pgName));
        } catch (const std::exception &) {
        }
    };
    Backend sqlite{QStringLiteral("SQLite"), dir.filePath(QStringLiteral("bench.db")), {}, {}, {}, {}};
    Backend postgres{QStringLiteral("PostgreSQL"), server::pg::Connection::withDatabase(cluster, pgName), {}, {}, {}, {}};
    int status = 0;
    try {
        const QString walkClass = QStringLiteral("GRANDE"), sessionClass = QStringLiteral("MEDIANA");
        runInit({sqlite.database, QStringLiteral("--demo")});
        runInit({QStringLiteral("--pg"), postgres.database, QStringLiteral("--demo")});
        for (Backend *b : {&sqlite, &postgres}) {
            QElapsedTimer t;
            t.start();
            generateClass(b->database, walkClass, rows);
            generateClass(b->database, sessionClass, settings.rows);
            std::printf("%s: classes of %lld and %lld rows made in %.1f s\n", qPrintable(b->name),
                        static_cast<long long>(rows), static_cast<long long>(settings.rows),
                        double(t.elapsed()) / 1000.0);
            b->server = std::make_unique<Server>(b->database);
        }
        GeneratedClass big;
        big.id = walkClass;
        GeneratedClass medium;
        medium.id = sessionClass;
        // Runs alternate between the backends, so that the machine's other
        // load falls on both alike.
        for (int run = 0; run < runs; ++run)
            for (Backend *b : {&sqlite, &postgres}) {
                const Walk w = walk(b->server->port(), big.classRowsSql(), run == 0);
                if (run == 0)
                    b->first = w;
                b->walkMs.push_back(w.ms);
            }
        for (Backend *b : {&sqlite, &postgres})
            b->sessions = runSessions(settings, settings.sessions, b->server->port(), b->server->pid(),
                                      medium.classRowsSql());

        std::printf("\nthe same class walk (%lld rows, median of %d) and %d sessions x %d rounds of a %lld-row class "
                    "(pause %d ms); ours = PostgreSQL, reference = SQLite\n\n",
                    static_cast<long long>(rows), runs, settings.sessions, settings.rounds,
                    static_cast<long long>(settings.rows), settings.thinkMs);
        Table table;
        const QString ref = QStringLiteral("SQLite, same run");
        table.row(QStringLiteral("class walk"), median(postgres.walkMs), median(sqlite.walkMs), "ms", ref);
        table.row(QStringLiteral("class walk, rows per second"), double(rows) / median(postgres.walkMs) * 1000.0,
                  double(rows) / median(sqlite.walkMs) * 1000.0, "rows/s", ref);
        const Outcome &p = postgres.sessions, &s = sqlite.sessions;
        table.row(QStringLiteral("%1 sessions: throughput").arg(settings.sessions), double(p.rows) / p.seconds,
                  double(s.rows) / s.seconds, "rows/s", ref);
        table.row(QStringLiteral("%1 sessions: requests").arg(settings.sessions), double(p.requests) / p.seconds,
                  double(s.requests) / s.seconds, "req/s", ref);
        table.row(QStringLiteral("%1 sessions: latency p50").arg(settings.sessions), percentile(p.latencyMs, 50),
                  percentile(s.latencyMs, 50), "ms", ref);
        table.row(QStringLiteral("%1 sessions: latency p99").arg(settings.sessions), percentile(p.latencyMs, 99),
                  percentile(s.latencyMs, 99), "ms", ref);
        table.row(QStringLiteral("%1 sessions: Login p50").arg(settings.sessions),
                  percentile(p.latencyOfKind[Login], 50), percentile(s.latencyOfKind[Login], 50), "ms", ref);
        table.row(QStringLiteral("%1 sessions: server peak memory").arg(settings.sessions),
                  double(p.serverPeakKb) / 1024.0, double(s.serverPeakKb) / 1024.0, "MB",
                  QStringLiteral("SQLite (PostgreSQL's own processes not counted)"));
        table.print();
        const bool same = sqlite.first.rows == postgres.first.rows && sqlite.first.digest == postgres.first.digest;
        std::printf("walk answers byte for byte the same: %s (%lld rows each)\n", same ? "yes" : "NO",
                    static_cast<long long>(postgres.first.rows));
        std::printf("errors: PostgreSQL %lld, SQLite %lld\n", static_cast<long long>(p.errors),
                    static_cast<long long>(s.errors));
        for (const QString &e : p.firstErrors + s.firstErrors)
            std::printf("  %s\n", e.toUtf8().constData());
        status = same && p.errors == 0 && s.errors == 0 ? 0 : 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_backends: %s\n", e.what());
        status = 1;
    }
    sqlite.server.reset();
    postgres.server.reset();
    dropDatabase();
    return status;
}
