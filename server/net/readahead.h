#pragma once
// The next packets of a cursor, read from the database on a thread of its
// own while the session codes, encrypts and sends the ones before: a walk
// asks packet after packet, and with one thread the database waited for
// every write and the line for every read.
#include "data/protocol.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace vorel::server {

class Database;

class ReadAhead
{
public:
    explicit ReadAhead(Database *db) : m_db(db) {}
    // Stops the reading: the database must outlive it.
    ~ReadAhead();
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    // Packets read ahead per cursor, at most.
    static constexpr int kDepth = 2;
    // How long the reader waits for the next packet to read before it ends;
    // start() makes another.
    static constexpr std::chrono::milliseconds kIdleExit{2000};

    // The answer to Fetch(cursor, count), as the database alone would give
    // it: what was read ahead for the cursor first, then the database. A
    // failure of the read ahead is thrown here, where its rows are asked.
    proto::RowBlock fetch(quint32 cursor, int count, int *width);
    // Goes on reading `cursor`, `count` rows a packet, from where it is.
    void start(quint32 cursor, int count);
    // Stops reading once the packet under way is read; the database is then
    // the caller's alone until the next start().
    void settle();
    // The cursor is closed: what was read of it goes.
    void forget(quint32 cursor);
    // Whether fetch(cursor, ...) would answer without waiting for the
    // packet being read; when not, `onRead` (given once, before the first
    // start) is called from the reading thread once that packet is in.
    bool readyFor(quint32 cursor);
    void setOnRead(std::function<void()> onRead) { m_onRead = std::move(onRead); }

private:
    struct Packet {
        proto::RowBlock rows;
        int requested = 0;
        int width = 0;
        std::exception_ptr failure;
        // The database would stop here for any count: the end, a failure,
        // or a packet that reached its weight.
        bool last() const { return failure || rows.eof || rows.size() < requested; }
    };
    void run();
    bool mayRead() const;
    bool waits(quint32 cursor) const;
    void settleLocked(std::unique_lock<std::mutex> &lock);
    proto::RowBlock take(std::unique_lock<std::mutex> &lock, quint32 cursor, int count, int *width);
    // What the packets held weigh, and that figure in the session's account.
    qint64 heldBytes() const;
    void account();

    Database *m_db;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake; // to the reader: read, or quit
    std::condition_variable m_read; // from the reader: a packet is in
    bool m_quit = false;
    bool m_exited = false;          // the reader ended, idle; not joined yet
    bool m_paused = true;
    bool m_reading = false;         // the reader is inside the database
    quint32 m_cursor = 0;
    int m_count = 0;
    std::map<quint32, std::deque<Packet>> m_held;
    std::function<void()> m_onRead;
    bool m_awaited = false;         // readyFor() said no: m_onRead is due
    qint64 m_lastBytes = 0;         // what the last packet read ahead weighed
};

} // namespace vorel::server
