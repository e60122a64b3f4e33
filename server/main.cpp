// vorel-server: the reference application server over SQLite or PostgreSQL.
// Reads its command (kUsage below) and hands the work to the network layer
// and the backend the database's location chooses.
#include "common/exception.h"
#include "common/platform.h"
#include "server/backend/backends.h"
#include "server/core/memorybudget.h"
#include "server/net/outbox.h"
#include "server/net/server.h"
#include "server/net/tlscert.h"
#include "server/net/unixsignals.h"
#include "server/net/metricsserver.h"
#include "server/net/director.h"
#include "server/net/replies.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <cstdio>
#include <cstdlib>
#if defined(Q_OS_UNIX)
#include <sys/resource.h>
#endif

using namespace vorel::server;

namespace {

// What a stopping server keeps of its drain bound to end the sessions still
// in a transaction, and how long a second signal leaves them.
constexpr int kStopGraceMs = 2000;
constexpr int kHurryMs = 1000;

const char kUsage[] =
    "usage: vorel-server serve --db [NAME=]FILE|URI ... [--listen HOST:PORT] [--advertise HOST] [--trace FILE]\n"
    "                          [--max-sessions N] [--max-sessions-per-user N] [--max-sessions-per-source N]\n"
    "                          [--login-timeout S] [--idle-timeout S] [--query-timeout S] [--drain-timeout S]\n"
    "                          [--idle-in-transaction S] [--session-memory MB] [--memory-limit MB]\n"
    "                          [--delay-ms N] [--tls-cert FILE --tls-key FILE] [--max-startups N]\n"
    "                          [--max-startups-per-source N] [--insecure-plaintext] [--metrics HOST:PORT]\n"
    "                          [--pool HOST:PORT,...] [--pg-connections N]\n"
    "                          [--sqlite-connections N]\n"
    "       vorel-server certificate [--out DIR] [--name NAME ...] [--days N] [--force]\n"
    "       vorel-server fingerprint [DB|CERTIFICATE]\n"
    "       vorel-server init FILE [--demo] [--script FILE.sql ...] [--oracle-script FILE.sql ...] [--force]\n"
    "       vorel-server init --pg URI [--demo] [--script FILE.sql ...] [--force]\n"
    "       vorel-server init FILE --upgrade\n"
    "       vorel-server backup DB FILE\n"
    "       vorel-server --help\n";

const char kHelp[] =
    "\n"
    "serve: answers clients on HOST:PORT (default 127.0.0.1:211).\n"
    "  --db [NAME=]FILE|URI\n"
    "                      a database made by init: a file, or a PostgreSQL URI (postgresql://...);\n"
    "                      NAME is the database name clients log in to (without it the database\n"
    "                      serves any name); repeat for several databases\n"
    "  --listen HOST:PORT  where to listen; port 0 picks a free one (the first line printed tells it)\n"
    "  --advertise HOST    what dServer answers (default: the address the client reached)\n"
    "  --trace FILE        writes the requests, one line of JSON each\n"
    "  --metrics HOST:PORT serves the server's figures over HTTP for Prometheus (GET /metrics);\n"
    "                      the line after \"listening on\" tells where\n"
    "  --pool HOST:PORT,...\n"
    "                      sends each client (dServer) to the member with the fewest sessions among\n"
    "                      those whose health page (GET /health beside --metrics at HOST:PORT)\n"
    "                      answered in the last seconds that it takes logins and has room; the\n"
    "                      client then connects to HOST on its own port\n"
    "  --max-sessions N    sessions logged in at once; a further Login is refused (default 2000)\n"
    "  --max-sessions-per-user N\n"
    "                      the same for one user (default: half of --max-sessions)\n"
    "  --max-sessions-per-source N\n"
    "                      the same from one address (default: seven eighths of --max-sessions)\n"
    "  --max-startups N    connections not logged in yet, in all; past it the oldest is closed\n"
    "                      (default 256)\n"
    "  --max-startups-per-source N\n"
    "                      the same from one address (default 16); an address whose connections\n"
    "                      keep ending without a request is made to wait, as failed logins are\n"
    "  --login-timeout S   seconds a connection has for the TLS handshake and Login (default 10;\n"
    "                      0: no limit)\n"
    "  --idle-timeout S    closes a session silent for S seconds (default 0: never)\n"
    "  --query-timeout S   cancels one request's SQL after S seconds (default 30; 0: no limit)\n"
    "  --drain-timeout S   on SIGTERM, how long sessions have to reach the end of their transaction\n"
    "                      before they are ended and rolled back (default 30); a second SIGTERM\n"
    "                      ends them at once\n"
    "  --pg-connections N  connections to a PostgreSQL database at most, shared by the sessions: a\n"
    "                      session holds one only for a request, its transaction or an open cursor;\n"
    "                      a request finding all in use waits up to --query-timeout (default 32)\n"
    "  --sqlite-connections N\n"
    "                      the same for each database file (default 32), and as many read-only\n"
    "                      ones for the cursors\n"
    "  --idle-in-transaction S\n"
    "                      closes a session whose transaction has been open S seconds without a\n"
    "                      request, rolling it back (default 20: below the 30 s a writer waits for\n"
    "                      its turn; 0: never)\n"
    "  --session-memory MB what one session may hold of rows read ahead, packets being built and\n"
    "                      request frames (default 512); past it the request fails with ORA-04030\n"
    "  --memory-limit MB   the same for all sessions together, and SQLite's own memory (default\n"
    "                      2048)\n"
    "  --delay-ms N        waits N milliseconds before sending each answer, on the session's own\n"
    "                      thread, to try clients against a distant server (default 0)\n"
    "  --tls-cert FILE --tls-key FILE\n"
    "                      the certificate (PEM, its chain after it) and key every connection is\n"
    "                      encrypted with; without them vorel-server.crt and vorel-server.key beside\n"
    "                      the first database file (or in the working folder), made self-signed when\n"
    "                      missing\n"
    "  --insecure-plaintext\n"
    "                      no encryption: only to measure what TLS costs, never on a network\n"
    "certificate: makes a self-signed certificate and key (to rotate them, or before a first serve).\n"
    "  --out DIR           where vorel-server.crt and vorel-server.key go (default: working folder)\n"
    "  --name NAME         a host name or address clients use (repeatable; default: this machine's)\n"
    "  --days N            valid for N days (default 3650)\n"
    "  --force             replaces existing files\n"
    "fingerprint: prints the SHA-256 fingerprint clients see, of a certificate file or of the\n"
    "  certificate beside a database file (default: vorel-server.crt in the working folder).\n"
    "init: creates a database, and a certificate beside it when there is none.\n"
    "  --demo              with the demo data of a small distributor\n"
    "  --script FILE.sql   then runs an SQLite script (repeatable)\n"
    "  --oracle-script FILE.sql\n"
    "                      then runs a script in the demo script's form, its files beside it (repeatable)\n"
    "  --force             replaces an existing file\n"
    "  --upgrade           keeps the passwords an existing database holds as typed as salted hashes\n"
    "  --pg URI            in a PostgreSQL database (created when the server allows it) instead of a\n"
    "                      file; its scripts are in the demo script's form; --force replaces the\n"
    "                      tables it already holds\n"
    "backup: copies a database file while the server serves it: the copy holds every transaction\n"
    "  committed before it began, passes an integrity check, and takes FILE's name only then.\n"
    "  (A PostgreSQL database is copied with pg_dump; see the administrator's guide.)\n";

void put(FILE *to, const QByteArray &text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), to);
    std::fflush(to);
}

