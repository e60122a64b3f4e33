#include "server/backend/postgres/pgerrors.h"

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
        return QStringLiteral("ORA-03113: end-of-file on communication channel") + detail(f);

    if (state == QLatin1String("23505")) {
        if (f.constraint.isEmpty())
            return QStringLiteral("ORA-00001: unique constraint (VOREL.SYS_%1) violated").arg(f.table.toUpper())
                   + detail(f);
        return QStringLiteral("ORA-00001: unique constraint (VOREL.%1) violated").arg(f.constraint.toUpper());
    }
    if (state == QLatin1String("23502"))
        return QStringLiteral("ORA-01400: cannot insert NULL into (\"VOREL\".\"%1\".\"%2\")")
            .arg(f.table.toUpper(), f.column.toUpper());
    if (state == QLatin1String("23514"))
        return QStringLiteral("ORA-02290: check constraint (VOREL.%1) violated").arg(f.constraint.toUpper());
    if (state == QLatin1String("23503")) {
        const QString name = f.constraint.toUpper();
        if (parentSide(c, f))
            return QStringLiteral("ORA-02292: integrity constraint (VOREL.%1) violated - child record found").arg(name);
        return QStringLiteral("ORA-02291: integrity constraint (VOREL.%1) violated - parent key not found").arg(name);
    }
    if (state == QLatin1String("42P01"))
        return QStringLiteral("ORA-00942: table or view does not exist") + detail(f);
    if (state == QLatin1String("42703") || state == QLatin1String("42883")) {
        const QString name = state == QLatin1String("42883") ? m.section(QLatin1Char('('), 0, 0).section(QLatin1Char(' '), -1)
                                                             : quotedName(m);
        return QStringLiteral("ORA-00904: \"%1\": invalid identifier").arg(lastPart(name)) + detail(f);
    }
    if (state == QLatin1String("42702"))
        return QStringLiteral("ORA-00918: column ambiguously defined") + detail(f);
    if (state == QLatin1String("42P07") || state == QLatin1String("42710"))
        return QStringLiteral("ORA-00955: name is already used by an existing object") + detail(f);
    if (state == QLatin1String("42830"))
        return QStringLiteral("ORA-02270: no matching unique or primary key for this column-list") + detail(f);
    if (state == QLatin1String("42501"))
        return QStringLiteral("ORA-01031: insufficient privileges");
    if (state == QLatin1String("42601")) {
        if (m.contains(QLatin1String("at end of input")))
            return QStringLiteral("ORA-00921: unexpected end of SQL command") + detail(f);
        return QStringLiteral("ORA-00933: SQL command not properly ended") + detail(f);
    }
    if (state == QLatin1String("42804") || state == QLatin1String("42846"))
        return QStringLiteral("ORA-00932: inconsistent datatypes") + detail(f);
    if (state == QLatin1String("57014"))
        return QStringLiteral("ORA-01013: user requested cancel of current operation");
    if (state == QLatin1String("55P03") || state == QLatin1String("40001") || state == QLatin1String("40P01"))
        return QStringLiteral("ORA-00054: resource busy and acquire with NOWAIT specified or timeout expired")
               + detail(f);
    if (state == QLatin1String("22P02"))
        return QStringLiteral("ORA-01722: invalid number") + detail(f);
    if (state == QLatin1String("22003"))
        return QStringLiteral("ORA-01438: value larger than specified precision allowed for this column") + detail(f);
    if (state == QLatin1String("22012"))
        return QStringLiteral("ORA-01476: divisor is equal to zero");
    if (state == QLatin1String("22001"))
        return QStringLiteral("ORA-12899: value too large for column") + detail(f);
    if (state == QLatin1String("22007") || state == QLatin1String("22008"))
        return QStringLiteral("ORA-01861: literal does not match format string") + detail(f);
    if (state == QLatin1String("25006"))
        return QStringLiteral("ORA-16000: database or pluggable database open for read-only access") + detail(f);
    if (state == QLatin1String("53100"))
        return QStringLiteral("ORA-01653: unable to extend table") + detail(f);
    if (state == QLatin1String("54000"))
        return QStringLiteral("ORA-01489: result of string concatenation is too long") + detail(f);
    if (state.startsWith(QLatin1String("23")))
        return QStringLiteral("ORA-02290: check constraint (VOREL.SYS_CHECK) violated") + detail(f);
    if (state.startsWith(QLatin1String("58")) || state.startsWith(QLatin1String("XX")))
        return QStringLiteral("ORA-01115: IO error reading block from file") + detail(f);
    if (state.startsWith(QLatin1String("08")))
        return QStringLiteral("ORA-03113: end-of-file on communication channel") + detail(f);
    if (state == QLatin1String("P0001"))
        return QStringLiteral("ORA-06510: PL/SQL: unhandled user-defined exception") + detail(f);
    return QStringLiteral("ORA-00900: invalid SQL statement") + detail(f);
}

} // namespace vorel::server::pg
