#pragma once
#include "common/vorelglobal.h"
#include "data/protocol.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class QTcpSocket;

namespace vorel {

// The socket connection to the application server (the shell's SConect).
// Every call is synchronous: it returns when the server has answered.
// Failures throw vorel::Exception: a server or database failure carries the
// server's message text unchanged; a refused or lost connection names host
// and port.
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

Q_SIGNALS:
    // The connection ended other than through Close(): the server went away
    // or the stream broke. Emitted once per connection.
    void Disconnected();

private:
    proto::Message roundTrip(proto::Message request);
    proto::Message exchange(proto::Message &request);
    [[noreturn]] void failConnection(const QString &why);
    [[noreturn]] void protocolFailure(const char *what);
    void announceDrop();
    void discardSocket(bool dropped);
    QString endpoint() const;

    QString m_host;
    int m_port = 211;
    QString m_serverName = QString::fromLatin1(DefaultServerName);
    int m_timeoutMs = 120000;
    std::unique_ptr<QTcpSocket> m_socket;
    std::unique_ptr<proto::FrameReader> m_frames;
    quint32 m_nextRequest = 1;
    bool m_dropAnnounced = false;
};

} // namespace vorel
