#pragma once
// Where module windows stand in the frame's client area: always wholly
// inside it, whatever the size of the main window.
#include "common/vorelglobal.h"

#include <QRect>

class QMdiSubWindow;

namespace vorel {

// `wanted` when it lies wholly inside an area of `area` size; otherwise the
// same size, cut to the area, at its top left.
VOREL_GUI_EXPORT QRect PlaceInArea(const QSize &area, const QRect &wanted);

// Set on a sub-window that its module window moved to a place of its own.
VOREL_GUI_EXPORT extern const char *const MovedProperty;

// Places a sub-window when it is shown. One the frame would place itself
// (no MovedProperty) goes one title-bar step below and right of the
// active window, the cascade the frame's menu makes; one that was moved
// keeps its place. Either goes back to the top left when it would leave
// the visible area.
VOREL_GUI_EXPORT void PlaceSubWindow(QMdiSubWindow *sub);

} // namespace vorel
