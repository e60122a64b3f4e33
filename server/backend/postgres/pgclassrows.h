#pragma once
// The class-rows query on a PostgreSQL connection, whose view is the folded
// name p<class>_main and whose working rows are its TEMP tables. `declared`
// gives the spellings error texts name the view's columns by (SQLite's
// names, CLIENTE for cliente); without it, in capitals.
#include "server/sql/classrows.h"

namespace vorel::server {

namespace pg {
class Connection;
}

BoundQuery classRowsQuery(pg::Connection &conn, const ClassRowsCall &call, const ColumnSpelling &declared = {});

} // namespace vorel::server
