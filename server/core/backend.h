#pragma once
// One database engine as the program sees it: how a session's connection is
// opened, how a database is made, and what serving one needs first. The
// engine is chosen once, from the location (see backend/backends.h); nothing
// above this interface asks which engine it is.
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

namespace vorel::server {

class Database;

// A script given to init: SQLite's dialect, or the demo script's Oracle form
// (oracle), whose FILE('...') names files beside it.
struct InitScript {
    QString path;
    bool oracle = false;
};

struct BackupReport {
    qint64 pages = 0;
    qint64 bytes = 0;
    double milliseconds = 0;
};

class Backend
{
public:
    virtual ~Backend() = default;

    // A database file of the server's own; its certificate goes beside it.
    virtual bool isFile() const = 0;

    // A session's connection. Throws vorel::Exception when it cannot be opened.
    virtual std::unique_ptr<Database> open(const QString &location) const = 0;

    // Makes the database: the schema, the demo data when asked, then the
    // scripts. Empty when done, else what went wrong; a failed run leaves
    // what was there before.
    virtual QString init(const QString &location, bool demo, const QList<InitScript> &scripts, bool force) const = 0;

    // Before serving: the database is reached now, so that a wrong location
    // shows before any client does, and passwords an earlier release kept as
    // typed become salted hashes (*converted counts them). Empty when ready,
    // else what went wrong.
    virtual QString prepare(const QString &location, int *converted) const = 0;

    // Copies the database into the file `to` while it is served: the copy
    // holds every transaction committed before the call, is checked, and
    // takes `to`'s name only then. Empty when done, else why not.
    virtual QString backup(const QString &location, const QString &to, BackupReport *report) const = 0;

protected:
    // The scripts' texts; empty when all were read, else why one was not.
    static QString readScripts(const QList<InitScript> &scripts, QStringList *texts);
};

} // namespace vorel::server
