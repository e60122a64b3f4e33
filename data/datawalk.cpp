#include "data/datawalk.h"

#include "common/exception.h"
#include "data/celltext.h"
#include "data/csvwriter.h"
#include "data/dataset.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <deque>
#include <vector>

namespace vorel {

namespace {

constexpr qint64 kProgressEvery = 1000;

// Gives the dataset its own packet size back however the walk ends.
class PacketSizeGuard
{
public:
    explicit PacketSizeGuard(TClientDataSet *data) : m_data(data), m_saved(data->PacketRecords()) {}
    ~PacketSizeGuard() { m_data->SetPacketRecords(m_saved); }
    PacketSizeGuard(const PacketSizeGuard &) = delete;
    PacketSizeGuard &operator=(const PacketSizeGuard &) = delete;
    int saved() const { return m_saved; }

private:
    TClientDataSet *m_data;
    int m_saved;
};

// The packets a walk asks for, kept ahead of the rows read: two, or on a
// long line as many bytes as the walk reads while a packet comes back.
// The round trip is the shortest time a packet of the walk took from being
// asked to being in hand (the first ones, asked while nothing else was on
// its way, show the line itself). The reading speed is that of the rows'
// visits between packets alone: it is never slower than the walk as a
// whole, so the bytes asked ahead err on the side of enough, and it tells
// nothing of the line, which a speed taken with the waits would.
class PacketPlan
{
public:
    PacketPlan(TClientDataSet *data, int first)
        : m_data(data), m_first(first), m_next(first), m_lastBytes(data->BytesFetched())
    {
        m_clock.start();
        // A walk reads every row: its packets start at their full weight,
        // as the rows in hand weigh, rather than grow to it a round trip
        // at a time; and a line known to be long from the answers before
        // is long from the walk's first packet.
        if (m_next > 0 && m_data->RecordCountFetched() > 0)
            m_next = grown(m_next);
        if (const TSocketConnection *c = m_data->RemoteServer()) {
            m_roundTrip = c->ShortestRoundTripNs();
            m_trips = m_roundTrip > 0 ? 2 : 0;
        }
    }

    // Keeps the packets ahead on their way, unless none is left.
    void askAhead()
    {
        while (m_next > 0 && !m_data->AllFetched() && m_data->Prefetching() < WalkMaxPacketsAhead) {
            const qint64 bytes = qint64(m_next) * rowBytes();
            if (m_data->Prefetching() >= WalkPacketsAhead && !roomFor(bytes))
                return;
            const int before = m_data->Prefetching();
            m_data->PrefetchMore(m_next);
            if (m_data->Prefetching() == before)
                return; // asking failed: the next fetch tells why
            m_asked.push_back({m_clock.nsecsElapsed(), bytes});
            m_aheadBytes += bytes;
            m_next = grown(m_next);
        }
    }

    // The next packet: the one asked ahead, or one asked now.
    bool fetch()
    {
        const qint64 start = m_clock.nsecsElapsed();
        if (m_lastBytes > 0) {
            m_readNs += start - m_lastAt;
            m_readBytes += m_lastBytes;
        }
        const int queued = m_data->Prefetching();
        // Packets asked before the walk come first; they tell nothing.
        const bool ours = queued > 0 && queued <= int(m_asked.size());
        const qint64 sentAt = ours ? m_asked.front().sentAt : start;
        if (queued == 0 && m_next > 0) {
            m_data->SetPacketRecords(m_next);
            m_next = grown(m_next);
        }
        const qint64 bytesBefore = m_data->BytesFetched();
        const bool more = m_data->FetchMore();
        const qint64 now = m_clock.nsecsElapsed();
        if (ours) {
            m_aheadBytes -= m_asked.front().bytes;
            m_asked.pop_front();
        }
        // The end, or a failure, drops what was still on its way.
        if (int(m_asked.size()) > m_data->Prefetching()) {
            m_asked.clear();
            m_aheadBytes = 0;
        }
        if (ours || queued == 0) {
            const qint64 trip = now - sentAt;
            m_roundTrip = m_trips == 0 ? trip : std::min(m_roundTrip, trip);
            ++m_trips;
        }
        m_lastAt = now;
        m_lastBytes = m_data->BytesFetched() - bytesBefore;
        askAhead();
        return more;
    }

private:
    struct Asked {
        qint64 sentAt; // ns on m_clock
        qint64 bytes;  // as the rows held so far weigh
    };

