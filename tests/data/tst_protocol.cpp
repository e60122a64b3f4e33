#include "data/protocol.h"

#include <QPoint>
#include <QScopeGuard>
#include <QTest>
#include <QtEndian>
#include <limits>

using namespace vorel::proto;

namespace {

QByteArray payloadOf(const QByteArray &frame) { return frame.mid(kHeaderSize); }

QByteArray frameOf(const QByteArray &payload)
{
    char h[4];
    qToBigEndian(quint32(payload.size()), h);
    return QByteArray(h, 4) + payload;
}

Message sampleOpenResult()
{
    Message m;
    m.type = MsgType::OpenResult;
    m.requestId = 77;
    m.cursor = 5;
    m.columns = {Column{QStringLiteral("ID"), ValueType::Integer, 8},
                 Column{QStringLiteral("NOMBRE"), ValueType::Text, 40},
                 Column{QStringLiteral("DATOS"), ValueType::Blob, 0}};
    for (int i = 0; i < 3; ++i)
        m.rows.appendRow(QVariantList{qlonglong(i), QStringLiteral("fila %1").arg(i), QByteArray(i, 'x')});
    m.rows.eof = false;
    return m;
}

} // namespace

class TstProtocol : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void dateKeepsWallClock();
    void wallClockIgnoresDaylightSaving();
    void unsupportedValueRefused();
    void messagesRoundTrip();
    void rowsFrameWrittenInPlace();
    void framesSplitAnywhere();
    void oversizedHeaderRejectedEarly();
    void malformedPayloadsRejected_data();
    void malformedPayloadsRejected();
    void everyTruncationRejected();
};

void TstProtocol::valuesRoundTrip_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("null") << QVariant();
    QTest::newRow("int64 max") << QVariant(std::numeric_limits<qlonglong>::max());
    QTest::newRow("int64 min") << QVariant(std::numeric_limits<qlonglong>::min());
    QTest::newRow("zero") << QVariant(qlonglong(0));
    QTest::newRow("float") << QVariant(1234567.25);
    QTest::newRow("negative tiny float") << QVariant(-1e-300);
    QTest::newRow("text") << QVariant(QStringLiteral("Ñandú — año 2024 €"));
    QTest::newRow("empty text") << QVariant(QString(""));
    QTest::newRow("date-time") << QVariant(QDateTime(QDate(2024, 3, 15), QTime(14, 30, 15, 250), Qt::UTC));
    QTest::newRow("empty blob") << QVariant(QByteArray(""));
    QByteArray bin;
    for (int i = 0; i < 256; ++i)
        bin.append(char(i));
    QTest::newRow("binary blob") << QVariant(bin);
}

void TstProtocol::valuesRoundTrip()
{
    QFETCH(QVariant, value);
    Message m;
    m.type = MsgType::CallResult;
    m.requestId = 9;
    m.value = value;
    const Message back = decodePayload(payloadOf(encode(m)));
    QCOMPARE(back.type, MsgType::CallResult);
    QCOMPARE(back.requestId, 9u);
    if (!value.isValid()) {
        QVERIFY(back.value.isNull());
        return;
    }
    QCOMPARE(back.value.typeId(), value.typeId());
    QCOMPARE(back.value, value);
    if (value.typeId() == QMetaType::QByteArray || value.typeId() == QMetaType::QString)
        QVERIFY(!back.value.isNull()); // empty is not NULL
}

void TstProtocol::dateKeepsWallClock()
{
    // A plain date travels as midnight of that day whatever the local zone.
    Writer w;
    w.value(QVariant(QDate(2023, 12, 31)));
    Reader r(w.data());
    const QDateTime dt = r.value().toDateTime();
    QCOMPARE(dt.date(), QDate(2023, 12, 31));
    QCOMPARE(dt.time(), QTime(0, 0));
}

