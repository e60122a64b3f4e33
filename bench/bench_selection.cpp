// Totals of a selection in the list window's grid: 100,000 selected cells
// (20,000 held rows of five columns, an amount shown as money among them)
// summed through the grid's model, beside the same values summed in a
// plain loop over an array, as the floor. Prints medians and the ratio;
// the status bar is meant to take no more than 50 ms.
#include "bench/benchutil.h"
#include "bench/heldrows.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "data/datasetmodel.h"
#include "data/selectiontotals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <vector>

using namespace vorel;

namespace {
constexpr int kRows = 20000;
constexpr int kColumns = 5;
constexpr int kRuns = 9;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    bench::THeldRows held;
    const QString failed = held.Start(
        QStringLiteral(
            "CREATE TABLE BENCHSEL (ID INTEGER, IMPORTE REAL, CANTIDAD INTEGER, PRECIO REAL, DTO INTEGER);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
            "INSERT INTO BENCHSEL SELECT i, ((i * 104729) % 1000003) / 100.0, i % 97, (i % 5000) / 7.0, "
            "CASE WHEN i % 10 = 0 THEN NULL ELSE i % 30 END FROM n;")
            .arg(kRows),
        QStringLiteral("SELECT ID, IMPORTE, CANTIDAD, PRECIO, DTO FROM BENCHSEL"));
    if (!failed.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(failed));
        return 1;
    }
    TClientDataSet &ds = held.data;
    ds.FieldByName(QStringLiteral("IMPORTE"))->SetCurrency(true);
    TDataSetModel model;
    model.SetDataSet(&ds);
    if (model.rowCount() != kRows || model.columnCount() != kColumns) {
        std::fprintf(stderr, "expected %d x %d cells, got %d x %d\n", kRows, kColumns, model.rowCount(),
                     model.columnCount());
        return 1;
    }
    const QItemSelection all(model.index(0, 0), model.index(kRows - 1, kColumns - 1));

    // The floor: the same numbers already in an array, in the order the
    // totals add them (column by column), so that both sums agree exactly.
    std::vector<double> values;
    for (int f = 0; f < kColumns; ++f)
        for (int r = 0; r < kRows; ++r)
            if (const QVariant v = ds.ValueAt(r, f); !v.isNull())
                values.push_back(v.value<double>());

    std::vector<double> ours, plain;
    TSelectionTotals totals;
    double sum = 0;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer t;
        t.start();
        totals = SelectionTotals(model, all);
        const QString text = totals.Text();
        ours.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        sum = 0;
        for (const double v : values)
            sum += v;
        plain.push_back(double(t.nsecsElapsed()) / 1e6);
        if (text.isEmpty())
            return 1;
    }
    if (totals.Cells != qint64(kRows) * kColumns || totals.Numbers != qint64(values.size()) || totals.Sum != sum) {
        std::fprintf(stderr, "totals differ: %lld cells, %lld numbers, sum %.17g against %.17g\n",
                     static_cast<long long>(totals.Cells), static_cast<long long>(totals.Numbers), totals.Sum, sum);
        return 1;
    }
    const double o = bench::median(ours), p = bench::median(plain);
    std::printf("selection totals of %lld cells (%lld numbers), median of %d runs\n",
                static_cast<long long>(totals.Cells), static_cast<long long>(totals.Numbers), kRuns);
    std::printf("%-12s %10s %12s %8s\n", "", "totals ms", "plain ms", "ratio");
    std::printf("%-12s %10.2f %12.3f %8.1f\n", "100k cells", o, p, o / p);
    std::printf("within 50 ms: %s\n", o <= 50.0 ? "yes" : "no");
    return 0;
}
