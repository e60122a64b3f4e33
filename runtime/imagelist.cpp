// The shared 16 x 16 image list.
#include "runtime/imagelist.h"

#include <QImage>
#include <QGuiApplication>
#include <QImageReader>
#include <QScreen>

namespace vorel {

namespace {
constexpr int kSide = 16;
// A button file holds one 16 x 16 image, at most a strip of a few. A header
// that claims far more is no button: loading it would cost every start-up
// hundreds of megabytes and seconds of scaling for one slot.
constexpr int kMaxSide = 1024;
constexpr int kMaxImageMegabytes = 16;
}

TImageList::TImageList(QObject *owner)
    : QObject(owner)
{
}

void TImageList::Clear()
{
    if (m_images.isEmpty())
        return;
    m_images.clear();
    Q_EMIT Changed();
}

bool TImageList::AddBitmapFile(const QString &path, const QColor &transparent)
{
    QImageReader reader(path);
    reader.setAllocationLimit(kMaxImageMegabytes);
    const QSize size = reader.size();
    QImage image;
    if (!size.isValid() || (size.width() <= kMaxSide && size.height() <= kMaxSide))
        image = reader.read();
    if (image.isNull() || image.width() > kMaxSide || image.height() > kMaxSide) {
        // Keeps its slot: the indexes of the images after it must not move.
        QPixmap empty(kSide, kSide);
        empty.fill(Qt::transparent);
        Add(empty);
        return false;
    }
    image = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = transparent.rgb() & 0x00FFFFFF;
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((line[x] & 0x00FFFFFF) == key)
                line[x] = 0;
        }
    }
    if (image.width() != kSide || image.height() != kSide)
        image = image.scaled(kSide, kSide, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    Add(QPixmap::fromImage(image));
    return true;
}

void TImageList::Add(const QPixmap &pixmap)
{
    m_images.append(pixmap);
    Q_EMIT Changed();
}

QPixmap TImageList::Pixmap(int index) const
{
    if (index < 0 || index >= m_images.size())
        return QPixmap();
    return m_images.at(index);
}

QIcon TImageList::Icon(int index) const
{
    const QPixmap p = Pixmap(index);
    if (p.isNull())
        return QIcon();
    QIcon icon(p);
    // At 150 % or 200 % the icon would be scaled smoothly from 16 pixels
    // each time it is drawn, and blur. It carries copies scaled once, pixel
    // for pixel, for the scale factors of the screens: the toolkit then
    // draws the one that fits without scaling again.
    const QImage image = p.toImage();
    QList<qreal> ratios{1.5, 2.0};
    for (const QScreen *screen : QGuiApplication::screens())
        ratios << screen->devicePixelRatio();
    QList<int> sides{kSide};
    for (const qreal ratio : std::as_const(ratios)) {
        const int side = qRound(kSide * ratio);
        if (sides.contains(side))
            continue;
        sides << side;
        QPixmap sharp = QPixmap::fromImage(image.scaled(side, side, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        icon.addPixmap(sharp);
    }
    return icon;
}

} // namespace vorel
