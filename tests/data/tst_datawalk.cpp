#include "csvread.h"
#include "data/datawalk.h"
#include "data/dataset.h"
#include "datafixture.h"
#include "support/messageof.h"

#include <QDir>
#include <QSignalSpy>

using namespace vorel;
using namespace vorel::test;

namespace {

using vorel::test::messageOf;

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TstDataWalk : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void statisticsAgreeWithTheDatabase();
    void hugeValuesAndFirstOfEqualExtremes();
    void emptyResultWalksNothing();
    void badColumnsThrowAndRestorePackets();
    void walkUsesLargePacketsAndEndsAtTheEnd();
    void progressIsToldAndCanStop();
    void packetsKeepWithinTheirBytes();
    void failureOfAPacketAheadEndsTheWalk();
    void statisticText();
    void exportReadsBackAsTheRows();
    void exportCancelledWritesNothing();

private:
    std::unique_ptr<TClientDataSet> open(const QString &sql, int packet = 10);
    DataFixture m_fixture;
    std::unique_ptr<TSocketConnection> m_conn;
    QTemporaryDir m_dir;
};

void TstDataWalk::initTestCase()
{
    QVERIFY2(QFileInfo::exists(TestServer::serverProgram()), "vorel-server is not built");
    QVERIFY2(m_fixture.start(), qPrintable(m_fixture.error()));
    TestServer &s = m_fixture.server();
    s.exec(QStringLiteral("CREATE TABLE TGRANDES (ID NUMBER(8), V NUMBER)"));
    s.exec(QStringLiteral("INSERT INTO TGRANDES VALUES (1, 5), (2, 1e25), (3, -1e25), (4, NULL), (5, 2e25)"));
    s.exec(QStringLiteral("CREATE TABLE TTEXTOS (ID NUMBER(8), V VARCHAR2(20))"));
    s.exec(QStringLiteral("INSERT INTO TTEXTOS VALUES (1, '05'), (2, '7'), (3, '5'), (4, NULL), (5, '07.0'), (6, '-1'), "
                          "(7, '-1.0')"));
    const bool pg = TestServer::postgres();
    s.exec(QStringLiteral("CREATE TABLE TMUCHOS (ID NUMBER(8), V NUMBER)"));
    s.exec(pg ? QStringLiteral("INSERT INTO TMUCHOS SELECT x, x % 7 FROM generate_series(1, 2500) AS x")
              : QStringLiteral("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 2500) "
                               "INSERT INTO TMUCHOS SELECT x, x % 7 FROM c"));
    s.exec(QStringLiteral("CREATE TABLE TRAROS (ID NUMBER(8), TEXTO VARCHAR2(80), IMPORTE NUMBER(12,2))"));
    s.exec(QStringLiteral("INSERT INTO TRAROS VALUES (1, 'dice \"hola\"', 1.5), (2, 'uno, dos', NULL), "
                          "(3, 'línea 1' || %1(13) || %1(10) || 'línea 2', -3), (4, NULL, 0), (5, '''comillas''', 7)")
               .arg(pg ? QStringLiteral("chr") : QStringLiteral("char")));
    if (pg) {
        // PostgreSQL holds the length a VARCHAR2 declares: the long texts need a CLOB.
        s.exec(QStringLiteral("CREATE TABLE TLARGOS (ID NUMBER(8), TEXTO CLOB)"));
        s.exec(QStringLiteral("INSERT INTO TLARGOS SELECT x, repeat('ñ', 50000) FROM generate_series(1, 60) AS x"));
    } else {
        s.exec(QStringLiteral("CREATE TABLE TLARGOS (ID NUMBER(8), TEXTO VARCHAR2(4000))"));
        s.exec(QStringLiteral("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 60) "
                              "INSERT INTO TLARGOS SELECT x, replace(hex(zeroblob(50000)), '00', 'ñ') FROM c"));
    }
    m_conn = m_fixture.connect();
    QVERIFY(m_conn->Connected());
}