void TstProtocol::wallClockIgnoresDaylightSaving()
{
    // A reading that local time cannot hold (the spring-forward gap) or holds
    // twice (the autumn overlap) travels and comes back unchanged.
    const QByteArray savedTz = qgetenv("TZ");
    qputenv("TZ", "Europe/Madrid");
    const auto restore = qScopeGuard([&] {
        if (savedTz.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", savedTz);
    });
    const std::pair<QDate, QTime> readings[] = {{QDate(2024, 3, 31), QTime(2, 30)},
                                                 {QDate(2024, 10, 27), QTime(2, 30)},
                                                 {QDate(2024, 3, 31), QTime(0, 0)}};
    for (const auto &[date, time] : readings) {
        Writer w;
        w.u8(quint8(ValueType::DateTime));
        w.i64(toWireDateTime(QDateTime(date, time, Qt::UTC)));
        Reader r(w.data());
        const QDateTime back = r.value().toDateTime();
        QVERIFY(back.isValid());
        QCOMPARE(back.date(), date);
        QCOMPARE(back.time(), time);
        QCOMPARE(toWireDateTime(back), toWireDateTime(QDateTime(date, time, Qt::UTC)));
    }
}

void TstProtocol::unsupportedValueRefused()
{
    Writer w;
    QVERIFY_THROWS_EXCEPTION(ProtocolError, w.value(QVariant(QPoint(1, 2))));
    Message m;
    m.type = MsgType::CallResult;
    m.value = QVariant(QPoint(1, 2));
    QVERIFY_THROWS_EXCEPTION(ProtocolError, encode(m));
}

void TstProtocol::messagesRoundTrip()
{
    Message call;
    call.type = MsgType::Call;
    call.requestId = 0xfffffffe;
    call.text = QStringLiteral("Login");
    call.args = {QStringLiteral("1001"), QStringLiteral("clave ñ"), QString(), QStringLiteral("127.0.0.1")};
    call.flags = vorel::proto::Chained;
    Message back = decodePayload(payloadOf(encode(call)));
    QCOMPARE(back.requestId, call.requestId);
    QCOMPARE(back.flags, call.flags);
    QCOMPARE(back.text, call.text);
    QCOMPARE(back.args, call.args);

    Message open;
    open.type = MsgType::Open;
    open.text = QStringLiteral("dspq1");
    open.sql = QStringLiteral("SELECT 1\r\nFROM DUAL");
    open.count = 2;
    open.flags = vorel::proto::Detached;
    back = decodePayload(payloadOf(encode(open)));
    QCOMPARE(back.flags, open.flags);
    QCOMPARE(back.text, open.text);
    QCOMPARE(back.sql, open.sql);
    QCOMPARE(back.count, 2);

    const Message res = sampleOpenResult();
    back = decodePayload(payloadOf(encode(res)));
    QCOMPARE(back.cursor, 5u);
    QCOMPARE(back.columns.size(), 3);
    QCOMPARE(back.columns[1].name, QStringLiteral("NOMBRE"));
    QCOMPARE(back.columns[1].type, ValueType::Text);
    QCOMPARE(back.columns[1].size, 40);
    QCOMPARE(back.rows.allRows(), res.rows.allRows());
    QVERIFY(back.rows == res.rows);
    QCOMPARE(back.rows.eof, false);

    Message error;
    error.type = MsgType::Error;
    error.text = QStringLiteral("ORA-00942: table or view does not exist");
    QCOMPARE(decodePayload(payloadOf(encode(error))).text, error.text);

    // A row whose width disagrees with the columns is never sent.
    Message bad = sampleOpenResult();
    bad.rows = RowBlock(2);
    bad.rows.appendRow({qlonglong(1), QStringLiteral("x")});
    QVERIFY_THROWS_EXCEPTION(ProtocolError, encode(bad));
}

// A Rows frame written around its rows must be the frame written by copy,
// whatever the block: built for it, plain, shared with another message, empty.
void TstProtocol::rowsFrameWrittenInPlace()
{
    const Message sample = sampleOpenResult();
    for (int kind = 0; kind < 4; ++kind) {
        Message m;
        m.type = MsgType::Rows;
        m.requestId = 0x01020304;
        m.width = 3;
        m.rows = kind == 1 ? RowBlock(3) : RowBlock::withFrameRoom(3);
        if (kind != 3)
            for (qsizetype r = 0; r < sample.rows.size(); ++r)
                m.rows.appendRowOf(sample.rows, r);
        m.rows.eof = kind == 0;
        const QByteArray copied = encode(m);
        std::optional<Message> other;
        if (kind == 2)
            other = m; // shares the rows' bytes, which must stay as they are
        QCOMPARE(encode(std::move(m)), copied);
        // Only the rows built for their frame became it.
        QCOMPARE(m.rows.isEmpty(), kind == 0 || kind == 3);
        if (other)
            QCOMPARE(encode(*other), copied);
        const Message back = decodePayload(payloadOf(copied));
        QCOMPARE(back.requestId, 0x01020304u);
        QCOMPARE(back.rows.allRows(), kind == 3 ? QList<QVariantList>() : sample.rows.allRows());
        QCOMPARE(back.rows.eof, kind == 0);
    }
    // An unfinished row is refused as by the copy.
    Message half;
    half.type = MsgType::Rows;
    half.width = 2;
    half.rows = RowBlock::withFrameRoom(2);
    half.rows.beginRow();
    half.rows.addNull();
    QVERIFY_THROWS_EXCEPTION(ProtocolError, encode(std::move(half)));
}

void TstProtocol::framesSplitAnywhere()
{
    Message call;
    call.type = MsgType::Call;
    call.text = QStringLiteral("EjeDir");
    call.args = {QStringLiteral("DELETE FROM TDATOS")};
    const QByteArray stream = encode(sampleOpenResult()) + encode(call);
    const QByteArray first = payloadOf(encode(sampleOpenResult()));

    auto collect = [](FrameReader &fr, QList<QByteArray> &out) {
        while (auto p = fr.next())
            out.append(*p);
    };

    {
        FrameReader fr;
        QList<QByteArray> got;
        for (char c : stream) {
            fr.feed(QByteArray(1, c));
            collect(fr, got);
        }
        QCOMPARE(got.size(), 2);
        QCOMPARE(got[0], first);
        QCOMPARE(decodePayload(got[1]).args, call.args);
        QCOMPARE(fr.buffered(), 0);
    }
    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        FrameReader fr;
        QList<QByteArray> got;
        fr.feed(stream.left(cut));
        collect(fr, got);
        fr.feed(stream.mid(cut));
        collect(fr, got);
        QCOMPARE(got.size(), 2);
        QCOMPARE(got[0], first);
        QCOMPARE(decodePayload(got[1]).text, QStringLiteral("EjeDir"));
    }
}

