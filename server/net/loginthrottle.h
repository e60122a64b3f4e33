#pragma once
// Failed logins slow down the next attempt for the same user and for the
// same address: the delay doubles with every failure in a row, up to a cap,
// and a success clears it. Shared by every session (thread-safe).
#include <QHash>
#include <QMutex>
#include <QString>

namespace vorel::server {

class LoginThrottle
{
public:
    static constexpr qint64 kFirstDelayMs = 250;
    static constexpr qint64 kMaxDelayMs = 8000;
    // Records older than this are forgotten; the tables never grow past kMaxEntries.
    static constexpr qint64 kForgetMs = 15 * 60 * 1000;
    static constexpr int kMaxEntries = 10000;

    // How long an attempt for `user` from `address` must wait before it is checked.
    qint64 waitMs(const QString &user, const QString &address);

    // Failed attempts of the user or the address are on record.
    bool suspect(const QString &user, const QString &address);

    // What becomes of a Login for `user` from `address`, `inFlight` when an
    // attempt of the same user or from the same address is being checked:
    // one attempt at a time for each, so that many connections guess no
    // faster than one. A Login the throttle holds back is answered at once
    // (retryMs says when to try again): a peer held waiting could not be
    // shed, and a few hundred of them would keep everyone else out. One
    // that waits for an attempt of its own office's shift, where nothing
    // has failed, waits its turn.
    enum class Turn { Check, Queue, Refuse };
    struct Verdict {
        Turn turn = Turn::Check;
        qint64 retryMs = 0;
    };
    Verdict turnOf(const QString &user, const QString &address, bool inFlight);
    // The answer to a Login refused by turnOf.
    static QString retryMessage(qint64 retryMs);
    // Counts a failure; returns the failures in a row of the user and of the address.
    std::pair<int, int> failed(const QString &user, const QString &address);
    void succeeded(const QString &user, const QString &address);

    // Connections that end without a single request (a scanner, a peer
    // stalled in its handshake), or that let the time to log in run out,
    // are free up to kFreeSilent per address;
    // past that each new connection of the address waits as a failed login
    // would before it is served. A login from the address clears it.
    static constexpr int kFreeSilent = 8;
    int silent(const QString &address);
    qint64 connectWaitMs(const QString &address);

    // The delay after `failures` failures in a row.
    static qint64 delayAfter(int failures);

private:
    struct Record {
        int failures = 0;
        qint64 lastFailure = 0; // ms since epoch (steady)
    };
    static qint64 now();
    qint64 waitFor(const QHash<QString, Record> &table, const QString &key, qint64 at) const;
    void count(QHash<QString, Record> &table, const QString &key, qint64 at);

    QMutex m_mutex;
    QHash<QString, Record> m_users;
    QHash<QString, Record> m_addresses;
    QHash<QString, Record> m_silent;
};

} // namespace vorel::server
