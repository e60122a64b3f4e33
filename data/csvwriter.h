#pragma once
#include "common/vorelglobal.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <memory>

class QIODevice;
class QSaveFile;

namespace vorel {

// Comma-separated text written through a buffer into a temporary file
// beside the target, which replaces the target only on Commit: a failed or
// cancelled export leaves no partial file and an existing file untouched.
// It can also write to a stream or a device that is already open (standard
// output), where Commit flushes what is buffered and Cancel drops it.
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
    // Writes to an open device, which stays open and is not owned.
    TCsvWriter(QIODevice *device, Options options);
    // Writes to a C stream (stdout), through the stream's own buffer so
    // that what else is written there stays in order.
    TCsvWriter(FILE *stream, Options options);
    ~TCsvWriter(); // discards what was not committed
    TCsvWriter(const TCsvWriter &) = delete;
    TCsvWriter &operator=(const TCsvWriter &) = delete;

    QString Path() const { return m_path; }
    // Creates the temporary file (or checks the device is writable); throws
    // vorel::Exception naming the file and the system's reason.
    void Open();
    // One line; a double quote inside a field is written doubled.
    void WriteRow(const QStringList &fields);
    // A line field by field: each Write adds one field, EndRow ends the
    // line. Text given as UTF-8 is copied as it is when it is valid UTF-8
    // (what a QString of it would write back), else it goes through one.
    void WriteField(const QString &text);
    void WriteUtf8(const char *utf8, qsizetype size);
    void WriteInteger(qint64 value);
    // ASCII that never holds a quote, a separator or a line break (the text
    // of a number or a date), copied as it is.
    void WritePlain(const char *ascii, qsizetype size);
    void EndRow();
    // Flushes and renames into place; throws like Open.
    void Commit();
    // Drops the temporary file; the target stays as it was.
    void Cancel();

    // One field as this writer would write it (no separator, no line end).
    static QByteArray Field(const QString &text, Quoting quoting);

    // True when decoding the bytes and encoding them again gives them back:
    // well-formed UTF-8 that does not open with a byte order mark (which
    // decoding drops).
    static bool Utf8RoundTrips(const char *data, qsizetype size);

private:
    void flush();
    void separate();
    void checkOpen() const;
    [[noreturn]] void writeFailed(const QString &why);
    QString m_path;
    Options m_options;
    std::unique_ptr<QSaveFile> m_file;
    std::unique_ptr<QIODevice> m_ownDevice; // the stream's
    QIODevice *m_device = nullptr;          // where the bytes go
    bool m_toFile = true;
    bool m_open = false;
    bool m_rowStarted = false;
    QByteArray m_buffer;
};

} // namespace vorel
