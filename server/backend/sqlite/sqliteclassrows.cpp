// The class-rows query read from an SQLite connection.
#include "server/backend/sqlite/sqliteclassrows.h"
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/backend/sqlite/sqliteerrors.h"
#include "server/backend/sqlite/sqlitestatement.h"

namespace vorel::server {

namespace {

template <typename F>
void eachRow(sqlite3 *db, const char *sql, F &&f)
{
    const sqlite::Statement st = sqlite::prepare(db, sql);
    if (!st)
        throw OraError(lastFailure(db));
    while (sqlite3_step(st.get()) == SQLITE_ROW)
        f(st.get());
}

using sqlite::columnText;

// The view as SQLite declares it; the working rows in the TEMP tables of
// the session's connection, in the order they were written.
class SqliteClassRows final : public ClassRowsSource
{
public:
    explicit SqliteClassRows(sqlite3 *db) : m_db(db) {}

    Target target() const override { return Target::Sqlite; }

    std::vector<Column> columns(const QString &name) const override
    {
        std::vector<Column> out;
        const sqlite::Statement st =
            sqlite::prepare(m_db, (QStringLiteral("SELECT * FROM ") + quotedName(name)).toUtf8().constData());
        for (int i = 0; st && i < sqlite3_column_count(st.get()); ++i)
            out.push_back({QString::fromUtf8(sqlite3_column_name(st.get(), i)),
                           QString::fromUtf8(sqlite3_column_decltype(st.get(), i))});
        return out;
    }

    std::vector<Filter> filters() const override
    {
        std::vector<Filter> out;
        eachRow(m_db, "SELECT VFIL_Filtro, VFIL_Valor FROM temp.RVFILRAP ORDER BY rowid", [&](sqlite3_stmt *st) {
            Filter f;
            if (sqlite3_column_type(st, 0) != SQLITE_NULL)
                f.filter = sqlite3_column_int64(st, 0);
            f.value = columnText(st, 1);
            out.push_back(f);
        });
        return out;
    }

    std::vector<Example> examples() const override
    {
        std::vector<Example> out;
        eachRow(m_db, "SELECT QBEX_Reg, QBEX_Campo, QBEX_Valor, QBEX_Fecha FROM temp.RQBEX ORDER BY QBEX_Reg, rowid",
                [&](sqlite3_stmt *st) {
                    out.push_back({sqlite3_column_int64(st, 0), columnText(st, 1), columnText(st, 2),
                                   sqlite3_column_int(st, 3) == 1});
                });
        return out;
    }

    ColumnLookup lookup() const override { return schemaLookup(m_db); }

private:
    sqlite3 *m_db;
};

} // namespace

BoundQuery classRowsQuery(sqlite3 *db, const ClassRowsCall &call)
{
    return classRowsQuery(SqliteClassRows(db), call);
}

} // namespace vorel::server
