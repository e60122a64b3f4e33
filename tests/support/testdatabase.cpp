#include "support/testdatabase.h"

#include "common/exception.h"
#include "server/backend/backends.h"
#include "server/backend/postgres/pgconnection.h"
#include "server/backend/sqlite/sqlitedialect.h"
#include "server/core/oraerror.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sqlite3.h>

namespace vorel::test {

using server::pg::Connection;

namespace {

QString clusterUri() { return qEnvironmentVariable("VOREL_TEST_PG"); }

void onCluster(const QString &sql)
{
    Connection c(clusterUri());
    c.exec(sql);
}

// A name no other test process of the run uses.
QString pgName()
{
    static QAtomicInt counter;
    return QStringLiteral("vt_%1_%2").arg(QCoreApplication::applicationPid()).arg(counter.fetchAndAddRelaxed(1));
}

// A set-up written for SQLite, as PostgreSQL takes it: Oracle's types in
// CREATE TABLE mapped as the server maps them, and the columns' spellings
// registered, so that SELECT * names them alike on both; blob literals as
// bytea.
QString pgFlavour(const QString &sql)
{
    static const QRegularExpression create(QStringLiteral("CREATE\\s+TABLE\\s+(\\w+)\\s*\\((.*)\\)\\s*$"),
                                           QRegularExpression::CaseInsensitiveOption
                                               | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression columnName(QStringLiteral("(?:^|,)\\s*(\\w+)\\s+(?:NUMBER|VARCHAR2|DATE|BLOB|CLOB)"),
                                               QRegularExpression::CaseInsensitiveOption);
    const struct {
        const char *pattern;
        const char *replacement;
    } types[] = {
        {"\\bNUMBER\\s*\\(\\s*\\d+\\s*,\\s*[1-9]\\d*\\s*\\)", "double precision"},
        {"\\bNUMBER\\s*\\(\\s*\\d+\\s*(?:,\\s*0\\s*)?\\)", "bigint"},
        {"\\bNUMBER\\b", "numeric"},
        {"\\bVARCHAR2\\b", "varchar"},
        {"\\bDATE\\b", "timestamp(0)"},
        {"\\bBLOB\\b", "bytea"},
        {"\\bCLOB\\b", "text"},
    };
    // SQLite's blob literal X'00FF' is a bit string to PostgreSQL.
    static const QRegularExpression blob(QStringLiteral("(?<![\\w'])[xX]'([0-9A-Fa-f]*)'"));
    QString text;
    qsizetype from = 0;
    for (auto it = blob.globalMatch(sql); it.hasNext();) {
        const auto m = it.next();
        text += sql.mid(from, m.capturedStart() - from) + QStringLiteral("'\\x") + m.captured(1)
            + QStringLiteral("'::bytea");
        from = m.capturedEnd();
    }
    text += sql.mid(from);
    if (!text.contains(QLatin1String("CREATE TABLE"), Qt::CaseInsensitive))
        return text;
    QStringList out;
    for (QString statement : text.split(QLatin1Char(';'))) {
        const auto m = create.match(statement);
        if (m.hasMatch()) {
            QStringList spellings;
            auto names = columnName.globalMatch(m.captured(2));
            while (names.hasNext())
                spellings << QStringLiteral("('%1')").arg(names.next().captured(1));
            for (const auto &t : types)
                statement.replace(QRegularExpression(QLatin1String(t.pattern), QRegularExpression::CaseInsensitiveOption),
                                  QLatin1String(t.replacement));
            if (!spellings.isEmpty())
                statement += QStringLiteral(";INSERT INTO VOREL_SPELLING (NAME) VALUES %1 ON CONFLICT DO NOTHING")
                                 .arg(spellings.join(QLatin1Char(',')));
        }
        out << statement;
    }
    return out.join(QLatin1Char(';'));
}

struct SqliteFile {
    sqlite3 *handle = nullptr;
    explicit SqliteFile(const QString &file)
    {
        if (!QFileInfo::exists(file))
            throw vorel::Exception(QStringLiteral("no database file ") + file);
        if (sqlite3_open_v2(file.toUtf8().constData(), &handle, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw vorel::Exception(QStringLiteral("cannot open ") + file);
        sqlite3_busy_timeout(handle, 10000);
        vorel::server::registerOracleFunctions(handle); // the class views compute through them
    }
    ~SqliteFile() { sqlite3_close_v2(handle); }
    [[noreturn]] void fail(const QString &sql) const
    {
        throw vorel::Exception(QString::fromUtf8(sqlite3_errmsg(handle)) + QStringLiteral(" in: ") + sql);
    }
};

QString cellText(const QVariant &v)
{
    if (v.isNull())
        return QStringLiteral("<null>");
    switch (v.typeId()) {
    case QMetaType::Double: {
        const double d = v.toDouble();
        return d == qint64(d) ? QString::number(qint64(d)) : QString::number(d, 'g', 15);
    }
    case QMetaType::QDateTime:
        return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case QMetaType::QByteArray:
        return QString::fromUtf8(v.toByteArray());
    default:
        return v.toString();
    }
}

} // namespace

Engine thisRun()
{
    return qEnvironmentVariable("VOREL_TEST_BACKEND") == QLatin1String("postgresql") ? Engine::Postgres
                                                                                      : Engine::Sqlite;
}

QString unavailable(Engine engine)
{
    if (engine == Engine::Sqlite)
        return {};
    if (clusterUri().isEmpty())
        return QStringLiteral("PostgreSQL not available: VOREL_TEST_PG is not set (tests/run.sh sets it when "
                              "PostgreSQL can be installed)");
    try {
        Connection c(clusterUri());
    } catch (const vorel::Exception &e) {
        return QStringLiteral("PostgreSQL not available: ") + e.message();
    }
    return {};
}

std::unique_ptr<QTemporaryDir> makeTempDir()
{
    QString parent = qEnvironmentVariable("VOREL_TEST_TMP");
    if (parent.isEmpty())
        parent = QDir::tempPath();
    QDir().mkpath(parent);
    auto dir = std::make_unique<QTemporaryDir>(parent + QStringLiteral("/vorel-XXXXXX"));
    return dir->isValid() ? std::move(dir) : nullptr;
}

TestDatabase::TestDatabase(Engine engine, const QString &file) : m_engine(engine)
{
    if (engine == Engine::Postgres) {
        m_pgName = pgName();
        m_location = Connection::withDatabase(clusterUri(), m_pgName);
    } else if (!file.isEmpty()) {
        m_location = file;
    } else if ((m_dir = makeTempDir())) {
        m_location = m_dir->filePath(QStringLiteral("vorel.db"));
    }
}

TestDatabase::~TestDatabase()
{
    if (m_engine != Engine::Postgres || clusterUri().isEmpty())
        return;
    try {
        onCluster(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_pgName));
    } catch (...) {
    }
}

QString TestDatabase::create(bool demo, const QList<server::InitScript> &scripts)
{
    const QString why = unavailable(m_engine);
    if (!why.isEmpty())
        return why;
    if (m_location.isEmpty())
        return QStringLiteral("cannot create a temporary folder");
    return server::backends::forLocation(m_location).init(m_location, demo, scripts, false);
}

QString TestDatabase::copyOf(const TestDatabase &other)
{
    if (m_engine == Engine::Sqlite)
        return QFile::copy(other.location(), m_location) ? QString()
                                                          : QStringLiteral("cannot copy the database to ") + m_location;
    try {
        onCluster(QStringLiteral("CREATE DATABASE %1 TEMPLATE %2").arg(m_pgName, other.m_pgName));
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

std::unique_ptr<server::Database> TestDatabase::open(const QString &user) const
{
    auto db = server::backends::forLocation(m_location).open(m_location);
    if (!user.isEmpty())
        db->startSession(user);
    return db;
}

Answer run(server::Database &db, const QString &oracleSql)
{
    Answer a;
    try {
        const QString head = oracleSql.trimmed().left(6).toUpper();
        if (!head.startsWith(QLatin1String("SELECT")) && !head.startsWith(QLatin1String("WITH"))) {
            db.executeDirect(oracleSql);
            return a;
        }
        const server::Database::OpenResult open = db.openCursor(oracleSql, -1);
        db.closeCursor(open.cursor);
        for (const proto::Column &c : open.columns)
            a.columns << c.name;
        for (const QVariantList &row : open.rows.allRows()) {
            QStringList cells;
            for (const QVariant &v : row)
                cells << cellText(v);
            a.rows << cells;
        }
    } catch (const server::OraError &e) {
        a.error = e.message();
    } catch (const vorel::Exception &e) {
        a.error = e.message();
    }
    return a;
}

QList<QStringList> query(const QString &location, const QString &sql)
{
    QList<QStringList> rows;
    if (!server::backends::forLocation(location).isFile()) {
        Connection c(location);
        c.exec(QStringLiteral("SET search_path = public, oracle, pg_catalog"));
        try {
            const auto r = c.exec(pgFlavour(sql));
            for (int i = 0; i < r.rows(); ++i) {
                QStringList row;
                for (int k = 0; k < r.columns(); ++k)
                    row << (r.isNull(i, k) ? QStringLiteral("<null>") : r.text(i, k));
                rows << row;
            }
        } catch (const server::pg::Error &e) {
            throw vorel::Exception(e.failure().message + QStringLiteral(" in: ") + sql);
        }
        return rows;
    }
    SqliteFile db(location);
    const QByteArray utf8 = sql.toUtf8();
    const char *next = utf8.constData();
    // Every statement runs; the rows are those of the last that gave some.
    while (*next) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db.handle, next, -1, &stmt, &next) != SQLITE_OK)
            db.fail(sql);
        if (!stmt)
            break; // blanks or a note to the end
        QList<QStringList> these;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            QStringList row;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c)
                row << (sqlite3_column_type(stmt, c) == SQLITE_NULL
                            ? QStringLiteral("<null>")
                            : QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, c)),
                                                sqlite3_column_bytes(stmt, c)));
            these << row;
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE)
            db.fail(sql);
        if (!these.isEmpty())
            rows = these;
    }
    return rows;
}

