// The file version text read from ELF notes and PE version resources, built
// here byte by byte, and from the binaries of this build.
#include "common/fileversion.h"
#include "fileversion/fixtures.h"

#include <QElapsedTimer>
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

    static qsizetype littleEndian(const QByteArray &data, qsizetype at, int width)
    {
        quint64 v = 0;
        for (int i = 0; i < width; ++i)
            v |= quint64(uchar(data[at + i])) << (8 * i);
        return qsizetype(v);
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

    // Headers cut short at each structure the reader goes through.
    void peTruncatedHeaders_data()
    {
        QTest::addColumn<int>("length");
        QTest::newRow("dos header") << 0x40;
        QTest::newRow("inside the signature") << 0x82;
        QTest::newRow("inside the file header") << 0x90;
        QTest::newRow("before the data directories") << int(peAt::rvaCount);
        QTest::newRow("inside the section header") << int(peAt::section + 20);
        QTest::newRow("inside the resource directory") << int(peAt::rsrc + 0x20);
        QTest::newRow("inside the version block") << int(peAt::rsrc + 0x58 + 20);
    }
    void peTruncatedHeaders()
    {
        QFETCH(int, length);
        const QByteArray image = pe(false, versionBlock(0x00070000, 0x00000006)).left(length);
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("cut"), image)), QString());
    }

    // Offsets read from the file that point past its end. Where the block
    // itself is intact it is still found by its key.
    void peOffsetsPastTheEnd_data()
    {
        QTest::addColumn<qsizetype>("at");
        QTest::addColumn<quint32>("value");
        QTest::addColumn<QString>("expected");
        const QString found = QStringLiteral("7.0.0.6");
        QTest::newRow("pe header") << peAt::lfanew << 0x00100000u << QString();
        QTest::newRow("pe header at the top") << peAt::lfanew << 0xFFFFFFFFu << QString();
        QTest::newRow("resource section data") << peAt::sectionRaw << 0x00100000u << QString();
        QTest::newRow("resource section at the top") << peAt::sectionRaw << 0xFFFFFFF0u << QString();
        QTest::newRow("resource directory rva") << peAt::resourceRva << 0x00FFFF00u << found;
        QTest::newRow("data entry rva") << peAt::dataEntry << 0x1000u + 0x00100000u << found;
        QTest::newRow("data entry in the virtual tail") << peAt::sectionVirtualSize << 0x00200000u << found;
    }
    void peOffsetsPastTheEnd()
    {
        QFETCH(qsizetype, at);
        QFETCH(quint32, value);
        QFETCH(QString, expected);
        Bytes image;
        image.data = pe(false, versionBlock(0x00070000, 0x00000006));
        image.set(at, value, 4);
        if (at == peAt::sectionVirtualSize)
            image.set(peAt::dataEntry, 0x1000 + 0x00100000, 4);
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("past"), image.data)), expected);
    }

    // Sizes far beyond the file: the parts that do lie inside still read.
    void peHugeSizes_data()
    {
        QTest::addColumn<qsizetype>("at");
        QTest::addColumn<quint32>("value");
        QTest::addColumn<int>("width");
        QTest::newRow("resource directory") << peAt::resourceSize << 0xFFFFFFFFu << 4;
        QTest::newRow("section raw size") << peAt::sectionRawSize << 0xFFFFFFFFu << 4;
        QTest::newRow("section virtual size") << peAt::sectionVirtualSize << 0xFFFFFFFFu << 4;
        QTest::newRow("data entry") << peAt::dataEntry + 4 << 0xFFFFFFFFu << 4;
        QTest::newRow("entry count") << peAt::rsrc + 14 << 0xFFFFu << 2;
        QTest::newRow("named entry count") << peAt::rsrc + 0x18 + 12 << 0xFFFFu << 2;
        QTest::newRow("block length") << peAt::rsrc + 0x58 << 0xFFFFu << 2;
        QTest::newRow("section count") << qsizetype(0x86) << 0xFFFFu << 2;
    }
    void peHugeSizes()
    {
        QFETCH(qsizetype, at);
        QFETCH(quint32, value);
        QFETCH(int, width);
        Bytes image;
        image.data = pe(false, versionBlock(0x00070000, 0x00000006));
        image.set(at, value, width);
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("huge"), image.data)), QStringLiteral("7.0.0.6"));
    }

    void peResourceLoops()
    {
        const QByteArray good = pe(false, versionBlock(0x00070000, 0x00000006));
        // Name and language levels that point back at the root.
        for (qsizetype entry : {peAt::rsrc + 0x18 + 16 + 4, peAt::rsrc + 0x30 + 16 + 4}) {
            Bytes loop;
            loop.data = good;
            loop.set(entry, 0x80000000u, 4);
            QCOMPARE(vorel::FileVersionText(write(QStringLiteral("loop"), loop.data)), QStringLiteral("7.0.0.6"));
        }
        // A version type entry leading back to the root before the real one:
        // the second entry still leads to the block. The type directory gets
        // a second entry in place of its name directory, which moves to the
        // free bytes after the block.
        {
            QByteArray rsrc = good.mid(peAt::rsrc);
            Bytes r;
            r.data = rsrc;
            const qsizetype moved = rsrc.size();
            r.raw(rsrc.mid(0x18, 0x18));
            r.set(moved + 16 + 4, 0x80000000u | 0x30, 4);
            r.set(14, 2, 2);
            r.set(0x10, 16, 4);
            r.set(0x14, 0x80000000u, 4); // back to the root
            r.set(0x18, 16, 4);
            r.set(0x1C, 0x80000000u | quint32(moved), 4);
            Bytes image;
            image.data = good.left(peAt::rsrc) + r.data;
            image.set(peAt::resourceSize, quint64(r.data.size()), 4);
            image.set(peAt::sectionVirtualSize, quint64(r.data.size()), 4);
            image.set(peAt::sectionRawSize, quint64(r.data.size()), 4);
            QCOMPARE(vorel::FileVersionText(write(QStringLiteral("loopfirst"), image.data)),
                     QStringLiteral("7.0.0.6"));
        }
        // Every level's entries all pointing at one directory below, with
        // the data entry's RVA in no section and many sections to look
        // through: each directory is walked once, so this ends at once.
        QElapsedTimer timer;
        timer.start();
        const QByteArray shared = peWithResources(sharedResourceTree(256), 2000);
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("shared"), shared)), QString());
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QStringLiteral("%1 ms").arg(timer.elapsed())));
    }

    void elfOffsetsAndSizesOutOfRange_data()
    {
        QTest::addColumn<bool>("is64");
        QTest::addColumn<int>("headers");
        QTest::addColumn<int>("field");
        QTest::addColumn<quint64>("value");
        // field: 0 table offset, 1 entry count, 2 note offset, 3 note size
        for (bool is64 : {true, false}) {
            const char *cls = is64 ? "elf64" : "elf32";
            const quint64 top = is64 ? ~quint64(0) : 0xFFFFFFFFu;
            for (Headers h : {Headers::Sections, Headers::Segments}) {
                const char *kind = h == Headers::Sections ? "sections" : "segments";
                QTest::addRow("%s %s table past the end", cls, kind) << is64 << int(h) << 0 << quint64(0x100000);
                QTest::addRow("%s %s table at the top", cls, kind) << is64 << int(h) << 0 << (top - 0x3F);
                QTest::addRow("%s %s many entries", cls, kind) << is64 << int(h) << 1 << quint64(0xFFFF);
                QTest::addRow("%s %s notes past the end", cls, kind) << is64 << int(h) << 2 << quint64(0x100000);
                QTest::addRow("%s %s notes at the top", cls, kind) << is64 << int(h) << 2 << (top - 3);
                QTest::addRow("%s %s huge notes", cls, kind) << is64 << int(h) << 3 << top;
            }
        }
    }
    void elfOffsetsAndSizesOutOfRange()
    {
        QFETCH(bool, is64);
        QFETCH(int, headers);
        QFETCH(int, field);
        QFETCH(quint64, value);
        const Headers h = Headers(headers);
        const bool sections = h == Headers::Sections;
        Bytes image;
        image.data = elf(is64, false, h, {vorelNote({7, 0, 0, 6})});
        const int word = is64 ? 8 : 4;
        const qsizetype tableAt = sections ? (is64 ? 0x28 : 0x20) : (is64 ? 0x20 : 0x1C);
        const qsizetype countAt = sections ? (is64 ? 0x3C : 0x30) : (is64 ? 0x38 : 0x2C);
        const qsizetype entrySize = sections ? (is64 ? 64 : 40) : (is64 ? 56 : 32);
        // The notes' entry: after the null and program-bits sections, or
        // after the loadable segment.
        const qsizetype note = littleEndian(image.data, tableAt, word) + entrySize * (sections ? 2 : 1);
        const qsizetype offsetAt = note + (sections ? (is64 ? 0x18 : 0x10) : (is64 ? 0x08 : 0x04));
        const qsizetype sizeAt = note + (sections ? (is64 ? 0x20 : 0x14) : (is64 ? 0x20 : 0x10));
        switch (field) {
        case 0: image.set(tableAt, value, word); break;
        case 1: image.set(countAt, value, 2); break;
        case 2: image.set(offsetAt, value, word); break;
        case 3: image.set(sizeAt, value, word); break;
        }
        // Many entries: the ones inside the file are still read.
        const QString expected = field == 1 ? QStringLiteral("7.0.0.6") : QString();
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("elf"), image.data)), expected);
        QVERIFY(timer.elapsed() < 5000);
    }

    // A table whose entries would wrap round the end of the address space
    // onto the real headers is no table.
    void elfTableWrappingRound()
    {
        Bytes image;
        image.data = elf(true, false, Headers::Sections, {vorelNote({7, 0, 0, 6})});
        const quint64 table = littleEndian(image.data, 0x28, 8);
        // Entry 8 would be the real entry 0.
        QVERIFY(table < 8 * 64);
        image.set(0x28, quint64(table) - 8 * 64, 8);
        image.set(0x3C, 11, 2);
        QCOMPARE(vorel::FileVersionText(write(QStringLiteral("wrap"), image.data)), QString());
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
#ifdef VOREL_FILEVERSION_CHECKED
        QSKIP("the shipped binaries are read by tst_fileversion");
#endif
        QCOMPARE(vorel::FileVersionText(QStringLiteral(VOREL_BIN_DIR "/") + file), QStringLiteral(VOREL_TEST_VERSION));
    }
};

QTEST_GUILESS_MAIN(TestFileVersion)
#include "tst_fileversion.moc"
