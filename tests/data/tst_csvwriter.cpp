#include "common/exception.h"
#include "csvread.h"
#include "data/celltext.h"
#include "data/csvwriter.h"
#include "support/messageof.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>
#include <cstdio>
#include <cstring>
#include <limits>

using namespace vorel;
using namespace vorel::test;

namespace {

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

using vorel::test::messageOf;

} // namespace

class TstCsvWriter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void roundTripOfAwkwardTexts();
    void bigFileAcrossManyFlushes();
    void nothingLandsBeforeCommitAndCancelLeavesTargetAlone();
    void failedOpenLeavesExistingFileAndNoLitter_data();
    void failedOpenLeavesExistingFileAndNoLitter();
    void fieldsFromBytesWriteAsTheirText();
    void numbersAndDatesWriteAsQtWritesThem();
    void deviceAndStreamOutput();
};

void TstCsvWriter::roundTripOfAwkwardTexts()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("salida.csv"));
    const QList<QStringList> rows{
        {QStringLiteral("Nombre"), QStringLiteral("Etiqueta \"rara\""), QStringLiteral("")},
        {QStringLiteral("\"\""), QStringLiteral("uno, dos"), QStringLiteral("línea 1\r\nlínea 2\nfin")},
        {QStringLiteral(" espacios "), QStringLiteral("\""), QStringLiteral("Ñandú")},
    };
    for (const TCsvWriter::Quoting q : {TCsvWriter::Quoting::All, TCsvWriter::Quoting::AsNeeded}) {
        TCsvWriter w(path, {q, "\r\n"});
        w.Open();
        for (const QStringList &r : rows)
            w.WriteRow(r);
        w.Commit();
        bool ok = false;
        QCOMPARE(readCsv(contents(path), &ok), rows);
        QVERIFY(ok);
    }
    // The list window's form: every field quoted, CR LF after every line.
    TCsvWriter w(path);
    w.Open();
    w.WriteRow({QStringLiteral("a"), QStringLiteral("b\"c")});
    w.Commit();
    QCOMPARE(contents(path), QByteArray("\"a\",\"b\"\"c\"\r\n"));
}

void TstCsvWriter::bigFileAcrossManyFlushes()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("grande.csv"));
    TCsvWriter w(path);
    w.Open();
    QList<QStringList> rows;
    for (int i = 0; i < 20000; ++i)
        rows.append({QString::number(i), QStringLiteral("valor \"%1\", más texto").arg(i)});
    for (const QStringList &r : rows)
        w.WriteRow(r);
    w.Commit();
    bool ok = false;
    QCOMPARE(readCsv(contents(path), &ok), rows);
    QVERIFY(ok);
}

