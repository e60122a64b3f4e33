#pragma once
#include "common/exception.h"
#include "common/vorelglobal.h"
#include "data/framearena.h"
#include "data/protocol.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>

class QDeadlineTimer;
class QSslSocket;

namespace vorel {

// A failure of the line rather than an answer of the server: the server
// could not be reached, or the connection broke or went silent while a
// request was on its way. Whatever the request was, the server's session
// ended with the connection and its open transaction was rolled back.
class VOREL_CORE_EXPORT ConnectionFailure : public Exception
{
public:
    using Exception::Exception;
};

// The socket connection to the application server (the shell's SConect).
// Requests go out as soon as they are made and their answers are read where
// they are needed (a pipeline): Call, OpenCursor, Fetch and CloseCursor wait
// for their own answer; the Post* calls send and return a ticket whose
// answer Take* reads later; CallAhead sends a call nobody reads the answer
// of. The server keeps the order of requests, and after a failure skips the
// requests the client sent behind it without waiting, so the effects are
// those of a client that waited for each answer. A failure is thrown where
// an answer is first needed at or after the request that failed: by the
// Take of that request or of a later one, or by Sync, with the message the
// request would have thrown by itself.
// Failures throw vorel::Exception: a server or database failure carries the
// server's message text unchanged; a refused or lost connection names host
// and port.
// The connection is TLS: Open() sends nothing of the session before the
// server's certificate has passed ServerTrust's check.
class VOREL_CORE_EXPORT TSocketConnection : public QObject
{
    Q_OBJECT
public:
    explicit TSocketConnection(QObject *owner = nullptr);
    ~TSocketConnection() override;

    static constexpr const char *DefaultServerName = "ServerVorel.dmServer";
    // The failure of an SQL text (EjeDir or a dataset's command) holding a NUL.
    static const char *const NulInSql;

    QString Host() const { return m_host; }
    void SetHost(const QString &host) { m_host = host; }
    int Port() const { return m_port; }
    void SetPort(int port) { m_port = port; }
    QString ServerName() const { return m_serverName; }
    void SetServerName(const QString &name) { m_serverName = name; }
    // Milliseconds one server answer may take before the call fails.
    int Timeout() const { return m_timeoutMs; }
    void SetTimeout(int ms) { m_timeoutMs = ms; }

    // Without encryption only for measuring what it costs: a server started
    // with --insecure-plaintext. On by default.
    bool Encrypted() const { return m_encrypted; }
    void SetEncrypted(bool on) { m_encrypted = on; }

    void Open();          // connect and handshake; no-op when connected
    void Close();         // disconnect; no-op when not connected
    bool Connected() const;

    // What it takes to open the session again after the connection was
    // lost, the way the start-up opened it: the configured server asked
    // for the one to use (dServer), then Login with the same arguments,
    // then the statements (EjeDir) that give the server's session the
    // state the user left it in. Set once the start-up's Login stood; from
    // then on the next request after a loss opens a new session first,
    // unseen. The request that met the loss is not sent again: it fails
    // with ConnectionFailure, whose message says whether the session could
    // be opened again. Nor is anything sent on the new session for a use
    // case the loss cut short (StartTran sent, CommitTran not answered):
    // its later requests fail the same way until its RollBackTran, which
    // the server has already done.
    struct Session {
        QString address;     // the configured server, asked for dServer
        QStringList login;   // user, password, database, client address
        QStringList restore; // EjeDir statements run after the Login
    };
    void SetSession(const Session &session) { m_session = session; }
    Session CurrentSession() const { return m_session; }
    void SetSessionRestore(const QStringList &statements) { m_session.restore = statements; }
    // Asked when the server refuses the session's credentials at a
    // reconnection (a password changed meanwhile): true with `login` set to
    // the arguments to try instead. Not set, or false, leaves the
    // connection without a session until the next request.
    std::function<bool(QStringList &login, const QString &refusal)> CredentialsRefused;
    // False for a cursor of an earlier session, which went with it.
    bool CursorLive(quint32 cursor) const { return m_session.login.isEmpty() || m_liveCursors.contains(cursor); }
    // Sessions opened again since the start-up's.
    int Reconnections() const { return m_reconnections; }
    // The connection broke and no session stands on it now: the next
    // request opens one first.
    bool Lost() const { return m_lost; }

