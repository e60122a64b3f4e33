#include "server/schema/oraclescript.h"
#include "server/sql/dialect.h"
#include "server/sql/dialect_lexer.h"
#include "server/core/oraerror.h"
#include "common/sqlscanner.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <deque>
#include <optional>

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
        st = Statement();
        st.backend = skipTrivia();
        if (m_i >= m_s.size())
            return false;
        st.number = ++m_count;
        st.line = m_line;
        const qsizetype start = m_i;
        st.text = QStringView(m_s).mid(start); // until its end is found, for the errors
        // PostgreSQL's own statements: a trigger is CREATE FUNCTION with a
        // body between dollar quotes, and CREATE TRIGGER has no END.
        const bool postgres = st.backend == QLatin1String("postgresql");
        sql::Scanner scanner(m_s, postgres ? sql::Lexicon::Postgres : sql::Lexicon::Oracle, m_i);
        std::optional<bool> trigger;
        if (postgres)
            trigger = false;
        QStringView lastWord;
        while (!scanner.atEnd()) {
            const sql::Token t = take(scanner, st);
            const QStringView text = scanner.text(t);
            if (t.kind == sql::TokenKind::Symbol && text == QLatin1String(";")) {
                if (!trigger)
                    trigger = startsTrigger(m_s.mid(start, qMin<qsizetype>(t.begin - start, 64)));
                if (!*trigger || lastWord.compare(QLatin1String("END"), Qt::CaseInsensitive) == 0) {
                    st.text = QStringView(m_s).mid(start, t.begin - start).trimmed();
                    return true;
                }
            }
            if (!t.trivia())
                lastWord = t.kind == sql::TokenKind::Word ? text : QStringView();
        }
        st.text = QStringView(m_s).mid(start).trimmed();
        fail(st, QStringLiteral("la sentencia no termina en ';'"));
    }

private:
    // The next token, its lines counted; one the script ends inside fails
    // the statement.
    sql::Token take(sql::Scanner &scanner, const Statement &st)
    {
        const sql::Token t = scanner.next();
        const QStringView text = scanner.text(t);
        m_i = t.end;
        m_line += int(text.count(QLatin1Char('\n')));
        if (t.closed)
            return t;
        if (t.kind == sql::TokenKind::Comment)
            fail(st, QStringLiteral("un comentario /* no se cierra"));
        if (t.kind == sql::TokenKind::QuotedName)
            fail(st, QStringLiteral("un nombre entre comillas no se cierra"));
        if (text.startsWith(QLatin1Char('$')))
            fail(st, QStringLiteral("un texto entre %1 no se cierra").arg(text.left(text.indexOf(QLatin1Char('$'), 1) + 1)));
        fail(st, QStringLiteral("un literal no se cierra"));
    }

    // Passes the blanks and comments before a statement; the backend named
    // by the last "--@name" line among them.
    QString skipTrivia()
    {
        static const QRegularExpression directive(QStringLiteral("^--@(\\w+)\\s*$"));
        QString tag;
        sql::Scanner scanner(m_s, sql::Lexicon::Oracle, m_i);
        for (sql::Scanner ahead = scanner; !ahead.atEnd() && ahead.next().trivia(); ahead = scanner) {
            Statement where;
            where.line = m_line;
            where.text = QStringView(m_s).mid(m_i);
            const sql::Token t = take(scanner, where);
            const auto m = directive.match(scanner.text(t));
            if (t.kind == sql::TokenKind::Comment && m.hasMatch())
                tag = m.captured(1).toLower();
        }
        return tag;
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
                bad(ora::text(ora::kInvalidDatatype, QStringLiteral("columna %1").arg(column)));
            bool ok = false;
            const int v = num->text.toInt(&ok);
            if (!ok || v < 0)
                bad(ora::text(ora::kInvalidDatatype, QStringLiteral("columna %1").arg(column)));
            out << QString::number(v);
        }
        if (out.size() < min || out.size() > max)
            bad(ora::text(ora::kInvalidDatatype, QStringLiteral("columna %1").arg(column)));
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
    bad(QString::fromLatin1(ora::kInvalidDatatype)
        + QStringLiteral(": %1 (columna %2; se admiten VARCHAR2(n), NUMBER, NUMBER(p), NUMBER(p,s), DATE y BLOB)")
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
                bad(ora::text(ora::kOnePrimaryKey, name));
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
                bad(ora::text(ora::kColumnCountMismatch, name));
            t.foreignKeys.push_back({pool.keep(name), pool.keep(cols), pool.keep(parent), pool.keep(parentCols)});
        } else if (r.takeWord("CHECK")) {
            const Node &g = r.group("la condición");
            const QString condition = str(g.kids).trimmed();
            if (condition.isEmpty())
                bad(ora::text(ora::kMissingExpression, name));
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

// ---- running ------------------------------------------------------------

class Script
{
public:
    Script(ScriptTarget &target, const QString &fileBase) : m_target(target), m_base(fileBase) {}

    void run(const Statement &st)
    {
        if (!st.backend.isEmpty()) {
            if (st.backend == m_target.backend()) {
                flush();
                m_target.native(st.text.toString());
            }
            return;
        }
        if (st.text.startsWith(QLatin1String("CREATE"), Qt::CaseInsensitive)
            || st.text.startsWith(QLatin1String("DROP"), Qt::CaseInsensitive)) {
            if (const auto created = readCreateSequence(st.text.toString())) {
                flush();
                m_target.createSequence(*created);
                return;
            }
            if (const auto dropped = readDropSequence(st.text.toString())) {
                flush();
                m_target.dropSequence(*dropped);
                return;
            }
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
            bad(QString::fromLatin1(ora::kInvalidIdentifier).arg(column.toUpper()));
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
            bad(ora::text(ora::kMissingExpression, QStringLiteral("vista %1").arg(name)));
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

    ScriptTarget &m_target;
    QString m_base;
    std::vector<schemadef::Table> m_pending;
    Pool m_pool;
    Statement m_batch;
    bool m_batchFailed = false;
};

} // namespace

void runOracleScript(ScriptTarget &target, const QString &text, const QString &fileBase)
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

} // namespace vorel::server
