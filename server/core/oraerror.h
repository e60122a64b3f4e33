#pragma once
#include "server/core/oramessages.h"
#include <QByteArray>
#include <QString>
#include <exception>

namespace vorel::server {

// A database failure worded as Oracle words it (a message of oramessages.h
// with its names and detail); the client receives the text as is.
class OraError : public std::exception
{
public:
    explicit OraError(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

} // namespace vorel::server
