#pragma once
#include "common/vorelglobal.h"
#include "data/protocol.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>

class QDeadlineTimer;
class QSslSocket;

namespace vorel {

// The socket connection to the application server (the shell's SConect).
// Every call is synchronous: it returns when the server has answered. The
// one exception is a fetch sent ahead (SendFetch), whose reply is taken
// later; any other call first collects the replies still outstanding, so
// the stream stays in order and no reply is lost.
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

    // A fetch sent without waiting for its reply. The ticket is taken once,
    // with TakeFetch, which returns the rows or throws what Fetch would
    // have thrown (the server's error, or the loss of the connection met
    // while the reply was outstanding). No two fetches of any connection
    // get the same ticket, not even across a reconnection.
    quint64 SendFetch(quint32 cursor, int count);
    proto::RowBlock TakeFetch(quint64 ticket);
    // The reply will not be taken: dropped when it arrives.
    void DiscardFetch(quint64 ticket);
    // Replies sent for but not yet read from the stream.
    int Outstanding() const;

    // The times any connection of the process blocked for an answer: a
    // request's answer, or several read at once, that had not arrived yet
    // when it was needed.
    static quint64 Waits();

Q_SIGNALS:
    // The connection ended other than through Close(): the server went away
    // or the stream broke. Emitted once per connection.
    void Disconnected();

private:
    struct Pending {
        quint64 ticket = 0;
        quint32 requestId = 0;
        bool arrived = false;   // reply (or failure) in hand
        bool discarded = false; // nobody will take it
        proto::Message reply;
        QString failure;        // the connection failed before the reply came
    };
    proto::Message roundTrip(proto::Message request);
    proto::Message exchange(proto::Message &request);
    void checkConnected();
    void send(proto::Message &request, const QDeadlineTimer &deadline);
    proto::Message receive(quint32 requestId, const QDeadlineTimer &deadline);
    // Reads the replies outstanding, in order, up to and including
    // `ticket` (all of them when 0).
    void collect(quint64 ticket = 0);
    // True once the frame being read is whole; reads what has arrived.
    bool readFrame();
    [[noreturn]] void failConnection(const QString &why);
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
    QByteArray m_payload;
    qsizetype m_payloadGot = 0;
    quint32 m_nextRequest = 1;
    bool m_dropAnnounced = false;
    bool m_blocked = false; // the answers being read had to be waited for
    std::deque<Pending> m_pending; // in the order sent
};

} // namespace vorel
