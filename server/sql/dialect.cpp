// Oracle's SQL as the client writes it, rewritten for SQLite. The text is
// split into tokens and a tree of parenthesised groups (dialect_lexer); each
// rewrite below works on one group at a time and recurses into the groups it
// holds, so subqueries get the same treatment as the statement around them.
#include "server/sql/dialect.h"
#include "server/sql/dialect_lexer.h"
#include "server/sql/sqltraits.h"
#include "server/core/oraerror.h"

#include <QHash>
#include <algorithm>
#include <QMap>
#include <cmath>
#include <QSet>
#include <set>
#include <iterator>
#include <limits>
#include <map>
#include <optional>

namespace vorel::server {

using namespace dialect;

namespace {

// ---- helpers over one sequence ------------------------------------------

bool isKeyword(const Node &n)
{
    static const QSet<QString> keywords = {
        QStringLiteral("SELECT"), QStringLiteral("FROM"), QStringLiteral("WHERE"), QStringLiteral("AND"),
        QStringLiteral("OR"), QStringLiteral("NOT"), QStringLiteral("IN"), QStringLiteral("EXISTS"),
        QStringLiteral("IS"), QStringLiteral("NULL"), QStringLiteral("LIKE"), QStringLiteral("BETWEEN"),
        QStringLiteral("AS"), QStringLiteral("ON"), QStringLiteral("BY"), QStringLiteral("ORDER"),
        QStringLiteral("GROUP"), QStringLiteral("HAVING"), QStringLiteral("UNION"), QStringLiteral("ALL"),
        QStringLiteral("MINUS"), QStringLiteral("INTERSECT"), QStringLiteral("EXCEPT"), QStringLiteral("VALUES"),
        QStringLiteral("SET"), QStringLiteral("INTO"), QStringLiteral("CASE"), QStringLiteral("WHEN"),
        QStringLiteral("THEN"), QStringLiteral("ELSE"), QStringLiteral("END"), QStringLiteral("DISTINCT"),
        QStringLiteral("ASC"), QStringLiteral("DESC"), QStringLiteral("JOIN"), QStringLiteral("LEFT"),
        QStringLiteral("INNER"), QStringLiteral("OUTER"), QStringLiteral("ANY"), QStringLiteral("SOME"),
        QStringLiteral("PRIOR"), QStringLiteral("UPDATE"), QStringLiteral("DELETE"), QStringLiteral("INSERT"),
        QStringLiteral("TABLE"), QStringLiteral("NULLS"), QStringLiteral("ESCAPE"), QStringLiteral("WITH"),
    };
    return n.kind == Tok::Word && keywords.contains(n.text.toUpper());
}

// A node that can end an operand: a name, a literal, a group, END of CASE.
bool endsOperand(const Node &n)
{
    switch (n.kind) {
    case Tok::Group:
    case Tok::String:
    case Tok::Number:
    case Tok::QuotedIdent:
        return true;
    case Tok::Word:
        return !isKeyword(n) || n.isWord("END") || n.isWord("NULL");
    default:
        return false;
    }
}

bool isName(const Node &n)
{
    return (n.kind == Tok::Word && !isKeyword(n)) || n.kind == Tok::QuotedIdent;
}

// The (+) marker: a group holding nothing but "+".
bool isOuterMarker(const Node &n)
{
    if (n.kind != Tok::Group)
        return false;
    const auto sig = significant(n.kids);
    return sig.size() == 1 && n.kids[sig[0]].isOp("+");
}

// Each node of `after` written after the node of `seq` its index names
// (ascending), in one pass: inserting them one by one would cost the
// statement's length per insertion.
void insertAfter(Seq &seq, std::vector<std::pair<size_t, Node>> after)
{
    if (after.empty())
        return;
    Seq out;
    out.reserve(seq.size() + after.size());
    size_t next = 0;
    for (size_t i = 0; i < seq.size(); ++i) {
        out.push_back(std::move(seq[i]));
        while (next < after.size() && after[next].first == i)
            out.push_back(std::move(after[next++].second));
    }
    seq = std::move(out);
}

template <typename F>
void forEachGroup(Seq &seq, F &&f)
{
    for (Node &n : seq)
        if (n.kind == Tok::Group)
            f(n.kids);
}

// ---- token rewrites -----------------------------------------------------

// vorel.TABLE, Vorel."TABLE": the schema is the database itself.
void stripSchema(Seq &seq)
{
    forEachGroup(seq, stripSchema);
    const auto sig = significant(seq);
    std::vector<std::pair<size_t, size_t>> cuts; // seq ranges [owner, name) to drop
    for (size_t k = 0; k + 2 < sig.size(); ++k) {
        const Node &n = seq[sig[k]];
        const bool owner = n.isWord("VOREL") || (n.kind == Tok::QuotedIdent && n.text == QLatin1String("\"VOREL\""));
        if (!owner || seq[sig[k + 1]].kind != Tok::Dot || !isName(seq[sig[k + 2]]))
            continue;
        if (k > 0 && seq[sig[k - 1]].kind == Tok::Dot)
            continue;
        cuts.emplace_back(sig[k], sig[k + 2]);
    }
    // One pass: erasing each cut in place costs the length of the statement
    // per prefix.
    if (cuts.empty())
        return;
    Seq kept;
    kept.reserve(seq.size());
    size_t from = 0;
    for (const auto &[first, second] : cuts) {
        std::move(seq.begin() + qsizetype(from), seq.begin() + qsizetype(first), std::back_inserter(kept));
        from = second;
    }
    std::move(seq.begin() + qsizetype(from), seq.end(), std::back_inserter(kept));
    seq = std::move(kept);
}

// Words and literals Oracle reads differently: '' is NULL, a whole number
// divides into a fraction, sysdate is the
// time of the statement, MINUS is EXCEPT, ^= is !=, FROM DUAL is no table,
// DATE 'YYYY-MM-DD' is a text in the stored form (for PostgreSQL a
// timestamp at midnight), and for PostgreSQL a quoted name in capitals is
// the name it folds an unquoted one to.
void rewriteTokens(Seq &seq, const SqlTraits &t)
{
    forEachGroup(seq, [&t](Seq &inner) { rewriteTokens(inner, t); });
    const auto sig = significant(seq);
    for (size_t k = 0; k < sig.size(); ++k) {
        Node &n = seq[sig[k]];
        const Node *prev = k > 0 ? &seq[sig[k - 1]] : nullptr;
        const Node *next = k + 1 < sig.size() ? &seq[sig[k + 1]] : nullptr;
        if (n.kind == Tok::String && n.text == QLatin1String("''")) {
            n = word(QStringLiteral("NULL"));
        } else if (n.isWord("SYSDATE") && !(prev && prev->kind == Tok::Dot)
                   && !(next && (next->kind == Tok::Group || next->kind == Tok::Dot))) {
            n = word(QString::fromLatin1(t.sysdate));
        } else if ((n.isWord("DATE") || n.isWord("TIMESTAMP")) && next && next->kind == Tok::String
                   && !(prev && prev->kind == Tok::Dot)) {
            // DATE '2026-01-01' is held as the text '2026-01-01 00:00:00'.
            Node &lit = seq[sig[k + 1]];
            if (lit.text.size() == 12 && lit.text[5] == QLatin1Char('-') && lit.text[8] == QLatin1Char('-'))
                lit.text.insert(11, QStringLiteral(" 00:00:00"));
            n = *t.dateLiteral ? word(QString::fromLatin1(t.dateLiteral)) : space(QString());
        } else if (t.foldsToLowerCase && n.kind == Tok::QuotedIdent && n.text == n.text.toUpper()) {
            // Oracle's "TCLAROL" is the name TCLAROL folds to; PostgreSQL
            // folds that one to tclarol.
            n.text = n.text.toLower();
        } else if (n.isWord("MINUS")) {
            n = word(QStringLiteral("EXCEPT"));
        } else if (n.isOp("^=")) {
            n.text = QStringLiteral("!=");
        }
    }
    for (size_t k = 0; k + 1 < sig.size(); ++k) {
        if (seq[sig[k]].isWord("FROM") && seq[sig[k + 1]].isWord("DUAL")) {
            const bool last = k + 2 >= sig.size() || isKeyword(seq[sig[k + 2]])
                              || seq[sig[k + 2]].kind == Tok::Semicolon;
            if (last) {
                seq[sig[k]] = space(QString());
                seq[sig[k + 1]] = space(QString());
            }
        }
    }
}

// EXTRACT(YEAR FROM d) is a call of ora_extract('YEAR', d) on both engines,
// which read a stored date as the date it is.
void extractCalls(Seq &seq)
{
    forEachGroup(seq, extractCalls);
    const auto sig = significant(seq);
    for (size_t k = 0; k + 1 < sig.size(); ++k) {
        Node &fn = seq[sig[k]];
        Node &call = seq[sig[k + 1]];
        if (!fn.isWord("EXTRACT") || call.kind != Tok::Group || (k > 0 && seq[sig[k - 1]].kind == Tok::Dot))
            continue;
        const auto inner = significant(call.kids);
        if (inner.size() < 3 || call.kids[inner[0]].kind != Tok::Word || !call.kids[inner[1]].isWord("FROM"))
            throw OraError(QString::fromLatin1(ora::kMissingKeyword));
        const QString field = call.kids[inner[0]].text.toUpper();
        Seq kids{Node{Tok::String, QLatin1Char('\'') + field + QLatin1Char('\''), {}},
                 Node{Tok::Comma, QStringLiteral(","), {}}, space()};
        kids.insert(kids.end(), call.kids.begin() + qsizetype(inner[2]), call.kids.end());
        fn.text = QStringLiteral("ora_extract");
        call.kids = std::move(kids);
    }
}

// ROWNUM numbers the rows a query block gives before any ORDER BY of its
// own: in its WHERE, ROWNUM < n, ROWNUM <= n and ROWNUM = 1 keep the first
// rows (ROWNUM > 1 none, as no row is the second before one is the first),
// which is a LIMIT on a block that neither sorts nor groups (the
// top-N idiom sorts in a subquery and limits around it). Any other use is
// left for refuseUnsupported.
bool endsWhere(const Node &n);
std::vector<Seq> arguments(const Seq &kids);
void checkCount(const std::vector<Seq> &args, size_t least, size_t most);
Seq fill(const QString &tmpl, const std::vector<Seq> &args);
Node group(Seq kids);
void append(Seq &to, const Seq &nodes);

// LISTAGG(x, sep) WITHIN GROUP (ORDER BY k [ASC|DESC] [NULLS FIRST|LAST],
// ...): PostgreSQL's string_agg with its own ORDER BY; on SQLite, whose
// aggregates take none, ora_listagg gets each key and how it sorts (1
// descending, 2 NULLs apart from the direction's default) and sorts itself.
void listagg(Seq &seq, const SqlTraits &t)
{
    forEachGroup(seq, [&t](Seq &inner) { listagg(inner, t); });
    for (;;) {
        const auto sig = significant(seq);
        size_t k = 0;
        while (k + 4 < sig.size()
               && !(seq[sig[k]].isWord("LISTAGG") && seq[sig[k + 1]].kind == Tok::Group
                    && seq[sig[k + 2]].isWord("WITHIN") && seq[sig[k + 3]].isWord("GROUP")
                    && seq[sig[k + 4]].kind == Tok::Group))
            ++k;
        if (k + 4 >= sig.size())
            return;
        std::vector<Seq> args = arguments(seq[sig[k + 1]].kids);
        checkCount(args, 1, 2);
        const Seq &order = seq[sig[k + 4]].kids;
        const auto os = significant(order);
        if (os.size() < 3 || !order[os[0]].isWord("ORDER") || !order[os[1]].isWord("BY"))
            throw OraError(QString::fromLatin1(ora::kMissingKeyword));
        Seq sep = args.size() > 1 ? args[1] : Seq{Node{Tok::String, QStringLiteral("''"), {}}};
        Seq call;
        if (t.callsOracleFunctions) {
            Seq kids = fill(QStringLiteral("ora_text[0], COALESCE"), {args[0]});
            kids.push_back(group(fill(QStringLiteral("ora_text[0], ''"), {sep})));
            kids.push_back(space());
            append(kids, order);
            call = Seq{word(QStringLiteral("string_agg")), group(std::move(kids))};
        } else {
            Seq kids = args[0];
            kids.push_back(Node{Tok::Comma, QStringLiteral(","), {}});
            kids.push_back(space());
            append(kids, sep);
            Seq item;
            auto flushItem = [&] {
                const auto is = significant(item);
                if (is.empty())
                    throw OraError(QString::fromLatin1(ora::kMissingExpression));
                size_t end = is.size();
                int how = 0;
                bool nullsFirst = false, nullsGiven = false;
                if (end >= 2 && item[is[end - 2]].isWord("NULLS")) {
                    nullsGiven = true;
                    nullsFirst = item[is[end - 1]].isWord("FIRST");
                    end -= 2;
                }
                if (end >= 1 && (item[is[end - 1]].isWord("DESC") || item[is[end - 1]].isWord("ASC"))) {
                    how = item[is[end - 1]].isWord("DESC") ? 1 : 0;
                    --end;
                }
                if (end == 0)
                    throw OraError(QString::fromLatin1(ora::kMissingExpression));
                if (nullsGiven && nullsFirst != (how == 1))
                    how |= 2;
                kids.push_back(Node{Tok::Comma, QStringLiteral(","), {}});
                kids.push_back(space());
                append(kids, Seq(item.begin() + qsizetype(is[0]), item.begin() + qsizetype(is[end - 1]) + 1));
                kids.push_back(Node{Tok::Comma, QStringLiteral(","), {}});
                kids.push_back(space());
                kids.push_back(Node{Tok::Number, QString::number(how), {}});
                item.clear();
            };
            for (size_t p = os[1] + 1; p < order.size(); ++p) {
                if (order[p].kind == Tok::Comma)
                    flushItem();
                else
                    item.push_back(order[p]);
            }
            flushItem();
            call = Seq{word(QStringLiteral("ora_listagg")), group(std::move(kids))};
        }
        auto it = seq.erase(seq.begin() + qsizetype(sig[k]), seq.begin() + qsizetype(sig[k + 4]) + 1);
        seq.insert(it, call.begin(), call.end());
    }
}

// SELECT ... FROM DUAL CONNECT BY LEVEL <= n, Oracle's way of making n
// rows, is a recursive WITH counting them; LEVEL is the count. Only the
// statement as a whole, on DUAL alone: any other hierarchy is refused.
// The FROM of such a statement and the rows it makes; 0 rows when it is no
// such statement.
size_t levelRowsFrom(const Seq &seq, qint64 *rows)
{
    *rows = -1;
    const auto sig = significant(seq);
    if (sig.size() < 8 || !seq[sig[0]].isWord("SELECT"))
        return 0;
    size_t from = 0;
    while (from < sig.size() && !seq[sig[from]].isWord("FROM"))
        ++from;
    if (from + 6 >= sig.size() || !seq[sig[from + 1]].isWord("DUAL") || !seq[sig[from + 2]].isWord("CONNECT")
        || !seq[sig[from + 3]].isWord("BY") || !seq[sig[from + 4]].isWord("LEVEL"))
        return 0;
    const Node &op = seq[sig[from + 5]], &bound = seq[sig[from + 6]];
    if (!(op.isOp("<=") || op.isOp("<")) || bound.kind != Tok::Number)
        return 0;
    bool ok = false;
    const double n = bound.text.toDouble(&ok);
    if (!ok || n > 1e6)
        return 0;
    // What follows the bound: an ORDER BY of the rows, or nothing.
    if (from + 7 < sig.size() && !seq[sig[from + 7]].isWord("ORDER"))
        return 0;
    *rows = std::max<qint64>(op.isOp("<") ? qint64(std::ceil(n)) - 1 : qint64(std::floor(n)), 0);
    return from;
}

void levelInGroups(Seq &seq)
{
    forEachGroup(seq, levelInGroups);
    for (Node &n : seq)
        if (n.isWord("LEVEL"))
            n = word(QStringLiteral("vorel_level"));
}

// Run on the statement as translated, whose names are settled.
void levelRows(Seq &seq)
{
    forEachGroup(seq, levelInGroups);
    qint64 rows;
    const size_t from = levelRowsFrom(seq, &rows);
    if (from == 0)
        return;
    const auto sig = significant(seq);
    for (size_t k = 1; k < from; ++k)
        if (seq[sig[k]].isWord("LEVEL")) {
            const bool alone = seq[sig[k - 1]].kind == Tok::Comma || k == 1;
            const bool itemEnd = k + 1 == from || seq[sig[k + 1]].kind == Tok::Comma;
            seq[sig[k]] =
                word(alone && itemEnd ? QStringLiteral("vorel_level AS \"LEVEL\"") : QStringLiteral("vorel_level"));
        }
    for (size_t k = from + 7; k < sig.size(); ++k)
        if (seq[sig[k]].isWord("LEVEL"))
            seq[sig[k]] = word(QStringLiteral("vorel_level"));
    // No name of its own followed by "(": the PostgreSQL backend reads that
    // as a call.
    Seq out{word(QStringLiteral("WITH RECURSIVE vorel_levels AS (SELECT 1 AS vorel_level WHERE %1 >= 1 UNION ALL "
                                "SELECT vorel_level + 1 FROM vorel_levels WHERE vorel_level < %1)")
                     .arg(rows)),
            space()};
    out.insert(out.end(), seq.begin(), seq.begin() + qsizetype(sig[from]) + 1);
    out.push_back(space());
    out.push_back(word(QStringLiteral("vorel_levels")));
    out.insert(out.end(), seq.begin() + qsizetype(sig[from + 6]) + 1, seq.end());
    seq = std::move(out);
}

void rownumLimits(Seq &seq)
{
    forEachGroup(seq, rownumLimits);
    const auto sig = significant(seq);
    if (sig.empty() || !seq[sig[0]].isWord("SELECT"))
        return;
    size_t where = sig.size(), whereEnd = sig.size(), tail = sig.size();
    bool rownum = false;
    for (size_t k = 0; k < sig.size(); ++k) {
        const Node &n = seq[sig[k]];
        rownum = rownum || (n.isWord("ROWNUM") && !(k > 0 && seq[sig[k - 1]].kind == Tok::Dot));
        if (n.isWord("WHERE") && where == sig.size())
            where = k;
        else if (where < sig.size() && whereEnd == sig.size() && endsWhere(n))
            whereEnd = k;
        if ((n.isWord("FOR") && k + 1 < sig.size() && seq[sig[k + 1]].isWord("UPDATE")) && tail == sig.size())
            tail = k;
        // Sorting, grouping or a compound: ROWNUM would count other rows
        // than a LIMIT keeps.
        if (n.isWord("ORDER") || n.isWord("GROUP") || n.isWord("HAVING") || n.isWord("DISTINCT") || n.isWord("UNIQUE")
            || n.isWord("UNION") || n.isWord("INTERSECT") || n.isWord("MINUS") || n.isWord("EXCEPT")
            || n.isWord("CONNECT"))
            return;
        if (k + 1 < sig.size() && seq[sig[k + 1]].kind == Tok::Group
            && (n.isWord("COUNT") || n.isWord("SUM") || n.isWord("AVG") || n.isWord("MIN") || n.isWord("MAX")
                || n.isWord("LISTAGG"))
            && where == sig.size())
            return; // an aggregate counts the rows ROWNUM would have cut
    }
    if (!rownum || where == sig.size())
        return;
    qint64 limit = -1;
    std::vector<size_t> cut; // sig positions of the ROWNUM comparisons' first nodes
    for (size_t k = where + 1; k + 2 < whereEnd; ++k) {
        const bool before = seq[sig[k - 1]].isWord("WHERE") || seq[sig[k - 1]].isWord("AND");
        const bool after = k + 3 == whereEnd || seq[sig[k + 3]].isWord("AND");
        if (!before || !after)
            continue;
        const Node &a = seq[sig[k]], &op = seq[sig[k + 1]], &b = seq[sig[k + 2]];
        const bool left = a.isWord("ROWNUM") && b.kind == Tok::Number;
        const bool right = b.isWord("ROWNUM") && a.kind == Tok::Number;
        if (!left && !right)
            continue;
        bool ok = false;
        const double n = (left ? b : a).text.toDouble(&ok);
        if (!ok)
            continue;
        QString o = op.text;
        if (right) // n > ROWNUM is ROWNUM < n
            o = o == QLatin1String("<")    ? QStringLiteral(">")
                : o == QLatin1String(">")  ? QStringLiteral("<")
                : o == QLatin1String("<=") ? QStringLiteral(">=")
                : o == QLatin1String(">=") ? QStringLiteral("<=")
                                           : o;
        qint64 keep = -1; // -1: every row
        if (std::fabs(n) > 1e15)
            continue;
        if (o == QLatin1String("<"))
            keep = std::max<qint64>(qint64(std::ceil(n)) - 1, 0);
        else if (o == QLatin1String("<="))
            keep = std::max<qint64>(qint64(std::floor(n)), 0);
        else if (o == QLatin1String("="))
            keep = n == 1 ? 1 : 0; // the second row is the first until there is one
        else if (o == QLatin1String(">"))
            keep = n >= 1 ? 0 : -1;
        else if (o == QLatin1String(">="))
            keep = n > 1 ? 0 : -1;
        else
            continue;
        if (keep >= 0)
            limit = limit < 0 ? keep : std::min(limit, keep);
        cut.push_back(k);
    }
    if (cut.empty())
        return;
    // Edits from the back: the LIMIT, then each comparison made 1=1.
    if (limit >= 0) {
        const size_t at = tail < sig.size() ? sig[tail] : seq.size();
        Seq limitNodes{space(), word(QStringLiteral("LIMIT %1").arg(limit))};
        if (tail < sig.size())
            limitNodes.push_back(space());
        seq.insert(seq.begin() + qsizetype(at), limitNodes.begin(), limitNodes.end());
    }
    for (size_t i = cut.size(); i-- > 0;) {
        const size_t k = cut[i];
        seq.erase(seq.begin() + qsizetype(sig[k]) + 1, seq.begin() + qsizetype(sig[k + 2]) + 1);
        seq[sig[k]] = word(QStringLiteral("1=1"));
    }
}

// What neither engine is made to answer as Oracle does is refused by name,
// rather than answered otherwise.
void refuseUnsupported(const Seq &seq, const SqlTraits &t, bool levelRows = false)
{
    const auto sig = significant(seq);
    auto refuse = [](const char *what) { throw OraError(ora::text(ora::kUnimplemented, QString::fromLatin1(what))); };
    for (size_t k = 0; k < sig.size(); ++k) {
        const Node &n = seq[sig[k]];
        if (n.kind == Tok::Group) {
            refuseUnsupported(n.kids, t, false);
            continue;
        }
        const bool afterDot = k > 0 && seq[sig[k - 1]].kind == Tok::Dot;
        const Node *next = k + 1 < sig.size() ? &seq[sig[k + 1]] : nullptr;
        if (n.isWord("ROWNUM") && !afterDot)
            refuse("ROWNUM");
        else if (n.isWord("CONNECT") && next && next->isWord("BY") && !levelRows)
            refuse("CONNECT BY");
        else if (n.isWord("START") && next && next->isWord("WITH"))
            refuse("START WITH");
        else if ((n.isWord("LISTAGG") || n.isWord("SYS_CONNECT_BY_PATH")) && next && next->kind == Tok::Group)
            refuse(n.isWord("LISTAGG") ? "LISTAGG without WITHIN GROUP" : "SYS_CONNECT_BY_PATH");
        else if (n.isWord("MERGE") && k == 0 && !t.mergesRows)
            refuse("MERGE");
        else if ((n.isWord("CREATE") || n.isWord("DROP") || n.isWord("ALTER")) && k == 0 && next
                 && next->isWord("SEQUENCE"))
            refuse(n.isWord("CREATE") ? "CREATE SEQUENCE" : n.isWord("DROP") ? "DROP SEQUENCE" : "ALTER SEQUENCE");
    }
}

// ---- sequences ---------------------------------------------------------------

// seq.NEXTVAL and seq.CURRVAL are calls of ora_nextval('SEQ'[, uses]) and
// ora_currval('SEQ'), which each backend defines. Oracle increments a
// sequence once per row whatever the number of its NEXTVALs in the
// statement, and a CURRVAL beside them gives the same number: all `uses` of
// one sequence in a statement that draws from it call ora_nextval with their
// count, and the backend draws on the first of each row's calls. Oracle
// allows them only where each is evaluated once per row (ORA-02287
// elsewhere), which is what makes that count the calls of a row.
struct SequenceUse {
    Seq *owner;
    size_t name, last; // indexes in *owner: the sequence's name, NEXTVAL or CURRVAL
    QString sequence;
    bool next;
    bool conditional; // under CASE, DECODE, NVL, ...: not evaluated for every row
};

QString unquote(const Node &n);

void findSequenceUses(Seq &seq, bool allowed, bool conditional, std::vector<SequenceUse> &uses)
{
    const auto sig = significant(seq);
    bool here = allowed;
    int cases = 0;
    for (size_t k = 0; k < sig.size(); ++k) {
        Node &n = seq[sig[k]];
        // The clause a node is in: only a select list, VALUES and SET
        // evaluate it once per row.
        if (n.isWord("SELECT") || n.isWord("SET") || n.isWord("VALUES"))
            here = allowed;
        else if (n.isWord("FROM") || n.isWord("WHERE") || n.isWord("HAVING") || n.isWord("CONNECT") || n.isWord("START")
                 || n.isWord("RETURNING"))
            here = false;
        else if (n.isWord("CASE"))
            ++cases;
        else if (n.isWord("END") && cases > 0)
            --cases;
        if (n.kind == Tok::Group) {
            const auto inner = significant(n.kids);
            const bool subquery = !inner.empty() && n.kids[inner[0]].isWord("SELECT");
            const Node *fn = k > 0 ? &seq[sig[k - 1]] : nullptr;
            const bool choice = fn
                                && (fn->isWord("DECODE") || fn->isWord("NVL") || fn->isWord("NVL2")
                                    || fn->isWord("COALESCE") || fn->isWord("NULLIF"));
            findSequenceUses(n.kids, here && !subquery, conditional || cases > 0 || choice, uses);
            continue;
        }
        if (k + 2 >= sig.size() || !isName(n) || seq[sig[k + 1]].kind != Tok::Dot
            || !(seq[sig[k + 2]].isWord("NEXTVAL") || seq[sig[k + 2]].isWord("CURRVAL")))
            continue;
        if (k > 0 && seq[sig[k - 1]].kind == Tok::Dot) // a schema other than the database's own
            throw OraError(QString::fromLatin1(ora::kNoSuchSequence));
        if (!here)
            throw OraError(QString::fromLatin1(ora::kSequenceNotAllowed));
        const QString name = n.kind == Tok::QuotedIdent ? unquote(n) : n.text.toUpper();
        uses.push_back(
            SequenceUse{&seq, sig[k], sig[k + 2], name, seq[sig[k + 2]].isWord("NEXTVAL"), conditional || cases > 0});
        k += 2;
    }
}

bool namesSequence(const Seq &seq)
{
    const auto sig = significant(seq);
    for (size_t k = 0; k < sig.size(); ++k) {
        const Node &n = seq[sig[k]];
        if (n.kind == Tok::Group
                ? namesSequence(n.kids)
                : k > 1 && seq[sig[k - 1]].kind == Tok::Dot && (n.isWord("NEXTVAL") || n.isWord("CURRVAL")))
            return true;
    }
    return false;
}

// MERGE's steps on SQLite would each draw anew.
void refuseSequenceInMerge(const Seq &seq)
{
    if (namesSequence(seq))
        throw OraError(ora::text(ora::kUnimplemented, QStringLiteral("NEXTVAL in MERGE")));
}

void sequenceCalls(Seq &seq)
{
    const auto sig = significant(seq);
    if (sig.empty())
        return;
    if (seq[sig[0]].isWord("MERGE"))
        refuseSequenceInMerge(seq);
    // Rows a statement makes, changes or reads, once each: not DELETE, nor
    // a query that sorts, groups, removes duplicates or joins another.
    bool rows = seq[sig[0]].isWord("SELECT") || seq[sig[0]].isWord("INSERT") || seq[sig[0]].isWord("UPDATE");
    for (size_t k : sig)
        if (seq[k].isWord("DISTINCT") || seq[k].isWord("UNIQUE") || seq[k].isWord("GROUP") || seq[k].isWord("ORDER")
            || seq[k].isWord("UNION") || seq[k].isWord("INTERSECT") || seq[k].isWord("MINUS"))
            rows = false;
    std::vector<SequenceUse> uses;
    findSequenceUses(seq, rows, false, uses);
    if (uses.empty())
        return;
    QHash<QString, int> count;
    QSet<QString> drawn, conditional;
    for (const SequenceUse &use : uses) {
        ++count[use.sequence];
        if (use.next)
            drawn.insert(use.sequence);
        if (use.conditional)
            conditional.insert(use.sequence);
    }
    for (const QString &name : drawn)
        if (count[name] > 1 && conditional.contains(name))
            throw OraError(ora::text(ora::kUnimplemented, QStringLiteral("NEXTVAL of %1 both under a condition and "
                                                                         "beside another of its uses")
                                                              .arg(name)));
    for (const SequenceUse &use : uses) {
        const bool draws = drawn.contains(use.sequence);
        const QString name = QString(use.sequence).replace(QLatin1Char('\''), QLatin1String("''"));
        Node call{Tok::Group, {}, {Node{Tok::String, QLatin1Char('\'') + name + QLatin1Char('\''), {}}}};
        if (draws && count[use.sequence] > 1) {
            call.kids.push_back(Node{Tok::Comma, QStringLiteral(","), {}});
            call.kids.push_back(space());
            call.kids.push_back(Node{Tok::Number, QString::number(count[use.sequence]), {}});
        }
        // In place: a Seq holding one changed size would move the groups
        // other uses point into.
        Seq &owner = *use.owner;
        owner[use.name] = word(draws ? QStringLiteral("ora_nextval") : QStringLiteral("ora_currval"));
        for (size_t j = use.name + 1; j < use.last; ++j)
            owner[j] = space(QString());
        owner[use.last] = std::move(call);
    }
}

// SELECT ... FOR UPDATE [OF column, ...] [NOWAIT | WAIT n]: the clause of
// the statement's own block. Oracle's OF names columns, PostgreSQL's
// tables: OF names the tables that own the columns, by their aliases. WAIT
// n is the backend's (rowLockWait): it bounds the engine's wait for the
// statement. SQLite locks the database as a whole: the clause goes, and
// the backend takes the lock.
struct ForUpdate {
    size_t first = 0, last = 0; // seq indexes of FOR and of the clause's last node
    int waitMs = -1;            // 0 NOWAIT, -1 as long as the engine waits
    size_t waitFirst = 0;       // seq index of OF or WAIT, 0 when neither
    size_t waitLast = 0;        // seq index of what OF or WAIT n ends with
    size_t ofFirst = 0, ofLast = 0; // seq indexes of OF's columns, 0 without OF
    bool nowait = false;
};

std::optional<ForUpdate> findForUpdate(const Seq &seq)
{
    const auto sig = significant(seq);
    size_t k = 0;
    while (k + 1 < sig.size() && !(seq[sig[k]].isWord("FOR") && seq[sig[k + 1]].isWord("UPDATE")))
        ++k;
    if (k + 1 >= sig.size())
        return std::nullopt;
    ForUpdate f;
    f.first = sig[k];
    f.last = sig[k + 1];
    size_t p = k + 2;
    if (p < sig.size() && seq[sig[p]].isWord("OF")) {
        f.waitFirst = sig[p];
        ++p;
        while (p < sig.size() && (isName(seq[sig[p]]) || seq[sig[p]].kind == Tok::Dot || seq[sig[p]].kind == Tok::Comma)
               && !seq[sig[p]].isWord("NOWAIT") && !seq[sig[p]].isWord("WAIT") && !seq[sig[p]].isWord("SKIP"))
            ++p;
        if (p == k + 3)
            throw OraError(QString::fromLatin1(ora::kMissingExpression));
        f.waitLast = f.last = sig[p - 1];
        f.ofFirst = sig[k + 3];
        f.ofLast = sig[p - 1];
    }
    if (p < sig.size() && seq[sig[p]].isWord("NOWAIT")) {
        f.waitMs = 0;
        f.nowait = true;
        f.last = sig[p++];
    } else if (p < sig.size() && seq[sig[p]].isWord("WAIT")) {
        // WAIT takes a number of seconds, nothing else.
        bool ok = p + 1 < sig.size() && seq[sig[p + 1]].kind == Tok::Number;
        const double n = ok ? seq[sig[p + 1]].text.toDouble(&ok) : 0;
        if (!ok)
            throw OraError(QString::fromLatin1(ora::kMissingExpression));
        f.waitMs = int(std::clamp(n, 0.0, 86400.0) * 1000);
        if (!f.waitFirst)
            f.waitFirst = sig[p];
        f.waitLast = f.last = sig[p + 1];
        p += 2;
    } else if (p < sig.size() && seq[sig[p]].isWord("SKIP")) {
        throw OraError(ora::text(ora::kUnimplemented, QStringLiteral("FOR UPDATE SKIP LOCKED")));
    }
    if (p < sig.size() && seq[sig[p]].kind != Tok::Semicolon)
        throw OraError(QString::fromLatin1(ora::kNotProperlyEnded));
    return f;
}

struct FromTable {
    QString table, alias;
};
std::vector<FromTable> fromTables(const Seq &seq, const std::vector<size_t> &sig);
QString unquote(const Node &n);

// OF's columns as the tables (aliases where written) that own them.
QString lockedTables(const Seq &seq, const ForUpdate &f, const ColumnLookup &lookup)
{
    const std::vector<FromTable> tables = fromTables(seq, significant(seq));
    const Seq of(seq.begin() + qsizetype(f.ofFirst), seq.begin() + qsizetype(f.ofLast) + 1);
    QStringList names;
    for (const Seq &column : arguments(of)) {
        const auto sig = significant(column);
        QString owner;
        if (sig.size() == 3 && column[sig[1]].kind == Tok::Dot) {
            owner = str(column, sig[0], sig[0] + 1);
        } else if (sig.size() == 1) {
            for (const FromTable &t : tables) {
                if (tables.size() > 1 && (!lookup || lookup(t.table, unquote(column[sig[0]])) == ColumnType::Absent))
                    continue;
                if (!owner.isEmpty())
                    throw OraError(QString::fromLatin1(ora::kColumnAmbiguous));
                owner = t.alias.isEmpty() ? t.table : t.alias;
            }
            if (owner.isEmpty())
                throw OraError(ora::text(ora::kInvalidIdentifier, column[sig[0]].text));
        } else {
            throw OraError(QString::fromLatin1(ora::kMissingExpression));
        }
        if (!names.contains(owner, Qt::CaseInsensitive))
            names << owner;
    }
    return QStringLiteral("OF ") + names.join(QStringLiteral(", "));
}

void forUpdate(Seq &seq, const SqlTraits &t, const ColumnLookup &lookup)
{
    const auto f = findForUpdate(seq);
    if (!f)
        return;
    const auto sig = significant(seq);
    if (sig.empty() || !seq[sig[0]].isWord("SELECT"))
        throw OraError(QString::fromLatin1(ora::kNotProperlyEnded));
    if (!t.locksRows) {
        seq.erase(seq.begin() + qsizetype(f->first), seq.begin() + qsizetype(f->last) + 1);
        return;
    }
    if (f->waitFirst) {
        // OF's columns become its tables; WAIT n goes; a NOWAIT stays, and
        // WAIT 0 is one.
        const QString of = f->ofFirst ? lockedTables(seq, *f, lookup) : QString();
        const size_t to = f->nowait ? f->waitLast : f->last;
        auto at = seq.erase(seq.begin() + qsizetype(f->waitFirst), seq.begin() + qsizetype(to) + 1);
        if (!f->nowait && f->waitMs == 0)
            at = seq.insert(at, word(QStringLiteral(" NOWAIT")));
        if (!of.isEmpty())
            seq.insert(at, word(of));
    }
}

// ---- hierarchical queries ---------------------------------------------------

// SELECT ... FROM t [a] [WHERE w] START WITH s CONNECT BY [NOCYCLE] c
// [ORDER SIBLINGS BY o | ORDER BY ...] is a recursive WITH: each row of t
// numbered (in the siblings' order), the roots those s takes, each further
// level the rows c joins to one of the level before (PRIOR x is that row's
// x), each carrying its level, the numbers of the rows above it (a row
// met again is a loop: ORA-01436, or with NOCYCLE left out), its place in
// the depth-first order, and what SYS_CONNECT_BY_PATH and CONNECT_BY_ROOT
// ask of it. WHERE applies to the rows of the hierarchy, as Oracle's does.
class Hierarchy
{
public:
    Hierarchy(QString alias, QString tree)
        : m_alias(std::move(alias))
        , m_tree(std::move(tree))
    {}

