#include "server/oraerrors.h"
#include <sqlite3.h>

namespace vorel::server {

QString oracleMessage(sqlite3 *, int, const QString &sqliteMessage)
{
    if (sqliteMessage.startsWith(QLatin1String("ORA-")))
        return sqliteMessage;
    return QStringLiteral("ORA-00900: invalid SQL statement (%1)").arg(sqliteMessage);
}

} // namespace vorel::server