void exec(const QString &location, const QString &sql) { query(location, sql); }

server::InitScript fixtureRows()
{
    static const char text[] = R"SQL(
INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_eMail, USUA_Paswd, USUA_Fecha)
  VALUES (990001, 'Ana Prueba', 'ana@prueba.es', 'clave1', TIMESTAMP '2024-01-02 00:00:00');
INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_eMail, USUA_Paswd) VALUES (990002, 'Luis O''Brien', NULL, 'clave2');
INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('ZVEN', 'Ventas Z'), ('ZADM', 'Administración Z'), ('ZVAC', 'Vacío Z');
INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (990001, 'ZVEN', 0), (990001, 'ZADM', 2);
INSERT INTO TUSUMROL (USUM_Usua) VALUES (990002);
INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq, CLAS_PKey) VALUES ('ZCLI', 'Clientes Z', 'CLIENTE'),
  ('ZPED', 'Pedidos Z', 'PEDIDO'), ('ZOFF', 'Apagada Z', NULL);
INSERT INTO TCLAROL (CLAR_Clase, CLAR_Rol, CLAR_Etiq, CLAR_Activo, CLAR_Menu) VALUES ('ZCLI', 'ZVEN', NULL, 1, 1),
  ('ZPED', 'ZVEN', 'Mis pedidos', 1, 1), ('ZOFF', 'ZVEN', NULL, 1, 1), ('ZCLI', 'ZADM', 'Clientes admin', 1, 1);
