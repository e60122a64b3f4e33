#include "server/net/session.h"

#include "common/exception.h"
#include "server/core/database.h"
#include "server/core/metrics.h"
#include "server/core/oraerror.h"
#include "server/net/outbox.h"
#include "server/net/readahead.h"
#include "server/net/replies.h"
#include "server/net/server.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QScopedValueRollback>
#include <QSslSocket>
#include <QTimer>
#include <QtEndian>
#include <utility>

namespace vorel::server {

using proto::Message;
using proto::MsgType;

namespace {

const QStringList &providers()
{
    static const QStringList names{QStringLiteral("dspMain"), QStringLiteral("dspBin"), QStringLiteral("dspModulo"),
                                   QStringLiteral("dspq0"),   QStringLiteral("dspq1"),  QStringLiteral("dspCmd")};
    return names;
}

void argumentCount(const QString &method, const QStringList &args, int expected)
{
    if (args.size() != expected)
        throw vorel::Exception(QStringLiteral("%1 requiere %2 argumento(s) y recibió %3")
                                   .arg(method)
                                   .arg(expected)
                                   .arg(args.size()));
}

} // namespace

Session::Session(QSslSocket *socket, int id, const ServerConfig *config, std::unique_ptr<Database> db, QString user,
                 quint32 loginRequest)
    : m_socket(socket), m_id(id), m_config(config), m_db(std::move(db)),
      m_ahead(std::make_unique<ReadAhead>(m_db.get())), m_user(std::move(user)), m_loginRequest(loginRequest)
{
    m_clock.start();
    m_ahead->setOnRead([this] { QMetaObject::invokeMethod(this, &Session::resumeFetch, Qt::QueuedConnection); });
}

// m_ahead, declared after m_db, stops its reader before m_db closes.
Session::~Session() = default;

void Session::start()
{
    m_socket->setParent(this);
    m_outbox = m_socket->findChild<Outbox *>();
    if (!m_outbox)
        m_outbox = new Outbox(m_socket);
    // Requests are read from the event loop, not from inside the socket's
    // own reading: a flush there does not reach the line, and the answers
    // to a run of requests would wait for the whole run.
    connect(m_socket, &QSslSocket::readyRead, this, &Session::onReadyRead, Qt::QueuedConnection);
    connect(m_socket, &QSslSocket::disconnected, this, &Session::onDisconnected);
    connect(m_socket, &QSslSocket::encryptedBytesWritten, this, [this] { resumeIfDrained(); });
    connect(m_socket, &QSslSocket::bytesWritten, this, [this] { resumeIfDrained(); });
    // A logged-in session's frames may be large (binaries); the socket still
    // holds only so much, the rest waits in the kernel.
    m_socket->setReadBufferSize(1 << 20);
    if (m_config->idleTimeoutMs > 0) {
        m_idleTimer = new QTimer(this);
        m_idleTimer->setSingleShot(true);
        connect(m_idleTimer, &QTimer::timeout, this, [this] {
            drop(QStringLiteral("sesión inactiva durante %1 s").arg(seconds(m_config->idleTimeoutMs)));
        });
        m_idleTimer->start(m_config->idleTimeoutMs);
    }
    if (m_config->idleInTransactionMs > 0) {
        m_idleInTransaction = new QTimer(this);
        m_idleInTransaction->setSingleShot(true);
        m_idleInTransaction->setInterval(m_config->idleInTransactionMs);
        connect(m_idleInTransaction, &QTimer::timeout, this, [this] {
            // Its locks would hold up every other writer for as long as
            // the client stays silent.
            drop(ora::text(ora::kIdleTimeExceeded,
                           QStringLiteral("transacción abierta sin peticiones durante %1 s: se deshizo")
                               .arg(seconds(m_config->idleInTransactionMs))));
        });
    }
    Message ok;
    ok.type = MsgType::CallResult;
    ok.requestId = m_loginRequest;
    send(ok);
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        onDisconnected();
        return;
    }
    // Requests may have come behind the Login.
    if (m_socket->bytesAvailable() > 0)
        onReadyRead();
}

void Session::stop()
{
    if (m_ahead)
        m_ahead->settle();
    drop(QStringLiteral("el servidor de aplicaciones se detiene"));
}

