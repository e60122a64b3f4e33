// The client's side of a connection: whatever a server sends is split into
// frames and decoded as replies; a frame the client cannot read ends the
// connection with a protocol error, nothing worse.
#include "tests/fuzz/frames.h"

// A small limit as well as the real one, so that the limit checks are met
// by inputs of a fuzzing size.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace vorel;
    QByteArray pieces, stream;
    fuzz::cut(data, size, pieces, stream);
    for (quint32 limit : {proto::kMaxFrame, quint32(64)}) {
        for (const QByteArray &payload : fuzz::frames(stream, pieces, limit)) {
            proto::Message reply;
            try {
                reply = proto::decodePayload(payload);
            } catch (const proto::ProtocolError &) {
                continue;
            }
            fuzz::roundTrip(reply);
            // What the connection hands on from a reply.
            if (reply.type == proto::MsgType::OpenResult || reply.type == proto::MsgType::Rows) {
                const qsizetype width = reply.type == proto::MsgType::Rows ? reply.width : reply.columns.size();
                if (!reply.rows.isEmpty() && reply.rows.width() != width)
                    fuzz::fail("a row of another width than its columns");
                for (qsizetype r = 0; r < reply.rows.size(); ++r)
                    for (int c = 0; c < width; ++c)
                        reply.rows.value(r, c);
            }
        }
    }
    return 0;
}
