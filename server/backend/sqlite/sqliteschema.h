#pragma once
// The metadata schema and scripts in an SQLite database.
#include "server/schema/schema.h"

#include <QString>
#include <vector>

struct sqlite3;

namespace vorel::server {

// Every table of the metadata schema with its named constraints (foreign
// keys as triggers that fail with Oracle's texts), comments and the
// dictionary views ALL_CONSTRAINTS, ALL_CONS_COLUMNS, ALL_COL_COMMENTS,
// ALL_TAB_COMMENTS. Throws OraError.
void createSchema(sqlite3 *db);

// The demo data of a small distributor: the Oracle script demo/demo.sql
// and its button images, built into the program (see runOracleScript).
void fillDemo(sqlite3 *db);

// The working tables of the session a connection is lent to (TEMP
// RSESION, RVFILRAP, RQBEX), created once per connection.
void createWorkingTables(sqlite3 *db);
// Them, emptied, RSESION holding the session's one row.
void createSessionTables(sqlite3 *db, const QString &userId);

// Runs a script written for Oracle (see schema/oraclescript.h): a
// "--@sqlite" statement as written, one savepoint around the whole.
void runOracleScript(sqlite3 *db, const QString &text, const QString &fileBase);

// Runs an administrator's script: statements in SQLite's dialect separated
// by ";". Throws OraError naming the failing statement.
void runScript(sqlite3 *db, const QString &sqlText);

namespace schemadef {

// Creates the tables (not the session ones), their indexes and foreign-key
// triggers, and registers constraints and comments in the dictionary.
void createTables(sqlite3 *db, const std::vector<Table> &tables);
// Registers a view in the dictionary (ALL_TAB_COMMENTS, TABLE_TYPE 'VIEW').
void registerView(sqlite3 *db, const QString &name, const QString &comment);
// Runs statements without result rows; failures as OraError.
void exec(sqlite3 *db, const QString &sql);
} // namespace schemadef

} // namespace vorel::server
