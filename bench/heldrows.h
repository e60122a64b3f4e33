#pragma once
// Rows a list window would hold: a table made on a reference server, read
// whole into a dataset logged in to it as the demo user.
#include "data/connection.h"
#include "data/dataset.h"
#include "support/testserver.h"

#include <QString>

namespace vorel::bench {

struct THeldRows {
    test::TestServer server;
    TSocketConnection connection;
    TClientDataSet data;

    // Runs `createSql` on the server, then holds every row of `selectSql`.
    // Returns what failed, empty when nothing did.
    QString Start(const QString &createSql, const QString &selectSql)
    {
        QString error;
        if (!server.start(&error))
            return QStringLiteral("server: ") + error;
        server.exec(createSql);
        connection.SetHost(server.host());
        connection.SetPort(server.port());
        connection.SetTimeout(60000);
        connection.Open();
        connection.Call(QStringLiteral("Login"), {QStringLiteral("1001"), QStringLiteral("clave"),
                                                  QStringLiteral("DEMO"), server.host()});
        data.SetRemoteServer(&connection);
        data.SetProviderName(QStringLiteral("dspModulo"));
        data.SetPacketRecords(5000);
        data.SetCommandText(selectSql);
        data.Open();
        data.FetchAll();
        return {};
    }
};

} // namespace vorel::bench
