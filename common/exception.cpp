#include "common/exception.h"

namespace vorel {

Exception::Exception(QString message)
    : m_message(std::move(message)), m_utf8(m_message.toUtf8())
{
}

Exception::~Exception() = default;

} // namespace vorel
