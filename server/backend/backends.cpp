#include "server/backend/backends.h"

#include "server/backend/postgres/pgbackend.h"
#include "server/backend/postgres/pgpool.h"
#include "server/backend/sqlite/sqlitebackend.h"
#include "server/backend/sqlite/sqlitepool.h"

namespace vorel::server::backends {

const Backend &sqlite()
{
    static const SqliteBackend backend;
    return backend;
}

const Backend &postgres()
{
    static const PgBackend backend;
    return backend;
}

const Backend &forLocation(const QString &location)
{
    if (location.startsWith(QLatin1String("postgresql://")) || location.startsWith(QLatin1String("postgres://")))
        return postgres();
    return sqlite();
}

void limitConnections(int perDatabase) { pg::Pool::setLimit(perDatabase); }

void limitSqliteConnections(int perFile) { sqlite::Pool::setLimit(perFile); }

void setNotice(void (*notice)(const QString &line))
{
    pg::Pool::setNotice(notice);
    sqlite::Pool::setNotice(notice);
}

} // namespace vorel::server::backends
