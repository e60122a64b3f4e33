#include "server/backend/sqlite/sequencestore.h"
#include "server/backend/sqlite/sqlitestatement.h"
#include "server/core/oraerror.h"

#include <QFileInfo>
#include <algorithm>
#include <map>
#include <sqlite3.h>

namespace vorel::server {

namespace {

const char kTable[] = "CREATE TABLE IF NOT EXISTS %1sequences (name TEXT PRIMARY KEY, start INTEGER NOT NULL, "
                      "increment INTEGER NOT NULL, minvalue INTEGER NOT NULL, maxvalue INTEGER NOT NULL, "
                      "cycle INTEGER NOT NULL, cache INTEGER NOT NULL, reserved INTEGER)";

[[noreturn]] void failOn(sqlite3 *db)
{
    throw OraError(
        QStringLiteral("ORA-01115: IO error reading block from file (%1)").arg(QString::fromUtf8(sqlite3_errmsg(db))));
}

void execOn(sqlite3 *db, const QString &sql)
{
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        failOn(db);
}

// How many numbers from `first` on, `cache` at most, before the sequence's
// end: a block never wraps round, the next one does.
qint64 blockSize(const SequenceDef &d, qint64 first)
{
    const quint64 room = d.increment > 0 ? quint64(d.maxValue) - quint64(first) : quint64(first) - quint64(d.minValue);
    const quint64 step = d.increment > 0 ? quint64(d.increment) : quint64(-(d.increment + 1)) + 1;
    return qint64(std::min<quint64>(room / step + 1, quint64(std::max<qint64>(d.cache, 1))));
}

QString nameArgument(sqlite3_value *v)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(v)), sqlite3_value_bytes(v));
}

void fail(sqlite3_context *ctx, const OraError &e)
{
    const QByteArray m = e.message().toUtf8();
    sqlite3_result_error(ctx, m.constData(), int(m.size()));
}

SessionSequences *borrowerOf(sqlite3_context *ctx)
{
    SessionSequences *sequences = *static_cast<SessionSequences *const *>(sqlite3_user_data(ctx));
    if (!sequences)
        sqlite3_result_error(ctx, "sequence used on a connection no session holds", -1);
    return sequences;
}

void nextvalFunction(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    SessionSequences *sequences = borrowerOf(ctx);
    if (!sequences)
        return;
    try {
        const int uses = argc > 1 ? std::max(1, sqlite3_value_int(argv[1])) : 1;
        sqlite3_result_int64(ctx, sequences->next(nameArgument(argv[0]), uses));
    } catch (const OraError &e) {
        fail(ctx, e);
    }
}

void currvalFunction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    SessionSequences *sequences = borrowerOf(ctx);
    if (!sequences)
        return;
    try {
        sqlite3_result_int64(ctx, sequences->current(nameArgument(argv[0])));
    } catch (const OraError &e) {
        fail(ctx, e);
    }
}

} // namespace

QString sequenceFile(const QString &databaseFile) { return databaseFile + QStringLiteral(".seq"); }

std::shared_ptr<SequenceStore> SequenceStore::of(const QString &databaseFile)
{
    static std::mutex mutex;
    static std::map<QString, std::weak_ptr<SequenceStore>> stores;
    const QString canonical = QFileInfo(databaseFile).canonicalFilePath();
    const QString key = canonical.isEmpty() ? databaseFile : canonical;
    std::lock_guard lock(mutex);
    std::weak_ptr<SequenceStore> &slot = stores[key];
    std::shared_ptr<SequenceStore> store = slot.lock();
    if (!store) {
        store = std::make_shared<SequenceStore>(sequenceFile(key));
        slot = store;
    }
    return store;
}

