#include "data/dataset.h"
#include "datafixture.h"
#include "support/messageof.h"

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QSemaphore>
#include <QThread>
#include <QtEndian>
#include <functional>
#include <optional>

using namespace vorel;
using namespace vorel::test;

namespace {

// A peer on its own thread that accepts one connection and answers each
// request the client sends with the next scripted reply (nothing: silence).
class FakePeer
{
public:
    // A reply that ends the connection instead.
    static QByteArray hangUp() { return QByteArrayLiteral("\xff<hang up>"); }

    explicit FakePeer(QList<QByteArray> replies)
    {
        TestServer::certificateFile(); // trusted before the client looks
        m_thread.reset(QThread::create([this, replies] {
            test::TlsListener server;
            server.listen(QHostAddress::LocalHost, 0);
            m_port = server.serverPort();
            m_ready.release();
            if (!server.waitForNewConnection(10000))
                return;
            QTcpSocket *s = server.nextPendingConnection();
            proto::FrameReader requests;
            for (const QByteArray &reply : replies) {
                // Requests may come several in one piece, or a piece short.
                while (!requests.next()) {
                    if (s->bytesAvailable() == 0 && !s->waitForReadyRead(10000))
                        return;
                    requests.feed(s->readAll());
                }
                if (reply == hangUp()) {
                    s->abort();
                    return;
                }
                if (!reply.isEmpty()) {
                    s->write(reply);
                    s->waitForBytesWritten(10000);
                }
            }
            s->waitForDisconnected(10000);
        }));
        m_thread->start();
        m_ready.acquire();
    }
    ~FakePeer() { m_thread->wait(); }
    quint16 port() const { return m_port; }

private:
    std::unique_ptr<QThread> m_thread;
    QSemaphore m_ready;
    quint16 m_port = 0;
};

QByteArray helloOk(quint32 id = 1)
{
    proto::Message m;
    m.type = proto::MsgType::HelloOk;
    m.requestId = id;
    return proto::encode(m);
}

// An open answered with `rows` integers 1..rows of column ID and more to come.
QByteArray openResult(quint32 id, int rows)
{
    proto::Message m;
    m.type = proto::MsgType::OpenResult;
    m.requestId = id;
    m.cursor = 1;
    m.columns = {proto::Column{QStringLiteral("ID"), proto::ValueType::Integer, 0}};
    m.rows = proto::RowBlock(1);
    for (int i = 1; i <= rows; ++i) {
        m.rows.beginRow();
        m.rows.addInteger(i);
    }
    m.rows.eof = false;
    return proto::encode(m);
}

QString largo(int id) { return QString::number(id) + QLatin1Char(':') + QString(50000, QChar(0xF1)); }

using vorel::test::messageOf;

} // namespace

class TstDataSet : public QObject
{
    Q_OBJECT
    // A dataset on the test's connection, ready to open.
    void bind(TClientDataSet &ds, const QString &sql, int packet = -1, const char *provider = "dspq0")
    {
        ds.SetRemoteServer(m_conn.get());
        ds.SetProviderName(QString::fromLatin1(provider));
        ds.SetPacketRecords(packet);
        ds.SetCommandText(sql);
    }

private Q_SLOTS:
    void initTestCase();
    void packetsArriveInOrder_data();
    void packetsArriveInOrder();
    void afterScroll();
    void fieldProperties();
    void valuesAsText();
    void indexFieldNames();
    void indexReappliedWhenRowsArrive();
    void saveToFile();
    void twoDatasetsOnOneConnection();
    void closeFreesServerCursor();
    void serverErrorsKeepTheirText();
    void connectionFailures();
    void protocolErrorClosesConnection();
    void shortDateFormat();
    void mixedColumnReadsAsEachValue();
    void longTextsAcrossManyPackets();
    void prefetchCollectedByAnotherCall();
    void prefetchErrorArrivesWhereRowsAreRead();
    void prefetchLostWithTheConnection();

private:
    DataFixture m_fixture;
    std::unique_ptr<TSocketConnection> m_conn;
};

void TstDataSet::initTestCase()
{
    QVERIFY2(QFileInfo::exists(TestServer::serverProgram()), "vorel-server is not built");
    QVERIFY2(m_fixture.start(), qPrintable(m_fixture.error()));
    TestServer &s = m_fixture.server();
    if (!TestServer::postgres()) {
        // DATE gives the column numeric affinity: each value keeps its own kind.
        s.exec(QStringLiteral("CREATE TABLE TMIXTO (ID NUMBER(8), V DATE)"));
        s.exec(QStringLiteral("INSERT INTO TMIXTO VALUES (1, 7), (2, 2.5), (3, 'doce'), (4, X'00FF41'), (5, NULL), "
                              "(6, '2024-03-01 10:00:00')"));
        s.exec(QStringLiteral("CREATE TABLE TLARGOS (ID NUMBER(8), TEXTO VARCHAR2(4000))"));
        s.exec(QStringLiteral("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 60) "
                              "INSERT INTO TLARGOS SELECT x, x || ':' || replace(hex(zeroblob(50000)), '00', 'ñ') FROM c"));
    } else {
        // PostgreSQL holds the length a VARCHAR2 declares: the long texts need a CLOB.
        s.exec(QStringLiteral("CREATE TABLE TLARGOS (ID NUMBER(8), TEXTO CLOB)"));
        s.exec(QStringLiteral("INSERT INTO TLARGOS SELECT x, x::text || ':' || repeat('ñ', 50000) "
                              "FROM generate_series(1, 60) AS x"));
    }
    m_conn = m_fixture.connect();
    QVERIFY(m_conn->Connected());
}

