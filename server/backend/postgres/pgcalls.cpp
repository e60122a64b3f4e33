#include "server/backend/postgres/pgcalls.h"

#include <QSet>
#include <QString>

namespace vorel::server::pg {

namespace {

QSet<QString> setOf(std::initializer_list<const char *> words)
{
    QSet<QString> s;
    for (const char *w : words)
        s.insert(QString::fromLatin1(w));
    return s;
}

} // namespace

bool isKeywordBeforeParenthesis(QStringView name)
{
    static const QSet<QString> words = setOf({
        "all",      "and",    "any",      "array",     "as",        "asc",     "between", "bigint",  "boolean",
        "both",     "by",     "case",     "cast",      "char",      "character", "collate", "cross", "current",
        "date",     "decimal", "default", "desc",      "distinct",  "double",  "else",    "end",     "escape",
        "except",   "exists", "extract",  "fetch",     "filter",    "first",   "float",   "following", "for",
        "from",     "full",   "group",    "having",    "ilike",     "in",      "inner",   "int",     "integer",
        "intersect", "interval", "into",  "is",        "join",      "last",    "lateral", "leading", "left",
        "like",     "limit",  "minus",    "natural",   "not",       "nowait",  "null",    "nulls",   "numeric",
        "of",       "offset", "on",       "only",      "or",        "order",   "outer",   "over",    "overlay",
        "partition", "position", "preceding", "precision", "range", "recursive", "returning", "right", "row",
        "rows",     "select", "set",      "similar",   "some",      "substring", "table", "text",    "then",
        "time",     "timestamp", "trailing", "trim",   "unbounded", "union",   "update",  "using",   "values",
        "insert",   "matched",
        "varchar",  "varying", "when",    "where",     "window",    "with",    "within",
    });
    return words.contains(name.toString().toLower());
}

bool callAllowed(QStringView name)
{
    // Functions of data alone: they read their arguments and the clock, and
    // nothing else of the server or of other sessions.
    static const QSet<QString> functions = setOf({
        // aggregates and windows
        "count", "sum", "avg", "min", "max", "stddev", "stddev_samp", "stddev_pop", "variance", "var_samp",
        "var_pop", "median", "string_agg", "array_agg", "listagg", "bool_and", "bool_or", "every", "row_number",
        "rank", "dense_rank", "percent_rank", "cume_dist", "ntile", "lag", "lead", "first_value", "last_value",
        "nth_value", "percentile_cont", "percentile_disc", "mode",
        // numbers
        "abs", "ceil", "ceiling", "floor", "round", "trunc", "mod", "power", "sqrt", "exp", "ln", "log", "sign",
        "div", "greatest", "least", "width_bucket", "trim_scale", "scale", "bitand", "remainder", "cbrt",
        // texts
        "upper", "lower", "initcap", "length", "char_length", "character_length", "octet_length", "lengthb",
        "substr", "substrb", "instr", "lpad", "rpad", "ltrim", "rtrim", "btrim", "replace", "translate",
        "concat", "concat_ws", "reverse", "repeat", "left", "right", "strpos", "split_part", "ascii", "chr",
        "regexp_replace", "regexp_substr", "regexp_instr", "regexp_like", "regexp_count", "regexp_match",
        "starts_with", "md5", "to_hex", "unaccent", "nlssort", "soundex", "format", "convert_to", "convert_from",
        "encode",
        // nulls and choices
        "coalesce", "nullif", "nvl", "nvl2", "decode", "num_nonnulls", "num_nulls",
        // dates
        "to_char", "to_date", "to_number", "to_timestamp", "add_months", "last_day", "months_between",
        "next_day", "date_trunc", "date_part", "age", "make_date", "make_time", "make_timestamp",
        "make_interval", "statement_timestamp", "transaction_timestamp", "clock_timestamp", "now", "sysdate",
        "justify_days", "justify_hours", "isfinite",
        // rows and arrays
        "generate_series", "unnest", "array_to_string", "string_to_array", "array_length", "cardinality",
        "array_position", "array_append",
    });
    const QString lower = name.toString().toLower();
    // The schema's own helpers for Oracle's functions; never vorel_*, which
    // hash passwords and guard the registry.
    if (lower.startsWith(QLatin1String("ora_")))
        return true;
    return functions.contains(lower) || isKeywordBeforeParenthesis(lower);
}

} // namespace vorel::server::pg
