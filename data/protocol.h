#pragma once
// The wire protocol between the client and the application server. Client and
// server both use this one definition.
//
// A frame is a 4-byte big-endian payload length followed by the payload. The
// payload starts with the message type (1 byte) and the request id (4 bytes,
// big-endian); the body follows. Values travel explicitly typed: NULL,
// integer (int64), float (IEEE double), text (UTF-8), date-time (milliseconds
// since 1970-01-01T00:00 of the naive date-time, int64) and blob. Texts and
// blobs carry a 4-byte length. Nothing else is ever serialised.
//
// The first frame in each direction is the handshake: the client sends Hello
// with the magic "VOREL" and its protocol version, the server answers HelloOk
// (or Error and closes). Hello and HelloOk keep their form in every version,
// so that each side can tell the other which version it speaks.
//
// Requests may follow one another without waiting for answers (a pipeline).
// Each request starts with a byte of flags: a Chained request was sent while
// answers to earlier requests were still unread, and the server skips it
// (answers Skipped, runs and traces nothing) when an earlier request of the
// same pipeline failed, as a client that waited for each answer would never
// have sent it. A request without the flag starts a new pipeline. A Detached
// request (a packet asked ahead, a cursor closed) neither starts nor breaks
// a pipeline and is never skipped.

#include "common/vorelglobal.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QtEndian>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>
#include <stdexcept>

namespace vorel::proto {

constexpr quint16 kVersion = 2;
constexpr int kHeaderSize = 4;
// Hard limit of one frame's payload. Large enough for any binary we ship
// through TBINS, small enough that a hostile length can't exhaust memory.
constexpr quint32 kMaxFrame = 64u * 1024u * 1024u;

enum class MsgType : quint8 {
    Hello = 1,       // c->s: magic "VOREL", u16 version
    HelloOk = 2,     // s->c: u16 version
    Call = 10,       // c->s: text method, u16 n, n texts
    CallResult = 11, // s->c: value (text or NULL)
    Open = 20,       // c->s: text provider, text sql, i32 packet size (-1 = all)
    OpenResult = 21, // s->c: u32 cursor, u16 ncols, cols(text name, u8 type, i32 size), rows
    Fetch = 22,      // c->s: u32 cursor, i32 count (-1 = all)
    Rows = 23,       // s->c: u16 width, rows
    CloseCursor = 24,// c->s: u32 cursor
    Closed = 25,     // s->c: empty
    Error = 30,      // s->c: text message
    Skipped = 31,    // s->c: empty; an earlier request of the pipeline failed
};

// Request flags (Call, Open, Fetch, CloseCursor).
enum RequestFlag : quint8 {
    Chained = 0x01,
    Detached = 0x02,
};

// Value tags; also used as column types in OpenResult.
enum class ValueType : quint8 {
    Null = 0,
    Integer = 1,
    Float = 2,
    Text = 3,
    DateTime = 4,
    Blob = 5,
};

// Thrown for anything malformed: the connection that produced it is ended.
class VOREL_CORE_EXPORT ProtocolError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct VOREL_CORE_EXPORT Column {
    QString name;
    ValueType type = ValueType::Text;
    qint32 size = 0; // display size hint in characters, 0 = unknown
};

// One value of a row, read in place from the bytes of its block: no
// allocation until a text, blob or variant is asked for. Valid while the
// block lives.
struct VOREL_CORE_EXPORT Cell {
    ValueType type = ValueType::Null;
    qint64 integer = 0;          // Integer; DateTime in wire milliseconds
    double real = 0;             // Float
    const char *data = nullptr;  // Text (UTF-8) and Blob
    qsizetype size = 0;

    bool isNull() const { return type == ValueType::Null; }
    QVariant toVariant() const;
    QString text() const { return QString::fromUtf8(data, size); }
    QByteArray bytes() const { return QByteArray(data, size); }
    QByteArrayView view() const { return QByteArrayView(data, size); }
};

// A block of rows: u32 nrows, then nrows * ncols values, then u8 eof.
// The rows are held as they travel, their values coded back to back with
// the offset of each row's first value: one allocation per block instead of
// one variant per cell, and a decoded block costs no more than its frame.
class VOREL_CORE_EXPORT RowBlock
{
public:
    explicit RowBlock(int width = 0) : m_width(width) {}
    // An empty block with room before its rows for the head of the Rows
    // frame that will carry them: encode(Message &&) then writes the frame
    // around the rows instead of copying them into one.
    static RowBlock withFrameRoom(int width);

    bool eof = true;

    int width() const { return m_width; }
    // Only while empty: a block's rows all have one width.
    void setWidth(int width);
    qsizetype size() const { return qsizetype(m_starts.size()); }
    bool isEmpty() const { return m_starts.empty(); }
    // Bytes the rows take as coded.
    qsizetype byteSize() const { return m_used; }

