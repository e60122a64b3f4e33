#pragma once
// The translator's needs on an SQLite connection.
#include "server/sql/dialect.h"

struct sqlite3;

namespace vorel::server {

// A lookup over the live schema of `db` (tables and views, temp ones too).
ColumnLookup schemaLookup(sqlite3 *db);

// Registers the Oracle functions the translation relies on (NVL, DECODE,
// SIGN, the sysdate and concatenation helpers, ...) on a connection.
void registerOracleFunctions(sqlite3 *db);

} // namespace vorel::server
