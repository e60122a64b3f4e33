// The reference server over raw frames: login, sessions, transactions, the
// refusals of EjeDir and the providers, the trace and hostile input.
#include "rawclient.h"
#include "support/testserver.h"

#include <QFile>
#include <QProcess>
#include <QtEndian>
#include <QTest>

using namespace vorel;
using namespace vorel::test;
using proto::MsgType;
using proto::ValueType;

namespace {
const QString kUser = QStringLiteral("7001");
const QString kPassword = QStringLiteral("clave7");
} // namespace

class TstServer : public QObject
{
    Q_OBJECT

private:
    TestServer m_server{TestServer::Options{false, {}, {}, {}}};

    bool login(RawClient &c) { return c.connectTo(m_server.port()) && c.login(kUser, kPassword); }
    int count(const QString &where = QStringLiteral("1=1"))
    {
        return m_server.query(QStringLiteral("SELECT count(*) FROM TPRUEBA WHERE ") + where).value(0).value(0).toInt();
    }

private Q_SLOTS:
    void initTestCase()
    {
        VOREL_START(m_server);
        m_server.exec(QStringLiteral(
            "INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (7001, 'Prueba', 'clave7');"
            // 7001 administers: the tests write tables of their own making.
            "INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('PRUEBAS', 'Pruebas');"
            "INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (7001, 'PRUEBAS', 1);"
            "INSERT INTO TPARAMS (PARA_Param, PARA_Valor) VALUES ('MENINI', 'Bienvenido al sistema');"
            "CREATE TABLE TPRUEBA (PRUE_Id NUMBER(8) PRIMARY KEY, PRUE_Texto VARCHAR2(40), PRUE_Fecha DATE,"
            " PRUE_Importe NUMBER(10,2));"
            "INSERT INTO TPRUEBA VALUES (1, 'uno', '2024-03-05 10:20:30', 12.5);"
            "INSERT INTO TPRUEBA VALUES (2, 'dos, \"citado\"', '2024-03-06', NULL);"
            "INSERT INTO TPRUEBA VALUES (3, NULL, NULL, 3);"));
    }

    void init() { m_server.exec(QStringLiteral("DELETE FROM TPRUEBA WHERE PRUE_Id >= 100")); }

