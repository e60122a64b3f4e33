#pragma once
// Passwords at rest: PBKDF2-HMAC-SHA256 with a random salt per password,
// kept in USUA_Paswd as "$pbkdf2-sha256$<iterations>$<salt>$<key>" (salt and
// key in base64). A value in any other form is a password stored as typed by
// an earlier release; it is still accepted once and then replaced.
#include <QString>

namespace vorel::server::passwords {

inline constexpr int kIterations = 60000;
// What every hash kept in USUA_Paswd begins with.
inline constexpr char kPrefix[] = "$pbkdf2-sha256$";

QString hash(const QString &plain);
bool isHash(const QString &stored);
// True when `plain` is the password `stored` keeps (hashed or as typed).
bool verify(const QString &plain, const QString &stored);

} // namespace vorel::server::passwords
