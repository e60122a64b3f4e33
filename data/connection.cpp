#include "data/connection.h"

#include "common/exception.h"
#include "common/platform.h"
#include "data/servertrust.h"
#include "data/tlscontext.h"

#include <QDeadlineTimer>
#include <QScopeGuard>
#include <QSslSocket>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <optional>

namespace vorel {

using proto::Message;
using proto::MsgType;

namespace {
// One thread: no two requests of any connection get the same ticket.
quint64 nextTicket = 1;

bool pipeliningByDefault() { return qEnvironmentVariable("VOREL_PIPELINE") != QLatin1String("0"); }

// What a connection reads from the system ahead of the answer in hand.
constexpr qint64 kReadAheadBytes = 2 * 1024 * 1024;

// How long opening a session again may take: the user waits for it.
constexpr int kReconnectMs = 15000;

// The server's answer to a Login with a wrong user or password, the one
// refusal that a new password can mend.
constexpr const char *kBadLogin = "Usuario o contraseña incorrectos";

constexpr const char *kReconnected =
    "Se perdió la conexión con el servidor; se ha vuelto a conectar. Repita la operación.";
constexpr const char *kRetryLater = "Se intentará de nuevo en la próxima operación.";

// A sentence of its own, whatever the text it ends.
QString sentence(const QString &text)
{
    const QString t = text.trimmed();
    if (t.endsWith(QLatin1Char('.')) || t.endsWith(QLatin1Char('!')) || t.endsWith(QLatin1Char('?')))
        return t;
    return t + QLatin1Char('.');
}

bool isCall(const proto::Message &m, const char *method)
{
    return m.type == MsgType::Call && m.text == QLatin1String(method);
}
} // namespace

TSocketConnection::TSocketConnection(QObject *owner) : QObject(owner), m_pipelining(pipeliningByDefault()) {}

TSocketConnection::~TSocketConnection()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

QString TSocketConnection::endpoint() const
{
    return m_host + QLatin1Char(':') + QString::number(m_port);
}

bool TSocketConnection::Connected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void TSocketConnection::Open()
{
    if (Connected())
        return;
    discardSocket(false);

    const QDeadlineTimer deadline(m_timeoutMs);
    auto socket = std::make_unique<QSslSocket>();
    std::optional<ServerTrust> trust;
    if (m_encrypted) {
        trust.emplace();
        if (!trust->failure().isEmpty())
            throw Exception(trust->failure());
        socket->setSslConfiguration(trust->configuration());
        socket->setPeerVerifyName(m_host);
    }
    const bool portOk = m_port > 0 && m_port <= 0xffff;
    // The handshake starts once the connection stands, with the context
    // every connection of this configuration shares.
    if (portOk)
        socket->connectToHost(m_host, quint16(m_port));
    if (!portOk || !socket->waitForConnected(int(qMax<qint64>(1, deadline.remainingTime())))) {
        const QString reason = portOk ? socket->errorString() : QStringLiteral("puerto no válido");
        socket->abort();
        throw Exception(QStringLiteral("No se puede conectar con el servidor de aplicaciones %1: %2")
                            .arg(endpoint(), reason));
    }
    // Requests are small and each is waited for: none may be held back
    // waiting for the acknowledgement of the one before (Nagle).
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A line that drops without a word is found by the system within half
    // a minute, idle or not, rather than hours later: the shell then opens
    // a new session instead of waiting on a dead one.
    const QString noProbes = platform::DetectDeadPeer(socket->socketDescriptor(), {});
    if (!noProbes.isEmpty())
        qWarning("Keep-alive of the connection to %s not set: %s", qPrintable(endpoint()), qPrintable(noProbes));
    // Answers asked ahead (a walk keeps megabytes on their way) are taken
    // from the system a little ahead of their use, the rest left in its
    // buffers: the TLS layer deciphers a backlog of megabytes taken in one
    // go far slower than the same bytes as they come (8 MB took 100 ms,
    // against some 13 ms as they came), and the walk stalls behind it.
    socket->setReadBufferSize(kReadAheadBytes);
    if (m_encrypted) {
        trust->sharedContext().start(socket.get(), TlsSharedContext::Side::Client);
        if (!socket->waitForEncrypted(int(qMax<qint64>(1, deadline.remainingTime())))) {
            const QString why = deadline.hasExpired()
                ? QStringLiteral("El servidor de aplicaciones %1 no respondió a tiempo").arg(endpoint())
                : trust->handshakeFailure(*socket, endpoint());
            socket->abort();
            throw Exception(why);
        }
        const QString refusal = trust->check(*socket, m_host, m_port);
        if (!refusal.isEmpty()) {
            socket->abort();
            throw Exception(refusal);
        }
    }
    // Calls wait with blocking reads; the signal only tells listeners about
    // a drop noticed while the event loop runs between calls.
    connect(socket.get(), &QTcpSocket::disconnected, this, &TSocketConnection::announceDrop);
    m_socket = std::move(socket);
    m_headerGot = 0;
    m_payloadGot = 0;
    m_dropAnnounced = false;
    m_nextRequest = 1;
    // Cursor numbers are the session's: those of an earlier one mean
    // nothing, or another cursor, to this one.
    m_liveCursors.clear();

    Message hello;
    hello.type = MsgType::Hello;
    hello.version = proto::kVersion;
    if (!m_pipelining) {
        const Message reply = exchange(hello);
        const QString refusal = helloRefusal(reply);
        if (!refusal.isEmpty()) {
            discardSocket(false);
            throw Exception(refusal);
        }
        return;
    }
    // The greeting's answer is read with the first answer needed: the
    // requests behind it need not wait for it.
    send(hello, deadline);
    Pending p;
    p.sentNs = sentNow();
    p.ticket = nextTicket++;
    p.requestId = hello.requestId;
    p.forgotten = true;
    p.greeting = true;
    m_pending.push_back(std::move(p));
}

QString TSocketConnection::helloRefusal(const Message &reply)
{
    // The server refuses the session and closes its side.
    if (reply.type == MsgType::Error)
        return reply.text;
    if (reply.type != MsgType::HelloOk)
        return QStringLiteral("Error de protocolo con el servidor de aplicaciones %1: respuesta inesperada al saludo")
            .arg(endpoint());
    if (reply.version != proto::kVersion)
        return QStringLiteral("El servidor de aplicaciones %1 habla la versión %2 del protocolo y este cliente solo "
                              "la %3: actualice el cliente o el servidor")
            .arg(endpoint())
            .arg(reply.version)
            .arg(proto::kVersion);
    return QString();
}

void TSocketConnection::Close()
{
    discardSocket(false);
}

namespace {
// A NUL character ends an SQL text early on the other side: what would run
// is not the statement written. Refused here, before anything is sent.
void checkSqlText(const QString &sql)
{
    if (sql.contains(QChar(0)))
        throw Exception(QString::fromUtf8(TSocketConnection::NulInSql));
}
} // namespace

const char *const TSocketConnection::NulInSql = "Un texto con el carácter nulo no puede ir en una sentencia SQL";

namespace {

Message callRequest(const QString &method, const QStringList &args)
{
    if (method == QLatin1String("EjeDir"))
        for (const QString &arg : args)
            checkSqlText(arg);
    Message m;
    m.type = MsgType::Call;
    m.text = method;
    m.args = args;
    return m;
}

Message cursorRequest(MsgType type, quint32 cursor, int count = 0)
{
    Message m;
    m.type = type;
    m.cursor = cursor;
    m.count = count <= 0 ? -1 : count;
    return m;
}

std::atomic<quint64> waitCount{0};

} // namespace

quint64 TSocketConnection::Waits() { return waitCount.load(std::memory_order_relaxed); }

QString TSocketConnection::Call(const QString &method, const QStringList &args)
{
    return TakeCall(PostCall(method, args));
}

quint64 TSocketConnection::PostCall(const QString &method, const QStringList &args)
{
    Message m = callRequest(method, args);
    const quint64 ticket = post(m);
    if (method == QLatin1String("Login")) {
        // Login(user, password, database, address)
        m_loginUser.clear();
        m_loginDatabase.clear();
        m_loginTicket = ticket;
        m_sentUser = args.value(0);
        m_sentDatabase = args.value(2);
    }
    return ticket;
}

QString TSocketConnection::TakeCall(quint64 ticket)
{
    const Message reply = take(ticket);
    if (reply.type != MsgType::CallResult)
        protocolFailure("respuesta inesperada a una llamada");
    if (ticket == m_loginTicket) {
        m_loginTicket = 0;
        m_loginUser = m_sentUser;
        m_loginDatabase = m_sentDatabase;
    }
    if (reply.value.isNull())
        return QString();
    if (reply.value.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(reply.value.toByteArray());
    return reply.value.toString();
}

void TSocketConnection::CallAhead(const QString &method, const QStringList &args)
{
    Forget(PostCall(method, args));
}

TSocketConnection::OpenReply TSocketConnection::OpenCursor(const QString &provider, const QString &sql,
                                                           int packetRecords)
{
    return TakeOpen(PostOpen(provider, sql, packetRecords));
}

quint64 TSocketConnection::PostOpen(const QString &provider, const QString &sql, int packetRecords)
{
    checkSqlText(sql);
    Message m;
    m.type = MsgType::Open;
    m.text = provider;
    m.sql = sql;
    m.count = packetRecords <= 0 ? -1 : packetRecords;
    return post(m);
}

TSocketConnection::OpenReply TSocketConnection::TakeOpen(quint64 ticket, bool *earlier)
{
    Message reply = take(ticket, earlier);
    if (reply.type != MsgType::OpenResult)
        protocolFailure("respuesta inesperada a una apertura");
    OpenReply r;
    r.cursor = reply.cursor;
    r.columns = std::move(reply.columns);
    r.rows = std::move(reply.rows);
    return r;
}

void TSocketConnection::checkCursor(quint32 cursor)
{
    if (!CursorLive(cursor))
        throw ConnectionFailure(QStringLiteral("Se perdió la conexión con el servidor; las filas que faltaban por "
                                               "leer se perdieron con ella. Vuelva a consultar para verlas."));
}

proto::RowBlock TSocketConnection::Fetch(quint32 cursor, int count)
{
    checkCursor(cursor);
    Message m = cursorRequest(MsgType::Fetch, cursor, count);
    Message reply = take(post(m));
    if (reply.type != MsgType::Rows)
        protocolFailure("respuesta inesperada a una lectura");
    return std::move(reply.rows);
}

void TSocketConnection::CloseCursor(quint32 cursor)
{
    // A cursor of an earlier session went with it.
    if (!CursorLive(cursor))
        return;
    Message m = cursorRequest(MsgType::CloseCursor, cursor);
    const Message reply = take(post(m));
    if (reply.type != MsgType::Closed)
        protocolFailure("respuesta inesperada a un cierre");
}

void TSocketConnection::CloseCursorAhead(quint32 cursor)
{
    if (!Connected() || !CursorLive(cursor))
        return;
    Message m = cursorRequest(MsgType::CloseCursor, cursor);
    Forget(post(m, true));
}

quint64 TSocketConnection::SendFetch(quint32 cursor, int count)
{
    checkCursor(cursor);
    Message m = cursorRequest(MsgType::Fetch, cursor, count);
    return post(m, true);
}

proto::RowBlock TSocketConnection::TakeFetch(quint64 ticket)
{
    Message reply = take(ticket);
    if (reply.type != MsgType::Rows)
        protocolFailure("respuesta inesperada a una lectura");
    return std::move(reply.rows);
}

void TSocketConnection::Forget(quint64 ticket)
{
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        if (it->ticket != ticket)
            continue;
        it->forgotten = true;
        // What arrived and can no longer matter goes now.
        if (spent(*it)) {
            const quint32 cursor = it->reply.type == MsgType::OpenResult ? it->reply.cursor : 0;
            m_pending.erase(it);
            if (cursor != 0) {
                try {
                    CloseCursorAhead(cursor);
                } catch (const Exception &) {
                    // The connection is gone, and the cursor with it.
                }
            }
        }
        return;
    }
}

TSocketConnection::Told TSocketConnection::Abandoned(quint64 ticket) const
{
    for (const Pending &p : m_pending) {
        if (p.ticket != ticket)
            continue;
        if (!p.told)
            return Told::No;
        // Answers come in order: one not here yet comes after the failure.
        if (!p.arrived || p.reply.type == MsgType::Skipped)
            return Told::Skipped;
        return failureOf(p).isEmpty() ? Told::No : Told::Failed;
    }
    return Told::No;
}

void TSocketConnection::Sync()
{
    if (m_pending.empty())
        return;
    collect();
    checkPipeline(0, 0);
}

int TSocketConnection::Outstanding() const
{
    return int(std::count_if(m_pending.begin(), m_pending.end(), [](const Pending &p) { return !p.arrived; }));
}

qint64 TSocketConnection::sentNow()
{
    if (!m_clock.isValid())
        m_clock.start();
    return m_clock.nsecsElapsed();
}

quint64 TSocketConnection::post(Message &request, bool detached)
{
    if (beforeRequest(request)) {
        // Answered here: the server rolled the use case back with the
        // session it lost.
        Pending p;
        p.ticket = nextTicket++;
        p.arrived = true;
        p.reply.type = MsgType::CallResult;
        m_pending.push_back(std::move(p));
        return m_pending.back().ticket;
    }
    checkConnected();
    // Sent behind answers not yet read, a request joins their pipeline;
    // otherwise it starts one of its own.
    if (!detached) {
        const bool behind = std::any_of(m_pending.begin(), m_pending.end(), [this](const Pending &p) {
            return p.pipeline != 0 && p.pipeline == m_pipeline;
        });
        if (!behind)
            ++m_pipeline;
        request.flags = behind ? proto::Chained : 0;
    } else {
        request.flags = proto::Detached;
    }
    send(request, QDeadlineTimer(m_timeoutMs));
    Pending p;
    p.sentNs = sentNow();
    p.ticket = nextTicket++;
    p.requestId = request.requestId;
    p.pipeline = detached ? 0 : m_pipeline;
    m_pending.push_back(std::move(p));
    const quint64 ticket = m_pending.back().ticket;
    noteTransaction(request, ticket);
    if (!m_pipelining && !detached) {
        // Waited for here, and a failure thrown here, as if every request
        // were a call of its own.
        const auto mine = [this, ticket] {
            return std::find_if(m_pending.begin(), m_pending.end(),
                                [ticket](const Pending &q) { return q.ticket == ticket; });
        };
        try {
            collect(ticket);
        } catch (...) {
            if (mine() != m_pending.end())
                m_pending.erase(mine());
            throw;
        }
        const auto it = mine();
        const QString failure = failureOf(*it);
        if (!failure.isEmpty()) {
            const quint64 pipeline = it->pipeline;
            const bool line = it->lineFailure;
            m_pending.erase(it);
            breakPipeline(pipeline, failure, line);
        }
    }
    return ticket;
}

QString TSocketConnection::failureOf(const Pending &p)
{
    if (!p.failure.isEmpty())
        return p.failure;
    if (p.reply.type == MsgType::Error)
        return p.reply.text;
    return QString();
}

bool TSocketConnection::spent(const Pending &p)
{
    return p.arrived && p.forgotten && (p.pipeline == 0 || p.told || failureOf(p).isEmpty());
}

void TSocketConnection::raise(const QString &failure, bool line)
{
    if (line)
        throw ConnectionFailure(failure);
    throw Exception(failure);
}

void TSocketConnection::breakPipeline(quint64 pipeline, const QString &failure, bool line)
{
    for (Pending &p : m_pending) {
        if (p.pipeline == pipeline) {
            p.told = true;
            p.cause = failure;
            p.lineFailure = line;
        }
    }
    m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(), spent), m_pending.end());
    // What is sent from now on is no longer behind the failure.
    if (pipeline == m_pipeline)
        ++m_pipeline;
    raise(failure, line);
}

