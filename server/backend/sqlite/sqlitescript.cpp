// Scripts written for Oracle run on an SQLite connection.
#include "server/backend/sqlite/sequencestore.h"
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/backend/sqlite/sqliteerrors.h"
#include "server/backend/sqlite/sqliteschema.h"
#include "server/backend/sqlite/sqlitestatement.h"
#include "server/schema/oraclescript.h"
#include "server/schema/schema.h"
#include "server/core/oramessages.h"

#include <QScopeGuard>
#include <sqlite3.h>

namespace vorel::server {

namespace {

class SqliteTarget : public ScriptTarget
{
public:
    explicit SqliteTarget(sqlite3 *db) : m_db(db) {}

    QLatin1String backend() const override { return QLatin1String("sqlite"); }
    void native(const QString &text) override { schemadef::exec(m_db, text); }
    void createTables(const std::vector<schemadef::Table> &tables) override { schemadef::createTables(m_db, tables); }

    void commentTable(const QString &table, const QString &text) override
    {
        update("UPDATE TDICTABLAS SET DTAB_Coment = ?1 WHERE DTAB_Tabla = upper(?2)", text, table, QString(),
               ora::text(ora::kNoSuchTable, table));
    }

    void commentColumn(const QString &table, const QString &column, const QString &text) override
    {
        update("UPDATE TDICCOLUM SET DCOL_Coment = ?1 WHERE DCOL_Tabla = upper(?2) AND DCOL_Col = upper(?3)", text,
               table, column, QString::fromLatin1(ora::kInvalidIdentifier).arg(column.toUpper()));
    }

    void createView(const QString &name, const QString &oracleSelect) override
    {
        const QString select = translateOracle(oracleSelect, schemaLookup(m_db));
        schemadef::exec(m_db, QStringLiteral("CREATE VIEW %1 AS %2").arg(name, select));
        schemadef::registerView(m_db, name, QString());
    }

    QString marker(int n) const override { return QStringLiteral("?%1").arg(n); }

    void insertRows(const LiteralRows &rows) override
    {
        const sqlite::Statement statement = sqlite::prepare(m_db, rows.insertSql().toUtf8().constData());
        if (!statement)
            failSqlite();
        sqlite3_stmt *st = statement.get();
        const auto &values = rows.values();
        const int width = rows.columns();
        for (size_t row = 0; row < values.size() / size_t(width); ++row) {
            sqlite3_reset(st);
            for (int c = 0; c < width; ++c) {
                const LiteralRows::Value &v = values[row * size_t(width) + size_t(c)];
                switch (v.kind) {
                case LiteralRows::Value::Null: sqlite3_bind_null(st, c + 1); break;
                case LiteralRows::Value::Integer: sqlite3_bind_int64(st, c + 1, v.integer); break;
                case LiteralRows::Value::Real: sqlite3_bind_double(st, c + 1, v.real); break;
                case LiteralRows::Value::Text:
                    sqlite3_bind_text16(st, c + 1, v.text.utf16(), int(v.text.size() * 2), SQLITE_STATIC);
                    break;
                }
            }
            if (sqlite3_step(st) != SQLITE_DONE)
                throw OraError(QStringLiteral("%1\n(fila %2 de la sentencia)").arg(lastFailure(m_db)).arg(row + 1));
        }
    }

    void statement(const QString &oracle, const std::vector<QByteArray> &blobs) override
    {
        const QByteArray sql = translateOracle(oracle, schemaLookup(m_db)).toUtf8();
        sqlite3_stmt *compiled = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &compiled, nullptr) != SQLITE_OK)
            failSqlite();
        const sqlite::Statement st(compiled);
        if (!st)
            return;
        for (size_t i = 0; i < blobs.size(); ++i)
            sqlite3_bind_blob64(compiled, int(i + 1), blobs[i].constData(), sqlite3_uint64(blobs[i].size()),
                                SQLITE_STATIC);
        int rc;
        do
            rc = sqlite3_step(compiled);
        while (rc == SQLITE_ROW);
        if (rc != SQLITE_DONE)
            failSqlite();
    }

    void createSequence(const SequenceDef &sequence) override { vorel::server::createSequence(m_db, sequence); }
    void dropSequence(const QString &name) override { vorel::server::dropSequence(m_db, name); }

private:
    void update(const char *sql, const QString &text, const QString &a, const QString &b, const QString &missing)
    {
        const sqlite::Statement st = sqlite::prepare(m_db, sql);
        if (!st)
            failSqlite();
        sqlite::bindText(st.get(), 1, text);
        sqlite::bindText(st.get(), 2, a);
        if (!b.isNull())
            sqlite::bindText(st.get(), 3, b);
        if (sqlite3_step(st.get()) != SQLITE_DONE)
            failSqlite();
        if (sqlite3_changes(m_db) != 1)
            throw OraError(missing);
    }

    [[noreturn]] void failSqlite() { throw OraError(lastFailure(m_db)); }

    sqlite3 *m_db;
};

// CHR(n) of the statements the translator runs, as the literal rows read it.
void chr(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const sqlite3_int64 n = sqlite3_value_int64(argv[0]);
    if (n < 1 || n > 127) {
        const QByteArray m = ora::text(ora::kArgumentOutOfRange, QStringLiteral("CHR takes 1 to 127 here")).toUtf8();
        sqlite3_result_error(ctx, m.constData(), -1);
        return;
    }
    const char c = char(n);
    sqlite3_result_text(ctx, &c, 1, SQLITE_TRANSIENT);
}

} // namespace

void runOracleScript(sqlite3 *db, const QString &text, const QString &fileBase)
{
    sqlite3_create_function_v2(db, "chr", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, chr, nullptr, nullptr,
                               nullptr);
    // The sequences' file goes in the script's transaction with the rest;
    // attached only when the script may name one, so that a database
    // without sequences has no such file.
    const bool sequences = text.contains(QLatin1String("SEQUENCE"), Qt::CaseInsensitive) && sqlite3_get_autocommit(db);
    if (sequences)
        attachSequences(db);
    const auto detach = qScopeGuard([&] {
        if (sequences)
            detachSequences(db);
    });
    schemadef::exec(db, QStringLiteral("SAVEPOINT vorel_oracle_script"));
    SqliteTarget target(db);
    try {
        runOracleScript(target, text, fileBase);
        schemadef::exec(db, QStringLiteral("RELEASE vorel_oracle_script"));
    } catch (const OraError &) {
        sqlite3_exec(db, "ROLLBACK TO vorel_oracle_script; RELEASE vorel_oracle_script", nullptr, nullptr, nullptr);
        throw;
    }
}

void fillDemo(sqlite3 *db)
{
    runOracleScript(db, demoScript(), QStringLiteral(":/demo"));
}

} // namespace vorel::server