    enum class Part { Root, Step, Outer };

    // The clause's text as the part of the rewrite it goes to reads it.
    // The aliases of its own start with ora_: a name of vorel_ before a dot
    // is one PostgreSQL's gate refuses.
    QString rewrite(const QString &text, Part part)
    {
        Seq seq = parse(text);
        walk(seq, part);
        return str(seq).trimmed();
    }

    // The columns the hierarchy carries for SYS_CONNECT_BY_PATH and
    // CONNECT_BY_ROOT, for the roots and for each further level.
    QString rootColumns() const
    {
        QString out;
        for (size_t i = 0; i < m_paths.size(); ++i)
            out += QStringLiteral(", %1 || %2 vorel_p%3").arg(m_paths[i].second, m_paths[i].first).arg(i + 1);
        for (size_t i = 0; i < m_roots.size(); ++i)
            out += QStringLiteral(", %1 vorel_r%2").arg(m_roots[i]).arg(i + 1);
        return out;
    }
    QString stepColumns()
    {
        QString out;
        for (size_t i = 0; i < m_paths.size(); ++i)
            out += QStringLiteral(", ora_up.vorel_p%1 || %2 || %3")
                       .arg(i + 1)
                       .arg(m_paths[i].second, rewrite(m_paths[i].first, Part::Step));
        for (size_t i = 0; i < m_roots.size(); ++i)
            out += QStringLiteral(", ora_up.vorel_r%1").arg(i + 1);
        return out;
    }

private:
    static bool notColumn(const Node &n)
    {
        static const char *const words[] = {"SYSDATE", "SYSTIMESTAMP", "CURRENT_DATE", "CURRENT_TIMESTAMP", "USER",
                                            "ROWNUM", "DATE", "TIMESTAMP", "TRUE", "FALSE"};
        for (const char *w : words)
            if (n.isWord(w))
                return true;
        return false;
    }

