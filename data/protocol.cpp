#include "data/protocol.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace vorel::proto {

namespace {

const QByteArray kMagic("VOREL");

} // namespace

// Length, type, request, width and row count: what a Rows frame holds
// before its rows.
constexpr qsizetype kRowsFrameHead = kHeaderSize + 1 + 4 + 2 + 4;

// The coded rows as the wire carries them.
struct RowCoding {
    static RowBlock withFrameRoom(int width)
    {
        RowBlock block(width);
        block.m_begin = kRowsFrameHead;
        return block;
    }

    // The frame of `m`, a Rows message, written around its rows; nothing
    // when they were not built for it or share their bytes.
    static std::optional<QByteArray> rowsFrame(Message &m)
    {
        RowBlock &block = m.rows;
        if (block.m_begin != kRowsFrameHead || block.m_owner || !block.m_data.isDetached()
            || m.width < 0 || m.width > 0xffff)
            return std::nullopt;
        if (!block.isEmpty() && block.m_width != m.width)
            throw ProtocolError("row width does not match the columns");
        if (block.m_pendingValues != 0)
            throw ProtocolError("row left unfinished");
        const qsizetype payload = kRowsFrameHead - kHeaderSize + block.m_used + 1;
        if (quint64(payload) > kMaxFrame)
            throw ProtocolError("message larger than a frame");
        *block.grow(1) = block.eof ? 1 : 0;
        QByteArray frame = std::move(block.m_data);
        frame.resize(kHeaderSize + payload);
        char *head = frame.data();
        qToBigEndian(quint32(payload), head);
        head[kHeaderSize] = char(MsgType::Rows);
        qToBigEndian(m.requestId, head + kHeaderSize + 1);
        qToBigEndian(quint16(m.width), head + kHeaderSize + 5);
        qToBigEndian(quint32(block.size()), head + kHeaderSize + 7);
        block = RowBlock(block.m_width);
        return frame;
    }

    static void write(Writer &w, const RowBlock &block, int ncols)
    {
        if (!block.isEmpty() && block.m_width != ncols)
            throw ProtocolError("row width does not match the columns");
        if (block.m_pendingValues != 0)
            throw ProtocolError("row left unfinished");
        w.u32(quint32(block.size()));
        w.raw(block.m_data.constData() + block.m_begin, block.m_used);
        w.u8(block.eof ? 1 : 0);
    }

    // Checks every value once here, so that reading a cell later can trust
    // the tags and lengths it meets.
    static RowBlock read(Reader &r, int ncols)
    {
        RowBlock block(ncols);
        const quint32 n = r.u32();
        // Every value takes at least one byte: a count beyond what is left is a lie.
        if (ncols > 0 && qsizetype(n) * ncols > r.remaining())
            throw ProtocolError("row count exceeds the frame");
        if (ncols == 0 && n > 0)
            throw ProtocolError("rows without columns");
        const char *const base = r.here();
        const char *const end = base + r.remaining();
        const char *p = base;
        // Offsets count from the frame's first byte when the block keeps the
        // frame, from the rows' first when it copies them: a frame held
        // elsewhere too, or bytes it does not own, may change or go before
        // the block does.
        const QByteArray &source = r.source();
        const bool keep = source.isDetached() || r.owner();
        const qsizetype begin = keep ? base - source.constData() : 0;
        if (quint64(begin) + quint64(end - base) > 0xffffffffu)
            throw ProtocolError("block too large");
        block.m_starts.resize(n);
        quint32 *start = block.m_starts.data();
        // Walked by pointer: a packet holds millions of values, and each is
        // checked against the end before anything of it is read.
        for (quint32 i = 0; i < n; ++i) {
            start[i] = quint32(begin + (p - base));
            for (int c = 0; c < ncols; ++c) {
                if (p >= end)
                    throw ProtocolError("truncated message");
                switch (ValueType(quint8(*p))) {
                case ValueType::Null: ++p; break;
                case ValueType::Integer:
                case ValueType::Float:
                case ValueType::DateTime:
                    if (end - p < 9)
                        throw ProtocolError("truncated message");
                    p += 9;
                    break;
                case ValueType::Text:
                case ValueType::Blob: {
                    if (end - p < 5)
                        throw ProtocolError("truncated message");
                    const quint32 size = qFromBigEndian<quint32>(p + 1);
                    if (qsizetype(size) > end - p - 5)
                        throw ProtocolError("truncated message");
                    p += 5 + qsizetype(size);
                    break;
                }
                default: throw ProtocolError("unknown value tag");
                }
            }
        }
        block.m_data = keep ? source : QByteArray(base, p - base);
        if (keep)
            block.m_owner = r.owner();
        block.m_begin = begin;
        block.m_used = p - base;
        r.take(p - base);
        block.eof = r.u8() != 0;
        return block;
    }
};

