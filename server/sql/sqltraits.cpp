#include "server/sql/sqltraits.h"

namespace vorel::server {

namespace {

const SqlTraits kSqlite{
    // SQLite's helper reads the clock when called.
    .sysdate = "ora_sysdate()",
    .dateLiteral = "",
    .foldsToLowerCase = false,
    .crossJoinsInFromList = false,
    .concatenatesAsText = false,
    .maxCallArguments = 0,
    .aliasesSubqueries = false,
    .callsOracleFunctions = false,
    .namesColumnsAsSqlite = false,
    .boundsTranslationSize = false,
    .locksRows = false,
    .mergesRows = false,
    .dateLike = "strftime('%d/%m/%Y', %1) LIKE ?",
    .numberLike = "to_char(%1) LIKE ?",
    .columnsAlwaysTyped = false,
    .numberedBindMarkers = false,
};

const SqlTraits kPostgres{
    // The moment the statement started, truncated to the second, since the
    // cast alone would round it.
    .sysdate = "CAST(date_trunc('second', statement_timestamp()) AS timestamp(0))",
    .dateLiteral = "TIMESTAMP",
    .foldsToLowerCase = true,
    .crossJoinsInFromList = true,
    .concatenatesAsText = true,
    .maxCallArguments = 100,
    .aliasesSubqueries = true,
    .callsOracleFunctions = true,
    .namesColumnsAsSqlite = true,
    .boundsTranslationSize = true,
    .locksRows = true,
    .mergesRows = true,
    .dateLike = "pg_catalog.to_char(%1, 'DD/MM/YYYY') LIKE ?",
    .numberLike = "ora_text(%1) LIKE ?",
    .columnsAlwaysTyped = true,
    .numberedBindMarkers = true,
};

} // namespace

const SqlTraits &traitsOf(Target target)
{
    return target == Target::Postgres ? kPostgres : kSqlite;
}

} // namespace vorel::server