void TstDataSet::packetsArriveInOrder_data()
{
    QTest::addColumn<int>("packet");
    QTest::newRow("2") << 2;
    QTest::newRow("50") << 50;
    QTest::newRow("all") << -1;
}

void TstDataSet::packetsArriveInOrder()
{
    QFETCH(int, packet);
    TClientDataSet ds;
    bind(ds, kSelectAll, packet);
    m_fixture.server().clearTrace();
    ds.Open();
    QCOMPARE(m_fixture.server().texts(), QStringList{kSelectAll});
    QVERIFY(ds.Active());
    const int step = packet < 0 ? kRowCount : packet;
    QCOMPARE(ds.RecordCountFetched(), step);
    QCOMPARE(ds.AllFetched(), packet < 0);

    int expected = 1;
    while (!ds.Eof()) {
        QCOMPARE(ds.FieldByName(QStringLiteral("ID"))->AsInteger(), qint64(expected));
        // Rows are fetched only when the walk needs them, a packet at a time.
        QVERIFY(ds.RecordCountFetched() <= ((expected - 1) / step + 1) * step);
        ++expected;
        ds.Next();
    }
    QCOMPARE(expected, kRowCount + 1);
    QCOMPARE(ds.RecordCountFetched(), kRowCount);
    QVERIFY(ds.AllFetched());
    // The walk ends on the last row, which stays readable.
    QCOMPARE(ds.RecNo(), kRowCount);
    QCOMPARE(ds.FieldByName(QStringLiteral("ID"))->AsInteger(), qint64(kRowCount));
    ds.Next();
    QVERIFY(ds.Eof());

    ds.First();
    QVERIFY(!ds.Eof());
    QCOMPARE(ds.Fields(0)->AsInteger(), 1);
    ds.Close();
    QVERIFY(!ds.Active());
    QVERIFY(ds.Eof());

    // An empty result: open, at its end at once, fields read as NULL.
    ds.SetCommandText(QStringLiteral("SELECT ID, NOMBRE FROM TDATOS WHERE ID < 0"));
    ds.Open();
    QVERIFY(ds.Eof());
    QVERIFY(ds.IsEmpty());
    QCOMPARE(ds.RecNo(), 0);
    QVERIFY(ds.FieldByName(QStringLiteral("NOMBRE"))->IsNull());
    QCOMPARE(ds.FieldByName(QStringLiteral("ID"))->AsInteger(), 0);
    ds.Close();
}

void TstDataSet::afterScroll()
{
    TClientDataSet ds;
    bind(ds, QStringLiteral("SELECT ID FROM TDATOS WHERE ID <= 3 ORDER BY ID"), 2, "dspMain");
    QSignalSpy spy(&ds, &TClientDataSet::AfterScroll);
    ds.Open();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<TClientDataSet *>(), &ds);
    ds.Next();
    ds.Next(); // needs the second packet
    QCOMPARE(spy.count(), 3);
    QCOMPARE(ds.Fields(0)->AsInteger(), 3);
    ds.Next(); // past the end: no move
    QVERIFY(ds.Eof());
    QCOMPARE(spy.count(), 3);
    ds.First();
    QCOMPARE(spy.count(), 4);
    ds.MoveTo(2);
    QCOMPARE(spy.count(), 5);
    QVERIFY_THROWS_EXCEPTION(vorel::Exception, ds.MoveTo(3));
    ds.Close();
    QVERIFY_THROWS_EXCEPTION(vorel::Exception, ds.Next());
}