void say(const QString &message) { put(stderr, ("vorel-server: " + escapedForLog(message) + '\n').toUtf8()); }

int fail(const QString &message)
{
    say(message);
    return 1;
}

int usage(const QString &message)
{
    fail(message);
    std::fputs(kUsage, stderr);
    return 2;
}

// Seconds as typed (fractions allowed) in milliseconds; -1 when not a time.
int millisecondsOf(const QString &text)
{
    bool ok = false;
    const double s = text.toDouble(&ok);
    if (!ok || s < 0 || s > 86400.0 * 365)
        return -1;
    return int(s * 1000.0 + 0.5);
}

int upgrade(const QString &file)
{
    if (!QFileInfo(file).isFile())
        return fail(QStringLiteral("no database file %1").arg(file));
    int converted = 0;
    const QString error = backends::sqlite().prepare(file, &converted);
    if (!error.isEmpty())
        return fail(error);
    say(QStringLiteral("%1: %2 password(s) stored as typed now kept as salted hashes").arg(file).arg(converted));
    return 0;
}

// Makes the certificate and key when missing and says so with the
// fingerprint users will be asked to compare; false (after saying why) when
// they cannot be made.
bool ensureCertificate(const QString &certificate, const QString &key, FILE *to)
{
    bool made = false;
    QString error;
    if (!tls::ensureIdentity(certificate, key, &made, &error)) {
        fail(error);
        return false;
    }
    const QString fp = tls::fingerprintOf(certificate, &error);
    put(to, (made ? QStringLiteral("made a self-signed certificate %1, SHA-256 fingerprint %2\n")
                  : QStringLiteral("certificate %1, SHA-256 fingerprint %2\n"))
                .arg(certificate, fp)
                .toLocal8Bit());
    return true;
}