    // How long an answer may stay away while the line looks alive before
    // the connection is given up on the system's side: an idle line is
    // probed after 10 s, every 5 s, and given up after 3 probes; data not
    // acknowledged for 25 s ends it.
    static constexpr int kDeadLineMs = 25000;

    // The user number and database of the last Login the server accepted on
    // this connection: whose session it is, whatever other clients on the
    // same desktop logged in as. Empty before one, and from the moment
    // another Login is sent until it is accepted.
    QString LoginUser() const { return m_loginUser; }
    QString LoginDatabase() const { return m_loginDatabase; }

    // Late-bound remote method call by name: dServer, Login, MenIni,
    // StartTran, CommitTran, RollBackTran, EjeDir. Returns the text result
    // (empty for methods without one).
    QString Call(const QString &method, const QStringList &args = {});

    // Cursor operations used by TClientDataSet.
    struct OpenReply {
        quint32 cursor = 0;
        QList<proto::Column> columns;
        proto::RowBlock rows;
    };
    OpenReply OpenCursor(const QString &provider, const QString &sql, int packetRecords);
    proto::RowBlock Fetch(quint32 cursor, int count);
    void CloseCursor(quint32 cursor);

    // Off, every request waits for its answer where it is made. On by
    // default, unless VOREL_PIPELINE=0 in the environment.
    bool Pipelining() const { return m_pipelining; }
    void SetPipelining(bool on) { m_pipelining = on; }

    // Requests whose answers are read later. Each ticket is taken once, or
    // forgotten; no two requests of any connection get the same ticket, not
    // even across a reconnection.
    quint64 PostCall(const QString &method, const QStringList &args = {});
    QString TakeCall(quint64 ticket);
    quint64 PostOpen(const QString &provider, const QString &sql, int packetRecords);
    // `earlier`, when given, tells whether a failure thrown is that of a
    // request sent before this one.
    OpenReply TakeOpen(quint64 ticket, bool *earlier = nullptr);
    // A call whose result nobody needs: its failure is thrown by the next
    // answer waited for.
    void CallAhead(const QString &method, const QStringList &args = {});
    // The answer will not be taken. A failure it brings is still thrown by
    // the next answer waited for; a cursor it opens is closed.
    void Forget(quint64 ticket);
    // When the pipeline of `ticket` failed and the failure was thrown
    // already: Skipped when a request before it failed (the server did not
    // run it), Failed when it failed itself. Its answer has nothing left to
    // tell then. No otherwise.
    enum class Told { No, Skipped, Failed };
    Told Abandoned(quint64 ticket) const;
    // Closes a cursor without waiting; nothing is told of the answer.
    void CloseCursorAhead(quint32 cursor);
    // Waits for every answer outstanding and throws the first failure among
    // those whose tickets nobody will take.
    void Sync();

    // A fetch sent without waiting for its reply, apart from any pipeline:
    // its failure is TakeFetch's alone. TakeFetch returns the rows or throws
    // what Fetch would have thrown (the server's error, or the loss of the
    // connection met while the reply was outstanding).
    quint64 SendFetch(quint32 cursor, int count);
    proto::RowBlock TakeFetch(quint64 ticket);
    // The reply will not be taken: dropped when it arrives.
    void DiscardFetch(quint64 ticket) { Forget(ticket); }
    // Replies sent for but not yet read from the stream.
    int Outstanding() const;