void TSocketConnection::checkPipeline(quint64 pipeline, quint64 ticket)
{
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (ticket != 0 && it->ticket == ticket)
            return;
        if (!it->arrived || it->pipeline == 0 || it->told || (pipeline != 0 && it->pipeline != pipeline)) {
            ++it;
            continue;
        }
        const QString failure = failureOf(*it);
        if (!failure.isEmpty())
            breakPipeline(it->pipeline, failure, it->lineFailure);
        if (it->forgotten)
            it = m_pending.erase(it); // its success is all there was to know
        else
            ++it;
    }
}

Message TSocketConnection::take(quint64 ticket, bool *earlier)
{
    auto find = [this, ticket] {
        return std::find_if(m_pending.begin(), m_pending.end(),
                            [ticket](const Pending &p) { return p.ticket == ticket; });
    };
    auto it = find();
    if (it == m_pending.end())
        throw Exception(QStringLiteral("Respuesta desconocida del servidor de aplicaciones: %1").arg(ticket));
    if (!it->arrived) {
        // Blocked anyway: the answers of the requests sent since come in
        // the same wait, instead of one wait each.
        quint64 upTo = ticket;
        if (it->pipeline != 0)
            for (const Pending &p : m_pending)
                if (p.pipeline != 0 && !p.arrived)
                    upTo = p.ticket;
        try {
            collect(upTo);
        } catch (...) {
            // The failure that ended the connection is this reply's too.
            it = find();
            if (it != m_pending.end())
                m_pending.erase(it);
            throw;
        }
    }
    it = find();
    if (it->pipeline != 0) {
        try {
            checkPipeline(it->pipeline, ticket);
        } catch (...) {
            // An earlier failure is the one told; this answer goes unread.
            Forget(ticket);
            if (earlier)
                *earlier = true;
            throw;
        }
        it = find();
    }
    Pending p = std::move(*it);
    m_pending.erase(it);
    const QString failure = failureOf(p);
    if (!failure.isEmpty()) {
        if (p.pipeline == 0 || p.told)
            raise(failure, p.lineFailure);
        breakPipeline(p.pipeline, failure, p.lineFailure);
    }
    if (p.reply.type == MsgType::Skipped) {
        // Behind a failure already told: the same failure, again.
        if (earlier)
            *earlier = true;
        if (!p.cause.isEmpty())
            raise(p.cause, p.lineFailure);
        protocolFailure("petición omitida sin un fallo que la explique");
    }
    return std::move(p.reply);
}

