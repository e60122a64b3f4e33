// What both platforms answer alike, through Qt's own portable layer.
#include "common/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
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

QString ProgramFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(ProgramFile()).absolutePath();
}

QString SystemFolder()
{
    const QString root = qEnvironmentVariable("SystemRoot");
    if (!root.isEmpty())
        return QDir::fromNativeSeparators(root) + QStringLiteral("/System32");
    return QDir(ProgramFolder()).filePath(QStringLiteral("System32"));
}

} // namespace vorel::platform