std::unique_ptr<TClientDataSet> TstDataWalk::open(const QString &sql, int packet)
{
    auto ds = std::make_unique<TClientDataSet>();
    ds->SetRemoteServer(m_conn.get());
    ds->SetProviderName(QStringLiteral("dspq0"));
    ds->SetPacketRecords(packet);
    ds->SetCommandText(sql);
    ds->Open();
    return ds;
}

void TstDataWalk::statisticsAgreeWithTheDatabase()
{
    auto ds = open(kSelectAll);
    ds->FieldByName(QStringLiteral("PRECIO"))->SetCurrency(true);
    const TStatisticsResult r = ComputeStatistics(ds.get(), {QStringLiteral("PRECIO"), QStringLiteral("id")});
    QCOMPARE(r.Rows, qint64(kRowCount));
    QVERIFY(!r.Cancelled);
    QCOMPARE(r.Columns.size(), 2);

    const QStringList db = m_fixture.server().query(QStringLiteral(
        "SELECT SUM(PRECIO), MAX(PRECIO), MIN(PRECIO), COUNT(PRECIO), SUM(ID), MAX(ID), MIN(ID), COUNT(ID) FROM TDATOS")).first();
    const TStatisticsColumn &precio = r.Columns.at(0);
    QCOMPARE(precio.Column, QStringLiteral("PRECIO"));
    QVERIFY(precio.Currency);
    QCOMPARE(precio.Count, db.at(3).toLongLong());
    QVERIFY(precio.Count < kRowCount); // the NULL prices took no part
    QVERIFY(qFuzzyCompare(precio.Sum, db.at(0).toDouble()));
    QCOMPARE(precio.Maximum, db.at(1).toDouble());
    QCOMPARE(precio.MaximumText, QStringLiteral("1234567.25"));
    QCOMPARE(precio.Minimum, db.at(2).toDouble());
    QVERIFY(qFuzzyCompare(precio.Average(), db.at(0).toDouble() / db.at(3).toDouble()));

    const TStatisticsColumn &id = r.Columns.at(1);
    QVERIFY(!id.Currency);
    QCOMPARE(id.Count, qint64(kRowCount));
    QCOMPARE(id.Sum, db.at(4).toDouble());
    QCOMPARE(id.MaximumText, db.at(5));
    QCOMPARE(id.MinimumText, db.at(6));
    QCOMPARE(id.Average(), 60.5);
}

void TstDataWalk::hugeValuesAndFirstOfEqualExtremes()
{
    auto ds = open(QStringLiteral("SELECT ID, V FROM TGRANDES ORDER BY ID"), 2);
    TStatisticsResult r = ComputeStatistics(ds.get(), {QStringLiteral("V")});
    const TStatisticsColumn &c = r.Columns.at(0);
    QCOMPARE(c.Count, qint64(4));
    QCOMPARE(c.Maximum, 2e25);
    QCOMPARE(c.Minimum, -1e25);
    QVERIFY(qFuzzyCompare(c.Sum, 2e25 + 5));
    QVERIFY(qFuzzyCompare(c.Average(), (2e25 + 5) / 4));

    // Texts read as numbers: equal numbers keep the text that came first.
    auto t = open(QStringLiteral("SELECT ID, V FROM TTEXTOS ORDER BY ID"));
    r = ComputeStatistics(t.get(), {QStringLiteral("V")});
    const TStatisticsColumn &s = r.Columns.at(0);
    QCOMPARE(s.Count, qint64(6));
    QCOMPARE(s.MaximumText, QStringLiteral("7"));
    QCOMPARE(s.MinimumText, QStringLiteral("-1"));
    QCOMPARE(s.Sum, 5.0 + 7 + 5 + 7 - 1 - 1);
}

