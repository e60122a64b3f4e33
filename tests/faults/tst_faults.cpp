// Faults on the client's side: a folder it may not write into (downloads,
// button images, exports), a damaged button image and a library cut short in
// TBINS. Each is told in a message, leaves no partial file, and the shell
// goes on with the rest of its start-up.
#include "common/exception.h"
#include "common/fileversion.h"
#include "common/platform.h"
#include "data/connection.h"
#include "runtime/ferror.h"
#include "runtime/filedialog.h"
#include "runtime/frmvrl.h"
#include "runtime/imagelist.h"
#include "runtime/snvorel.h"
#include "runtime/ui.h"
#include "shell/fmain.h"
#include "shell/outbar.h"
#include "shell/shelldriver.h"
#include "support/moduleframe.h"
#include "support/testserver.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace vorel;
using shelltest::LoginDriver;
using shelltest::Messages;

namespace {

// A folder nobody may write into for as long as it lives. Root writes into
// any folder, so the process gives up that power meanwhile.
class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QString &path) : m_path(path)
    {
        m_saved = QFile::permissions(path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                                        | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther);
        if (::geteuid() == 0)
            setOverride(false);
    }
    ~ReadOnlyFolder()
    {
        if (m_dropped)
            setOverride(true);
        QFile::setPermissions(m_path, m_saved);
    }
    // True when writing into it is really refused.
    bool holds() const
    {
        QFile probe(QDir(m_path).filePath(QStringLiteral(".prueba")));
        if (probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            return false;
        }
        return true;
    }

private:
    void setOverride(bool on)
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (::syscall(SYS_capget, &header, data) != 0)
            return;
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
            if (on)
                data[cap / 32].effective |= 1u << (cap % 32);
            else
                data[cap / 32].effective &= ~(1u << (cap % 32));
        }
        if (::syscall(SYS_capset, &header, data) == 0)
            m_dropped = !on;
    }
    QString m_path;
    QFileDevice::Permissions m_saved;
    bool m_dropped = false;
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString hex(const QByteArray &bytes) { return QStringLiteral("X'") + QString::fromLatin1(bytes.toHex()) + QLatin1Char('\''); }

} // namespace

class TstFaults : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TestServer> m_server;
    std::unique_ptr<QTemporaryDir> m_work;
    QString m_port;
    QString m_program;

    std::unique_ptr<shell::TFMain> startShell()
    {
        auto frame = std::make_unique<shell::TFMain>();
        frame->SyncProgramFolder = m_program;
        frame->SyncShellFile = QDir(QStringLiteral(VOREL_BIN_DIR)).filePath(QStringLiteral("Vorel7"));
        LoginDriver driver({shelltest::fill(QStringLiteral("9001"), QStringLiteral("clave"), QStringLiteral("DEMO"),
                                            m_server->host(), m_port)});
        frame->FormCreate();
        return frame;
    }

    int buttonCount() const
    {
        return m_server->query(QStringLiteral("SELECT count(*) FROM TBOTONES")).value(0).value(0).toInt();
    }

    // Files in a folder, hidden ones (a writer's temporary files) included.
    static QStringList filesIn(const QString &folder)
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

    static void checkWentOn(shell::TFMain &frame)
    {
        QVERIFY(!frame.Terminated());
        QCOMPARE(frame.OutBar->PageCount(), 2);
        QVERIFY(frame.windowTitle().contains(QStringLiteral("9001@DEMO")));
    }

