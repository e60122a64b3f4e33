#include "server/schema/literalrows.h"

namespace vorel::server {

using sql::Token;
using sql::TokenKind;

bool LiteralRows::read()
{
    if (!readTarget() || !word(u"VALUES"))
        return false;
    do {
        if (!symbol(u"("))
            return false;
        int n = 0;
        do {
            Value v;
            if (!value(v))
                return false;
            m_values.push_back(std::move(v));
            ++n;
        } while (symbol(u","));
        if (!symbol(u")") || n != m_columns.size())
            return false;
    } while (symbol(u","));
    const Token rest = next(m_scan);
    return rest.end == rest.begin;
}

bool LiteralRows::readTarget()
{
    if (!word(u"INSERT") || !word(u"INTO"))
        return false;
    m_table = name();
    if (m_table.isEmpty())
        return false;
    if (symbol(u".")) {
        if (m_table.compare(QLatin1String("VOREL"), Qt::CaseInsensitive) != 0)
            return false;
        m_table = name();
        if (m_table.isEmpty())
            return false;
    }
    if (!symbol(u"("))
        return false;
    do {
        const QString c = name();
        if (c.isEmpty())
            return false;
        m_columns << c;
    } while (symbol(u","));
    return symbol(u")");
}

QString LiteralRows::insertSql() const
{
    QStringList marks;
    for (int i = 1; i <= m_columns.size(); ++i)
        marks << QStringLiteral("?%1").arg(i);
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(m_table, m_columns.join(QLatin1String(", ")), marks.join(QLatin1String(", ")));
}

Token LiteralRows::next(sql::Scanner &scanner)
{
    while (!scanner.atEnd()) {
        const Token t = scanner.next();
        if (t.kind != TokenKind::Space)
            return t;
    }
    return Token{TokenKind::Space, scanner.position(), scanner.position()};
}

LiteralRows::Ahead LiteralRows::ahead() const
{
    Ahead a{Token{}, m_scan};
    a.token = next(a.past);
    return a;
}

bool LiteralRows::take(const Ahead &a, bool taken)
{
    if (taken)
        m_scan = a.past;
    return taken;
}

bool LiteralRows::isWord(const Ahead &a, QStringView w)
{
    return a.token.kind == TokenKind::Word && a.text().compare(w, Qt::CaseInsensitive) == 0;
}

bool LiteralRows::symbol(QStringView s)
{
    const Ahead a = ahead();
    return take(a, a.token.kind == TokenKind::Symbol && a.text() == s);
}

bool LiteralRows::word(QStringView w)
{
    const Ahead a = ahead();
    return take(a, isWord(a, w));
}

bool LiteralRows::peekWord(QStringView w) const { return isWord(ahead(), w); }

QString LiteralRows::name()
{
    const Ahead a = ahead();
    const QStringView text = a.text();
    if (!take(a, a.token.kind == TokenKind::Word && (text[0].isLetter() || text[0] == u'_')))
        return {};
    return text.toString();
}

bool LiteralRows::string(QStringView &out, const char *append)
{
    const Ahead a = ahead();
    if (!take(a, a.token.kind == TokenKind::String && a.token.closed))
        return false;
    out = a.text().sliced(1, a.token.end - a.token.begin - 2);
    const bool doubled = out.contains(u'\'');
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
    const TokenKind kind = ahead().token.kind;
    if (kind == TokenKind::String || peekWord(u"CHR"))
        return text(v);
    if (word(u"NULL"))
        return true;
    if (kind == TokenKind::Word) {
        if (!word(u"DATE") && !word(u"TIMESTAMP"))
            return false;
        QStringView date;
        if (!string(date) || date.isEmpty())
            return false;
        if (date.size() == 10 && date[4] == u'-' && date[7] == u'-') {
            m_own.push_back(date.toString() + QLatin1String(" 00:00:00"));
            date = m_own.back();
        }
        v.text = date;
        v.kind = Value::Text;
        return true;
    }
    return number(v);
}

bool LiteralRows::text(Value &v)
{
    QString joined;
    bool several = false;
    for (;;) {
        QStringView piece;
        QString code;
        if (word(u"CHR")) {
            if (!symbol(u"("))
                return false;
            const Token t = next(m_scan);
            bool ok = false;
            const int n = t.kind == TokenKind::Number ? m_scan.text(t).toInt(&ok) : 0;
            if (!ok || n < 1 || n > 127 || !symbol(u")"))
                return false;
            code = QChar(n);
            piece = code;
        } else if (!string(piece)) {
            return false;
        }
        const bool more = symbol(u"||");
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
    }
    m_own.push_back(std::move(joined));
    v.text = m_own.back();
    v.kind = v.text.isEmpty() ? Value::Null : Value::Text;
    return true;
}

bool LiteralRows::number(Value &v)
{
    Token t = next(m_scan);
    qsizetype start = t.begin;
    // A sign belongs to the number only written right before it.
    if (t.kind == TokenKind::Symbol && (m_scan.text(t) == u"-" || m_scan.text(t) == u"+")) {
        const qsizetype sign = t.end;
        t = next(m_scan);
        if (t.begin != sign)
            return false;
    }
    if (t.kind != TokenKind::Number)
        return false;
    QString text = m_scan.text(Token{TokenKind::Number, start, t.end}).toString();
    if (text.startsWith(u'+'))
        text.remove(0, 1);
    bool ok = false;
    if (!text.contains(u'.') && !text.contains(u'e', Qt::CaseInsensitive)) {
        v.integer = text.toLongLong(&ok);
        v.kind = Value::Integer;
    } else {
        v.real = text.toDouble(&ok);
        v.kind = Value::Real;
    }
    return ok; // out of range: as the translator would have it
}

} // namespace vorel::server
