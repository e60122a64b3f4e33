// The rows of a class for a role: the class's view p<Class>_main narrowed by
// the session's working rows. Every value a user typed travels as a bound
// parameter; column names are checked against the view before they are
// written into the query.
#include "server/sql/classrows.h"
#include "server/sql/dialect.h"
#include "server/sql/dialect_lexer.h"
#include "server/core/oraerror.h"


#include <QDate>
#include <QMap>
#include <QRegularExpression>
#include <functional>

namespace vorel::server {

namespace {

// Any: a computed column, which SQLite gives no declared type; its values
// may be numbers or texts, and SQLite never takes one for the other.
enum class ColumnKind { Text, Number, Date, Any };

struct ViewColumn {
    QString name;  // as the view spells it
    QString label; // as error texts name it
    ColumnKind kind = ColumnKind::Text;
};

class View
{
public:
    View(const QString &name, const std::vector<ClassRowsSource::Column> &columns) : m_name(name)
    {
        for (const ClassRowsSource::Column &col : columns) {
            ViewColumn c;
            c.name = col.name;
            c.label = col.label.isEmpty() ? col.name : col.label;
            const QString type = col.type.toUpper();
            if (type.isEmpty())
                c.kind = ColumnKind::Any;
            else if (type.contains(QLatin1String("DATE")) || type.contains(QLatin1String("TIME")))
                c.kind = ColumnKind::Date;
            else if (type.contains(QLatin1String("NUM")) || type.contains(QLatin1String("INT"))
                     || type.contains(QLatin1String("REAL")) || type.contains(QLatin1String("FLOA"))
                     || type.contains(QLatin1String("DOUB")) || type.contains(QLatin1String("DEC")))
                c.kind = ColumnKind::Number;
            m_columns.insert(c.name.toUpper(), c);
        }
    }

    // The column named `name` (any case, blanks around ignored); ORA-00904 else.
    const ViewColumn &column(const QString &name) const
    {
        const auto it = m_columns.constFind(name.trimmed().toUpper());
        if (it == m_columns.constEnd())
            throw OraError(QString::fromLatin1(ora::kInvalidIdentifier).arg(name.trimmed().toUpper()));
        return *it;
    }

    const QString &name() const { return m_name; }