void TstDataSet::fieldProperties()
{
    TClientDataSet ds;
    bind(ds, kSelectAll);
    ds.Open();
    QCOMPARE(ds.FieldCount(), 5);
    const QStringList names{"ID", "NOMBRE", "PRECIO", "FECHA", "DATOS"};
    const QList<TFieldType> types{TFieldType::Integer, TFieldType::String, TFieldType::Float, TFieldType::DateTime,
                                  TFieldType::Blob};
    for (int i = 0; i < 5; ++i) {
        TField *f = ds.Fields(i);
        QCOMPARE(f->FieldName(), names[i]);
        QCOMPARE(f->DataType(), types[i]);
        QCOMPARE(f->Index(), i);
        QCOMPARE(f->FieldNo(), i + 1);
        QCOMPARE(f->DisplayLabel(), names[i]);
        QVERIFY(f->Visible());
        QCOMPARE(ds.FieldByName(names[i].toLower()), f);
    }
    QVERIFY(ds.FieldByName("FECHA")->IsDateTime());
    QVERIFY(!ds.FieldByName("NOMBRE")->IsDateTime());
    QVERIFY(ds.FieldByName("PRECIO")->IsNumeric());
    QCOMPARE(ds.FieldByName("NOMBRE")->DisplayWidth(), 40);
    QCOMPARE(messageOf([&] { ds.FieldByName(QStringLiteral("NoExiste")); }), QStringLiteral("Field 'NoExiste' not found"));
    QVERIFY(!ds.FindField(QStringLiteral("NoExiste")));
    QVERIFY_THROWS_EXCEPTION(vorel::Exception, ds.Fields(5));

    TField *precio = ds.FieldByName("PRECIO");
    precio->SetDisplayLabel(QStringLiteral("Precio unitario"));
    precio->SetVisible(false);
    precio->SetDisplayWidth(12);
    precio->SetCurrency(true);
    precio->SetTag(7);
    QCOMPARE(precio->DisplayName(), QStringLiteral("Precio unitario"));
    QCOMPARE(precio->FieldName(), QStringLiteral("PRECIO"));

    // A reopen keeps the same field objects and what the client set on them.
    ds.Close();
    QCOMPARE(precio->AsString(), QString()); // closed: NULL
    ds.SetCommandText(QStringLiteral("SELECT PRECIO, ID FROM TDATOS ORDER BY ID"));
    ds.Open();
    QCOMPARE(ds.FieldByName("PRECIO"), precio);
    QCOMPARE(precio->Index(), 0);
    QCOMPARE(precio->DisplayLabel(), QStringLiteral("Precio unitario"));
    QVERIFY(!precio->Visible());
    QCOMPARE(precio->DisplayWidth(), 12);
    QVERIFY(precio->Currency());
    QCOMPARE(precio->Tag(), 7);
    QCOMPARE(precio->AsFloat(), 12.5);
    QVERIFY(!ds.FindField("NOMBRE"));
    ds.Close();
}

void TstDataSet::valuesAsText()
{
    TClientDataSet ds;
    bind(ds, kSelectAll, 2);
    ds.Open();
    TField *precio = ds.FieldByName("PRECIO");
    TField *fecha = ds.FieldByName("FECHA");
    TField *nombre = ds.FieldByName("NOMBRE");
    const QStringList precios{"12.5", "3", "1234567.25"};
    for (const QString &p : precios) {
        QCOMPARE(precio->AsString(), p);
        QCOMPARE(precio->AsFloat(), p.toDouble());
        QCOMPARE(precio->AsVariant().toDouble(), p.toDouble());
        ds.Next();
    }
    QCOMPARE(precio->AsInteger(), qint64(48)); // 47.5 rounds up
    QCOMPARE(ds.Fields(0)->AsString(), QStringLiteral("4"));
    QCOMPARE(fecha->AsString(), QStringLiteral("05/01/2024"));
    QCOMPARE(nombre->AsString(), nombreOf(4));
    QCOMPARE(nombre->IsNull(), false);
    QVERIFY_THROWS_EXCEPTION(vorel::Exception, nombre->AsFloat());

    while (ds.Fields(0)->AsInteger() != 15)
        ds.Next();
    QVERIFY(nombre->IsNull());
    QCOMPARE(nombre->AsString(), QString());
    QVERIFY(!nombre->AsVariant().isValid() || nombre->AsVariant().isNull());
    while (ds.Fields(0)->AsInteger() != 17)
        ds.Next();
    QVERIFY(precio->IsNull());
    QCOMPARE(precio->AsFloat(), 0.0);
    while (ds.Fields(0)->AsInteger() != 20)
        ds.Next();
    QCOMPARE(fecha->AsString(), QStringLiteral("21/01/2024 13:45:10"));
    QCOMPARE(fecha->AsVariant().toDateTime(), QDateTime(QDate(2024, 1, 21), QTime(13, 45, 10), Qt::UTC));
    ds.Close();
}

