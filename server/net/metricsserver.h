#pragma once
// --metrics HOST:PORT: the server's figures over HTTP in Prometheus' text
// format (GET /metrics), for a monitoring system to scrape. It answers one
// request per connection and reads no more than a request line and headers.
#include <QTcpServer>

namespace vorel::server {

class Server;

class MetricsServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit MetricsServer(const Server *server, QObject *parent = nullptr);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    const Server *m_server;
};

} // namespace vorel::server
