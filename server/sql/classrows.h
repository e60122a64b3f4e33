#pragma once
// SELECT * FROM TABLE(p<Class>.main('<Role>')): the rows of a class for a
// role under the session's working rows (RVFILRAP, RQBEX).
#include "server/sql/dialect.h"

#include <QString>
#include <QVariantList>
#include <optional>
#include <vector>

namespace vorel::server {

struct ClassRowsCall {
    QString classId;
    QString role;
};

// Recognises the class-rows statement (any case, blanks and line ends).
std::optional<ClassRowsCall> parseClassRowsCall(const QString &sql);

struct BoundQuery {
    QString sql;          // SQLite text with ? bind markers, PostgreSQL's with $1, $2, ...
    QVariantList binds;   // values for the bind markers, in order
};

// What the query is built from, read on the session's connection: the
// view's columns and the session's working rows. Each backend reads them in
// its own way (backend/*/..classrows.*).
class ClassRowsSource
{
public:
    struct Column {
        QString name; // as the database spells it
        QString type; // as declared; empty for a computed column without one
        QString label = {}; // as error texts name it; empty: as `name`
    };
    struct Filter {           // a row of RVFILRAP
        std::optional<qint64> filter; // VFIL_Filtro; none for a drill-down condition
        QString value;        // VFIL_Valor
    };
    struct Example {          // a row of RQBEX
        qint64 record = 0;    // QBEX_Reg
        QString field, value; // QBEX_Campo, QBEX_Valor
        bool date = false;    // QBEX_Fecha = 1
    };

    virtual ~ClassRowsSource() = default;
    // The engine the query is written for.
    virtual Target target() const = 0;
    // The view's columns in order; none when there is no such view.
    virtual std::vector<Column> columns(const QString &view) const = 0;
    virtual std::vector<Filter> filters() const = 0;   // in the order they were written
    virtual std::vector<Example> examples() const = 0; // by record, then as written
    virtual ColumnLookup lookup() const = 0;           // for the administrators' conditions
};

// The query that answers the call now. The class's rows come from the view
// named p<Class>_main (see docs/ADMIN.md). Throws OraError.
BoundQuery classRowsQuery(const ClassRowsSource &source, const ClassRowsCall &call);
} // namespace vorel::server
