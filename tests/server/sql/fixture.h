#pragma once
// A fresh demo database with a few rows of its own (ids far from the demo's)
// and the class views the class-rows tests read.
#include "server/sql/dialect.h"
#include "server/schema/oraclescript.h"
#include "server/core/passwords.h"
#include "server/schema/schema.h"
#include "sqlrun.h"
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/backend/sqlite/sqlitepasswords.h"
#include "server/backend/sqlite/sqliteschema.h"

#include <QFile>
#include <QTemporaryDir>

namespace dialecttest {

// The fixture's rows as a script that both backends run the way they run
// the demo's: Oracle DDL and the client's SQL.
inline const char *fixtureScript()
{
    return R"SQL(
INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_eMail, USUA_Paswd, USUA_Fecha)
  VALUES (990001, 'Ana Prueba', 'ana@prueba.es', 'clave1', TIMESTAMP '2024-01-02 00:00:00');
INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_eMail, USUA_Paswd) VALUES (990002, 'Luis O''Brien', NULL, 'clave2');
INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('ZVEN', 'Ventas Z'), ('ZADM', 'Administración Z'), ('ZVAC', 'Vacío Z');
INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (990001, 'ZVEN', 0), (990001, 'ZADM', 2);
INSERT INTO TUSUMROL (USUM_Usua) VALUES (990002);
INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq, CLAS_PKey) VALUES ('ZCLI', 'Clientes Z', 'CLIENTE'),
  ('ZPED', 'Pedidos Z', 'PEDIDO'), ('ZOFF', 'Apagada Z', NULL);
INSERT INTO TCLAROL (CLAR_Clase, CLAR_Rol, CLAR_Etiq, CLAR_Activo, CLAR_Menu) VALUES ('ZCLI', 'ZVEN', NULL, 1, 1),
  ('ZPED', 'ZVEN', 'Mis pedidos', 1, 1), ('ZOFF', 'ZVEN', NULL, 1, 1), ('ZCLI', 'ZADM', 'Clientes admin', 1, 1);
INSERT INTO TBOTONES (BOTO_Boton, BOTO_Img, BOTO_HotKey) VALUES (903, FILE('cero.bin'), NULL);
INSERT INTO TBOTONES (BOTO_Boton, BOTO_Img, BOTO_HotKey) VALUES (907, FILE('cero.bin'), 'Ctrl+N');
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Ejec, METO_Boton, METO_Externo, METO_Activo, METO_Padre, METO_Visib)
  VALUES ('ZCLI', 'main', 'Consultar', NULL, NULL, 0, 1, NULL, 1),
         ('ZCLI', 'ALTA', 'Alta', NULL, 907, 0, 1, 'main', 1),
         ('ZCLI', 'BAJA', 'Baja', 'BajaCli', 903, 0, 1, 'main', 1),
         ('ZCLI', 'NOTA', 'Nota', NULL, NULL, 0, 1, 'main', 1),
         ('ZCLI', 'QUITA', 'Quitado', NULL, 907, 0, 1, 'main', 1),
         ('ZPED', 'main', 'Consultar', NULL, NULL, 0, 1, NULL, 1),
         ('ZOFF', 'main', 'Consultar', NULL, NULL, 0, 1, NULL, 1);
INSERT INTO TMETROL (METR_Clase, METR_Metodo, METR_Rol, METR_Etiq, METR_Activo) VALUES
  ('ZCLI', 'main', 'ZVEN', NULL, 1), ('ZCLI', 'ALTA', 'ZVEN', 'Alta cliente', 1), ('ZCLI', 'BAJA', 'ZVEN', NULL, 1),
  ('ZCLI', 'NOTA', 'ZVEN', NULL, 1), ('ZCLI', 'QUITA', 'ZVEN', NULL, 1), ('ZPED', 'main', 'ZVEN', NULL, 1),
  ('ZOFF', 'main', 'ZVEN', NULL, 1), ('ZCLI', 'main', 'ZADM', 'Ver', 1);
INSERT INTO TXUSUROL (XUSU_Usua, XUSU_Clase, XUSU_Rol, XUSU_Metodo) VALUES (990001, 'ZCLI', 'ZVEN', 'QUITA');
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES
  (990101, 'ZCLI', 'main', 'WIN32', 1), (990102, 'ZPED', 'main', 'WIN32', 1), (990103, 'ZOFF', 'main', 'WIN32', 0),
  (990104, 'ZCLI', 'ALTA', 'WIN32', 1);
