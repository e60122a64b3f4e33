// A class of a million rows (or 100,000 with --rows 100k) through the
// client's own classes against the reference server on loopback, each
// figure beside a reference taken in the same run:
//
//   open       the list window's first packet of 50 rows, beside SQLite
//              preparing and stepping the first 50 rows of the same view;
//   StartTran  StartTran and RollBackTran while that cursor is open, beside
//              the same calls with no cursor open, and what the server's
//              memory grows by, beside the CSV size of the rows;
//   walk       the walk of the statistics over every row (after the
//              list window's first 50 rows), beside SQLite stepping every
//              row and reading every column, and the server's own reading
//              of those rows into the walk's packets, in process, beside
//              the same; the export walk, beside "sqlite3 -csv -header"
//              (see vorel-sql); and the client's memory peak during each,
//              beside the CSV size of the rows;
//   vorel-sql  the console's CSV of the class, beside "sqlite3 -csv -header"
//              of the same view, both written to a file;
//   call       the round trip of a cheap remote method, beside a bare TCP
//              echo of the same size on loopback;
//   --rtt MS   the statistics walk again against a second server, of the
//              same database, started with --delay-ms MS: each run walks
//              both, one after the other and each first in turn, so that
//              the machine's drifts weigh on both alike; and the round
//              trip of the cheap method there, beside the delay.
//
// Medians of --runs runs (at least 5); each walk runs beside its
// reference, and the median of the runs' own ratios follows each figure.
// Walks run in a child process of their own, so that its peak memory is
// the walk's alone.
//
//   bench_large [--rows 1M|100k|N] [--runs N] [--rtt MS]
#include "bench/benchutil.h"
#include "bench/classgen.h"
#include "common/exception.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "data/datawalk.h"
#include "server/backend/sqlite/sqlitedatabase.h"
#include "support/testserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace vorel;
using vorel::bench::median;

namespace {

const QString kUser = QStringLiteral("1001");
const QString kPassword = QStringLiteral("clave");
const QString kRole = QStringLiteral("VENTAS");

double msSince(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

double mb(qint64 bytes) { return double(bytes) / (1024.0 * 1024.0); }

// What is being measured, on the error channel: a million rows take minutes.
void progress(const char *what)
{
    static QElapsedTimer since;
    if (!since.isValid())
        since.start();
    std::fprintf(stderr, "[%6.1f s] %s\n", double(since.elapsed()) / 1000.0, what);
}

[[noreturn]] void die(const QString &why)
{
    std::fprintf(stderr, "bench_large: %s\n", why.toUtf8().constData());
    std::exit(1);
}

// Logged in as the list window's user, the working rows emptied as the
// window's query leaves them without criteria.
void logIn(TSocketConnection &c, const QString &host, quint16 port)
{
    c.SetHost(host);
    c.SetPort(port);
    c.SetTimeout(600000);
    c.Open();
    c.Call(QStringLiteral("Login"), {kUser, kPassword, QStringLiteral("DEMO"), host});
    c.Call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM vorel.RVFILRAP")});
    c.Call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM vorel.RQBEX")});
}

void openClass(TClientDataSet &ds, TSocketConnection &c, const QString &sql)
{
    ds.SetRemoteServer(&c);
    ds.SetProviderName(QStringLiteral("dspModulo"));
    ds.SetPacketRecords(50);
    ds.SetCommandText(sql);
    ds.Open();
}

// ---------------------------------------------------------------------------
// The walk, in a process of its own: prints "rows ms rss_kb peak_kb reset".

int walkChild(const QStringList &args)
{
    // --walk-child stats|export HOST PORT SQL COLUMNS FILE
    if (args.size() != 6)
        return 2;
    const QString mode = args[0];
    try {
        TSocketConnection c;
        logIn(c, args[1], quint16(args[2].toUInt()));
        TClientDataSet ds;
        openClass(ds, c, args[3]);
        const qint64 rssBefore = bench::procStatusKb(0, "VmRSS");
        const bool reset = bench::resetPeakMemory();
        const qint64 peakBefore = bench::procStatusKb(0, "VmHWM");
        QElapsedTimer t;
        t.start();
        qint64 rows = 0;
        if (mode == QLatin1String("stats")) {
            const TStatisticsResult r = ComputeStatistics(&ds, args[4].split(QLatin1Char(',')));
            rows = r.Rows;
        } else {
            ExportCsv(&ds, args[5]);
            rows = ds.RecordCountFetched();
        }
        const double ms = msSince(t);
        const qint64 peak = bench::procStatusKb(0, "VmHWM");
        std::printf("%lld %.3f %lld %lld %d\n", static_cast<long long>(rows), ms, static_cast<long long>(rssBefore),
                    static_cast<long long>(reset ? peak : peak - (peakBefore - rssBefore)), reset ? 1 : 0);
        return 0;
    } catch (const vorel::Exception &e) {
        std::fprintf(stderr, "walk: %s\n", e.message().toUtf8().constData());
        return 1;
    }
}

struct WalkRun {
    qint64 rows = 0;
    double ms = 0;
    qint64 growthKb = 0;
};

WalkRun runWalkChild(const QString &mode, const QString &host, quint16 port, const bench::GeneratedClass &cls,
                     const QString &file)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--walk-child"), mode, host, QString::number(port), cls.classRowsSql(kRole),
             cls.statisticsColumns.join(QLatin1Char(',')), file});
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        die(QStringLiteral("the walk (%1) failed").arg(mode));
    const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
    if (f.size() != 5)
        die(QStringLiteral("unexpected answer of the walk: ") + QString::fromUtf8(f.join(' ')));
    WalkRun r;
    r.rows = f[0].toLongLong();
    r.ms = f[1].toDouble();
    r.growthKb = f[3].toLongLong() - f[2].toLongLong();
    if (r.rows != cls.rows)
        die(QStringLiteral("the walk saw %1 rows of %2").arg(r.rows).arg(cls.rows));
    return r;
}

