#include "server/net/replies.h"

#include "server/net/trace.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
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

QString escapedForLog(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        // C0 and C1 controls, DEL, and the line and paragraph separators.
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029) {
            switch (u) {
            case '\n': out += QLatin1String("\\n"); break;
            case '\r': out += QLatin1String("\\r"); break;
            case '\t': out += QLatin1String("\\t"); break;
            default: out += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0')); break;
            }
        } else if (u == '\\') {
            out += QLatin1String("\\\\");
        } else {
            out += c;
        }
    }
    return out;
}

void logLine(const QString &line)
{
    QString safe = escapedForLog(line);
    if (safe.size() > kMaxLogLine)
        safe = safe.left(kMaxLogLine) + QStringLiteral("...");
    const QByteArray text = safe.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

void logFrom(const QString &source, const QString &kind, const QString &line, int burst)
{
    struct Noted {
        qint64 at = 0; // the minute's first line
        int said = 0;
        int unsaid = 0;
    };
    static QMutex mutex;
    static QHash<QString, Noted> noted;
    const qint64 now = QDeadlineTimer::current().deadline();
    QString said = line;
    {
        const QMutexLocker lock(&mutex);
        const QString key = source + QLatin1Char('\n') + kind;
        if (!noted.contains(key) && noted.size() >= 10000)
            noted.clear(); // a spray of addresses: start afresh rather than grow
        Noted &n = noted[key];
        if (n.at == 0 || now - n.at >= 60000) {
            n.at = now;
            n.said = 0;
        }
        if (n.said >= burst) {
            ++n.unsaid;
            return;
        }
        ++n.said;
        if (n.unsaid > 0)
            said += QStringLiteral(" (%1 more since the last line)").arg(n.unsaid);
        n.unsaid = 0;
    }
    logLine(said);
}

} // namespace vorel::server
