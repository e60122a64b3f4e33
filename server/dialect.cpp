// Oracle's SQL as the client writes it, rewritten for SQLite. The text is
// split into tokens and a tree of parenthesised groups (dialect_lexer); each
// rewrite below works on one group at a time and recurses into the groups it
// holds, so subqueries get the same treatment as the statement around them.
#include "server/dialect.h"
#include "server/dialect_lexer.h"
#include "server/oraerrors.h"

#include <sqlite3.h>

#include <QSet>
#include <iterator>
#include <map>

namespace vorel::server {

using namespace dialect;

namespace {

// ---- helpers over one sequence ------------------------------------------

// Indexes of the significant (non-blank, non-comment) nodes of `seq`.
std::vector<size_t> significant(const Seq &seq)
{
    std::vector<size_t> out;
    for (size_t i = 0; i < seq.size(); ++i)
        if (!seq[i].trivia())
            out.push_back(i);
    return out;
}

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

// Words and literals Oracle reads differently: '' is NULL, sysdate is the
// time of the statement, MINUS is EXCEPT, ^= is !=, FROM DUAL is no table,
// DATE 'YYYY-MM-DD' is a text in the stored form.
void rewriteTokens(Seq &seq)
{
    forEachGroup(seq, rewriteTokens);
    const auto sig = significant(seq);
    for (size_t k = 0; k < sig.size(); ++k) {
        Node &n = seq[sig[k]];
        const Node *prev = k > 0 ? &seq[sig[k - 1]] : nullptr;
        const Node *next = k + 1 < sig.size() ? &seq[sig[k + 1]] : nullptr;
        if (n.kind == Tok::String && n.text == QLatin1String("''")) {
            n = word(QStringLiteral("NULL"));
        } else if (n.isWord("SYSDATE") && !(prev && prev->kind == Tok::Dot)
                   && !(next && (next->kind == Tok::Group || next->kind == Tok::Dot))) {
            n = word(QStringLiteral("ora_sysdate()"));
        } else if ((n.isWord("DATE") || n.isWord("TIMESTAMP")) && next && next->kind == Tok::String
                   && !(prev && prev->kind == Tok::Dot)) {
            // DATE '2026-01-01' is held as the text '2026-01-01 00:00:00'.
            Node &lit = seq[sig[k + 1]];
            if (lit.text.size() == 12 && lit.text[5] == QLatin1Char('-') && lit.text[8] == QLatin1Char('-'))
                lit.text.insert(11, QStringLiteral(" 00:00:00"));
            n = space(QString());
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

void outerJoins(Seq &seq, const ColumnLookup &lookup);

// One SELECT of a sequence: sig positions [begin, end).
bool outerJoinBlock(Seq &seq, const std::vector<size_t> &sig, size_t begin, size_t end,
                    const ColumnLookup &lookup)
{
    SelectBlock b;
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
    if (!any)
        return false;

    // The FROM list, split at its commas.
    std::vector<FromItem> items;
    {
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
    }

    // The WHERE conjuncts at this level (AND of BETWEEN excluded).
    std::vector<std::pair<size_t, size_t>> conjuncts; // sig positions, inclusive
    {
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
                        throw OraError(QStringLiteral(
                            "ORA-01719: outer join operator (+) not allowed in operand of OR or IN"));
            }
        }
    }

    auto ownerOf = [&](const OuterRef &r) -> int {
        for (size_t i = 0; i < items.size(); ++i) {
            if (!r.qualifier.isEmpty()) {
                if (items[i].alias.compare(r.qualifier, Qt::CaseInsensitive) == 0
                    || (items[i].alias.isEmpty() && items[i].table.compare(r.qualifier, Qt::CaseInsensitive) == 0))
                    return int(i);
            } else if (lookup && lookup(items[i].table, r.column)) {
                return int(i);
            }
        }
        return -1;
    };

    struct Join {
        QStringList conditions;
    };
    std::map<int, Join> joins;            // FROM item index -> ON conditions
    std::vector<std::pair<size_t, size_t>> replaced; // conjuncts turned into 1=1
    for (const auto &[cs, ce] : conjuncts) {
        std::vector<OuterRef> refs;
        for (size_t p = cs; p <= ce; ++p) {
            if (!isOuterMarker(seq[sig[p]]))
                continue;
            if (p == cs || !isName(seq[sig[p - 1]]))
                throw OraError(QStringLiteral("ORA-00936: missing expression"));
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
                throw OraError(QStringLiteral("ORA-00904: \"%1\": invalid identifier").arg(r.column.toUpper()));
            if (owner >= 0 && o != owner)
                throw OraError(QStringLiteral("ORA-01468: a predicate may reference only one outer-joined table"));
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
        joins[owner].conditions << cond.trimmed();
        replaced.emplace_back(cs, ce);
    }
    if (joins.empty())
        return false;

    // Rebuild this block: edits from the back so earlier indexes stay valid.
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
                            + QStringLiteral(" ON ") + j.conditions.join(QStringLiteral(" AND "))));
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
            throw OraError(QStringLiteral("ORA-01417: a table may be outer joined to at most one other table"));
        }
        edits.push_back({from, to, {}});
    }
    std::sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b2) { return a.from > b2.from; });
    for (Edit &ed : edits) {
        auto first = seq.begin() + qsizetype(ed.from);
        if (ed.to + 1 >= ed.from && ed.to >= ed.from)
            first = seq.erase(first, seq.begin() + qsizetype(ed.to) + 1);
        seq.insert(first, ed.with.begin(), ed.with.end());
    }
    return true;
}

