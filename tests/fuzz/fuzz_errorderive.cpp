// What the error translation derives from a failure's message text and from
// a column comment, for any text.
#include "runtime/errorderive.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace vorel::errors;
    // The text as UTF-8, and the same bytes as UTF-16 so that every code
    // unit (lone surrogates included) turns up.
    const QString utf8 = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString utf16(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));
    for (const QString &text : {utf8, utf16}) {
        const int number = ErrorNumber(text);
        check(number >= 0 && number <= 99999, "error number out of range");
        check(number == 0 || text.contains(QLatin1String("ORA-")), "a number without its tag");

        const QString reference = ConstraintReference(text);
        check(reference.size() <= text.size(), "reference longer than the message");

        const int lines = CommentLineCount(text);
        const QString line = CommentLine(text);
        check(lines >= 0 && lines <= text.size(), "line count out of range");
        check(lines > 0 || line.isEmpty(), "a line of a comment without lines");
        check(!line.contains(QLatin1Char('\n')) && !line.contains(QLatin1Char('\r')), "a line with a break");

        const QString quoted = Quoted(text);
        check(quoted.size() >= text.size() + 2 && quoted.startsWith(QLatin1Char('\''))
                  && quoted.endsWith(QLatin1Char('\'')),
              "not a literal");
        check(quoted.count(QLatin1Char('\'')) == 2 * text.count(QLatin1Char('\'')) + 2, "quotes not doubled");

        const QString appLine = ApplicationErrorLine(text);
        check(!appLine.contains(QLatin1Char('\n')) && !appLine.contains(QLatin1Char('\r')),
              "an application line with a break");
        check(appLine.isEmpty() || text.contains(QLatin1String("ORA-")), "an application line without its tag");
    }
    return 0;
}
