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
// One line on standard error, at once. Control characters (a line break in
// a user name) are written escaped, so that no text a peer sends can make a
// line of its own, and a line is cut at kMaxLogLine characters.
void logLine(const QString &line);
inline constexpr qsizetype kMaxLogLine = 2000;
QString escapedForLog(const QString &text);
// logLine, but `burst` lines a minute at most for one `source` (an
// address) and `kind` of event, however often it happens; the next line
// said says how many were left unsaid. From any thread.
void logFrom(const QString &source, const QString &kind, const QString &line, int burst = 1);

} // namespace vorel::server