INSERT INTO TBOTONES (BOTO_Boton, BOTO_Img, BOTO_HotKey) VALUES (903, FILE('cero.bin'), NULL);
INSERT INTO TBOTONES (BOTO_Boton, BOTO_Img, BOTO_HotKey) VALUES (907, FILE('cero.bin'), 'Ctrl+N');
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Ejec, METO_Boton, METO_Externo, METO_Activo, METO_Padre, METO_Visib)
  VALUES ('ZCLI', 'main', 'Consultar', NULL, NULL, 0, 1, NULL, 1),
         ('ZCLI', 'ALTA', 'Alta', NULL, 907, 0, 1, 'main', 1),
         ('ZCLI', 'BAJA', 'Baja', 'BajaCli', 903, 0, 1, 'main', 1),
         ('ZCLI', 'NOTA', 'Nota', NULL, NULL, 0, 1, 'main', 1),
         ('ZCLI', 'QUITA', 'Quitado', NULL, 907, 0, 1, 'main', 1),
         ('ZPED', 'main', 'Consultar', NULL, NULL, 0, 1, NULL, 1),
         ('ZOFF', 'main', 'Consultar', NULL, NULL, 0, 1, NULL, 1);
INSERT INTO TMETROL (METR_Clase, METR_Metodo, METR_Rol, METR_Etiq, METR_Activo) VALUES
  ('ZCLI', 'main', 'ZVEN', NULL, 1), ('ZCLI', 'ALTA', 'ZVEN', 'Alta cliente', 1), ('ZCLI', 'BAJA', 'ZVEN', NULL, 1),
  ('ZCLI', 'NOTA', 'ZVEN', NULL, 1), ('ZCLI', 'QUITA', 'ZVEN', NULL, 1), ('ZPED', 'main', 'ZVEN', NULL, 1),
  ('ZOFF', 'main', 'ZVEN', NULL, 1), ('ZCLI', 'main', 'ZADM', 'Ver', 1);
