// The server's side of a connection: a session reads its client's bytes as
// frames and decodes each as a request before it looks at it. Anything a
// client may send ends, at worst, in the session dropping the connection.
#include "tests/fuzz/frames.h"

namespace {

bool fromClient(vorel::proto::MsgType t)
{
    using vorel::proto::MsgType;
    return t == MsgType::Hello || t == MsgType::Call || t == MsgType::Open || t == MsgType::Fetch
           || t == MsgType::CloseCursor;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace vorel;
    QByteArray pieces, stream;
    fuzz::cut(data, size, pieces, stream);
    for (quint32 limit : {proto::kMaxFrame, quint32(64)}) {
        bool greeted = false;
        for (const QByteArray &payload : fuzz::frames(stream, pieces, limit)) {
            proto::Message request;
            try {
                request = proto::decodePayload(payload);
            } catch (const proto::ProtocolError &) {
                break; // the session drops the connection
            }
            if (!fromClient(request.type))
                break;
            fuzz::roundTrip(request);
            // The order a session insists on: Hello first, then no other.
            if (!greeted && request.type != proto::MsgType::Hello)
                break;
            if (greeted && request.type == proto::MsgType::Hello)
                break;
            greeted = true;
        }
    }
    return 0;
}
