#include "server/net/readahead.h"

#include "server/core/database.h"
#include "server/core/memorybudget.h"

#include <utility>

namespace vorel::server {

ReadAhead::~ReadAhead()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool ReadAhead::mayRead() const
{
    if (m_paused || m_count <= 0)
        return false;
    const auto it = m_held.find(m_cursor);
    if (it == m_held.end())
        return true;
    return int(it->second.size()) < kDepth && (it->second.empty() || !it->second.back().last());
}

void ReadAhead::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        // A session that stopped walking lets its reader go: a thousand idle
        // sessions keep no thousand readers waiting.
        if (!m_wake.wait_for(lock, kIdleExit, [this] { return m_quit || mayRead(); })) {
            m_exited = true;
            return;
        }
        if (m_quit)
            return;
        const quint32 cursor = m_cursor;
        // Reading ahead is a saving, never a need: without room for one
        // more packet like the last, the client's fetch reads it itself.
        if (!m_db->memory().fits(m_lastBytes)) {
            m_paused = true;
            m_read.notify_all();
            if (std::exchange(m_awaited, false) && m_onRead) {
                lock.unlock();
                m_onRead();
                lock.lock();
            }
            continue;
        }
        Packet p;
        p.requested = m_count;
        m_reading = true;
        lock.unlock();
        try {
            p.rows = m_db->fetch(cursor, p.requested, &p.width);
        } catch (...) {
            p.failure = std::current_exception();
        }
        lock.lock();
        m_reading = false;
        m_lastBytes = p.rows.byteSize();
        m_held[cursor].push_back(std::move(p));
        account();
        m_read.notify_all();
        if (std::exchange(m_awaited, false) && m_onRead) {
            lock.unlock();
            m_onRead();
            lock.lock();
        }
    }
}

bool ReadAhead::waits(quint32 cursor) const
{
    if (m_paused || cursor != m_cursor)
        return false;
    const auto it = m_held.find(cursor);
    if (it != m_held.end() && !it->second.empty())
        return false;
    return m_reading || mayRead();
}

bool ReadAhead::readyFor(quint32 cursor)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!waits(cursor))
        return true;
    m_awaited = true;
    return false;
}

void ReadAhead::start(quint32 cursor, int count)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_cursor = cursor;
        m_count = count;
        m_paused = false;
        if (m_exited) {
            // It has left its loop and the lock: joined at once.
            m_thread.join();
            m_exited = false;
        }
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
    }
    m_wake.notify_one();
}

void ReadAhead::settleLocked(std::unique_lock<std::mutex> &lock)
{
    m_paused = true;
    m_read.wait(lock, [this] { return !m_reading; });
}

void ReadAhead::settle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    settleLocked(lock);
}

void ReadAhead::forget(quint32 cursor)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    settleLocked(lock);
    m_held.erase(cursor);
    account();
}

qint64 ReadAhead::heldBytes() const
{
    qint64 bytes = 0;
    for (const auto &entry : m_held)
        for (const Packet &p : entry.second)
            bytes += p.rows.byteSize();
    return bytes;
}

void ReadAhead::account() { m_db->memory().settle(MemoryAccount::ReadAhead, heldBytes()); }

proto::RowBlock ReadAhead::fetch(quint32 cursor, int count, int *width)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    // The packet being read is the one asked for: wait for it rather than
    // read the database beside the reader.
    m_read.wait(lock, [&] { return !waits(cursor); });
    auto it = m_held.find(cursor);
    if (it != m_held.end() && !it->second.empty() && count > 0) {
        Packet &head = it->second.front();
        const qsizetype have = head.rows.size();
        if (!head.failure && (have == count || (have < count && head.last()))) {
            proto::RowBlock rows = std::move(head.rows);
            if (width)
                *width = head.width;
            it->second.pop_front();
            account();
            lock.unlock();
            m_wake.notify_one();
            return rows;
        }
    }
    // Anything else is put together from the packets held and the database:
    // the reader stops first.
    settleLocked(lock);
    return take(lock, cursor, count, width);
}

proto::RowBlock ReadAhead::take(std::unique_lock<std::mutex> &lock, quint32 cursor, int count, int *width)
{
    // Whatever leaves the packets held below is counted off on the way out.
    struct Account {
        ReadAhead &ahead;
        std::unique_lock<std::mutex> &lock;
        ~Account()
        {
            if (lock.owns_lock()) {
                ahead.account();
                return;
            }
            const std::lock_guard<std::mutex> again(ahead.m_mutex);
            ahead.account();
        }
    } accountOnReturn{*this, lock};
    const auto it = m_held.find(cursor);
    if (it == m_held.end() || it->second.empty()) {
        lock.unlock();
        return m_db->fetch(cursor, count, width);
    }
    std::deque<Packet> &held = it->second;
    if (held.front().failure) {
        const std::exception_ptr failure = held.front().failure;
        held.pop_front();
        std::rethrow_exception(failure);
    }
    if (width)
        *width = held.front().width;
    // The client asked for another count than the packets were read at: the
    // rows are cut, or filled up, to the count asked, as the database would.
    proto::RowBlock rows(held.front().rows.width());
    bool stopped = false;
    while (!held.empty() && !held.front().failure && (count <= 0 || rows.size() < count)) {
        Packet &p = held.front();
        const qsizetype need = count > 0 ? count - rows.size() : p.rows.size();
        if (p.rows.size() > need) {
            proto::RowBlock rest(p.rows.width());
            for (qsizetype r = 0; r < p.rows.size(); ++r)
                (r < need ? rows : rest).appendRowOf(p.rows, r);
            rest.eof = p.rows.eof;
            p.requested = int(rest.size());
            p.rows = std::move(rest);
            rows.eof = false;
            return rows;
        }
        for (qsizetype r = 0; r < p.rows.size(); ++r)
            rows.appendRowOf(p.rows, r);
        rows.eof = p.rows.eof;
        stopped = p.last();
        held.pop_front();
        if (stopped)
            break;
    }
    // A failure read ahead comes with the next fetch, after these rows.
    if (stopped || (!held.empty() && held.front().failure) || (count > 0 && rows.size() >= count))
        return rows;
    lock.unlock();
    proto::RowBlock more;
    try {
        more = m_db->fetch(cursor, count > 0 ? int(count - rows.size()) : count, width);
    } catch (...) {
        if (rows.isEmpty())
            throw;
        // The rows before the failure go first, the failure with the next
        // fetch, as when they were read in one go.
        lock.lock();
        m_held[cursor].push_front(Packet{proto::RowBlock(rows.width()), 0, rows.width(), std::current_exception()});
        rows.eof = false;
        return rows;
    }
    for (qsizetype r = 0; r < more.size(); ++r)
        rows.appendRowOf(more, r);
    rows.eof = more.eof;
    return rows;
}

} // namespace vorel::server