void TSocketConnection::collect(quint64 ticket)
{
    m_blocked = false;
    const auto counted = qScopeGuard([this] {
        if (m_blocked)
            waitCount.fetch_add(1, std::memory_order_relaxed);
    });
    // receive() leaves the queue alone unless it throws, so the entry in
    // hand stays where it is.
    std::vector<quint32> cursorsToClose;
    for (Pending &p : m_pending) {
        if (!p.arrived) {
            p.reply = receive(p.requestId, QDeadlineTimer(m_timeoutMs));
            // The server ended the session, and says why, before it closes.
            if (!p.greeting && p.reply.type == MsgType::Error && p.reply.requestId == 0)
                failConnection(p.reply.text);
            p.arrived = true;
            const qint64 trip = m_clock.nsecsElapsed() - p.sentNs;
            if (m_shortestTripNs == 0 || trip < m_shortestTripNs)
                m_shortestTripNs = std::max<qint64>(1, trip);
            if (p.greeting) {
                const QString refusal = helloRefusal(p.reply);
                // Every request sent behind the greeting meets it.
                if (!refusal.isEmpty())
                    failConnection(refusal, false);
            }
            if (p.reply.type == MsgType::OpenResult && p.reply.cursor != 0)
                m_liveCursors.insert(p.reply.cursor);
            if (p.ticket == m_commitTicket && p.reply.type == MsgType::CallResult) {
                m_inTransaction = false;
                m_commitTicket = 0;
            }
            if (p.forgotten && p.reply.type == MsgType::OpenResult && p.reply.cursor != 0)
                cursorsToClose.push_back(p.reply.cursor);
        }
        if (ticket != 0 && p.ticket == ticket)
            break;
    }
    // A forgotten failure stays until an answer waited for tells it.
    m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(), spent), m_pending.end());
    for (const quint32 cursor : cursorsToClose) {
        try {
            CloseCursorAhead(cursor);
        } catch (const Exception &) {
            // The connection is gone, and the cursor with it.
        }
    }
}

