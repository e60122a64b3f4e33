// The shell's start-up for a role with many classes and many module files,
// none of them to download, counted in the requests the shell waits for.
#include "shelldriver.h"

#include "common/fileversion.h"
#include "data/protocol.h"
#include "fileversion/fixtures.h"
#include "runtime/imagelist.h"
#include "shell/fmain.h"
#include "shell/outbar.h"
#include "support/testserver.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QTcpServer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

using namespace shelltest;
using vorel::proto::MsgType;
using vorel::shell::TFMain;

namespace {

constexpr int kClasses = 100;
constexpr int kModules = 30;
constexpr int kSystemModules = 5; // the first ones go to the system folder
constexpr int kMaxRoundTrips = 60;
const QString kUser = QStringLiteral("9501");
const QString kRole = QStringLiteral("ZS_CIEN");

QString className(int i) { return QStringLiteral("ZS%1").arg(i, 3, 10, QLatin1Char('0')); }
QString moduleName(int i) { return QStringLiteral("zsmod%1.so").arg(i, 2, 10, QLatin1Char('0')); }
std::array<quint16, 4> moduleVersion(int i) { return {3, 1, 0, quint16(i)}; }
QString moduleVersionText(int i) { return QStringLiteral("3.1.0.%1").arg(i); }
// Every other class has no label of its own in the role.
QString buttonLabel(int i)
{
    return i % 2 ? QStringLiteral("Botón %1").arg(i) : QStringLiteral("Clase %1").arg(i);
}

QByteArray moduleImage(int i)
{
    using namespace vorel::test::fixtures;
    return elf(true, false, Headers::Sections, {vorelNote(moduleVersion(i))});
}

// The script's modules are files beside it, read by FILE('...').
QString moduleFile(int i) { return QStringLiteral("modulos/") + moduleName(i); }

// In the Oracle form, so that either database loads it.
QString fixtureSql()
{
    QString sql = QStringLiteral(
        "DELETE FROM TBINS;\n"
        "DELETE FROM TPARAMS WHERE PARA_Param = 'MENINI';\n"
        "INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (%1, 'Usuario de cien clases', 'clave');\n"
        "INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('%2', 'Rol de cien clases');\n"
        "INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (%1, '%2', 0);\n")
                      .arg(kUser, kRole);
    for (int i = 1; i <= kClasses; ++i) {
        const QString c = className(i);
        sql += QStringLiteral("INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq) VALUES ('%1', 'Clase %2');\n").arg(c).arg(i);
        sql += QStringLiteral("INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, "
                              "METO_Visib) VALUES ('%1', 'main', 'Lista', 0, 1, 1);\n")
                   .arg(c);
        sql += QStringLiteral("INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) "
                              "VALUES (%1, '%2', 'main', 'WIN32', 1);\n")
                   .arg(950000 + i)
                   .arg(c);
        const QString label = i % 2 ? QStringLiteral("'Botón %1'").arg(i) : QStringLiteral("NULL");
        sql += QStringLiteral("INSERT INTO TCLAROL (CLAR_Clase, CLAR_Rol, CLAR_Etiq, CLAR_Activo, CLAR_Menu) "
                              "VALUES ('%1', '%2', %3, 1, 1);\n")
                   .arg(c, kRole, label);
    }
    for (int i = 1; i <= kModules; ++i)
        sql += QStringLiteral("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) "
                              "VALUES ('%1', '%2', %3, '%4', 'WIN32');\n")
                   .arg(moduleName(i), moduleVersionText(i), QStringLiteral("FILE('%1')").arg(moduleFile(i)),
                        i <= kSystemModules ? QStringLiteral("1") : QStringLiteral("0"));
    return sql;
}

// Request frames seen, by message type.
class Tally
{
public:
    void add(quint8 type)
    {
        QMutexLocker lock(&m_mutex);
        ++m_counts[type];
    }
    int count(MsgType type) const
    {
        QMutexLocker lock(&m_mutex);
        return m_counts.value(quint8(type));
    }
    void reset()
    {
        QMutexLocker lock(&m_mutex);
        m_counts.clear();
    }

private:
    mutable QMutex m_mutex;
    QMap<quint8, int> m_counts;
};

// Passes the bytes between the shell and the server unchanged and counts the
// frames the shell sends. The server's trace leaves out the closing of
// cursors, which costs a wait all the same.
class Relay : public QObject
{
public:
    Relay(quint16 upstream, Tally *tally) : m_upstream(upstream), m_tally(tally) {}

