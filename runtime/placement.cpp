#include "runtime/placement.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStyle>

namespace vorel {

const char *const MovedProperty = "vorelMovedTo";

QRect PlaceInArea(const QSize &area, const QRect &wanted)
{
    const QRect inside(QPoint(0, 0), area);
    if (inside.contains(wanted))
        return wanted;
    return QRect(QPoint(0, 0), wanted.size().boundedTo(area));
}

void PlaceSubWindow(QMdiSubWindow *sub)
{
    QMdiArea *area = sub ? sub->mdiArea() : nullptr;
    if (!area)
        return;
    const QSize visible = area->viewport()->size();
    if (visible.isEmpty())
        return;
    QRect wanted = sub->geometry();
    if (!sub->property(MovedProperty).toBool()) {
        wanted.moveTopLeft(QPoint(0, 0));
        // The window active until now; the frame may not be the active
        // window of the desktop, so the last one activated.
        QMdiSubWindow *before = nullptr;
        for (QMdiSubWindow *other : area->subWindowList(QMdiArea::ActivationHistoryOrder))
            if (other != sub && other->isVisible())
                before = other;
        if (before) {
            const int step = sub->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, sub);
            wanted.moveTopLeft(before->pos() + QPoint(step, step));
        }
    }
    const QRect place = PlaceInArea(visible, wanted);
    if (place.size() != sub->size())
        sub->resize(place.size());
    sub->move(place.topLeft());
}

} // namespace vorel
