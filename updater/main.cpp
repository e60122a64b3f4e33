// Puts a downloaded shell in place of the old one and starts it again.
//
// The shell leaves the new executable as "newver" in its working folder,
// starts this program from there without arguments and ends. We learn which
// process to wait for and which file to replace from the environment:
//   VOREL_SHELL_PID   the shell's process id (waited for, at most a while)
//   VOREL_SHELL_FILE  the shell's file ("Vorel7" in the working folder when unset)
//   VOREL_NEW_VERSION the version text of the shell in "newver"
// When the new shell cannot be put in place, the old one is started again and
// finds why in "newver.rechazo" (the version refused and the reason), so that
// it tells the user and does not fetch that version again.
// The new file replaces the old one in a single rename, so whatever happens
// the shell's file is either the old program or the complete new one.
#include "common/platform.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QProcess>
#include <QString>
#include <QTemporaryFile>
#include <QThread>

#include <cstdio>

namespace {

namespace platform = vorel::platform;

const char *const NewVersionFile = "newver";
const char *const RefusalFile = "newver.rechazo";
const char *const DefaultShellFile = "Vorel7";
constexpr int ShellExitWaitMs = 30000;
constexpr qint64 MaxShellBytes = qint64(1) << 30;

void say(const QString &text)
{
    std::fprintf(stderr, "vorel-updater: %s\n", text.toLocal8Bit().constData());
}

void waitForShell()
{
    bool ok = false;
    const qint64 pid = qEnvironmentVariable("VOREL_SHELL_PID").toLongLong(&ok);
    if (!ok || pid <= 0 || pid == QCoreApplication::applicationPid())
        return;
    QDeadlineTimer deadline(ShellExitWaitMs);
    while (platform::ProcessRunning(pid)) {
        if (deadline.hasExpired()) {
            // Where a running program may be renamed over, the old process
            // keeps its image and the next start gets the new one; where the
            // system locks it, the replacement fails and says so.
            say(QStringLiteral("el proceso %1 sigue activo; se continua").arg(pid));
            return;
        }
        QThread::msleep(100);
    }
}

// Checks "newver" and puts it in place of `shell`. Empty when done, else why not.
QString replaceShell(const QString &shell)
{
    QFile source(QString::fromLatin1(NewVersionFile));
    if (!source.exists())
        return QStringLiteral("no existe \"newver\"");
    if (!source.open(QIODevice::ReadOnly))
        return QStringLiteral("no se puede leer \"newver\": ") + source.errorString();
    if (source.size() == 0)
        return QStringLiteral("\"newver\" esta vacio");
    if (source.size() > MaxShellBytes)
        return QStringLiteral("\"newver\" es demasiado grande");
    if (!platform::IsProgramForThisSystem(source.fileName()))
        return QStringLiteral("\"newver\" no es un programa de esta plataforma");

    const QFileInfo target(shell);
    // The copy is closed before it replaces the shell: Windows renames no
    // file that is open, and a temporary file stays open until destroyed.
    QString copy;
    {
        QTemporaryFile temp(target.absolutePath() + QStringLiteral("/.") + target.fileName()
                            + QStringLiteral(".XXXXXX"));
        temp.setAutoRemove(true);
        if (!temp.open())
            return QStringLiteral("no se puede crear un archivo en ") + target.absolutePath() + QStringLiteral(": ")
                   + temp.errorString();
        char buffer[64 * 1024];
        for (;;) {
            const qint64 n = source.read(buffer, sizeof buffer);
            if (n < 0)
                return QStringLiteral("no se puede leer \"newver\": ") + source.errorString();
            if (n == 0)
                break;
            if (temp.write(buffer, n) != n)
                return QStringLiteral("no se puede escribir: ") + temp.errorString();
        }
        if (!temp.flush())
            return QStringLiteral("no se puede escribir: ") + temp.errorString();
        const QFileDevice::Permissions exec = QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                              | QFileDevice::ExeOwner | QFileDevice::ReadUser
                                              | QFileDevice::WriteUser | QFileDevice::ExeUser
                                              | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                              | QFileDevice::ReadOther | QFileDevice::ExeOther;
        if (!temp.setPermissions(exec))
            return QStringLiteral("no se pueden cambiar los permisos: ") + temp.errorString();
        copy = temp.fileName();
        temp.setAutoRemove(false);
    }
    const QString refused = platform::ReplaceFileWith(copy, target.absoluteFilePath());
    if (!refused.isEmpty()) {
        QFile::remove(copy);
        return QStringLiteral("no se puede reemplazar ") + QDir::toNativeSeparators(target.absoluteFilePath())
               + QStringLiteral(": ") + refused;
    }
    source.close();
    QFile::remove(QString::fromLatin1(NewVersionFile));
    return {};
}

// Whole or not at all: the shell must never read half a refusal.
void leaveRefusal(const QString &reason)
{
    QJsonObject o;
    o.insert(QStringLiteral("version"), qEnvironmentVariable("VOREL_NEW_VERSION"));
    o.insert(QStringLiteral("motivo"), reason);
    QSaveFile f(QString::fromLatin1(RefusalFile));
    if (!f.open(QIODevice::WriteOnly) || f.write(QJsonDocument(o).toJson()) < 0 || !f.commit())
        say(QStringLiteral("no se puede escribir \"%1\": %2").arg(QString::fromLatin1(RefusalFile), f.errorString()));
}

} // namespace

int main()
{
    QString shell = qEnvironmentVariable("VOREL_SHELL_FILE");
    if (shell.isEmpty())
        shell = QDir::current().absoluteFilePath(QString::fromLatin1(DefaultShellFile) + platform::ProgramSuffix());

    waitForShell();
    const QString failure = replaceShell(shell);
    if (!failure.isEmpty()) {
        say(failure + QStringLiteral("; se mantiene la version anterior"));
        leaveRefusal(failure);
    } else {
        QFile::remove(QString::fromLatin1(RefusalFile));
    }

    if (!QProcess::startDetached(shell, {}, QDir::currentPath())) {
        say(QStringLiteral("no se puede iniciar ") + shell);
        return 1;
    }
    return failure.isEmpty() ? 0 : 1;
}
