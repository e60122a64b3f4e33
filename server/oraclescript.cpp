#include "server/oraclescript.h"
#include "server/dialect.h"
#include "server/dialect_lexer.h"
#include "server/oraerrors.h"
#include "server/pgschema.h"
#include "server/schema.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <sqlite3.h>

#include <algorithm>
#include <deque>

namespace vorel::server {

using namespace dialect;

namespace {

// A blob larger than this is a mistake in the script, not an image.
constexpr qint64 kMaxFileBytes = 256 * 1024 * 1024;

struct Statement {
    QStringView text;  // into the script, without the closing ";"
    int number = 0;    // from 1
    int line = 0;      // where it starts, from 1
    QString backend;   // from a "--@name" line right before it; empty: every backend
};

[[noreturn]] void bad(const QString &message)
{
    throw OraError(message);
}

bool startsTrigger(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^CREATE\\s+((TEMP|TEMPORARY)\\s+)?TRIGGER\\b"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re.match(text).hasMatch();
}

// Splits the script at the semicolons outside literals and comments. A
// trigger's body holds semicolons of its own: it ends at "END;".
class Splitter
{
public:
    explicit Splitter(const QString &s) : m_s(s) {}

    // The next statement; false at the end of the script.
    bool next(Statement &st)
    {
        QString tag;
        skipTrivia(&tag);
        if (m_i >= m_s.size())
            return false;
        st = Statement();
        st.number = ++m_count;
        st.line = m_line;
        st.backend = tag;
        tag.clear();
        const qsizetype start = m_i;
        st.text = QStringView(m_s).mid(start); // until its end is found, for the errors
        qsizetype end = -1;
        QStringView lastWord;
        bool trigger = false;
        // PostgreSQL's own statements: a trigger is CREATE FUNCTION with a
        // body between dollar quotes, and CREATE TRIGGER has no END.
        const bool postgres = st.backend == QLatin1String("postgresql");
        bool checkedTrigger = postgres;
        while (m_i < m_s.size()) {
            const QChar c = m_s[m_i];
            if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
                quoted(c, st);
                lastWord = {};
            } else if (postgres && c == QLatin1Char('$') && !afterWord() && dollarQuoted(st)) {
                lastWord = {};
            } else if (c == QLatin1Char('-') && peek(1) == QLatin1Char('-')) {
                lineComment();
            } else if (c == QLatin1Char('/') && peek(1) == QLatin1Char('*')) {
                blockComment(st);
            } else if (c == QLatin1Char(';')) {
                if (!checkedTrigger) {
                    trigger = startsTrigger(m_s.mid(start, qMin<qsizetype>(m_i - start, 64)));
                    checkedTrigger = true;
                }
                if (!trigger || lastWord.compare(QLatin1String("END"), Qt::CaseInsensitive) == 0) {
                    end = m_i++;
                    break;
                }
                lastWord = {};
                ++m_i;
            } else if (c.isLetterOrNumber() || c == QLatin1Char('_')) {
                const qsizetype w = m_i;
                while (m_i < m_s.size() && (m_s[m_i].isLetterOrNumber() || m_s[m_i] == QLatin1Char('_')))
                    ++m_i;
                lastWord = QStringView(m_s).mid(w, m_i - w);
            } else {
                if (c == QLatin1Char('\n'))
                    ++m_line;
                if (!c.isSpace())
                    lastWord = {};
                ++m_i;
            }
        }
        if (end < 0) {
            st.text = QStringView(m_s).mid(start).trimmed();
            fail(st, QStringLiteral("la sentencia no termina en ';'"));
        }
        st.text = QStringView(m_s).mid(start, end - start).trimmed();
        return true;
    }

private:
    QChar peek(qsizetype ahead) const
    {
        return m_i + ahead < m_s.size() ? m_s[m_i + ahead] : QChar();
    }

    void skipTrivia(QString *tag)
    {
        static const QRegularExpression directive(QStringLiteral("^--@(\\w+)\\s*$"));
        while (m_i < m_s.size()) {
            const QChar c = m_s[m_i];
            if (c == QLatin1Char('\n')) {
                ++m_line;
                ++m_i;
            } else if (c.isSpace()) {
                ++m_i;
            } else if (c == QLatin1Char('-') && peek(1) == QLatin1Char('-')) {
                const qsizetype start = m_i;
                lineComment();
                const auto m = directive.match(m_s.mid(start, m_i - start));
                if (m.hasMatch())
                    *tag = m.captured(1).toLower();
            } else if (c == QLatin1Char('/') && peek(1) == QLatin1Char('*')) {
                Statement where;
                where.line = m_line;
                where.text = QStringView(m_s).mid(m_i);
                blockComment(where);
            } else {
                return;
            }
        }
    }

    // Whether the character before the current one belongs to a name (a $
    // there is part of it, as in V$SESSION).
    bool afterWord() const
    {
        if (m_i == 0)
            return false;
        const QChar p = m_s[m_i - 1];
        return p.isLetterOrNumber() || p == QLatin1Char('_') || p == QLatin1Char('$');
    }

