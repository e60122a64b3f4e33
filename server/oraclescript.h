#pragma once
// Scripts written for Oracle: the business tables as Oracle DDL, the views
// and rows as the client's SQL. The demo database is one of them.
#include <QString>

struct sqlite3;

namespace vorel::server {

// Runs a script of Oracle statements, each ended by ";":
//  - CREATE TABLE with VARCHAR2(n), NUMBER[(p[,s])], DATE and BLOB columns,
//    NOT NULL and named table constraints (PRIMARY KEY, UNIQUE, FOREIGN KEY
//    ... REFERENCES, CHECK), and COMMENT ON TABLE / COLUMN: a run of them
//    becomes one call of schemadef::createTables, so the tables get their
//    foreign-key triggers, indexes and dictionary rows;
//  - CREATE VIEW, translated and registered in the dictionary;
//  - any other statement, translated and run; FILE('name') in it is the
//    bytes of that file (relative to `fileBase`) as a blob;
//  - a statement right after a line "--@sqlite" runs as written; after
//    "--@<other>" it is skipped (another backend's version). A statement
//    after "--@postgresql" may hold $$-quoted bodies and ends at the first
//    ";" outside them.
// Runs as one transaction. Throws OraError naming the statement.
void runOracleScript(sqlite3 *db, const QString &text, const QString &fileBase);

namespace pg {
class Connection;
// The same script on PostgreSQL: the tables as pg::createTables makes
// them, "--@postgresql" statements as written, "--@sqlite" ones skipped,
// views and statements through the one place where the PostgreSQL dialect
// is produced, literal rows many to an INSERT. One transaction (a savepoint
// inside the caller's); the registry follows the catalog at the end.
void runOracleScript(Connection &c, const QString &text, const QString &fileBase);
} // namespace pg

} // namespace vorel::server