void TstDataSet::indexFieldNames()
{
    TClientDataSet ds;
    bind(ds, kSelectAll);
    ds.Open();
    QCOMPARE(ds.IndexFieldNames(), QString());
    ds.MoveTo(33);
    const qint64 id = ds.Fields(0)->AsInteger();
    QSignalSpy reordered(&ds, &TClientDataSet::RowsReordered);

    // Numbers numerically, NULLs first; the current record stays current.
    ds.SetIndexFieldNames(QStringLiteral("PRECIO"));
    QCOMPARE(ds.IndexFieldNames(), QStringLiteral("PRECIO"));
    QCOMPARE(reordered.count(), 1);
    QCOMPARE(ds.Fields(0)->AsInteger(), id);
    const int precio = ds.FieldByName("PRECIO")->Index();
    QVERIFY(ds.ValueAt(0, precio).isNull());
    bool seenValue = false;
    for (int r = 1; r < ds.RecordCountFetched(); ++r) {
        const QVariant a = ds.ValueAt(r - 1, precio), b = ds.ValueAt(r, precio);
        if (b.isNull())
            QVERIFY2(!seenValue, "NULL after a value");
        else
            seenValue = true;
        if (!a.isNull() && !b.isNull())
            QVERIFY2(a.toDouble() <= b.toDouble(), qPrintable(a.toString() + " > " + b.toString()));
    }
    QCOMPARE(ds.ValueAt(kRowCount - 1, precio).toDouble(), 1234567.25);

    // Text case-insensitively, ties in order of arrival; a second key orders within.
    ds.SetIndexFieldNames(QStringLiteral("nombre"));
    const int nombre = ds.FieldByName("NOMBRE")->Index();
    for (int r = 1; r < kRowCount; ++r) {
        const QVariant a = ds.ValueAt(r - 1, nombre), b = ds.ValueAt(r, nombre);
        if (a.isNull() || b.isNull()) {
            QVERIFY(a.isNull());
            continue;
        }
        const int c = QString::compare(a.toString(), b.toString(), Qt::CaseInsensitive);
        QVERIFY(c <= 0);
        if (c == 0)
            QVERIFY(ds.ValueAt(r - 1, 0).toLongLong() < ds.ValueAt(r, 0).toLongLong());
    }
    QCOMPARE(ds.ValueAt(0, 0).toLongLong(), 15);
    ds.SetIndexFieldNames(QStringLiteral("NOMBRE;PRECIO"));
    for (int r = 1; r < kRowCount; ++r) {
        const QString a = ds.ValueAt(r - 1, nombre).toString(), b = ds.ValueAt(r, nombre).toString();
        if (a.compare(b, Qt::CaseInsensitive) == 0 && !ds.ValueAt(r - 1, precio).isNull())
            QVERIFY(ds.ValueAt(r - 1, precio).toDouble() <= ds.ValueAt(r, precio).toDouble());
    }

    QCOMPARE(messageOf([&] { ds.SetIndexFieldNames(QStringLiteral("ID;NADA")); }), QStringLiteral("Field 'NADA' not found"));
    QCOMPARE(ds.IndexFieldNames(), QStringLiteral("NOMBRE;PRECIO"));

    // Back to the order of arrival.
    ds.SetIndexFieldNames(QString());
    for (int r = 0; r < kRowCount; ++r)
        QCOMPARE(ds.ValueAt(r, 0).toLongLong(), qlonglong(r + 1));
    QCOMPARE(ds.Fields(0)->AsInteger(), id);
    QCOMPARE(ds.RecNo(), int(id));
    ds.Close();
}

void TstDataSet::indexReappliedWhenRowsArrive()
{
    TClientDataSet ds;
    ds.SetRemoteServer(m_conn.get());
    ds.SetProviderName(QStringLiteral("dspq0"));
    ds.SetPacketRecords(50);
    ds.SetIndexFieldNames(QStringLiteral("PRECIO")); // set before opening
    ds.SetCommandText(QStringLiteral("SELECT ID, PRECIO FROM TDATOS ORDER BY ID DESC"));
    ds.Open();
    QCOMPARE(ds.RecordCountFetched(), 50);
    ds.MoveTo(10);
    const qint64 id = ds.Fields(0)->AsInteger();
    QSignalSpy reordered(&ds, &TClientDataSet::RowsReordered);
    QSignalSpy appended(&ds, &TClientDataSet::RowsAppended);
    ds.FetchAll();
    QCOMPARE(ds.RecordCountFetched(), kRowCount);
    QCOMPARE(reordered.count(), 2);
    QCOMPARE(appended.count(), 0);
    QCOMPARE(ds.Fields(0)->AsInteger(), id);
    for (int r = 1; r < kRowCount; ++r) {
        const QVariant a = ds.ValueAt(r - 1, 1), b = ds.ValueAt(r, 1);
        QVERIFY(a.isNull() || (!b.isNull() && a.toDouble() <= b.toDouble()));
    }
    ds.Close();
}

void TstDataSet::saveToFile()
{
    TClientDataSet ds;
    bind(ds, QStringLiteral("SELECT ID, DATOS AS Bin FROM TDATOS WHERE ID <= 3 ORDER BY ID"), 2, "dspBin");
    ds.Open();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("Boton.bmp"));
    {
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(5000, 'z')); // longer than the blob: must not survive
    }
    TField *bin = ds.FieldByName(QStringLiteral("BIN"));
    QCOMPARE(bin->DataType(), TFieldType::Blob);
    bin->SaveToFile(target);
    QFile f(target);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), allBytes());
    f.close();

    ds.Next(); // a text value goes out as its UTF-8 bytes
    bin->SaveToFile(target);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QStringLiteral("Ñandú").toUtf8());
    f.close();

    ds.Next(); // NULL: an empty file
    bin->SaveToFile(target);
    QCOMPARE(QFileInfo(target).size(), 0);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Boton.bmp")});

    // A folder that does not exist: a clear failure, nothing written.
    const QString missing = dir.filePath(QStringLiteral("no/existe.bin"));
    QVERIFY(messageOf([&] { bin->SaveToFile(missing); }).startsWith(QStringLiteral("No se puede crear el archivo")));
    ds.Close();
}

