#include "shell/fsplash.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

namespace vorel::shell {

TFSplash::TFSplash()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("FSplash"));
    setFixedSize(402, 69);
}

void TFSplash::SetCaption(const QString &text)
{
    setWindowTitle(text);
}

void TFSplash::ShowNow()
{
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect r = screen->availableGeometry();
        move(r.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TFSplash::HideNow()
{
    if (isVisible())
        hide();
}

} // namespace vorel::shell
