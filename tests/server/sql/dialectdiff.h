#pragma once
// Expressions of Oracle's functions, made up from a stream of choices: a
// seeded random generator in the tests, the fuzzer's bytes in the fuzz
// target. The same choices give the same expression. Each kind of value
// (number, text, date) nests a few levels deep; NULLs come from the
// fixture's columns (ZCLIENTES_T), as a bare NULL has no type for
// PostgreSQL to choose a function by.
#include "sqlrun.h"

#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <cmath>
#include <functional>

namespace dialecttest {

class ExprGenerator
{
public:
    // `bounded(n)` answers a choice in [0, n). One that answers 0 once it
    // runs out of choices ends every expression at its next leaf.
    explicit ExprGenerator(std::function<quint32(quint32)> bounded)
        : m_bounded(std::move(bounded))
    {}

    QString number(int depth) { return noted(numberAt(depth)); }

    QString numberAt(int depth)
    {
        static const char *const leaves[] = {"0",    "1",    "-1",    "2.5", "-7",    "15.193",
                                             "1000", "0.29", "SALDO", "3",   "-20.75"};
        if (depth <= 0 || chance(3))
            return QString::fromUtf8(pick(leaves));
        const int d = depth - 1;
        switch (m_bounded(26)) {
        case 0: return QStringLiteral("%1 + %2").arg(number(d), number(d));
        case 1: return QStringLiteral("%1 - %2").arg(number(d), number(d));
        case 2: return QStringLiteral("%1 * %2").arg(number(d), number(d));
        case 3: return QStringLiteral("(%1 - %2)").arg(date(d), date(d));
        case 4: return QStringLiteral("MONTHS_BETWEEN(%1, %2)").arg(date(d), date(d));
        case 5: return QStringLiteral("ROUND(%1, %2)").arg(number(d), places());
        case 6: return QStringLiteral("TRUNC(%1, %2)").arg(number(d), places());
        case 7: return QStringLiteral("MOD(%1, %2)").arg(number(d), number(d));
        case 8: return QStringLiteral("SIGN(%1)").arg(number(d));
        case 9: return QStringLiteral("ABS(%1)").arg(number(d));
        case 10: return QStringLiteral("CEIL(%1)").arg(number(d));
        case 11: return QStringLiteral("FLOOR(%1)").arg(number(d));
        case 12: return QStringLiteral("LENGTH(%1)").arg(text(d));
        case 13:
            return QStringLiteral("INSTR(%1, %2, %3, %4)")
                .arg(text(d), text(d), places(), QString::number(1 + m_bounded(3)));
        case 14: return QStringLiteral("INSTR(%1, %2)").arg(text(d), text(d));
        case 15: {
            static const char *const fields[] = {"YEAR", "MONTH", "DAY", "HOUR", "MINUTE", "SECOND"};
            return QStringLiteral("EXTRACT(%1 FROM %2)").arg(QString::fromUtf8(pick(fields)), date(d));
        }
        case 16: return QStringLiteral("GREATEST(%1, %2)").arg(number(d), number(d));
        case 17: return QStringLiteral("LEAST(%1, %2, %3)").arg(number(d), number(d), number(d));
        case 18: return QStringLiteral("NVL(%1, %2)").arg(number(d), number(d));
        case 19: return QStringLiteral("DECODE(%1, %2, %3, %4)").arg(number(d), number(d), number(d), number(d));
        case 20: return QStringLiteral("POWER(%1, %2)").arg(number(d), QString::number(m_bounded(4)));
        case 21: return QStringLiteral("%1 / %2").arg(number(d), QString::number(1 + m_bounded(40)));
        case 22: return QStringLiteral("COALESCE(%1, %2)").arg(number(d), number(d));
        case 23: return QStringLiteral("%1 / NULLIF(%2, 0)").arg(number(d), number(d));
        case 24: {
            const QString format = numberFormat();
            return QStringLiteral("TO_NUMBER(TO_CHAR(%1, %2), %2)").arg(number(d), format);
        }
        default: return QStringLiteral("NULLIF(%1, %2)").arg(number(d), number(d));
        }
    }

    QString text(int depth) { return noted(textAt(depth)); }