void TSocketConnection::checkConnected()
{
    if (!m_socket)
        throw Exception(QStringLiteral("No hay conexión con el servidor de aplicaciones %1").arg(endpoint()));
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        failConnection(QStringLiteral("Se perdió la conexión con el servidor de aplicaciones %1").arg(endpoint()));
}

proto::Message TSocketConnection::exchange(proto::Message &request)
{
    const QDeadlineTimer deadline(m_timeoutMs);
    send(request, deadline);
    m_blocked = false;
    const auto counted = qScopeGuard([this] {
        if (m_blocked)
            waitCount.fetch_add(1, std::memory_order_relaxed);
    });
    return receive(request.requestId, deadline);
}

void TSocketConnection::send(proto::Message &request, const QDeadlineTimer &deadline)
{
    request.requestId = m_nextRequest++;
    if (m_nextRequest == 0)
        m_nextRequest = 1;

    QByteArray frame;
    try {
        frame = proto::encode(request);
    } catch (const proto::ProtocolError &e) {
        // Nothing was sent: the session is still sound.
        throw Exception(QStringLiteral("Petición no válida para el servidor de aplicaciones: %1")
                            .arg(QString::fromUtf8(e.what())));
    }

    const QString lost = QStringLiteral("Se perdió la conexión con el servidor de aplicaciones %1").arg(endpoint());
    const QString late = QStringLiteral("El servidor de aplicaciones %1 no respondió a tiempo").arg(endpoint());

    if (m_socket->write(frame) != frame.size())
        failConnection(lost);
    // Encrypted and handed to the system now, rather than after a turn of
    // the wait below.
    m_socket->flush();
    while (m_socket->bytesToWrite() > 0) {
        if (!m_socket->waitForBytesWritten(int(qMax<qint64>(0, deadline.remainingTime())))) {
            if (m_socket->state() != QAbstractSocket::ConnectedState)
                failConnection(lost);
            if (deadline.hasExpired())
                failConnection(late);
        }
    }
}

