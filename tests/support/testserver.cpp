#include "support/testserver.h"

#include "common/exception.h"
#include "server/net/tlscert.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonArray>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QDeadlineTimer>
#include <QSslSocket>

#include <map>

namespace vorel::test {

namespace {

// One database per kind (demo or bare) per test process, copied for each
// server: making the demo data takes a while.
const TestDatabase *templateDatabase(bool demo, QString *error)
{
    static QMutex mutex;
    static std::map<bool, std::unique_ptr<TestDatabase>> made;
    QMutexLocker lock(&mutex);
    if (auto it = made.find(demo); it != made.end())
        return it->second.get();
    auto db = std::make_unique<TestDatabase>();
    *error = db->create(demo);
    if (!error->isEmpty())
        return nullptr;
    return (made[demo] = std::move(db)).get();
}

QString fileNameFor(const QString &name)
{
    return name.isEmpty() ? QStringLiteral("vorel.db") : name + QStringLiteral(".db");
}

} // namespace

TestServer::TestServer() : TestServer(Options{}) {}

TestServer::TestServer(Options options) : m_options(std::move(options)) {}

TestServer::~TestServer() { stop(); }

QString TestServer::serverProgram()
{
    // A benchmark measures another build's server beside this one's.
    const QString other = qEnvironmentVariable("VOREL_SERVER_PROGRAM");
    return other.isEmpty() ? QStringLiteral(VOREL_BIN_DIR "/vorel-server") : other;
}
QString TestServer::sqlProgram() { return QStringLiteral(VOREL_BIN_DIR "/vorel-sql"); }

int TestServer::runServer(const QStringList &args, QString *err, QString *out)
{
    QProcess p;
    p.start(serverProgram(), args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (err)
        *err = QString::fromUtf8(p.readAllStandardError());
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

namespace {
struct TestIdentity {
    std::unique_ptr<QTemporaryDir> dir = makeTempDir();
    QString certificate = dir->filePath(QStringLiteral("server.crt"));
    QString key = dir->filePath(QStringLiteral("server.key"));
    TestIdentity()
    {
        // A helper process the test started trusts what its parent does.
        const QString inherited = qEnvironmentVariable("VOREL_TEST_CERT");
        if (!inherited.isEmpty() && QFile::exists(inherited)) {
            certificate = inherited;
            key = qEnvironmentVariable("VOREL_TEST_KEY");
            qputenv("VOREL_CA_FILE", certificate.toLocal8Bit());
            return;
        }
        namespace tls = vorel::server::tls;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QString error;
        const tls::Identity id = tls::makeSelfSigned(
            {QStringLiteral("localhost"), QStringLiteral("127.0.0.1"), QStringLiteral("::1")}, now.addSecs(-3600),
            now.addDays(30));
        if (!tls::writeIdentity(id, certificate, key, &error))
            qFatal("%s", qPrintable(error));
        qputenv("VOREL_CA_FILE", certificate.toLocal8Bit());
        qputenv("VOREL_TEST_CERT", certificate.toLocal8Bit());
        qputenv("VOREL_TEST_KEY", key.toLocal8Bit());
    }
};

const TestIdentity &testIdentity()
{
    static TestIdentity identity;
    return identity;
}
} // namespace

QString TestServer::certificateFile() { return testIdentity().certificate; }

QString TestServer::keyFile() { return testIdentity().key; }

QSslConfiguration TestServer::serverTls()
{
    QSslConfiguration c;
    QString error;
    if (!vorel::server::tls::loadServerConfiguration(certificateFile(), keyFile(), &c, &error))
        qFatal("%s", qPrintable(error));
    return c;
}

void TlsListener::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setSslConfiguration(m_tls ? *m_tls : TestServer::serverTls());
    socket->startServerEncryption();
    addPendingConnection(socket);
}

QString TestServer::dir() const { return m_dir ? m_dir->path() : QString(); }

QString TestServer::databaseFile(const QString &name) const
{
    if (!m_options.database.isEmpty())
        return m_options.database;
    const QStringList &names = m_options.databaseNames;
    const qsizetype i = names.isEmpty() || name.isEmpty() ? 0 : names.indexOf(name);
    return i >= 0 && size_t(i) < m_databases.size() ? m_databases[size_t(i)]->location() : QString();
}

QString TestServer::tracePath() const { return QDir(dir()).filePath(QStringLiteral("trace.jsonl")); }

bool TestServer::start(QString *error)
{
    QString dummy;
    QString &err = error ? *error : dummy;
    stop();
    m_dir = makeTempDir();
    if (!m_dir) {
        err = QStringLiteral("cannot create a temporary folder");
        return false;
    }
    m_databases.clear();
    QList<server::InitScript> scripts;
    for (const QString &s : m_options.scripts)
        scripts.append({s, false});
    for (const QString &s : m_options.oracleScripts)
        scripts.append({s, true});
    const QStringList names = m_options.databaseNames.isEmpty() ? QStringList{QString()} : m_options.databaseNames;
    QStringList dbArgs;
    if (!m_options.database.isEmpty())
        dbArgs << QStringLiteral("--db") << m_options.database;
    for (const QString &name : m_options.database.isEmpty() ? names : QStringList{}) {
        auto &db = m_databases.emplace_back(
            std::make_unique<TestDatabase>(thisRun(), QDir(dir()).filePath(fileNameFor(name))));
        if (scripts.isEmpty()) {
            const TestDatabase *from = templateDatabase(m_options.demo, &err);
            if (from)
                err = db->copyOf(*from);
        } else {
            err = db->create(m_options.demo, scripts);
        }
        if (!err.isEmpty())
            return false;
        dbArgs << QStringLiteral("--db") << (name.isEmpty() ? db->location() : name + QLatin1Char('=') + db->location());
    }

    QStringList args{QStringLiteral("serve")};
    args << dbArgs << QStringLiteral("--listen") << QStringLiteral("127.0.0.1:0") << QStringLiteral("--trace")
         << tracePath() << QStringLiteral("--tls-cert") << certificateFile() << QStringLiteral("--tls-key")
         << keyFile();
    if (!m_options.advertise.isEmpty())
        args << QStringLiteral("--advertise") << m_options.advertise;
    args << m_options.serveArgs;
    m_serveArgs = args;
    m_log.clear();
    return launch(&err);
}

bool TestServer::restart(QString *error)
{
    QString dummy;
    QString &err = error ? *error : dummy;
    if (m_serveArgs.isEmpty()) {
        err = QStringLiteral("the server was never started");
        return false;
    }
    stop();
    return launch(&err);
}

qint64 TestServer::pid() const { return m_process ? m_process->processId() : 0; }

QString TestServer::log()
{
    if (m_process && m_options.captureLog)
        m_log += m_process->readAllStandardError();
    return QString::fromUtf8(m_log);
}

bool TestServer::launch(QString *error)
{
    QString &err = *error;
    const QStringList &args = m_serveArgs;
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(m_options.captureLog ? QProcess::SeparateChannels
                                                          : QProcess::ForwardedErrorChannel);
    m_process->start(serverProgram(), args);
    if (!m_process->waitForStarted(30000)) {
        err = QStringLiteral("cannot start %1: %2").arg(serverProgram(), m_process->errorString());
        m_process.reset();
        return false;
    }
    static const QRegularExpression listening(QStringLiteral("^listening on 127\\.0\\.0\\.\\d+:(\\d+)\\s*$"));
    QByteArray line;
    QDeadlineTimer deadline(30000);
    while (!m_process->canReadLine()) {
        if (m_process->state() != QProcess::Running || deadline.hasExpired()
            || !m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            if (m_process->canReadLine())
                break;
            err = QStringLiteral("the server did not report its port: ") + QString::fromUtf8(m_process->readAll());
            stop();
            return false;
        }
    }
    line = m_process->readLine();
    const auto match = listening.match(QString::fromUtf8(line));
    if (!match.hasMatch()) {
        err = QStringLiteral("unexpected first line from the server: ") + QString::fromUtf8(line);
        stop();
        return false;
    }
    m_port = quint16(match.captured(1).toUInt());
    m_traceOffset = 0;
    return true;
}

void TestServer::stop()
{
    if (m_process) {
        if (m_options.captureLog)
            m_log += m_process->readAllStandardError();
        if (m_process->state() != QProcess::NotRunning) {
            m_process->terminate();
            if (!m_process->waitForFinished(5000)) {
                m_process->kill();
                m_process->waitForFinished(5000);
            }
        }
        if (m_options.captureLog)
            m_log += m_process->readAllStandardError();
        m_process.reset();
    }
    m_port = 0;
}

void TestServer::kill()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    stop();
}

bool TestServer::running() const { return m_process && m_process->state() == QProcess::Running; }

QList<QJsonObject> TestServer::trace() const
{
    QList<QJsonObject> records;
    QFile f(tracePath());
    if (!f.open(QIODevice::ReadOnly))
        return records;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray &l : lines) {
        if (l.trimmed().isEmpty())
            continue;
        const QJsonDocument doc = QJsonDocument::fromJson(l);
        if (doc.isObject())
            records.append(doc.object());
    }
    return records;
}

