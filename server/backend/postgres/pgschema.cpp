#include "server/backend/postgres/pgschema.h"
#include "server/sql/dialect.h"

#include "server/sql/dialect_lexer.h"
#include "server/schema/oraclescript.h"
#include "server/schema/schema.h"
#include "server/core/oraerror.h"
#include "server/core/passwords.h"
#include "server/backend/postgres/pgerrors.h"
#include "server/backend/postgres/pgdialect.h"

#include <QRegularExpression>

namespace vorel::server::pg {

using schemadef::Check;
using schemadef::Column;
using schemadef::ForeignKey;
using schemadef::joined;
using schemadef::Key;
using schemadef::quoted;
using schemadef::Table;

Result run(Connection &c, const QString &sql)
{
    try {
        return c.exec(sql);
    } catch (const Error &e) {
        throw OraError(oracleMessage(c, e.failure()));
    }
}

Result run(Connection &c, const QString &sql, const QVariantList &params)
{
    try {
        return c.exec(sql, params);
    } catch (const Error &e) {
        throw OraError(oracleMessage(c, e.failure()));
    }
}

Transaction::Transaction(Connection &c) : m_c(c)
{
    m_nested = c.inTransaction();
    run(c, m_nested ? QStringLiteral("SAVEPOINT vorel_schema") : QStringLiteral("BEGIN"));
    try {
        // A session's own views come first on its path; the schema's objects
        // go where its tables are.
        const Result r = run(c, QStringLiteral("SELECT current_setting('search_path'), quote_ident((SELECT s FROM "
                                               "unnest(current_schemas(false)) WITH ORDINALITY AS p(s, n) WHERE s <> "
                                               "'vorel_session' ORDER BY n LIMIT 1))"));
        m_searchPath = r.text(0, 0);
        if (r.isNull(0, 1))
            throw OraError(ora::text(ora::kNoSuchUser, QStringLiteral("no hay esquema donde crear las tablas: "
                                                                      "search_path = %1").arg(m_searchPath)));
        run(c, QStringLiteral("SELECT set_config('search_path', $1, true)"),
            {r.text(0, 1) + QStringLiteral(", oracle")});
    } catch (...) {
        m_done = true;
        rollbackQuietly();
        throw;
    }
}

Transaction::~Transaction()
{
    if (!m_done)
        rollbackQuietly();
}

void Transaction::rollbackQuietly()
{
    try {
        m_c.exec(m_nested ? QStringLiteral("ROLLBACK TO vorel_schema; RELEASE vorel_schema") : QStringLiteral("ROLLBACK"));
    } catch (const Error &) {
    }
}

void Transaction::commit()
{
    if (m_nested) {
        // RELEASE keeps what SET LOCAL did; the caller's path comes back.
        run(m_c, QStringLiteral("SELECT set_config('search_path', $1, true)"), {m_searchPath});
        run(m_c, QStringLiteral("RELEASE vorel_schema"));
    } else {
        run(m_c, QStringLiteral("COMMIT"));
    }
    m_done = true;
}

QString postgresType(const QString &oracleType)
{
    static const QRegularExpression varchar(QStringLiteral("^VARCHAR2\\((\\d+)\\)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression number(QStringLiteral("^NUMBER\\((\\d+)(?:,(\\d+))?\\)$"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QString t = oracleType.trimmed().remove(QLatin1Char(' '));
    if (const auto m = varchar.match(t); m.hasMatch())
        return QStringLiteral("varchar(%1)").arg(m.captured(1));
    if (const auto m = number.match(t); m.hasMatch())
        return m.captured(2).isEmpty() || m.captured(2).toInt() == 0 ? QStringLiteral("bigint")
                                                                      : QStringLiteral("double precision");
    const QString u = t.toUpper();
    if (u == QLatin1String("NUMBER"))
        return QStringLiteral("numeric");
    if (u == QLatin1String("DATE"))
        return QStringLiteral("timestamp(0)");
    if (u == QLatin1String("BLOB"))
        return QStringLiteral("bytea");
    if (u == QLatin1String("CLOB"))
        return QStringLiteral("text");
    throw OraError(ora::text(ora::kInvalidDatatype, oracleType));
}

namespace {

QString u8(const char *text) { return QString::fromUtf8(text); }

// The functions the schema's triggers and the translated text call, from
// functions/, in the order they must run: a function in SQL is checked
// against those it calls when it is created.
QStringList functionTexts()
{
    QStringList texts;
    for (const char *name : {"passwords", "guards", "ora_text", "ora_dates", "ora_numbers", "sequences"})
        texts << builtInText(QStringLiteral(":/pg/functions/%1.sql").arg(QLatin1String(name)),
                             QStringLiteral("%1.sql").arg(QLatin1String(name)));
    texts[0] = texts[0].arg(passwords::kIterations);
    return texts;
}

// PostgreSQL lets a TEMP table reference no permanent one: a session
// table's foreign keys are checked by a trigger, with Oracle's text.
QString sessionForeignKeyFunction(const ForeignKey &fk)
{
    QStringList present, match;
    for (size_t i = 0; i < fk.columns.size(); ++i) {
        present << QStringLiteral("NEW.%1 IS NOT NULL").arg(u8(fk.columns[i]));
        match << QStringLiteral("%1 = NEW.%2").arg(u8(fk.parentColumns[i]), u8(fk.columns[i]));
    }
    return QStringLiteral("CREATE OR REPLACE FUNCTION vorel_%1() RETURNS trigger LANGUAGE plpgsql "
                          "SET search_path FROM CURRENT AS $vorel$\nBEGIN\n"
                          "  IF %2 AND NOT EXISTS (SELECT 1 FROM %3 WHERE %4) THEN\n"
                          "    RAISE EXCEPTION '%', %5;\n  END IF;\n  RETURN NEW;\nEND $vorel$")
        .arg(u8(fk.name).toLower(), present.join(QLatin1String(" AND ")), u8(fk.parentTable),
             match.join(QLatin1String(" AND ")),
             quoted(QString::fromLatin1(ora::kParentKeyNotFound).arg(u8(fk.name).toUpper())));
}

// The Oracle types as declared: the catalog keeps only PostgreSQL's
// (NUMBER(8) and NUMBER(4) are both bigint there).
void recordTypes(Connection &c, const Table &t)
{
    QStringList rows;
    for (const Column &col : t.columns)
        rows << QStringLiteral("(%1, %2, %3)")
                    .arg(quoted(u8(t.name).toUpper()), quoted(u8(col.name).toUpper()), quoted(u8(col.type).toUpper()));
    run(c, QStringLiteral("INSERT INTO vorel_columns (table_name, column_name, data_type) VALUES %1 "
                          "ON CONFLICT (table_name, column_name) DO UPDATE SET data_type = EXCLUDED.data_type")
               .arg(rows.join(QLatin1String(", "))));
}

void createTable(Connection &c, const Table &t)
{
    run(c, schemadef::createTableSql(t, false, postgresType));
    if (t.comment && *t.comment)
        run(c, QStringLiteral("COMMENT ON TABLE %1 IS %2").arg(u8(t.name), quoted(u8(t.comment))));
    for (const Column &col : t.columns)
        if (col.comment && *col.comment)
            run(c, QStringLiteral("COMMENT ON COLUMN %1.%2 IS %3")
                       .arg(u8(t.name), u8(col.name), quoted(u8(col.comment))));
    // SEARCH_CONDITION shows the condition as written, not as PostgreSQL
    // reprints it.
    for (const Check &k : t.checks)
        run(c, QStringLiteral("COMMENT ON CONSTRAINT %1 ON %2 IS %3")
                   .arg(u8(k.name), u8(t.name), quoted(u8(k.condition))));
    recordTypes(c, t);
    QStringList names;
    for (const Column &col : t.columns)
        names << u8(col.name);
    recordSpelling(c, names);
    if (t.session) {
        for (const char *op : {"insert", "update", "delete", "truncate"})
            run(c, QStringLiteral("CREATE TRIGGER trg_%1_%2 BEFORE %3 ON %1 FOR EACH STATEMENT "
                                  "EXECUTE FUNCTION vorel_session_guard()")
                       .arg(u8(t.name).toLower(), QLatin1String(op), QString::fromLatin1(op).toUpper()));
        for (const ForeignKey &fk : t.foreignKeys)
            run(c, sessionForeignKeyFunction(fk));
    }
}

// ---- the dictionary ------------------------------------------------------

// Relations of the schema that the dictionary shows: not the extensions'
// nor the server's own bookkeeping (vorel_...), not a session's TEMP tables.
const char kOurRelations[] =
    "c.relnamespace = (SELECT relnamespace FROM pg_class WHERE oid = 'vorel_spelling'::regclass) "
    "AND c.relname NOT LIKE 'vorel\\_%' "
    "AND NOT EXISTS (SELECT 1 FROM pg_depend d WHERE d.classid = 'pg_class'::regclass AND d.objid = c.oid "
    "AND d.deptype = 'e')";

struct DictionaryView {
    const char *name;
    const char *comment;
    QString select;
};

std::vector<DictionaryView> dictionaryViews()
{
    const QString ours = QString::fromLatin1(kOurRelations);
    return {
        {"ALL_TAB_COMMENTS", "Comentarios de tablas",
         QStringLiteral("SELECT 'VOREL'::text AS OWNER, upper(c.relname) AS TABLE_NAME, "
                        "CASE WHEN c.relkind = 'v' THEN 'VIEW' ELSE 'TABLE' END AS TABLE_TYPE, "
                        "coalesce(obj_description(c.oid, 'pg_class'), '') AS COMMENTS "
                        "FROM pg_class c WHERE c.relkind IN ('r', 'p', 'v') AND %1")
             .arg(ours)},
        {"ALL_COL_COMMENTS", "Comentarios de columnas",
         QStringLiteral("SELECT 'VOREL'::text AS OWNER, upper(c.relname) AS TABLE_NAME, upper(a.attname) AS COLUMN_NAME, "
                        "coalesce(col_description(c.oid, a.attnum), '') AS COMMENTS "
                        "FROM pg_class c JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 "
                        "AND NOT a.attisdropped WHERE c.relkind IN ('r', 'p') AND %1")
             .arg(ours)},
        {"ALL_TAB_COLUMNS", "Columnas de tablas",
         QStringLiteral(
             "SELECT 'VOREL'::text AS OWNER, upper(c.relname) AS TABLE_NAME, upper(a.attname) AS COLUMN_NAME, "
             "coalesce(t.data_type::text, CASE "
             "WHEN a.atttypid = 'varchar'::regtype AND a.atttypmod > 4 THEN 'VARCHAR2(' || (a.atttypmod - 4) || ')' "
             "WHEN a.atttypid IN ('varchar'::regtype, 'text'::regtype) THEN 'CLOB' "
             "WHEN a.atttypid = 'numeric'::regtype AND a.atttypmod > 4 THEN 'NUMBER(' || ((a.atttypmod - 4) >> 16) "
             "|| ',' || ((a.atttypmod - 4) & 65535) || ')' "
             "WHEN a.atttypid IN ('int2'::regtype, 'int4'::regtype, 'int8'::regtype, 'float4'::regtype, "
             "'float8'::regtype, 'numeric'::regtype) THEN 'NUMBER' "
             "WHEN a.atttypid IN ('timestamp'::regtype, 'timestamptz'::regtype, 'date'::regtype) THEN 'DATE' "
             "WHEN a.atttypid = 'bytea'::regtype THEN 'BLOB' "
             "ELSE upper(format_type(a.atttypid, a.atttypmod)) END) AS DATA_TYPE, "
             "CASE WHEN a.attnotnull THEN 'N' ELSE 'Y' END AS NULLABLE, "
             "(SELECT count(*) FROM pg_attribute b WHERE b.attrelid = c.oid AND b.attnum > 0 "
             "AND NOT b.attisdropped AND b.attnum <= a.attnum) AS COLUMN_ID "
             "FROM pg_class c JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped "
             "LEFT JOIN vorel_columns t ON t.table_name = upper(c.relname) AND t.column_name = upper(a.attname) "
             "WHERE c.relkind IN ('r', 'p') AND %1")
             .arg(ours)},
        {"ALL_CONSTRAINTS", "Restricciones",
         QStringLiteral(
             "SELECT 'VOREL'::text AS OWNER, upper(k.conname) AS CONSTRAINT_NAME, "
             "CASE k.contype WHEN 'p' THEN 'P' WHEN 'u' THEN 'U' WHEN 'f' THEN 'R' ELSE 'C' END AS CONSTRAINT_TYPE, "
             "upper(c.relname) AS TABLE_NAME, "
             "CASE WHEN k.contype = 'c' THEN coalesce(obj_description(k.oid, 'pg_constraint'), "
             "pg_get_expr(k.conbin, k.conrelid)) END AS SEARCH_CONDITION, "
             "CASE WHEN r.conname IS NOT NULL THEN 'VOREL' END AS R_OWNER, "
             "upper(r.conname) AS R_CONSTRAINT_NAME, 'ENABLED'::text AS STATUS "
             "FROM pg_constraint k JOIN pg_class c ON c.oid = k.conrelid "
             "LEFT JOIN pg_constraint r ON k.contype = 'f' AND r.conrelid = k.confrelid AND r.conindid = k.conindid "
             "AND r.contype IN ('p', 'u') "
             "WHERE k.contype IN ('p', 'u', 'f', 'c') AND %1")
             .arg(ours)},
        {"ALL_CONS_COLUMNS", "Columnas de restricciones",
         QStringLiteral("SELECT 'VOREL'::text AS OWNER, upper(k.conname) AS CONSTRAINT_NAME, upper(c.relname) AS TABLE_NAME, "
                        "upper(a.attname) AS COLUMN_NAME, "
                        // A check's columns in the table's order, a key's in the key's.
                        "CASE WHEN k.contype = 'c' THEN (SELECT count(*) FROM unnest(k.conkey) x WHERE x <= u.attnum) "
                        "ELSE u.pos END AS POSITION "
                        "FROM pg_constraint k JOIN pg_class c ON c.oid = k.conrelid "
                        "CROSS JOIN LATERAL unnest(k.conkey) WITH ORDINALITY AS u(attnum, pos) "
                        "JOIN pg_attribute a ON a.attrelid = k.conrelid AND a.attnum = u.attnum "
                        "WHERE k.contype IN ('p', 'u', 'f', 'c') AND %1")
             .arg(ours)},
    };
}

const char *const kRegistryTables[] = {"TDICTABLAS", "TDICCOLUM", "TDICRESTR", "TDICRESCOL"};

} // namespace

void recordSpelling(Connection &c, const QStringList &names)
{
    QStringList rows;
    for (const QString &n : names)
        if (!n.isEmpty())
            rows << QStringLiteral("(%1, %2)").arg(quoted(n)).arg(rows.size());
    if (rows.isEmpty())
        return;
    // One spelling per lower-case name, the first one written: the result
    // names are mapped back by it.
    run(c, QStringLiteral("INSERT INTO vorel_spelling (name) SELECT DISTINCT ON (lower(n)) n FROM (VALUES %1) v(n, o) "
                          "WHERE NOT EXISTS (SELECT 1 FROM vorel_spelling s WHERE lower(s.name) = lower(v.n)) "
                          "ORDER BY lower(n), o")
               .arg(rows.join(QLatin1String(", "))));
}

QStringList selectListNames(const QString &select)
{
    using namespace dialect;
    const Seq seq = parse(select);
    const std::vector<size_t> sig = significant(seq);
    size_t i = 0;
    if (i < sig.size() && seq[sig[i]].isWord("SELECT"))
        ++i;
    if (i < sig.size() && (seq[sig[i]].isWord("DISTINCT") || seq[sig[i]].isWord("ALL")))
        ++i;
    std::vector<std::vector<const Node *>> items(1);
    for (; i < sig.size() && !seq[sig[i]].isWord("FROM"); ++i) {
        if (seq[sig[i]].kind == Tok::Comma)
            items.emplace_back();
        else
            items.back().push_back(&seq[sig[i]]);
    }
    auto nameOf = [](const Node *n) {
        return n->kind == Tok::QuotedIdent ? n->text.mid(1, n->text.size() - 2) : n->text;
    };
    auto isName = [](const Node *n) { return n->kind == Tok::Word || n->kind == Tok::QuotedIdent; };
    QStringList out;
    for (const auto &item : items) {
        if (item.empty())
            continue;
        const Node *last = item.back();
        if (!isName(last))
            continue;
        const Node *before = item.size() > 1 ? item[item.size() - 2] : nullptr;
        // Alone, after AS or a dot, or an "expression alias": a name right
        // after a closed expression.
        if (!before || before->isWord("AS") || before->kind == Tok::Dot
            || (!last->isWord("END")
                && (before->kind == Tok::Group || isName(before) || before->kind == Tok::Number
                    || before->kind == Tok::String)))
            out << nameOf(last);
    }
    return out;
}

void createTables(Connection &c, const std::vector<Table> &tables)
{
    for (const Table &t : tables)
        createTable(c, t);
    for (const Table &t : tables) {
        for (const ForeignKey &fk : t.foreignKeys) {
            try {
                c.exec(QStringLiteral("ALTER TABLE %1 ADD CONSTRAINT %2 FOREIGN KEY (%3) REFERENCES %4 (%5)")
                           .arg(u8(t.name), u8(fk.name), joined(fk.columns), u8(fk.parentTable),
                                joined(fk.parentColumns)));
            } catch (const Error &e) {
                if (e.failure().sqlstate == QLatin1String("42830"))
                    throw OraError(ora::text(ora::kNoMatchingKey, u8(fk.name)));
                throw OraError(oracleMessage(c, e.failure()));
            }
            // The session tables' templates stay empty: nothing to look up.
            const QString index = t.session ? QString() : schemadef::foreignKeyIndex(t, fk);
            if (!index.isEmpty())
                run(c, index);
        }
    }
}

void refreshRegistry(Connection &c)
{
    run(c, QStringLiteral(
               "SELECT set_config('vorel.registry', 'on', true);"
               "DELETE FROM tdicrescol; DELETE FROM tdicrestr; DELETE FROM tdiccolum; DELETE FROM tdictablas;"
               "INSERT INTO tdictablas (dtab_tabla, dtab_tipo, dtab_coment) "
               "SELECT table_name, table_type, comments FROM all_tab_comments;"
               "INSERT INTO tdiccolum (dcol_tabla, dcol_col, dcol_pos, dcol_tipo, dcol_nulo, dcol_coment) "
               "SELECT t.table_name, t.column_name, t.column_id, t.data_type, t.nullable, c.comments "
               "FROM all_tab_columns t JOIN all_col_comments c USING (table_name, column_name);"
               "INSERT INTO tdicrestr (dres_restr, dres_tipo, dres_tabla, dres_rrestr, dres_cond) "
               "SELECT constraint_name, constraint_type, table_name, r_constraint_name, search_condition "
               "FROM all_constraints;"
               "INSERT INTO tdicrescol (drco_restr, drco_pos, drco_tabla, drco_col) "
               "SELECT constraint_name, position, table_name, column_name FROM all_cons_columns;"
               "SELECT set_config('vorel.registry', '', true)"));
}

// pgcrypto may have been installed elsewhere before: the password
// functions keep the path they are created with, for this transaction.
void findPgcrypto(Connection &c)
{
    run(c, QStringLiteral("SELECT set_config('search_path', current_setting('search_path') || ', ' || "
                          "quote_ident(n.nspname), true) FROM pg_extension e JOIN pg_namespace n ON n.oid = e.extnamespace "
                          "WHERE e.extname = 'pgcrypto' AND n.nspname <> current_schema()"));
}

QString refreshFunctions(Connection &c)
{
    try {
        Transaction tx(c);
        run(c, QStringLiteral("SELECT pg_catalog.pg_advisory_xact_lock(%1, 0)").arg(kFunctionsLockSpace));
        findPgcrypto(c);
        for (const QString &f : functionTexts())
            run(c, f);
        tx.commit();
    } catch (const Error &e) {
        return e.failure().message;
    } catch (const OraError &e) {
        return e.message();
    }
    return {};
}

void createSchema(Connection &c)
{
    Transaction tx(c);
    run(c, QStringLiteral("CREATE EXTENSION IF NOT EXISTS orafce; CREATE EXTENSION IF NOT EXISTS pgcrypto"));
    findPgcrypto(c);
    run(c, QStringLiteral("CREATE TABLE vorel_spelling (name varchar(128) PRIMARY KEY);"
                          "CREATE TABLE vorel_columns (table_name varchar(128), column_name varchar(128), "
                          "data_type varchar(30) NOT NULL, PRIMARY KEY (table_name, column_name))"));
    for (const QString &f : functionTexts())
        run(c, f);
    createTables(c, schemadef::metadataTables());
    for (const DictionaryView &v : dictionaryViews()) {
        run(c, QStringLiteral("CREATE VIEW %1 AS %2").arg(QLatin1String(v.name), v.select));
        run(c, QStringLiteral("COMMENT ON VIEW %1 IS %2").arg(QLatin1String(v.name), quoted(u8(v.comment))));
        recordSpelling(c, selectListNames(v.select));
    }
    run(c, QStringLiteral("CREATE TRIGGER trg_usuarios_paswd BEFORE INSERT OR UPDATE OF usua_paswd ON tusuarios "
                          "FOR EACH ROW EXECUTE FUNCTION vorel_usuarios_paswd()"));
    for (const char *t : kRegistryTables)
        run(c, QStringLiteral("CREATE TRIGGER trg_%1_guard BEFORE INSERT OR UPDATE OR DELETE OR TRUNCATE ON %1 "
                              "FOR EACH STATEMENT EXECUTE FUNCTION vorel_registry_guard()")
                   .arg(QString::fromLatin1(t).toLower()));
    refreshRegistry(c);
    tx.commit();
}

void grantSessionRole(Connection &c)
{
    const QString role = QString::fromLatin1(kSessionRole);
    Transaction tx(c);
    // Two databases of one cluster made at once may both find no role.
    run(c, QStringLiteral("DO $vorel$ BEGIN "
                          "IF NOT EXISTS (SELECT 1 FROM pg_catalog.pg_roles WHERE rolname = '%1') THEN "
                          "BEGIN CREATE ROLE %1 NOLOGIN; "
                          "EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END; END IF; "
                          "IF NOT pg_catalog.pg_has_role(current_user, '%1', 'MEMBER') THEN "
                          "BEGIN EXECUTE 'GRANT %1 TO ' || pg_catalog.quote_ident(current_user); "
                          "EXCEPTION WHEN unique_violation OR duplicate_object THEN NULL; END; END IF; END $vorel$")
               .arg(role));
    QStringList readable;
    for (const schemadef::Column &col : schemadef::metadataTable(u"TUSUARIOS")->columns)
        if (QString::fromUtf8(col.name).compare(QLatin1String(rights::kPasswordColumn), Qt::CaseInsensitive) != 0)
            readable << QString::fromUtf8(col.name).toLower();
    run(c, QStringLiteral("REVOKE ALL ON ALL TABLES IN SCHEMA public FROM %1; "
                          "GRANT USAGE ON SCHEMA public TO %1; "
                          "GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA public TO %1; "
                          "GRANT USAGE, SELECT ON ALL SEQUENCES IN SCHEMA public TO %1; "
                          "REVOKE SELECT ON tusuarios FROM %1; "
                          "GRANT SELECT (%2) ON tusuarios TO %1; "
                          // Business tables an administrator adds later as this role.
                          "ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT SELECT, INSERT, UPDATE, DELETE ON TABLES TO %1; "
                          "ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT USAGE, SELECT ON SEQUENCES TO %1")
               .arg(role, readable.join(QStringLiteral(", "))));
    // Only a superuser may take from PUBLIC what PostgreSQL gives it; the
    // function gate refuses these names on any database, this is the
    // second line. The owner keeps them (pg_dump sets its search path).
    run(c, QStringLiteral(
               "DO $vorel$ DECLARE f text; BEGIN "
               "IF (SELECT rolsuper FROM pg_catalog.pg_roles WHERE rolname = current_user) THEN "
               "FOREACH f IN ARRAY ARRAY['pg_catalog.ts_stat(text)', 'pg_catalog.ts_stat(text, text)', "
               "'pg_catalog.ts_rewrite(tsquery, text)', 'pg_catalog.set_config(text, text, boolean)', "
               "'pg_catalog.pg_terminate_backend(integer, bigint)', 'pg_catalog.pg_cancel_backend(integer)', "
               "'pg_catalog.query_to_xml(text, boolean, boolean, text)', "
               "'pg_catalog.query_to_xmlschema(text, boolean, boolean, text)', "
               "'pg_catalog.query_to_xml_and_xmlschema(text, boolean, boolean, text)'] LOOP "
               "EXECUTE 'REVOKE EXECUTE ON FUNCTION ' || f || ' FROM PUBLIC'; "
               "EXECUTE 'GRANT EXECUTE ON FUNCTION ' || f || ' TO ' || pg_catalog.quote_ident(current_user); "
               "END LOOP; END IF; END $vorel$"));
    tx.commit();
}

namespace {

const char kKeyValue[] = "NULLIF(pg_catalog.current_setting('vorel.sesion', true), '')::bigint";

std::vector<const Table *> sessionTables()
{
    std::vector<const Table *> out;
    for (const Table &t : schemadef::metadataTables())
        if (t.session)
            out.push_back(&t);
    return out;
}

} // namespace

void createWorkingTables(Connection &c, bool always)
{
    if (!always) {
        const Result r = run(c, QStringLiteral("SELECT pg_catalog.to_regclass('vorel_session.%1') IS NOT NULL")
                                    .arg(u8(sessionTables().back()->name).toLower()));
        if (r.text(0, 0) == QLatin1String("t"))
            return;
    }
    const QString role = QString::fromLatin1(kSessionRole);
    Transaction tx(c);
    run(c, QStringLiteral("CREATE SCHEMA IF NOT EXISTS vorel_work; CREATE SCHEMA IF NOT EXISTS vorel_session; "
                          "REVOKE ALL ON SCHEMA vorel_work FROM PUBLIC; "
                          "CREATE SEQUENCE IF NOT EXISTS vorel_work.session_keys; "
                          "CREATE TABLE IF NOT EXISTS vorel_work.sessions (session_key bigint PRIMARY KEY, "
                          "server integer NOT NULL, user_id text, since timestamptz NOT NULL DEFAULT now()); "
                          "CREATE INDEX IF NOT EXISTS sessions_server ON vorel_work.sessions (server)"));
    for (const Table *t : sessionTables()) {
        const QString name = u8(t->name).toLower();
        // The template's columns, defaults and checks (with their names,
        // which the errors quote).
        run(c, QStringLiteral("CREATE TABLE IF NOT EXISTS vorel_work.%1 (vorel_key bigint NOT NULL DEFAULT %2, "
                              "vorel_seq bigint GENERATED ALWAYS AS IDENTITY, "
                              "LIKE %1 INCLUDING DEFAULTS INCLUDING CONSTRAINTS); "
                              "CREATE INDEX IF NOT EXISTS %1_key ON vorel_work.%1 (vorel_key, vorel_seq)")
                   .arg(name, QLatin1String(kKeyValue)));
        for (const ForeignKey &fk : t->foreignKeys)
            run(c, QStringLiteral("CREATE OR REPLACE TRIGGER trg_%1 BEFORE INSERT OR UPDATE OF %2 ON vorel_work.%3 "
                                  "FOR EACH ROW EXECUTE FUNCTION vorel_%1()")
                       .arg(u8(fk.name).toLower(), joined(fk.columns), name));
        std::vector<const char *> columns;
        for (const Column &col : t->columns)
            columns.push_back(col.name);
        // In the order written, as a TEMP table's rows read; the check
        // keeps a row written through the view under the session's key.
        run(c, QStringLiteral("CREATE OR REPLACE VIEW vorel_session.%1 WITH (security_barrier) AS SELECT %2 "
                              "FROM vorel_work.%1 WHERE vorel_key = %3 ORDER BY vorel_seq WITH LOCAL CHECK OPTION")
                   .arg(name, joined(columns), QLatin1String(kKeyValue)));
    }
    run(c, QStringLiteral("GRANT USAGE ON SCHEMA vorel_session TO %1; "
                          "GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA vorel_session TO %1")
               .arg(role));
    tx.commit();
}

qint64 startSessionRows(Connection &c, const QString &userId, int server)
{
    Transaction tx(c);
    const Result r = run(c, QStringLiteral("INSERT INTO vorel_work.sessions (session_key, server, user_id) "
                                           "VALUES (nextval('vorel_work.session_keys'), $1, $2) RETURNING session_key"),
                         {server, userId.trimmed()});
    const qint64 key = r.text(0, 0).toLongLong();
    run(c, QStringLiteral("INSERT INTO vorel_work.rsesion (vorel_key, SESI_Usua, SESI_USUADer) VALUES ($1, $2, $2)"),
        {key, userId.trimmed()});
    tx.commit();
    return key;
}

QString sequenceFunctions()
{
    return builtInText(QStringLiteral(":/pg/functions/sequences.sql"), QStringLiteral("sequences.sql"));
}

// The session's CURRVALs; the table is there once the database has had
// sequences (or was made with them).
const char kForgetSequences[] = "DO $vorel$ BEGIN IF pg_catalog.to_regclass('vorel_work.sequence_values') IS NOT NULL "
                                "THEN DELETE FROM vorel_work.sequence_values w WHERE %1; END IF; END $vorel$";

void endSessionRows(Connection &c, qint64 key)
{
    QString sql =
        QString::fromLatin1(kForgetSequences).arg(QStringLiteral("vorel_key = %1").arg(key)) + QStringLiteral("; ");
    for (const Table *t : sessionTables())
        sql += QStringLiteral("DELETE FROM vorel_work.%1 WHERE vorel_key = %2; ").arg(u8(t->name).toLower()).arg(key);
    c.exec(sql + QStringLiteral("DELETE FROM vorel_work.sessions WHERE session_key = %1").arg(key));
}

int clearDeadSessions(Connection &c)
{
    Transaction tx(c);
    // A server's lock is taken here only where nobody holds it: its process
    // is gone. Taken for this transaction alone.
    const Result r = run(c, QStringLiteral("WITH dead AS (SELECT server FROM (SELECT DISTINCT server FROM "
                                           "vorel_work.sessions) s WHERE pg_catalog.pg_try_advisory_xact_lock(%1, "
                                           "s.server)), gone AS (DELETE FROM vorel_work.sessions WHERE server IN "
                                           "(SELECT server FROM dead) RETURNING 1) SELECT count(*) FROM gone")
                                .arg(kServerLockSpace));
    const int cleared = r.text(0, 0).toInt();
    for (const Table *t : sessionTables())
        run(c, QStringLiteral("DELETE FROM vorel_work.%1 w WHERE NOT EXISTS (SELECT 1 FROM vorel_work.sessions s "
                              "WHERE s.session_key = w.vorel_key)")
                   .arg(u8(t->name).toLower()));
    run(c,
        QString::fromLatin1(kForgetSequences)
            .arg(QLatin1String("NOT EXISTS (SELECT 1 FROM vorel_work.sessions s WHERE s.session_key = w.vorel_key)")));
    tx.commit();
    return cleared;
}

void createSessionTables(Connection &c, const QString &userId, const char *role)
{
    const qint64 key = startSessionRows(c, userId, 0);
    run(c, QStringLiteral("SET %1 = '%2'; SET search_path = %3")
               .arg(QLatin1String(kSessionKey))
               .arg(key)
               .arg(QLatin1String(kSessionPath)));
    if (role)
        run(c, QStringLiteral("SET ROLE %1").arg(QLatin1String(role)));
}

void fillDemo(Connection &c)
{
    runOracleScript(c, demoScript(), QStringLiteral(":/demo"));
}

} // namespace vorel::server::pg