proto::Message TSocketConnection::receive(quint32 requestId, const QDeadlineTimer &deadline)
{
    const QString lost = QStringLiteral("Se perdió la conexión con el servidor de aplicaciones %1").arg(endpoint());
    const QString late = QStringLiteral("El servidor de aplicaciones %1 no respondió a tiempo").arg(endpoint());
    for (;;) {
        bool complete = false;
        try {
            complete = readFrame();
        } catch (const proto::ProtocolError &e) {
            protocolFailure(e.what());
        }
        if (complete) {
            Message reply;
            try {
                reply = proto::decodePayload(m_payload, m_payloadOwner);
            } catch (const proto::ProtocolError &e) {
                protocolFailure(e.what());
            }
            // A rare large frame (a binary of TBINS) is not held until the
            // next one comes.
            if (m_payload.size() > 16 * 1024 * 1024) {
                m_payload = QByteArray();
                m_payloadOwner.reset();
            }
            // Answers come in order, one per request; anything else means the
            // two sides no longer agree on the stream.
            if (reply.requestId != requestId && !(reply.type == MsgType::Error && reply.requestId == 0))
                protocolFailure("respuesta a otra petición");
            return reply;
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            failConnection(lost);
        if (deadline.hasExpired())
            failConnection(late);
        m_blocked = true;
        if (!m_socket->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            if (m_socket->bytesAvailable() > 0)
                continue;
            if (m_socket->state() != QAbstractSocket::ConnectedState)
                failConnection(lost);
            if (deadline.hasExpired())
                failConnection(late);
        }
    }
}

bool TSocketConnection::readFrame()
{
    while (m_headerGot < proto::kHeaderSize) {
        const qint64 n = m_socket->read(m_header + m_headerGot, proto::kHeaderSize - m_headerGot);
        if (n <= 0)
            return false;
        m_headerGot += n;
        if (m_headerGot == proto::kHeaderSize) {
            const quint32 length = qFromBigEndian<quint32>(m_header);
            // Refused before anything is allocated for it.
            if (length > proto::kMaxFrame)
                throw proto::ProtocolError("frame exceeds the size limit");
            // A buffer of its own, of its size: the rows of a frame keep the
            // frame's buffer rather than a copy of it, and a reused buffer
            // would lend a small packet the room of a large one.
            FrameArena::Frame frame = m_frames.allocate(qsizetype(length));
            m_payload = std::move(frame.bytes);
            m_payloadOwner = std::move(frame.owner);
            m_payloadData = frame.data;
            m_payloadGot = 0;
        }
    }
    while (m_payloadGot < m_payload.size()) {
        const qint64 n = m_socket->read(m_payloadData + m_payloadGot, m_payload.size() - m_payloadGot);
        if (n <= 0)
            return false;
        m_payloadGot += n;
    }
    m_headerGot = 0;
    return true;
}

void TSocketConnection::failConnection(const QString &why, bool dropped)
{
    // Replies still outstanding are lost with the stream, for the same reason.
    std::vector<quint64> lost;
    for (Pending &p : m_pending) {
        if (!p.arrived) {
            p.arrived = true;
            p.failure = why;
            p.lineFailure = true;
            lost.push_back(p.ticket);
        }
    }
    discardSocket(dropped);
    if (!dropped || m_reconnecting || m_session.login.isEmpty())
        throw ConnectionFailure(why);
    noteLoss();
    // The session is opened again now, so that the message says where the
    // user stands; what was on its way is not sent again.
    const QString message = lossMessage(why);
    for (Pending &p : m_pending) {
        if (std::find(lost.begin(), lost.end(), p.ticket) == lost.end())
            continue;
        if (!p.failure.isEmpty())
            p.failure = message;
        if (p.told)
            p.cause = message;
    }
    throw ConnectionFailure(message);
}

void TSocketConnection::noteLoss()
{
    m_lost = true;
    if (m_inTransaction) {
        m_inTransaction = false;
        m_transactionLost = true;
    }
    m_commitTicket = 0;
}

void TSocketConnection::noteTransaction(const proto::Message &request, quint64 ticket)
{
    if (isCall(request, "StartTran")) {
        m_inTransaction = true;
        m_commitTicket = 0;
    } else if (isCall(request, "CommitTran")) {
        m_commitTicket = ticket;
    } else if (isCall(request, "RollBackTran")) {
        m_inTransaction = false;
        m_commitTicket = 0;
    }
}

bool TSocketConnection::beforeRequest(const proto::Message &request)
{
    if (m_reconnecting || m_session.login.isEmpty())
        return false;
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState && Outstanding() == 0) {
        // With nothing asked, whatever the server sent is its goodbye (it
        // stopped, or ended a session idle too long) before it closed; the
        // loop may not have run since to tell.
        m_socket->waitForReadyRead(0);
        if (m_socket && m_socket->bytesAvailable() > 0)
            m_socket->abort();
    }
    if (m_socket && m_socket->state() != QAbstractSocket::ConnectedState) {
        // Gone while nothing was asked of it (the server stopped, the
        // system gave up on a silent line).
        for (Pending &p : m_pending) {
            if (!p.arrived) {
                p.arrived = true;
                p.failure = QString::fromUtf8(kReconnected);
                p.lineFailure = true;
            }
        }
        discardSocket(true);
        noteLoss();
    }
    // Nothing to roll back on a session that is gone, nor on one opened
    // since: the server rolled the old one's back.
    if ((m_transactionLost || m_lost) && isCall(request, "RollBackTran")) {
        m_transactionLost = false;
        return true;
    }
    if (m_transactionLost) {
        // A later step of a use case the loss cut short: the session it
        // belonged to is gone, and a new one must not take it up.
        if (m_lost)
            throw ConnectionFailure(lossMessage(
                QStringLiteral("Se perdió la conexión con el servidor de aplicaciones %1").arg(endpoint())));
        throw ConnectionFailure(QString::fromUtf8(kReconnected));
    }
    if (m_lost) {
        try {
            reconnect();
        } catch (const Exception &e) {
            throw ConnectionFailure(sentence(e.message()) + QLatin1Char('\n') + QString::fromUtf8(kRetryLater));
        }
    }
    return false;
}