    void walk(Seq &seq, Part part)
    {
        forEachGroup(seq, [&](Seq &inner) { walk(inner, part); });
        const auto sig = significant(seq);
        std::vector<std::pair<size_t, size_t>> spans; // seq ranges [first, last]
        std::vector<QString> with;
        // [q.]name from sig position `from`: its last position
        auto nameEnd = [&](size_t from) {
            if (from >= sig.size() || !isName(seq[sig[from]]))
                throw OraError(QString::fromLatin1(ora::kMissingExpression));
            size_t e = from;
            while (e + 2 < sig.size() && seq[sig[e + 1]].kind == Tok::Dot && isName(seq[sig[e + 2]]))
                e += 2;
            return e;
        };
        for (size_t k = 0; k < sig.size(); ++k) {
            const Node &n = seq[sig[k]];
            const Node *next = k + 1 < sig.size() ? &seq[sig[k + 1]] : nullptr;
            if (k > 0 && seq[sig[k - 1]].kind == Tok::Dot)
                continue;
            if (n.isWord("LEVEL")) {
                spans.emplace_back(sig[k], sig[k]);
                with.push_back(part == Part::Root   ? QStringLiteral("1")
                               : part == Part::Step ? QStringLiteral("(ora_up.vorel_level + 1)")
                                                    : QStringLiteral("vorel_level"));
            } else if (n.isWord("PRIOR")) {
                if (part != Part::Step)
                    throw OraError(ora::text(ora::kUnimplemented, QStringLiteral("PRIOR outside CONNECT BY")));
                if (k + 1 < sig.size() && !isName(seq[sig[k + 1]]))
                    throw OraError(ora::text(ora::kUnimplemented, QStringLiteral("PRIOR on an expression")));
                const size_t e = nameEnd(k + 1);
                spans.emplace_back(sig[k], sig[e]);
                with.push_back(QStringLiteral("ora_up.") + seq[sig[e]].text);
                k = e;
            } else if (n.isWord("CONNECT_BY_ROOT") && part == Part::Outer) {
                const size_t e = nameEnd(k + 1);
                m_roots.push_back(str(seq, sig[k + 1], sig[e] + 1));
                spans.emplace_back(sig[k], sig[e]);
                with.push_back(QStringLiteral("vorel_r%1").arg(m_roots.size()));
                k = e;
            } else if (n.isWord("CONNECT_BY_ISLEAF") && part == Part::Outer) {
                spans.emplace_back(sig[k], sig[k]);
                with.push_back(QStringLiteral("(CASE WHEN EXISTS (SELECT 1 FROM %2 ora_c WHERE "
                                              "ora_c.vorel_from = %1.vorel_ids) THEN 0 ELSE 1 END)")
                                   .arg(m_alias, m_tree));
            } else if (n.isWord("SYS_CONNECT_BY_PATH") && next && next->kind == Tok::Group && part == Part::Outer) {
                std::vector<Seq> args = arguments(next->kids);
                checkCount(args, 2, 2);
                m_paths.emplace_back(str(args[0]).trimmed(), str(args[1]).trimmed());
                spans.emplace_back(sig[k], sig[k + 1]);
                with.push_back(QStringLiteral("vorel_p%1").arg(m_paths.size()));
                ++k;
            } else if (part == Part::Step && isName(n) && !notColumn(n) && !(next && next->kind == Tok::Group)
                       && !(next && next->kind == Tok::Dot)) {
                // Both the row above and the row joined have the column: a
                // name of its own is the row joined's.
                spans.emplace_back(sig[k], sig[k]);
                with.push_back(m_alias + QLatin1Char('.') + n.text);
            }
        }
        for (size_t i = spans.size(); i-- > 0;) {
            auto at = seq.erase(seq.begin() + qsizetype(spans[i].first), seq.begin() + qsizetype(spans[i].second) + 1);
            seq.insert(at, word(with[i]));
        }
    }

    QString m_alias, m_tree;
    std::vector<std::pair<QString, QString>> m_paths; // expression, separator
    std::vector<QString> m_roots;
};

// A select list's items, each as its expression and its alias (empty when
// it has none), as written.
struct SelectItem {
    QString expression, alias;
};

SelectItem splitItem(const QString &item)
{
    const Seq seq = parse(item);
    const auto sig = significant(seq);
    if (sig.size() >= 2 && isName(seq[sig.back()]) && seq[sig[sig.size() - 2]].kind != Tok::Dot) {
        const Node &before = seq[sig[sig.size() - 2]];
        const size_t cut = before.isWord("AS") ? sig.size() - 2 : sig.size() - 1;
        if (before.isWord("AS") || endsOperand(before))
            return {str(seq, 0, sig[cut]).trimmed(), str(seq, sig.back(), sig.back() + 1)};
    }
    return {item.trimmed(), QString()};
}

// The columns a hierarchical query over a join reads, as one source: each
// reference to a table's column (t.c, or c alone where the lookup finds it
// in one table) becomes a column of a subquery that does the join.
class JoinColumns
{
public:
    JoinColumns(const std::vector<FromTable> &tables, const ColumnLookup &lookup)
        : m_tables(tables)
        , m_lookup(lookup)
    {}

    // The text with its column references as the subquery's; `used` gets
    // the tables it names (by their index), where asked.
    QString rewrite(const QString &text, std::set<size_t> *used = nullptr)
    {
        Seq seq = parse(text);
        walk(seq, used);
        return str(seq).trimmed();
    }

    // The subquery's select list: each column under a name of its own.
    QString projection() const
    {
        QStringList out;
        for (const Column &c : m_columns)
            out << c.source + QStringLiteral(" AS ") + c.name;
        return out.isEmpty() ? QStringLiteral("1 AS ora_none") : out.join(QStringLiteral(", "));
    }

    // The subquery's name for a column written alone (the item's own
    // name), empty when it keeps the name it has.
    QString renamed(const QString &expression) const
    {
        for (const Column &c : m_columns)
            if (QStringLiteral("ora_j.") + c.name == expression)
                return c.name.compare(c.column, Qt::CaseInsensitive) == 0 ? QString() : c.column;
        return {};
    }

private:
    struct Column {
        size_t table;
        QString column, source, name;
    };

    std::optional<size_t> qualifier(const Node &n) const
    {
        const QString name = unquote(n);
        for (size_t i = 0; i < m_tables.size(); ++i) {
            const QString &q = m_tables[i].alias.isEmpty() ? m_tables[i].table : m_tables[i].alias;
            if (q.compare(name, Qt::CaseInsensitive) == 0)
                return i;
        }
        return std::nullopt;
    }

    QString column(size_t table, const Node &n)
    {
        const QString &written = n.text;
        for (const Column &c : m_columns)
            if (c.table == table && c.column.compare(written, Qt::CaseInsensitive) == 0)
                return c.name;
        Column c{table, written, QString(), QString()};
        const FromTable &t = m_tables[table];
        c.source = (t.alias.isEmpty() ? t.table : t.alias) + QLatin1Char('.') + written;
        bool taken = n.kind == Tok::QuotedIdent;
        for (const Column &o : m_columns)
            taken = taken || o.name.compare(written, Qt::CaseInsensitive) == 0;
        c.name = taken ? QStringLiteral("ora_c%1").arg(m_columns.size() + 1) : written;
        m_columns.push_back(c);
        return c.name;
    }

    void walk(Seq &seq, std::set<size_t> *used)
    {
        forEachGroup(seq, [&](Seq &inner) { walk(inner, used); });
        const auto sig = significant(seq);
        std::vector<std::pair<size_t, size_t>> spans;
        std::vector<QString> with;
        for (size_t k = 0; k < sig.size(); ++k) {
            const Node &n = seq[sig[k]];
            if (k > 0 && seq[sig[k - 1]].kind == Tok::Dot)
                continue;
            const bool dotted = k + 2 < sig.size() && seq[sig[k + 1]].kind == Tok::Dot && isName(seq[sig[k + 2]]);
            if (dotted) {
                if (const auto t = qualifier(n)) {
                    spans.emplace_back(sig[k], sig[k + 2]);
                    with.push_back(QStringLiteral("ora_j.") + column(*t, seq[sig[k + 2]]));
                    if (used)
                        used->insert(*t);
                }
                k += 2;
                continue;
            }
            if (!isName(n) || (k + 1 < sig.size() && seq[sig[k + 1]].kind == Tok::Group) || !m_lookup)
                continue;
            std::optional<size_t> owner;
            for (size_t i = 0; i < m_tables.size(); ++i) {
                if (m_lookup(m_tables[i].table, unquote(n)) == ColumnType::Absent)
                    continue;
                if (owner)
                    throw OraError(QString::fromLatin1(ora::kColumnAmbiguous));
                owner = i;
            }
            if (!owner)
                continue;
            spans.emplace_back(sig[k], sig[k]);
            with.push_back(QStringLiteral("ora_j.") + column(*owner, n));
            if (used)
                used->insert(*owner);
        }
        for (size_t i = spans.size(); i-- > 0;) {
            auto at = seq.erase(seq.begin() + qsizetype(spans[i].first), seq.begin() + qsizetype(spans[i].second) + 1);
            seq.insert(at, word(with[i]));
        }
    }

