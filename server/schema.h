#pragma once
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

// The private working tables of one server session (TEMP RSESION, RVFILRAP,
// RQBEX), RSESION holding the session's one row.
void createSessionTables(sqlite3 *db, const QString &userId);

// Runs an administrator's script: statements in SQLite's dialect separated
// by ";". Throws OraError naming the failing statement.
void runScript(sqlite3 *db, const QString &sqlText);

// Table descriptions from which the DDL, the foreign-key triggers and the
// dictionary rows are generated, so that the three never disagree.
namespace schemadef {

struct Column {
    const char *name;
    const char *type;     // Oracle spelling: NUMBER(8), VARCHAR2(40), DATE, BLOB
    bool notNull;
    const char *comment;  // a second line (after "\n") is the wording for users
};

struct Key {
    const char *name = nullptr;  // nullptr: none
    std::vector<const char *> columns;
};

struct ForeignKey {
    const char *name;
    std::vector<const char *> columns;
    const char *parentTable;
    std::vector<const char *> parentColumns;
};

struct Check {
    const char *name;
    const char *condition;  // the columns it names are found in the text
};

struct Table {
    const char *name;
    const char *comment;
    std::vector<Column> columns;
    Key primaryKey;
    std::vector<Key> uniqueKeys;
    std::vector<ForeignKey> foreignKeys;
    std::vector<Check> checks;
    bool session = false;  // per-connection TEMP table, created at login
};

// The metadata schema, the dictionary registry first.
const std::vector<Table> &metadataTables();
// The index that lets a parent's delete find its children, named
// IX_<name without FK_>; empty when a key of the child already leads with
// the foreign key's columns.
QString foreignKeyIndex(const Table &t, const ForeignKey &fk);

// Creates the tables (not the session ones), their indexes and foreign-key
// triggers, and registers constraints and comments in the dictionary.
void createTables(sqlite3 *db, const std::vector<Table> &tables);
// Registers a view in the dictionary (ALL_TAB_COMMENTS, TABLE_TYPE 'VIEW').
void registerView(sqlite3 *db, const QString &name, const QString &comment);
// Runs statements without result rows; failures as OraError.
void exec(sqlite3 *db, const QString &sql);
// A text as an SQL literal.
QString quoted(const QString &text);

} // namespace schemadef

} // namespace vorel::server
