#pragma once
// Small helpers shared by the benchmarks: medians and percentiles, the
// memory figures of a process, and the table the benchmarks print.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace vorel::bench {

// A row count as typed: 1000, 10k, 1M; -1 when not a count.
inline qint64 countOf(QString text)
{
    qint64 unit = 1;
    if (text.endsWith(QLatin1Char('k'), Qt::CaseInsensitive))
        unit = 1000;
    else if (text.endsWith(QLatin1Char('M')))
        unit = 1000000;
    if (unit > 1)
        text.chop(1);
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    return ok && n >= 0 ? n * unit : -1;
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// The p-th percentile (0..100) by the nearest rank.
inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    size_t rank = size_t(std::ceil(p / 100.0 * double(v.size())));
    rank = std::clamp<size_t>(rank, 1, v.size());
    return v[rank - 1];
}

// A field of /proc/<pid>/status in kB (VmRSS, VmHWM); -1 when unreadable.
// pid 0 is this process.
inline qint64 procStatusKb(qint64 pid, const char *field)
{
    QFile f(pid > 0 ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// Sets this process's peak resident size back to its current size, so that
// VmHWM afterwards is the peak of what follows; false where the kernel does
// not offer it.
inline bool resetPeakMemory()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

// Rows of "what, ours, reference, ratio", each figure with its unit.
class Table
{
public:
    void row(const QString &what, double ours, double reference, const char *unit, const QString &referenceWhat)
    {
        m_rows.push_back({what, ours, reference, QString::fromLatin1(unit), referenceWhat});
    }

    // A ratio alone: the median of each run's figure over the reference
    // taken beside it, steadier than the ratio of medians on a machine whose
    // speed drifts between the runs.
    void ratioRow(const QString &what, const std::vector<double> &ours, const std::vector<double> &reference,
                  const QString &referenceWhat)
    {
        std::vector<double> ratios;
        for (size_t i = 0; i < ours.size() && i < reference.size(); ++i)
            if (reference[i] > 0)
                ratios.push_back(ours[i] / reference[i]);
        m_rows.push_back({what, median(ratios), std::nan(""), QString(), referenceWhat, true});
    }

    void print(FILE *out = stdout) const
    {
        std::fprintf(out, "%-46s %14s %14s %8s  %s\n", "what", "ours", "reference", "ratio", "reference is");
        for (const Row &r : m_rows) {
            const QString ours = r.ratioOnly ? QString() : figure(r.ours, r.unit);
            const QString ref = r.ratioOnly ? QString() : figure(r.reference, r.unit);
            const double value = r.ratioOnly ? r.ours : r.ours / r.reference;
            const QString ratio = std::isfinite(value) && (r.ratioOnly || r.reference > 0)
                ? QString::number(value, 'f', 2)
                : QStringLiteral("-");
            std::fprintf(out, "%-46s %14s %14s %8s  %s\n", r.what.toUtf8().constData(), ours.toUtf8().constData(),
                         ref.toUtf8().constData(), ratio.toUtf8().constData(), r.referenceWhat.toUtf8().constData());
        }
        std::fflush(out);
    }

private:
    static QString figure(double v, const QString &unit)
    {
        if (!std::isfinite(v))
            return QStringLiteral("-");
        const int decimals = std::fabs(v) >= 100 ? 0 : std::fabs(v) >= 10 ? 1 : std::fabs(v) >= 1 ? 2 : 3;
        return QString::number(v, 'f', decimals) + QLatin1Char(' ') + unit;
    }
    struct Row {
        QString what;
        double ours;
        double reference;
        QString unit;
        QString referenceWhat;
        bool ratioOnly = false;
    };
    std::vector<Row> m_rows;
};

} // namespace vorel::bench
