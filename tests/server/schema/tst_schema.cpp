// The metadata schema, its dictionary, the demo database and the session
// tables, checked on SQLite directly.
#include "server/core/oraerror.h"
#include "server/schema/schema.h"
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/backend/sqlite/sqliteschema.h"

#include <QSet>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "sqlitedb.h"

#include <sqlite3.h>

using namespace vorel::server;

namespace {

using Db = vorel::test::SqliteDb;

const QStringList kMetadataTables = {
    "TUSUARIOS", "TROLES", "TUSUROL", "TUSUMROL", "TCLASES", "TCLAROL", "TCUSOS", "TMETODS", "TMETROL",
    "TXUSUROL", "TBOTONES", "TPROPCLASES", "TFILTSELEC", "TCOLFILTROS", "TRELPROPS", "TBINS", "TGUIS",
    "TPARAMS", "TLOGACCESOS", "TEXCEPCION", "TMENEXCEP"};

const QMap<QString, QStringList> kColumns = {
    {"TUSUARIOS", {"USUA_USUA", "USUA_NOMBRE", "USUA_EMAIL", "USUA_PASWD"}},
    {"TROLES", {"ROLE_ROL", "ROLE_ETIQ"}},
    {"TUSUROL", {"USUR_USUA", "USUR_ROL", "USUR_ADMIN"}},
    {"TUSUMROL", {"USUM_USUA"}},
    {"RSESION", {"SESI_USUA", "SESI_USUADER"}},
    {"TCLASES", {"CLAS_CLASE", "CLAS_ETIQ", "CLAS_PKEY"}},
    {"TCLAROL", {"CLAR_CLASE", "CLAR_ROL", "CLAR_ETIQ", "CLAR_ACTIVO", "CLAR_MENU"}},
    {"TCUSOS", {"CUSO_CUSO", "CUSO_CLASE", "CUSO_METODO", "CUSO_GUI", "CUSO_ACTIVO"}},
    {"TMETODS", {"METO_CLASE", "METO_METODO", "METO_ETIQ", "METO_EJEC", "METO_BOTON", "METO_EXTERNO",
                 "METO_ACTIVO", "METO_PADRE", "METO_VISIB"}},
    {"TMETROL", {"METR_CLASE", "METR_METODO", "METR_ROL", "METR_ETIQ", "METR_ACTIVO"}},
    {"TXUSUROL", {"XUSU_USUA", "XUSU_CLASE", "XUSU_ROL", "XUSU_METODO"}},
    {"TBOTONES", {"BOTO_BOTON", "BOTO_IMG", "BOTO_HOTKEY"}},
    {"TPROPCLASES", {"PROP_CLASE", "PROP_PROP", "PROP_ETIQ", "PROP_VISIB", "PROP_ESTAD", "PROP_MONE", "PROP_TAMA",
                     "PROP_MASK", "PROP_ORDEN", "PROP_PROPETIQ"}},
    {"TFILTSELEC", {"FILT_FILTRO", "FILT_CLASE", "FILT_ROL", "FILT_DESCRIP", "FILT_PROP", "FILT_DEFA"}},
    {"TCOLFILTROS", {"COLF_FILTRO", "COLF_COL", "COLF_EXPR", "COLF_ORDEN"}},
    {"TRELPROPS", {"RELP_CLASE_P", "RELP_PROP_P", "RELP_CLASE", "RELP_PROP"}},
    {"RVFILRAP", {"VFIL_FILTRO", "VFIL_VALOR"}},
    {"RQBEX", {"QBEX_REG", "QBEX_CAMPO", "QBEX_VALOR", "QBEX_FECHA"}},
    {"TBINS", {"BINS_ARCH", "BINS_VERS", "BINS_BIN", "BINS_RAIZ", "BINS_GUI"}},
    {"TGUIS", {"GUIS_GUI", "GUIS_FECHA"}},
    {"TPARAMS", {"PARA_PARAM", "PARA_VALOR"}},
    {"TLOGACCESOS", {"LOGA_CUSO", "LOGA_USUA", "LOGA_FECHA"}},
    {"TEXCEPCION", {"EXCE_MENSAJE", "EXCE_USUA", "EXCE_FECHA", "EXCE_CUSO"}},
    {"TMENEXCEP", {"MENE_REFER", "MENE_MENSAJE"}},
};

QString sqlText(const QString &s) { return QLatin1Char('\'') + QString(s).replace("'", "''") + QLatin1Char('\''); }

} // namespace

