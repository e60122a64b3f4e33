#include "server/backend/sqlite/sqlitebackend.h"
#include "server/backend/sqlite/sqlitebackup.h"

#include "server/backend/sqlite/sequencestore.h"
#include "server/backend/sqlite/sqlitedatabase.h"
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/backend/sqlite/sqlitepasswords.h"
#include "server/backend/sqlite/sqliteschema.h"
#include "server/core/oraerror.h"

#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>

namespace vorel::server {

namespace {

void removeDatabase(const QString &file)
{
    QFile::remove(file);
    QFile::remove(file + QStringLiteral("-wal"));
    QFile::remove(file + QStringLiteral("-shm"));
    QFile::remove(file + QStringLiteral("-journal"));
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(sequenceFile(file) + QLatin1String(suffix));
}

} // namespace

std::unique_ptr<Database> SqliteBackend::open(const QString &location) const
{
    return std::make_unique<SqliteDatabase>(location);
}

// Builds the database under a temporary name and renames it into place only
// when everything succeeded, so a failed run leaves no half-made database
// and, with force, keeps the old one.
QString SqliteBackend::init(const QString &file, bool demo, const QList<InitScript> &scripts, bool force) const
{
    if (QFileInfo::exists(file) && !force)
        return QStringLiteral("%1 already exists (use --force to replace it)").arg(file);
    QStringList scriptTexts;
    const QString unread = readScripts(scripts, &scriptTexts);
    if (!unread.isEmpty())
        return unread;
    const QString building = file + QStringLiteral(".init");
    removeDatabase(building);
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(building.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
        != SQLITE_OK) {
        const QString why = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close_v2(db);
        return QStringLiteral("cannot create %1: %2").arg(building, why);
    }
    QString error;
    try {
        if (sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) != SQLITE_OK)
            throw OraError(QString::fromUtf8(sqlite3_errmsg(db)));
        registerOracleFunctions(db);
        createSchema(db);
        if (demo)
            fillDemo(db);
        for (int i = 0; i < scripts.size(); ++i) {
            try {
                if (scripts[i].oracle)
                    runOracleScript(db, scriptTexts[i], QFileInfo(scripts[i].path).absolutePath());
                else
                    runScript(db, scriptTexts[i]);
            } catch (const OraError &e) {
                throw OraError(scripts[i].path + QStringLiteral(": ") + e.message());
            }
        }
        passwords::convertPlain(db);
    } catch (const OraError &e) {
        error = e.message();
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
    }
    sqlite3_close_v2(db);
    if (!error.isEmpty()) {
        removeDatabase(building);
        return error;
    }
    if (force)
        removeDatabase(file);
    if (!QFile::rename(building, file)) {
        removeDatabase(building);
        return QStringLiteral("cannot create %1").arg(file);
    }
    // Closed above, its journal checkpointed into it; one left beside a
    // database since deleted is not this database's.
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(sequenceFile(file) + QLatin1String(suffix));
    if (QFileInfo::exists(sequenceFile(building)) && !QFile::rename(sequenceFile(building), sequenceFile(file)))
        return QStringLiteral("cannot create %1").arg(sequenceFile(file));
    return {};
}

QString SqliteBackend::prepare(const QString &file, int *converted) const
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        const QString error = QStringLiteral("cannot open %1: %2").arg(file, QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_close_v2(db);
        return error;
    }
    sqlite3_busy_timeout(db, 10000);
    QString error;
    try {
        *converted = passwords::convertPlain(db);
    } catch (const OraError &e) {
        error = QStringLiteral("cannot convert the passwords of %1: %2").arg(file, e.message());
    }
    sqlite3_close_v2(db);
    return error;
}

QString SqliteBackend::backup(const QString &file, const QString &to, BackupReport *report) const
{
    QString error = backupSqlite(file, to, report);
    // After the database: the copy's sequences are then past every number
    // the database's copy holds.
    if (error.isEmpty() && QFileInfo::exists(sequenceFile(file))) {
        BackupReport sequences;
        error = backupSqlite(sequenceFile(file), sequenceFile(to), &sequences);
    }
    return error;
}

} // namespace vorel::server
