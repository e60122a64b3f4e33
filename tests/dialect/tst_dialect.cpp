// The translator against the statements the client sends (corpus.txt, run on
// a fresh demo database) and against the Oracle constructs one by one.
#include "fixture.h"
#include "pgfixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

using namespace dialecttest;
using namespace vorel::server;

namespace {

struct Case {
    QString title;
    QStringList raws, rawsPg, dos; // rawsPg: PostgreSQL's text where RAW's is SQLite's own
    QString sql;
    QString mode; // EXPECT, EXPECT ORDERED, EXPECT CONTAINS, EXPECT LACKS, EXPECT COLUMNS, ERROR
    QString error;
    QStringList header;
    QList<QStringList> rows;
};

QString unescape(QString s)
{
    s.replace(QLatin1String("\\n"), QLatin1String("\n"));
    s.replace(QLatin1String("\\r"), QLatin1String("\r"));
    return s;
}

QStringList cells(const QString &line)
{
    QStringList out;
    for (const QString &c : line.split(QLatin1String(" | ")))
        out << unescape(c.trimmed());
    return out;
}

// == title / RAW: / DO: / TEXT: or SQL: lines / EXPECT...: or ERROR: then rows.
QList<Case> readCorpus(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    QList<Case> out;
    enum { None, Sql, Rows } state = None;
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.startsWith(QLatin1String("== "))) {
            out.append(Case{});
            out.last().title = line.mid(3).trimmed();
            state = None;
            continue;
        }
        if (out.isEmpty())
            continue;
        Case &c = out.last();
        if (line.startsWith(QLatin1String("EXPECT")) || line.startsWith(QLatin1String("ERROR:"))) {
            const qsizetype colon = line.indexOf(QLatin1Char(':'));
            c.mode = line.left(colon);
            c.error = line.mid(colon + 1).trimmed();
            state = Rows;
            continue;
        }
        if (state == Sql) {
            c.sql += line + QLatin1String("\r\n");
        } else if (state == Rows) {
            if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            if (c.header.isEmpty())
                c.header = cells(line);
            else
                c.rows << cells(line);
        } else if (line.startsWith(QLatin1String("RAWPG: "))) {
            c.rawsPg << line.mid(7);
        } else if (line.startsWith(QLatin1String("RAW: "))) {
            c.raws << line.mid(5);
        } else if (line.startsWith(QLatin1String("DO: "))) {
            c.dos << unescape(line.mid(4));
        } else if (line.startsWith(QLatin1String("TEXT: "))) {
            c.sql = line.mid(6);
        } else if (line == QLatin1String("SQL:")) {
            state = Sql;
        }
    }
    return out;
}

QString show(const QList<QStringList> &rows)
{
    QStringList out;
    for (const QStringList &r : rows)
        out << r.join(QLatin1String(" | "));
    return out.join(QLatin1Char('\n'));
}

// Errors that come from the schema's constraints and triggers, whose
// PostgreSQL texts are the schema's and not the translator's.
bool schemaError(const QString &error)
{
    static const char *const codes[] = {"ORA-00001", "ORA-01400", "ORA-02290", "ORA-02291", "ORA-02292", "ORA-20001"};
    for (const char *code : codes)
        if (error.startsWith(QLatin1String(code)))
            return true;
    return false;
}

QList<QStringList> sorted(QList<QStringList> rows)
{
    std::sort(rows.begin(), rows.end());
    return rows;
}

} // namespace

class TstDialect : public QObject
{
    Q_OBJECT
    sqlite3 *db = nullptr;
    PgFixture pg;
    QString pgWhy;
    QString tr(const QString &sql) { return translateOracle(sql, schemaLookup(db)); }
    QString trPg(const QString &sql) { return translateOracle(sql, {}, Target::Postgres); }

    Result runLite(const Case &c)
    {
        raw(db, QStringLiteral("SAVEPOINT corpus"));
        auto undo = qScopeGuard([&] { raw(db, QStringLiteral("ROLLBACK TO corpus; RELEASE corpus")); });
        for (const QString &r : c.raws)
            raw(db, r);
        for (const QString &d : c.dos)
            run(db, d);
        return run(db, c.sql);
    }

private slots:
    void initTestCase()
    {
        db = openDatabase(QStringLiteral(":memory:"), true);
        QVERIFY(db);
        if (pgUri().isEmpty())
            pgWhy = QString::fromLatin1(pgSkipReason());
        else
            QVERIFY2(pg.open(db, &pgWhy), qPrintable(pgWhy));
    }
    void cleanupTestCase()
    {
        pg.close();
        sqlite3_close(db);
    }