QString TSocketConnection::lossMessage(const QString &lineFailure)
{
    try {
        reconnect();
        return QString::fromUtf8(kReconnected);
    } catch (const Exception &e) {
        return sentence(lineFailure) + QLatin1Char('\n') + sentence(e.message()) + QLatin1Char('\n')
               + QString::fromUtf8(kRetryLater);
    }
}

void TSocketConnection::reconnect()
{
    m_reconnecting = true;
    const int timeout = m_timeoutMs;
    m_timeoutMs = std::min(timeout, kReconnectMs);
    const auto restore = qScopeGuard([this, timeout] {
        m_reconnecting = false;
        m_timeoutMs = timeout;
    });
    // What the old session had on its way is over: its failures stay for
    // their tickets, and nothing sent from now on is behind them.
    for (Pending &p : m_pending) {
        if (!p.arrived) {
            p.arrived = true;
            p.failure = QString::fromUtf8(kReconnected);
            p.lineFailure = true;
        }
        if (!failureOf(p).isEmpty() && !p.told) {
            p.told = true;
            p.cause = failureOf(p);
            p.lineFailure = true;
        }
    }
    m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(), spent), m_pending.end());
    ++m_pipeline;
    discardSocket(false);
    m_loginTicket = 0;
    m_loginUser.clear();
    m_loginDatabase.clear();

    QStringList login = m_session.login;
    for (;;) {
        const int port = m_port;
        {
            // The configured server says which one to use, as at start-up:
            // a director sends the session to a member that serves.
            TSocketConnection director;
            director.SetHost(m_session.address);
            director.SetPort(port);
            director.SetServerName(m_serverName);
            director.SetTimeout(m_timeoutMs);
            director.SetEncrypted(m_encrypted);
            director.SetPipelining(m_pipelining);
            director.Open();
            m_host = director.Call(QStringLiteral("dServer"));
        }
        Open();
        try {
            Call(QStringLiteral("Login"), login);
            break;
        } catch (const ConnectionFailure &) {
            throw;
        } catch (const Exception &e) {
            discardSocket(false);
            if (e.message() != QString::fromUtf8(kBadLogin) || !CredentialsRefused
                || !CredentialsRefused(login, e.message()))
                throw;
        }
    }
    m_session.login = login;
    for (const QString &statement : std::as_const(m_session.restore))
        Call(QStringLiteral("EjeDir"), {statement});
    m_lost = false;
    ++m_reconnections;
}

void TSocketConnection::protocolFailure(const char *what)
{
    failConnection(QStringLiteral("Error de protocolo con el servidor de aplicaciones %1: %2")
                       .arg(endpoint(), QString::fromUtf8(what)));
}

void TSocketConnection::announceDrop()
{
    if (m_dropAnnounced)
        return;
    m_dropAnnounced = true;
    Q_EMIT Disconnected();
}

void TSocketConnection::discardSocket(bool dropped)
{
    for (Pending &p : m_pending) {
        if (!p.arrived) {
            p.arrived = true;
            p.failure = QStringLiteral("No hay conexión con el servidor de aplicaciones %1").arg(endpoint());
            p.lineFailure = true;
        }
    }
    m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(), [](const Pending &p) { return p.forgotten; }),
                    m_pending.end());
    m_headerGot = 0;
    m_payloadGot = 0;
    m_payload = QByteArray();
    m_payloadOwner.reset();
    if (!m_socket)
        return;
    QSslSocket *socket = m_socket.release();
    socket->disconnect(this);
    socket->abort();
    // The socket may be inside one of its own signals; let the loop free it.
    socket->deleteLater();
    if (dropped)
        announceDrop();
}

} // namespace vorel
