#pragma once
// One logged-in connection: the requests of the session, answered in order
// on the session's own thread (see server.h).
#include "data/protocol.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

class QSslSocket;
class QTimer;

namespace vorel::server {

class Database;
class Outbox;
class ReadAhead;
struct ServerConfig;

class Session : public QObject
{
    Q_OBJECT
public:
    // Takes over a connection whose Login (request `loginRequest`) has
    // just succeeded on `db`; socket and session must be on the session's
    // thread when start() runs.
    Session(QSslSocket *socket, int id, const ServerConfig *config, std::unique_ptr<Database> db, QString user,
            quint32 loginRequest);
    ~Session() override;

    // Runs on the session's thread: answers the Login, then the requests.
    void start();
    // The server stops: the session ends, telling the client why, and its
    // open transaction is rolled back.
    void stop();
    // The server is stopping: the session ends at its next transaction
    // boundary, at once when it is idle outside a transaction.
    void drain();

Q_SIGNALS:
    // The connection is over and the session's database closed.
    void finished();

public:
    // Replies waiting to be sent past which no further request is read.
    // Answers held back by --delay-ms do not count: on a real line they
    // would be on their way, and counting them stopped a walk's stream
    // once every round trip.
    static constexpr qint64 kMaxUnsent = 8 * 1024 * 1024;
    // What one request frame may hold after Login, but for an EjeDir's,
    // which may carry a binary for TBINS up to the frame limit.
    static constexpr qint64 kMaxRequestFrame = 1024 * 1024;
    // What a large frame is counted in the session's memory at: its bytes,
    // its text as Qt holds it (twice), the translated text and SQLite's
    // copies while the statement is compiled: about eight times, measured.
    static constexpr int kFrameCostFactor = 8;

private:
    void onReadyRead();
    // A frame past kMaxRequestFrame is let in only once its first bytes
    // show an EjeDir and the session may hold it; any other is dropped as
    // it comes and its request answered with why.
    void admitFrame();
    void resumeIfDrained();
    void process(const proto::Message &request, qint64 arrivedNs = -1);
    // The fetch put aside while its packet is read goes on.
    void resumeFetch();
    void onDisconnected();
    void handle(const proto::Message &request);
    proto::Message dispatch(const proto::Message &request);
    proto::Message call(const proto::Message &request);
    // The request in the server's figures (core/metrics.h).
    void count(const proto::Message &request, const proto::Message &reply, qint64 nanoseconds);
    // False when the reply could not go as made and an error went instead.
    bool send(proto::Message reply, bool withoutDelay = false);
    // Ends the connection after input the protocol does not allow.
    void drop(const QString &reason);
    void finish();
    void endIfDrained();
    QString peer() const;

    QSslSocket *m_socket;
    Outbox *m_outbox = nullptr;
    const int m_id;
    const ServerConfig *m_config;
    proto::FrameReader m_frames;
    bool m_closing = false;
    bool m_finished = false;
    bool m_draining = false;
    bool m_sendFull = false;     // the peer does not read its answers
    bool m_pipelineFailed = false; // a request of the current pipeline failed
    bool m_reading = false;        // onReadyRead is running
    // A fetch whose packet is still being read waits here rather than on
    // the session's thread, which meanwhile sends what is due and takes
    // in what comes; the requests behind it wait their turn.
    std::optional<proto::Message> m_pendingFetch;
    qint64 m_pendingSinceNs = 0;
    QElapsedTimer m_clock; // for the figures of each request
    QTimer *m_idleTimer = nullptr;
    QTimer *m_idleInTransaction = nullptr;
    bool m_inTransaction = false; // as the last request but a fetch left it
    bool m_frameAdmitted = false; // the large frame under way
    std::unique_ptr<Database> m_db;
    std::unique_ptr<ReadAhead> m_ahead; // reads m_db on a thread of its own
    int m_cursorsCounted = 0;           // this session's share of the open-cursor gauge
    QString m_user;
    quint32 m_loginRequest;
};

} // namespace vorel::server