class TstSchema : public QObject
{
    Q_OBJECT

private:
    Db *m_demo = nullptr;

private slots:
    void initTestCase()
    {
        m_demo = new Db;
        registerOracleFunctions(*m_demo); // the class views compute through them
        QElapsedTimer t;
        t.start();
        try {
            createSchema(*m_demo);
            fillDemo(*m_demo);
            createSessionTables(*m_demo, QStringLiteral("1001"));
        } catch (const OraError &e) {
            QFAIL(e.what());
        }
        qInfo("schema and demo built in %lld ms", t.elapsed());
    }
    void cleanupTestCase() { delete m_demo; }

    void everyTableHasItsColumnsAndComments()
    {
        Db &db = *m_demo;
        for (auto it = kColumns.begin(); it != kColumns.end(); ++it) {
            QStringList actual;
            for (const QStringList &r : db.rows(QStringLiteral("PRAGMA table_info(%1)").arg(it.key())))
                actual << r[1].toUpper();
            for (const QString &c : it.value())
                QVERIFY2(actual.contains(c), qPrintable(it.key() + "." + c));
        }
        for (const QString &t : kMetadataTables)
            QCOMPARE(db.value(QStringLiteral("SELECT type FROM sqlite_master WHERE name = '%1'").arg(t)), QStringLiteral("table"));
        QCOMPARE(db.value("SELECT type FROM sqlite_temp_master WHERE name = 'RSESION'"), QStringLiteral("table"));

        // Every table and every column of the database is described, upper case.
        const auto tables = db.rows("SELECT name FROM sqlite_master WHERE type = 'table' "
                                    "UNION SELECT name FROM sqlite_temp_master WHERE type = 'table'");
        QVERIFY(tables.size() > 25);
        for (const QStringList &t : tables) {
            const QString table = t[0];
            QVERIFY2(!db.value(QStringLiteral("SELECT COMMENTS FROM ALL_TAB_COMMENTS WHERE TABLE_NAME = '%1'")
                                   .arg(table.toUpper())).isEmpty(), qPrintable(table));
            for (const QStringList &c : db.rows(QStringLiteral("PRAGMA table_info(%1)").arg(table))) {
                const QString comment = db.value(QStringLiteral("SELECT COMMENTS FROM ALL_COL_COMMENTS WHERE "
                                                                "TABLE_NAME = '%1' And COLUMN_NAME = '%2'")
                                                     .arg(table.toUpper(), c[1].toUpper()));
                QVERIFY2(!comment.isEmpty() && comment != "<null>", qPrintable(table + "." + c[1]));
            }
        }
        // The query the client sends, with a two-line comment whose second line users read.
        QCOMPARE(db.value("SELECT COMMENTS FROM ALL_COL_COMMENTS WHERE TABLE_Name= 'TUSUARIOS' And COLUMN_Name= 'USUA_USUA'"),
                 QStringLiteral("Usuario\nCódigo del usuario"));
        QCOMPARE(db.value("SELECT COMMENTS FROM ALL_COL_COMMENTS WHERE TABLE_Name= 'TUSUARIOS' And COLUMN_Name= 'USUA_EMAIL'"),
                 QStringLiteral("Correo electrónico del usuario"));
        QCOMPARE(db.value("SELECT TABLE_TYPE FROM ALL_TAB_COMMENTS WHERE TABLE_NAME = 'PCLIENTES_MAIN'"), QStringLiteral("VIEW"));
    }

