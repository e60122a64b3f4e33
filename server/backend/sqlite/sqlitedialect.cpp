// Oracle's built-in functions as SQLite user functions. Oracle has no empty
// text: '' is NULL, so every function here reads an empty text as NULL and
// never returns one.
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/core/oramessages.h"

#include "server/backend/sqlite/sqlitestatement.h"

#include <QDateTime>
#include <QRegularExpression>
#include <cmath>

namespace vorel::server {

namespace {

bool isNull(sqlite3_value *v)
{
    const int t = sqlite3_value_type(v);
    return t == SQLITE_NULL || (t == SQLITE_TEXT && sqlite3_value_bytes(v) == 0);
}

QString textOf(sqlite3_value *v)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(v)), sqlite3_value_bytes(v));
}

void resultText(sqlite3_context *ctx, const QString &text)
{
    if (text.isEmpty()) {
        sqlite3_result_null(ctx);
        return;
    }
    const QByteArray u = text.toUtf8();
    sqlite3_result_text(ctx, u.constData(), int(u.size()), SQLITE_TRANSIENT);
}

QString oraText(sqlite3_value *v)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL: return QString();
    case SQLITE_INTEGER: return QString::number(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return oracleNumberText(sqlite3_value_double(v));
    default: return textOf(v);
    }
}

bool numeric(sqlite3_value *v, double *out)
{
    const int t = sqlite3_value_type(v);
    if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) {
        *out = sqlite3_value_double(v);
        return true;
    }
    if (t == SQLITE_TEXT) {
        bool ok = false;
        *out = textOf(v).trimmed().toDouble(&ok);
        return ok;
    }
    return false;
}

// DECODE compares NULL with NULL as equal, numbers as numbers.
bool decodeEqual(sqlite3_value *a, sqlite3_value *b)
{
    const bool an = isNull(a), bn = isNull(b);
    if (an || bn)
        return an && bn;
    const int ta = sqlite3_value_type(a), tb = sqlite3_value_type(b);
    const bool na = ta == SQLITE_INTEGER || ta == SQLITE_FLOAT, nb = tb == SQLITE_INTEGER || tb == SQLITE_FLOAT;
    if (na || nb) {
        double x, y;
        if (numeric(a, &x) && numeric(b, &y))
            return x == y;
        return false;
    }
    return textOf(a) == textOf(b);
}

void resultValue(sqlite3_context *ctx, sqlite3_value *v)
{
    if (isNull(v))
        sqlite3_result_null(ctx);
    else
        sqlite3_result_value(ctx, v);
}

void fnNvl(sqlite3_context *ctx, int, sqlite3_value **a)
{
    resultValue(ctx, isNull(a[0]) ? a[1] : a[0]);
}

void fnNvl2(sqlite3_context *ctx, int, sqlite3_value **a)
{
    resultValue(ctx, isNull(a[0]) ? a[2] : a[1]);
}

void fnDecode(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (argc < 3) {
        sqlite3_result_error(ctx, ora::kNotEnoughArguments, -1);
        return;
    }
    int i = 1;
    for (; i + 1 < argc; i += 2)
        if (decodeEqual(a[0], a[i])) {
            resultValue(ctx, a[i + 1]);
            return;
        }
    if (i < argc)
        resultValue(ctx, a[i]); // the default
    else
        sqlite3_result_null(ctx);
}

void fnSign(sqlite3_context *ctx, int, sqlite3_value **a)
{
    double d;
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
    } else if (!numeric(a[0], &d)) {
        sqlite3_result_error(ctx, ora::kInvalidNumber, -1);
    } else {
        sqlite3_result_int(ctx, d > 0 ? 1 : (d < 0 ? -1 : 0));
    }
}

void fnUpper(sqlite3_context *ctx, int, sqlite3_value **a)
{
    resultText(ctx, oraText(a[0]).toUpper());
}

void fnLower(sqlite3_context *ctx, int, sqlite3_value **a)
{
    resultText(ctx, oraText(a[0]).toLower());
}

