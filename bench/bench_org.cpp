// An organisation's shift against the reference server: N sessions from
// several branch offices (loopback addresses 127.0.0.2 ... as their NAT
// addresses), each office logging in all its sessions within --storm-s
// seconds after the office before, then each session working as office
// staff do: a pause drawn around --think-s seconds, then one use case of
// the usual mix (its working rows written and read back, a class opened and
// two packets read, a walk of a registry table to its end, a write in a
// transaction), --rounds times. Every session checks that it reads back its
// own working rows alone.
//
//   bench_org [--sessions 2000] [--offices 8] [--storm-s 10] [--think-s 10] [--rounds 6]
//             [--pg CLUSTER-URI] [--servers 3] [--server-args "ARGS"]
//
// On SQLite one server serves all. With --pg (a cluster, as
// tests/support/pgcluster.sh starts one) a database is made in it and
// --servers servers serve it behind a director that each session asks
// first (dServer). Prints each figure beside the same for one session
// alone: logins refused, login time, request time, the servers' memory
// (RSS at the start, peak, after the sessions), their threads and the
// PostgreSQL connections in use (pg_stat_activity). VOREL_SERVER_PROGRAM
// names another build's vorel-server to measure it the same way.
#include "bench/benchutil.h"
#include "common/exception.h"
#include "rawclient.h"
#include "server/backend/postgres/pgconnection.h"
#include "support/testserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>
#include <atomic>
#include <chrono>
#include <latch>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

using namespace vorel;
using proto::Message;
using proto::MsgType;
using test::RawClient;
using test::TestServer;

namespace {

struct Settings {
    int sessions = 2000;
    int offices = 8;
    double stormS = 10;
    double thinkS = 10;
    int rounds = 6;
    QString pgCluster;
    int servers = 3;
    QStringList serverArgs;
};

struct Figures {
    qint64 refused = 0;
    qint64 errors = 0;
    QStringList firstErrors;
    std::vector<double> loginMs;
    // Behind a director, the parts of a login: dServer asked of the director
    // (connect, handshake, Hello, dServer), the member's connection
    // (connect, handshake, Hello) and the Login's answer.
    std::vector<double> dServerMs, connectMs, checkMs;
    std::vector<double> requestMs;
    qint64 rssStartKb = 0, rssPeakKb = 0, rssAfterKb = 0;
    int threadsPeak = 0;
    int pgPeak = -1;
};

// Where the sessions go: a server's port, or the director's (dServer, then
// the member's host on that port).
struct Target {
    quint16 port = 0;
    bool director = false;
    quint16 memberPort = 0; // behind a director: where its members listen
    std::vector<qint64> pids; // the servers whose memory and threads count
    QString database;         // on PostgreSQL, for pg_stat_activity
};

Message call(const QString &method, const QStringList &args = {}) { return RawClient::callMessage(method, args); }

class Session
{
public:
    Session(int index, const Settings &s, const Target &t, Figures &f, std::mutex &m)
        : m_index(index), m_s(s), m_t(t), m_f(f), m_mutex(m), m_random(quint32(index) * 2654435761u + 7)
    {
    }