namespace {

void writeRows(Writer &w, const RowBlock &block, int ncols) { RowCoding::write(w, block, ncols); }
RowBlock readRows(Reader &r, int ncols) { return RowCoding::read(r, ncols); }

} // namespace

QVariant Cell::toVariant() const
{
    switch (type) {
    case ValueType::Null: return QVariant();
    case ValueType::Integer: return QVariant(qlonglong(integer));
    case ValueType::Float: return QVariant(real);
    case ValueType::Text: return QVariant(text());
    case ValueType::DateTime: return QVariant(fromWireDateTime(integer));
    case ValueType::Blob: return QVariant(bytes());
    }
    return QVariant();
}

RowBlock RowBlock::withFrameRoom(int width) { return RowCoding::withFrameRoom(width); }

void RowBlock::setWidth(int width)
{
    if (!isEmpty() && width != m_width)
        throw ProtocolError("row width does not match the columns");
    m_width = width;
}

void RowBlock::growTo(qsizetype bytes)
{
    // Doubling, so that a packet built value by value is copied a few
    // times in all rather than at every value.
    m_data.resize(std::max(bytes, 2 * m_data.size()));
}

void RowBlock::addText(const QString &s)
{
    const QByteArray utf8 = s.toUtf8();
    addText(utf8.constData(), utf8.size());
}

void RowBlock::addBlob(const char *data, qsizetype size) { addBytes(ValueType::Blob, data, size); }

void RowBlock::appendRow(const QVariantList &row)
{
    if (isEmpty() && m_width == 0)
        m_width = int(row.size());
    if (row.size() != m_width)
        throw ProtocolError("row width does not match the columns");
    Writer w;
    for (const QVariant &v : row)
        w.value(v);
    beginRow();
    const QByteArray &values = w.data();
    std::memcpy(grow(values.size()), values.constData(), size_t(values.size()));
    m_pendingValues = 0;
}

void RowBlock::appendRowOf(const RowBlock &other, qsizetype row)
{
    if (isEmpty() && m_width == 0)
        m_width = other.m_width;
    if (other.m_width != m_width)
        throw ProtocolError("row width does not match the columns");
    const quint32 begin = other.m_starts[size_t(row)];
    const qsizetype end = row + 1 < other.size() ? qsizetype(other.m_starts[size_t(row + 1)])
                                                 : other.m_begin + other.m_used;
    beginRow();
    // Grown first: `other` may be this block.
    char *to = grow(end - begin);
    std::memcpy(to, other.m_data.constData() + begin, size_t(end - begin));
    m_pendingValues = 0;
}

const char *RowBlock::skipValue(const char *p)
{
    switch (ValueType(quint8(*p))) {
    case ValueType::Null: return p + 1;
    case ValueType::Integer:
    case ValueType::Float:
    case ValueType::DateTime: return p + 9;
    default: return p + 5 + qFromBigEndian<quint32>(p + 1);
    }
}

const char *RowBlock::readCell(const char *p, Cell *cell)
{
    *cell = Cell();
    cell->type = ValueType(quint8(*p));
    switch (cell->type) {
    case ValueType::Null: return p + 1;
    case ValueType::Integer:
    case ValueType::DateTime: cell->integer = qint64(qFromBigEndian<quint64>(p + 1)); return p + 9;
    case ValueType::Float: {
        const quint64 bits = qFromBigEndian<quint64>(p + 1);
        std::memcpy(&cell->real, &bits, 8);
        return p + 9;
    }
    case ValueType::Text:
    case ValueType::Blob:
        cell->size = qsizetype(qFromBigEndian<quint32>(p + 1));
        cell->data = p + 5;
        return p + 5 + cell->size;
    }
    return p + 1;
}