    // $$ ... $$ or $tag$ ... $tag$; false when the $ opens no quote.
    bool dollarQuoted(const Statement &st)
    {
        static const QRegularExpression open(QStringLiteral("^\\$([A-Za-z_][A-Za-z_0-9]*)?\\$"));
        const auto m = open.match(QStringView(m_s).mid(m_i, 66));
        if (!m.hasMatch())
            return false;
        const QString tag = m.captured(0);
        const qsizetype close = m_s.indexOf(tag, m_i + tag.size());
        if (close < 0)
            fail(st, QStringLiteral("un texto entre %1 no se cierra").arg(tag));
        m_line += int(QStringView(m_s).mid(m_i, close - m_i).count(QLatin1Char('\n')));
        m_i = close + tag.size();
        return true;
    }

    void lineComment()
    {
        while (m_i < m_s.size() && m_s[m_i] != QLatin1Char('\n'))
            ++m_i;
    }

    void blockComment(const Statement &st)
    {
        const qsizetype end = m_s.indexOf(QLatin1String("*/"), m_i + 2);
        if (end < 0)
            fail(st, QStringLiteral("un comentario /* no se cierra"));
        m_line += int(QStringView(m_s).mid(m_i, end - m_i).count(QLatin1Char('\n')));
        m_i = end + 2;
    }

