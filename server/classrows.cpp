#include "server/classrows.h"
#include "server/oraerrors.h"
#include <QRegularExpression>

namespace vorel::server {

std::optional<ClassRowsCall> parseClassRowsCall(const QString &sql)
{
    static const QRegularExpression re(
        QStringLiteral(R"(^\s*select\s+\*\s+from\s+table\s*\(\s*(?:vorel\s*\.\s*)?p(\w+)\s*\.\s*main\s*\(\s*'([^']*)'\s*\)\s*\)\s*;?\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(sql);
    if (!m.hasMatch())
        return std::nullopt;
    return ClassRowsCall{m.captured(1), m.captured(2)};
}

BoundQuery classRowsQuery(sqlite3 *, const ClassRowsCall &call)
{
    return BoundQuery{QStringLiteral("SELECT * FROM p%1_main").arg(call.classId), {}};
}

} // namespace vorel::server