    qint64 rowBytes() const
    {
        const int held = m_data->RecordCountFetched();
        return held > 0 ? std::max<qint64>(1, m_data->BytesFetched() / held) : 64;
    }

    // Whether `bytes` more on their way still take no longer to read than a
    // round trip and a half lasts. Two trips seen at least: one late
    // answer alone does not make a long line.
    bool roomFor(qint64 bytes) const
    {
        if (m_trips < 2 || m_roundTrip < qint64(WalkLongLineMs) * 1000000)
            return false;
        qint64 window = WalkWindowBytes;
        // The first small packets' visits say more of the start than of the walk.
        if (m_readNs > 0 && m_readBytes >= WalkPacketBytes) {
            const double perNs = double(m_readBytes) / double(m_readNs);
            window = qint64(std::min(double(WalkWindowBytes), perNs * double(m_roundTrip) * 1.5));
        }
        return m_aheadBytes + bytes <= window;
    }

    int grown(int n)
    {
        if (m_steady > 0)
            return m_steady;
        qint64 next = WalkPacketLimit;
        const int held = m_data->RecordCountFetched();
        if (held > 0) {
            const qint64 perRow = std::max<qint64>(1, m_data->BytesFetched() / held);
            next = std::min(next, std::max<qint64>(1, WalkPacketBytes / perRow));
            m_steady = int(std::max<qint64>(next, m_first));
        } else {
            next = std::min<qint64>(qint64(n) * 2, WalkPacketLimit);
        }
        // Never below what the dataset asks for by itself.
        return int(std::max<qint64>(next, m_first));
    }

