#pragma once
// A database file of the server's own, kept by SQLite.
#include "server/core/backend.h"

namespace vorel::server {

class SqliteBackend : public Backend
{
public:
    bool isFile() const override { return true; }
    std::unique_ptr<Database> open(const QString &location) const override;
    QString init(const QString &location, bool demo, const QList<InitScript> &scripts, bool force) const override;
    QString prepare(const QString &location, int *converted) const override;
    QString backup(const QString &location, const QString &to, BackupReport *report) const override;
};

} // namespace vorel::server
