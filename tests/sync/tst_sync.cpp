// Button images, module libraries and the self-update against the reference
// server, checked through its trace; and the updater run for real.
#include "common/exception.h"
#include "common/fileversion.h"
#include "common/platform.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "fileversion/fixtures.h"
#include "runtime/imagelist.h"
#include "runtime/ui.h"
#include "shell/binsync.h"
#include "support/testserver.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace vorel;
using vorel::test::TestServer;

namespace {

const QString kParamQuery = QStringLiteral("SELECT PARA_Valor Vers FROM Vorel.TParams WHERE PARA_Param= 'VERBOTON' ");
const QString kButtonList = QStringLiteral(
    "SELECT BOTO_Boton Boton, DECODE( SIGN(BOTO_Boton-10), -1, '0','')||BOTO_Boton Cade FROM vorel.TBOTONES");
const QString kModuleList = QStringLiteral(
    "SELECT BINS_Raiz Raiz, BINS_Arch Archivo, BINS_Vers Version FROM vorel.TBINS WHERE BINS_GUI= 'WIN32' ");
const QString kShellVersion = QStringLiteral(
    "SELECT BINS_Vers Vers FROM Vorel.TBINS WHERE UPPER(BINS_Arch)= 'VOREL7.EXE' ");
const QString kShellBin = QStringLiteral("SELECT BINS_Bin Bin FROM Vorel.TBINS WHERE UPPER(BINS_Arch)= 'VOREL7.EXE' ");

QString buttonQuery(int n)
{
    return QStringLiteral("SELECT BOTO_Boton, BOTO_Img FROM vorel.TBOTONES WHERE BOTO_Boton=") + QString::number(n);
}

QString moduleQuery(const QString &name)
{
    return QStringLiteral("SELECT BINS_Arch, BINS_Bin FROM vorel.TBINS WHERE BINS_Arch= '") + name
           + QStringLiteral("'");
}

const QList<int> kButtons{0, 1, 5, 12, 13, 123};
// In the order of the sorted file names: 00 01 05 12 123 13.
const QList<int> kButtonsSorted{0, 1, 5, 12, 123, 13};

QColor colorOf(int button) { return QColor(10 + button, 200 - button, 40); }

QByteArray bitmap(const QColor &color)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

QString hex(const QByteArray &bytes) { return QStringLiteral("X'") + QString::fromLatin1(bytes.toHex()) + QLatin1Char('\''); }

QByteArray elfWithVersion(std::array<quint16, 4> v)
{
    using namespace vorel::test::fixtures;
    return elf(true, false, Headers::Sections, {vorelNote(v)});
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &data, bool executable = false)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), data.size());
    f.close();
    if (executable)
        QVERIFY(f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeUser));
}

// Waits for a file another process writes.
QByteArray waitForFile(const QString &path, int ms = 15000)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        const QByteArray data = readAll(path);
        if (!data.isEmpty() && data.endsWith('\n'))
            return data;
        QThread::msleep(50);
    }
    return readAll(path);
}

const QByteArray kOldShell = "#!/bin/sh\necho viejo >> shell-started\n";

// A copy of one of our binaries whose version record says `v` instead.
QByteArray withVersion(QByteArray binary, std::array<quint16, 4> v)
{
    QByteArray header;
    for (quint32 word : {6u, 8u, 0x5652u})
        for (int i = 0; i < 4; ++i)
            header += char((word >> (8 * i)) & 0xFF);
    header += QByteArray("Vorel\0\0\0", 8);
    const qsizetype at = binary.indexOf(header);
    if (at < 0 || binary.indexOf(header, at + 1) >= 0)
        return {};
    for (int i = 0; i < 4; ++i) {
        binary[at + header.size() + 2 * i] = char(v[i] & 0xFF);
        binary[at + header.size() + 2 * i + 1] = char(v[i] >> 8);
    }
    return binary;
}

// One logged-in client with the shell's two datasets and its settings.
struct Client {
    TSocketConnection conn;
    TClientDataSet cdsMain;
    TClientDataSet cdsBin;
    TImageList ImgBoton;
    platform::TSettingsStore store;
    shell::TSyncContext ctx;
    QStringList statuses;

    Client(TestServer &server, const QString &database, const QString &program)
    {
        conn.SetHost(server.host());
        conn.SetPort(server.port());
        conn.SetTimeout(30000);
        conn.Open();
        conn.Call(QStringLiteral("Login"), {QStringLiteral("1001"), QStringLiteral("clave"), database,
                                            QStringLiteral("127.0.0.1")});
        for (auto [ds, provider] : {std::pair{&cdsMain, "dspMain"}, std::pair{&cdsBin, "dspBin"}}) {
            ds->SetProviderName(QString::fromLatin1(provider));
            ds->SetRemoteServer(&conn);
            ds->SetPacketRecords(2);
        }
        store.OpenKey(QStringLiteral("Software\\Vorel7"), true);
        store.OpenKey(database, true);
        ctx.cdsMain = &cdsMain;
        ctx.cdsBin = &cdsBin;
        ctx.ImgBoton = &ImgBoton;
        ctx.Store = &store;
        ctx.ProgramFolder = program;
        ctx.ShellFile = program + QStringLiteral("/Vorel7");
        ctx.SetStatus = [this](const QString &text) { statuses << text; };
        ctx.HideStatus = [this] { statuses << QStringLiteral("<oculta>"); };
    }

