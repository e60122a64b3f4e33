#pragma once
// The translator's needs on a PostgreSQL connection.
#include "server/sql/dialect.h"

namespace vorel::server {

namespace pg {
class Connection;
}

// A lookup over a PostgreSQL connection (its search path, temp tables too).
// The lookup reads the catalog only, so that it cannot fail a transaction.
ColumnLookup schemaLookup(pg::Connection &conn);

} // namespace vorel::server