    void constraintsAreNamedAndMatchWhatSqliteReports()
    {
        Db &db = *m_demo;
        const auto cons = db.rows("SELECT CONSTRAINT_NAME, CONSTRAINT_TYPE, TABLE_NAME, R_CONSTRAINT_NAME, OWNER "
                                  "FROM ALL_CONSTRAINTS");
        QSet<QString> types;
        for (const QStringList &c : cons) {
            types << c[1];
            QCOMPARE(c[4], QStringLiteral("VOREL"));
            QCOMPARE(c[0], c[0].toUpper());
            QVERIFY2(c[0].startsWith(QStringLiteral("PK_")) || c[0].startsWith(QStringLiteral("UK_"))
                         || c[0].startsWith(QStringLiteral("FK_")) || c[0].startsWith(QStringLiteral("CK_")),
                     qPrintable(c[0]));
            QVERIFY2(db.count(QStringLiteral("SELECT count(*) FROM ALL_CONS_COLUMNS WHERE CONSTRAINT_NAME = '%1'").arg(c[0])) > 0,
                     qPrintable(c[0]));
            if (c[1] == "R")
                QVERIFY2(db.count(QStringLiteral("SELECT count(*) FROM ALL_CONSTRAINTS WHERE CONSTRAINT_NAME = '%1' "
                                                 "AND CONSTRAINT_TYPE IN ('P', 'U')").arg(c[3])) == 1, qPrintable(c[0]));
        }
        QCOMPARE(types, QSet<QString>({"P", "U", "R", "C"}));

        // A duplicate of an existing row names the key's columns as the dictionary lists them.
        int exact = 0;
        for (const QStringList &k : db.rows("SELECT CONSTRAINT_NAME, TABLE_NAME FROM ALL_CONSTRAINTS "
                                            "WHERE CONSTRAINT_TYPE IN ('P', 'U')")) {
            if (k[1].startsWith(QLatin1String("TDIC")) || db.count("SELECT count(*) FROM " + k[1]) == 0)
                continue;
            QStringList expected;
            for (const QStringList &c : db.rows(QStringLiteral("SELECT COLUMN_NAME FROM ALL_CONS_COLUMNS WHERE "
                                                               "CONSTRAINT_NAME = '%1' ORDER BY POSITION").arg(k[0])))
                expected << k[1] + "." + c[0];
            db.failure("DROP TABLE IF EXISTS temp.copia");
            QVERIFY(db.failure("CREATE TEMP TABLE copia AS SELECT * FROM " + k[1]
                               + (k[1] == "TLINEAS" ? " WHERE LINE_Pedido IN (SELECT PEDI_Pedido FROM TPEDIDOS "
                                                      "WHERE PEDI_Estado = 'P')" : "") + " LIMIT 1").isEmpty());
            // A unique key is reached only when the copy's primary key is a new one.
            if (k[0].startsWith(QLatin1String("UK_")))
                for (const QStringList &pk : db.rows("SELECT COLUMN_NAME FROM ALL_CONS_COLUMNS JOIN ALL_CONSTRAINTS "
                                                     "USING (CONSTRAINT_NAME) WHERE CONSTRAINT_TYPE = 'P' AND "
                                                     "ALL_CONSTRAINTS.TABLE_NAME = '" + k[1] + "'"))
                    QVERIFY(db.failure(QStringLiteral("UPDATE temp.copia SET %1 = CASE typeof(%1) WHEN 'text' THEN "
                                                      "%1 || 'X' ELSE -1 - %1 END").arg(pk[0])).isEmpty());
            const QString err = db.failure("INSERT INTO " + k[1] + " SELECT * FROM temp.copia");
            QVERIFY2(err.startsWith(QLatin1String("UNIQUE constraint failed: ")), qPrintable(k[0] + ": " + err));
            // SQLite may stop at another key of the same row; whichever it names, the dictionary knows it.
            const QString reported = err.mid(26).toUpper();
            if (reported.split(", ") == expected) {
                ++exact;
            } else {
                QStringList keys;
                for (const QStringList &o : db.rows("SELECT CONSTRAINT_NAME FROM ALL_CONSTRAINTS WHERE CONSTRAINT_TYPE IN "
                                                    "('P', 'U') AND TABLE_NAME = '" + k[1] + "'"))
                    keys << db.value("SELECT group_concat(TABLE_NAME || '.' || COLUMN_NAME, ', ') FROM (SELECT * FROM "
                                     "ALL_CONS_COLUMNS WHERE CONSTRAINT_NAME = '" + o[0] + "' ORDER BY POSITION)");
                QVERIFY2(keys.contains(reported), qPrintable(k[0] + ": " + err));
            }
        }
        db.failure("DROP TABLE IF EXISTS temp.copia");
        QVERIFY(exact > 20);

        QCOMPARE(db.failure("UPDATE TLINEAS SET LINE_Cantidad = 0 WHERE rowid = 1"),
                 QStringLiteral("CHECK constraint failed: CK_LINEAS_CANTIDAD"));
        QCOMPARE(db.failure("UPDATE TUSUROL SET USUR_Admin = 3"), QStringLiteral("CHECK constraint failed: CK_USUROL_ADMIN"));
        QCOMPARE(db.value("SELECT group_concat(COLUMN_NAME) FROM ALL_CONS_COLUMNS WHERE CONSTRAINT_NAME = 'CK_FACTURAS_TOTAL'"),
                 QStringLiteral("FACT_BASE,FACT_IVA,FACT_TOTAL"));
        QCOMPARE(db.failure("INSERT INTO TROLES (ROLE_Rol) VALUES ('X')"),
                 QStringLiteral("NOT NULL constraint failed: TROLES.ROLE_Etiq"));
        // Every check constraint has a message for users.
        QCOMPARE(db.count("SELECT count(*) FROM ALL_CONSTRAINTS WHERE CONSTRAINT_TYPE = 'C' "
                          "AND CONSTRAINT_NAME NOT IN (SELECT MENE_Refer FROM TMENEXCEP)"), 0);
    }