    // 'text' and "Name", their quote doubled inside.
    void quoted(QChar quote, const Statement &st)
    {
        qsizetype i = m_i + 1;
        for (;;) {
            const qsizetype close = m_s.indexOf(quote, i);
            if (close < 0) {
                fail(st, quote == QLatin1Char('\'') ? QStringLiteral("un literal no se cierra")
                                                    : QStringLiteral("un nombre entre comillas no se cierra"));
            }
            if (close + 1 < m_s.size() && m_s[close + 1] == quote) {
                i = close + 2;
                continue;
            }
            m_line += int(QStringView(m_s).mid(m_i, close - m_i).count(QLatin1Char('\n')));
            m_i = close + 1;
            return;
        }
    }

public:
    [[noreturn]] static void fail(const Statement &st, const QString &message);

private:
    const QString &m_s;
    qsizetype m_i = 0;
    int m_line = 1;
    int m_count = 0;
};

// Long statements (thousands of rows) are named by their start.
QString shortened(QStringView text)
{
    constexpr int kMax = 240;
    if (text.size() <= kMax)
        return text.toString();
    return text.left(kMax).toString() + QStringLiteral(" ...");
}

void Splitter::fail(const Statement &st, const QString &message)
{
    bad(QStringLiteral("%1\nLínea %2: %3").arg(message).arg(st.line).arg(shortened(st.text)));
}

// ---- reading the significant nodes of one statement ------------------------

class Reader
{
public:
    explicit Reader(const Seq &seq)
    {
        for (const Node &n : seq)
            if (!n.trivia())
                m_nodes.push_back(&n);
    }
    bool atEnd() const { return m_pos >= m_nodes.size(); }
    bool takeDot()
    {
        if (!peek() || peek()->kind != Tok::Dot)
            return false;
        ++m_pos;
        return true;
    }
    const Node *peek(size_t ahead = 0) const
    {
        return m_pos + ahead < m_nodes.size() ? m_nodes[m_pos + ahead] : nullptr;
    }
    bool peekWord(const char *w, size_t ahead = 0) const
    {
        const Node *n = peek(ahead);
        return n && n->isWord(w);
    }
    bool takeWord(const char *w)
    {
        if (!peekWord(w))
            return false;
        ++m_pos;
        return true;
    }
    void expectWord(const char *w)
    {
        if (!takeWord(w))
            bad(QStringLiteral("se esperaba %1%2").arg(QLatin1String(w), found()));
    }
    // A name, "vorel." in front of it dropped.
    QString name(const char *what)
    {
        const Node *n = peek();
        if (n && n->isWord("VOREL") && peek(1) && peek(1)->kind == Tok::Dot)
            m_pos += 2, n = peek();
        if (!n || !(n->kind == Tok::Word || n->kind == Tok::QuotedIdent))
            bad(QStringLiteral("se esperaba %1%2").arg(QLatin1String(what), found()));
        ++m_pos;
        return n->kind == Tok::QuotedIdent ? n->text.mid(1, n->text.size() - 2) : n->text;
    }
    const Node &group(const char *what)
    {
        const Node *n = peek();
        if (!n || n->kind != Tok::Group)
            bad(QStringLiteral("se esperaba %1 entre paréntesis%2").arg(QLatin1String(what), found()));
        ++m_pos;
        return *n;
    }
    QString text()
    {
        const Node *n = peek();
        if (!n || n->kind != Tok::String)
            bad(QStringLiteral("se esperaba un literal entre comillas%1").arg(found()));
        ++m_pos;
        return n->text.mid(1, n->text.size() - 2).replace(QLatin1String("''"), QLatin1String("'"));
    }
    void expectEnd()
    {
        if (!atEnd())
            bad(QStringLiteral("sobra texto%1").arg(found()));
    }
    QString found() const
    {
        const Node *n = peek();
        return n ? QStringLiteral(" y se encontró %1").arg(n->str().left(40)) : QStringLiteral(" al final");
    }

private:
    std::vector<const Node *> m_nodes;
    size_t m_pos = 0;
};

// The items of a parenthesised list, split at its top-level commas.
std::vector<Seq> items(const Node &group)
{
    std::vector<Seq> out(1);
    for (const Node &n : group.kids) {
        if (n.kind == Tok::Comma)
            out.emplace_back();
        else
            out.back().push_back(n);
    }
    return out;
}

QStringList nameList(const Node &group, const char *what)
{
    QStringList names;
    for (const Seq &item : items(group)) {
        Reader r(item);
        names << r.name(what);
        r.expectEnd();
    }
    return names;
}

// ---- the business tables ------------------------------------------------

// schemadef describes tables with C strings; they live as long as the batch.
class Pool
{
public:
    const char *keep(const QString &s)
    {
        m_texts.push_back(s.toUtf8());
        return m_texts.back().constData();
    }
    std::vector<const char *> keep(const QStringList &list)
    {
        std::vector<const char *> out;
        for (const QString &s : list)
            out.push_back(keep(s));
        return out;
    }

private:
    std::deque<QByteArray> m_texts;
};

// The types of the dictionary, written as Oracle writes them.
QString columnType(Reader &r, const QString &column)
{
    const Node *n = r.peek();
    const QString word = n && n->kind == Tok::Word ? n->text.toUpper() : QString();
    auto numbers = [&](int min, int max) {
        QStringList out;
        const Node &g = r.group("la precisión");
        for (const Seq &item : items(g)) {
            Reader ir(item);
            const Node *num = ir.peek();
            if (!num || num->kind != Tok::Number || ir.peek(1))
                bad(QStringLiteral("ORA-00902: invalid datatype (columna %1)").arg(column));
            bool ok = false;
            const int v = num->text.toInt(&ok);
            if (!ok || v < 0)
                bad(QStringLiteral("ORA-00902: invalid datatype (columna %1)").arg(column));
            out << QString::number(v);
        }
        if (out.size() < min || out.size() > max)
            bad(QStringLiteral("ORA-00902: invalid datatype (columna %1)").arg(column));
        return out.join(QLatin1Char(','));
    };
    if (word == QLatin1String("VARCHAR2")) {
        r.takeWord("VARCHAR2");
        return QStringLiteral("VARCHAR2(%1)").arg(numbers(1, 1));
    }
    if (word == QLatin1String("NUMBER")) {
        r.takeWord("NUMBER");
        if (r.peek() && r.peek()->kind == Tok::Group)
            return QStringLiteral("NUMBER(%1)").arg(numbers(1, 2));
        return QStringLiteral("NUMBER");
    }
    if (word == QLatin1String("DATE") || word == QLatin1String("BLOB")) {
        r.takeWord(qPrintable(word));
        return word;
    }
    bad(QStringLiteral("ORA-00902: invalid datatype: %1 (columna %2; se admiten VARCHAR2(n), NUMBER, "
                       "NUMBER(p), NUMBER(p,s), DATE y BLOB)")
            .arg(n ? n->str().left(40) : QStringLiteral("nada"), column));
}

void tableItem(const Seq &item, schemadef::Table &t, Pool &pool)
{
    Reader r(item);
    if (r.atEnd())
        bad(QStringLiteral("falta una columna o restricción entre dos comas"));
    static const char *const constraintWords[] = {"PRIMARY", "UNIQUE", "FOREIGN", "CHECK"};
    for (const char *w : constraintWords)
        if (r.peekWord(w))
            bad(QStringLiteral("restricción sin nombre (%1): escriba CONSTRAINT nombre delante").arg(QLatin1String(w)));
    if (r.takeWord("CONSTRAINT")) {
        const QString name = r.name("el nombre de la restricción");
        if (r.takeWord("PRIMARY")) {
            r.expectWord("KEY");
            if (t.primaryKey.name)
                bad(QStringLiteral("ORA-02260: table can have only one primary key (%1)").arg(name));
            t.primaryKey = {pool.keep(name), pool.keep(nameList(r.group("las columnas"), "una columna"))};
        } else if (r.takeWord("UNIQUE")) {
            t.uniqueKeys.push_back({pool.keep(name), pool.keep(nameList(r.group("las columnas"), "una columna"))});
        } else if (r.takeWord("FOREIGN")) {
            r.expectWord("KEY");
            const QStringList cols = nameList(r.group("las columnas"), "una columna");
            r.expectWord("REFERENCES");
            const QString parent = r.name("la tabla referida");
            const QStringList parentCols = nameList(r.group("las columnas referidas"), "una columna");
            if (cols.size() != parentCols.size())
                bad(QStringLiteral("ORA-02256: number of referencing columns must match referenced columns (%1)").arg(name));
            t.foreignKeys.push_back({pool.keep(name), pool.keep(cols), pool.keep(parent), pool.keep(parentCols)});
        } else if (r.takeWord("CHECK")) {
            const Node &g = r.group("la condición");
            const QString condition = str(g.kids).trimmed();
            if (condition.isEmpty())
                bad(QStringLiteral("ORA-00936: missing expression (%1)").arg(name));
            t.checks.push_back({pool.keep(name), pool.keep(condition)});
        } else {
            bad(QStringLiteral("se esperaba PRIMARY KEY, UNIQUE, FOREIGN KEY o CHECK%1").arg(r.found()));
        }
        r.expectEnd();
        return;
    }
    const QString column = r.name("el nombre de la columna");
    const QString type = columnType(r, column);
    bool notNull = false;
    if (r.takeWord("NOT")) {
        r.expectWord("NULL");
        notNull = true;
    } else {
        r.takeWord("NULL");
    }
    if (!r.atEnd())
        bad(QStringLiteral("columna %1: tras el tipo sólo cabe NOT NULL (las restricciones van aparte, con "
                           "nombre)%2").arg(column, r.found()));
    t.columns.push_back({pool.keep(column), pool.keep(type), notNull, ""});
}

schemadef::Table createTable(Reader &r, Pool &pool)
{
    schemadef::Table t{};
    t.comment = "";
    t.name = pool.keep(r.name("el nombre de la tabla"));
    const Node &defs = r.group("las columnas");
    r.expectEnd();
    for (const Seq &item : items(defs))
        tableItem(item, t, pool);
    if (t.columns.empty())
        bad(QStringLiteral("la tabla %1 no tiene columnas").arg(QString::fromUtf8(t.name)));
    return t;
}

// ---- views ------------------------------------------------------------

// The stored text of a view is one line however the script lays it out.
void oneLine(Seq &seq)
{
    Seq out;
    out.reserve(seq.size());
    for (Node &n : seq) {
        if (n.kind == Tok::Group)
            oneLine(n.kids);
        if (n.trivia()) {
            if (!out.empty() && !out.back().trivia())
                out.push_back(space());
            continue;
        }
        out.push_back(std::move(n));
    }
    while (!out.empty() && out.back().trivia())
        out.pop_back();
    seq = std::move(out);
}

// ---- rows written as literals ----------------------------------------------

// INSERT INTO t (columns) VALUES (...), (...) holding nothing but literals is
// most of a data script. It runs as one prepared statement a row, the values
// bound, instead of through the translator: the same values, read as the
// translator would have them read ('' is NULL, DATE 'YYYY-MM-DD' the text
// 'YYYY-MM-DD 00:00:00', TIMESTAMP 'x' the text 'x'). Anything else (a
// function, an operator, a comment) leaves the statement to the translator.
class LiteralRows
{
public:
    struct Value {
        enum Kind { Null, Integer, Real, Text } kind = Null;
        qint64 integer = 0;
        double real = 0;
        QStringView text; // into the script, or into the rows' own texts
    };

