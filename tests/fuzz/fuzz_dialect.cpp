// The Oracle dialect translator on any statement text a client may send:
// it gives SQLite or PostgreSQL text or an Oracle error, and does so within
// bounds. The PostgreSQL text reads again as tokens and balanced groups:
// nothing it wrote (a name quoted for an answer's column, a CASE, a comment
// kept from the statement) runs into what follows it. The scanner under it
// cuts any text, in either reading, into tokens that cover it end to end.
#include "common/sqlscanner.h"
#include "server/sql/dialect.h"
#include "server/sql/dialect_lexer.h"
#include "server/core/oraerror.h"

#include <cstdint>

namespace {

void check(const QString &sql, vorel::server::Target target)
{
    using namespace vorel::server;
    // Which columns a table has decides how (+) joins, and a date column how
    // + and - read; let the text decide: a column belongs to a table when
    // their names start alike, and is a date when its name ends in D.
    const ColumnLookup lookup = [](const QString &table, const QString &column) {
        if (table.isEmpty() || column.isEmpty() || table.at(0).toUpper() != column.at(0).toUpper())
            return ColumnType::Absent;
        return column.endsWith(QLatin1Char('D'), Qt::CaseInsensitive) ? ColumnType::Date : ColumnType::Other;
    };
    ColumnNaming naming;
    // A declared spelling, as the backend's table would give it: the
    // column in capitals where the lookup says the table has it.
    naming.declared = [lookup](const QString &table, const QString &column) {
        return lookup(table, column) != ColumnType::Absent ? column.toUpper() : QString();
    };
    QString out;
    try {
        out = translateOracle(sql, lookup, target, naming);
    } catch (const OraError &e) {
        if (!e.message().startsWith(QLatin1String("ORA-")))
            __builtin_trap();
        return;
    }
    if (target == Target::Postgres) {
        try {
            (void)dialect::parse(out);
        } catch (const OraError &) {
            __builtin_trap();
        }
    }
}

void scan(const QString &sql, vorel::sql::Lexicon lexicon)
{
    vorel::sql::Scanner s(sql, lexicon);
    qsizetype at = 0;
    while (!s.atEnd()) {
        const vorel::sql::Token t = s.next();
        if (t.begin != at || t.end <= t.begin || t.end > sql.size())
            __builtin_trap();
        at = t.end;
    }
    (void)vorel::sql::leadingKeyword(sql, lexicon);
    (void)vorel::sql::hasSecondStatement(sql, lexicon);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString sql = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    check(sql, vorel::server::Target::Sqlite);
    check(sql, vorel::server::Target::Postgres);
    scan(sql, vorel::sql::Lexicon::Oracle);
    scan(sql, vorel::sql::Lexicon::Postgres);
    return 0;
}
