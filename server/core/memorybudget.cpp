#include "server/core/memorybudget.h"

#include "server/core/oraerror.h"

namespace vorel::server {

MemoryBudget &MemoryBudget::server()
{
    static MemoryBudget budget;
    return budget;
}

MemoryAccount::~MemoryAccount() { m_budget.m_used.fetch_sub(held(), std::memory_order_relaxed); }

qint64 MemoryAccount::held() const
{
    qint64 sum = 0;
    for (const auto &part : m_parts)
        sum += part.load(std::memory_order_relaxed);
    return sum;
}

QString MemoryAccount::refusal(qint64 bytes) const
{
    const bool sessionFull = held() + bytes > m_budget.m_perSession;
    const QString detail =
        sessionFull ? QStringLiteral("una sesión puede guardar %1 MB").arg(m_budget.m_perSession >> 20)
                    : QStringLiteral("las sesiones guardan ya los %1 MB del servidor").arg(m_budget.m_total >> 20);
    return ora::text(ora::kOutOfProcessMemory, detail).arg(bytes);
}

void MemoryAccount::hold(Part part, qint64 bytes)
{
    std::atomic<qint64> &mine = m_parts[part];
    const qint64 before = mine.load(std::memory_order_relaxed);
    const qint64 more = bytes - before;
    if (more <= 0) {
        mine.store(bytes, std::memory_order_relaxed);
        m_budget.m_used.fetch_add(more, std::memory_order_relaxed);
        return;
    }
    if (held() + more > m_budget.m_perSession)
        throw OraError(refusal(more));
    // Taken first and given back when it passes the bound: two sessions
    // asking at once cannot both slip under it.
    if (m_budget.m_used.fetch_add(more, std::memory_order_relaxed) + more > m_budget.m_total) {
        m_budget.m_used.fetch_sub(more, std::memory_order_relaxed);
        throw OraError(refusal(more));
    }
    mine.store(bytes, std::memory_order_relaxed);
}

void MemoryAccount::settle(Part part, qint64 bytes) noexcept
{
    const qint64 before = m_parts[part].exchange(bytes, std::memory_order_relaxed);
    m_budget.m_used.fetch_add(bytes - before, std::memory_order_relaxed);
}

void RowsAllowance::grow(qint64 bytes)
{
    // A step ahead when there is room for it, else just what is needed.
    try {
        m_account->hold(MemoryAccount::Rows, m_base + bytes + kStep);
        m_reserved = m_base + bytes + kStep;
    } catch (const OraError &) {
        m_account->hold(MemoryAccount::Rows, m_base + bytes);
        m_reserved = m_base + bytes;
    }
}

} // namespace vorel::server