void TstDataWalk::emptyResultWalksNothing()
{
    auto ds = open(QStringLiteral("SELECT ID, PRECIO FROM TDATOS WHERE ID < 0"));
    // Nothing to read, so no field is looked up either.
    const TStatisticsResult r = ComputeStatistics(ds.get(), {QStringLiteral("PRECIO"), QStringLiteral("NINGUNO")});
    QCOMPARE(r.Rows, qint64(0));
    QCOMPARE(r.Columns.size(), 2);
    QCOMPARE(r.Columns.at(0).Count, qint64(0));
    QCOMPARE(r.Columns.at(0).Average(), 0.0);
    QVERIFY(ds->Eof());

    const QString path = m_dir.filePath(QStringLiteral("vacio.csv"));
    QVERIFY(ExportCsv(ds.get(), path));
    QCOMPARE(contents(path), QByteArray("\"ID\",\"PRECIO\"\r\n"));
}

void TstDataWalk::badColumnsThrowAndRestorePackets()
{
    auto ds = open(kSelectAll, 10);
    QCOMPARE(messageOf([&] { ComputeStatistics(ds.get(), {QStringLiteral("PRECIO"), QStringLiteral("NINGUNO")}); }),
             QStringLiteral("Field 'NINGUNO' not found"));
    QCOMPARE(ds->PacketRecords(), 10);
    // The same conversion error the field's own number reading gives.
    ds->First();
    const QString expected = messageOf([&] { ds->FieldByName(QStringLiteral("NOMBRE"))->AsFloat(); });
    QVERIFY(expected.contains(QStringLiteral("not a valid floating point value")));
    QCOMPARE(messageOf([&] { ComputeStatistics(ds.get(), {QStringLiteral("NOMBRE")}); }), expected);
    QCOMPARE(ds->PacketRecords(), 10);

    TClientDataSet closed;
    QVERIFY(messageOf([&] { ComputeStatistics(&closed, {QStringLiteral("X")}); }).contains(QStringLiteral("closed")));
}

void TstDataWalk::walkUsesLargePacketsAndEndsAtTheEnd()
{
    auto ds = open(QStringLiteral("SELECT ID, V FROM TMUCHOS ORDER BY ID"), 25);
    QCOMPARE(ds->RecordCountFetched(), 25);
    QSignalSpy scrolls(ds.get(), &TClientDataSet::AfterScroll);
    m_fixture.server().clearTrace();
    const TStatisticsResult r = ComputeStatistics(ds.get(), {QStringLiteral("ID")});
    QCOMPARE(r.Rows, qint64(2500));
    QCOMPARE(r.Columns.at(0).Sum, 2500.0 * 2501 / 2);
    // At full weight from the first (narrow rows: the count limit), two
    // asked ahead of the one read: the one after the packet that brought
    // the end was already on its way, and none follows it. (The call makes
    // sure the server has read what was sent.)
    m_conn->Call(QStringLiteral("dServer"));
    QCOMPARE(m_fixture.server().fetches(), (QList<qint32>{WalkPacketLimit, WalkPacketLimit}));
    QCOMPARE(ds->PacketRecords(), 25);
    QVERIFY(ds->Eof());
    QCOMPARE(ds->RecNo(), 2500);
    QCOMPARE(ds->FieldByName(QStringLiteral("ID"))->AsInteger(), qint64(2500));
    QCOMPARE(scrolls.count(), 2); // the first row, then the last

    // A local order in force: all rows come first, and the walk follows it.
    auto sorted = open(QStringLiteral("SELECT ID, V FROM TMUCHOS ORDER BY ID"), 100);
    sorted->SetIndexFieldNames(QStringLiteral("V"));
    QSignalSpy reordered(sorted.get(), &TClientDataSet::RowsReordered);
    const QString path = m_dir.filePath(QStringLiteral("ordenado.csv"));
    QVERIFY(ExportCsv(sorted.get(), path));
    const QList<QStringList> rows = readCsv(contents(path));
    QCOMPARE(rows.size(), 2501);
    for (int i = 2; i < rows.size(); ++i)
        QVERIFY(rows.at(i - 1).at(1).toInt() <= rows.at(i).at(1).toInt());
    QVERIFY(sorted->Eof());
    // The order is lifted while the packets come and put back with one sort.
    QCOMPARE(reordered.count(), 2);
    QCOMPARE(sorted->IndexFieldNames(), QStringLiteral("V"));

    // Stopped while the rows come: the order is back on what is held.
    // (Rows of 100 kB, ten to a packet.)
    auto stopped = open(QStringLiteral("SELECT ID, 1000 - ID V, TEXTO FROM TLARGOS ORDER BY ID"), 3);
    stopped->SetIndexFieldNames(QStringLiteral("V"));
    QVERIFY(ComputeStatistics(stopped.get(), {QStringLiteral("V")}, [](qint64, qint64) { return false; }).Cancelled);
    QCOMPARE(stopped->IndexFieldNames(), QStringLiteral("V"));
    QVERIFY(stopped->RecordCountFetched() < 60);
    for (int r = 1; r < stopped->RecordCountFetched(); ++r)
        QVERIFY(stopped->ValueAt(r - 1, 1).toInt() <= stopped->ValueAt(r, 1).toInt());
}