void TstDataSet::twoDatasetsOnOneConnection()
{
    TClientDataSet q0, q1;
    for (TClientDataSet *ds : {&q0, &q1}) {
        ds->SetRemoteServer(m_conn.get());
        ds->SetPacketRecords(2);
    }
    q0.SetProviderName(QStringLiteral("dspq0"));
    q1.SetProviderName(QStringLiteral("dspq1"));
    q0.SetCommandText(QStringLiteral("SELECT ID FROM TDATOS ORDER BY ID"));
    q1.SetCommandText(QStringLiteral("SELECT ID FROM TDATOS ORDER BY ID DESC"));
    q0.Open();
    int n = 0;
    while (!q0.Eof()) {
        // The inner dataset is reopened for every outer row, as the quick
        // filters do, while the outer one keeps fetching packets.
        q1.Open();
        for (int k = 0; k < 3; ++k)
            q1.Next();
        QCOMPARE(q1.Fields(0)->AsInteger(), qint64(kRowCount - 3));
        q1.Close();
        ++n;
        QCOMPARE(q0.Fields(0)->AsInteger(), qint64(n));
        q0.Next();
    }
    QCOMPARE(n, kRowCount);
    q0.Close();
}

void TstDataSet::closeFreesServerCursor()
{
    // The server limits open cursors per session: a leak would fail long
    // before this loop ends.
    TClientDataSet ds;
    bind(ds, QStringLiteral("SELECT ID FROM TDATOS"), 2);
    for (int i = 0; i < 300; ++i) {
        ds.Open();
        ds.Close();
    }
    ds.Open();
    QVERIFY(!ds.Eof());
    ds.Close();
}

void TstDataSet::serverErrorsKeepTheirText()
{
    TClientDataSet ds;
    bind(ds, QStringLiteral("SELECT X FROM TNOEXISTE"));
    const QString open = messageOf([&] { ds.Open(); });
    QVERIFY2(open.startsWith(QStringLiteral("ORA-")), qPrintable(open));
    QVERIFY(!ds.Active());
    const QString call = messageOf([&] { m_conn->Call(QStringLiteral("EjeDir"), {QStringLiteral("DELETE FROM TNOEXISTE")}); });
    QVERIFY2(call.startsWith(QStringLiteral("ORA-")), qPrintable(call));
    // A server error leaves the session usable.
    QVERIFY(m_conn->Connected());
    ds.SetCommandText(QStringLiteral("SELECT COUNT(*) AS N FROM TDATOS"));
    ds.Open();
    QCOMPARE(ds.FieldByName("N")->AsInteger(), kRowCount);
    ds.Close();
}

void TstDataSet::connectionFailures()
{
    TSocketConnection never;
    never.SetHost(QStringLiteral("127.0.0.1"));
    QVERIFY(!never.Connected());
    QVERIFY(messageOf([&] { never.Call(QStringLiteral("dServer")); }).startsWith(QStringLiteral("No hay conexión")));

    // A port nobody listens on.
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    TSocketConnection refused;
    refused.SetHost(QStringLiteral("127.0.0.1"));
    refused.SetPort(port);
    const QString prefix = QStringLiteral("No se puede conectar con el servidor de aplicaciones 127.0.0.1:%1: ").arg(port);
    const QString msg = messageOf([&] { refused.Open(); });
    QVERIFY2(msg.startsWith(prefix) && msg.size() > prefix.size(), qPrintable(msg));

    // The server goes away under an open connection and an open dataset.
    DataFixture own;
    QVERIFY2(own.start(), qPrintable(own.error()));
    auto conn = own.connect();
    QCOMPARE(conn->Call(QStringLiteral("dServer")).isEmpty(), false);
    TClientDataSet ds;
    ds.SetRemoteServer(conn.get());
    ds.SetProviderName(QStringLiteral("dspq0"));
    ds.SetPacketRecords(2);
    ds.SetCommandText(kSelectAll);
    ds.Open();
    QSignalSpy dropped(conn.get(), &TSocketConnection::Disconnected);
    const quint16 serverPort = own.server().port();
    own.server().kill();
    const QString lost = messageOf([&] { conn->Call(QStringLiteral("MenIni")); });
    QCOMPARE(lost, QStringLiteral("Se perdió la conexión con el servidor de aplicaciones 127.0.0.1:%1").arg(serverPort));
    QCOMPARE(dropped.count(), 1);
    QVERIFY(!conn->Connected());
    ds.Close(); // tolerated on a dead connection
    QVERIFY(!ds.Active());
    QVERIFY(messageOf([&] { conn->Call(QStringLiteral("MenIni")); }).startsWith(QStringLiteral("No hay conexión")));
    QCOMPARE(dropped.count(), 1);
}