void fnSysdate(sqlite3_context *ctx, int, sqlite3_value **)
{
    resultText(ctx, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

void fnConcat(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    QString out;
    for (int i = 0; i < argc; ++i)
        out += oraText(a[i]);
    resultText(ctx, out);
}

// SUBSTR counts from 1, reads position 0 as 1 and a negative one from the end.
void fnSubstr(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (isNull(a[0]) || isNull(a[1]) || (argc > 2 && isNull(a[2]))) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString s = oraText(a[0]);
    qint64 pos = sqlite3_value_int64(a[1]);
    if (pos == 0)
        pos = 1;
    if (pos < 0)
        pos = s.size() + pos + 1;
    if (pos < 1 || pos > s.size()) {
        sqlite3_result_null(ctx);
        return;
    }
    qint64 len = argc > 2 ? qint64(std::floor(sqlite3_value_double(a[2]))) : s.size();
    if (len < 1) {
        sqlite3_result_null(ctx);
        return;
    }
    resultText(ctx, s.mid(pos - 1, len));
}

// Dates are held as 'YYYY-MM-DD HH:MM:SS'; formats use Oracle's elements.
QDateTime readDate(const QString &text)
{
    static const char *const forms[] = {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-dd",
                                        "yyyy-MM-ddTHH:mm:ss"};
    for (const char *f : forms) {
        const QDateTime d = QDateTime::fromString(text.left(19), QString::fromLatin1(f));
        if (d.isValid())
            return d;
    }
    return {};
}

// Stands for Oracle's HH in a format written out: Qt has no 12-hour hour
// without an AM/PM marker beside it.
constexpr char16_t kHour12 = 0xE000;

// Letters that are no element are written as they are, in one quoted run:
// two quoted letters side by side would read as a quote between them.
QString oracleFormatToQt(const QString &fmt, bool output = false)
{
    static const std::pair<const char *, const char *> map[] = {
        {"YYYY", "yyyy"}, {"YY", "yy"}, {"MM", "MM"}, {"DD", "dd"}, {"HH24", "HH"}, {"HH", "hh"},
        {"MI", "mm"},     {"SS", "ss"},
    };
    QString out, literal;
    auto flush = [&] {
        if (!literal.isEmpty())
            out += QLatin1Char('\'') + literal + QLatin1Char('\'');
        literal.clear();
    };
    const QString up = fmt.toUpper();
    for (qsizetype i = 0; i < up.size();) {
        bool hit = false;
        for (const auto &[ora, qt] : map) {
            if (up.mid(i, qsizetype(strlen(ora))) == QLatin1String(ora)) {
                flush();
                if (output && qstrcmp(ora, "HH") == 0)
                    out += QChar(kHour12);
                else
                    out += QLatin1String(qt);
                i += qsizetype(strlen(ora));
                hit = true;
                break;
            }
        }
        if (!hit) {
            const QChar c = fmt[i++];
            if (c.isLetter()) {
                literal += c;
            } else if (c == QLatin1Char('\'')) {
                flush();
                out += QLatin1String("''");
            } else {
                flush();
                out += c;
            }
        }
    }
    flush();
    return out;
}

QString formatDate(const QDateTime &d, const QString &oracleFormat)
{
    QString out = d.toString(oracleFormatToQt(oracleFormat, true));
    const int h = d.time().hour() % 12;
    out.replace(QChar(kHour12), QStringLiteral("%1").arg(h == 0 ? 12 : h, 2, 10, QLatin1Char('0')));
    return out;
}

void fnToChar(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    if (argc > 1 && sqlite3_value_type(a[0]) == SQLITE_TEXT) {
        const QDateTime d = readDate(textOf(a[0]));
        if (d.isValid()) {
            resultText(ctx, formatDate(d, oraText(a[1])));
            return;
        }
    }
    resultText(ctx, oraText(a[0]));
}

void fnToDate(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString text = oraText(a[0]).trimmed();
    const QString fmt = argc > 1 ? oracleFormatToQt(oraText(a[1])) : QStringLiteral("dd/MM/yyyy");
    QDateTime d = QDateTime::fromString(text, fmt);
    if (!d.isValid())
        d = readDate(text);
    if (!d.isValid()) {
        sqlite3_result_error(ctx, ora::kNonNumericFound, -1);
        return;
    }
    resultText(ctx, d.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

void fnToNumber(sqlite3_context *ctx, int, sqlite3_value **a)
{
    double d;
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
    } else if (!numeric(a[0], &d)) {
        sqlite3_result_error(ctx, ora::kInvalidNumber, -1);
    } else if (d == std::trunc(d) && std::fabs(d) < 9e18) {
        sqlite3_result_int64(ctx, qint64(d));
    } else {
        sqlite3_result_double(ctx, d);
    }
}

// TRUNC of a date drops the time; of a number, the decimals.
void fnTrunc(sqlite3_context *ctx, int argc, sqlite3_value **a)
{
    if (isNull(a[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    if (sqlite3_value_type(a[0]) == SQLITE_TEXT) {
        const QDateTime d = readDate(textOf(a[0]));
        if (d.isValid()) {
            resultText(ctx, d.date().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00"));
            return;
        }
    }
    double d;
    if (!numeric(a[0], &d)) {
        sqlite3_result_error(ctx, ora::kInvalidNumber, -1);
        return;
    }
    const int places = argc > 1 ? sqlite3_value_int(a[1]) : 0;
    const double f = std::pow(10.0, places);
    const double r = std::trunc(d * f) / f;
    if (places <= 0)
        sqlite3_result_int64(ctx, qint64(r));
    else
        sqlite3_result_double(ctx, r);
}

void fnMod(sqlite3_context *ctx, int, sqlite3_value **a)
{
    double x, y;
    if (isNull(a[0]) || isNull(a[1])) {
        sqlite3_result_null(ctx);
    } else if (!numeric(a[0], &x) || !numeric(a[1], &y)) {
        sqlite3_result_error(ctx, ora::kInvalidNumber, -1);
    } else if (y == 0) {
        sqlite3_result_double(ctx, x);
    } else if (sqlite3_value_type(a[0]) == SQLITE_INTEGER && sqlite3_value_type(a[1]) == SQLITE_INTEGER) {
        sqlite3_result_int64(ctx, sqlite3_value_int64(a[0]) % sqlite3_value_int64(a[1]));
    } else {
        sqlite3_result_double(ctx, std::fmod(x, y));
    }
}

} // namespace

void registerOracleFunctions(sqlite3 *db)
{
    struct Fn {
        const char *name;
        int args;
        void (*fn)(sqlite3_context *, int, sqlite3_value **);
        bool deterministic;
    };
    static const Fn fns[] = {
        {"nvl", 2, fnNvl, true},          {"nvl2", 3, fnNvl2, true},       {"decode", -1, fnDecode, true},
        {"sign", 1, fnSign, true},        {"upper", 1, fnUpper, true},     {"lower", 1, fnLower, true},
        {"ora_sysdate", 0, fnSysdate, false}, {"ora_concat", -1, fnConcat, true}, {"substr", 2, fnSubstr, true},
        {"substr", 3, fnSubstr, true},    {"to_char", 1, fnToChar, true},  {"to_char", 2, fnToChar, true},
        {"to_date", 1, fnToDate, true},   {"to_date", 2, fnToDate, true},  {"to_number", 1, fnToNumber, true},
        {"trunc", 1, fnTrunc, true},      {"trunc", 2, fnTrunc, true},     {"mod", 2, fnMod, true},
    };
    for (const Fn &f : fns) {
        const int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
        sqlite3_create_function_v2(db, f.name, f.args, flags, nullptr, f.fn, nullptr, nullptr, nullptr);
    }
    // Oracle's LIKE tells capitals from small letters.
    sqlite3_exec(db, "PRAGMA case_sensitive_like = ON", nullptr, nullptr, nullptr);
}

ColumnLookup schemaLookup(sqlite3 *db)
{
    return [db](const QString &table, const QString &column) {
        const sqlite::Statement st =
            sqlite::prepare(db, "SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2 COLLATE NOCASE");
        if (!st)
            return false;
        sqlite::bindText(st.get(), 1, table);
        sqlite::bindText(st.get(), 2, column);
        return sqlite3_step(st.get()) == SQLITE_ROW;
    };
}

} // namespace vorel::server
