#include "data/csvwriter.h"

#include "common/exception.h"

#include <QFile>
#include <QSaveFile>
#include <charconv>
#include <cstring>

namespace vorel {

namespace {

// Large enough that a big export costs few system calls, small enough that
// memory stays flat however many rows are written.
constexpr qsizetype kFlushSize = 64 * 1024;

// The characters that force quotes are ASCII, so the UTF-8 bytes tell.
bool needsQuotes(const char *data, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '"' || c == ',' || c == '\r' || c == '\n')
            return true;
    }
    return false;
}

void appendField(QByteArray &out, const char *data, qsizetype size, TCsvWriter::Quoting quoting)
{
    if (quoting == TCsvWriter::Quoting::AsNeeded && !needsQuotes(data, size)) {
        out.append(data, size);
        return;
    }
    out.append('"');
    const char *end = data + size;
    while (data < end) {
        const char *quote = static_cast<const char *>(std::memchr(data, '"', size_t(end - data)));
        if (!quote) {
            out.append(data, end - data);
            break;
        }
        // The quote itself, then once more.
        out.append(data, quote - data + 1);
        out.append('"');
        data = quote + 1;
    }
    out.append('"');
}

} // namespace

TCsvWriter::TCsvWriter(const QString &path) : TCsvWriter(path, Options{}) {}

TCsvWriter::TCsvWriter(const QString &path, Options options) : m_path(path), m_options(std::move(options)) {}

TCsvWriter::TCsvWriter(QIODevice *device, Options options)
    : m_options(std::move(options)), m_device(device), m_toFile(false)
{
}

TCsvWriter::TCsvWriter(FILE *stream, Options options) : m_options(std::move(options)), m_toFile(false)
{
    auto file = std::make_unique<QFile>();
    // Left closed when the stream is unusable; Open() then says so.
    if (stream && file->open(stream, QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
        m_device = file.get();
    m_ownDevice = std::move(file);
}

TCsvWriter::~TCsvWriter() { Cancel(); }

void TCsvWriter::Open()
{
    Cancel();
    if (!m_toFile) {
        if (!m_device || !m_device->isOpen() || !m_device->isWritable())
            throw Exception(QStringLiteral("No se puede escribir en la salida: no está abierta"));
        m_open = true;
        return;
    }
    // The system ends a file name at a NUL: the file would go elsewhere.
    if (m_path.contains(QChar(0)))
        throw Exception(QStringLiteral("No se puede crear el archivo %1: el nombre contiene el carácter nulo")
                            .arg(QString(m_path).replace(QChar(0), QLatin1Char('?'))));
    auto file = std::make_unique<QSaveFile>(m_path);
    // Writing straight into the target would leave half a file behind a
    // failure; without a temporary file beside it there is no export.
    file->setDirectWriteFallback(false);
    if (!file->open(QIODevice::WriteOnly))
        throw Exception(QStringLiteral("No se puede crear el archivo %1: %2").arg(m_path, file->errorString()));
    m_file = std::move(file);
    m_device = m_file.get();
    m_open = true;
}

QByteArray TCsvWriter::Field(const QString &text, Quoting quoting)
{
    const QByteArray raw = text.toUtf8();
    QByteArray out;
    appendField(out, raw.constData(), raw.size(), quoting);
    return out;
}

bool TCsvWriter::Utf8RoundTrips(const char *data, qsizetype size)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    const auto *end = p + size;
    if (size >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
        return false;
    while (p < end) {
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int n;
        if (c >= 0xC2 && c <= 0xDF)
            n = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            n = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            n = 3;
        else
            return false;
        if (end - p <= n)
            return false;
        unsigned cp = c & (0x3Fu >> n);
        for (int i = 1; i <= n; ++i) {
            const unsigned b = p[i];
            if ((b & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        // Overlong forms, surrogates and code points past the last plane.
        if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += n + 1;
    }
    return true;
}

void TCsvWriter::checkOpen() const
{
    if (m_open)
        return;
    if (m_toFile)
        throw Exception(QStringLiteral("No se puede escribir el archivo %1: no está abierto").arg(m_path));
    throw Exception(QStringLiteral("No se puede escribir en la salida: no está abierta"));
}

void TCsvWriter::separate()
{
    if (m_rowStarted)
        m_buffer.append(',');
    m_rowStarted = true;
}

void TCsvWriter::WriteRow(const QStringList &fields)
{
    checkOpen();
    for (const QString &f : fields)
        WriteField(f);
    EndRow();
}

void TCsvWriter::WriteField(const QString &text)
{
    checkOpen();
    separate();
    const QByteArray raw = text.toUtf8();
    appendField(m_buffer, raw.constData(), raw.size(), m_options.quoting);
}

void TCsvWriter::WriteUtf8(const char *utf8, qsizetype size)
{
    // One pass over the bytes tells both whether the encoding needs a
    // closer look (ASCII never does) and whether the field needs quotes.
    unsigned high = 0;
    bool special = false;
    for (qsizetype i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        high |= c;
        special |= c == '"' || c == ',' || c == '\r' || c == '\n';
    }
    if (high >= 0x80 && !Utf8RoundTrips(utf8, size)) {
        WriteField(QString::fromUtf8(utf8, size));
        return;
    }
    if (!special) {
        WritePlain(utf8, size);
        return;
    }
    checkOpen();
    separate();
    appendField(m_buffer, utf8, size, m_options.quoting);
}

void TCsvWriter::WritePlain(const char *ascii, qsizetype size)
{
    checkOpen();
    separate();
    if (m_options.quoting == Quoting::All)
        m_buffer.append('"');
    m_buffer.append(ascii, size);
    if (m_options.quoting == Quoting::All)
        m_buffer.append('"');
}

void TCsvWriter::WriteInteger(qint64 value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    // Digits and a sign never need quotes of their own.
    WritePlain(digits, end - digits);
}

void TCsvWriter::EndRow()
{
    checkOpen();
    m_buffer.append(m_options.lineEnd);
    m_rowStarted = false;
    if (m_buffer.size() >= kFlushSize)
        flush();
}

void TCsvWriter::writeFailed(const QString &why)
{
    Cancel();
    if (m_toFile)
        throw Exception(QStringLiteral("No se puede escribir el archivo %1: %2").arg(m_path, why));
    throw Exception(QStringLiteral("No se puede escribir en la salida: %1").arg(why));
}

void TCsvWriter::flush()
{
    if (m_buffer.isEmpty())
        return;
    const qint64 written = m_device->write(m_buffer);
    if (written != m_buffer.size())
        writeFailed(m_device->errorString());
    // Emptied, its memory kept for the next lines.
    m_buffer.resize(0);
}

void TCsvWriter::Commit()
{
    checkOpen();
    flush();
    if (!m_toFile) {
        if (auto *file = qobject_cast<QFileDevice *>(m_device); file && !file->flush())
            writeFailed(file->errorString());
        m_open = false;
        return;
    }
    if (!m_file->commit()) {
        const QString why = m_file->errorString();
        m_file.reset();
        m_device = nullptr;
        m_open = false;
        throw Exception(QStringLiteral("No se puede escribir el archivo %1: %2").arg(m_path, why));
    }
    m_file.reset();
    m_device = nullptr;
    m_open = false;
}

void TCsvWriter::Cancel()
{
    m_buffer.clear();
    m_rowStarted = false;
    m_open = false;
    if (!m_file)
        return;
    m_file->cancelWriting();
    m_file.reset(); // an uncommitted QSaveFile removes its temporary file
    m_device = nullptr;
}

} // namespace vorel