void TstCsvWriter::nothingLandsBeforeCommitAndCancelLeavesTargetAlone()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("existe.csv"));
    writeFile(path, "antiguo\r\n");
    {
        TCsvWriter w(path);
        w.Open();
        for (int i = 0; i < 5000; ++i) // beyond one buffer: some bytes reach the disk
            w.WriteRow({QStringLiteral("nuevo contenido que no debe quedar"), QString::number(i)});
        QCOMPARE(contents(path), QByteArray("antiguo\r\n"));
        w.Cancel();
        QCOMPARE(contents(path), QByteArray("antiguo\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("existe.csv")});
        // A cancelled writer writes nothing more.
        QVERIFY(messageOf([&] { w.WriteRow({QStringLiteral("x")}); }).contains(path));
    }
    {
        TCsvWriter w(path);
        w.Open();
        w.WriteRow({QStringLiteral("abandonado")});
    } // destroyed without Commit
    QCOMPARE(contents(path), QByteArray("antiguo\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("existe.csv")});
}

void TstCsvWriter::failedOpenLeavesExistingFileAndNoLitter_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("missing folder") << false;
    QTest::newRow("read-only folder") << true;
}

void TstCsvWriter::failedOpenLeavesExistingFileAndNoLitter()
{
    QFETCH(bool, readOnly);
    QTemporaryDir dir;
    QString target;
    QString folder;
    if (readOnly) {
        folder = dir.filePath(QStringLiteral("solo"));
        QVERIFY(QDir().mkpath(folder));
        target = folder + QStringLiteral("/existe.csv");
        writeFile(target, "antiguo\r\n");
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        if (QFile f(folder + QStringLiteral("/prueba")); f.open(QIODevice::WriteOnly)) {
            f.remove();
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QSKIP("folder permissions are not enforced here (running as root)");
        }
    } else {
        target = dir.filePath(QStringLiteral("no/existe/salida.csv"));
    }
    TCsvWriter w(target);
    const QString message = messageOf([&] { w.Open(); });
    QVERIFY2(message.startsWith(QStringLiteral("No se puede crear el archivo ") + target + QStringLiteral(": ")),
             qPrintable(message));
    QVERIFY(message.size() > QStringLiteral("No se puede crear el archivo : ").size() + target.size());
    if (readOnly) {
        QCOMPARE(contents(target), QByteArray("antiguo\r\n"));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("existe.csv")});
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    } else {
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("no"))));
    }
    QVERIFY(messageOf([&] { w.Commit(); }).startsWith(QStringLiteral("No se puede escribir el archivo ")));
}

void TstCsvWriter::fieldsFromBytesWriteAsTheirText()
{
    // Bytes copied as they are must come out as a QString of them would:
    // the same for valid UTF-8, the replacement character for the rest.
    QList<QByteArray> samples{QByteArray(), QByteArray("plain"), QByteArray("a,\"b\"\r\n"),
                              QStringLiteral("Ñandú €𝄞").toUtf8(), QByteArray("\xef\xbb\xbf" "bom"),
                              QByteArray("\0nul", 4), QByteArray("\xc3"), QByteArray("\xc0\xaf"),
                              QByteArray("\xed\xa0\x80"), QByteArray("\xf4\x90\x80\x80"),
                              QByteArray("\xef\xbf\xbf"), QByteArray("\xe2\x82")};
    QRandomGenerator random(7);
    for (int i = 0; i < 2000; ++i) {
        QByteArray b(int(random.bounded(1, 8)), Qt::Uninitialized);
        for (char &c : b)
            c = char(random.bounded(i % 2 ? 0x80 : 0, 256)); // half of them from the bytes above ASCII
        samples.append(b);
    }
    for (const TCsvWriter::Quoting q : {TCsvWriter::Quoting::All, TCsvWriter::Quoting::AsNeeded}) {
        QBuffer direct, viaText;
        QVERIFY(direct.open(QIODevice::WriteOnly));
        QVERIFY(viaText.open(QIODevice::WriteOnly));
        TCsvWriter a(&direct, {q, "\n"}), b(&viaText, {q, "\n"});
        a.Open();
        b.Open();
        for (const QByteArray &sample : samples) {
            a.WriteUtf8(sample.constData(), sample.size());
            b.WriteField(QString::fromUtf8(sample));
            QVERIFY2(TCsvWriter::Utf8RoundTrips(sample.constData(), sample.size())
                         == (QString::fromUtf8(sample).toUtf8() == sample),
                     sample.toHex().constData());
        }
        for (const qint64 n :
             {qint64(0), qint64(-1), std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()}) {
            a.WriteInteger(n);
            b.WriteField(QString::number(n));
        }
        a.EndRow();
        b.EndRow();
        a.Commit();
        b.Commit();
        QCOMPARE(direct.data(), viaText.data());
    }
}

