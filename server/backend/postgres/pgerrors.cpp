#include "server/backend/postgres/pgerrors.h"

#include "server/core/oramessages.h"

#include <QRegularExpression>

namespace vorel::server::pg {

namespace {

QString detail(const Failure &f) { return QStringLiteral(" (") + f.message + QLatin1Char(')'); }

// The first name PostgreSQL quotes in its message: "relation "x" does not
// exist", "column "x" does not exist", "column t.x does not exist".
QString quotedName(const QString &message)
{
    static const QRegularExpression quoted(QStringLiteral("[\"\u00ab\u201c]([^\"\u00bb\u201d]+)[\"\u00bb\u201d]"));
    if (const auto m = quoted.match(message); m.hasMatch())
        return m.captured(1);
    static const QRegularExpression bare(QStringLiteral("^column ([\\w.$]+) does not exist"));
    if (const auto m = bare.match(message); m.hasMatch())
        return m.captured(1);
    return {};
}

QString lastPart(const QString &name)
{
    return name.mid(name.lastIndexOf(QLatin1Char('.')) + 1).toUpper();
}

// Whether a foreign key failed on the parent's side (its row deleted or its
// key changed while children name it) rather than on the child's.
bool parentSide(Connection &c, const Failure &f)
{
    if (f.message.startsWith(QLatin1String("update or delete on table")))
        return true;
    if (f.message.startsWith(QLatin1String("insert or update on table")))
        return false;
    if (f.detail.contains(QLatin1String("is still referenced from table")))
        return true;
    if (f.detail.contains(QLatin1String("is not present in table")))
        return false;
    // Messages in another language: the parent's side names the referenced
    // table too, which the child's does not (unless the key points at its
    // own table).
    if (c.handle() && !c.inTransaction() && !f.constraint.isEmpty()) {
        try {
            const Result r = c.exec(QStringLiteral("SELECT p.relname FROM pg_constraint k JOIN pg_class p ON p.oid = k.confrelid "
                                                   "WHERE k.conname = $1 AND k.contype = 'f' AND k.confrelid <> k.conrelid"),
                                    {f.constraint});
            if (r.rows() > 0)
                return f.message.contains(r.text(0, 0));
        } catch (const Error &) {
        }
    }
    return false;
}

} // namespace

QString oracleMessage(Connection &c, const Failure &f)
{
    const QString &m = f.message;
    const QString state = f.sqlstate;
    if (state == QLatin1String("P0001") && m.startsWith(QLatin1String("ORA-")))
        return m;
    if (state.isEmpty())
        return QString::fromLatin1(ora::kConnectionLost) + detail(f);

    if (state == QLatin1String("23505")) {
        if (f.constraint.isEmpty())
            return QString::fromLatin1(ora::kUniqueViolatedUnnamed).arg(f.table.toUpper())
                   + detail(f);
        return QString::fromLatin1(ora::kUniqueViolated).arg(f.constraint.toUpper());
    }
    if (state == QLatin1String("23502"))
        return QString::fromLatin1(ora::kNullInto)
            .arg(f.table.toUpper(), f.column.toUpper());
    if (state == QLatin1String("23514"))
        return QString::fromLatin1(ora::kCheckViolated).arg(f.constraint.toUpper());
    if (state == QLatin1String("23503")) {
        const QString name = f.constraint.toUpper();
        if (parentSide(c, f))
            return QString::fromLatin1(ora::kChildRecordFound).arg(name);
        return QString::fromLatin1(ora::kParentKeyNotFound).arg(name);
    }
    // A date where arithmetic wants a number: * or / of a date, or its
    // cast to the numeric ora_div divides.
    if ((state == QLatin1String("42883") && m.startsWith(QLatin1String("operator does not exist"))
         && m.contains(QLatin1String("timestamp"))
         && (m.contains(QLatin1String(" * ")) || m.contains(QLatin1String(" / "))))
        || (state == QLatin1String("42846") && m.startsWith(QLatin1String("cannot cast type timestamp"))))
        return QString::fromLatin1(ora::kNumberGotDate) + detail(f);
    if (state == QLatin1String("42703") || state == QLatin1String("42883")) {
        const QString name = state == QLatin1String("42883") ? m.section(QLatin1Char('('), 0, 0).section(QLatin1Char(' '), -1)
                                                             : quotedName(m);
        return QString::fromLatin1(ora::kInvalidIdentifier).arg(lastPart(name)) + detail(f);
    }
    // MERGE would change one row for two source rows; the other
    // cardinality failure is a subquery of more rows than one.
    if (state == QLatin1String("21000"))
        return m.contains(QLatin1String("MERGE")) ? QString::fromLatin1(ora::kUnstableRows)
                                                 : QString::fromLatin1(ora::kSubqueryRows) + detail(f);
    if (state == QLatin1String("42601")) {
        if (m.contains(QLatin1String("at end of input")))
            return QString::fromLatin1(ora::kUnexpectedEnd) + detail(f);
        return QString::fromLatin1(ora::kNotProperlyEnded) + detail(f);
    }

    // Date arithmetic past PostgreSQL's years is past Oracle's too (year
    // -4713 to 9999): Oracle says so rather than blame a format.
    if (state == QLatin1String("22008")
        && (m.startsWith(QLatin1String("timestamp out of range")) || m.startsWith(QLatin1String("date out of range"))))
        return QString::fromLatin1(ora::kYearOutOfRange) + detail(f);

    struct Known {
        const char *sqlstate;
        const char *oracle;
        bool withDetail; // PostgreSQL's own text after it, in parentheses
    };
    static const Known known[] = {
        {"42P01", ora::kNoSuchTable, true},
        {"42702", ora::kColumnAmbiguous, true},
        {"42P07", ora::kNameInUse, true},
        {"42710", ora::kNameInUse, true},
        {"42830", ora::kNoMatchingKey, true},
        {"42501", ora::kNoPrivilege, false},
        {"42804", ora::kInconsistentTypes, true},
        {"42846", ora::kInconsistentTypes, true},
        {"57014", ora::kCancelled, false},
        {"55P03", ora::kResourceBusy, true},
        {"40001", ora::kResourceBusy, true},
        {"40P01", ora::kResourceBusy, true},
        {"22P02", ora::kInvalidNumber, true},
        {"22018", ora::kInvalidNumber, false},
        {"22003", ora::kValueTooPrecise, true},
        {"22012", ora::kDivisionByZero, false},
        {"2201F", ora::kArgumentOutOfRange, true},
        {"22001", ora::kValueTooLarge, true},
        {"22007", ora::kDateFormat, true},
        {"22008", ora::kDateFormat, true},
        {"25006", ora::kReadOnly, true},
        {"53100", ora::kCannotExtend, true},
        {"54000", ora::kConcatenationTooLong, true},
        {"P0001", ora::kUnhandledException, true},
    };
    for (const Known &k : known)
        if (state == QLatin1String(k.sqlstate))
            return QString::fromLatin1(k.oracle) + (k.withDetail ? detail(f) : QString());
    if (state.startsWith(QLatin1String("23")))
        return QString::fromLatin1(ora::kCheckViolatedUnnamed) + detail(f);
    if (state.startsWith(QLatin1String("58")) || state.startsWith(QLatin1String("XX")))
        return QString::fromLatin1(ora::kReadError) + detail(f);
    if (state.startsWith(QLatin1String("08")))
        return QString::fromLatin1(ora::kConnectionLost) + detail(f);
    return QString::fromLatin1(ora::kInvalidStatement) + detail(f);
}

} // namespace vorel::server::pg
