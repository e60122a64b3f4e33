#pragma once
// The one reading of SQL text into tokens that every check and rewrite of a
// statement starts from: where strings, quoted names and comments begin and
// end, so that nothing inside them is taken for a keyword, a ";" or a call.
#include "common/vorelglobal.h"

#include <QStringView>

namespace vorel::sql {

// Whose rules cut the text. The client writes Oracle's SQL; PostgreSQL reads
// more into the same characters (E'..' strings with backslash escapes,
// $tag$ quoting, comments nested and ended by a CR), and a check of what
// PostgreSQL will run must read it the way PostgreSQL does.
enum class Lexicon { Oracle, Postgres };

enum class TokenKind {
    Space,      // blanks and line ends
    Comment,    // -- to the line end, /* ... */
    Word,       // a name or keyword
    QuotedName, // "Name"
    String,     // 'text', and in PostgreSQL's reading E'text' and $tag$text$tag$
    Number,     // 12, 1.5, .5, 1e3
    Symbol,     // one character, or an operator of two (||, <=, >=, <>, !=, ^=, =>)
};

struct Token {
    TokenKind kind = TokenKind::Space;
    qsizetype begin = 0;
    qsizetype end = 0;  // past the token
    bool closed = true; // false: a string, name or comment that the text ends inside
    bool trivia() const { return kind == TokenKind::Space || kind == TokenKind::Comment; }
};

class VOREL_CORE_EXPORT Scanner
{
public:
    explicit Scanner(QStringView text, Lexicon lexicon = Lexicon::Oracle, qsizetype from = 0)
        : m_s(text), m_lexicon(lexicon), m_i(from)
    {
    }

    bool atEnd() const { return m_i >= m_s.size(); }
    qsizetype position() const { return m_i; }
    // The token at the position; not at the end.
    Token next();
    // The next token that is neither blank nor comment; a Space of no
    // length at the end of the text.
    Token nextSignificant();
    QStringView text(const Token &t) const { return m_s.sliced(t.begin, t.end - t.begin); }
    // The character at `i`, or a null one past the end.
    QChar at(qsizetype i) const { return i >= 0 && i < m_s.size() ? m_s[i] : QChar(); }

private:
    bool wordStart(QChar c) const;
    bool wordChar(QChar c) const;
    Token quoted(QChar quote, bool backslashEscapes, TokenKind kind);
    bool dollarQuoted(Token *token);
    Token blockComment();

    QStringView m_s;
    Lexicon m_lexicon;
    qsizetype m_i;
};

// The position of the first token from `from` on that is neither blank nor
// comment.
VOREL_CORE_EXPORT qsizetype skipTrivia(QStringView sql, qsizetype from, Lexicon lexicon = Lexicon::Oracle);
// The statement's first word in upper case, blanks, comments and opening
// parentheses passed over ("SELECT", "INSERT", ...).
VOREL_CORE_EXPORT QString leadingKeyword(QStringView sql, Lexicon lexicon = Lexicon::Oracle);
// True when `sql` holds nothing but blanks, comments and semicolons.
VOREL_CORE_EXPORT bool onlyTrivia(QStringView sql, Lexicon lexicon = Lexicon::Oracle);
// True when something other than blanks, comments and semicolons follows the
// first semicolon outside strings, names and comments.
VOREL_CORE_EXPORT bool hasSecondStatement(QStringView sql, Lexicon lexicon = Lexicon::Oracle);

} // namespace vorel::sql