    explicit LiteralRows(QStringView s) : m_s(s) {}

    bool read()
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
        if (!punct(u')') || !word(u"VALUES"))
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

    QString insertSql() const
    {
        QStringList marks;
        for (int i = 1; i <= m_columns.size(); ++i)
            marks << QStringLiteral("?%1").arg(i);
        return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(m_table, m_columns.join(QLatin1String(", ")), marks.join(QLatin1String(", ")));
    }
    int columns() const { return int(m_columns.size()); }
    const QString &table() const { return m_table; }
    const QStringList &columnNames() const { return m_columns; }
    const std::vector<Value> &values() const { return m_values; }

private:
    void skipBlanks()
    {
        while (m_i < m_s.size() && m_s[m_i].isSpace())
            ++m_i;
    }
    bool peekIs(char16_t c)
    {
        skipBlanks();
        return m_i < m_s.size() && m_s[m_i] == c;
    }
    bool punct(char16_t c)
    {
        if (!peekIs(c))
            return false;
        ++m_i;
        return true;
    }
    static bool wordChar(QChar c)
    {
        return c.isLetterOrNumber() || c == u'_' || c == u'$' || c == u'#';
    }
    QString name()
    {
        skipBlanks();
        const qsizetype start = m_i;
        if (m_i >= m_s.size() || !(m_s[m_i].isLetter() || m_s[m_i] == u'_'))
            return {};
        while (m_i < m_s.size() && wordChar(m_s[m_i]))
            ++m_i;
        return m_s.mid(start, m_i - start).toString();
    }
    bool word(QStringView w)
    {
        skipBlanks();
        const qsizetype start = m_i;
        const QString n = name();
        if (n.compare(w, Qt::CaseInsensitive) == 0)
            return true;
        m_i = start;
        return false;
    }
    // The text of a literal; a copy only when it holds a doubled quote.
    bool string(QStringView &out, const char *append = nullptr)
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
    bool value(Value &v)
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
    bool peekWord(QStringView w)
    {
        const qsizetype start = m_i;
        const bool found = word(w);
        m_i = start;
        return found;
    }

    // 'text', CHR(n) for n below 128 (a line break, a carriage return), and
    // their concatenations with ||, where '' is NULL and adds nothing.
    bool text(Value &v)
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

    bool number(Value &v)
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

