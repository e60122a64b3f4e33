// The password hashing of an SQLite database: the SQL function its
// triggers call, and the conversion of passwords kept as typed.
#include "server/backend/sqlite/sqlitepasswords.h"

#include "server/backend/sqlite/sqliteerrors.h"
#include "server/backend/sqlite/sqlitestatement.h"
#include "server/core/passwords.h"

#include <QList>
#include <utility>

namespace vorel::server::passwords {

namespace {

void hashFunction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString plain = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(argv[0])),
                                            sqlite3_value_bytes(argv[0]));
    const QByteArray h = (isHash(plain) ? plain : hash(plain)).toUtf8();
    if (h.isEmpty()) {
        sqlite3_result_error(ctx, "cannot hash the password", -1);
        return;
    }
    sqlite3_result_text(ctx, h.constData(), int(h.size()), SQLITE_TRANSIENT);
}

bool hasUsers(sqlite3 *db)
{
    const sqlite::Statement st =
        sqlite::prepare(db, "SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = 'TUSUARIOS'");
    return st && sqlite3_step(st.get()) == SQLITE_ROW;
}

[[noreturn]] void fail(sqlite3 *db) { throw OraError(lastFailure(db)); }
} // namespace

void install(sqlite3 *db)
{
    if (sqlite3_create_function_v2(db, "vorel_password_hash", 1, SQLITE_UTF8, nullptr, hashFunction, nullptr,
                                   nullptr, nullptr)
        != SQLITE_OK)
        fail(db);
    if (!hasUsers(db))
        return;
    static const char *const triggers[] = {
        "CREATE TEMP TRIGGER IF NOT EXISTS TRG_USUARIOS_PASWD_I AFTER INSERT ON TUSUARIOS "
        "WHEN NEW.USUA_Paswd IS NOT NULL AND substr(NEW.USUA_Paswd, 1, 15) <> '$pbkdf2-sha256$' "
        "BEGIN UPDATE TUSUARIOS SET USUA_Paswd = vorel_password_hash(NEW.USUA_Paswd) WHERE rowid = NEW.rowid; END",
        "CREATE TEMP TRIGGER IF NOT EXISTS TRG_USUARIOS_PASWD_U AFTER UPDATE OF USUA_Paswd ON TUSUARIOS "
        "WHEN NEW.USUA_Paswd IS NOT NULL AND substr(NEW.USUA_Paswd, 1, 15) <> '$pbkdf2-sha256$' "
        "BEGIN UPDATE TUSUARIOS SET USUA_Paswd = vorel_password_hash(NEW.USUA_Paswd) WHERE rowid = NEW.rowid; END",
    };
    for (const char *sql : triggers)
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(db);
}

int convertPlain(sqlite3 *db)
{
    if (!hasUsers(db))
        return 0;
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(db);
    int converted = 0;
    try {
        QList<std::pair<qint64, QString>> plain;
        sqlite::Statement st =
            sqlite::prepare(db, "SELECT rowid, USUA_Paswd FROM main.TUSUARIOS WHERE USUA_Paswd IS NOT NULL");
        if (!st)
            fail(db);
        while (sqlite3_step(st.get()) == SQLITE_ROW) {
            const QString stored = sqlite::columnText(st.get(), 1);
            if (!stored.startsWith(QLatin1String(kPrefix)))
                plain.append({sqlite3_column_int64(st.get(), 0), stored});
        }
        st = sqlite::prepare(db, "UPDATE main.TUSUARIOS SET USUA_Paswd = ?1 WHERE rowid = ?2");
        if (!st)
            fail(db);
        for (const auto &[rowid, text] : plain) {
            const QString h = hash(text);
            if (h.isEmpty())
                throw OraError(QStringLiteral("cannot hash a password"));
            sqlite::bindText(st.get(), 1, h);
            sqlite3_bind_int64(st.get(), 2, rowid);
            if (sqlite3_step(st.get()) != SQLITE_DONE)
                fail(db);
            sqlite3_reset(st.get());
            ++converted;
        }
        st.reset();
        if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(db);
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    return converted;
}

} // namespace vorel::server::passwords