private Q_SLOTS:
    void initTestCase()
    {
        test::TestServer::Options o;
        o.oracleScripts << QStringLiteral(VOREL_SHELL_FIXTURE);
        m_server = std::make_unique<test::TestServer>(o);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_port = QString::number(m_server->port());
        QVERIFY(buttonCount() > 0);
    }

    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        const QString root = m_work->path();
        for (const char *dir : {"config", "prog", "win/System32", "datos"})
            QVERIFY(QDir(root).mkpath(QLatin1String(dir)));
        m_program = root + QStringLiteral("/prog");
        qputenv("VOREL_CONFIG_DIR", QFile::encodeName(root + QStringLiteral("/config")));
        qputenv("SystemRoot", QFile::encodeName(root + QStringLiteral("/win")));
        QVERIFY(QDir::setCurrent(root + QStringLiteral("/datos")));
        m_server->exec(QStringLiteral("DELETE FROM TBINS"));
        m_server->clearTrace();
    }

    void cleanup()
    {
        QDir::setCurrent(QDir::tempPath());
        m_work.reset();
    }

    // The program folder cannot be written: no button folder, no module.
    void readOnlyProgramFolder()
    {
        m_server->exec(QStringLiteral("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) "
                                      "VALUES ('datos.txt', NULL, 'datos', '0', 'WIN32')"));
        Messages messages;
        std::unique_ptr<shell::TFMain> frame;
        {
            ReadOnlyFolder locked(m_program);
            QVERIFY(locked.holds());
            frame = startShell();
        }
        checkWentOn(*frame);
        QCOMPARE(messages.shown.size(), 2);
        for (const shelltest::Shown &s : messages.shown)
            QCOMPARE(s.kind, ui::Kind::Error);
        QVERIFY2(messages.shown[0].text.startsWith(QStringLiteral("No se pudieron guardar %1 imágenes de botones:\n")
                                                       .arg(buttonCount())),
                 qPrintable(messages.shown[0].text));
        QVERIFY2(messages.shown[0].text.contains(m_program + QStringLiteral("/Boton/")), qPrintable(messages.shown[0].text));
        QVERIFY2(messages.shown[1].text.startsWith(QStringLiteral("No se puede crear el archivo ") + m_program
                                                   + QStringLiteral("/datos.txt")),
                 qPrintable(messages.shown[1].text));
        QCOMPARE(filesIn(m_program), QStringList());
        QCOMPARE(frame->ImgBoton->Count(), 0);
        // Nothing stored counts as the set version: all are fetched next time.
        platform::TSettingsStore store;
        QVERIFY(store.OpenKey(QStringLiteral("Software\\Vorel7\\DEMO"), false));
        QCOMPARE(store.ReadString(QStringLiteral("VerBoton")), QString());

        // Writable again: everything arrives.
        Messages again;
        frame = startShell();
        checkWentOn(*frame);
        QCOMPARE(again.texts(), QStringList());
        QCOMPARE(frame->ImgBoton->Count(), buttonCount());
        QCOMPARE(readAll(m_program + QStringLiteral("/datos.txt")), QByteArray("datos"));
    }

    // Only the button folder is locked: the images are told, the modules
    // arrive, and images already there are used.
    void readOnlyButtonFolder()
    {
        const QString folder = m_program + QStringLiteral("/Boton");
        QVERIFY(QDir().mkpath(folder));
        m_server->exec(QStringLiteral("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) "
                                      "VALUES ('datos.txt', NULL, 'datos', '0', 'WIN32')"));
        Messages messages;
        std::unique_ptr<shell::TFMain> frame;
        {
            ReadOnlyFolder locked(folder);
            QVERIFY(locked.holds());
            frame = startShell();
        }
        checkWentOn(*frame);
        QCOMPARE(messages.shown.size(), 1);
        QVERIFY2(messages.shown[0].text.startsWith(QStringLiteral("No se pudieron guardar %1 imágenes de botones:\n")
                                                       .arg(buttonCount())),
                 qPrintable(messages.shown[0].text));
        QCOMPARE(readAll(m_program + QStringLiteral("/datos.txt")), QByteArray("datos"));
        QCOMPARE(filesIn(folder), QStringList());
        QCOMPARE(frame->ImgBoton->Count(), 0);
    }

    // One image of the set is no bitmap: it keeps its place empty, is told,
    // and is fetched again at the next start.
    void damagedButtonImage()
    {
        const QList<QStringList> rows =
            m_server->query(QStringLiteral("SELECT BOTO_Boton, %1 FROM TBOTONES ORDER BY BOTO_Boton LIMIT 1 OFFSET 2")
                                .arg(test::TestServer::postgres() ? QStringLiteral("encode(BOTO_Img, 'hex')")
                                                                  : QStringLiteral("hex(BOTO_Img)")));
        QCOMPARE(rows.size(), 1);
        const QString number = rows[0][0];
        const QString good = rows[0][1];
        m_server->exec(QStringLiteral("UPDATE TBOTONES SET BOTO_Img = X'424D0000FFFF' WHERE BOTO_Boton = ") + number);
        const auto mend = [&] {
            m_server->exec(QStringLiteral("UPDATE TBOTONES SET BOTO_Img = X'%1' WHERE BOTO_Boton = %2").arg(good, number));
        };
        auto restore = qScopeGuard(mend);
        const QString name = (number.toInt() < 10 ? QStringLiteral("0") : QString()) + number + QStringLiteral(".bmp");
        const QString path = m_program + QStringLiteral("/Boton/") + name;

        Messages messages;
        auto frame = startShell();
        checkWentOn(*frame);
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("La imagen de botón %1 está dañada; el botón queda sin imagen")
                                                   .arg(path)});
        QCOMPARE(messages.shown[0].kind, ui::Kind::Error);
        QCOMPARE(frame->ImgBoton->Count(), buttonCount());
        QVERIFY(!QFile::exists(path));

        // Mended in the database: the next start fetches it, and only it.
        restore.dismiss();
        mend();
        m_server->clearTrace();
        Messages again;
        frame = startShell();
        QCOMPARE(again.texts(), QStringList());
        QVERIFY(QFile::exists(path));
        QCOMPARE(m_server->texts().filter(QStringLiteral("BOTO_Img FROM")).size(), 1);
    }

    // A library cut short in TBINS never replaces the one in place.
    void truncatedLibrary()
    {
        const QByteArray library = readAll(QStringLiteral(VOREL_BIN_DIR "/libCambia.so"));
        QVERIFY(library.size() > 4096);
        QCOMPARE(FileVersionText(QStringLiteral(VOREL_BIN_DIR "/libCambia.so")), QStringLiteral(VOREL_TEST_VERSION));
        const QString installed = m_program + QStringLiteral("/libprueba.so");
        QVERIFY(QFile::copy(QStringLiteral(VOREL_BIN_DIR "/libCambia.so"), installed));
        const QList<std::pair<QString, QByteArray>> cuts{
            {QStringLiteral("libprueba.so"), library.left(library.size() / 2)},
            {QStringLiteral("libcabecera.so"), library.left(40)},
            {QStringLiteral("libvacia.so"), QByteArray()},
        };
        for (const auto &[file, blob] : cuts)
            m_server->exec(QStringLiteral("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) "
                                          "VALUES ('%1', '9.9.9.9', %2, '0', 'WIN32')")
                               .arg(file, hex(blob)));
        m_server->exec(QStringLiteral("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) "
                                      "VALUES ('libentera.so', '9.9.9.9', %1, '0', 'WIN32')")
                           .arg(hex(library)));
        Messages messages;
        auto frame = startShell();
        checkWentOn(*frame);
        QCOMPARE(messages.shown.size(), 1);
        const QString text = messages.shown[0].text;
        QVERIFY2(text.startsWith(QStringLiteral("No se pudieron instalar 3 archivos:\n")), qPrintable(text));
        for (const auto &[file, blob] : cuts)
            QVERIFY2(text.contains(QStringLiteral("El archivo %1 de la base de datos está incompleto (").arg(file)),
                     qPrintable(text));
        QCOMPARE(readAll(installed), library);
        // A whole one is put in place as always.
        QCOMPARE(readAll(m_program + QStringLiteral("/libentera.so")), library);
        QCOMPARE(filesIn(m_program), (QStringList{QStringLiteral("libentera.so"), QStringLiteral("libprueba.so")}));
    }

    // An export into a folder that cannot be written: told, no file, and
    // the window goes on working.
    void exportIntoReadOnlyFolder()
    {
        TSocketConnection connection;
        test::LogIn(connection, *m_server);
        test::ModuleFrame frame;
        QStringList &errors = frame.errors;
        Messages messages;
        new TSnVorel(&connection, nullptr, QStringLiteral("VENTAS"), QStringLiteral("CLIENTES"));
        QCOMPARE(errors, QStringList());
        TfrmVrl *w = frame.Current();
        QVERIFY(w);

        const QString folder = m_work->filePath(QStringLiteral("salida"));
        QVERIFY(QDir().mkpath(folder));
        QFile old(folder + QStringLiteral("/clientes.csv"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("anterior\r\n");
        old.close();
        ui::SetFileDialogHook([&](QFileDialog &) { return folder + QStringLiteral("/clientes"); });
        {
            ReadOnlyFolder locked(folder);
            QVERIFY(locked.holds());
            w->findChild<QAction *>(QStringLiteral("GrabaraDisco1"))->trigger();
        }
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].kind, ui::Kind::Error);
        QVERIFY2(messages.shown[0].text.contains(folder + QStringLiteral("/clientes.csv")), qPrintable(messages.shown[0].text));
        QCOMPARE(filesIn(folder), QStringList{QStringLiteral("clientes.csv")});
        QCOMPARE(readAll(folder + QStringLiteral("/clientes.csv")), QByteArray("anterior\r\n"));
        QCOMPARE(w->windowTitle(), QStringLiteral("No se pudo guardar ") + folder + QStringLiteral("/clientes.csv"));

        // Writable again, the same window exports.
        messages.shown.clear();
        w->findChild<QAction *>(QStringLiteral("GrabaraDisco1"))->trigger();
        QCOMPARE(messages.texts(), QStringList());
        QVERIFY(readAll(folder + QStringLiteral("/clientes.csv")).startsWith("\""));
        QCOMPARE(w->windowTitle(), folder + QStringLiteral("/clientes.csv"));
        frame.area->closeAllSubWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

QTEST_MAIN(TstFaults)
#include "tst_faults.moc"
