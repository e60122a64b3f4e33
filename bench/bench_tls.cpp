// What TLS costs: the same figures against one database served twice at
// once, by a server with TLS and by one started with --insecure-plaintext,
// in alternating runs:
//
//   call       the round trip of a cheap remote method (dServer);
//   connect    a connection made and greeted, one at a time;
//   walk       the statistics walk of a generated class from 50-row packets;
//   vorel-sql  the console's CSV of that class, written to a file;
//   logins     100 clients logging in at once, each from a thread of its
//              own: the median and the 99th percentile of one Login's time,
//              connection and handshake included.
//
// Medians of --runs runs (at least 5).
//
//   bench_tls [--rows 1M|100k|N] [--runs N] [--only call|connect|walk|export|logins]
#include "bench/benchutil.h"
#include "bench/classgen.h"
#include "common/exception.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "data/datawalk.h"
#include "support/testserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <memory>

using namespace vorel;
using bench::median;

namespace {

const QString kUser = QStringLiteral("1001");
const QString kPassword = QStringLiteral("clave");
const QString kRole = QStringLiteral("VENTAS");

double msSince(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

[[noreturn]] void die(const QString &why)
{
    std::fprintf(stderr, "bench_tls: %s\n", why.toUtf8().constData());
    std::exit(1);
}

// A second server on the first one's database, in the clear.
class PlainServer
{
public:
    explicit PlainServer(const QString &database)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(test::TestServer::serverProgram(),
                        {QStringLiteral("serve"), QStringLiteral("--db"), QStringLiteral("DEMO=") + database,
                         QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--insecure-plaintext"),
                         QStringLiteral("--max-sessions"), QStringLiteral("300")});
        static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        if (!m_process.waitForStarted(30000) || !m_process.waitForReadyRead(30000))
            die(QStringLiteral("the plaintext server did not start"));
        const auto m = listening.match(QString::fromUtf8(m_process.readLine()));
        if (!m.hasMatch())
            die(QStringLiteral("the plaintext server did not report its port"));
        m_port = quint16(m.captured(1).toUInt());
    }
    ~PlainServer()
    {
        m_process.terminate();
        m_process.waitForFinished(10000);
    }
    quint16 port() const { return m_port; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

struct Target {
    quint16 port;
    bool encrypted;
};

void logIn(TSocketConnection &c, const Target &t)
{
    c.SetHost(QStringLiteral("127.0.0.1"));
    c.SetPort(t.port);
    c.SetEncrypted(t.encrypted);
    c.SetTimeout(600000);
    c.Open();
    c.Call(QStringLiteral("Login"), {kUser, kPassword, QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")});
}

double roundTrip(const Target &t)
{
    TSocketConnection c;
    logIn(c, t);
    constexpr int kCalls = 2000;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kCalls; ++i)
        c.Call(QStringLiteral("dServer"));
    return msSince(timer) * 1000.0 / kCalls; // microseconds
}

// One connection made and greeted, alone: the handshake's own cost.
double connectOnce(const Target &t)
{
    std::vector<double> took;
    for (int i = 0; i < 200; ++i) {
        TSocketConnection c;
        c.SetHost(QStringLiteral("127.0.0.1"));
        c.SetPort(t.port);
        c.SetEncrypted(t.encrypted);
        QElapsedTimer timer;
        timer.start();
        c.Open();
        took.push_back(msSince(timer));
    }
    return median(took);
}

double walk(const Target &t, const bench::GeneratedClass &cls)
{
    TSocketConnection c;
    logIn(c, t);
    c.Call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM vorel.RVFILRAP")});
    c.Call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM vorel.RQBEX")});
    TClientDataSet ds;
    ds.SetRemoteServer(&c);
    ds.SetProviderName(QStringLiteral("dspModulo"));
    ds.SetPacketRecords(50);
    ds.SetCommandText(cls.classRowsSql(kRole));
    QElapsedTimer timer;
    timer.start();
    ds.Open();
    ComputeStatistics(&ds, cls.statisticsColumns);
    return msSince(timer);
}

double exportCsv(const Target &t, const bench::GeneratedClass &cls, const QString &out)
{
    QStringList args{QStringLiteral("--host"),     QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                     QString::number(t.port),      QStringLiteral("--user"),   kUser,
                     QStringLiteral("--password"), kPassword,                  QStringLiteral("--database"),
                     QStringLiteral("DEMO"),       QStringLiteral("--provider"), QStringLiteral("dspModulo")};
    if (!t.encrypted)
        args << QStringLiteral("--insecure-plaintext");
    args << cls.classRowsSql(kRole);
    QProcess p;
    p.setStandardOutputFile(out);
    QElapsedTimer timer;
    timer.start();
    p.start(test::TestServer::sqlProgram(), args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        die(QStringLiteral("vorel-sql failed: ") + QString::fromUtf8(p.readAllStandardError()));
    return msSince(timer);
}

// Each client's Login time, connection included, all started at once.
std::vector<double> loginsAtOnce(const Target &t, int clients)
{
    std::vector<double> took(size_t(clients), 0.0);
    std::vector<std::unique_ptr<QThread>> threads;
    QAtomicInt ready = 0;
    QAtomicInt go = 0;
    QAtomicInt failed = 0;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back(QThread::create([&, i] {
            ready.fetchAndAddOrdered(1);
            while (!go.loadAcquire())
                QThread::yieldCurrentThread();
            QElapsedTimer timer;
            timer.start();
            try {
                TSocketConnection c;
                logIn(c, t);
                took[size_t(i)] = msSince(timer);
            } catch (const vorel::Exception &e) {
                std::fprintf(stderr, "login: %s\n", e.message().toUtf8().constData());
                failed.fetchAndAddOrdered(1);
            }
        }));
        threads.back()->start();
    }
    while (ready.loadAcquire() < clients)
        QThread::yieldCurrentThread();
    go.storeRelease(1);
    for (auto &th : threads)
        th->wait();
    if (failed.loadAcquire() > 0)
        die(QStringLiteral("%1 logins failed").arg(failed.loadAcquire()));
    return took;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    qint64 rows = 1000000;
    int runs = 5;
    QString only;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--rows") && i + 1 < args.size())
            rows = bench::countOf(args[++i]);
        else if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = qMax(5, args[++i].toInt());
        else if (args[i] == QLatin1String("--only") && i + 1 < args.size())
            only = args[++i];
        else
            die(QStringLiteral("usage: bench_tls [--rows 1M|100k|N] [--runs N] [--only call|connect|walk|export|logins]"));
    }
    if (rows <= 0)
        die(QStringLiteral("--rows expects a row count"));

    test::TestServer::Options options;
    options.serveArgs = {QStringLiteral("--max-sessions"), QStringLiteral("300")};
    test::TestServer server(options);
    QString error;
    if (!server.start(&error))
        die(QStringLiteral("server: ") + error);
    std::fprintf(stderr, "generating a class of %lld rows\n", static_cast<long long>(rows));
    bench::GeneratedClass cls;
    try {
        cls = bench::generateClass(server.databaseFile(), QStringLiteral("GRANDE"), rows);
    } catch (const vorel::Exception &e) {
        die(e.message());
    }
    PlainServer plain(server.databaseFile());
    const Target tls{server.port(), true};
    const Target clear{plain.port(), false};
    QTemporaryDir scratch(QDir(server.dir()).filePath(QStringLiteral("out-XXXXXX")));
    const QString csv = scratch.filePath(QStringLiteral("out.csv"));

    bench::Table table;
    // One figure: `measure` against each server in turn, `runs` times, the
    // medians side by side.
    const auto compare = [&](const char *key, const QString &what, const char *unit, auto measure) {
        if (!only.isEmpty() && only != QLatin1String(key))
            return;
        std::fprintf(stderr, "%s\n", key);
        std::vector<double> a, b;
        for (int run = 0; run < runs; ++run) {
            a.push_back(measure(tls));
            b.push_back(measure(clear));
        }
        table.row(what, median(a), median(b), unit, QStringLiteral("the same in the clear"));
    };
    try {
        compare("call", QStringLiteral("round trip of a remote method"), "us", roundTrip);
        compare("connect", QStringLiteral("connection and greeting, one at a time"), "ms", connectOnce);
        compare("walk", QStringLiteral("statistics walk of %1 rows").arg(rows), "ms",
                [&](const Target &t) { return walk(t, cls); });
        compare("export", QStringLiteral("vorel-sql CSV export to a file"), "ms",
                [&](const Target &t) { return exportCsv(t, cls, csv); });
        for (const double p : {50.0, 99.0})
            compare("logins", QStringLiteral("100 logins at once, p%1").arg(p), "ms",
                    [p](const Target &t) { return bench::percentile(loginsAtOnce(t, 100), p); });
    } catch (const vorel::Exception &e) {
        die(e.message());
    }
    table.print();
    return 0;
}