    void run(std::chrono::steady_clock::time_point start)
    {
        std::this_thread::sleep_until(start);
        const QString office = QStringLiteral("127.0.0.%1").arg(2 + m_index % m_s.offices);
        const QString user = QString::number(1001 + m_index % 8);
        QElapsedTimer t;
        t.start();
        double dServerMs = 0;
        RawClient client;
        client.setSource(office);
        if (m_t.director) {
            RawClient director;
            director.setSource(office);
            QString host;
            if (director.connectTo(m_t.port))
                host = director.call(QStringLiteral("dServer")).value.toString();
            if (host.isEmpty())
                return refused(QStringLiteral("no answer to dServer"));
            client.setHost(host);
            dServerMs = double(t.nsecsElapsed()) / 1e6;
        }
        if (!client.connectTo(m_t.director ? m_t.memberPort : m_t.port))
            return refused(QStringLiteral("cannot connect"));
        const double connectedMs = double(t.nsecsElapsed()) / 1e6;
        const Message login = client.request(
            call(QStringLiteral("Login"), {user, QStringLiteral("clave"), QStringLiteral("DEMO"), office}), 120000);
        if (login.type != MsgType::CallResult)
            return refused(QStringLiteral("Login: ") + login.text);
        const double loginMs = double(t.nsecsElapsed()) / 1e6;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_t.director)
                m_f.dServerMs.push_back(dServerMs);
            m_f.connectMs.push_back(connectedMs - dServerMs);
            m_f.checkMs.push_back(loginMs - connectedMs);
        }
        m_user = user;
        std::uniform_real_distribution<double> think(0.5 * m_s.thinkS, 1.5 * m_s.thinkS);
        for (int round = 0; round < m_s.rounds && m_ok; ++round) {
            std::this_thread::sleep_for(std::chrono::milliseconds(qint64(think(m_random) * 1000)));
            useCase(client, (m_index + round) % 4);
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_f.loginMs.push_back(loginMs);
        m_f.requestMs.insert(m_f.requestMs.end(), m_requestMs.begin(), m_requestMs.end());
    }

private:
    void refused(const QString &why)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        ++m_f.refused;
        if (m_f.firstErrors.size() < 8)
            m_f.firstErrors << QStringLiteral("session %1 refused: %2").arg(m_index).arg(why);
    }

    void error(const QString &why)
    {
        m_ok = false;
        const std::lock_guard<std::mutex> lock(m_mutex);
        ++m_f.errors;
        if (m_f.firstErrors.size() < 8)
            m_f.firstErrors << QStringLiteral("session %1: %2").arg(m_index).arg(why);
    }

    Message ask(RawClient &client, const Message &request)
    {
        QElapsedTimer t;
        t.start();
        const Message reply = client.request(request, 120000);
        m_requestMs.push_back(double(t.nsecsElapsed()) / 1e6);
        if (reply.type == MsgType::Error)
            error(reply.text);
        return reply;
    }

    // Opens `sql` with a first packet of 50 and reads `packets` more of 50
    // (-1: to its end), then closes it.
    void read(RawClient &client, const QString &sql, int packets)
    {
        Message r = ask(client, client.openMessage(QStringLiteral("dspModulo"), sql, 50));
        if (!m_ok)
            return;
        const quint32 cursor = r.cursor;
        for (int i = 0; (packets < 0 || i < packets) && !r.rows.eof && m_ok; ++i) {
            Message f;
            f.type = MsgType::Fetch;
            f.cursor = cursor;
            f.count = 50;
            r = ask(client, f);
        }
        Message close;
        close.type = MsgType::CloseCursor;
        close.cursor = cursor;
        ask(client, close);
    }

    void useCase(RawClient &client, int which)
    {
        switch (which) {
        case 0: { // the working rows of a class opened with a filter, read back
            const QString mark = QStringLiteral("CLIE_Cliente > %1").arg(m_index);
            ask(client, call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM vorel.RVFILRAP")}));
            ask(client, call(QStringLiteral("EjeDir"),
                             {QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (1, '%1')")
                                  .arg(mark)}));
            const Message r = ask(client, client.openMessage(QStringLiteral("dspModulo"),
                                                             QStringLiteral("SELECT VFIL_Valor FROM vorel.RVFILRAP"), -1));
            if (m_ok && (r.rows.size() != 1 || r.rows.value(0, 0).toString() != mark))
                error(QStringLiteral("working rows not the session's own: %1 rows").arg(r.rows.size()));
            break;
        }
        case 1: // a class opened, two packets read
            read(client, QStringLiteral("SELECT * FROM vorel.TDICCOLUM ORDER BY DCOL_Tabla, DCOL_Pos"), 2);
            break;
        case 2: // a walk to the end
            read(client, QStringLiteral("SELECT * FROM vorel.TDICRESCOL"), -1);
            break;
        case 3: // a write in a use case's transaction
            ask(client, call(QStringLiteral("StartTran")));
            ask(client, call(QStringLiteral("EjeDir"),
                             {QStringLiteral("INSERT INTO vorel.TLOGACCESOS (LOGA_Cuso, LOGA_USUA, LOGA_Fecha) "
                                             "VALUES (1, %1, SYSDATE)")
                                  .arg(m_user)}));
            ask(client, call(QString::fromLatin1(m_ok ? "CommitTran" : "RollBackTran")));
            break;
        }
    }

    const int m_index;
    const Settings &m_s;
    const Target &m_t;
    Figures &m_f;
    std::mutex &m_mutex;
    std::mt19937 m_random;
    std::vector<double> m_requestMs;
    QString m_user;
    bool m_ok = true;
};