void TstDataSet::protocolErrorClosesConnection()
{
    // A reply announcing a frame far beyond the limit.
    QByteArray huge(4, '\xff');
    {
        FakePeer peer({helloOk(), huge});
        TSocketConnection c;
        c.SetHost(QStringLiteral("127.0.0.1"));
        c.SetPort(peer.port());
        c.SetTimeout(10000);
        c.Open();
        QSignalSpy dropped(&c, &TSocketConnection::Disconnected);
        const QString msg = messageOf([&] { c.Call(QStringLiteral("dServer")); });
        QVERIFY2(msg.startsWith(QStringLiteral("Error de protocolo con el servidor de aplicaciones 127.0.0.1:")),
                 qPrintable(msg));
        QVERIFY(!c.Connected());
        QCOMPARE(dropped.count(), 1);
    }
    // Garbage instead of the handshake: told by the first answer needed.
    {
        FakePeer peer({QByteArray("\0\0\0\x05\x63\0\0\0\1", 9)});
        TSocketConnection c;
        c.SetHost(QStringLiteral("127.0.0.1"));
        c.SetPort(peer.port());
        c.Open();
        QVERIFY(messageOf([&] { c.Call(QStringLiteral("dServer")); }).startsWith(QStringLiteral("Error de protocolo")));
        QVERIFY(!c.Connected());
    }
    // A peer that never answers: the call gives up after the timeout.
    {
        FakePeer peer({helloOk(), QByteArray()});
        TSocketConnection c;
        c.SetHost(QStringLiteral("127.0.0.1"));
        c.SetPort(peer.port());
        c.SetTimeout(300);
        c.Open();
        const QString msg = messageOf([&] { c.Call(QStringLiteral("dServer")); });
        QCOMPARE(msg, QStringLiteral("El servidor de aplicaciones 127.0.0.1:%1 no respondió a tiempo").arg(peer.port()));
        QVERIFY(!c.Connected());
    }
    // An answer to another request.
    {
        proto::Message r;
        r.type = proto::MsgType::CallResult;
        r.requestId = 99;
        FakePeer peer({helloOk(), proto::encode(r)});
        TSocketConnection c;
        c.SetHost(QStringLiteral("127.0.0.1"));
        c.SetPort(peer.port());
        c.Open();
        QVERIFY(messageOf([&] { c.Call(QStringLiteral("dServer")); }).startsWith(QStringLiteral("Error de protocolo")));
    }
}

void TstDataSet::shortDateFormat()
{
    QCOMPARE(ShortDateFormat(), QStringLiteral("DD/MM/YYYY"));
    QCOMPARE(DateTimeToStr(QDateTime(QDate(2024, 2, 9), QTime(0, 0))), QStringLiteral("09/02/2024"));
    QCOMPARE(DateTimeToStr(QDateTime(QDate(2024, 2, 9), QTime(7, 5, 3))), QStringLiteral("09/02/2024 07:05:03"));
    QCOMPARE(DateTimeToStr(QDateTime()), QString());
    QCOMPARE(StrToDateTime(QStringLiteral("09/02/2024")), QDateTime(QDate(2024, 2, 9), QTime(0, 0), Qt::UTC));
    QCOMPARE(StrToDateTime(QStringLiteral("9/2/2024 7:05:03")), QDateTime(QDate(2024, 2, 9), QTime(7, 5, 3), Qt::UTC));
    QVERIFY(!StrToDateTime(QStringLiteral("31/02/2024")).isValid());
    QVERIFY(!StrToDateTime(QStringLiteral("mañana")).isValid());
    SetShortDateFormat(QStringLiteral("yyyy-mm-dd"));
    QCOMPARE(DateTimeToStr(QDateTime(QDate(2024, 2, 9), QTime(0, 0))), QStringLiteral("2024-02-09"));
    QCOMPARE(StrToDateTime(QStringLiteral("2024-02-09")).date(), QDate(2024, 2, 9));
    // The shell's own format is written by hand; the same format spelled
    // otherwise takes the general way, and both must agree.
    const QList<QDateTime> samples{QDateTime(QDate(1000, 1, 1), QTime(0, 0)), QDateTime(QDate(999, 12, 31), QTime(0, 0)),
                                   QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59)),
                                   QDateTime(QDate(2024, 2, 29), QTime(0, 0, 1)), QDateTime(QDate(2026, 11, 7), QTime(12, 0))};
    QStringList general, own;
    SetShortDateFormat(QStringLiteral("dd/mm/yyyy"));
    for (const QDateTime &dt : samples)
        general << DateTimeToStr(dt);
    SetShortDateFormat(QStringLiteral("DD/MM/YYYY"));
    for (const QDateTime &dt : samples)
        own << DateTimeToStr(dt);
    QCOMPARE(own, general);
    QCOMPARE(own.value(2), QStringLiteral("31/12/9999 23:59:59"));
}

