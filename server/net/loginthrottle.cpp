#include "server/net/loginthrottle.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

namespace vorel::server {

qint64 LoginThrottle::now() { return QDeadlineTimer::current().deadline(); }

qint64 LoginThrottle::delayAfter(int failures)
{
    if (failures <= 0)
        return 0;
    qint64 delay = kFirstDelayMs;
    for (int i = 1; i < failures && delay < kMaxDelayMs; ++i)
        delay *= 2;
    return qMin(delay, kMaxDelayMs);
}

qint64 LoginThrottle::waitFor(const QHash<QString, Record> &table, const QString &key, qint64 at) const
{
    const auto it = table.constFind(key);
    if (it == table.constEnd())
        return 0;
    return qMax<qint64>(0, it->lastFailure + delayAfter(it->failures) - at);
}

qint64 LoginThrottle::waitMs(const QString &user, const QString &address)
{
    QMutexLocker lock(&m_mutex);
    const qint64 at = now();
    return qMax(waitFor(m_users, user, at), waitFor(m_addresses, address, at));
}

bool LoginThrottle::suspect(const QString &user, const QString &address)
{
    QMutexLocker lock(&m_mutex);
    const qint64 at = now();
    auto recent = [at](const QHash<QString, Record> &table, const QString &key) {
        const auto it = table.constFind(key);
        return it != table.constEnd() && it->failures > 0 && at - it->lastFailure <= kForgetMs;
    };
    return recent(m_users, user) || recent(m_addresses, address);
}

LoginThrottle::Verdict LoginThrottle::turnOf(const QString &user, const QString &address, bool inFlight)
{
    const qint64 wait = waitMs(user, address);
    if (wait > 0)
        return {Turn::Refuse, wait};
    if (!inFlight)
        return {Turn::Check, 0};
    if (!suspect(user, address))
        return {Turn::Queue, 0};
    // The attempt being checked may fail and set the next wait: no sooner
    // than that.
    QMutexLocker lock(&m_mutex);
    const int failures = qMax(m_users.value(user).failures, m_addresses.value(address).failures);
    return {Turn::Refuse, delayAfter(failures + 1)};
}

QString LoginThrottle::retryMessage(qint64 retryMs)
{
    return QStringLiteral("Demasiados intentos fallidos de inicio de sesión: inténtelo de nuevo en %1 s")
        .arg(qMax<qint64>(1, (retryMs + 999) / 1000));
}

void LoginThrottle::count(QHash<QString, Record> &table, const QString &key, qint64 at)
{
    if (!table.contains(key) && table.size() >= kMaxEntries) {
        for (auto it = table.begin(); it != table.end();) {
            if (at - it->lastFailure > kForgetMs)
                it = table.erase(it);
            else
                ++it;
        }
        // Still full: an attacker spraying user names. The oldest goes.
        if (table.size() >= kMaxEntries) {
            auto oldest = table.begin();
            for (auto it = table.begin(); it != table.end(); ++it)
                if (it->lastFailure < oldest->lastFailure)
                    oldest = it;
            table.erase(oldest);
        }
    }
    Record &r = table[key];
    if (r.failures > 0 && at - r.lastFailure > kForgetMs)
        r.failures = 0;
    ++r.failures;
    r.lastFailure = at;
}

std::pair<int, int> LoginThrottle::failed(const QString &user, const QString &address)
{
    QMutexLocker lock(&m_mutex);
    const qint64 at = now();
    count(m_users, user, at);
    count(m_addresses, address, at);
    return {m_users.value(user).failures, m_addresses.value(address).failures};
}

void LoginThrottle::succeeded(const QString &user, const QString &address)
{
    QMutexLocker lock(&m_mutex);
    m_users.remove(user);
    m_addresses.remove(address);
    m_silent.remove(address);
}

int LoginThrottle::silent(const QString &address)
{
    QMutexLocker lock(&m_mutex);
    count(m_silent, address, now());
    return m_silent.value(address).failures;
}

qint64 LoginThrottle::connectWaitMs(const QString &address)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_silent.constFind(address);
    if (it == m_silent.constEnd() || it->failures <= kFreeSilent)
        return 0;
    const qint64 at = now();
    if (at - it->lastFailure > kForgetMs)
        return 0;
    return delayAfter(it->failures - kFreeSilent);
}

} // namespace vorel::server
