#pragma once
// What the sessions may hold in memory of their own making: rows read ahead
// of the client (cursors drained before a write, packets read ahead), the
// packet being built and the request frame being received. Each session has
// a bound of its own, and all of them together one of the server's, so that
// a thousand sessions cannot take the machine's memory between them, and a
// session that asks for more than its share gets an Oracle-style refusal
// instead of the server being killed.
#include <QString>
#include <QtGlobal>
#include <array>
#include <atomic>

namespace vorel::server {

class MemoryBudget
{
public:
    // Room for one EjeDir of a frame's largest size (see Session).
    static constexpr qint64 kDefaultPerSession = qint64(512) << 20;
    static constexpr qint64 kDefaultTotal = qint64(2048) << 20;

    // The server's: every session draws on it.
    static MemoryBudget &server();

    MemoryBudget(qint64 total = kDefaultTotal, qint64 perSession = kDefaultPerSession)
        : m_total(total), m_perSession(perSession)
    {
    }
    // Before the first session.
    void configure(qint64 total, qint64 perSession)
    {
        m_total = total;
        m_perSession = perSession;
    }
    qint64 total() const { return m_total; }
    qint64 perSession() const { return m_perSession; }
    // What the sessions hold now, in all.
    qint64 used() const { return m_used.load(std::memory_order_relaxed); }

private:
    friend class MemoryAccount;
    qint64 m_total;
    qint64 m_perSession;
    std::atomic<qint64> m_used{0};
};

// One session's share. Its parts are set from the threads that own them
// (the database's rows from whichever thread reads it, the frames from the
// session's), each to what it holds now.
class MemoryAccount
{
public:
    enum Part { Rows, ReadAhead, Frame, kParts };

    explicit MemoryAccount(MemoryBudget &budget = MemoryBudget::server()) : m_budget(budget) {}
    ~MemoryAccount();
    MemoryAccount(const MemoryAccount &) = delete;
    MemoryAccount &operator=(const MemoryAccount &) = delete;

    // `part` now holds `bytes`. More than before throws OraError (ORA-04030)
    // when the session's bound or the server's would be passed; the part
    // then keeps what it held. Less never fails.
    void hold(Part part, qint64 bytes);
    // The same, unchecked: what is held already, once a read is over.
    void settle(Part part, qint64 bytes) noexcept;
    qint64 held() const;
    // Whether `more` bytes could be held now.
    bool fits(qint64 more) const
    {
        return held() + more <= m_budget.m_perSession && m_budget.used() + more <= m_budget.m_total;
    }
    qint64 held(Part part) const { return m_parts[part].load(std::memory_order_relaxed); }

    // The refusal hold() throws, for a caller that keeps it to tell later.
    QString refusal(qint64 bytes) const;

private:
    MemoryBudget &m_budget;
    std::array<std::atomic<qint64>, kParts> m_parts{};
};

// The rows one read builds, checked as they grow: what the cursors already
// hold (`base`) and the block under way, taken from the account a step at a
// time so that a row costs a comparison, not an atomic operation.
class RowsAllowance
{
public:
    static constexpr qint64 kStep = qint64(4) << 20;

    RowsAllowance(MemoryAccount *account, qint64 base) : m_account(account), m_base(base) {}
    // The block under way weighs `bytes`; throws OraError when the session
    // may not hold that much more.
    void need(qint64 bytes)
    {
        if (m_account && m_base + bytes > m_reserved)
            grow(bytes);
    }
    // What else the session holds has changed to `base`.
    void rebase(qint64 base) { m_base = base; }

private:
    void grow(qint64 bytes);

    MemoryAccount *m_account;
    qint64 m_base;
    qint64 m_reserved = 0;
};

} // namespace vorel::server