void TstDataWalk::progressIsToldAndCanStop()
{
    auto ds = open(QStringLiteral("SELECT ID, V FROM TMUCHOS ORDER BY ID"), 25);
    QList<qint64> told;
    ComputeStatistics(ds.get(), {QStringLiteral("V")}, [&](qint64 done, qint64) {
        told.append(done);
        return true;
    });
    QCOMPARE(told, (QList<qint64>{1000, 2000, 2500}));

    ds->First();
    const TStatisticsResult r = ComputeStatistics(ds.get(), {QStringLiteral("ID")},
                                                  [&](qint64 done, qint64) { return done < 1000; });
    QVERIFY(r.Cancelled);
    QCOMPARE(r.Rows, qint64(1000));
    QCOMPARE(r.Columns.at(0).Count, qint64(1000));
    QCOMPARE(ds->PacketRecords(), 25);
    QVERIFY(!ds->Eof());
    QCOMPARE(ds->RecNo(), 1000);
    // The packets already on their way when it stopped are not lost: the
    // rows go on from there.
    qint64 id = 1000;
    for (ds->Next(); !ds->Eof(); ds->Next())
        QCOMPARE(ds->FieldByName(QStringLiteral("ID"))->AsInteger(), ++id);
    QCOMPARE(id, qint64(2500));
}

void TstDataWalk::packetsKeepWithinTheirBytes()
{
    // Rows of 100 kB: a packet of WalkPacketBytes holds ten.
    auto ds = open(QStringLiteral("SELECT ID, TEXTO FROM TLARGOS ORDER BY ID"), 3);
    m_fixture.server().clearTrace();
    const TStatisticsResult r = ComputeStatistics(ds.get(), {QStringLiteral("ID")});
    QCOMPARE(r.Rows, qint64(60));
    QCOMPARE(r.Columns.at(0).Sum, 1830.0);
    m_conn->Call(QStringLiteral("dServer"));
    const QList<qint32> fetches = m_fixture.server().fetches();
    // Weighed by the three rows held when the walk starts, and kept.
    QVERIFY(fetches.size() >= 6);
    for (const qint32 n : fetches)
        QCOMPARE(n, 10);
    QCOMPARE(ds->PacketRecords(), 3);
}

void TstDataWalk::failureOfAPacketAheadEndsTheWalk()
{
    // The value overflows at row 1501: the rows before it come, then the failure.
    const QString sql = QStringLiteral(
        "SELECT ID, CASE WHEN ID > 1500 THEN ABS(ID - 9223372036854775807 - 1502) ELSE ID END V FROM TMUCHOS");
    auto plain = open(sql, 25);
    const QString expected = messageOf([&] { plain->FetchAll(); });
    QVERIFY2(expected.startsWith(QStringLiteral("ORA-")), qPrintable(expected));

    auto ds = open(sql, 25);
    qint64 seen = 0;
    const QString message = messageOf([&] {
        ComputeStatistics(ds.get(), {QStringLiteral("V")}, [&](qint64 done, qint64) {
            seen = done;
            return true;
        });
    });
    QCOMPARE(message, expected);
    QCOMPARE(seen, qint64(1000));
    QCOMPARE(ds->RecordCountFetched(), 1500);
    QCOMPARE(ds->PacketRecords(), 25);
    QVERIFY(ds->Active());
    QVERIFY(m_conn->Connected());
}