    void corpus_data()
    {
        QTest::addColumn<int>("index");
        const QList<Case> cases = readCorpus(QStringLiteral(VOREL_DIALECT_CORPUS));
        QVERIFY(cases.size() > 50);
        for (int i = 0; i < cases.size(); ++i)
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(i + 1).arg(cases[i].title))) << i;
    }
    void corpus()
    {
        QFETCH(int, index);
        static const QList<Case> cases = readCorpus(QStringLiteral(VOREL_DIALECT_CORPUS));
        const Case &c = cases[index];
        raw(db, QStringLiteral("SAVEPOINT corpus"));
        auto undo = qScopeGuard([&] { raw(db, QStringLiteral("ROLLBACK TO corpus; RELEASE corpus")); });
        for (const QString &r : c.raws) {
            try {
                raw(db, r);
            } catch (const OraError &e) {
                QFAIL(qPrintable(r + QLatin1String(" -> ") + e.message()));
            }
        }
        for (const QString &d : c.dos) {
            const Result r = run(db, d);
            QVERIFY2(r.error.isEmpty(), qPrintable(d + QLatin1String(" -> ") + r.error));
        }
        const Result r = run(db, c.sql);
        if (c.mode == QLatin1String("ERROR")) {
            QVERIFY2(r.error.startsWith(c.error), qPrintable(QStringLiteral("got: ") + r.error));
            return;
        }
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error + QLatin1String("\nsql: ") + tr(c.sql)));
        QCOMPARE(r.columns.join(QLatin1Char('|')).toUpper(), c.header.join(QLatin1Char('|')).toUpper());
        QList<QStringList> got = r.rows, want = c.rows;
        if (c.mode == QLatin1String("EXPECT COLUMNS"))
            return;
        if (c.mode == QLatin1String("EXPECT CONTAINS") || c.mode == QLatin1String("EXPECT LACKS")) {
            const bool contains = c.mode == QLatin1String("EXPECT CONTAINS");
            for (const QStringList &w : want)
                QVERIFY2(got.contains(w) == contains, qPrintable(w.join(QLatin1String(" | ")) + "\nin\n" + show(got)));
            return;
        }
        if (c.mode != QLatin1String("EXPECT ORDERED")) {
            std::sort(got.begin(), got.end());
            std::sort(want.begin(), want.end());
        }
        QCOMPARE(show(got), show(want));
    }

    // The same statements on PostgreSQL: the answer is SQLite's, column
    // names and cells byte for byte.
    void corpusPostgres_data() { corpus_data(); }
    void corpusPostgres()
    {
        QFETCH(int, index);
        if (!pg.conn)
            QSKIP(qPrintable(pgWhy));
        static const QList<Case> cases = readCorpus(QStringLiteral(VOREL_DIALECT_CORPUS));
        const Case &c = cases[index];
        if (c.mode == QLatin1String("ERROR") && schemaError(c.error))
            QSKIP("the texts of constraints and triggers are the PostgreSQL schema's");
        const Result lite = runLite(c);

        pg.conn->exec(QStringLiteral("BEGIN"));
        auto undo = qScopeGuard([&] { pg.conn->exec(QStringLiteral("ROLLBACK")); });
        for (const QString &r : c.rawsPg.isEmpty() ? c.raws : c.rawsPg) {
            try {
                pg.conn->exec(r);
            } catch (const pg::Error &e) {
                QFAIL(qPrintable(r + QLatin1String(" -> ") + QString::fromUtf8(e.what())));
            }
        }
        for (const QString &d : c.dos) {
            const Result r = pg.run(d);
            QVERIFY2(r.error.isEmpty(), qPrintable(d + QLatin1String(" -> ") + r.error + QLatin1String("\nsql: ") + pg.lastSql));
        }
        const Result r = pg.run(c.sql);
        if (c.mode == QLatin1String("ERROR")) {
            QVERIFY2(!r.error.isEmpty(), qPrintable(QStringLiteral("no error; sql: ") + pg.lastSql));
            // The translator's and the class-rows query's own errors are the same texts.
            if (!r.error.startsWith(QLatin1String("PG ")))
                QCOMPARE(r.error, lite.error);
            return;
        }
        QVERIFY2(r.error.isEmpty(), qPrintable(r.error + QLatin1String("\nsql: ") + pg.lastSql));
        QCOMPARE(r.columns.join(QLatin1Char('|')), lite.columns.join(QLatin1Char('|')));
        if (c.mode == QLatin1String("EXPECT ORDERED"))
            QCOMPARE(show(r.rows), show(lite.rows));
        else
            QCOMPARE(show(sorted(r.rows)), show(sorted(lite.rows)));
    }

    // The rewrites, seen as text.
    void translation_data()
    {
        QTest::addColumn<QString>("oracle");
        QTest::addColumn<QString>("sqlite");
        QTest::newRow("prefix any case") << "SELECT a FROM vorel.T1, VOREL.T2, Vorel . T3" << "SELECT a FROM T1, T2, T3";
        QTest::newRow("prefix in strings stays") << "SELECT 'vorel.T' FROM dual" << "SELECT 'vorel.T'  ";
        QTest::newRow("empty text is NULL") << "SELECT NVL(x, '') FROM T" << "SELECT NVL(x, NULL) FROM T";
        QTest::newRow("sysdate") << "SELECT sysdate FROM T" << "SELECT ora_sysdate() FROM T";
        QTest::newRow("concat alias kept") << "SELECT DECODE( SIGN(B-10), -1, '0','')||B Cade FROM T"
                                           << "SELECT ora_concat(DECODE( SIGN(B-10), -1, '0',NULL), B) Cade FROM T";
        QTest::newRow("concat chain") << "SELECT a || 'x' || t.b FROM T" << "SELECT ora_concat(a, 'x', t.b) FROM T";
        QTest::newRow("concat with minus left to right") << "SELECT a - 1 || b FROM T"
                                                         << "SELECT ora_concat((a - 1), b) FROM T";
        QTest::newRow("concat binds tighter than =") << "WHERE a || b = c" << "WHERE ora_concat(a, b) = c";
        QTest::newRow("concat of case") << "SELECT CASE WHEN a=1 THEN 'x' END || b FROM T"
                                        << "SELECT ora_concat(CASE WHEN a=1 THEN 'x' END, b) FROM T";
        QTest::newRow("order desc") << "SELECT a FROM T ORDER BY a DESC, b"
                                    << "SELECT a FROM T ORDER BY a DESC NULLS FIRST, b NULLS LAST";
        QTest::newRow("order in subquery") << "SELECT (SELECT x FROM U ORDER BY y DESC LIMIT 1) FROM T"
                                           << "SELECT (SELECT x FROM U ORDER BY y DESC NULLS FIRST LIMIT 1) FROM T";
        QTest::newRow("order nulls as written") << "SELECT a FROM T ORDER BY a NULLS FIRST"
                                                << "SELECT a FROM T ORDER BY a NULLS FIRST";
        QTest::newRow("minus") << "SELECT a FROM T MINUS SELECT a FROM U" << "SELECT a FROM T EXCEPT SELECT a FROM U";
        QTest::newRow("comment kept") << "SELECT a -- it's\r\nFROM T" << "SELECT a -- it's\r\nFROM T";
        QTest::newRow("trailing semicolon") << "SELECT 1 FROM T;" << "SELECT 1 FROM T";
    }
    void translation()
    {
        QFETCH(QString, oracle);
        QFETCH(QString, sqlite);
        QCOMPARE(translateOracle(oracle, {}), sqlite);
    }

    void outerJoinText()
    {
        const QString sql = tr(QStringLiteral(
            "SELECT METO_Metodo FROM vorel.TMETODS, vorel.TBOTONES\r\nWHERE METO_Clase= 'ZCLI'\r\n"
            "  And BOTO_Boton(+)= METO_Boton\r\n  And METO_Metodo not in (SELECT 1 FROM RSESION)"));
        QCOMPARE(sql, QStringLiteral("SELECT METO_Metodo FROM TMETODS LEFT JOIN TBOTONES ON BOTO_Boton= METO_Boton"
                                     "\r\nWHERE METO_Clase= 'ZCLI'\r\n  And 1=1\r\n"
                                     "  And METO_Metodo not in (SELECT 1 FROM RSESION)"));
        // Qualified by alias, table first in the list, two conditions on one table.
        QCOMPARE(tr(QStringLiteral("SELECT 1 FROM TBOTONES b, TMETODS m WHERE b.BOTO_Boton (+) = m.METO_Boton "
                                   "AND b.BOTO_HotKey(+) = 'x'")),
                 QStringLiteral("SELECT 1 FROM  TMETODS m LEFT JOIN TBOTONES b ON b.BOTO_Boton  = m.METO_Boton AND "
                                "b.BOTO_HotKey = 'x' WHERE 1=1 AND 1=1"));
    }

    void malformedText_data()
    {
        QTest::addColumn<QString>("oracle");
        QTest::addColumn<QString>("error");
        QTest::newRow("open string") << "SELECT 'abc FROM T" << "ORA-01756";
        QTest::newRow("missing paren") << "SELECT NVL(a, b FROM T" << "ORA-00907";
        QTest::newRow("extra paren") << "SELECT a) FROM T" << "ORA-00933";
        QTest::newRow("second statement") << "SELECT 1 FROM T; DELETE FROM T" << "ORA-00911";
        QTest::newRow("dangling concat") << "SELECT a || FROM T" << "ORA-00936";
        QTest::newRow("(+) under OR") << "SELECT 1 FROM TBOTONES, TMETODS WHERE BOTO_Boton(+)= METO_Boton OR 1=1"
                                      << "ORA-01719";
        QTest::newRow("(+) on unknown column") << "SELECT 1 FROM TBOTONES, TMETODS WHERE NADA(+)= METO_Boton"
                                               << "ORA-00904";
    }
    void malformedText()
    {
        QFETCH(QString, oracle);
        QFETCH(QString, error);
        try {
            tr(oracle);
            QFAIL("no error");
        } catch (const OraError &e) {
            QVERIFY2(e.message().startsWith(error), qPrintable(e.message()));
        }
    }

    // Statements a client may send that are far out of the ordinary: the
    // answer is a translation or an Oracle error, soon, and the session's
    // thread survives it.
    void hostileText()
    {
        const int n = 100000;
        const QString open(n, QLatin1Char('('));
        const QString close(n, QLatin1Char(')'));
        try {
            translateOracle(QStringLiteral("SELECT ") + open + QStringLiteral("1") + close + QStringLiteral(" FROM T"),
                            {});
            QFAIL("no error");
        } catch (const OraError &e) {
            QVERIFY2(e.message().startsWith(QLatin1String("ORA-00900")), qPrintable(e.message()));
        }
        // Deep, but within what the translator takes.
        const QString deep = QStringLiteral("SELECT ") + QString(500, QLatin1Char('(')) + QStringLiteral("a||b")
                             + QString(500, QLatin1Char(')')) + QStringLiteral(" FROM vorel.T ORDER BY 1");
        QCOMPARE(translateOracle(deep, {}), QStringLiteral("SELECT ") + QString(500, QLatin1Char('('))
                                                 + QStringLiteral("ora_concat(a, b)") + QString(500, QLatin1Char(')'))
                                                 + QStringLiteral(" FROM T ORDER BY 1 NULLS LAST"));

        // Many items, prefixes and signs: each rewrite in one pass.
        QElapsedTimer timer;
        timer.start();
        QString items, prefixed, expected;
        for (int i = 0; i < 40000; ++i) {
            items += QStringLiteral("c%1 DESC, ").arg(i);
            expected += QStringLiteral("c%1 DESC NULLS FIRST, ").arg(i);
            prefixed += QStringLiteral("vorel.T%1, ").arg(i);
        }
        QCOMPARE(translateOracle(QStringLiteral("SELECT 1 FROM T ORDER BY ") + items + QStringLiteral("a"), {}),
                 QStringLiteral("SELECT 1 FROM T ORDER BY ") + expected + QStringLiteral("a NULLS LAST"));
        QString stripped = prefixed;
        stripped.remove(QStringLiteral("vorel."));
        QCOMPARE(translateOracle(QStringLiteral("SELECT 1 FROM ") + prefixed + QStringLiteral("U"), {}),
                 QStringLiteral("SELECT 1 FROM ") + stripped + QStringLiteral("U"));
        const QString signs = QStringLiteral("- ").repeated(100000);
        QCOMPARE(translateOracle(QStringLiteral("SELECT a || ") + signs + QStringLiteral("1 FROM T"), {}),
                 QStringLiteral("SELECT ora_concat(a, ") + signs + QStringLiteral("1) FROM T"));
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QStringLiteral("%1 ms").arg(timer.elapsed())));
    }

    void oracleMessages_data()
    {
        QTest::addColumn<int>("rc");
        QTest::addColumn<QString>("sqlite");
        QTest::addColumn<QString>("oracle");
        QTest::newRow("raised text passes") << SQLITE_CONSTRAINT_TRIGGER << "ORA-20001: Sin saldo\nORA-06512: at X"
                                            << "ORA-20001: Sin saldo\nORA-06512: at X";
        QTest::newRow("no table") << SQLITE_ERROR << "no such table: TNADA"
                                  << "ORA-00942: table or view does not exist (no such table: TNADA)";
        QTest::newRow("no column") << SQLITE_ERROR << "no such column: t.nada"
                                   << "ORA-00904: \"NADA\": invalid identifier (no such column: t.nada)";
        QTest::newRow("syntax") << SQLITE_ERROR << "near \"FROM\": syntax error"
                                << "ORA-00933: SQL command not properly ended (near \"FROM\": syntax error)";
        QTest::newRow("not enough values") << SQLITE_ERROR << "2 values for 3 columns"
                                           << "ORA-00947: not enough values (2 values for 3 columns)";
        QTest::newRow("busy") << SQLITE_BUSY << "database is locked"
                              << "ORA-00054: resource busy and acquire with NOWAIT specified or timeout expired "
                                 "(database is locked)";
    }
    void oracleMessages()
    {
        QFETCH(int, rc);
        QFETCH(QString, sqlite);
        QFETCH(QString, oracle);
        QCOMPARE(oracleMessage(db, rc, sqlite), oracle);
    }
};

QTEST_GUILESS_MAIN(TstDialect)
#include "tst_dialect.moc"
