#pragma once
// The passwords of TUSUARIOS in an SQLite database (see core/passwords.h).
struct sqlite3;

namespace vorel::server::passwords {

// The SQL function vorel_password_hash(text) and, when the database has
// TUSUARIOS, TEMP triggers on it that hash whatever a statement writes into
// USUA_Paswd. TEMP, so that a connection without the function (an
// administrator's sqlite3 shell) can still write the table.
void install(sqlite3 *db);

// Replaces every password stored as typed by its hash, in one transaction;
// returns how many. Throws OraError.
int convertPlain(sqlite3 *db);

} // namespace vorel::server::passwords
