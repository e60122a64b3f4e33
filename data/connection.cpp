#include "data/connection.h"

#include "common/exception.h"
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

TSocketConnection::TSocketConnection(QObject *owner) : QObject(owner) {}

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

    Message hello;
    hello.type = MsgType::Hello;
    hello.version = proto::kVersion;
    const Message reply = exchange(hello);
    if (reply.type == MsgType::Error) {
        // The server refuses the session and closes its side.
        discardSocket(false);
        throw Exception(reply.text);
    }
    if (reply.type != MsgType::HelloOk)
        protocolFailure("respuesta inesperada al saludo");
    if (reply.version != proto::kVersion) {
        discardSocket(false);
        throw Exception(QStringLiteral("El servidor de aplicaciones %1 usa otra versión del protocolo (%2, se esperaba %3)")
                            .arg(endpoint())
                            .arg(reply.version)
                            .arg(proto::kVersion));
    }
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

QString TSocketConnection::Call(const QString &method, const QStringList &args)
{
    if (method == QLatin1String("EjeDir"))
        for (const QString &arg : args)
            checkSqlText(arg);
    Message m;
    m.type = MsgType::Call;
    m.text = method;
    m.args = args;
    const Message reply = roundTrip(m);
    if (reply.type != MsgType::CallResult)
        protocolFailure("respuesta inesperada a una llamada");
    if (reply.value.isNull())
        return QString();
    if (reply.value.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(reply.value.toByteArray());
    return reply.value.toString();
}

TSocketConnection::OpenReply TSocketConnection::OpenCursor(const QString &provider, const QString &sql,
                                                           int packetRecords)
{
    checkSqlText(sql);
    Message m;
    m.type = MsgType::Open;
    m.text = provider;
    m.sql = sql;
    m.count = packetRecords <= 0 ? -1 : packetRecords;
    Message reply = roundTrip(m);
    if (reply.type != MsgType::OpenResult)
        protocolFailure("respuesta inesperada a una apertura");
    OpenReply r;
    r.cursor = reply.cursor;
    r.columns = std::move(reply.columns);
    r.rows = std::move(reply.rows);
    return r;
}

proto::RowBlock TSocketConnection::Fetch(quint32 cursor, int count)
{
    Message m;
    m.type = MsgType::Fetch;
    m.cursor = cursor;
    m.count = count <= 0 ? -1 : count;
    Message reply = roundTrip(m);
    if (reply.type != MsgType::Rows)
        protocolFailure("respuesta inesperada a una lectura");
    return std::move(reply.rows);
}

void TSocketConnection::CloseCursor(quint32 cursor)
{
    Message m;
    m.type = MsgType::CloseCursor;
    m.cursor = cursor;
    const Message reply = roundTrip(m);
    if (reply.type != MsgType::Closed)
        protocolFailure("respuesta inesperada a un cierre");
}

quint64 TSocketConnection::SendFetch(quint32 cursor, int count)
{
    checkConnected();
    Message m;
    m.type = MsgType::Fetch;
    m.cursor = cursor;
    m.count = count <= 0 ? -1 : count;
    send(m, QDeadlineTimer(m_timeoutMs));
    Pending p;
    static quint64 nextTicket = 1; // one thread: no two connections share a ticket
    p.ticket = nextTicket++;
    p.requestId = m.requestId;
    m_pending.push_back(std::move(p));
    return m_pending.back().ticket;
}

proto::RowBlock TSocketConnection::TakeFetch(quint64 ticket)
{
    auto find = [this, ticket] {
        return std::find_if(m_pending.begin(), m_pending.end(),
                            [ticket](const Pending &p) { return p.ticket == ticket; });
    };
    auto it = find();
    if (it == m_pending.end())
        throw Exception(QStringLiteral("Lectura adelantada desconocida: %1").arg(ticket));
    if (!it->arrived) {
        try {
            collect(ticket);
        } catch (...) {
            // The failure that ended the connection is this reply's too.
            it = find();
            if (it != m_pending.end())
                m_pending.erase(it);
            throw;
        }
        it = find();
    }
    Pending p = std::move(*it);
    m_pending.erase(it);
    if (!p.failure.isEmpty())
        throw Exception(p.failure);
    if (p.reply.type == MsgType::Error)
        throw Exception(p.reply.text);
    if (p.reply.type != MsgType::Rows)
        protocolFailure("respuesta inesperada a una lectura");
    return std::move(p.reply.rows);
}

void TSocketConnection::DiscardFetch(quint64 ticket)
{
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        if (it->ticket != ticket)
            continue;
        if (it->arrived)
            m_pending.erase(it);
        else
            it->discarded = true;
        return;
    }
}

namespace {
std::atomic<quint64> waitCount{0};
} // namespace

quint64 TSocketConnection::Waits() { return waitCount.load(std::memory_order_relaxed); }

int TSocketConnection::Outstanding() const
{
    return int(std::count_if(m_pending.begin(), m_pending.end(), [](const Pending &p) { return !p.arrived; }));
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
    for (Pending &p : m_pending) {
        if (!p.arrived) {
            p.reply = receive(p.requestId, QDeadlineTimer(m_timeoutMs));
            p.arrived = true;
        }
        if (ticket != 0 && p.ticket == ticket)
            break;
    }
    m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(),
                                   [](const Pending &p) { return p.arrived && p.discarded; }),
                    m_pending.end());
}

void TSocketConnection::checkConnected()
{
    if (!m_socket)
        throw Exception(QStringLiteral("No hay conexión con el servidor de aplicaciones %1").arg(endpoint()));
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        failConnection(QStringLiteral("Se perdió la conexión con el servidor de aplicaciones %1").arg(endpoint()));
}

proto::Message TSocketConnection::roundTrip(proto::Message request)
{
    checkConnected();
    // The replies sent for earlier come first on the stream.
    collect();
    Message reply = exchange(request);
    if (reply.type == MsgType::Error)
        throw Exception(reply.text);
    return reply;
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
                reply = proto::decodePayload(m_payload);
            } catch (const proto::ProtocolError &e) {
                protocolFailure(e.what());
            }
            // A rare large frame (a binary of TBINS) is not held until the
            // next one comes.
            if (m_payload.size() > 16 * 1024 * 1024)
                m_payload = QByteArray();
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
            m_payload = QByteArray(qsizetype(length), Qt::Uninitialized);
            m_payloadGot = 0;
        }
    }
    while (m_payloadGot < m_payload.size()) {
        const qint64 n = m_socket->read(m_payload.data() + m_payloadGot, m_payload.size() - m_payloadGot);
        if (n <= 0)
            return false;
        m_payloadGot += n;
    }
    m_headerGot = 0;
    return true;
}

void TSocketConnection::failConnection(const QString &why)
{
    // Replies still outstanding are lost with the stream, for the same reason.
    for (Pending &p : m_pending) {
        if (!p.arrived) {
            p.arrived = true;
            p.failure = why;
        }
    }
    discardSocket(true);
    throw Exception(why);
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
        }
    }
    m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(), [](const Pending &p) { return p.discarded; }),
                    m_pending.end());
    m_headerGot = 0;
    m_payloadGot = 0;
    m_payload = QByteArray();
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
