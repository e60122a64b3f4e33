#include "data/selectiontotals.h"

#include "data/dataset.h"
#include "data/datasetmodel.h"
#include "data/datawalk.h"

#include <algorithm>
#include <unordered_set>

namespace vorel {

namespace {

struct Adder {
    const TClientDataSet &data;
    TSelectionTotals totals;
    bool anyPlain = false;

    void add(int row, int field, bool currency)
    {
        ++totals.Cells;
        const proto::Cell c = data.CellAt(row, field);
        if (c.type == proto::ValueType::Integer) {
            totals.Sum += double(c.integer);
        } else if (c.type == proto::ValueType::Float) {
            totals.Sum += c.real;
        } else {
            return;
        }
        ++totals.Numbers;
        anyPlain = anyPlain || !currency;
    }
};

bool overlapping(const QItemSelection &selection)
{
    for (qsizetype i = 0; i < selection.size(); ++i)
        for (qsizetype j = i + 1; j < selection.size(); ++j)
            if (selection.at(i).intersects(selection.at(j)))
                return true;
    return false;
}

} // namespace

QString TSelectionTotals::Text(const QLocale &locale) const
{
    QString text = locale.toString(Cells) + QStringLiteral(" celdas");
    if (Numbers > 0)
        text += QStringLiteral("  Suma: ") + StatisticText(Sum, Currency, locale) + QStringLiteral("  Promedio: ")
                + StatisticText(Average(), Currency, locale);
    return text;
}

TSelectionTotals SelectionTotals(const TDataSetModel &model, const QItemSelection &selection)
{
    const TClientDataSet *data = model.DataSet();
    if (!data || !data->Active())
        return {};
    Adder adder{*data, {}};
    const int rows = model.rowCount();
    // A selection made of disjoint ranges, as a drag or a click on a title
    // makes, is summed range by range; one whose ranges overlap (extended
    // with Ctrl and Shift) has its cells counted once through a set.
    const bool dedupe = overlapping(selection);
    std::unordered_set<quint64> seen;
    for (const QItemSelectionRange &range : selection) {
        const int bottom = std::min(range.bottom(), rows - 1);
        for (int column = range.left(); column <= range.right(); ++column) {
            const int field = model.FieldIndexOfColumn(column);
            if (field < 0)
                continue;
            const bool currency = data->Fields(field)->Currency();
            for (int row = std::max(0, range.top()); row <= bottom; ++row) {
                if (dedupe && !seen.insert(quint64(row) << 32 | quint32(column)).second)
                    continue;
                adder.add(row, field, currency);
            }
        }
    }
    adder.totals.Currency = adder.totals.Numbers > 0 && !adder.anyPlain;
    return adder.totals;
}

} // namespace vorel