    QString textAt(int depth)
    {
        static const char *const leaves[] = {
            "'abc'",  "'ñandú ÁGIL'", "'Ana García'", "''",   "' x '",  "'CORPORATE FLOOR'",
            "NOMBRE", "ESTADO",       "CLIENTE",      "NULL", "'a-b_c'"};
        if (depth <= 0 || chance(3))
            return QString::fromUtf8(pick(leaves));
        const int d = depth - 1;
        switch (m_bounded(21)) {
        case 0: return QStringLiteral("%1 || %2").arg(text(d), text(d));
        case 1: return QStringLiteral("SUBSTR(%1, %2)").arg(text(d), places());
        case 2: return QStringLiteral("SUBSTR(%1, %2, %3)").arg(text(d), places(), places());
        case 3: return QStringLiteral("LPAD(%1, %2, %3)").arg(text(d), QString::number(m_bounded(12)), text(d));
        case 4: return QStringLiteral("RPAD(%1, %2)").arg(text(d), QString::number(m_bounded(12)));
        case 5: return QStringLiteral("UPPER(%1)").arg(text(d));
        case 6: return QStringLiteral("LOWER(%1)").arg(text(d));
        case 7: return QStringLiteral("INITCAP(%1)").arg(text(d));
        case 8: return QStringLiteral("TRANSLATE(%1, %2, %3)").arg(text(d), text(d), text(d));
        case 9: return QStringLiteral("REPLACE(%1, %2)").arg(text(d), text(d));
        case 10: return QStringLiteral("REPLACE(%1, %2, %3)").arg(text(d), text(d), text(d));
        case 11: return QStringLiteral("LTRIM(%1, %2)").arg(text(d), text(d));
        case 12: return QStringLiteral("RTRIM(%1)").arg(text(d));
        case 13: return QStringLiteral("CONCAT(%1, %2)").arg(text(d), text(d));
        case 14: return QStringLiteral("TO_CHAR(%1)").arg(number(d));
        case 15: {
            static const char *const formats[] = {
                "'DD/MM/YYYY'", "'YYYY-MM-DD HH24:MI:SS'",      "'HH:MI'",
                "'YYYYMMDD'",   "'fmDay DD \"de\" Month YYYY'", "'DY MON Q IW WW DDD D AM'"};
            return QStringLiteral("TO_CHAR(%1, %2)").arg(date(d), QString::fromUtf8(pick(formats)));
        }
        case 16: return QStringLiteral("NVL(%1, %2)").arg(text(d), text(d));
        case 17: return QStringLiteral("NVL2(%1, %2, %3)").arg(text(d), text(d), text(d));
        case 18: return QStringLiteral("GREATEST(%1, %2)").arg(text(d), text(d));
        case 19: return QStringLiteral("TO_CHAR(%1, %2)").arg(number(d), numberFormat());
        default: return QStringLiteral("DECODE(%1, %2, %3, %4)").arg(text(d), text(d), text(d), text(d));
        }
    }

    QString date(int depth) { return noted(dateAt(depth)); }

    QString dateAt(int depth)
    {
        static const char *const leaves[] = {"DATE '2024-02-29'", "DATE '2023-12-31'", "ALTA",
                                             "TO_DATE('31/01/2024 13:45', 'DD/MM/YYYY HH24:MI')",
                                             "TO_DATE('2024-07-16 12:00:00')"};
        if (depth <= 0 || chance(3))
            return QString::fromUtf8(pick(leaves));
        const int d = depth - 1;
        static const char *const formats[] = {"'YYYY'", "'Q'",    "'MM'", "'WW'",  "'IW'",   "'W'",
                                              "'DD'",   "'HH24'", "'MI'", "'DAY'", "'YEAR'", "'MON'"};
        switch (m_bounded(10)) {
        case 0: return QStringLiteral("%1 + %2").arg(date(d), number(d));
        case 1: return QStringLiteral("%1 - %2").arg(date(d), number(d));
        case 2: return QStringLiteral("TRUNC(%1, %2)").arg(date(d), QString::fromUtf8(pick(formats)));
        case 3: return QStringLiteral("ROUND(%1, %2)").arg(date(d), QString::fromUtf8(pick(formats)));
        case 4: return QStringLiteral("ADD_MONTHS(%1, %2)").arg(date(d), number(d));
        case 5: return QStringLiteral("LAST_DAY(%1)").arg(date(d));
        case 6: {
            static const char *const days[] = {"'LUNES'", "'miércoles'", "'sun'", "'Friday'", "'SAB'"};
            return QStringLiteral("NEXT_DAY(%1, %2)").arg(date(d), QString::fromUtf8(pick(days)));
        }
        case 7: return QStringLiteral("GREATEST(%1, %2)").arg(date(d), date(d));
        case 8: return QStringLiteral("NVL(%1, %2)").arg(date(d), date(d));
        default: return QStringLiteral("TRUNC(%1)").arg(date(d));
        }
    }

    // Every expression made since the last clearParts, the whole last.
    const QStringList &parts() const { return m_parts; }
    void clearParts() { m_parts.clear(); }

    QString any(int depth)
    {
        switch (m_bounded(3)) {
        case 0: return number(depth);
        case 1: return text(depth);
        default: return date(depth);
        }
    }

private:
    QString noted(const QString &e)
    {
        m_parts << e;
        return e;
    }
    bool chance(int oneIn) { return m_bounded(quint32(oneIn)) == 0; }
    template <size_t N>
    const char *pick(const char *const (&from)[N])
    {
        return from[m_bounded(quint32(N))];
    }
    QString places() { return QString::number(int(m_bounded(9)) - 4); }
    QString numberFormat()
    {
        static const char *const formats[] = {"'999'",        "'FM999G990D00'", "'S9.99EEEE'", "'L0009MI'",
                                              "'9,999.99PR'", "'FM9.9EEEE'",    "'XXXX'",      "'FM0x'",
                                              "'99.99S'",     "'FM999.009'",    "'0.000'",     "'FML9G9D9'"};
        return QString::fromUtf8(pick(formats));
    }