    QStringView m_s;
    qsizetype m_i = 0;
    QString m_table;
    QStringList m_columns;
    std::vector<Value> m_values;
    std::deque<QString> m_own;
};

// ---- running ------------------------------------------------------------

// What a backend does with the statements the script reads.
class Target
{
public:
    virtual ~Target() = default;
    // The name after "--@" of the statements this backend runs as written.
    virtual QLatin1String backend() const = 0;
    virtual void native(const QString &text) = 0;
    virtual void createTables(const std::vector<schemadef::Table> &tables) = 0;
    virtual void commentTable(const QString &table, const QString &text) = 0;
    virtual void commentColumn(const QString &table, const QString &column, const QString &text) = 0;
    // `select`: the query after AS, one line, in Oracle's dialect.
    virtual void createView(const QString &name, const QString &select) = 0;
    // The bind marker of the n-th FILE('...') of a statement, from 1.
    virtual QString marker(int n) const = 0;
    virtual void insertRows(const LiteralRows &rows) = 0;
    virtual void statement(const QString &oracle, const std::vector<QByteArray> &blobs) = 0;
};

class SqliteTarget : public Target
{
public:
    explicit SqliteTarget(sqlite3 *db) : m_db(db) {}

    QLatin1String backend() const override { return QLatin1String("sqlite"); }
    void native(const QString &text) override { schemadef::exec(m_db, text); }
    void createTables(const std::vector<schemadef::Table> &tables) override { schemadef::createTables(m_db, tables); }

    void commentTable(const QString &table, const QString &text) override
    {
        update("UPDATE TDICTABLAS SET DTAB_Coment = ?1 WHERE DTAB_Tabla = upper(?2)", text, table, QString(),
               QStringLiteral("ORA-00942: table or view does not exist (%1)").arg(table));
    }

    void commentColumn(const QString &table, const QString &column, const QString &text) override
    {
        update("UPDATE TDICCOLUM SET DCOL_Coment = ?1 WHERE DCOL_Tabla = upper(?2) AND DCOL_Col = upper(?3)", text,
               table, column, QStringLiteral("ORA-00904: \"%1\": invalid identifier").arg(column.toUpper()));
    }

    void createView(const QString &name, const QString &oracleSelect) override
    {
        const QString select = translateOracle(oracleSelect, schemaLookup(m_db));
        schemadef::exec(m_db, QStringLiteral("CREATE VIEW %1 AS %2").arg(name, select));
        schemadef::registerView(m_db, name, QString());
    }

    QString marker(int n) const override { return QStringLiteral("?%1").arg(n); }

    void insertRows(const LiteralRows &rows) override
    {
        const QByteArray sql = rows.insertSql().toUtf8();
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &st, nullptr) != SQLITE_OK)
            failSqlite();
        const auto &values = rows.values();
        const int width = rows.columns();
        for (size_t row = 0; row < values.size() / size_t(width); ++row) {
            sqlite3_reset(st);
            for (int c = 0; c < width; ++c) {
                const LiteralRows::Value &v = values[row * size_t(width) + size_t(c)];
                switch (v.kind) {
                case LiteralRows::Value::Null: sqlite3_bind_null(st, c + 1); break;
                case LiteralRows::Value::Integer: sqlite3_bind_int64(st, c + 1, v.integer); break;
                case LiteralRows::Value::Real: sqlite3_bind_double(st, c + 1, v.real); break;
                case LiteralRows::Value::Text:
                    sqlite3_bind_text16(st, c + 1, v.text.utf16(), int(v.text.size() * 2), SQLITE_STATIC);
                    break;
                }
            }
            if (sqlite3_step(st) != SQLITE_DONE) {
                const QString message =
                    oracleMessage(m_db, sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
                sqlite3_finalize(st);
                bad(QStringLiteral("%1\n(fila %2 de la sentencia)").arg(message).arg(row + 1));
            }
        }
        sqlite3_finalize(st);
    }

    void statement(const QString &oracle, const std::vector<QByteArray> &blobs) override
    {
        const QByteArray sql = translateOracle(oracle, schemaLookup(m_db)).toUtf8();
        sqlite3_stmt *st = nullptr;
        const char *tail = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &st, &tail) != SQLITE_OK)
            failSqlite();
        if (!st)
            return;
        for (size_t i = 0; i < blobs.size(); ++i)
            sqlite3_bind_blob64(st, int(i + 1), blobs[i].constData(), sqlite3_uint64(blobs[i].size()), SQLITE_STATIC);
        int rc;
        do
            rc = sqlite3_step(st);
        while (rc == SQLITE_ROW);
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE)
            failSqlite();
    }

private:
    void update(const char *sql, const QString &text, const QString &a, const QString &b, const QString &missing)
    {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &st, nullptr) != SQLITE_OK)
            failSqlite();
        const QByteArray t = text.toUtf8(), x = a.toUtf8(), y = b.toUtf8();
        sqlite3_bind_text(st, 1, t.constData(), int(t.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, x.constData(), int(x.size()), SQLITE_TRANSIENT);
        if (!b.isNull())
            sqlite3_bind_text(st, 3, y.constData(), int(y.size()), SQLITE_TRANSIENT);
        const int rc = sqlite3_step(st);
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE)
            failSqlite();
        if (sqlite3_changes(m_db) != 1)
            bad(missing);
    }

    [[noreturn]] void failSqlite()
    {
        throw OraError(oracleMessage(m_db, sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db))));
    }

    sqlite3 *m_db;
};