void Session::drain()
{
    m_draining = true;
    endIfDrained();
}

void Session::endIfDrained()
{
    // A walk's fetch waiting for its rows is a request still running.
    if (m_draining && !m_closing && !m_inTransaction && !m_pendingFetch)
        stop();
}

void Session::resumeIfDrained()
{
    if (m_sendFull && m_socket && m_socket->bytesToWrite() < kMaxUnsent / 2) {
        m_sendFull = false;
        onReadyRead();
    }
}

QString Session::peer() const
{
    if (!m_socket)
        return QString();
    return m_socket->peerAddress().toString() + QLatin1Char(':') + QString::number(m_socket->peerPort());
}

void Session::onReadyRead()
{
    // Writing an answer may read what came meanwhile and signal it here:
    // the loop below takes it in turn, after the request in hand. Nothing
    // is taken past a fetch waiting for its rows: resumeFetch goes on.
    if (m_reading || m_pendingFetch)
        return;
    const QScopedValueRollback<bool> reading(m_reading, true);
    try {
        while (!m_closing && !m_sendFull && !m_pendingFetch) {
            const qint64 available = m_socket->bytesAvailable();
            if (available > 0)
                m_frames.feed(m_socket->read(qMin<qint64>(available, 1 << 20)));
            admitFrame();
            if (m_closing)
                break;
            std::optional<QByteArray> payload = m_frames.next();
            if (!payload) {
                if (m_socket->bytesAvailable() > 0)
                    continue;
                break;
            }
            if (!isRequestType(payload->isEmpty() ? 0 : quint8(payload->at(0))))
                throw proto::ProtocolError("not a request");
            handle(proto::decodePayload(*payload));
            if (std::exchange(m_frameAdmitted, false)) {
                payload.reset();
                if (m_db)
                    m_db->memory().settle(MemoryAccount::Frame, 0);
            }
            // A peer that sends requests but never reads the answers gets
            // no more answers until it does.
            if (!m_closing && m_socket && m_socket->bytesToWrite() > kMaxUnsent)
                m_sendFull = true;
        }
    } catch (const proto::ProtocolError &e) {
        drop(QString::fromUtf8(e.what()));
    }
}

void Session::admitFrame()
{
    const qint64 length = m_frames.announced();
    if (length <= kMaxRequestFrame || m_frameAdmitted)
        return;
    // Type, request id, flags, and the method's name with its length.
    const QByteArray head = m_frames.head(16);
    if (head.size() < 16)
        return;
    const quint8 type = quint8(head.at(0));
    if (!isRequestType(type))
        throw proto::ProtocolError("not a request");
    const bool ejeDir = type == quint8(MsgType::Call) && qFromBigEndian<quint32>(head.constData() + 6) == 6
                        && isMethod(QString::fromLatin1(head.mid(10, 6)), "EjeDir");
    QString refusal;
    if (!ejeDir) {
        refusal = QStringLiteral("La petición supera el tamaño máximo de %1 KB; solo EjeDir admite más")
                      .arg(kMaxRequestFrame >> 10);
    } else {
        try {
            m_db->memory().hold(MemoryAccount::Frame, length * kFrameCostFactor);
            m_frameAdmitted = true;
            return;
        } catch (const OraError &e) {
            refusal = e.message();
        }
    }
    // Answered as a request that failed, without reading it into memory.
    const quint32 requestId = qFromBigEndian<quint32>(head.constData() + 1);
    const bool detached = type != quint8(MsgType::Hello) && (quint8(head.at(5)) & proto::Detached);
    m_frames.skipNext();
    logFrom(m_socket->peerAddress().toString(), QStringLiteral("request refused"),
            QStringLiteral("session %1 (%2): a request of %3 bytes refused: %4")
                .arg(m_id)
                .arg(peer())
                .arg(length)
                .arg(refusal));
    send(errorReply(requestId, refusal));
    if (!detached)
        m_pipelineFailed = true;
}

