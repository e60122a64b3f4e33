#include "runtime/errorderive.h"

#include "common/sqllines.h"
#include "data/dataset.h"

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

namespace {

// The one dataset all lookups of a translation go through, closed also when
// a failure leaves the lookup half done.
class DictionaryQuery
{
public:
    explicit DictionaryQuery(TSocketConnection *connection)
    {
        m_query.SetProviderName(QStringLiteral("dspCmd"));
        m_query.SetRemoteServer(connection);
    }
    ~DictionaryQuery()
    {
        try {
            m_query.Close();
        } catch (...) {
        }
    }
    DictionaryQuery(const DictionaryQuery &) = delete;
    DictionaryQuery &operator=(const DictionaryQuery &) = delete;

    // Runs `sql` and gives `field` of the first row.
    QString first(const QString &sql, const QString &field)
    {
        m_query.Close();
        m_query.SetCommandText(sql);
        m_query.Open();
        return this->field(field);
    }
    // Another field of the row the last lookup gave.
    QString field(const QString &name) const { return m_query.FieldByName(name)->AsString(); }

private:
    TClientDataSet m_query;
};

QString duplicateKey(DictionaryQuery &query, const QString &reference)
{
    query.first(QStringLiteral("SELECT TABLE_Name, COLUMN_Name FROM ALL_CONS_Columns WHERE Position= 1 And "
                               "CONSTRAINT_Name= ")
                    + Quoted(reference),
                QStringLiteral("TABLE_Name"));
    const QString table = query.field(QStringLiteral("TABLE_Name"));
    const QString column = query.field(QStringLiteral("COLUMN_Name"));
    const QString line = CommentLine(query.first(QStringLiteral("SELECT COMMENTS FROM ALL_COL_COMMENTS WHERE TABLE_Name= ")
                                                     + Quoted(table) + QStringLiteral(" And COLUMN_Name= ")
                                                     + Quoted(column),
                                                 QStringLiteral("Comments")));
    return line.isEmpty() ? QString() : line + QStringLiteral(" no puede ser Repetido");
}

// The reference of a missing value is "table.column".
QString missingValue(DictionaryQuery &query, const QString &reference)
{
    const qsizetype period = reference.indexOf(QLatin1Char('.'));
    const QString table = period < 0 ? reference : reference.left(period);
    const QString column = period < 0 ? QString() : reference.mid(period + 1);
    TSqlLines lines;
    lines << QStringLiteral("SELECT comments ") << QStringLiteral("FROM ALL_Col_Comments ")
          << QStringLiteral("WHERE TABLE_Name= ") + Quoted(table) + QStringLiteral(" ")
          << QStringLiteral("  And COLUMN_Name= ") + Quoted(column) + QStringLiteral(" ");
    const QString line = CommentLine(query.first(lines.Text(), QStringLiteral("COMMENTS")));
    return line.isEmpty() ? QString() : line + QStringLiteral(" no puede ser nulo");
}

// A check's message is kept whole, as written for it.
QString failedCheck(DictionaryQuery &query, const QString &reference)
{
    TSqlLines lines;
    lines << QStringLiteral("SELECT MENE_Mensaje ") << QStringLiteral("FROM vorel.TMENEXCEP ")
          << QStringLiteral("WHERE MENE_Refer= ") + Quoted(reference) + QStringLiteral(" ");
    return query.first(lines.Text(), QStringLiteral("MENE_Mensaje"));
}

QString missingParent(DictionaryQuery &query, const QString &reference)
{
    const QString table =
        query.first(QStringLiteral("SELECT TABLE_Name Tabla FROM ALL_Constraints WHERE Constraint_Name=")
                        + Quoted(reference),
                    QStringLiteral("Tabla"));
    const QString column = query.first(QStringLiteral("SELECT COLUMN_Name Campo FROM ALL_CONS_Columns WHERE "
                                                      "Position= 1 And CONSTRAINT_Name= ")
                                           + Quoted(reference),
                                       QStringLiteral("Campo"));
    const QString line = CommentLine(query.first(QStringLiteral("SELECT COMMENTS FROM ALL_COL_Comments WHERE TABLE_Name= ")
                                                     + Quoted(table) + QStringLiteral(" And COLUMN_Name= ")
                                                     + Quoted(column),
                                                 QStringLiteral("COMMENTS")));
    return line.isEmpty() ? QString() : QStringLiteral("No existe Registro padre para ") + line;
}

QString existingChildren(DictionaryQuery &query, const QString &reference)
{
    TSqlLines lines;
    lines << QStringLiteral("SELECT COMMENTS ") << QStringLiteral("FROM ALL_TAB_COMMENTS ")
          << QStringLiteral("WHERE TABLE_NAME= ") << QStringLiteral("(SELECT TABLE_NAME ")
          << QStringLiteral("FROM ALL_CONSTRAINTS ")
          << QStringLiteral("WHERE CONSTRAINT_NAME=") + Quoted(reference) + QStringLiteral(") ");
    const QString comment = query.first(lines.Text(), QStringLiteral("COMMENTS"));
    const QString line = CommentLine(comment);
    if (line.isEmpty())
        return QString();
    return (CommentLineCount(comment) < 2 ? QStringLiteral("Existe Registros hijos en ")
                                          : QStringLiteral("Existen Registros hijos en "))
        + line;
}

QString applicationError(const QString &message)
{
    const QString line = ApplicationErrorLine(message);
    // A blank after the colon and nothing more says nothing.
    return line.trimmed().isEmpty() ? QString() : line;
}

} // namespace

QString Translate(const QString &message, TSocketConnection *connection)
{
    const int number = ErrorNumber(message);
    const QString reference = ConstraintReference(message);
    DictionaryQuery query(connection);
    switch (number) {
    case 1:
        return duplicateKey(query, reference);
    case 1400:
        return missingValue(query, reference);
    case 2290:
        return failedCheck(query, reference);
    case 2291:
        return missingParent(query, reference);
    case 2292:
        return existingChildren(query, reference);
    case 20001:
        return applicationError(message);
    default:
        return QString();
    }
}

} // namespace vorel::errors
