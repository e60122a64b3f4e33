#pragma once
// Everything the system asks of the operating system beyond Qt, in one place:
// the per-user settings store, dynamic libraries, the system folder, starting
// a program without waiting, and the client's own address. A Windows build
// replaces platform_*.cpp and nothing else.
#include "common/vorelglobal.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

class QFile;

namespace vorel::platform {

// ---- Settings store -------------------------------------------------------
// A per-user store of named string values under keys such as
// "Software\Vorel7" and "Software\Vorel7\PROD". Value names compare without
// regard to case; the name a value was first written under is kept. On
// Windows it is the registry under HKEY_CURRENT_USER. Elsewhere it is one
// file, settings.ini, in the user's configuration folder
// (QStandardPaths::GenericConfigLocation + "/Vorel"), or in the folder named
// by the environment variable VOREL_CONFIG_DIR when set (tests, the demo).
class VOREL_CORE_EXPORT TSettingsStore
{
public:
    TSettingsStore();
    ~TSettingsStore();

    // Where the values are kept: the file's path, or "HKEY_CURRENT_USER".
    static QString StorageFile();

    // Opens `key`; relative to the current key unless it starts with "\".
    // An empty relative key leaves the current key. Returns false when it
    // does not exist and `create` is false.
    bool OpenKey(const QString &key, bool create);
    void CloseKey();
    QString CurrentPath() const { return m_current; }
    bool ValueExists(const QString &name) const;
    QString ReadString(const QString &name) const; // empty when missing
    void WriteString(const QString &name, const QString &value); // saved at once

private:
    void load();
    void save() const;
    // The full path `key` names from the current key (see OpenKey), or
    // nothing when it names the current key itself.
    std::optional<QString> resolve(const QString &key) const;
    static QString normalised(QString path);
    struct Value { QString name; QString value; };
    // key path (lower case) -> value name (lower case) -> value; the file
    // store's copy of its file, unused where the system keeps the values.
    QMap<QString, QMap<QString, Value>> m_keys;
    QMap<QString, QString> m_keyNames; // lower -> as created
    QString m_current;
};

// ---- Dynamic libraries ----------------------------------------------------
// Loads a library by its bare name ("Cambia", "Comun", a class id). Looks in
// the program folder, then the working folder, under the names
// LibraryFileNames() gives (lib<name>.so, <name>.so, <name lower>.dll and
// <name>.dll; on Windows <name>.dll); the first file that loads wins. Loaded libraries stay loaded until the process ends.
// Returns an opaque handle, nullptr when none loads (LastLibraryError() says
// why).
VOREL_CORE_EXPORT void *LoadLibrary(const QString &name);
VOREL_CORE_EXPORT QString LastLibraryError();
// The same, looking in `folder` only.
VOREL_CORE_EXPORT void *LoadLibraryFrom(const QString &folder, const QString &name);
// Exported symbol by exact name; nullptr when missing.
VOREL_CORE_EXPORT void *GetProcAddress(void *library, const char *exportName);
// The file names tried for `name` in one folder, in order.
VOREL_CORE_EXPORT QStringList LibraryFileNames(const QString &name);

// ---- Folders and programs -------------------------------------------------
VOREL_CORE_EXPORT QString ProgramFolder();   // folder of the running executable
VOREL_CORE_EXPORT QString ProgramFile();     // path of the running executable
// "SystemRoot" + "/System32" when that variable is set; otherwise the
// folder "System32" inside the program folder.
VOREL_CORE_EXPORT QString SystemFolder();
// Starts a program in its normal window without waiting; false when it
// could not be started.
VOREL_CORE_EXPORT bool StartProgram(const QString &path, const QStringList &args = {});
// Copies, replacing the target; false on failure.
VOREL_CORE_EXPORT bool CopyFileReplacing(const QString &from, const QString &to);
// The ending of program files: ".exe" on Windows, empty elsewhere.
VOREL_CORE_EXPORT QString ProgramSuffix();

// ---- Programs and files for the updater -----------------------------------
// These also build into the updater itself, which links nothing of ours.
// True while the process `pid` runs (a process that has ended but not yet
// been waited for has ended).
VOREL_CORE_EXPORT bool ProcessRunning(qint64 pid);
// True when the file's head shows a program this system starts: a script,
// or a binary of the running program's own format and machine.
VOREL_CORE_EXPORT bool IsProgramForThisSystem(const QString &path);
// Puts the complete file `from` (written, not yet flushed) in place of `to`
// in one step: flushed to disk first, then renamed over the target, so the
// target is either the old file or the whole new one. Empty when done,
// else why not (the system's own words).
VOREL_CORE_EXPORT QString ReplaceFileWith(const QString &from, const QString &to);
// Reads up to `size` bytes of standard input as they are, line ends
// included; 0 at its end, -1 on an error (`error` says which).
VOREL_CORE_EXPORT qint64 ReadStandardInput(char *buffer, qint64 size, QString *error);

// Files this process creates from now on are readable and writable by
// their owner only, whatever the mask it was started with.
VOREL_CORE_EXPORT void KeepNewFilesPrivate();
// Opens `path` to be written from its start, readable and writable by its
// owner only (an existing file is narrowed to that before it is emptied).
// Refuses a symbolic link, anything but a plain file, and a file with other
// names (hard links) or of another owner: a privileged process must not be
// turned against a file someone else chose. False with *error set.
VOREL_CORE_EXPORT bool OpenPrivateFile(QFile &file, const QString &path, QString *error);

// ---- Memory ---------------------------------------------------------------
// `bytes` of zeroed memory at a 2 MiB boundary, in huge pages where the
// system lends them: touching a fresh page costs a fault, and a block of
// rows is touched from end to end as it arrives. nullptr when refused.
VOREL_CORE_EXPORT void *MapLargeMemory(size_t bytes);
VOREL_CORE_EXPORT void UnmapLargeMemory(void *memory, size_t bytes);

// ---- Network --------------------------------------------------------------
// The first IPv4 address of the host name, dotted; "127.0.0.1" when the
// host has none.
VOREL_CORE_EXPORT QString ClientAddress();

// How soon a connected TCP socket finds its peer gone without a word (a
// line that drops, a NAT that forgets): probes after `idleSeconds` without
// traffic, then every `intervalSeconds`, the connection given up after
// `probes` unanswered; data sent and not acknowledged for `unackedMs` ends
// it too (0 leaves the system's own limit, which is minutes). The system
// then fails the socket's reads and writes.
struct DeadPeerDetection {
    int idleSeconds = 10;
    int intervalSeconds = 5;
    int probes = 3;
    int unackedMs = 25000;
};
// Empty when set, else why not (the system's own words).
VOREL_CORE_EXPORT QString DetectDeadPeer(qintptr socket, const DeadPeerDetection &how);

} // namespace vorel::platform
