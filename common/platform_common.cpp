// What both platforms answer alike, through Qt's own portable layer.
#include "common/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QProcess>

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

bool StartProgram(const QString &path, const QStringList &args)
{
    return QProcess::startDetached(path, args);
}

QString TSettingsStore::normalised(QString path)
{
    while (path.startsWith(u'\\'))
        path.remove(0, 1);
    while (path.endsWith(u'\\'))
        path.chop(1);
    return path;
}

std::optional<QString> TSettingsStore::resolve(const QString &key) const
{
    if (key.startsWith(u'\\'))
        return normalised(key);
    if (key.isEmpty())
        return std::nullopt;
    return m_current.isEmpty() ? normalised(key) : m_current + u'\\' + normalised(key);
}

} // namespace vorel::platform
