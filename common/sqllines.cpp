#include "common/sqllines.h"

namespace vorel {

QString TSqlLines::Text() const
{
    QString text;
    for (const QString &line : m_lines) {
        text += line;
        text += QLatin1String("\r\n");
    }
    return text;
}

} // namespace vorel