int certificate(const QStringList &args)
{
    QString out = QStringLiteral(".");
    QStringList names;
    int days = 3650;
    bool force = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--out") && hasValue) {
            out = args[++i];
        } else if (a == QLatin1String("--name") && hasValue) {
            names << args[++i];
        } else if (a == QLatin1String("--days") && hasValue) {
            bool ok = false;
            days = args[++i].toInt(&ok);
            if (!ok || days < 1 || days > 36500)
                return usage(QStringLiteral("--days expects a number of days from 1 to 36500"));
        } else if (a == QLatin1String("--force")) {
            force = true;
        } else {
            return usage(QStringLiteral("unexpected argument: ") + a);
        }
    }
    QDir().mkpath(out);
    const QString cert = tls::certificateFileIn(out);
    const QString key = tls::keyFileIn(out);
    if (QFileInfo::exists(cert) && !force)
        return fail(QStringLiteral("%1 already exists (use --force to replace it)").arg(cert));
    if (names.isEmpty())
        names = tls::machineNames();
    QString error;
    try {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (!tls::writeIdentity(tls::makeSelfSigned(names, now.addSecs(-3600), now.addDays(days)), cert, key, &error))
            return fail(error);
    } catch (const vorel::Exception &e) {
        return fail(e.message());
    }
    put(stdout, QStringLiteral("%1 (%2), SHA-256 fingerprint %3\n")
                    .arg(cert, names.join(QStringLiteral(", ")), tls::fingerprintOf(cert, &error))
                    .toLocal8Bit());
    return 0;
}

int fingerprint(const QStringList &args)
{
    if (args.size() > 1)
        return usage(QStringLiteral("fingerprint takes one file"));
    QString file = args.isEmpty() ? tls::certificateFileIn(QStringLiteral(".")) : args.first();
    QFile f(file);
    if (f.open(QIODevice::ReadOnly) && !f.peek(64 * 1024).contains("-----BEGIN CERTIFICATE-----"))
        file = tls::certificateFileIn(QFileInfo(file).absolutePath()); // a database: its certificate
    QString error;
    const QString fp = tls::fingerprintOf(file, &error);
    if (fp.isEmpty())
        return fail(error);
    put(stdout, (fp + QLatin1Char('\n')).toLatin1());
    return 0;
}

int backup(const QStringList &args)
{
    if (args.size() != 2 || args[0].startsWith(QLatin1String("--")) || args[1].startsWith(QLatin1String("--")))
        return usage(QStringLiteral("backup takes a database file and the file of the copy"));
    BackupReport report;
    const QString why = backends::forLocation(args[0]).backup(args[0], args[1], &report);
    if (!why.isEmpty())
        return fail(why);
    put(stdout, QStringLiteral("%1: %2 pages, %3 bytes, %4 ms, integrity ok\n")
                    .arg(args[1])
                    .arg(report.pages)
                    .arg(report.bytes)
                    .arg(qRound(report.milliseconds))
                    .toUtf8());
    return 0;
}