void TstProtocol::oversizedHeaderRejectedEarly()
{
    // Only the header has arrived: the reader must refuse it now, before
    // buffering (or allocating) anything of the announced size.
    FrameReader fr;
    char h[4];
    qToBigEndian(quint32(kMaxFrame + 1), h);
    QVERIFY_THROWS_EXCEPTION(ProtocolError, fr.feed(QByteArray(h, 4)));

    FrameReader split;
    split.feed(QByteArray(h, 2));
    QVERIFY(!split.next());
    QVERIFY_THROWS_EXCEPTION(ProtocolError, split.feed(QByteArray(h + 2, 2)));

    // A huge header right behind a good frame is refused when the good one is taken.
    FrameReader behind(1024);
    qToBigEndian(quint32(0xffffffffu), h);
    QByteArray good = encode(sampleOpenResult());
    behind.feed(good + QByteArray(h, 4));
    QVERIFY_THROWS_EXCEPTION(ProtocolError, behind.next());

    // The limit is the reader's own: a smaller one is honoured.
    FrameReader small(16);
    QVERIFY_THROWS_EXCEPTION(ProtocolError, small.feed(good));
}

void TstProtocol::malformedPayloadsRejected_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("type only") << QByteArray("\x0b", 1);
    QTest::newRow("unknown message type") << QByteArray("\x63\0\0\0\1", 5);
    QTest::newRow("unknown value tag") << QByteArray("\x0b\0\0\0\1\x09", 6);
    QTest::newRow("trailing byte") << payloadOf([] {
        Message m;
        m.type = MsgType::Closed;
        return encode(m);
    }()) + QByteArray(1, '\0');
    QTest::newRow("text longer than payload") << QByteArray("\x1e\0\0\0\1\0\0\0\x10" "abc", 12);
    QTest::newRow("text length 0xffffffff") << QByteArray("\x1e\0\0\0\1\xff\xff\xff\xff", 9);
    QTest::newRow("bad handshake magic") << QByteArray("\x01\0\0\0\1VOREX\0\1", 12);
    QTest::newRow("unknown request flags") << QByteArray("\x18\0\0\0\1\x04\0\0\0\1", 10);
    QTest::newRow("skipped with a body") << QByteArray("\x1f\0\0\0\1\0", 6);
    // Rows: width 1, four billion rows announced in a frame of a few bytes.
    QTest::newRow("row count beyond frame") << QByteArray("\x17\0\0\0\1\0\1\xff\xff\xff\xf0\0\1", 13);
    QTest::newRow("rows without columns") << QByteArray("\x17\0\0\0\1\0\0\0\0\0\1\1", 12);
    QTest::newRow("unknown column type")
        << QByteArray("\x15\0\0\0\1\0\0\0\1\0\1\0\0\0\1X\x09\0\0\0\0\0\0\0\0\1", 26);
}

void TstProtocol::malformedPayloadsRejected()
{
    QFETCH(QByteArray, payload);
    QVERIFY_THROWS_EXCEPTION(ProtocolError, decodePayload(payload));
}

void TstProtocol::everyTruncationRejected()
{
    // Cutting a valid payload short anywhere must fail cleanly, never read
    // past the end.
    const QByteArray full = payloadOf(encode(sampleOpenResult()));
    for (qsizetype n = 0; n < full.size(); ++n) {
        FrameReader fr;
        fr.feed(frameOf(full.left(n)));
        const auto p = fr.next();
        QVERIFY(p);
        QVERIFY_THROWS_EXCEPTION(ProtocolError, decodePayload(*p));
    }
    QCOMPARE(decodePayload(full).rows.size(), 3);
}

QTEST_GUILESS_MAIN(TstProtocol)
#include "tst_protocol.moc"
