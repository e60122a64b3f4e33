#pragma once
// The user-facing side shared by every deliverable: message boxes, the
// application-level error handler, and the shell's main window as the
// libraries see it. Tests install a hook that answers message boxes.
#include "common/vorelglobal.h"

#include <QString>
#include <exception>
#include <functional>

class QLabel;
class QLineEdit;
class QMainWindow;
class QMdiArea;
class QWidget;

namespace vorel::ui {

enum class Kind { Message, Confirm, Error };
enum class Answer { Ok, Yes, No };

// A hook sees every message box before it is shown; it returns the answer
// instead of showing it. Install nullptr to show real boxes again.
using MessageHook = std::function<Answer(Kind kind, const QString &title, const QString &text)>;
VOREL_GUI_EXPORT void SetMessageHook(MessageHook hook);

// Plain message box, one OK button, titled with the application title.
VOREL_GUI_EXPORT void ShowMessage(const QString &text);
// Title "Confirmar", Yes and No buttons, question icon; true on Yes.
VOREL_GUI_EXPORT bool Confirm(const QString &text);
// The application-level error report: the failure's message in a box with
// the error icon. Used for every failure that no handler of its own catches.
VOREL_GUI_EXPORT void HandleException(const std::exception &e);
VOREL_GUI_EXPORT QString MessageOf(const std::exception &e);
// The report of a failure that is not an exception object of ours.
VOREL_GUI_EXPORT void HandleUnknownException();

// Runs an event handler; a failure that escapes it is reported by
// HandleException and abandons the action (Qt's event loop must never see
// an exception).
template <class F>
void Guarded(F &&f)
{
    try {
        f();
    } catch (const std::exception &e) {
        HandleException(e);
    } catch (...) {
        HandleUnknownException();
    }
}

// Texts from the server or the user are never markup: a label shows them
// as plain text, and a tool tip gets them escaped when they look like markup.
VOREL_GUI_EXPORT void PlainLabel(QLabel *label);
VOREL_GUI_EXPORT QString PlainToolTip(const QString &text);

// A line edit takes so many characters and cuts what goes beyond. One that
// is full may hold a cut text: it is refused with this message (empty when
// the edit is not full) rather than used.
VOREL_GUI_EXPORT QString CutTextMessage(const QLineEdit *edit);

// Password fields show every character typed as "*".
VOREL_GUI_EXPORT void MaskTyping(QLineEdit *edit);

// The executable's file name without extension ("Vorel7").
VOREL_GUI_EXPORT QString ApplicationTitle();

// The shell registers its frame; libraries put their windows into its MDI
// area and the gateway reads the active child.
VOREL_GUI_EXPORT void SetMainWindow(QMainWindow *frame, QMdiArea *area);
VOREL_GUI_EXPORT QMainWindow *MainWindow();
VOREL_GUI_EXPORT QMdiArea *MdiArea();
// The widget of the active MDI child window, nullptr when none.
VOREL_GUI_EXPORT QWidget *ActiveMdiChild();

} // namespace vorel::ui
