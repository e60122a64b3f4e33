#include "server/backend/sqlite/textsearch.h"

namespace vorel::server {

namespace {
constexpr qsizetype kStepsBetweenLooks = qsizetype(1) << 20;
}

TextSearch::TextSearch(QStringView pattern) : m_pattern(pattern), m_border(size_t(pattern.size()) + 1, 0)
{
    // m_border[i]: the longest proper border of pattern[0, i).
    qsizetype k = 0;
    for (qsizetype i = 1; i < pattern.size(); ++i) {
        while (k > 0 && pattern[i] != pattern[k])
            k = m_border[size_t(k)];
        if (pattern[i] == pattern[k])
            ++k;
        m_border[size_t(i) + 1] = k;
    }
}

TextSearch::Outcome TextSearch::scan(QStringView text, qsizetype from, bool overlapping,
                                     const std::atomic<bool> *stop, const std::function<bool(qsizetype)> &found) const
{
    const qsizetype m = m_pattern.size();
    if (m == 0 || from < 0)
        return Outcome::Done;
    qsizetype k = 0, steps = 0;
    for (qsizetype i = from; i < text.size(); ++i) {
        // Each character costs at most as many steps as it advanced: the
        // whole scan is at most twice the text's length.
        while (k > 0 && text[i] != m_pattern[k]) {
            k = m_border[size_t(k)];
            ++steps;
        }
        if (text[i] == m_pattern[k])
            ++k;
        if (++steps >= kStepsBetweenLooks) {
            steps = 0;
            if (stop && stop->load(std::memory_order_relaxed))
                return Outcome::Stopped;
        }
        if (k == m) {
            if (!found(i - m + 1))
                return Outcome::Done;
            k = overlapping ? m_border[size_t(m)] : 0;
        }
    }
    return Outcome::Done;
}

} // namespace vorel::server
