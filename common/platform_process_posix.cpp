// Processes, program files and standard input on POSIX systems: what the
// updater needs of the system. Built into vorelcore and into the updater.
#include "common/platform.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace vorel::platform {

QString ProgramSuffix()
{
    return QString();
}

bool ProcessRunning(qint64 pid)
{
    if (pid <= 0)
        return false;
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        return false;
    // A zombie waiting for its parent has ended.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        const int close = line.lastIndexOf(')');
        if (close >= 0 && close + 2 < line.size() && line.at(close + 2) == 'Z')
            return false;
    }
    return true;
}

namespace {
constexpr qint64 ElfHeadBytes = 20; // up to and including e_machine
}

bool IsProgramForThisSystem(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(ElfHeadBytes);
    if (head.startsWith("#!"))
        return true;
    if (head.size() < ElfHeadBytes || !head.startsWith("\x7f" "ELF"))
        return false;
    // Same class, byte order and machine as ourselves: a Windows program or
    // one for another processor would install fine and then never start.
    QFile self(QStringLiteral("/proc/self/exe"));
    if (!self.open(QIODevice::ReadOnly))
        return true;
    const QByteArray own = self.read(ElfHeadBytes);
    if (own.size() < ElfHeadBytes)
        return true;
    return head.at(4) == own.at(4) && head.at(5) == own.at(5) && head.mid(18, 2) == own.mid(18, 2);
}

QString ReplaceFileWith(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const int fd = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    const int synced = ::fsync(fd);
    const int syncError = errno;
    ::close(fd);
    if (synced != 0)
        return QString::fromLocal8Bit(std::strerror(syncError));
    if (::rename(source.constData(), QFile::encodeName(to).constData()) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString();
}

qint64 ReadStandardInput(char *buffer, qint64 size, QString *error)
{
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, size_t(size));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
}

} // namespace vorel::platform
