#pragma once
#include "common/vorelglobal.h"

#include <QStringList>

namespace vorel {

// A multi-line SQL text under assembly. Its text is every line followed by
// CR LF, the last one included: the server and the trace see exactly that.
class VOREL_CORE_EXPORT TSqlLines
{
public:
    void Clear() { m_lines.clear(); }
    void Add(const QString &line) { m_lines.append(line); }
    TSqlLines &operator<<(const QString &line) { m_lines.append(line); return *this; }
    int Count() const { return int(m_lines.size()); }
    const QStringList &Lines() const { return m_lines; }
    QString Text() const;

private:
    QStringList m_lines;
};

} // namespace vorel
