#include "server/sql/dialect_lexer.h"
#include "server/core/oraerror.h"
#include "server/core/oramessages.h"

namespace vorel::server::dialect {

bool Node::isWord(const char *upperWord) const
{
    return kind == Tok::Word && text.compare(QLatin1String(upperWord), Qt::CaseInsensitive) == 0;
}

QString Node::str() const
{
    if (kind != Tok::Group)
        return text;
    return QLatin1Char('(') + dialect::str(kids) + QLatin1Char(')');
}

QString str(const Seq &seq)
{
    return str(seq, 0, seq.size());
}

QString str(const Seq &seq, size_t from, size_t to)
{
    QString out;
    for (size_t i = from; i < to && i < seq.size(); ++i)
        out += seq[i].str();
    return out;
}

namespace {

bool wordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$') || c == QLatin1Char('#');
}

struct Lexer {
    const QString &s;
    qsizetype i = 0;

    [[noreturn]] void fail(const char *message) { throw OraError(QString::fromLatin1(message)); }

    Node next()
    {
        const qsizetype start = i;
        const QChar c = s[i];
        auto take = [&](Tok kind) { return Node{kind, s.mid(start, i - start), {}}; };
        if (c.isSpace()) {
            while (i < s.size() && s[i].isSpace())
                ++i;
            return take(Tok::Space);
        }
        if (c == QLatin1Char('-') && i + 1 < s.size() && s[i + 1] == QLatin1Char('-')) {
            while (i < s.size() && s[i] != QLatin1Char('\n'))
                ++i;
            return take(Tok::Comment);
        }
        if (c == QLatin1Char('/') && i + 1 < s.size() && s[i + 1] == QLatin1Char('*')) {
            const qsizetype end = s.indexOf(QLatin1String("*/"), i + 2);
            if (end < 0)
                fail("ORA-01742: comment not properly terminated");
            i = end + 2;
            return take(Tok::Comment);
        }
        if (c == QLatin1Char('\'')) {
            ++i;
            for (;;) {
                if (i >= s.size())
                    fail("ORA-01756: quoted string not properly terminated");
                if (s[i] == QLatin1Char('\'')) {
                    if (i + 1 < s.size() && s[i + 1] == QLatin1Char('\'')) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            return take(Tok::String);
        }
        if (c == QLatin1Char('"')) {
            const qsizetype end = s.indexOf(QLatin1Char('"'), i + 1);
            if (end < 0)
                fail("ORA-01740: missing double quote in identifier");
            i = end + 1;
            return take(Tok::QuotedIdent);
        }
        if (c.isDigit() || (c == QLatin1Char('.') && i + 1 < s.size() && s[i + 1].isDigit())) {
            while (i < s.size() && s[i].isDigit())
                ++i;
            if (i < s.size() && s[i] == QLatin1Char('.')) {
                ++i;
                while (i < s.size() && s[i].isDigit())
                    ++i;
            }
            if (i + 1 < s.size() && (s[i] == QLatin1Char('e') || s[i] == QLatin1Char('E'))
                && (s[i + 1].isDigit()
                    || ((s[i + 1] == QLatin1Char('+') || s[i + 1] == QLatin1Char('-')) && i + 2 < s.size()
                        && s[i + 2].isDigit()))) {
                i += 2;
                while (i < s.size() && s[i].isDigit())
                    ++i;
            }
            return take(Tok::Number);
        }
        if (wordChar(c)) {
            while (i < s.size() && wordChar(s[i]))
                ++i;
            return take(Tok::Word);
        }
        ++i;
        switch (c.unicode()) {
        case ',': return take(Tok::Comma);
        case '.': return take(Tok::Dot);
        case ';': return take(Tok::Semicolon);
        default: break;
        }
        static const char *const twoChar[] = {"||", "<=", ">=", "<>", "!=", "^=", "=>"};
        if (i < s.size()) {
            const QString pair = s.mid(start, 2);
            for (const char *op : twoChar)
                if (pair == QLatin1String(op)) {
                    ++i;
                    return take(Tok::Op);
                }
        }
        if (QStringLiteral("=<>+-*/%|!^:@?&").contains(c))
            return take(Tok::Op);
        fail("ORA-00911: invalid character");
    }
};

constexpr size_t kMaxDepth = 1000;

} // namespace

Seq parse(const QString &sql)
{
    Lexer lx{sql};
    std::vector<Seq> stack(1);
    while (lx.i < sql.size()) {
        const QChar c = sql[lx.i];
        if (c == QLatin1Char('(')) {
            // Every rewrite recurses into the groups, so the depth must stay
            // far from what a session thread's stack holds. SQLite's own
            // parser gives up on a tenth of this depth, with this answer.
            if (stack.size() > kMaxDepth)
                throw OraError(QStringLiteral("ORA-00900: invalid SQL statement (parser stack overflow)"));
            ++lx.i;
            stack.emplace_back();
            continue;
        }
        if (c == QLatin1Char(')')) {
            ++lx.i;
            if (stack.size() == 1)
                throw OraError(QString::fromLatin1(ora::kNotProperlyEnded));
            Node g{Tok::Group, QString(), std::move(stack.back())};
            stack.pop_back();
            stack.back().push_back(std::move(g));
            continue;
        }
        stack.back().push_back(lx.next());
    }
    if (stack.size() != 1)
        throw OraError(QStringLiteral("ORA-00907: missing right parenthesis"));
    return std::move(stack.front());
}

} // namespace vorel::server::dialect
