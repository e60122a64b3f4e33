// Scripts written for Oracle run on a PostgreSQL connection.
#include "server/backend/postgres/pgdialect.h"
#include "server/backend/postgres/pgschema.h"
#include "server/schema/oraclescript.h"
#include "server/core/oramessages.h"

namespace vorel::server {

namespace {

// The client's dialect as PostgreSQL runs it; the names of a view's columns
// stay unquoted, so that later statements find them folded.
QString forPostgres(pg::Connection &c, const QString &oracle)
{
    ColumnNaming naming;
    naming.asSqlite = false;
    return translateOracle(oracle, schemaLookup(c), vorel::server::Target::Postgres, naming);
}

class PostgresTarget : public ScriptTarget
{
public:
    explicit PostgresTarget(pg::Connection &c) : m_c(c) {}
    ~PostgresTarget() override = default;

    QLatin1String backend() const override { return QLatin1String("postgresql"); }
    void native(const QString &text) override { pg::run(m_c, text); }

    void createTables(const std::vector<schemadef::Table> &tables) override
    {
        pg::createTables(m_c, tables);
        m_changed = true;
    }

    void commentTable(const QString &table, const QString &text) override
    {
        const pg::Result r = pg::run(m_c, QStringLiteral("SELECT relkind FROM pg_class WHERE oid = to_regclass($1)"),
                                     {table.toLower()});
        if (r.rows() == 0)
            throw OraError(ora::text(ora::kNoSuchTable, table));
        const QString kind = r.text(0, 0) == QLatin1String("v") ? QStringLiteral("VIEW") : QStringLiteral("TABLE");
        pg::run(m_c, QStringLiteral("COMMENT ON %1 %2 IS %3").arg(kind, table, schemadef::quoted(text)));
        m_changed = true;
    }

    void commentColumn(const QString &table, const QString &column, const QString &text) override
    {
        const pg::Result r = pg::run(m_c, QStringLiteral("SELECT 1 FROM pg_attribute WHERE attrelid = to_regclass($1) "
                                                         "AND attname = $2 AND attnum > 0 AND NOT attisdropped"),
                                     {table.toLower(), column.toLower()});
        if (r.rows() == 0) {
            if (pg::run(m_c, QStringLiteral("SELECT to_regclass($1)"), {table.toLower()}).isNull(0, 0))
                throw OraError(ora::text(ora::kNoSuchTable, table));
            throw OraError(QString::fromLatin1(ora::kInvalidIdentifier).arg(column.toUpper()));
        }
        pg::run(m_c, QStringLiteral("COMMENT ON COLUMN %1.%2 IS %3").arg(table, column, schemadef::quoted(text)));
        m_changed = true;
    }

    void createView(const QString &name, const QString &select) override
    {
        pg::run(m_c, QStringLiteral("CREATE VIEW %1 AS %2").arg(name, forPostgres(m_c, select)));
        pg::recordSpelling(m_c, pg::selectListNames(select));
        m_changed = true;
    }

    QString marker(int n) const override { return QStringLiteral("$%1").arg(n); }

    // Many rows a statement, so that a data script is not a round trip a
    // row; a batch that fails is gone through row by row to name the row.
    void insertRows(const LiteralRows &rows) override
    {
        const auto &values = rows.values();
        const int width = rows.columns();
        const size_t count = values.size() / size_t(width);
        const size_t perBatch = std::max<size_t>(1, std::min<size_t>(1000, 30000 / size_t(width)));
        for (size_t first = 0; first < count; first += perBatch) {
            const size_t n = std::min(perBatch, count - first);
            pg::run(m_c, QStringLiteral("SAVEPOINT vorel_rows"));
            try {
                insert(rows, first, n);
            } catch (const OraError &e) {
                pg::run(m_c, QStringLiteral("ROLLBACK TO vorel_rows"));
                for (size_t row = first; row < first + n; ++row) {
                    try {
                        insert(rows, row, 1);
                    } catch (const OraError &one) {
                        throw OraError(QStringLiteral("%1\n(fila %2 de la sentencia)").arg(one.message()).arg(row + 1));
                    }
                }
                throw OraError(QStringLiteral("%1\n(filas %2 a %3 de la sentencia)").arg(e.message()).arg(first + 1).arg(first + n));
            }
            pg::run(m_c, QStringLiteral("RELEASE vorel_rows"));
        }
    }

