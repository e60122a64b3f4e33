#pragma once
// Oracle's sequences on SQLite. Their numbers live outside the database's
// transactions, as Oracle's do: in a file of their own beside the database
// (sequenceFile), written on a connection of their own in autocommit, so
// that a rollback gives no number back and a NEXTVAL never waits for the
// database's write lock. Each write reserves a block of CACHE numbers that
// the process hands out from memory; a restart skips what was left of it.
#include "server/sql/sequences.h"

#include <QHash>
#include <QString>
#include <memory>
#include <mutex>

struct sqlite3;

namespace vorel::server {

// The file of the sequences of the database `file`.
QString sequenceFile(const QString &databaseFile);

// The sequences of one database file, shared by the process's sessions.
class SequenceStore
{
public:
    static std::shared_ptr<SequenceStore> of(const QString &databaseFile);
    explicit SequenceStore(QString file)
        : m_file(std::move(file))
    {}
    ~SequenceStore();

    // The next number of `name`. Throws OraError: ORA-02289, ORA-08004.
    qint64 next(const QString &name);
    bool exists(const QString &name);

private:
    struct Block {
        SequenceDef def;
        qint64 next = 0;
        qint64 left = 0; // numbers of the block not yet handed out
    };
    // Reserves the next block of `name`: false when there is no such sequence.
    bool reserve(const QString &name, Block &block);
    bool open();

    const QString m_file;
    std::mutex m_mutex;
    sqlite3 *m_db = nullptr;
    QHash<QString, Block> m_blocks;
};

// One session's view of the sequences: its CURRVALs, and the uses of each
// sequence the current row has made (dialect.cpp: a statement names a
// sequence `uses` times and draws once per row).
class SessionSequences
{
public:
    explicit SessionSequences(std::shared_ptr<SequenceStore> store)
        : m_store(std::move(store))
    {}
    qint64 next(const QString &name, int uses);
    qint64 current(const QString &name);
    // A statement starts: one that failed halfway through a row left its count.
    void newStatement() { m_calls.clear(); }

private:
    std::shared_ptr<SequenceStore> m_store;
    QHash<QString, qint64> m_current;
    QHash<QString, int> m_calls;
};

// ora_nextval(name[, uses]) and ora_currval(name) on a connection lent to
// one session after another: `*borrower` is the sequences of the session
// holding it, null while nobody does.
void registerSequenceFunctions(sqlite3 *db, SessionSequences *const *borrower);

// For schema scripts on `db`: the sequences' file attached as vorel_seq
// (created with its table when missing), and what CREATE and DROP SEQUENCE
// do there, inside the script's transaction. Throw OraError.
void attachSequences(sqlite3 *db);
void detachSequences(sqlite3 *db);
void createSequence(sqlite3 *db, const SequenceDef &def);
void dropSequence(sqlite3 *db, const QString &name);

} // namespace vorel::server
