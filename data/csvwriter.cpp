#include "data/csvwriter.h"

#include "common/exception.h"

#include <QSaveFile>

namespace vorel {

namespace {

// Large enough that a big export costs few system calls, small enough that
// memory stays flat however many rows are written.
constexpr qsizetype kFlushSize = 64 * 1024;

bool needsQuotes(const QString &text)
{
    for (const QChar c : text)
        if (c == QLatin1Char('"') || c == QLatin1Char(',') || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            return true;
    return false;
}

} // namespace

TCsvWriter::TCsvWriter(const QString &path) : TCsvWriter(path, Options{}) {}

TCsvWriter::TCsvWriter(const QString &path, Options options) : m_path(path), m_options(std::move(options)) {}

TCsvWriter::~TCsvWriter() { Cancel(); }

void TCsvWriter::Open()
{
    Cancel();
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
}

QByteArray TCsvWriter::Field(const QString &text, Quoting quoting)
{
    if (quoting == Quoting::AsNeeded && !needsQuotes(text))
        return text.toUtf8();
    QByteArray out;
    const QByteArray raw = text.toUtf8();
    out.reserve(raw.size() + 2);
    out.append('"');
    for (const char c : raw) {
        if (c == '"')
            out.append('"');
        out.append(c);
    }
    out.append('"');
    return out;
}

void TCsvWriter::WriteRow(const QStringList &fields)
{
    if (!m_file)
        throw Exception(QStringLiteral("No se puede escribir el archivo %1: no está abierto").arg(m_path));
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            m_buffer.append(',');
        m_buffer.append(Field(fields.at(i), m_options.quoting));
    }
    m_buffer.append(m_options.lineEnd);
    if (m_buffer.size() >= kFlushSize)
        flush();
}

void TCsvWriter::flush()
{
    if (m_buffer.isEmpty())
        return;
    const qint64 written = m_file->write(m_buffer);
    if (written != m_buffer.size()) {
        const QString why = m_file->errorString();
        Cancel();
        throw Exception(QStringLiteral("No se puede escribir el archivo %1: %2").arg(m_path, why));
    }
    m_buffer.clear();
}

void TCsvWriter::Commit()
{
    if (!m_file)
        throw Exception(QStringLiteral("No se puede escribir el archivo %1: no está abierto").arg(m_path));
    flush();
    if (!m_file->commit()) {
        const QString why = m_file->errorString();
        m_file.reset();
        throw Exception(QStringLiteral("No se puede escribir el archivo %1: %2").arg(m_path, why));
    }
    m_file.reset();
}

void TCsvWriter::Cancel()
{
    m_buffer.clear();
    if (!m_file)
        return;
    m_file->cancelWriting();
    m_file.reset(); // an uncommitted QSaveFile removes its temporary file
}

} // namespace vorel
