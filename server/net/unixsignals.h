#pragma once
// SIGTERM, SIGINT and SIGHUP as Qt signals on the thread that made the
// object: a signal handler may do no more than write a byte to a socket,
// which the event loop then reads.
#include <QObject>

class QSocketNotifier;

namespace vorel::server {

class UnixSignals : public QObject
{
    Q_OBJECT
public:
    // One per process: it takes the three signals over.
    explicit UnixSignals(QObject *parent = nullptr);
    ~UnixSignals() override;

Q_SIGNALS:
    void terminate(); // SIGTERM or SIGINT: stop
    void reload();    // SIGHUP: read the certificate again

private:
    void readPending();
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace vorel::server