void TstDataSet::mixedColumnReadsAsEachValue()
{
    if (TestServer::postgres())
        QSKIP("a PostgreSQL column holds values of one type only");
    TClientDataSet ds;
    bind(ds, QStringLiteral("SELECT ID, V FROM TMIXTO ORDER BY ID"), 2);
    ds.Open();
    TField *v = ds.FieldByName(QStringLiteral("V"));
    const double days = double(QDate(1899, 12, 30).daysTo(QDate(2024, 3, 1))) + 10.0 / 24.0;
    struct Expected {
        QMetaType::Type type;
        QString text;
        QByteArray bytes;
        std::optional<double> number;
        std::optional<qint64> integer;
    };
    const QList<Expected> expected{
        {QMetaType::LongLong, QStringLiteral("7"), "7", 7.0, 7},
        {QMetaType::Double, QStringLiteral("2.5"), "2.5", 2.5, 3},
        {QMetaType::QString, QStringLiteral("doce"), "doce", {}, {}},
        {QMetaType::QByteArray, QString::fromUtf8("\0\xff" "A", 3), QByteArray("\0\xff" "A", 3), {}, {}},
        {QMetaType::UnknownType, QString(), QByteArray(), 0.0, 0},
        {QMetaType::QDateTime, QStringLiteral("01/03/2024 10:00:00"), "01/03/2024 10:00:00", days, qint64(days)},
    };
    for (const Expected &e : expected) {
        const QVariant value = v->AsVariant();
        QCOMPARE(value.typeId(), int(e.type));
        QCOMPARE(v->IsNull(), e.type == QMetaType::UnknownType);
        QCOMPARE(v->AsString(), e.text);
        QCOMPARE(v->TextOf(value), e.text); // the variant's text is the cell's
        QCOMPARE(v->AsBytes(), e.bytes);
        if (e.number) {
            QCOMPARE(v->AsFloat(), *e.number);
            QCOMPARE(v->FloatOf(value), *e.number);
            QCOMPARE(v->AsInteger(), *e.integer);
        } else {
            const QString message = messageOf([&] { v->AsFloat(); });
            QVERIFY2(message.endsWith(QStringLiteral("is not a valid floating point value")), qPrintable(message));
            QCOMPARE(messageOf([&] { v->FloatOf(value); }), message);
            QVERIFY(messageOf([&] { v->AsInteger(); }).endsWith(QStringLiteral("is not a valid integer value")));
        }
        ds.Next();
    }
    QVERIFY(ds.Eof());

    // Kinds in a fixed order: NULL, numbers, date-times, texts, blobs.
    ds.SetIndexFieldNames(QStringLiteral("V"));
    QList<qint64> ids;
    for (int r = 0; r < ds.RecordCountFetched(); ++r)
        ids.append(ds.ValueAt(r, 0).toLongLong());
    QCOMPARE(ids, (QList<qint64>{5, 2, 1, 6, 3, 4}));
    ds.Close();
}

void TstDataSet::longTextsAcrossManyPackets()
{
    TClientDataSet ds;
    bind(ds, QStringLiteral("SELECT ID, TEXTO FROM TLARGOS ORDER BY ID"), 3);
    for (int open = 0; open < 2; ++open) {
        ds.Open();
        TField *texto = ds.FieldByName(QStringLiteral("TEXTO"));
        // A cell read in place stays good while later packets arrive.
        const proto::Cell first = ds.CellAt(0, 1);
        ds.FetchAll();
        QCOMPARE(ds.RecordCountFetched(), 60);
        QVERIFY(ds.BytesFetched() > 60 * 100000);
        QCOMPARE(first.text(), largo(1));
        for (int id = 1; !ds.Eof(); ++id, ds.Next()) {
            QCOMPARE(ds.Fields(0)->AsInteger(), qint64(id));
            QCOMPARE(texto->AsString(), largo(id));
        }

        // Texts compare from their first character: "10:" before "1:".
        ds.SetIndexFieldNames(QStringLiteral("TEXTO"));
        QStringList sorted;
        for (int id = 1; id <= 60; ++id)
            sorted.append(largo(id));
        std::sort(sorted.begin(), sorted.end());
        for (int r = 0; r < 60; ++r)
            QCOMPARE(ds.CellAt(r, 1).text(), sorted.at(r));
        ds.SetIndexFieldNames(QString());
        ds.Close();
        QCOMPARE(ds.BytesFetched(), 0);
        QCOMPARE(ds.CellAt(0, 1).type, proto::ValueType::Null);
    }
}

