// What a user may type or paste into the client's text fields: quotes, SQL
// comments, ';', control characters, a megabyte, text that was no UTF-8.
// Each reaches the server as a literal (quotes doubled inside SQL texts,
// nothing run as SQL of its own) or is refused with a message; nothing
// crashes or hangs. Checked through the server's trace and its database.
#include "common/exception.h"
#include "common/platform.h"
#include "data/connection.h"
#include "runtime/exports.h"
#include "runtime/ferror.h"
#include "runtime/filedialog.h"
#include "runtime/frmvrl.h"
#include "runtime/snvorel.h"
#include "runtime/ui.h"
#include "shell/fmain.h"
#include "shell/shelldriver.h"
#include "support/moduleframe.h"
#include "support/testserver.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLibrary>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

using namespace vorel;
using shelltest::LoginDriver;
using shelltest::Messages;

namespace {

struct Hostile {
    QString name;
    QString text;
};

QList<Hostile> hostileTexts()
{
    QString control = QStringLiteral("a");
    for (char16_t c : {u'\x01', u'\x02', u'\x07', u'\x08', u'\t', u'\x1b', u'\x7f', u'\x85'})
        control += QChar(c);
    control += QStringLiteral("b\r\nc\rd");
    return {
        {QStringLiteral("quotes"), QStringLiteral("O'Brien '' ''' \" \\' `x`")},
        {QStringLiteral("comments"), QStringLiteral("a -- b /* c */ d */ e /*")},
        {QStringLiteral("statements"), QStringLiteral("x'); DELETE FROM vorel.TUSUARIOS; COMMIT; --")},
        {QStringLiteral("control"), control},
        {QStringLiteral("nul"), QStringLiteral("a") + QChar(0) + QStringLiteral("b'c")},
        {QStringLiteral("megabyte"), QString(1 << 20, QLatin1Char('m'))},
        // What a paste of bytes that were no UTF-8 gives, and a lone surrogate.
        {QStringLiteral("no utf-8"), QString::fromUtf8("\xff\xfe\xc3\x28\xed\xa0\x80 z") + QChar(0xD800)},
    };
}

// The text as it can travel: what the field holds, through UTF-8.
QString travelled(const QString &text) { return QString::fromUtf8(text.toUtf8()); }
QString doubled(QString text) { return text.replace(QLatin1Char('\''), QStringLiteral("''")); }
QString shortName(const QString &text) { return text.size() > 60 ? text.left(60) + QStringLiteral("...") : text; }

} // namespace

