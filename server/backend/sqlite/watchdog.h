#pragma once
// Ends a statement that runs past its request's time where the progress
// handler is never asked: inside one long call of a function, which SQLite
// does not leave until it returns. One thread for the whole process wakes
// at the earliest time armed; a session arms and disarms it per request.
#include <QtGlobal>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace vorel::server {

class Watchdog
{
public:
    static Watchdog &instance();
    ~Watchdog();

    // Calls `fire` on the watchdog's thread at `deadline` (steady clock
    // milliseconds) unless disarmed before; 0 is never a ticket.
    quint64 arm(qint64 deadline, std::function<void()> fire);
    // Once this returns, the ticket's `fire` neither runs nor will.
    void disarm(quint64 ticket);

private:
    Watchdog() = default;
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
    bool m_quit = false;
    quint64 m_last = 0;
    // By deadline, then ticket.
    std::map<std::pair<qint64, quint64>, std::function<void()>> m_armed;
    std::map<quint64, qint64> m_deadlines;
};

} // namespace vorel::server
