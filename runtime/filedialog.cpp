#include "runtime/filedialog.h"

#include <QFileDialog>

namespace vorel::ui {

namespace {
FileDialogHook &hook()
{
    static FileDialogHook h;
    return h;
}
} // namespace

void SetFileDialogHook(FileDialogHook h) { hook() = std::move(h); }

bool ExecFileDialog(QFileDialog &dialog, QString *file)
{
    QString chosen;
    if (hook()) {
        chosen = hook()(dialog);
    } else if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        chosen = dialog.selectedFiles().first();
    }
    if (chosen.isEmpty())
        return false;
    *file = chosen;
    return true;
}

} // namespace vorel::ui