class TstHostile : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TestServer> m_server;
    std::unique_ptr<QTemporaryDir> m_work;
    QString m_port;

    int userCount() const
    {
        return m_server->query(QStringLiteral("SELECT count(*) FROM TUSUARIOS")).value(0).value(0).toInt();
    }

    // One start-up of the shell with the login dialog filled by `steps`.
    std::unique_ptr<shell::TFMain> start(QList<LoginDriver::Step> steps)
    {
        auto frame = std::make_unique<shell::TFMain>();
        frame->SyncProgramFolder = m_work->filePath(QStringLiteral("prog"));
        frame->SyncShellFile = QDir(QStringLiteral(VOREL_BIN_DIR)).filePath(QStringLiteral("Vorel7"));
        LoginDriver driver(std::move(steps));
        frame->FormCreate();
        return frame;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_server = std::make_unique<test::TestServer>();
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_port = QString::number(m_server->port());
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        for (const char *dir : {"config", "prog", "win/System32", "datos"})
            QVERIFY(QDir(m_work->path()).mkpath(QLatin1String(dir)));
        qputenv("VOREL_CONFIG_DIR", QFile::encodeName(m_work->filePath(QStringLiteral("config"))));
        qputenv("SystemRoot", QFile::encodeName(m_work->filePath(QStringLiteral("win"))));
        QVERIFY(QDir::setCurrent(m_work->filePath(QStringLiteral("datos"))));
    }

    void init() { m_server->clearTrace(); }

    // The user number goes into SQL unquoted: anything else is refused
    // before it is sent. Password and database travel as the arguments of
    // Login (this server takes any database name), and the database name
    // becomes a key of the settings store. A full field may hold a paste cut
    // short: refused.
    void loginDialog()
    {
        const int users = userCount();
        for (const Hostile &h : hostileTexts()) {
            const QString value = h.text;
            const bool cut = value.size() >= QLineEdit().maxLength();
            Messages messages;
            m_server->clearTrace();
            auto frame = start({shelltest::fill(value, QStringLiteral("clave"), QStringLiteral("DEMO"), m_server->host(), m_port),
                                shelltest::fill(QStringLiteral("1001"), value, QStringLiteral("DEMO"), m_server->host(), m_port),
                                shelltest::fill(QStringLiteral("1001"), QStringLiteral("clave"), value, m_server->host(), m_port)});
            const QStringList texts = messages.texts();
            const QStringList logins = m_server->texts().filter(QRegularExpression(QStringLiteral("^Login\\|")));
            const QString what = h.name + QLatin1Char(' ') + shortName(texts.join(QLatin1Char('|')));
            QCOMPARE(userCount(), users);
            if (cut) {
                const QString refused = QStringLiteral("El texto es demasiado largo: se admiten hasta 32766 caracteres");
                QCOMPARE(texts, (QStringList{refused, refused, refused}));
                QVERIFY(frame->Terminated());
                QCOMPARE(logins, QStringList());
                continue;
            }
            QVERIFY2(!frame->Terminated(), qPrintable(what));
            QCOMPARE(texts.size(), 3);
            QCOMPARE(texts.at(0), QStringLiteral("El usuario debe ser un número"));
            QCOMPARE(texts.at(1), QStringLiteral("Usuario o contraseña incorrectos"));
            const QString address = frame->ClientAddress;
            QCOMPARE(logins.size(), 2);
            // The trace never holds a password.
            QCOMPARE(logins.at(0), QStringLiteral("Login|1001|********|DEMO|") + address);
            QCOMPARE(logins.at(1),
                     QStringLiteral("Login|1001|********|") + travelled(value) + QLatin1Char('|') + address);
            QVERIFY(frame->windowTitle().contains(QStringLiteral("1001@") + value));

            // What was kept reads back as it was typed.
            platform::TSettingsStore store;
            QVERIFY(store.OpenKey(QStringLiteral("Software\\Vorel7"), false));
            QCOMPARE(store.ReadString(QStringLiteral("dBase")), travelled(value));
            QCOMPARE(store.ReadString(QStringLiteral("Login")), QStringLiteral("1001"));
            QCOMPARE(store.ReadString(QStringLiteral("Addrs")), m_server->host());
            QVERIFY2(store.OpenKey(travelled(value), false), qPrintable(what));
            QVERIFY(store.ValueExists(QStringLiteral("VerBoton")));
        }
    }

    // Where the first server is: a bad address fails to connect, a bad port
    // is no number; either way the user is told and nothing is sent.
    void connectionSettings()
    {
        for (const Hostile &h : hostileTexts()) {
            Messages messages;
            m_server->clearTrace();
            QElapsedTimer timer;
            timer.start();
            auto frame = start({shelltest::fill(QStringLiteral("1001"), QStringLiteral("clave"), QStringLiteral("DEMO"), h.text, m_port),
                                shelltest::fill(QStringLiteral("1001"), QStringLiteral("clave"), QStringLiteral("DEMO"), m_server->host(), h.text)});
            QVERIFY2(timer.elapsed() < 60000, qPrintable(h.name));
            QVERIFY(frame->Terminated());
            const QStringList texts = messages.texts();
            QCOMPARE(texts.size(), 2);
            QVERIFY2(!texts.at(0).isEmpty(), qPrintable(h.name));
            QCOMPARE(texts.at(1), h.text.size() >= QLineEdit().maxLength()
                                      ? QStringLiteral("El texto es demasiado largo: se admiten hasta 32766 caracteres")
                                      : QStringLiteral("El puerto debe ser un número entero"));
            QCOMPARE(m_server->texts(), QStringList());
        }
    }

    // The e-mail and the password of the account dialogs go into SQL
    // between quotes, doubled; what is stored is what was in the field.
    void accountDialogs()
    {
        QLibrary cambia(QStringLiteral(VOREL_BIN_DIR "/libCambia.so"));
        QVERIFY2(cambia.load(), qPrintable(cambia.errorString()));
        auto accountMain = reinterpret_cast<TAccountMainFn>(cambia.resolve("main"));
        QVERIFY(accountMain);
        TSocketConnection connection;
        test::LogIn(connection, *m_server);
        const int users = userCount();
        const auto restore = qScopeGuard([this] {
            m_server->exec(QStringLiteral("UPDATE TUSUARIOS SET USUA_Paswd = 'clave' WHERE USUA_Usua = 1001"));
        });
        const auto stored = [&](const char *column) {
            return m_server->query(QStringLiteral("SELECT %1 FROM TUSUARIOS WHERE USUA_Usua = 1001").arg(QLatin1String(column)))
                .value(0)
                .value(0);
        };
        // Fills the dialog of `mode` once and confirms it; a refusal keeps
        // it open, and it is then cancelled.
        const auto confirm = [&](qint32 mode, const QString &value, QStringList *boxes) {
            Messages messages;
            QTimer poll;
            int seen = 0;
            connect(&poll, &QTimer::timeout, this, [&] {
                auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                if (!d || !d->isVisible())
                    return;
                if (seen++ > 0) {
                    d->reject();
                    return;
                }
                for (const char *name : mode == 0 ? QList<const char *>{"paswd", "confirma"} : QList<const char *>{"newEmail"})
                    d->findChild<QLineEdit *>(QLatin1String(name))->setText(value);
                d->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
            });
            poll.start(10);
            QString newUser;
            accountMain(QStringLiteral("1001"), mode, &connection, newUser);
            poll.stop();
            *boxes = messages.texts();
        };
        for (const Hostile &h : hostileTexts()) {
            for (qint32 mode : {0, 1}) {
                const QString before = stored(mode == 0 ? "USUA_Paswd" : "USUA_eMail");
                const QString expected = mode == 0 ? travelled(h.text) : travelled(h.text).toLower();
                QStringList boxes;
                m_server->clearTrace();
                confirm(mode, h.text, &boxes);
                const QString column = mode == 0 ? QStringLiteral("USUA_Paswd") : QStringLiteral("USUA_eMail");
                const QString sent = QStringLiteral("EjeDir|UPDATE Vorel.TUsuarios SET %1= '").arg(column) + doubled(expected)
                    + QStringLiteral("' WHERE USUA_Usua= 1001");
                const QString what = h.name + QLatin1Char('/') + QString::number(mode) + QLatin1Char(' ')
                    + shortName(boxes.join(QLatin1Char('|')));
                if (h.text.contains(QChar(0))) {
                    // It would end the statement early on the other side.
                    QCOMPARE(boxes, QStringList{QString::fromUtf8(TSocketConnection::NulInSql)});
                    QCOMPARE(m_server->texts().filter(QStringLiteral("EjeDir")), QStringList());
                    QCOMPARE(stored(mode == 0 ? "USUA_Paswd" : "USUA_eMail"), before);
                    continue;
                }
                if (h.text.size() >= QLineEdit().maxLength()) {
                    // Cut by the field: refused, nothing sent.
                    QCOMPARE(boxes, QStringList{QStringLiteral("El texto es demasiado largo: se admiten hasta 32766 caracteres")});
                    QCOMPARE(m_server->texts().filter(QStringLiteral("EjeDir")), QStringList());
                    continue;
                }
                QVERIFY2(m_server->texts().contains(sent), qPrintable(what));
                QVERIFY2(boxes == QStringList{QStringLiteral("Cambio efectuado")}, qPrintable(what));
                if (mode == 0) {
                    // Kept as a hash: the text is right when it logs in.
                    QVERIFY2(stored("USUA_Paswd").startsWith(QStringLiteral("$pbkdf2-sha256$")), qPrintable(what));
                    TSocketConnection check;
                    check.SetHost(m_server->host());
                    check.SetPort(m_server->port());
                    check.SetTimeout(60000);
                    check.Open();
                    try {
                        check.Call(QStringLiteral("Login"), {QStringLiteral("1001"), expected, QStringLiteral("DEMO"),
                                                             QStringLiteral("127.0.0.1")});
                    } catch (const Exception &e) {
                        QFAIL(qPrintable(what + QStringLiteral(": ") + e.message()));
                    }
                } else {
                    QVERIFY2(stored("USUA_eMail") == expected, qPrintable(what));
                }
                QCOMPARE(userCount(), users);
            }
        }
    }

    // Example values of the selection dialog go into RQBEX between quotes;
    // export file names are taken as they are, or refused with a message.
    void listWindow()
    {
        TSocketConnection connection;
        test::LogIn(connection, *m_server);
        test::ModuleFrame frame;
        QStringList &errors = frame.errors;
        Messages messages;

        new TSnVorel(&connection, nullptr, QStringLiteral("VENTAS"), QStringLiteral("PEDIDOS"));
        QCOMPARE(errors, QStringList());
        TfrmVrl *w = frame.Current();
        QVERIFY(w);
        auto *grid = w->findChild<QDialog *>(QStringLiteral("FSelec"))->findChild<QTableWidget *>(QStringLiteral("SGSele"));
        int row = -1;
        for (int r = 0; r < grid->rowCount(); ++r)
            if (grid->item(r, 0)->text() == QStringLiteral("Nombre del cliente"))
                row = r;
        QVERIFY(row >= 0);
        const int users = userCount();
        const QString rows = QStringLiteral("SELECT * FROM TABLE(pPEDIDOS.main('VENTAS'))");
        for (const Hostile &h : hostileTexts()) {
            grid->setItem(row, 1, new QTableWidgetItem(h.text));
            messages.shown.clear();
            errors.clear();
            m_server->clearTrace();
            w->findChild<QAction *>(QStringLiteral("Refrescar1"))->trigger();
            const QString what = h.name + QLatin1Char(' ') + shortName(messages.texts().join(QLatin1Char('|')) + errors.join(QLatin1Char('|')));
            QCOMPARE(messages.texts().value(0), QStringLiteral("Refrescar Datos"));
            const QStringList texts = m_server->texts();
            if (h.text.contains(QChar(0))) {
                QVERIFY2((messages.texts() + errors).contains(QString::fromUtf8(TSocketConnection::NulInSql)), qPrintable(what));
                QCOMPARE(texts.filter(QStringLiteral("INTO vorel.RQBEX")), QStringList());
                continue;
            }
            QVERIFY2(texts.contains(QStringLiteral("EjeDir|INSERT INTO vorel.RQBEX (QBEX_Reg, QBEX_Campo, QBEX_Valor, QBEX_Fecha) "
                                                   "VALUES (1,'NOMCLIENTE', '")
                                    + doubled(travelled(h.text)) + QStringLiteral("',0)")),
                     qPrintable(what));
            if (test::TestServer::postgres() && h.text.size() > 4000) {
                // PostgreSQL holds the example's column to its 4000 characters as
                // Oracle does, and the session's working tables are the server's
                // own: the refusal is shown and the rows are not asked for.
                QVERIFY2(errors.isEmpty() && messages.shown.size() == 2, qPrintable(what));
                QVERIFY2(messages.texts().value(1).startsWith(QStringLiteral("ORA-12899: ")), qPrintable(what));
                QVERIFY2(!texts.contains(rows), qPrintable(what));
                QCOMPARE(userCount(), users);
                continue;
            }
            QVERIFY2(errors.isEmpty() && messages.shown.size() == 1, qPrintable(what));
            QVERIFY2(texts.contains(rows), qPrintable(what));
            QCOMPARE(userCount(), users);
        }
        grid->setItem(row, 1, new QTableWidgetItem());

        // Export names: written under exactly that name, or refused with a
        // message and no file left behind.
        QTemporaryDir out;
        QVERIFY(out.isValid());
        for (const Hostile &h : hostileTexts()) {
            const QString file = out.filePath(h.text + QStringLiteral(".csv"));
            ui::SetFileDialogHook([&](QFileDialog &) { return file; });
            messages.shown.clear();
            errors.clear();
            w->findChild<QAction *>(QStringLiteral("GrabaraDisco1"))->trigger();
            const QStringList left = QDir(out.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
            const QString what = h.name + QLatin1Char(' ') + shortName(messages.texts().join(QLatin1Char('|')))
                + QLatin1Char(' ') + shortName(left.join(QLatin1Char('|')));
            // Too long for a file name, cut short by a NUL, or in folders
            // that do not exist: refused.
            const bool refused = h.text.size() > 255 || h.text.contains(QChar(0)) || h.text.contains(QLatin1Char('/'));
            QVERIFY2(messages.shown.isEmpty() != refused, qPrintable(what));
            if (!refused) {
                // The name as the file system can hold it.
                const QString onDisk = QFile::decodeName(QFile::encodeName(file));
                QVERIFY2(left == QStringList{QFileInfo(onDisk).fileName()}, qPrintable(what));
                QVERIFY2(QFileInfo(onDisk).size() > 0, qPrintable(what));
                QVERIFY(QFile::remove(onDisk));
            } else {
                QVERIFY2(messages.shown.size() == 1 && messages.shown.first().kind == ui::Kind::Error, qPrintable(what));
                QVERIFY2(left.isEmpty(), qPrintable(what));
                QVERIFY2(w->windowTitle().startsWith(QStringLiteral("No se pudo guardar ")), qPrintable(what));
            }
        }
        frame.area->closeAllSubWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

QTEST_MAIN(TstHostile)
#include "tst_hostile.moc"
