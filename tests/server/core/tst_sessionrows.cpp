// The session's working rows (RSESION, RVFILRAP, RQBEX) are its own on both
// engines, and stay so while sessions share the connections of the pool;
// they go with the session however it ends.
#include "server/backend/postgres/pgconnection.h"
#include "server/backend/postgres/pgdatabase.h"
#include "server/backend/postgres/pgpool.h"
#include "server/backend/postgres/pgschema.h"
#include "server/backend/sqlite/sqlitedatabase.h"
#include "server/backend/sqlite/sqlitepool.h"
#include "server/core/oraerror.h"
#include "server/core/oramessages.h"
#include "support/testdatabase.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QTest>

using namespace vorel;
using namespace vorel::test;

namespace {

QStringList notices;
QMutex noticesMutex;
void noted(const QString &line)
{
    const QMutexLocker lock(&noticesMutex);
    notices << line;
}

QString cell(server::Database &db, const QString &sql)
{
    const Answer a = run(db, sql);
    if (!a.error.isEmpty())
        return a.error;
    QStringList cells;
    for (const QStringList &row : a.rows)
        cells << row.join(QLatin1Char('|'));
    return cells.join(QLatin1Char(','));
}

} // namespace

class TstSessionRows : public QObject
{
    Q_OBJECT

private:
    // One connection lent at a time: every session below shares it.
    TestDatabase m_db;

    server::pg::Pool &pool() { return *server::pg::Pool::of(m_db.location()); }
    int connectionsOpen()
    {
        return onPostgres() ? pool().open() : server::sqlite::Pool::of(m_db.location())->open();
    }
    static bool holds(server::Database &db)
    {
        return onPostgres() ? static_cast<server::PgDatabase &>(db).holdsConnection()
                            : static_cast<server::SqliteDatabase &>(db).holdsConnection();
    }

private Q_SLOTS:
    void initTestCase()
    {
        server::pg::Pool::setLimit(1);
        server::pg::Pool::setNotice(&noted);
        server::sqlite::Pool::setLimit(1);
        server::sqlite::Pool::setNotice(&noted);
        const QString why = m_db.create(true);
        if (why.startsWith(QLatin1String("PostgreSQL not available")))
            QSKIP(qPrintable(why));
        QCOMPARE(why, QString());
    }

    // Two sessions written in turns on the one connection each read their
    // own rows alone, as a third of the same user does.
    void rowsStayWithTheirSession()
    {
        auto a = m_db.open(QStringLiteral("1001"));
        auto b = m_db.open(QStringLiteral("1002"));
        auto c = m_db.open(QStringLiteral("1001"));
        const struct {
            server::Database *db;
            const char *sql;
            const char *answer;
        } steps[] = {
            {a.get(), "INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (1, 'A1')", ""},
            {b.get(), "INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (1, 'B1')", ""},
            {a.get(), "INSERT INTO RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (2, 'A2')", ""},
            {b.get(), "INSERT INTO RQBEX (QBEX_Reg, QBEX_Campo, QBEX_Valor, QBEX_Fecha) VALUES (1, 'X', 'B', 0)", ""},
            {a.get(), "SELECT VFIL_Valor FROM vorel.RVFILRAP", "A1,A2"},
            {b.get(), "SELECT * FROM RVFILRAP", "1|B1"},
            {c.get(), "SELECT count(*) FROM RVFILRAP", "0"},
            {a.get(), "SELECT count(*) FROM RQBEX", "0"},
            {b.get(), "SELECT QBEX_Campo FROM RQBEX", "X"},
            {a.get(), "SELECT SESI_Usua, SESI_USUADer FROM RSESION", "1001|1001"},
            {b.get(), "SELECT SESI_Usua FROM vorel.RSESION", "1002"},
            {b.get(), "UPDATE RVFILRAP SET VFIL_Valor = 'B9'", ""},
            {a.get(), "DELETE FROM RVFILRAP WHERE VFIL_Filtro = 2", ""},
            {a.get(), "SELECT VFIL_Valor FROM RVFILRAP", "A1"},
            {b.get(), "SELECT VFIL_Valor FROM RVFILRAP", "B9"},
        };
        for (const auto &s : steps)
            QCOMPARE(cell(*s.db, QString::fromUtf8(s.sql)), QString::fromUtf8(s.answer));
        QCOMPARE(connectionsOpen(), 1);
        QVERIFY(!holds(*a));
    }

    // A cursor read to its end holds no connection, though its client has
    // not closed it yet: the next session's request runs.
    void aCursorReadToItsEndHoldsNoConnection()
    {
        auto a = m_db.open(QStringLiteral("1001"));
        auto b = m_db.open(QStringLiteral("1002"));
        b->setQueryTimeout(300);
        for (const char *sql : {"SELECT count(*) FROM TROLES", "SELECT count(*) FROM RVFILRAP"}) {
            const server::Database::OpenResult open = a->openCursor(QString::fromUtf8(sql), -1);
            QVERIFY(open.rows.eof);
            QVERIFY(!holds(*a));
            QVERIFY(cell(*b, QStringLiteral("SELECT count(*) FROM TROLES")).toInt() > 0);
        }
    }

