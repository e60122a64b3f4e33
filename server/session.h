#pragma once
// One client connection: handshake, login, and the requests of the session,
// answered in order on the session's own thread (see server.h).
#include "data/protocol.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <deque>
#include <memory>

class QTcpSocket;
class QTimer;

namespace vorel::server {

class Database;
struct ServerConfig;

class Session : public QObject
{
    Q_OBJECT
public:
    Session(qintptr socketDescriptor, int id, const ServerConfig *config);
    ~Session() override;

    // Runs on the session's thread: takes over the socket.
    void start();

    // Every answer of every session waits this long before it is sent, on
    // the session's own thread, so that a loopback run feels the round trip
    // of a distant network; sessions do not wait for each other. Set before
    // the server starts listening; 0 (the default) sends at once.
    static void setAnswerDelay(int ms);
    static int answerDelay();

Q_SIGNALS:
    // The connection is over and the session's database closed.
    void finished();

public:
    // Largest frame accepted before Login: a peer that has not proved who it
    // is gets no more than this buffered.
    static constexpr quint32 kPreLoginFrame = 64 * 1024;
    // Replies waiting to be sent past which no further request is read.
    static constexpr qint64 kMaxUnsent = 8 * 1024 * 1024;

private:
    void onReadyRead();
    // Before Login: moves at most one whole frame from the socket into the
    // frame reader; false when none is complete yet.
    bool takePreLoginFrame();
    void process(const proto::Message &request);
    void onDisconnected();
    void handle(const proto::Message &request);
    proto::Message dispatch(const proto::Message &request);
    proto::Message call(const proto::Message &request);
    void login(const QStringList &args);
    void send(const proto::Message &reply, bool withoutDelay = false);
    // Answers held back by --delay-ms whose time has come (all: every one).
    void sendLate(bool all = false);
    // Ends the connection after input the protocol does not allow.
    void drop(const QString &reason);
    void finish();
    QString peer() const;

    const qintptr m_descriptor;
    const int m_id;
    const ServerConfig *m_config;
    QTcpSocket *m_socket = nullptr;
    proto::FrameReader m_frames;
    bool m_greeted = false;
    bool m_closing = false;
    bool m_finished = false;
    bool m_loginDelayed = false; // a Login waits out earlier failures
    bool m_sendFull = false;     // the peer does not read its answers
    QByteArray m_preLogin;
    QTimer *m_loginTimer = nullptr;
    QTimer *m_idleTimer = nullptr;
    struct LateFrame {
        QDeadlineTimer due;
        QByteArray frame;
    };
    std::deque<LateFrame> m_late;
    qint64 m_lateBytes = 0;
    QTimer *m_lateTimer = nullptr;
    std::unique_ptr<Database> m_db;
    QString m_user;
};

} // namespace vorel::server