INSERT INTO TXUSUROL (XUSU_Usua, XUSU_Clase, XUSU_Rol, XUSU_Metodo) VALUES (990001, 'ZCLI', 'ZVEN', 'QUITA');
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES
  (990101, 'ZCLI', 'main', 'WIN32', 1), (990102, 'ZPED', 'main', 'WIN32', 1), (990103, 'ZOFF', 'main', 'WIN32', 0),
  (990104, 'ZCLI', 'ALTA', 'WIN32', 1);
INSERT INTO TPROPCLASES (PROP_Clase, PROP_Prop, PROP_Etiq, PROP_Visib, PROP_Estad, PROP_Mone, PROP_Tama, PROP_Mask, PROP_Orden, PROP_PropEtiq)
  VALUES ('ZCLI', 'CLIENTE', 'Cliente', 1, 0, 0, 0, NULL, 1, 'NOMBRE'),
         ('ZCLI', 'NOMBRE', 'Nombre', 1, 0, 0, 30, NULL, 2, NULL),
         ('ZCLI', 'SALDO', 'Saldo', 1, 1, 1, 0, NULL, 3, NULL),
         ('ZCLI', 'ESTADO', 'Estado', 2, 0, 0, 0, NULL, 4, NULL),
         ('ZCLI', 'ALTA', 'Fecha alta', 1, 0, 0, 0, NULL, 5, NULL),
         ('ZPED', 'PEDIDO', 'Pedido', 1, 0, 0, 0, NULL, 1, NULL),
         ('ZPED', 'CLIENTE', 'Cliente', 1, 0, 0, 0, NULL, 2, NULL);
INSERT INTO TRELPROPS (RELP_Clase_P, RELP_Prop_P, RELP_Clase, RELP_Prop) VALUES ('ZCLI', 'CLIENTE', 'ZPED', 'CLIENTE');
INSERT INTO TFILTSELEC (FILT_Filtro, FILT_Clase, FILT_Rol, FILT_Descrip, FILT_Prop, FILT_Defa) VALUES
  (990201, 'ZCLI', 'ZVEN', 'Estado del cliente', NULL, 1), (990202, 'ZCLI', 'ZVEN', NULL, 'CLIENTE', 0);
