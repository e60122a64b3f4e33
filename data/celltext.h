#pragma once
// Texts of cell values written straight into a caller's buffer, the same
// texts the client's own formatting gives, without a QString between: an
// export of a million rows formats millions of numbers and dates.
#include "common/vorelglobal.h"

namespace vorel {

// Room for any text below.
inline constexpr int CellTextRoom = 32;

// A number as QString::number(value, 'g', 15) writes it; the length.
VOREL_CORE_EXPORT int FloatText15(double value, char *out);

// A wire date-time's calendar reading (proleptic Gregorian, as Qt's).
struct TWireDateTime {
    qint64 Year = 1970;
    int Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0, Msec = 0;
};
VOREL_CORE_EXPORT TWireDateTime SplitWireDateTime(qint64 wireMs);

// "DD/MM/YYYY", then " HH:MM:SS" when `withTime`; the length, or 0 when
// the year is not one of four digits.
VOREL_CORE_EXPORT int DayMonthYearText(const TWireDateTime &t, bool withTime, char *out);

} // namespace vorel