    quint16 listen()
    {
        m_server = new vorel::test::TlsListener(this);
        if (!m_server->listen(QHostAddress::LocalHost, 0))
            return 0;
        connect(m_server, &QTcpServer::newConnection, this, &Relay::accept);
        return m_server->serverPort();
    }
    // The accepted sockets are the listener's children and go with it.
    void shutdown()
    {
        delete m_server;
        m_server = nullptr;
    }

private:
    void accept()
    {
        while (QTcpSocket *client = m_server->nextPendingConnection()) {
            auto *up = new QSslSocket(client);
            auto frames = std::make_shared<vorel::proto::FrameReader>();
            auto held = std::make_shared<QByteArray>();
            connect(client, &QTcpSocket::readyRead, client, [this, client, up, frames, held] {
                const QByteArray data = client->readAll();
                try {
                    frames->feed(data);
                    while (const auto payload = frames->next())
                        if (!payload->isEmpty())
                            m_tally->add(quint8(payload->at(0)));
                } catch (const vorel::proto::ProtocolError &) {
                    // Not ours to judge: the server answers it.
                }
                if (up->isEncrypted())
                    up->write(data);
                else
                    held->append(data);
            });
            connect(up, &QSslSocket::encrypted, up, [up, held] {
                up->write(*held);
                held->clear();
            });
            connect(up, &QTcpSocket::readyRead, up, [client, up] { client->write(up->readAll()); });
            connect(up, &QTcpSocket::disconnected, client, [client] { client->disconnectFromHost(); });
            connect(up, &QTcpSocket::errorOccurred, client, [client, up] {
                if (up->state() != QAbstractSocket::ConnectedState)
                    client->disconnectFromHost();
            });
            connect(client, &QTcpSocket::disconnected, client, [client, up] {
                up->disconnectFromHost();
                client->deleteLater();
            });
            QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
            tls.setCaCertificates(QSslCertificate::fromPath(vorel::test::TestServer::certificateFile()));
            up->setSslConfiguration(tls);
            up->connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_upstream);
        }
    }

    quint16 m_upstream;
    Tally *m_tally;
    QTcpServer *m_server = nullptr;
};

class CountingRelay
{
public:
    explicit CountingRelay(quint16 upstream) : m_relay(new Relay(upstream, &m_tally))
    {
        m_relay->moveToThread(&m_thread);
        QObject::connect(&m_thread, &QThread::finished, m_relay, &QObject::deleteLater);
        m_thread.start();
        QMetaObject::invokeMethod(m_relay, [this] { m_port = m_relay->listen(); }, Qt::BlockingQueuedConnection);
    }
    ~CountingRelay()
    {
        QMetaObject::invokeMethod(m_relay, [this] { m_relay->shutdown(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    quint16 port() const { return m_port; }
    Tally &tally() { return m_tally; }

private:
    Tally m_tally;
    QThread m_thread;
    Relay *m_relay;
    quint16 m_port = 0;
};

struct RoundTrips {
    int calls = 0;
    int opens = 0;
    int fetches = 0;
    int closes = 0;
    int total() const { return calls + opens + fetches + closes; }
    QString text() const
    {
        return QStringLiteral("Call %1, Open %2, Fetch %3, CloseCursor %4: %5 en total")
            .arg(calls)
            .arg(opens)
            .arg(fetches)
            .arg(closes)
            .arg(total());
    }
};

} // namespace

class TstStartup : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    std::unique_ptr<vorel::test::TestServer> m_server;
    std::unique_ptr<CountingRelay> m_relay;

    QString program() const { return m_work.filePath(QStringLiteral("prog")); }
    QString systemFolder() const { return m_work.filePath(QStringLiteral("win/System32")); }
    static QString shellFile() { return QDir(QStringLiteral(VOREL_BIN_DIR)).filePath(QStringLiteral("Vorel7")); }
    QString modulePath(int i) const
    {
        return QDir(i <= kSystemModules ? systemFolder() : program()).filePath(moduleName(i));
    }

    std::unique_ptr<TFMain> startUp()
    {
        auto frame = std::make_unique<TFMain>();
        frame->SyncProgramFolder = program();
        frame->SyncShellFile = shellFile();
        LoginDriver driver({fill(kUser, QStringLiteral("clave"), QStringLiteral("DEMO"), QStringLiteral("127.0.0.1"),
                                 QString::number(m_relay->port()))});
        frame->FormCreate();
        return frame;
    }

    RoundTrips counted()
    {
        const Tally &t = m_relay->tally();
        return {t.count(MsgType::Call), t.count(MsgType::Open), t.count(MsgType::Fetch),
                t.count(MsgType::CloseCursor)};
    }

    // What the server's trace holds from record `from` on, kind by kind.
    RoundTrips traced(qsizetype from) const
    {
        RoundTrips r;
        const QList<QJsonObject> records = m_server->trace();
        for (qsizetype i = from; i < records.size(); ++i) {
            const QString kind = records[i].value(QStringLiteral("kind")).toString();
            if (kind == QLatin1String("call"))
                ++r.calls;
            else if (kind == QLatin1String("open"))
                ++r.opens;
            else if (kind == QLatin1String("fetch"))
                ++r.fetches;
        }
        return r;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        for (const char *folder : {"config", "prog", "win/System32", "scripts"})
            QVERIFY(QDir(m_work.path()).mkpath(QLatin1String(folder)));
        qputenv("VOREL_CONFIG_DIR", QFile::encodeName(m_work.filePath(QStringLiteral("config"))));
        qputenv("SystemRoot", QFile::encodeName(m_work.filePath(QStringLiteral("win"))));
        // The self-update's files live in the working folder.
        QVERIFY(QDir::setCurrent(program()));

        QVERIFY(QDir(m_work.path()).mkpath(QStringLiteral("scripts/modulos")));
        for (int i = 1; i <= kModules; ++i) {
            QFile module(m_work.filePath(QStringLiteral("scripts/") + moduleFile(i)));
            const QByteArray image = moduleImage(i);
            QVERIFY(module.open(QIODevice::WriteOnly));
            QCOMPARE(module.write(image), image.size());
        }
        const QString script = m_work.filePath(QStringLiteral("scripts/startup.sql"));
        QFile f(script);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(fixtureSql().toUtf8());
        f.close();

        vorel::test::TestServer::Options o;
        o.oracleScripts << script;
        m_server = std::make_unique<vorel::test::TestServer>(o);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));

        // The database lists the shell that runs: no update.
        const QString shellVersion = vorel::FileVersionText(shellFile());
        QVERIFY2(!shellVersion.isEmpty(), qPrintable(shellFile()));
        m_server->exec(QStringLiteral("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Raiz, BINS_GUI) "
                                      "VALUES ('Vorel7.exe', '%1', '0', 'WIN32')")
                           .arg(shellVersion));

        m_relay = std::make_unique<CountingRelay>(m_server->port());
        QVERIFY(m_relay->port() != 0);
    }

