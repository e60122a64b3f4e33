#include "support/testserver.h"

#include "common/exception.h"
#include "server/backend/postgres/pgconnection.h"
#include "server/net/tlscert.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonArray>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSslSocket>
#include <sqlite3.h>

#include <map>

namespace vorel::test {

namespace {

QString testTmpParent()
{
    const QString env = qEnvironmentVariable("VOREL_TEST_TMP");
    if (env.isEmpty())
        return QDir::tempPath();
    QDir().mkpath(env);
    return env;
}

std::unique_ptr<QTemporaryDir> makeTempDir()
{
    auto dir = std::make_unique<QTemporaryDir>(testTmpParent() + QStringLiteral("/vorel-XXXXXX"));
    if (!dir->isValid())
        return nullptr;
    return dir;
}

// Runs "vorel-server init FILE|--pg URI [--demo] [--script ...] [--oracle-script ...]";
// false with *error set.
bool runInit(const QString &file, bool demo, const QStringList &scripts, const QStringList &oracleScripts,
             QString *error)
{
    QStringList args{QStringLiteral("init")};
    if (TestServer::postgres())
        args << QStringLiteral("--pg");
    args << file;
    if (demo)
        args << QStringLiteral("--demo");
    for (const QString &s : scripts)
        args << QStringLiteral("--script") << s;
    // PostgreSQL reads every script in the Oracle form.
    const QString oracle = TestServer::postgres() ? QStringLiteral("--script") : QStringLiteral("--oracle-script");
    for (const QString &s : oracleScripts)
        args << oracle << s;
    QProcess p;
    p.start(TestServer::serverProgram(), args);
    if (!p.waitForStarted(30000)) {
        *error = QStringLiteral("cannot start %1: %2").arg(TestServer::serverProgram(), p.errorString());
        return false;
    }
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        *error = QStringLiteral("init did not finish");
        return false;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QStringLiteral("init failed: ") + QString::fromUtf8(p.readAllStandardError())
            + QString::fromUtf8(p.readAllStandardOutput());
        return false;
    }
    return true;
}

using vorel::server::pg::Connection;

QString clusterUri() { return qEnvironmentVariable("VOREL_TEST_PG"); }

QString pgUri(const QString &database) { return Connection::withDatabase(clusterUri(), database); }

// A name no other test process of the run uses.
QString pgName(const char *what)
{
    static QAtomicInt counter;
    return QStringLiteral("vt_%1_%2_%3").arg(QCoreApplication::applicationPid()).arg(QLatin1String(what)).arg(counter.fetchAndAddRelaxed(1));
}

// A test's set-up written for SQLite, as PostgreSQL takes it: Oracle's
// types in CREATE TABLE mapped as the server maps them, and the columns'
// spellings registered, so that SELECT * names them alike on both; blob
// literals as bytea.
QString pgFlavour(const QString &sql)
{
    static const QRegularExpression create(QStringLiteral("CREATE\\s+TABLE\\s+(\\w+)\\s*\\((.*)\\)\\s*$"),
                                           QRegularExpression::CaseInsensitiveOption
                                               | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression columnName(QStringLiteral("(?:^|,)\\s*(\\w+)\\s+(?:NUMBER|VARCHAR2|DATE|BLOB|CLOB)"),
                                               QRegularExpression::CaseInsensitiveOption);
    const struct {
        const char *pattern;
        const char *replacement;
    } types[] = {
        {"\\bNUMBER\\s*\\(\\s*\\d+\\s*,\\s*[1-9]\\d*\\s*\\)", "double precision"},
        {"\\bNUMBER\\s*\\(\\s*\\d+\\s*(?:,\\s*0\\s*)?\\)", "bigint"},
        {"\\bNUMBER\\b", "numeric"},
        {"\\bVARCHAR2\\b", "varchar"},
        {"\\bDATE\\b", "timestamp(0)"},
        {"\\bBLOB\\b", "bytea"},
        {"\\bCLOB\\b", "text"},
    };
    // SQLite's blob literal X'00FF' is a bit string to PostgreSQL.
    static const QRegularExpression blob(QStringLiteral("(?<![\\w'])[xX]'([0-9A-Fa-f]*)'"));
    QString text;
    qsizetype from = 0;
    for (auto it = blob.globalMatch(sql); it.hasNext();) {
        const auto m = it.next();
        text += sql.mid(from, m.capturedStart() - from) + QStringLiteral("'\\x") + m.captured(1)
            + QStringLiteral("'::bytea");
        from = m.capturedEnd();
    }
    text += sql.mid(from);
    if (!text.contains(QLatin1String("CREATE TABLE"), Qt::CaseInsensitive))
        return text;
    QStringList out;
    for (QString statement : text.split(QLatin1Char(';'))) {
        const auto m = create.match(statement);
        if (m.hasMatch()) {
            QStringList spellings;
            auto names = columnName.globalMatch(m.captured(2));
            while (names.hasNext())
                spellings << QStringLiteral("('%1')").arg(names.next().captured(1));
            for (const auto &t : types)
                statement.replace(QRegularExpression(QLatin1String(t.pattern), QRegularExpression::CaseInsensitiveOption),
                                  QLatin1String(t.replacement));
            if (!spellings.isEmpty())
                statement += QStringLiteral(";INSERT INTO VOREL_SPELLING (NAME) VALUES %1 ON CONFLICT DO NOTHING")
                                 .arg(spellings.join(QLatin1Char(',')));
        }
        out << statement;
    }
    return out.join(QLatin1Char(';'));
}

void pgMaintenance(const QString &sql)
{
    Connection c(clusterUri());
    c.exec(sql);
}

// The template databases of this process, dropped when it ends.
struct PgTemplates {
    std::map<bool, QString> made;
    ~PgTemplates()
    {
        for (const auto &entry : made) {
            try {
                pgMaintenance(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(entry.second));
            } catch (...) {
            }
        }
    }
};

// One initialised database per kind (demo or bare) per test process, copied
// for each server: initialising the demo data takes a while.
bool pgTemplateDatabase(bool demo, QString *name, QString *error)
{
    static QMutex mutex;
    static PgTemplates templates;
    QMutexLocker lock(&mutex);
    if (auto it = templates.made.find(demo); it != templates.made.end()) {
        *name = it->second;
        return true;
    }
    const QString made = pgName(demo ? "tpldemo" : "tpl");
    if (!runInit(pgUri(made), demo, {}, {}, error))
        return false;
    templates.made[demo] = made;
    *name = made;
    return true;
}

bool templateDatabase(bool demo, QString *path, QString *error)
{
    static QMutex mutex;
    static std::unique_ptr<QTemporaryDir> dir;
    static std::map<bool, QString> made;
    QMutexLocker lock(&mutex);
    if (auto it = made.find(demo); it != made.end()) {
        *path = it->second;
        return true;
    }
    if (!dir) {
        dir = makeTempDir();
        if (!dir) {
            *error = QStringLiteral("cannot create a temporary folder");
            return false;
        }
    }
    const QString file = dir->filePath(demo ? QStringLiteral("template-demo.db") : QStringLiteral("template.db"));
    if (!runInit(file, demo, {}, {}, error))
        return false;
    made[demo] = file;
    *path = file;
    return true;
}

QString fileNameFor(const QString &name)
{
    return name.isEmpty() ? QStringLiteral("vorel.db") : name + QStringLiteral(".db");
}

struct Db {
    sqlite3 *handle = nullptr;
    explicit Db(const QString &file)
    {
        if (!QFileInfo::exists(file))
            throw vorel::Exception(QStringLiteral("no database file ") + file);
        if (sqlite3_open_v2(file.toUtf8().constData(), &handle, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw vorel::Exception(QStringLiteral("cannot open ") + file);
        sqlite3_busy_timeout(handle, 10000);
    }
    ~Db() { sqlite3_close_v2(handle); }
    [[noreturn]] void fail(const QString &sql) const
    {
        throw vorel::Exception(QString::fromUtf8(sqlite3_errmsg(handle)) + QStringLiteral(" in: ") + sql);
    }
};

} // namespace

TestServer::TestServer() : TestServer(Options{}) {}

TestServer::TestServer(Options options) : m_options(std::move(options)) {}

TestServer::~TestServer()
{
    stop();
    dropDatabases();
}

void TestServer::dropDatabases()
{
    for (const QString &name : std::as_const(m_pgDatabases)) {
        try {
            pgMaintenance(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
        } catch (...) {
        }
    }
    m_pgDatabases.clear();
}

QString TestServer::serverProgram() { return QStringLiteral(VOREL_BIN_DIR "/vorel-server"); }
QString TestServer::sqlProgram() { return QStringLiteral(VOREL_BIN_DIR "/vorel-sql"); }

namespace {
struct TestIdentity {
    QTemporaryDir dir{testTmpParent() + QStringLiteral("/vorel-tls-XXXXXX")};
    QString certificate = dir.filePath(QStringLiteral("server.crt"));
    QString key = dir.filePath(QStringLiteral("server.key"));
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

bool TestServer::postgres() { return qEnvironmentVariable("VOREL_TEST_BACKEND") == QLatin1String("postgresql"); }

QString TestServer::unavailable()
{
    if (!postgres())
        return QString();
    if (clusterUri().isEmpty())
        return QStringLiteral("PostgreSQL not available: VOREL_TEST_PG is not set (tests/run.sh sets it when "
                              "PostgreSQL can be installed)");
    try {
        Connection c(clusterUri());
    } catch (const vorel::Exception &e) {
        return QStringLiteral("PostgreSQL not available: ") + e.message();
    }
    return QString();
}

QString TestServer::databaseFile(const QString &name) const
{
    if (postgres()) {
        const qsizetype i = m_options.databaseNames.isEmpty() || name.isEmpty()
                                ? 0
                                : m_options.databaseNames.indexOf(name);
        return i >= 0 && i < m_pgDatabases.size() ? pgUri(m_pgDatabases[i]) : QString();
    }
    if (m_options.databaseNames.isEmpty() || !name.isEmpty())
        return QDir(dir()).filePath(fileNameFor(m_options.databaseNames.isEmpty() ? QString() : name));
    return QDir(dir()).filePath(fileNameFor(m_options.databaseNames.first()));
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
    const QStringList names = m_options.databaseNames.isEmpty() ? QStringList{QString()} : m_options.databaseNames;
    QStringList dbArgs;
    if (postgres()) {
        dropDatabases();
        if (clusterUri().isEmpty()) {
            err = unavailable();
            return false;
        }
        try {
            for (const QString &name : names) {
                const QString made = pgName("db");
                if (m_options.scripts.isEmpty() && m_options.oracleScripts.isEmpty()) {
                    QString tpl;
                    if (!pgTemplateDatabase(m_options.demo, &tpl, &err))
                        return false;
                    pgMaintenance(QStringLiteral("CREATE DATABASE %1 TEMPLATE %2").arg(made, tpl));
                    m_pgDatabases << made;
                } else {
                    m_pgDatabases << made;
                    if (!runInit(pgUri(made), m_options.demo, m_options.scripts, m_options.oracleScripts, &err))
                        return false;
                }
                const QString uri = pgUri(made);
                dbArgs << QStringLiteral("--db") << (name.isEmpty() ? uri : name + QLatin1Char('=') + uri);
            }
        } catch (const std::exception &e) {
            err = QString::fromUtf8(e.what());
            return false;
        }
    }
    for (const QString &name : postgres() ? QStringList{} : names) {
        const QString file = databaseFile(name);
        if (m_options.scripts.isEmpty() && m_options.oracleScripts.isEmpty()) {
            QString tpl;
            if (!templateDatabase(m_options.demo, &tpl, &err))
                return false;
            if (!QFile::copy(tpl, file)) {
                err = QStringLiteral("cannot copy the database to ") + file;
                return false;
            }
        } else if (!runInit(file, m_options.demo, m_options.scripts, m_options.oracleScripts, &err)) {
            return false;
        }
        dbArgs << QStringLiteral("--db") << (name.isEmpty() ? file : name + QLatin1Char('=') + file);
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
    static const QRegularExpression listening(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)\\s*$"));
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
    if (postgres()) {
        Connection c(databaseFile(name));
        c.exec(QStringLiteral("SET search_path = public, oracle, pg_catalog"));
        QList<QStringList> rows;
        try {
            const auto r = c.exec(pgFlavour(sql));
            for (int i = 0; i < r.rows(); ++i) {
                QStringList row;
                for (int k = 0; k < r.columns(); ++k)
                    row << (r.isNull(i, k) ? QStringLiteral("<null>") : r.text(i, k));
                rows << row;
            }
        } catch (const vorel::server::pg::Error &e) {
            throw vorel::Exception(e.failure().message + QStringLiteral(" in: ") + sql);
        }
        return rows;
    }
    Db db(databaseFile(name));
    sqlite3_stmt *stmt = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db.handle, utf8.constData(), int(utf8.size()), &stmt, nullptr) != SQLITE_OK)
        db.fail(sql);
    QList<QStringList> rows;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        QStringList row;
        const int n = sqlite3_column_count(stmt);
        for (int c = 0; c < n; ++c) {
            if (sqlite3_column_type(stmt, c) == SQLITE_NULL)
                row << QStringLiteral("<null>");
            else
                row << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, c)),
                                         sqlite3_column_bytes(stmt, c));
        }
        rows << row;
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        db.fail(sql);
    return rows;
}

void TestServer::exec(const QString &sql, const QString &name) const
{
    if (postgres()) {
        query(sql, name);
        return;
    }
    Db db(databaseFile(name));
    if (sqlite3_exec(db.handle, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        db.fail(sql);
}

} // namespace vorel::test
