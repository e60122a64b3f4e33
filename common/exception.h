#pragma once
#include "common/vorelglobal.h"

#include <QString>
#include <QByteArray>
#include <exception>

namespace vorel {

// The one failure kind of the system: an exception carrying the message text
// that a handler shows unchanged (server errors keep the server's text).
class VOREL_CORE_EXPORT Exception : public std::exception
{
public:
    explicit Exception(QString message);
    ~Exception() override;
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

} // namespace vorel