    void startUp()
    {
        shell::ButtonImageCache(ctx);
        shell::ModuleLibrarySync(ctx);
    }

    QList<QColor> imageColors() const
    {
        QList<QColor> colors;
        for (int i = 0; i < ImgBoton.Count(); ++i)
            colors << ImgBoton.Pixmap(i).toImage().pixelColor(0, 0);
        return colors;
    }
};

struct UpdaterRun {
    int exitCode = -1;
    QString errors;
    qint64 elapsedMs = 0;
};

} // namespace

class TestSync : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<QTemporaryDir> m_work;
    QString m_program;
    QString m_system;
    QString m_savedCwd;

    std::unique_ptr<Client> client(const QString &database = QStringLiteral("DEMO"))
    {
        return std::make_unique<Client>(*m_server, database, m_program);
    }

    void execAll(const QString &sql)
    {
        for (const QString &db : {QStringLiteral("DEMO"), QStringLiteral("OTRA")})
            m_server->exec(sql, db);
    }

    QList<QStringList> providersAndTexts() const
    {
        QList<QStringList> out;
        const QList<QJsonObject> records = m_server->trace();
        for (const QJsonObject &r : records)
            if (r.value(QStringLiteral("kind")).toString() == QStringLiteral("open"))
                out << QStringList{r.value(QStringLiteral("provider")).toString(),
                                   r.value(QStringLiteral("sql")).toString()};
        return out;
    }

    // What a start-up sends after Login.
    QStringList sent() const
    {
        QStringList texts = m_server->texts();
        texts.removeIf([](const QString &t) { return t.startsWith(QStringLiteral("Login|")); });
        return texts;
    }

    QStringList allButtonQueries() const
    {
        QStringList q{kParamQuery, kButtonList};
        for (int n : kButtons)
            q << buttonQuery(n);
        return q;
    }

    UpdaterRun runUpdater(const QString &shellFile, qint64 pid)
    {
        UpdaterRun run;
        const QString updater = m_program + QStringLiteral("/VorelL.exe");
        QFile::remove(updater);
        if (!QFile::copy(QStringLiteral(VOREL_BIN_DIR "/Load.dll"), updater))
            return run;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("VOREL_SHELL_FILE"));
        env.remove(QStringLiteral("VOREL_SHELL_PID"));
        if (!shellFile.isEmpty())
            env.insert(QStringLiteral("VOREL_SHELL_FILE"), shellFile);
        if (pid > 0)
            env.insert(QStringLiteral("VOREL_SHELL_PID"), QString::number(pid));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(m_program);
        QElapsedTimer timer;
        timer.start();
        p.start(updater, {});
        if (!p.waitForFinished(60000))
            return run;
        run.elapsedMs = timer.elapsed();
        run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        run.errors = QString::fromLocal8Bit(p.readAllStandardError());
        return run;
    }

    // The pid of a process that has ended.
    static qint64 endedPid()
    {
        QProcess p;
        p.start(QStringLiteral("true"), {});
        p.waitForFinished();
        return p.processId() ? p.processId() : 0;
    }

