#pragma once
#include <QByteArray>
#include <QString>

namespace vorel::server::demo {

struct ButtonImage {
    int number;
    QString description;
    QString hotKey;   // empty: none
    QByteArray bmp;   // a 16 x 16 24-bit BMP file, magenta background
};

// The toolbar image set, numbered from 0 without gaps.
QList<ButtonImage> buttonImages();

} // namespace vorel::server::demo
