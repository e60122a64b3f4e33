#pragma once
// A connection that has not logged in yet. Peers live on the listener's
// thread, all of them, and cost no thread and no database connection: they
// do the TLS handshake, the greeting and dServer, and when Login comes the
// listener checks it on a small pool of threads. Only a successful Login
// moves the connection to a Session of its own (see server.h).
#include "data/protocol.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <list>
#include <optional>

class QSslSocket;
class QTimer;

namespace vorel::server {

class Outbox;
class Server;
struct ServerConfig;

class Peer : public QObject
{
    Q_OBJECT
public:
    // Largest frame accepted before Login: a peer that has not proved who it
    // is gets no more than this buffered.
    static constexpr quint32 kMaxFrame = 64 * 1024;

    // Answers not yet sent past which nothing more is read before Login:
    // a peer that pipelines requests without reading their answers stops
    // being served until it reads.
    static constexpr qint64 kMaxUnsent = 64 * 1024;
    // What the server's one timer tells a peer (Server::wake).
    enum Due { LoginDeadline = 1, HoldOver, Abort, FailureAnswer };

    // `holdMs`: how long the peer waits before it is served at all (its
    // address has left many connections silent); the time to log in counts
    // from then.
    Peer(QSslSocket *socket, int id, Server *server, const QString &source, qint64 holdMs);
    ~Peer() override;

    void start();
    int id() const { return m_id; }
    QString source() const { return m_source; }
    // Held a place for nothing: sent no request at all, or let the time to
    // log in run out.
    bool wasted() const { return !m_spoke || m_timedOut; }
    // Its Login is being checked.
    bool checking() const { return m_checking; }
    // Being shed for room: the server deletes it at once.
    bool shedding() const { return m_shedding; }
    // The user its Login names, in canonical form (as typed when it has none).
    QString loginUser() const { return m_loginUser; }
    void due(int what);

    // Closes at once, without a word (the peer is shed for room).
    void shed();
    // The Login check came back; its answer is sent `delayMs` later (the
    // wait a failure set), the peer meanwhile one that may be shed.
    void loginFailed(const QString &message, qint64 delayMs = 0);
    // Its Login waited for the attempt of its user or address before it:
    // it is taken now (checked, or refused at once).
    void takeQueuedLogin();
    // Hands the connection over; the peer is done with it.
    QSslSocket *release();
    quint32 loginRequest() const { return m_loginRequest; }
    // "connection N (address:port)", as the log names it.
    QString label() const;

private:
    friend class Server;
    void onReadyRead();
    void startDeadline();
    bool readFrame(QByteArray *payload);
    void handle(const proto::Message &request);
    void submitLogin(const proto::Message &request);
    // The Login in hand as its turn comes: checked, queued or refused.
    void turnOfLogin();
    void answerFailure();
    void refusePlaintext();
    void send(const proto::Message &reply, bool now = false);
    // Ends the connection after input the protocol does not allow, or when
    // its time is up; the reason is the last thing the peer hears.
    void drop(const QString &reason);
    void end();

    QSslSocket *m_socket;
    Outbox *m_outbox;
    const int m_id;
    Server *m_server;
    QString m_source;
    QString m_label;
    qint64 m_holdMs;
    bool m_held = false;
    bool m_handshaking = false;
    bool m_greeted = false;
    bool m_spoke = false;
    bool m_timedOut = false;
    bool m_checking = false;
    bool m_reading = false; // onReadyRead is running
    bool m_pipelineFailed = false; // an answer of the current pipeline was an error
    bool m_closing = false;
    bool m_ended = false;
    bool m_shedding = false;
    bool m_lateForLogin = false; // the time to log in ran out while a Login waited or was checked
    // A Login waiting for the attempt of its user or address before it.
    std::optional<proto::Message> m_queuedLogin;
    // A failed Login's answer, held for the wait the failure set.
    std::optional<QString> m_failure;
    bool m_deadlineSet = false;
    quint32 m_loginRequest = 0;
    QString m_loginUser;
    QByteArray m_frame;
    // The server's list of peers that may be shed.
    std::list<Peer *>::iterator m_place;
    bool m_listed = false;
    // Its place among the Logins waiting for their turn.
    std::list<Peer *>::iterator m_queuePlace;
    bool m_inQueue = false;
};

} // namespace vorel::server