// ---------------------------------------------------------------------------
// References.

class Sqlite
{
public:
    explicit Sqlite(const QString &file)
    {
        if (sqlite3_open_v2(QFile::encodeName(file).constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            die(QStringLiteral("cannot open ") + file);
    }
    ~Sqlite() { sqlite3_close_v2(m_db); }

    // Prepares the view's SELECT and steps up to `limit` rows (-1: all),
    // reading every column as the server reads it; the rows stepped.
    qint64 step(const QString &view, qint64 limit, double *ms)
    {
        QElapsedTimer t;
        t.start();
        sqlite3_stmt *st = nullptr;
        const QByteArray sql = (QStringLiteral("SELECT * FROM ") + view).toUtf8();
        if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &st, nullptr) != SQLITE_OK)
            die(QString::fromUtf8(sqlite3_errmsg(m_db)));
        const int columns = sqlite3_column_count(st);
        qint64 rows = 0;
        qint64 bytes = 0;
        while ((limit < 0 || rows < limit) && sqlite3_step(st) == SQLITE_ROW) {
            ++rows;
            for (int i = 0; i < columns; ++i) {
                switch (sqlite3_column_type(st, i)) {
                case SQLITE_INTEGER:
                    bytes += sqlite3_column_int64(st, i) & 1;
                    break;
                case SQLITE_FLOAT:
                    bytes += sqlite3_column_double(st, i) > 0;
                    break;
                case SQLITE_NULL:
                    break;
                default:
                    sqlite3_column_text(st, i);
                    bytes += sqlite3_column_bytes(st, i);
                }
            }
        }
        sqlite3_finalize(st);
        *ms = msSince(t);
        m_sink += bytes;
        return rows;
    }

private:
    sqlite3 *m_db = nullptr;
    qint64 m_sink = 0;
};

