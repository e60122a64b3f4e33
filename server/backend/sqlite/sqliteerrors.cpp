// SQLite's failures worded as Oracle words them. The client reads the
// number after "ORA-" and the name between the first parentheses, so the
// constraint or column comes first and SQLite's own text, where kept, last.
#include "server/backend/sqlite/sqliteerrors.h"

#include "server/backend/sqlite/sqlitestatement.h"
#include "server/core/oramessages.h"

#include <QStringList>

namespace vorel::server {

namespace {

QString detail(const QString &sqliteMessage)
{
    return QStringLiteral(" (") + sqliteMessage + QLatin1Char(')');
}

// "T.a, T.b" -> table T, columns a and b (upper case).
bool splitColumns(const QString &list, QString *table, QStringList *columns)
{
    for (const QString &part : list.split(QLatin1Char(','))) {
        const QString item = part.trimmed();
        const qsizetype dot = item.lastIndexOf(QLatin1Char('.'));
        if (dot <= 0)
            return false;
        QString t = item.left(dot).toUpper();
        const qsizetype schemaDot = t.lastIndexOf(QLatin1Char('.'));
        if (schemaDot >= 0)
            t = t.mid(schemaDot + 1);
        if (!table->isEmpty() && *table != t)
            return false;
        *table = t;
        columns->append(item.mid(dot + 1).toUpper());
    }
    return !columns->isEmpty();
}

// The primary or unique key of `table` made of exactly `columns`, read from
// the dictionary views; empty when there is none (or no dictionary).
QString uniqueConstraint(sqlite3 *db, const QString &table, QStringList columns)
{
    if (!db)
        return {};
    const sqlite::Statement st = sqlite::prepare(db,
        "SELECT c.CONSTRAINT_NAME, cc.COLUMN_NAME FROM ALL_CONSTRAINTS c "
        "JOIN ALL_CONS_COLUMNS cc ON cc.CONSTRAINT_NAME = c.CONSTRAINT_NAME "
        "WHERE UPPER(c.TABLE_NAME) = ?1 AND c.CONSTRAINT_TYPE IN ('P', 'U') "
        "ORDER BY c.CONSTRAINT_TYPE, c.CONSTRAINT_NAME, cc.POSITION");
    if (!st)
        return {};
    sqlite::bindText(st.get(), 1, table);
    QList<std::pair<QString, QStringList>> keys;
    while (sqlite3_step(st.get()) == SQLITE_ROW) {
        const QString name = sqlite::columnText(st.get(), 0);
        const QString col = sqlite::columnText(st.get(), 1).toUpper();
        if (keys.isEmpty() || keys.last().first != name)
            keys.append({name, {}});
        keys.last().second.append(col);
    }
    columns.sort();
    for (auto &[name, cols] : keys) {
        cols.sort();
        if (cols == columns)
            return name.toUpper();
    }
    return {};
}

QString afterColon(const QString &message)
{
    const qsizetype colon = message.indexOf(QLatin1String(": "));
    return colon < 0 ? QString() : message.mid(colon + 2).trimmed();
}

// A constraint's failure in Oracle's words; empty for any other failure.
QString constraintMessage(sqlite3 *db, int rc, const QString &m)
{
    if (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY
        || m.startsWith(QLatin1String("UNIQUE constraint failed:"))) {
        QString table;
        QStringList columns;
        QString name;
        if (splitColumns(afterColon(m), &table, &columns))
            name = uniqueConstraint(db, table, columns);
        if (name.isEmpty())
            return QString::fromLatin1(ora::kUniqueViolatedUnnamed).arg(table) + detail(m);
        return QString::fromLatin1(ora::kUniqueViolated).arg(name);
    }
    if (rc == SQLITE_CONSTRAINT_NOTNULL || m.startsWith(QLatin1String("NOT NULL constraint failed:"))) {
        const QString target = afterColon(m);
        const qsizetype dot = target.lastIndexOf(QLatin1Char('.'));
        QString table = target.left(dot).toUpper();
        table = table.mid(table.lastIndexOf(QLatin1Char('.')) + 1);
        return QString::fromLatin1(ora::kNullInto)
            .arg(table, target.mid(dot + 1).toUpper());
    }
    if (rc == SQLITE_CONSTRAINT_CHECK || m.startsWith(QLatin1String("CHECK constraint failed:")))
        return QString::fromLatin1(ora::kCheckViolated).arg(afterColon(m).toUpper());
    if (rc == SQLITE_CONSTRAINT_FOREIGNKEY)
        return QString::fromLatin1(ora::kParentKeyNotFound).arg(QStringLiteral("SYS_FK"))
               + detail(m);
    return {};
}

} // namespace

QString oracleMessage(sqlite3 *db, int rc, const QString &sqliteMessage)
{
    const QString &m = sqliteMessage;
    if (m.startsWith(QLatin1String("ORA-")))
        return m;
    if (const QString constraint = constraintMessage(db, rc, m); !constraint.isEmpty())
        return constraint;
    const int primary = rc & 0xff;

    struct Known {
        const char *sqlitePrefix;
        const char *oracle; // %1: the name SQLite reported, upper case
    };
    static const Known known[] = {
        {"no such table: ", ora::kNoSuchTable},
        {"no such view: ", ora::kNoSuchTable},
        {"no such column: ", ora::kInvalidIdentifier},
        {"no such function: ", ora::kInvalidIdentifier},
        {"ambiguous column name: ", ora::kColumnAmbiguous},
        {"wrong number of arguments to function ", ora::kInvalidArgumentCount},
        {"incomplete input", ora::kUnexpectedEnd},
        {"table ", ora::kNameInUse},
        {"cannot start a transaction within a transaction", ora::kInvalidStatement},
    };
    for (const Known &k : known) {
        if (!m.startsWith(QLatin1String(k.sqlitePrefix)))
            continue;
        if (QLatin1String(k.sqlitePrefix) == QLatin1String("table ") && !m.endsWith(QLatin1String("already exists")))
            continue;
        QString name = m.mid(qsizetype(strlen(k.sqlitePrefix))).trimmed().toUpper();
        name = name.mid(name.lastIndexOf(QLatin1Char('.')) + 1);
        QString text = QString::fromLatin1(k.oracle);
        if (text.contains(QLatin1String("%1")))
            text = text.arg(name);
        return text + detail(m);
    }
    const bool valuesFirst = m.contains(QLatin1String("values for")) && m.contains(QLatin1String("columns"));
    if (valuesFirst || (m.contains(QLatin1String("columns but")) && m.contains(QLatin1String("values were supplied")))) {
        // "2 values for 3 columns", "table T has 3 columns but 2 values were supplied"
        QList<int> numbers;
        for (const QString &w : m.split(QLatin1Char(' '))) {
            bool ok = false;
            const int n = w.toInt(&ok);
            if (ok)
                numbers << n;
        }
        const int values = valuesFirst ? 0 : 1;
        const bool tooMany = numbers.size() == 2 && numbers[values] > numbers[1 - values];
        return QString::fromLatin1(tooMany ? ora::kTooManyValues : ora::kNotEnoughValues)
               + detail(m);
    }
    // The authoriser's refusals (tables, pragmas, functions).
    if (primary == SQLITE_AUTH || m.startsWith(QLatin1String("not authorized")))
        return QString::fromLatin1(ora::kNoPrivilege);
    if (m.startsWith(QLatin1String("near ")) && m.contains(QLatin1String("syntax error")))
        return QString::fromLatin1(ora::kNotProperlyEnded) + detail(m);

    if (primary == SQLITE_INTERRUPT)
        return QString::fromLatin1(ora::kCancelled);
    const char *oracle = ora::kInvalidStatement;
    switch (primary) {
    case SQLITE_BUSY: case SQLITE_LOCKED: oracle = ora::kResourceBusy; break;
    case SQLITE_READONLY: oracle = ora::kReadOnly; break;
    case SQLITE_FULL: oracle = ora::kCannotExtend; break;
    case SQLITE_MISMATCH: oracle = ora::kInconsistentTypes; break;
    case SQLITE_TOOBIG: oracle = ora::kConcatenationTooLong; break;
    case SQLITE_CONSTRAINT: oracle = ora::kCheckViolatedUnnamed; break;
    case SQLITE_IOERR: case SQLITE_CORRUPT: case SQLITE_CANTOPEN: case SQLITE_NOTADB: oracle = ora::kReadError; break;
    }
    return QString::fromLatin1(oracle) + detail(m);
}

QString lastFailure(sqlite3 *db)
{
    return oracleMessage(db, sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
}

} // namespace vorel::server
