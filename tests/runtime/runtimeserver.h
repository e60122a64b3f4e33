#pragma once
// The reference server with the test classes of the runtime tests and a
// logged-in connection; no display needed.
#include "common/exception.h"
#include "data/connection.h"
#include "support/testserver.h"

#include <QtGlobal>
#include <memory>

namespace vorel::test {

// Users 9101 and 9102, role TSTROL granted to 9101, and the test classes,
// each with a 'WIN32' use case for "main" (numbers 9001...). 9101
// administers and may act for others: the tests write the metadata tables
// as a class library writes its own, and change the session's user.
inline const char *const kRuntimeSetup = R"SQL(
INSERT OR IGNORE INTO TGUIS (GUIS_Gui) VALUES ('WIN32');
INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_eMail, USUA_Paswd) VALUES (9101, 'Ana Ruiz', 'Ana@Correo.es', 'clave');
INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_eMail, USUA_Paswd) VALUES (9102, 'A.B. Gil', NULL, 'clave');
INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('TSTROL', 'Rol de prueba');
INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (9101, 'TSTROL', 1);
INSERT INTO TUSUMROL (USUM_Usua) VALUES (9101);
INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq) VALUES ('TSTPROPIA', 'Propia');
INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq) VALUES ('TSTGEN', 'Generica');
INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq) VALUES ('TSTGEN2', 'Generica 2');
INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq) VALUES ('TSTLOG', 'Bitacora');
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, METO_Visib) VALUES ('TSTPROPIA', 'main', 'Lista', 0, 1, 1);
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, METO_Visib) VALUES ('TSTPROPIA', 'metodo', 'Metodo', 0, 1, 1);
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, METO_Visib) VALUES ('TSTGEN', 'main', 'Lista', 0, 1, 1);
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, METO_Visib) VALUES ('TSTGEN2', 'main', 'Lista', 0, 1, 1);
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, METO_Visib) VALUES ('TSTLOG', 'main', 'Lista', 0, 1, 1);
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (9001, 'TSTPROPIA', 'main', 'WIN32', 1);
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (9002, 'TSTPROPIA', 'metodo', 'WIN32', 1);
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (9003, 'TSTGEN', 'main', 'WIN32', 1);
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (9004, 'TSTGEN2', 'main', 'WIN32', 1);
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (9005, 'TSTLOG', 'main', 'WIN32', 1);
)SQL";

class RuntimeServer
{
public:
    std::unique_ptr<TestServer> server;
    std::unique_ptr<TSocketConnection> connection;

    bool start()
    {
        server = std::make_unique<TestServer>();
        QString error;
        if (!server->start(&error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        server->exec(QString::fromUtf8(kRuntimeSetup));
        connection = std::make_unique<TSocketConnection>();
        connection->SetHost(server->host());
        connection->SetPort(server->port());
        connection->SetTimeout(30000);
        connection->Open();
        connection->Call(QStringLiteral("Login"),
                         {QStringLiteral("9101"), QStringLiteral("clave"), QStringLiteral("DEMO"),
                          QStringLiteral("127.0.0.1")});
        return true;
    }

    void stop()
    {
        connection.reset();
        server.reset();
    }

    // The failure of a statement run on the server as it reaches the client.
    QString failureOf(const QString &sql)
    {
        try {
            connection->Call(QStringLiteral("EjeDir"), {sql});
        } catch (const Exception &e) {
            return e.message();
        }
        return QString();
    }
};

} // namespace vorel::test
