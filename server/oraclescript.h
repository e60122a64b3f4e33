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
//    "--@<other>" it is skipped (another backend's version).
// Runs as one transaction. Throws OraError naming the statement.
void runOracleScript(sqlite3 *db, const QString &text, const QString &fileBase);

} // namespace vorel::server
