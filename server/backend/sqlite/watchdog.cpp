#include "server/backend/sqlite/watchdog.h"

#include <QDeadlineTimer>
#include <chrono>

namespace vorel::server {

Watchdog &Watchdog::instance()
{
    static Watchdog watchdog;
    return watchdog;
}

Watchdog::~Watchdog()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

quint64 Watchdog::arm(qint64 deadline, std::function<void()> fire)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    const quint64 ticket = ++m_last;
    const bool earliest = m_armed.empty() || deadline < m_armed.begin()->first.first;
    m_armed.emplace(std::make_pair(deadline, ticket), std::move(fire));
    m_deadlines.emplace(ticket, deadline);
    if (earliest)
        m_wake.notify_one();
    return ticket;
}

void Watchdog::disarm(quint64 ticket)
{
    // Under the lock `fire` runs under: a disarmed ticket never fires late.
    const std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_deadlines.find(ticket);
    if (it == m_deadlines.end())
        return;
    m_armed.erase(std::make_pair(it->second, ticket));
    m_deadlines.erase(it);
}

void Watchdog::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        if (m_armed.empty()) {
            m_wake.wait(lock);
            continue;
        }
        const qint64 now = QDeadlineTimer::current().deadline();
        const auto first = m_armed.begin();
        if (first->first.first > now) {
            m_wake.wait_for(lock, std::chrono::milliseconds(first->first.first - now));
            continue;
        }
        const std::function<void()> fire = std::move(first->second);
        m_deadlines.erase(first->first.second);
        m_armed.erase(first);
        fire();
    }
}

} // namespace vorel::server