    void statement(const QString &oracle, const std::vector<QByteArray> &blobs) override
    {
        QVariantList params;
        for (const QByteArray &b : blobs)
            params << QVariant(b);
        pg::run(m_c, forPostgres(m_c, oracle), params);
    }

    // PostgreSQL's CACHE is a connection's, given up with it: numbers would
    // come out of order across sessions; every number is written instead.
    void createSequence(const SequenceDef &d) override
    {
        if (!m_sequencesReady) {
            pg::run(m_c, pg::sequenceFunctions());
            m_sequencesReady = true;
        }
        const QString name = quotedName(d.name.toLower());
        if (!pg::run(m_c, QStringLiteral("SELECT to_regclass($1)"), {QStringLiteral("public.") + name}).isNull(0, 0))
            throw OraError(QString::fromLatin1(ora::kNameInUse));
        pg::run(m_c, QStringLiteral("CREATE SEQUENCE public.%1 AS bigint INCREMENT BY %2 MINVALUE %3 MAXVALUE %4 "
                                    "START WITH %5 %6 CACHE 1")
                         .arg(name)
                         .arg(d.increment)
                         .arg(d.minValue)
                         .arg(d.maxValue)
                         .arg(d.start)
                         .arg(d.cycle ? QLatin1String("CYCLE") : QLatin1String("NO CYCLE")));
        // The role is there once the database is made (grantSessionRole,
        // which grants every sequence, runs after the scripts of init).
        pg::run(m_c, QStringLiteral("DO $vorel$ BEGIN IF EXISTS (SELECT 1 FROM pg_catalog.pg_roles WHERE rolname = "
                                    "'%1') THEN GRANT USAGE, SELECT ON SEQUENCE public.%2 TO %1; END IF; END $vorel$")
                         .arg(QLatin1String(pg::kSessionRole), name));
    }

    void dropSequence(const QString &sequence) override
    {
        const QString name = quotedName(sequence.toLower());
        const pg::Result r = pg::run(m_c, QStringLiteral("SELECT relkind FROM pg_class WHERE oid = to_regclass($1)"),
                                     {QStringLiteral("public.") + name});
        if (r.rows() == 0 || r.text(0, 0) != QLatin1String("S"))
            throw OraError(QString::fromLatin1(ora::kNoSuchSequence));
        pg::run(m_c, QStringLiteral("DROP SEQUENCE public.%1").arg(name));
    }

    // Comments and tables show in the registry at the end of the script.
    bool changed() const { return m_changed; }

private:
    void insert(const LiteralRows &rows, size_t first, size_t n)
    {
        const int width = rows.columns();
        QStringList tuples;
        QVariantList params;
        for (size_t row = first; row < first + n; ++row) {
            QStringList marks;
            for (int c = 0; c < width; ++c) {
                const LiteralRows::Value &v = rows.values()[row * size_t(width) + size_t(c)];
                switch (v.kind) {
                case LiteralRows::Value::Null: params << QVariant(); break;
                case LiteralRows::Value::Integer: params << QVariant(v.integer); break;
                case LiteralRows::Value::Real: params << QVariant(v.real); break;
                case LiteralRows::Value::Text: params << QVariant(v.text.toString()); break;
                }
                marks << QStringLiteral("$%1").arg(params.size());
            }
            tuples << QLatin1Char('(') + marks.join(QLatin1String(", ")) + QLatin1Char(')');
        }
        pg::run(m_c, QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                         .arg(rows.table(), rows.columnNames().join(QLatin1String(", ")), tuples.join(QLatin1String(", "))),
                params);
    }

    pg::Connection &m_c;
    bool m_changed = false;
    bool m_sequencesReady = false;
};

} // namespace

void pg::runOracleScript(Connection &c, const QString &text, const QString &fileBase)
{
    Transaction tx(c);
    PostgresTarget target(c);
    runOracleScript(target, text, fileBase);
    if (target.changed())
        refreshRegistry(c);
    tx.commit();
}

} // namespace vorel::server
