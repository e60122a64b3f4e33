#pragma once
// Scripts written for Oracle: the business tables as Oracle DDL, the views
// and rows as the client's SQL. The demo database is one of them.
#include "server/schema/literalrows.h"
#include "server/schema/schema.h"
#include "server/sql/sequences.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace vorel::server {

// What a backend does with the statements the script reads.
class ScriptTarget
{
public:
    virtual ~ScriptTarget() = default;
    // The name after "--@" of the statements this backend runs as written.
    virtual QLatin1String backend() const = 0;
    virtual void native(const QString &text) = 0;
    virtual void createTables(const std::vector<schemadef::Table> &tables) = 0;
    virtual void commentTable(const QString &table, const QString &text) = 0;
    virtual void commentColumn(const QString &table, const QString &column, const QString &text) = 0;
    // `select`: the query after AS, one line, in Oracle's dialect.
    virtual void createView(const QString &name, const QString &select) = 0;
    // The bind marker of the n-th FILE('...') of a statement, from 1.
    virtual QString marker(int n) const = 0;
    virtual void insertRows(const LiteralRows &rows) = 0;
    virtual void statement(const QString &oracle, const std::vector<QByteArray> &blobs) = 0;
    // ORA-00955 for a name in use, ORA-02289 for a sequence there is not.
    virtual void createSequence(const SequenceDef &sequence) = 0;
    virtual void dropSequence(const QString &name) = 0;
};

// Runs a script of Oracle statements, each ended by ";":
//  - CREATE TABLE with VARCHAR2(n), NUMBER[(p[,s])], DATE and BLOB columns,
//    NOT NULL and named table constraints (PRIMARY KEY, UNIQUE, FOREIGN KEY
//    ... REFERENCES, CHECK), and COMMENT ON TABLE / COLUMN: a run of them
//    becomes one call of schemadef::createTables, so the tables get their
//    foreign-key triggers, indexes and dictionary rows;
//  - CREATE VIEW, translated and registered in the dictionary;
//  - CREATE SEQUENCE and DROP SEQUENCE (sequences.h);
//  - any other statement, translated and run; FILE('name') in it is the
//    bytes of that file (relative to `fileBase`) as a blob;
//  - a statement right after a line "--@sqlite" runs as written; after
//    "--@<other>" it is skipped (another backend's version). A statement
//    after "--@postgresql" may hold $$-quoted bodies and ends at the first
//    ";" outside them.
// How the script runs, as one transaction, is the target's; a failure
// throws OraError naming the statement.
void runOracleScript(ScriptTarget &target, const QString &text, const QString &fileBase);

} // namespace vorel::server
