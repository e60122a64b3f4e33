#include "data/tlscontext.h"

#include <QtNetwork/private/qsslsocket_p.h>

namespace vorel {

void TlsSharedContext::lend(QSslSocket *socket) const
{
    if (m_context)
        QSslSocketPrivate::checkSettingSslContext(socket, m_context);
}

void TlsSharedContext::keep(QSslSocket *socket)
{
    if (!m_context)
        m_context = QSslSocketPrivate::sslContext(socket);
}

} // namespace vorel
