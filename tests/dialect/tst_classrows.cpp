// SELECT * FROM TABLE(p<Class>.main('<Role>')) under the session's working
// rows, each kind alone and together, on two connections at once.
#include "fixture.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace dialecttest;
using namespace vorel::server;

class TstClassRows : public QObject
{
    Q_OBJECT
    sqlite3 *db = nullptr;

    void work(const QStringList &statements)
    {
        run(db, QStringLiteral("DELETE FROM vorel.RVFILRAP"));
        run(db, QStringLiteral("DELETE FROM vorel.RQBEX"));
        for (const QString &s : statements) {
            const Result r = run(db, s);
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
        return run(db, QStringLiteral("SELECT * FROM TABLE(p%1.main('ZVEN'))").arg(cls));
    }

private slots:
    void initTestCase() { db = openDatabase(QStringLiteral(":memory:"), true); }
    void cleanupTestCase() { sqlite3_close(db); }

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
    }
    void unreadableValues()
    {
        QFETCH(QString, statement);
        QFETCH(QString, error);
        work({statement});
        QCOMPARE(rows().error, error);
    }

    // Working rows are per connection: two sessions on one database file.
    void twoSessions()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("two.db"));
        sqlite3 *a = openDatabase(path, true);
        sqlite3 *b = openDatabase(path, false, QStringLiteral("990002"));
        run(a, drill(QStringLiteral("CLIENTE= '10'")));
        run(b, example(1, QStringLiteral("ESTADO"), QStringLiteral("B")));
        run(b, QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (-1, 'CLIENTE') "));
        const Result ra = run(a, QStringLiteral("SELECT * FROM TABLE(pZCLI.main('ZVEN'))"));
        const Result rb = run(b, QStringLiteral("SELECT * FROM TABLE(pZCLI.main('ZVEN'))"));
        QCOMPARE(keys(ra), QStringLiteral("10"));
        QCOMPARE(keys(rb), QStringLiteral("20"));
        QCOMPARE(run(b, QStringLiteral("SELECT SESI_Usua FROM RSESION")).rows.value(0).value(0), QStringLiteral("990002"));
        sqlite3_close(b);
        sqlite3_close(a);
    }
};

QTEST_GUILESS_MAIN(TstClassRows)
#include "tst_classrows.moc"
