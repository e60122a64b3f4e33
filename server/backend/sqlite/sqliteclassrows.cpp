// The class-rows query read from an SQLite connection.
#include "server/backend/sqlite/sqliteclassrows.h"
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/backend/sqlite/sqliteerrors.h"

#include <sqlite3.h>

namespace vorel::server {

namespace {

QString quotedIdentifier(const QString &ident)
{
    return QLatin1Char('"') + QString(ident).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

template <typename F>
void eachRow(sqlite3 *db, const char *sql, F &&f)
{
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
        const QString msg = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(st);
        throw OraError(oracleMessage(db, sqlite3_errcode(db), msg));
    }
    while (sqlite3_step(st) == SQLITE_ROW)
        f(st);
    sqlite3_finalize(st);
}

QString columnText(sqlite3_stmt *st, int i)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, i)), sqlite3_column_bytes(st, i));
}

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
        sqlite3_stmt *st = nullptr;
        const QByteArray sql = (QStringLiteral("SELECT * FROM ") + quotedIdentifier(name)).toUtf8();
        if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &st, nullptr) != SQLITE_OK) {
            sqlite3_finalize(st);
            return out;
        }
        for (int i = 0; i < sqlite3_column_count(st); ++i)
            out.push_back({QString::fromUtf8(sqlite3_column_name(st, i)),
                           QString::fromUtf8(sqlite3_column_decltype(st, i))});
        sqlite3_finalize(st);
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