    const std::vector<FromTable> &m_tables;
    const ColumnLookup &m_lookup;
    std::vector<Column> m_columns;
};

// One SELECT with START WITH and CONNECT BY, as the recursive WITH's
// definitions (named with `suffix`) and the SELECT over them. Oracle's
// order of work: the join of the FROM (and the WHERE conditions that join
// its tables), then the hierarchy, then the rest of WHERE, then GROUP BY
// and HAVING. `ordered`: the query stands alone, and gives its rows in
// the hierarchy's order unless it orders them otherwise; a branch of a
// UNION is ordered, if at all, by the whole.
struct HierarchyText {
    QString with, select;
};

std::optional<HierarchyText> hierarchyQuery(const Seq &seq, const ColumnLookup &lookup, const QString &suffix,
                                            bool ordered)
{
    const auto sig = significant(seq);
    if (sig.empty() || !seq[sig[0]].isWord("SELECT"))
        return std::nullopt;
    const size_t none = sig.size();
    size_t from = none, where = none, start = none, connect = none, order = none, groupBy = none, having = none;
    for (size_t k = 1; k < sig.size(); ++k) {
        const Node &n = seq[sig[k]];
        const bool nextBy = k + 1 < sig.size() && seq[sig[k + 1]].isWord("BY");
        if (n.isWord("FROM") && from == none)
            from = k;
        else if (n.isWord("WHERE") && where == none && from < k)
            where = k;
        else if (n.isWord("START") && k + 1 < sig.size() && seq[sig[k + 1]].isWord("WITH"))
            start = k;
        else if (n.isWord("CONNECT") && nextBy)
            connect = k;
        else if (n.isWord("ORDER") && (nextBy || (k + 2 < sig.size() && seq[sig[k + 1]].isWord("SIBLINGS"))))
            order = k;
        else if (n.isWord("GROUP") && nextBy && groupBy == none)
            groupBy = k;
        else if (n.isWord("HAVING") && having == none)
            having = k;
        else if (n.isWord("FOR") && connect < sig.size())
            throw OraError(ora::text(ora::kUnimplemented, QStringLiteral("CONNECT BY with FOR UPDATE")));
    }
    if (connect == none || from == none)
        return std::nullopt;
    qint64 levels = 0;
    if (start == none && levelRowsFrom(seq, &levels) > 0 && levels >= 0)
        return std::nullopt; // rows made on DUAL: levelRows
    if (start == none)
        throw OraError(ora::text(ora::kUnimplemented, QStringLiteral("CONNECT BY without START WITH")));
    auto text = [&](size_t a, size_t b) { return a < b ? str(seq, sig[a], sig[b - 1] + 1).trimmed() : QString(); };
    // each clause ends where the next one in the text starts
    std::vector<size_t> marks{from, where, start, connect, order, groupBy, having, none};
    std::sort(marks.begin(), marks.end());
    auto endOf = [&](size_t k) { return *std::upper_bound(marks.begin(), marks.end(), k); };
    const size_t hierarchyEnd = std::max(start, connect);
    if ((where < none && (where > start || where > connect)) || (order < start || order < connect)
        || (groupBy < none && groupBy < hierarchyEnd) || (having < none && (having < hierarchyEnd || having > order)))
        throw OraError(QString::fromLatin1(ora::kNotProperlyEnded));
    const bool nocycle = connect + 2 < sig.size() && seq[sig[connect + 2]].isWord("NOCYCLE");
    QString condition = text(connect + (nocycle ? 3 : 2), endOf(connect));
    QString roots = text(start + 2, endOf(start));
    const bool siblings = order < none && seq[sig[order + 1]].isWord("SIBLINGS");
    QString orderBy = order < none ? text(order + (siblings ? 3 : 2), sig.size()) : QString();
    QString groupText = groupBy < none ? text(groupBy + 2, endOf(groupBy)) : QString();
    QString havingText = having < none ? text(having + 1, endOf(having)) : QString();
    if (condition.isEmpty() || roots.isEmpty() || (order < none && orderBy.isEmpty())
        || (groupBy < none && groupText.isEmpty()) || (having < none && havingText.isEmpty()))
        throw OraError(QString::fromLatin1(ora::kMissingExpression));
    if (siblings && (groupBy < none || !ordered))
        throw OraError(ora::text(ora::kUnimplemented, QStringLiteral("ORDER SIBLINGS BY with ")
                                                          + QLatin1String(groupBy < none ? "GROUP BY" : "UNION")));
    QStringList items;
    {
        size_t first = 1;
        for (size_t k = 1; k <= from; ++k) {
            if (k < from && seq[sig[k]].kind != Tok::Comma)
                continue;
            items << text(first, k);
            first = k + 1;
        }
    }
    QStringList conditions; // WHERE's conjuncts
    if (where < none) {
        size_t first = where + 1;
        bool between = false;
        const size_t end = endOf(where);
        for (size_t k = where + 1; k <= end; ++k) {
            if (k < end && seq[sig[k]].isWord("BETWEEN"))
                between = true;
            if (k < end && !seq[sig[k]].isWord("AND"))
                continue;
            if (k < end && between) {
                between = false;
                continue;
            }
            conditions << text(first, k);
            first = k + 1;
        }
    }
    const auto stars = [&](size_t k) {
        return seq[sig[k]].isOp("*")
               && (k == 1 || seq[sig[k - 1]].kind == Tok::Comma || seq[sig[k - 1]].kind == Tok::Dot);
    };
    for (size_t k = 1; k < from; ++k)
        if (stars(k))
            throw OraError(ora::text(ora::kUnimplemented, QStringLiteral("* with CONNECT BY")));

    // FROM one table or subquery with its alias, or a join of several
    const size_t fromEnd = endOf(from);
    bool joined = fromEnd - from > 3;
    for (size_t k = from + 1; k < fromEnd; ++k)
        joined = joined || seq[sig[k]].kind == Tok::Comma || seq[sig[k]].isWord("JOIN");
    if (fromEnd - from < 2)
        throw OraError(QString::fromLatin1(ora::kMissingExpression));
    QString source, alias, joinWhere;
    if (!joined) {
        source = text(from + 1, from + 2);
        alias = fromEnd - from == 3 ? seq[sig[from + 2]].text : QString();
        if (alias.isEmpty())
            alias = seq[sig[from + 1]].kind == Tok::Group ? QStringLiteral("ora_t") : source;
    } else {
        const Seq fromSeq = parse(QStringLiteral("SELECT 1 FROM ") + text(from + 1, fromEnd));
        const std::vector<FromTable> tables = fromTables(fromSeq, significant(fromSeq));
        JoinColumns columns(tables, lookup);
        QStringList rest, joins;
        for (const QString &c : std::as_const(conditions)) {
            std::set<size_t> used;
            const QString rewritten = columns.rewrite(c, &used);
            const Seq cs = parse(c);
            bool hierarchical = false;
            for (const size_t k : significant(cs))
                hierarchical = hierarchical || cs[k].isWord("LEVEL") || cs[k].isWord("PRIOR")
                               || cs[k].text.startsWith(QLatin1String("CONNECT_BY_"), Qt::CaseInsensitive)
                               || cs[k].isWord("SYS_CONNECT_BY_PATH");
            (used.size() > 1 && !hierarchical ? joins : rest) << (used.size() > 1 && !hierarchical ? c : rewritten);
        }
        conditions = rest;
        for (QString &item : items) {
            const SelectItem s = splitItem(item);
            const QString e = columns.rewrite(s.expression);
            const QString name = s.alias.isEmpty() ? columns.renamed(e) : s.alias;
            item = name.isEmpty() ? e : e + QLatin1Char(' ') + name;
        }
        roots = columns.rewrite(roots);
        condition = columns.rewrite(condition);
        if (!orderBy.isEmpty())
            orderBy = columns.rewrite(orderBy);
        if (!groupText.isEmpty())
            groupText = columns.rewrite(groupText);
        if (!havingText.isEmpty())
            havingText = columns.rewrite(havingText);
        source = QStringLiteral("(SELECT ") + columns.projection() + QStringLiteral(" FROM ") + text(from + 1, fromEnd)
                 + (joins.isEmpty() ? QString() : QStringLiteral(" WHERE ") + joins.join(QStringLiteral(" AND ")))
                 + QLatin1Char(')');
        alias = QStringLiteral("ora_j");
    }

    const QString rows = QStringLiteral("vorel_rows") + suffix, tree = QStringLiteral("vorel_tree") + suffix;
    Hierarchy h(alias, tree);
    for (QString &item : items) {
        // LEVEL alone keeps its name
        item = item.compare(QLatin1String("LEVEL"), Qt::CaseInsensitive) == 0
                   ? QStringLiteral("vorel_level AS \"LEVEL\"")
                   : h.rewrite(item, Hierarchy::Part::Outer);
    }
    const QString outerWhere =
        conditions.isEmpty() ? QString() : h.rewrite(conditions.join(QStringLiteral(" AND ")), Hierarchy::Part::Outer);
    const QString outerOrder = !siblings && !orderBy.isEmpty() ? h.rewrite(orderBy, Hierarchy::Part::Outer) : QString();
    const QString step = h.rewrite(condition, Hierarchy::Part::Step);
    const QString loop = QStringLiteral("INSTR(ora_up.vorel_ids, ',' || %1.vorel_id || ',')").arg(alias);
    HierarchyText out;
    out.with =
        // the names first: the clauses' texts may hold a % of their own
        QStringLiteral("vorel_rows AS (SELECT %1.*, ROW_NUMBER() OVER (%2) vorel_id FROM %3 %1), "
                       "vorel_tree AS (SELECT %1.*, 1 vorel_level, ',' || %1.vorel_id || ',' vorel_ids, ',' "
                       "vorel_from, LPAD(%1.vorel_id, 10, '0') vorel_order%4 FROM vorel_rows %1 WHERE %5 "
                       "UNION ALL SELECT %1.*, ora_up.vorel_level + 1, ora_up.vorel_ids || %1.vorel_id || "
                       "',', ora_up.vorel_ids, ora_up.vorel_order || LPAD(%1.vorel_id, 10, '0')%6 FROM "
                       "vorel_tree ora_up JOIN vorel_rows %1 ON %7 WHERE %8)")
            .replace(QLatin1String("vorel_rows"), rows)
            .replace(QLatin1String("vorel_tree"), tree)
            .arg(alias, siblings ? QStringLiteral("ORDER BY ") + orderBy : QString(), source, h.rootColumns(),
                 h.rewrite(roots, Hierarchy::Part::Root), h.stepColumns(), step,
                 nocycle ? loop + QStringLiteral(" = 0") : QStringLiteral("ora_no_loop(%1) = 0").arg(loop));
    out.select = QStringLiteral("SELECT ") + items.join(QStringLiteral(", ")) + QStringLiteral(" FROM ") + tree
                 + QLatin1Char(' ') + alias;
    if (!outerWhere.isEmpty())
        out.select += QStringLiteral(" WHERE ") + outerWhere;
    if (!groupText.isEmpty())
        out.select += QStringLiteral(" GROUP BY ") + h.rewrite(groupText, Hierarchy::Part::Outer);
    if (!havingText.isEmpty())
        out.select += QStringLiteral(" HAVING ") + h.rewrite(havingText, Hierarchy::Part::Outer);
    if (!outerOrder.isEmpty())
        out.select += QStringLiteral(" ORDER BY ") + outerOrder;
    else if (ordered && groupText.isEmpty())
        out.select += QStringLiteral(" ORDER BY vorel_order");
    return out;
}

// A hierarchical query, alone or as branches of UNION [ALL], INTERSECT or
// MINUS: the definitions of every branch's hierarchy lead the statement.
// An ORDER BY after the last branch orders the whole.
bool hierarchyIn(Seq &seq, const ColumnLookup &lookup)
{
    const auto sig = significant(seq);
    if (sig.empty() || !seq[sig[0]].isWord("SELECT"))
        return false;
    bool any = false;
    std::vector<size_t> cuts; // sig positions of the set operators
    for (size_t k = 1; k < sig.size(); ++k) {
        const Node &n = seq[sig[k]];
        any = any || (n.isWord("CONNECT") && k + 1 < sig.size() && seq[sig[k + 1]].isWord("BY"));
        if (n.isWord("UNION") || n.isWord("INTERSECT") || n.isWord("MINUS") || n.isWord("EXCEPT"))
            cuts.push_back(k);
    }
    if (!any)
        return false;
    if (cuts.empty()) {
        const auto h = hierarchyQuery(seq, lookup, QString(), true);
        if (!h)
            return false;
        seq = parse(QStringLiteral("WITH RECURSIVE ") + h->with + QLatin1Char(' ') + h->select);
        return true;
    }
    QStringList with;
    QString out, orderBy;
    for (size_t b = 0; b <= cuts.size(); ++b) {
        size_t first = b == 0 ? 0 : cuts[b - 1] + 1;
        if (b > 0 && first < sig.size() && seq[sig[first]].isWord("ALL"))
            ++first;
        size_t last = b < cuts.size() ? cuts[b] : sig.size(); // exclusive
        if (first >= last)
            throw OraError(QString::fromLatin1(ora::kMissingExpression));
        Seq branch(seq.begin() + qsizetype(sig[first]), seq.begin() + qsizetype(sig[last - 1]) + 1);
        bool hierarchical = false;
        const auto bsig = significant(branch);
        for (size_t k = 0; k + 1 < bsig.size(); ++k)
            hierarchical = hierarchical || (branch[bsig[k]].isWord("CONNECT") && branch[bsig[k + 1]].isWord("BY"));
        if (b == cuts.size() && hierarchical) {
            // the last branch's ORDER BY is the whole's
            for (size_t k = 0; k + 1 < bsig.size(); ++k)
                if (branch[bsig[k]].isWord("ORDER") && branch[bsig[k + 1]].isWord("BY")) {
                    orderBy = str(branch, bsig[k], branch.size()).trimmed();
                    branch.erase(branch.begin() + qsizetype(bsig[k]), branch.end());
                    break;
                }
        }
        const auto h =
            hierarchical ? hierarchyQuery(branch, lookup, QString::number(with.size() + 1), false) : std::nullopt;
        if (hierarchical && !h)
            throw OraError(ora::text(ora::kUnimplemented, QStringLiteral("CONNECT BY LEVEL with UNION")));
        if (b > 0)
            out += QLatin1Char(' ') + str(seq, sig[cuts[b - 1]], sig[first]).trimmed() + QLatin1Char(' ');
        if (h) {
            with << h->with;
            out += h->select;
        } else {
            out += str(branch).trimmed();
        }
    }
    if (!orderBy.isEmpty())
        out += QLatin1Char(' ') + orderBy;
    seq = parse(QStringLiteral("WITH RECURSIVE ") + with.join(QStringLiteral(", ")) + QLatin1Char(' ') + out);
    return true;
}

void hierarchies(Seq &seq, const ColumnLookup &lookup)
{
    forEachGroup(seq, [&](Seq &inner) { hierarchies(inner, lookup); });
    hierarchyIn(seq, lookup);
}

// ---- MERGE ------------------------------------------------------------------

QString unquote(const Node &n);

// MERGE INTO t [a] USING (query) | table [s] ON (condition)
//   [WHEN MATCHED THEN UPDATE SET c = e, ... [WHERE w] [DELETE WHERE d]]
//   [WHEN NOT MATCHED THEN INSERT [(c, ...)] VALUES (e, ...) [WHERE w]]
// read into its parts, each as written.
struct Merge {
    QString target, targetAlias, source, sourceAlias, on;
    bool matched = false, notMatched = false;
    std::vector<std::pair<QString, QString>> sets; // column without qualifier, expression
    QString updateWhere, deleteWhere;
    QString insertColumns, insertValues, insertWhere; // inside their parentheses
};

bool leadsWith(const Seq &seq, const char *word)
{
    const auto sig = significant(seq);
    return !sig.empty() && seq[sig[0]].isWord(word);
}

Merge readMerge(const Seq &seq)
{
    const auto sig = significant(seq);
    auto missing = [] { return OraError(QString::fromLatin1(ora::kMissingKeyword)); };
    size_t k = 1;
    auto isAt = [&](const char *w) { return k < sig.size() && seq[sig[k]].isWord(w); };
    auto expect = [&](const char *w) {
        if (!isAt(w))
            throw missing();
        ++k;
    };
    // [owner.]name, or a group
    auto object = [&]() {
        if (k >= sig.size())
            throw OraError(QString::fromLatin1(ora::kMissingExpression));
        const size_t first = k;
        if (seq[sig[k]].kind == Tok::Group) {
            ++k;
        } else {
            if (!isName(seq[sig[k]]))
                throw OraError(QString::fromLatin1(ora::kInvalidStatement));
            ++k;
            while (k + 1 < sig.size() && seq[sig[k]].kind == Tok::Dot && isName(seq[sig[k + 1]]))
                k += 2;
        }
        return str(seq, sig[first], sig[k - 1] + 1);
    };
    auto alias = [&]() {
        if (k >= sig.size() || !isName(seq[sig[k]]) || isAt("USING") || isAt("ON"))
            return QString();
        ++k;
        return seq[sig[k - 1]].text;
    };
    // Significant positions up to (not including) the first of `stops` at
    // this level, CASE ... END skipped over.
    auto until = [&](std::initializer_list<const char *> stops) {
        const size_t first = k;
        int cases = 0;
        for (; k < sig.size(); ++k) {
            const Node &n = seq[sig[k]];
            if (n.isWord("CASE"))
                ++cases;
            else if (n.isWord("END") && cases > 0)
                --cases;
            bool stop = false;
            for (const char *w : stops)
                stop = stop || (cases == 0 && n.isWord(w));
            if (stop)
                break;
        }
        if (k == first)
            throw OraError(QString::fromLatin1(ora::kMissingExpression));
        return str(seq, sig[first], sig[k - 1] + 1).trimmed();
    };
    auto inner = [&]() {
        if (k >= sig.size() || seq[sig[k]].kind != Tok::Group)
            throw missing();
        return str(seq[sig[k++]].kids).trimmed();
    };

    Merge m;
    expect("INTO");
    m.target = object();
    m.targetAlias = alias();
    expect("USING");
    m.source = object();
    m.sourceAlias = alias();
    expect("ON");
    m.on = inner();
    while (k < sig.size()) {
        expect("WHEN");
        if (isAt("MATCHED") && !m.matched && !m.notMatched) {
            ++k;
            expect("THEN");
            expect("UPDATE");
            expect("SET");
            m.matched = true;
            for (;;) {
                size_t c = k;
                while (c + 2 < sig.size() && seq[sig[c + 1]].kind == Tok::Dot)
                    c += 2;
                if (c + 1 >= sig.size() || !isName(seq[sig[c]]) || !seq[sig[c + 1]].isOp("="))
                    throw missing();
                const QString column = unquote(seq[sig[c]]);
                k = c + 2;
                // an expression ends at the comma of the next assignment
                const size_t first = k;
                int cases = 0;
                for (; k < sig.size(); ++k) {
                    const Node &n = seq[sig[k]];
                    cases += n.isWord("CASE") ? 1 : n.isWord("END") && cases > 0 ? -1 : 0;
                    if (cases == 0
                        && (n.kind == Tok::Comma || n.isWord("WHERE") || n.isWord("DELETE") || n.isWord("WHEN")))
                        break;
                }
                if (k == first)
                    throw OraError(QString::fromLatin1(ora::kMissingExpression));
                m.sets.emplace_back(column, str(seq, sig[first], sig[k - 1] + 1).trimmed());
                if (k < sig.size() && seq[sig[k]].kind == Tok::Comma) {
                    ++k;
                    continue;
                }
                break;
            }
            if (isAt("WHERE")) {
                ++k;
                m.updateWhere = until({"DELETE", "WHEN"});
            }
            if (isAt("DELETE")) {
                ++k;
                expect("WHERE");
                m.deleteWhere = until({"WHEN"});
            }
        } else if (isAt("NOT") && !m.notMatched) {
            ++k;
            expect("MATCHED");
            expect("THEN");
            expect("INSERT");
            m.notMatched = true;
            if (k < sig.size() && seq[sig[k]].kind == Tok::Group) {
                // (c.A, B): the names without their qualifiers
                QStringList names;
                const Seq &cols = seq[sig[k++]].kids;
                for (const Seq &col : arguments(cols)) {
                    const auto cs = significant(col);
                    if (cs.empty() || !isName(col[cs.back()]))
                        throw OraError(QString::fromLatin1(ora::kMissingExpression));
                    names << col[cs.back()].text;
                }
                m.insertColumns = names.join(QStringLiteral(", "));
            }
            expect("VALUES");
            m.insertValues = inner();
            if (isAt("WHERE")) {
                ++k;
                m.insertWhere = until({"WHEN"});
            }
        } else {
            throw missing();
        }
    }
    if (!m.matched && !m.notMatched)
        throw missing();
    // Oracle refuses to change what decides whether a row matches.
    const Seq on = parse(m.on);
    std::function<void(const Seq &)> check = [&](const Seq &s) {
        for (const Node &n : s) {
            if (n.kind == Tok::Group)
                check(n.kids);
            else if (isName(n))
                for (const auto &set : m.sets)
                    if (unquote(n).compare(set.first, Qt::CaseInsensitive) == 0)
                        throw OraError(QString::fromLatin1(ora::kOnColumnUpdated).arg(set.first.toUpper()));
        }
    };
    check(on);
    return m;
}

// How the statements built from a MERGE name its tables.
QString sourceFrom(const Merge &m)
{
    return m.source + QLatin1Char(' ') + (m.sourceAlias.isEmpty() ? QStringLiteral("vorel_src") : m.sourceAlias);
}

QString targetFrom(const Merge &m, bool as)
{
    if (m.targetAlias.isEmpty())
        return m.target;
    return m.target + QLatin1String(as ? " AS " : " ") + m.targetAlias;
}

// DELETE WHERE reads the row as updated: each column the UPDATE sets, as
// the target's column, stands for the expression it is set to.
QString afterUpdate(const Merge &m, const QString &condition)
{
    Seq seq = parse(condition);
    const QString table = m.targetAlias.isEmpty() ? m.target.section(QLatin1Char('.'), -1) : m.targetAlias;
    std::function<void(Seq &)> walk = [&](Seq &s) {
        forEachGroup(s, walk);
        const auto sig = significant(s);
        std::vector<std::pair<size_t, size_t>> spans; // seq ranges [first, last] to replace
        std::vector<QString> with;
        for (size_t k = 0; k < sig.size(); ++k) {
            const Node &n = s[sig[k]];
            if (!isName(n) || (k + 1 < sig.size() && (s[sig[k + 1]].kind == Tok::Group || s[sig[k + 1]].kind == Tok::Dot)))
                continue;
            size_t first = k;
            if (k >= 2 && s[sig[k - 1]].kind == Tok::Dot) {
                if (unquote(s[sig[k - 2]]).compare(unquote(word(table)), Qt::CaseInsensitive) != 0)
                    continue;
                first = k - 2;
            }
            for (const auto &[column, expr] : m.sets)
                if (unquote(n).compare(unquote(word(column)), Qt::CaseInsensitive) == 0) {
                    spans.emplace_back(sig[first], sig[k]);
                    with.push_back(QLatin1Char('(') + expr + QLatin1Char(')'));
                    break;
                }
        }
        for (size_t i = spans.size(); i-- > 0;) {
            auto at = s.erase(s.begin() + qsizetype(spans[i].first), s.begin() + qsizetype(spans[i].second) + 1);
            s.insert(at, word(with[i]));
        }
    };
    walk(seq);
    return str(seq);
}

// PostgreSQL's own MERGE, from Oracle's: the UPDATE's WHERE and the
// INSERT's become conditions of their WHEN; the DELETE, which Oracle makes
// of the rows it has just updated, a WHEN of its own before the UPDATE,
// reading each column as the UPDATE would set it.
QString postgresMerge(const Merge &m)
{
    QString out = QStringLiteral("MERGE INTO ") + targetFrom(m, false) + QStringLiteral(" USING ") + sourceFrom(m)
                  + QStringLiteral(" ON (") + m.on + QLatin1Char(')');
    const QString updateWhere = m.updateWhere.isEmpty() ? QString() : QStringLiteral(" AND (") + m.updateWhere + QLatin1Char(')');
    if (m.matched && !m.deleteWhere.isEmpty())
        out += QStringLiteral(" WHEN MATCHED") + updateWhere + QStringLiteral(" AND (") + afterUpdate(m, m.deleteWhere)
               + QStringLiteral(") THEN DELETE");
    if (m.matched) {
        QStringList sets;
        for (const auto &[column, expr] : m.sets)
            sets << column + QStringLiteral(" = ") + expr;
        out += QStringLiteral(" WHEN MATCHED") + updateWhere + QStringLiteral(" THEN UPDATE SET ")
               + sets.join(QStringLiteral(", "));
    }
    if (m.notMatched) {
        out += QStringLiteral(" WHEN NOT MATCHED");
        if (!m.insertWhere.isEmpty())
            out += QStringLiteral(" AND (") + m.insertWhere + QLatin1Char(')');
        out += QStringLiteral(" THEN INSERT ");
        if (!m.insertColumns.isEmpty())
            out += QLatin1Char('(') + m.insertColumns + QStringLiteral(") ");
        out += QStringLiteral("VALUES (") + m.insertValues + QLatin1Char(')');
    }
    return out;
}

// ---- the (+) outer join ---------------------------------------------------

struct FromItem {
    size_t first = 0, last = 0; // significant positions (inclusive) in sig
    QString table, alias;
};

struct SelectBlock {
    size_t fromKw = 0, listEnd = 0;   // FROM list: sig positions (fromKw, listEnd)
    bool hasWhere = false;
    size_t whereKw = 0, whereEnd = 0; // WHERE: sig positions (whereKw, whereEnd)
};

bool endsWhere(const Node &n)
{
    static const char *const words[] = {"GROUP", "ORDER", "HAVING", "CONNECT", "START",
                                        "UNION", "INTERSECT", "EXCEPT", "MINUS", "FOR"};
    for (const char *w : words)
        if (n.isWord(w))
            return true;
    return n.kind == Tok::Semicolon;
}

// The FROM list ends where a WHERE clause would end, or at the WHERE itself.
bool endsFromList(const Node &n)
{
    return n.isWord("WHERE") || endsWhere(n);
}

// PostgreSQL 15 wants a name for every subquery of a FROM list; Oracle and
// SQLite do not.
void aliasSubqueries(Seq &seq, int *counter)
{
    forEachGroup(seq, [counter](Seq &kids) { aliasSubqueries(kids, counter); });
    const auto sig = significant(seq);
    std::vector<size_t> after; // seq indexes of the groups that need a name
    bool inFrom = false, itemStart = false;
    for (size_t k = 0; k < sig.size(); ++k) {
        const Node &n = seq[sig[k]];
        if (n.isWord("FROM")) {
            inFrom = itemStart = true;
            continue;
        }
        if (!inFrom)
            continue;
        if (endsFromList(n)) {
            inFrom = false;
            continue;
        }
        if (n.kind == Tok::Comma || n.isWord("JOIN")) {
            itemStart = true;
            continue;
        }
        if (itemStart && n.kind == Tok::Group) {
            const auto inner = significant(n.kids);
            const bool query = !inner.empty() && (n.kids[inner[0]].isWord("SELECT") || n.kids[inner[0]].isWord("WITH"));
            const Node *next = k + 1 < sig.size() ? &seq[sig[k + 1]] : nullptr;
            if (query && !(next && (isName(*next) || next->isWord("AS"))))
                after.push_back(sig[k]);
        }
        itemStart = false;
    }
    const int first = *counter + 1;
    *counter += int(after.size());
    for (size_t i = after.size(); i-- > 0;) {
        seq.insert(seq.begin() + qsizetype(after[i]) + 1, word(QStringLiteral("vorel_q%1").arg(first + int(i))));
        seq.insert(seq.begin() + qsizetype(after[i]) + 1, space());
    }
}

QString unquote(const Node &n)
{
    QString t = n.text;
    if (n.kind == Tok::QuotedIdent)
        t = t.mid(1, t.size() - 2);
    return t;
}

struct OuterRef {
    size_t sigPos;    // position in sig of the (+) group
    QString qualifier, column;
};

// The FROM and WHERE of one SELECT of a sequence, sig positions [begin,
// end); false when it has no (+) to rewrite.
bool findOuterMarkers(const Seq &seq, const std::vector<size_t> &sig, size_t begin, size_t end, SelectBlock &b)
{
    size_t k = begin;
    while (k < end && !seq[sig[k]].isWord("FROM"))
        ++k;
    if (k >= end)
        return false;
    b.fromKw = k;
    size_t e = k + 1;
    while (e < end && !endsFromList(seq[sig[e]]))
        ++e;
    b.listEnd = e;
    if (e < end && seq[sig[e]].isWord("WHERE")) {
        b.hasWhere = true;
        b.whereKw = e;
        size_t w = e + 1;
        while (w < end && !endsWhere(seq[sig[w]]))
            ++w;
        b.whereEnd = w;
    }
    if (!b.hasWhere)
        return false;
    bool any = false;
    for (size_t w = b.whereKw + 1; w < b.whereEnd; ++w)
        any = any || isOuterMarker(seq[sig[w]]);
    return any;
}

// The FROM list, split at its commas.
std::vector<FromItem> fromItems(const Seq &seq, const std::vector<size_t> &sig, const SelectBlock &b)
{
    std::vector<FromItem> items;
    size_t s = b.fromKw + 1;
    for (size_t p = s; p <= b.listEnd; ++p) {
        if (p == b.listEnd || seq[sig[p]].kind == Tok::Comma) {
            if (p > s) {
                FromItem it;
                it.first = s;
                it.last = p - 1;
                const Node &t = seq[sig[s]];
                it.table = unquote(t);
                size_t a = s + 1;
                if (a <= it.last && seq[sig[a]].isWord("AS"))
                    ++a;
                if (a <= it.last && isName(seq[sig[a]]))
                    it.alias = unquote(seq[sig[a]]);
                items.push_back(it);
            }
            s = p + 1;
        }
    }
    return items;
}

// The WHERE conjuncts at this level (AND of BETWEEN excluded), as sig
// positions, inclusive.
std::vector<std::pair<size_t, size_t>> whereConjuncts(const Seq &seq, const std::vector<size_t> &sig,
                                                      const SelectBlock &b)
{
    std::vector<std::pair<size_t, size_t>> conjuncts;
    size_t s = b.whereKw + 1;
    bool between = false;
    for (size_t p = s; p <= b.whereEnd; ++p) {
        if (p < b.whereEnd && seq[sig[p]].isWord("BETWEEN"))
            between = true;
        const bool cut = p == b.whereEnd || seq[sig[p]].isWord("AND");
        if (p < b.whereEnd && seq[sig[p]].isWord("AND") && between) {
            between = false;
            continue;
        }
        if (cut) {
            if (p > s)
                conjuncts.emplace_back(s, p - 1);
            s = p + 1;
        }
        if (p < b.whereEnd && seq[sig[p]].isWord("OR")) {
            for (size_t q = b.whereKw + 1; q < b.whereEnd; ++q)
                if (isOuterMarker(seq[sig[q]]))
                    throw OraError(QString::fromLatin1(ora::kOuterJoinInOrIn));
        }
    }
    return conjuncts;
}

using OuterJoins = std::map<int, QStringList>; // FROM item index -> ON conditions

// Rebuilds the block: the conjuncts taken into ON conditions become 1=1,
// the outer tables leave the FROM list for LEFT JOINs after it.
void rewriteOuterJoins(Seq &seq, const std::vector<size_t> &sig, const SelectBlock &b,
                       const std::vector<FromItem> &items, const OuterJoins &joins,
                       const std::vector<std::pair<size_t, size_t>> &replaced, const SqlTraits &t)
{
    // Edits from the back so earlier indexes stay valid.
    // 1. conjuncts -> 1=1
    struct Edit {
        size_t from, to; // seq indexes, inclusive
        Seq with;
    };
    std::vector<Edit> edits;
    for (const auto &[cs, ce] : replaced)
        edits.push_back({sig[cs], sig[ce], {word(QStringLiteral("1=1"))}});
    // 2. the LEFT JOINs after the FROM list
    Seq tail;
    for (const auto &[idx, j] : joins) {
        const FromItem &it = items[size_t(idx)];
        tail.push_back(space());
        tail.push_back(word(QStringLiteral("LEFT JOIN ") + str(seq, sig[it.first], sig[it.last] + 1)
                            + QStringLiteral(" ON ") + j.join(QStringLiteral(" AND "))));
    }
    const size_t lastListNode = sig[b.listEnd - 1];
    edits.push_back({lastListNode + 1, lastListNode, std::move(tail)}); // insertion
    // 3. drop the outer tables (with one comma) from the FROM list
    for (const auto &[idx, j] : joins) {
        const FromItem &it = items[size_t(idx)];
        size_t from = sig[it.first], to = sig[it.last];
        if (it.first > b.fromKw + 1) {
            from = sig[it.first - 1]; // the comma before
        } else if (it.last + 1 < b.listEnd) {
            to = sig[it.last + 1] ; // the comma after
            // keep the blank that followed the comma out of the way
        } else {
            throw OraError(QString::fromLatin1(ora::kOuterJoinedTwice));
        }
        edits.push_back({from, to, {}});
    }
    // 4. PostgreSQL lets an ON condition see only the tables joined before
    // it: the commas left in the list become CROSS JOINs, which it reads
    // left to right as one table before the LEFT JOINs.
    if (t.crossJoinsInFromList) {
        for (size_t p = b.fromKw + 1; p < b.listEnd; ++p) {
            if (seq[sig[p]].kind != Tok::Comma)
                continue;
            bool dropped = false;
            for (const Edit &ed : edits)
                dropped = dropped || (ed.with.empty() && ed.from <= sig[p] && sig[p] <= ed.to);
            if (!dropped)
                edits.push_back({sig[p], sig[p], {word(QStringLiteral(" CROSS JOIN"))}});
        }
    }
    std::sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b2) { return a.from > b2.from; });
    for (Edit &ed : edits) {
        auto first = seq.begin() + qsizetype(ed.from);
        if (ed.to + 1 >= ed.from && ed.to >= ed.from)
            first = seq.erase(first, seq.begin() + qsizetype(ed.to) + 1);
        seq.insert(first, ed.with.begin(), ed.with.end());
    }
}