    bool isDate(const QString &name) const
    {
        const auto it = m_columns.constFind(name.toUpper());
        return it != m_columns.constEnd() && it->kind == ColumnKind::Date;
    }

private:
    QString m_name;
    QMap<QString, ViewColumn> m_columns;
};

struct Where {
    QStringList parts;
    QVariantList binds;
};

QVariant numberValue(const ViewColumn &c, const QString &text, const QString &original)
{
    bool ok = false;
    const QString t = text.trimmed();
    const qlonglong i = t.toLongLong(&ok);
    if (ok)
        return i;
    const double d = t.toDouble(&ok);
    if (ok)
        return d;
    throw OraError(ora::text(ora::kInvalidNumber, QStringLiteral("%1 = '%2'").arg(c.label, original)));
}

bool isNumber(const QString &text)
{
    bool ok = false;
    text.trimmed().toDouble(&ok);
    return ok;
}

QDate dayValue(const ViewColumn &c, const QString &text, const QString &original)
{
    const QDate d = QDate::fromString(text.trimmed(), QStringLiteral("d/M/yyyy"));
    if (!d.isValid())
        throw OraError(ora::text(ora::kNonNumericFound, QStringLiteral("%1 = '%2'").arg(c.label, original)));
    return d;
}

QString dayText(const QDate &d)
{
    return d.toString(QStringLiteral("yyyy-MM-dd"));
}

// One value of an example record, as a condition on its column.
void exampleCondition(const SqlTraits &traits, const ViewColumn &c, const QString &value, QStringList *out,
                      QVariantList *binds)
{
    const QString col = quotedName(c.name);
    static const char *const ops[] = {">=", "<=", "<>", "!=", ">", "<", "="};
    QString op;
    QString rest = value;
    for (const char *o : ops)
        if (value.startsWith(QLatin1String(o))) {
            op = QString::fromLatin1(o);
            rest = value.mid(op.size()).trimmed();
            break;
        }
    if (op == QLatin1String("!="))
        op = QStringLiteral("<>");
    const bool pattern = op.isEmpty() && (value.contains(QLatin1Char('%')) || value.contains(QLatin1Char('_')));

    if (pattern) {
        if (c.kind == ColumnKind::Date)
            out->append(QString::fromLatin1(traits.dateLike).arg(col));
        else if (c.kind == ColumnKind::Number || c.kind == ColumnKind::Any)
            out->append(QString::fromLatin1(traits.numberLike).arg(col));
        else
            out->append(col + QStringLiteral(" LIKE ?"));
        binds->append(value);
        return;
    }
    if (op.isEmpty())
        op = QStringLiteral("=");

    switch (c.kind) {
    case ColumnKind::Date: {
        // A day stands for every moment of it.
        const QDate d = dayValue(c, rest, value);
        const QString day = dayText(d), next = dayText(d.addDays(1));
        if (op == QLatin1String("=")) {
            out->append(QStringLiteral("(%1 >= ? AND %1 < ?)").arg(col));
            *binds << day << next;
        } else if (op == QLatin1String("<>")) {
            out->append(QStringLiteral("(%1 < ? OR %1 >= ?)").arg(col));
            *binds << day << next;
        } else {
            // > and <= are bounded by the next day's start, >= and < by this day's.
            const bool byNext = op == QLatin1String(">") || op == QLatin1String("<=");
            out->append(col + (op.startsWith(QLatin1Char('>')) ? QStringLiteral(" >= ?") : QStringLiteral(" < ?")));
            *binds << (byNext ? next : day);
        }
        return;
    }
    case ColumnKind::Number:
        out->append(QStringLiteral("%1 %2 ?").arg(col, op));
        binds->append(numberValue(c, rest, value));
        return;
    case ColumnKind::Any:
        if (isNumber(rest)) {
            out->append(QStringLiteral("(CASE WHEN typeof(%1) IN ('integer', 'real') THEN %1 %2 ? ELSE %1 %2 ? END)")
                            .arg(col, op));
            *binds << numberValue(c, rest, value) << rest;
            return;
        }
        [[fallthrough]];
    case ColumnKind::Text:
        out->append(QStringLiteral("%1 %2 ?").arg(col, op));
        // Oracle has no empty text: comparing with one matches nothing.
        binds->append(rest.isEmpty() ? QVariant() : QVariant(rest));
        return;
    }
}

// COL= 'value' as the client stores the drill-down condition: the value runs
// from the first quote after "=" to the last quote, its quotes not doubled.
void drillCondition(const View &view, const QString &text, Where *w)
{
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    const qsizetype open = eq < 0 ? -1 : text.indexOf(QLatin1Char('\''), eq);
    const qsizetype close = text.lastIndexOf(QLatin1Char('\''));
    if (eq <= 0 || open < 0 || close <= open)
        throw OraError(ora::text(ora::kInvalidRelationalOperator, text));
    const ViewColumn &c = view.column(text.left(eq));
    const QString value = text.mid(open + 1, close - open - 1);
    const QString col = quotedName(c.name);
    if (value.isEmpty()) {
        w->parts << QStringLiteral("%1 = NULL").arg(col);
        return;
    }
    switch (c.kind) {
    case ColumnKind::Number:
        w->parts << col + QStringLiteral(" = ?");
        w->binds << numberValue(c, value, value);
        return;
    case ColumnKind::Date: {
        // A day alone stands for every moment of it.
        const QDate d = QDate::fromString(value.trimmed(), QStringLiteral("d/M/yyyy"));
        if (d.isValid()) {
            w->parts << QStringLiteral("(%1 >= ? AND %1 < ?)").arg(col);
            w->binds << dayText(d) << dayText(d.addDays(1));
            return;
        }
        QDateTime dt = QDateTime::fromString(value.trimmed(), QStringLiteral("d/M/yyyy H:mm:ss"));
        if (!dt.isValid())
            dt = QDateTime::fromString(value.trimmed(), QStringLiteral("d/M/yyyy H:mm"));
        if (!dt.isValid())
            throw OraError(ora::text(ora::kNonNumericFound, QStringLiteral("%1 = '%2'").arg(c.label, value)));
        w->parts << col + QStringLiteral(" = ?");
        w->binds << dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        return;
    }
    case ColumnKind::Any:
        if (isNumber(value)) {
            w->parts << QStringLiteral("(CASE WHEN typeof(%1) IN ('integer', 'real') THEN %1 = ? ELSE %1 = ? END)").arg(col);
            w->binds << numberValue(c, value, value) << value;
            return;
        }
        [[fallthrough]];
    case ColumnKind::Text:
        w->parts << col + QStringLiteral(" = ?");
        w->binds << value;
        return;
    }
}

// Oracle reads a text compared with a DATE through the session's date format
// (DD/MM/YYYY, with or without the time); SQLite would compare the texts and
// silently answer wrong rows. Such a literal is rewritten to the stored form
// when the other side of the comparison is a date column of the view, alone
// or as the first argument of a function (TRUNC(FECHA)).
class DateLiterals
{
public:
    explicit DateLiterals(const View &view) : m_view(view) {}

