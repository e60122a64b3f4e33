#include "data/dataset.h"

#include "common/exception.h"
#include "data/connection.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <utility>
#include <limits>
#include <cmath>
#include <cstring>

namespace vorel {

namespace {

QString g_shortDateFormat = QStringLiteral("DD/MM/YYYY");
// The format the shell sets, written by hand below: every date of an
// export or a grid passes through it.
bool g_dayMonthYear = true;

TFieldType fieldTypeOf(proto::ValueType t)
{
    switch (t) {
    case proto::ValueType::Integer: return TFieldType::Integer;
    case proto::ValueType::Float: return TFieldType::Float;
    case proto::ValueType::Text: return TFieldType::String;
    case proto::ValueType::DateTime: return TFieldType::DateTime;
    case proto::ValueType::Blob: return TFieldType::Blob;
    case proto::ValueType::Null: break;
    }
    return TFieldType::Unknown;
}

int defaultWidth(TFieldType t, qint32 size)
{
    if (size > 0)
        return size;
    switch (t) {
    case TFieldType::Integer: return 10;
    case TFieldType::Float: return 10;
    case TFieldType::DateTime: return 18;
    case TFieldType::String: return 20;
    default: return 10;
    }
}

bool isFloating(const QVariant &v)
{
    return v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float;
}

bool isNull(const QVariant &v) { return !v.isValid() || v.isNull(); }

// Date-time as the day count the desktop tradition uses for dates held in
// floating-point: days since 1899-12-30, the time as the fraction.
double dateTimeAsDays(const QDateTime &dt)
{
    static const QDate epoch(1899, 12, 30);
    const double days = double(epoch.daysTo(dt.date()));
    return days + double(dt.time().msecsSinceStartOfDay()) / 86400000.0;
}

QString formatFloat(double d)
{
    if (std::isnan(d) || std::isinf(d))
        return QString::number(d);
    // Fifteen significant digits drop the noise of binary fractions
    // (0.1 + 0.2 reads 0.3) and never show trailing zeros.
    return QString::number(d, 'g', 15);
}

// Sort rank of a value's kind, so mixed columns still order consistently:
// NULL, numbers, date-times, texts, blobs.
int kindRank(proto::ValueType t)
{
    switch (t) {
    case proto::ValueType::Null: return 0;
    case proto::ValueType::Integer:
    case proto::ValueType::Float: return 1;
    case proto::ValueType::DateTime: return 2;
    case proto::ValueType::Text: return 3;
    case proto::ValueType::Blob: return 4;
    }
    return 4;
}

// A value reduced once to what its comparisons read, so a sort of many rows
// does not convert every value again at every comparison.
struct SortKey {
    int rank = 0;
    bool integral = false;
    qint64 whole = 0;  // integral numbers; date-times as milliseconds
    double real = 0;   // other numbers
    QString text;      // texts, case-folded: compared as the case-blind order
    const char *bytes = nullptr; // blobs, in the rows held
    qsizetype size = 0;
};

SortKey sortKeyOf(const proto::Cell &c)
{
    SortKey k;
    k.rank = kindRank(c.type);
    switch (c.type) {
    case proto::ValueType::Integer:
        k.integral = true;
        k.whole = c.integer;
        break;
    case proto::ValueType::Float:
        k.real = c.real;
        break;
    case proto::ValueType::DateTime:
        k.whole = c.integer; // the wire's milliseconds are the reading's
        break;
    case proto::ValueType::Text:
        k.text = c.text().toCaseFolded();
        break;
    case proto::ValueType::Blob:
        k.bytes = c.data;
        k.size = c.size;
        break;
    case proto::ValueType::Null:
        break;
    }
    return k;
}

int compareKeys(const SortKey &a, const SortKey &b)
{
    if (a.rank != b.rank)
        return a.rank < b.rank ? -1 : 1;
    switch (a.rank) {
    case 0:
        return 0;
    case 1:
        if (a.integral && b.integral)
            return a.whole < b.whole ? -1 : (a.whole > b.whole ? 1 : 0);
        else {
            const double x = a.integral ? double(a.whole) : a.real;
            const double y = b.integral ? double(b.whole) : b.real;
            return x < y ? -1 : (x > y ? 1 : 0);
        }
    case 2:
        return a.whole < b.whole ? -1 : (a.whole > b.whole ? 1 : 0);
    case 3:
        return QString::compare(a.text, b.text, Qt::CaseSensitive);
    default: {
        // Bytes as unsigned, a prefix first.
        const int c = std::memcmp(a.bytes, b.bytes, size_t(std::min(a.size, b.size)));
        if (c != 0)
            return c < 0 ? -1 : 1;
        return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
    }
    }
}

// "DD/MM/YYYY" style (letters in any case, m for month) to Qt's pattern.
// Letters that are not date tokens are quoted so Qt reads them literally.
QString qtDatePattern(const QString &format, bool lenient)
{
    QString out;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format.at(i);
        const QChar lc = c.toLower();
        qsizetype run = 1;
        while (i + run < format.size() && format.at(i + run).toLower() == lc)
            ++run;
        if (lc == QLatin1Char('d') || lc == QLatin1Char('m') || lc == QLatin1Char('y')) {
            QChar q = lc == QLatin1Char('m') ? QLatin1Char('M') : lc;
            qsizetype n = run;
            if (lc == QLatin1Char('y'))
                n = run <= 2 ? 2 : 4;
            else if (lenient && run == 2)
                n = 1; // reading accepts "1/2/2024" as well as "01/02/2024"
            out += QString(n, q);
        } else if (c.isLetter()) {
            out += QLatin1Char('\'') + format.mid(i, run) + QLatin1Char('\'');
        } else if (c == QLatin1Char('\'')) {
            out += QStringLiteral("''");
            run = 1;
        } else {
            out += format.mid(i, run);
        }
        i += run;
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------------------
// Date format

void SetShortDateFormat(const QString &format)
{
    g_shortDateFormat = format;
    g_dayMonthYear = format == QLatin1String("DD/MM/YYYY");
}

QString ShortDateFormat() { return g_shortDateFormat; }

QString DateTimeToStr(const QDateTime &dt)
{
    if (!dt.isValid())
        return QString();
    const QDate d = dt.date();
    const QTime t = dt.time();
    if (g_dayMonthYear && d.year() >= 1000 && d.year() <= 9999) {
        char text[19];
        auto two = [&text](int at, int v) {
            text[at] = char('0' + v / 10);
            text[at + 1] = char('0' + v % 10);
        };
        two(0, d.day());
        text[2] = '/';
        two(3, d.month());
        text[5] = '/';
        two(6, d.year() / 100);
        two(8, d.year() % 100);
        if (t.hour() == 0 && t.minute() == 0 && t.second() == 0)
            return QString::fromLatin1(text, 10);
        text[10] = ' ';
        two(11, t.hour());
        text[13] = ':';
        two(14, t.minute());
        text[16] = ':';
        two(17, t.second());
        return QString::fromLatin1(text, 19);
    }
    QString s = d.toString(qtDatePattern(g_shortDateFormat, false));
    if (t.hour() != 0 || t.minute() != 0 || t.second() != 0)
        s += QLatin1Char(' ') + t.toString(QStringLiteral("hh:mm:ss"));
    return s;
}

QDateTime StrToDateTime(const QString &text)
{
    const QString s = text.simplified();
    if (s.isEmpty())
        return QDateTime();
    const QString date = qtDatePattern(g_shortDateFormat, true);
    const int sp = int(s.indexOf(QLatin1Char(' ')));
    const QDate d = QDate::fromString(sp < 0 ? s : s.left(sp), date);
    if (!d.isValid())
        return QDateTime();
    if (sp < 0)
        return QDateTime(d, QTime(0, 0), Qt::UTC);
    const QString timeText = s.mid(sp + 1);
    for (const char *pattern : {"H:m:s", "H:m"}) {
        const QTime t = QTime::fromString(timeText, QLatin1String(pattern));
        if (t.isValid())
            return QDateTime(d, t, Qt::UTC);
    }
    return QDateTime();
}

// ---------------------------------------------------------------------------
// TField

TField::TField(TClientDataSet *owner, int index, const proto::Column &column)
    : m_owner(owner),
      m_index(index),
      m_name(column.name),
      m_displayWidth(defaultWidth(fieldTypeOf(column.type), column.size)),
      m_type(fieldTypeOf(column.type))
{
}

proto::Cell TField::cell() const
{
    return m_owner ? m_owner->currentCell(m_index) : proto::Cell();
}

QVariant TField::AsVariant() const { return cell().toVariant(); }

bool TField::IsNull() const { return cell().isNull(); }

QString TField::AsString() const { return TextOf(cell()); }

QString TField::TextOf(const QVariant &v) const
{
    if (isNull(v))
        return QString();
    if (proto::isIntegral(v))
        return QString::number(v.toLongLong());
    if (isFloating(v))
        return formatFloat(v.toDouble());
    switch (v.typeId()) {
    case QMetaType::QDateTime:
        return DateTimeToStr(v.toDateTime());
    case QMetaType::QDate:
        return DateTimeToStr(QDateTime(v.toDate(), QTime(0, 0), Qt::UTC));
    case QMetaType::QByteArray:
        return QString::fromUtf8(v.toByteArray());
    default:
        return v.toString();
    }
}

QString TField::TextOf(const proto::Cell &c) const
{
    switch (c.type) {
    case proto::ValueType::Null: return QString();
    case proto::ValueType::Integer: return QString::number(c.integer);
    case proto::ValueType::Float: return formatFloat(c.real);
    case proto::ValueType::DateTime: return DateTimeToStr(proto::fromWireDateTime(c.integer));
    case proto::ValueType::Text:
    case proto::ValueType::Blob: return c.text();
    }
    return QString();
}

double TField::AsFloat() const { return FloatOf(cell()); }

namespace {

double textAsFloat(const QString &text)
{
    const QString s = text.trimmed();
    bool ok = false;
    const double d = s.toDouble(&ok);
    if (!ok)
        throw Exception(QStringLiteral("'%1' is not a valid floating point value").arg(s));
    return d;
}

} // namespace

double TField::FloatOf(const QVariant &v) const
{
    if (isNull(v))
        return 0.0;
    if (proto::isIntegral(v) || isFloating(v))
        return v.toDouble();
    if (v.typeId() == QMetaType::QDateTime)
        return dateTimeAsDays(v.toDateTime());
    return textAsFloat(TextOf(v));
}

double TField::FloatOf(const proto::Cell &c) const
{
    switch (c.type) {
    case proto::ValueType::Null: return 0.0;
    case proto::ValueType::Integer: return double(c.integer);
    case proto::ValueType::Float: return c.real;
    case proto::ValueType::DateTime: return dateTimeAsDays(proto::fromWireDateTime(c.integer));
    default: return textAsFloat(TextOf(c));
    }
}

qint64 TField::AsInteger() const
{
    const proto::Cell c = cell();
    switch (c.type) {
    case proto::ValueType::Null: return 0;
    case proto::ValueType::Integer: return c.integer;
    case proto::ValueType::Float: return qRound64(c.real);
    case proto::ValueType::DateTime: return qint64(std::floor(dateTimeAsDays(proto::fromWireDateTime(c.integer))));
    default: break;
    }
    const QString s = TextOf(c).trimmed();
    bool ok = false;
    const qint64 n = s.toLongLong(&ok);
    if (!ok)
        throw Exception(QStringLiteral("'%1' is not a valid integer value").arg(s));
    return n;
}

QByteArray TField::AsBytes() const
{
    const proto::Cell c = cell();
    if (c.isNull())
        return QByteArray();
    if (c.type == proto::ValueType::Blob)
        return c.bytes();
    return TextOf(c).toUtf8();
}

void TField::SaveToFile(const QString &path) const
{
    const QByteArray data = AsBytes();
    // The system ends a file name at a NUL: the file would go elsewhere.
    if (path.contains(QChar(0)))
        throw Exception(QStringLiteral("No se puede crear el archivo %1: el nombre contiene el carácter nulo")
                            .arg(QString(path).replace(QChar(0), QLatin1Char('?'))));
    // QSaveFile writes beside the target and renames over it on commit.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw Exception(QStringLiteral("No se puede crear el archivo %1: %2").arg(path, file.errorString()));
    if (file.write(data) != data.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        throw Exception(QStringLiteral("No se puede escribir el archivo %1: %2").arg(path, why));
    }
    if (!file.commit())
        throw Exception(QStringLiteral("No se puede escribir el archivo %1: %2").arg(path, file.errorString()));
}

// ---------------------------------------------------------------------------
// TClientDataSet

TClientDataSet::TClientDataSet(QObject *owner) : QObject(owner) {}

TClientDataSet::~TClientDataSet()
{
    try {
        Close();
    } catch (...) {
        // A destructor must not throw; the server frees the cursor with the session.
    }
}

void TClientDataSet::SetRemoteServer(TSocketConnection *c)
{
    // Packets asked of the old connection can't be taken from the new one.
    if (c != m_connection)
        dropPrefetches();
    m_connection = c;
}

void TClientDataSet::checkActive(const char *op) const
{
    settle();
    if (!m_active)
        throw Exception(QStringLiteral("%1: Cannot perform this operation on a closed dataset")
                            .arg(QString::fromLatin1(op)));
}

void TClientDataSet::Open()
{
    OpenAhead();
    settle();
}

void TClientDataSet::OpenAhead()
{
    if (m_active)
        return;
    if (!m_connection)
        throw Exception(QStringLiteral("%1: falta la conexión con el servidor de aplicaciones")
                            .arg(m_provider.isEmpty() ? objectName() : m_provider));
    if (m_provider.isEmpty())
        throw Exception(QStringLiteral("Falta el nombre del proveedor de datos"));

    m_opening = m_connection->PostOpen(m_provider, m_commandText, m_packetRecords);
    m_active = true;
}

bool TClientDataSet::RowsLost() const
{
    return Active() && !m_serverEof && m_cursor != 0 && m_connection && !m_connection->CursorLive(m_cursor);
}

bool TClientDataSet::Active() const
{
    if (m_opening)
        const_cast<TClientDataSet *>(this)->dropAbandonedOpen();
    return m_active;
}

bool TClientDataSet::dropAbandonedOpen()
{
    if (!m_opening || !m_connection)
        return false;
    const TSocketConnection::Told told = m_connection->Abandoned(m_opening);
    if (told == TSocketConnection::Told::No)
        return false;
    m_connection->Forget(std::exchange(m_opening, 0));
    const bool reopening = std::exchange(m_reopening, false);
    if (told == TSocketConnection::Told::Skipped && reopening)
        return true;
    if (reopening)
        closeHeld();
    m_active = false;
    return true;
}

void TClientDataSet::ReopenAhead()
{
    if (!m_active || m_opening) {
        Close();
        OpenAhead();
        return;
    }
    if (!m_connection)
        throw Exception(QStringLiteral("%1: falta la conexión con el servidor de aplicaciones").arg(m_provider));
    m_opening = m_connection->PostOpen(m_provider, m_commandText, m_packetRecords);
    m_reopening = true;
}

void TClientDataSet::closeHeld()
{
    releaseCursor();
    dropRows();
    m_current = -1;
    m_eof = true;
    m_serverEof = true;
    Q_EMIT AfterClose();
}

void TClientDataSet::finishOpen()
{
    if (dropAbandonedOpen())
        return;
    const quint64 ticket = std::exchange(m_opening, 0);
    const bool reopening = std::exchange(m_reopening, false);
    TSocketConnection::OpenReply reply;
    bool earlier = false; // the failure met is that of a request before it
    try {
        if (!m_connection)
            throw Exception(QStringLiteral("%1: falta la conexión con el servidor de aplicaciones").arg(m_provider));
        reply = m_connection->TakeOpen(ticket, &earlier);
    } catch (...) {
        // As if each request had waited: a failure before the open leaves
        // the rows held as they were; its own comes after the close.
        if (!(earlier && reopening)) {
            if (reopening)
                closeHeld();
            m_active = false;
        }
        throw;
    }
    if (reopening)
        closeHeld();

    // Fields of the same name survive a reopen with their presentation
    // properties, so pointers held by the client stay valid.
    std::vector<std::unique_ptr<TField>> fields;
    fields.reserve(reply.columns.size());
    for (int i = 0; i < reply.columns.size(); ++i) {
        const proto::Column &col = reply.columns.at(i);
        auto same = std::find_if(m_fields.begin(), m_fields.end(), [&](const std::unique_ptr<TField> &f) {
            return f && f->m_name.compare(col.name, Qt::CaseInsensitive) == 0;
        });
        if (same != m_fields.end()) {
            std::unique_ptr<TField> f = std::move(*same);
            f->m_index = i;
            f->m_name = col.name;
            f->m_type = fieldTypeOf(col.type);
            fields.push_back(std::move(f));
        } else {
            fields.push_back(std::make_unique<TField>(this, i, col));
        }
    }
    m_fields = std::move(fields);

    dropRows();
    m_cursor = reply.cursor;
    m_serverEof = false;
    m_active = true;
    try {
        // Listeners hear of the first rows through AfterOpen, not row by row.
        appendRows(std::move(reply.rows), false);
        // A first packet may legitimately be empty while more is pending.
        while (m_rows.empty() && !m_serverEof)
            appendRows(nextPacket(m_packetRecords), false);
    } catch (...) {
        m_active = false;
        releaseCursor();
        dropRows();
        throw;
    }
    m_current = m_rows.empty() ? -1 : 0;
    m_eof = m_rows.empty();
    Q_EMIT AfterOpen();
    Q_EMIT AfterScroll(this);
}

void TClientDataSet::dropRows()
{
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_order.clear();
    m_order.shrink_to_fit();
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    m_bytes = 0;
}

void TClientDataSet::dropPrefetches()
{
    if (m_connection)
        for (const quint64 ticket : m_prefetches)
            m_connection->DiscardFetch(ticket);
    m_prefetches.clear();
}

void TClientDataSet::releaseCursor()
{
    dropPrefetches();
    m_prefetchFailure.clear();
    const quint32 cursor = m_cursor;
    m_cursor = 0;
    if (cursor == 0 || !m_connection || !m_connection->Connected())
        return;
    try {
        // Nobody waits for it: closing must always succeed locally, and a
        // server that already dropped the cursor has nothing left to free.
        m_connection->CloseCursorAhead(cursor);
    } catch (const Exception &) {
        // The session is gone, and its cursors with it.
    }
}

void TClientDataSet::Close()
{
    if (!m_active)
        return;
    m_active = false;
    if (const quint64 ticket = std::exchange(m_opening, 0)) {
        // Never read: what it opens is closed when it comes, and a failure
        // is still told by the next answer waited for.
        if (m_connection)
            m_connection->Forget(ticket);
    }
    closeHeld();
}

void TClientDataSet::First()
{
    checkActive("First");
    m_current = m_rows.empty() ? -1 : 0;
    m_eof = m_rows.empty();
    Q_EMIT AfterScroll(this);
}

void TClientDataSet::Next()
{
    checkActive("Next");
    if (m_eof)
        return;
    if (m_current + 1 >= int(m_order.size()) && !m_serverEof)
        FetchMore();
    if (m_current + 1 < int(m_order.size())) {
        ++m_current;
        Q_EMIT AfterScroll(this);
    } else {
        m_eof = true;
    }
}

bool TClientDataSet::Eof() const
{
    settle();
    return !m_active || m_eof;
}

bool TClientDataSet::IsEmpty() const
{
    settle();
    return !m_active || m_rows.empty();
}

int TClientDataSet::RecNo() const
{
    settle();
    return m_active && m_current >= 0 ? m_current + 1 : 0;
}

void TClientDataSet::MoveTo(int row)
{
    checkActive("MoveTo");
    if (row < 0 || row >= int(m_order.size()))
        throw Exception(QStringLiteral("Fila %1 fuera de rango").arg(row));
    m_eof = false;
    if (row == m_current)
        return;
    m_current = row;
    Q_EMIT AfterScroll(this);
}

TField *TClientDataSet::Fields(int index) const
{
    settle();
    if (index < 0 || index >= int(m_fields.size()))
        throw Exception(QStringLiteral("List index out of bounds (%1)").arg(index));
    return m_fields[size_t(index)].get();
}

TField *TClientDataSet::FindField(const QString &name) const
{
    settle();
    for (const auto &f : m_fields)
        if (f->m_name.compare(name, Qt::CaseInsensitive) == 0)
            return f.get();
    return nullptr;
}

TField *TClientDataSet::FieldByName(const QString &name) const
{
    TField *f = FindField(name);
    if (!f)
        throw Exception(QStringLiteral("Field '%1' not found").arg(name));
    return f;
}

void TClientDataSet::SetIndexFieldNames(const QString &names)
{
    const QString trimmed = names.trimmed();
    settle();
    if (m_active) {
        for (const QString &n : trimmed.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            FieldByName(n.trimmed());
    }
    m_indexFieldNames = trimmed;
    if (!m_active)
        return;
    rebuildOrder();
    Q_EMIT RowsReordered();
}

bool TClientDataSet::FetchMore()
{
    settle();
    if (!m_active || m_serverEof)
        return false;
    const int before = int(m_rows.size());
    if (!m_connection) {
        m_prefetches.clear();
        throw Exception(QStringLiteral("%1: falta la conexión con el servidor de aplicaciones").arg(m_provider));
    }
    appendRows(nextPacket(m_packetRecords));
    return int(m_rows.size()) > before;
}

void TClientDataSet::FetchAll()
{
    while (FetchMore()) {
    }
}

proto::RowBlock TClientDataSet::nextPacket(int count)
{
    if (!m_prefetchFailure.isEmpty()) {
        const QString why = m_prefetchFailure;
        m_prefetchFailure.clear();
        throw Exception(why);
    }
    if (!m_prefetches.empty()) {
        const quint64 ticket = m_prefetches.front();
        m_prefetches.pop_front();
        return m_connection->TakeFetch(ticket);
    }
    return m_connection->Fetch(m_cursor, count);
}

void TClientDataSet::PrefetchMore(int count)
{
    settle();
    if (!m_active || m_serverEof || !m_prefetchFailure.isEmpty() || !m_connection)
        return;
    try {
        m_prefetches.push_back(m_connection->SendFetch(m_cursor, count));
    } catch (const Exception &e) {
        // Told where the rows would have been read, as a fetch then would.
        m_prefetchFailure = e.message();
    }
}

proto::Cell TClientDataSet::CellAt(int row, int field) const
{
    settle();
    if (!m_active || row < 0 || row >= int(m_order.size()) || field < 0 || field >= int(m_fields.size()))
        return proto::Cell();
    return proto::RowBlock::cellAt(m_rows[size_t(m_order[size_t(row)])], field);
}

const char *TClientDataSet::RowDataAt(int row) const
{
    if (!m_active || row < 0 || row >= int(m_order.size()))
        return nullptr;
    return m_rows[size_t(m_order[size_t(row)])];
}

QVariant TClientDataSet::ValueAt(int row, int field) const { return CellAt(row, field).toVariant(); }

proto::Cell TClientDataSet::currentCell(int field) const { return CellAt(m_current, field); }

void TClientDataSet::appendRows(proto::RowBlock &&block, bool notify)
{
    const int width = int(m_fields.size());
    if (!block.isEmpty() && block.width() != width)
        throw Exception(QStringLiteral("El servidor de aplicaciones envió filas de %1 columnas en lugar de %2")
                            .arg(block.width())
                            .arg(width));
    const int before = int(m_rows.size());
    // A packet that brings nothing ends the walk even if the server did not
    // say so; asking again would never finish.
    m_serverEof = block.eof || block.isEmpty();
    // What was asked beyond the end brings nothing.
    if (m_serverEof)
        dropPrefetches();
    if (!block.isEmpty()) {
        // The rows stay in the packet's own buffer: moving the block keeps
        // the buffer where it is, so the row pointers stay good.
        m_blocks.push_back(std::move(block));
        const proto::RowBlock &held = m_blocks.back();
        for (qsizetype r = 0; r < held.size(); ++r)
            m_rows.push_back(held.rowData(r));
        m_bytes += held.byteSize();
    }
    const int after = int(m_rows.size());
    if (after == before)
        return;
    if (m_indexFieldNames.isEmpty()) {
        for (int i = before; i < after; ++i)
            m_order.push_back(i);
        if (notify)
            Q_EMIT RowsAppended(before, after - 1);
    } else {
        rebuildOrder();
        if (notify)
            Q_EMIT RowsReordered();
    }
}

void TClientDataSet::rebuildOrder()
{
    const int record = m_current >= 0 && m_current < int(m_order.size()) ? m_order[size_t(m_current)] : -1;

    m_order.resize(m_rows.size());
    for (size_t i = 0; i < m_order.size(); ++i)
        m_order[i] = int(i);

    QList<int> keys;
    for (const QString &n : m_indexFieldNames.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (const TField *f = FindField(n.trimmed()))
            keys.append(f->Index());
    if (!keys.isEmpty()) {
        std::vector<std::vector<SortKey>> columns(size_t(keys.size()));
        for (qsizetype k = 0; k < keys.size(); ++k) {
            std::vector<SortKey> &column = columns[size_t(k)];
            column.reserve(m_rows.size());
            for (const char *row : m_rows)
                column.push_back(sortKeyOf(proto::RowBlock::cellAt(row, keys[k])));
        }
        std::stable_sort(m_order.begin(), m_order.end(), [&](int a, int b) {
            for (const std::vector<SortKey> &column : columns) {
                const int c = compareKeys(column[size_t(a)], column[size_t(b)]);
                if (c != 0)
                    return c < 0;
            }
            return false;
        });
    }

    if (record >= 0) {
        const auto it = std::find(m_order.begin(), m_order.end(), record);
        m_current = int(it - m_order.begin());
    }
}

} // namespace vorel
