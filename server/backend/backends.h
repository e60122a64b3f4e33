#pragma once
// The one place where a database location picks its engine: a PostgreSQL
// URI (postgresql://..., postgres://...) or else a database file.
#include "server/core/backend.h"

namespace vorel::server::backends {

const Backend &sqlite();
const Backend &postgres();
const Backend &forLocation(const QString &location);

// Connections a server keeps to one shared database server at most
// (--pg-connections), lent to its sessions as they need one; read when the
// first session of a database opens.
void limitConnections(int perDatabase);
// The same for one SQLite file (--sqlite-connections).
void limitSqliteConnections(int perFile);
// Where the engines tell the server's output what concerns its operator.
void setNotice(void (*notice)(const QString &line));

} // namespace vorel::server::backends
