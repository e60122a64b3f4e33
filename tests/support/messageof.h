#pragma once
// The message of the failure a piece of code throws, for comparing it.
#include "common/exception.h"

#include <QString>
#include <functional>

namespace vorel::test {

inline QString messageOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const vorel::Exception &e) {
        return e.message();
    }
    return QStringLiteral("<no exception>");
}

} // namespace vorel::test
