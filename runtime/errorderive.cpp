#include "runtime/errorderive.h"

#include <QStringList>

namespace vorel::errors {

namespace {

const QLatin1String OraTag("ORA-");

// Lines as a text list sees them: CR LF, LF or CR end a line, and a break at
// the very end opens no further line.
QStringList linesOf(const QString &text)
{
    QStringList lines;
    QString current;
    bool pending = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines << current;
            current.clear();
            pending = false;
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
        } else {
            current += c;
            pending = true;
        }
    }
    if (pending)
        lines << current;
    return lines;
}

} // namespace

int ErrorNumber(const QString &message)
{
    const qsizetype at = message.indexOf(OraTag);
    if (at < 0)
        return 0;
    const QString digits = message.mid(at + OraTag.size(), 5);
    // A number that is not five decimal digits cannot be one of the numbers
    // the translation knows; it counts as none.
    if (digits.size() != 5)
        return 0;
    for (const QChar c : digits)
        if (!c.isDigit() || c.unicode() > '9')
            return 0;
    return digits.toInt();
}

QString ConstraintReference(const QString &message)
{
    const qsizetype ora = message.indexOf(OraTag);
    const qsizetype open = message.indexOf(QLatin1Char('('), ora < 0 ? 0 : ora);
    if (open < 0)
        return QString();
    const qsizetype close = message.indexOf(QLatin1Char(')'), open + 1);
    if (close < 0)
        return QString();
    QString reference = message.mid(open + 1, close - open - 1);
    const qsizetype period = reference.indexOf(QLatin1Char('.'));
    if (period >= 0) {
        reference = reference.mid(period + 1);
        reference.remove(QLatin1Char('"'));
    }
    return reference;
}

int CommentLineCount(const QString &comment)
{
    return int(linesOf(comment).size());
}

QString CommentLine(const QString &comment)
{
    const QStringList lines = linesOf(comment);
    if (lines.isEmpty())
        return QString();
    return lines.size() < 2 ? lines.first() : lines.at(1);
}

QString Quoted(const QString &value)
{
    QString doubled = value;
    doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + doubled + QLatin1Char('\'');
}

QString ApplicationErrorLine(const QString &message)
{
    const qsizetype ora = message.indexOf(OraTag);
    if (ora < 0)
        return QString();
    // "ORA-20001:" is ten characters; the text starts right after the colon.
    const QString rest = message.mid(ora + 10);
    const QStringList lines = linesOf(rest);
    return lines.isEmpty() ? QString() : lines.first();
}

} // namespace vorel::errors