    // Working rows past what a session keeps in memory between requests
    // stay in the connection, which the session keeps until they shrink.
    void manyWorkingRowsKeepTheirConnection()
    {
        if (onPostgres())
            QSKIP("SQLite's working rows");
        auto a = m_db.open(QStringLiteral("1001"));
        QCOMPARE(cell(*a, QStringLiteral("INSERT INTO RVFILRAP (VFIL_Valor) VALUES (RPAD('x', 4000, 'x'))")), QString());
        for (int i = 0; i < 9; ++i)
            QCOMPARE(cell(*a, QStringLiteral("UPDATE RVFILRAP SET VFIL_Valor = VFIL_Valor || VFIL_Valor")), QString());
        QVERIFY(holds(*a));
        QCOMPARE(cell(*a, QStringLiteral("SELECT LENGTH(VFIL_Valor) FROM RVFILRAP")), QStringLiteral("2048000"));
        QCOMPARE(cell(*a, QStringLiteral("UPDATE RVFILRAP SET VFIL_Valor = 'y'")), QString());
        QVERIFY(!holds(*a));
        QCOMPARE(cell(*a, QStringLiteral("SELECT VFIL_Valor FROM RVFILRAP")), QStringLiteral("y"));
    }

    // The tables under the views are not the sessions' to read, nor is
    // another session's key theirs to take.
    void theTablesBehindAreOutOfReach()
    {
        if (!onPostgres())
            QSKIP("PostgreSQL's working tables");
        auto a = m_db.open(QStringLiteral("1002"));
        const QString refused = QString::fromUtf8(server::ora::kNoPrivilege);
        for (const char *sql : {"SELECT * FROM vorel_work.rvfilrap", "SELECT * FROM vorel_session.rvfilrap",
                                "SELECT set_config('vorel.sesion', '1', false) FROM DUAL",
                                "SELECT current_setting('vorel.sesion') FROM DUAL"})
            QCOMPARE(run(*a, QString::fromUtf8(sql)).error, refused);
        // Past the server's checks, PostgreSQL itself refuses the role.
        server::pg::Connection &raw = static_cast<server::PgDatabase &>(*a).connection();
        QVERIFY_THROWS_EXCEPTION(server::pg::Error, raw.exec(QStringLiteral("SELECT * FROM vorel_work.rvfilrap")));
    }

    // A session gone mid-transaction (its client cut off) leaves neither
    // its changes nor its working rows, and its connection serves the next.
    void aSessionEndedMidTransactionLeavesNothing()
    {
        auto a = m_db.open(QStringLiteral("1002"));
        a->begin();
        QCOMPARE(cell(*a, QStringLiteral("INSERT INTO TPARAMS (PARA_Param, PARA_Valor) VALUES ('CORTADO', 'x')")),
                 QString());
        QCOMPARE(cell(*a, QStringLiteral("INSERT INTO RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (1, 'x')")), QString());
        QVERIFY(holds(*a));
        a.reset();
        const auto left = [&](const char *sql) { return query(m_db.location(), QString::fromUtf8(sql)).first().first(); };
        QCOMPARE(left("SELECT count(*) FROM tparams WHERE para_param = 'CORTADO'"), QStringLiteral("0"));
        if (onPostgres()) {
            QCOMPARE(left("SELECT count(*) FROM vorel_work.rvfilrap"), QStringLiteral("0"));
            QCOMPARE(left("SELECT count(*) FROM vorel_work.rsesion"), QStringLiteral("0"));
            QCOMPARE(left("SELECT count(*) FROM vorel_work.sessions"), QStringLiteral("0"));
        }
        auto b = m_db.open(QStringLiteral("1001"));
        QCOMPARE(cell(*b, QStringLiteral("SELECT count(*) FROM RVFILRAP")), QStringLiteral("0"));
        QCOMPARE(cell(*b, QStringLiteral("SELECT SESI_Usua FROM RSESION")), QStringLiteral("1001"));
        QCOMPARE(connectionsOpen(), 1);
    }

    // A server that died left its sessions' rows; the next to start clears
    // them, and not those of a server still running.
    void aStartingServerClearsTheDeadOnly()
    {
        if (!onPostgres())
            QSKIP("SQLite's working rows never outlive the server's process");
        auto live = m_db.open(QStringLiteral("1001"));
        QCOMPARE(cell(*live, QStringLiteral("INSERT INTO RVFILRAP (VFIL_Valor) VALUES ('vivo')")), QString());
        {
            // Rows of a server number nobody holds, as a killed server leaves them.
            server::pg::Connection dead(m_db.location());
            server::pg::createSessionTables(dead, QStringLiteral("1002"));
            dead.exec(QStringLiteral("INSERT INTO RVFILRAP (VFIL_Valor) VALUES ('muerto')"));
        }
        server::pg::Connection starting(m_db.location());
        QCOMPARE(server::pg::clearDeadSessions(starting), 1);
        const QList<QStringList> rows = query(m_db.location(), QStringLiteral("SELECT vfil_valor FROM vorel_work.rvfilrap"));
        QCOMPARE(rows, QList<QStringList>{{QStringLiteral("vivo")}});
        QCOMPARE(cell(*live, QStringLiteral("SELECT VFIL_Valor FROM RVFILRAP")), QStringLiteral("vivo"));
    }

    // With every connection lent, a request waits its turn up to the query
    // timeout, says so in the server's output, then fails as a timed-out
    // request does; once one comes back it runs.
    void anExhaustedPoolWaitsThenTimesOut()
    {
        auto holder = m_db.open(QStringLiteral("1002"));
        auto waiter = m_db.open(QStringLiteral("1001"));
        waiter->setQueryTimeout(300);
        holder->begin();
        notices.clear();
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(cell(*waiter, QStringLiteral("SELECT count(*) FROM TROLES")), QString::fromUtf8(server::ora::kCancelled));
        QVERIFY2(clock.elapsed() >= 290, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.first().contains(onPostgres() ? QLatin1String("all 1 PostgreSQL connections are in use")
                                                       : QLatin1String("all 1 SQLite connections of")),
                 qPrintable(notices.first()));
        holder->rollback();
        QVERIFY(cell(*waiter, QStringLiteral("SELECT count(*) FROM TROLES")).toInt() > 0);
    }
};

QTEST_GUILESS_MAIN(TstSessionRows)
#include "tst_sessionrows.moc"
