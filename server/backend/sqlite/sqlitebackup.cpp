#include "server/backend/sqlite/sqlitebackup.h"
#include "server/backend/sqlite/sqlitestatement.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sqlite3.h>
#include <unistd.h>

namespace vorel::server {

namespace {

struct Closer {
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
using Handle = std::unique_ptr<sqlite3, Closer>;

QString lastError(sqlite3 *db) { return QString::fromUtf8(sqlite3_errmsg(db)); }

// Flushes a file or folder to the disk: a rename is only as durable as the
// data it names and the folder that holds the name.
bool syncPath(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

QString copyInto(sqlite3 *source, sqlite3 *target, BackupReport *report)
{
    sqlite3_backup *backup = sqlite3_backup_init(target, "main", source, "main");
    if (!backup)
        return lastError(target);
    // All pages in one step: one read transaction, so the copy is the
    // database as it was when the step began, whatever is written meanwhile
    // (a copy in slices starts again each time another connection writes).
    QDeadlineTimer patience(30000);
    int rc;
    while ((rc = sqlite3_backup_step(backup, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED) {
        if (patience.hasExpired())
            break;
        QThread::msleep(50);
    }
    if (report)
        report->pages = sqlite3_backup_pagecount(backup);
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE)
        return rc == SQLITE_BUSY || rc == SQLITE_LOCKED
            ? QStringLiteral("the database stayed locked for 30 s")
            : QString::fromUtf8(sqlite3_errstr(rc));
    return QString();
}

QString checkCopy(sqlite3 *copy)
{
    // A copy stands alone: no write-ahead log beside it.
    if (sqlite3_exec(copy, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return lastError(copy);
    const sqlite::Statement st = sqlite::prepare(copy, "PRAGMA integrity_check");
    if (!st)
        return lastError(copy);
    QStringList problems;
    while (sqlite3_step(st.get()) == SQLITE_ROW)
        problems << sqlite::columnText(st.get(), 0);
    if (problems != QStringList{QStringLiteral("ok")})
        return QStringLiteral("the copy fails its integrity check: ") + problems.mid(0, 5).join(QStringLiteral("; "));
    return QString();
}

} // namespace

QString backupSqlite(const QString &from, const QString &to, BackupReport *report)
{
    QElapsedTimer clock;
    clock.start();
    if (!QFileInfo(from).isFile())
        return QStringLiteral("%1 is not a database file").arg(from);
    if (QFileInfo(from).canonicalFilePath() == QFileInfo(to).canonicalFilePath())
        return QStringLiteral("the copy cannot replace the database itself");
    sqlite3 *raw = nullptr;
    const int opened = sqlite3_open_v2(QFile::encodeName(from).constData(), &raw, SQLITE_OPEN_READONLY, nullptr);
    Handle source(raw);
    if (opened != SQLITE_OK)
        return QStringLiteral("cannot open %1: %2").arg(from, raw ? lastError(raw) : QString());
    sqlite3_busy_timeout(source.get(), 10000);

    // Written beside its final name, then renamed over it in one step.
    const QString part = to + QStringLiteral(".part-") + QString::number(::getpid());
    QFile::remove(part);
    raw = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(part).constData(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr)
        != SQLITE_OK) {
        const QString why = raw ? lastError(raw) : QString();
        sqlite3_close_v2(raw);
        return QStringLiteral("cannot write %1: %2").arg(part, why);
    }
    Handle target(raw);
    QString why = copyInto(source.get(), target.get(), report);
    source.reset();
    if (why.isEmpty())
        why = checkCopy(target.get());
    target.reset();
    if (why.isEmpty() && !syncPath(part))
        why = QStringLiteral("cannot write %1 to the disk").arg(part);
    if (why.isEmpty() && std::rename(QFile::encodeName(part).constData(), QFile::encodeName(to).constData()) != 0)
        why = QStringLiteral("cannot rename %1 to %2").arg(part, to);
    if (!why.isEmpty()) {
        QFile::remove(part);
        QFile::remove(part + QStringLiteral("-journal"));
        return why;
    }
    syncPath(QFileInfo(to).absolutePath());
    if (report) {
        report->bytes = QFileInfo(to).size();
        report->milliseconds = double(clock.nsecsElapsed()) / 1e6;
    }
    return QString();
}

} // namespace vorel::server
