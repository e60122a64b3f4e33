#pragma once
// What both ends do with the bytes of a connection: split them into frames
// in pieces of whatever size arrived, decode each payload, and the checks
// that hold for any input.
#include "data/protocol.h"

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <functional>

namespace vorel::fuzz {

[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// The payloads a frame reader gives for `stream` fed in pieces of the sizes
// cycled from `pieces` (0: all at once); false once it refused the stream.
inline bool split(const QByteArray &stream, const QByteArray &pieces, quint32 maxFrame, QList<QByteArray> &out)
{
    proto::FrameReader reader(maxFrame);
    try {
        qsizetype at = 0, k = 0;
        while (at < stream.size()) {
            qsizetype n = stream.size() - at;
            if (!pieces.isEmpty()) {
                n = std::min<qsizetype>(n, 1 + uchar(pieces[k++ % pieces.size()]));
            }
            reader.feed(stream.mid(at, n));
            at += n;
            while (auto payload = reader.next())
                out.append(*payload);
        }
        if (reader.buffered() > stream.size())
            fail("frame reader holds more than it was given");
    } catch (const proto::ProtocolError &) {
        return false;
    }
    return true;
}

// Splitting must not depend on how the bytes arrived.
inline QList<QByteArray> frames(const QByteArray &stream, const QByteArray &pieces, quint32 maxFrame)
{
    QList<QByteArray> whole, chunked;
    const bool a = split(stream, QByteArray(), maxFrame, whole);
    const bool b = split(stream, pieces, maxFrame, chunked);
    if (a != b)
        fail("a stream is refused or not depending on how it arrived");
    if (a && whole != chunked)
        fail("the frames of a stream depend on how it arrived");
    for (const QByteArray &p : whole)
        if (quint64(p.size()) > maxFrame)
            fail("a frame beyond the limit was given out");
    return whole;
}

// A decoded message encodes again, and the encoding is a fixed point: what
// one side reads is what the other side meant.
inline void roundTrip(const proto::Message &m)
{
    QByteArray once;
    try {
        once = proto::encode(m);
    } catch (const proto::ProtocolError &) {
        fail("a decoded message does not encode");
    }
    const proto::Message back = proto::decodePayload(once.mid(proto::kHeaderSize));
    if (back.type != m.type || back.requestId != m.requestId)
        fail("type or request id changed on the way");
    if (proto::encode(back) != once)
        fail("encoding is not stable");
}

// Splits the input into a piece-size prefix and the stream: the first byte
// tells how many of the following bytes are piece sizes.
inline void cut(const uint8_t *data, size_t size, QByteArray &pieces, QByteArray &stream)
{
    if (size == 0)
        return;
    const size_t n = std::min<size_t>(data[0] % 8, size - 1);
    pieces = QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(n));
    stream = QByteArray(reinterpret_cast<const char *>(data + 1 + n), qsizetype(size - 1 - n));
}

} // namespace vorel::fuzz
