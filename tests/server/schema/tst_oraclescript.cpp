// Scripts in Oracle's form: the DDL read into the dictionary, rows as
// literals, FILE('...') binds, and the errors a broken script gives.
#include "server/sql/dialect.h"
#include "server/schema/oraclescript.h"
#include "server/core/oraerror.h"
#include "server/schema/schema.h"
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/backend/sqlite/sqliteschema.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "sqlitedb.h"

#include <sqlite3.h>

using namespace vorel::server;

namespace {

// The schema on a fresh database in memory.
class Db : public vorel::test::SqliteDb
{
public:
    Db()
    {
        registerOracleFunctions(*this);
        createSchema(*this);
    }
};

// The message of a script that must fail; empty when it ran.
QString scriptError(sqlite3 *db, const QString &script, const QString &base = QStringLiteral("."))
{
    try {
        runOracleScript(db, script, base);
    } catch (const OraError &e) {
        return e.message();
    }
    return {};
}

const char kWarehouses[] = R"(-- Two tables that point at each other's keys.
CREATE TABLE TZONAS (
  ZONA_Zona VARCHAR2(4) NOT NULL,
  ZONA_Nombre VARCHAR2(40) NOT NULL,
  CONSTRAINT PK_ZONAS PRIMARY KEY (ZONA_Zona)
);
COMMENT ON TABLE TZONAS IS 'Zonas
Zonas de reparto';
COMMENT ON COLUMN TZONAS.ZONA_Zona IS 'Zona
Código de la zona';

create table vorel.TALMACENES (
  ALMA_Almacen NUMBER(4) NOT NULL,
  ALMA_Nombre VARCHAR2(60) NOT NULL,
  ALMA_Zona VARCHAR2(4),
  ALMA_Superficie number(10, 2),
  ALMA_Alta DATE,
  ALMA_Plano BLOB,
  ALMA_Orden NUMBER,
  CONSTRAINT PK_ALMACENES PRIMARY KEY (ALMA_Almacen),
  CONSTRAINT UK_ALMACENES_NOMBRE UNIQUE (ALMA_Nombre),
  CONSTRAINT FK_ALMACENES_ZONAS FOREIGN KEY (ALMA_Zona) REFERENCES TZONAS (ZONA_Zona),
  CONSTRAINT CK_ALMACENES_NUMERO CHECK (ALMA_Almacen > 0 AND ALMA_Nombre <> 'x;y')
);
COMMENT ON COLUMN TALMACENES.ALMA_Nombre IS 'Nombre del almacén';

CREATE VIEW pALMACENES_main AS
  SELECT ALMA_Almacen AS ALMACEN,
         ALMA_Nombre AS NOMBRE,    -- shown
         NVL(ZONA_Nombre, 'Sin zona') AS ZONA
  FROM TALMACENES LEFT JOIN TZONAS ON ZONA_Zona = ALMA_Zona;
COMMENT ON TABLE pALMACENES_main IS 'Filas de la clase Almacenes';

INSERT INTO TZONAS (ZONA_Zona, ZONA_Nombre) VALUES ('N', 'Norte'), ('S', 'Sur');
INSERT INTO TALMACENES (ALMA_Almacen, ALMA_Nombre, ALMA_Zona, ALMA_Superficie, ALMA_Alta, ALMA_Plano) VALUES
  (1, 'Central', 'N', 1250.5, TIMESTAMP '2024-01-08 09:30:00', FILE('planos/central.bmp'));
)";

} // namespace

