#pragma once
// One TLS context for many connections of one configuration. Qt makes an
// OpenSSL context per socket, and with OpenSSL 3 making one costs about a
// millisecond: the server's listener, which does every handshake, could then
// take no more than a few hundred connections a second, and every client
// connection paid it again. The first connection's context serves the
// others, as Qt's own HTTP client shares one per host. Handshakes that share
// a context must start on one thread (the server's listener; a client
// thread). This is the one place that reaches into Qt's private API.
#include "common/vorelglobal.h"

#include <memory>

class QSslContext;
class QSslSocket;

namespace vorel {

class VOREL_CORE_EXPORT TlsSharedContext
{
public:
    // Before `socket` starts its handshake, its configuration set: gives it
    // the context in hand.
    void lend(QSslSocket *socket) const;
    // After its handshake started: keeps its context for the next ones.
    void keep(QSslSocket *socket);

private:
    std::shared_ptr<QSslContext> m_context;
};

} // namespace vorel
