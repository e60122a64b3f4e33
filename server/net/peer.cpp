#include "server/net/peer.h"

#include "server/core/metrics.h"
#include "server/net/outbox.h"
#include "server/net/replies.h"
#include "server/net/server.h"

#include <QSslSocket>
#include <QScopedValueRollback>
#include <QTimer>
#include <QtEndian>

namespace vorel::server {

using proto::Message;
using proto::MsgType;

namespace {
const char kNoSession[] = "Sesión no iniciada: llame primero a Login";
// The first byte of every TLS handshake record.
constexpr char kTlsHandshake = 0x16;
} // namespace

Peer::Peer(QSslSocket *socket, int id, Server *server, const QString &source, qint64 holdMs)
    : m_socket(socket)
    , m_outbox(new Outbox(socket))
    , m_id(id)
    , m_server(server)
    , m_source(source)
    , m_holdMs(holdMs)
{
    m_socket->setParent(this);
    m_label = QStringLiteral("connection %1 (%2:%3)").arg(m_id).arg(m_source).arg(m_socket->peerPort());
}

Peer::~Peer() = default;

QString Peer::label() const { return m_label; }

void Peer::start()
{
    // Until Login the socket holds no more than one small frame.
    m_socket->setReadBufferSize(kMaxFrame + proto::kHeaderSize);
    // Answers are whole frames, written at once: none is held back waiting
    // for the acknowledgement of the one before (Nagle).
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QSslSocket::readyRead, this, &Peer::onReadyRead);
    connect(m_socket, &QSslSocket::encrypted, this, &Peer::onReadyRead);
    // Reading stopped while the answers piled up; it goes on as they leave.
    connect(m_socket, &QSslSocket::bytesWritten, this, &Peer::onReadyRead);
    connect(m_socket, &QSslSocket::encryptedBytesWritten, this, &Peer::onReadyRead);
    connect(m_socket, &QSslSocket::disconnected, this, &Peer::end);
    connect(m_socket, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (m_handshaking && !m_socket->isEncrypted())
            m_server->noteSource(m_source, QStringLiteral("TLS handshake failed: ") + m_socket->errorString());
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            end();
    });
    if (m_holdMs > 0) {
        m_held = true;
        m_server->wake(this, HoldOver, qMin<qint64>(m_holdMs, 60000));
        return;
    }
    startDeadline();
    onReadyRead();
}

void Peer::startDeadline()
{
    const int ms = m_server->config().loginTimeoutMs;
    if (ms > 0 && !m_deadlineSet) {
        m_deadlineSet = true;
        m_server->wake(this, LoginDeadline, ms);
    }
}

void Peer::due(int what)
{
    if (m_ended)
        return;
    switch (what) {
    case LoginDeadline: {
        if (m_checking || m_queuedLogin || m_failure) {
            m_lateForLogin = true; // the Login's answer ends the wait
            return;
        }
        const QString why =
            QStringLiteral("no se inició sesión (Login) en %1 s").arg(seconds(m_server->config().loginTimeoutMs));
        m_server->noteSource(m_source, QStringLiteral("connections closed: ") + why);
        m_timedOut = true;
        drop(why);
        return;
    }
    case HoldOver:
        m_held = false;
        startDeadline();
        onReadyRead();
        return;
    case Abort:
        if (m_socket)
            m_socket->abort();
        return;
    case FailureAnswer: answerFailure(); return;
    }
}

void Peer::onReadyRead()
{
    if (m_held || m_checking || m_queuedLogin || m_failure || m_closing || m_ended)
        return;
    if (!m_server->config().plaintext && !m_socket->isEncrypted()) {
        if (m_handshaking)
            return;
        char first = 0;
        if (m_socket->peek(&first, 1) < 1)
            return;
        if (first != kTlsHandshake) {
            refusePlaintext();
            return;
        }
        m_handshaking = true;
        m_socket->setSslConfiguration(m_server->config().tls);
        m_server->tlsContext().start(m_socket, TlsSharedContext::Side::Server);
        return;
    }
    // Writing an answer may read what came meanwhile and signal it here:
    // the loop below takes it in turn, after the request in hand.
    if (m_reading)
        return;
    const QScopedValueRollback<bool> reading(m_reading, true);
    try {
        QByteArray payload;
        while (!m_checking && !m_queuedLogin && !m_failure && !m_closing
               && m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite() <= kMaxUnsent && readFrame(&payload)) {
            if (!isRequestType(payload.isEmpty() ? 0 : quint8(payload.at(0))))
                throw proto::ProtocolError("not a request");
            m_spoke = true;
            handle(proto::decodePayload(payload));
        }
    } catch (const proto::ProtocolError &e) {
        m_server->noteSource(m_source, QStringLiteral("protocol error: ") + QString::fromUtf8(e.what()));
        drop(QString::fromUtf8(e.what()));
    }
}

