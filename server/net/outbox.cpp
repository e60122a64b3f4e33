#include "server/net/outbox.h"

#include <QAbstractSocket>
#include <QTimer>
#include <atomic>

namespace vorel::server {

namespace {
std::atomic<int> g_delayMs{0};
}

Outbox::Outbox(QAbstractSocket *socket) : QObject(socket), m_socket(socket) {}

void Outbox::setDelay(int ms) { g_delayMs.store(qMax(0, ms)); }

void Outbox::send(QByteArray frame, bool now)
{
    const int wait = now ? 0 : g_delayMs.load();
    if (wait <= 0) {
        // Nothing may overtake what is held back.
        flush();
        m_socket->write(frame);
        // Out now rather than at a later turn of the event loop (two, for
        // a TLS socket): the peer is waiting for it.
        m_socket->flush();
        return;
    }
    m_late.push_back({QDeadlineTimer(wait), std::move(frame)});
    if (!m_timer) {
        m_timer = new QTimer(this);
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        connect(m_timer, &QTimer::timeout, this, [this] { sendDue(); });
    }
    // What is due leaves now, not at the timer: a session busy with a run
    // of requests does not get back to its event loop until the run is
    // done, and a line does not hold answers back for the server's work.
    // After the frame is queued: flushing the socket may read and answer
    // the next request before this call returns.
    sendDue();
    if (!m_late.empty() && !m_timer->isActive())
        m_timer->start(int(m_late.front().due.remainingTime()));
}

void Outbox::flush() { sendDue(true); }

void Outbox::pause()
{
    if (m_timer)
        m_timer->stop();
}

void Outbox::abandon()
{
    if (m_timer)
        m_timer->stop();
    m_late.clear();
}

void Outbox::sendDue(bool all)
{
    bool wrote = false;
    while (!m_late.empty() && (all || m_late.front().due.hasExpired())) {
        m_socket->write(m_late.front().frame);
        m_late.pop_front();
        wrote = true;
    }
    // Out now: a TLS socket would encrypt it at a later turn of the loop.
    if (wrote)
        m_socket->flush();
    if (!m_late.empty() && !all)
        m_timer->start(int(m_late.front().due.remainingTime()));
}

} // namespace vorel::server
