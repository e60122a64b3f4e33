#pragma once
// Reads back comma-separated text the standard way (RFC 4180): fields in
// double quotes may hold separators and line breaks, "" is one quote.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace vorel::test {

inline QList<QStringList> readCsv(const QByteArray &bytes, bool *wellFormed = nullptr)
{
    const QString text = QString::fromUtf8(bytes);
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false, ok = true, any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        any = true;
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            row.append(field);
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n')) {
            row.append(field);
            rows.append(row);
            row.clear();
            field.clear();
            any = false;
            ++i;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            ok = false; // a bare line break outside quotes
            field += c;
        } else {
            field += c;
        }
    }
    if (quoted || any)
        ok = false; // unterminated quote or a last line without CR LF
    if (wellFormed)
        *wellFormed = ok;
    return rows;
}

} // namespace vorel::test