    TClientDataSet *m_data;
    int m_first;
    int m_next;
    int m_steady = 0;          // the count of every packet from now on
    qint64 m_lastBytes;        // what the last packet in hand weighed
    QElapsedTimer m_clock;
    std::deque<Asked> m_asked; // this walk's packets on their way, in order
    qint64 m_aheadBytes = 0;
    qint64 m_roundTrip = 0;    // ns, the shortest seen
    int m_trips = 0;
    qint64 m_readNs = 0;       // time the walk spent visiting rows
    qint64 m_readBytes = 0;    // the bytes of the rows so visited
    qint64 m_lastAt = 0;       // when it was in hand
};

// Lifts the local order while the rest of the rows come in, and puts it
// back however that ends: one sort of all the rows instead of one per
// packet, which for a million rows is the difference between a second and
// a minute.
class OrderDeferral
{
public:
    explicit OrderDeferral(TClientDataSet *data) : m_data(data), m_names(data->IndexFieldNames())
    {
        m_data->SetIndexFieldNames(QString());
    }
    ~OrderDeferral()
    {
        try {
            restore();
        } catch (...) {
            // The names were valid a moment ago and the fields are the same.
        }
    }
    void restore()
    {
        if (m_restored)
            return;
        m_restored = true;
        m_data->SetIndexFieldNames(m_names);
    }
    OrderDeferral(const OrderDeferral &) = delete;
    OrderDeferral &operator=(const OrderDeferral &) = delete;

private:
    TClientDataSet *m_data;
    QString m_names;
    bool m_restored = false;
};

} // namespace

// The rows held are read by index rather than by moving the current row,
// so listeners of AfterScroll are not woken for every row; the dataset is
// left where a row-by-row walk would leave it (last row, at its end), or
// on the last row visited when the walk was stopped.
TWalkOutcome WalkRows(TClientDataSet *data, const std::function<void(int row)> &visit, const TWalkProgress &progress)
{
    if (!data)
        throw Exception(QStringLiteral("No hay datos que recorrer"));
    TWalkOutcome out;
    data->First();
    if (data->Eof())
        return out;

    PacketSizeGuard packets(data);
    // -1 brought every row at the open: nothing is left to ask for.
    PacketPlan plan(data, packets.saved() > 0 ? packets.saved() : 0);
    auto report = [&](qint64 done) {
        const qint64 total = data->AllFetched() ? qint64(data->RecordCountFetched()) : -1;
        return !progress || progress(done, total);
    };
    plan.askAhead();

    // A local index reorders the rows held whenever a packet arrives, which
    // would shift the rows under an index walk: bring them all in first.
    if (!data->IndexFieldNames().isEmpty() && !data->AllFetched()) {
        OrderDeferral order(data);
        while (plan.fetch()) {
            if (!report(0)) {
                out.Cancelled = true;
                return out;
            }
        }
        order.restore();
    }

    int row = 0;
    for (;;) {
        if (row >= data->RecordCountFetched()) {
            if (data->AllFetched() || !plan.fetch())
                break;
            continue;
        }
        visit(row);
        ++row;
        out.Rows = row;
        if (row % kProgressEvery == 0 && !report(row)) {
            out.Cancelled = true;
            break;
        }
    }
    if (!out.Cancelled && !report(out.Rows))
        out.Cancelled = true;

    data->MoveTo(int(out.Rows) - 1);
    if (!out.Cancelled)
        data->Next();
    return out;
}

TStatisticsResult ComputeStatistics(TClientDataSet *data, const QStringList &columns, const TWalkProgress &progress)
{
    TStatisticsResult result;
    QList<TField *> fields;
    std::vector<proto::Cell> cells; // of the row in hand, up to the last field asked for
    for (const QString &name : columns) {
        TStatisticsColumn c;
        c.Column = name;
        result.Columns.append(c);
    }

    const TWalkOutcome walked = WalkRows(data, [&](int row) {
        // The fields are looked up at the first row, as the dialog does: an
        // empty result has nothing to complain about.
        if (fields.isEmpty() && !columns.isEmpty()) {
            for (qsizetype i = 0; i < columns.size(); ++i) {
                TField *f = data->FieldByName(columns.at(i));
                fields.append(f);
                result.Columns[i].Currency = f->Currency();
                cells.resize(std::max(cells.size(), size_t(f->Index()) + 1));
            }
        }
        // The row's values read in one pass up to the last one asked for.
        const char *p = data->RowDataAt(row);
        for (size_t k = 0; k < cells.size(); ++k)
            p = proto::RowBlock::readCell(p, &cells[k]);
        for (qsizetype i = 0; i < fields.size(); ++i) {
            TField *f = fields.at(i);
            const proto::Cell &v = cells[size_t(f->Index())];
            if (v.isNull())
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
    }, progress);
    if (walked.Rows == 0) {
        for (TStatisticsColumn &c : result.Columns)
            if (const TField *f = data->FindField(c.Column))
                c.Currency = f->Currency();
    }
    result.Rows = walked.Rows;
    result.Cancelled = walked.Cancelled;
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

    std::vector<const TField *> fields;
    for (int i = 0; i < count; ++i)
        fields.push_back(data->Fields(i));
    // The shell's date format is written here as TField::TextOf writes it;
    // any other goes through TextOf.
    const bool dayMonthYear = ShortDateFormat() == QLatin1String("DD/MM/YYYY");
    const TWalkOutcome walked = WalkRows(data, [&](int row) {
        const char *p = data->RowDataAt(row);
        char text[CellTextRoom];
        for (int i = 0; i < count; ++i) {
            proto::Cell c;
            p = proto::RowBlock::readCell(p, &c);
            switch (c.type) {
            case proto::ValueType::Null: writer.WritePlain(nullptr, 0); break;
            case proto::ValueType::Integer: writer.WriteInteger(c.integer); break;
            case proto::ValueType::Float:
                if (std::isfinite(c.real))
                    writer.WritePlain(text, FloatText15(c.real, text));
                else
                    writer.WriteField(fields[size_t(i)]->TextOf(c));
                break;
            case proto::ValueType::DateTime: {
                const TWireDateTime t = SplitWireDateTime(c.integer);
                const int n = dayMonthYear
                    ? DayMonthYearText(t, t.Hour != 0 || t.Minute != 0 || t.Second != 0, text)
                    : 0;
                if (n > 0)
                    writer.WritePlain(text, n);
                else
                    writer.WriteField(fields[size_t(i)]->TextOf(c));
                break;
            }
            // A text's own bytes are its text, as are a blob's here.
            case proto::ValueType::Text:
            case proto::ValueType::Blob: writer.WriteUtf8(c.data, c.size); break;
            }
        }
        writer.EndRow();
    }, progress);
    if (walked.Cancelled) {
        writer.Cancel();
        return false;
    }
    writer.Commit();
    return true;
}

} // namespace vorel
