// The platform layer on Windows against the system itself: the registry,
// the loader, version resources and the updater's swap of a program that is
// in use. Run under Wine by windows/test.sh, which then reads the registry
// values the last case leaves with "wine reg query".
#include "common/fileversion.h"
#include "common/platform.h"
#include "runtime/exports.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <windows.h>
#undef LoadLibrary

namespace platform = vorel::platform;
using platform::TSettingsStore;

namespace {
const wchar_t *const StoreKey = L"Software\\Vorel7";

void setRaw(const wchar_t *name, DWORD type, const void *data, DWORD size)
{
    HKEY key = nullptr;
    QCOMPARE(::RegCreateKeyExW(HKEY_CURRENT_USER, StoreKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
             ERROR_SUCCESS);
    QCOMPARE(::RegSetValueExW(key, name, 0, type, static_cast<const BYTE *>(data), size), ERROR_SUCCESS);
    ::RegCloseKey(key);
}

DWORD rawType(const wchar_t *name)
{
    DWORD type = 0;
    if (::RegGetValueW(HKEY_CURRENT_USER, StoreKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, nullptr)
        != ERROR_SUCCESS)
        return REG_NONE;
    return type;
}

// The version text as the system's own version API reads it.
QString systemVersionText(const QString &path)
{
    const std::wstring file = QDir::toNativeSeparators(path).toStdWString();
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), nullptr);
    if (!size)
        return QString();
    QByteArray data(size, '\0');
    VS_FIXEDFILEINFO *info = nullptr;
    UINT length = 0;
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, data.data())
        || !::VerQueryValueW(data.constData(), L"\\", reinterpret_cast<void **>(&info), &length) || !info)
        return QString();
    return QStringLiteral("%1.%2.%3.%4")
        .arg(HIWORD(info->dwFileVersionMS))
        .arg(LOWORD(info->dwFileVersionMS))
        .arg(HIWORD(info->dwFileVersionLS))
        .arg(LOWORD(info->dwFileVersionLS));
}

// The shell and the updater run from the program folder, beside the Qt
// files; copies of them elsewhere find those through PATH.
QProcessEnvironment programEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), QDir::toNativeSeparators(platform::ProgramFolder()) + u';'
                                           + env.value(QStringLiteral("PATH")));
    return env;
}

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool copyInto(const QString &from, const QString &to, const QByteArray &tail = {})
{
    QFile out(to);
    const QByteArray data = contents(from);
    return !data.isEmpty() && out.open(QIODevice::WriteOnly) && out.write(data + tail) == data.size() + tail.size();
}
} // namespace

class TstWindows : public QObject
{
    Q_OBJECT

    QString bin(const char *file) const { return QDir(platform::ProgramFolder()).filePath(QLatin1String(file)); }

private Q_SLOTS:
    void init() { ::RegDeleteTreeW(HKEY_CURRENT_USER, StoreKey); }

    void storeIsTheRegistry()
    {
        QCOMPARE(TSettingsStore::StorageFile(), QStringLiteral("HKEY_CURRENT_USER"));
        {
            TSettingsStore s;
            QVERIFY(!s.OpenKey(QStringLiteral("Software\\Vorel7"), false));
            QVERIFY(s.OpenKey(QStringLiteral("Software\\Vorel7"), true));
            QVERIFY(!s.ValueExists(QStringLiteral("Login")));
            s.WriteString(QStringLiteral("Login"), QString());
            s.WriteString(QStringLiteral("login"), QStringLiteral("1001"));
            s.WriteString(QStringLiteral("Sitio"), QStringLiteral("Almacén Nº 2 \u20ac"));
        }
        QCOMPARE(rawType(L"Login"), DWORD(REG_SZ));
        TSettingsStore s;
        QVERIFY(s.OpenKey(QStringLiteral("\\software\\VOREL7"), false));
        QCOMPARE(s.CurrentPath(), QStringLiteral("Software\\Vorel7"));
        QVERIFY(s.ValueExists(QStringLiteral("LOGIN")));
        QCOMPARE(s.ReadString(QStringLiteral("Login")), QStringLiteral("1001"));
        QCOMPARE(s.ReadString(QStringLiteral("sitio")), QStringLiteral("Almacén Nº 2 \u20ac"));
        QCOMPARE(s.ReadString(QStringLiteral("Addrs")), QString());

        // Relative sub-keys, an empty key for the current one, "\" for the root.
        QVERIFY(s.OpenKey(QString(), false));
        QCOMPARE(s.CurrentPath(), QStringLiteral("Software\\Vorel7"));
        QVERIFY(s.OpenKey(QStringLiteral("PROD"), true));
        QCOMPARE(s.CurrentPath(), QStringLiteral("Software\\Vorel7\\PROD"));
        QVERIFY(!s.ValueExists(QStringLiteral("Login")));
        QVERIFY(s.OpenKey(QStringLiteral("\\Software\\Vorel7\\Certificados"), true));
        s.WriteString(QStringLiteral("vorel.example:211"), QStringLiteral("AB:CD"));
        QVERIFY(!s.OpenKey(QStringLiteral("\\Software\\Vorel7\\NoExiste"), false));
        QCOMPARE(s.CurrentPath(), QStringLiteral("Software\\Vorel7\\Certificados"));
    }

