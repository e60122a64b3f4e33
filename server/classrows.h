#pragma once
// SELECT * FROM TABLE(p<Class>.main('<Role>')): the rows of a class for a
// role under the session's working rows (RVFILRAP, RQBEX).
#include <QString>
#include <QVariantList>
#include <optional>

struct sqlite3;

namespace vorel::server {

struct ClassRowsCall {
    QString classId;
    QString role;
};

// Recognises the class-rows statement (any case, blanks and line ends).
std::optional<ClassRowsCall> parseClassRowsCall(const QString &sql);

struct BoundQuery {
    QString sql;          // SQLite text with ? placeholders
    QVariantList binds;   // values for the placeholders, in order
};

// The SQLite query that answers the call on `db` now. The class's rows come
// from the view named p<Class>_main (see docs/ADMIN.md). Throws OraError.
BoundQuery classRowsQuery(sqlite3 *db, const ClassRowsCall &call);

} // namespace vorel::server
