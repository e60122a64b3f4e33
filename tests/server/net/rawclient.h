#pragma once
// A bare protocol client: frames built with data/protocol.h and written to a
// TLS socket, so the server is tested without the client classes.
#include "data/protocol.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QSslSocket>
#include <QTest>

namespace vorel::test {

class RawClient
{
public:
    // Where connectTo() goes (127.0.0.1 unless set).
    void setHost(const QString &host) { m_host = host; }
    // The local address connectTo() leaves from (a branch office's); any when empty.
    void setSource(const QString &address) { m_source = address; }

    // `plaintext`: without TLS, as a client of an earlier release would.
    bool connectTo(quint16 port, bool hello = true, bool plaintext = false)
    {
        if (!m_source.isEmpty() && !m_socket.bind(QHostAddress(m_source)))
            return false;
        if (plaintext) {
            m_socket.connectToHost(m_host, port);
            if (!m_socket.waitForConnected(10000))
                return false;
        } else {
            QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
            // The server's certificate as the process trusts it (the test
            // servers' own, or the soak server's).
            tls.setCaCertificates(QSslCertificate::fromPath(qEnvironmentVariable("VOREL_CA_FILE")));
            m_socket.setSslConfiguration(tls);
            m_socket.connectToHostEncrypted(m_host, port);
            if (!m_socket.waitForEncrypted(10000))
                return false;
        }
        if (!hello)
            return true;
        proto::Message h;
        h.type = proto::MsgType::Hello;
        return request(h).type == proto::MsgType::HelloOk;
    }

    void sendRaw(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }

    quint32 send(proto::Message m)
    {
        m.requestId = m_nextId++;
        sendRaw(proto::encode(m));
        return m.requestId;
    }

    // The next message from the server; an Error with text "<timeout>" or
    // "<closed>" when none comes.
    proto::Message receive(int timeoutMs = 30000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            if (auto payload = m_frames.next())
                return proto::decodePayload(*payload);
            if (m_socket.state() != QAbstractSocket::ConnectedState && m_socket.bytesAvailable() == 0)
                return failure("<closed>");
            const qint64 left = timeoutMs - timer.elapsed();
            if (left <= 0)
                return failure("<timeout>");
            if (m_socket.bytesAvailable() == 0)
                m_socket.waitForReadyRead(int(qMin<qint64>(left, 200)));
            m_frames.feed(m_socket.readAll());
        }
    }

    proto::Message request(const proto::Message &m, int timeoutMs = 30000)
    {
        send(m);
        return receive(timeoutMs);
    }

    proto::Message call(const QString &method, const QStringList &args = {})
    {
        proto::Message m;
        m.type = proto::MsgType::Call;
        m.text = method;
        m.args = args;
        return request(m);
    }

    // The text of an Error reply; empty for any other reply.
    QString error(const proto::Message &reply) const
    {
        return reply.type == proto::MsgType::Error ? reply.text : QString();
    }

    static proto::Message callMessage(const QString &method, const QStringList &args = {})
    {
        proto::Message m;
        m.type = proto::MsgType::Call;
        m.text = method;
        m.args = args;
        return m;
    }

    proto::Message openMessage(const QString &provider, const QString &sql, int packet = -1)
    {
        proto::Message m;
        m.type = proto::MsgType::Open;
        m.text = provider;
        m.sql = sql;
        m.count = packet;
        return m;
    }

    proto::Message open(const QString &provider, const QString &sql, int packet = -1)
    {
        return request(openMessage(provider, sql, packet));
    }

    proto::Message fetch(quint32 cursor, int count)
    {
        proto::Message m;
        m.type = proto::MsgType::Fetch;
        m.cursor = cursor;
        m.count = count;
        return request(m);
    }

    proto::Message closeCursor(quint32 cursor)
    {
        proto::Message m;
        m.type = proto::MsgType::CloseCursor;
        m.cursor = cursor;
        return request(m);
    }

    bool login(const QString &user = QStringLiteral("1001"), const QString &password = QStringLiteral("clave"))
    {
        return call(QStringLiteral("Login"), {user, password, QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")})
                   .type
            == proto::MsgType::CallResult;
    }

    bool waitClosed(int timeoutMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (m_socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < timeoutMs) {
            m_socket.waitForReadyRead(100);
            m_socket.readAll();
        }
        return m_socket.state() != QAbstractSocket::ConnectedState;
    }

    void abort() { m_socket.abort(); }

private:
    static proto::Message failure(const char *text)
    {
        proto::Message m;
        m.type = proto::MsgType::Error;
        m.text = QString::fromLatin1(text);
        return m;
    }

    QSslSocket m_socket;
    QString m_host = QStringLiteral("127.0.0.1");
    QString m_source;
    proto::FrameReader m_frames;
    quint32 m_nextId = 1;
};

} // namespace vorel::test
