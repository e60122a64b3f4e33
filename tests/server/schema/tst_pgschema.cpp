// The metadata schema, the demo data, the error texts and the dictionary on
// PostgreSQL, each compared with what SQLite answers for the same schema.
// Runs against the cluster named by VOREL_TEST_PG (a postgresql:// URI of a
// superuser) as tst_schema's PostgreSQL twin; each test class gets a
// database of its own.
#include "server/schema/oraclescript.h"
#include "server/core/oraerror.h"
#include "server/core/passwords.h"
#include "server/backend/postgres/pgconnection.h"
#include "server/backend/postgres/pgerrors.h"
#include "server/backend/postgres/pgschema.h"
#include "server/schema/schema.h"
#include "server/backend/sqlite/sqliteschema.h"
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/backend/sqlite/sqliteerrors.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>

#include "sqlitedb.h"
#include "support/testdatabase.h"

#include <sqlite3.h>

#include <cmath>
#include <memory>

using namespace vorel::server;

namespace {

using Db = vorel::test::SqliteDb;
using Rows = QList<QStringList>;

using vorel::test::Engine;
using vorel::test::TestDatabase;

// A connection as the server's sessions have: orafce's functions on its path.
std::unique_ptr<pg::Connection> connectTo(const TestDatabase &db)
{
    auto c = std::make_unique<pg::Connection>(db.location());
    c->exec(QStringLiteral("SET search_path = public, oracle"));
    return c;
}

// Values rendered with their kind, so that an integer on one side and a
// text or a real on the other do not compare equal.
// Numbers as numbers: a whole amount is an integer in a SQLite column of
// NUMBER(12,2) and a double precision in PostgreSQL's.
QString numberText(double v)
{
    if (v == std::floor(v) && std::fabs(v) < 1e15)
        return QStringLiteral("n:") + QString::number(qint64(v));
    return QStringLiteral("n:") + QString::number(v, 'g', 15);
}

QString render(const QString &column, const QString &kind, const QString &text)
{
    if (column.compare(QLatin1String("USUA_PASWD"), Qt::CaseInsensitive) == 0 && passwords::verify("clave", text))
        return QStringLiteral("t:<clave>");
    return kind + text;
}

Rows sqliteRows(sqlite3 *db, const QString &sql)
{
    Rows out;
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK)
        qFatal("%s: %s", qPrintable(sql), sqlite3_errmsg(db));
    while (sqlite3_step(st) == SQLITE_ROW) {
        QStringList r;
        for (int i = 0; i < sqlite3_column_count(st); ++i) {
            const QString name = QString::fromUtf8(sqlite3_column_name(st, i));
            switch (sqlite3_column_type(st, i)) {
            case SQLITE_NULL: r << QStringLiteral("<null>"); break;
            case SQLITE_INTEGER: r << QStringLiteral("n:") + QString::number(sqlite3_column_int64(st, i)); break;
            case SQLITE_FLOAT: r << numberText(sqlite3_column_double(st, i)); break;
            case SQLITE_BLOB: {
                const QByteArray b(static_cast<const char *>(sqlite3_column_blob(st, i)), sqlite3_column_bytes(st, i));
                r << QStringLiteral("b:") + QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Md5).toHex());
                break;
            }
            default:
                r << render(name, QStringLiteral("t:"),
                            QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, i)),
                                              sqlite3_column_bytes(st, i)));
            }
        }
        out << r;
    }
    sqlite3_finalize(st);
    return out;
}

Rows pgRows(pg::Connection &c, const QString &sql)
{
    const pg::Result res = c.exec(sql);
    Rows out;
    for (int row = 0; row < res.rows(); ++row) {
        QStringList r;
        for (int i = 0; i < res.columns(); ++i) {
            if (res.isNull(row, i)) {
                r << QStringLiteral("<null>");
                continue;
            }
            const QString text = res.text(row, i);
            switch (res.type(i)) {
            case 20: case 21: case 23: r << QStringLiteral("n:") + text; break;       // int8, int2, int4
            case 700: case 701: case 1700: r << numberText(text.toDouble()); break; // float4, float8, numeric
            case 17: {                                                                // bytea, \x...
                const QByteArray b = QByteArray::fromHex(text.mid(2).toLatin1());
                r << QStringLiteral("b:") + QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Md5).toHex());
                break;
            }
            default: r << render(res.name(i), QStringLiteral("t:"), text);
            }
        }
        out << r;
    }
    return out;
}