    void foreignKeyTriggersFireWithOraclesText()
    {
        Db &db = *m_demo;
        const auto fks = db.rows("SELECT c.CONSTRAINT_NAME, c.TABLE_NAME, p.TABLE_NAME, c.R_CONSTRAINT_NAME "
                                 "FROM ALL_CONSTRAINTS c JOIN ALL_CONSTRAINTS p ON p.CONSTRAINT_NAME = c.R_CONSTRAINT_NAME "
                                 "WHERE c.CONSTRAINT_TYPE = 'R'");
        QVERIFY(fks.size() > 25);
        QCOMPARE(db.failure("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) "
                            "VALUES ('leeme.txt', NULL, x'41', '0', 'WIN32')"), QString());
        int checked = 0;
        for (const QStringList &fk : fks) {
            const QString name = fk[0], child = fk[1], parent = fk[2];
            if (child == "RSESION")
                continue;
            QStringList cols, pcols;
            for (const QStringList &r : db.rows(QStringLiteral("SELECT COLUMN_NAME FROM ALL_CONS_COLUMNS WHERE "
                                                               "CONSTRAINT_NAME = '%1' ORDER BY POSITION").arg(name)))
                cols << r[0];
            for (const QStringList &r : db.rows(QStringLiteral("SELECT COLUMN_NAME FROM ALL_CONS_COLUMNS WHERE "
                                                               "CONSTRAINT_NAME = '%1' ORDER BY POSITION").arg(fk[3])))
                pcols << r[0];
            QStringList notNull;
            for (const QString &c : cols)
                notNull << c + " IS NOT NULL";
            // Lines of closed orders are refused by a business rule before any key is looked at.
            if (child == "TLINEAS")
                notNull << "LINE_Pedido IN (SELECT PEDI_Pedido FROM TPEDIDOS WHERE PEDI_Estado = 'P')";
            // A row no other foreign key of the child holds on to through the same column.
            const auto rows = db.rows(QStringLiteral("SELECT rowid, %1 FROM %2 WHERE %3 ORDER BY %4 LIMIT 1")
                                          .arg(cols.join(", "), child, notNull.join(" AND "),
                                               child == "TMETODS" ? "METO_Padre IS NOT NULL" : "rowid"));
            QVERIFY2(!rows.isEmpty(), qPrintable("the demo leaves " + name + " without rows"));
            const QStringList row = rows.first();

            // The child may not point at a missing parent...
            const QString last = cols.last();
            const QString type = db.value(QStringLiteral("SELECT DATA_TYPE FROM ALL_TAB_COLUMNS WHERE TABLE_NAME = '%1' "
                                                         "AND COLUMN_NAME = '%2'").arg(child, last));
            const QString bogus = type.startsWith("NUMBER") ? "-987" : "'ZZ'";
            db.failure("DROP TABLE IF EXISTS temp.copia");
            QVERIFY(db.failure(QStringLiteral("CREATE TEMP TABLE copia AS SELECT * FROM %1 WHERE rowid = %2").arg(child, row[0])).isEmpty());
            QVERIFY(db.failure(QStringLiteral("UPDATE temp.copia SET %1 = %2").arg(last, bogus)).isEmpty());
            QCOMPARE(db.failure(QStringLiteral("INSERT INTO %1 SELECT * FROM temp.copia").arg(child)),
                     QStringLiteral("ORA-02291: integrity constraint (VOREL.%1) violated - parent key not found").arg(name));
            db.failure("DROP TABLE temp.copia");
            // ...and the parent may not go while children remain.
            QStringList match;
            for (int i = 0; i < pcols.size(); ++i)
                match << pcols[i] + " = " + sqlText(row[i + 1]);
            const QString err = db.failure(QStringLiteral("DELETE FROM %1 WHERE %2").arg(parent, match.join(" AND ")));
            QVERIFY2(err.startsWith("ORA-02292: integrity constraint (VOREL.") && err.endsWith(") violated - child record found"),
                     qPrintable(name + ": " + err));
            if (parent != child)
                QVERIFY2(err.contains(name) || db.count(QStringLiteral("SELECT count(*) FROM ALL_CONSTRAINTS WHERE "
                                                                       "CONSTRAINT_TYPE = 'R' AND R_CONSTRAINT_NAME = '%1'")
                                                            .arg(fk[3])) > 1,
                         qPrintable(name + ": " + err));
            ++checked;
        }
        QVERIFY(checked > 25);

        // Changing a child's key to a missing parent, inserting a child without parent, and a NULL
        // foreign key that Oracle does not check.
        QCOMPARE(db.failure("UPDATE TUSUROL SET USUR_Rol = 'NINGUNO' WHERE USUR_Usua = 1001"),
                 QStringLiteral("ORA-02291: integrity constraint (VOREL.FK_USUROL_ROLES) violated - parent key not found"));
        QCOMPARE(db.failure("UPDATE TROLES SET ROLE_Rol = 'VENTA' WHERE ROLE_Rol = 'VENTAS'").left(39),
                 QStringLiteral("ORA-02292: integrity constraint (VOREL."));
        QCOMPARE(db.failure("INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (4242, 'VENTAS', 0)"),
                 QStringLiteral("ORA-02291: integrity constraint (VOREL.FK_USUROL_USUARIOS) violated - parent key not found"));
        QCOMPARE(db.failure("INSERT INTO TPEDIDOS (PEDI_Pedido, PEDI_Cliente, PEDI_Fecha, PEDI_Estado) "
                            "VALUES (1, 1, '2026-01-02 10:00:00', 'P')"), QString());
        QCOMPARE(db.failure("DELETE FROM TPEDIDOS WHERE PEDI_Pedido = 1"), QString());
        QCOMPARE(db.failure("DELETE FROM TCLIENTES WHERE CLIE_Cliente = 1"),
                 QStringLiteral("ORA-02292: integrity constraint (VOREL.FK_PEDIDOS_CLIENTES) violated - child record found"));
        // A key change that keeps the value is no change.
        QCOMPARE(db.failure("UPDATE TROLES SET ROLE_Rol = ROLE_Rol, ROLE_Etiq = 'Ventas' WHERE ROLE_Rol = 'VENTAS'"), QString());
    }

