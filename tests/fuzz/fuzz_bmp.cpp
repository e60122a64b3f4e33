// A button image file as the shell loads it into the shared image list:
// any file takes its slot, as an image or as an empty one.
#include "runtime/imagelist.h"
#include "scratch.h"

#include <QColor>
#include <QGuiApplication>

namespace {

vorel::fuzz::ScratchFile scratch;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    scratch.Choose("button", ".bmp");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    vorel::TImageList images;
    const bool loaded = images.AddBitmapFile(scratch.Write(data, size), QColor(255, 0, 255));
    if (images.Count() != 1)
        std::abort();
    const QPixmap p = images.Pixmap(0);
    if (p.width() != 16 || p.height() != 16)
        std::abort();
    (void)loaded;
    return 0;
}
