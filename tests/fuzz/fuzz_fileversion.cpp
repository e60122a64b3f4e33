// The file version reader on any file: start-up runs it on the shell and on
// every module file present, so each input gives a version or none.
#include "common/fileversion.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

QString scratch;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A file of its own per process: several fuzzing jobs may share a folder.
    const QString dir = qEnvironmentVariable("VOREL_FUZZ_TMP", QDir::tempPath());
    scratch = QDir(dir).filePath(QStringLiteral("fileversion-%1.bin").arg(getpid()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QFile file(scratch);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();
    const QString text = vorel::FileVersionText(scratch);
    static const QRegularExpression form(QStringLiteral("^\\d{1,5}\\.\\d{1,5}\\.\\d{1,5}\\.\\d{1,5}$"));
    if (!text.isEmpty() && !form.match(text).hasMatch())
        std::abort();
    return 0;
}
