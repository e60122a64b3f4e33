#include "server/dialect.h"
#include <sqlite3.h>

namespace vorel::server {

ColumnLookup schemaLookup(sqlite3 *db)
{
    return [db](const QString &, const QString &) { return false; };
}

QString translateOracle(const QString &oracleSql, const ColumnLookup &)
{
    QString s = oracleSql;
    s.replace(QStringLiteral("vorel."), QString(), Qt::CaseInsensitive);
    return s;
}

void registerOracleFunctions(sqlite3 *) {}

} // namespace vorel::server
