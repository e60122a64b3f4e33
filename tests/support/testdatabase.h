#pragma once
// A fresh database for one test: an SQLite file, or a database of its own in
// the cluster VOREL_TEST_PG names. Made as the server makes one
// (Backend::init) and reached as a server session reaches it (Backend::open).
// The engine is this run's (VOREL_TEST_BACKEND=postgresql or not) unless a
// test compares both and names it.
#include "server/core/backend.h"
#include "server/core/database.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace vorel::test {

enum class Engine { Sqlite, Postgres };

// This run's engine.
Engine thisRun();
inline bool onPostgres() { return thisRun() == Engine::Postgres; }
// Why the engine cannot be used here; empty when it can.
QString unavailable(Engine engine = thisRun());

// A folder for one test's files, under VOREL_TEST_TMP; null when none can be made.
std::unique_ptr<QTemporaryDir> makeTempDir();

class TestDatabase
{
public:
    // On SQLite the database is `file`, or a file in a folder of its own.
    explicit TestDatabase(Engine engine = thisRun(), const QString &file = {});
    // Drops a PostgreSQL database.
    ~TestDatabase();
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    // Makes the database: schema, the demo when asked, then the scripts.
    // Empty when done, else why not.
    QString create(bool demo = true, const QList<server::InitScript> &scripts = {});
    // Makes it as a copy of `other`, which no session may be using.
    QString copyOf(const TestDatabase &other);

    Engine engine() const { return m_engine; }
    // The file, or the database's URI.
    const QString &location() const { return m_location; }
    // A session's connection, its working tables made for `user` when one
    // is given. Throws as Backend::open does.
    std::unique_ptr<server::Database> open(const QString &user = {}) const;

private:
    Engine m_engine;
    QString m_location;
    QString m_pgName; // made in the cluster, dropped at the end
    std::unique_ptr<QTemporaryDir> m_dir;
};

// What one client statement answers through a session: a SELECT (or WITH)
// read to its end, else a change. Cells as text: NULL as "<null>", numbers
// whole where they are whole, dates as "YYYY-MM-DD HH:MM:SS".
struct Answer {
    QStringList columns;
    QList<QStringList> rows;
    QString error;
};
Answer run(server::Database &db, const QString &oracleSql);

// The engine's own SQL on a database outside any session, for set-up and
// checks; rows as text, NULL as "<null>". On PostgreSQL, CREATE TABLE with
// Oracle's types and SQLite's blob literals are taken as the server takes
// them. Throws vorel::Exception with the statement.
QList<QStringList> query(const QString &location, const QString &sql);
void exec(const QString &location, const QString &sql);

// Rows of the tests' own, ids far from the demo's, and the class views the
// class-rows tests read: a script in the Oracle form with the file its
// FILE('...') names beside it.
server::InitScript fixtureRows();

} // namespace vorel::test