QStringList sortedLines(const Rows &rows)
{
    QStringList lines;
    for (const QStringList &r : rows)
        lines << r.join(QLatin1Char('|'));
    lines.sort();
    return lines;
}

// The first difference of two row sets, for the failure message.
QString firstDifference(const QStringList &a, const QStringList &b)
{
    for (int i = 0; i < qMax(a.size(), b.size()); ++i)
        if (a.value(i) != b.value(i))
            return QStringLiteral("row %1:\n  sqlite:     %2\n  postgresql: %3").arg(i).arg(a.value(i), b.value(i));
    return {};
}

QString sqliteFailure(sqlite3 *db, const QString &sql)
{
    sqlite3_exec(db, "SAVEPOINT t", nullptr, nullptr, nullptr);
    char *err = nullptr;
    QString out;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK)
        out = oracleMessage(db, sqlite3_extended_errcode(db), QString::fromUtf8(err));
    sqlite3_free(err);
    sqlite3_exec(db, "ROLLBACK TO t; RELEASE t", nullptr, nullptr, nullptr);
    return out;
}

QString pgFailure(pg::Connection &c, const QString &sql)
{
    c.exec(QStringLiteral("BEGIN"));
    QString out;
    try {
        c.exec(sql);
    } catch (const pg::Error &e) {
        out = pg::oracleMessage(c, e.failure());
    }
    c.exec(QStringLiteral("ROLLBACK"));
    return out;
}

// The Oracle text without the backend's own words in the last parentheses.
QString withoutDetail(const QString &message, bool detail)
{
    if (!detail || !message.endsWith(QLatin1Char(')')))
        return message;
    const qsizetype open = message.lastIndexOf(QLatin1String(" ("));
    return open < 0 ? message : message.left(open);
}

} // namespace

class TstPgSchema : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Db> m_lite;
    TestDatabase m_db{Engine::Postgres};
    std::unique_ptr<pg::Connection> m_pg;

