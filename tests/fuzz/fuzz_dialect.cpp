// The Oracle dialect translator on any statement text a client may send:
// it gives SQLite text or an Oracle error, and does so within bounds.
#include "server/dialect.h"
#include "server/oraerrors.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString sql = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    // Which columns a table has decides how (+) joins; let the text decide:
    // a column belongs to a table when their names start alike.
    const vorel::server::ColumnLookup lookup = [](const QString &table, const QString &column) {
        return !table.isEmpty() && !column.isEmpty() && table.at(0).toUpper() == column.at(0).toUpper();
    };
    try {
        const QString out = vorel::server::translateOracle(sql, lookup);
        (void)out;
    } catch (const vorel::server::OraError &e) {
        if (!e.message().startsWith(QLatin1String("ORA-")))
            __builtin_trap();
    }
    return 0;
}