void TstCsvWriter::numbersAndDatesWriteAsQtWritesThem()
{
    // The exports write numbers and dates without a QString; the texts must
    // be those of one, at the layout's edges and in bulk.
    QList<double> numbers{0.0, -0.0, 1e15, 1e16, 999999999999999.0, 1000000000000005.0, 123456789012345678.0,
                          1e-4, 1e-5, 0.1 + 0.2, -1234.56, 1e100, 5e-324, 2.2250738585072014e-308,
                          std::numeric_limits<double>::max(), std::numeric_limits<double>::quiet_NaN(),
                          -std::numeric_limits<double>::infinity()};
    QRandomGenerator random(11);
    for (int i = 0; i < 20000; ++i) {
        const quint64 bits = random.generate64();
        double any;
        std::memcpy(&any, &bits, sizeof any);
        numbers << any << double(qint64(random.bounded(2000000000)) - 1000000000) / 100.0;
    }
    char text[CellTextRoom];
    for (const double v : numbers)
        QCOMPARE(QByteArray(text, FloatText15(v, text)), QString::number(v, 'g', 15).toLatin1());

    QList<qint64> moments{-1, 0, -86400000, 951782400000 /* 2000-02-29 */, -2203891200000 /* 1900-03-01 */,
                          -30610224000000 /* 1000-01-01 */, 253402300799999 /* 9999-12-31 23:59:59.999 */};
    for (int i = 0; i < 20000; ++i)
        moments << qint64(random.bounded(Q_INT64_C(283813084800000))) - Q_INT64_C(30610224000000);
    for (const qint64 ms : moments) {
        const QDateTime dt = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
        const TWireDateTime t = SplitWireDateTime(ms);
        QCOMPARE(QByteArray(text, DayMonthYearText(t, true, text)),
                 dt.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")).toLatin1());
        QCOMPARE(t.Msec, dt.time().msec());
    }
    QCOMPARE(DayMonthYearText(SplitWireDateTime(-30610224000001), false, text), 0);
}

void TstCsvWriter::deviceAndStreamOutput()
{
    // A device: written as it fills and on Commit, left open; Cancel drops
    // only what was still buffered.
    QBuffer device;
    QVERIFY(device.open(QIODevice::WriteOnly));
    {
        TCsvWriter w(&device, {TCsvWriter::Quoting::AsNeeded, "\n"});
        QVERIFY(messageOf([&] { w.WriteRow({QStringLiteral("x")}); }).contains(QStringLiteral("no está abierta")));
        w.Open();
        w.WriteRow({QStringLiteral("a"), QStringLiteral("b,c")});
        QCOMPARE(device.data(), QByteArray());
        w.Commit();
        QCOMPARE(device.data(), QByteArray("a,\"b,c\"\n"));
        w.Open();
        w.WriteRow({QStringLiteral("perdida")});
        w.Cancel();
    }
    QVERIFY(device.isOpen());
    QCOMPARE(device.data(), QByteArray("a,\"b,c\"\n"));

    // A device that takes nothing: the failure is told, not swallowed.
    QBuffer closed;
    QVERIFY(closed.open(QIODevice::ReadOnly));
    TCsvWriter refused(&closed, {});
    QCOMPARE(messageOf([&] { refused.Open(); }), QStringLiteral("No se puede escribir en la salida: no está abierta"));

    // A stream: what the writer writes and what is written to the stream
    // around it keep their order.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("flujo.txt"));
    // Binary: the bytes as written, on every system.
    FILE *stream = std::fopen(QFile::encodeName(path).constData(), "wb");
    QVERIFY(stream);
    std::fputs("antes\n", stream);
    {
        TCsvWriter w(stream, {TCsvWriter::Quoting::All, "\r\n"});
        w.Open();
        w.WriteInteger(12);
        w.WriteUtf8("dos", 3);
        w.EndRow();
        w.Commit();
    }
    std::fputs("después\n", stream);
    std::fclose(stream);
    QCOMPARE(contents(path), QStringLiteral("antes\n\"12\",\"dos\"\r\ndespués\n").toUtf8());
}

QTEST_GUILESS_MAIN(TstCsvWriter)
#include "tst_csvwriter.moc"
