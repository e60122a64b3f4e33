#pragma once
// The class-rows query on an SQLite connection: the view p<Class>_main and
// the TEMP working tables as declared.
#include "server/sql/classrows.h"

struct sqlite3;

namespace vorel::server {

BoundQuery classRowsQuery(sqlite3 *db, const ClassRowsCall &call);

} // namespace vorel::server