// One SELECT of a sequence: sig positions [begin, end).
bool outerJoinBlock(Seq &seq, const std::vector<size_t> &sig, size_t begin, size_t end,
                    const ColumnLookup &lookup, const SqlTraits &t)
{
    SelectBlock b;
    if (!findOuterMarkers(seq, sig, begin, end, b))
        return false;
    const std::vector<FromItem> items = fromItems(seq, sig, b);
    const auto conjuncts = whereConjuncts(seq, sig, b);
    auto ownerOf = [&](const OuterRef &r) -> int {
        for (size_t i = 0; i < items.size(); ++i) {
            if (!r.qualifier.isEmpty()) {
                if (items[i].alias.compare(r.qualifier, Qt::CaseInsensitive) == 0
                    || (items[i].alias.isEmpty() && items[i].table.compare(r.qualifier, Qt::CaseInsensitive) == 0))
                    return int(i);
            } else if (lookup && lookup(items[i].table, r.column) != ColumnType::Absent) {
                return int(i);
            }
        }
        return -1;
    };

    OuterJoins joins;
    std::vector<std::pair<size_t, size_t>> replaced; // conjuncts turned into 1=1
    for (const auto &[cs, ce] : conjuncts) {
        std::vector<OuterRef> refs;
        for (size_t p = cs; p <= ce; ++p) {
            if (!isOuterMarker(seq[sig[p]]))
                continue;
            if (p == cs || !isName(seq[sig[p - 1]]))
                throw OraError(QString::fromLatin1(ora::kMissingExpression));
            OuterRef r{p, QString(), unquote(seq[sig[p - 1]])};
            if (p >= cs + 2 && seq[sig[p - 2]].kind == Tok::Dot && p >= cs + 3)
                r.qualifier = unquote(seq[sig[p - 3]]);
            refs.push_back(r);
        }
        if (refs.empty())
            continue;
        int owner = -1;
        for (const OuterRef &r : refs) {
            const int o = ownerOf(r);
            if (o < 0)
                throw OraError(QString::fromLatin1(ora::kInvalidIdentifier).arg(r.column.toUpper()));
            if (owner >= 0 && o != owner)
                throw OraError(QString::fromLatin1(ora::kOuterJoinedPredicate));
            owner = o;
        }
        QString cond;
        for (size_t p = sig[cs]; p <= sig[ce]; ++p) {
            bool marker = false;
            for (const OuterRef &r : refs)
                marker = marker || sig[r.sigPos] == p;
            if (!marker)
                cond += seq[p].str();
        }
        joins[owner] << cond.trimmed();
        replaced.emplace_back(cs, ce);
    }
    if (joins.empty())
        return false;

    rewriteOuterJoins(seq, sig, b, items, joins, replaced, t);
    return true;
}

void outerJoins(Seq &seq, const ColumnLookup &lookup, const SqlTraits &t)
{
    forEachGroup(seq, [&](Seq &inner) { outerJoins(inner, lookup, t); });
    // Each pass handles one SELECT of a compound and starts again, since the
    // edits move the positions of the following blocks.
    for (int guard = 0; guard < 64; ++guard) {
        const auto sig = significant(seq);
        size_t begin = 0;
        bool changed = false;
        for (size_t k = 0; k <= sig.size() && !changed; ++k) {
            const bool cut = k == sig.size() || seq[sig[k]].isWord("UNION") || seq[sig[k]].isWord("INTERSECT")
                             || seq[sig[k]].isWord("EXCEPT") || seq[sig[k]].isWord("MINUS");
            if (!cut)
                continue;
            changed = outerJoinBlock(seq, sig, begin, k, lookup, t);
            begin = k + 1;
        }
        if (!changed)
            break;
    }
    for (const Node &n : seq)
        if (isOuterMarker(n))
            throw OraError(QString::fromLatin1(ora::kNotProperlyEnded));
}

// ---- || ---------------------------------------------------------------------

// Operand bounds over the significant positions `s` of a sequence: an
// operand is a primary (name, literal, call, group, CASE ... END) with the
// * and / that bind tighter than || + -.
struct Operands {
    const Seq &seq;
    const std::vector<size_t> &s;
    const Node &at(size_t k) const { return seq[s[k]]; }

    size_t primaryFwd(size_t k) const
    {
        if (k >= s.size())
            throw OraError(QString::fromLatin1(ora::kMissingExpression));
        while (at(k).isOp("+") || at(k).isOp("-"))
            if (++k >= s.size())
                throw OraError(QString::fromLatin1(ora::kMissingExpression));
        if (at(k).isWord("CASE")) {
            int depth = 0;
            for (size_t p = k; p < s.size(); ++p) {
                if (at(p).isWord("CASE"))
                    ++depth;
                else if (at(p).isWord("END") && --depth == 0)
                    return p;
            }
            throw OraError(QString::fromLatin1(ora::kMissingKeyword));
        }
        if ((at(k).isWord("DATE") || at(k).isWord("TIMESTAMP")) && k + 1 < s.size() && at(k + 1).kind == Tok::String)
            return k + 1;
        if (at(k).isOp("?"))
            return k;
        if (at(k).isOp(":") && k + 1 < s.size() && (at(k + 1).kind == Tok::Word || at(k + 1).kind == Tok::Number))
            return k + 1;
        if (isName(at(k))) {
            size_t e = k;
            while (e + 2 < s.size() && at(e + 1).kind == Tok::Dot && isName(at(e + 2)))
                e += 2;
            if (e + 1 < s.size() && at(e + 1).kind == Tok::Group)
                ++e;
            return e;
        }
        if (endsOperand(at(k)))
            return k;
        throw OraError(QString::fromLatin1(ora::kMissingExpression));
    }
    size_t termFwd(size_t k) const
    {
        size_t e = primaryFwd(k);
        while (e + 1 < s.size() && (at(e + 1).isOp("*") || at(e + 1).isOp("/")))
            e = primaryFwd(e + 2);
        return e;
    }
    size_t primaryBwd(size_t k) const
    {
        const Node &n = at(k);
        size_t b = k;
        if (n.isWord("END")) {
            int depth = 0;
            for (size_t p = k + 1; p-- > 0;) {
                if (at(p).isWord("END"))
                    ++depth;
                else if (at(p).isWord("CASE") && --depth == 0)
                    return p;
            }
            throw OraError(QString::fromLatin1(ora::kMissingKeyword));
        }
        if (n.kind == Tok::Group) {
            if (b > 0 && isName(at(b - 1)))
                --b;
            else
                return withSign(b);
        } else if (n.kind == Tok::String && b > 0 && (at(b - 1).isWord("DATE") || at(b - 1).isWord("TIMESTAMP"))) {
            return withSign(b - 1);
        } else if (n.isOp("?")) {
            return withSign(b);
        } else if (!endsOperand(n)) {
            throw OraError(QString::fromLatin1(ora::kMissingExpression));
        } else if (b > 0 && at(b - 1).isOp(":") && (n.kind == Tok::Word || n.kind == Tok::Number)) {
            return withSign(b - 1);
        }
        while (b >= 2 && at(b - 1).kind == Tok::Dot && isName(at(b - 2)))
            b -= 2;
        return withSign(b);
    }
    size_t withSign(size_t b) const
    {
        if (b >= 1 && (at(b - 1).isOp("-") || at(b - 1).isOp("+")) && (b == 1 || !endsOperand(at(b - 2))))
            return b - 1;
        return b;
    }
    size_t termBwd(size_t k) const
    {
        size_t b = primaryBwd(k);
        while (b >= 2 && (at(b - 1).isOp("*") || at(b - 1).isOp("/")))
            b = primaryBwd(b - 2);
        return b;
    }
    bool additive(size_t k) const
    {
        return at(k).isOp("||") || at(k).isOp("+") || at(k).isOp("-");
    }
};

