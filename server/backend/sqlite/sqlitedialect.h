#pragma once
// The translator's needs on an SQLite connection.
#include "server/sql/dialect.h"

#include <atomic>
#include <functional>

struct sqlite3;
struct sqlite3_stmt;

namespace vorel::server {

// A lookup over the live schema of `db` (tables and views, temp ones too).
ColumnLookup schemaLookup(sqlite3 *db);

// Registers the Oracle functions the translation relies on (NVL, DECODE,
// SIGN, the sysdate and concatenation helpers, ...) on a connection; those
// that search long texts (INSTR, REPLACE) stop when `stop` is set.
void registerOracleFunctions(sqlite3 *db, const std::atomic<bool> *stop = nullptr);

// Runs a MERGE's steps on `db` under one savepoint, undone as a whole when
// one fails. `prepare` compiles a step (read: the SELECT that finds
// conflicts) with the caller's checks; `failure` words the connection's
// last failure. Throws OraError.
void runMerge(sqlite3 *db, const MergeSteps &steps,
              const std::function<sqlite3_stmt *(const QString &sql, bool read)> &prepare,
              const std::function<QString()> &failure);

} // namespace vorel::server