    void businessRuleRaisesApplicationError()
    {
        Db &db = *m_demo;
        const QString invoiced = db.value("SELECT FACT_Pedido FROM TFACTURAS LIMIT 1");
        QCOMPARE(db.failure("UPDATE TPEDIDOS SET PEDI_Estado = 'A' WHERE PEDI_Pedido = " + invoiced),
                 QStringLiteral("ORA-20001: No se puede anular un pedido facturado\n"
                                "ORA-06512: at \"VOREL.TRG_PEDIDOS_ANULA\", line 5"));
        const QString open = db.value("SELECT PEDI_Pedido FROM TPEDIDOS WHERE PEDI_Estado = 'P' LIMIT 1");
        QCOMPARE(db.failure("UPDATE TPEDIDOS SET PEDI_Estado = 'A' WHERE PEDI_Pedido = " + open), QString());
        QCOMPARE(db.value("SELECT PEDI_Estado FROM TPEDIDOS WHERE PEDI_Pedido = " + open), QStringLiteral("A"));
        QCOMPARE(db.failure("UPDATE TPEDIDOS SET PEDI_Estado = 'P' WHERE PEDI_Pedido = " + open), QString());
    }

    void demoVolumesAndClassViews()
    {
        Db &db = *m_demo;
        QVERIFY(db.count("SELECT count(*) FROM TLINEAS") >= 20000);
        QVERIFY(db.count("SELECT count(*) FROM TCLIENTES") >= 200);
        QVERIFY(db.count("SELECT count(*) FROM TFACTURAS") >= 2000);
        QCOMPARE(db.count("SELECT count(*) FROM TPEDIDOS WHERE PEDI_Fecha < '2024-01-01' OR PEDI_Fecha > '2026-12-31'"), 0);
        QCOMPARE(db.count("SELECT count(*) FROM TFACTURAS f WHERE abs(FACT_Base - (SELECT IMPORTE FROM pPEDIDOS_main "
                          "WHERE PEDIDO = f.FACT_Pedido)) > 0.011"), 0);

        // Every class with properties has its rows view with every property as a column, dates declared DATE.
        const auto classesWithProps = db.rows("SELECT DISTINCT PROP_Clase FROM TPROPCLASES");
        QVERIFY(classesWithProps.size() >= 8);
        for (const QStringList &c : classesWithProps) {
            QSet<QString> cols;
            for (const QStringList &r : db.rows(QStringLiteral("PRAGMA table_info(p%1_main)").arg(c[0]))) {
                QCOMPARE(r[1], r[1].toUpper());
                cols << r[1];
            }
            for (const QStringList &p : db.rows(QStringLiteral("SELECT PROP_Prop, PROP_PropEtiq FROM TPROPCLASES "
                                                               "WHERE PROP_Clase = '%1'").arg(c[0]))) {
                QVERIFY2(cols.contains(p[0]), qPrintable(c[0] + "." + p[0]));
                QVERIFY2(p[1] == "<null>" || cols.contains(p[1]), qPrintable(c[0] + "." + p[1]));
            }
            QVERIFY(db.count(QStringLiteral("SELECT count(*) FROM p%1_main").arg(c[0])) > 0);
        }
        QCOMPARE(db.value("SELECT type FROM pragma_table_info('pPEDIDOS_main') WHERE name = 'FECHA'"), QStringLiteral("DATE"));
        // Relations and lookup filters point at columns and tables that exist.
        for (const QStringList &r : db.rows("SELECT RELP_Clase, RELP_Prop FROM TRELPROPS"))
            QVERIFY(db.count(QStringLiteral("SELECT count(*) FROM pragma_table_info('p%1_main') WHERE name = '%2'")
                                 .arg(r[0], r[1])) == 1);
        for (const QStringList &f : db.rows("SELECT COLF_Col FROM TCOLFILTROS JOIN TFILTSELEC ON FILT_Filtro = COLF_Filtro "
                                            "WHERE FILT_Prop IS NOT NULL"))
            QVERIFY(db.count("SELECT count(*) FROM " + f[0].mid(6)) > 0);
        // The quick-filter conditions are Oracle SQL: tst_classrows runs them as the server does.
    }