// The server's own reading of every row of the view into packets of the
// walk's weight, in this process and with no connection: the share of a
// walk that is the database's and the packets' making.
double serverReadMs(const QString &file, const QString &view, qint64 expectedRows)
{
    try {
        server::SqliteDatabase db(file);
        db.startSession(kUser);
        QElapsedTimer t;
        t.start();
        const server::Database::OpenResult open = db.openCursor(QStringLiteral("SELECT * FROM ") + view, 50);
        qint64 rows = open.rows.size();
        const qint64 rowBytes = std::max<qint64>(1, open.rows.byteSize() / std::max<qsizetype>(1, rows));
        const int packet = int(std::clamp<qint64>(WalkPacketBytes / rowBytes, 1, WalkPacketLimit));
        for (bool eof = open.rows.eof; !eof;) {
            const proto::RowBlock block = db.fetch(open.cursor, packet);
            rows += block.size();
            eof = block.eof;
        }
        const double ms = msSince(t);
        if (rows != expectedRows)
            die(QStringLiteral("the server read a different number of rows"));
        return ms;
    } catch (const vorel::Exception &e) {
        die(e.message());
    }
}

// A TCP echo on loopback: the kernel's share of a round trip.
class Echo
{
public:
    explicit Echo(int size) : m_size(size)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
            || ::listen(m_listener, 1) != 0 || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            die(QStringLiteral("cannot set up the echo"));
        m_thread = std::thread([this] {
            const int s = ::accept(m_listener, nullptr, nullptr);
            std::vector<char> buffer(static_cast<size_t>(m_size));
            while (s >= 0 && readAll(s, buffer.data(), m_size) && writeAll(s, buffer.data(), m_size)) {
            }
            if (s >= 0)
                ::close(s);
        });
        m_client = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(m_client, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            die(QStringLiteral("cannot reach the echo"));
    }
    ~Echo()
    {
        ::shutdown(m_client, SHUT_RDWR);
        ::close(m_client);
        m_thread.join();
        ::close(m_listener);
    }

    double roundTripUs()
    {
        std::vector<char> buffer(size_t(m_size), 'x');
        QElapsedTimer t;
        t.start();
        if (!writeAll(m_client, buffer.data(), m_size) || !readAll(m_client, buffer.data(), m_size))
            die(QStringLiteral("the echo broke"));
        return double(t.nsecsElapsed()) / 1e3;
    }

private:
    static bool readAll(int s, char *p, int n)
    {
        while (n > 0) {
            const ssize_t k = ::read(s, p, size_t(n));
            if (k <= 0)
                return false;
            p += k;
            n -= int(k);
        }
        return true;
    }
    static bool writeAll(int s, const char *p, int n)
    {
        while (n > 0) {
            const ssize_t k = ::write(s, p, size_t(n));
            if (k <= 0)
                return false;
            p += k;
            n -= int(k);
        }
        return true;
    }
    int m_size;
    int m_listener = -1;
    int m_client = -1;
    std::thread m_thread;
};

// Wall time of a program writing its output to `out`, in milliseconds.
double timeProgram(const QString &program, const QStringList &args, const QString &out)
{
    QProcess p;
    p.setStandardOutputFile(out);
    p.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        die(QStringLiteral("%1 failed: %2").arg(program, QString::fromUtf8(p.readAllStandardError())));
    return msSince(t);
}