int init(const QStringList &args)
{
    QString file;
    QString uri;
    QList<InitScript> scripts;
    bool demo = false;
    bool force = false;
    bool upgrading = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--upgrade")) {
            upgrading = true;
        } else if (a == QLatin1String("--demo")) {
            demo = true;
        } else if (a == QLatin1String("--force")) {
            force = true;
        } else if (a == QLatin1String("--pg")) {
            if (++i >= args.size() || backends::forLocation(args[i]).isFile())
                return usage(QStringLiteral("--pg needs a URI postgresql://..."));
            uri = args[i];
        } else if (a == QLatin1String("--script") || a == QLatin1String("--oracle-script")) {
            if (++i >= args.size())
                return usage(a + QStringLiteral(" needs a file"));
            scripts.append({args[i], a == QLatin1String("--oracle-script")});
        } else if (a.startsWith(QLatin1String("--")) || !file.isEmpty()) {
            return usage(QStringLiteral("unexpected argument: ") + a);
        } else {
            file = a;
        }
    }
    if (!uri.isEmpty() && (!file.isEmpty() || upgrading))
        return usage(QStringLiteral("init --pg takes no database file and no --upgrade"));
    if (uri.isEmpty() && file.isEmpty())
        return usage(QStringLiteral("init needs a database file"));
    if (upgrading) {
        if (demo || force || !scripts.isEmpty())
            return usage(QStringLiteral("--upgrade takes no other option"));
        return upgrade(file);
    }
    const Backend &backend = uri.isEmpty() ? backends::sqlite() : backends::postgres();
    const QString error = backend.init(uri.isEmpty() ? file : uri, demo, scripts, force);
    if (!error.isEmpty())
        return fail(error);
    if (!backend.isFile())
        return 0;
    const QString folder = QFileInfo(file).absolutePath();
    return ensureCertificate(tls::certificateFileIn(folder), tls::keyFileIn(folder), stdout) ? 0 : 1;
}

// HOST:PORT, [v6]:PORT, *:PORT or localhost:PORT.
bool hostAndPort(const QString &text, QHostAddress *host, quint16 *port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const uint number = colon < 0 ? 0 : text.mid(colon + 1).toUInt(&portOk);
    QString hostText = colon < 0 ? QString() : text.left(colon);
    if (hostText.startsWith(QLatin1Char('[')) && hostText.endsWith(QLatin1Char(']')))
        hostText = hostText.mid(1, hostText.size() - 2);
    if (hostText == QLatin1String("localhost"))
        *host = QHostAddress(QHostAddress::LocalHost);
    else if (hostText.isEmpty() || hostText == QLatin1String("*"))
        *host = QHostAddress(QHostAddress::Any);
    else
        *host = QHostAddress(hostText);
    *port = quint16(number);
    return portOk && number <= 65535 && !host->isNull();
}

// What serve is given on its command line.
struct ServeOptions {
    ServerConfig config;
    QString listen = QStringLiteral("127.0.0.1:211");
    QString tracePath;
    QString metricsListen;
    QString pool;
    QString certificateFile;
    QString keyFile;
    int delayMs = 0;
    int pgConnections = 32;
    int sqliteConnections = 32;
    qint64 sessionMemory = MemoryBudget::kDefaultPerSession;
    qint64 memoryLimit = MemoryBudget::kDefaultTotal;
};

