// Oracle's sequences as sessions use them, on this run's engine: each
// session its own CURRVAL while the numbers are shared and never repeat,
// whatever a transaction does or a restart; the schema script's CREATE and
// DROP SEQUENCE; and on SQLite the blocks two processes reserve.
#include "server/backend/sqlite/sequencestore.h"
#include "support/testdatabase.h"

#include <QFile>
#include <QSet>
#include <QtTest>

using namespace vorel;
using namespace vorel::test;

namespace {

QString value(server::Database &db, const QString &sql)
{
    const Answer a = run(db, sql);
    if (!a.error.isEmpty())
        return a.error;
    return a.rows.value(0).value(0);
}

QString scriptFile(QTemporaryDir &dir, const QString &name, const QByteArray &text)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

class TstSequences : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    TestDatabase m_db;

private slots:
    void initTestCase()
    {
        m_dir = makeTempDir();
        QVERIFY(m_dir);
        const QString script = scriptFile(*m_dir, QStringLiteral("seq.sql"),
                                          "CREATE SEQUENCE SQ_PEDIDOS START WITH 10 INCREMENT BY 5;\n"
                                          "CREATE SEQUENCE vorel.SQ_IDA NOCACHE;\n"
                                          "CREATE SEQUENCE SQ_TIRADA;\n"
                                          "CREATE SEQUENCE SQ_REINICIO;\n"
                                          "CREATE SEQUENCE SQ_DOS;\n"
                                          "DROP SEQUENCE SQ_TIRADA;\n");
        const QString why = m_db.create(true, {server::InitScript{script, true}});
        if (why.startsWith(QLatin1String("PostgreSQL not available")))
            QSKIP(qPrintable(why));
        QCOMPARE(why, QString());
    }

    // Two sessions draw in turn: the numbers go on across them, and each
    // CURRVAL is the session's own (on PostgreSQL the sessions share the
    // pool's connections, whose currval() is not the session's).
    void eachSessionItsCurrval()
    {
        auto a = m_db.open(QStringLiteral("1001")), b = m_db.open(QStringLiteral("1002"));
        const QString next = QStringLiteral("SELECT SQ_PEDIDOS.NEXTVAL FROM DUAL");
        const QString current = QStringLiteral("SELECT SQ_PEDIDOS.CURRVAL FROM DUAL");
        QCOMPARE(value(*b, current),
                 QStringLiteral("ORA-08002: sequence SQ_PEDIDOS.CURRVAL is not yet defined in this session"));
        QCOMPARE(value(*a, next), QStringLiteral("10"));
        QCOMPARE(value(*b, next), QStringLiteral("15"));
        QCOMPARE(value(*a, current), QStringLiteral("10"));
        QCOMPARE(value(*b, current), QStringLiteral("15"));
        QCOMPARE(value(*a, next), QStringLiteral("20"));
        QCOMPARE(value(*b, current), QStringLiteral("15"));
    }

    // A number drawn in a transaction rolled back is gone for good, and the
    // session's CURRVAL stays what it drew, as Oracle's does.
    void rollbackGivesNothingBack()
    {
        auto s = m_db.open(QStringLiteral("1002"));
        const QString before = value(*s, QStringLiteral("SELECT SQ_IDA.NEXTVAL FROM DUAL"));
        s->begin();
        QCOMPARE(run(*s, QStringLiteral("INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) "
                                        "VALUES (SQ_IDA.NEXTVAL, 'x' || SQ_IDA.CURRVAL)"))
                     .error,
                 QString());
        const QString inside = value(*s, QStringLiteral("SELECT SQ_IDA.CURRVAL FROM DUAL"));
        QVERIFY2(inside.toLongLong() > before.toLongLong(), qPrintable(before + QLatin1String(" / ") + inside));
        s->rollback();
        QCOMPARE(value(*s, QStringLiteral("SELECT SQ_IDA.CURRVAL FROM DUAL")), inside);
        QCOMPARE(value(*s, QStringLiteral("SELECT SQ_IDA.NEXTVAL FROM DUAL")).toLongLong(), inside.toLongLong() + 1);
    }

