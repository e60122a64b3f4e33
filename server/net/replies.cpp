#include "server/net/replies.h"

#include "server/net/trace.h"

#include <cstdio>

namespace vorel::server {

using proto::Message;
using proto::MsgType;

bool isRequestType(quint8 type)
{
    switch (MsgType(type)) {
    case MsgType::Hello:
    case MsgType::Call:
    case MsgType::Open:
    case MsgType::Fetch:
    case MsgType::CloseCursor:
        return true;
    default:
        return false;
    }
}

Message replyTo(const Message &request, MsgType type)
{
    Message m;
    m.type = type;
    m.requestId = request.requestId;
    return m;
}

Message errorReply(quint32 requestId, const QString &text)
{
    Message m;
    m.type = MsgType::Error;
    m.requestId = requestId;
    m.text = text;
    return m;
}

void traceRequest(Trace *trace, int id, const Message &request)
{
    switch (request.type) {
    case MsgType::Call:
        if (trace)
            trace->call(id, request.text, request.args);
        break;
    case MsgType::Open:
        if (trace)
            trace->open(id, request.text, request.sql, request.count);
        break;
    case MsgType::Fetch:
        if (trace)
            trace->fetch(id, request.cursor, request.count);
        break;
    case MsgType::CloseCursor:
        break;
    default:
        throw proto::ProtocolError("message type not accepted from a client");
    }
}

QString seconds(int ms) { return QString::number(ms / 1000.0, 'g', 4); }

void logLine(const QString &line)
{
    const QByteArray text = line.toLocal8Bit() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

} // namespace vorel::server