void TstDataWalk::statisticText()
{
    const QLocale es(QLocale::Spanish, QLocale::Spain);
    QCOMPARE(StatisticText(1234567.25, false, es), QStringLiteral("1.234.567,25"));
    QCOMPARE(StatisticText(-1234.5, false, es), QStringLiteral("-1.234,50"));
    QCOMPARE(StatisticText(999.994, false, es), QStringLiteral("999,99"));
    // The C locale omits separators unless told otherwise; the dialog wants them.
    QCOMPARE(StatisticText(1e25, false, QLocale::c()), QStringLiteral("10,000,000,000,000,000,905,969,664.00"));
    QCOMPARE(StatisticText(1234567.25, true, QLocale(QLocale::English, QLocale::UnitedStates)),
             QStringLiteral("$1,234,567.25"));
    QVERIFY(StatisticText(1234567.25, true, es).contains(QStringLiteral("1.234.567,25")));
}

void TstDataWalk::exportReadsBackAsTheRows()
{
    auto ds = open(QStringLiteral("SELECT ID, TEXTO, IMPORTE FROM TRAROS ORDER BY ID"), 2);
    ds->FieldByName(QStringLiteral("TEXTO"))->SetDisplayLabel(QStringLiteral("Texto \"raro\", largo"));
    ds->FieldByName(QStringLiteral("IMPORTE"))->SetVisible(false); // hidden fields go out too
    const QString path = m_dir.filePath(QStringLiteral("raros.csv"));
    QFile::remove(path);
    QVERIFY(ExportCsv(ds.get(), path));
    QVERIFY(ds->Eof());
    QCOMPARE(ds->PacketRecords(), 2);

    bool ok = false;
    const QList<QStringList> rows = readCsv(contents(path), &ok);
    QVERIFY(ok);
    QList<QStringList> expected{{QStringLiteral("ID"), QStringLiteral("Texto \"raro\", largo"), QStringLiteral("IMPORTE")}};
    for (QStringList r : m_fixture.server().query(QStringLiteral("SELECT ID, TEXTO, IMPORTE FROM TRAROS ORDER BY ID"))) {
        for (QString &v : r)
            if (v == QStringLiteral("<null>"))
                v.clear();
        expected.append(r);
    }
    expected[1][2] = QStringLiteral("1.5");
    expected[3][2] = QStringLiteral("-3");
    expected[4][2] = QStringLiteral("0");
    expected[5][2] = QStringLiteral("7");
    QCOMPARE(rows, expected);
    QVERIFY(contents(path).contains(QByteArray("\"dice \"\"hola\"\"\"")));
    QVERIFY(contents(path).contains(QStringLiteral("\"línea 1\r\nlínea 2\"").toUtf8()));
}

void TstDataWalk::exportCancelledWritesNothing()
{
    const QString path = m_dir.filePath(QStringLiteral("existente.csv"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("antiguo\r\n");
    }
    auto ds = open(QStringLiteral("SELECT ID, V FROM TMUCHOS ORDER BY ID"), 25);
    QVERIFY(!ExportCsv(ds.get(), path, [](qint64 done, qint64) { return done < 2000; }));
    QCOMPARE(contents(path), QByteArray("antiguo\r\n"));
    QCOMPARE(ds->PacketRecords(), 25);

    QVERIFY(ExportCsv(ds.get(), path));
    QCOMPARE(readCsv(contents(path)).size(), 2501);
    const QStringList left = QDir(m_dir.path()).entryList({QStringLiteral("existente.csv*")}, QDir::Files);
    QCOMPARE(left, QStringList{QStringLiteral("existente.csv")});
}

QTEST_GUILESS_MAIN(TstDataWalk)
#include "tst_datawalk.moc"
