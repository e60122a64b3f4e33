#pragma once
// Oracle's SQL as the client writes it, translated into SQLite's or
// PostgreSQL's.
#include "server/sql/sqltraits.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace vorel::server {

// What a table's column holds, as far as the translator needs to know:
// whether it is there at all (the (+) outer-join marker), and whether it is
// a date (arithmetic in days).
enum class ColumnType { Absent, Date, Other };

// Tells what `table` (as written in a FROM list, schema prefix removed) has
// under the name `column`; both compared without regard to case.
using ColumnLookup = std::function<ColumnType(const QString &table, const QString &column)>;

// The declared spelling of a table's column (table as written in a FROM
// list, both compared without regard to case); empty when unknown.
using ColumnSpelling = std::function<QString(const QString &table, const QString &column)>;

// How the PostgreSQL text names the columns of its answer. SQLite names them
// as the select list writes them (an alias as written, a column as declared,
// an expression by its text); PostgreSQL folds unquoted names to lower case.
// With `asSqlite`, the outermost select list gets quoted names that are those
// SQLite gives for the same statement; without it, names are left alone (the
// text of a CREATE VIEW, whose columns must stay unquoted).
struct ColumnNaming {
    bool asSqlite = true;
    ColumnSpelling declared; // without it a column is named as written
};

// Translates one Oracle statement. Throws OraError (ora::kNotProperlyEnded,
// ...) for text it cannot read.
QString translateOracle(const QString &oracleSql, const ColumnLookup &lookup, Target target = Target::Sqlite,
                        const ColumnNaming &naming = {});

// SELECT ... FOR UPDATE [OF ...] [NOWAIT | WAIT n]: how long the statement
// may wait for the rows it locks, in milliseconds (0 for NOWAIT, -1 as long
// as a lock is waited for); nullopt when it locks nothing.
std::optional<int> rowLockWait(const QString &oracleSql);
// The statement without its FOR UPDATE clause.
QString withoutRowLocks(const QString &oracleSql);

// MERGE where the engine has none of its own (SQLite): the statements that
// make it, each translated, to run in this order under one savepoint.
struct MergeSteps {
    // Any row it gives is a target row that two source rows would change
    // (ORA-30926); empty without WHEN MATCHED.
    QString conflicts;
    // The matched rows; with DELETE WHERE it returns their rowids.
    QString update;
    // The source rows that match none, as new rows; run after the update.
    QString insert;
    // Of the rows updated, those DELETE WHERE names as updated: the word
    // vorel_updated stands for the list of their rowids.
    QString remove;
};
// nullopt when the statement is no MERGE; throws OraError as translateOracle.
std::optional<MergeSteps> mergeSteps(const QString &oracleSql, const ColumnLookup &lookup);

// A name in double quotes, as both engines read it whatever its letters.
QString quotedName(const QString &name);
// A number as Oracle's TO_CHAR writes it without a format: 5, 5.25, .5, -.5
QString oracleNumberText(double d);

} // namespace vorel::server
