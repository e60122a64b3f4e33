// The columns the translator asks about, over a PostgreSQL connection.
#include "server/backend/postgres/pgdialect.h"
#include "server/backend/postgres/pgconnection.h"

namespace vorel::server {

ColumnLookup schemaLookup(pg::Connection &conn)
{
    pg::Connection *c = &conn;
    return [c](const QString &table, const QString &column) {
        try {
            const pg::Result r =
                c->exec(QStringLiteral(
                            "SELECT atttypid IN ('pg_catalog.timestamp'::pg_catalog.regtype, "
                            "'pg_catalog.date'::pg_catalog.regtype, "
                            "'pg_catalog.timestamptz'::pg_catalog.regtype) FROM pg_catalog.pg_attribute WHERE attrelid "
                            "= pg_catalog.to_regclass($1) "
                            "AND attnum > 0 AND NOT attisdropped AND pg_catalog.lower(attname) = pg_catalog.lower($2)"),
                        {quotedName(table.toLower()), column});
            if (r.rows() == 0)
                return ColumnType::Absent;
            return r.text(0, 0) == QLatin1String("t") ? ColumnType::Date : ColumnType::Other;
        } catch (const pg::Error &) {
            return ColumnType::Absent;
        }
    };
}

} // namespace vorel::server