// The client's dialect as PostgreSQL runs it; the names of a view's columns
// stay unquoted, so that later statements find them folded.
QString forPostgres(pg::Connection &c, const QString &oracle)
{
    ColumnNaming naming;
    naming.asSqlite = false;
    return translateOracle(oracle, schemaLookup(c), vorel::server::Target::Postgres, naming);
}

class PostgresTarget : public Target
{
public:
    explicit PostgresTarget(pg::Connection &c) : m_c(c) {}
    ~PostgresTarget() override = default;

    QLatin1String backend() const override { return QLatin1String("postgresql"); }
    void native(const QString &text) override { pg::run(m_c, text); }

    void createTables(const std::vector<schemadef::Table> &tables) override
    {
        pg::createTables(m_c, tables);
        m_changed = true;
    }

    void commentTable(const QString &table, const QString &text) override
    {
        const pg::Result r = pg::run(m_c, QStringLiteral("SELECT relkind FROM pg_class WHERE oid = to_regclass($1)"),
                                     {table.toLower()});
        if (r.rows() == 0)
            bad(QStringLiteral("ORA-00942: table or view does not exist (%1)").arg(table));
        const QString kind = r.text(0, 0) == QLatin1String("v") ? QStringLiteral("VIEW") : QStringLiteral("TABLE");
        pg::run(m_c, QStringLiteral("COMMENT ON %1 %2 IS %3").arg(kind, table, pg::Connection::literal(text)));
        m_changed = true;
    }

    void commentColumn(const QString &table, const QString &column, const QString &text) override
    {
        const pg::Result r = pg::run(m_c, QStringLiteral("SELECT 1 FROM pg_attribute WHERE attrelid = to_regclass($1) "
                                                         "AND attname = $2 AND attnum > 0 AND NOT attisdropped"),
                                     {table.toLower(), column.toLower()});
        if (r.rows() == 0) {
            if (pg::run(m_c, QStringLiteral("SELECT to_regclass($1)"), {table.toLower()}).isNull(0, 0))
                bad(QStringLiteral("ORA-00942: table or view does not exist (%1)").arg(table));
            bad(QStringLiteral("ORA-00904: \"%1\": invalid identifier").arg(column.toUpper()));
        }
        pg::run(m_c, QStringLiteral("COMMENT ON COLUMN %1.%2 IS %3").arg(table, column, pg::Connection::literal(text)));
        m_changed = true;
    }

    void createView(const QString &name, const QString &select) override
    {
        pg::run(m_c, QStringLiteral("CREATE VIEW %1 AS %2").arg(name, forPostgres(m_c, select)));
        pg::recordSpelling(m_c, pg::selectListNames(select));
        m_changed = true;
    }

    QString marker(int n) const override { return QStringLiteral("$%1").arg(n); }

    // Many rows a statement, so that a data script is not a round trip a
    // row; a batch that fails is gone through row by row to name the row.
    void insertRows(const LiteralRows &rows) override
    {
        const auto &values = rows.values();
        const int width = rows.columns();
        const size_t count = values.size() / size_t(width);
        const size_t perBatch = std::max<size_t>(1, std::min<size_t>(1000, 30000 / size_t(width)));
        for (size_t first = 0; first < count; first += perBatch) {
            const size_t n = std::min(perBatch, count - first);
            pg::run(m_c, QStringLiteral("SAVEPOINT vorel_rows"));
            try {
                insert(rows, first, n);
            } catch (const OraError &e) {
                pg::run(m_c, QStringLiteral("ROLLBACK TO vorel_rows"));
                for (size_t row = first; row < first + n; ++row) {
                    try {
                        insert(rows, row, 1);
                    } catch (const OraError &one) {
                        bad(QStringLiteral("%1\n(fila %2 de la sentencia)").arg(one.message()).arg(row + 1));
                    }
                }
                bad(QStringLiteral("%1\n(filas %2 a %3 de la sentencia)").arg(e.message()).arg(first + 1).arg(first + n));
            }
            pg::run(m_c, QStringLiteral("RELEASE vorel_rows"));
        }
    }

    void statement(const QString &oracle, const std::vector<QByteArray> &blobs) override
    {
        QVariantList params;
        for (const QByteArray &b : blobs)
            params << QVariant(b);
        pg::run(m_c, forPostgres(m_c, oracle), params);
    }

    // Comments and tables show in the registry at the end of the script.
    bool changed() const { return m_changed; }

private:
    void insert(const LiteralRows &rows, size_t first, size_t n)
    {
        const int width = rows.columns();
        QStringList tuples;
        QVariantList params;
        for (size_t row = first; row < first + n; ++row) {
            QStringList marks;
            for (int c = 0; c < width; ++c) {
                const LiteralRows::Value &v = rows.values()[row * size_t(width) + size_t(c)];
                switch (v.kind) {
                case LiteralRows::Value::Null: params << QVariant(); break;
                case LiteralRows::Value::Integer: params << QVariant(v.integer); break;
                case LiteralRows::Value::Real: params << QVariant(v.real); break;
                case LiteralRows::Value::Text: params << QVariant(v.text.toString()); break;
                }
                marks << QStringLiteral("$%1").arg(params.size());
            }
            tuples << QLatin1Char('(') + marks.join(QLatin1String(", ")) + QLatin1Char(')');
        }
        pg::run(m_c, QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                         .arg(rows.table(), rows.columnNames().join(QLatin1String(", ")), tuples.join(QLatin1String(", "))),
                params);
    }

