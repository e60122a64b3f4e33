#include "server/backend/sqlite/writequeue.h"

#include "server/core/metrics.h"

#include <QFileInfo>
#include <chrono>
#include <map>

namespace vorel::server {

std::shared_ptr<WriteQueue> WriteQueue::of(const QString &file)
{
    static std::mutex mutex;
    static std::map<QString, std::weak_ptr<WriteQueue>> queues;
    const QString key = QFileInfo(file).canonicalFilePath().isEmpty() ? file : QFileInfo(file).canonicalFilePath();
    std::lock_guard lock(mutex);
    std::weak_ptr<WriteQueue> &slot = queues[key];
    std::shared_ptr<WriteQueue> queue = slot.lock();
    if (!queue) {
        queue = std::make_shared<WriteQueue>();
        slot = queue;
    }
    return queue;
}

bool WriteQueue::acquire(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    const std::uint64_t ticket = m_next++;
    const auto since = std::chrono::steady_clock::now();
    const bool turn =
        m_turn.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_serving == ticket; });
    Metrics::instance().lockWaited(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - since).count());
    if (turn)
        return true;
    m_abandoned.insert(ticket);
    return false;
}

void WriteQueue::release()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_serving;
        while (m_abandoned.erase(m_serving) > 0)
            ++m_serving;
    }
    m_turn.notify_all();
}

} // namespace vorel::server
