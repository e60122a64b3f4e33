#pragma once
// Walks over every row of a dataset for the list window's statistics and
// export. A walk reads the rows it holds and fetches the rest in packets
// of the weight below, each asked for while the one before is read (the
// dataset's packet size stays as it was); the
// dataset ends on its last row, at its end, as a row-by-row walk would
// leave it, and its AfterScroll is heard at the first row and at the last
// row only.
#include "common/vorelglobal.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <functional>

namespace vorel {

class TClientDataSet;

// Told the rows done so far and the total when known (-1 while rows are
// still coming from the server); returns false to stop the walk.
using TWalkProgress = std::function<bool(qint64 done, qint64 total)>;

// A walk's packets hold as many rows as the rows held when it starts say
// fit in WalkPacketBytes, up to this many, and never fewer than the
// dataset's packet size; they double from it only when no row is held to
// weigh. They keep that count: the server reads each packet ahead at the
// count of the one before. A packet of that weight is built, sent and read in a few
// milliseconds, far below the frame limit, which a packet must not exceed
// (the server refuses it and drops the cursor).
inline constexpr int WalkPacketLimit = 32768;
inline constexpr qint64 WalkPacketBytes = 1024 * 1024;
// At least WalkPacketsAhead packets are on their way while one is read:
// on a near line the next packet is then built while this one is read.
// Once a walk's packets take WalkLongLineMs or more to come back, it keeps
// as many bytes on their way as it reads in a round trip and a half, so
// that a long line costs about one round trip per walk instead of one per
// few packets; never more than WalkWindowBytes, whatever the line or the
// server, nor more than WalkMaxPacketsAhead packets. The reference server
// stops reading a session's requests once more than 8 MB of its answers
// are unsent, and starts again below 4 MB: a window of those 8 MB is the
// most it keeps working for without stopping and starting.
inline constexpr int WalkPacketsAhead = 2;
inline constexpr int WalkLongLineMs = 3;
inline constexpr qint64 WalkWindowBytes = 8 * 1024 * 1024;
inline constexpr int WalkMaxPacketsAhead = 64;

struct TWalkOutcome {
    qint64 Rows = 0;        // rows visited
    bool Cancelled = false; // `progress` stopped the walk
};

// Visits every row from the first, in the shown order: `visit` is given
// the row's index for TClientDataSet::CellAt. Progress is told every 1000
// rows and at the end. What `visit` throws ends the walk and goes on to
// the caller; so does the failure of a packet.
VOREL_CORE_EXPORT TWalkOutcome WalkRows(TClientDataSet *data, const std::function<void(int row)> &visit,
                                        const TWalkProgress &progress = {});

struct TStatisticsColumn {
    QString Column;       // field name
    bool Currency = false; // the field is shown as money
    qint64 Count = 0;     // rows whose value was not NULL
    double Sum = 0;
    double Maximum = 0;   // meaningful when Count > 0
    double Minimum = 0;
    QString MaximumText;  // the field's own text of the first greatest value
    QString MinimumText;
    double Average() const { return Count > 0 ? Sum / double(Count) : 0.0; }
};

struct TStatisticsResult {
    QList<TStatisticsColumn> Columns; // in the order asked for
    qint64 Rows = 0;                  // rows walked
    bool Cancelled = false;
};

// Sum, maximum, minimum and average of each named field over every row.
// NULL values take no part. A name that is not a field throws the dataset's
// field-not-found error; a value that is not a number throws the number
// conversion error. An empty dataset walks nothing (Rows 0).
VOREL_CORE_EXPORT TStatisticsResult ComputeStatistics(TClientDataSet *data, const QStringList &columns,
                                                      const TWalkProgress &progress = {});

// A statistic as the dialog shows it: thousands separators and two
// decimals, or the locale's money format for a currency field.
VOREL_CORE_EXPORT QString StatisticText(double value, bool currency, const QLocale &locale = QLocale());

// Every row with every field (visible or not) into a comma-separated file:
// a header of display names, then each value as text, every field between
// double quotes, CR LF line ends. Replaces an existing file only when the
// whole file is written. Returns false when `progress` stopped it (no file
// written); throws vorel::Exception when the file cannot be written.
VOREL_CORE_EXPORT bool ExportCsv(TClientDataSet *data, const QString &path, const TWalkProgress &progress = {});

} // namespace vorel
