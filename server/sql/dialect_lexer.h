#pragma once
// Tokens and the parenthesis tree the Oracle translator rewrites.
#include <QString>
#include <vector>

namespace vorel::server::dialect {

enum class Tok {
    Space,       // blanks and line ends, kept as written
    Comment,     // -- to end of line, /* ... */
    Word,        // identifier or keyword (letters, digits, _ $ #)
    QuotedIdent, // "Name"
    String,      // 'text' with '' inside
    Number,      // 12, 1.5, .5, 1e3
    Op,          // || = <> != <= >= < > + - * / and the like
    Comma,
    Dot,
    Semicolon,
    Group,       // ( ... ): the node holds the inner nodes
};

struct Node {
    Tok kind = Tok::Space;
    QString text;            // source text; empty for groups
    std::vector<Node> kids;  // inner nodes of a group

    bool trivia() const { return kind == Tok::Space || kind == Tok::Comment; }
    bool isWord(const char *upperWord) const;
    bool isOp(const char *op) const { return kind == Tok::Op && text == QLatin1String(op); }
    QString str() const;
};

using Seq = std::vector<Node>;

// Splits `sql` into nodes, parentheses nested into groups. Throws OraError
// for an unterminated string or comment and for unbalanced parentheses.
Seq parse(const QString &sql);

QString str(const Seq &seq);
QString str(const Seq &seq, size_t from, size_t to); // [from, to)
// Indexes of the significant (non-blank, non-comment) nodes of `seq`.
std::vector<size_t> significant(const Seq &seq);

inline Node word(const QString &text) { return Node{Tok::Word, text, {}}; }
inline Node space(const QString &text = QStringLiteral(" ")) { return Node{Tok::Space, text, {}}; }

} // namespace vorel::server::dialect