    // The times any connection of the process blocked for an answer: a
    // request's answer, or several read at once, that had not arrived yet
    // when it was needed.
    static quint64 Waits();
    // The shortest time an answer took to come back, in nanoseconds; 0
    // before the first. Answers read late only seem slower, so the shortest
    // is the line's own.
    qint64 ShortestRoundTripNs() const { return m_shortestTripNs; }

Q_SIGNALS:
    // The connection ended other than through Close(): the server went away
    // or the stream broke. Emitted once per connection.
    void Disconnected();

private:
    struct Pending {
        quint64 ticket = 0;
        quint32 requestId = 0;
        quint64 pipeline = 0;   // 0: a detached request
        bool arrived = false;   // reply (or failure) in hand
        bool forgotten = false; // nobody will take it
        bool told = false;      // its pipeline's failure was thrown already
        bool greeting = false;  // the answer to Hello
        qint64 sentNs = 0;      // on m_clock
        proto::Message reply;
        QString failure;        // the connection failed before the reply came
        bool lineFailure = false; // `cause` is the loss of the connection
        QString cause;          // the failure its pipeline met, once told
    };
    // Nothing left to tell of it: an answer nobody takes that either
    // succeeded or whose failure was thrown already.
    static bool spent(const Pending &p);
    // Now on m_clock, which starts with the first request.
    qint64 sentNow();
    // Sends `request` and queues its answer.
    quint64 post(proto::Message &request, bool detached = false);
    // The answer of `ticket`, or the failure it, or a request of its
    // pipeline before it, met.
    proto::Message take(quint64 ticket, bool *earlier = nullptr);
    // Throws the first failure among the answers of `pipeline` queued
    // before `ticket` (all of them when 0), forgotten ones dropped.
    void checkPipeline(quint64 pipeline, quint64 ticket);
    [[noreturn]] void breakPipeline(quint64 pipeline, const QString &failure, bool line);
    static QString failureOf(const Pending &p);
    // Why the server's answer to Hello ends the connection; empty when not.
    QString helloRefusal(const proto::Message &reply);
    proto::Message exchange(proto::Message &request);
    void checkConnected();
    void send(proto::Message &request, const QDeadlineTimer &deadline);
    proto::Message receive(quint32 requestId, const QDeadlineTimer &deadline);
    // Reads the replies outstanding, in order, up to and including
    // `ticket` (all of them when 0).
    void collect(quint64 ticket = 0);
    // True once the frame being read is whole; reads what has arrived.
    bool readFrame();
    // Ends the connection; `dropped` when the server went away rather than
    // refused the session.
    [[noreturn]] void failConnection(const QString &why, bool dropped = true);
    // Throws `failure`, of the line's kind when `line`.
    [[noreturn]] static void raise(const QString &failure, bool line);
    // Before a request: opens the session again when the connection was
    // lost, and refuses the requests of a use case cut short. True when the
    // request is a RollBackTran the server has already done (not sent).
    bool beforeRequest(const proto::Message &request);
    // Opens the session again: dServer, Open, Login, the restore
    // statements. Throws ConnectionFailure or the server's refusal.
    void reconnect();
    // The message of a request that met the loss, once a reconnection was
    // tried.
    QString lossMessage(const QString &lineFailure);
    void noteTransaction(const proto::Message &request, quint64 ticket);
    // The connection broke: the session is gone, and with it the use case
    // it was in.
    void noteLoss();
    // A Fetch of a cursor the session does not hold (an earlier session's)
    // fails as the loss of that session.
    void checkCursor(quint32 cursor);
    [[noreturn]] void protocolFailure(const char *what);
    void announceDrop();
    void discardSocket(bool dropped);
    QString endpoint() const;

    QString m_host;
    int m_port = 211;
    QString m_serverName = QString::fromLatin1(DefaultServerName);
    int m_timeoutMs = 120000;
    bool m_encrypted = true;
    std::unique_ptr<QSslSocket> m_socket;
    // The frame being read: its header, then its payload read straight
    // into a buffer of its size, which the rows it carries go on to keep.
    char m_header[proto::kHeaderSize] = {};
    qsizetype m_headerGot = 0;
    FrameArena m_frames;
    QElapsedTimer m_clock;
    qint64 m_shortestTripNs = 0;
    QByteArray m_payload;
    char *m_payloadData = nullptr;           // where the payload is written
    std::shared_ptr<const void> m_payloadOwner; // keeps its bytes (FrameArena)
    qsizetype m_payloadGot = 0;
    quint32 m_nextRequest = 1;
    bool m_dropAnnounced = false;
    bool m_blocked = false; // the answers being read had to be waited for
    std::deque<Pending> m_pending; // in the order sent
    bool m_pipelining = true;
    quint64 m_pipeline = 0;          // the pipeline requests join now
    QString m_loginUser;
    QString m_loginDatabase;
    // The Login sent last, until its answer is taken: ticket, user, database.
    quint64 m_loginTicket = 0;
    QString m_sentUser;
    QString m_sentDatabase;
    Session m_session;
    bool m_lost = false; // broken, and no session opened since
    bool m_reconnecting = false;
    int m_reconnections = 0;
    // A use case stands between its StartTran and the answer to its
    // CommitTran (or its RollBackTran); cut short by a loss, it is over.
    bool m_inTransaction = false;
    bool m_transactionLost = false;
    quint64 m_commitTicket = 0;
    QSet<quint32> m_liveCursors; // opened in this session
};

} // namespace vorel