    // The errors of a script's sequences, as Oracle words them.
    void scriptStatements_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("error");
        QTest::newRow("name in use") << QByteArray("CREATE SEQUENCE SQ_PEDIDOS;") << "ORA-00955";
        QTest::newRow("drop of none") << QByteArray("DROP SEQUENCE SQ_TIRADA;") << "ORA-02289";
        QTest::newRow("increment 0") << QByteArray("CREATE SEQUENCE SQ_X INCREMENT BY 0;") << "ORA-04002";
        QTest::newRow("start below min") << QByteArray("CREATE SEQUENCE SQ_X START WITH 1 MINVALUE 5;") << "ORA-04006";
        QTest::newRow("cache of a cycle")
            << QByteArray("CREATE SEQUENCE SQ_X MAXVALUE 5 CYCLE CACHE 10;") << "ORA-04013";
        QTest::newRow("cache 1") << QByteArray("CREATE SEQUENCE SQ_X CACHE 1;") << "ORA-04010";
        QTest::newRow("unknown clause") << QByteArray("CREATE SEQUENCE SQ_X STEP 2;") << "ORA-00933";
    }
    void scriptStatements()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, error);
        TestDatabase other;
        const QString path = scriptFile(*m_dir, QStringLiteral("bad.sql"), "CREATE SEQUENCE SQ_PEDIDOS;\n" + script);
        const QString why = other.create(false, {server::InitScript{path, true}});
        QVERIFY2(why.contains(error), qPrintable(why));
    }

    // A session runs no DDL, and a dropped sequence is no more.
    void sessionsUseSequencesOnly()
    {
        auto s = m_db.open(QStringLiteral("1002"));
        QVERIFY(!run(*s, QStringLiteral("CREATE SEQUENCE SQ_Y")).error.isEmpty());
        QVERIFY(!run(*s, QStringLiteral("DROP SEQUENCE SQ_PEDIDOS")).error.isEmpty());
        QCOMPARE(value(*s, QStringLiteral("SELECT SQ_TIRADA.NEXTVAL FROM DUAL")),
                 QStringLiteral("ORA-02289: sequence does not exist"));
    }

    // A restart goes on from the last number handed out: a store gives
    // back what is left of its block when its last session ends.
    void restartGoesOn()
    {
        qint64 last = 0;
        for (int run = 0; run < 2; ++run) {
            auto s = m_db.open(QStringLiteral("1001"));
            for (int i = 0; i < 3; ++i) {
                const qint64 n = value(*s, QStringLiteral("SELECT SQ_REINICIO.NEXTVAL FROM DUAL")).toLongLong();
                QVERIFY2(n == last + 1, qPrintable(QString::number(n)));
                last = n;
            }
        }
    }

    // Two processes on one SQLite file each reserve their own blocks of
    // CACHE numbers: none is handed out twice, and what a process could not
    // give back (another reserved past it, as after a crash) is skipped.
    void twoProcessesOneFile()
    {
        if (onPostgres())
            QSKIP("SQLite's file of sequences");
        {
            server::SequenceStore one(server::sequenceFile(m_db.location()));
            server::SequenceStore two(server::sequenceFile(m_db.location()));
            QSet<qint64> seen;
            for (int i = 0; i < 30; ++i)
                for (server::SequenceStore *store : {&one, &two}) {
                    const qint64 n = store->next(QStringLiteral("SQ_DOS"));
                    QVERIFY2(!seen.contains(n), qPrintable(QString::number(n)));
                    seen.insert(n);
                }
            QCOMPARE(seen.size(), 60);
        }
        auto s = m_db.open(QStringLiteral("1001"));
        QCOMPARE(value(*s, QStringLiteral("SELECT SQ_DOS.NEXTVAL FROM DUAL")), QStringLiteral("71"));
    }
};

QTEST_GUILESS_MAIN(TstSequences)
#include "tst_sequences.moc"
