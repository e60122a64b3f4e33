#pragma once
// The server's figures for a monitoring system (Prometheus' text format, see
// net/metricsserver.h): counted by every thread with atomics alone, so that
// counting costs a request nothing it would notice, and read whole by the
// metrics listener.
#include <QByteArray>
#include <QHash>
#include <QString>
#include <array>
#include <atomic>
#include <mutex>

namespace vorel::server {

class Metrics
{
public:
    static Metrics &instance();

    enum class Request { Call, Open, Fetch, CloseCursor };
    static constexpr int kRequestKinds = 4;
    // Latency bucket bounds in seconds (Prometheus' "le"), then +Inf.
    static constexpr std::array<double, 12> kBuckets = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025,
                                                         0.05,   0.1,   0.25,   0.5,   1.0,  5.0};

    void request(Request kind, qint64 nanoseconds);
    void sent(qint64 rows, qint64 bytes);
    // A failure answered to a client: counted by its ORA number, "other"
    // when its text carries none.
    void error(const QString &message);
    void failedLogin() { m_failedLogins.fetch_add(1, std::memory_order_relaxed); }
    void refusedPeer() { m_refusedPeers.fetch_add(1, std::memory_order_relaxed); }
    void backendError() { m_backendErrors.fetch_add(1, std::memory_order_relaxed); }
    void lockWaited(qint64 nanoseconds) { m_lockWaitNs.fetch_add(nanoseconds, std::memory_order_relaxed); }
    void cursorsOpen(qint64 delta) { m_openCursors.fetch_add(delta, std::memory_order_relaxed); }

    // The text a scrape gets, with the listener's own gauges.
    QByteArray render(int sessions, int peers) const;

private:
    struct Histogram {
        std::array<std::atomic<quint64>, kBuckets.size() + 1> buckets{};
        std::atomic<quint64> count{0};
        std::atomic<qint64> sumNs{0};
    };
    std::array<Histogram, kRequestKinds> m_requests;
    std::atomic<quint64> m_rows{0};
    std::atomic<quint64> m_bytes{0};
    std::atomic<quint64> m_failedLogins{0};
    std::atomic<quint64> m_refusedPeers{0};
    std::atomic<quint64> m_backendErrors{0};
    std::atomic<qint64> m_lockWaitNs{0};
    std::atomic<qint64> m_openCursors{0};
    mutable std::mutex m_errorsMutex;
    QHash<QString, quint64> m_errors; // "ORA-00942" -> count
};

} // namespace vorel::server
