#pragma once
// A PostgreSQL database shared with other servers, named by a URI.
#include "server/core/backend.h"

namespace vorel::server {

class PgBackend : public Backend
{
public:
    bool isFile() const override { return false; }
    std::unique_ptr<Database> open(const QString &location) const override;
    QString init(const QString &location, bool demo, const QList<InitScript> &scripts, bool force) const override;
    QString prepare(const QString &location, int *converted) const override;
    QString backup(const QString &location, const QString &to, BackupReport *report) const override;
};

} // namespace vorel::server
