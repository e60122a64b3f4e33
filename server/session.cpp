#include "server/session.h"

#include "common/exception.h"
#include "server/database.h"
#include "server/oraerrors.h"
#include "server/server.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QDeadlineTimer>
#include <QTimer>
#include <QtEndian>
#include <atomic>
#include <cstdio>

namespace vorel::server {

using proto::Message;
using proto::MsgType;

namespace {

const char kBadLogin[] = "Usuario o contraseña incorrectos";
const char kNoSession[] = "Sesión no iniciada: llame primero a Login";

const QStringList &providers()
{
    static const QStringList names{QStringLiteral("dspMain"), QStringLiteral("dspBin"), QStringLiteral("dspModulo"),
                                   QStringLiteral("dspq0"),   QStringLiteral("dspq1"),  QStringLiteral("dspCmd")};
    return names;
}

bool is(const QString &name, const char *expected)
{
    return name.compare(QLatin1String(expected), Qt::CaseInsensitive) == 0;
}

bool isRequestType(quint8 type)
{
    switch (MsgType(type)) {
    case MsgType::Hello:
    case MsgType::Call:
    case MsgType::Open:
    case MsgType::Fetch:
    case MsgType::CloseCursor:
        return true;
    default:
        return false;
    }
}

Message replyTo(const Message &request, MsgType type)
{
    Message m;
    m.type = type;
    m.requestId = request.requestId;
    return m;
}

Message errorReply(quint32 requestId, const QString &text)
{
    Message m;
    m.type = MsgType::Error;
    m.requestId = requestId;
    m.text = text;
    return m;
}

void argumentCount(const QString &method, const QStringList &args, int expected)
{
    if (args.size() != expected)
        throw vorel::Exception(QStringLiteral("%1 requiere %2 argumento(s) y recibió %3")
                                   .arg(method)
                                   .arg(expected)
                                   .arg(args.size()));
}

QString seconds(int ms) { return QString::number(ms / 1000.0, 'g', 4); }

std::atomic<int> g_answerDelayMs{0};

void log(const QString &line)
{
    const QByteArray text = line.toLocal8Bit() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

} // namespace

Session::Session(qintptr socketDescriptor, int id, const ServerConfig *config)
    : m_descriptor(socketDescriptor), m_id(id), m_config(config)
{
}

Session::~Session() = default;

void Session::setAnswerDelay(int ms) { g_answerDelayMs.store(qMax(0, ms)); }

int Session::answerDelay() { return g_answerDelayMs.load(); }

void Session::start()
{
    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &Session::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &Session::onDisconnected);
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_sendFull && m_socket && m_socket->bytesToWrite() + m_lateBytes < kMaxUnsent / 2) {
            m_sendFull = false;
            onReadyRead();
        }
    });
    if (!m_socket->setSocketDescriptor(m_descriptor)) {
        log(QStringLiteral("session %1: cannot take over the connection: %2").arg(m_id).arg(m_socket->errorString()));
        finish();
        return;
    }
    // Until Login the socket holds no more than one small frame.
    m_socket->setReadBufferSize(kPreLoginFrame + proto::kHeaderSize);
    if (m_config->loginTimeoutMs > 0) {
        m_loginTimer = new QTimer(this);
        m_loginTimer->setSingleShot(true);
        connect(m_loginTimer, &QTimer::timeout, this, [this] {
            if (!m_db)
                drop(QStringLiteral("no se inició sesión (Login) en %1 s").arg(seconds(m_config->loginTimeoutMs)));
        });
        m_loginTimer->start(m_config->loginTimeoutMs);
    }
    if (m_config->idleTimeoutMs > 0) {
        m_idleTimer = new QTimer(this);
        m_idleTimer->setSingleShot(true);
        connect(m_idleTimer, &QTimer::timeout, this, [this] {
            drop(QStringLiteral("sesión inactiva durante %1 s").arg(seconds(m_config->idleTimeoutMs)));
        });
        m_idleTimer->start(m_config->idleTimeoutMs);
    }
    // Bytes may have arrived before the socket was ours.
    if (m_socket->bytesAvailable() > 0)
        onReadyRead();
}

QString Session::peer() const
{
    if (!m_socket)
        return QString();
    return m_socket->peerAddress().toString() + QLatin1Char(':') + QString::number(m_socket->peerPort());
}

