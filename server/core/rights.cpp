#include "server/core/rights.h"

#include "common/sqlscanner.h"

#include <vector>

namespace vorel::server::rights {

namespace {

struct Tok {
    sql::TokenKind kind;
    QStringView text;
    bool closed;
};

std::vector<Tok> significantTokens(QStringView sql)
{
    std::vector<Tok> out;
    sql::Scanner s(sql);
    for (sql::Token t = s.nextSignificant(); t.end > t.begin; t = s.nextSignificant())
        out.push_back({t.kind, s.text(t), t.closed});
    return out;
}

bool isWord(const Tok &t, const char *word)
{
    return t.kind == sql::TokenKind::Word && t.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

bool isSymbol(const Tok &t, const char *symbol)
{
    return t.kind == sql::TokenKind::Symbol && t.text == QLatin1String(symbol);
}

// A bare name as written, a quoted one without its quotes; empty for any
// other token.
QString nameOf(const Tok &t)
{
    if (t.kind == sql::TokenKind::Word)
        return t.text.toString();
    if (t.kind == sql::TokenKind::QuotedName && t.closed && t.text.size() >= 2)
        return t.text.sliced(1, t.text.size() - 2).toString();
    return {};
}

// [schema .] table from tokens[*at], advancing past it; empty when the
// tokens there are no such name.
QString tableAt(const std::vector<Tok> &tokens, size_t *at)
{
    size_t i = *at;
    if (i >= tokens.size())
        return {};
    QString name = nameOf(tokens[i]);
    if (name.isEmpty())
        return {};
    ++i;
    if (i + 1 < tokens.size() && isSymbol(tokens[i], ".")) {
        name = nameOf(tokens[i + 1]);
        if (name.isEmpty())
            return {};
        i += 2;
    }
    // A database link (t@link) or a further qualifier names something else.
    if (i < tokens.size() && (isSymbol(tokens[i], "@") || isSymbol(tokens[i], ".")))
        return {};
    *at = i;
    return plainName(name) ? name.toUpper() : QString();
}

bool allDigits(QStringView text)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

} // namespace

bool plainName(QStringView name)
{
    if (name.isEmpty() || name.size() > 128)
        return false;
    for (QChar c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('_') && c != QLatin1Char('$')
            && c != QLatin1Char('#'))
            return false;
    return true;
}

std::optional<Write> writeOf(QStringView oracleSql)
{
    const std::vector<Tok> tokens = significantTokens(oracleSql);
    if (tokens.empty())
        return std::nullopt;
    Write w;
    size_t at = 1;
    if (isWord(tokens[0], "INSERT")) {
        w.op = Write::Op::Insert;
        if (at >= tokens.size() || !isWord(tokens[at], "INTO"))
            return w; // INSERT ALL, INSERT FIRST: targets no plain name covers
        ++at;
    } else if (isWord(tokens[0], "UPDATE")) {
        w.op = Write::Op::Update;
    } else if (isWord(tokens[0], "MERGE")) {
        // MERGE INTO t: it may change, add and delete rows of t.
        w.op = Write::Op::Merge;
        if (at >= tokens.size() || !isWord(tokens[at], "INTO"))
            return w;
        ++at;
    } else if (isWord(tokens[0], "DELETE")) {
        w.op = Write::Op::Delete;
        if (at < tokens.size() && isWord(tokens[at], "FROM"))
            ++at;
    } else {
        return std::nullopt;
    }
    w.table = tableAt(tokens, &at);
    return w;
}

bool readsPasswordColumn(QStringView oracleSql)
{
    // Every statement of every session passes here; nearly none names it.
    if (!oracleSql.contains(QLatin1String(kPasswordColumn), Qt::CaseInsensitive))
        return false;
    const std::vector<Tok> t = significantTokens(oracleSql);
    // The column list of INSERT INTO [schema.]table ( ... ).
    size_t listOpen = 0, listClose = 0;
    if (t.size() > 2 && isWord(t[0], "INSERT") && isWord(t[1], "INTO")) {
        size_t at = 2;
        if (!tableAt(t, &at).isEmpty() && at < t.size() && isSymbol(t[at], "(")) {
            listOpen = at;
            for (size_t i = at + 1; i < t.size() && !listClose; ++i) {
                if (isSymbol(t[i], "("))
                    return true; // no list of plain names
                if (isSymbol(t[i], ")"))
                    listClose = i;
            }
        }
    }
    const bool update = !t.empty() && isWord(t[0], "UPDATE");
    for (size_t i = 0; i < t.size(); ++i) {
        if (nameOf(t[i]).compare(QLatin1String(kPasswordColumn), Qt::CaseInsensitive) != 0)
            continue;
        if (listOpen && i > listOpen && i < listClose)
            continue;
        if (update && i > 0 && (isWord(t[i - 1], "SET") || isSymbol(t[i - 1], ",")) && i + 2 < t.size()
            && isSymbol(t[i + 1], "=") && t[i + 2].kind == sql::TokenKind::String
            && (i + 3 == t.size() || isSymbol(t[i + 3], ",") || isWord(t[i + 3], "WHERE")))
            continue;
        return true;
    }
    return false;
}

SelfService selfServiceOf(QStringView oracleSql)
{
    const std::vector<Tok> t = significantTokens(oracleSql);
    SelfService none;
    if (t.size() < 5 || !isWord(t[0], "UPDATE"))
        return none;
    size_t at = 1;
    const QString table = tableAt(t, &at);
    if (at + 2 >= t.size() || !isWord(t[at], "SET") || !isSymbol(t[at + 2], "="))
        return none;
    const QString column = nameOf(t[at + 1]).toUpper();
    at += 3;
    SelfService s;
    if (table == QLatin1String("RSESION") && column == QLatin1String("SESI_USUADER")) {
        // Nothing after the "=" is the dialog's own mistake: it reaches the
        // database, which answers it as before.
        if (at == t.size()) {
            s.kind = SelfService::Kind::ActAs;
            return s;
        }
        if (at + 1 != t.size() || t[at].kind != sql::TokenKind::Number || !allDigits(t[at].text))
            return none;
        s.kind = SelfService::Kind::ActAs;
        s.user = t[at].text.toString();
        return s;
    }
    if (table != QLatin1String(kPasswordTable))
        return none;
    if (column == QLatin1String(kPasswordColumn))
        s.kind = SelfService::Kind::Password;
    else if (column == QLatin1String("USUA_EMAIL"))
        s.kind = SelfService::Kind::EMail;
    else
        return none;
    // '<text>' WHERE USUA_Usua= <n>, and nothing else.
    if (at + 5 != t.size() || t[at].kind != sql::TokenKind::String || !t[at].closed || !isWord(t[at + 1], "WHERE")
        || nameOf(t[at + 2]).compare(QLatin1String("USUA_USUA"), Qt::CaseInsensitive) != 0
        || !isSymbol(t[at + 3], "=") || t[at + 4].kind != sql::TokenKind::Number || !allDigits(t[at + 4].text))
        return none;
    s.user = t[at + 4].text.toString();
    return s;
}

} // namespace vorel::server::rights
