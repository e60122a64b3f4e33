#include "bench/sessionload.h"

#include "bench/benchutil.h"
#include "common/exception.h"
#include "data/datawalk.h"
#include "rawclient.h"

#include <QElapsedTimer>
#include <QThread>
#include <latch>
#include <memory>

namespace vorel::bench {

using proto::Message;
using proto::MsgType;
using test::RawClient;

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


} // namespace vorel::bench