void Session::handle(const Message &request)
{
    if (m_idleTimer)
        m_idleTimer->start();
    // A client that waited for each answer would not have sent what follows
    // a failure: it is neither run nor traced.
    const bool detached = request.flags & proto::Detached;
    if (!detached) {
        if (!(request.flags & proto::Chained))
            m_pipelineFailed = false;
        else if (m_pipelineFailed) {
            send(replyTo(request, MsgType::Skipped));
            return;
        }
    }
    // A request skipped does no work in the transaction: the time it may
    // stay open runs on.
    if (m_idleInTransaction)
        m_idleInTransaction->stop();
    traceRequest(m_config->trace, m_id, request);
    if (request.type == MsgType::Fetch && !m_ahead->readyFor(request.cursor)) {
        m_pendingFetch = request;
        m_pendingSinceNs = m_clock.nsecsElapsed();
        return;
    }
    process(request);
}

void Session::resumeFetch()
{
    if (!m_pendingFetch || m_closing)
        return;
    const Message request = std::move(*m_pendingFetch);
    m_pendingFetch.reset();
    process(request, m_pendingSinceNs);
    onReadyRead();
}

void Session::process(const Message &request, qint64 arrivedNs)
{
    const qint64 startNs = arrivedNs >= 0 ? arrivedNs : m_clock.nsecsElapsed();
    Message reply;
    try {
        reply = dispatch(request);
    } catch (const OraError &e) {
        reply = errorReply(request.requestId, e.message());
    } catch (const vorel::Exception &e) {
        reply = errorReply(request.requestId, e.message());
    } catch (const std::exception &e) {
        reply = errorReply(request.requestId, QString::fromUtf8(e.what()));
    } catch (...) {
        reply = errorReply(request.requestId, QStringLiteral("Error interno del servidor"));
    }
    count(request, reply, m_clock.nsecsElapsed() - startNs);
    // Known before the answer goes: sending may read the next request.
    const bool detached = request.flags & proto::Detached;
    if (reply.type == MsgType::Error && !detached)
        m_pipelineFailed = true;
    if (!send(std::move(reply)) && !detached)
        m_pipelineFailed = true;
    // Idle time counts from the answer: a long request is not idleness.
    if (m_idleTimer && !m_closing)
        m_idleTimer->start();
    // Only a fetch may find the database shared with the read ahead.
    if (request.type != MsgType::Fetch && m_db) {
        m_inTransaction = m_db->inTransaction();
        if (!m_inTransaction && m_db->openCursors() == 0)
            m_db->idle();
    }
    if (m_idleInTransaction && !m_closing) {
        if (m_inTransaction)
            m_idleInTransaction->start();
        else
            m_idleInTransaction->stop();
    }
    endIfDrained();
}

void Session::count(const Message &request, const Message &reply, qint64 nanoseconds)
{
    Metrics &metrics = Metrics::instance();
    switch (request.type) {
    case MsgType::Call: metrics.request(Metrics::Request::Call, nanoseconds); break;
    case MsgType::Open: metrics.request(Metrics::Request::Open, nanoseconds); break;
    case MsgType::Fetch: metrics.request(Metrics::Request::Fetch, nanoseconds); break;
    case MsgType::CloseCursor: metrics.request(Metrics::Request::CloseCursor, nanoseconds); break;
    default: break;
    }
    if (reply.type == MsgType::Error)
        metrics.error(reply.text);
    // A fetch may share the database with the read ahead; the cursors are
    // counted where nothing else reads it.
    if (request.type != MsgType::Fetch && m_db) {
        const int open = m_db->openCursors();
        metrics.cursorsOpen(open - m_cursorsCounted);
        m_cursorsCounted = open;
    }
}

Message Session::dispatch(const Message &request)
{
    // Only a fetch of the cursor being read ahead shares the database with
    // the read; anything else has it to itself.
    if (request.type != MsgType::Fetch)
        m_ahead->settle();
    switch (request.type) {
    case MsgType::Call:
        return call(request);
    case MsgType::Open: {
        if (!providers().contains(request.text, Qt::CaseInsensitive))
            throw vorel::Exception(QStringLiteral("Proveedor desconocido: ") + request.text);
        Database::OpenResult result = m_db->openCursor(request.sql, request.count);
        Message m = replyTo(request, MsgType::OpenResult);
        m.cursor = result.cursor;
        m.columns = std::move(result.columns);
        m.rows = std::move(result.rows);
        return m;
    }
    case MsgType::Fetch: {
        Message m = replyTo(request, MsgType::Rows);
        m.rows = m_ahead->fetch(request.cursor, request.count, &m.width);
        // Walks ask for the next packet before reading this one.
        if (!m.rows.eof)
            m_ahead->start(request.cursor, request.count);
        return m;
    }
    case MsgType::CloseCursor:
        m_ahead->forget(request.cursor);
        m_db->closeCursor(request.cursor);
        return replyTo(request, MsgType::Closed);
    default:
        throw proto::ProtocolError("message type not accepted from a client");
    }
}