    // Values an administrator typed in by hand: numbers read as their text;
    // anything else is reported, read as missing and left as it was.
    void valuesOfOtherTypes_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("read");
        const quint32 port = 211;
        const quint64 big = 5000000000ULL;
        QTest::newRow("REG_DWORD") << int(REG_DWORD) << QByteArray(reinterpret_cast<const char *>(&port), 4)
                                   << QStringLiteral("211");
        QTest::newRow("REG_QWORD") << int(REG_QWORD) << QByteArray(reinterpret_cast<const char *>(&big), 8)
                                   << QStringLiteral("5000000000");
        QTest::newRow("REG_EXPAND_SZ") << int(REG_EXPAND_SZ) << QByteArray(reinterpret_cast<const char *>(L"211"), 8)
                                       << QStringLiteral("211");
        // Stored without its terminating NUL, as some tools write.
        QTest::newRow("REG_SZ unterminated") << int(REG_SZ) << QByteArray(reinterpret_cast<const char *>(L"21"), 4)
                                             << QStringLiteral("21");
        QTest::newRow("REG_BINARY") << int(REG_BINARY) << QByteArray("\x01\x02\x03", 3) << QString();
        QTest::newRow("REG_MULTI_SZ") << int(REG_MULTI_SZ)
                                      << QByteArray(reinterpret_cast<const char *>(L"2\0" L"1\0"), 10) << QString();
    }

    void valuesOfOtherTypes()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, data);
        QFETCH(QString, read);
        setRaw(L"Port", DWORD(type), data.constData(), DWORD(data.size()));
        TSettingsStore s;
        QVERIFY(s.OpenKey(QStringLiteral("Software\\Vorel7"), false));
        QVERIFY(s.ValueExists(QStringLiteral("Port")));
        if (read.isNull())
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("^HKEY_CURRENT_USER\\\\Software\\\\Vorel7 \"Port\": "
                                                                   "valor de tipo \\d+, se esperaba texto")));
        QCOMPARE(s.ReadString(QStringLiteral("Port")), read);
        QCOMPARE(rawType(L"Port"), DWORD(type));
    }

    void librariesLoadByNameAndExportsByExactName()
    {
        void *cambia = platform::LoadLibrary(QStringLiteral("Cambia"));
        QVERIFY2(cambia, qPrintable(platform::LastLibraryError()));
        QVERIFY(platform::GetProcAddress(cambia, "creaObj"));
        QVERIFY(platform::GetProcAddress(cambia, "main"));
        QVERIFY(!platform::GetProcAddress(cambia, "CREAOBJ"));
        QVERIFY(!platform::GetProcAddress(cambia, "CambiaMain"));
        void *comun = platform::LoadLibrary(QStringLiteral("comun"));
        QVERIFY2(comun, qPrintable(platform::LastLibraryError()));
        QVERIFY(platform::GetProcAddress(comun, "main"));
        QVERIFY(!platform::GetProcAddress(comun, "creaObj"));
        QCOMPARE(platform::LibraryFileNames(QStringLiteral("TCLIENTE")), QStringList{QStringLiteral("TCLIENTE.dll")});
    }

    // A class library downloaded into the working folder, which is not the
    // program folder; its own libraries come from the program folder.
    void librariesLoadFromTheWorkingFolder()
    {
        QTemporaryDir work;
        QVERIFY(work.isValid());
        // The library stays loaded, and Windows keeps a loaded file.
        work.setAutoRemove(false);
        QVERIFY(QFile::copy(bin("Comun.dll"), work.filePath(QStringLiteral("TSTCLASE.dll"))));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work.path()));
        void *library = platform::LoadLibrary(QStringLiteral("TSTCLASE"));
        const QString error = platform::LastLibraryError();
        QDir::setCurrent(before);
        QVERIFY2(library, qPrintable(error));
        QVERIFY(platform::GetProcAddress(library, "main"));
    }

    void librariesThatDoNotLoadSayWhy()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(!platform::LoadLibraryFrom(dir.path(), QStringLiteral("Falta")));
        QCOMPARE(platform::LastLibraryError(), QStringLiteral("Falta: no library file found"));

        QFile broken(dir.filePath(QStringLiteral("Roto.dll")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(QByteArray("MZ") + QByteArray(4096, '\x7f'));
        broken.close();
        QVERIFY(!platform::LoadLibraryFrom(dir.path(), QStringLiteral("Roto")));
        QVERIFY2(platform::LastLibraryError().startsWith(QDir::toNativeSeparators(broken.fileName()) + u':'),
                 qPrintable(platform::LastLibraryError()));
        QVERIFY(!platform::LoadLibrary(QString()));
    }

    // Every binary we ship carries a version resource that the system itself
    // reads as we do; a file without one has no version.
    void versionResources_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *name : {"Vorel7.exe", "Cambia.dll", "Comun.dll", "libvorelcore.dll", "libvorelgui.dll",
                                 "Load.dll", "vorel-updater.exe"})
            QTest::newRow(name) << bin(name);
    }

    void versionResources()
    {
        QFETCH(QString, file);
        QCOMPARE(systemVersionText(file), QStringLiteral(VOREL_TEST_VERSION));
        QCOMPARE(vorel::FileVersionText(file), QStringLiteral(VOREL_TEST_VERSION));
    }

    void noVersionResource()
    {
        QCOMPARE(systemVersionText(platform::ProgramFile()), QString());
        QCOMPARE(vorel::FileVersionText(platform::ProgramFile()), QString());
        QCOMPARE(vorel::FileVersionText(bin("no-existe.dll")), QString());
    }

    // The shell is running, so Windows keeps its file from being replaced:
    // the updater waits for it to end, puts "newver" in its place and starts
    // it again.
    void updaterReplacesTheShellOnceItHasEnded()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString shell = dir.filePath(QStringLiteral("Vorel7.exe"));
        const QString newver = dir.filePath(QStringLiteral("newver"));
        QVERIFY(copyInto(bin("tst_windows_standin.exe"), shell));
        // The same program with a tail of its own, to know it by.
        QVERIFY(copyInto(bin("tst_windows_standin.exe"), newver, QByteArray(512, 'N')));
        const QByteArray expected = contents(newver);
        QVERIFY(QFile::copy(bin("Load.dll"), dir.filePath(QStringLiteral("VorelL.exe"))));

        QProcessEnvironment env = programEnvironment();
        env.insert(QStringLiteral("VOREL_STANDIN_HOLD_MS"), QStringLiteral("1500"));
        // Started as the user starts it: nobody here holds its process.
        QProcess starter;
        starter.setProgram(shell);
        starter.setWorkingDirectory(dir.path());
        starter.setProcessEnvironment(env);
        qint64 pid = 0;
        QVERIFY(starter.startDetached(&pid));
        QTRY_VERIFY(QFile::exists(dir.filePath(QStringLiteral("shell-started"))));
        QVERIFY(platform::ProcessRunning(pid));

        QProcess updater;
        updater.setWorkingDirectory(dir.path());
        env.insert(QStringLiteral("VOREL_SHELL_PID"), QString::number(pid));
        env.insert(QStringLiteral("VOREL_SHELL_FILE"), QDir::toNativeSeparators(shell));
        env.insert(QStringLiteral("VOREL_NEW_VERSION"), QStringLiteral("7.0.0.7"));
        env.insert(QStringLiteral("VOREL_STANDIN_HOLD_MS"), QStringLiteral("0"));
        updater.setProcessEnvironment(env);
        updater.start(dir.filePath(QStringLiteral("VorelL.exe")), {});
        QVERIFY(updater.waitForFinished(60000));
        QVERIFY2(updater.exitCode() == 0, updater.readAllStandardError().constData());
        QVERIFY(!platform::ProcessRunning(pid));

        QCOMPARE(contents(shell), expected);
        QVERIFY(!QFile::exists(newver));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("newver.rechazo"))));
        QTRY_COMPARE(contents(dir.filePath(QStringLiteral("shell-started"))).count("arranque"), 2);
    }

    // A shell file that cannot be replaced (another program holds it open)
    // stays as it was, and the refusal says why.
    void updaterThatCannotReplaceTheShellSaysWhy()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString shell = dir.filePath(QStringLiteral("Vorel7.exe"));
        QVERIFY(copyInto(bin("tst_windows_standin.exe"), shell));
        QVERIFY(copyInto(bin("tst_windows_standin.exe"), dir.filePath(QStringLiteral("newver")), "N"));
        const QByteArray old = contents(shell);
        QVERIFY(QFile::copy(bin("Load.dll"), dir.filePath(QStringLiteral("VorelL.exe"))));

        HANDLE held = ::CreateFileW(QDir::toNativeSeparators(shell).toStdWString().c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        QVERIFY(held != INVALID_HANDLE_VALUE);
        QProcess updater;
        updater.setWorkingDirectory(dir.path());
        QProcessEnvironment env = programEnvironment();
        env.insert(QStringLiteral("VOREL_SHELL_FILE"), QDir::toNativeSeparators(shell));
        env.insert(QStringLiteral("VOREL_NEW_VERSION"), QStringLiteral("7.0.0.7"));
        env.remove(QStringLiteral("VOREL_SHELL_PID"));
        updater.setProcessEnvironment(env);
        updater.start(dir.filePath(QStringLiteral("VorelL.exe")), {});
        const bool finished = updater.waitForFinished(60000);
        ::CloseHandle(held);
        QVERIFY(finished);
        QCOMPARE(updater.exitCode(), 1);

        QCOMPARE(contents(shell), old);
        QFile refusal(dir.filePath(QStringLiteral("newver.rechazo")));
        QVERIFY(refusal.open(QIODevice::ReadOnly));
        const QJsonObject why = QJsonDocument::fromJson(refusal.readAll()).object();
        QCOMPARE(why.value(QStringLiteral("version")).toString(), QStringLiteral("7.0.0.7"));
        const QString reason = why.value(QStringLiteral("motivo")).toString();
        QVERIFY2(reason.startsWith(QStringLiteral("no se puede reemplazar ") + QDir::toNativeSeparators(shell)
                                   + QStringLiteral(": ")),
                 qPrintable(reason));
        QVERIFY(reason.size() > QDir::toNativeSeparators(shell).size() + 30);
        // Nothing of the attempt is left beside the shell.
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral(".Vorel7*")}, QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(platform::IsProgramForThisSystem(shell));
    }

    void programsOfThisSystem()
    {
        QVERIFY(platform::IsProgramForThisSystem(bin("Vorel7.exe")));
        QVERIFY(!platform::IsProgramForThisSystem(bin("Cambia.dll")));
        QVERIFY(!platform::IsProgramForThisSystem(bin("no-existe.exe")));
        QTemporaryDir dir;
        QFile elf(dir.filePath(QStringLiteral("Vorel7")));
        QVERIFY(elf.open(QIODevice::WriteOnly));
        elf.write(QByteArray("\x7f" "ELF\x02\x01\x01", 7) + QByteArray(64, '\0'));
        elf.close();
        QVERIFY(!platform::IsProgramForThisSystem(elf.fileName()));
        QCOMPARE(platform::ProgramSuffix(), QStringLiteral(".exe"));
        QVERIFY(platform::ProcessRunning(QCoreApplication::applicationPid()));
        QVERIFY(!platform::ProcessRunning(0));
        QProcess standin;
        QProcessEnvironment env = programEnvironment();
        env.insert(QStringLiteral("VOREL_STANDIN_HOLD_MS"), QStringLiteral("3000"));
        standin.setProcessEnvironment(env);
        standin.setWorkingDirectory(dir.path());
        standin.start(bin("tst_windows_standin.exe"), {});
        QVERIFY(standin.waitForStarted());
        QVERIFY(platform::ProcessRunning(standin.processId()));
        QVERIFY(standin.waitForFinished(20000));
        QVERIFY(!platform::ProcessRunning(standin.processId()));
    }

    // The client's settings as the shell, the login and the list window
    // leave them; windows/test.sh reads them back with "wine reg query".
    void clientSettingsLeftInTheRegistry()
    {
        TSettingsStore s;
        QVERIFY(s.OpenKey(QStringLiteral("Software\\Vorel7"), true));
        const QList<std::pair<const char *, const char *>> values{
            {"Login", "1001"}, {"dBase", "PROD"}, {"Addrs", "127.0.0.1"}, {"Port", "211"},
            {"Sitio", "Central"}, {"CertCA", "C:\\Vorel\\vorel-ca.pem"}};
        for (const auto &[name, value] : values)
            s.WriteString(QLatin1String(name), QLatin1String(value));
        QVERIFY(s.OpenKey(QStringLiteral("PROD"), true));
        s.WriteString(QStringLiteral("VerBoton"), QStringLiteral("3"));
        QVERIFY(s.OpenKey(QStringLiteral("\\Software\\Vorel7\\Certificados"), true));
        s.WriteString(QStringLiteral("127.0.0.1:211"), QStringLiteral("AB:CD:EF"));
        QVERIFY(s.OpenKey(QStringLiteral("\\Software\\Vorel7\\PROD\\TCLIENTE\\Columnas\\1001"), true));
        s.WriteString(QStringLiteral("Orden"), QStringLiteral("NOMBRE,CODIGO"));
        QVERIFY(s.OpenKey(QStringLiteral("\\Software\\Vorel7"), false));
        QCOMPARE(s.ReadString(QStringLiteral("PORT")), QStringLiteral("211"));
    }
};

QTEST_GUILESS_MAIN(TstWindows)
#include "tst_windows.moc"
