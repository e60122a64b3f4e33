// Processes, program files and standard input on Windows: what the updater
// needs of the system. Built into vorelcore and into the updater.
#include "common/platform.h"

#include <QFile>
#include <QThread>

#include <windows.h>

namespace vorel::platform {

namespace detail {
// The system's own words for an error code, without the trailing line end.
QString windowsErrorText(unsigned long code)
{
    wchar_t *text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                         | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString out = n && text ? QString::fromWCharArray(text, int(n)).trimmed() : QString();
    if (text)
        ::LocalFree(text);
    if (out.isEmpty())
        out = QStringLiteral("error %1").arg(code);
    else
        out += QStringLiteral(" (%1)").arg(code);
    return out;
}

std::wstring nativePath(const QString &path)
{
    return QString(path).replace(u'/', u'\\').toStdWString();
}
} // namespace detail

QString ProgramSuffix()
{
    return QStringLiteral(".exe");
}

bool ProcessRunning(qint64 pid)
{
    if (pid <= 0 || pid > 0xffffffffLL)
        return false;
    HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process) {
        // No such process; one we may not open still runs.
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    }
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

namespace {
// The machine a PE file's header names, 0 when the head is not one of a
// program (a library's header says so, and it starts nothing).
quint16 programMachine(const QByteArray &image)
{
    const auto u16 = [&](qsizetype at) {
        return quint16(uchar(image.at(at)) | uchar(image.at(at + 1)) << 8);
    };
    if (image.size() < 0x40 || !image.startsWith("MZ"))
        return 0;
    const quint32 pe = quint32(u16(0x3c)) | quint32(u16(0x3e)) << 16;
    if (pe > quint32(image.size()) - 24 || image.mid(pe, 4) != QByteArray("PE\0\0", 4))
        return 0;
    const quint16 characteristics = u16(qsizetype(pe) + 22);
    if (!(characteristics & IMAGE_FILE_EXECUTABLE_IMAGE) || (characteristics & IMAGE_FILE_DLL))
        return 0;
    return u16(qsizetype(pe) + 4);
}

// Where the PE header of a file sits; past this the head is not a program.
constexpr qint64 MaxHeadBytes = 64 * 1024;
} // namespace

bool IsProgramForThisSystem(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const quint16 machine = programMachine(file.read(MaxHeadBytes));
    if (!machine)
        return false;
    const auto *own = reinterpret_cast<const char *>(::GetModuleHandleW(nullptr));
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(own);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(own + dos->e_lfanew);
    return machine == nt->FileHeader.Machine;
}

QString ReplaceFileWith(const QString &from, const QString &to)
{
    const std::wstring source = detail::nativePath(from);
    const std::wstring target = detail::nativePath(to);
    HANDLE file = ::CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return detail::windowsErrorText(::GetLastError());
    const bool flushed = ::FlushFileBuffers(file);
    const DWORD flushError = ::GetLastError();
    ::CloseHandle(file);
    if (!flushed)
        return detail::windowsErrorText(flushError);
    // A program that has just ended, or a scanner looking at the new file,
    // holds it a moment longer; a program still running holds it for good.
    DWORD error = 0;
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return QString();
        error = ::GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
            break;
        QThread::msleep(100);
    }
    return detail::windowsErrorText(error);
}

qint64 ReadStandardInput(char *buffer, qint64 size, QString *error)
{
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE)
        return 0;
    DWORD n = 0;
    if (::ReadFile(input, buffer, DWORD(qMin<qint64>(size, 1 << 30)), &n, nullptr))
        return qint64(n);
    const DWORD code = ::GetLastError();
    if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF)
        return 0;
    if (error)
        *error = detail::windowsErrorText(code);
    return -1;
}

} // namespace vorel::platform
