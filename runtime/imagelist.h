#pragma once
#include "common/vorelglobal.h"

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QVector>

namespace vorel {

// The shell's shared 16 x 16 image list (ImgBoton). Menus and toolbars of
// every deliverable draw from it by index.
class VOREL_GUI_EXPORT TImageList : public QObject
{
    Q_OBJECT
public:
    explicit TImageList(QObject *owner = nullptr);
    int Count() const { return int(m_images.size()); }
    void Clear();
    // Loads a bitmap file as one image; pixels of `transparent` become
    // transparent. A file that is not an image, or one of more than 1024
    // pixels a side, still takes its index (as an empty image), so indexes
    // keep following the file order.
    bool AddBitmapFile(const QString &path, const QColor &transparent);
    void Add(const QPixmap &pixmap);
    QPixmap Pixmap(int index) const; // null for an index out of range
    QIcon Icon(int index) const;     // empty icon for an index out of range

Q_SIGNALS:
    void Changed();

private:
    QVector<QPixmap> m_images;
};

} // namespace vorel
