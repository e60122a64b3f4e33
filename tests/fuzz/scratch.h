#pragma once
// The file a file-reading target hands each input over in: one per process,
// since several fuzzing jobs may share a folder (VOREL_FUZZ_TMP).
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace vorel::fuzz {

class ScratchFile
{
public:
    // Call from LLVMFuzzerInitialize.
    void Choose(const char *prefix, const char *suffix)
    {
        const QString dir = qEnvironmentVariable("VOREL_FUZZ_TMP", QDir::tempPath());
        m_path = QDir(dir).filePath(QStringLiteral("%1-%2%3").arg(QLatin1String(prefix)).arg(getpid()).arg(
            QLatin1String(suffix)));
    }
    // Writes the input as the whole file and returns its path.
    const QString &Write(const uint8_t *data, size_t size) const
    {
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), qint64(size));
        file.close();
        return m_path;
    }

private:
    QString m_path;
};

} // namespace vorel::fuzz