void Session::onReadyRead()
{
    try {
        while (!m_closing && !m_loginDelayed && !m_sendFull) {
            if (m_db) {
                const qint64 available = m_socket->bytesAvailable();
                if (available > 0)
                    m_frames.feed(m_socket->read(qMin<qint64>(available, 1 << 20)));
            } else if (!takePreLoginFrame()) {
                break;
            }
            const std::optional<QByteArray> payload = m_frames.next();
            if (!payload) {
                if (m_db && m_socket->bytesAvailable() > 0)
                    continue;
                break;
            }
            // Only requests are read: a reply's rows would be built in
            // memory, many times the frame's size, just to be refused.
            if (!isRequestType(payload->isEmpty() ? 0 : quint8(payload->at(0))))
                throw proto::ProtocolError("not a request");
            handle(proto::decodePayload(*payload));
            // A peer that sends requests but never reads the answers gets
            // no more answers until it does.
            if (!m_closing && m_socket && m_socket->bytesToWrite() + m_lateBytes > kMaxUnsent)
                m_sendFull = true;
        }
    } catch (const proto::ProtocolError &e) {
        drop(QString::fromUtf8(e.what()));
    }
}

bool Session::takePreLoginFrame()
{
    if (m_preLogin.size() < proto::kHeaderSize)
        m_preLogin += m_socket->read(proto::kHeaderSize - m_preLogin.size());
    if (m_preLogin.size() < proto::kHeaderSize)
        return false;
    const quint32 length = qFromBigEndian<quint32>(m_preLogin.constData());
    if (length > kPreLoginFrame)
        throw proto::ProtocolError("frame exceeds the size limit before Login");
    const qsizetype whole = proto::kHeaderSize + qsizetype(length);
    if (m_preLogin.size() < whole)
        m_preLogin += m_socket->read(whole - m_preLogin.size());
    if (m_preLogin.size() < whole)
        return false;
    m_frames.feed(m_preLogin);
    m_preLogin.clear();
    return true;
}

void Session::handle(const Message &request)
{
    if (m_idleTimer)
        m_idleTimer->start();
    if (!m_greeted) {
        if (request.type != MsgType::Hello)
            throw proto::ProtocolError("the connection must start with Hello");
        if (request.version != proto::kVersion) {
            send(errorReply(request.requestId,
                            QStringLiteral("Versión de protocolo no admitida: %1 (el servidor usa la %2)")
                                .arg(request.version)
                                .arg(proto::kVersion)));
            drop(QStringLiteral("protocol version %1 not supported").arg(request.version));
            return;
        }
        Message ok = replyTo(request, MsgType::HelloOk);
        ok.version = proto::kVersion;
        m_greeted = true;
        send(ok);
        return;
    }

    Trace *trace = m_config->trace;
    switch (request.type) {
    case MsgType::Call:
        if (trace)
            trace->call(m_id, request.text, request.args);
        break;
    case MsgType::Open:
        if (trace)
            trace->open(m_id, request.text, request.sql, request.count);
        break;
    case MsgType::Fetch:
        if (trace)
            trace->fetch(m_id, request.cursor, request.count);
        break;
    case MsgType::CloseCursor:
        break;
    default:
        throw proto::ProtocolError("message type not accepted from a client");
    }

    if (request.type == MsgType::Call && is(request.text, "Login") && !m_db && m_config->throttle
        && request.args.size() == 4) {
        const QString address = m_socket->peerAddress().toString();
        const qint64 wait = m_config->throttle->waitMs(request.args[0].trimmed(), address);
        if (wait > 0) {
            log(QStringLiteral("session %1 (%2): Login for user %3 waits %4 ms after failed attempts")
                    .arg(m_id)
                    .arg(peer(), request.args[0].trimmed())
                    .arg(wait));
            // The session reads nothing more until the attempt is answered;
            // other sessions go on meanwhile.
            m_loginDelayed = true;
            QTimer::singleShot(int(wait), this, [this, request] {
                m_loginDelayed = false;
                if (m_closing)
                    return;
                process(request);
                onReadyRead();
            });
            return;
        }
    }
    process(request);
}

void Session::process(const Message &request)
{
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
    send(reply);
    // Idle time counts from the answer: a long request is not idleness.
    if (m_idleTimer && !m_closing)
        m_idleTimer->start();
}

Message Session::dispatch(const Message &request)
{
    if (request.type == MsgType::Call && is(request.text, "dServer"))
        return call(request);
    if (request.type == MsgType::Call && is(request.text, "Login"))
        return call(request);
    if (!m_db)
        throw vorel::Exception(QString::fromUtf8(kNoSession));

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
        m.rows = m_db->fetch(request.cursor, request.count, &m.width);
        return m;
    }
    case MsgType::CloseCursor:
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
    if (is(method, "dServer")) {
        QString host = m_config->advertise;
        if (host.isEmpty()) {
            const QHostAddress local = m_socket->localAddress();
            bool v4 = false;
            const quint32 ip = local.toIPv4Address(&v4);
            host = v4 ? QHostAddress(ip).toString() : local.toString();
        }
        result.value = host;
    } else if (is(method, "Login")) {
        login(args);
    } else if (is(method, "MenIni")) {
        result.value = m_db->greeting();
    } else if (is(method, "StartTran")) {
        m_db->begin();
    } else if (is(method, "CommitTran")) {
        m_db->commit();
    } else if (is(method, "RollBackTran")) {
        m_db->rollback();
    } else if (is(method, "EjeDir")) {
        argumentCount(method, args, 1);
        m_db->executeDirect(args.first());
    } else {
        throw vorel::Exception(QStringLiteral("Método desconocido: ") + method);
    }
    return result;
}

