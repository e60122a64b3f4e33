#include "server/net/metricsserver.h"

#include "server/core/metrics.h"
#include "server/net/server.h"

#include <QTcpSocket>
#include <QTimer>

namespace vorel::server {

namespace {

QByteArray health(const Server *server)
{
    QByteArray out;
    auto gauge = [&out](const char *name, const char *help, qint64 value) {
        out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + " gauge\n" + name + ' '
               + QByteArray::number(value) + '\n';
    };
    gauge("vorel_draining", "1 while the server stops: it takes no Login and its sessions end.",
          server->draining() ? 1 : 0);
    gauge("vorel_login_path_up", "0 while Logins fail on the server's side (its database unreachable).",
          server->loginPathUp() ? 1 : 0);
    gauge("vorel_login_room", "Logins the server may still take before --max-sessions.", server->loginRoom());
    return out;
}

} // namespace

MetricsServer::MetricsServer(const Server *server, QObject *parent) : QTcpServer(parent), m_server(server) {}

void MetricsServer::incomingConnection(qintptr socketDescriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    // A scraper that says nothing, or too much, is let go.
    socket->setReadBufferSize(8192);
    QTimer::singleShot(5000, socket, [socket] { socket->abort(); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
        const QByteArray head = socket->peek(8192);
        if (!head.contains("\r\n\r\n") && !head.contains("\n\n")) {
            if (head.size() >= 8192)
                socket->abort();
            return;
        }
        socket->readAll();
        const QList<QByteArray> request = head.left(head.indexOf('\n')).trimmed().split(' ');
        QByteArray status = "200 OK";
        QByteArray body;
        if (request.size() < 2 || request[0] != "GET") {
            status = "405 Method Not Allowed";
        } else if (request[1] == "/health") {
            // For a director: fails while the server stops or cannot log
            // anyone in, so that no client is sent there.
            body = "# TYPE vorel_sessions gauge\nvorel_sessions " + QByteArray::number(m_server->sessions()) + '\n'
                   + health(m_server);
            if (m_server->draining() || !m_server->loginPathUp())
                status = "503 Service Unavailable";
        } else if (request[1] != "/metrics" && request[1] != "/") {
            status = "404 Not Found";
        } else {
            body = Metrics::instance().render(m_server->sessions(), m_server->peers()) + health(m_server);
        }
        socket->write("HTTP/1.0 " + status + "\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
                      "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    });
}

} // namespace vorel::server
