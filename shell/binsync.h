#pragma once
// Keeping the client's binaries current from the database at start-up: the
// self-update check, the button image cache and the module libraries.
#include <QString>
#include <functional>

namespace vorel {
class TClientDataSet;
class TImageList;
namespace platform { class TSettingsStore; }
}

namespace vorel::shell {

struct TSyncContext {
    TClientDataSet *cdsMain = nullptr;
    TClientDataSet *cdsBin = nullptr;
    TImageList *ImgBoton = nullptr;
    // The settings store; for the button cache its current key is already
    // the database's sub-key.
    platform::TSettingsStore *Store = nullptr;
    std::function<void(const QString &)> SetStatus; // caption of the status window, shown
    std::function<void()> HideStatus;
    // Overridable for tests; default to the running executable and its folder.
    QString ShellFile;     // the running shell's file
    QString ProgramFolder; // folder of the shell's executable
    // The self-update check's first query (ShellVersionQuery), opened ahead
    // on the connection of cdsBin; the check runs it itself without one.
    TClientDataSet *ShellVersion = nullptr;
};

// The self-update check's first query: the version of the shell listed.
QString ShellVersionQuery();

// True when an update was started: the caller asks the application to end.
bool SelfUpdateCheck(TSyncContext &ctx);
void ButtonImageCache(TSyncContext &ctx);
void ModuleLibrarySync(TSyncContext &ctx);

} // namespace vorel::shell
