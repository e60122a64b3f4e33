// Expressions of Oracle's functions made up at random, each run on SQLite
// and on PostgreSQL over the fixture's rows: the two answers must be the
// same, cell for cell, or the same Oracle error. VOREL_DIFF_SEED and
// VOREL_DIFF_COUNT choose the run (the same seed, the same expressions);
// every difference is listed with its expression before the test fails.
#include "dialectdiff.h"
#include "pgfixture.h"
#include "server/backend/sqlite/sqlitedatabase.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace dialecttest;
using namespace vorel::server;

class TstDialectDiff : public QObject
{
    Q_OBJECT
    vorel::test::TestDatabase liteDb{vorel::test::Engine::Sqlite};
    vorel::test::TestDatabase pgDb{vorel::test::Engine::Postgres};
    std::unique_ptr<Database> liteSession;
    sqlite3 *db = nullptr;
    PgFixture pg;

private slots:
    void initTestCase()
    {
        QString why = vorel::test::unavailable(vorel::test::Engine::Postgres);
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        why = liteDb.create(true, {vorel::test::fixtureRows()});
        QVERIFY2(why.isEmpty(), qPrintable(why));
        liteSession = liteDb.open(QStringLiteral("990001"));
        db = static_cast<SqliteDatabase &>(*liteSession).handle();
        why = pgDb.create(true, {vorel::test::fixtureRows()});
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QVERIFY2(pg.open(pgDb, &why), qPrintable(why));
    }

    void sameAnswers()
    {
        const quint32 seed =
            qEnvironmentVariableIsSet("VOREL_DIFF_SEED") ? qEnvironmentVariableIntValue("VOREL_DIFF_SEED") : 1;
        const int count =
            qEnvironmentVariableIsSet("VOREL_DIFF_COUNT") ? qEnvironmentVariableIntValue("VOREL_DIFF_COUNT") : 300;
        QRandomGenerator random(seed);
        ExprGenerator gen([&random](quint32 n) { return random.bounded(n); });
        QStringList differences;
        int errors = 0;
        for (int i = 0; i < count; ++i) {
            gen.clearParts();
            const QString e = gen.any(3);
            const QString sql = diffStatement(e);
            const auto runLite = [this](const QString &q) { return run(db, q); };
            const auto runOther = [this](const QString &q) {
                pg.conn->exec(QStringLiteral("BEGIN"));
                const Result r = pg.run(q);
                pg.conn->exec(QStringLiteral("ROLLBACK"));
                return r;
            };
            const Result lite = runLite(sql), other = runOther(sql);
            const QString pgSql = pg.lastSql;
            if (!lite.error.isEmpty() || !other.error.isEmpty())
                ++errors;
            if (!sameAnswer(lite, other) && !orderOfComputing(gen.parts(), lite, other, runLite, runOther))
                differences << describe(e, lite, other, pgSql);
        }
        qInfo("seed %u: %d expressions, %d answered an error on either engine, %lld differences", seed, count, errors,
              qlonglong(differences.size()));
        for (const QString &d : std::as_const(differences))
            qInfo("%s", qPrintable(d));
        QVERIFY2(differences.isEmpty(), "the engines differ: the expressions above");
    }
};

QTEST_GUILESS_MAIN(TstDialectDiff)
#include "tst_dialectdiff.moc"
