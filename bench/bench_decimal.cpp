// What decimal arithmetic costs: the same expressions over the same rows,
// once as the database computes them by itself (SQLite and a NUMBER(p,s)
// column of PostgreSQL in binary: the reference) and once as the server
// translates them, through its decimal functions. Prints the median time of
// each query both ways and their ratio, on SQLite and, given a cluster, on
// PostgreSQL.
//
//   bench_decimal [--rows 100k] [--runs 9] [--pg URI]
//
// URI names a cluster (tests/support/pgcluster.sh start DIR prints one; the
// default is VOREL_TEST_PG).
#include "bench/benchutil.h"
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/backend/postgres/pgconnection.h"
#include "server/backend/postgres/pgdatabase.h"
#include "server/sql/dialect.h"
#include "support/testdatabase.h"

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

void report(const char *engine, qint64 rows, int runs, const std::vector<std::vector<double>> &binary,
            const std::vector<std::vector<double>> &decimal)
{
    std::printf("\n%s, %lld rows, median of %d runs (ms)\n%-22s %12s %12s %8s\n", engine, qlonglong(rows), runs,
                "query", "by itself", "decimal", "ratio");
    for (size_t q = 0; q < std::size(kQueries); ++q)
        std::printf("%-22s %12.2f %12.2f %8.2f\n", kQueries[q][0], bench::median(binary[q]),
                    bench::median(decimal[q]), bench::median(decimal[q]) / bench::median(binary[q]));
}

void postgres(qint64 rows, int runs)
{
    test::TestDatabase db(test::Engine::Postgres);
    const QString why = db.create();
    if (!why.isEmpty()) {
        std::printf("\nPostgreSQL: %s\n", qPrintable(why));
        return;
    }
    // The types the server gives NUMBER(12,2), NUMBER(8) and NUMBER(4,1).
    server::pg::Connection owner(db.location());
    owner.exec(QStringLiteral("CREATE TABLE public.t AS SELECT (i % 100000) / 100.0::double precision AS precio, "
                          "(1 + i % 37)::bigint AS cantidad, (i % 21) / 2.0::double precision AS dto "
                          "FROM generate_series(0, %1) i; ANALYZE t")
               .arg(rows - 1));
    auto session = db.open();
    session->startSession(QStringLiteral("1001"), false);
    server::pg::Connection &c = static_cast<server::PgDatabase &>(*session).connection();
    std::vector<std::vector<double>> binary(std::size(kQueries)), decimal(std::size(kQueries));
    for (int r = 0; r < runs; ++r)
        for (size_t q = 0; q < std::size(kQueries); ++q) {
            QElapsedTimer t;
            t.start();
            c.exec(QString::fromLatin1(kQueries[q][1]));
            binary[q].push_back(double(t.nsecsElapsed()) / 1e6);
            t.restart();
            const test::Answer a = test::run(*session, QString::fromLatin1(kQueries[q][1]));
            decimal[q].push_back(double(t.nsecsElapsed()) / 1e6);
            if (!a.error.isEmpty()) {
                std::fprintf(stderr, "%s: %s\n", kQueries[q][1], qPrintable(a.error));
                std::exit(1);
            }
        }
    report("PostgreSQL", rows, runs, binary, decimal);
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
        else if (args[i] == QLatin1String("--pg"))
            qputenv("VOREL_TEST_PG", args[i + 1].toUtf8());
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
    report("SQLite", rows, runs, binary, decimal);
    sqlite3_close(db);
    postgres(rows, runs);
    return 0;
}
