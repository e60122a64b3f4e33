// The file version text read from ELF notes and PE version resources, built
// here byte by byte, and from the binaries of this build.
#include "common/fileversion.h"
#include "fileversion/fixtures.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace vorel::test::fixtures;

class TestFileVersion : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &data)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size())
            qFatal("cannot write fixture %s", qPrintable(path));
        return path;
    }

    // Every prefix of a valid image reads as nothing or as the full text,
    // and random damage never takes the reader out of bounds.
    void checkDamage(const QByteArray &image, const QString &expected)
    {
        for (qsizetype n = 0; n <= image.size(); ++n) {
            const QString got = vorel::FileVersionText(write(QStringLiteral("prefix"), image.left(n)));
            if (!got.isEmpty() && got != expected)
                QFAIL(qPrintable(QStringLiteral("prefix %1 gave %2").arg(n).arg(got)));
        }
        QRandomGenerator rng(12345);
        for (int round = 0; round < 400; ++round) {
            QByteArray damaged = image;
            const int flips = 1 + int(rng.bounded(8));
            for (int i = 0; i < flips; ++i)
                damaged[rng.bounded(int(damaged.size()))] = char(rng.bounded(256));
            vorel::FileVersionText(write(QStringLiteral("damaged"), damaged));
        }
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void elfNotes_data()
    {
        QTest::addColumn<bool>("is64");
        QTest::addColumn<bool>("bigEndian");
        QTest::addColumn<int>("headers");
        for (bool is64 : {true, false})
            for (bool be : {false, true})
                for (Headers h : {Headers::Sections, Headers::Segments})
                    QTest::addRow("%s-%s-%s", is64 ? "elf64" : "elf32", be ? "be" : "le",
                                  h == Headers::Sections ? "sections" : "segments")
                        << is64 << be << int(h);
    }

    void elfNotes()
    {
        QFETCH(bool, is64);
        QFETCH(bool, bigEndian);
        QFETCH(int, headers);
        const Headers h = Headers(headers);
        // Our note after a foreign one; numbers at the edges of 16 bits.
        const QByteArray with = elf(is64, bigEndian, h, {gnuNote(), vorelNote({7, 0, 65535, 300})});
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("with"), with)), QStringLiteral("7.0.65535.300"));

        const QByteArray without = elf(is64, bigEndian, h, {gnuNote()});
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("without"), without)), QString());

        // Same owner, other type; and our type under another owner.
        Note otherType = vorelNote({1, 2, 3, 4});
        otherType.type = 1;
        Note otherOwner = vorelNote({1, 2, 3, 4});
        otherOwner.name = QByteArray("Vorex", 6);
        const QByteArray foreign = elf(is64, bigEndian, h, {otherType, otherOwner});
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("foreign"), foreign)), QString());
    }

    void elfDamage()
    {
        checkDamage(elf(true, false, Headers::Sections, {gnuNote(), vorelNote({7, 0, 0, 6})}),
                    QStringLiteral("7.0.0.6"));
        checkDamage(elf(false, true, Headers::Segments, {vorelNote({1, 2, 3, 4})}), QStringLiteral("1.2.3.4"));
    }

    void elfNoteSizesOutOfRange()
    {
        // A note whose name size runs past its section gives nothing.
        QByteArray image = elf(true, false, Headers::Sections, {vorelNote({7, 0, 0, 6})});
        image[0x100] = char(0xF0);
        image[0x103] = char(0x7F);
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("bad"), image)), QString());
    }

    void peVersionRecord_data()
    {
        QTest::addColumn<bool>("plus");
        QTest::newRow("pe32") << false;
        QTest::newRow("pe32+") << true;
    }

    void peVersionRecord()
    {
        QFETCH(bool, plus);
        // Major and minor in the most significant word, release and build in
        // the least.
        const QByteArray block = versionBlock(0x00070001, 0x0002FFFF);
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("dir"), pe(plus, block))),
                 QStringLiteral("7.1.2.65535"));
        // Filed under another type, or without a data directory: found in the
        // section by its key.
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("scan"), pe(plus, block, 3))),
                 QStringLiteral("7.1.2.65535"));
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("nodir"), pe(plus, block, 16, false))),
                 QStringLiteral("7.1.2.65535"));
    }

    void peWithoutVersionRecord()
    {
        const QByteArray noSignature = versionBlock(0x00070000, 0x00000006, 0x12345678);
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("nosig"), pe(false, noSignature))), QString());
        QByteArray otherKey = versionBlock(0x00070000, 0x00000006);
        otherKey[6] = 'X';
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("nokey"), pe(false, otherKey))), QString());
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("empty"), pe(false, QByteArray(16, '\0')))),
                 QString());
    }

    void peDamage()
    {
        const QByteArray image = pe(false, versionBlock(0x00070000, 0x00000006));
        checkDamage(image, QStringLiteral("7.0.0.6"));
        // Resource directory entries that point at themselves end too.
        QByteArray loop = image;
        Bytes patch;
        patch.data = loop;
        patch.set(0x200 + 0x18 + 16 + 4, 0x80000000u | 0x18, 4);
        patch.set(0x200 + 0x18 + 14, 0xFFFF, 2);
        vorel::FileVersionText(write(QStringLiteral("loop"), patch.data));
    }

    void missingEmptyAndOtherFiles()
    {
        QCOMPARE(vorel::FileVersionText(m_dir.filePath(QStringLiteral("nothing-here"))), QString());
        QCOMPARE(vorel::FileVersionText(QString()), QString());
        QCOMPARE(vorel::FileVersionText(m_dir.path()), QString());
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("zero"), QByteArray())), QString());
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("script"), "#!/bin/sh\necho hola\n")), QString());
    }

    void builtBinariesCarryTheBuildVersion_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *name : {"Vorel7", "libCambia.so", "libvorelcore.so", "libvorelgui.so", "Load.dll"})
            QTest::newRow(name) << QString::fromLatin1(name);
        if (QFile::exists(QStringLiteral(VOREL_BIN_DIR "/libComun.so")))
            QTest::newRow("libComun.so") << QStringLiteral("libComun.so");
    }

    void builtBinariesCarryTheBuildVersion()
    {
        QFETCH(QString, file);
        QCOMPARE(vorel::FileVersionText(QStringLiteral(VOREL_BIN_DIR "/") + file), QStringLiteral(VOREL_TEST_VERSION));
    }
};

QTEST_GUILESS_MAIN(TestFileVersion)
#include "tst_fileversion.moc"
