#include "server/core/backend.h"

#include <QFile>

namespace vorel::server {

QString Backend::readScripts(const QList<InitScript> &scripts, QStringList *texts)
{
    for (const InitScript &script : scripts) {
        QFile f(script.path);
        if (!f.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot read %1: %2").arg(script.path, f.errorString());
        *texts << QString::fromUtf8(f.readAll());
    }
    return {};
}

} // namespace vorel::server
