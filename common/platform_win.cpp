// The settings store, libraries, folders, programs and the client's address
// on Windows. The store is the registry under HKEY_CURRENT_USER.
#include "common/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>
// windows.h names LoadLibraryW this way; ours is a function of its own.
#undef LoadLibrary

namespace vorel::platform {

namespace detail {
QString windowsErrorText(unsigned long code);
std::wstring nativePath(const QString &path);
} // namespace detail

namespace {

// ---- Registry -------------------------------------------------------------

constexpr const char16_t *RootName = u"HKEY_CURRENT_USER";
// No setting comes near this; a larger value is not one of ours.
constexpr DWORD MaxValueBytes = 1024 * 1024;


std::wstring wide(const QString &s)
{
    return s.toStdWString();
}

class Key
{
public:
    Key() = default;
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    ~Key()
    {
        if (m_key)
            ::RegCloseKey(m_key);
    }
    // The key at `path` under HKEY_CURRENT_USER; the root for an empty one.
    LSTATUS open(const QString &path, REGSAM access)
    {
        return ::RegOpenKeyExW(HKEY_CURRENT_USER, wide(path).c_str(), 0, access, &m_key);
    }
    LSTATUS create(const QString &path)
    {
        return ::RegCreateKeyExW(HKEY_CURRENT_USER, wide(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_READ | KEY_WRITE, nullptr, &m_key, nullptr);
    }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

void warn(const QString &path, const QString &name, const QString &why)
{
    qWarning("%s", qPrintable(QStringLiteral("%1\\%2%3: %4")
                                  .arg(QString::fromUtf16(RootName), path,
                                       name.isNull() ? QString() : QStringLiteral(" \"%1\"").arg(name), why)));
}

// The spelling the registry keeps for an existing key, found part by part
// among each parent's sub-keys; `path` as given where a part is missing.
QString storedSpelling(const QString &path)
{
    QString parent;
    QString out;
    for (const QString &part : path.split(u'\\')) {
        QString found = part;
        Key key;
        if (key.open(parent, KEY_ENUMERATE_SUB_KEYS) == ERROR_SUCCESS) {
            wchar_t name[256];
            for (DWORD i = 0;; ++i) {
                DWORD length = 256;
                const LSTATUS status = ::RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr,
                                                       nullptr);
                if (status == ERROR_MORE_DATA)
                    continue;
                if (status != ERROR_SUCCESS)
                    break;
                const QString candidate = QString::fromWCharArray(name, int(length));
                if (candidate.compare(part, Qt::CaseInsensitive) == 0) {
                    found = candidate;
                    break;
                }
            }
        }
        out = out.isEmpty() ? found : out + u'\\' + found;
        parent = out;
    }
    return out;
}

// A string as stored: the terminating NULs, when present, are not part of it.
QString fromStoredString(const QByteArray &data)
{
    QString s = QString::fromWCharArray(reinterpret_cast<const wchar_t *>(data.constData()),
                                        int(data.size() / qsizetype(sizeof(wchar_t))));
    while (s.endsWith(QChar(u'\0')))
        s.chop(1);
    return s;
}

} // namespace

// ---- Settings store ---------------------------------------------------------

TSettingsStore::TSettingsStore() = default;

TSettingsStore::~TSettingsStore() = default;

QString TSettingsStore::StorageFile()
{
    return QString::fromUtf16(RootName);
}

// The registry keeps the values itself; there is no copy to load or save.
void TSettingsStore::load() {}

void TSettingsStore::save() const {}

bool TSettingsStore::OpenKey(const QString &key, bool create)
{
    const std::optional<QString> target = resolve(key);
    if (!target)
        return true;
    const QString &path = *target;
    if (path.isEmpty()) {
        m_current.clear();
        return true;
    }
    Key k;
    LSTATUS status = k.open(path, KEY_READ);
    if (status == ERROR_FILE_NOT_FOUND && create)
        status = k.create(path);
    if (status != ERROR_SUCCESS) {
        if (status != ERROR_FILE_NOT_FOUND)
            warn(path, QString(), detail::windowsErrorText(status));
        return false;
    }
    m_current = storedSpelling(path);
    return true;
}

void TSettingsStore::CloseKey()
{
    m_current.clear();
}

bool TSettingsStore::ValueExists(const QString &name) const
{
    Key k;
    if (k.open(m_current, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return false;
    return ::RegQueryValueExW(k.get(), wide(name).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

QString TSettingsStore::ReadString(const QString &name) const
{
    Key k;
    if (k.open(m_current, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return QString();
    const std::wstring valueName = wide(name);
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExW(k.get(), valueName.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return QString();
    if (status != ERROR_SUCCESS) {
        warn(m_current, name, detail::windowsErrorText(status));
        return QString();
    }
    if (size > MaxValueBytes) {
        warn(m_current, name, QStringLiteral("valor de %1 bytes, demasiado grande; no se lee").arg(size));
        return QString();
    }
    QByteArray data(qsizetype(size), '\0');
    // The value may change between the two calls; a grown one is refused.
    status = ::RegQueryValueExW(k.get(), valueName.c_str(), nullptr, &type,
                                reinterpret_cast<BYTE *>(data.data()), &size);
    if (status != ERROR_SUCCESS) {
        warn(m_current, name, detail::windowsErrorText(status));
        return QString();
    }
    data.truncate(qsizetype(size));
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return fromStoredString(data);
    // A number someone typed in by hand reads as its decimal text.
    case REG_DWORD:
        if (data.size() == 4)
            return QString::number(qFromLittleEndian<quint32>(data.constData()));
        break;
    case REG_QWORD:
        if (data.size() == 8)
            return QString::number(qFromLittleEndian<quint64>(data.constData()));
        break;
    default:
        break;
    }
    // Left as it is: the value is not ours to overwrite, and the caller
    // carries on as without it.
    warn(m_current, name, QStringLiteral("valor de tipo %1, se esperaba texto (REG_SZ); no se usa").arg(type));
    return QString();
}

void TSettingsStore::WriteString(const QString &name, const QString &value)
{
    Key k;
    const LSTATUS opened = k.create(m_current);
    if (opened != ERROR_SUCCESS) {
        warn(m_current, name, QStringLiteral("no se puede escribir: ") + detail::windowsErrorText(opened));
        return;
    }
    const std::wstring text = wide(value);
    const DWORD bytes = DWORD((text.size() + 1) * sizeof(wchar_t));
    const LSTATUS status = ::RegSetValueExW(k.get(), wide(name).c_str(), 0, REG_SZ,
                                            reinterpret_cast<const BYTE *>(text.c_str()), bytes);
    if (status != ERROR_SUCCESS)
        warn(m_current, name, QStringLiteral("no se puede escribir: ") + detail::windowsErrorText(status));
}

// ---- Dynamic libraries --------------------------------------------------------

namespace {
QString g_lastLibraryError;

QString executablePath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    wchar_t buffer[32768];
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer, DWORD(std::size(buffer)));
    if (n == 0 || n >= std::size(buffer))
        return QString();
    return QDir::fromNativeSeparators(QString::fromWCharArray(buffer, int(n)));
}

void *loadFrom(const QStringList &folders, const QString &name)
{
    g_lastLibraryError.clear();
    if (name.isEmpty()) {
        g_lastLibraryError = QStringLiteral("empty library name");
        return nullptr;
    }
    QStringList errors;
    for (const QString &folder : folders) {
        for (const QString &file : LibraryFileNames(name)) {
            const QString path = QDir(folder).filePath(file);
            if (!QFileInfo::exists(path))
                continue;
            // A library whose own dependencies are missing must fail with an
            // error here, not stop the user with the system's dialog box.
            DWORD oldMode = 0;
            ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
            HMODULE module = ::LoadLibraryW(detail::nativePath(path).c_str());
            const DWORD error = ::GetLastError();
            ::SetThreadErrorMode(oldMode, nullptr);
            // Never freed: windows and code from a library may outlive any caller.
            if (module)
                return module;
            errors << QDir::toNativeSeparators(path) + QStringLiteral(": ") + detail::windowsErrorText(error);
        }
    }
    g_lastLibraryError = errors.isEmpty() ? QStringLiteral("%1: no library file found").arg(name)
                                          : errors.join(QStringLiteral("; "));
    return nullptr;
}
} // namespace

QStringList LibraryFileNames(const QString &name)
{
    // File names compare without regard to case here.
    return {name + QStringLiteral(".dll")};
}

void *LoadLibrary(const QString &name)
{
    QStringList folders{ProgramFolder()};
    const QString work = QDir::currentPath();
    if (QFileInfo(work).canonicalFilePath().compare(QFileInfo(folders.first()).canonicalFilePath(),
                                                    Qt::CaseInsensitive)
        != 0)
        folders << work;
    return loadFrom(folders, name);
}

void *LoadLibraryFrom(const QString &folder, const QString &name)
{
    return loadFrom({folder}, name);
}

QString LastLibraryError()
{
    return g_lastLibraryError;
}

void *GetProcAddress(void *library, const char *exportName)
{
    if (!library || !exportName)
        return nullptr;
    return reinterpret_cast<void *>(::GetProcAddress(static_cast<HMODULE>(library), exportName));
}

// ---- Folders and programs -----------------------------------------------------

QString ProgramFile()
{
    return executablePath();
}

bool CopyFileReplacing(const QString &from, const QString &to)
{
    if (!QFileInfo(from).isFile())
        return false;
    // Copied beside the target first so that a failed copy never leaves the
    // target half written; the move then replaces it in one step.
    const std::wstring temp = detail::nativePath(to + QStringLiteral(".part"));
    if (!::CopyFileW(detail::nativePath(from).c_str(), temp.c_str(), FALSE))
        return false;
    if (!::MoveFileExW(temp.c_str(), detail::nativePath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

QString DetectDeadPeer(qintptr socket, const DeadPeerDetection &how)
{
    const auto s = SOCKET(socket);
    const auto why = [] { return QStringLiteral("error %1 de Winsock").arg(::WSAGetLastError()); };
    const auto set = [s](int level, int name, DWORD value) {
        return ::setsockopt(s, level, name, reinterpret_cast<const char *>(&value), sizeof value) == 0;
    };
#if defined(TCP_KEEPIDLE) && defined(TCP_KEEPINTVL) && defined(TCP_KEEPCNT)
    // Windows 10 1709 and later take the three as socket options; older
    // ones refuse them, and take idle time and interval through the ioctl
    // below with their own count of probes (ten).
    if (!set(SOL_SOCKET, SO_KEEPALIVE, 1))
        return why();
    const bool options = set(IPPROTO_TCP, TCP_KEEPIDLE, DWORD(how.idleSeconds))
                         && set(IPPROTO_TCP, TCP_KEEPINTVL, DWORD(how.intervalSeconds))
                         && set(IPPROTO_TCP, TCP_KEEPCNT, DWORD(how.probes));
#else
    const bool options = false;
#endif
    if (!options) {
        tcp_keepalive values{};
        values.onoff = 1;
        values.keepalivetime = ULONG(how.idleSeconds) * 1000;
        values.keepaliveinterval = ULONG(how.intervalSeconds) * 1000;
        DWORD returned = 0;
        if (::WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr) != 0)
            return why();
    }
#ifdef TCP_MAXRT
    // Whole seconds of retransmission before the connection is given up.
    if (how.unackedMs > 0 && !set(IPPROTO_TCP, TCP_MAXRT, DWORD(qMax(1, how.unackedMs / 1000))))
        return why();
#endif
    return QString();
}

// ---- Memory -------------------------------------------------------------------

void *MapLargeMemory(size_t bytes)
{
    constexpr size_t kHuge = size_t(2) << 20;
    if (bytes == 0 || bytes > SIZE_MAX - kHuge)
        return nullptr;
    // The system hands out 64 KiB boundaries: a range with room to spare is
    // reserved to learn where a 2 MiB boundary falls, given back, and the
    // aligned part taken; another thread may take it between, so a few tries.
    for (int attempt = 0; attempt < 8; ++attempt) {
        void *probe = ::VirtualAlloc(nullptr, bytes + kHuge, MEM_RESERVE, PAGE_NOACCESS);
        if (!probe)
            return nullptr;
        const auto aligned = (reinterpret_cast<uintptr_t>(probe) + kHuge - 1) & ~uintptr_t(kHuge - 1);
        ::VirtualFree(probe, 0, MEM_RELEASE);
        if (void *memory = ::VirtualAlloc(reinterpret_cast<void *>(aligned), bytes, MEM_RESERVE | MEM_COMMIT,
                                          PAGE_READWRITE))
            return memory;
    }
    return nullptr;
}

void UnmapLargeMemory(void *memory, size_t bytes)
{
    if (memory)
        ::VirtualFree(memory, 0, MEM_RELEASE);
}

} // namespace vorel::platform
