#include "server/core/metrics.h"

#include <QRegularExpression>

namespace vorel::server {

namespace {

const char *const kKindNames[] = {"call", "open", "fetch", "close_cursor"};

void line(QByteArray &out, const char *name, const QByteArray &labels, double value)
{
    out += name;
    if (!labels.isEmpty())
        out += '{' + labels + '}';
    out += ' ' + QByteArray::number(value, 'g', 15) + '\n';
}

void help(QByteArray &out, const char *name, const char *type, const char *text)
{
    out += QByteArray("# HELP ") + name + ' ' + text + "\n# TYPE " + name + ' ' + type + '\n';
}

} // namespace

Metrics &Metrics::instance()
{
    static Metrics metrics;
    return metrics;
}

void Metrics::request(Request kind, qint64 nanoseconds)
{
    Histogram &h = m_requests[size_t(kind)];
    const double seconds = double(nanoseconds) / 1e9;
    size_t bucket = 0;
    while (bucket < kBuckets.size() && seconds > kBuckets[bucket])
        ++bucket;
    h.buckets[bucket].fetch_add(1, std::memory_order_relaxed);
    h.count.fetch_add(1, std::memory_order_relaxed);
    h.sumNs.fetch_add(nanoseconds, std::memory_order_relaxed);
}

void Metrics::sent(qint64 rows, qint64 bytes)
{
    m_rows.fetch_add(quint64(rows), std::memory_order_relaxed);
    m_bytes.fetch_add(quint64(bytes), std::memory_order_relaxed);
}

void Metrics::error(const QString &message)
{
    static const QRegularExpression ora(QStringLiteral("ORA-\\d{5}"));
    const QRegularExpressionMatch m = ora.match(message);
    const QString key = m.hasMatch() ? m.captured(0) : QStringLiteral("other");
    const std::lock_guard<std::mutex> lock(m_errorsMutex);
    // A few dozen numbers exist; the bound keeps a stream of odd texts from
    // growing the table.
    if (m_errors.size() < 256 || m_errors.contains(key))
        ++m_errors[key];
    else
        ++m_errors[QStringLiteral("other")];
}

QByteArray Metrics::render(int sessions, int peers) const
{
    QByteArray out;
    help(out, "vorel_sessions", "gauge", "Sessions logged in.");
    line(out, "vorel_sessions", {}, sessions);
    help(out, "vorel_peers", "gauge", "Connections not logged in yet.");
    line(out, "vorel_peers", {}, peers);
    help(out, "vorel_open_cursors", "gauge", "Cursors open in all sessions.");
    line(out, "vorel_open_cursors", {}, double(m_openCursors.load()));

    help(out, "vorel_requests_total", "counter", "Requests answered, by kind.");
    for (int k = 0; k < kRequestKinds; ++k)
        line(out, "vorel_requests_total", QByteArray("kind=\"") + kKindNames[k] + '"',
             double(m_requests[size_t(k)].count.load()));
    help(out, "vorel_request_duration_seconds", "histogram", "Time from a request read to its answer made.");
    for (int k = 0; k < kRequestKinds; ++k) {
        const Histogram &h = m_requests[size_t(k)];
        const QByteArray kind = QByteArray("kind=\"") + kKindNames[k] + '"';
        quint64 cumulative = 0;
        for (size_t b = 0; b <= kBuckets.size(); ++b) {
            cumulative += h.buckets[b].load();
            const QByteArray le = b < kBuckets.size() ? QByteArray::number(kBuckets[b], 'g', 6) : QByteArray("+Inf");
            line(out, "vorel_request_duration_seconds_bucket", kind + ",le=\"" + le + '"', double(cumulative));
        }
        line(out, "vorel_request_duration_seconds_sum", kind, double(h.sumNs.load()) / 1e9);
        line(out, "vorel_request_duration_seconds_count", kind, double(h.count.load()));
    }

    help(out, "vorel_rows_sent_total", "counter", "Rows sent to clients.");
    line(out, "vorel_rows_sent_total", {}, double(m_rows.load()));
    help(out, "vorel_bytes_sent_total", "counter", "Bytes of answers sent to clients, before encryption.");
    line(out, "vorel_bytes_sent_total", {}, double(m_bytes.load()));

    help(out, "vorel_errors_total", "counter", "Failures answered to clients, by ORA number.");
    {
        const std::lock_guard<std::mutex> lock(m_errorsMutex);
        QStringList keys = m_errors.keys();
        keys.sort();
        for (const QString &key : keys)
            line(out, "vorel_errors_total", "ora=\"" + key.toLatin1() + '"', double(m_errors.value(key)));
    }
    help(out, "vorel_login_failures_total", "counter", "Logins refused (user or password wrong, or no place).");
    line(out, "vorel_login_failures_total", {}, double(m_failedLogins.load()));
    help(out, "vorel_refused_peers_total", "counter", "Connections closed before a login: shed, in the clear, "
         "or speaking no protocol of ours.");
    line(out, "vorel_refused_peers_total", {}, double(m_refusedPeers.load()));
    help(out, "vorel_write_lock_wait_seconds_total", "counter", "Time sessions waited for the database's write lock.");
    line(out, "vorel_write_lock_wait_seconds_total", {}, double(m_lockWaitNs.load()) / 1e9);
    help(out, "vorel_backend_errors_total", "counter", "Connections to the database that failed or were lost.");
    line(out, "vorel_backend_errors_total", {}, double(m_backendErrors.load()));
    return out;
}

} // namespace vorel::server
