#include "server/sql/dialect_lexer.h"
#include "common/sqlscanner.h"
#include "server/core/oraerror.h"

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

std::vector<size_t> significant(const Seq &seq)
{
    std::vector<size_t> out;
    for (size_t i = 0; i < seq.size(); ++i)
        if (!seq[i].trivia())
            out.push_back(i);
    return out;
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

constexpr size_t kMaxDepth = 1000;

// The scanner's token as the translator's node; what Oracle refuses to read
// is refused in its words.
Node node(const sql::Scanner &s, const sql::Token &t)
{
    const QString text = s.text(t).toString();
    switch (t.kind) {
    case sql::TokenKind::Space: return Node{Tok::Space, text, {}};
    case sql::TokenKind::Word: return Node{Tok::Word, text, {}};
    case sql::TokenKind::Number: return Node{Tok::Number, text, {}};
    case sql::TokenKind::Comment:
        if (!t.closed)
            throw OraError(QString::fromLatin1(ora::kCommentNotEnded));
        return Node{Tok::Comment, text, {}};
    case sql::TokenKind::String:
        if (!t.closed)
            throw OraError(QString::fromLatin1(ora::kQuoteNotEnded));
        return Node{Tok::String, text, {}};
    case sql::TokenKind::QuotedName:
        if (!t.closed)
            throw OraError(QString::fromLatin1(ora::kMissingDoubleQuote));
        return Node{Tok::QuotedIdent, text, {}};
    case sql::TokenKind::Symbol: break;
    }
    if (text == QLatin1String(","))
        return Node{Tok::Comma, text, {}};
    if (text == QLatin1String("."))
        return Node{Tok::Dot, text, {}};
    if (text == QLatin1String(";"))
        return Node{Tok::Semicolon, text, {}};
    if (text.size() == 2 || QStringLiteral("=<>+-*/%|!^:@?&").contains(text))
        return Node{Tok::Op, text, {}};
    throw OraError(QString::fromLatin1(ora::kInvalidCharacter));
}

} // namespace

Seq parse(const QString &sql)
{
    sql::Scanner scanner(sql);
    std::vector<Seq> stack(1);
    while (!scanner.atEnd()) {
        const sql::Token t = scanner.next();
        const QStringView text = scanner.text(t);
        if (t.kind == sql::TokenKind::Symbol && text == QLatin1String("(")) {
            // Every rewrite recurses into the groups, so the depth must stay
            // far from what a session thread's stack holds. SQLite's own
            // parser gives up on a tenth of this depth, with this answer.
            if (stack.size() > kMaxDepth)
                throw OraError(ora::text(ora::kInvalidStatement, QStringLiteral("parser stack overflow")));
            stack.emplace_back();
        } else if (t.kind == sql::TokenKind::Symbol && text == QLatin1String(")")) {
            if (stack.size() == 1)
                throw OraError(QString::fromLatin1(ora::kNotProperlyEnded));
            Node g{Tok::Group, QString(), std::move(stack.back())};
            stack.pop_back();
            stack.back().push_back(std::move(g));
        } else {
            stack.back().push_back(node(scanner, t));
        }
    }
    if (stack.size() != 1)
        throw OraError(QString::fromLatin1(ora::kMissingRightParenthesis));
    return std::move(stack.front());
}

} // namespace vorel::server::dialect
