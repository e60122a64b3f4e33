#pragma once
// What sets one engine's SQL apart from the other's, as data: the translator
// and the class-rows query read these instead of asking which engine they
// write for. A third engine is a third set of these.
#include <QtGlobal>

namespace vorel::server {

enum class Target { Sqlite, Postgres };

struct SqlTraits {
    // ---- the translator
    // What SYSDATE becomes.
    const char *sysdate;
    // The word that goes before DATE '...' (held as the stored text);
    // empty: none, the literal stays a text.
    const char *dateLiteral;
    // Unquoted names fold to lower case, so Oracle's "NAME" is written name.
    bool foldsToLowerCase;
    // An ON condition sees only the tables joined before it: the commas
    // left in a FROM list become CROSS JOINs.
    bool crossJoinsInFromList;
    // Each operand of || but a text literal goes through ora_text.
    bool concatenatesAsText;
    // The most arguments a function call may pass; a longer ora_concat
    // goes as one array. 0: no limit.
    int maxCallArguments;
    // Every subquery in a FROM list needs an alias.
    bool aliasesSubqueries;
    // Oracle's functions are called as the ora_* functions of
    // backend/postgres/functions/, DECODE and the like rewritten.
    bool callsOracleFunctions;
    // An answer's columns are named as SQLite names them, which the engine
    // would not do by itself.
    bool namesColumnsAsSqlite;
    // A translation far longer than its statement is refused (ORA-00900).
    bool boundsTranslationSize;
    // SELECT ... FOR UPDATE [NOWAIT] locks the rows it reads.
    bool locksRows;
    // MERGE is one statement of the engine's; without it the backend runs
    // the steps of mergeSteps.
    bool mergesRows;

    // ---- the class-rows query
    // A pattern matched against a date column, and against a number.
    const char *dateLike;
    const char *numberLike;
    // Every column has a type: one declared without a kind is text.
    bool columnsAlwaysTyped;
    // Bind markers are numbered ($1, $2, ...), not "?".
    bool numberedBindMarkers;
};

const SqlTraits &traitsOf(Target target);

} // namespace vorel::server