SequenceStore::~SequenceStore()
{
    // What is left of each block goes back, unless another process has
    // reserved past it since: only a server that did not end this way (or
    // a write that failed here) skips numbers.
    const sqlite::Statement giveBack =
        m_db ? sqlite::prepare(m_db, "UPDATE sequences SET reserved = ?1 WHERE name = ?2 AND reserved = ?3")
             : sqlite::Statement();
    for (auto it = m_blocks.cbegin(); giveBack && it != m_blocks.cend(); ++it) {
        if (it->left == 0)
            continue;
        sqlite3_reset(giveBack.get());
        sqlite3_bind_int64(giveBack.get(), 1, it->next - it->def.increment);
        sqlite::bindText(giveBack.get(), 2, it.key());
        sqlite3_bind_int64(giveBack.get(), 3, it->next + (it->left - 1) * it->def.increment);
        sqlite3_step(giveBack.get());
    }
    sqlite3_close_v2(m_db);
}

bool SequenceStore::open()
{
    if (m_db)
        return true;
    // Made by the first script that creates a sequence: until then there
    // is none to draw from.
    if (!QFileInfo::exists(m_file))
        return false;
    if (sqlite3_open_v2(m_file.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr)
        != SQLITE_OK) {
        const QString why = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw OraError(QStringLiteral("ORA-01115: IO error reading block from file (%1: %2)").arg(m_file, why));
    }
    sqlite3_busy_timeout(m_db, 10000);
    return true;
}