Cell RowBlock::cellAt(const char *rowData, int column)
{
    const char *p = rowData;
    for (int c = 0; c < column; ++c)
        p = skipValue(p);
    Cell cell;
    readCell(p, &cell);
    return cell;
}

Cell RowBlock::cell(qsizetype row, int column) const { return cellAt(rowData(row), column); }

QVariant RowBlock::value(qsizetype row, int column) const
{
    if (row < 0 || row >= size() || column < 0 || column >= m_width)
        return QVariant();
    return cell(row, column).toVariant();
}

QVariantList RowBlock::row(qsizetype r) const
{
    QVariantList out;
    if (r < 0 || r >= size())
        return out;
    out.reserve(m_width);
    const char *p = rowData(r);
    for (int c = 0; c < m_width; ++c) {
        out.append(cellAt(p, 0).toVariant());
        p = skipValue(p);
    }
    return out;
}

QList<QVariantList> RowBlock::allRows() const
{
    QList<QVariantList> out;
    out.reserve(size());
    for (qsizetype r = 0; r < size(); ++r)
        out.append(row(r));
    return out;
}

bool RowBlock::operator==(const RowBlock &other) const
{
    if (eof != other.eof || m_width != other.m_width || m_starts.size() != other.m_starts.size()
        || QByteArrayView(m_data.constData() + m_begin, m_used)
            != QByteArrayView(other.m_data.constData() + other.m_begin, other.m_used))
        return false;
    for (size_t i = 0; i < m_starts.size(); ++i)
        if (m_starts[i] - m_begin != other.m_starts[i] - other.m_begin)
            return false;
    return true;
}

qint64 toWireDateTime(const QDateTime &dt)
{
    // Oracle dates carry no zone: send the wall-clock reading as if it were UTC.
    QDateTime naive(dt.date(), dt.time(), Qt::UTC);
    return naive.toMSecsSinceEpoch();
}