    void cleanupTestCase()
    {
        QDir::setCurrent(QDir::tempPath());
        m_relay.reset();
        m_server.reset();
    }

    // The start after the first: every button image cached, every module
    // current. Its cost must not grow with the rows the role and the
    // database list.
    void startWithNothingToDownload()
    {
        Messages messages;
        {
            // The first start fetches the images and puts the modules in place.
            auto frame = startUp();
            QVERIFY(!frame->Terminated());
            QCOMPARE(messages.texts(), QStringList());
            for (int i = 1; i <= kModules; ++i)
                QCOMPARE(vorel::FileVersionText(modulePath(i)), moduleVersionText(i));
            QVERIFY(frame->ImgBoton->Count() > 0);
        }

        m_server->clearTrace();
        m_relay->tally().reset();
        const qsizetype traceStart = m_server->trace().size();
        auto frame = startUp();
        QVERIFY(!frame->Terminated());
        QCOMPARE(messages.texts(), QStringList());

        const QStringList texts = m_server->texts();
        for (const QString &t : texts)
            QVERIFY2(!t.contains(QLatin1String("BOTO_Img")) && !t.contains(QLatin1String("BINS_Bin")), qPrintable(t));

        const RoundTrips sent = counted();
        const RoundTrips logged = traced(traceStart);
        qInfo("Arranque sin descargas (%d clases, %d módulos): %s", kClasses, kModules, qPrintable(sent.text()));
        // The relay saw what the server logged, and besides the closes and
        // the dServer asked before login, which the server does not trace.
        QCOMPARE(sent.calls, logged.calls + 1);
        QCOMPARE(sent.opens, logged.opens);
        QCOMPARE(sent.fetches, logged.fetches);
        QVERIFY2(sent.total() <= kMaxRoundTrips, qPrintable(sent.text()));

        // The bar shows the role's classes, every one.
        vorel::shell::TOutBar *bar = frame->OutBar;
        QCOMPARE(bar->PageCount(), 1);
        QCOMPARE(bar->PageCaption(0), QStringLiteral("Rol de cien clases"));
        QWidget *page = bar->Page(0);
        QCOMPARE(bar->ButtonCount(page), kClasses);
        QSet<QString> shown;
        QSet<QString> ids;
        for (int i = 0; i < kClasses; ++i) {
            shown.insert(bar->Button(page, i)->text());
            ids.insert(frame->ItemId(bar->Button(page, i)));
        }
        QSet<QString> labels;
        QSet<QString> classes;
        for (int i = 1; i <= kClasses; ++i) {
            labels.insert(buttonLabel(i));
            classes.insert(className(i));
        }
        QCOMPARE(shown, labels);
        QCOMPARE(ids, classes);
        QCOMPARE(frame->ItemId(page), kRole);
    }
};

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