INSERT INTO TCOLFILTROS (COLF_Filtro, COLF_Orden, COLF_Col, COLF_Expr) VALUES
  (990201, 1, 'Todos', '1=1'), (990201, 2, 'Activos', 'ESTADO = ''A'''),
  (990202, 1, 'ZCLIENTES_T', 'CLIENTE' || CHR(13) || CHR(10) || 'NOMBRE' || CHR(13) || CHR(10) || '10');
INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_Raiz, BINS_GUI) VALUES ('zcli.dll', '1.0.0.1', FILE('cero.bin'), '2', 'WIN32');
UPDATE TMENEXCEP SET MENE_Mensaje = 'Activo debe ser 0 o 1' WHERE MENE_Refer = 'CK_CLAROL_ACTIVO';

CREATE TABLE ZCLIENTES_T (CLIENTE VARCHAR2(10), NOMBRE VARCHAR2(60), SALDO NUMBER(12,2), ESTADO VARCHAR2(1), ALTA DATE);
INSERT INTO ZCLIENTES_T (CLIENTE, NOMBRE, SALDO, ESTADO, ALTA) VALUES
  ('10', 'Ana García', 100.5, 'A', TIMESTAMP '2024-03-05 10:30:00'),
  ('20', 'Luis O''Brien', NULL, 'B', TIMESTAMP '2024-03-06 00:00:00'), ('30', 'Marta Díaz', -20, 'A', NULL),
  ('40', 'Pedro_Sanz', 0, NULL, TIMESTAMP '2024-02-29 23:59:59');
CREATE TABLE ZPEDIDOS_T (PEDIDO NUMBER(8), CLIENTE VARCHAR2(10), FECHA DATE, IMPORTE NUMBER(12,2));
INSERT INTO ZPEDIDOS_T (PEDIDO, CLIENTE, FECHA, IMPORTE) VALUES (1, '10', TIMESTAMP '2024-03-01 09:00:00', 50),
  (2, '10', TIMESTAMP '2024-03-02 09:00:00', 70), (3, '20', TIMESTAMP '2024-03-03 09:00:00', 15);
CREATE VIEW pZCLI_main AS SELECT CLIENTE, NOMBRE, SALDO, ESTADO, ALTA FROM ZCLIENTES_T;
CREATE VIEW pZPED_main AS SELECT PEDIDO, CLIENTE, FECHA, IMPORTE FROM ZPEDIDOS_T;
CREATE SEQUENCE ZSEQ_TRES MAXVALUE 3 CYCLE NOCACHE;
CREATE SEQUENCE ZSEQ_BAJA INCREMENT BY -1 MINVALUE 1 MAXVALUE 3 CYCLE CACHE 2;
CREATE SEQUENCE vorel.ZSEQ_FIN MAXVALUE 2 NOCYCLE;
CREATE SEQUENCE ZSEQ_NUNCA START WITH 1000 INCREMENT BY 1 NOCACHE NOCYCLE;
CREATE SEQUENCE ZSEQ_CLAVES;
)SQL";
    // One file of a single zero byte stands for every blob of the rows.
    static const std::unique_ptr<QTemporaryDir> dir = makeTempDir();
    static const QString path = [] {
        QFile script(dir->filePath(QStringLiteral("fixture.sql")));
        QFile zero(dir->filePath(QStringLiteral("cero.bin")));
        if (!script.open(QIODevice::WriteOnly) || script.write(text) < 0 || !zero.open(QIODevice::WriteOnly)
            || zero.write(QByteArray(1, '\0')) != 1)
            qFatal("cannot write the fixture's rows");
        return script.fileName();
    }();
    return {path, true};
}

} // namespace vorel::test