bool SequenceStore::reserve(const QString &name, Block &block)
{
    if (!open())
        return false;
    execOn(m_db, QStringLiteral("BEGIN IMMEDIATE"));
    struct Rollback {
        sqlite3 *db;
        bool done = false;
        ~Rollback()
        {
            if (!done)
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    } rollback{m_db};
    const sqlite::Statement read = sqlite::prepare(
        m_db, "SELECT start, increment, minvalue, maxvalue, cycle, cache, reserved FROM sequences WHERE name = ?1");
    if (!read)
        failOn(m_db);
    sqlite::bindText(read.get(), 1, name);
    const int rc = sqlite3_step(read.get());
    if (rc == SQLITE_DONE)
        return false;
    if (rc != SQLITE_ROW)
        failOn(m_db);
    SequenceDef d;
    d.name = name;
    d.start = sqlite3_column_int64(read.get(), 0);
    d.increment = sqlite3_column_int64(read.get(), 1);
    d.minValue = sqlite3_column_int64(read.get(), 2);
    d.maxValue = sqlite3_column_int64(read.get(), 3);
    d.cycle = sqlite3_column_int(read.get(), 4) != 0;
    d.cache = sqlite3_column_int64(read.get(), 5);
    std::optional<qint64> first = d.start;
    if (sqlite3_column_type(read.get(), 6) != SQLITE_NULL)
        first = d.after(sqlite3_column_int64(read.get(), 6));
    if (!first)
        throw OraError(QString::fromLatin1(d.increment > 0 ? ora::kNextvalPastMax : ora::kNextvalPastMin).arg(name));
    const qint64 size = blockSize(d, *first);
    const qint64 last = *first + (size - 1) * d.increment;
    const sqlite::Statement write = sqlite::prepare(m_db, "UPDATE sequences SET reserved = ?1 WHERE name = ?2");
    if (!write)
        failOn(m_db);
    sqlite3_bind_int64(write.get(), 1, last);
    sqlite::bindText(write.get(), 2, name);
    if (sqlite3_step(write.get()) != SQLITE_DONE)
        failOn(m_db);
    execOn(m_db, QStringLiteral("COMMIT"));
    rollback.done = true;
    block = Block{d, *first, size};
    return true;
}

qint64 SequenceStore::next(const QString &name)
{
    std::lock_guard lock(m_mutex);
    auto it = m_blocks.find(name);
    if (it == m_blocks.end() || it->left == 0) {
        Block block;
        if (!reserve(name, block)) {
            m_blocks.remove(name);
            throw OraError(QString::fromLatin1(ora::kNoSuchSequence));
        }
        it = m_blocks.insert(name, block);
    }
    const qint64 value = it->next;
    if (--it->left > 0)
        it->next = value + it->def.increment;
    return value;
}

bool SequenceStore::exists(const QString &name)
{
    std::lock_guard lock(m_mutex);
    if (!open())
        return false;
    const sqlite::Statement read = sqlite::prepare(m_db, "SELECT 1 FROM sequences WHERE name = ?1");
    if (!read)
        failOn(m_db);
    sqlite::bindText(read.get(), 1, name);
    return sqlite3_step(read.get()) == SQLITE_ROW;
}

qint64 SessionSequences::next(const QString &name, int uses)
{
    int &calls = m_calls[name];
    const auto current = m_current.constFind(name);
    if (uses > 1 && calls % uses != 0 && current != m_current.cend()) {
        calls = (calls + 1) % uses;
        return *current;
    }
    const qint64 value = m_store->next(name);
    m_current.insert(name, value);
    calls = uses > 1 ? 1 : 0;
    return value;
}

qint64 SessionSequences::current(const QString &name)
{
    const auto it = m_current.constFind(name);
    if (it != m_current.cend())
        return *it;
    if (!m_store->exists(name))
        throw OraError(QString::fromLatin1(ora::kNoSuchSequence));
    throw OraError(QString::fromLatin1(ora::kCurrvalUndefined).arg(name));
}

void registerSequenceFunctions(sqlite3 *db, SessionSequences *const *borrower)
{
    // Not deterministic: SQLite would otherwise compute a call once for
    // the whole statement.
    for (int args : {1, 2})
        sqlite3_create_function_v2(db, "ora_nextval", args, SQLITE_UTF8, const_cast<SessionSequences **>(borrower), nextvalFunction, nullptr, nullptr,
                                   nullptr);
    sqlite3_create_function_v2(db, "ora_currval", 1, SQLITE_UTF8, const_cast<SessionSequences **>(borrower), currvalFunction, nullptr, nullptr,
                               nullptr);
}

void attachSequences(sqlite3 *db)
{
    const char *main = sqlite3_db_filename(db, "main");
    const QString file = main && *main ? sequenceFile(QString::fromUtf8(main)) : QStringLiteral(":memory:");
    const sqlite::Statement attach = sqlite::prepare(db, "ATTACH DATABASE ?1 AS vorel_seq");
    if (!attach)
        failOn(db);
    sqlite::bindText(attach.get(), 1, file);
    if (sqlite3_step(attach.get()) != SQLITE_DONE)
        failOn(db);
    execOn(db, QStringLiteral("PRAGMA vorel_seq.journal_mode=WAL; ")
                   + QString::fromLatin1(kTable).arg(QStringLiteral("vorel_seq.")));
}

void detachSequences(sqlite3 *db) { sqlite3_exec(db, "DETACH DATABASE vorel_seq", nullptr, nullptr, nullptr); }

void createSequence(sqlite3 *db, const SequenceDef &d)
{
    const sqlite::Statement insert = sqlite::prepare(
        db, "INSERT OR IGNORE INTO vorel_seq.sequences (name, start, increment, minvalue, maxvalue, cycle, cache) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    if (!insert)
        failOn(db);
    sqlite::bindText(insert.get(), 1, d.name);
    const qint64 values[] = {d.start, d.increment, d.minValue, d.maxValue, d.cycle ? 1 : 0, d.cache};
    for (int i = 0; i < 6; ++i)
        sqlite3_bind_int64(insert.get(), i + 2, values[i]);
    if (sqlite3_step(insert.get()) != SQLITE_DONE)
        failOn(db);
    if (sqlite3_changes(db) == 0)
        throw OraError(QString::fromLatin1(ora::kNameInUse));
}

void dropSequence(sqlite3 *db, const QString &name)
{
    const sqlite::Statement remove = sqlite::prepare(db, "DELETE FROM vorel_seq.sequences WHERE name = ?1");
    if (!remove)
        failOn(db);
    sqlite::bindText(remove.get(), 1, name);
    if (sqlite3_step(remove.get()) != SQLITE_DONE)
        failOn(db);
    if (sqlite3_changes(db) == 0)
        throw OraError(QString::fromLatin1(ora::kNoSuchSequence));
}

} // namespace vorel::server