    // Building, value by value: beginRow, then exactly width() values.
    void beginRow();
    void addNull();
    void addInteger(qint64 v);
    void addFloat(double v);
    void addText(const char *utf8, qsizetype size);
    void addText(const QString &s);
    void addDateTime(qint64 wireMs);
    void addBlob(const char *data, qsizetype size);
    // A whole row of variants (the types Writer::value accepts); throws
    // ProtocolError when its width differs or a type is not carried.
    void appendRow(const QVariantList &row);
    // Row `row` of another block of the same width, copied as coded.
    void appendRowOf(const RowBlock &other, qsizetype row);
    // Takes back a row begun and not finished (its read failed midway).
    void dropUnfinishedRow()
    {
        if (m_pendingValues == 0)
            return;
        m_used = qsizetype(m_starts.back()) - m_begin;
        m_starts.pop_back();
        m_pendingValues = 0;
    }
    void reserveBytes(qsizetype bytes)
    {
        if (m_data.size() < m_begin + bytes)
            m_data.resize(m_begin + bytes);
    }

    Cell cell(qsizetype row, int column) const;
    // NULL when row or column is out of range.
    QVariant value(qsizetype row, int column) const;
    QVariantList row(qsizetype row) const;
    QList<QVariantList> allRows() const;
    // The coded values of one row, and the cells of a coded row.
    const char *rowData(qsizetype row) const { return m_data.constData() + m_starts[size_t(row)]; }
    static Cell cellAt(const char *rowData, int column);
    // The first value after `cell` of a coded row; `p` points at a value.
    static const char *skipValue(const char *p);
    // The cell at `p`, and where the next one starts: a row read from its
    // first value to its last costs one pass, not one per value.
    static const char *readCell(const char *p, Cell *cell);

