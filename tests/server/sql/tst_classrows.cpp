// SELECT * FROM TABLE(p<Class>.main('<Role>')) under the session's working
// rows, each kind alone and together, on two sessions at once; the same
// answers on SQLite and on PostgreSQL (the _pg twin).
#include "server/core/oraerror.h"
#include "server/sql/classrows.h"
#include "support/testdatabase.h"

#include <QtTest>

using namespace vorel::server;
using vorel::test::Answer;
using vorel::test::TestDatabase;
using Result = Answer;

namespace {

// A backend's view and working rows as the test gives them, PostgreSQL's
// spellings.
struct FixedSource final : ClassRowsSource {
    std::vector<Column> viewColumns;
    std::vector<Filter> workingFilters;
    std::vector<Example> workingExamples;
    mutable QString asked; // the view whose columns were read last

    Target target() const override { return Target::Postgres; }
    std::vector<Column> columns(const QString &view) const override
    {
        asked = view;
        return viewColumns;
    }
    std::vector<Filter> filters() const override { return workingFilters; }
    std::vector<Example> examples() const override { return workingExamples; }
    ColumnLookup lookup() const override { return {}; }
};

} // namespace

class TstClassRows : public QObject
{
    Q_OBJECT
    TestDatabase db;
    std::unique_ptr<Database> session;

    Result exec(const QString &sql) { return vorel::test::run(*session, sql); }

    void work(const QStringList &statements)
    {
        exec(QStringLiteral("DELETE FROM vorel.RVFILRAP"));
        exec(QStringLiteral("DELETE FROM vorel.RQBEX"));
        for (const QString &s : statements) {
            const Result r = exec(s);
            QVERIFY2(r.error.isEmpty(), qPrintable(s + QLatin1String(": ") + r.error));
        }
    }
    // The CLIENTE column of the rows, in the order they came.
    static QString keys(const Result &r)
    {
        QStringList out;
        for (const QStringList &row : r.rows)
            out << row.value(0);
        return out.join(QLatin1Char(','));
    }
    static QString drill(const QString &cond)
    {
        return QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Valor) VALUES ('%1')")
            .arg(QString(cond).replace(QLatin1Char('\''), QLatin1String("''")));
    }
    static QString filter(int id, const QString &cond)
    {
        return QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (%1, '%2') ")
            .arg(id)
            .arg(QString(cond).replace(QLatin1Char('\''), QLatin1String("''")));
    }
    static QString example(int reg, const QString &col, const QString &value, int date = 0)
    {
        return QStringLiteral("INSERT INTO vorel.RQBEX (QBEX_Reg, QBEX_Campo, QBEX_Valor, QBEX_Fecha) VALUES (%1,'%2', '%3',%4)")
            .arg(reg)
            .arg(col, QString(value).replace(QLatin1Char('\''), QLatin1String("''")))
            .arg(date);
    }
    Result rows(const QString &cls = QStringLiteral("ZCLI"))
    {
        return exec(QStringLiteral("SELECT * FROM TABLE(p%1.main('ZVEN'))").arg(cls));
    }

