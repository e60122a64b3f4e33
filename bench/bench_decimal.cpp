// What decimal arithmetic costs on SQLite: the same expressions over the
// same rows, once as SQLite computes them in binary (the reference) and once
// as the server translates them, through its decimal functions. Prints the
// median time of each query both ways and their ratio.
//
//   bench_decimal [--rows 100k] [--runs 9]
#include "bench/benchutil.h"
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/sql/dialect.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>

using namespace vorel;

namespace {

// Money-like rows: a price with cents, a whole quantity, a discount.
const char *const kQueries[][2] = {
    {"sum of a column", "SELECT SUM(PRECIO) FROM T"},
    {"a line's amount", "SELECT SUM(PRECIO * CANTIDAD * (100 - DTO) / 100) FROM T"},
    {"sums and differences", "SELECT COUNT(*) FROM T WHERE PRECIO + DTO - CANTIDAD > 0.5"},
};

void exec(sqlite3 *db, const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", sql, error);
        std::exit(1);
    }
}

double timeQuery(sqlite3 *db, const QByteArray &sql)
{
    QElapsedTimer t;
    t.start();
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &st, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", sql.constData(), sqlite3_errmsg(db));
        std::exit(1);
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
    }
    sqlite3_finalize(st);
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qint64 rows = 100000;
    int runs = 9;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--rows"))
            rows = bench::countOf(args[i + 1]);
        else if (args[i] == QLatin1String("--runs"))
            runs = args[i + 1].toInt();
    }
    if (rows <= 0 || runs <= 0) {
        std::fprintf(stderr, "usage: bench_decimal [--rows 100k] [--runs 9]\n");
        return 2;
    }
    sqlite3 *db = nullptr;
    sqlite3_open(":memory:", &db);
    exec(db, "CREATE TABLE T (PRECIO REAL, CANTIDAD INTEGER, DTO REAL)");
    exec(db, "BEGIN");
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO T VALUES (?, ?, ?)", -1, &insert, nullptr);
    for (qint64 i = 0; i < rows; ++i) {
        sqlite3_bind_double(insert, 1, double(i % 100000) / 100.0);
        sqlite3_bind_int64(insert, 2, 1 + i % 37);
        sqlite3_bind_double(insert, 3, double(i % 21) / 2.0);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    exec(db, "COMMIT");

    // The reference runs before the functions replace SQLite's own SUM.
    std::vector<std::vector<double>> binary(std::size(kQueries)), decimal(std::size(kQueries));
    for (int r = 0; r < runs; ++r)
        for (size_t q = 0; q < std::size(kQueries); ++q)
            binary[q].push_back(timeQuery(db, kQueries[q][1]));
    server::registerOracleFunctions(db);
    for (int r = 0; r < runs; ++r)
        for (size_t q = 0; q < std::size(kQueries); ++q)
            decimal[q].push_back(timeQuery(
                db, server::translateOracle(QString::fromLatin1(kQueries[q][1]), server::schemaLookup(db)).toUtf8()));
    std::printf("%lld rows, median of %d runs (ms)\n%-22s %12s %12s %8s\n", qlonglong(rows), runs, "query",
                "SQLite", "decimal", "ratio");
    for (size_t q = 0; q < std::size(kQueries); ++q)
        std::printf("%-22s %12.2f %12.2f %8.2f\n", kQueries[q][0], bench::median(binary[q]), bench::median(decimal[q]),
                    bench::median(decimal[q]) / bench::median(binary[q]));
    sqlite3_close(db);
    return 0;
}
