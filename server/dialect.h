#pragma once
// Oracle's SQL as the client writes it, translated into SQLite's.
#include <QString>
#include <functional>

struct sqlite3;

namespace vorel::server {

// Tells whether `table` (as written in a FROM list, schema prefix removed)
// has a column named `column`; both compared without regard to case. Used to
// resolve the (+) outer-join marker.
using ColumnLookup = std::function<bool(const QString &table, const QString &column)>;

// A lookup over the live schema of `db` (tables and views, temp ones too).
ColumnLookup schemaLookup(sqlite3 *db);

// Translates one Oracle statement. Throws OraError ("ORA-00933: SQL command
// not properly ended", ...) for text it cannot read.
QString translateOracle(const QString &oracleSql, const ColumnLookup &lookup);

// Registers the Oracle functions the translation relies on (NVL, DECODE,
// SIGN, the sysdate and concatenation helpers, ...) on a connection.
void registerOracleFunctions(sqlite3 *db);

} // namespace vorel::server