    void usersRolesAndMenus()
    {
        Db &db = *m_demo;
        QCOMPARE(db.value("SELECT USUA_Paswd FROM TUSUARIOS WHERE USUA_Usua = 1001"), QStringLiteral("clave"));
        const auto adminCount = [&](int user) {
            return db.count(QStringLiteral("SELECT count(*) FROM TUSUROL WHERE USUR_Usua= %1 And USUR_Admin <> 0").arg(user));
        };
        const auto menuRoles = [&](int user) {
            return db.count(QStringLiteral("SELECT count(DISTINCT USUR_Rol) FROM TUSUROL, TCLAROL, TCUSOS WHERE USUR_Usua = %1 "
                                           "And USUR_Admin <> 2 And CLAR_Rol = USUR_Rol And CLAR_Activo = 1 And CLAR_Menu = 1 "
                                           "And CUSO_Clase = CLAR_Clase And CUSO_GUI = 'WIN32' And CUSO_Activo = 1").arg(user));
        };
        const auto multi = [&](int user) {
            return db.count(QStringLiteral("SELECT count(*) FROM TUSUMROL WHERE USUM_Usua = %1").arg(user));
        };
        QCOMPARE(adminCount(1001), 0); QCOMPARE(menuRoles(1001), 1); QCOMPARE(multi(1001), 0);
        QVERIFY(adminCount(1002) > 0); QCOMPARE(menuRoles(1002), 2);
        QVERIFY(adminCount(1003) > 0); QCOMPARE(menuRoles(1003), 0);
        QCOMPARE(db.count("SELECT count(*) FROM TUSUROL WHERE USUR_Usua = 1003 AND USUR_Admin <> 2"), 0);
        QVERIFY(adminCount(1004) > 0); QCOMPARE(multi(1004), 1);
        QCOMPARE(db.count("SELECT count(*) FROM TUSUROL WHERE USUR_Usua = 1005"), 0);
        QCOMPARE(db.value("SELECT PARA_Valor FROM TPARAMS WHERE PARA_Param = 'MENINI'").isEmpty(), false);
        QCOMPARE(db.value("SELECT PARA_Valor FROM TPARAMS WHERE PARA_Param = 'VERBOTON'").isEmpty(), false);
        QCOMPARE(db.count("SELECT count(*) FROM TGUIS WHERE GUIS_Gui = 'WIN32'"), 1);

        // The role list of a multi-role user leaves out a role without desktop methods.
        QCOMPARE(db.rows("SELECT ROLE_Rol FROM TROLES WHERE EXISTS (SELECT CUSO_Cuso FROM TMETROL, TCUSOS "
                         "WHERE METR_Metodo= CUSO_Metodo And METR_Clase= CUSO_Clase And METR_Rol= ROLE_Rol "
                         "And CUSO_GUI= 'WIN32') ORDER BY ROLE_Rol").size(), 3);
        // A class granted and in the menu but without an active desktop use case, and one kept out of the menu.
        QCOMPARE(db.count("SELECT count(*) FROM TCLAROL WHERE CLAR_Clase = 'TARIFAS' AND CLAR_Activo = 1 AND CLAR_Menu = 1 "
                          "AND NOT EXISTS (SELECT 1 FROM TCUSOS WHERE CUSO_Clase = CLAR_Clase AND CUSO_GUI = 'WIN32' "
                          "AND CUSO_Activo = 1)") > 0, true);
        QVERIFY(db.count("SELECT count(*) FROM TCLAROL WHERE CLAR_Menu = 0 OR CLAR_Activo = 0") > 0);
        // User administration: class USUROL for role ADMIN with its label and main method.
        QCOMPARE(db.value("SELECT coalesce(CLAR_Etiq,CLAS_Etiq) FROM TCLASES, TCLAROL WHERE CLAS_Clase = 'USUROL' "
                          "And CLAR_Clase = 'USUROL' And CLAR_ROL = 'ADMIN'"), QStringLiteral("Usuarios y roles"));
        QVERIFY(db.count("SELECT count(*) FROM TMETROL WHERE METR_Clase = 'USUROL' AND METR_Metodo = 'main' AND METR_Rol = 'ADMIN'") == 1);

        // Methods of the customers' list for user 1001 in VENTAS: one taken away, a hot key, a button -1, a menu entry.
        const auto methods = db.rows(
            "SELECT METO_Metodo, METO_Boton, BOTO_HotKey FROM TMETODS JOIN TMETROL ON METR_Clase = METO_Clase "
            "AND METR_Metodo = METO_Metodo LEFT JOIN TBOTONES ON BOTO_Boton = METO_Boton WHERE METO_Clase = 'CLIENTES' "
            "AND METO_Activo = 1 AND METO_Padre = 'main' AND METO_Visib = 1 AND METR_Rol = 'VENTAS' AND METR_Activo = 1 "
            "AND METO_Metodo NOT IN (SELECT XUSU_Metodo FROM TXUSUROL, RSESION WHERE XUSU_Usua = SESI_Usua "
            "AND XUSU_Clase = 'CLIENTES' AND XUSU_Rol = 'VENTAS') ORDER BY METO_Boton DESC");
        QStringList ids;
        for (const QStringList &m : methods)
            ids << m[0];
        QCOMPARE(ids, QStringList({"CORREO", "NUEVO", "IMPRIMIR", "EDITAR", "ETIQUETAS", "HISTORICO"}));
        QCOMPARE(methods[1][2], QStringLiteral("Ctrl+N"));
        QCOMPARE(methods[4][1], QStringLiteral("-1"));
        QCOMPARE(methods[5][1], QStringLiteral("<null>"));
    }

