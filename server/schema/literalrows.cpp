#include "server/schema/literalrows.h"

namespace vorel::server {

bool LiteralRows::read()
{
    if (!readTarget() || !word(u"VALUES"))
        return false;
    do {
        if (!punct(u'('))
            return false;
        int n = 0;
        do {
            Value v;
            if (!value(v))
                return false;
            m_values.push_back(std::move(v));
            ++n;
        } while (punct(u','));
        if (!punct(u')') || n != m_columns.size())
            return false;
    } while (punct(u','));
    skipBlanks();
    return m_i == m_s.size();
}

bool LiteralRows::readTarget()
{
    if (!word(u"INSERT") || !word(u"INTO"))
        return false;
    m_table = name();
    if (m_table.isEmpty())
        return false;
    if (peekIs(u'.')) {
        if (m_table.compare(QLatin1String("VOREL"), Qt::CaseInsensitive) != 0)
            return false;
        ++m_i;
        m_table = name();
        if (m_table.isEmpty())
            return false;
    }
    if (!punct(u'('))
        return false;
    do {
        const QString c = name();
        if (c.isEmpty())
            return false;
        m_columns << c;
    } while (punct(u','));
    return punct(u')');
}

QString LiteralRows::insertSql() const
{
    QStringList marks;
    for (int i = 1; i <= m_columns.size(); ++i)
        marks << QStringLiteral("?%1").arg(i);
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(m_table, m_columns.join(QLatin1String(", ")), marks.join(QLatin1String(", ")));
}

void LiteralRows::skipBlanks()
{
    while (m_i < m_s.size() && m_s[m_i].isSpace())
        ++m_i;
}

bool LiteralRows::peekIs(char16_t c)
{
    skipBlanks();
    return m_i < m_s.size() && m_s[m_i] == c;
}

bool LiteralRows::punct(char16_t c)
{
    if (!peekIs(c))
        return false;
    ++m_i;
    return true;
}

bool LiteralRows::wordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$' || c == u'#';
}

QString LiteralRows::name()
{
    skipBlanks();
    const qsizetype start = m_i;
    if (m_i >= m_s.size() || !(m_s[m_i].isLetter() || m_s[m_i] == u'_'))
        return {};
    while (m_i < m_s.size() && wordChar(m_s[m_i]))
        ++m_i;
    return m_s.mid(start, m_i - start).toString();
}

bool LiteralRows::word(QStringView w)
{
    skipBlanks();
    const qsizetype start = m_i;
    const QString n = name();
    if (n.compare(w, Qt::CaseInsensitive) == 0)
        return true;
    m_i = start;
    return false;
}

bool LiteralRows::string(QStringView &out, const char *append)
{
    if (!peekIs(u'\''))
        return false;
    const qsizetype start = ++m_i;
    bool doubled = false;
    for (;;) {
        const qsizetype close = m_s.indexOf(u'\'', m_i);
        if (close < 0)
            return false;
        m_i = close + 1;
        if (m_i < m_s.size() && m_s[m_i] == u'\'') {
            doubled = true;
            ++m_i;
            continue;
        }
        break;
    }
    out = m_s.mid(start, m_i - 1 - start);
    if (doubled || append) {
        QString own = out.toString();
        if (doubled)
            own.replace(QLatin1String("''"), QLatin1String("'"));
        if (append)
            own += QLatin1String(append);
        m_own.push_back(std::move(own));
        out = m_own.back();
    }
    return true;
}

bool LiteralRows::value(Value &v)
{
    skipBlanks();
    if (m_i >= m_s.size())
        return false;
    const QChar c = m_s[m_i];
    if (c == u'\'' || (c.isLetter() && peekWord(u"CHR")))
        return text(v);
    if (c.isLetter()) {
        if (word(u"NULL"))
            return true;
        if (!word(u"DATE") && !word(u"TIMESTAMP"))
            return false;
        const qsizetype at = m_i;
        QStringView date;
        if (!string(date) || date.isEmpty())
            return false;
        if (date.size() == 10 && date[4] == u'-' && date[7] == u'-') {
            m_i = at;
            string(date, " 00:00:00");
        }
        v.text = date;
        v.kind = Value::Text;
        return true;
    }
    return number(v);
}

bool LiteralRows::peekWord(QStringView w)
{
    const qsizetype start = m_i;
    const bool found = word(w);
    m_i = start;
    return found;
}

bool LiteralRows::text(Value &v)
{
    QString joined;
    bool several = false;
    for (;;) {
        skipBlanks();
        QStringView piece;
        QString code;
        if (word(u"CHR")) {
            if (!punct(u'('))
                return false;
            skipBlanks();
            const qsizetype start = m_i;
            while (m_i < m_s.size() && m_s[m_i].isDigit())
                ++m_i;
            const int n = m_s.mid(start, m_i - start).toInt();
            if (n < 1 || n > 127 || !punct(u')'))
                return false;
            code = QChar(n);
            piece = code;
        } else if (!string(piece)) {
            return false;
        }
        skipBlanks();
        const bool more = m_i + 1 < m_s.size() && m_s[m_i] == u'|' && m_s[m_i + 1] == u'|';
        if (!more && !several) {
            if (!code.isEmpty()) {
                m_own.push_back(code);
                piece = m_own.back();
            }
            v.text = piece;
            v.kind = piece.isEmpty() ? Value::Null : Value::Text;
            return true;
        }
        joined += piece;
        several = true;
        if (!more)
            break;
        m_i += 2;
    }
    m_own.push_back(std::move(joined));
    v.text = m_own.back();
    v.kind = v.text.isEmpty() ? Value::Null : Value::Text;
    return true;
}

bool LiteralRows::number(Value &v)
{
    const qsizetype start = m_i;
    if (m_s[m_i] == u'-' || m_s[m_i] == u'+')
        ++m_i;
    bool digits = false, real = false;
    while (m_i < m_s.size() && m_s[m_i].isDigit())
        ++m_i, digits = true;
    if (m_i < m_s.size() && m_s[m_i] == u'.') {
        real = true;
        ++m_i;
        while (m_i < m_s.size() && m_s[m_i].isDigit())
            ++m_i, digits = true;
    }
    if (!digits)
        return false;
    if (m_i < m_s.size() && (m_s[m_i] == u'e' || m_s[m_i] == u'E')) {
        real = true;
        ++m_i;
        if (m_i < m_s.size() && (m_s[m_i] == u'-' || m_s[m_i] == u'+'))
            ++m_i;
        if (m_i >= m_s.size() || !m_s[m_i].isDigit())
            return false;
        while (m_i < m_s.size() && m_s[m_i].isDigit())
            ++m_i;
    }
    if (m_i < m_s.size() && wordChar(m_s[m_i]))
        return false;
    const QStringView text = m_s.mid(start, m_i - start);
    bool ok = false;
    if (!real) {
        v.integer = text.toLongLong(&ok);
        v.kind = Value::Integer;
    } else {
        v.real = text.toDouble(&ok);
        v.kind = Value::Real;
    }
    return ok; // out of range: as the translator would have it
}

} // namespace vorel::server