QDateTime fromWireDateTime(qint64 ms)
{
    // The reading stays in UTC: it is a wall-clock reading, and local time
    // would apply daylight-saving rules to it (a reading inside a spring-forward
    // gap turns invalid) and cost a zone lookup per value.
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

void Writer::u8(quint8 v) { m_data.append(char(v)); }

void Writer::u16(quint16 v)
{
    char b[2];
    qToBigEndian(v, b);
    m_data.append(b, 2);
}

void Writer::u32(quint32 v)
{
    char b[4];
    qToBigEndian(v, b);
    m_data.append(b, 4);
}

void Writer::i32(qint32 v) { u32(quint32(v)); }

void Writer::i64(qint64 v)
{
    char b[8];
    qToBigEndian(quint64(v), b);
    m_data.append(b, 8);
}

void Writer::f64(double v)
{
    quint64 bits;
    std::memcpy(&bits, &v, 8);
    i64(qint64(bits));
}

void Writer::text(const QString &s) { bytes(s.toUtf8()); }

void Writer::bytes(const QByteArray &b)
{
    if (quint64(b.size()) > kMaxFrame)
        throw ProtocolError("value larger than a frame");
    u32(quint32(b.size()));
    m_data.append(b);
}

bool isIntegral(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

void Writer::value(const QVariant &v)
{
    if (!v.isValid() || v.isNull()) {
        u8(quint8(ValueType::Null));
        return;
    }
    if (isIntegral(v)) {
        u8(quint8(ValueType::Integer));
        i64(v.toLongLong());
        return;
    }
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        u8(quint8(ValueType::Float));
        f64(v.toDouble());
        return;
    case QMetaType::QString:
        u8(quint8(ValueType::Text));
        text(v.toString());
        return;
    case QMetaType::QDateTime:
        u8(quint8(ValueType::DateTime));
        i64(toWireDateTime(v.toDateTime()));
        return;
    case QMetaType::QDate:
        u8(quint8(ValueType::DateTime));
        i64(toWireDateTime(QDateTime(v.toDate(), QTime(0, 0), Qt::UTC)));
        return;
    case QMetaType::QByteArray:
        u8(quint8(ValueType::Blob));
        bytes(v.toByteArray());
        return;
    default:
        throw ProtocolError(std::string("value type not carried by the protocol: ") + v.typeName());
    }
}

const char *Reader::take(qsizetype n)
{
    if (n < 0 || remaining() < n)
        throw ProtocolError("truncated message");
    const char *p = m_data.constData() + m_pos;
    m_pos += n;
    return p;
}

quint8 Reader::u8() { return quint8(*take(1)); }
quint16 Reader::u16() { return qFromBigEndian<quint16>(take(2)); }
quint32 Reader::u32() { return qFromBigEndian<quint32>(take(4)); }
qint32 Reader::i32() { return qint32(u32()); }
qint64 Reader::i64() { return qint64(qFromBigEndian<quint64>(take(8))); }

double Reader::f64()
{
    const quint64 bits = quint64(i64());
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}

QByteArray Reader::bytes()
{
    const quint32 n = u32();
    if (qsizetype(n) > remaining())
        throw ProtocolError("truncated message");
    const char *p = take(qsizetype(n));
    return QByteArray(p, qsizetype(n));
}

QString Reader::text() { return QString::fromUtf8(bytes()); }

QVariant Reader::value()
{
    switch (ValueType(u8())) {
    case ValueType::Null: return QVariant();
    case ValueType::Integer: return QVariant(qlonglong(i64()));
    case ValueType::Float: return QVariant(f64());
    case ValueType::Text: return QVariant(text());
    case ValueType::DateTime: return QVariant(fromWireDateTime(i64()));
    case ValueType::Blob: return QVariant(bytes());
    }
    throw ProtocolError("unknown value tag");
}

QByteArray encode(const Message &m)
{
    Writer w;
    // The frame is written in place, its length filled in at the end: a
    // packet of rows is copied once, not twice.
    w.reserve(kHeaderSize + 64 + m.rows.byteSize() + 2 * (m.text.size() + m.sql.size()));
    w.u32(0);
    w.u8(quint8(m.type));
    w.u32(m.requestId);
    switch (m.type) {
    case MsgType::Hello:
        w.u8('V'); w.u8('O'); w.u8('R'); w.u8('E'); w.u8('L');
        w.u16(m.version);
        break;
    case MsgType::HelloOk:
        w.u16(m.version);
        break;
    case MsgType::Call:
        w.u8(m.flags);
        w.text(m.text);
        if (m.args.size() > 0xffff)
            throw ProtocolError("too many arguments");
        w.u16(quint16(m.args.size()));
        for (const QString &a : m.args)
            w.text(a);
        break;
    case MsgType::CallResult:
        w.value(m.value);
        break;
    case MsgType::Open:
        w.u8(m.flags);
        w.text(m.text);
        w.text(m.sql);
        w.i32(m.count);
        break;
    case MsgType::OpenResult:
        w.u32(m.cursor);
        if (m.columns.size() > 0xffff)
            throw ProtocolError("too many columns");
        w.u16(quint16(m.columns.size()));
        for (const Column &c : m.columns) {
            w.text(c.name);
            w.u8(quint8(c.type));
            w.i32(c.size);
        }
        writeRows(w, m.rows, int(m.columns.size()));
        break;
    case MsgType::Fetch:
        w.u8(m.flags);
        w.u32(m.cursor);
        w.i32(m.count);
        break;
    case MsgType::Rows:
        if (m.width < 0 || m.width > 0xffff)
            throw ProtocolError("too many columns");
        w.u16(quint16(m.width));
        writeRows(w, m.rows, m.width);
        break;
    case MsgType::CloseCursor:
        w.u8(m.flags);
        w.u32(m.cursor);
        break;
    case MsgType::Closed:
    case MsgType::Skipped:
        break;
    case MsgType::Error:
        w.text(m.text);
        break;
    default:
        throw ProtocolError("unknown message type");
    }
    QByteArray frame = w.take();
    const qsizetype payload = frame.size() - kHeaderSize;
    if (quint64(payload) > kMaxFrame)
        throw ProtocolError("message larger than a frame");
    qToBigEndian(quint32(payload), frame.data());
    return frame;
}

QByteArray encode(Message &&m)
{
    if (m.type == MsgType::Rows) {
        if (std::optional<QByteArray> frame = RowCoding::rowsFrame(m))
            return std::move(*frame);
    }
    return encode(std::as_const(m));
}

namespace {
quint8 requestFlags(Reader &r)
{
    const quint8 flags = r.u8();
    if (flags & ~quint8(Chained | Detached))
        throw ProtocolError("unknown request flags");
    return flags;
}
} // namespace

Message decodePayload(const QByteArray &payload, std::shared_ptr<const void> owner)
{
    Reader r(payload, std::move(owner));
    Message m;
    m.type = MsgType(r.u8());
    m.requestId = r.u32();
    switch (m.type) {
    case MsgType::Hello: {
        QByteArray magic;
        for (int i = 0; i < 5; ++i)
            magic.append(char(r.u8()));
        if (magic != kMagic)
            throw ProtocolError("not a Vorel peer");
        m.version = r.u16();
        break;
    }
    case MsgType::HelloOk:
        m.version = r.u16();
        break;
    case MsgType::Call: {
        m.flags = requestFlags(r);
        m.text = r.text();
        const quint16 n = r.u16();
        for (quint16 i = 0; i < n; ++i)
            m.args.append(r.text());
        break;
    }
    case MsgType::CallResult:
        m.value = r.value();
        break;
    case MsgType::Open:
        m.flags = requestFlags(r);
        m.text = r.text();
        m.sql = r.text();
        m.count = r.i32();
        break;
    case MsgType::OpenResult: {
        m.cursor = r.u32();
        const quint16 n = r.u16();
        for (quint16 i = 0; i < n; ++i) {
            Column c;
            c.name = r.text();
            const quint8 t = r.u8();
            if (t > quint8(ValueType::Blob))
                throw ProtocolError("unknown column type");
            c.type = ValueType(t);
            c.size = r.i32();
            m.columns.append(c);
        }
        m.rows = readRows(r, n);
        break;
    }
    case MsgType::Fetch:
        m.flags = requestFlags(r);
        m.cursor = r.u32();
        m.count = r.i32();
        break;
    case MsgType::Rows: {
        m.width = r.u16();
        m.rows = readRows(r, m.width);
        break;
    }
    case MsgType::CloseCursor:
        m.flags = requestFlags(r);
        m.cursor = r.u32();
        break;
    case MsgType::Closed:
    case MsgType::Skipped:
        break;
    case MsgType::Error:
        m.text = r.text();
        break;
    default:
        throw ProtocolError("unknown message type");
    }
    if (!r.atEnd())
        throw ProtocolError("trailing bytes in message");
    return m;
}

void FrameReader::feed(const QByteArray &data)
{
    if (m_skip >= data.size()) {
        m_skip -= data.size();
        return;
    }
    m_buffer.append(m_skip > 0 ? data.mid(m_skip) : data);
    m_skip = 0;
    if (m_buffer.size() >= kHeaderSize) {
        const quint32 len = qFromBigEndian<quint32>(m_buffer.constData());
        if (len > m_max)
            throw ProtocolError("frame exceeds the size limit");
    }
}

void FrameReader::skipNext()
{
    const qint64 whole = kHeaderSize + announced();
    if (whole < kHeaderSize)
        return;
    const qint64 here = qMin<qint64>(whole, m_buffer.size());
    m_buffer.remove(0, here);
    m_skip = whole - here;
}

qint64 FrameReader::announced() const
{
    if (m_buffer.size() < kHeaderSize)
        return -1;
    return qFromBigEndian<quint32>(m_buffer.constData());
}

std::optional<QByteArray> FrameReader::next()
{
    if (m_buffer.size() < kHeaderSize)
        return std::nullopt;
    const quint32 len = qFromBigEndian<quint32>(m_buffer.constData());
    if (len > m_max)
        throw ProtocolError("frame exceeds the size limit");
    if (m_buffer.size() < kHeaderSize + qsizetype(len))
        return std::nullopt;
    QByteArray payload = m_buffer.mid(kHeaderSize, len);
    m_buffer.remove(0, kHeaderSize + len);
    // The next header may already be here; check its size now, not later.
    if (m_buffer.size() >= kHeaderSize && qFromBigEndian<quint32>(m_buffer.constData()) > m_max)
        throw ProtocolError("frame exceeds the size limit");
    return payload;
}

} // namespace vorel::proto
