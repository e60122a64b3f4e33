#pragma once
// The answers of one connection on their way out. With an answer delay set
// (--delay-ms), each answer leaves that long after it was made while the
// connection goes on with the requests behind it, as answers in flight on a
// long line do. The outbox is a child of its socket, so it moves with the
// socket from the listener's thread to the session's.
#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <deque>

class QTimer;
class QAbstractSocket;

namespace vorel::server {

class Outbox : public QObject
{
    Q_OBJECT
public:
    explicit Outbox(QAbstractSocket *socket);

    // Every answer of every connection waits this long; set before the
    // server starts listening. 0 (the default) sends at once.
    static void setDelay(int ms);

    // Sends `frame` now, or after the delay unless `now`.
    void send(QByteArray frame, bool now = false);
    // Sends what is still held back, at once.
    void flush();
    // Drops what is still held back: the connection is over.
    void abandon();
    // Stops the timer, keeping what is held back for the next send(): to be
    // called before the socket moves to another thread. A timer running
    // while it moves is registered twice in its new thread once started
    // again there, and the second registration outlives the timer.
    void pause();

private:
    // Sends what is due (all: everything held back).
    void sendDue(bool all = false);

    QAbstractSocket *m_socket;
    struct Late {
        QDeadlineTimer due;
        QByteArray frame;
    };
    std::deque<Late> m_late;
    QTimer *m_timer = nullptr;
};

} // namespace vorel::server
