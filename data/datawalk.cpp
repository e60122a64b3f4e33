#include "data/datawalk.h"

#include "common/exception.h"
#include "data/csvwriter.h"
#include "data/dataset.h"

#include <algorithm>
#include <cmath>

namespace vorel {

namespace {

constexpr qint64 kProgressEvery = 1000;

// Raises the packet size for the walk and gives the dataset its own back
// however the walk ends.
class PacketSizeGuard
{
public:
    explicit PacketSizeGuard(TClientDataSet *data) : m_data(data), m_saved(data->PacketRecords())
    {
        // -1 already brought every row at the open; a larger packet stays.
        if (m_saved >= 0 && m_saved < WalkPacketRecords)
            m_data->SetPacketRecords(WalkPacketRecords);
    }
    ~PacketSizeGuard() { m_data->SetPacketRecords(m_saved); }
    PacketSizeGuard(const PacketSizeGuard &) = delete;
    PacketSizeGuard &operator=(const PacketSizeGuard &) = delete;

private:
    TClientDataSet *m_data;
    int m_saved;
};

struct WalkOutcome {
    qint64 rows = 0;
    bool cancelled = false;
};

// Visits every row from the first on. The rows held are read by index
// rather than by moving the current row, so listeners of AfterScroll are
// not woken for every row; the dataset is left where a row-by-row walk
// would leave it (last row, at its end), or on the last row visited when
// the walk was stopped.
template <class Visit>
WalkOutcome walkRows(TClientDataSet *data, const TWalkProgress &progress, Visit &&visit)
{
    if (!data)
        throw Exception(QStringLiteral("No hay datos que recorrer"));
    WalkOutcome out;
    data->First();
    if (data->Eof())
        return out;

    PacketSizeGuard packets(data);
    auto report = [&](qint64 done) {
        const qint64 total = data->AllFetched() ? qint64(data->RecordCountFetched()) : -1;
        return !progress || progress(done, total);
    };

    // A local index reorders the rows held whenever a packet arrives, which
    // would shift the rows under an index walk: bring them all in first.
    if (!data->IndexFieldNames().isEmpty()) {
        while (data->FetchMore()) {
            if (!report(0)) {
                out.cancelled = true;
                return out;
            }
        }
    }

    int row = 0;
    for (;;) {
        if (row >= data->RecordCountFetched()) {
            if (data->AllFetched() || !data->FetchMore())
                break;
            continue;
        }
        visit(row);
        ++row;
        out.rows = row;
        if (row % kProgressEvery == 0 && !report(row)) {
            out.cancelled = true;
            break;
        }
    }
    if (!out.cancelled && !report(out.rows))
        out.cancelled = true;

    data->MoveTo(int(out.rows) - 1);
    if (!out.cancelled)
        data->Next();
    return out;
}

} // namespace

TStatisticsResult ComputeStatistics(TClientDataSet *data, const QStringList &columns, const TWalkProgress &progress)
{
    TStatisticsResult result;
    QList<TField *> fields;
    for (const QString &name : columns) {
        TStatisticsColumn c;
        c.Column = name;
        result.Columns.append(c);
    }

    const WalkOutcome walked = walkRows(data, progress, [&](int row) {
        // The fields are looked up at the first row, as the dialog does: an
        // empty result has nothing to complain about.
        if (fields.isEmpty() && !columns.isEmpty()) {
            for (qsizetype i = 0; i < columns.size(); ++i) {
                TField *f = data->FieldByName(columns.at(i));
                fields.append(f);
                result.Columns[i].Currency = f->Currency();
            }
        }
        for (qsizetype i = 0; i < fields.size(); ++i) {
            TField *f = fields.at(i);
            const QVariant v = data->ValueAt(row, f->Index());
            if (!v.isValid() || v.isNull())
                continue;
            const double x = f->FloatOf(v);
            TStatisticsColumn &c = result.Columns[i];
            if (c.Count == 0) {
                c.Maximum = c.Minimum = x;
                c.MaximumText = c.MinimumText = f->TextOf(v);
            } else if (x > c.Maximum) {
                c.Maximum = x;
                c.MaximumText = f->TextOf(v);
            } else if (x < c.Minimum) {
                c.Minimum = x;
                c.MinimumText = f->TextOf(v);
            }
            c.Sum += x;
            ++c.Count;
        }
    });
    if (walked.rows == 0) {
        for (TStatisticsColumn &c : result.Columns)
            if (const TField *f = data->FindField(c.Column))
                c.Currency = f->Currency();
    }
    result.Rows = walked.rows;
    result.Cancelled = walked.cancelled;
    return result;
}

namespace {

// Two decimals with the locale's separators, grouped by thousands from the
// first: some locales' own rules leave the first group of a long number
// unseparated ("1234.567,25"), which reads as a different amount.
QString groupedFixed(double value, const QLocale &locale)
{
    QLocale plain = locale;
    plain.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    QString text = plain.toString(std::abs(value), 'f', 2);
    const QString point = locale.decimalPoint();
    qsizetype end = text.indexOf(point);
    if (end < 0)
        end = text.size();
    const QString group = locale.groupSeparator();
    for (qsizetype at = end - 3; at > 0; at -= 3)
        text.insert(at, group);
    if (value < 0 && text != plain.toString(0.0, 'f', 2))
        text.prepend(locale.negativeSign());
    return text;
}

} // namespace

QString StatisticText(double value, bool currency, const QLocale &locale)
{
    if (!std::isfinite(value))
        return locale.toString(value);
    if (!currency)
        return groupedFixed(value, locale);
    QString money = locale.toCurrencyString(value);
    // Put the soundly grouped digits in place of the locale's own.
    QLocale l = locale;
    l.setNumberOptions(l.numberOptions() & ~QLocale::OmitGroupSeparator);
    const QString theirs = l.toString(std::abs(value), 'f', 2);
    const qsizetype at = money.indexOf(theirs);
    if (at >= 0)
        money.replace(at, theirs.size(), groupedFixed(std::abs(value), locale));
    return money;
}

bool ExportCsv(TClientDataSet *data, const QString &path, const TWalkProgress &progress)
{
    if (!data)
        throw Exception(QStringLiteral("No hay datos que grabar"));
    TCsvWriter writer(path);
    writer.Open();

    const int count = data->FieldCount();
    QStringList line;
    line.reserve(count);
    for (int i = 0; i < count; ++i)
        line.append(data->Fields(i)->DisplayName());
    writer.WriteRow(line);

    const WalkOutcome walked = walkRows(data, progress, [&](int row) {
        line.clear();
        for (int i = 0; i < count; ++i) {
            const TField *f = data->Fields(i);
            line.append(f->TextOf(data->ValueAt(row, i)));
        }
        writer.WriteRow(line);
    });
    if (walked.cancelled) {
        writer.Cancel();
        return false;
    }
    writer.Commit();
    return true;
}

} // namespace vorel
