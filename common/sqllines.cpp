#include "common/sqllines.h"

namespace vorel {

QString TSqlLines::Text() const
{
    QString text;
    for (const QString &line : m_lines) {
        text += line;
        text += QLatin1String("\r\n");
    }
    return text;
}

qsizetype SkipSqlBlank(const QString &s, qsizetype i)
{
    while (i < s.size()) {
        if (s[i].isSpace()) {
            ++i;
        } else if (s.mid(i, 2) == QLatin1String("--")) {
            while (i < s.size() && s[i] != QLatin1Char('\n'))
                ++i;
        } else if (s.mid(i, 2) == QLatin1String("/*")) {
            const qsizetype end = s.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? s.size() : end + 2;
        } else {
            break;
        }
    }
    return i;
}

QString LeadingKeyword(const QString &sql)
{
    qsizetype i = SkipSqlBlank(sql, 0);
    while (i < sql.size() && sql[i] == QLatin1Char('('))
        i = SkipSqlBlank(sql, i + 1);
    qsizetype j = i;
    while (j < sql.size() && (sql[j].isLetter() || sql[j] == QLatin1Char('_')))
        ++j;
    return sql.mid(i, j - i).toUpper();
}

} // namespace vorel