private slots:
    void initTestCase()
    {
        const QString why = db.create(true, {vorel::test::fixtureRows()});
        if (why.startsWith(QLatin1String("PostgreSQL not available")))
            QSKIP(qPrintable(why));
        QVERIFY2(why.isEmpty(), qPrintable(why));
        session = db.open(QStringLiteral("990001"));
    }
    void cleanupTestCase() { session.reset(); }

    void recognisesTheCall_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("cls");
        QTest::addColumn<QString>("role");
        QTest::newRow("as sent") << "SELECT * FROM TABLE(pZCLI.main('ZVEN'))" << "ZCLI" << "ZVEN";
        QTest::newRow("blanks, case, CR LF, prefix")
            << "select *\r\n from  table ( Vorel.pZCLI . MAIN ( 'ADMIN' ) )\r\n" << "ZCLI" << "ADMIN";
        QTest::newRow("not a call") << "SELECT * FROM TCLASES" << "" << "";
        QTest::newRow("something after") << "SELECT * FROM TABLE(pZCLI.main('ZVEN')) WHERE 1=1" << "" << "";
    }
    void recognisesTheCall()
    {
        QFETCH(QString, sql);
        QFETCH(QString, cls);
        QFETCH(QString, role);
        const auto call = parseClassRowsCall(sql);
        QCOMPARE(call.has_value(), !cls.isEmpty());
        if (call) {
            QCOMPARE(call->classId, cls);
            QCOMPARE(call->role, role);
        }
    }

    void drillDown_data()
    {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text") << "CLIENTE= '30'" << "30";
        QTest::newRow("quote kept single") << "NOMBRE= 'Luis O'Brien'" << "20";
        QTest::newRow("quote cannot break out") << "NOMBRE= 'x' OR '1'='1'" << "";
        QTest::newRow("number column") << "SALDO= '-20'" << "30";
        QTest::newRow("date column, a day") << "ALTA= '05/03/2024'" << "10";
        QTest::newRow("date column, a moment") << "ALTA= '05/03/2024 10:30:00'" << "10";
        QTest::newRow("date column, hour without zero") << "ALTA= '6/3/2024 0:00:00'" << "20";
        QTest::newRow("lower-case column") << "cliente= '10'" << "10";
    }
    void drillDown()
    {
        QFETCH(QString, condition);
        QFETCH(QString, expected);
        work({drill(condition)});
        const Result r = rows();
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
        QCOMPARE(keys(r), expected);
    }

    void quickFilters()
    {
        work({filter(990201, QStringLiteral("ESTADO = 'A'")), filter(990202, QStringLiteral("1=1")),
              QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (-1, 'CLIENTE DESC ') ")});
        QCOMPARE(keys(rows()), QStringLiteral("30,10"));
        // Oracle functions and '' inside an administrator's condition.
        work({filter(1, QStringLiteral("NVL(ESTADO, '') || 'x' = 'x'"))});
        QCOMPARE(keys(rows()), QStringLiteral("40"));
        work({filter(1, QStringLiteral("SALDO > 0 Or ESTADO = 'B'")), filter(2, QStringLiteral("CLIENTE <> '10'"))});
        QCOMPARE(keys(rows()), QStringLiteral("20"));
        work({filter(1, QStringLiteral("1=1) UNION SELECT * FROM pZCLI_main WHERE (1=1"))});
        QVERIFY(!rows().error.isEmpty());
        work({filter(1, QStringLiteral("1=1; DELETE FROM TROLES"))});
        QVERIFY(rows().error.startsWith(QLatin1String("ORA-00911")));
        // A parameter marker would shift the values bound after it.
        work({filter(1, QStringLiteral("CLIENTE = ?")), example(1, QStringLiteral("ESTADO"), QStringLiteral("B"))});
        QVERIFY(rows().error.startsWith(QLatin1String("ORA-01008")));
        work({filter(1, QStringLiteral("CLIENTE = :c"))});
        QVERIFY(rows().error.startsWith(QLatin1String("ORA-01008")));
        // A trailing comment ends before the conditions that follow it.
        work({filter(1, QStringLiteral("1=1 -- todos")), filter(2, QStringLiteral("ESTADO = 'B'"))});
        QCOMPARE(keys(rows()), QStringLiteral("20"));
    }

    // Oracle reads a text compared with a DATE in the session's format; the
    // stored form must not be compared with it as text.
    void dateFilters_data()
    {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text day, >=") << "ALTA >= '05/03/2024'" << "10,20";
        QTest::newRow("text day, <") << "ALTA < '05/03/2024'" << "40";
        QTest::newRow("text on the left") << "'01/03/2024' > ALTA" << "40";
        QTest::newRow("text with time") << "ALTA = '05/03/2024 10:30:00'" << "10";
        QTest::newRow("BETWEEN texts") << "ALTA BETWEEN '1/3/2024' AND '05/03/2024 23:59'" << "10";
        QTest::newRow("TRUNC of the column") << "TRUNC(ALTA) = '05/03/2024'" << "10";
        QTest::newRow("IN texts") << "TRUNC(ALTA) IN ('29/02/2024', '06/03/2024')" << "20,40";
        QTest::newRow("NOT BETWEEN texts") << "ALTA NOT BETWEEN '01/03/2024' AND '31/03/2024'" << "40";
        QTest::newRow("TO_DATE") << "ALTA >= TO_DATE('06/03/2024', 'DD/MM/YYYY')" << "20";
        QTest::newRow("ANSI date literal") << "ALTA < DATE '2024-03-01'" << "40";
        QTest::newRow("ANSI literal, TRUNC") << "TRUNC(ALTA) = DATE '2024-03-06'" << "20";
        QTest::newRow("TO_CHAR") << "TO_CHAR(ALTA, 'MM/YYYY') = '02/2024'" << "40";
        QTest::newRow("TO_CHAR gives a text") << "TO_CHAR(ALTA, 'DD/MM/YYYY') = '05/03/2024'" << "10";
        QTest::newRow("text column untouched") << "NOMBRE <> '05/03/2024' And ALTA IS NULL" << "30";
    }
    void dateFilters()
    {
        QFETCH(QString, condition);
        QFETCH(QString, expected);
        work({filter(990201, condition)});
        const Result r = rows();
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
        QStringList got = keys(r).split(QLatin1Char(','), Qt::SkipEmptyParts);
        got.sort();
        QCOMPARE(got.join(QLatin1Char(',')), expected);
    }

    // The demo's own list filters, as the client would store them.
    void demoQuickFilters()
    {
        const Result entries = exec(QStringLiteral(
            "SELECT FILT_Clase, FILT_Rol, COLF_Col, COLF_Expr FROM vorel.TFILTSELEC, vorel.TCOLFILTROS "
            "WHERE COLF_Filtro= FILT_Filtro And FILT_Prop IS NULL And FILT_Filtro < 900000"));
        QVERIFY(entries.rows.size() >= 10);
        const Result year2025 = exec(QStringLiteral(
            "SELECT COUNT(*) FROM TPEDIDOS WHERE PEDI_Fecha >= '2025-01-01' AND PEDI_Fecha < '2026-01-01'"));
        QVERIFY2(year2025.error.isEmpty(), qPrintable(year2025.error));
        int years = 0;
        for (const QStringList &e : entries.rows) {
            work({filter(2, e.value(3))});
            const Result r = exec(QStringLiteral("SELECT * FROM TABLE(p%1.main('%2'))").arg(e.value(0), e.value(1)));
            QVERIFY2(r.error.isEmpty(), qPrintable(e.value(3) + QLatin1String(": ") + r.error));
            QVERIFY2(!r.rows.isEmpty(), qPrintable(e.value(3)));
            if (e.value(2) == QLatin1String("2025")) {
                QCOMPARE(QString::number(r.rows.size()), year2025.rows.value(0).value(0));
                ++years;
            }
        }
        QVERIFY(years > 0);
    }

    void order()
    {
        work({QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (-1, 'ESTADO DESC ,SALDO') ")});
        QCOMPARE(keys(rows()), QStringLiteral("40,20,30,10"));
        work({QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (-1, 'SALDO') ")});
        QCOMPARE(keys(rows()), QStringLiteral("30,40,10,20")); // NULL last
        work({QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (-1, 'SALDO DESC ') ")});
        QCOMPARE(keys(rows()), QStringLiteral("20,10,40,30")); // NULL first
        work({QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (-1, 'NADA') ")});
        QVERIFY(rows().error.startsWith(QLatin1String("ORA-00904: \"NADA\": invalid identifier")));
        work({QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (-1, 'SALDO; DROP TABLE X') ")});
        QVERIFY(rows().error.startsWith(QLatin1String("ORA-00904")));
    }

    void examples_data()
    {
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<QString>("expected");
        QTest::newRow("equal text") << QStringList{example(1, "ESTADO", "B")} << "20";
        QTest::newRow("pattern %") << QStringList{example(1, "NOMBRE", "%a%")} << "10,30,40";
        QTest::newRow("pattern is case-sensitive") << QStringList{example(1, "NOMBRE", "ana%")} << "";
        QTest::newRow("pattern _") << QStringList{example(1, "CLIENTE", "_0")} << "10,20,30,40";
        QTest::newRow("number >") << QStringList{example(1, "SALDO", ">0")} << "10";
        QTest::newRow("number >= with blank") << QStringList{example(1, "SALDO", ">= 0")} << "10,40";
        QTest::newRow("number <>") << QStringList{example(1, "SALDO", "<>0")} << "10,30";
        QTest::newRow("text <") << QStringList{example(1, "NOMBRE", "<M")} << "10,20";
        QTest::newRow("quote is data") << QStringList{example(1, "NOMBRE", "Luis O'Brien")} << "20";
        QTest::newRow("date: the whole day") << QStringList{example(1, "ALTA", "05/03/2024", 1)} << "10";
        QTest::newRow("date: > a day") << QStringList{example(1, "ALTA", ">05/03/2024", 1)} << "20";
        QTest::newRow("date: <= a day") << QStringList{example(1, "ALTA", "<=29/02/2024", 1)} << "40";
        QTest::newRow("date: <> a day") << QStringList{example(1, "ALTA", "<>05/03/2024", 1)} << "20,40";
        QTest::newRow("one record: all values")
            << QStringList{example(1, "ESTADO", "A"), example(1, "SALDO", "<0")} << "30";
        QTest::newRow("two records: either")
            << QStringList{example(1, "ESTADO", "B"), example(2, "CLIENTE", "40")} << "20,40";
        QTest::newRow("with drill and filter")
            << QStringList{drill("ESTADO= 'A'"), filter(5, "SALDO > 0 Or SALDO < 0"), example(1, "CLIENTE", "10"),
                           example(2, "CLIENTE", "30"), example(2, "SALDO", "-20")}
            << "10,30";
    }
    void examples()
    {
        QFETCH(QStringList, statements);
        QFETCH(QString, expected);
        work(statements);
        const Result r = rows();
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
        QStringList got = keys(r).split(QLatin1Char(','), Qt::SkipEmptyParts);
        got.sort();
        QCOMPARE(got.join(QLatin1Char(',')), expected);
    }

    // Computed columns have no declared type: numbers typed by the user must
    // still compare as numbers with them, and texts as texts.
    void computedColumns()
    {
        vorel::test::exec(db.location(), QStringLiteral("CREATE VIEW pZCOMP_main AS SELECT CLIENTE, SALDO * 2 AS DOBLE, "
                                                        "length(NOMBRE) AS LARGO, substr(CLIENTE, 1, 1) AS INICIAL "
                                                        "FROM ZCLIENTES_T"));
        const auto check = [&](const QStringList &statements, const QString &expected) {
            work(statements);
            const Result r = rows(QStringLiteral("ZCOMP"));
            QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
            QStringList got = keys(r).split(QLatin1Char(','), Qt::SkipEmptyParts);
            got.sort();
            QCOMPARE(got.join(QLatin1Char(',')), expected);
        };
        check({example(1, "LARGO", ">=10")}, "10,20,30,40");
        check({example(1, "LARGO", "10")}, "10,30,40");
        check({example(1, "DOBLE", "<0")}, "30");
        check({example(1, "DOBLE", "20_")}, "10");
        check({example(1, "INICIAL", "2")}, "20");
        check({example(1, "INICIAL", ">2")}, "30,40");
        check({drill("LARGO= '12'")}, "20");
        check({drill("INICIAL= '4'")}, "40");
    }

    void unreadableValues_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("error");
        QTest::newRow("not a number") << example(1, "SALDO", ">diez")
                                      << "ORA-01722: invalid number (SALDO = '>diez')";
        QTest::newRow("not a date") << example(1, "ALTA", "31/02/2024", 1)
                                    << "ORA-01858: a non-numeric character was found where a numeric was expected "
                                       "(ALTA = '31/02/2024')";
        QTest::newRow("unknown example column") << example(1, "NADA", "1")
                                                << "ORA-00904: \"NADA\": invalid identifier";
        QTest::newRow("unknown drill column") << drill("NADA= '1'") << "ORA-00904: \"NADA\": invalid identifier";
        QTest::newRow("drill number column, text value") << drill("SALDO= 'x'")
                                                         << "ORA-01722: invalid number (SALDO = 'x')";
        QTest::newRow("drill date column, not a date") << drill("ALTA= '2024-03-05'")
                                                       << "ORA-01858: a non-numeric character was found where a "
                                                          "numeric was expected (ALTA = '2024-03-05')";
    }
    void unreadableValues()
    {
        QFETCH(QString, statement);
        QFETCH(QString, error);
        work({statement});
        QCOMPARE(rows().error, error);
    }

    // The query from a backend's own columns and working rows: PostgreSQL's
    // folded view name and column names, $n in the order of the binds, a ?
    // inside a condition's literal left alone.
    void fromASource()
    {
        FixedSource source;
        source.viewColumns = {{QStringLiteral("cliente"), QStringLiteral("character varying(10)")},
                              {QStringLiteral("saldo"), QStringLiteral("double precision")},
                              {QStringLiteral("alta"), QStringLiteral("timestamp(0) without time zone"),
                               QStringLiteral("ALTA")}};
        source.workingFilters = {{std::nullopt, QStringLiteral("CLIENTE= '10'")},
                                 {5, QStringLiteral("ALTA >= '05/03/2024' AND CLIENTE <> 'a?b'")},
                                 {-1, QStringLiteral("SALDO DESC")}};
        source.workingExamples = {{1, QStringLiteral("SALDO"), QStringLiteral(">0"), false},
                                  {1, QStringLiteral("ALTA"), QStringLiteral("05/03/2024"), true},
                                  {2, QStringLiteral("CLIENTE"), QStringLiteral("1%"), false},
                                  {2, QStringLiteral("ALTA"), QStringLiteral("0_/%"), true}};
        const BoundQuery q = classRowsQuery(source, ClassRowsCall{QStringLiteral("ZCLI"), QStringLiteral("ZVEN")});
        QCOMPARE(source.asked, QStringLiteral("pzcli_main"));
        QCOMPARE(q.sql, QStringLiteral("SELECT * FROM \"pzcli_main\" WHERE \"cliente\" = $1 AND (ALTA >= '2024-03-05 "
                                       "00:00:00' AND CLIENTE <> 'a?b'\n) AND ((\"saldo\" > $2 AND (\"alta\" >= $3 AND "
                                       "\"alta\" < $4)) OR (\"cliente\" LIKE $5 AND pg_catalog.to_char(\"alta\", "
                                       "'DD/MM/YYYY') LIKE $6)) ORDER BY \"saldo\" DESC NULLS FIRST"));
        QCOMPARE(q.binds, (QVariantList{QStringLiteral("10"), qlonglong(0), QStringLiteral("2024-03-05"),
                                        QStringLiteral("2024-03-06"), QStringLiteral("1%"), QStringLiteral("0_/%")}));
        // No such view: its name as the statement gives it; a column by its label.
        source.viewColumns.clear();
        try {
            classRowsQuery(source, ClassRowsCall{QStringLiteral("ZNADA"), QStringLiteral("ZVEN")});
            QFAIL("no error");
        } catch (const OraError &e) {
            QCOMPARE(e.message(), QStringLiteral("ORA-00942: table or view does not exist (pZNADA_main)"));
        }
    }

    // Working rows and RSESION belong to one session, start afresh at each
    // login and never reach the database itself (on PostgreSQL, the empty
    // tables each session's own hide).
    void workingRowsArePerSession()
    {
        const auto b = db.open(QStringLiteral("990002"));
        const auto on = [](Database &session, const char *sql) { return vorel::test::run(session, QLatin1String(sql)); };
        using Rows = QList<QStringList>;
        work({drill(QStringLiteral("CLIENTE= '10'"))});
        QCOMPARE(vorel::test::run(*b, example(1, QStringLiteral("ESTADO"), QStringLiteral("B"))).error, QString());
        QCOMPARE(on(*b, "INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (-1, 'CLIENTE') ").error, QString());
        QCOMPARE(keys(rows()), QStringLiteral("10"));
        QCOMPARE(keys(on(*b, "SELECT * FROM TABLE(pZCLI.main('ZVEN'))")), QStringLiteral("20"));
        QCOMPARE(on(*b, "SELECT SESI_Usua, SESI_USUADer FROM RSESION").rows, Rows({{"990002", "990002"}}));
        // The user a session acts for is a user.
        QVERIFY(on(*b, "UPDATE RSESION SET SESI_USUADer = 99").error.startsWith(QLatin1String(
            "ORA-02291: integrity constraint (VOREL.FK_SESION_USUADER) violated - parent key not found")));
        QCOMPARE(on(*b, "UPDATE RSESION SET SESI_USUADer = 990001").error, QString());
        QCOMPARE(exec(QStringLiteral("SELECT SESI_Usua, SESI_USUADer FROM RSESION")).rows, Rows({{"990001", "990001"}}));
        // A second login on the same connection.
        b->startSession(QStringLiteral("990001"));
        QCOMPARE(on(*b, "SELECT SESI_Usua, SESI_USUADer FROM RSESION").rows, Rows({{"990001", "990001"}}));
        QCOMPARE(on(*b, "SELECT (SELECT count(*) FROM RVFILRAP) + (SELECT count(*) FROM RQBEX) FROM dual").rows,
                 Rows({{"0"}}));
        // A connection without a login writes no one's rows.
        QVERIFY(on(*db.open(), "INSERT INTO RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (1, 'x')")
                    .error.startsWith(QLatin1String("ORA-00942: table or view does not exist")));
        QCOMPARE(vorel::test::query(db.location(),
                                    vorel::test::onPostgres()
                                        ? QStringLiteral("SELECT (SELECT count(*) FROM RSESION) + (SELECT count(*) "
                                                         "FROM RVFILRAP) + (SELECT count(*) FROM RQBEX)")
                                        : QStringLiteral("SELECT count(*) FROM sqlite_master WHERE upper(name) IN "
                                                         "('RSESION', 'RVFILRAP', 'RQBEX')")),
                 Rows({{"0"}}));
    }
};

QTEST_GUILESS_MAIN(TstClassRows)
#include "tst_classrows.moc"