    pg::Connection &m_c;
    bool m_changed = false;
};

class Script
{
public:
    Script(Target &target, const QString &fileBase) : m_target(target), m_base(fileBase) {}

    void run(const Statement &st)
    {
        if (!st.backend.isEmpty()) {
            if (st.backend == m_target.backend()) {
                flush();
                m_target.native(st.text.toString());
            }
            return;
        }
        const bool ddl = st.text.startsWith(QLatin1String("CREATE"), Qt::CaseInsensitive)
                         || st.text.startsWith(QLatin1String("COMMENT"), Qt::CaseInsensitive);
        if (ddl) {
            const Seq seq = parse(st.text.toString());
            Reader r(seq);
            if (r.peekWord("CREATE") && r.peekWord("TABLE", 1)) {
                r.takeWord("CREATE"), r.takeWord("TABLE");
                m_pending.push_back(createTable(r, m_pool));
                if (m_pending.size() == 1)
                    m_batch = st;
                return;
            }
            if (r.peekWord("COMMENT")) {
                comment(r);
                return;
            }
            if (r.peekWord("CREATE") && r.peekWord("VIEW", 1)) {
                flush();
                view(st.text.toString());
                return;
            }
        }
        flush();
        statement(st.text);
    }

    // The tables read so far go in together: their foreign keys may point
    // at each other.
    void flush()
    {
        if (m_pending.empty())
            return;
        try {
            m_target.createTables(m_pending);
        } catch (const OraError &) {
            m_batchFailed = true;
            throw;
        }
        m_pending.clear();
        m_pool = Pool();
    }

    // The first CREATE TABLE of the tables that failed to go in together.
    const Statement *failedBatch() const { return m_batchFailed ? &m_batch : nullptr; }

private:
    schemadef::Table *pending(const QString &name)
    {
        for (schemadef::Table &t : m_pending)
            if (QString::fromUtf8(t.name).compare(name, Qt::CaseInsensitive) == 0)
                return &t;
        return nullptr;
    }

    void comment(Reader &r)
    {
        r.expectWord("COMMENT");
        r.expectWord("ON");
        if (r.takeWord("TABLE")) {
            const QString table = r.name("el nombre de la tabla");
            r.expectWord("IS");
            const QString text = r.text();
            r.expectEnd();
            if (schemadef::Table *t = pending(table)) {
                t->comment = m_pool.keep(text);
                return;
            }
            m_target.commentTable(table, text);
            return;
        }
        r.expectWord("COLUMN");
        const QString table = r.name("el nombre de la tabla");
        if (!r.takeDot())
            bad(QStringLiteral("se esperaba tabla.columna%1").arg(r.found()));
        const QString column = r.name("el nombre de la columna");
        r.expectWord("IS");
        const QString text = r.text();
        r.expectEnd();
        if (schemadef::Table *t = pending(table)) {
            for (schemadef::Column &c : t->columns)
                if (QString::fromUtf8(c.name).compare(column, Qt::CaseInsensitive) == 0) {
                    c.comment = m_pool.keep(text);
                    return;
                }
            bad(QStringLiteral("ORA-00904: \"%1\": invalid identifier").arg(column.toUpper()));
        }
        m_target.commentColumn(table, column, text);
    }

    void view(const QString &text)
    {
        Seq seq = parse(text);
        Reader r(seq);
        r.expectWord("CREATE");
        r.expectWord("VIEW");
        const QString name = r.name("el nombre de la vista");
        r.expectWord("AS");
        // The query is what follows AS.
        size_t at = 0, seen = 0;
        for (; at < seq.size(); ++at) {
            if (seq[at].trivia())
                continue;
            if (seq[at].isWord("AS") && seen >= 3)
                break;
            ++seen;
        }
        Seq query(seq.begin() + qsizetype(at) + 1, seq.end());
        oneLine(query);
        while (!query.empty() && query.front().trivia())
            query.erase(query.begin());
        if (query.empty())
            bad(QStringLiteral("ORA-00936: missing expression (vista %1)").arg(name));
        m_target.createView(name, str(query));
    }

