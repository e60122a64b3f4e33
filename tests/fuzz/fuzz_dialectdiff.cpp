// Expressions of Oracle's functions, chosen by the input's bytes, asked of
// an SQLite database and of a PostgreSQL database holding the same rows,
// each through the server's own translation: the two must answer alike,
// cell for cell or with the same Oracle error. A difference is a finding:
// the expression and both answers are printed and the target aborts.
// PostgreSQL is the cluster VOREL_TEST_PG names (tests/support/pgcluster.sh
// start DIR prints it); without one, SQLite's answers are only checked to
// be whole: a row per fixture row, or an Oracle error.
#include "server/backend/sqlite/sqlitedatabase.h"
#include "tests/server/sql/dialectdiff.h"
#include "tests/server/sql/pgfixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace dialecttest;

// The SQLite file, in the run's own folder.
QString liteFile()
{
    return QDir(qEnvironmentVariable("VOREL_FUZZ_TMP", QDir::tempPath()))
        .filePath(QStringLiteral("dialectdiff-%1.db").arg(QCoreApplication::applicationPid()));
}

struct Engines {
    vorel::test::TestDatabase liteDb{vorel::test::Engine::Sqlite, liteFile()};
    std::unique_ptr<vorel::server::Database> liteSession;
    sqlite3 *lite = nullptr;
    std::unique_ptr<vorel::test::TestDatabase> pgDb; // none without a cluster
    PgFixture pg;
};
Engines *engines = nullptr;

[[noreturn]] void fail(const QString &why)
{
    std::fprintf(stderr, "%s\n", qPrintable(why));
    std::abort();
}

// Bytes as choices; once they run out, every choice is the first, which
// ends each expression at its next leaf.
class Choices
{
public:
    Choices(const uint8_t *data, size_t size)
        : m_data(data)
        , m_size(size)
    {}
    quint32 operator()(quint32 n) { return m_at < m_size ? m_data[m_at++] % n : 0; }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_at = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QFile::remove(liteFile());
    engines = new Engines;
    // At the end only the databases go: the sessions would be closed after
    // the server's own statics, which they read, are gone.
    std::atexit([] {
        engines->pgDb.reset(); // dropped, its session cut
        QFile::remove(liteFile());
    });
    QString why = engines->liteDb.create(true, {vorel::test::fixtureRows()});
    if (!why.isEmpty())
        fail(QStringLiteral("SQLite database: ") + why);
    engines->liteSession = engines->liteDb.open(QStringLiteral("990001"));
    engines->lite = static_cast<vorel::server::SqliteDatabase &>(*engines->liteSession).handle();
    if (qEnvironmentVariableIsEmpty("VOREL_TEST_PG")) {
        std::fprintf(stderr, "VOREL_TEST_PG is not set: SQLite's answers are checked alone, "
                             "with nothing to compare them with\n");
        return 0;
    }
    engines->pgDb = std::make_unique<vorel::test::TestDatabase>(vorel::test::Engine::Postgres);
    why = engines->pgDb->create(true, {vorel::test::fixtureRows()});
    if (why.isEmpty())
        engines->pg.open(*engines->pgDb, &why);
    if (!why.isEmpty())
        fail(QStringLiteral("PostgreSQL database: ") + why);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte, the depth; the rest, the choices.
    ExprGenerator gen(Choices(data + 1, size - 1));
    const QString e = gen.any(1 + data[0] % 4);
    const QString sql = diffStatement(e);
    const Result lite = run(engines->lite, sql);
    if (!engines->pg.conn) {
        if (lite.error.isEmpty() ? lite.rows.size() != 4 : !lite.error.startsWith(QLatin1String("ORA-")))
            fail(QStringLiteral("SQLite answered no Oracle error and not a row per client: ")
                 + describe(e, lite, {}, {}));
        return 0;
    }
    const auto runOther = [](const QString &q) {
        engines->pg.conn->exec(QStringLiteral("BEGIN"));
        const Result r = engines->pg.run(q);
        engines->pg.conn->exec(QStringLiteral("ROLLBACK"));
        return r;
    };
    const Result other = runOther(sql);
    const QString pgSql = engines->pg.lastSql;
    if (!sameAnswer(lite, other)
        && !orderOfComputing(gen.parts(), lite, other, [](const QString &q) { return run(engines->lite, q); }, runOther))
        fail(QStringLiteral("the engines differ: ") + describe(e, lite, other, pgSql));
    return 0;
}
