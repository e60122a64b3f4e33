#pragma once
// What assistive technology (screen readers, voice control) is told about
// the buttons of a module window.
#include "common/vorelglobal.h"

class QToolButton;
class QWidget;

namespace vorel {

// Names every button and drop-down below `root` that has no accessible
// name of its own: its caption, or its hint when the caption is empty or
// is only the name of the component.
VOREL_GUI_EXPORT void NameForAssistiveTechnology(QWidget *root);

// A button whose arrow opens a menu offers assistive technology both its
// press and its menu (the toolkit's own interface offers only the menu),
// and keeps the menu with its entries as its child.
VOREL_GUI_EXPORT void SetSplitButtonAccessible(QToolButton *button);

} // namespace vorel
