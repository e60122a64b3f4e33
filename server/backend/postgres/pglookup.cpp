// The (+) lookup over a PostgreSQL connection.
#include "server/backend/postgres/pgdialect.h"
#include "server/backend/postgres/pgconnection.h"

namespace vorel::server {

ColumnLookup schemaLookup(pg::Connection &conn)
{
    pg::Connection *c = &conn;
    return [c](const QString &table, const QString &column) {
        try {
            const pg::Result r = c->exec(
                QStringLiteral("SELECT 1 FROM pg_catalog.pg_attribute WHERE attrelid = pg_catalog.to_regclass($1) "
                               "AND attnum > 0 AND NOT attisdropped AND pg_catalog.lower(attname) = pg_catalog.lower($2)"),
                {quotedName(table.toLower()), column});
            return r.rows() > 0;
        } catch (const pg::Error &) {
            return false;
        }
    };
}

} // namespace vorel::server
