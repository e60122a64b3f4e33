#pragma once
// Finding a text in a text in time linear in both, whatever they hold, and
// stoppable midway: INSTR and REPLACE of a pattern of megabytes over a text
// of tens of megabytes would otherwise hold a connection for hours, past
// any watchdog (SQLite interrupts between steps, never inside a call).
#include <QStringView>
#include <atomic>
#include <functional>
#include <vector>

namespace vorel::server {

class TextSearch {
public:
    explicit TextSearch(QStringView pattern);

    enum class Outcome { Done, Stopped };
    // Calls `found` with each place the pattern begins in `text` at or after
    // `from`, in order, until it returns false; with `overlapping` false a
    // match resumes the search past its end (as REPLACE reads). Looks at
    // `stop` every so many characters.
    Outcome scan(QStringView text, qsizetype from, bool overlapping, const std::atomic<bool> *stop,
                 const std::function<bool(qsizetype)> &found) const;

private:
    QStringView m_pattern;
    std::vector<qsizetype> m_border; // Knuth–Morris–Pratt's failure function
};

} // namespace vorel::server
