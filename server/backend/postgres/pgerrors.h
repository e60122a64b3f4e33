#pragma once
// PostgreSQL's failures worded as Oracle words them, as sqliteerrors.h does
// for SQLite's: the client reads the number after "ORA-" and the name in
// the first parentheses.
#include "server/backend/postgres/pgconnection.h"

#include <QString>

namespace vorel::server::pg {

// The Oracle text of `f`. `c` is the connection the failure came from; it
// is only read from when its transaction can still answer.
QString oracleMessage(Connection &c, const Failure &f);

} // namespace vorel::server::pg