// PostgreSQL: each operand goes through ora_text, which writes a number as
// Oracle's TO_CHAR does and a date in the stored form; a text literal is
// text already.
QString concatOperand(const QString &operand, const SqlTraits &t)
{
    if (!t.concatenatesAsText)
        return operand;
    if (operand.size() >= 2 && operand.startsWith(QLatin1Char('\'')) && operand.endsWith(QLatin1Char('\''))) {
        bool oneLiteral = true;
        for (qsizetype i = 1; i + 1 < operand.size(); ++i)
            if (operand[i] == QLatin1Char('\'') && !(i + 2 < operand.size() && operand[i + 1] == QLatin1Char('\'')))
                oneLiteral = false;
            else if (operand[i] == QLatin1Char('\''))
                ++i;
        if (oneLiteral)
            return operand;
    }
    return QStringLiteral("ora_text(") + operand + QLatin1Char(')');
}

// PostgreSQL passes a function at most 100 arguments; a longer chain goes
// as one array.
QString concatCall(const QStringList &operands, const SqlTraits &t)
{
    if (t.maxCallArguments > 0 && operands.size() > t.maxCallArguments)
        return QStringLiteral("ora_concat(VARIADIC ARRAY[") + operands.join(QStringLiteral(", ")) + QStringLiteral("])");
    return QStringLiteral("ora_concat(") + operands.join(QStringLiteral(", ")) + QLatin1Char(')');
}

Node group(Seq kids);
void append(Seq &to, const Seq &nodes);

void concatenation(Seq &seq, const SqlTraits &traits)
{
    forEachGroup(seq, [&traits](Seq &inner) { concatenation(inner, traits); });
    for (;;) {
        const auto s = significant(seq);
        size_t bar = s.size();
        for (size_t k = 0; k < s.size(); ++k)
            if (seq[s[k]].isOp("||")) {
                bar = k;
                break;
            }
        if (bar == s.size())
            return;
        Operands ops{seq, s};
        if (bar == 0 || bar + 1 >= s.size())
            throw OraError(QString::fromLatin1(ora::kMissingExpression));
        size_t first = ops.termBwd(bar - 1);
        while (first >= 2 && ops.additive(first - 1) && endsOperand(ops.at(first - 2)))
            first = ops.termBwd(first - 2);
        size_t last = ops.termFwd(bar + 1);
        while (last + 2 < s.size() && ops.additive(last + 1))
            last = ops.termFwd(last + 2);

        // Left to right as Oracle evaluates || + - of equal precedence.
        QString acc;
        QStringList pending; // operands of the || run being built
        size_t t = first;
        auto termText = [&](size_t from, size_t to) { return str(seq, s[from], s[to] + 1).trimmed(); };
        size_t te = ops.termFwd(t);
        acc = termText(t, te);
        t = te + 1;
        while (t <= last) {
            const Node &op = ops.at(t);
            te = ops.termFwd(t + 1);
            const QString rhs = termText(t + 1, te);
            if (op.isOp("||")) {
                if (pending.isEmpty())
                    pending << concatOperand(acc, traits);
                pending << concatOperand(rhs, traits);
            } else {
                if (!pending.isEmpty()) {
                    acc = concatCall(pending, traits);
                    pending.clear();
                }
                acc = QLatin1Char('(') + acc + QLatin1Char(' ') + op.text + QLatin1Char(' ') + rhs + QLatin1Char(')');
            }
            t = te + 1;
        }
        if (!pending.isEmpty())
            acc = concatCall(pending, traits);
        auto it = seq.erase(seq.begin() + qsizetype(s[first]), seq.begin() + qsizetype(s[last]) + 1);
        seq.insert(it, word(acc));
    }
}

// ---- + and - of dates ------------------------------------------------------

// Oracle adds days to a date (date + 1.5 is a day and a half later) and
// subtracts dates into days. Neither engine reads its dates so: SQLite would
// add to the year of the stored text, PostgreSQL has no such operator. An
// addition or subtraction that may touch a date is written as ora_add or
// ora_sub, which look at their values when run; the rest is left alone.
class DateTyping
{
public:
    DateTyping(const Seq &statement, const ColumnLookup &lookup)
        : m_lookup(lookup)
    {
        if (m_lookup)
            collectTables(statement);
    }

    // Whether the operand, significant positions [first, last] of `s`, may
    // be a date. Without a schema to ask, a column is taken for a number, as
    // a text sent without one is no statement the server runs.
    bool operand(const Seq &seq, const std::vector<size_t> &s, size_t first, size_t last)
    {
        while (first < last && (seq[s[first]].isOp("-") || seq[s[first]].isOp("+")))
            ++first;
        const Node &n = seq[s[first]];
        if (first == last) {
            switch (n.kind) {
            case Tok::String:
                return n.text.size() >= 12 && n.text[5] == QLatin1Char('-') && n.text[8] == QLatin1Char('-')
                       && n.text[1].isDigit();
            case Tok::QuotedIdent: return column(unquote(n));
            case Tok::Group: {
                const auto inner = significant(n.kids);
                if (inner.empty())
                    return false;
                if (n.kids[inner[0]].isWord("SELECT") || n.kids[inner[0]].isWord("WITH"))
                    return bool(m_lookup);
                return chain(n.kids, inner, 0, inner.size() - 1);
            }
            case Tok::Word:
                if (n.isWord("SYSDATE") || n.isWord("CURRENT_DATE") || n.isWord("SYSTIMESTAMP")
                    || n.isWord("CURRENT_TIMESTAMP") || n.isWord("LOCALTIMESTAMP"))
                    return true;
                if (isKeyword(n) || n.isWord("ROWNUM") || n.isWord("LEVEL") || n.isWord("VOREL_LEVEL"))
                    return false;
                return column(n.text);
            default: return false;
            }
        }
        if ((n.isWord("DATE") || n.isWord("TIMESTAMP")) && seq[s[first + 1]].kind == Tok::String)
            return true;
        if (n.isWord("CASE"))
            return bool(m_lookup);
        const Node &end = seq[s[last]];
        if (end.kind == Tok::Group && last >= 1 && seq[s[last - 1]].kind == Tok::Word)
            return call(seq[s[last - 1]].text.toUpper(), end.kids, last - 1 > first);
        if (isName(end)) // owner.table.column, alias.column
            return column(unquote(end));
        return false;
    }

    // A run of terms joined by + - ||: whether its value may be a date.
    bool chain(const Seq &seq, const std::vector<size_t> &s, size_t first, size_t last)
    {
        Operands ops{seq, s};
        size_t te = ops.termFwd(first);
        bool date = term(seq, s, first, te);
        for (size_t t = te + 1; t + 1 <= last && t + 1 < s.size(); t = te + 1) {
            te = ops.termFwd(t + 1);
            const bool rhs = term(seq, s, t + 1, te);
            if (ops.at(t).isOp("||"))
                date = false;
            else if (ops.at(t).isOp("+"))
                date = date || rhs;
        }
        return date;
    }

    bool term(const Seq &seq, const std::vector<size_t> &s, size_t first, size_t last)
    {
        for (size_t p = first + 1; p <= last; ++p)
            if (seq[s[p]].isOp("*") || seq[s[p]].isOp("/"))
                return false; // a product is a number
        return operand(seq, s, first, last);
    }

private:
    bool call(const QString &name, const Seq &args, bool qualified)
    {
        static const QSet<QString> dates = {
            QStringLiteral("TO_DATE"),     QStringLiteral("ADD_MONTHS"), QStringLiteral("LAST_DAY"),
            QStringLiteral("NEXT_DAY"),    QStringLiteral("ORA_ADD"),    QStringLiteral("TO_TIMESTAMP"),
            QStringLiteral("ORA_SYSDATE"),
        };
        // Their value is one of their arguments'.
        static const QSet<QString> passing = {
            QStringLiteral("TRUNC"),    QStringLiteral("ROUND"),    QStringLiteral("NVL"),    QStringLiteral("NVL2"),
            QStringLiteral("COALESCE"), QStringLiteral("GREATEST"), QStringLiteral("LEAST"),  QStringLiteral("MIN"),
            QStringLiteral("MAX"),      QStringLiteral("DECODE"),   QStringLiteral("NULLIF"), QStringLiteral("ORA_SUB"),
        };
        static const QSet<QString> others = {
            QStringLiteral("COUNT"),     QStringLiteral("SUM"),
            QStringLiteral("AVG"),       QStringLiteral("LENGTH"),
            QStringLiteral("INSTR"),     QStringLiteral("MOD"),
            QStringLiteral("ABS"),       QStringLiteral("SIGN"),
            QStringLiteral("CEIL"),      QStringLiteral("FLOOR"),
            QStringLiteral("POWER"),     QStringLiteral("SQRT"),
            QStringLiteral("TO_NUMBER"), QStringLiteral("TO_CHAR"),
            QStringLiteral("SUBSTR"),    QStringLiteral("UPPER"),
            QStringLiteral("LOWER"),     QStringLiteral("INITCAP"),
            QStringLiteral("LPAD"),      QStringLiteral("RPAD"),
            QStringLiteral("LTRIM"),     QStringLiteral("RTRIM"),
            QStringLiteral("TRIM"),      QStringLiteral("REPLACE"),
            QStringLiteral("TRANSLATE"), QStringLiteral("CONCAT"),
            QStringLiteral("EXTRACT"),   QStringLiteral("MONTHS_BETWEEN"),
            QStringLiteral("ASCII"),     QStringLiteral("CHR"),
            QStringLiteral("EXP"),       QStringLiteral("LN"),
            QStringLiteral("LOG"),       QStringLiteral("REMAINDER"),
            QStringLiteral("BITAND"),    QStringLiteral("STDDEV"),
            QStringLiteral("VARIANCE"),  QStringLiteral("LISTAGG"),
        };
        if (!qualified) {
            if (dates.contains(name))
                return true;
            if (others.contains(name))
                return false;
            if (passing.contains(name)) {
                const auto sig = significant(args);
                std::vector<size_t> piece;
                auto flush = [&] {
                    const bool d = !piece.empty() && operandList(args, piece);
                    piece.clear();
                    return d;
                };
                for (size_t k : sig) {
                    if (args[k].kind == Tok::Comma) {
                        if (flush())
                            return true;
                    } else {
                        piece.push_back(k);
                    }
                }
                return flush();
            }
        }
        return bool(m_lookup); // a function of the database's own
    }

    bool operandList(const Seq &seq, const std::vector<size_t> &s)
    {
        try {
            return chain(seq, s, 0, s.size() - 1);
        } catch (const OraError &) {
            return bool(m_lookup);
        }
    }

    bool column(const QString &name)
    {
        if (!m_lookup)
            return false;
        const QString key = name.toUpper();
        const auto known = m_columns.constFind(key);
        if (known != m_columns.constEnd())
            return *known;
        bool found = false, date = false;
        for (const QString &table : std::as_const(m_tables)) {
            const ColumnType kind = m_lookup(table, name);
            found = found || kind != ColumnType::Absent;
            date = date || kind == ColumnType::Date;
        }
        // A name no table has (a subquery's column, a sequence's NEXTVAL)
        // may be anything.
        const bool maybe = date || !found;
        m_columns.insert(key, maybe);
        return maybe;
    }

    // The tables a statement names (FROM and JOIN lists, UPDATE, INTO), at
    // any depth: a column is looked for in each.
    void collectTables(const Seq &seq)
    {
        const auto sig = significant(seq);
        bool inFrom = false, expect = false;
        for (size_t k = 0; k < sig.size(); ++k) {
            const Node &n = seq[sig[k]];
            if (n.kind == Tok::Group) {
                collectTables(n.kids);
            } else if (n.isWord("FROM") || n.isWord("JOIN") || n.isWord("UPDATE") || n.isWord("INTO")) {
                inFrom = n.isWord("FROM");
                expect = true;
                continue;
            } else if (inFrom && n.kind == Tok::Comma) {
                expect = true;
                continue;
            } else if (inFrom && endsFromList(n)) {
                inFrom = false;
            } else if (expect && isName(n) && !(k + 1 < sig.size() && seq[sig[k + 1]].kind == Tok::Dot)) {
                const QString t = unquote(n);
                if (!m_tables.contains(t, Qt::CaseInsensitive))
                    m_tables << t;
            } else if (expect && k + 1 < sig.size() && seq[sig[k + 1]].kind == Tok::Dot) {
                continue; // owner.table: the name comes after the dot
            }
            expect = false;
        }
    }

    const ColumnLookup &m_lookup;
    QStringList m_tables;
    QHash<QString, bool> m_columns; // upper-case name -> may be a date
};

void dateArithmetic(Seq &seq, DateTyping &types, bool allNumbers)
{
    forEachGroup(seq, [&](Seq &inner) { dateArithmetic(inner, types, allNumbers); });
    size_t from = 1;
    for (;;) {
        const auto s = significant(seq);
        size_t op = s.size();
        for (size_t k = from; k + 1 < s.size(); ++k) {
            const Node &n = seq[s[k]];
            if ((n.isOp("+") || n.isOp("-") || n.isOp("||")) && endsOperand(seq[s[k - 1]])) {
                op = k;
                break;
            }
        }
        if (op >= s.size())
            return;
        Operands ops{seq, s};
        size_t first = ops.termBwd(op - 1);
        while (first >= 2 && ops.additive(first - 1) && endsOperand(ops.at(first - 2)))
            first = ops.termBwd(first - 2);
        struct Step {
            size_t op, first, last;
            bool date;
        };
        std::vector<Step> steps;
        size_t te = ops.termFwd(first);
        const bool firstDate = types.term(seq, s, first, te);
        bool any = false, accDate = firstDate;
        size_t last = te;
        while (last + 2 < s.size() && ops.additive(last + 1)) {
            const size_t o = last + 1;
            te = ops.termFwd(o + 1);
            const bool d = types.term(seq, s, o + 1, te);
            steps.push_back({o, o + 1, te, d});
            if (ops.at(o).isOp("||")) {
                accDate = false;
            } else {
                any = any || accDate || d || allNumbers;
                if (ops.at(o).isOp("+"))
                    accDate = accDate || d;
            }
            last = te;
        }
        // A chain that ends before the operator found (text the engine will
        // refuse anyway) is left as written; the search always moves on.
        if (!any || last < op) {
            from = std::max(last, op) + 1;
            continue;
        }
        auto range = [&](size_t a, size_t b) {
            return Seq(seq.begin() + qsizetype(a), seq.begin() + qsizetype(b) + 1);
        };
        Seq acc = range(s[first], s[steps.empty() ? last : steps.front().op - 1]);
        accDate = firstDate;
        for (const Step &st : steps) {
            const Node &o = seq[s[st.op]];
            if (!o.isOp("||") && (accDate || st.date || allNumbers)) {
                Seq kids = std::move(acc);
                kids.push_back(Node{Tok::Comma, QStringLiteral(","), {}});
                kids.push_back(space());
                append(kids, range(s[st.first], s[st.last]));
                acc = Seq{word(QLatin1String(o.isOp("+") ? "ora_add" : "ora_sub")), group(std::move(kids))};
                accDate = o.isOp("+") ? true : accDate;
            } else {
                append(acc, range(s[st.op - 1] + 1, s[st.last]));
                accDate = o.isOp("||") ? false : accDate;
            }
        }
        auto it = seq.erase(seq.begin() + qsizetype(s[first]), seq.begin() + qsizetype(s[last]) + 1);
        seq.insert(it, acc.begin(), acc.end());
        from = first + 1;
    }
}

// ---- ORDER BY: Oracle sorts NULL as the largest value ---------------------

void nullOrdering(Seq &seq)
{
    forEachGroup(seq, nullOrdering);
    const auto s = significant(seq);
    std::vector<std::pair<size_t, Node>> after; // the NULLS clause after each ORDER BY item
    for (size_t k = 0; k + 1 < s.size(); ++k) {
        if (!(seq[s[k]].isWord("ORDER") && seq[s[k + 1]].isWord("BY")))
            continue;
        size_t p = k + 2, itemFirst = p;
        for (;; ++p) {
            const bool end = p >= s.size() || seq[s[p]].kind == Tok::Semicolon || seq[s[p]].isWord("LIMIT")
                             || seq[s[p]].isWord("OFFSET") || seq[s[p]].isWord("FETCH") || seq[s[p]].isWord("FOR")
                             || seq[s[p]].isWord("UNION") || seq[s[p]].isWord("INTERSECT")
                             || seq[s[p]].isWord("EXCEPT") || seq[s[p]].isWord("MINUS");
            if (end || seq[s[p]].kind == Tok::Comma) {
                if (p > itemFirst && !(p >= 2 && seq[s[p - 2]].isWord("NULLS"))) {
                    const bool desc = seq[s[p - 1]].isWord("DESC");
                    after.emplace_back(s[p - 1], space());
                    after.emplace_back(s[p - 1], word(QLatin1String(desc ? "NULLS FIRST" : "NULLS LAST")));
                }
                itemFirst = p + 1;
            }
            if (end)
                break;
        }
        k = p;
    }
    insertAfter(seq, std::move(after));
}

void checkSemicolons(Seq &seq)
{
    const auto s = significant(seq);
    for (size_t k = 0; k < s.size(); ++k)
        if (seq[s[k]].kind == Tok::Semicolon) {
            if (k + 1 != s.size())
                throw OraError(QString::fromLatin1(ora::kInvalidCharacter));
            seq.erase(seq.begin() + qsizetype(s[k]));
        }
}

// ---- PostgreSQL: Oracle's functions -------------------------------------

// A translation may repeat an operand (DECODE's first argument for each
// search value); nested, that doubles per level. Past this size the
// statement is refused rather than built.
constexpr qsizetype kMaxPostgresText = 4 * 1024 * 1024;

