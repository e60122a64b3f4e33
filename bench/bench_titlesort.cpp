// Title sort of the rows a list window holds: 100,000 rows of a class
// fetched from the reference server, sorted on a text, an amount and a date
// column through the grid's model, and back to the server's order. Beside
// it the same rows ordered by SQLite itself (the C API stepping
// "SELECT ... ORDER BY" over the same table), as the reference. Prints
// medians of several runs and the ratio.
#include "data/connection.h"
#include "data/dataset.h"
#include "data/datasetmodel.h"
#include "bench/heldrows.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <sqlite3.h>
#include <vector>

using namespace vorel;

namespace {

constexpr int kRows = 100000;
constexpr int kRuns = 7;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Ordered reads of the same table by SQLite, in milliseconds.
double sqliteOrdered(const QString &file, const char *column)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const QByteArray sql = QByteArray("SELECT * FROM BENCHFILAS ORDER BY ") + column;
    QElapsedTimer t;
    t.start();
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr);
    qint64 n = 0;
    while (sqlite3_step(st) == SQLITE_ROW)
        n += sqlite3_column_bytes(st, 1);
    sqlite3_finalize(st);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    sqlite3_close(db);
    return n > 0 ? ms : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    bench::THeldRows held;
    const QString failed = held.Start(
        QStringLiteral(
            "CREATE TABLE BENCHFILAS (ID INTEGER, NOMBRE TEXT, IMPORTE REAL, FECHA TEXT);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
            "INSERT INTO BENCHFILAS SELECT i, 'Cliente ' || ((i * 7919) % %1), ((i * 104729) % 1000003) / 100.0, "
            "date('2020-01-01', '+' || ((i * 31) % 2500) || ' days') FROM n;")
            .arg(kRows),
        QStringLiteral("SELECT ID, NOMBRE, IMPORTE, TO_DATE(FECHA, 'YYYY-MM-DD') FECHA FROM BENCHFILAS"));
    if (!failed.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(failed));
        return 1;
    }
    TClientDataSet &ds = held.data;
    TDataSetModel model;
    model.SetDataSet(&ds);
    if (ds.RecordCountFetched() != kRows) {
        std::fprintf(stderr, "expected %d rows, got %d\n", kRows, ds.RecordCountFetched());
        return 1;
    }

    std::printf("title sort of %d held rows, median of %d runs (ms)\n", kRows, kRuns);
    std::printf("%-8s %10s %10s %12s %8s\n", "column", "ours", "back", "sqlite3", "ratio");
    for (const char *column : {"NOMBRE", "IMPORTE", "FECHA"}) {
        std::vector<double> ours, back, reference;
        for (int run = 0; run < kRuns; ++run) {
            QElapsedTimer t;
            t.start();
            ds.SetIndexFieldNames(QLatin1String(column));
            // What the view asks first after the reset: the rows on screen.
            for (int r = 0; r < 40; ++r)
                model.data(model.index(r, 1));
            ours.push_back(double(t.nsecsElapsed()) / 1e6);
            t.restart();
            ds.SetIndexFieldNames(QString());
            back.push_back(double(t.nsecsElapsed()) / 1e6);
            reference.push_back(sqliteOrdered(held.server.databaseFile(), column));
        }
        const double o = median(ours), r = median(reference);
        std::printf("%-8s %10.1f %10.1f %12.1f %8.2f\n", column, o, median(back), r, o / r);
    }
    return 0;
}
