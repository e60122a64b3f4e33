#pragma once
#include "common/vorelglobal.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

class QSaveFile;

namespace vorel {

// Comma-separated text written through a buffer into a temporary file
// beside the target, which replaces the target only on Commit: a failed or
// cancelled export leaves no partial file and an existing file untouched.
// Text is UTF-8 (the locale's encoding here).
class VOREL_CORE_EXPORT TCsvWriter
{
public:
    enum class Quoting {
        All,       // every field between double quotes (the list window's export)
        AsNeeded,  // only fields holding a quote, a separator or a line break
    };
    struct Options {
        Quoting quoting = Quoting::All;
        QByteArray lineEnd = "\r\n";
    };

    explicit TCsvWriter(const QString &path);
    TCsvWriter(const QString &path, Options options);
    ~TCsvWriter(); // discards what was not committed
    TCsvWriter(const TCsvWriter &) = delete;
    TCsvWriter &operator=(const TCsvWriter &) = delete;

    QString Path() const { return m_path; }
    // Creates the temporary file; throws vorel::Exception naming the file
    // and the system's reason.
    void Open();
    // One line; a double quote inside a field is written doubled.
    void WriteRow(const QStringList &fields);
    // Flushes and renames into place; throws like Open.
    void Commit();
    // Drops the temporary file; the target stays as it was.
    void Cancel();

    // One field as this writer would write it (no separator, no line end).
    static QByteArray Field(const QString &text, Quoting quoting);

private:
    void flush();
    QString m_path;
    Options m_options;
    std::unique_ptr<QSaveFile> m_file;
    QByteArray m_buffer;
};

} // namespace vorel