void Session::login(const QStringList &args)
{
    argumentCount(QStringLiteral("Login"), args, 4);
    if (m_db)
        throw vorel::Exception(QStringLiteral("La sesión ya está iniciada para el usuario ") + m_user);
    const QString &user = args[0];
    const QString &password = args[1];
    const QString &database = args[2];
    const QString file = m_config->fileFor(database);
    if (file.isEmpty())
        throw vorel::Exception(QStringLiteral("Base de datos desconocida: ") + database);
    std::unique_ptr<Database> db = Database::open(file);
    const QString address = m_socket->peerAddress().toString();
    bool rehashed = false;
    if (!db->checkUser(user, password, &rehashed)) {
        if (m_config->throttle) {
            const auto [forUser, forAddress] = m_config->throttle->failed(user.trimmed(), address);
            log(QStringLiteral("session %1 (%2): failed Login for user %3 (%4 in a row for the user, %5 from the "
                               "address); the next attempt waits %6 ms")
                    .arg(m_id)
                    .arg(peer(), user.trimmed())
                    .arg(forUser)
                    .arg(forAddress)
                    .arg(LoginThrottle::delayAfter(qMax(forUser, forAddress))));
        }
        throw vorel::Exception(QString::fromUtf8(kBadLogin));
    }
    if (m_config->throttle)
        m_config->throttle->succeeded(user.trimmed(), address);
    if (rehashed)
        log(QStringLiteral("session %1: the password of user %2 was stored as typed; it is kept as a salted hash now")
                .arg(m_id)
                .arg(user.trimmed()));
    db->setQueryTimeout(m_config->queryTimeoutMs);
    db->startSession(user);
    m_db = std::move(db);
    m_user = user.trimmed();
    if (m_loginTimer)
        m_loginTimer->stop();
    // A logged-in session's frames may be large (binaries); the socket still
    // holds only so much, the rest waits in the kernel.
    m_socket->setReadBufferSize(1 << 20);
}

void Session::send(const Message &reply, bool withoutDelay)
{
    if (!m_socket || m_closing)
        return;
    QByteArray frame;
    try {
        frame = proto::encode(reply);
    } catch (const proto::ProtocolError &e) {
        // Too large for one frame, or a value the wire cannot carry: a cursor
        // whose first packet never arrives is of no use to the client.
        if (reply.type == MsgType::OpenResult && m_db)
            m_db->closeCursor(reply.cursor);
        frame = proto::encode(errorReply(reply.requestId, QStringLiteral("No se puede enviar la respuesta: ")
                                                              + QString::fromUtf8(e.what())));
    }
    const int delay = withoutDelay ? 0 : g_answerDelayMs.load();
    if (delay <= 0) {
        m_socket->write(frame);
        return;
    }
    // A distant server: each answer leaves `delay` ms after its request was
    // answered, while the session goes on with the requests behind it, as
    // answers in flight on a long line do.
    m_lateBytes += frame.size();
    m_late.push_back({QDeadlineTimer(delay), std::move(frame)});
    if (!m_lateTimer) {
        m_lateTimer = new QTimer(this);
        m_lateTimer->setSingleShot(true);
        m_lateTimer->setTimerType(Qt::PreciseTimer);
        connect(m_lateTimer, &QTimer::timeout, this, [this] { sendLate(); });
    }
    if (!m_lateTimer->isActive())
        m_lateTimer->start(int(m_late.front().due.remainingTime()));
}

void Session::sendLate(bool all)
{
    while (!m_late.empty() && (all || m_late.front().due.hasExpired())) {
        m_lateBytes -= m_late.front().frame.size();
        if (m_socket)
            m_socket->write(m_late.front().frame);
        m_late.pop_front();
    }
    if (!m_late.empty() && !all)
        m_lateTimer->start(int(m_late.front().due.remainingTime()));
}

void Session::drop(const QString &reason)
{
    if (m_closing)
        return;
    log(QStringLiteral("session %1 (%2): %3; closing the connection").arg(m_id).arg(peer(), reason));
    // The reason is the last thing the peer hears, without waiting.
    sendLate(true);
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
    if (m_db && m_db->inTransaction())
        log(QStringLiteral("session %1 (user %2): connection lost; its open transaction is rolled back")
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
    m_db.reset();
    if (m_socket)
        m_socket->deleteLater();
    m_socket = nullptr;
    Q_EMIT finished();
}

} // namespace vorel::server
