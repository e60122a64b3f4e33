#pragma once
// Passwords at rest: PBKDF2-HMAC-SHA256 with a random salt per password,
// kept in USUA_Paswd as "$pbkdf2-sha256$<iterations>$<salt>$<key>" (salt and
// key in base64). A value in any other form is a password stored as typed by
// an earlier release; it is still accepted once and then replaced.
#include <QString>

struct sqlite3;

namespace vorel::server::passwords {

inline constexpr int kIterations = 60000;

QString hash(const QString &plain);
bool isHash(const QString &stored);
// True when `plain` is the password `stored` keeps (hashed or as typed).
bool verify(const QString &plain, const QString &stored);

// The SQL function vorel_password_hash(text) and, when the database has
// TUSUARIOS, TEMP triggers on it that hash whatever a statement writes into
// USUA_Paswd. TEMP, so that a connection without the function (an
// administrator's sqlite3 shell) can still write the table.
void install(sqlite3 *db);

// Replaces every password stored as typed by its hash, in one transaction;
// returns how many. Throws OraError.
int convertPlain(sqlite3 *db);

} // namespace vorel::server::passwords
