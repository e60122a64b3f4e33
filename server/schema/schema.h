#pragma once
// The metadata schema as data: the tables every database of the server
// holds, whichever engine keeps them.
#include "server/core/rights.h"

#include <QString>

#include <vector>

namespace vorel::server {

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

using rights::Writers;

struct Table {
    const char *name;
    const char *comment;
    std::vector<Column> columns;
    Key primaryKey;
    std::vector<Key> uniqueKeys;
    std::vector<ForeignKey> foreignKeys;
    std::vector<Check> checks;
    bool session = false;  // per-connection TEMP table, created at login
    Writers writers = Writers::Administrators;
};

// The metadata table of that name (upper or mixed case), null for any
// other.
const Table *metadataTable(QStringView name);
// Who may write the table of that name: a metadata table's own writers, the
// classes of TCLATABLAS for any other.
Writers writersOf(QStringView name);

// The metadata schema, the dictionary registry first.
const std::vector<Table> &metadataTables();
// The index that lets a parent's delete find its children, named
// IX_<name without FK_>; empty when a key of the child already leads with
// the foreign key's columns.
QString foreignKeyIndex(const Table &t, const ForeignKey &fk);

// A text as an SQL literal.
QString quoted(const QString &text);
// The names separated by ", ", each after `prefix`.
QString joined(const std::vector<const char *> &names, const QString &prefix = {});
// CREATE [TEMP] TABLE of `t` with its keys and checks, each column's type
// as `type` spells the declared one for the engine.
QString createTableSql(const Table &t, bool temp, QString (*type)(const QString &declared));

} // namespace schemadef

// A text built into the program; throws OraError "<what> is missing from
// the program" when it is not there.
QString builtInText(const QString &resource, const QString &what);
// The demo database's script; the files it names are beside it, in :/demo.
QString demoScript();

} // namespace vorel::server
