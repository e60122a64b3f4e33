#pragma once
// An online copy of a SQLite database: taken while sessions read and write
// it, checked, and put in place whole or not at all.
#include "server/core/backend.h"

#include <QString>

namespace vorel::server {

// Copies the database `from` into `to` (replacing it) as it was at one
// moment of the copy: every transaction committed before the call is in it.
// The
// copy is checked (PRAGMA integrity_check) before it takes `to`'s name, so
// `to` is either the earlier file or a good copy. Empty on success;
// otherwise why not.
QString backupSqlite(const QString &from, const QString &to, BackupReport *report = nullptr);

} // namespace vorel::server
