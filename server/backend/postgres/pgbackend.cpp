#include "server/backend/postgres/pgbackend.h"

#include "common/exception.h"
#include "server/backend/postgres/pgconnection.h"
#include "server/backend/postgres/pgdatabase.h"
#include "server/backend/postgres/pgerrors.h"
#include "server/backend/postgres/pgpool.h"
#include "server/backend/postgres/pgschema.h"
#include "server/core/oraerror.h"
#include "server/sql/dialect.h"

#include <QFileInfo>
#include <vector>

namespace vorel::server {

std::unique_ptr<Database> PgBackend::open(const QString &location) const
{
    return std::make_unique<PgDatabase>(location);
}

// The whole schema, demo data and scripts in one transaction: a failed run
// leaves the database as it was.
QString PgBackend::init(const QString &uri, bool demo, const QList<InitScript> &scripts, bool force) const
{
    QStringList scriptTexts;
    const QString unread = readScripts(scripts, &scriptTexts);
    if (!unread.isEmpty())
        return unread;
    std::unique_ptr<pg::Connection> conn;
    try {
        conn = std::make_unique<pg::Connection>(uri);
    } catch (const vorel::Exception &e) {
        // A database that does not exist yet is made, where the server lets us.
        const QString name = pg::Connection::databaseOf(uri);
        if (name.isEmpty() || !e.message().contains(QLatin1String("does not exist")))
            return e.message();
        try {
            pg::Connection maintenance(pg::Connection::withDatabase(uri, QStringLiteral("postgres")));
            maintenance.exec(QStringLiteral("CREATE DATABASE ") + quotedName(name));
            conn = std::make_unique<pg::Connection>(uri);
        } catch (const vorel::Exception &again) {
            return again.message();
        } catch (const pg::Error &again) {
            return QStringLiteral("cannot create the database %1: %2").arg(name, again.failure().message);
        }
    }
    QString error;
    try {
        conn->exec(PgDatabase::sessionSettings());
        conn->exec(QStringLiteral("BEGIN"));
        const pg::Result tables = conn->exec(
            QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = current_schema()"));
        if (tables.text(0, 0) != QLatin1String("0")) {
            if (!force)
                throw OraError(QStringLiteral("the database already holds tables (use --force to replace them)"));
            conn->exec(QStringLiteral("DROP SCHEMA public CASCADE; CREATE SCHEMA public"));
        }
        pg::createSchema(*conn);
        if (demo)
            pg::fillDemo(*conn);
        for (int i = 0; i < scripts.size(); ++i) {
            try {
                pg::runOracleScript(*conn, scriptTexts[i], QFileInfo(scripts[i].path).absolutePath());
            } catch (const OraError &e) {
                throw OraError(scripts[i].path + QStringLiteral(": ") + e.message());
            }
        }
        pg::grantSessionRole(*conn);
        pg::createWorkingTables(*conn);
        conn->exec(QStringLiteral("COMMIT"));
    } catch (const OraError &e) {
        error = e.message();
    } catch (const pg::Error &e) {
        error = pg::oracleMessage(*conn, e.failure());
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
    }
    return error;
}

// The schema's trigger keeps the passwords hashed; nothing to convert. A
// database of an earlier release gets the sessions' role and grants here,
// where the server's role may give them; a lesser role finds them given.
QString PgBackend::prepare(const QString &uri, int *converted) const
{
    *converted = 0;
    try {
        pg::Connection conn(uri);
        conn.exec(PgDatabase::sessionSettings());
        try {
            pg::grantSessionRole(conn);
        } catch (const OraError &e) {
            const pg::Result member = conn.exec(
                QStringLiteral("SELECT pg_catalog.pg_has_role(current_user, '%1', 'MEMBER')")
                    .arg(QLatin1String(pg::kSessionRole)));
            if (member.text(0, 0) != QLatin1String("t"))
                return QStringLiteral("the sessions' role %1 is missing or not granted to the server's role (%2); "
                                      "run vorel-server init --pg as its owner, or see the administrator's guide")
                    .arg(QLatin1String(pg::kSessionRole), e.message());
        }
        // A database made by an earlier server lacks the functions the
        // translation of this one calls.
        if (const QString why = pg::refreshFunctions(conn); !why.isEmpty())
            pg::Pool::tell(QStringLiteral("the database's functions stay those of an earlier server: %1").arg(why));
        pg::createWorkingTables(conn, false);
        // Sessions of servers that died keep their working rows until a
        // server starts: none of them is coming back.
        if (const int cleared = pg::clearDeadSessions(conn); cleared > 0)
            pg::Pool::tell(QStringLiteral("the working rows of %1 sessions of servers no longer running are "
                                          "cleared")
                               .arg(cleared));
        // The pool, and the lock that tells the others this server lives,
        // last as long as the server.
        static std::vector<std::shared_ptr<pg::Pool>> kept;
        kept.push_back(pg::Pool::of(uri));
    } catch (const OraError &e) {
        return e.message();
    } catch (const vorel::Exception &e) {
        return e.message();
    } catch (const pg::Error &e) {
        return e.failure().message;
    }
    return {};
}

QString PgBackend::backup(const QString &, const QString &, BackupReport *) const
{
    // pg_dump reads one snapshot of a database in use, and restores with
    // PostgreSQL's own tools; a copy of our own would do less.
    return QStringLiteral("a PostgreSQL database is copied with pg_dump (see the administrator's guide)");
}

} // namespace vorel::server
