// The shared image list filled from button files: transparency, size, and
// files that are not button images.
#include "runtime/imagelist.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using vorel::TImageList;

namespace {

const QColor kMagenta(255, 0, 255);

QByteArray bmp(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return data;
}

// A 24-bit bitmap header claiming `width` x `height` with `pixels` bytes of
// data behind it.
QByteArray bmpHeader(qint32 width, qint32 height, int bits, quint32 compression, int pixels)
{
    QByteArray d(54, '\0');
    auto put32 = [&](int at, quint32 v) { qToLittleEndian(v, d.data() + at); };
    auto put16 = [&](int at, quint16 v) { qToLittleEndian(v, d.data() + at); };
    d[0] = 'B';
    d[1] = 'M';
    put32(2, 54 + pixels);
    put32(10, 54 + (bits <= 8 ? 4 << bits : 0));
    put32(14, 40);
    put32(18, quint32(width));
    put32(22, quint32(height));
    put16(26, 1);
    put16(28, quint16(bits));
    put32(30, compression);
    if (bits <= 8)
        d.append(QByteArray(4 << bits, char(0xFF)));
    d.append(QByteArray(pixels, char(0x7F)));
    return d;
}

} // namespace

class TstImageList : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &data)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void buttonWithTransparentColour()
    {
        QImage image(16, 16, QImage::Format_RGB32);
        image.fill(kMagenta);
        image.setPixelColor(3, 4, QColor(0, 128, 0));
        TImageList list;
        QVERIFY(list.AddBitmapFile(write(QStringLiteral("00.bmp"), bmp(image)), kMagenta));
        const QImage got = list.Pixmap(0).toImage();
        QCOMPARE(got.size(), QSize(16, 16));
        QCOMPARE(got.pixelColor(0, 0).alpha(), 0);
        QCOMPARE(got.pixelColor(3, 4), QColor(0, 128, 0));
    }

    void otherSizesAreScaled()
    {
        QImage strip(32, 16, QImage::Format_RGB32);
        strip.fill(Qt::blue);
        TImageList list;
        QVERIFY(list.AddBitmapFile(write(QStringLiteral("strip.bmp"), bmp(strip)), kMagenta));
        QCOMPARE(list.Pixmap(0).size(), QSize(16, 16));
    }

    // Such a file keeps its index, as an empty image.
    void notButtonImages_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("text") << QByteArray("Esto no es un mapa de bits\n");
        QTest::newRow("empty") << QByteArray();
        // Headers claiming images far beyond a button, with a few bytes of
        // pixels: their size alone used to be allocated, filled and scaled.
        QTest::newRow("very wide") << bmpHeader(1966352, 16, 24, 0, 80);
        QTest::newRow("very tall") << bmpHeader(16, 458768, 24, 0, 80);
        QTest::newRow("very tall, bottom up") << bmpHeader(16, -458768, 24, 0, 80);
        QTest::newRow("run-length, huge") << bmpHeader(6000, 6000, 8, 1, 4);
        QTest::newRow("just too wide") << bmpHeader(1025, 1, 24, 0, 80);
    }
    void notButtonImages()
    {
        QFETCH(QByteArray, data);
        QImage before(16, 16, QImage::Format_RGB32);
        before.fill(Qt::red);
        TImageList list;
        QVERIFY(list.AddBitmapFile(write(QStringLiteral("01.bmp"), bmp(before)), kMagenta));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!list.AddBitmapFile(write(QStringLiteral("02.bmp"), data), kMagenta));
        QVERIFY2(timer.elapsed() < 200, qPrintable(QStringLiteral("%1 ms").arg(timer.elapsed())));
        QVERIFY(list.AddBitmapFile(write(QStringLiteral("03.bmp"), bmp(before)), kMagenta));
        QCOMPARE(list.Count(), 3);
        QCOMPARE(list.Pixmap(1).size(), QSize(16, 16));
        QCOMPARE(list.Pixmap(1).toImage().pixelColor(5, 5).alpha(), 0);
        QCOMPARE(list.Pixmap(2).toImage().pixelColor(5, 5), QColor(Qt::red));
    }

    void largestButtonStillLoads()
    {
        QImage big(1024, 16, QImage::Format_RGB32);
        big.fill(Qt::green);
        TImageList list;
        QVERIFY(list.AddBitmapFile(write(QStringLiteral("big.bmp"), bmp(big)), kMagenta));
        QCOMPARE(list.Pixmap(0).toImage().pixelColor(8, 8), QColor(Qt::green));
    }
};

QTEST_MAIN(TstImageList)
#include "tst_imagelist.moc"