qsizetype textSize(const Seq &seq)
{
    qsizetype n = 0;
    for (const Node &k : seq)
        n += k.kind == Tok::Group ? 2 + textSize(k.kids) : k.text.size();
    return n;
}

// The arguments of a call: the group's nodes split at its own commas, each
// without the blanks and comments around it (a -- comment at the end of one
// would run into what the rewrite writes after it).
std::vector<Seq> arguments(const Seq &kids)
{
    std::vector<Seq> out(1);
    for (const Node &n : kids) {
        if (n.kind == Tok::Comma)
            out.emplace_back();
        else
            out.back().push_back(n);
    }
    for (Seq &a : out) {
        while (!a.empty() && a.front().trivia())
            a.erase(a.begin());
        while (!a.empty() && a.back().trivia())
            a.pop_back();
    }
    if (out.size() == 1 && out[0].empty())
        out.clear();
    return out;
}

Node group(Seq kids)
{
    return Node{Tok::Group, QString(), std::move(kids)};
}

// Nodes from a template: {N} is argument N as written, [N] the same in
// parentheses (a group, so that no operator around it can bind into it).
Seq fill(const QString &tmpl, const std::vector<Seq> &args)
{
    Seq out;
    QString text;
    auto flush = [&] {
        if (!text.isEmpty()) {
            Seq part = parse(text);
            std::move(part.begin(), part.end(), std::back_inserter(out));
            text.clear();
        }
    };
    for (qsizetype i = 0; i < tmpl.size(); ++i) {
        const QChar c = tmpl[i];
        if ((c == QLatin1Char('{') || c == QLatin1Char('[')) && i + 2 < tmpl.size() && tmpl[i + 1].isDigit()) {
            flush();
            const Seq &a = args[size_t(tmpl[i + 1].digitValue())];
            if (c == QLatin1Char('['))
                out.push_back(group(a));
            else
                out.insert(out.end(), a.begin(), a.end());
            i += 2;
            continue;
        }
        text += c;
    }
    flush();
    return out;
}

bool plainLiteral(const Seq &arg)
{
    const auto sig = significant(arg);
    if (sig.size() == 1)
        return arg[sig[0]].kind == Tok::String || arg[sig[0]].kind == Tok::Number;
    return sig.size() == 2 && (arg[sig[0]].isOp("-") || arg[sig[0]].isOp("+")) && arg[sig[1]].kind == Tok::Number;
}

bool isNullWord(const Seq &arg)
{
    const auto sig = significant(arg);
    return sig.size() == 1 && arg[sig[0]].isWord("NULL");
}

void checkCount(const std::vector<Seq> &args, size_t least, size_t most = std::numeric_limits<size_t>::max())
{
    if (args.size() < least)
        throw OraError(QString::fromLatin1(ora::kNotEnoughArguments));
    if (args.size() > most)
        throw OraError(QString::fromLatin1(ora::kTooManyArguments));
}

void append(Seq &to, const Seq &nodes)
{
    to.insert(to.end(), nodes.begin(), nodes.end());
}

// DECODE(x, s1, r1, ..., default): NULL matches NULL. With literal search
// values x is written once (CASE x WHEN ...), a NULL search value looked for
// first since nothing else can match a NULL; other search values compare
// with IS NOT DISTINCT FROM, x written for each.
// Oracle gives DECODE the type of its first result: after a text, a number
// literal is that number's text. PostgreSQL would refuse a CASE of both.
void resultsAsText(std::vector<Seq> &args)
{
    const auto first = significant(args[2]);
    if (first.size() != 1 || args[2][first[0]].kind != Tok::String)
        return;
    const size_t pairs = (args.size() - 1) / 2;
    auto convert = [&](Seq &a) {
        if (!plainLiteral(a) || isNullWord(a))
            return;
        const auto sig = significant(a);
        if (a[sig.back()].kind != Tok::Number)
            return;
        QString number = str(a, sig.front(), sig.back() + 1).remove(QLatin1Char(' '));
        if (number.startsWith(QLatin1Char('+')))
            number.remove(0, 1);
        bool ok = false;
        const double d = number.toDouble(&ok);
        if (ok)
            a = Seq{Node{Tok::String, QLatin1Char('\'') + oracleNumberText(d) + QLatin1Char('\''), {}}};
    };
    for (size_t p = 1; p < pairs; ++p)
        convert(args[2 + 2 * p]);
    if ((args.size() - 1) % 2 == 1)
        convert(args.back());
}

Seq decode(std::vector<Seq> args)
{
    checkCount(args, 3);
    resultsAsText(args);
    const Seq &x = args[0];
    const size_t pairs = (args.size() - 1) / 2;
    const bool hasDefault = (args.size() - 1) % 2 == 1;
    bool literals = true;
    int nullSearch = -1;
    for (size_t p = 0; p < pairs; ++p) {
        const Seq &search = args[1 + 2 * p];
        if (isNullWord(search)) {
            if (nullSearch < 0)
                nullSearch = int(p);
        } else if (!plainLiteral(search)) {
            literals = false;
        }
    }
    const qsizetype copies = literals ? (nullSearch >= 0 ? 2 : 1) : qsizetype(pairs);
    if (textSize(x) * copies > kMaxPostgresText)
        throw OraError(ora::text(ora::kInvalidStatement, QStringLiteral("translation too long")));

    Seq out = fill(QStringLiteral("CASE "), {});
    if (literals) {
        Seq inner = fill(QStringLiteral("CASE [0]"), {x});
        bool any = false;
        for (size_t p = 0; p < pairs; ++p) {
            if (isNullWord(args[1 + 2 * p]))
                continue;
            any = true;
            append(inner, fill(QStringLiteral(" WHEN {0} THEN {1}"), {args[1 + 2 * p], args[2 + 2 * p]}));
        }
        if (!any) // only NULL searches: no simple CASE to write
            inner = hasDefault ? fill(QStringLiteral("{0}"), {args.back()}) : fill(QStringLiteral("NULL"), {});
        else
            append(inner, hasDefault ? fill(QStringLiteral(" ELSE {0} END"), {args.back()})
                                     : fill(QStringLiteral(" END"), {}));
        if (nullSearch < 0)
            return inner;
        out = fill(QStringLiteral("CASE WHEN [0] IS NULL THEN {1} ELSE "), {x, args[2 + 2 * size_t(nullSearch)]});
        append(out, inner);
        append(out, fill(QStringLiteral(" END"), {}));
        return out;
    }
    for (size_t p = 0; p < pairs; ++p)
        append(out, fill(QStringLiteral("WHEN [0] IS NOT DISTINCT FROM [1] THEN {2} "),
                         {x, args[1 + 2 * p], args[2 + 2 * p]}));
    append(out, hasDefault ? fill(QStringLiteral("ELSE {0} END"), {args.back()}) : fill(QStringLiteral("END"), {}));
    return out;
}

// Calls of Oracle's functions written as PostgreSQL reads them with the
// results SQLite's functions give (backend/postgres/functions/ora_*.sql). A text argument
// goes through ora_text, so that numbers and dates may stand for texts.
void postgresCalls(Seq &seq)
{
    forEachGroup(seq, postgresCalls);
    const auto sig = significant(seq);
    for (size_t k = 0; k + 1 < sig.size(); ++k) {
        Node &fn = seq[sig[k]];
        Node &call = seq[sig[k + 1]];
        if (fn.kind != Tok::Word || call.kind != Tok::Group || (k > 0 && seq[sig[k - 1]].kind == Tok::Dot))
            continue;
        if (k + 2 < sig.size() && seq[sig[k + 2]].kind == Tok::Dot)
            continue;
        const QString name = fn.text.toUpper();
        struct Simple {
            const char *oracle, *postgres;
            size_t least, most;
            bool textFirst;
        };
        static const Simple simple[] = {
            {"NVL", "ora_nvl", 2, 2, false},
            {"SIGN", "ora_sign", 1, 1, false},
            {"SUBSTR", "ora_substr", 2, 3, true},
            {"LENGTH", "ora_length", 1, 1, true},
            {"UPPER", "upper", 1, 1, true},
            {"LOWER", "lower", 1, 1, true},
            {"TO_CHAR", "ora_to_char", 1, 2, false},
            {"TO_DATE", "ora_to_date", 1, 2, false},
            {"TO_NUMBER", "ora_to_number", 1, 2, false},
            {"TRUNC", "ora_trunc", 1, 2, false},
            {"MOD", "ora_mod", 2, 2, false},
            {"POWER", "ora_power", 2, 2, false},
            {"ROUND", "ora_round", 1, 2, false},
            {"ADD_MONTHS", "ora_add_months", 2, 2, false},
            {"LAST_DAY", "ora_last_day", 1, 1, false},
            {"MONTHS_BETWEEN", "ora_months_between", 2, 2, false},
            {"NEXT_DAY", "ora_next_day", 2, 2, false},
            {"LPAD", "ora_lpad", 2, 3, true},
            {"RPAD", "ora_rpad", 2, 3, true},
            {"INSTR", "ora_instr", 2, 4, true},
            {"INITCAP", "ora_initcap", 1, 1, true},
            {"TRANSLATE", "ora_translate", 3, 3, true},
            {"REPLACE", "ora_replace", 2, 3, true},
            {"LTRIM", "ora_ltrim", 1, 2, true},
            {"RTRIM", "ora_rtrim", 1, 2, true},
        };
        bool done = false;
        for (const Simple &f : simple) {
            if (name != QLatin1String(f.oracle))
                continue;
            std::vector<Seq> args = arguments(call.kids);
            checkCount(args, f.least, f.most);
            fn.text = QString::fromLatin1(f.postgres);
            if (f.textFirst) {
                Seq first = fill(QStringLiteral("ora_text[0]"), {args[0]});
                Seq kids = first;
                for (size_t a = 1; a < args.size(); ++a) {
                    kids.push_back(Node{Tok::Comma, QStringLiteral(","), {}});
                    kids.push_back(space());
                    kids.insert(kids.end(), args[a].begin(), args[a].end());
                }
                call.kids = std::move(kids);
            }
            done = true;
            break;
        }
        if (done)
            continue;
        if (name == QLatin1String("NVL2")) {
            std::vector<Seq> args = arguments(call.kids);
            checkCount(args, 3, 3);
            fn = space(QString());
            call.kids = fill(QStringLiteral("CASE WHEN [0] IS NOT NULL THEN {1} ELSE {2} END"), args);
        } else if (name == QLatin1String("CONCAT")) {
            std::vector<Seq> args = arguments(call.kids);
            checkCount(args, 2, 2);
            fn.text = QStringLiteral("ora_concat");
            call.kids = fill(QStringLiteral("ora_text[0], ora_text[1]"), args);
        } else if (name == QLatin1String("GREATEST") || name == QLatin1String("LEAST")) {
            // Compared as the first is: after a number, texts are read as
            // numbers.
            std::vector<Seq> args = arguments(call.kids);
            checkCount(args, 1);
            const auto first = significant(args[0]);
            const bool number = plainLiteral(args[0]) && args[0][first.back()].kind == Tok::Number;
            Seq kids;
            for (size_t a = 0; a < args.size(); ++a) {
                if (a > 0) {
                    kids.push_back(Node{Tok::Comma, QStringLiteral(","), {}});
                    kids.push_back(space());
                }
                append(kids, number && a > 0 ? fill(QStringLiteral("ora_to_number[0]"), {args[a]}) : args[a]);
            }
            fn.text = name == QLatin1String("GREATEST") ? QStringLiteral("ora_greatest") : QStringLiteral("ora_least");
            call.kids = std::move(kids);
        } else if (name == QLatin1String("DECODE")) {
            fn = space(QString());
            call.kids = decode(arguments(call.kids));
        }
    }
}

// ---- PostgreSQL: the answer's column names --------------------------------

// The top-level select list of a statement: sig positions of each item
// [first, last], or nothing when the statement is no SELECT.
std::vector<std::pair<size_t, size_t>> selectItems(const Seq &seq, const std::vector<size_t> &sig)
{
    std::vector<std::pair<size_t, size_t>> items;
    size_t k = 0;
    // WITH [RECURSIVE] name AS (...), ...: the SELECT after it
    if (!sig.empty() && seq[sig[0]].isWord("WITH"))
        while (k < sig.size() && !seq[sig[k]].isWord("SELECT"))
            ++k;
    if (k >= sig.size() || !seq[sig[k]].isWord("SELECT"))
        return items;
    ++k;
    while (k < sig.size() && (seq[sig[k]].isWord("DISTINCT") || seq[sig[k]].isWord("ALL") || seq[sig[k]].isWord("UNIQUE")))
        ++k;
    size_t first = k;
    for (; k <= sig.size(); ++k) {
        const bool end = k == sig.size() || seq[sig[k]].isWord("FROM") || seq[sig[k]].isWord("UNION")
                         || seq[sig[k]].isWord("INTERSECT") || seq[sig[k]].isWord("EXCEPT")
                         || seq[sig[k]].isWord("MINUS") || seq[sig[k]].isWord("ORDER")
                         || seq[sig[k]].isWord("WHERE") || seq[sig[k]].isWord("INTO");
        if (end || seq[sig[k]].kind == Tok::Comma) {
            if (k > first)
                items.emplace_back(first, k - 1);
            first = k + 1;
        }
        if (end)
            break;
    }
    return items;
}

struct NamedItem {
    enum Kind { Star, Alias, Column, Expression } kind = Expression;
    size_t nameAt = 0; // sig position of the alias or the column name
};

NamedItem classify(const Seq &seq, const std::vector<size_t> &sig, size_t first, size_t last)
{
    NamedItem it;
    const Node &end = seq[sig[last]];
    if (end.isOp("*")) {
        it.kind = NamedItem::Star;
        return it;
    }
    if (isName(end) && last > first) {
        const Node &before = seq[sig[last - 1]];
        if (before.isWord("AS") || (before.kind != Tok::Dot && endsOperand(before))) {
            it.kind = NamedItem::Alias;
            it.nameAt = last;
            return it;
        }
    }
    // t.col, owner.t.col, col
    bool column = isName(seq[sig[first]]);
    for (size_t p = first + 1; column && p <= last; p += 2)
        column = p + 1 <= last && seq[sig[p]].kind == Tok::Dot && isName(seq[sig[p + 1]]);
    // sysdate is no column, whatever its spelling says
    if (column && first == last && seq[sig[first]].isWord("SYSDATE"))
        column = false;
    if (column) {
        it.kind = NamedItem::Column;
        it.nameAt = last;
    }
    return it;
}

// The tables of the first FROM list at the top level, as written.
std::vector<FromTable> fromTables(const Seq &seq, const std::vector<size_t> &sig)
{
    std::vector<FromTable> out;
    size_t k = 0;
    while (k < sig.size() && !seq[sig[k]].isWord("FROM"))
        ++k;
    bool expectTable = true;
    for (++k; k < sig.size() && !endsFromList(seq[sig[k]]); ++k) {
        const Node &n = seq[sig[k]];
        if (n.kind == Tok::Comma || n.isWord("JOIN")) {
            expectTable = true;
            continue;
        }
        if (n.isWord("ON")) {
            expectTable = false;
            continue;
        }
        if (!expectTable || !isName(n))
            continue;
        FromTable t;
        t.table = unquote(n);
        size_t a = k + 1;
        if (a < sig.size() && seq[sig[a]].isWord("AS"))
            ++a;
        if (a < sig.size() && isName(seq[sig[a]]) && !seq[sig[a]].isWord("LEFT") && !seq[sig[a]].isWord("INNER")
            && !seq[sig[a]].isWord("CROSS") && !seq[sig[a]].isWord("RIGHT") && !seq[sig[a]].isWord("FULL")
            && !seq[sig[a]].isWord("NATURAL") && !endsFromList(seq[sig[a]]))
            t.alias = unquote(seq[sig[a]]);
        out.push_back(t);
        expectTable = false;
    }
    return out;
}

// For each item of the outermost select list, the name SQLite gives it;
// an empty name where the item keeps its own (a *, an alias).
using NamePlan = std::vector<QString>;

// `sqliteText` gives the statement's SQLite text, which names the items
// that are expressions; it is asked for only when there is one.
NamePlan planNames(const Seq &original, const std::function<QString()> &sqliteText, const ColumnSpelling &declared)
{
    NamePlan plan;
    const auto sig = significant(original);
    const auto items = selectItems(original, sig);
    if (items.empty())
        return plan;
    bool expressions = false;
    for (const auto &[first, last] : items)
        expressions = expressions || classify(original, sig, first, last).kind == NamedItem::Expression;
    const Seq lite = expressions ? parse(sqliteText()) : Seq();
    const auto liteSig = significant(lite);
    const auto liteItems = selectItems(lite, liteSig);
    const std::vector<FromTable> tables = fromTables(original, sig);
    for (size_t i = 0; i < items.size(); ++i) {
        const auto [first, last] = items[i];
        const NamedItem it = classify(original, sig, first, last);
        QString name;
        if (it.kind == NamedItem::Alias) {
            const Node &alias = original[sig[it.nameAt]];
            name = unquote(alias);
        } else if (it.kind == NamedItem::Column) {
            const QString column = unquote(original[sig[last]]);
            name = column;
            if (declared) {
                const QString qualifier = last > first ? unquote(original[sig[last - 2]]) : QString();
                for (const FromTable &t : tables) {
                    if (!qualifier.isEmpty() && t.alias.compare(qualifier, Qt::CaseInsensitive) != 0
                        && !(t.alias.isEmpty() && t.table.compare(qualifier, Qt::CaseInsensitive) == 0))
                        continue;
                    const QString spelled = declared(t.table, column);
                    if (!spelled.isEmpty()) {
                        name = spelled;
                        break;
                    }
                }
            }
        } else if (it.kind == NamedItem::Expression && i < liteItems.size() && liteItems.size() == items.size()) {
            // SQLite's text, or the name its translation gave the item
            const NamedItem liteIt = classify(lite, liteSig, liteItems[i].first, liteItems[i].second);
            name = liteIt.kind == NamedItem::Alias
                       ? unquote(lite[liteSig[liteIt.nameAt]])
                       : str(lite, liteSig[liteItems[i].first], liteSig[liteItems[i].second] + 1);
        }
        plan.push_back(name);
    }
    return plan;
}

