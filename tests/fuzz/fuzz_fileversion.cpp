// The file version reader on any file: start-up runs it on the shell and on
// every module file present, so each input gives a version or none.
#include "common/fileversion.h"
#include "scratch.h"

#include <QRegularExpression>

namespace {

vorel::fuzz::ScratchFile scratch;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    scratch.Choose("fileversion", ".bin");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = vorel::FileVersionText(scratch.Write(data, size));
    static const QRegularExpression form(QStringLiteral("^\\d{1,5}\\.\\d{1,5}\\.\\d{1,5}\\.\\d{1,5}$"));
    if (!text.isEmpty() && !form.match(text).hasMatch())
        std::abort();
    return 0;
}
