#include "server/schema.h"
#include "server/oraerrors.h"

#include <sqlite3.h>

namespace vorel::server {

namespace {

void exec(sqlite3 *db, const QString &sql)
{
    char *err = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_exec(db, utf8.constData(), nullptr, nullptr, &err) != SQLITE_OK) {
        const QString msg = QString::fromUtf8(err ? err : sqlite3_errmsg(db));
        sqlite3_free(err);
        throw OraError(msg);
    }
}

} // namespace

void createSchema(sqlite3 *db)
{
    exec(db, QStringLiteral("SELECT 1"));
}

void fillDemo(sqlite3 *db)
{
    exec(db, QStringLiteral("SELECT 1"));
}

void createSessionTables(sqlite3 *db, const QString &userId)
{
    exec(db, QStringLiteral(
        "CREATE TEMP TABLE IF NOT EXISTS RSESION (SESI_Usua NUMBER, SESI_USUADer NUMBER);"
        "CREATE TEMP TABLE IF NOT EXISTS RVFILRAP (VFIL_Filtro NUMBER, VFIL_Valor VARCHAR2(4000));"
        "CREATE TEMP TABLE IF NOT EXISTS RQBEX (QBEX_Reg NUMBER, QBEX_Campo VARCHAR2(30), "
        "QBEX_Valor VARCHAR2(4000), QBEX_Fecha NUMBER);"
        "DELETE FROM temp.RSESION; DELETE FROM temp.RVFILRAP; DELETE FROM temp.RQBEX;"));
    QString id = userId;
    id.replace(QLatin1Char('\''), QLatin1String("''"));
    exec(db, QStringLiteral("INSERT INTO temp.RSESION VALUES ('%1', '%1')").arg(id));
}

void runScript(sqlite3 *db, const QString &sqlText)
{
    exec(db, sqlText);
}

} // namespace vorel::server