    void buttonImagesAreBitmaps()
    {
        Db &db = *m_demo;
        // cut here: the Oracle SUBSTR the class views' connection has reads texts
        auto rows = db.rows("SELECT BOTO_Boton, length(BOTO_Img), hex(BOTO_Img) FROM TBOTONES ORDER BY BOTO_Boton");
        for (QStringList &r : rows) {
            r << r[2].mid(108, 6);
            r[2] = r[2].left(4);
        }
        QVERIFY(rows.size() > 40);
        for (int i = 0; i < rows.size(); ++i) {
            QCOMPARE(rows[i][0].toInt(), i);                 // numbered from 0 without gaps
            QCOMPARE(rows[i][1].toInt(), 14 + 40 + 16 * 16 * 3);
            QCOMPARE(rows[i][2], QStringLiteral("424D"));     // "BM"
            QCOMPARE(rows[i][3], QStringLiteral("FF00FF"));   // bottom-left pixel: the transparent magenta
        }
        QCOMPARE(db.count("SELECT count(DISTINCT BOTO_Img) FROM TBOTONES"), rows.size());
        // Image 12 (accept) carries green, image 13 (cancel) red, image 3 (delete) red, image 1 (insert) green.
        QVERIFY(db.count("SELECT instr(hex(BOTO_Img), '00A800') > 0 FROM TBOTONES WHERE BOTO_Boton = 12") == 1);
        QVERIFY(db.count("SELECT instr(hex(BOTO_Img), '2020E0') > 0 FROM TBOTONES WHERE BOTO_Boton = 13") == 1);
    }

