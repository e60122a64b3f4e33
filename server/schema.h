#pragma once
#include <QString>

struct sqlite3;

namespace vorel::server {

// Every table of the metadata schema with its named constraints (foreign
// keys as triggers that fail with Oracle's texts), comments and the
// dictionary views ALL_CONSTRAINTS, ALL_CONS_COLUMNS, ALL_COL_COMMENTS,
// ALL_TAB_COMMENTS. Throws OraError.
void createSchema(sqlite3 *db);

// The demo data of a small distributor.
void fillDemo(sqlite3 *db);

// The private working tables of one server session (TEMP RSESION, RVFILRAP,
// RQBEX), RSESION holding the session's one row.
void createSessionTables(sqlite3 *db, const QString &userId);

// Runs an administrator's script: statements in SQLite's dialect separated
// by ";". Throws OraError naming the failing statement.
void runScript(sqlite3 *db, const QString &sqlText);

} // namespace vorel::server