QStringList TestServer::texts() const
{
    QStringList out;
    const QList<QJsonObject> records = trace();
    for (qsizetype i = m_traceOffset; i < records.size(); ++i) {
        const QJsonObject &r = records[i];
        const QString kind = r.value(QStringLiteral("kind")).toString();
        if (kind == QStringLiteral("fetch"))
            continue; // packets of a cursor; fetches() lists them
        if (kind == QStringLiteral("open")) {
            out << r.value(QStringLiteral("sql")).toString();
        } else {
            QStringList parts{r.value(QStringLiteral("method")).toString()};
            for (const QJsonValue &a : r.value(QStringLiteral("args")).toArray())
                parts << a.toString();
            out << parts.join(QLatin1Char('|'));
        }
    }
    return out;
}

QList<qint32> TestServer::fetches() const
{
    QList<qint32> out;
    const QList<QJsonObject> records = trace();
    for (qsizetype i = m_traceOffset; i < records.size(); ++i)
        if (records[i].value(QStringLiteral("kind")).toString() == QStringLiteral("fetch"))
            out << records[i].value(QStringLiteral("count")).toInt();
    return out;
}

void TestServer::clearTrace() { m_traceOffset = trace().size(); }

QList<QStringList> TestServer::query(const QString &sql, const QString &name) const
{
    return vorel::test::query(databaseFile(name), sql);
}

void TestServer::exec(const QString &sql, const QString &name) const { vorel::test::exec(databaseFile(name), sql); }

} // namespace vorel::test
