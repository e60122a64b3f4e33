#include "common/sqlscanner.h"

#include <QString>

namespace vorel::sql {

bool Scanner::wordStart(QChar c) const
{
    if (m_lexicon == Lexicon::Postgres)
        return c.isLetter() || c == QLatin1Char('_');
    return wordChar(c);
}

bool Scanner::wordChar(QChar c) const
{
    if (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$'))
        return true;
    // V$SESSION and SYS#NAME are Oracle's names; to PostgreSQL # is an operator.
    return c == QLatin1Char('#') && m_lexicon == Lexicon::Oracle;
}

Token Scanner::quoted(QChar quote, bool backslashEscapes, TokenKind kind)
{
    Token t{kind, m_i, m_s.size(), false};
    qsizetype i = m_i + (backslashEscapes ? 2 : 1);
    while (i < m_s.size()) {
        const QChar c = m_s[i];
        if (backslashEscapes && c == QLatin1Char('\\')) {
            i += 2;
        } else if (c != quote) {
            ++i;
        } else if (at(i + 1) == quote) {
            i += 2; // the quote doubled is the quote itself
        } else {
            t.end = i + 1;
            t.closed = true;
            break;
        }
    }
    m_i = t.end;
    return t;
}

// $$ ... $$ or $tag$ ... $tag$; false when the $ opens none.
bool Scanner::dollarQuoted(Token *token)
{
    qsizetype i = m_i + 1;
    if (at(i).isLetter() || at(i) == QLatin1Char('_'))
        while (at(i).isLetterOrNumber() || at(i) == QLatin1Char('_'))
            ++i;
    if (at(i) != QLatin1Char('$'))
        return false;
    const QStringView tag = m_s.sliced(m_i, i + 1 - m_i);
    const qsizetype close = m_s.indexOf(tag, i + 1);
    *token = Token{TokenKind::String, m_i, close < 0 ? m_s.size() : close + tag.size(), close >= 0};
    m_i = token->end;
    return true;
}

Token Scanner::blockComment()
{
    // PostgreSQL nests them; Oracle ends one at the first */.
    const bool nests = m_lexicon == Lexicon::Postgres;
    Token t{TokenKind::Comment, m_i, m_s.size(), false};
    int depth = 1;
    qsizetype i = m_i + 2;
    while (i + 1 < m_s.size()) {
        if (m_s[i] == QLatin1Char('*') && m_s[i + 1] == QLatin1Char('/')) {
            i += 2;
            if (--depth == 0) {
                t.end = i;
                t.closed = true;
                break;
            }
        } else if (nests && m_s[i] == QLatin1Char('/') && m_s[i + 1] == QLatin1Char('*')) {
            i += 2;
            ++depth;
        } else {
            ++i;
        }
    }
    m_i = t.end;
    return t;
}

Token Scanner::next()
{
    const qsizetype start = m_i;
    const QChar c = m_s[m_i];
    const bool postgres = m_lexicon == Lexicon::Postgres;
    auto upTo = [&](TokenKind kind) {
        return Token{kind, start, m_i, true};
    };
    if (c.isSpace()) {
        while (m_i < m_s.size() && m_s[m_i].isSpace())
            ++m_i;
        return upTo(TokenKind::Space);
    }
    if (c == QLatin1Char('-') && at(m_i + 1) == QLatin1Char('-')) {
        // A CR ends PostgreSQL's comment as a LF does.
        while (m_i < m_s.size() && m_s[m_i] != QLatin1Char('\n') && !(postgres && m_s[m_i] == QLatin1Char('\r')))
            ++m_i;
        return upTo(TokenKind::Comment);
    }
    if (c == QLatin1Char('/') && at(m_i + 1) == QLatin1Char('*'))
        return blockComment();
    if (c == QLatin1Char('\''))
        return quoted(c, false, TokenKind::String);
    if (c == QLatin1Char('"'))
        return quoted(c, false, TokenKind::QuotedName);
    if (postgres && (c == QLatin1Char('E') || c == QLatin1Char('e')) && at(m_i + 1) == QLatin1Char('\''))
        return quoted(QLatin1Char('\''), true, TokenKind::String);
    Token dollar;
    if (postgres && c == QLatin1Char('$') && dollarQuoted(&dollar))
        return dollar;
    if (c.isDigit() || (c == QLatin1Char('.') && at(m_i + 1).isDigit())) {
        while (at(m_i).isDigit())
            ++m_i;
        if (at(m_i) == QLatin1Char('.')) {
            ++m_i;
            while (at(m_i).isDigit())
                ++m_i;
        }
        const QChar sign = at(m_i + 1);
        if ((at(m_i) == QLatin1Char('e') || at(m_i) == QLatin1Char('E'))
            && (sign.isDigit()
                || ((sign == QLatin1Char('+') || sign == QLatin1Char('-')) && at(m_i + 2).isDigit()))) {
            m_i += 2;
            while (at(m_i).isDigit())
                ++m_i;
        }
        return upTo(TokenKind::Number);
    }
    if (wordStart(c)) {
        while (m_i < m_s.size() && wordChar(m_s[m_i]))
            ++m_i;
        return upTo(TokenKind::Word);
    }
    static const char *const twoChar[] = {"||", "<=", ">=", "<>", "!=", "^=", "=>"};
    const QStringView pair = m_s.sliced(m_i, qMin<qsizetype>(2, m_s.size() - m_i));
    m_i += 1;
    for (const char *op : twoChar)
        if (pair == QLatin1String(op)) {
            m_i += 1;
            break;
        }
    return upTo(TokenKind::Symbol);
}

Token Scanner::nextSignificant()
{
    while (!atEnd()) {
        const Token t = next();
        if (!t.trivia())
            return t;
    }
    return Token{TokenKind::Space, m_i, m_i, true};
}

qsizetype skipTrivia(QStringView sql, qsizetype from, Lexicon lexicon)
{
    return Scanner(sql, lexicon, from).nextSignificant().begin;
}

QString leadingKeyword(QStringView sql, Lexicon lexicon)
{
    Scanner s(sql, lexicon);
    Token t = s.nextSignificant();
    while (t.kind == TokenKind::Symbol && s.text(t) == QLatin1String("("))
        t = s.nextSignificant();
    return t.kind == TokenKind::Word ? s.text(t).toString().toUpper() : QString();
}

bool onlyTrivia(QStringView sql, Lexicon lexicon)
{
    Scanner s(sql, lexicon);
    for (Token t = s.nextSignificant(); t.end > t.begin; t = s.nextSignificant())
        if (t.kind != TokenKind::Symbol || s.text(t) != QLatin1String(";"))
            return false;
    return true;
}

bool hasSecondStatement(QStringView sql, Lexicon lexicon)
{
    Scanner s(sql, lexicon);
    while (!s.atEnd()) {
        const Token t = s.next();
        if (!t.closed)
            return false; // the engine refuses the text as it stands
        if (t.kind == TokenKind::Symbol && s.text(t) == QLatin1String(";"))
            return !onlyTrivia(sql.sliced(t.end), lexicon);
    }
    return false;
}

} // namespace vorel::sql
