#pragma once
// One queue per database file for the sessions that want to write: the
// write lock passes in order of asking. SQLite's own busy wait polls, and
// under many writers one of them can lose every poll until its timeout; in
// one process the sessions can simply line up.
#include <QString>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>

namespace vorel::server {

class WriteQueue
{
public:
    // The queue of the database file (shared by every session of the process).
    static std::shared_ptr<WriteQueue> of(const QString &file);

    // Waits for this caller's turn; false when it did not come within `timeoutMs`.
    bool acquire(int timeoutMs);
    void release();

private:
    std::mutex m_mutex;
    std::condition_variable m_turn;
    std::uint64_t m_next = 0;
    std::uint64_t m_serving = 0;
    std::set<std::uint64_t> m_abandoned; // tickets whose holders stopped waiting
};

} // namespace vorel::server