    void apply(dialect::Seq &seq) const
    {
        using dialect::Tok;
        for (dialect::Node &n : seq)
            if (n.kind == Tok::Group)
                apply(n.kids);
        const std::vector<size_t> s = dialect::significant(seq);
        for (size_t k = 0; k < s.size(); ++k) {
            const dialect::Node &n = seq[s[k]];
            if (isComparison(n)) {
                if (k > 0 && k + 1 < s.size()) {
                    if (dateBefore(seq, s, k - 1))
                        convert(seq[s[k + 1]]);
                    if (dateAfter(seq, s, k + 1))
                        convert(seq[s[k - 1]]);
                }
            } else if (n.isWord("IN") && k > 0 && k + 1 < s.size() && seq[s[k + 1]].kind == Tok::Group
                       && (dateBefore(seq, s, k - 1)
                           || (k > 1 && seq[s[k - 1]].isWord("NOT") && dateBefore(seq, s, k - 2)))) {
                for (dialect::Node &item : seq[s[k + 1]].kids)
                    convert(item);
            } else if (n.isWord("BETWEEN") && k > 0
                       && (dateBefore(seq, s, k - 1)
                           || (k > 1 && seq[s[k - 1]].isWord("NOT") && dateBefore(seq, s, k - 2)))) {
                if (k + 1 < s.size())
                    convert(seq[s[k + 1]]);
                if (k + 3 < s.size() && seq[s[k + 2]].isWord("AND"))
                    convert(seq[s[k + 3]]);
            }
        }
    }

private:
    static bool isComparison(const dialect::Node &n)
    {
        static const char *const ops[] = {"=", "<>", "!=", "^=", "<", ">", "<=", ">="};
        for (const char *o : ops)
            if (n.isOp(o))
                return true;
        return false;
    }

    bool isDateName(const dialect::Node &n) const
    {
        if (n.kind == dialect::Tok::Word)
            return m_view.isDate(n.text);
        if (n.kind == dialect::Tok::QuotedIdent)
            return m_view.isDate(n.text.mid(1, n.text.size() - 2));
        return false;
    }

    // A call giving a date from a date column: TRUNC(FECHA), NVL(FECHA, ...);
    // not TO_CHAR(FECHA, ...), which gives a text.
    bool dateCall(const dialect::Node &function, const dialect::Node &group) const
    {
        static const char *const dateFunctions[] = {"TRUNC", "ORA_TRUNC", "NVL", "COALESCE", "GREATEST", "LEAST", "ADD_MONTHS",
                                                    "LAST_DAY", "ROUND"};
        bool known = false;
        for (const char *f : dateFunctions)
            known = known || function.isWord(f);
        if (!known)
            return false;
        for (const dialect::Node &k : group.kids)
            if (!k.trivia())
                return isDateName(k);
        return false;
    }

