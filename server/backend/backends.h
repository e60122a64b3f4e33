#pragma once
// The one place where a database location picks its engine: a PostgreSQL
// URI (postgresql://..., postgres://...) or else a database file.
#include "server/core/backend.h"

namespace vorel::server::backends {

const Backend &sqlite();
const Backend &postgres();
const Backend &forLocation(const QString &location);

} // namespace vorel::server::backends