    // FILE('name') becomes a numbered bind of the file's bytes.
    void files(Seq &seq, std::vector<QByteArray> &blobs)
    {
        for (size_t i = 0; i < seq.size(); ++i) {
            Node &n = seq[i];
            if (n.kind == Tok::Group) {
                files(n.kids, blobs);
                continue;
            }
            if (!n.isWord("FILE"))
                continue;
            size_t g = i + 1;
            while (g < seq.size() && seq[g].trivia())
                ++g;
            if (g >= seq.size() || seq[g].kind != Tok::Group)
                continue;
            Reader r(seq[g].kids);
            const Node *lit = r.peek();
            if (!lit || lit->kind != Tok::String || r.peek(1))
                bad(QStringLiteral("FILE lleva el nombre de un fichero entre comillas: FILE('imagenes/x.bmp')"));
            blobs.push_back(readFile(r.text()));
            n = word(m_target.marker(int(blobs.size())));
            seq.erase(seq.begin() + qsizetype(i) + 1, seq.begin() + qsizetype(g) + 1);
        }
    }

    QByteArray readFile(const QString &name)
    {
        if (name.isEmpty() || QDir::isAbsolutePath(name) || name.startsWith(QLatin1Char(':'))
            || name.split(QLatin1Char('/')).contains(QStringLiteral("..")) || name.contains(QLatin1Char('\\')))
            bad(QStringLiteral("FILE('%1'): el fichero se nombra relativo al guion, sin '..'").arg(name));
        QFile f(m_base + QLatin1Char('/') + name);
        if (!f.open(QIODevice::ReadOnly))
            bad(QStringLiteral("FILE('%1'): no se puede leer el fichero: %2").arg(name, f.errorString()));
        if (f.size() > kMaxFileBytes)
            bad(QStringLiteral("FILE('%1'): el fichero pasa de %2 MiB").arg(name).arg(kMaxFileBytes >> 20));
        QByteArray bytes = f.readAll();
        if (f.error() != QFileDevice::NoError)
            bad(QStringLiteral("FILE('%1'): no se puede leer el fichero: %2").arg(name, f.errorString()));
        return bytes;
    }

    bool literalRows(QStringView text)
    {
        if (!text.startsWith(QLatin1String("INSERT"), Qt::CaseInsensitive))
            return false;
        LiteralRows rows(text);
        if (!rows.read())
            return false;
        m_target.insertRows(rows);
        return true;
    }

    void statement(QStringView statementText)
    {
        if (literalRows(statementText))
            return;
        const QString text = statementText.toString();
        QString oracle = text;
        std::vector<QByteArray> blobs;
        if (text.contains(QLatin1String("FILE"), Qt::CaseInsensitive)) {
            Seq seq = parse(text);
            files(seq, blobs);
            oracle = str(seq);
        }
        m_target.statement(oracle, blobs);
    }

    Target &m_target;
    QString m_base;
    std::vector<schemadef::Table> m_pending;
    Pool m_pool;
    Statement m_batch;
    bool m_batchFailed = false;
};

// CHR(n) of the statements the translator runs, as the literal rows read it.
void chr(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const sqlite3_int64 n = sqlite3_value_int64(argv[0]);
    if (n < 1 || n > 127) {
        sqlite3_result_error(ctx, "ORA-01428: argument is out of range (CHR takes 1 to 127 here)", -1);
        return;
    }
    const char c = char(n);
    sqlite3_result_text(ctx, &c, 1, SQLITE_TRANSIENT);
}

// Runs every statement; the failing one is named in the error.
void runStatements(Target &target, const QString &text, const QString &fileBase)
{
    Splitter splitter(text);
    Script script(target, fileBase);
    Statement current;
    bool running = false;
    try {
        while (splitter.next(current)) {
            running = true;
            script.run(current);
            running = false;
        }
        script.flush();
    } catch (const OraError &e) {
        const Statement *failed = script.failedBatch();
        if (!failed && !running)
            throw; // the splitter names the place itself
        if (!failed)
            failed = &current;
        throw OraError(QStringLiteral("%1\nSentencia %2 (línea %3): %4")
                           .arg(e.message())
                           .arg(failed->number)
                           .arg(failed->line)
                           .arg(shortened(failed->text)));
    }
}

} // namespace

void runOracleScript(sqlite3 *db, const QString &text, const QString &fileBase)
{
    sqlite3_create_function_v2(db, "chr", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, chr, nullptr, nullptr,
                               nullptr);
    schemadef::exec(db, QStringLiteral("SAVEPOINT vorel_oracle_script"));
    SqliteTarget target(db);
    try {
        runStatements(target, text, fileBase);
        schemadef::exec(db, QStringLiteral("RELEASE vorel_oracle_script"));
    } catch (const OraError &) {
        sqlite3_exec(db, "ROLLBACK TO vorel_oracle_script; RELEASE vorel_oracle_script", nullptr, nullptr, nullptr);
        throw;
    }
}

void pg::runOracleScript(Connection &c, const QString &text, const QString &fileBase)
{
    Transaction tx(c);
    PostgresTarget target(c);
    runStatements(target, text, fileBase);
    if (target.changed())
        refreshRegistry(c);
    tx.commit();
}

} // namespace vorel::server

namespace vorel::server {

void fillDemo(sqlite3 *db)
{
    QFile script(QStringLiteral(":/demo/demo.sql"));
    if (!script.open(QIODevice::ReadOnly))
        throw OraError(QStringLiteral("the demo script is missing from the program"));
    runOracleScript(db, QString::fromUtf8(script.readAll()), QStringLiteral(":/demo"));
}

} // namespace vorel::server