Message Session::call(const Message &request)
{
    const QString &method = request.text;
    const QStringList &args = request.args;
    Message result = replyTo(request, MsgType::CallResult);
    if (isMethod(method, "dServer")) {
        result.value = m_config->serverFor(m_socket->localAddress());
    } else if (isMethod(method, "Login")) {
        argumentCount(method, args, 4);
        throw vorel::Exception(QStringLiteral("La sesión ya está iniciada para el usuario ") + m_user);
    } else if (isMethod(method, "MenIni")) {
        result.value = m_db->greeting();
    } else if (isMethod(method, "StartTran")) {
        m_db->begin();
    } else if (isMethod(method, "CommitTran")) {
        m_db->commit();
    } else if (isMethod(method, "RollBackTran")) {
        m_db->rollback();
    } else if (isMethod(method, "EjeDir")) {
        argumentCount(method, args, 1);
        m_db->executeDirect(args.first());
    } else {
        throw vorel::Exception(QStringLiteral("Método desconocido: ") + method);
    }
    return result;
}

bool Session::send(Message reply, bool withoutDelay)
{
    if (!m_socket || m_closing)
        return true;
    const bool rows = reply.type == MsgType::Rows || reply.type == MsgType::OpenResult;
    const qsizetype rowCount = rows ? reply.rows.size() : 0;
    const MsgType type = reply.type;
    const quint32 requestId = reply.requestId, cursor = reply.cursor;
    QByteArray frame;
    try {
        frame = proto::encode(std::move(reply));
    } catch (const proto::ProtocolError &e) {
        // Too large for one frame, or a value the wire cannot carry: a cursor
        // whose first packet never arrives is of no use to the client.
        if (type == MsgType::OpenResult && m_db)
            m_db->closeCursor(cursor);
        frame = proto::encode(errorReply(requestId, QStringLiteral("No se puede enviar la respuesta: ")
                                                        + QString::fromUtf8(e.what())));
        Metrics::instance().sent(0, frame.size());
        m_outbox->send(std::move(frame), withoutDelay);
        return false;
    }
    Metrics::instance().sent(rowCount, frame.size());
    m_outbox->send(std::move(frame), withoutDelay);
    return true;
}

void Session::drop(const QString &reason)
{
    if (m_closing)
        return;
    logLine(QStringLiteral("session %1 (%2): %3; closing the connection").arg(m_id).arg(peer(), reason));
    // The reason is the last thing the peer hears, without waiting.
    send(errorReply(0, QStringLiteral("Conexión cerrada por el servidor: ") + reason), true);
    m_closing = true;
    m_socket->flush();
    // May emit disconnected() at once, which ends the session.
    m_socket->disconnectFromHost();
    if (m_socket && m_socket->state() == QAbstractSocket::UnconnectedState)
        onDisconnected();
}

void Session::onDisconnected()
{
    if (m_ahead)
        m_ahead->settle();
    if (m_db && m_db->inTransaction())
        logLine(QStringLiteral("session %1 (user %2): connection lost; its open transaction is rolled back")
                .arg(m_id)
                .arg(m_user));
    finish();
}

void Session::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_closing = true;
    m_ahead.reset();
    Metrics::instance().cursorsOpen(-m_cursorsCounted);
    m_cursorsCounted = 0;
    m_db.reset();
    if (m_socket) {
        m_outbox->abandon();
        m_socket->disconnect(this);
        m_socket->deleteLater();
    }
    m_socket = nullptr;
    Q_EMIT finished();
}

} // namespace vorel::server