    std::function<quint32(quint32)> m_bounded;
    QStringList m_parts;
};

// Cells alike, numbers up to the last of their 15 digits: SQLite divides
// in binary, PostgreSQL's numeric in decimal, and the 15th digit of 1/19
// may round either way.
inline bool sameCells(const QList<QStringList> &a, const QList<QStringList> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype r = 0; r < a.size(); ++r) {
        if (a[r].size() != b[r].size())
            return false;
        for (qsizetype c = 0; c < a[r].size(); ++c) {
            bool x = false, y = false;
            const double p = a[r][c].toDouble(&x), q = b[r][c].toDouble(&y);
            if (a[r][c] != b[r][c] && !(x && y && std::fabs(p - q) <= 1e-13 * std::max(std::fabs(p), std::fabs(q))))
                return false;
        }
    }
    return true;
}

// The same cells, or the same Oracle error (ORA-nnnnn) on both.
inline bool sameAnswer(const Result &lite, const Result &other)
{
    if (lite.error.isEmpty() && other.error.isEmpty())
        return sameCells(lite.rows, other.rows);
    const qsizetype at = other.error.indexOf(QLatin1String("ORA-"));
    return !lite.error.isEmpty() && at >= 0 && lite.error.left(9) == other.error.mid(at, 9);
}

// The statement each expression is asked in: one answer per fixture row.
inline QString diffStatement(const QString &expression)
{
    return QStringLiteral("SELECT CLIENTE, %1 v FROM ZCLIENTES_T ORDER BY CLIENTE").arg(expression);
}

// Differences in which error an expression answers, not in what it
// computes; Oracle leaves the order of computing open as well:
// - two parts fail alone, on both engines, with different errors, and each
//   engine met another one first;
// - PostgreSQL computed a part made of constants while planning, though in a
//   branch (DECODE, NVL2) no row reaches, and the part fails alone on both;
// - PostgreSQL made NULL while planning what meets a constant NULL, so never
//   computed the part beside it that fails alone on both.
inline bool orderOfComputing(const QStringList &parts, const Result &lite, const Result &other,
                             const std::function<Result(const QString &)> &runLite,
                             const std::function<Result(const QString &)> &runOther)
{
    static const QRegularExpression column(QStringLiteral("\\b(SALDO|ALTA|NOMBRE|ESTADO|CLIENTE)\\b"));
    const qsizetype at = other.error.indexOf(QLatin1String("ORA-"));
    if (at < 0) {
        const bool allNull = std::all_of(other.rows.cbegin(), other.rows.cend(),
                                         [](const QStringList &r) { return r.last() == QLatin1String("<null>"); });
        if (lite.error.isEmpty() || !allNull)
            return false;
        bool nullPart = false, failing = false;
        for (const QString &part : parts) {
            const QString sql = diffStatement(part);
            if (!part.contains(column) && !nullPart) {
                const Result l = runLite(sql);
                nullPart = l.error.isEmpty() && !l.rows.isEmpty() && l.rows.first().last() == QLatin1String("<null>")
                           && runOther(sql).rows == l.rows;
            }
            failing = failing
                      || (runLite(sql).error.left(9) == lite.error.left(9)
                          && runOther(sql).error.contains(lite.error.left(9)));
        }
        return nullPart && failing;
    }
    const QString codes[] = {lite.error.left(9), other.error.mid(at, 9)};
    bool found[2] = {lite.error.isEmpty(), false};
    for (const QString &part : parts) {
        if (lite.error.isEmpty() && part.contains(column))
            continue;
        const QString sql = diffStatement(part);
        const QString l = runLite(sql).error.left(9);
        for (int i = 0; i < 2; ++i)
            if (!found[i] && l == codes[i] && runOther(sql).error.contains(codes[i]))
                found[i] = true;
    }
    return found[0] && found[1];
}

// Both answers side by side, for a report of a difference.
inline QString describe(const QString &expression, const Result &lite, const Result &other, const QString &pgSql)
{
    QStringList l, o;
    for (const QStringList &r : lite.rows)
        l << r.join(QLatin1String(" | "));
    for (const QStringList &r : other.rows)
        o << r.join(QLatin1String(" | "));
    return QStringLiteral("%1\n  SQLite:     %2%3\n  PostgreSQL: %4%5\n  sql: %6")
        .arg(expression, lite.error, l.join(QLatin1String("; ")), other.error, o.join(QLatin1String("; ")), pgSql);
}

} // namespace dialecttest
