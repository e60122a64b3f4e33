#pragma once
// A fresh demo database with a few rows of its own (ids far from the demo's)
// and the class views the class-rows tests read.
#include "server/dialect.h"
#include "server/schema.h"
#include "sqlrun.h"

namespace dialecttest {

inline const char *fixtureSql()
{
    return R"SQL(
INSERT OR IGNORE INTO TGUIS (GUIS_Gui, GUIS_Etiq, GUIS_Fecha) VALUES ('WIN32', 'Windows', '2024-01-01 00:00:00');
INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_eMail, USUA_Paswd, USUA_Fecha)
  VALUES (990001, 'Ana Prueba', 'ana@prueba.es', 'clave1', '2024-01-02 00:00:00');
INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_eMail, USUA_Paswd) VALUES (990002, 'Luis O''Brien', NULL, 'clave2');
INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('ZVEN', 'Ventas Z'), ('ZADM', 'Administración Z'), ('ZVAC', 'Vacío Z');
INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (990001, 'ZVEN', 0), (990001, 'ZADM', 2);
INSERT INTO TUSUMROL (USUM_Usua) VALUES (990002);
INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq, CLAS_PKey) VALUES ('ZCLI', 'Clientes Z', 'CLIENTE'),
  ('ZPED', 'Pedidos Z', 'PEDIDO'), ('ZOFF', 'Apagada Z', NULL);
INSERT INTO TCLAROL (CLAR_Clase, CLAR_Rol, CLAR_Etiq, CLAR_Activo, CLAR_Menu) VALUES ('ZCLI', 'ZVEN', NULL, 1, 1),
  ('ZPED', 'ZVEN', 'Mis pedidos', 1, 1), ('ZOFF', 'ZVEN', NULL, 1, 1), ('ZCLI', 'ZADM', 'Clientes admin', 1, 1);
INSERT INTO TBOTONES (BOTO_Boton, BOTO_Img, BOTO_HotKey) VALUES (903, X'00', NULL), (907, X'00', 'Ctrl+N');
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
  (990202, 1, 'ZCLIENTES_T', 'CLIENTE' || char(13, 10) || 'NOMBRE' || char(13, 10) || '10');
INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) VALUES ('zcli.dll', '1.0.0.1', X'00', '2', 'WIN32');
INSERT OR REPLACE INTO TMENEXCEP (MENE_Refer, MENE_Mensaje) VALUES ('CK_CLAROL_ACTIVO', 'Activo debe ser 0 o 1');

CREATE TABLE ZCLIENTES_T (CLIENTE VARCHAR2(10), NOMBRE VARCHAR2(60), SALDO NUMBER(12,2), ESTADO VARCHAR2(1), ALTA DATE);
INSERT INTO ZCLIENTES_T VALUES ('10', 'Ana García', 100.5, 'A', '2024-03-05 10:30:00'),
  ('20', 'Luis O''Brien', NULL, 'B', '2024-03-06 00:00:00'), ('30', 'Marta Díaz', -20, 'A', NULL),
  ('40', 'Pedro_Sanz', 0, NULL, '2024-02-29 23:59:59');
CREATE TABLE ZPEDIDOS_T (PEDIDO NUMBER(8), CLIENTE VARCHAR2(10), FECHA DATE, IMPORTE NUMBER(12,2));
INSERT INTO ZPEDIDOS_T VALUES (1, '10', '2024-03-01 09:00:00', 50), (2, '10', '2024-03-02 09:00:00', 70),
  (3, '20', '2024-03-03 09:00:00', 15);
CREATE VIEW pZCLI_main AS SELECT CLIENTE, NOMBRE, SALDO, ESTADO, ALTA FROM ZCLIENTES_T;
CREATE VIEW pZPED_main AS SELECT PEDIDO, CLIENTE, FECHA, IMPORTE FROM ZPEDIDOS_T;
)SQL";
}

// Opens `path` (":memory:" or a file) and, when `build`, creates everything.
inline sqlite3 *openDatabase(const QString &path, bool build, const QString &user = QStringLiteral("990001"))
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sqlite3_busy_timeout(db, 5000);
    vorel::server::registerOracleFunctions(db);
    if (build) {
        vorel::server::createSchema(db);
        vorel::server::fillDemo(db);
        raw(db, QString::fromUtf8(fixtureSql()));
    }
    vorel::server::createSessionTables(db, user);
    return db;
}

} // namespace dialecttest
