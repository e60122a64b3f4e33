// What both platforms answer alike, through Qt's own portable layer.
#include "common/platform.h"

#include <QHostAddress>
#include <QHostInfo>

namespace vorel::platform {

QString ClientAddress()
{
    const QHostInfo info = QHostInfo::fromName(QHostInfo::localHostName());
    for (const QHostAddress &a : info.addresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            return a.toString();
    }
    return QStringLiteral("127.0.0.1");
}

} // namespace vorel::platform
