#pragma once
// The file dialogs of module windows, answerable by tests: a hook sees the
// configured dialog instead of it being shown and returns the chosen file.
#include "common/vorelglobal.h"

#include <QString>
#include <functional>

class QFileDialog;

namespace vorel::ui {

// Returns the chosen file, or an empty text for a cancelled dialog.
using FileDialogHook = std::function<QString(QFileDialog &dialog)>;
VOREL_GUI_EXPORT void SetFileDialogHook(FileDialogHook hook);
// Runs the dialog (or the hook); true with *file set when a file was chosen.
VOREL_GUI_EXPORT bool ExecFileDialog(QFileDialog &dialog, QString *file);

} // namespace vorel::ui