private slots:
    void initTestCase()
    {
        QTemporaryDir scripts;
        QVERIFY(scripts.isValid());
        QString sql = QStringLiteral(
            "INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (1001, 'Prueba', 'clave');\n"
            "INSERT INTO TGUIS (GUIS_Gui) VALUES ('WIN32');\n"
            "INSERT INTO TGUIS (GUIS_Gui) VALUES ('WEB');\n"
            "INSERT INTO TPARAMS (PARA_Param, PARA_Valor) VALUES ('VERBOTON', '1');\n");
        // The images are files beside the script, the form either database loads.
        for (int n : kButtons) {
            const QString image = QStringLiteral("boton%1.bmp").arg(n);
            writeFile(scripts.filePath(image), bitmap(colorOf(n)));
            sql += QStringLiteral("INSERT INTO TBOTONES (BOTO_Boton, BOTO_Img) VALUES (%1, FILE('%2'));\n").arg(n).arg(image);
        }
        const QString script = scripts.filePath(QStringLiteral("sync.sql"));
        writeFile(script, sql.toUtf8());
        TestServer::Options options;
        options.demo = false;
        options.oracleScripts = {script};
        options.databaseNames = {QStringLiteral("DEMO"), QStringLiteral("OTRA")};
        m_server = std::make_unique<TestServer>(options);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_savedCwd = QDir::currentPath();
    }

    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        m_program = m_work->filePath(QStringLiteral("programa"));
        QVERIFY(QDir().mkpath(m_program));
        qputenv("SystemRoot", QFile::encodeName(m_work->filePath(QStringLiteral("windows"))));
        m_system = platform::SystemFolder();
        QCOMPARE(m_system, m_work->filePath(QStringLiteral("windows/System32")));
        QVERIFY(QDir().mkpath(m_system));
        qputenv("VOREL_CONFIG_DIR", QFile::encodeName(m_work->filePath(QStringLiteral("config"))));
        QVERIFY(QDir::setCurrent(m_program));

        execAll(QStringLiteral("DELETE FROM TBINS; DELETE FROM TPARAMS WHERE PARA_Param = 'VERBOTON'; "
                               "INSERT INTO TPARAMS (PARA_Param, PARA_Valor) VALUES ('VERBOTON', '1');"));
        execAll(QStringLiteral("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) VALUES "
                               "('modulo.so', '7.0.0.6', %1, '0', 'WIN32'), "
                               "('sistema.so', '1.2.3.4', %2, '1', 'WIN32'), "
                               "('sinver.dll', NULL, 'datos', NULL, 'WIN32'), "
                               "('web.dll', '1.0.0.0', 'web', '0', 'WEB');")
                    .arg(hex(elfWithVersion({7, 0, 0, 6})), hex(elfWithVersion({1, 2, 3, 4}))));
        m_server->clearTrace();
    }

    void cleanup()
    {
        QDir::setCurrent(m_savedCwd);
        m_work.reset();
    }

    void firstStartFetchesEverything()
    {
        auto c = client();
        c->startUp();

        QStringList expected = allButtonQueries();
        expected << kModuleList << moduleQuery(QStringLiteral("modulo.so"))
                 << moduleQuery(QStringLiteral("sistema.so")) << moduleQuery(QStringLiteral("sinver.dll"));
        QCOMPARE(sent(), expected);
        // Lists on cdsMain, single rows on cdsBin.
        const QList<QStringList> opens = providersAndTexts();
        for (const QStringList &o : opens) {
            const bool list = o[1] == kButtonList || o[1] == kModuleList;
            QCOMPARE(o[0], list ? QStringLiteral("dspMain") : QStringLiteral("dspBin"));
        }

        for (int n : kButtons) {
            const QString name = (n < 10 ? QStringLiteral("0") : QString()) + QString::number(n) + QStringLiteral(".bmp");
            QCOMPARE(readAll(m_program + QStringLiteral("/Boton/") + name), bitmap(colorOf(n)));
        }
        QCOMPARE(c->store.ReadString(QStringLiteral("VerBoton")), QStringLiteral("1"));
        QCOMPARE(c->statuses, QStringList{QStringLiteral("Cargando Botones ....")});

        QList<QColor> colors;
        for (int n : kButtonsSorted)
            colors << colorOf(n);
        QCOMPARE(c->imageColors(), colors);

        QCOMPARE(vorel::FileVersionText(m_program + QStringLiteral("/modulo.so")), QStringLiteral("7.0.0.6"));
        QCOMPARE(vorel::FileVersionText(m_system + QStringLiteral("/sistema.so")), QStringLiteral("1.2.3.4"));
        QVERIFY(!QFile::exists(m_program + QStringLiteral("/sistema.so")));
        QCOMPARE(readAll(m_program + QStringLiteral("/sinver.dll")), QByteArray("datos"));
        QVERIFY(!QFile::exists(m_program + QStringLiteral("/web.dll")));
        // Nothing half-written left behind.
        QCOMPARE(QDir(m_program).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("modulo.so"), QStringLiteral("sinver.dll")}));
    }

    void unchangedStartFetchesNothing()
    {
        client()->startUp();
        // A file without a version record under a NULL version is kept,
        // whatever it holds.
        writeFile(m_program + QStringLiteral("/sinver.dll"), "cambiado");
        m_server->clearTrace();

        auto c = client();
        c->startUp();
        QCOMPARE(sent(), (QStringList{kParamQuery, kButtonList, kModuleList}));
        QCOMPARE(c->ImgBoton.Count(), kButtons.size());
        QCOMPARE(readAll(m_program + QStringLiteral("/sinver.dll")), QByteArray("cambiado"));
    }

    void missingFilesAreFetchedAgain()
    {
        client()->startUp();
        QVERIFY(QFile::remove(m_program + QStringLiteral("/Boton/12.bmp")));
        QVERIFY(QFile::remove(m_system + QStringLiteral("/sistema.so")));
        m_server->clearTrace();
        client()->startUp();
        QCOMPARE(sent(), (QStringList{kParamQuery, kButtonList, buttonQuery(12), kModuleList,
                                      moduleQuery(QStringLiteral("sistema.so"))}));
    }

    void changedSetVersionFetchesAllOncePerDatabase()
    {
        client(QStringLiteral("DEMO"))->startUp();
        client(QStringLiteral("OTRA"))->startUp(); // the files are there, but not this database's set version
        m_server->clearTrace();

        execAll(QStringLiteral("UPDATE TPARAMS SET PARA_Valor = '2' WHERE PARA_Param = 'VERBOTON';"));
        {
            auto c = client(QStringLiteral("DEMO"));
            c->startUp();
            QCOMPARE(c->store.ReadString(QStringLiteral("VerBoton")), QStringLiteral("2"));
        }
        QCOMPARE(sent(), allButtonQueries() << kModuleList);
        m_server->clearTrace();
        client(QStringLiteral("DEMO"))->startUp();
        QCOMPARE(sent(), (QStringList{kParamQuery, kButtonList, kModuleList}));

        m_server->clearTrace();
        client(QStringLiteral("OTRA"))->startUp();
        QCOMPARE(sent(), allButtonQueries() << kModuleList);
        m_server->clearTrace();
        client(QStringLiteral("OTRA"))->startUp();
        QCOMPARE(sent(), (QStringList{kParamQuery, kButtonList, kModuleList}));
    }

    void missingSetVersionIsAnEmptyText()
    {
        client()->startUp();
        execAll(QStringLiteral("DELETE FROM TPARAMS WHERE PARA_Param = 'VERBOTON';"));
        m_server->clearTrace();
        {
            auto c = client();
            c->startUp();
            QVERIFY(c->store.ValueExists(QStringLiteral("VerBoton")));
            QCOMPARE(c->store.ReadString(QStringLiteral("VerBoton")), QString());
        }
        QCOMPARE(sent(), allButtonQueries() << kModuleList);
        m_server->clearTrace();
        client()->startUp();
        QCOMPARE(sent(), (QStringList{kParamQuery, kButtonList, kModuleList}));
    }

    void versionTextsCompareExactly_data()
    {
        QTest::addColumn<QString>("version");
        QTest::newRow("leading zero") << QStringLiteral("7.0.0.06");
        QTest::newRow("trailing blank") << QStringLiteral("7.0.0.6 ");
        QTest::newRow("three numbers") << QStringLiteral("7.0.0");
    }

    void versionTextsCompareExactly()
    {
        QFETCH(QString, version);
        client()->startUp();
        execAll(QStringLiteral("UPDATE TBINS SET BINS_Vers = '%1' WHERE BINS_Arch = 'modulo.so';").arg(version));
        for (int round = 0; round < 2; ++round) {
            m_server->clearTrace();
            client()->startUp();
            QCOMPARE(sent(), (QStringList{kParamQuery, kButtonList, kModuleList,
                                          moduleQuery(QStringLiteral("modulo.so"))}));
        }
    }

    void missingSystemFolderIsToldAndTheRestGoesOn()
    {
        QVERIFY(QDir(m_system).removeRecursively());
        auto c = client();
        QList<std::pair<vorel::ui::Kind, QString>> boxes;
        vorel::ui::SetMessageHook([&](vorel::ui::Kind kind, const QString &, const QString &text) {
            boxes.append({kind, text});
            return vorel::ui::Answer::Ok;
        });
        const auto restore = qScopeGuard([] { vorel::ui::SetMessageHook(nullptr); });
        shell::ModuleLibrarySync(c->ctx);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().first, vorel::ui::Kind::Error);
        QCOMPARE(boxes.first().second, QStringLiteral("No existe la carpeta ") + QDir::toNativeSeparators(m_system));
        // The rows around it were done; nothing was written for it.
        QVERIFY(QFile::exists(m_program + QStringLiteral("/modulo.so")));
        QVERIFY(QFile::exists(m_program + QStringLiteral("/sinver.dll")));
        QVERIFY(!QFile::exists(m_program + QStringLiteral("/sistema.so")));
        QVERIFY(!QDir(m_system).exists());
        QCOMPARE(QDir::currentPath(), m_program);
        QCOMPARE(c->statuses, QStringList{QStringLiteral("<oculta>")});
    }

    void extraBitmapsTakeIndexes()
    {
        client()->startUp();
        const QString folder = m_program + QStringLiteral("/Boton/");
        const QColor extra(1, 2, 3);
        writeFile(folder + QStringLiteral("050.bmp"), bitmap(extra));
        writeFile(folder + QStringLiteral(".oculto.bmp"), bitmap(QColor(9, 9, 9)));
        writeFile(folder + QStringLiteral("nota.txt"), "x");
        QVERIFY(QDir().mkpath(folder + QStringLiteral("carpeta.bmp")));

        auto c = client();
        c->startUp();
        QList<QColor> colors;
        for (int n : kButtonsSorted) {
            colors << colorOf(n);
            if (n == 5)
                colors << extra; // 050.bmp sorts after 05.bmp and before 12.bmp
        }
        QCOMPARE(c->imageColors(), colors);
    }

    void selfUpdateEndToEnd()
    {
        const QByteArray newShell = readAll(QStringLiteral(VOREL_FAKE_SHELL));
        QVERIFY(!newShell.isEmpty());
        QCOMPARE(vorel::FileVersionText(QStringLiteral(VOREL_FAKE_SHELL)), QStringLiteral(VOREL_TEST_VERSION));
        m_server->exec(QStringLiteral("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) "
                                      "VALUES ('Vorel7.exe', '%1', %2, '0', 'WIN32');")
                           .arg(QStringLiteral(VOREL_TEST_VERSION), hex(newShell)),
                       QStringLiteral("DEMO"));

        const QString shellFile = m_program + QStringLiteral("/Vorel7");
        writeFile(shellFile, kOldShell, true);
        // Stand-in updater that reports how it was started.
        writeFile(m_program + QStringLiteral("/Load.dll"),
                  "#!/bin/sh\necho \"$#|$VOREL_SHELL_PID|$VOREL_SHELL_FILE|$(pwd)\" > updater-started\n", true);
        writeFile(m_program + QStringLiteral("/newver"), "anterior");
        writeFile(m_program + QStringLiteral("/QuemiL.exe"), "x");
        m_server->clearTrace();

        {
            auto c = client();
            QVERIFY(shell::SelfUpdateCheck(c->ctx));
            QCOMPARE(sent(), (QStringList{kShellVersion, kShellBin}));
            QCOMPARE(c->statuses, (QStringList{QStringLiteral("Actualizando la version de  ---> ")
                                                   + QStringLiteral(VOREL_TEST_VERSION)
                                                   + QStringLiteral(" Espere por Favor"),
                                               QStringLiteral("<oculta>")}));
        }
        QCOMPARE(readAll(m_program + QStringLiteral("/newver")), newShell);
        QCOMPARE(readAll(m_program + QStringLiteral("/VorelL.exe")), readAll(m_program + QStringLiteral("/Load.dll")));
        QVERIFY(!QFile::exists(m_program + QStringLiteral("/QuemiL.exe")));
        const QByteArray report = waitForFile(m_program + QStringLiteral("/updater-started"));
        QCOMPARE(QString::fromLocal8Bit(report).trimmed(),
                 QStringLiteral("0|%1|%2|%3").arg(QCoreApplication::applicationPid()).arg(shellFile, m_program));

        // The real updater puts the new shell in place and starts it.
        const UpdaterRun run = runUpdater(shellFile, endedPid());
        QVERIFY2(run.exitCode == 0, qPrintable(run.errors));
        QCOMPARE(readAll(shellFile), newShell);
        QVERIFY(QFileInfo(shellFile).isExecutable());
        QVERIFY(!QFile::exists(m_program + QStringLiteral("/newver")));
        QCOMPARE(waitForFile(m_program + QStringLiteral("/shell-started")), QByteArray("nuevo\n"));
        const QStringList leftovers = QDir(m_program).entryList({QStringLiteral(".Vorel7*")}, QDir::Files | QDir::Hidden);
        QCOMPARE(leftovers, QStringList());

        // The next start removes the updater's copy and finds the shell current.
        m_server->clearTrace();
        auto c = client();
        QVERIFY(!shell::SelfUpdateCheck(c->ctx));
        QCOMPARE(sent(), QStringList{kShellVersion});
        QVERIFY(!QFile::exists(m_program + QStringLiteral("/VorelL.exe")));
    }

    // The whole round with the shell's real start-up and the real updater:
    // an older shell logs in, leaves the newer one in "newver", starts the
    // updater and ends; the updater waits for it, puts the new shell in
    // place and starts it; that one logs in, removes the updater's copy and
    // finds itself current.
    void selfUpdateWithTheRealShellAndUpdater()
    {
        const QByteArray newShell = readAll(QStringLiteral(VOREL_SYNC_SHELL));
        QCOMPARE(vorel::FileVersionText(QStringLiteral(VOREL_SYNC_SHELL)), QStringLiteral(VOREL_TEST_VERSION));
        const QByteArray oldShell = withVersion(newShell, {0, 0, 0, 1});
        QVERIFY(!oldShell.isEmpty());
        m_server->exec(QStringLiteral("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) "
                                      "VALUES ('Vorel7.exe', '%1', %2, '0', 'WIN32');")
                           .arg(QStringLiteral(VOREL_TEST_VERSION), hex(newShell)),
                       QStringLiteral("DEMO"));
        const QString shellFile = m_program + QStringLiteral("/Vorel7");
        writeFile(shellFile, oldShell, true);
        QCOMPARE(vorel::FileVersionText(shellFile), QStringLiteral("0.0.0.1"));
        const QByteArray updater = readAll(QStringLiteral(VOREL_BIN_DIR "/Load.dll"));
        writeFile(m_program + QStringLiteral("/Load.dll"), updater, true);
        m_server->clearTrace();

        QProcess shell;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("VOREL_SHELL_FILE"));
        env.remove(QStringLiteral("VOREL_SHELL_PID"));
        env.insert(QStringLiteral("VOREL_TEST_LOGIN"), QStringList{m_server->host(), QString::number(m_server->port()),
                                                                   QStringLiteral("1001"), QStringLiteral("clave"),
                                                                   QStringLiteral("DEMO")}
                                                           .join(QLatin1Char('|')));
        shell.setProcessEnvironment(env);
        shell.setWorkingDirectory(m_program);
        // The updater inherits the shell's output and outlives it: no pipes
        // that close under it.
        shell.setProcessChannelMode(QProcess::ForwardedChannels);
        shell.start(shellFile, {});
        QVERIFY(shell.waitForFinished(60000));
        QCOMPARE(shell.exitCode(), 0);

        // The second start writes its line once the updater has run.
        const QString starts = m_program + QStringLiteral("/arranques");
        QDeadlineTimer deadline(60000);
        while (readAll(starts).count('\n') < 2 && !deadline.hasExpired())
            QThread::msleep(100);
        QVERIFY2(readAll(m_program + QStringLiteral("/mensajes")).isEmpty(),
                 readAll(m_program + QStringLiteral("/mensajes")).constData());
        QCOMPARE(QString::fromUtf8(readAll(starts)),
                 QStringLiteral("actualiza 0.0.0.1\nlisto %1\n").arg(QStringLiteral(VOREL_TEST_VERSION)));

        QCOMPARE(readAll(shellFile), newShell);
        QVERIFY(QFileInfo(shellFile).isExecutable());
        QVERIFY(!QFile::exists(m_program + QStringLiteral("/newver")));
        QVERIFY(!QFile::exists(m_program + QStringLiteral("/VorelL.exe")));
        QCOMPARE(readAll(m_program + QStringLiteral("/Load.dll")), updater);

        // What each start asked of the server: the first fetched the new
        // shell and stopped; the second only checked its version and went on.
        // The first server's dServer call comes over the other connection;
        // its place among the records of the working one is not fixed.
        QStringList texts = m_server->texts();
        texts.removeAll(QStringLiteral("dServer"));
        QList<qsizetype> logins;
        for (qsizetype i = 0; i < texts.size(); ++i)
            if (texts[i].startsWith(QStringLiteral("Login|")))
                logins << i;
        QCOMPARE(logins.size(), 2);
        const QStringList first = texts.mid(logins[0], logins[1] - logins[0]);
        const QStringList second = texts.mid(logins[1]);
        QCOMPARE(first.mid(first.indexOf(kShellVersion)), (QStringList{kShellVersion, kShellBin}));
        QCOMPARE(second.count(kShellVersion), 1);
        QVERIFY(!second.contains(kShellBin));
        QVERIFY(second.indexOf(kShellVersion) < second.indexOf(kParamQuery));
        QVERIFY(second.contains(kModuleList));
    }

    // Runs the real shell start-up in the program folder as the user would,
    // with the login answered; returns once it has ended.
    void startShell(const QString &shellFile)
    {
        QProcess shell;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"VOREL_SHELL_FILE", "VOREL_SHELL_PID", "VOREL_NEW_VERSION"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("VOREL_TEST_LOGIN"), QStringList{m_server->host(), QString::number(m_server->port()),
                                                                   QStringLiteral("1001"), QStringLiteral("clave"),
                                                                   QStringLiteral("DEMO")}
                                                           .join(QLatin1Char('|')));
        shell.setProcessEnvironment(env);
        shell.setWorkingDirectory(m_program);
        shell.setProcessChannelMode(QProcess::ForwardedChannels);
        shell.start(shellFile, {});
        QVERIFY(shell.waitForFinished(60000));
        QCOMPARE(shell.exitCode(), 0);
    }

    static QString waitForLines(const QString &path, int lines)
    {
        QDeadlineTimer deadline(60000);
        while (readAll(path).count('\n') < lines && !deadline.hasExpired())
            QThread::msleep(100);
        return QString::fromUtf8(readAll(path));
    }

    // A shell stored for another machine: the updater will not install it.
    // The old shell, started again, says why once, goes on, and does not
    // fetch that version again until the database lists another.
    void refusedUpdateIsToldAndNotRetried()
    {
        const QByteArray newShell = readAll(QStringLiteral(VOREL_SYNC_SHELL));
        const QByteArray oldShell = withVersion(newShell, {0, 0, 0, 1});
        QVERIFY(!oldShell.isEmpty());
        QByteArray foreign = newShell;
        foreign[18] = char(foreign.at(18) ^ 0x40);
        m_server->exec(QStringLiteral("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) "
                                      "VALUES ('Vorel7.exe', '7.9.9.9', %1, '0', 'WIN32');")
                           .arg(hex(foreign)),
                       QStringLiteral("DEMO"));
        const QString shellFile = m_program + QStringLiteral("/Vorel7");
        writeFile(shellFile, oldShell, true);
        writeFile(m_program + QStringLiteral("/Load.dll"), readAll(QStringLiteral(VOREL_BIN_DIR "/Load.dll")), true);
        m_server->clearTrace();

        const QString starts = m_program + QStringLiteral("/arranques");
        const QString messages = m_program + QStringLiteral("/mensajes");
        startShell(shellFile);
        QCOMPARE(waitForLines(starts, 2), QStringLiteral("actualiza 0.0.0.1\nlisto 0.0.0.1\n"));
        const QString told = QStringLiteral("No se pudo actualizar la version de 0.0.0.1 a 7.9.9.9: \"newver\" no es un "
                                            "programa de esta plataforma. Se sigue con la version actual.\n");
        QCOMPARE(QString::fromUtf8(readAll(messages)), told);
        QCOMPARE(readAll(shellFile), oldShell);
        QVERIFY(!QFile::exists(m_program + QStringLiteral("/newver")));
        // The start that was told went on: buttons and modules as always.
        QStringList texts = m_server->texts();
        QCOMPARE(texts.count(kShellBin), 1);
        QCOMPARE(texts.count(kShellVersion), 2);
        QVERIFY(texts.indexOf(kModuleList) > texts.lastIndexOf(kShellVersion));

        // Later starts: not fetched, not told again.
        m_server->clearTrace();
        startShell(shellFile);
        QCOMPARE(waitForLines(starts, 3), QStringLiteral("actualiza 0.0.0.1\nlisto 0.0.0.1\nlisto 0.0.0.1\n"));
        QCOMPARE(QString::fromUtf8(readAll(messages)), told);
        texts = m_server->texts();
        QVERIFY(!texts.contains(kShellBin));
        QVERIFY(texts.contains(kModuleList));

        // Another version in the database is tried.
        m_server->exec(QStringLiteral("UPDATE TBINS SET BINS_Vers = '%1', BINS_Bin = %2 WHERE BINS_Arch = 'Vorel7.exe';")
                           .arg(QStringLiteral(VOREL_TEST_VERSION), hex(newShell)),
                       QStringLiteral("DEMO"));
        startShell(shellFile);
        QCOMPARE(waitForLines(starts, 5),
                 QStringLiteral("actualiza 0.0.0.1\nlisto 0.0.0.1\nlisto 0.0.0.1\nactualiza 0.0.0.1\nlisto %1\n")
                     .arg(QStringLiteral(VOREL_TEST_VERSION)));
        QCOMPARE(readAll(shellFile), newShell);
        QCOMPARE(QString::fromUtf8(readAll(messages)), told);
        QVERIFY(!QFile::exists(m_program + QStringLiteral("/newver.rechazo")));
    }

    void refusalHoldsForItsVersionOnly()
    {
        m_server->exec(QStringLiteral("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) "
                                      "VALUES ('Vorel7.exe', '7.9.9.9', 'x', '0', 'WIN32');"),
                       QStringLiteral("DEMO"));
        writeFile(m_program + QStringLiteral("/Vorel7"), readAll(QStringLiteral(VOREL_FAKE_SHELL)), true);
        writeFile(m_program + QStringLiteral("/Load.dll"), "#!/bin/sh\necho ok > updater-started\n", true);
        const QString refusal = m_program + QStringLiteral("/newver.rechazo");
        writeFile(refusal, R"({"version": "7.9.9.9", "motivo": "no cabe"})");
        writeFile(m_program + QStringLiteral("/newver"), "x");
        QStringList boxes;
        vorel::ui::SetMessageHook([&](vorel::ui::Kind, const QString &, const QString &text) {
            boxes << text;
            return vorel::ui::Answer::Ok;
        });
        const auto restore = qScopeGuard([] { vorel::ui::SetMessageHook(nullptr); });
        m_server->clearTrace();
        for (int round = 0; round < 2; ++round) {
            auto c = client();
            QVERIFY(!shell::SelfUpdateCheck(c->ctx));
            QCOMPARE(c->statuses, round == 0 ? QStringList{QStringLiteral("<oculta>")} : QStringList());
        }
        QCOMPARE(sent(), (QStringList{kShellVersion, kShellVersion}));
        QCOMPARE(boxes, QStringList{QStringLiteral("No se pudo actualizar la version de %1 a 7.9.9.9: no cabe. Se sigue "
                                                   "con la version actual.")
                                        .arg(QStringLiteral(VOREL_TEST_VERSION))});
        QVERIFY(!QFile::exists(m_program + QStringLiteral("/newver")));

        // A refusal that cannot be read refuses nothing; nor does one for
        // another version, which goes away.
        for (const QByteArray &other : {QByteArray("{\"version\": \"7.9.9.8\"}"), QByteArray("\x01" "basura")}) {
            writeFile(refusal, other);
            m_server->clearTrace();
            QFile::remove(m_program + QStringLiteral("/updater-started"));
            auto c = client();
            QVERIFY(shell::SelfUpdateCheck(c->ctx));
            QCOMPARE(sent(), (QStringList{kShellVersion, kShellBin}));
            QCOMPARE(waitForFile(m_program + QStringLiteral("/updater-started")), QByteArray("ok\n"));
            QCOMPARE(QFile::exists(refusal), other.startsWith('\x01'));
        }
        QCOMPARE(boxes.size(), 1);
    }

    void noShellToUpdateTo_data()
    {
        QTest::addColumn<QString>("row");
        QTest::addColumn<QStringList>("queries");
        QTest::newRow("no row") << QString() << QStringList{kShellVersion};
        QTest::newRow("null contents") << QStringLiteral("('VOREL7.EXE', '9.9.9.9', NULL, '0', 'WIN32')")
                                       << QStringList{kShellVersion, kShellBin};
        QTest::newRow("empty contents") << QStringLiteral("('vorel7.exe', '9.9.9.9', X'', '0', 'WIN32')")
                                        << QStringList{kShellVersion, kShellBin};
    }

    void noShellToUpdateTo()
    {
        QFETCH(QString, row);
        QFETCH(QStringList, queries);
        if (!row.isEmpty())
            m_server->exec(QStringLiteral("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) VALUES ")
                               + row,
                           QStringLiteral("DEMO"));
        // A shell with a version of its own, so that an empty text differs.
        writeFile(m_program + QStringLiteral("/Vorel7"), readAll(QStringLiteral(VOREL_FAKE_SHELL)), true);
        writeFile(m_program + QStringLiteral("/Load.dll"), "#!/bin/sh\ntouch updater-started\n", true);
        writeFile(m_program + QStringLiteral("/VorelL.exe"), "x");
        m_server->clearTrace();

        auto c = client();
        QVERIFY(!shell::SelfUpdateCheck(c->ctx));
        QCOMPARE(sent(), queries);
        QVERIFY(!QFile::exists(m_program + QStringLiteral("/VorelL.exe")));
        QVERIFY(!QFile::exists(m_program + QStringLiteral("/newver")));
        QVERIFY(c->statuses.isEmpty());
        QThread::msleep(300);
        QVERIFY(!QFile::exists(m_program + QStringLiteral("/updater-started")));
    }

    void loadedBuildIsCurrent()
    {
        // The script loads through the database's own command-line program.
        if (QStandardPaths::findExecutable(TestServer::postgres() ? QStringLiteral("psql") : QStringLiteral("sqlite3"))
                .isEmpty())
            QSKIP("the database's command-line program (sqlite3 or psql) is not installed");
        QProcess load;
        load.start(QStringLiteral("bash"), {QStringLiteral(VOREL_SOURCE_DIR "/demo/load-binaries.sh"),
                                           m_server->databaseFile(QStringLiteral("DEMO")),
                                           QStringLiteral(VOREL_BIN_DIR)});
        QVERIFY(load.waitForFinished(60000));
        QVERIFY2(load.exitCode() == 0, load.readAllStandardError().constData());
        const QList<QStringList> rows = m_server->query(
            QStringLiteral("SELECT BINS_Arch, BINS_Vers, BINS_Raiz, BINS_GUI, length(BINS_Bin) FROM TBINS "
                           "WHERE BINS_Arch IN ('Vorel7.exe', 'libCambia.so', 'libvorelcore.so', "
                           "'libvorelgui.so', 'Load.dll') ORDER BY BINS_Arch"),
            QStringLiteral("DEMO"));
        QCOMPARE(rows.size(), 5);
        for (const QStringList &row : rows) {
            QCOMPARE(row.mid(1, 3), (QStringList{QStringLiteral(VOREL_TEST_VERSION), QStringLiteral("0"),
                                                 QStringLiteral("WIN32")}));
            const QString file = row[0] == QLatin1String("Vorel7.exe") ? QStringLiteral("Vorel7") : row[0];
            QCOMPARE(row[4].toLongLong(), QFileInfo(QStringLiteral(VOREL_BIN_DIR "/") + file).size());
        }
        execAll(QStringLiteral("DELETE FROM TBINS WHERE BINS_Arch IN ('modulo.so', 'sistema.so', 'sinver.dll');"));
        m_server->clearTrace();

        // A client in the build's program folder finds nothing to fetch.
        auto c = client();
        c->ctx.ProgramFolder = QStringLiteral(VOREL_BIN_DIR);
        c->ctx.ShellFile = QStringLiteral(VOREL_BIN_DIR "/Vorel7");
        QVERIFY(!shell::SelfUpdateCheck(c->ctx));
        shell::ModuleLibrarySync(c->ctx);
        QCOMPARE(sent(), (QStringList{kShellVersion, kModuleList}));
    }

    void updaterKeepsTheOldShell_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("shellFromEnvironment");
        QTest::newRow("missing") << false << QByteArray() << true;
        QTest::newRow("empty") << true << QByteArray() << false;
        QTest::newRow("not a program") << true << QByteArray("esto no es un programa\n") << true;
        QByteArray windows("MZ", 2);
        windows.append(200, '\0');
        QTest::newRow("windows program") << true << windows << true;
        QByteArray otherMachine = readAll(QStringLiteral(VOREL_FAKE_SHELL));
        otherMachine[18] = char(otherMachine.at(18) ^ 0x40);
        QTest::newRow("other machine") << true << otherMachine << true;
    }

    void updaterKeepsTheOldShell()
    {
        QFETCH(bool, present);
        QFETCH(QByteArray, contents);
        QFETCH(bool, shellFromEnvironment);
        const QString shellFile = m_program + QStringLiteral("/Vorel7");
        writeFile(shellFile, kOldShell, true);
        if (present)
            writeFile(m_program + QStringLiteral("/newver"), contents);

        // Without VOREL_SHELL_FILE the shell is "Vorel7" in the working folder.
        const UpdaterRun run = runUpdater(shellFromEnvironment ? shellFile : QString(), endedPid());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.errors.contains(QStringLiteral("newver")), qPrintable(run.errors));
        QCOMPARE(readAll(shellFile), kOldShell);
        QCOMPARE(waitForFile(m_program + QStringLiteral("/shell-started")), QByteArray("viejo\n"));
    }

    void updaterWaitsForTheShellToEnd()
    {
        const QString shellFile = m_program + QStringLiteral("/Vorel7");
        writeFile(shellFile, kOldShell, true);
        writeFile(m_program + QStringLiteral("/newver"), "#!/bin/sh\necho nuevo >> shell-started\n");
        QProcess running;
        running.start(QStringLiteral("sleep"), {QStringLiteral("1")});
        QVERIFY(running.waitForStarted());
        const UpdaterRun run = runUpdater(shellFile, running.processId());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.elapsedMs >= 700, qPrintable(QString::number(run.elapsedMs)));
        QCOMPARE(waitForFile(m_program + QStringLiteral("/shell-started")), QByteArray("nuevo\n"));
        running.waitForFinished();
    }
};

QTEST_MAIN(TestSync)
#include "tst_sync.moc"