void TstDataSet::prefetchCollectedByAnotherCall()
{
    TClientDataSet ahead, other;
    for (TClientDataSet *ds : {&ahead, &other}) {
        ds->SetRemoteServer(m_conn.get());
        ds->SetProviderName(QStringLiteral("dspq0"));
        ds->SetPacketRecords(5);
    }
    ahead.SetCommandText(QStringLiteral("SELECT ID FROM TDATOS ORDER BY ID"));
    other.SetCommandText(QStringLiteral("SELECT ID FROM TDATOS ORDER BY ID DESC"));
    ahead.Open();
    m_fixture.server().clearTrace();
    ahead.PrefetchMore(10);
    ahead.PrefetchMore(20);
    QCOMPARE(ahead.Prefetching(), 2);
    QCOMPARE(m_conn->Outstanding(), 2);
    QCOMPARE(ahead.RecordCountFetched(), 5); // asked, not yet taken

    // Calls and another cursor in between: they first collect both replies.
    QVERIFY(!m_conn->Call(QStringLiteral("dServer")).isEmpty());
    QCOMPARE(m_conn->Outstanding(), 0);
    other.Open();
    other.FetchMore();
    QCOMPARE(other.RecordCountFetched(), 10);
    QCOMPARE(other.ValueAt(9, 0).toLongLong(), qint64(kRowCount - 9));
    other.Close();
    QCOMPARE(m_fixture.server().fetches(), (QList<qint32>{10, 20, 5}));

    // The rows asked ahead come in order, then the walk goes on as usual.
    QSignalSpy appended(&ahead, &TClientDataSet::RowsAppended);
    QVERIFY(ahead.FetchMore());
    QCOMPARE(ahead.RecordCountFetched(), 15);
    QVERIFY(ahead.FetchMore());
    QCOMPARE(ahead.RecordCountFetched(), 35);
    QCOMPARE(appended.count(), 2);
    QCOMPARE(ahead.Prefetching(), 0);
    for (int id = 1; !ahead.Eof(); ++id, ahead.Next())
        QCOMPARE(ahead.Fields(0)->AsInteger(), qint64(id));
    QCOMPARE(ahead.RecordCountFetched(), kRowCount);
    QCOMPARE(ahead.PacketRecords(), 5);

    // Closed with a packet on its way: the reply is dropped when it comes,
    // and the connection goes on in step.
    ahead.Open();
    ahead.PrefetchMore(7);
    ahead.Close();
    m_conn->Call(QStringLiteral("MenIni"));
    QCOMPARE(m_conn->Outstanding(), 0);
}

void TstDataSet::prefetchErrorArrivesWhereRowsAreRead()
{
    // The value overflows from row 9 on: the server sends the rows before it,
    // then the failure.
    const QString sql = QStringLiteral(
        "SELECT ID, CASE WHEN ID > 8 THEN ABS(ID - 9223372036854775807 - 10) ELSE ID END V FROM TDATOS");
    TClientDataSet plain;
    plain.SetRemoteServer(m_conn.get());
    plain.SetProviderName(QStringLiteral("dspq0"));
    plain.SetPacketRecords(5);
    plain.SetCommandText(sql);
    plain.Open();
    const QString expected = messageOf([&] { plain.FetchAll(); });
    QVERIFY2(expected.startsWith(QStringLiteral("ORA-")), qPrintable(expected));
    plain.Close();

    TClientDataSet ds;
    bind(ds, sql, 5);
    ds.Open();
    ds.PrefetchMore(10);
    ds.PrefetchMore(10);
    QVERIFY(!m_conn->Call(QStringLiteral("dServer")).isEmpty()); // the failure is not this call's
    QVERIFY(ds.FetchMore());
    QCOMPARE(ds.RecordCountFetched(), 8);
    QCOMPARE(messageOf([&] { ds.FetchMore(); }), expected);
    QCOMPARE(ds.RecordCountFetched(), 8);
    QVERIFY(ds.Active());
    ds.Close();
    QVERIFY(m_conn->Connected());
}

void TstDataSet::prefetchLostWithTheConnection()
{
    // The peer hangs up on the fetch asked ahead.
    FakePeer peer({helloOk(), openResult(2, 2), FakePeer::hangUp()});
    TSocketConnection c;
    c.SetHost(QStringLiteral("127.0.0.1"));
    c.SetPort(peer.port());
    c.SetTimeout(10000);
    c.Open();
    QSignalSpy dropped(&c, &TSocketConnection::Disconnected);
    TClientDataSet ds;
    ds.SetRemoteServer(&c);
    ds.SetProviderName(QStringLiteral("dspq0"));
    ds.SetPacketRecords(2);
    ds.SetCommandText(QStringLiteral("SELECT ID FROM T"));
    ds.Open();
    ds.PrefetchMore(2);
    const QString lost =
        QStringLiteral("Se perdió la conexión con el servidor de aplicaciones 127.0.0.1:%1").arg(peer.port());
    // The call that finds the stream broken tells it, and so does the packet.
    QCOMPARE(messageOf([&] { c.Call(QStringLiteral("MenIni")); }), lost);
    QCOMPARE(messageOf([&] { ds.FetchMore(); }), lost);
    QCOMPARE(dropped.count(), 1);
    QCOMPARE(ds.RecordCountFetched(), 2);
    QCOMPARE(c.Outstanding(), 0);
    ds.Close();
    QVERIFY(!ds.Active());
}

QTEST_GUILESS_MAIN(TstDataSet)
#include "tst_dataset.moc"