private slots:
    void initTestCase()
    {
        const QString why = vorel::test::unavailable(Engine::Postgres);
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        m_lite = std::make_unique<Db>();
        registerOracleFunctions(*m_lite); // the class views compute through them
        try {
            createSchema(*m_lite);
            fillDemo(*m_lite);
            createSessionTables(*m_lite, QStringLiteral("1001"));
            const QString failed = m_db.create();
            QVERIFY2(failed.isEmpty(), qPrintable(failed));
            m_pg = connectTo(m_db);
            pg::createSessionTables(*m_pg, QStringLiteral("1001"));
        } catch (const std::exception &e) {
            QFAIL(e.what());
        }
    }

    void cleanupTestCase() { m_pg.reset(); }

    void dictionaryAnswersAsSqliteDoes_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::newRow("ALL_TAB_COMMENTS") << "SELECT OWNER, TABLE_NAME, TABLE_TYPE, COMMENTS FROM ALL_TAB_COMMENTS";
        QTest::newRow("ALL_COL_COMMENTS") << "SELECT OWNER, TABLE_NAME, COLUMN_NAME, COMMENTS FROM ALL_COL_COMMENTS";
        QTest::newRow("ALL_TAB_COLUMNS")
            << "SELECT OWNER, TABLE_NAME, COLUMN_NAME, DATA_TYPE, NULLABLE, COLUMN_ID FROM ALL_TAB_COLUMNS";
        QTest::newRow("ALL_CONSTRAINTS") << "SELECT OWNER, CONSTRAINT_NAME, CONSTRAINT_TYPE, TABLE_NAME, SEARCH_CONDITION, "
                                            "R_OWNER, R_CONSTRAINT_NAME, STATUS FROM ALL_CONSTRAINTS";
        QTest::newRow("ALL_CONS_COLUMNS")
            << "SELECT OWNER, CONSTRAINT_NAME, TABLE_NAME, COLUMN_NAME, POSITION FROM ALL_CONS_COLUMNS";
        QTest::newRow("TDICTABLAS") << "SELECT * FROM TDICTABLAS";
        QTest::newRow("TDICCOLUM") << "SELECT * FROM TDICCOLUM";
        QTest::newRow("TDICRESTR") << "SELECT * FROM TDICRESTR";
        QTest::newRow("TDICRESCOL") << "SELECT * FROM TDICRESCOL";
        // The error translation's own lookup.
        QTest::newRow("constraint of a table")
            << "SELECT c.CONSTRAINT_NAME, cc.COLUMN_NAME, cc.POSITION FROM ALL_CONSTRAINTS c JOIN ALL_CONS_COLUMNS cc "
               "ON cc.CONSTRAINT_NAME = c.CONSTRAINT_NAME WHERE c.TABLE_NAME = 'TMETODS'";
    }

    void dictionaryAnswersAsSqliteDoes()
    {
        QFETCH(QString, sql);
        const QStringList lite = sortedLines(sqliteRows(*m_lite, sql));
        const QStringList pg = sortedLines(pgRows(*m_pg, sql));
        QVERIFY(lite.size() > 3);
        QVERIFY2(lite == pg, qPrintable(QStringLiteral("%1 against %2 rows, %3").arg(lite.size()).arg(pg.size())
                                            .arg(firstDifference(lite, pg))));
    }

    void demoDataIsTheSame_data()
    {
        QTest::addColumn<QString>("table");
        if (!m_lite)
            return;
        for (const QStringList &r : m_lite->rows("SELECT DTAB_Tabla FROM TDICTABLAS WHERE DTAB_Tabla NOT LIKE 'TDIC%' "
                                                 "AND DTAB_Tabla NOT LIKE 'ALL\\_%' ESCAPE '\\' ORDER BY 1"))
            QTest::newRow(qPrintable(r[0])) << r[0];
    }

    void demoDataIsTheSame()
    {
        QFETCH(QString, table);
        const QString sql = QStringLiteral("SELECT * FROM %1").arg(table);
        const QStringList lite = sortedLines(sqliteRows(*m_lite, sql));
        const QStringList pg = sortedLines(pgRows(*m_pg, sql));
        QCOMPARE(pg.size(), lite.size());
        const auto sum = [](const QStringList &l) {
            return QCryptographicHash::hash(l.join(QLatin1Char('\n')).toUtf8(), QCryptographicHash::Sha256).toHex();
        };
        QVERIFY2(sum(lite) == sum(pg), qPrintable(firstDifference(lite, pg)));
    }

    // A database of an earlier server gains the functions it lacks; one
    // whose result type changed stays where a view calls it.
    void functionsRefreshed()
    {
        auto text = [this](const QString &sql) { return m_pg->exec(sql).text(0, 0); };
        const QString typeOf = QStringLiteral("SELECT pg_typeof(public.ora_months_between(now()::timestamp, "
                                              "now()::timestamp))::text");
        m_pg->exec(QStringLiteral(
            "DROP FUNCTION public.ora_power(bigint, bigint); DROP FUNCTION public.ora_months_between(timestamp, "
            "timestamp); CREATE FUNCTION public.ora_months_between(a timestamp, b timestamp) RETURNS double precision "
            "LANGUAGE sql IMMUTABLE AS $$ SELECT 0::double precision $$; CREATE VIEW zcalls AS SELECT "
            "public.ora_months_between(NULL, NULL) d"));
        QCOMPARE(pg::refreshFunctions(*m_pg), QString());
        QCOMPARE(text(QStringLiteral("SELECT to_regprocedure('public.ora_power(bigint,bigint)') IS NOT NULL")),
                 QStringLiteral("t"));
        QCOMPARE(text(typeOf), QStringLiteral("double precision"));
        m_pg->exec(QStringLiteral("DROP VIEW zcalls"));
        QCOMPARE(pg::refreshFunctions(*m_pg), QString());
        QCOMPARE(text(typeOf), QStringLiteral("numeric"));
    }

    void errorsReadAsOnSqlite_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("detail"); // the backend's own text follows in parentheses
        QTest::newRow("primary key")
            << "INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('ADMIN', 'Otra')"
            << "ORA-00001: unique constraint (VOREL.PK_ROLES) violated" << false;
        QTest::newRow("unique key")
            << "INSERT INTO TFAMILIAS (FAMI_Familia, FAMI_Nombre) SELECT 'ZZZ', FAMI_Nombre FROM TFAMILIAS LIMIT 1"
            << "ORA-00001: unique constraint (VOREL.UK_FAMILIAS_NOMBRE) violated" << false;
        QTest::newRow("not null")
            << "INSERT INTO TROLES (ROLE_Rol) VALUES ('NUEVO')"
            << "ORA-01400: cannot insert NULL into (\"VOREL\".\"TROLES\".\"ROLE_ETIQ\")" << false;
        QTest::newRow("check") << "UPDATE TUSUROL SET USUR_Admin = 7"
                               << "ORA-02290: check constraint (VOREL.CK_USUROL_ADMIN) violated" << false;
        QTest::newRow("short password") << "UPDATE TUSUARIOS SET USUA_Paswd = 'ab' WHERE USUA_Usua = 1001"
                                        << "ORA-02290: check constraint (VOREL.CK_USUARIOS_PASWD) violated" << false;
        QTest::newRow("parent missing")
            << "INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (1001, 'NOEXISTE', 0)"
            << "ORA-02291: integrity constraint (VOREL.FK_USUROL_ROLES) violated - parent key not found" << false;
        QTest::newRow("parent missing, session table")
            << "INSERT INTO RSESION (SESI_Usua, SESI_USUADer) VALUES (424242, 1001)"
            << "ORA-02291: integrity constraint (VOREL.FK_SESION_USUARIOS) violated - parent key not found" << false;
        QTest::newRow("child found, delete")
            << "DELETE FROM TPROVINCIAS WHERE PROV_Prov IN (SELECT CLIE_Prov FROM TCLIENTES)"
            << "ORA-02292: integrity constraint (VOREL.FK_CLIENTES_PROVINCIAS) violated - child record found" << false;
        QTest::newRow("child found, key changed")
            << "UPDATE TFAMILIAS SET FAMI_Familia = 'ZZ' WHERE FAMI_Familia = (SELECT min(PROD_Familia) FROM TPRODUCTOS)"
            << "ORA-02292: integrity constraint (VOREL.FK_PRODUCTOS_FAMILIAS) violated - child record found" << false;
        QTest::newRow("no table") << "SELECT * FROM TNOEXISTE" << "ORA-00942: table or view does not exist" << true;
        QTest::newRow("no column") << "SELECT NOEXISTE FROM TROLES" << "ORA-00904: \"NOEXISTE\": invalid identifier"
                                   << true;
        QTest::newRow("statement cut short") << "SELECT * FROM TROLES WHERE"
                                             << "ORA-00921: unexpected end of SQL command" << true;
        QTest::newRow("statement not ended") << "SELECT * FROM TROLES ROLE_Rol ROLE_Etiq"
                                             << "ORA-00933: SQL command not properly ended" << true;
        QTest::newRow("rule: order invoiced")
            << "UPDATE TPEDIDOS SET PEDI_Estado = 'A' WHERE PEDI_Pedido = (SELECT min(FACT_Pedido) FROM TFACTURAS)"
            << "ORA-20001: No se puede anular un pedido facturado\nORA-06512: at \"VOREL.TRG_PEDIDOS_ANULA\", line 5"
            << false;
        QTest::newRow("rule: invoice paid")
            << "DELETE FROM TFACTURAS WHERE FACT_Cobrada = 1"
            << "ORA-20001: No se puede eliminar una factura cobrada\nORA-06512: at \"VOREL.TRG_FACTURAS_BORRA\", line 4"
            << false;
        QTest::newRow("rule: order closed")
            << "INSERT INTO TLINEAS (LINE_Pedido, LINE_Linea, LINE_Producto, LINE_Cantidad, LINE_Precio, LINE_Dto) "
               "SELECT min(PEDI_Pedido), 999, (SELECT min(PROD_Producto) FROM TPRODUCTOS), 1, 1, 0 FROM TPEDIDOS "
               "WHERE PEDI_Estado = 'F'"
            << "ORA-20001: El pedido está cerrado y no admite líneas nuevas\n"
               "ORA-06512: at \"VOREL.TRG_LINEAS_FACTURADO\", line 6"
            << false;
    }

    void errorsReadAsOnSqlite()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QFETCH(bool, detail);
        const QString lite = sqliteFailure(*m_lite, sql);
        const QString pg = pgFailure(*m_pg, sql);
        QCOMPARE(withoutDetail(lite, detail), expected);
        QCOMPARE(withoutDetail(pg, detail), expected);
        if (detail)
            QVERIFY2(pg.size() > expected.size() + 3, qPrintable(pg));
    }

    // Failures SQLite has no counterpart of.
    void postgresOwnErrors_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("detail");
        QTest::newRow("division by zero") << "SELECT 1 / 0" << "ORA-01476: divisor is equal to zero" << false;
        QTest::newRow("not a number") << "SELECT CAST('doce' AS integer)" << "ORA-01722: invalid number" << true;
        QTest::newRow("out of range") << "SELECT CAST(99999999999 AS integer)"
                                      << "ORA-01438: value larger than specified precision allowed for this column" << true;
        QTest::newRow("timeout") << "SET LOCAL statement_timeout = 10; SELECT pg_sleep(2)"
                                 << "ORA-01013: user requested cancel of current operation" << false;
        QTest::newRow("registry written") << "DELETE FROM TDICRESCOL" << "ORA-01031: insufficient privileges" << false;
        QTest::newRow("unknown function") << "SELECT NOFUNCION(1)" << "ORA-00904: \"NOFUNCION\": invalid identifier" << true;
        QTest::newRow("other") << "VACUUM TROLES" << "ORA-00900: invalid SQL statement" << true;
    }

    void postgresOwnErrors()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QFETCH(bool, detail);
        QCOMPARE(withoutDetail(pgFailure(*m_pg, sql), detail), expected);
    }

    void aLockedRowIsBusy()
    {
        auto other = connectTo(m_db);
        m_pg->exec(QStringLiteral("BEGIN; SELECT * FROM TROLES WHERE ROLE_Rol = 'ADMIN' FOR UPDATE"));
        const QString message =
            pgFailure(*other, QStringLiteral("SET LOCAL lock_timeout = 50; UPDATE TROLES SET ROLE_Etiq = 'x' "
                                             "WHERE ROLE_Rol = 'ADMIN'"));
        m_pg->exec(QStringLiteral("ROLLBACK"));
        QVERIFY2(message.startsWith(QStringLiteral("ORA-00054: resource busy and acquire with NOWAIT specified or "
                                                   "timeout expired (")),
                 qPrintable(message));
    }

    void namesKeepTheirSpelling()
    {
        const Rows names = pgRows(*m_pg, "SELECT name FROM vorel_spelling");
        QSet<QString> all, lower;
        for (const QStringList &r : names) {
            all << r[0].mid(2);
            QVERIFY2(!lower.contains(r[0].toLower()), qPrintable(r[0]));
            lower << r[0].toLower();
        }
        for (const char *n : {"ROLE_Rol", "CLAR_Etiq", "USUA_eMail", "SESI_USUADer", "CLIENTE", "NOMPROVINCIA", "VENDIDAS",
                              "TABLE_NAME", "R_CONSTRAINT_NAME", "DTAB_Coment"})
            QVERIFY2(all.contains(QString::fromUtf8(n)), n);
        // Every column of every table and view is there.
        const Rows missing = pgRows(*m_pg, "SELECT c.relname, a.attname FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid "
                                           "WHERE c.relnamespace = 'public'::regnamespace AND c.relkind IN ('r', 'v') "
                                           "AND a.attnum > 0 AND c.relname NOT LIKE 'vorel\\_%' AND NOT EXISTS "
                                           "(SELECT 1 FROM vorel_spelling WHERE lower(name) = a.attname)");
        QVERIFY2(missing.isEmpty(), qPrintable(missing.value(0).join(QLatin1Char('.'))));
    }

    void selectListNames_data()
    {
        QTest::addColumn<QString>("select");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("aliases and columns")
            << "SELECT CLIE_Cliente AS CLIENTE, t.PROV_Nombre, CLIE_NIF, count(*) Pedidos, 1 + 2, CASE WHEN 1 = 1 THEN 'a' END "
               "FROM TCLIENTES t" << QStringList{"CLIENTE", "PROV_Nombre", "CLIE_NIF", "Pedidos"};
        QTest::newRow("distinct, quoted") << "SELECT DISTINCT \"Raro\", (SELECT 1 FROM DUAL) AS Uno FROM X"
                                          << QStringList{"Raro", "Uno"};
        QTest::newRow("star") << "SELECT * FROM TROLES" << QStringList{};
    }

    void selectListNames()
    {
        QFETCH(QString, select);
        QFETCH(QStringList, names);
        QCOMPARE(pg::selectListNames(select), names);
    }

    void typesMapAsDeclared_data()
    {
        QTest::addColumn<QString>("oracle");
        QTest::addColumn<QString>("postgres");
        QTest::newRow("varchar2") << "VARCHAR2(30)" << "varchar(30)";
        QTest::newRow("integer") << "NUMBER(8)" << "bigint";
        QTest::newRow("scale 0") << "NUMBER(8,0)" << "bigint";
        QTest::newRow("decimals") << "NUMBER(12,2)" << "double precision";
        QTest::newRow("number") << "NUMBER" << "numeric";
        QTest::newRow("date") << "DATE" << "timestamp(0)";
        QTest::newRow("blob") << "BLOB" << "bytea";
        QTest::newRow("clob") << "CLOB" << "text";
    }

    void typesMapAsDeclared()
    {
        QFETCH(QString, oracle);
        QFETCH(QString, postgres);
        QCOMPARE(pg::postgresType(oracle), postgres);
    }

    void brokenScriptsFailAlike_data()
    {
        QTest::addColumn<QString>("script");
        const QString ok = QStringLiteral("INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('R1', 'Uno');\n");
        QTest::newRow("unknown type") << ok + "CREATE TABLE TMAL (\n  MAL_A VARCHAR(4));";
        QTest::newRow("foreign key to no key")
            << ok + "CREATE TABLE TMAL (MAL_A VARCHAR2(20), CONSTRAINT FK_MAL_ROLES FOREIGN KEY (MAL_A) "
                    "REFERENCES TROLES (ROLE_Etiq));\nINSERT INTO TROLES VALUES ('R2', 'Dos');";
        QTest::newRow("comment on no column")
            << ok + "CREATE TABLE TMAL (MAL_A NUMBER);\nCOMMENT ON COLUMN TMAL.MAL_B IS 'B';";
        QTest::newRow("comment on no column of an existing table")
            << ok + "CREATE TABLE TMAL (MAL_A NUMBER);\nINSERT INTO TMAL VALUES (1);\nCOMMENT ON COLUMN TMAL.MAL_B IS 'B';";
        QTest::newRow("comment on no table") << ok + "COMMENT ON TABLE TNADA IS 'x';";
        QTest::newRow("missing image")
            << ok + "\n\nINSERT INTO TBOTONES (BOTO_Boton, BOTO_Img) VALUES (0, FILE('botones/no.bmp'));";
        QTest::newRow("unterminated statement") << ok + "INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('R2', 'Dos')\n";
        QTest::newRow("unterminated function body")
            << ok + "--@postgresql\nCREATE FUNCTION f() RETURNS trigger AS $$ BEGIN; END;\n";
        QTest::newRow("failing row")
            << ok + "INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('R3', 'Tres'), ('R1', 'Otra vez');";
        QTest::newRow("failing row of a second batch")
            << ok + "INSERT INTO TPARAMS (PARA_Param) VALUES " + [] {
                   QStringList rows;
                   for (int i = 0; i < 2500; ++i)
                       rows << QStringLiteral("('P%1')").arg(i);
                   rows << QStringLiteral("('P7')");
                   return rows.join(QLatin1String(", "));
               }() + ";";
        QTest::newRow("null in a translated statement") << ok + "UPDATE TROLES SET ROLE_Etiq = NULL;";
        QTest::newRow("check of a new table")
            << ok + "CREATE TABLE TMAL (MAL_A NUMBER(4), CONSTRAINT CK_MAL_A CHECK (MAL_A > 0));\n"
                    "INSERT INTO TMAL (MAL_A) VALUES (1), (0);";
    }

    // The same text on both, and nothing of the script left behind.
    void brokenScriptsFailAlike()
    {
        QFETCH(QString, script);
        Db lite;
        createSchema(lite);
        QString liteError, pgError;
        try {
            runOracleScript(lite, script, QStringLiteral("."));
        } catch (const OraError &e) {
            liteError = e.message();
        }
        try {
            pg::runOracleScript(*m_pg, script, QStringLiteral("."));
        } catch (const OraError &e) {
            pgError = e.message();
        }
        QVERIFY(!liteError.isEmpty());
        QCOMPARE(pgError, liteError);
        QVERIFY(!m_pg->inTransaction());
        QCOMPARE(pgRows(*m_pg, "SELECT count(*) FROM TROLES WHERE ROLE_Rol LIKE 'R_'"), Rows({{"n:0"}}));
        QCOMPARE(pgRows(*m_pg, "SELECT count(*) FROM TPARAMS WHERE PARA_Param LIKE 'P%'"), Rows({{"n:0"}}));
        QCOMPARE(pgRows(*m_pg, "SELECT to_regclass('tmal') IS NULL"), Rows({{"t:t"}}));
    }

    // A script of its own on both backends: the same dictionary rows, the
    // same failure text, and nothing left of a script that failed.
    void scriptsRunAlikeOnBothBackends()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile img(dir.filePath("x.bin"));
        QVERIFY(img.open(QIODevice::WriteOnly));
        img.write(QByteArray("\x00\x01\x02\xff", 4));
        img.close();
        const QString script = QStringLiteral(
            "CREATE TABLE TZONAS (ZONA_Zona NUMBER(4) NOT NULL, ZONA_Nombre VARCHAR2(20), ZONA_Img BLOB,\n"
            "  CONSTRAINT PK_ZONAS PRIMARY KEY (ZONA_Zona), CONSTRAINT CK_ZONAS_ZONA CHECK (ZONA_Zona > 0));\n"
            "CREATE TABLE TZONAROL (ZORO_Zona NUMBER(4) NOT NULL, ZORO_Rol VARCHAR2(20) NOT NULL,\n"
            "  CONSTRAINT FK_ZONAROL_ZONAS FOREIGN KEY (ZORO_Zona) REFERENCES TZONAS (ZONA_Zona),\n"
            "  CONSTRAINT FK_ZONAROL_ROLES FOREIGN KEY (ZORO_Rol) REFERENCES vorel.TROLES (ROLE_Rol));\n"
            "COMMENT ON TABLE TZONAS IS 'Zonas';\n"
            "INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('ADMIN', 'Administración');\n"
            "COMMENT ON COLUMN TZONAS.ZONA_Zona IS 'Zona\nCódigo de la zona';\n"
            "INSERT INTO TZONAS (ZONA_Zona, ZONA_Nombre) VALUES (1, 'Norte'), (2, ''), (3, 'It''s');\n"
            "INSERT INTO TZONAS (ZONA_Zona, ZONA_Nombre, ZONA_Img) VALUES (4, 'Sur', FILE('x.bin'));\n"
            "CREATE VIEW pZONAS_main AS SELECT ZONA_Zona AS ZONA, ZONA_Nombre AS Nombre FROM vorel.TZONAS;\n"
            "UPDATE Vorel.TZONAS SET ZONA_Nombre = upper(ZONA_Nombre) WHERE ZONA_Zona = 1;\n"
            "COMMENT ON TABLE pZONAS_main IS 'Filas de zonas';\n"
            "--@sqlite\nINSERT INTO TZONAROL VALUES (1, 'ADMIN');\n"
            "--@postgresql\nINSERT INTO TZONAROL VALUES (1, 'ADMIN');\n"
            "--@postgresql\nCREATE FUNCTION f_zona() RETURNS trigger LANGUAGE plpgsql AS $$\nBEGIN\n"
            "  RETURN NEW;\nEND $$;\n");
        Db lite;
        TestDatabase db(Engine::Postgres);
        const QString failed = db.create(false);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        auto c = connectTo(db);
        try {
            createSchema(lite);
            runOracleScript(lite, script, dir.path());
            pg::runOracleScript(*c, script, dir.path());
        } catch (const std::exception &e) {
            QFAIL(e.what());
        }
        for (const char *sql : {"SELECT * FROM TDICTABLAS WHERE DTAB_Tabla LIKE '%ZONA%'",
                                "SELECT * FROM ALL_TAB_COLUMNS WHERE TABLE_NAME LIKE '%ZONA%'",
                                "SELECT * FROM ALL_COL_COMMENTS WHERE TABLE_NAME LIKE '%ZONA%'",
                                "SELECT * FROM ALL_CONSTRAINTS WHERE TABLE_NAME LIKE '%ZONA%'",
                                "SELECT * FROM ALL_CONS_COLUMNS WHERE TABLE_NAME LIKE '%ZONA%'",
                                "SELECT * FROM TZONAS", "SELECT * FROM TZONAROL", "SELECT * FROM pZONAS_main"}) {
            const QStringList a = sortedLines(sqliteRows(lite, QString::fromLatin1(sql)));
            const QStringList b = sortedLines(pgRows(*c, QString::fromLatin1(sql)));
            QVERIFY(!a.isEmpty());
            QVERIFY2(a == b, qPrintable(QString::fromLatin1(sql) + "\n" + firstDifference(a, b)));
        }
        QCOMPARE(c->exec("SELECT count(*) FROM pg_proc WHERE proname = 'f_zona'").text(0, 0), QStringLiteral("1"));

        // The failing row is named, the failing statement too, and the
        // script's earlier tables are gone.
        const QString broken = QStringLiteral("CREATE TABLE TOTRA (OTRA_Id NUMBER(4) NOT NULL, "
                                              "CONSTRAINT PK_OTRA PRIMARY KEY (OTRA_Id));\n"
                                              "INSERT INTO TOTRA (OTRA_Id) VALUES (1), (2), (1);\n");
        QString liteError, pgError;
        try {
            runOracleScript(lite, broken, dir.path());
        } catch (const OraError &e) {
            liteError = e.message();
        }
        try {
            pg::runOracleScript(*c, broken, dir.path());
        } catch (const OraError &e) {
            pgError = e.message();
        }
        QVERIFY(liteError.startsWith(QStringLiteral("ORA-00001: unique constraint (VOREL.PK_OTRA) violated\n(fila 3")));
        QCOMPARE(pgError, liteError);
        QCOMPARE(c->exec("SELECT to_regclass('totra') IS NULL").text(0, 0), QStringLiteral("t"));
        QVERIFY(!c->inTransaction());
    }
};

QObject *makePostgresSchemaTest() { return new TstPgSchema; }

#include "tst_pgschema.moc"