bench::GeneratedClass startWithClass(test::TestServer &server, qint64 rows)
{
    QString error;
    if (!server.start(&error))
        die(QStringLiteral("server: ") + error);
    try {
        return bench::generateClass(server.databaseFile(), QStringLiteral("GRANDE"), rows);
    } catch (const vorel::Exception &e) {
        die(e.message());
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--walk-child"))
        return walkChild(args.mid(1));

    qint64 rows = 1000000;
    int runs = 5;
    int rtt = 0;
    for (int i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QLatin1String("--rows") && hasValue)
            rows = bench::countOf(args[++i]);
        else if (args[i] == QLatin1String("--runs") && hasValue)
            runs = args[++i].toInt();
        else if (args[i] == QLatin1String("--rtt") && hasValue)
            rtt = args[++i].toInt();
        else
            rows = -1;
    }
    if (rows <= 0 || runs < 5 || rtt < 0) {
        std::fputs("usage: bench_large [--rows 1M|100k|N] [--runs N (>= 5)] [--rtt MS]\n", stderr);
        return 2;
    }

    progress("making the class");
    test::TestServer server;
    QElapsedTimer setup;
    setup.start();
    const bench::GeneratedClass cls = startWithClass(server, rows);
    std::printf("class %s: %lld rows x 12 columns, made in %.1f s; medians of %d runs\n", qPrintable(cls.id),
                static_cast<long long>(cls.rows), double(setup.elapsed()) / 1000.0, runs);
    std::fflush(stdout);
    const QString sql = cls.classRowsSql(kRole);
    std::unique_ptr<test::TestServer> slow;
    if (rtt > 0) {
        test::TestServer::Options options;
        options.database = server.databaseFile();
        options.serveArgs = {QStringLiteral("--delay-ms"), QString::number(rtt)};
        slow = std::make_unique<test::TestServer>(options);
        QString error;
        if (!slow->start(&error))
            die(QStringLiteral("server with --delay-ms: ") + error);
    }
    QTemporaryDir scratch(QDir(server.dir()).filePath(QStringLiteral("out-XXXXXX")));
    bench::Table table;
    Sqlite reference(server.databaseFile());

    // The CSV of the rows, the yardstick of the memory figures.
    const QString sqlite3Program = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    const QString referenceCsv = scratch.filePath(QStringLiteral("sqlite3.csv"));
    const QString oursCsv = scratch.filePath(QStringLiteral("vorel-sql.csv"));
    const QStringList sqlite3Args{QStringLiteral("-csv"), QStringLiteral("-header"), server.databaseFile(),
                                  QStringLiteral("SELECT * FROM ") + cls.view};
    qint64 csvBytes = -1;
    if (!sqlite3Program.isEmpty()) {
        timeProgram(sqlite3Program, sqlite3Args, referenceCsv);
        csvBytes = QFileInfo(referenceCsv).size();
    }

    TSocketConnection c;
    try {
        logIn(c, server.host(), server.port());

        // Open: the first packet.
        progress("open");
        {
            std::vector<double> ours, ref;
            for (int run = 0; run < runs; ++run) {
                TClientDataSet ds;
                QElapsedTimer t;
                t.start();
                openClass(ds, c, sql);
                ours.push_back(msSince(t));
                if (ds.RecordCountFetched() != qMin<qint64>(50, rows))
                    die(QStringLiteral("the first packet held %1 rows").arg(ds.RecordCountFetched()));
                ds.Close();
                double ms = 0;
                reference.step(cls.view, 50, &ms);
                ref.push_back(ms);
            }
            table.row(QStringLiteral("open, first packet of 50 rows"), median(ours), median(ref), "ms",
                      QStringLiteral("sqlite3_prepare + 50 x sqlite3_step of the view"));
        }

        // StartTran while the cursor is open: each run on a server started
        progress("StartTran with a cursor open");
        // afresh, so that its memory growth is this run's alone.
        {
            std::vector<double> ours, ref, rssGrowth, peakGrowth;
            for (int run = 0; run < runs; ++run) {
                c.Close();
                QString error;
                if (!server.restart(&error))
                    die(QStringLiteral("server: ") + error);
                logIn(c, server.host(), server.port());
                QElapsedTimer t;
                t.start();
                c.Call(QStringLiteral("StartTran"));
                c.Call(QStringLiteral("RollBackTran"));
                ref.push_back(msSince(t));

                TClientDataSet ds;
                openClass(ds, c, sql);
                const qint64 rss = bench::procStatusKb(server.pid(), "VmRSS");
                const qint64 peak = bench::procStatusKb(server.pid(), "VmHWM");
                t.restart();
                c.Call(QStringLiteral("StartTran"));
                c.Call(QStringLiteral("RollBackTran"));
                ours.push_back(msSince(t));
                rssGrowth.push_back(double(bench::procStatusKb(server.pid(), "VmRSS") - rss) * 1024.0);
                peakGrowth.push_back(double(bench::procStatusKb(server.pid(), "VmHWM") - qMax(rss, peak)) * 1024.0);
                ds.Close();
            }
            table.row(QStringLiteral("StartTran+RollBackTran, 50-row cursor open"), median(ours), median(ref), "ms",
                      QStringLiteral("the same calls, no cursor open"));
            table.row(QStringLiteral("  server VmRSS growth"), mb(qint64(median(rssGrowth))), mb(csvBytes), "MB",
                      QStringLiteral("CSV size of the rows (sqlite3 -csv -header)"));
            table.row(QStringLiteral("  server VmHWM growth"), mb(qint64(median(peakGrowth))), mb(csvBytes), "MB",
                      QStringLiteral("CSV size of the rows"));
        }

        // vorel-sql against the sqlite3 console.
        progress("vorel-sql and sqlite3");
        {
            std::vector<double> ours, ref;
            const QStringList vorelArgs{QStringLiteral("--host"),     server.host(),
                                        QStringLiteral("--port"),     QString::number(server.port()),
                                        QStringLiteral("--user"),     kUser,
                                        QStringLiteral("--password"), kPassword,
                                        QStringLiteral("--database"), QStringLiteral("DEMO"),
                                        QStringLiteral("--provider"), QStringLiteral("dspModulo"),
                                        sql};
            for (int run = 0; run < runs; ++run) {
                ours.push_back(timeProgram(test::TestServer::sqlProgram(), vorelArgs, oursCsv));
                if (!sqlite3Program.isEmpty())
                    ref.push_back(timeProgram(sqlite3Program, sqlite3Args, referenceCsv));
            }
            table.row(QStringLiteral("vorel-sql CSV export to a file"), median(ours), median(ref), "ms",
                      sqlite3Program.isEmpty() ? QStringLiteral("(no sqlite3 program found)")
                                               : QStringLiteral("sqlite3 -csv -header of the view"));
            if (!ref.empty())
                table.ratioRow(QStringLiteral("  median of the runs' own ratios"), ours, ref,
                               QStringLiteral("sqlite3 -csv -header of the view"));
            table.row(QStringLiteral("  its output"), mb(QFileInfo(oursCsv).size()), mb(csvBytes), "MB",
                      QStringLiteral("sqlite3's output"));
        }

        // The walks, each in a child process.
        progress("walks");
        {
            // Each walk runs right beside its reference, so that every run
            // gives its own ratios: this machine's speed drifts by a third
            // from one minute to the next.
            std::vector<double> ref, readMs, csvRef, statsMs, exportMs, statsGrowth, exportGrowth, lateMs;
            const QString exported = scratch.filePath(QStringLiteral("export.csv"));
            for (int run = 0; run < runs; ++run) {
                double ms = 0;
                if (reference.step(cls.view, -1, &ms) != rows)
                    die(QStringLiteral("SQLite stepped a different number of rows"));
                ref.push_back(ms);
                readMs.push_back(serverReadMs(server.databaseFile(), cls.view, rows));
                // The first walk after a pause is the slower by up to a tenth
                // on this machine, whichever it is: the two take turns.
                const bool lateFirst = slow && run % 2 == 1;
                if (lateFirst)
                    lateMs.push_back(runWalkChild(QStringLiteral("stats"), slow->host(), slow->port(), cls, exported).ms);
                const WalkRun s = runWalkChild(QStringLiteral("stats"), server.host(), server.port(), cls, exported);
                statsMs.push_back(s.ms);
                statsGrowth.push_back(double(s.growthKb) * 1024.0);
                if (slow && !lateFirst)
                    lateMs.push_back(runWalkChild(QStringLiteral("stats"), slow->host(), slow->port(), cls, exported).ms);
                const WalkRun e = runWalkChild(QStringLiteral("export"), server.host(), server.port(), cls, exported);
                exportMs.push_back(e.ms);
                exportGrowth.push_back(double(e.growthKb) * 1024.0);
                if (!sqlite3Program.isEmpty())
                    csvRef.push_back(timeProgram(sqlite3Program, sqlite3Args, referenceCsv));
            }
            const QString walked = QStringLiteral("%1 rows").arg(rows);
            const QString stepped = QStringLiteral("sqlite3_step of every row, every column read");
            table.row(QStringLiteral("statistics walk, ") + walked, median(statsMs), median(ref), "ms", stepped);
            table.ratioRow(QStringLiteral("  median of the runs' own ratios"), statsMs, ref, stepped);
            table.row(QStringLiteral("  the server's packets of them, read alone"), median(readMs), median(ref), "ms",
                      stepped);
            table.row(QStringLiteral("  client VmHWM growth"), mb(qint64(median(statsGrowth))), mb(csvBytes), "MB",
                      QStringLiteral("CSV size of the rows"));
            if (slow) {
                const QString undelayed = QStringLiteral("the same walk without delay");
                table.row(QStringLiteral("statistics walk, %1, --delay-ms %2").arg(walked).arg(rtt), median(lateMs),
                          median(statsMs), "ms", undelayed);
                table.ratioRow(QStringLiteral("  median of the runs' own ratios"), lateMs, statsMs, undelayed);
            }
            const bool csv = !csvRef.empty();
            const QString csvWhat = csv ? QStringLiteral("sqlite3 -csv -header of the view") : stepped;
            table.row(QStringLiteral("export walk (ExportCsv), ") + walked, median(exportMs),
                      csv ? median(csvRef) : median(ref), "ms", csvWhat);
            table.ratioRow(QStringLiteral("  median of the runs' own ratios"), exportMs, csv ? csvRef : ref, csvWhat);
            table.row(QStringLiteral("  client VmHWM growth"), mb(qint64(median(exportGrowth))), mb(csvBytes), "MB",
                      QStringLiteral("CSV size of the rows"));
            table.row(QStringLiteral("  its file"), mb(QFileInfo(exported).size()), mb(csvBytes), "MB",
                      QStringLiteral("sqlite3's CSV"));
        }

        // The round trip of a cheap remote method.
        progress("round trips");
        {
            constexpr int kCalls = 2000;
            std::vector<double> ours, ref;
            for (int i = 0; i < 200; ++i)
                c.Call(QStringLiteral("dServer"));
            Echo echo(64);
            for (int i = 0; i < 200; ++i)
                echo.roundTripUs();
            for (int i = 0; i < kCalls; ++i) {
                QElapsedTimer t;
                t.start();
                c.Call(QStringLiteral("dServer"));
                ours.push_back(double(t.nsecsElapsed()) / 1e3);
                ref.push_back(echo.roundTripUs());
            }
            table.row(QStringLiteral("Call dServer round trip (median of %1)").arg(kCalls), median(ours), median(ref),
                      "us", QStringLiteral("64-byte TCP echo on loopback"));
        }
        c.Close();
    } catch (const vorel::Exception &e) {
        die(e.message());
    }

    if (slow) {
        try {
            TSocketConnection late;
            logIn(late, slow->host(), slow->port());
            std::vector<double> calls;
            for (int i = 0; i < 20; ++i) {
                QElapsedTimer t;
                t.start();
                late.Call(QStringLiteral("dServer"));
                calls.push_back(double(t.nsecsElapsed()) / 1e3);
            }
            table.row(QStringLiteral("Call dServer round trip, --delay-ms %1").arg(rtt), median(calls), rtt * 1000.0,
                      "us", QStringLiteral("the delay asked for"));
        } catch (const vorel::Exception &e) {
            die(e.message());
        }
        std::printf("with --delay-ms %d every answer waits %d ms; the walk's packets hold at most "
                    "%d rows or %lld bytes, %d asked ahead, or up to %lld bytes once a round trip takes %d ms\n",
                    rtt, rtt, WalkPacketLimit, static_cast<long long>(WalkPacketBytes), WalkPacketsAhead,
                    static_cast<long long>(WalkWindowBytes), WalkLongLineMs);
    }

    std::printf("\n");
    table.print();
    return 0;
}
