#pragma once
// What the listener and the sessions both answer with, and their log.
#include "data/protocol.h"

#include <QString>

namespace vorel::server {

inline bool isMethod(const QString &name, const char *expected)
{
    return name.compare(QLatin1String(expected), Qt::CaseInsensitive) == 0;
}

// Only requests are read from a peer: a reply's rows would be built in
// memory, many times the frame's size, just to be refused.
bool isRequestType(quint8 type);
proto::Message replyTo(const proto::Message &request, proto::MsgType type);
proto::Message errorReply(quint32 requestId, const QString &text);
class Trace;
// Writes a request of connection `id` to the trace, when there is one;
// throws ProtocolError for what no client sends after its greeting (a
// second Hello, a reply).
void traceRequest(Trace *trace, int id, const proto::Message &request);
// Seconds as the log and the peers read them ("1", "2.5").
QString seconds(int ms);
// One line on standard error, at once.
void logLine(const QString &line);

} // namespace vorel::server
