// A button image file as the shell loads it into the shared image list:
// any file takes its slot, as an image or as an empty one.
#include "runtime/imagelist.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

QString scratch;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    const QString dir = qEnvironmentVariable("VOREL_FUZZ_TMP", QDir::tempPath());
    scratch = QDir(dir).filePath(QStringLiteral("button-%1.bmp").arg(getpid()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QFile file(scratch);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();
    vorel::TImageList images;
    const bool loaded = images.AddBitmapFile(scratch, QColor(255, 0, 255));
    if (images.Count() != 1)
        std::abort();
    const QPixmap p = images.Pixmap(0);
    if (p.width() != 16 || p.height() != 16)
        std::abort();
    (void)loaded;
    return 0;
}