// 0 when the arguments make sense, else the exit status after saying why.
int readServeArguments(const QStringList &args, ServeOptions &o)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--db") && hasValue) {
            const QString value = args[++i];
            const qsizetype eq = value.indexOf(QLatin1Char('='));
            ServerConfig::Db db;
            if (eq > 0 && backends::forLocation(value).isFile()) {
                db.name = value.left(eq);
                db.file = value.mid(eq + 1);
            } else {
                db.file = value;
            }
            db.backend = &backends::forLocation(db.file);
            if (db.backend->isFile() && !QFileInfo(db.file).isFile())
                return fail(QStringLiteral("no database file %1 (create it with vorel-server init)").arg(db.file));
            o.config.databases.append(db);
        } else if (a == QLatin1String("--listen") && hasValue) {
            o.listen = args[++i];
        } else if (a == QLatin1String("--advertise") && hasValue) {
            o.config.advertise = args[++i];
        } else if (a == QLatin1String("--trace") && hasValue) {
            o.tracePath = args[++i];
        } else if (a == QLatin1String("--metrics") && hasValue) {
            o.metricsListen = args[++i];
        } else if (a == QLatin1String("--pool") && hasValue) {
            o.pool = args[++i];
        } else if (a == QLatin1String("--max-sessions") && hasValue) {
            bool ok = false;
            o.config.maxSessions = args[++i].toInt(&ok);
            if (!ok || o.config.maxSessions < 1)
                return usage(QStringLiteral("--max-sessions expects a whole number of at least 1"));
        } else if ((a == QLatin1String("--max-sessions-per-user") || a == QLatin1String("--max-sessions-per-source"))
                   && hasValue) {
            bool ok = false;
            const int n = args[++i].toInt(&ok);
            if (!ok || n < 1)
                return usage(a + QStringLiteral(" expects a whole number of at least 1"));
            (a == QLatin1String("--max-sessions-per-user") ? o.config.maxSessionsPerUser
                                                           : o.config.maxSessionsPerSource) = n;
        } else if ((a == QLatin1String("--login-timeout") || a == QLatin1String("--idle-timeout")
                    || a == QLatin1String("--query-timeout") || a == QLatin1String("--idle-in-transaction")
                    || a == QLatin1String("--drain-timeout"))
                   && hasValue) {
            const int ms = millisecondsOf(args[++i]);
            if (ms < 0)
                return usage(a + QStringLiteral(" expects seconds (0: no limit), not ") + args[i]);
            int &target = a == QLatin1String("--login-timeout")         ? o.config.loginTimeoutMs
                          : a == QLatin1String("--idle-timeout")        ? o.config.idleTimeoutMs
                          : a == QLatin1String("--idle-in-transaction") ? o.config.idleInTransactionMs
                          : a == QLatin1String("--drain-timeout")       ? o.config.drainTimeoutMs
                                                                        : o.config.queryTimeoutMs;
            target = ms;
        } else if ((a == QLatin1String("--session-memory") || a == QLatin1String("--memory-limit")) && hasValue) {
            bool ok = false;
            const qint64 mb = args[++i].toLongLong(&ok);
            if (!ok || mb < 16 || mb > (qint64(1) << 30))
                return usage(a + QStringLiteral(" expects megabytes, at least 16, not ") + args[i]);
            (a == QLatin1String("--session-memory") ? o.sessionMemory : o.memoryLimit) = mb << 20;
        } else if ((a == QLatin1String("--max-startups") || a == QLatin1String("--max-startups-per-source"))
                   && hasValue) {
            bool ok = false;
            const int n = args[++i].toInt(&ok);
            if (!ok || n < 1)
                return usage(a + QStringLiteral(" expects a whole number of at least 1"));
            (a == QLatin1String("--max-startups") ? o.config.maxStartups : o.config.maxStartupsPerSource) = n;
        } else if (a == QLatin1String("--pg-connections") && hasValue) {
            bool ok = false;
            o.pgConnections = args[++i].toInt(&ok);
            if (!ok || o.pgConnections < 2 || o.pgConnections > 10000)
                return usage(QStringLiteral("--pg-connections expects a whole number from 2 to 10000, not ") + args[i]);
        } else if (a == QLatin1String("--sqlite-connections") && hasValue) {
            bool ok = false;
            o.sqliteConnections = args[++i].toInt(&ok);
            if (!ok || o.sqliteConnections < 1 || o.sqliteConnections > 10000)
                return usage(QStringLiteral("--sqlite-connections expects a whole number from 1 to 10000, not ")
                             + args[i]);
        } else if (a == QLatin1String("--tls-cert") && hasValue) {
            o.certificateFile = args[++i];
        } else if (a == QLatin1String("--tls-key") && hasValue) {
            o.keyFile = args[++i];
        } else if (a == QLatin1String("--insecure-plaintext")) {
            o.config.plaintext = true;
        } else if (a == QLatin1String("--delay-ms") && hasValue) {
            bool ok = false;
            o.delayMs = args[++i].toInt(&ok);
            if (!ok || o.delayMs < 0 || o.delayMs > 60000)
                return usage(QStringLiteral("--delay-ms expects milliseconds from 0 to 60000, not ") + args[i]);
        } else {
            return usage(QStringLiteral("unexpected argument: ") + a);
        }
    }
    if (o.config.databases.isEmpty())
        return usage(QStringLiteral("serve needs at least one --db"));
    if (o.sessionMemory > o.memoryLimit)
        return usage(QStringLiteral("--session-memory cannot be more than --memory-limit"));
    return 0;
}

