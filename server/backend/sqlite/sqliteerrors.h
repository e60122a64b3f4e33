#pragma once
// SQLite's failures worded as Oracle words them.
#include "server/core/oraerror.h"

#include <QString>

struct sqlite3;

namespace vorel::server {

// The Oracle message for a failed SQLite call on `db`: `rc` is the extended
// result code, `sqliteMessage` SQLite's own text (kept after the Oracle text
// where no exact Oracle equivalent exists).
QString oracleMessage(sqlite3 *db, int rc, const QString &sqliteMessage);
// The Oracle message for the last failed call on `db`.
QString lastFailure(sqlite3 *db);

} // namespace vorel::server
