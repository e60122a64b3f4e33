#include "common/platform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using vorel::platform::TSettingsStore;

class TstPlatform : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        qputenv("VOREL_CONFIG_DIR", QFile::encodeName(m_dir.path()));
        QFile::remove(TSettingsStore::StorageFile());
    }

    void storeLivesInConfigDir()
    {
        QCOMPARE(TSettingsStore::StorageFile(), m_dir.filePath(QStringLiteral("settings.ini")));
    }

    void namesCompareWithoutCaseAndKeepFirstSpelling()
    {
        {
            TSettingsStore s;
            QVERIFY(!s.OpenKey(QStringLiteral("Software\\Vorel7"), false));
            QVERIFY(s.OpenKey(QStringLiteral("Software\\Vorel7"), true));
            QVERIFY(!s.ValueExists(QStringLiteral("Login")));
            s.WriteString(QStringLiteral("Login"), QString());
            s.WriteString(QStringLiteral("login"), QStringLiteral("1001"));
        }
        TSettingsStore s;
        QVERIFY(s.OpenKey(QStringLiteral("software\\VOREL7"), false));
        QCOMPARE(s.CurrentPath(), QStringLiteral("Software\\Vorel7"));
        QVERIFY(s.ValueExists(QStringLiteral("LOGIN")));
        QCOMPARE(s.ReadString(QStringLiteral("Login")), QStringLiteral("1001"));
        QFile f(TSettingsStore::StorageFile());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QVERIFY(text.contains("Login=1001"));
        QVERIFY(!text.contains("login="));
    }

    void subKeysAreRelativeAndEmptyMeansCurrent()
    {
        TSettingsStore s;
        QVERIFY(s.OpenKey(QStringLiteral("Software\\Vorel7"), true));
        QVERIFY(s.OpenKey(QString(), true));
        QCOMPARE(s.CurrentPath(), QStringLiteral("Software\\Vorel7"));
        s.WriteString(QStringLiteral("VerBoton"), QStringLiteral("main"));
        QVERIFY(s.OpenKey(QStringLiteral("PROD"), true));
        QCOMPARE(s.CurrentPath(), QStringLiteral("Software\\Vorel7\\PROD"));
        QVERIFY(!s.ValueExists(QStringLiteral("VerBoton")));
        s.WriteString(QStringLiteral("VerBoton"), QStringLiteral("3"));
        QVERIFY(s.OpenKey(QStringLiteral("\\Software\\Vorel7"), false));
        QCOMPARE(s.ReadString(QStringLiteral("verboton")), QStringLiteral("main"));
        s.CloseKey();
        QVERIFY(s.OpenKey(QStringLiteral("Software\\Vorel7\\prod"), false));
        QCOMPARE(s.ReadString(QStringLiteral("VerBoton")), QStringLiteral("3"));
    }

    void awkwardValuesSurviveTheFile()
    {
        const QString value = QStringLiteral("a=b\\c\r\nd [x] ; ñ");
        {
            TSettingsStore s;
            s.OpenKey(QStringLiteral("Software\\Vorel7"), true);
            s.WriteString(QStringLiteral("Odd=Name"), value);
            s.WriteString(QStringLiteral("Empty"), QString());
        }
        TSettingsStore s;
        s.OpenKey(QStringLiteral("Software\\Vorel7"), false);
        QCOMPARE(s.ReadString(QStringLiteral("odd=name")), value);
        QVERIFY(s.ValueExists(QStringLiteral("Empty")));
        QCOMPARE(s.ReadString(QStringLiteral("Empty")), QString());
    }

    void keyNamesCannotForgeLines()
    {
        // A database name is a key name: one with line breaks in it must not
        // write sections or values of its own into the file.
        const QString forged = QStringLiteral("X]\n[Software\\Vorel7]\nAddrs=otro\r\n%41 \x01");
        {
            TSettingsStore s;
            s.OpenKey(QStringLiteral("Software\\Vorel7"), true);
            s.WriteString(QStringLiteral("Addrs"), QStringLiteral("servidor"));
            s.OpenKey(forged, true);
            s.WriteString(QStringLiteral("VerBoton"), QStringLiteral("7"));
        }
        TSettingsStore s;
        QVERIFY(s.OpenKey(QStringLiteral("Software\\Vorel7"), false));
        QCOMPARE(s.ReadString(QStringLiteral("Addrs")), QStringLiteral("servidor"));
        QVERIFY(s.OpenKey(forged, false));
        QCOMPARE(s.ReadString(QStringLiteral("VerBoton")), QStringLiteral("7"));
    }

    void twoStoresDoNotLoseEachOthersWrites()
    {
        TSettingsStore a, b;
        a.OpenKey(QStringLiteral("Software\\Vorel7"), true);
        b.OpenKey(QStringLiteral("Software\\Vorel7"), true);
        a.WriteString(QStringLiteral("Login"), QStringLiteral("1"));
        b.WriteString(QStringLiteral("Port"), QStringLiteral("211"));
        TSettingsStore c;
        c.OpenKey(QStringLiteral("Software\\Vorel7"), false);
        QCOMPARE(c.ReadString(QStringLiteral("Login")), QStringLiteral("1"));
        QCOMPARE(c.ReadString(QStringLiteral("Port")), QStringLiteral("211"));
    }

    void libraryNamesAndFailures()
    {
        QCOMPARE(vorel::platform::LibraryFileNames(QStringLiteral("Cambia")),
                 (QStringList{QStringLiteral("libCambia.so"), QStringLiteral("Cambia.so"), QStringLiteral("cambia.dll"),
                              QStringLiteral("Cambia.dll")}));
        QVERIFY(!vorel::platform::LoadLibrary(QStringLiteral("NoSuchLibraryAnywhere")));
        QVERIFY(!vorel::platform::LastLibraryError().isEmpty());

        // A file that is not a library does not load, and says why.
        const QString old = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        QFile junk(m_dir.filePath(QStringLiteral("libJunk.so")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a library");
        junk.close();
        QVERIFY(!vorel::platform::LoadLibrary(QStringLiteral("Junk")));
        QVERIFY(vorel::platform::LastLibraryError().contains(QStringLiteral("libJunk.so")));
        QDir::setCurrent(old);
    }

    void foldersAndCopy()
    {
        QCOMPARE(vorel::platform::ProgramFolder(), QCoreApplication::applicationDirPath());
        QCOMPARE(vorel::platform::ProgramFile(), QCoreApplication::applicationFilePath());
        qputenv("SystemRoot", "/tmp/win");
        QCOMPARE(vorel::platform::SystemFolder(), QStringLiteral("/tmp/win/System32"));
        qunsetenv("SystemRoot");
        QCOMPARE(vorel::platform::SystemFolder(), QCoreApplication::applicationDirPath() + QStringLiteral("/System32"));

        const QString from = m_dir.filePath(QStringLiteral("from.bin"));
        const QString to = m_dir.filePath(QStringLiteral("to.bin"));
        QFile f(from);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("new");
        f.close();
        QFile t(to);
        QVERIFY(t.open(QIODevice::WriteOnly));
        t.write("old contents");
        t.close();
        QVERIFY(vorel::platform::CopyFileReplacing(from, to));
        QVERIFY(t.open(QIODevice::ReadOnly));
        QCOMPARE(t.readAll(), QByteArray("new"));
        QVERIFY(!vorel::platform::CopyFileReplacing(m_dir.filePath(QStringLiteral("missing")), to));
    }

    void clientAddressIsDottedIPv4()
    {
        const QString a = vorel::platform::ClientAddress();
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$")).match(a).hasMatch(), qPrintable(a));
    }
};

QTEST_GUILESS_MAIN(TstPlatform)
#include "tst_platform.moc"