void applyNames(Seq &seq, const NamePlan &plan)
{
    if (plan.empty())
        return;
    const auto sig = significant(seq);
    const auto items = selectItems(seq, sig);
    if (items.size() != plan.size())
        return;
    QMap<QString, QString> byName; // upper-case name -> the quoted one, for ORDER BY
    std::vector<std::pair<size_t, Node>> after; // seq index -> " AS name" to write after it
    for (size_t i = 0; i < items.size(); ++i) {
        const auto [first, last] = items[i];
        const NamedItem it = classify(seq, sig, first, last);
        if (it.kind == NamedItem::Star || plan[i].isEmpty())
            continue;
        const QString quoted = quotedName(plan[i]);
        if (!byName.contains(plan[i].toUpper()))
            byName.insert(plan[i].toUpper(), quoted);
        if (it.kind == NamedItem::Alias) {
            Node &alias = seq[sig[it.nameAt]];
            const bool as = seq[sig[it.nameAt - 1]].isWord("AS");
            alias = word(as ? quoted : QStringLiteral("AS ") + quoted);
        } else {
            after.emplace_back(sig[last], word(QStringLiteral(" AS ") + quoted));
        }
    }
    insertAfter(seq, std::move(after));
    // ORDER BY Name means the column the list names so; PostgreSQL would
    // look for the folded name.
    const auto s = significant(seq);
    for (size_t k = 0; k + 1 < s.size(); ++k) {
        if (!(seq[s[k]].isWord("ORDER") && seq[s[k + 1]].isWord("BY")))
            continue;
        size_t itemFirst = k + 2;
        for (size_t p = k + 2; p <= s.size(); ++p) {
            if (p < s.size() && seq[s[p]].kind != Tok::Comma)
                continue;
            // An item that is one name, maybe followed by ASC/DESC/NULLS ...
            if (itemFirst < p && seq[s[itemFirst]].kind == Tok::Word && !isKeyword(seq[s[itemFirst]])) {
                bool alone = true;
                for (size_t q = itemFirst + 1; q < p; ++q)
                    alone = alone && seq[s[q]].kind == Tok::Word
                            && (isKeyword(seq[s[q]]) || seq[s[q]].text.startsWith(QLatin1String("NULLS "), Qt::CaseInsensitive));
                const auto found = byName.constFind(seq[s[itemFirst]].text.toUpper());
                if (alone && found != byName.constEnd())
                    seq[s[itemFirst]].text = *found;
            }
            itemFirst = p + 1;
        }
        break;
    }
}

// DECODE on SQLite: a function there would be handed every argument, so a
// search or result Oracle never reaches (past the first match) would still
// be computed, and its error be the answer. Written as a CASE instead, x
// compared by ora_decode_eq (NULL matches NULL, numbers as numbers), with
// Oracle's empty text made NULL as the function did. An unaliased item of
// the select list keeps the name the call gave it.
void sqliteDecode(Seq &seq, bool top = true)
{
    forEachGroup(seq, [](Seq &inner) { sqliteDecode(inner, false); });
    auto hasDecode = [](const Seq &s, size_t from, size_t to) {
        std::function<bool(const Seq &, size_t, size_t)> scan = [&](const Seq &q, size_t a, size_t b) {
            for (size_t i = a; i < b; ++i) {
                if (q[i].isWord("DECODE"))
                    return true;
                if (q[i].kind == Tok::Group && scan(q[i].kids, 0, q[i].kids.size()))
                    return true;
            }
            return false;
        };
        return scan(s, from, to);
    };
    if (top) {
        const auto sig = significant(seq);
        const auto items = selectItems(seq, sig);
        for (auto it = items.rbegin(); it != items.rend(); ++it) {
            const size_t first = sig[it->first], last = sig[it->second];
            if (classify(seq, sig, it->first, it->second).kind != NamedItem::Expression
                || !hasDecode(seq, first, last + 1))
                continue;
            Seq alias = fill(QStringLiteral(" AS ") + quotedName(str(seq, first, last + 1)), {});
            seq.insert(seq.begin() + qsizetype(last) + 1, alias.begin(), alias.end());
        }
    }
    for (size_t k = 0; k + 1 < seq.size(); ++k) {
        if (!seq[k].isWord("DECODE"))
            continue;
        size_t g = k + 1;
        while (g < seq.size() && seq[g].trivia())
            ++g;
        if (g >= seq.size() || seq[g].kind != Tok::Group)
            continue;
        std::vector<Seq> args = arguments(seq[g].kids);
        checkCount(args, 3);
        const size_t pairs = (args.size() - 1) / 2;
        if (textSize(args[0]) * qsizetype(pairs) > kMaxPostgresText)
            throw OraError(ora::text(ora::kInvalidStatement, QStringLiteral("translation too long")));
        Seq kids = fill(QStringLiteral("CASE"), {});
        for (size_t p = 0; p < pairs; ++p) {
            Seq compared = args[0];
            append(compared, fill(QStringLiteral(", {0}"), {args[1 + 2 * p]}));
            append(kids, fill(QStringLiteral(" WHEN ora_decode_eq"), {}));
            kids.push_back(group(std::move(compared)));
            append(kids, fill(QStringLiteral(" THEN {0}"), {args[2 + 2 * p]}));
        }
        if ((args.size() - 1) % 2 == 1)
            append(kids, fill(QStringLiteral(" ELSE {0}"), {args.back()}));
        append(kids, fill(QStringLiteral(" END, ''"), {}));
        seq[k].text = QStringLiteral("nullif");
        seq[g].kids = std::move(kids);
    }
}

// ---- arithmetic in decimals ------------------------------------------------

// A binary operator of arithmetic at significant position k: * and /, and
// with `additive` + and - (a sign after an operator is no operator).
bool arithmeticOperator(const Seq &seq, const std::vector<size_t> &s, size_t k, bool additive)
{
    const Node &n = seq[s[k]];
    if (!(n.isOp("*") || n.isOp("/") || (additive && (n.isOp("+") || n.isOp("-")))) || k == 0)
        return false;
    return endsOperand(seq[s[k - 1]]) || seq[s[k - 1]].isOp("?");
}

bool hasArithmetic(const Seq &seq)
{
    const auto s = significant(seq);
    for (size_t k = 0; k < s.size(); ++k)
        if (arithmeticOperator(seq, s, k, true) || (seq[s[k]].kind == Tok::Group && hasArithmetic(seq[s[k]].kids)))
            return true;
    return false;
}

// SQLite names an unaliased item by its text; arithmetic written as calls
// would change that name, so such an item is named by the text it has.
void keepArithmeticNames(Seq &seq)
{
    const auto sig = significant(seq);
    const auto items = selectItems(seq, sig);
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        const size_t first = sig[it->first], last = sig[it->second];
        if (classify(seq, sig, it->first, it->second).kind != NamedItem::Expression
            || !hasArithmetic(Seq(seq.begin() + qsizetype(first), seq.begin() + qsizetype(last) + 1)))
            continue;
        Seq alias = fill(QStringLiteral(" AS ") + quotedName(str(seq, first, last + 1)), {});
        seq.insert(seq.begin() + qsizetype(last) + 1, alias.begin(), alias.end());
    }
}

// Oracle's numbers are decimal. SQLite's are doubles, and so is a
// NUMBER(p,s) column on PostgreSQL (0.1 + 0.2 is not 0.3 in them), so * and
// / become ora_mul and ora_div, as + and - became ora_add and ora_sub,
// which compute on the decimals the doubles stand for. A whole number
// divides into a fraction, and a quotient is rounded to the 15 significant
// digits a double holds on both engines, so a quotient cut to a whole number
// (TRUNC, MOD, ADD_MONTHS) is the same on both.
void decimalArithmetic(Seq &seq, const SqlTraits &t)
{
    forEachGroup(seq, [&t](Seq &inner) { decimalArithmetic(inner, t); });
    size_t from = 1;
    for (;;) {
        const auto s = significant(seq);
        size_t op = from;
        while (op < s.size() && !arithmeticOperator(seq, s, op, false))
            ++op;
        if (op >= s.size())
            return;
        Operands ops{seq, s};
        const size_t first = ops.termBwd(op - 1);
        std::vector<std::pair<size_t, size_t>> terms{{first, ops.primaryFwd(first)}};
        while (terms.back().second + 2 < s.size()
               && (ops.at(terms.back().second + 1).isOp("*") || ops.at(terms.back().second + 1).isOp("/"))) {
            const size_t b = terms.back().second + 2;
            terms.emplace_back(b, ops.primaryFwd(b));
        }
        if (terms.size() == 1) // nothing after the operator
            throw OraError(QString::fromLatin1(ora::kMissingExpression));
        const size_t last = terms.back().second;
        auto range = [&](const std::pair<size_t, size_t> &term) {
            return Seq(seq.begin() + qsizetype(s[term.first]), seq.begin() + qsizetype(s[term.second]) + 1);
        };
        // PostgreSQL's ora_div takes numerics; a double (a NUMBER(p,s)
        // column) becomes one as its 15 digits.
        auto numeric = [&](Seq operand) {
            if (!t.callsOracleFunctions)
                return operand;
            Seq cast = std::move(operand);
            append(cast, fill(QStringLiteral(" AS numeric"), {}));
            return Seq{word(QStringLiteral("CAST")), group(std::move(cast))};
        };
        Seq acc = range(terms.front());
        for (size_t i = 1; i < terms.size(); ++i) {
            const bool divide = ops.at(terms[i].first - 1).isOp("/");
            Seq kids = divide ? numeric(std::move(acc)) : std::move(acc);
            kids.push_back(Node{Tok::Comma, QStringLiteral(","), {}});
            kids.push_back(space());
            append(kids, divide ? numeric(range(terms[i])) : range(terms[i]));
            acc = Seq{word(QLatin1String(divide ? "ora_div" : "ora_mul")), group(std::move(kids))};
        }
        auto it = seq.erase(seq.begin() + qsizetype(s[first]), seq.begin() + qsizetype(s[last]) + 1);
        seq.insert(it, acc.begin(), acc.end());
        from = first + 1;
    }
}

// PostgreSQL sums a double (a NUMBER(p,s) column) in binary; SUM and AVG
// of its decimals instead, as SQLite's ora functions sum them.
void decimalSums(Seq &seq)
{
    forEachGroup(seq, decimalSums);
    const auto sig = significant(seq);
    for (size_t k = 0; k + 1 < sig.size(); ++k) {
        Node &call = seq[sig[k + 1]];
        if (!(seq[sig[k]].isWord("SUM") || seq[sig[k]].isWord("AVG")) || call.kind != Tok::Group
            || (k > 0 && seq[sig[k - 1]].kind == Tok::Dot))
            continue;
        const auto inner = significant(call.kids);
        if (inner.empty())
            continue;
        const size_t from = call.kids[inner[0]].isWord("DISTINCT") || call.kids[inner[0]].isWord("ALL") ? inner[0] + 1 : 0;
        Seq cast(call.kids.begin() + qsizetype(from), call.kids.end());
        append(cast, fill(QStringLiteral(" AS numeric"), {}));
        call.kids.erase(call.kids.begin() + qsizetype(from), call.kids.end());
        call.kids.push_back(space());
        call.kids.push_back(word(QStringLiteral("CAST")));
        call.kids.push_back(group(std::move(cast)));
    }
}

} // namespace

QString oracleNumberText(double d)
{
    const bool whole = std::isfinite(d) && d == std::trunc(d);
    if (whole && std::fabs(d) < 1e15)
        return QString::number(qint64(d));
    if (whole && std::fabs(d) < 1e38) {
        // Written in full, as Oracle writes a whole number, to the 15 digits
        // a double holds: 1e16 is 10000000000000000, not 1e+16.
        const QString e = QString::number(d, 'e', 14); // -D.DDDDDDDDDDDDDDe+XX
        const qsizetype at = e.indexOf(QLatin1Char('e'));
        return QString(e.left(at)).remove(QLatin1Char('.')) + QString(e.mid(at + 1).toInt() - 14, QLatin1Char('0'));
    }
    QString t = QString::number(d, 'g', 15);
    if (t.startsWith(QLatin1String("0.")))
        t.remove(0, 1);
    else if (t.startsWith(QLatin1String("-0.")))
        t.remove(1, 1);
    return t;
}

QString withoutRowLocks(const QString &oracleSql)
{
    Seq seq = parse(oracleSql);
    checkSemicolons(seq);
    if (const auto f = findForUpdate(seq))
        seq.erase(seq.begin() + qsizetype(f->first), seq.begin() + qsizetype(f->last) + 1);
    return str(seq);
}

std::optional<int> rowLockWait(const QString &oracleSql)
{
    Seq seq = parse(oracleSql);
    checkSemicolons(seq);
    const auto f = findForUpdate(seq);
    if (!f)
        return std::nullopt;
    return f->waitMs;
}

std::optional<MergeSteps> mergeSteps(const QString &oracleSql, const ColumnLookup &lookup)
{
    Seq seq = parse(oracleSql);
    checkSemicolons(seq);
    if (!leadsWith(seq, "MERGE"))
        return std::nullopt;
    const Merge m = readMerge(seq);
    refuseSequenceInMerge(seq);
    auto tr = [&](const QString &oracle) { return translateOracle(oracle, lookup); };
    const QString source = sourceFrom(m), on = QLatin1Char('(') + m.on + QLatin1Char(')');
    const QString updateWhere = m.updateWhere.isEmpty() ? QString() : QStringLiteral(" AND (") + m.updateWhere + QLatin1Char(')');
    MergeSteps steps;
    if (m.matched) {
        steps.conflicts = tr(QStringLiteral("SELECT 1 FROM ") + targetFrom(m, false) + QStringLiteral(" WHERE (SELECT COUNT(*) FROM ")
                             + source + QStringLiteral(" WHERE ") + on + updateWhere + QStringLiteral(") > 1"));
        QStringList sets;
        for (const auto &[column, expr] : m.sets)
            sets << column + QStringLiteral(" = (SELECT ") + expr + QStringLiteral(" FROM ") + source + QStringLiteral(" WHERE ")
                        + on + QLatin1Char(')');
        steps.update = tr(QStringLiteral("UPDATE ") + targetFrom(m, true) + QStringLiteral(" SET ") + sets.join(QStringLiteral(", "))
                          + QStringLiteral(" WHERE EXISTS (SELECT 1 FROM ") + source + QStringLiteral(" WHERE ") + on
                          + updateWhere + QLatin1Char(')'));
        if (!m.deleteWhere.isEmpty()) {
            steps.update += QStringLiteral(" RETURNING rowid");
            steps.remove = tr(QStringLiteral("DELETE FROM ") + targetFrom(m, true)
                              + QStringLiteral(" WHERE rowid IN (vorel_updated) AND EXISTS (SELECT 1 FROM ") + source
                              + QStringLiteral(" WHERE ") + on + QStringLiteral(" AND (") + m.deleteWhere + QStringLiteral("))"));
        }
    }
    if (m.notMatched) {
        QString insert = QStringLiteral("INSERT INTO ") + m.target;
        if (!m.insertColumns.isEmpty())
            insert += QStringLiteral(" (") + m.insertColumns + QLatin1Char(')');
        insert += QStringLiteral(" SELECT ") + m.insertValues + QStringLiteral(" FROM ") + source
                  + QStringLiteral(" WHERE NOT EXISTS (SELECT 1 FROM ") + targetFrom(m, false) + QStringLiteral(" WHERE ") + on
                  + QLatin1Char(')');
        if (!m.insertWhere.isEmpty())
            insert += QStringLiteral(" AND (") + m.insertWhere + QLatin1Char(')');
        steps.insert = tr(insert);
    }
    return steps;
}

QString quotedName(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

QString translateOracle(const QString &oracleSql, const ColumnLookup &lookup, Target target,
                        const ColumnNaming &naming)
{
    const SqlTraits &t = traitsOf(target);
    Seq seq = parse(oracleSql);
    checkSemicolons(seq);
    if (leadsWith(seq, "MERGE")) {
        // Read first, so that a mistake in it is the answer wherever it runs.
        const Merge merge = readMerge(seq);
        if (t.mergesRows)
            seq = parse(postgresMerge(merge));
    }
    stripSchema(seq);
    hierarchies(seq, lookup);
    qint64 levelCount = 0;
    const bool levels = levelRowsFrom(seq, &levelCount) > 0 && levelCount >= 0;
    rownumLimits(seq);
    forUpdate(seq, t, lookup);
    listagg(seq, t);
    sequenceCalls(seq);
    refuseUnsupported(seq, t, levels);
    extractCalls(seq);
    {
        if (!t.callsOracleFunctions)
            keepArithmeticNames(seq);
        DateTyping types(seq, lookup);
        dateArithmetic(seq, types, true);
        decimalArithmetic(seq, t);
        if (t.callsOracleFunctions)
            decimalSums(seq);
    }
    const bool renames = t.namesColumnsAsSqlite && naming.asSqlite;
    NamePlan names;
    if (renames)
        names = planNames(seq, [&] { return translateOracle(oracleSql, lookup); }, naming.declared);
    rewriteTokens(seq, t);
    int subqueries = 0;
    if (t.aliasesSubqueries)
        aliasSubqueries(seq, &subqueries);
    outerJoins(seq, lookup, t);
    if (t.callsOracleFunctions)
        postgresCalls(seq);
    concatenation(seq, t);
    nullOrdering(seq);
    if (renames)
        applyNames(seq, names);
    if (!t.callsOracleFunctions)
        sqliteDecode(seq);
    if (levels)
        levelRows(seq);
    const QString out = str(seq);
    if (t.boundsTranslationSize && out.size() > kMaxPostgresText && out.size() > 16 * oracleSql.size())
        throw OraError(ora::text(ora::kInvalidStatement, QStringLiteral("translation too long")));
    return out;
}

} // namespace vorel::server
