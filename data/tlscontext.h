#pragma once
// One TLS context for many connections of one configuration. Qt makes an
// OpenSSL context per socket, and with OpenSSL 3 making one costs about a
// millisecond: the server's listener, which does every handshake, could then
// take no more than a few hundred connections a second, and every client
// connection paid it again. The first connection's context serves the
// others, as Qt's own HTTP client shares one per host. Qt's context is not
// made to start two handshakes at once, so starts take turns; the rest of a
// handshake touches only its own connection's state. This is the one place
// that reaches into Qt's private API.
#include "common/vorelglobal.h"

#include <memory>
#include <mutex>

class QSslContext;
class QSslSocket;

namespace vorel {

class VOREL_CORE_EXPORT TlsSharedContext
{
public:
    enum class Side { Client, Server };
    // Starts the handshake of `socket`, its configuration set, with the
    // context in hand, or keeps the one it makes for the next connections.
    void start(QSslSocket *socket, Side side);
    // The next connection makes a context afresh (a new certificate); the
    // connections started keep theirs.
    void reset();

private:
    std::mutex m_mutex;
    std::shared_ptr<QSslContext> m_context;
};

} // namespace vorel