int pgConnections(const QString &uri, const QString &database)
{
    try {
        server::pg::Connection c(uri);
        const server::pg::Result r = c.exec(
            QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = $1 AND pid <> pg_backend_pid()"),
            {database});
        return r.text(0, 0).toInt();
    } catch (const std::exception &) {
        return -1;
    }
}

// Runs `sessions` sessions against `t` and samples the servers meanwhile.
Figures runAll(const Settings &s, int sessions, const Target &t)
{
    Figures f;
    for (qint64 pid : t.pids)
        f.rssStartKb += bench::procStatusKb(pid, "VmRSS");
    std::mutex mutex;
    std::vector<std::unique_ptr<Session>> all;
    for (int i = 0; i < sessions; ++i)
        all.push_back(std::make_unique<Session>(i, s, t, f, mutex));
    std::atomic<bool> done{false};
    std::thread sampler([&] {
        while (!done) {
            int threads = 0;
            for (qint64 pid : t.pids)
                threads += int(bench::procStatusKb(pid, "Threads"));
            const int pg = t.database.isEmpty() ? -1 : pgConnections(s.pgCluster, t.database);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                f.threadsPeak = qMax(f.threadsPeak, threads);
                f.pgPeak = qMax(f.pgPeak, pg);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    });
    // Office k logs its sessions in, evenly spread, within the k-th storm window.
    const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    const int perOffice = (sessions + s.offices - 1) / s.offices;
    std::vector<std::thread> threads;
    for (int i = 0; i < sessions; ++i) {
        const int office = i % s.offices, nth = i / s.offices;
        const double at = (office + double(nth) / perOffice) * s.stormS;
        threads.emplace_back([&, i, at] {
            all[size_t(i)]->run(start + std::chrono::microseconds(qint64(at * 1e6)));
            all[size_t(i)].reset(); // its connection closes as the user leaves
        });
    }
    for (std::thread &th : threads)
        th.join();
    all.clear();
    for (qint64 pid : t.pids)
        f.rssPeakKb += bench::procStatusKb(pid, "VmHWM");
    // The servers notice the last disconnections a moment later.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    done = true;
    sampler.join();
    for (qint64 pid : t.pids)
        f.rssAfterKb += bench::procStatusKb(pid, "VmRSS");
    return f;
}

quint16 freePort(const QString &host)
{
    QTcpServer probe;
    probe.listen(QHostAddress(host), 0);
    return probe.serverPort();
}

// The servers for one run, started afresh; `figures` runs on them.
Figures onServers(const Settings &s, int sessions)
{
    // Never below the default: under it the cap per address (seven eighths)
    // would refuse a shift that the server as installed takes.
    const QStringList common =
        s.serverArgs + QStringList{QStringLiteral("--max-sessions"), QString::number(qMax(2000, sessions + 64))};
    if (s.pgCluster.isEmpty()) {
        TestServer::Options o;
        o.serveArgs = common;
        TestServer server(o);
        QString error;
        if (!server.start(&error))
            throw vorel::Exception(QStringLiteral("server: ") + error);
        Target t;
        t.port = server.port();
        t.pids = {server.pid()};
        return runAll(s, sessions, t);
    }
    // A database of its own in the cluster, served by the members and the director.
    const QString name = QStringLiteral("bench_org_") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    const QString uri = server::pg::Connection::withDatabase(s.pgCluster, name);
    QString err;
    if (TestServer::runServer({QStringLiteral("init"), QStringLiteral("--pg"), uri, QStringLiteral("--demo")}, &err) != 0)
        throw vorel::Exception(QStringLiteral("init: ") + err);
    QTemporaryDir dir;
    QStringList hosts;
    for (int i = 0; i < s.servers; ++i)
        hosts << QStringLiteral("127.0.0.%1").arg(11 + i);
    // The director listens on 127.0.0.1, its members on their own addresses.
    QStringList certArgs{QStringLiteral("certificate"), QStringLiteral("--out"), dir.path(), QStringLiteral("--name"),
                         QStringLiteral("127.0.0.1")};
    for (const QString &h : hosts)
        certArgs << QStringLiteral("--name") << h;
    if (TestServer::runServer(certArgs, &err) != 0)
        throw vorel::Exception(QStringLiteral("certificate: ") + err);
    const QStringList tls{QStringLiteral("--tls-cert"), dir.filePath(QStringLiteral("vorel-server.crt")),
                          QStringLiteral("--tls-key"), dir.filePath(QStringLiteral("vorel-server.key"))};
    const quint16 port = freePort(QStringLiteral("127.0.0.1"));
    std::vector<std::unique_ptr<TestServer>> servers;
    QStringList pool;
    Target t;
    t.memberPort = port;
    t.director = true;
    t.database = name;
    for (const QString &h : hosts) {
        TestServer::Options o;
        o.database = uri;
        const QString metrics = QStringLiteral("%1:%2").arg(h).arg(freePort(h));
        pool << metrics;
        o.serveArgs = common + tls
                      + QStringList{QStringLiteral("--listen"), QStringLiteral("%1:%2").arg(h).arg(port),
                                    QStringLiteral("--metrics"), metrics};
        servers.push_back(std::make_unique<TestServer>(o));
        if (!servers.back()->start(&err))
            throw vorel::Exception(QStringLiteral("server: ") + err);
        t.pids.push_back(servers.back()->pid());
    }
    TestServer::Options o;
    o.database = uri;
    o.serveArgs = s.serverArgs + tls + QStringList{QStringLiteral("--pool"), pool.join(QLatin1Char(','))};
    TestServer director(o);
    if (!director.start(&err))
        throw vorel::Exception(QStringLiteral("director: ") + err);
    // After the servers: the first one started sets it to the tests' own.
    qputenv("VOREL_CA_FILE", QFile::encodeName(dir.filePath(QStringLiteral("vorel-server.crt"))));
    // The sessions ask the director, then reach their member on the
    // members' port; the director's first checks are under way as it starts.
    t.port = director.port();
    for (int i = 0; i < 50; ++i) {
        RawClient d;
        if (d.connectTo(t.port) && hosts.contains(d.call(QStringLiteral("dServer")).value.toString()))
            break;
        QThread::msleep(200);
    }
    const Target &viaDirector = t;
    Figures f = runAll(s, sessions, viaDirector);
    servers.clear();
    director.stop();
    try {
        server::pg::Connection c(s.pgCluster);
        c.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
    } catch (const std::exception &) {
    }
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    Settings s;
    bool ok = true;
    for (int i = 0; i < args.size() && ok; ++i) {
        const bool hasValue = i + 1 < args.size();
        const QString a = args[i];
        if (a == QLatin1String("--sessions") && hasValue)
            s.sessions = args[++i].toInt(&ok);
        else if (a == QLatin1String("--offices") && hasValue)
            s.offices = args[++i].toInt(&ok);
        else if (a == QLatin1String("--storm-s") && hasValue)
            s.stormS = args[++i].toDouble(&ok);
        else if (a == QLatin1String("--think-s") && hasValue)
            s.thinkS = args[++i].toDouble(&ok);
        else if (a == QLatin1String("--rounds") && hasValue)
            s.rounds = args[++i].toInt(&ok);
        else if (a == QLatin1String("--pg") && hasValue)
            s.pgCluster = args[++i];
        else if (a == QLatin1String("--servers") && hasValue)
            s.servers = args[++i].toInt(&ok);
        else if (a == QLatin1String("--server-args") && hasValue)
            s.serverArgs = args[++i].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        else
            ok = false;
    }
    if (!ok || s.sessions < 1 || s.sessions > 5000 || s.offices < 1 || s.offices > 8 || s.rounds < 1
        || s.servers < 1 || s.servers > 8 || s.stormS < 0 || s.thinkS < 0) {
        std::fputs("usage: bench_org [--sessions N (1..5000)] [--offices N (1..8)] [--storm-s S] [--think-s S] "
                   "[--rounds N] [--pg CLUSTER-URI] [--servers N] [--server-args \"ARGS\"]\n",
                   stderr);
        return 2;
    }
    Figures many, alone;
    try {
        Settings one = s;
        one.thinkS = s.thinkS / 10;
        alone = onServers(one, 1);
        many = onServers(s, s.sessions);
    } catch (const vorel::Exception &e) {
        std::fprintf(stderr, "bench_org: %s\n", e.message().toUtf8().constData());
        return 1;
    }
    std::printf("%d sessions from %d offices (each office's logins within %.0f s, one office after the other), "
                "%d use cases each, %.0f s apart on average; %s\n\n",
                s.sessions, s.offices, s.stormS, s.rounds, s.thinkS,
                s.pgCluster.isEmpty() ? "one server on SQLite"
                                      : qPrintable(QStringLiteral("%1 servers behind a director on one PostgreSQL")
                                                       .arg(s.servers)));
    bench::Table table;
    const QString one = QStringLiteral("1 session alone");
    table.row(QStringLiteral("logins refused"), double(many.refused), double(alone.refused), "", one);
    table.row(QStringLiteral("login (connect, Hello, Login), p50"), bench::percentile(many.loginMs, 50),
              bench::percentile(alone.loginMs, 50), "ms", one);
    table.row(QStringLiteral("login, p99"), bench::percentile(many.loginMs, 99), bench::percentile(alone.loginMs, 99),
              "ms", one);
    if (!many.dServerMs.empty())
        table.row(QStringLiteral("  of it: dServer via the director, p99"), bench::percentile(many.dServerMs, 99),
                  bench::percentile(alone.dServerMs, 99), "ms", one);
    table.row(QStringLiteral("  of it: connect, handshake, Hello, p99"), bench::percentile(many.connectMs, 99),
              bench::percentile(alone.connectMs, 99), "ms", one);
    table.row(QStringLiteral("  of it: the Login's answer, p99"), bench::percentile(many.checkMs, 99),
              bench::percentile(alone.checkMs, 99), "ms", one);
    table.row(QStringLiteral("request, p50"), bench::percentile(many.requestMs, 50),
              bench::percentile(alone.requestMs, 50), "ms", one);
    table.row(QStringLiteral("request, p99"), bench::percentile(many.requestMs, 99),
              bench::percentile(alone.requestMs, 99), "ms", one);
    table.row(QStringLiteral("servers' RSS at the start"), double(many.rssStartKb) / 1024, double(alone.rssStartKb) / 1024,
              "MB", one);
    table.row(QStringLiteral("servers' RSS, peak (VmHWM)"), double(many.rssPeakKb) / 1024,
              double(alone.rssPeakKb) / 1024, "MB", one);
    table.row(QStringLiteral("servers' RSS 3 s after the last session"), double(many.rssAfterKb) / 1024,
              double(alone.rssAfterKb) / 1024, "MB", one);
    table.row(QStringLiteral("servers' threads, peak"), many.threadsPeak, alone.threadsPeak, "", one);
    if (!s.pgCluster.isEmpty())
        table.row(QStringLiteral("PostgreSQL connections, peak"), many.pgPeak, alone.pgPeak, "", one);
    table.print();
    std::printf("errors: %lld (1 session alone: %lld)\n", static_cast<long long>(many.errors),
                static_cast<long long>(alone.errors));
    for (const QString &e : many.firstErrors + alone.firstErrors)
        std::printf("  %s\n", e.toUtf8().constData());
    return 0;
}