bool Peer::readFrame(QByteArray *payload)
{
    // One frame at a time: what follows a Login stays in the socket for the
    // session that may take it over.
    if (m_frame.size() < proto::kHeaderSize)
        m_frame += m_socket->read(proto::kHeaderSize - m_frame.size());
    if (m_frame.size() < proto::kHeaderSize)
        return false;
    const quint32 length = qFromBigEndian<quint32>(m_frame.constData());
    if (length > kMaxFrame)
        throw proto::ProtocolError("frame exceeds the size limit before Login");
    const qsizetype whole = proto::kHeaderSize + qsizetype(length);
    if (m_frame.size() < whole)
        m_frame += m_socket->read(whole - m_frame.size());
    if (m_frame.size() < whole)
        return false;
    *payload = m_frame.mid(proto::kHeaderSize);
    m_frame.clear();
    return true;
}

void Peer::handle(const Message &request)
{
    if (!m_greeted) {
        if (request.type != MsgType::Hello)
            throw proto::ProtocolError("the connection must start with Hello");
        if (request.version != proto::kVersion) {
            send(errorReply(request.requestId, QStringLiteral("El cliente habla la versión %1 del protocolo y este servidor de aplicaciones solo la %2: actualice el cliente o el servidor")
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
    // What a client sent behind a failed Login, without waiting for it, a
    // client that waited would never have sent.
    if (!(request.flags & proto::Detached)) {
        if (!(request.flags & proto::Chained))
            m_pipelineFailed = false;
        else if (m_pipelineFailed) {
            send(replyTo(request, MsgType::Skipped));
            return;
        }
    }
    if (request.type == MsgType::Call && isMethod(request.text, "dServer")) {
        Message result = replyTo(request, MsgType::CallResult);
        result.value = m_server->config().serverFor(m_socket->localAddress());
        send(result);
    } else if (request.type == MsgType::Call && isMethod(request.text, "Login")) {
        submitLogin(request);
    } else {
        send(errorReply(request.requestId, QString::fromUtf8(kNoSession)));
    }
}

void Peer::submitLogin(const Message &request)
{
    if (request.args.size() != 4) {
        send(errorReply(request.requestId,
                        QStringLiteral("Login requiere 4 argumento(s) y recibió %1").arg(request.args.size())));
        return;
    }
    m_loginRequest = request.requestId;
    const QString canonical = canonicalUser(request.args[0]);
    m_loginUser = canonical.isEmpty() ? request.args[0].trimmed() : canonical;
    m_queuedLogin = request;
    turnOfLogin();
}

void Peer::turnOfLogin()
{
    LoginThrottle *throttle = m_server->config().throttle;
    // A stopping server answers at once.
    const bool inFlight =
        !m_server->draining() && (m_server->checkingUser(m_loginUser) || m_server->checkingSource(m_source));
    const LoginThrottle::Verdict verdict =
        throttle ? throttle->turnOf(m_loginUser, m_source, inFlight)
                 : LoginThrottle::Verdict{inFlight ? LoginThrottle::Turn::Queue : LoginThrottle::Turn::Check, 0};
    if (verdict.turn == LoginThrottle::Turn::Queue) {
        // Waits for its turn, as one that sent its Login: never shed.
        m_server->loginQueued(this);
        return;
    }
    const Message request = std::move(*m_queuedLogin);
    m_queuedLogin.reset();
    m_server->loginUnqueued(this);
    if (verdict.turn == LoginThrottle::Turn::Refuse) {
        logFrom(m_source, QStringLiteral("Login refused"),
                QStringLiteral("%1: Login for user %2 refused for %3 ms after failed attempts")
                    .arg(label(), m_loginUser)
                    .arg(verdict.retryMs));
        m_failure = LoginThrottle::retryMessage(verdict.retryMs);
        Metrics::instance().failedLogin();
        answerFailure();
        return;
    }
    const QString refusal = m_server->reserveLogin(m_loginUser, m_source);
    if (!refusal.isEmpty()) {
        m_failure = refusal;
        Metrics::instance().failedLogin();
        answerFailure();
        return;
    }
    // Traced as the attempt it is, its password masked; nothing a peer sends
    // before is traced, nor a Login the throttle answered: what connections
    // that never log in send costs the trace nothing.
    traceRequest(m_server->config().trace, m_id, request);
    m_checking = true; // nothing more is read until the attempt is answered
    m_server->loginSent(this);
    m_server->checkLogin(this, request.args);
}

void Peer::takeQueuedLogin()
{
    if (!m_queuedLogin || m_ended)
        return;
    turnOfLogin();
    if (!m_checking && !m_queuedLogin)
        onReadyRead();
}

void Peer::loginFailed(const QString &message, qint64 delayMs)
{
    Metrics::instance().failedLogin();
    m_checking = false;
    m_server->loginAnswered(this);
    m_failure = message;
    if (delayMs > 0) {
        // A client that waits for its answer never meets the wait its
        // failure set; one that guesses on other connections meanwhile is
        // answered at once. Meanwhile the peer holds no place that matters.
        m_server->wake(this, FailureAnswer, delayMs);
        return;
    }
    answerFailure();
}

void Peer::answerFailure()
{
    if (!m_failure)
        return;
    const QString message = std::move(*m_failure);
    m_failure.reset();
    send(errorReply(m_loginRequest, message));
    // The time to log in may have run out while the check ran.
    if (m_lateForLogin) {
        m_timedOut = true;
        drop(QStringLiteral("no se inició sesión (Login) en %1 s").arg(seconds(m_server->config().loginTimeoutMs)));
        return;
    }
    onReadyRead();
}

QSslSocket *Peer::release()
{
    QSslSocket *socket = m_socket;
    m_outbox->pause();
    socket->disconnect(this);
    socket->setParent(nullptr);
    m_socket = nullptr;
    m_ended = true;
    return socket;
}

void Peer::refusePlaintext()
{
    Metrics::instance().refusedPeer();
    m_server->noteSource(m_source, QStringLiteral("refused a connection in the clear (no TLS)"));
    m_closing = true;
    // Read what the peer sent first: closing with unread bytes would reset
    // the connection and lose the answer.
    m_socket->readAll();
    Message refusal = errorReply(0, QStringLiteral("El servidor de aplicaciones solo admite conexiones cifradas (TLS): "
                                                   "el cliente debe ser de una versión que las use."));
    m_socket->write(proto::encode(refusal));
    m_socket->disconnectFromHost();
    m_server->wake(this, Abort, 2000);
}

void Peer::send(const Message &reply, bool now)
{
    if (reply.type == MsgType::Error)
        m_pipelineFailed = true;
    if (!m_socket || m_closing)
        return;
    m_outbox->send(proto::encode(reply), now);
}

void Peer::drop(const QString &reason)
{
    if (m_closing || m_ended)
        return;
    Metrics::instance().refusedPeer();
    if (!m_socket->isEncrypted() && !m_server->config().plaintext) {
        shed();
        return;
    }
    send(errorReply(0, QStringLiteral("Conexión cerrada por el servidor: ") + reason), true);
    m_closing = true;
    m_socket->flush();
    m_socket->disconnectFromHost();
    if (m_socket && m_socket->state() == QAbstractSocket::UnconnectedState)
        end();
    else
        m_server->wake(this, Abort, 2000);
}

void Peer::shed()
{
    if (m_ended)
        return;
    Metrics::instance().refusedPeer();
    m_closing = true;
    // Nothing of the socket may call back: the server may delete the peer
    // as it ends.
    m_socket->disconnect(this);
    m_socket->abort();
    end();
}

void Peer::end()
{
    if (m_ended)
        return;
    m_ended = true;
    m_closing = true;
    m_server->peerEnded(this);
}

} // namespace vorel::server