// Each database reached before any client comes; 0 when all are ready.
int prepareDatabases(const QList<ServerConfig::Db> &databases)
{
    for (const ServerConfig::Db &db : databases) {
        int converted = 0;
        const QString error = db.backend->prepare(db.file, &converted);
        if (!error.isEmpty())
            return fail(error);
        if (converted > 0)
            say(QStringLiteral("%1: %2 password(s) stored as typed by an earlier release now kept as salted hashes")
                    .arg(db.file)
                    .arg(converted));
    }
    return 0;
}

// The certificate every connection is encrypted with, made beside the first
// database file when none is given; 0 when it is loaded.
int loadCertificate(ServeOptions &o)
{
    if (o.certificateFile.isEmpty() != o.keyFile.isEmpty())
        return usage(QStringLiteral("--tls-cert and --tls-key go together"));
    if (o.config.plaintext) {
        say(QStringLiteral("WARNING: --insecure-plaintext: nothing is encrypted, passwords and data cross the network "
                           "readable by anyone on the way; for measuring what TLS costs only"));
        return 0;
    }
    if (o.certificateFile.isEmpty()) {
        QString folder = QDir::currentPath();
        for (const ServerConfig::Db &db : o.config.databases) {
            if (db.backend->isFile()) {
                folder = QFileInfo(db.file).absolutePath();
                break;
            }
        }
        o.certificateFile = tls::certificateFileIn(folder);
        o.keyFile = tls::keyFileIn(folder);
        if (!ensureCertificate(o.certificateFile, o.keyFile, stderr))
            return 1;
    }
    QString error;
    if (!tls::loadServerConfiguration(o.certificateFile, o.keyFile, &o.config.tls, &error))
        return fail(error);
    return 0;
}

// Every peer is a descriptor; the usual soft limit of 1024 would refuse
// connections long before the server's own bounds shed any.
void raiseFileLimit()
{
#if defined(Q_OS_UNIX)
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
#endif
}

// SIGTERM (systemctl stop): no new logins; each session ends at its next
// transaction boundary, within --drain-timeout, then the process exits. A
// second SIGTERM or SIGINT ends the sessions after their current request.
// SIGHUP (systemctl reload): the certificate and key are read again for the
// connections from then on.
void followSignals(UnixSignals &unixSignals, Server &server, QCoreApplication &app, const ServeOptions &o)
{
    const int boundMs = o.config.drainTimeoutMs;
    QObject::connect(
        &unixSignals, &UnixSignals::terminate, &server, [&server, &app, boundMs, stopping = false]() mutable {
            if (stopping) {
                logLine(QStringLiteral("stopping at once: every session ends after its current request"));
                server.hurry(kHurryMs);
                return;
            }
            stopping = true;
            logLine(QStringLiteral("stopping: no new logins; %1 session(s) end at their next transaction boundary, "
                                   "within %2 s")
                        .arg(server.sessions())
                        .arg(seconds(boundMs)));
            QElapsedTimer took;
            took.start();
            server.shutdown(boundMs, qMin(kStopGraceMs, boundMs / 4), [&app, took](bool allEnded) {
                if (allEnded) {
                    logLine(QStringLiteral("stopped: the sessions ended in %1 s")
                                .arg(double(took.elapsed()) / 1000.0, 0, 'f', 1));
                    logLine(QStringLiteral("stopped"));
                    app.exit(0);
                    return;
                }
                logLine(QStringLiteral("stopped with requests still running after %1 s: their transactions are "
                                       "rolled back with the connections")
                            .arg(double(took.elapsed()) / 1000.0, 0, 'f', 1));
                std::fflush(stderr);
                // Their threads are still inside the database: no destructor runs.
                std::_Exit(0);
            });
        });
    QObject::connect(&unixSignals, &UnixSignals::reload, &server,
                     [&server, certificateFile = o.certificateFile, keyFile = o.keyFile] {
        if (certificateFile.isEmpty()) {
            logLine(QStringLiteral("SIGHUP: no certificate to read again (--insecure-plaintext)"));
            return;
        }
        QSslConfiguration tls;
        QString error;
        if (!tls::loadServerConfiguration(certificateFile, keyFile, &tls, &error)) {
            logLine(QStringLiteral("SIGHUP: the certificate stays as it was: ") + error);
            return;
        }
        server.setTls(tls);
        logLine(QStringLiteral("SIGHUP: certificate %1 read again, SHA-256 fingerprint %2")
                    .arg(certificateFile, tls::fingerprintOf(certificateFile, &error)));
    });
}