    // The operand ending at s[k]: a (qualified) date column or a call on one.
    bool dateBefore(const dialect::Seq &seq, const std::vector<size_t> &s, size_t k) const
    {
        const dialect::Node &n = seq[s[k]];
        if (n.kind == dialect::Tok::Group)
            return k > 0 && dateCall(seq[s[k - 1]], n);
        return isDateName(n);
    }

    // The operand starting at s[k].
    bool dateAfter(const dialect::Seq &seq, const std::vector<size_t> &s, size_t k) const
    {
        while (k + 2 < s.size() && seq[s[k + 1]].kind == dialect::Tok::Dot)
            k += 2;
        const dialect::Node &n = seq[s[k]];
        if (k + 1 < s.size() && seq[s[k + 1]].kind == dialect::Tok::Group)
            return dateCall(n, seq[s[k + 1]]);
        return isDateName(n);
    }

    static void convert(dialect::Node &n)
    {
        if (n.kind != dialect::Tok::String)
            return;
        const QString text = n.text.mid(1, n.text.size() - 2).trimmed();
        static const QRegularExpression form(
            QStringLiteral(R"(^(\d{1,2})/(\d{1,2})/(\d{4})(?:\s+(\d{1,2}):(\d{2})(?::(\d{2}))?)?$)"));
        const auto m = form.match(text);
        if (!m.hasMatch())
            return;
        const QDate d(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
        const QTime t(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
        if (!d.isValid() || !t.isValid())
            throw OraError(ora::text(ora::kDayNotInMonth, text));
        n.text = QLatin1Char('\'') + QDateTime(d, t).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QLatin1Char('\'');
    }

    const View &m_view;
};

// An administrator's condition: Oracle SQL, translated, kept inside its
// parentheses (a lone ")" or ";" cannot reach the statement around it, and
// a trailing "--" comment ends before the closing one).
QString filterCondition(const ClassRowsSource &source, const View &view, const QString &text)
{
    ColumnNaming asWritten;
    asWritten.asSqlite = false;
    dialect::Seq seq = dialect::parse(translateOracle(text, source.lookup(), source.target(), asWritten));
    for (const dialect::Node &n : seq)
        if (n.kind == dialect::Tok::Semicolon)
            throw OraError(QString::fromLatin1(ora::kInvalidCharacter));
    // A parameter marker would take the place of the values bound after it.
    const std::function<void(const dialect::Seq &)> noParameters = [&](const dialect::Seq &nodes) {
        for (const dialect::Node &n : nodes) {
            if (n.kind == dialect::Tok::Group)
                noParameters(n.kids);
            else if ((n.kind == dialect::Tok::Op && (n.isOp("?") || n.isOp(":") || n.isOp("@")))
                     || (n.kind == dialect::Tok::Word && (n.text.startsWith(QLatin1Char('$')))))
                throw OraError(ora::text(ora::kNotAllBound, text));
        }
    };
    noParameters(seq);
    DateLiterals(view).apply(seq);
    const QString sql = dialect::str(seq);
    if (sql.trimmed().isEmpty())
        return QStringLiteral("1=1");
    return QLatin1Char('(') + sql + QStringLiteral("\n)");
}

// Column names separated by ",", each optionally followed by DESC (or ASC).
QString orderClause(const View &view, const QString &text)
{
    QStringList items;
    for (const QString &raw : text.split(QLatin1Char(','))) {
        QStringList words = raw.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        bool desc = false;
        if (words.size() == 2 && words[1].compare(QLatin1String("DESC"), Qt::CaseInsensitive) == 0)
            desc = true;
        else if (!(words.size() == 1
                   || (words.size() == 2 && words[1].compare(QLatin1String("ASC"), Qt::CaseInsensitive) == 0)))
            throw OraError(QString::fromLatin1(ora::kInvalidIdentifier).arg(raw.trimmed().toUpper()));
        const ViewColumn &c = view.column(words[0]);
        items << quotedName(c.name) + (desc ? QStringLiteral(" DESC NULLS FIRST") : QStringLiteral(" NULLS LAST"));
    }
    return items.join(QStringLiteral(", "));
}

// ? bind markers as PostgreSQL's $1, $2, ... in the order of the binds,
// which is the order of the text. No other ? is left outside a literal: an
// administrator's condition may not hold one.
QString numberedBindMarkers(const QString &sql)
{
    dialect::Seq seq = dialect::parse(sql);
    int n = 0;
    const std::function<void(dialect::Seq &)> number = [&](dialect::Seq &nodes) {
        for (dialect::Node &node : nodes) {
            if (node.kind == dialect::Tok::Group)
                number(node.kids);
            else if (node.isOp("?"))
                node = dialect::word(QLatin1Char('$') + QString::number(++n));
        }
    };
    number(seq);
    return dialect::str(seq);
}

} // namespace

std::optional<ClassRowsCall> parseClassRowsCall(const QString &sql)
{
    static const QRegularExpression re(
        QStringLiteral(R"(^\s*select\s+\*\s+from\s+table\s*\(\s*(?:"?vorel"?\s*\.\s*)?p(\w+)\s*\.\s*main\s*\(\s*'((?:[^']|'')*)'\s*\)\s*\)\s*;?\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(sql);
    if (!m.hasMatch())
        return std::nullopt;
    return ClassRowsCall{m.captured(1), m.captured(2).replace(QLatin1String("''"), QLatin1String("'"))};
}

BoundQuery classRowsQuery(const ClassRowsSource &source, const ClassRowsCall &call)
{
    const QString viewName = QStringLiteral("p") + call.classId + QStringLiteral("_main");
    const SqlTraits &traits = traitsOf(source.target());
    // PostgreSQL folds the unquoted name the view was created with.
    const QString stored = traits.foldsToLowerCase ? viewName.toLower() : viewName;
    const std::vector<ClassRowsSource::Column> columns = source.columns(stored);
    if (columns.empty())
        throw OraError(ora::text(ora::kNoSuchTable, viewName));
    const View view(stored, columns);
    Where w;
    QString order;

    for (const ClassRowsSource::Filter &f : source.filters()) {
        if (!f.filter) {
            drillCondition(view, f.value, &w);
        } else if (*f.filter == -1) {
            order = orderClause(view, f.value);
        } else if (!f.value.trimmed().isEmpty()) {
            w.parts << filterCondition(source, view, f.value);
        }
    }

    // Example records: within one all values hold, any record may match.
    QMap<qint64, std::pair<QStringList, QVariantList>> records;
    for (const ClassRowsSource::Example &e : source.examples()) {
        if (e.value.isEmpty())
            continue;
        ViewColumn c = view.column(e.field);
        if (e.date)
            c.kind = ColumnKind::Date;
        // PostgreSQL gives every column a type; none stands for two kinds.
        if (traits.columnsAlwaysTyped && c.kind == ColumnKind::Any)
            c.kind = ColumnKind::Text;
        auto &rec = records[e.record];
        exampleCondition(traits, c, e.value, &rec.first, &rec.second);
    }
    if (!records.isEmpty()) {
        QStringList anyOf;
        for (auto it = records.cbegin(); it != records.cend(); ++it) {
            anyOf << QLatin1Char('(') + it->first.join(QStringLiteral(" AND ")) + QLatin1Char(')');
            w.binds << it->second;
        }
        w.parts << QLatin1Char('(') + anyOf.join(QStringLiteral(" OR ")) + QLatin1Char(')');
    }

    QString sql = QStringLiteral("SELECT * FROM ") + quotedName(view.name());
    if (!w.parts.isEmpty())
        sql += QStringLiteral(" WHERE ") + w.parts.join(QStringLiteral(" AND "));
    if (!order.isEmpty())
        sql += QStringLiteral(" ORDER BY ") + order;
    if (traits.numberedBindMarkers)
        sql = numberedBindMarkers(sql);
    return BoundQuery{sql, w.binds};
}

} // namespace vorel::server