    bool operator==(const RowBlock &other) const;

private:
    friend struct RowCoding; // the wire reads and writes the coded rows as they are
    // `n` more bytes at the end of the rows, to be written by the caller.
    char *grow(qsizetype n);
    void growTo(qsizetype bytes);
    void addFixed(ValueType type, quint64 bits);
    void addBytes(ValueType type, const char *data, qsizetype size);
    // The coded rows are m_used bytes from m_begin; what follows is room
    // to grow into without a resize at every value. A block read from the
    // wire shares the frame it came in (m_begin past the frame's header)
    // rather than copying its rows out of it.
    QByteArray m_data;
    qsizetype m_begin = 0;
    qsizetype m_used = 0;
    std::vector<quint32> m_starts; // offsets into m_data
    // Keeps m_data's bytes when they are not the array's own (FrameArena).
    std::shared_ptr<const void> m_owner;
    int m_width = 0;
    int m_pendingValues = 0;       // of the row being built
};

// The values of every row a server reads pass here: inline, so that
// building a packet costs little more than copying its bytes.
inline void RowBlock::beginRow()
{
    if (m_pendingValues != 0) [[unlikely]]
        throw ProtocolError("row width does not match the columns");
    // Offsets are 32-bit; far above anything one frame or one read-ahead holds.
    if (quint64(m_begin + m_used) > 0xffffffffu) [[unlikely]]
        throw ProtocolError("block too large");
    m_starts.push_back(quint32(m_begin + m_used));
    m_pendingValues = m_width;
}

inline char *RowBlock::grow(qsizetype n)
{
    const qsizetype end = m_begin + m_used;
    if (m_data.size() - end < n) [[unlikely]]
        growTo(end + n);
    m_used += n;
    return m_data.data() + end;
}

inline void RowBlock::addFixed(ValueType type, quint64 bits)
{
    char *p = grow(9);
    p[0] = char(type);
    qToBigEndian(bits, p + 1);
    --m_pendingValues;
}

inline void RowBlock::addNull()
{
    *grow(1) = char(ValueType::Null);
    --m_pendingValues;
}

inline void RowBlock::addInteger(qint64 v) { addFixed(ValueType::Integer, quint64(v)); }

inline void RowBlock::addFloat(double v) { addFixed(ValueType::Float, std::bit_cast<quint64>(v)); }

inline void RowBlock::addDateTime(qint64 wireMs) { addFixed(ValueType::DateTime, quint64(wireMs)); }

inline void RowBlock::addBytes(ValueType type, const char *data, qsizetype size)
{
    if (quint64(size) > kMaxFrame) [[unlikely]]
        throw ProtocolError("value larger than a frame");
    char *p = grow(5 + size);
    p[0] = char(type);
    qToBigEndian(quint32(size), p + 1);
    if (size > 0)
        std::memcpy(p + 5, data, size_t(size));
    --m_pendingValues;
}

inline void RowBlock::addText(const char *utf8, qsizetype size) { addBytes(ValueType::Text, utf8, size); }

struct VOREL_CORE_EXPORT Message {
    MsgType type = MsgType::Error;
    quint32 requestId = 0;
    // Only the members of the type in hand are meaningful.
    quint16 version = kVersion;
    quint8 flags = 0;      // requests: RequestFlag bits
    QString text;          // Call: method; Open: provider; Error: message
    QString sql;           // Open
    QStringList args;      // Call
    QVariant value;        // CallResult
    qint32 count = -1;     // Open: packet size; Fetch: count
    quint32 cursor = 0;    // OpenResult, Fetch, CloseCursor
    QList<Column> columns; // OpenResult
    RowBlock rows;         // OpenResult, Rows
    int width = 0;         // Rows: values per row (the cursor's column count)
};

// Value coding. Accepted variant types: invalid/null, integral types, double,
// QString, QDateTime (and QDate), QByteArray. Any other type throws
// ProtocolError instead of guessing a representation.
class VOREL_CORE_EXPORT Writer
{
public:
    void u8(quint8 v);
    void u16(quint16 v);
    void u32(quint32 v);
    void i32(qint32 v);
    void i64(qint64 v);
    void f64(double v);
    void text(const QString &s);
    void bytes(const QByteArray &b);
    void value(const QVariant &v);
    void raw(const char *data, qsizetype size) { m_data.append(data, size); }
    void reserve(qsizetype bytes) { m_data.reserve(bytes); }
    const QByteArray &data() const { return m_data; }
    QByteArray take() { return std::move(m_data); }

private:
    QByteArray m_data;
};

class VOREL_CORE_EXPORT Reader
{
public:
    // `owner`, when given, keeps `data`'s bytes, which the array then need
    // not own: a block read from them keeps them rather than copy them.
    explicit Reader(const QByteArray &data, std::shared_ptr<const void> owner = {})
        : m_data(data), m_owner(std::move(owner))
    {
    }
    quint8 u8();
    quint16 u16();
    quint32 u32();
    qint32 i32();
    qint64 i64();
    double f64();
    QString text();
    QByteArray bytes();
    QVariant value();
    bool atEnd() const { return m_pos == m_data.size(); }
    qsizetype position() const { return m_pos; }
    const char *here() const { return m_data.constData() + m_pos; }
    qsizetype remaining() const { return m_data.size() - m_pos; }
    // What is being read, for a block that keeps its bytes rather than copy them.
    const QByteArray &source() const { return m_data; }
    const std::shared_ptr<const void> &owner() const { return m_owner; }
    // The next n bytes, consumed; throws when fewer are left.
    const char *take(qsizetype n);

private:
    const QByteArray &m_data;
    std::shared_ptr<const void> m_owner;
    qsizetype m_pos = 0;
};

// Whole frames: header + payload.
VOREL_CORE_EXPORT QByteArray encode(const Message &m);
// The same frame; the rows of a Rows message built with their frame's room
// (RowBlock::withFrameRoom) become the frame, and `m` is left without them.
VOREL_CORE_EXPORT QByteArray encode(Message &&m);
// Decodes one payload (without the header). Throws ProtocolError when the
// payload is malformed or has bytes left over.
VOREL_CORE_EXPORT Message decodePayload(const QByteArray &payload, std::shared_ptr<const void> owner = {});

// Incremental frame splitter: feed whatever arrived, take complete payloads.
class VOREL_CORE_EXPORT FrameReader
{
public:
    explicit FrameReader(quint32 maxFrame = kMaxFrame) : m_max(maxFrame) {}
    // Throws ProtocolError as soon as a header announces more than the limit.
    void feed(const QByteArray &data);
    std::optional<QByteArray> next();
    qsizetype buffered() const { return m_buffer.size(); }
    // The payload length the next frame's header announces; -1 before its
    // header is in.
    qint64 announced() const;
    // The next frame's first payload bytes, as many of `n` as are in.
    QByteArray head(qsizetype n) const { return m_buffer.mid(kHeaderSize, n); }
    // The next frame (its header in) is dropped, its bytes as they come:
    // none of it is held.
    void skipNext();

private:
    QByteArray m_buffer;
    quint32 m_max;
    qint64 m_skip = 0; // bytes still to drop of a frame skipped
};

// True for the variant types carried as Integer.
VOREL_CORE_EXPORT bool isIntegral(const QVariant &v);

// Date-time coding, shared so both sides agree on the epoch. Date-times carry
// no zone: any QDateTime is sent as its date() and time(); a decoded one is
// that reading as a Qt::UTC QDateTime, so no daylight-saving rule touches it.
VOREL_CORE_EXPORT qint64 toWireDateTime(const QDateTime &dt);
VOREL_CORE_EXPORT QDateTime fromWireDateTime(qint64 ms);

} // namespace vorel::proto
