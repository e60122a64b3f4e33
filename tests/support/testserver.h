#pragma once
// The real reference server, started for one test on 127.0.0.1 with a fresh
// database and a trace file: an SQLite file, or with VOREL_TEST_BACKEND set
// to "postgresql" a database of its own in the cluster VOREL_TEST_PG names.
#include "support/testdatabase.h"

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <vector>

namespace vorel::test {

class TestServer
{
public:
    struct Options {
        bool demo = true;               // init --demo
        QStringList scripts;            // init --script FILE ... (on PostgreSQL: in the Oracle form)
        QStringList databaseNames;      // empty: one unnamed --db; else NAME=FILE per name (copies)
        QString advertise;              // --advertise
        QStringList serveArgs;          // further options of "serve" (--max-sessions 2 ...)
        bool captureLog = false;        // keep the server's log (stderr) for log()
        // Scripts in the Oracle form on either backend, after `scripts`:
        // init --oracle-script on SQLite, init --script on PostgreSQL.
        QStringList oracleScripts;
        // A database made elsewhere (another server's), served as it is
        // instead of a fresh one.
        QString database;
    };
    TestServer();
    explicit TestServer(Options options);
    ~TestServer();

    // Creates the database(s) and starts the server; false with *error set
    // when either fails.
    bool start(QString *error = nullptr);
    void stop();
    // Ends the server as a crash would (SIGKILL): no goodbye to its clients.
    void kill();
    bool running() const;
    // Starts the server again on the files it had (a new port).
    bool restart(QString *error = nullptr);
    qint64 pid() const;
    // What the server logged so far (with captureLog).
    QString log();

    QString host() const { return QStringLiteral("127.0.0.1"); }
    // The port it listens on (the one in --listen when serveArgs give one).
    quint16 port() const { return m_port; }
    QString dir() const;                       // the test's private folder
    // The database file, or on PostgreSQL the database's URI.
    QString databaseFile(const QString &name = {}) const;
    QString tracePath() const;

    // Trace records written so far (one JSON object per request).
    QList<QJsonObject> trace() const;
    // The texts of the records after the last clearTrace(): for "open" the
    // SQL text, for "call" the method followed by its arguments joined by
    // "|" (e.g. "Login|1001|********|DEMO|127.0.0.1": a password is never traced).
    QStringList texts() const;
    // The packets asked of cursors after the last clearTrace(), in order:
    // the row count of each fetch (the open's own first packet not included).
    QList<qint32> fetches() const;
    void clearTrace();

    // Runs SQL directly on the database (checks and set-up), SQLite's or
    // PostgreSQL's; rows as lists of text (NULL as "<null>").
    QList<QStringList> query(const QString &sql, const QString &name = {}) const;
    void exec(const QString &sql, const QString &name = {}) const;

    // True when the tests run against PostgreSQL.
    static bool postgres() { return onPostgres(); }
    // Why this run's backend cannot be used; empty when it can.
    static QString unavailable() { return vorel::test::unavailable(); }

    static QString serverProgram(); // path of vorel-server
    // Runs vorel-server with `args` to its end: its exit code (-1 when it
    // crashed or did not end), what it wrote to *err and *out.
    static int runServer(const QStringList &args, QString *err = nullptr, QString *out = nullptr);
    static QString sqlProgram();    // path of vorel-sql

    // The certificate and key every test server of this process presents
    // (made once per process, for 127.0.0.1, ::1 and localhost). The first
    // call makes the process, and the programs it starts, trust it through
    // VOREL_CA_FILE.
    static QString certificateFile();
    static QString keyFile();
    // The server side of a fake peer in the test itself, with that pair.
    static QSslConfiguration serverTls();

private:
    bool launch(QString *error);

    Options m_options;
    QStringList m_serveArgs;
    QByteArray m_log;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    qsizetype m_traceOffset = 0;
    std::vector<std::unique_ptr<TestDatabase>> m_databases;
};

// A listener for fake servers in a test: its pending connections are TLS
// sockets with the test certificate, their handshake started.
class TlsListener : public QTcpServer
{
public:
    explicit TlsListener(QObject *parent = nullptr) : QTcpServer(parent) {}
    // Presenting another identity (a relay in the middle, an expired one).
    TlsListener(const QSslConfiguration &tls, QObject *parent = nullptr) : QTcpServer(parent), m_tls(tls) {}

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    std::optional<QSslConfiguration> m_tls;
};

// Starts `server`; a start that fails fails the test case.
#define VOREL_START(server)                                                                                        \
    do {                                                                                                           \
        QString why_;                                                                                              \
        QVERIFY2((server).start(&why_), qPrintable(why_));                                                         \
    } while (false)

// Skips the test case when the run's backend cannot be reached.
#define VOREL_REQUIRE_BACKEND()                                                                                    \
    do {                                                                                                           \
        const QString why = vorel::test::TestServer::unavailable();                                                \
        if (!why.isEmpty())                                                                                        \
            QSKIP(qPrintable(why));                                                                                \
    } while (false)

} // namespace vorel::test
