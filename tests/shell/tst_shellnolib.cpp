// The shell when "Cambia" cannot be used: the program lives in a folder of
// its own, so whether a library is found depends only on the working folder
// the test chooses.
#include "shelldriver.h"

#include "common/platform.h"
#include "data/connection.h"
#include "shell/fmain.h"
#include "shell/outbar.h"
#include "support/testserver.h"

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace shelltest;
using vorel::shell::TFMain;

class TstShellNoLib : public QObject
{
    Q_OBJECT

    std::unique_ptr<vorel::test::TestServer> m_server;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<TFMain> m_frame;

    // Every way into the library, each through its own menu or click
    // handler; the failure must come out of each as the application-level
    // report with exactly `text`, and nothing else may happen.
    void everyEntryFails(const QString &text)
    {
        TFMain *frame = m_frame.get();
        const QString caption = frame->windowTitle();
        const QStringList menu = [&] {
            QStringList out;
            for (QAction *a : frame->Archivo1->actions())
                out << a->text();
            return out;
        }();
        Messages messages;
        m_server->clearTrace();

        frame->OutBar->SetActivePage(1);
        frame->OutBar->Button(frame->OutBar->Page(1), 0)->click();
        frame->mAdmUsu->trigger();
        frame->mPaswd->trigger();
        frame->meMail->trigger();

        QCOMPARE(messages.shown.size(), 4);
        for (const Shown &s : messages.shown) {
            QCOMPARE(s.kind, vorel::ui::Kind::Error);
            QCOMPARE(s.title, vorel::ui::ApplicationTitle());
            QCOMPARE(s.text, text);
        }
        QCOMPARE(m_server->texts(), QStringList());
        QCOMPARE(frame->windowTitle(), caption);
        QCOMPARE(frame->OutBar->PageCount(), 2);
        QStringList menuNow;
        for (QAction *a : frame->Archivo1->actions())
            menuNow << a->text();
        QCOMPARE(menuNow, menu);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Nothing named like the library beside the program.
        for (const QString &file : vorel::platform::LibraryFileNames(QStringLiteral("Cambia")))
            QVERIFY2(!QFileInfo::exists(QDir(vorel::platform::ProgramFolder()).filePath(file)), qPrintable(file));

        vorel::test::TestServer::Options o;
        o.oracleScripts << QStringLiteral(VOREL_SHELL_FIXTURE);
        m_server = std::make_unique<vorel::test::TestServer>(o);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));

        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        QDir(m_work->path()).mkpath(QStringLiteral("prog"));
        qputenv("VOREL_CONFIG_DIR", QFile::encodeName(m_work->filePath(QStringLiteral("config"))));
        qputenv("SystemRoot", QFile::encodeName(m_work->filePath(QStringLiteral("win"))));
        QVERIFY(QDir::setCurrent(m_work->path()));

        Messages messages;
        m_frame = std::make_unique<TFMain>();
        m_frame->SyncProgramFolder = m_work->filePath(QStringLiteral("prog"));
        m_frame->SyncShellFile = QDir(QStringLiteral(VOREL_BIN_DIR)).filePath(QStringLiteral("Vorel7"));
        LoginDriver driver({fill(QStringLiteral("9001"), QStringLiteral("clave"), QStringLiteral("DEMO"),
                                 m_server->host(), QString::number(m_server->port()))});
        m_frame->FormCreate();
        QVERIFY(!m_frame->Terminated());
        QVERIFY(m_frame->mAdmUsu);
        QCOMPARE(m_frame->OutBar->PageCount(), 2);
        QCOMPARE(messages.texts(), QStringList());
    }

    void cleanupTestCase()
    {
        m_frame.reset();
        QDir::setCurrent(QDir::tempPath());
    }

    void noLibraryAnywhere()
    {
        QVERIFY(QDir::setCurrent(m_work->path()));
        everyEntryFails(QStringLiteral("No se puede cargar Libreria"));
    }

    void libraryWithoutTheExports()
    {
        // The working folder holds a "Cambia" that exports neither function.
        QVERIFY(QDir::setCurrent(QStringLiteral(VOREL_EMPTY_CAMBIA_DIR)));
        everyEntryFails(QStringLiteral("No se puede cargar la función"));
        // The library is loaded and stays loaded; the next click fails the
        // same way.
        everyEntryFails(QStringLiteral("No se puede cargar la función"));
    }
};

QTEST_MAIN(TstShellNoLib)
#include "tst_shellnolib.moc"