int serve(QCoreApplication &app, const QStringList &args)
{
    ServeOptions o;
    if (const int status = readServeArguments(args, o))
        return status;
    MemoryBudget::server().configure(o.memoryLimit, o.sessionMemory);
    // One of them marks the server's sessions alive for the other servers.
    backends::limitConnections(o.pgConnections - 1);
    backends::limitSqliteConnections(o.sqliteConnections);
    backends::setNotice(&logLine);
    if (const int status = prepareDatabases(o.config.databases))
        return status;
    QHostAddress host;
    quint16 port = 0;
    if (!hostAndPort(o.listen, &host, &port))
        return usage(QStringLiteral("--listen expects HOST:PORT, not ") + o.listen);
    QHostAddress metricsHost;
    quint16 metricsPort = 0;
    if (!o.metricsListen.isEmpty() && !hostAndPort(o.metricsListen, &metricsHost, &metricsPort))
        return usage(QStringLiteral("--metrics expects HOST:PORT, not ") + o.metricsListen);
    if (const int status = loadCertificate(o))
        return status;

    Trace trace;
    if (!o.tracePath.isEmpty()) {
        QString error;
        if (!trace.open(o.tracePath, &error))
            return fail(QStringLiteral("cannot write the trace %1: %2").arg(o.tracePath, error));
        o.config.trace = &trace;
    }
    LoginThrottle throttle;
    o.config.throttle = &throttle;
    Outbox::setDelay(o.delayMs);
    raiseFileLimit();
    std::unique_ptr<Director> director;
    if (!o.pool.isEmpty()) {
        QString why;
        QList<Director::Member> members = Director::parse(o.pool, &why);
        if (members.isEmpty())
            return usage(why);
        director = std::make_unique<Director>(std::move(members));
        o.config.director = director.get();
    }

    Server server(o.config);
    // Qt's default queue of 50 connections not yet accepted drops the rest
    // when many clients start at once (a shift beginning, a restart), and
    // each dropped one waits a second before it tries again.
    server.setListenBacklogSize(1024);
    if (!server.start(host, quint16(port)))
        return fail(QStringLiteral("cannot listen on %1: %2").arg(o.listen, server.errorString()));
    put(stdout, QStringLiteral("listening on %1:%2\n")
                    .arg(server.serverAddress().toString(), QString::number(server.serverPort()))
                    .toUtf8());
    MetricsServer metrics(&server);
    if (!o.metricsListen.isEmpty()) {
        if (!metrics.listen(metricsHost, metricsPort))
            return fail(QStringLiteral("cannot serve metrics on %1: %2").arg(o.metricsListen, metrics.errorString()));
        put(stdout, QStringLiteral("metrics on http://%1:%2/metrics\n")
                        .arg(metrics.serverAddress().toString(), QString::number(metrics.serverPort()))
                        .toUtf8());
    }

    UnixSignals unixSignals;
    followSignals(unixSignals, server, app, o);
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    // Databases, backups, keys and traces hold password hashes, data and
    // secrets: none of them is for other users of the machine to read.
    vorel::platform::KeepNewFilesPrivate();
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage(QStringLiteral("a command is needed"));
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (command == QLatin1String("serve"))
        return serve(app, args);
    if (command == QLatin1String("init"))
        return init(args);
    if (command == QLatin1String("certificate"))
        return certificate(args);
    if (command == QLatin1String("fingerprint"))
        return fingerprint(args);
    if (command == QLatin1String("backup"))
        return backup(args);
    return usage(QStringLiteral("unknown command: ") + command);
}
