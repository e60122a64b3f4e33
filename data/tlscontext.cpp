#include "data/tlscontext.h"

#include <QtNetwork/private/qsslsocket_p.h>

namespace vorel {

void TlsSharedContext::start(QSslSocket *socket, Side side)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_context)
        QSslSocketPrivate::checkSettingSslContext(socket, m_context);
    if (side == Side::Client)
        socket->startClientEncryption();
    else
        socket->startServerEncryption();
    if (!m_context)
        m_context = QSslSocketPrivate::sslContext(socket);
}

void TlsSharedContext::reset()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_context.reset();
}

} // namespace vorel
