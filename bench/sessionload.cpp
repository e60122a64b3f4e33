#include "bench/sessionload.h"

#include "bench/benchutil.h"
#include "common/exception.h"
#include "data/datawalk.h"
#include "rawclient.h"

#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <latch>
#include <mutex>
#include <memory>

namespace vorel::bench {

using proto::Message;
using proto::MsgType;
using test::RawClient;

namespace {
Message call(const QString &method, const QStringList &args = {}) { return RawClient::callMessage(method, args); }
} // namespace

const char *const kKindNames[KindCount] = {"Hello", "Login", "EjeDir", "Open", "Fetch", "CloseCursor"};

namespace {

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

} // namespace

Outcome runSessions(const Settings &settings, int sessions, quint16 port, qint64 serverPid, const QString &sql)
{

    std::vector<std::unique_ptr<Session>> all;
    for (int i = 0; i < sessions; ++i)
        all.push_back(std::make_unique<Session>(i, port, settings, sql));
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
    out.serverPeakKb = procStatusKb(serverPid, "VmHWM");
    // The server notices the last disconnections a moment later.
    QThread::msleep(2000);
    out.serverRssKb = procStatusKb(serverPid, "VmRSS");
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

StormOutcome runStorm(int logins, int withinMs, quint16 port)
{
    std::latch ready(logins + 1);
    std::mutex mutex;
    StormOutcome out;
    std::vector<QThread *> threads;
    std::atomic<int> done{0};
    for (int i = 0; i < logins; ++i) {
        threads.push_back(QThread::create([&, i] {
            ready.arrive_and_wait();
            if (withinMs > 0)
                QThread::msleep(qint64(withinMs) * i / logins);
            RawClient client;
            QElapsedTimer t;
            t.start();
            QString why;
            if (!client.connectTo(port)) {
                why = QStringLiteral("cannot connect");
            } else {
                const Message reply =
                    client.call(QStringLiteral("Login"), {QString::number(1001 + i % 8), QStringLiteral("clave"),
                                                          QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")});
                if (reply.type != MsgType::CallResult)
                    why = client.error(reply);
            }
            const double ms = double(t.nsecsElapsed()) / 1e6;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                if (why.isEmpty()) {
                    out.loginMs.push_back(ms);
                } else {
                    ++out.refused;
                    if (out.firstErrors.size() < 5)
                        out.firstErrors << QStringLiteral("login %1: %2").arg(i).arg(why);
                }
            }
            // Logged in until every one has tried: the storm's sessions
            // are all there at its end.
            ++done;
            while (done.load() < logins)
                QThread::msleep(50);
        }));
        threads.back()->setStackSize(256 * 1024);
        threads.back()->start();
    }
    ready.arrive_and_wait();
    for (QThread *t : threads) {
        t->wait();
        delete t;
    }
    return out;
}

namespace {

class Roller
{
public:
    Roller(int index, const QString &director, quint16 port, const QString &sql, int thinkMs,
           const std::atomic<bool> &stop)
        : m_index(index)
        , m_director(director)
        , m_port(port)
        , m_sql(sql)
        , m_thinkMs(thinkMs)
        , m_stop(stop)
    {}

    void run()
    {
        quint32 seed = quint32(m_index) * 2654435761u + 7;
        bool first = true;
        while (!m_stop.load()) {
            std::unique_ptr<RawClient> client = connect();
            if (!client) {
                QThread::msleep(200);
                continue;
            }
            if (!first)
                ++out.reconnects;
            first = false;
            while (!m_stop.load()) {
                seed = seed * 1664525u + 1013904223u;
                if (m_thinkMs > 0)
                    QThread::msleep(seed % quint32(2 * m_thinkMs + 1));
                // Told goodbye while idle: a client notices it before the
                // next action and logs in again, losing nothing.
                const Message said = client->receive(1);
                if (said.type == MsgType::Error && said.text != QLatin1String("<timeout>"))
                    break;
                if (!round(*client))
                    break; // lost: the next action logs in again
            }
        }
    }

    RollingOutcome out;

private:
    // As the client starts: the director names the member, then Hello and
    // Login there.
    std::unique_ptr<RawClient> connect()
    {
        RawClient director;
        director.setHost(m_director);
        if (!director.connectTo(m_port))
            return nullptr;
        const QString member = director.call(QStringLiteral("dServer")).value.toString();
        if (member.isEmpty())
            return nullptr;
        auto client = std::make_unique<RawClient>();
        client->setHost(member);
        if (!client->connectTo(m_port))
            return nullptr;
        const Message reply =
            client->call(QStringLiteral("Login"), {QString::number(1001 + m_index % 8), QStringLiteral("clave"),
                                                   QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")});
        if (reply.type != MsgType::CallResult) {
            ++out.refusedLogins;
            note(QStringLiteral("Login on %1: %2").arg(member, client->error(reply)));
            return nullptr;
        }
        return client;
    }

    void note(const QString &what)
    {
        if (out.firstErrors.size() < 3)
            out.firstErrors << QStringLiteral("session %1: %2").arg(m_index).arg(what);
    }

    // False when the connection is gone; a request that failed counts once.
    bool ask(RawClient &client, const Message &request, Message *reply)
    {
        QElapsedTimer t;
        t.start();
        *reply = client.request(request, 60000);
        ++out.requests;
        if (reply->type == MsgType::Error) {
            ++out.failed;
            note(client.error(*reply));
            return false;
        }
        out.latencyMs.push_back(double(t.nsecsElapsed()) / 1e6);
        return true;
    }

    bool round(RawClient &client)
    {
        Message reply;
        if (!ask(client, call(QStringLiteral("StartTran")), &reply)
            || !ask(client, call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM vorel.RQBEX")}), &reply)
            || !ask(client, call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM vorel.RVFILRAP")}), &reply)
            || !ask(client, call(QStringLiteral("CommitTran")), &reply)
            || !ask(client, client.openMessage(QStringLiteral("dspModulo"), m_sql, 50), &reply))
            return false;
        const quint32 cursor = reply.cursor;
        bool eof = reply.rows.eof;
        while (!eof) {
            Message fetch;
            fetch.type = MsgType::Fetch;
            fetch.cursor = cursor;
            fetch.count = 500;
            if (!ask(client, fetch, &reply))
                return false;
            eof = reply.rows.eof || reply.rows.isEmpty();
        }
        Message close;
        close.type = MsgType::CloseCursor;
        close.cursor = cursor;
        return ask(client, close, &reply);
    }

    const int m_index;
    const QString m_director;
    const quint16 m_port;
    const QString m_sql;
    const int m_thinkMs;
    const std::atomic<bool> &m_stop;
};

} // namespace

struct RollingLoad::Impl {
    std::atomic<bool> stop{false};
    std::vector<std::unique_ptr<Roller>> rollers;
    std::vector<QThread *> threads;
};

RollingLoad::RollingLoad(int sessions, const QString &host, quint16 port, const QString &sql, int thinkMs)
    : d(std::make_unique<Impl>())
{
    for (int i = 0; i < sessions; ++i) {
        d->rollers.push_back(std::make_unique<Roller>(i, host, port, sql, thinkMs, d->stop));
        Roller *r = d->rollers.back().get();
        d->threads.push_back(QThread::create([r] { r->run(); }));
        d->threads.back()->start();
    }
}

RollingLoad::~RollingLoad() { stop(); }

RollingOutcome RollingLoad::stop()
{
    d->stop = true;
    for (QThread *t : d->threads) {
        t->wait();
        delete t;
    }
    d->threads.clear();
    RollingOutcome all;
    for (const auto &r : d->rollers) {
        all.requests += r->out.requests;
        all.failed += r->out.failed;
        all.reconnects += r->out.reconnects;
        all.refusedLogins += r->out.refusedLogins;
        all.latencyMs.insert(all.latencyMs.end(), r->out.latencyMs.begin(), r->out.latencyMs.end());
        for (const QString &e : r->out.firstErrors)
            if (all.firstErrors.size() < 10)
                all.firstErrors << e;
    }
    d->rollers.clear();
    return all;
}

} // namespace vorel::bench