void outerJoins(Seq &seq, const ColumnLookup &lookup)
{
    forEachGroup(seq, [&](Seq &inner) { outerJoins(inner, lookup); });
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
            changed = outerJoinBlock(seq, sig, begin, k, lookup);
            begin = k + 1;
        }
        if (!changed)
            break;
    }
    for (const Node &n : seq)
        if (isOuterMarker(n))
            throw OraError(QStringLiteral("ORA-00933: SQL command not properly ended"));
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
            throw OraError(QStringLiteral("ORA-00936: missing expression"));
        while (at(k).isOp("+") || at(k).isOp("-"))
            if (++k >= s.size())
                throw OraError(QStringLiteral("ORA-00936: missing expression"));
        if (at(k).isWord("CASE")) {
            int depth = 0;
            for (size_t p = k; p < s.size(); ++p) {
                if (at(p).isWord("CASE"))
                    ++depth;
                else if (at(p).isWord("END") && --depth == 0)
                    return p;
            }
            throw OraError(QStringLiteral("ORA-00905: missing keyword"));
        }
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
        throw OraError(QStringLiteral("ORA-00936: missing expression"));
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
            throw OraError(QStringLiteral("ORA-00905: missing keyword"));
        }
        if (n.kind == Tok::Group) {
            if (b > 0 && isName(at(b - 1)))
                --b;
            else
                return withSign(b);
        } else if (!endsOperand(n)) {
            throw OraError(QStringLiteral("ORA-00936: missing expression"));
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

void concatenation(Seq &seq)
{
    forEachGroup(seq, concatenation);
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
            throw OraError(QStringLiteral("ORA-00936: missing expression"));
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
                    pending << acc;
                pending << rhs;
            } else {
                if (!pending.isEmpty()) {
                    acc = QStringLiteral("ora_concat(") + pending.join(QStringLiteral(", ")) + QLatin1Char(')');
                    pending.clear();
                }
                acc = QLatin1Char('(') + acc + QLatin1Char(' ') + op.text + QLatin1Char(' ') + rhs + QLatin1Char(')');
            }
            t = te + 1;
        }
        if (!pending.isEmpty())
            acc = QStringLiteral("ora_concat(") + pending.join(QStringLiteral(", ")) + QLatin1Char(')');
        auto it = seq.erase(seq.begin() + qsizetype(s[first]), seq.begin() + qsizetype(s[last]) + 1);
        seq.insert(it, word(acc));
    }
}

// ---- ORDER BY: Oracle sorts NULL as the largest value ---------------------

void nullOrdering(Seq &seq)
{
    forEachGroup(seq, nullOrdering);
    const auto s = significant(seq);
    std::vector<size_t> itemEnds; // seq index of the last node of each ORDER BY item
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
                if (p > itemFirst && !(p >= 2 && seq[s[p - 2]].isWord("NULLS")))
                    itemEnds.push_back(s[p - 1]);
                itemFirst = p + 1;
            }
            if (end)
                break;
        }
        k = p;
    }
    // One pass, as in stripSchema: an ORDER BY of many items must not cost
    // the statement's length per item.
    if (itemEnds.empty())
        return;
    Seq out;
    out.reserve(seq.size() + 2 * itemEnds.size());
    size_t next = 0;
    for (size_t i = 0; i < seq.size(); ++i) {
        const bool itemEnd = next < itemEnds.size() && itemEnds[next] == i;
        const bool desc = itemEnd && seq[i].isWord("DESC");
        out.push_back(std::move(seq[i]));
        if (itemEnd) {
            out.push_back(space());
            out.push_back(word(desc ? QStringLiteral("NULLS FIRST") : QStringLiteral("NULLS LAST")));
            ++next;
        }
    }
    seq = std::move(out);
}

void checkSemicolons(Seq &seq)
{
    const auto s = significant(seq);
    for (size_t k = 0; k < s.size(); ++k)
        if (seq[s[k]].kind == Tok::Semicolon) {
            if (k + 1 != s.size())
                throw OraError(QStringLiteral("ORA-00911: invalid character"));
            seq.erase(seq.begin() + qsizetype(s[k]));
        }
}

} // namespace

ColumnLookup schemaLookup(sqlite3 *db)
{
    return [db](const QString &table, const QString &column) {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2 COLLATE NOCASE", -1, &st,
                               nullptr)
            != SQLITE_OK)
            return false;
        const QByteArray t = table.toUtf8(), c = column.toUtf8();
        sqlite3_bind_text(st, 1, t.constData(), int(t.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, c.constData(), int(c.size()), SQLITE_TRANSIENT);
        const bool found = sqlite3_step(st) == SQLITE_ROW;
        sqlite3_finalize(st);
        return found;
    };
}

QString translateOracle(const QString &oracleSql, const ColumnLookup &lookup)
{
    Seq seq = parse(oracleSql);
    checkSemicolons(seq);
    stripSchema(seq);
    rewriteTokens(seq);
    outerJoins(seq, lookup);
    concatenation(seq);
    nullOrdering(seq);
    return str(seq);
}

} // namespace vorel::server