    void scriptsRunStatementByStatement()
    {
        Db db;
        createSchema(db);
        runScript(db, "-- roles\nINSERT INTO TROLES VALUES ('A', 'Uno; con punto y coma');\n\n"
                      "INSERT INTO TROLES VALUES ('B', 'Dos');\nSELECT * FROM TROLES;\n/* fin */");
        QCOMPARE(db.count("SELECT count(*) FROM TROLES"), 2);
        QCOMPARE(db.value("SELECT ROLE_Etiq FROM TROLES WHERE ROLE_Rol = 'A'"), QStringLiteral("Uno; con punto y coma"));
        try {
            runScript(db, "INSERT INTO TROLES VALUES ('C', 'Tres');\nINSERT INTO TUSUROL VALUES (77, 'C', 0);");
            QFAIL("the script should fail");
        } catch (const OraError &e) {
            QVERIFY2(e.message().contains("ORA-02291: integrity constraint (VOREL.FK_USUROL_USUARIOS)"), qPrintable(e.message()));
            QVERIFY2(e.message().contains("Sentencia 2: INSERT INTO TUSUROL VALUES (77, 'C', 0);"), qPrintable(e.message()));
        }
        // A failed script leaves nothing behind.
        QCOMPARE(db.count("SELECT count(*) FROM TROLES WHERE ROLE_Rol = 'C'"), 0);
        QVERIFY_THROWS_EXCEPTION(OraError, runScript(db, "SELEC 1"));
        runScript(db, "   \n-- nada\n");
    }

    // The examples of the administrator's guide run as written, in order, on the demo.
    void guideExamplesRun()
    {
        QFile guide(QStringLiteral(VOREL_SOURCE_DIR "/docs/ADMIN.md"));
        QVERIFY(guide.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(guide.readAll());
        static const QRegularExpression block(QStringLiteral("```sql\n(.*?)```"),
                                              QRegularExpression::DotMatchesEverythingOption);
        Db db;
        createSchema(db);
        fillDemo(db);
        int blocks = 0;
        for (auto it = block.globalMatch(text); it.hasNext();) {
            QString sql = it.next().captured(1);
            sql.replace(QRegularExpression(QStringLiteral("^   "), QRegularExpression::MultilineOption), QString());
            if (sql.contains(QLatin1String("...")))
                continue; // shortened on purpose
            try {
                runScript(db, sql);
            } catch (const OraError &e) {
                QFAIL(qPrintable(e.message()));
            }
            ++blocks;
        }
        QVERIFY(blocks >= 6);
        QCOMPARE(db.value("SELECT COMMENTS FROM ALL_COL_COMMENTS WHERE TABLE_NAME = 'TALMACENES' AND COLUMN_NAME = 'ALMA_ALMACEN'"),
                 QStringLiteral("Almacén\nCódigo del almacén"));
        QCOMPARE(db.failure("INSERT INTO TALMACENES VALUES (2, 'Norte', '99')"),
                 QStringLiteral("ORA-02291: integrity constraint (VOREL.FK_ALMACENES_PROVINCIAS) violated - parent key not found"));
        QCOMPARE(db.failure("INSERT INTO TALMACENES VALUES (1, 'Central', '28')"), QString());
        QCOMPARE(db.failure("DELETE FROM TALMACENES").left(10), QStringLiteral("ORA-20001:"));
        QCOMPARE(db.count("SELECT count(*) FROM pALMACENES_main"), 1);
    }
};

// The PostgreSQL twin (tst_pgschema.cpp): the same schema there, read back
// as SQLite reads it.
QObject *makePostgresSchemaTest();

// One program, run twice: on SQLite the schema itself; as tst_schema_pg, the
// schema on PostgreSQL compared with SQLite's.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    std::unique_ptr<QObject> test(qEnvironmentVariable("VOREL_TEST_BACKEND") == QLatin1String("postgresql")
                                      ? makePostgresSchemaTest()
                                      : new TstSchema);
    return QTest::qExec(test.get(), argc, argv);
}
#include "tst_schema.moc"
