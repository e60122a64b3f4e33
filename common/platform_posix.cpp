// Libraries, folders, programs and the client's address on POSIX systems.
#include "common/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorel::platform {

namespace {
QString g_lastLibraryError;

QString executablePath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    // Before the application object exists Qt cannot say; the kernel can.
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0)
        return QString();
    buf[n] = '\0';
    return QString::fromLocal8Bit(buf);
}
} // namespace

QStringList LibraryFileNames(const QString &name)
{
    return {QStringLiteral("lib") + name + QStringLiteral(".so"), name + QStringLiteral(".so"),
            name.toLower() + QStringLiteral(".dll"), name + QStringLiteral(".dll")};
}

namespace {
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
            // Global symbols: the libraries share the one copy of the runtime
            // and Qt already in the process. Never closed: windows and code
            // from a library may outlive any caller.
            void *handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_GLOBAL);
            if (handle)
                return handle;
            const char *why = ::dlerror();
            errors << (why ? QString::fromLocal8Bit(why) : path);
        }
    }
    g_lastLibraryError = errors.isEmpty() ? QStringLiteral("%1: no library file found").arg(name)
                                          : errors.join(QStringLiteral("; "));
    return nullptr;
}
} // namespace

void *LoadLibrary(const QString &name)
{
    QStringList folders{ProgramFolder()};
    const QString work = QDir::currentPath();
    if (QFileInfo(work).canonicalFilePath() != QFileInfo(folders.first()).canonicalFilePath())
        folders << work;
    return loadFrom(folders, name);
}

void *LoadLibraryFrom(const QString &folder, const QString &name) { return loadFrom({folder}, name); }

QString LastLibraryError()
{
    return g_lastLibraryError;
}

void *GetProcAddress(void *library, const char *exportName)
{
    if (!library || !exportName)
        return nullptr;
    ::dlerror();
    return ::dlsym(library, exportName);
}

QString ProgramFile()
{
    return executablePath();
}

bool CopyFileReplacing(const QString &from, const QString &to)
{
    if (!QFileInfo(from).isFile())
        return false;
    // Copy beside the target first so a failed copy never leaves the target
    // half written; the rename then replaces it in one step (also a running
    // executable, whose old image stays with the process).
    const QString temp = to + QStringLiteral(".part");
    QFile::remove(temp);
    if (!QFile::copy(from, temp))
        return false;
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(to).constData()) != 0) {
        QFile::remove(temp);
        return false;
    }
    return true;
}

QString DetectDeadPeer(qintptr socket, const DeadPeerDetection &how)
{
    const int fd = int(socket);
    const auto set = [fd](int level, int name, int value) {
        return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
    };
    if (!set(SOL_SOCKET, SO_KEEPALIVE, 1) || !set(IPPROTO_TCP, TCP_KEEPIDLE, how.idleSeconds)
        || !set(IPPROTO_TCP, TCP_KEEPINTVL, how.intervalSeconds) || !set(IPPROTO_TCP, TCP_KEEPCNT, how.probes)
        || !set(IPPROTO_TCP, TCP_USER_TIMEOUT, how.unackedMs))
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString();
}

void *MapLargeMemory(size_t bytes)
{
    constexpr size_t kHuge = size_t(2) << 20;
    // Mapped with room to spare so that a 2 MiB boundary falls inside, and
    // the spare ends given back: a huge page needs its whole aligned range.
    const size_t span = bytes + kHuge;
    void *mapped = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + kHuge - 1) & ~uintptr_t(kHuge - 1);
    if (aligned > start)
        ::munmap(mapped, aligned - start);
    const uintptr_t end = start + span;
    const size_t length = (bytes + size_t(::sysconf(_SC_PAGESIZE)) - 1) & ~size_t(::sysconf(_SC_PAGESIZE) - 1);
    if (end > aligned + length)
        ::munmap(reinterpret_cast<void *>(aligned + length), end - (aligned + length));
#ifdef MADV_HUGEPAGE
    // Only advice: without it the pages are ordinary ones.
    ::madvise(reinterpret_cast<void *>(aligned), length, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void *>(aligned);
}

void UnmapLargeMemory(void *memory, size_t bytes)
{
    if (!memory)
        return;
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    ::munmap(memory, (bytes + page - 1) & ~(page - 1));
}

void KeepNewFilesPrivate()
{
    const mode_t before = ::umask(0077);
    ::umask(before | 0077);
}

bool OpenPrivateFile(QFile &file, const QString &path, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    // Not emptied at the open: what it is is checked first. Non-blocking, so
    // that a FIFO put in its place cannot hold the process up.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        *error =
            errno == ELOOP ? QStringLiteral("it is a symbolic link") : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    auto refuse = [&](const QString &why) {
        ::close(fd);
        *error = why;
        return false;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(st.st_mode))
        return refuse(QStringLiteral("it is not a plain file"));
    if (st.st_nlink != 1)
        return refuse(QStringLiteral("it has other names (hard links)"));
    if (st.st_uid != ::geteuid())
        return refuse(QStringLiteral("it belongs to another user"));
    if (::fchmod(fd, 0600) != 0 || ::ftruncate(fd, 0) != 0)
        return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return refuse(file.errorString());
    return true;
}

} // namespace vorel::platform