class TstOracleScript : public QObject
{
    Q_OBJECT

private slots:
    void tablesViewsAndFilesReachTheDictionary()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("planos"));
        const QByteArray plan("BM\0\x01\x02;'\xff", 8);
        QFile f(dir.filePath("planos/central.bmp"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(plan) == plan.size());
        f.close();

        Db db;
        QCOMPARE(scriptError(db, kWarehouses, dir.path()), QString());

        QCOMPARE(db.rows("SELECT DCOL_Col, DCOL_Pos, DCOL_Tipo, DCOL_Nulo, DCOL_Coment FROM TDICCOLUM "
                         "WHERE DCOL_Tabla = 'TALMACENES' ORDER BY DCOL_Pos"),
                 QList<QStringList>({{"ALMA_ALMACEN", "1", "NUMBER(4)", "N", ""},
                                     {"ALMA_NOMBRE", "2", "VARCHAR2(60)", "N", "Nombre del almacén"},
                                     {"ALMA_ZONA", "3", "VARCHAR2(4)", "Y", ""},
                                     {"ALMA_SUPERFICIE", "4", "NUMBER(10,2)", "Y", ""},
                                     {"ALMA_ALTA", "5", "DATE", "Y", ""},
                                     {"ALMA_PLANO", "6", "BLOB", "Y", ""},
                                     {"ALMA_ORDEN", "7", "NUMBER", "Y", ""}}));
        QCOMPARE(db.value("SELECT COMMENTS FROM ALL_TAB_COMMENTS WHERE TABLE_NAME = 'TZONAS'"),
                 QStringLiteral("Zonas\nZonas de reparto"));
        QCOMPARE(db.value("SELECT COMMENTS FROM ALL_COL_COMMENTS WHERE TABLE_NAME = 'TZONAS' AND COLUMN_NAME = 'ZONA_ZONA'"),
                 QStringLiteral("Zona\nCódigo de la zona"));
        QCOMPARE(db.rows("SELECT CONSTRAINT_NAME, CONSTRAINT_TYPE, R_CONSTRAINT_NAME, SEARCH_CONDITION FROM ALL_CONSTRAINTS "
                         "WHERE TABLE_NAME = 'TALMACENES' ORDER BY CONSTRAINT_NAME"),
                 QList<QStringList>({{"CK_ALMACENES_NUMERO", "C", "<null>", "ALMA_Almacen > 0 AND ALMA_Nombre <> 'x;y'"},
                                     {"FK_ALMACENES_ZONAS", "R", "PK_ZONAS", "<null>"},
                                     {"PK_ALMACENES", "P", "<null>", "<null>"},
                                     {"UK_ALMACENES_NOMBRE", "U", "<null>", "<null>"}}));

        // The constraints act with Oracle's texts.
        QCOMPARE(db.failure("INSERT INTO TALMACENES (ALMA_Almacen, ALMA_Nombre, ALMA_Zona) VALUES (2, 'Este', 'E')"),
                 QStringLiteral("ORA-02291: integrity constraint (VOREL.FK_ALMACENES_ZONAS) violated - parent key not found"));
        QCOMPARE(db.failure("DELETE FROM TZONAS WHERE ZONA_Zona = 'N'"),
                 QStringLiteral("ORA-02292: integrity constraint (VOREL.FK_ALMACENES_ZONAS) violated - child record found"));
        QVERIFY(!db.failure("INSERT INTO TALMACENES (ALMA_Almacen, ALMA_Nombre) VALUES (0, 'Cero')").isEmpty());

        // The view: translated, stored on one line, registered with its comment.
        QCOMPARE(db.rows("SELECT * FROM pALMACENES_main"), QList<QStringList>({{"1", "Central", "Norte"}}));
        QCOMPARE(db.value("SELECT sql FROM sqlite_master WHERE name = 'pALMACENES_main'"),
                 QStringLiteral("CREATE VIEW pALMACENES_main AS SELECT ALMA_Almacen AS ALMACEN, ALMA_Nombre AS NOMBRE, "
                                "NVL(ZONA_Nombre, 'Sin zona') AS ZONA FROM TALMACENES LEFT JOIN TZONAS ON "
                                "ZONA_Zona = ALMA_Zona"));
        QCOMPARE(db.rows("SELECT TABLE_TYPE, COMMENTS FROM ALL_TAB_COMMENTS WHERE TABLE_NAME = 'PALMACENES_MAIN'"),
                 QList<QStringList>({{"VIEW", "Filas de la clase Almacenes"}}));

        // The file's bytes, as a blob.
        QCOMPARE(db.rows("SELECT typeof(ALMA_Plano), hex(ALMA_Plano), ALMA_Alta FROM TALMACENES"),
                 QList<QStringList>({{"blob", QString::fromLatin1(plan.toHex().toUpper()), "2024-01-08 09:30:00"}}));
    }

    // Rows of literals skip the translator; they must come out as the
    // translator has them.
    void literalRowsReadAsTheTranslatorReadsThem()
    {
        const QString values = QStringLiteral(
            "('a', 'it''s', 7, -2.5, 1e3, 5.0, DATE '2026-03-01', TIMESTAMP '2026-03-01 10:11:12', '', NULL, "
            "'x' || CHR(13) || CHR(10) || 'y', '' || 'z', 'dos;puntos', +4, DATE '2026-03-01 08:00:00')");
        const QString table = QStringLiteral(
            "CREATE TABLE TLIT (L_A VARCHAR2(9), L_B VARCHAR2(9), L_C NUMBER, L_D NUMBER(5,2), L_E NUMBER, L_F NUMBER, "
            "L_G DATE, L_H DATE, L_I VARCHAR2(9), L_J VARCHAR2(9), L_K VARCHAR2(9), L_L VARCHAR2(9), L_M VARCHAR2(12), "
            "L_N NUMBER, L_O DATE, L_SRC NUMBER);\n");
        const QString insert = QStringLiteral(
            "INSERT INTO TLIT (L_A, L_B, L_C, L_D, L_E, L_F, L_G, L_H, L_I, L_J, L_K, L_L, L_M, L_N, L_O, L_SRC) VALUES ");
        Db db;
        // The second row holds a function call, so its statement is translated.
        QCOMPARE(scriptError(db, table + insert + values.chopped(1) + ", 1);\n" + insert + values.chopped(1)
                                     + ", NVL(NULL, 2));\n"),
                 QString());
        const QString cols = QStringLiteral("L_A, L_B, L_C, L_D, L_E, L_F, L_G, L_H, L_I, L_J, L_K, L_L, L_M, L_N, L_O");
        QStringList typed;
        for (const QString &c : cols.split(", "))
            typed << QStringLiteral("typeof(%1) || ':' || quote(%1)").arg(c);
        const auto bound = db.rows(QStringLiteral("SELECT %1 FROM TLIT WHERE L_SRC = 1").arg(typed.join(", ")));
        const auto translated = db.rows(QStringLiteral("SELECT %1 FROM TLIT WHERE L_SRC = 2").arg(typed.join(", ")));
        QCOMPARE(bound.size(), 1);
        QCOMPARE(bound, translated);
        QCOMPARE(bound[0].mid(0, 4), QStringList({"text:'a'", "text:'it''s'", "integer:7", "real:-2.5"}));
        QCOMPARE(bound[0][8], QStringLiteral("null:NULL"));
        QCOMPARE(db.value("SELECT L_K FROM TLIT WHERE L_SRC = 1"), QStringLiteral("x\r\ny"));
        QCOMPARE(db.value("SELECT L_L FROM TLIT WHERE L_SRC = 1"), QStringLiteral("z"));
    }

    void backendsAndTriggers()
    {
        Db db;
        const QString script = QStringLiteral(
            "CREATE TABLE TUNO (UNO_N NUMBER(4) NOT NULL, CONSTRAINT PK_UNO PRIMARY KEY (UNO_N));\n"
            "--@sqlite\n"
            "CREATE TRIGGER TRG_UNO BEFORE INSERT ON TUNO WHEN NEW.UNO_N = 13\n"
            "BEGIN SELECT RAISE(ABORT, 'ORA-20001: Trece no; nunca'); SELECT 1; END;\n"
            "--@postgresql\n"
            "CREATE FUNCTION no_en_sqlite() RETURNS trigger AS 'BEGIN RETURN NEW; END' LANGUAGE plpgsql;\n"
            "INSERT INTO TUNO (UNO_N) VALUES (1);\n");
        QCOMPARE(scriptError(db, script), QString());
        QCOMPARE(db.failure("INSERT INTO TUNO VALUES (13)"), QStringLiteral("ORA-20001: Trece no; nunca"));
        QCOMPARE(db.value("SELECT count(*) FROM TUNO"), QStringLiteral("1"));
    }

    void brokenScriptsNameTheStatementAndLeaveNothing_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        const QString ok = QStringLiteral("INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('R1', 'Uno');\n");
        QTest::newRow("unknown type")
            << ok + "CREATE TABLE TMAL (\n  MAL_A VARCHAR(4));"
            << "ORA-00902: invalid datatype: VARCHAR \\(columna MAL_A;.*\nSentencia 2 \\(línea 2\\): CREATE TABLE TMAL";
        QTest::newRow("precision of a date")
            << ok + "CREATE TABLE TMAL (MAL_A DATE(4));" << "Sentencia 2 \\(línea 2\\)";
        QTest::newRow("unnamed key")
            << ok + "CREATE TABLE TMAL (MAL_A NUMBER, PRIMARY KEY (MAL_A));"
            << "restricción sin nombre \\(PRIMARY\\).*\nSentencia 2 \\(línea 2\\)";
        QTest::newRow("inline constraint")
            << ok + "CREATE TABLE TMAL (MAL_A NUMBER UNIQUE);" << "columna MAL_A: tras el tipo sólo cabe NOT NULL";
        QTest::newRow("foreign key to no key")
            << ok + "CREATE TABLE TMAL (MAL_A VARCHAR2(20), CONSTRAINT FK_MAL_ROLES FOREIGN KEY (MAL_A) "
                    "REFERENCES TROLES (ROLE_Etiq));\nINSERT INTO TROLES VALUES ('R2', 'Dos');"
            << "ORA-02270: no matching unique or primary key.*\nSentencia 2 \\(línea 2\\): CREATE TABLE TMAL";
        QTest::newRow("comment on no column")
            << ok + "CREATE TABLE TMAL (MAL_A NUMBER);\nCOMMENT ON COLUMN TMAL.MAL_B IS 'B';"
            << "ORA-00904: \"MAL_B\": invalid identifier\nSentencia 3 \\(línea 3\\)";
        QTest::newRow("missing image")
            << ok + "\n\nINSERT INTO TBOTONES (BOTO_Boton, BOTO_Img) VALUES (0, FILE('botones/no.bmp'));"
            << "FILE\\('botones/no.bmp'\\): no se puede leer el fichero.*\nSentencia 2 \\(línea 4\\)";
        QTest::newRow("image outside the script's folder")
            << ok + "INSERT INTO TBOTONES (BOTO_Boton, BOTO_Img) VALUES (0, FILE('../secreto'));"
            << "relativo al guion, sin '..'";
        QTest::newRow("absolute image path")
            << ok + "INSERT INTO TBOTONES (BOTO_Boton, BOTO_Img) VALUES (0, FILE('/etc/passwd'));"
            << "relativo al guion";
        QTest::newRow("file without a name")
            << ok + "INSERT INTO TBOTONES (BOTO_Boton, BOTO_Img) VALUES (0, FILE(ROLE_Rol));"
            << "FILE lleva el nombre de un fichero entre comillas";
        QTest::newRow("unterminated statement")
            << ok + "INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('R2', 'Dos')\n"
            << "la sentencia no termina en ';'\nLínea 2: INSERT INTO TROLES";
        QTest::newRow("unterminated literal")
            << ok + "-- dos\nINSERT INTO TROLES VALUES ('R2', 'Dos);\n"
            << "un literal no se cierra\nLínea 3: INSERT INTO TROLES";
        QTest::newRow("unterminated comment") << ok + "/* sin fin\n" << "un comentario /\\* no se cierra";
        QTest::newRow("failing row")
            << ok + "INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('R3', 'Tres'), ('R1', 'Otra vez');"
            << "ORA-00001: unique constraint[\\s\\S]*\\(fila 2 de la sentencia\\)\nSentencia 2 \\(línea 2\\)";
        QTest::newRow("translated statement")
            << ok + "UPDATE TROLES SET ROLE_Etiq = NULL;" << "ORA-01400.*\nSentencia 2 \\(línea 2\\): UPDATE TROLES";
    }
    void brokenScriptsNameTheStatementAndLeaveNothing()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        Db db;
        const QString message = scriptError(db, script);
        QVERIFY2(QRegularExpression(expected).match(message).hasMatch(), qPrintable(message));
        QCOMPARE(db.value("SELECT count(*) FROM TROLES"), QStringLiteral("0"));
        QCOMPARE(db.value("SELECT count(*) FROM TDICTABLAS WHERE DTAB_Tabla = 'TMAL'"), QStringLiteral("0"));
        QCOMPARE(db.value("SELECT count(*) FROM sqlite_master WHERE name LIKE '%MAL%'"), QStringLiteral("0"));
        // The connection goes on: a later script runs.
        QCOMPARE(scriptError(db, "INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('R9', 'Nueve');"), QString());
    }

    // The administrator's guide shows a class in the demo's form; it runs on
    // the demo as written.
    void guideExampleRunsOnTheDemo()
    {
        QFile guide(QStringLiteral(VOREL_SOURCE_DIR "/docs/ADMIN.md"));
        QVERIFY(guide.open(QIODevice::ReadOnly));
        static const QRegularExpression block(QStringLiteral("```oracle\n(.*?)```"),
                                              QRegularExpression::DotMatchesEverythingOption);
        const auto m = block.match(QString::fromUtf8(guide.readAll()));
        QVERIFY(m.hasMatch());
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("botones"));
        QVERIFY(QFile::copy(QStringLiteral(VOREL_SOURCE_DIR "/demo/botones/36-inicio.bmp"),
                            dir.filePath("botones/43-almacen.bmp")));
        Db db;
        fillDemo(db);
        QCOMPARE(scriptError(db, m.captured(1), dir.path()), QString());
        QCOMPARE(db.value("SELECT count(*) FROM pALMACENES_main"), QStringLiteral("2"));
        QCOMPARE(db.value("SELECT count(*) FROM TBOTONES"), QStringLiteral("44"));
        QCOMPARE(db.value("SELECT COMMENTS FROM ALL_COL_COMMENTS WHERE TABLE_NAME = 'TALMACENES' AND COLUMN_NAME = 'ALMA_PROV'"),
                 QStringLiteral("Provincia\nProvincia del almacén"));
    }
};

QTEST_GUILESS_MAIN(TstOracleScript)
#include "tst_oraclescript.moc"