    void nothingAnsweredBeforeLogin()
    {
        RawClient c;
        QVERIFY(c.connectTo(m_server.port()));
        const proto::Message server = c.call(QStringLiteral("dServer"));
        QCOMPARE(server.type, MsgType::CallResult);
        QCOMPARE(server.value.toString(), QStringLiteral("127.0.0.1"));
        const QString refused = QStringLiteral("Sesión no iniciada: llame primero a Login");
        QCOMPARE(c.error(c.call(QStringLiteral("MenIni"))), refused);
        QCOMPARE(c.error(c.call(QStringLiteral("StartTran"))), refused);
        QCOMPARE(c.error(c.call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM TPRUEBA")})), refused);
        QCOMPARE(c.error(c.open(QStringLiteral("dspq0"), QStringLiteral("SELECT * FROM TPRUEBA"))), refused);
        QCOMPARE(c.error(c.fetch(1, 1)), refused);
        QCOMPARE(count(), 3);
    }

    void loginChecksUserAndPassword()
    {
        RawClient c;
        QVERIFY(c.connectTo(m_server.port()));
        const QString wrong = QStringLiteral("Usuario o contraseña incorrectos");
        QCOMPARE(c.error(c.call(QStringLiteral("Login"), {kUser, QStringLiteral("CLAVE7"), QStringLiteral("DEMO"),
                                                          QStringLiteral("127.0.0.1")})),
                 wrong);
        QCOMPARE(c.error(c.call(QStringLiteral("Login"), {QStringLiteral("7002"), kPassword, QStringLiteral("DEMO"),
                                                          QStringLiteral("127.0.0.1")})),
                 wrong);
        QCOMPARE(c.error(c.call(QStringLiteral("Login"), {kUser, kPassword})),
                 QStringLiteral("Login requiere 4 argumento(s) y recibió 2"));
        // A failed login opens no session.
        QCOMPARE(c.error(c.call(QStringLiteral("MenIni"))), QStringLiteral("Sesión no iniciada: llame primero a Login"));

        QVERIFY(c.login(kUser, kPassword));
        const proto::Message greeting = c.call(QStringLiteral("MenIni"));
        QCOMPARE(greeting.type, MsgType::CallResult);
        QCOMPARE(greeting.value.toString(), QStringLiteral("Bienvenido al sistema"));
        // The session's own row, from its private working tables.
        const proto::Message session = c.open(QStringLiteral("dspq0"), QStringLiteral("SELECT SESI_Usua FROM vorel.RSESION"));
        QCOMPARE(session.type, MsgType::OpenResult);
        QCOMPARE(session.rows.size(), 1);
        QCOMPARE(session.rows.value(0, 0).toLongLong(), 7001);
    }

    void transactionControlTexts()
    {
        RawClient c;
        QVERIFY(login(c));
        const QString none = QStringLiteral("QUEMI: There is no active transaction");
        QCOMPARE(c.error(c.call(QStringLiteral("CommitTran"))), none);
        QCOMPARE(c.error(c.call(QStringLiteral("RollBackTran"))), none);
        QCOMPARE(c.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(c.call(QStringLiteral("CommitTran")).type, MsgType::CallResult);
        QCOMPARE(c.error(c.call(QStringLiteral("CommitTran"))), none);
    }

    void ejeDirRefusesAllButOneChange_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("message");
        const QString dml = QStringLiteral("EjeDir solo ejecuta una sentencia INSERT, UPDATE o DELETE");
        const QString one = QStringLiteral("Se admite una sola sentencia SQL por petición");
        QTest::newRow("select") << QStringLiteral("SELECT * FROM TPRUEBA") << dml;
        QTest::newRow("create") << QStringLiteral("CREATE TABLE TOTRA (X NUMBER)") << dml;
        QTest::newRow("drop") << QStringLiteral("DROP TABLE TPRUEBA") << dml;
        QTest::newRow("empty") << QStringLiteral("  ") << dml;
        QTest::newRow("two") << QStringLiteral("INSERT INTO TPRUEBA (PRUE_Id) VALUES (100); DELETE FROM TPRUEBA")
                             << one;
        QTest::newRow("two, quoted ;")
            << QStringLiteral("INSERT INTO TPRUEBA (PRUE_Id, PRUE_Texto) VALUES (101, 'a;b');DROP TABLE TPRUEBA") << one;
    }

    void ejeDirRefusesAllButOneChange()
    {
        QFETCH(QString, sql);
        QFETCH(QString, message);
        RawClient c;
        QVERIFY(login(c));
        QCOMPARE(c.error(c.call(QStringLiteral("EjeDir"), {sql})), message);
        QCOMPARE(count(), 3);
        QVERIFY(m_server
                    .query(TestServer::postgres()
                               ? QStringLiteral("SELECT relname FROM pg_class WHERE lower(relname) = 'totra'")
                               : QStringLiteral("SELECT name FROM sqlite_master WHERE name = 'TOTRA'"))
                    .isEmpty());
    }

    void ejeDirRunsOneChange()
    {
        RawClient c;
        QVERIFY(login(c));
        // A quoted ';' and a closing one are part of a single statement.
        QCOMPARE(c.call(QStringLiteral("EjeDir"),
                        {QStringLiteral("INSERT INTO vorel.TPRUEBA (PRUE_Id, PRUE_Texto) VALUES (100, 'a;b');")})
                     .type,
                 MsgType::CallResult);
        QCOMPARE(m_server.query(QStringLiteral("SELECT PRUE_Texto FROM TPRUEBA WHERE PRUE_Id = 100")),
                 QList<QStringList>{{QStringLiteral("a;b")}});
        // Database failures arrive worded as Oracle words them.
        const QString dup = c.error(c.call(QStringLiteral("EjeDir"),
                                           {QStringLiteral("INSERT INTO TPRUEBA (PRUE_Id) VALUES (100)")}));
        QVERIFY2(dup.startsWith(QStringLiteral("ORA-00001")), qPrintable(dup));
    }

    void providersRunOneSelect()
    {
        RawClient c;
        QVERIFY(login(c));
        QCOMPARE(c.error(c.open(QStringLiteral("dspOtro"), QStringLiteral("SELECT 1 FROM dual"))),
                 QStringLiteral("Proveedor desconocido: dspOtro"));
        QCOMPARE(c.error(c.open(QStringLiteral("dspq0"), QStringLiteral("DELETE FROM TPRUEBA"))),
                 QStringLiteral("Un proveedor solo ejecuta una sentencia SELECT"));
        QCOMPARE(c.error(c.open(QStringLiteral("dspq0"), QStringLiteral("SELECT 1 FROM dual; DELETE FROM TPRUEBA"))),
                 QStringLiteral("Se admite una sola sentencia SQL por petición"));
        QCOMPARE(count(), 3);
    }

    void cursorTypesAndPackets()
    {
        RawClient c;
        QVERIFY(login(c));
        const proto::Message first = c.open(
            QStringLiteral("dspBin"),
            QStringLiteral("SELECT PRUE_Id, PRUE_Texto Etiq, PRUE_Fecha, PRUE_Importe, sysdate AS Ahora\r\n"
                           "FROM vorel.TPRUEBA ORDER BY PRUE_Id"),
            2);
        QCOMPARE(first.type, MsgType::OpenResult);
        QCOMPARE(first.columns.size(), 5);
        QCOMPARE(first.columns[0].name, QStringLiteral("PRUE_Id"));
        QCOMPARE(first.columns[0].type, ValueType::Integer);
        QCOMPARE(first.columns[1].name, QStringLiteral("Etiq"));
        QCOMPARE(first.columns[1].type, ValueType::Text);
        QCOMPARE(first.columns[1].size, 40);
        QCOMPARE(first.columns[2].type, ValueType::DateTime);
        QCOMPARE(first.columns[3].type, ValueType::Float);
        QCOMPARE(first.columns[4].name, QStringLiteral("Ahora"));
        QCOMPARE(first.columns[4].type, ValueType::DateTime);
        QCOMPARE(first.rows.size(), 2);
        QVERIFY(!first.rows.eof);
        QCOMPARE(first.rows.value(0, 2).toDateTime(), QDateTime(QDate(2024, 3, 5), QTime(10, 20, 30), Qt::UTC));
        QCOMPARE(first.rows.value(1, 2).toDateTime(), QDateTime(QDate(2024, 3, 6), QTime(0, 0), Qt::UTC));
        QCOMPARE(first.rows.value(0, 3).toDouble(), 12.5);
        QVERIFY(first.rows.value(1, 3).isNull());
        QCOMPARE(first.rows.value(0, 4).typeId(), QMetaType::QDateTime);

        // A second cursor of the session runs while the first stays open.
        const proto::Message other = c.open(QStringLiteral("dspq1"), QStringLiteral("SELECT count(*) N FROM TPRUEBA"));
        QCOMPARE(other.rows.value(0, 0).toLongLong(), 3);
        QVERIFY(other.rows.eof);

        const proto::Message rest = c.fetch(first.cursor, 2);
        QCOMPARE(rest.type, MsgType::Rows);
        QCOMPARE(rest.width, 5);
        QCOMPARE(rest.rows.size(), 1);
        QCOMPARE(rest.rows.value(0, 0).toLongLong(), 3);
        QVERIFY(rest.rows.eof);
        QCOMPARE(c.closeCursor(first.cursor).type, MsgType::Closed);
        QVERIFY(!c.error(c.fetch(first.cursor, 1)).isEmpty());

        const proto::Message empty = c.open(QStringLiteral("dspq0"), QStringLiteral("SELECT PRUE_Id FROM TPRUEBA WHERE 1 = 0"), 2);
        QCOMPARE(empty.type, MsgType::OpenResult);
        QCOMPARE(empty.columns.size(), 1);
        QVERIFY(empty.rows.isEmpty());
        QVERIFY(empty.rows.eof);
    }

    // The server reads a cursor's next packet while it sends one, at the
    // size last asked: a client that asks another size gets that size all
    // the same, and every row once, in order. Sent all at once, each fetch
    // followed by a call, the fetches that wait for the rows being read
    // still answer in their turn, and the calls behind them after them.
    void packetSizesMayChange_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<QList<int>>("counts");
        QTest::addColumn<bool>("pipelined");
        for (const bool pipelined : {false, true}) {
            const char *way = pipelined ? ", sent at once" : "";
            QTest::addRow("growing%s", way) << 1 << QList<int>{2, 4, 8, 16} << pipelined;
            QTest::addRow("shrinking, then growing%s", way) << 5 << QList<int>{4, 2, 2, 1, 7, 9} << pipelined;
            QTest::addRow("the rest at once%s", way) << 2 << QList<int>{3, 0} << pipelined;
            QTest::addRow("beyond the end%s", way) << 4 << QList<int>{4, 30, 5} << pipelined;
        }
    }
    void packetSizesMayChange()
    {
        QFETCH(int, first);
        QFETCH(QList<int>, counts);
        QFETCH(bool, pipelined);
        m_server.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 100 UNION ALL SELECT i + 1 FROM n WHERE i < 119)"
                                     " INSERT INTO TPRUEBA (PRUE_Id) SELECT i FROM n"));
        QList<qint64> expected{1, 2, 3};
        for (qint64 id = 100; id < 120; ++id)
            expected << id;
        RawClient c;
        QVERIFY(login(c));
        const proto::Message open =
            c.open(QStringLiteral("dspq0"), QStringLiteral("SELECT PRUE_Id FROM TPRUEBA ORDER BY PRUE_Id"), first);
        QList<qint64> seen;
        for (qsizetype r = 0; r < open.rows.size(); ++r)
            seen << open.rows.value(r, 0).toLongLong();
        bool eof = open.rows.eof;
        if (pipelined) {
            for (const int n : counts) {
                proto::Message f;
                f.type = MsgType::Fetch;
                f.cursor = open.cursor;
                f.count = n;
                c.send(f);
                proto::Message call;
                call.type = MsgType::Call;
                call.text = QStringLiteral("dServer");
                c.send(call);
            }
        }
        for (const int n : counts) {
            const qsizetype left = expected.size() - seen.size();
            const proto::Message m = pipelined ? c.receive() : c.fetch(open.cursor, n);
            QCOMPARE(m.type, MsgType::Rows);
            if (pipelined)
                QCOMPARE(c.receive().type, MsgType::CallResult);
            QCOMPARE(m.rows.size(), n > 0 ? qMin<qsizetype>(n, left) : left);
            for (qsizetype r = 0; r < m.rows.size(); ++r)
                seen << m.rows.value(r, 0).toLongLong();
            eof = m.rows.eof;
            QCOMPARE(eof, seen.size() == expected.size());
        }
        QVERIFY(eof);
        QCOMPARE(seen, expected);
    }

    // A copy taken while a session commits row after row opens, passes its
    // check and holds every row committed before it was asked for.
    void backupWhileWriting()
    {
        if (TestServer::postgres())
            QSKIP("a PostgreSQL database is copied with pg_dump");
        RawClient writer;
        QVERIFY(login(writer));
        const QString copy = m_server.dir() + QStringLiteral("/copia.db");
        QProcess backup;
        int before = -1;
        int written = 0;
        for (; written < 2000 && (before < 0 || backup.state() != QProcess::NotRunning); ++written) {
            const QString insert = QStringLiteral("INSERT INTO TPRUEBA (PRUE_Id) VALUES (%1)").arg(1000 + written);
            QCOMPARE(writer.call(QStringLiteral("EjeDir"), {insert}).type, MsgType::CallResult);
            if (written == 20) {
                before = written + 1;
                backup.start(TestServer::serverProgram(), {QStringLiteral("backup"), m_server.databaseFile(), copy});
                QVERIFY(backup.waitForStarted());
            }
        }
        QVERIFY(backup.waitForFinished(60000));
        QVERIFY2(backup.exitCode() == 0, backup.readAllStandardError().constData());
        QVERIFY(backup.readAllStandardOutput().contains("integrity ok"));
        QVERIFY(!QFile::exists(copy + QStringLiteral(".part-") + QString::number(backup.processId())));

        // What only a file of SQLite's own can say: its pages are sound.
        QCOMPARE(query(copy, QStringLiteral("PRAGMA integrity_check")), QList<QStringList>{{QStringLiteral("ok")}});
        const int held = query(copy, QStringLiteral("SELECT count(*) FROM TPRUEBA WHERE PRUE_Id >= 1000")).value(0).value(0).toInt();
        QVERIFY2(held >= before && held <= written, qPrintable(QStringLiteral("%1 of %2").arg(held).arg(written)));

        // Refused: the database itself as the copy, and a file that is none.
        QCOMPARE(TestServer::runServer({QStringLiteral("backup"), m_server.databaseFile(), m_server.databaseFile()}), 1);
        QCOMPARE(TestServer::runServer({QStringLiteral("backup"), copy + QStringLiteral(".no"), copy}), 1);
        QVERIFY(QFile::exists(copy));
    }

    void sessionsAreIsolated()
    {
        RawClient a, b;
        QVERIFY(login(a));
        QVERIFY(login(b));
        const proto::Message bCursor = b.open(QStringLiteral("dspq0"), QStringLiteral("SELECT PRUE_Id FROM TPRUEBA ORDER BY PRUE_Id"), 1);
        QCOMPARE(bCursor.rows.value(0, 0).toLongLong(), 1);

        QCOMPARE(a.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(a.call(QStringLiteral("EjeDir"), {QStringLiteral("INSERT INTO TPRUEBA (PRUE_Id) VALUES (110)")}).type,
                 MsgType::CallResult);
        const QString seen = QStringLiteral("SELECT count(*) FROM TPRUEBA WHERE PRUE_Id = 110");
        QCOMPARE(a.open(QStringLiteral("dspq0"), seen).rows.value(0, 0).toLongLong(), 1);
        QCOMPARE(b.open(QStringLiteral("dspq0"), seen).rows.value(0, 0).toLongLong(), 0);
        // B has no transaction of its own, and A's cursor numbers are not B's.
        QCOMPARE(b.error(b.call(QStringLiteral("CommitTran"))), QStringLiteral("QUEMI: There is no active transaction"));
        QCOMPARE(b.fetch(bCursor.cursor, 1).rows.value(0, 0).toLongLong(), 2);

        QCOMPARE(a.call(QStringLiteral("RollBackTran")).type, MsgType::CallResult);
        QCOMPARE(b.open(QStringLiteral("dspq0"), seen).rows.value(0, 0).toLongLong(), 0);
        QCOMPARE(b.fetch(bCursor.cursor, 5).rows.value(0, 0).toLongLong(), 3);
        QCOMPARE(count(QStringLiteral("PRUE_Id = 110")), 0);
    }

    // Each cursor reads the rows as they were when it opened, whatever its
    // own session writes meanwhile, and a write never waits for a cursor to
    // be read: not even for one far larger than the server could hold.
    // The first packet and those after it may travel from the database in
    // different forms (PostgreSQL's text, then its binary form); the same
    // values must reach the client alike in both.
    void valuesReadAlikeInEveryPacket()
    {
        RawClient c;
        QVERIFY(login(c));
        const QString three = QStringLiteral(
            " FROM TPRUEBA, (SELECT 1 n FROM DUAL UNION ALL SELECT 2 FROM DUAL UNION ALL SELECT 3 FROM DUAL)"
            " WHERE PRUE_Id IN (1, 3) ORDER BY PRUE_Id, n");
        // Every row three times, read a packet of one row at a time: each
        // value travels in the first packet and in later ones.
        auto readThrice = [&](const QString &select, proto::RowBlock *all) {
            const proto::Message open = c.open(QStringLiteral("dspq0"), select + three, 1);
            QVERIFY2(open.type == MsgType::OpenResult, qPrintable(open.text));
            *all = open.rows;
            for (;;) {
                const proto::Message more = c.fetch(open.cursor, 1);
                QCOMPARE(more.type, MsgType::Rows);
                for (qsizetype r = 0; r < more.rows.size(); ++r)
                    all->appendRowOf(more.rows, r);
                if (more.rows.eof || more.rows.isEmpty())
                    break;
            }
            QCOMPARE(all->size(), 6);
            for (qsizetype group = 0; group < 6; group += 3)
                for (int col = 1; col < all->width(); ++col)
                    for (qsizetype r = group + 1; r < group + 3; ++r) {
                        QCOMPARE(all->value(r, col), all->value(group, col));
                        QCOMPARE(int(all->cell(r, col).type), int(all->cell(group, col).type));
                    }
        };
        proto::RowBlock all;
        readThrice(QStringLiteral("SELECT n, PRUE_Id, PRUE_Texto, PRUE_Fecha, PRUE_Importe, 0.001 a, -1.5 b, "
                                  "123456789012 c, 12.0 d, -0.0625 e, 100000000.25 f, DATE '1999-12-31' g, "
                                  "TIMESTAMP '1969-07-20 20:17:40' h, 'ñandú' i, NVL(PRUE_Texto, 'x') j"),
                   &all);
        QCOMPARE(all.value(0, 4).toDouble(), 12.5);
        QCOMPARE(int(all.cell(3, 4).type), int(ValueType::Integer)); // 3 in a column of two decimals
        QCOMPARE(all.value(0, 5).toDouble(), 0.001);
        // Before 1970 and before 2000, both counted from their epoch.
        QCOMPARE(all.cell(0, 12).integer, Q_INT64_C(-14182940000));
        QCOMPARE(all.cell(0, 11).integer, Q_INT64_C(946598400000));
        if (!TestServer::postgres())
            return;
        // Times only PostgreSQL holds arrive as the texts it writes for them.
        readThrice(QStringLiteral("SELECT n, CAST('infinity' AS timestamp) a, CAST('0044-03-15 12:30:00.25 BC' AS "
                                  "timestamp) b, CAST('12345-01-02' AS date) c"),
                   &all);
        QCOMPARE(all.value(0, 1).toString(), QStringLiteral("infinity"));
        QCOMPARE(all.value(0, 2).toString(), QStringLiteral("0044-03-15 12:30:00.25 BC"));
        QCOMPARE(all.value(0, 3).toString(), QStringLiteral("12345-01-02 00:00:00")); // DATE is timestamp(0) there
    }

    void cursorsReadAsOfTheirOpen()
    {
        RawClient a, b;
        QVERIFY(login(a));
        QVERIFY(login(b));
        const QString ids = QStringLiteral("SELECT PRUE_Id FROM TPRUEBA ORDER BY PRUE_Id");
        auto rest = [&](quint32 cursor) {
            QStringList out;
            const proto::Message m = a.fetch(cursor, -1);
            for (const QVariantList &r : m.rows.allRows())
                out << r.value(0).toString();
            return out.join(QLatin1Char(','));
        };
        const proto::Message before = a.open(QStringLiteral("dspq0"), ids, 1);
        // About 1.5 GB of rows: read ahead of a write it would be refused.
        const proto::Message huge = a.open(
            QStringLiteral("dspq0"),
            QStringLiteral("WITH c (x) AS (SELECT 1 FROM dual UNION ALL SELECT x + 1 FROM c WHERE x < 1500000) "
                           "SELECT x, %1 B FROM c")
                .arg(TestServer::postgres() ? QStringLiteral("convert_to(repeat('x', 1000), 'UTF8')")
                                            : QStringLiteral("randomblob(1000)")),
            10);
        // Another session's commit since those opens must not stop this one writing.
        QCOMPARE(b.call(QStringLiteral("EjeDir"), {QStringLiteral("INSERT INTO TPRUEBA (PRUE_Id) VALUES (130)")}).type,
                 MsgType::CallResult);

        QCOMPARE(a.call(QStringLiteral("StartTran")).type, MsgType::CallResult);
        QCOMPARE(a.call(QStringLiteral("EjeDir"), {QStringLiteral("INSERT INTO TPRUEBA (PRUE_Id) VALUES (120)")}).type,
                 MsgType::CallResult);
        QCOMPARE(a.call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM TPRUEBA WHERE PRUE_Id = 3")}).type,
                 MsgType::CallResult);
        // Opened inside the transaction: its own changes are part of what it reads.
        const proto::Message inside = a.open(QStringLiteral("dspq0"), ids, 1);
        QCOMPARE(a.call(QStringLiteral("EjeDir"), {QStringLiteral("UPDATE TPRUEBA SET PRUE_Id = 4 WHERE PRUE_Id = 1")})
                     .type,
                 MsgType::CallResult);
        QCOMPARE(a.call(QStringLiteral("RollBackTran")).type, MsgType::CallResult);

        QCOMPARE(rest(before.cursor), QStringLiteral("2,3"));
        QCOMPARE(rest(inside.cursor), QStringLiteral("2,120,130"));
        QCOMPARE(a.open(QStringLiteral("dspq0"), ids).rows.size(), 4);
        const proto::Message more = a.fetch(huge.cursor, 10);
        QCOMPARE(more.type, MsgType::Rows);
        QCOMPARE(more.rows.value(0, 0).toLongLong(), 11);
        QCOMPARE(more.rows.value(9, 1).toByteArray().size(), 1000);
        QCOMPARE(a.closeCursor(huge.cursor).type, MsgType::Closed);

        // Past the connections a session may hold, cursors still read
        // consistently, on the session's own connection.
        QList<quint32> many;
        for (int i = 0; i < 20; ++i)
            many << a.open(QStringLiteral("dspq0"), ids, 1).cursor;
        QCOMPARE(a.call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM TPRUEBA WHERE PRUE_Id = 130")}).type,
                 MsgType::CallResult);
        for (quint32 cursor : many)
            QCOMPARE(rest(cursor), QStringLiteral("2,3,130"));
    }

    void recursiveSubqueriesReadAsWritten()
    {
        RawClient c;
        QVERIFY(login(c));
        // With the keyword or without, after a note or not.
        for (const QString &sql :
             {QStringLiteral("-- serie\n/* tres */ WITH c (x) AS (SELECT 1 FROM dual UNION ALL SELECT x + 1 FROM c "
                             "WHERE x < 3) SELECT x FROM c ORDER BY x"),
              QStringLiteral("with recursive c (x) AS (SELECT 1 FROM dual UNION ALL SELECT x + 1 FROM c WHERE x < 3) "
                             "SELECT x FROM c ORDER BY x"),
              QStringLiteral("WITH a (x) AS (SELECT 1 FROM dual), c (x) AS (SELECT x FROM a UNION ALL SELECT x + 1 "
                             "FROM c WHERE x < 3) SELECT x FROM c ORDER BY x")}) {
            const proto::Message m = c.open(QStringLiteral("dspq0"), sql);
            QCOMPARE(m.type, MsgType::OpenResult);
            QCOMPARE(m.rows.size(), 3);
            QCOMPARE(m.rows.value(2, 0).toLongLong(), 3);
        }
    }

    void traceKeepsEveryByte()
    {
        m_server.clearTrace();
        RawClient c;
        QVERIFY(login(c));
        const QString select = QStringLiteral("SELECT PRUE_Texto\r\nFROM vorel.TPRUEBA\r\nWHERE PRUE_Texto = 'año \"x\"'  ");
        const QString change = QStringLiteral("UPDATE vorel.TPRUEBA\r\n   SET PRUE_Texto = 'dos'\r\nWHERE PRUE_Id = 999\r\n");
        c.open(QStringLiteral("dspModulo"), select);
        c.call(QStringLiteral("EjeDir"), {change});
        c.call(QStringLiteral("dServer"));
        QCOMPARE(m_server.texts(), (QStringList{QStringLiteral("Login|7001|********|DEMO|127.0.0.1"), select,
                                                QStringLiteral("EjeDir|") + change, QStringLiteral("dServer")}));
        const QJsonObject open = m_server.trace().at(m_server.trace().size() - 3);
        QCOMPARE(open.value(QStringLiteral("kind")).toString(), QStringLiteral("open"));
        QCOMPARE(open.value(QStringLiteral("provider")).toString(), QStringLiteral("dspModulo"));
        QVERIFY(open.value(QStringLiteral("session")).toInt() > 0);
    }

    void namedDatabasesAndAdvertisedHost()
    {
        TestServer named(TestServer::Options{false, {}, {QStringLiteral("DEMO"), QStringLiteral("OTRA")},
                                             QStringLiteral("servidor.example")});
        QString error;
        QVERIFY2(named.start(&error), qPrintable(error));
        named.exec(QStringLiteral("INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (7002, 'Otra', 'otra7')"),
                   QStringLiteral("OTRA"));
        RawClient c;
        QVERIFY(c.connectTo(named.port()));
        QCOMPARE(c.call(QStringLiteral("dServer")).value.toString(), QStringLiteral("servidor.example"));
        QCOMPARE(c.error(c.call(QStringLiteral("Login"), {QStringLiteral("7002"), QStringLiteral("otra7"),
                                                          QStringLiteral("NADA"), QStringLiteral("127.0.0.1")})),
                 QStringLiteral("Base de datos desconocida: NADA"));
        // The user exists in OTRA only.
        QCOMPARE(c.error(c.call(QStringLiteral("Login"), {QStringLiteral("7002"), QStringLiteral("otra7"),
                                                          QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")})),
                 QStringLiteral("Usuario o contraseña incorrectos"));
        QCOMPARE(c.call(QStringLiteral("Login"), {QStringLiteral("7002"), QStringLiteral("otra7"), QStringLiteral("otra"),
                                                  QStringLiteral("127.0.0.1")})
                     .type,
                 MsgType::CallResult);
    }

    void initCreatesOnlyWhatSucceeds()
    {
        const QString dir = m_server.dir();
        const QString file = dir + QStringLiteral("/nueva.db");
        auto init = [](const QStringList &args, QString *err = nullptr) {
            return TestServer::runServer(QStringList{QStringLiteral("init")} + args, err);
        };
        QFile script(dir + QStringLiteral("/datos.sql"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("INSERT INTO TPARAMS (PARA_Param, PARA_Valor) VALUES ('X', '1');\n");
        script.close();
        QCOMPARE(init({file, QStringLiteral("--script"), script.fileName()}), 0);

        QString err;
        QVERIFY(init({file}, &err) != 0);
        QVERIFY2(err.contains(QStringLiteral("already exists")), qPrintable(err));

        // A failing script leaves the existing database as it was.
        QFile bad(dir + QStringLiteral("/malo.sql"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("INSERT INTO TNADA VALUES (1);\n");
        bad.close();
        QVERIFY(init({file, QStringLiteral("--force"), QStringLiteral("--script"), bad.fileName()}, &err) != 0);
        QVERIFY2(err.contains(QStringLiteral("malo.sql")), qPrintable(err));
        QVERIFY(QFile::exists(file));
        QVERIFY(!QFile::exists(file + QStringLiteral(".init")));

        QCOMPARE(init({file, QStringLiteral("--force")}), 0);
        QVERIFY(QFile::exists(file));
    }

    void hostileInputEndsOnlyThatConnection_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("hello");
        QByteArray junk(4, '\0');
        qToBigEndian<quint32>(6, junk.data());
        junk.append("\x63\x00\x00\x00\x01\xff", 6);
        proto::Message call;
        call.type = proto::MsgType::Call;
        call.text = QStringLiteral("MenIni");
        QByteArray lying = proto::encode(call);
        lying[9] = char(0x7f); // a text length far beyond the frame
        QTest::newRow("unknown message") << junk << true;
        QTest::newRow("length beyond frame") << lying << true;
        QTest::newRow("no hello") << proto::encode(call) << false;
        QTest::newRow("not a peer") << QByteArray("GET / HTTP/1.0\r\n\r\n") << false;
    }

    void hostileInputEndsOnlyThatConnection()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, hello);
        RawClient survivor;
        QVERIFY(login(survivor));
        RawClient bad;
        QVERIFY(bad.connectTo(m_server.port(), hello));
        bad.sendRaw(bytes);
        QVERIFY(bad.waitClosed());
        QVERIFY(m_server.running());
        QCOMPARE(survivor.call(QStringLiteral("MenIni")).type, MsgType::CallResult);
        RawClient fresh;
        QVERIFY(login(fresh));
    }
};

QTEST_GUILESS_MAIN(TstServer)
#include "tst_server.moc"