INSERT INTO TPROPCLASES (PROP_Clase, PROP_Prop, PROP_Etiq, PROP_Visib, PROP_Estad, PROP_Mone, PROP_Tama, PROP_Mask, PROP_Orden, PROP_PropEtiq)
  VALUES ('ZCLI', 'CLIENTE', 'Cliente', 1, 0, 0, 0, NULL, 1, 'NOMBRE'),
         ('ZCLI', 'NOMBRE', 'Nombre', 1, 0, 0, 30, NULL, 2, NULL),
         ('ZCLI', 'SALDO', 'Saldo', 1, 1, 1, 0, NULL, 3, NULL),
         ('ZCLI', 'ESTADO', 'Estado', 2, 0, 0, 0, NULL, 4, NULL),
         ('ZCLI', 'ALTA', 'Fecha alta', 1, 0, 0, 0, NULL, 5, NULL),
         ('ZPED', 'PEDIDO', 'Pedido', 1, 0, 0, 0, NULL, 1, NULL),
         ('ZPED', 'CLIENTE', 'Cliente', 1, 0, 0, 0, NULL, 2, NULL);
INSERT INTO TRELPROPS (RELP_Clase_P, RELP_Prop_P, RELP_Clase, RELP_Prop) VALUES ('ZCLI', 'CLIENTE', 'ZPED', 'CLIENTE');
INSERT INTO TFILTSELEC (FILT_Filtro, FILT_Clase, FILT_Rol, FILT_Descrip, FILT_Prop, FILT_Defa) VALUES
  (990201, 'ZCLI', 'ZVEN', 'Estado del cliente', NULL, 1), (990202, 'ZCLI', 'ZVEN', NULL, 'CLIENTE', 0);
INSERT INTO TCOLFILTROS (COLF_Filtro, COLF_Orden, COLF_Col, COLF_Expr) VALUES
  (990201, 1, 'Todos', '1=1'), (990201, 2, 'Activos', 'ESTADO = ''A'''),
  (990202, 1, 'ZCLIENTES_T', 'CLIENTE' || CHR(13) || CHR(10) || 'NOMBRE' || CHR(13) || CHR(10) || '10');
INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) VALUES ('zcli.dll', '1.0.0.1', FILE('cero.bin'), '2', 'WIN32');
UPDATE TMENEXCEP SET MENE_Mensaje = 'Activo debe ser 0 o 1' WHERE MENE_Refer = 'CK_CLAROL_ACTIVO';

CREATE TABLE ZCLIENTES_T (CLIENTE VARCHAR2(10), NOMBRE VARCHAR2(60), SALDO NUMBER(12,2), ESTADO VARCHAR2(1), ALTA DATE);
INSERT INTO ZCLIENTES_T (CLIENTE, NOMBRE, SALDO, ESTADO, ALTA) VALUES
  ('10', 'Ana García', 100.5, 'A', TIMESTAMP '2024-03-05 10:30:00'),
  ('20', 'Luis O''Brien', NULL, 'B', TIMESTAMP '2024-03-06 00:00:00'), ('30', 'Marta Díaz', -20, 'A', NULL),
  ('40', 'Pedro_Sanz', 0, NULL, TIMESTAMP '2024-02-29 23:59:59');
CREATE TABLE ZPEDIDOS_T (PEDIDO NUMBER(8), CLIENTE VARCHAR2(10), FECHA DATE, IMPORTE NUMBER(12,2));
INSERT INTO ZPEDIDOS_T (PEDIDO, CLIENTE, FECHA, IMPORTE) VALUES (1, '10', TIMESTAMP '2024-03-01 09:00:00', 50),
  (2, '10', TIMESTAMP '2024-03-02 09:00:00', 70), (3, '20', TIMESTAMP '2024-03-03 09:00:00', 15);
CREATE VIEW pZCLI_main AS SELECT CLIENTE, NOMBRE, SALDO, ESTADO, ALTA FROM ZCLIENTES_T;
CREATE VIEW pZPED_main AS SELECT PEDIDO, CLIENTE, FECHA, IMPORTE FROM ZPEDIDOS_T;
)SQL";
}

// The folder the script's FILE('...') names are read from: one file of a
// single zero byte, for every blob of the fixture.
inline QString fixtureFiles()
{
    static QTemporaryDir dir;
    static const bool written = [] {
        QFile f(dir.filePath(QStringLiteral("cero.bin")));
        return dir.isValid() && f.open(QIODevice::WriteOnly) && f.write(QByteArray(1, '\0')) == 1;
    }();
    if (!written)
        qFatal("cannot write the fixture's files");
    return dir.path();
}

// Opens `path` (":memory:" or a file) and, when `build`, creates everything.
inline sqlite3 *openDatabase(const QString &path, bool build, const QString &user = QStringLiteral("990001"))
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sqlite3_busy_timeout(db, 5000);
    vorel::server::registerOracleFunctions(db);
    if (build) {
        // As the server's connections: a password written is kept hashed.
        vorel::server::passwords::install(db);
        vorel::server::createSchema(db);
        vorel::server::fillDemo(db);
        vorel::server::runOracleScript(db, QString::fromUtf8(fixtureScript()), fixtureFiles());
    }
    vorel::server::createSessionTables(db, user);
    return db;
}

} // namespace dialecttest
