#include "bench/classgen.h"

#include "common/exception.h"
#include "server/backend/backends.h"
#include "server/core/database.h"
#include "server/schema/oraclescript.h"
#include "server/core/oraerror.h"
#include "server/backend/postgres/pgconnection.h"
#include "server/backend/postgres/pgdatabase.h"
#include "server/backend/postgres/pgschema.h"
#include "server/schema/schema.h"
#include "server/backend/sqlite/sqliteschema.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sqlite3.h>

#include <array>
#include <optional>
#include <cstdio>
#include <string>
#include <vector>

namespace vorel::bench {

namespace {

using server::schemadef::Column;
using server::schemadef::Table;

// Where the class goes: the SQLite file of a demo database, or a PostgreSQL
// database made by "vorel-server init --pg --demo". The metadata is written
// as SQL both take; the rows go in the fastest way each has.
class Store
{
public:
    virtual ~Store() = default;
    virtual void exec(const QString &sql) = 0;
    virtual qint64 number(const QString &sql) = 0;
    virtual QStringList texts(const QString &sql) = 0;
    virtual bool hasObject(const QString &upperName) = 0;
    virtual bool isDemo() = 0;
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    virtual void createTable(const Table &table) = 0;
    virtual void createView(const QString &name, const QString &select, const QString &comment) = 0;
    // One row of texts (nullopt: NULL), in the table's column order.
    virtual void startRows(const QString &table, const QStringList &columns) = 0;
    virtual void row(const std::vector<std::optional<std::string>> &values) = 0;
    virtual void endRows() = 0;
};

class SqliteStore final : public Store
{
public:
    explicit SqliteStore(const QString &file)
    {
        if (!QFileInfo(file).isFile())
            throw Exception(QStringLiteral("No existe la base de datos %1").arg(file));
        if (sqlite3_open_v2(QFile::encodeName(file).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            const QString why = QString::fromUtf8(sqlite3_errmsg(m_db));
            sqlite3_close_v2(m_db);
            throw Exception(QStringLiteral("No se puede abrir %1: %2").arg(file, why));
        }
        sqlite3_busy_timeout(m_db, 30000);
    }
    ~SqliteStore() override
    {
        sqlite3_finalize(m_insert);
        sqlite3_close_v2(m_db);
    }

    void exec(const QString &sql) override
    {
        char *err = nullptr;
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK) {
            const QString why = QString::fromUtf8(err ? err : sqlite3_errmsg(m_db));
            sqlite3_free(err);
            throw Exception(why + QStringLiteral(" en: ") + sql.left(200));
        }
    }

    qint64 number(const QString &sql) override
    {
        sqlite3_stmt *st = prepare(sql);
        qint64 n = -1;
        if (sqlite3_step(st) == SQLITE_ROW)
            n = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
        return n;
    }

    QStringList texts(const QString &sql) override
    {
        sqlite3_stmt *st = prepare(sql);
        QStringList out;
        while (sqlite3_step(st) == SQLITE_ROW)
            out << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        return out;
    }

    bool hasObject(const QString &upperName) override
    {
        return number(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE upper(name) = '%1'").arg(upperName)) > 0;
    }

    bool isDemo() override
    {
        return number(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN ('TCLASES', 'TROLES', "
                                     "'TDICTABLAS')"))
            == 3;
    }

    // One large transaction: a cache that holds the index as it grows, and
    // no wait for the disk at the commit (the WAL journal still keeps the
    // file whole if the program stops halfway).
    void begin() override
    {
        exec(QStringLiteral("PRAGMA cache_size = -131072"));
        exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
        exec(QStringLiteral("BEGIN IMMEDIATE"));
    }
    void commit() override { exec(QStringLiteral("COMMIT")); }
    void rollback() override { sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr); }

    void createTable(const Table &table) override { server::schemadef::createTables(m_db, {table}); }

    void createView(const QString &name, const QString &select, const QString &comment) override
    {
        exec(QStringLiteral("CREATE VIEW %1 AS %2").arg(name, select));
        server::schemadef::registerView(m_db, name, comment);
    }

    void startRows(const QString &table, const QStringList &columns) override
    {
        QStringList marks;
        for (qsizetype i = 0; i < columns.size(); ++i)
            marks << QStringLiteral("?");
        m_table = table;
        m_insert = prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                               .arg(table, columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))));
    }

    void row(const std::vector<std::optional<std::string>> &values) override
    {
        sqlite3_reset(m_insert);
        for (size_t i = 0; i < values.size(); ++i) {
            if (values[i])
                sqlite3_bind_text(m_insert, int(i + 1), values[i]->data(), int(values[i]->size()), SQLITE_STATIC);
            else
                sqlite3_bind_null(m_insert, int(i + 1));
        }
        if (sqlite3_step(m_insert) != SQLITE_DONE)
            fail(QStringLiteral("INSERT INTO ") + m_table);
    }

    void endRows() override
    {
        sqlite3_finalize(m_insert);
        m_insert = nullptr;
    }

private:
    sqlite3_stmt *prepare(const QString &sql) const
    {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK) {
            sqlite3_finalize(st);
            fail(sql);
        }
        return st;
    }

    [[noreturn]] void fail(const QString &what) const
    {
        throw Exception(QString::fromUtf8(sqlite3_errmsg(m_db)) + QStringLiteral(" en: ") + what.left(200));
    }

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    QString m_table;
};

class PostgresStore final : public Store
{
public:
    explicit PostgresStore(const QString &uri) : m_c(uri)
    {
        m_c.exec(server::PgDatabase::sessionSettings());
    }

    void exec(const QString &sql) override { run(sql); }
    qint64 number(const QString &sql) override
    {
        const server::pg::Result r = run(sql);
        return r.rows() > 0 ? r.text(0, 0).toLongLong() : -1;
    }
    QStringList texts(const QString &sql) override
    {
        const server::pg::Result r = run(sql);
        QStringList out;
        for (int i = 0; i < r.rows(); ++i)
            out << r.text(i, 0);
        return out;
    }
    bool hasObject(const QString &upperName) override
    {
        return number(QStringLiteral("SELECT count(*) FROM pg_class WHERE relname = lower('%1') AND "
                                     "pg_table_is_visible(oid)")
                          .arg(upperName))
            > 0;
    }
    bool isDemo() override
    {
        return number(QStringLiteral("SELECT count(*) FROM pg_class WHERE relname IN ('tclases', 'troles', "
                                     "'vorel_spelling') AND pg_table_is_visible(oid)"))
            == 3;
    }
    void begin() override { run(QStringLiteral("BEGIN")); }
    void commit() override
    {
        server::pg::refreshRegistry(m_c);
        run(QStringLiteral("COMMIT"));
    }
    void rollback() override
    {
        try {
            m_c.exec(QStringLiteral("ROLLBACK"));
        } catch (const server::pg::Error &) {
        }
    }
    void createTable(const Table &table) override { server::pg::createTables(m_c, {table}); }
    void createView(const QString &name, const QString &select, const QString &comment) override
    {
        server::pg::runOracleScript(m_c,
                                    QStringLiteral("CREATE VIEW %1 AS %2;\nCOMMENT ON TABLE %1 IS %3;\n")
                                    .arg(name, select, server::schemadef::quoted(comment)),
                                QString());
    }

    void startRows(const QString &table, const QStringList &columns) override
    {
        m_copy = QStringLiteral("COPY %1 (%2) FROM STDIN").arg(table, columns.join(QStringLiteral(", ")));
        m_buffer.clear();
    }

    // COPY's text form: tab between values, \\N for NULL, backslash escapes.
    void row(const std::vector<std::optional<std::string>> &values) override
    {
        for (size_t i = 0; i < values.size(); ++i) {
            if (i > 0)
                m_buffer += '\t';
            if (!values[i]) {
                m_buffer += "\\N";
                continue;
            }
            for (char ch : *values[i]) {
                if (ch == '\\' || ch == '\t' || ch == '\n' || ch == '\r')
                    m_buffer += '\\';
                m_buffer += ch == '\t' ? 't' : ch == '\n' ? 'n' : ch == '\r' ? 'r' : ch;
            }
        }
        m_buffer += '\n';
        if (m_buffer.size() > (8 << 20))
            flush();
    }

    void endRows() override { flush(); }

private:
    // One COPY per few megabytes of rows, so that a million rows are never
    // all held at once.
    void flush()
    {
        if (m_buffer.isEmpty())
            return;
        bool sent = false;
        try {
            m_c.copyIn(m_copy, [&](QByteArray &out) {
                if (!sent)
                    out = m_buffer;
                sent = true;
                return false;
            });
        } catch (const server::pg::Error &e) {
            throw Exception(e.failure().message + QStringLiteral(" en: ") + m_copy);
        }
        m_buffer.clear();
    }

    server::pg::Result run(const QString &sql)
    {
        try {
            return m_c.exec(sql);
        } catch (const server::pg::Error &e) {
            throw Exception(e.failure().message + QStringLiteral(" en: ") + sql.left(200));
        }
    }

    server::pg::Connection m_c;
    QString m_copy;
    QByteArray m_buffer;
};

// The same numbers on every run, as the demo data has them.
class Random
{
public:
    explicit Random(quint64 seed) : m_state(seed) {}
    quint32 next()
    {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return quint32(m_state >> 33);
    }
    int below(int n) { return int(next() % quint32(n)); }

private:
    quint64 m_state;
};

// One property of the class: the table column, the view column and how the
// list window presents it.
struct Property {
    const char *suffix;   // table column after the prefix and "_"
    const char *type;
    bool notNull;
    const char *comment;
    const char *prop;     // view column
    const char *label;
    int visib;
    int estad;
    int mone;
    int tama;
};

const std::array<Property, 12> kProperties = {{
    {"Id", "NUMBER(10)", true, "Número\nNúmero del movimiento", "ID", "Número", 1, 0, 0, 8},
    {"Codigo", "VARCHAR2(12)", true, "Código\nCódigo del movimiento", "CODIGO", "Código", 1, 0, 0, 10},
    {"Nombre", "VARCHAR2(80)", true, "Titular\nTitular del movimiento", "NOMBRE", "Titular", 1, 0, 0, 30},
    {"Descrip", "VARCHAR2(400)", false, "Descripción del movimiento", "DESCRIPCION", "Descripción", 1, 0, 0, 40},
    {"Ciudad", "VARCHAR2(40)", true, "Población\nPoblación del titular", "CIUDAD", "Población", 1, 0, 0, 18},
    {"Grupo", "NUMBER(4)", true, "Grupo\nGrupo contable", "GRUPO", "Grupo", 2, 0, 0, 0},
    {"Cantidad", "NUMBER(8)", true, "Cantidad\nUnidades del movimiento", "CANTIDAD", "Cantidad", 1, 1, 0, 8},
    {"Importe", "NUMBER(12,2)", true, "Importe\nImporte del movimiento", "IMPORTE", "Importe", 1, 1, 1, 12},
    {"Precio", "NUMBER(10,2)", true, "Precio\nPrecio unitario", "PRECIO", "Precio", 1, 1, 1, 10},
    {"Saldo", "NUMBER(12,2)", false, "Saldo\nSaldo tras el movimiento", "SALDO", "Saldo", 1, 1, 1, 12},
    {"Alta", "DATE", true, "Fecha\nFecha del movimiento", "ALTA", "Fecha", 1, 0, 0, 10},
    {"Movim", "DATE", false, "Registro\nMomento del registro", "MOVIMIENTO", "Registrado", 1, 0, 0, 16},
}};

const char *const kHolders[] = {"Bar", "Restaurante", "Cafetería", "Supermercados", "Hotel", "Hostal", "Mesón",
                                "Autoservicio", "Tienda de ultramarinos", "Catering", "Taberna", "Cervecería"};
const char *const kNames[] = {"El Puerto", "Los Arcos", "La Plaza", "San Miguel", "El Olivo", "La Parra",
                              "Santa Ana", "El Mirador", "La Estación", "Las Flores", "El Rincón", "Los Pinos",
                              "Hermanos García", "Martín e Hijos", "Doña Carmen", "Sol y Sombra"};
const char *const kTowns[] = {"Madrid", "Alcalá de Henares", "Getafe", "Barcelona", "Sabadell", "Valencia",
                              "Gandia", "Sevilla", "Dos Hermanas", "Zaragoza", "Málaga", "Marbella", "Bilbao",
                              "Murcia", "Cartagena", "Valladolid", "Alicante", "Elche", "Granada", "Oviedo"};
const char *const kWords[] = {"entrega", "pedido", "servido", "en", "almacén", "con", "factura", "pendiente",
                              "de", "cobro", "según", "albarán", "número", "cliente", "habitual", "urgente",
                              "transporte", "propio", "devolución", "parcial", "y", "descuento", "aplicado"};

template <typename T, size_t N> constexpr int count(const T (&)[N]) { return int(N); }

} // namespace

QString GeneratedClass::classRowsSql(const QString &role) const
{
    return QStringLiteral("SELECT * FROM TABLE(p%1.main('%2'))").arg(id, role);
}

bool validClassId(const QString &id)
{
    static const QRegularExpression form(QStringLiteral("^[A-Z][A-Z0-9_]{0,23}$"));
    return form.match(id).hasMatch();
}

GeneratedClass generateClass(const QString &database, const QString &classId, qint64 rows)
{
    if (!validClassId(classId))
        throw Exception(QStringLiteral("Código de clase no válido: %1 (mayúsculas, cifras y _, hasta 24)").arg(classId));
    if (rows < 0 || rows > 100000000)
        throw Exception(QStringLiteral("Número de filas no válido: %1").arg(rows));

    GeneratedClass out;
    out.id = classId;
    out.table = QStringLiteral("T") + classId;
    out.view = QStringLiteral("p") + classId + QStringLiteral("_main");
    out.rows = rows;
    for (const Property &p : kProperties)
        if (p.estad)
            out.statisticsColumns << QString::fromLatin1(p.prop);

    std::unique_ptr<Store> store;
    if (!server::backends::forLocation(database).isFile())
        store = std::make_unique<PostgresStore>(database);
    else
        store = std::make_unique<SqliteStore>(database);
    Store &db = *store;
    if (!db.isDemo())
        throw Exception(QStringLiteral("%1 no es una base de datos de vorel-server init --demo")
                            .arg(!server::backends::forLocation(database).isFile() ? server::pg::Connection::withoutPassword(database) : database));
    if (db.number(QStringLiteral("SELECT count(*) FROM TCLASES WHERE CLAS_Clase = '%1'").arg(classId)) > 0)
        throw Exception(QStringLiteral("La clase %1 ya existe").arg(classId));
    if (db.hasObject(out.table.toUpper()) || db.hasObject(out.view.toUpper()))
        throw Exception(QStringLiteral("Ya hay una tabla o vista %1 o %2").arg(out.table, out.view));
    const QStringList roles = db.texts(QStringLiteral("SELECT ROLE_Rol FROM TROLES ORDER BY ROLE_Rol"));

    // The column prefix: the first four characters of the class id.
    const QByteArray prefix = classId.left(4).toLatin1() + '_';
    std::vector<QByteArray> names;
    std::vector<QByteArray> keep; // texts the table description points into
    keep.reserve(4);
    Table table;
    keep.push_back(out.table.toLatin1());
    table.name = keep.back().constData();
    keep.push_back(QStringLiteral("Movimientos\nMovimientos de %1").arg(classId).toUtf8());
    table.comment = keep.back().constData();
    names.reserve(kProperties.size());
    for (const Property &p : kProperties) {
        names.push_back(prefix + p.suffix);
        table.columns.push_back(Column{names.back().constData(), p.type, p.notNull, p.comment});
    }
    keep.push_back("PK_" + classId.toLatin1());
    table.primaryKey = {keep.back().constData(), {names[0].constData()}};

    db.begin();
    try {
        db.createTable(table);

        QStringList select;
        for (size_t i = 0; i < kProperties.size(); ++i)
            select << QStringLiteral("%1 AS %2").arg(QString::fromLatin1(names[i]), QString::fromLatin1(kProperties[i].prop));
        db.createView(out.view, QStringLiteral("SELECT %1 FROM %2").arg(select.join(QStringLiteral(", ")), out.table),
                      QStringLiteral("Filas de la clase %1").arg(classId));

        db.exec(QStringLiteral("INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq, CLAS_PKey) VALUES ('%1', 'Movimientos %1', 'ID')")
                    .arg(classId));
        db.exec(QStringLiteral("INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Ejec, METO_Boton, "
                               "METO_Externo, METO_Activo, METO_Padre, METO_Visib) "
                               "VALUES ('%1', 'main', 'Consulta de', NULL, NULL, 0, 1, NULL, 1)")
                    .arg(classId));
        db.exec(QStringLiteral("INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) "
                               "SELECT coalesce(max(CUSO_Cuso), 0) + 1, '%1', 'main', 'WIN32', 1 FROM TCUSOS")
                    .arg(classId));
        for (const QString &role : roles) {
            db.exec(QStringLiteral("INSERT INTO TCLAROL (CLAR_Clase, CLAR_Rol, CLAR_Etiq, CLAR_Activo, CLAR_Menu) "
                                   "VALUES ('%1', %2, NULL, 1, 1)")
                        .arg(classId, server::schemadef::quoted(role)));
            db.exec(QStringLiteral("INSERT INTO TMETROL (METR_Clase, METR_Metodo, METR_Rol, METR_Etiq, METR_Activo) "
                                   "VALUES ('%1', 'main', %2, NULL, 1)")
                        .arg(classId, server::schemadef::quoted(role)));
        }
        int order = 0;
        for (const Property &p : kProperties)
            db.exec(QStringLiteral("INSERT INTO TPROPCLASES (PROP_Clase, PROP_Prop, PROP_Etiq, PROP_Visib, PROP_Estad, "
                                   "PROP_Mone, PROP_Tama, PROP_Mask, PROP_Orden, PROP_PropEtiq) "
                                   "VALUES ('%1', '%2', %3, %4, %5, %6, %7, NULL, %8, NULL)")
                        .arg(classId, QString::fromLatin1(p.prop), server::schemadef::quoted(QString::fromUtf8(p.label)))
                        .arg(p.visib)
                        .arg(p.estad)
                        .arg(p.mone)
                        .arg(p.tama)
                        .arg(order += 10));

        QStringList columns;
        for (const QByteArray &n : names)
            columns << QString::fromLatin1(n);
        db.startRows(out.table, columns);
        std::vector<std::optional<std::string>> values(kProperties.size());
        auto number = [](qint64 v) { return std::optional<std::string>(std::to_string(v)); };
        // Cents as the decimal text both databases read exactly.
        auto cents = [](qint64 v) {
            char b[32];
            std::snprintf(b, sizeof b, "%s%lld.%02lld", v < 0 ? "-" : "", static_cast<long long>(std::llabs(v) / 100),
                          static_cast<long long>(std::llabs(v) % 100));
            return std::optional<std::string>(b);
        };

        // Day texts of ten years, made once.
        constexpr int kDays = 3650;
        std::vector<std::string> days(kDays);
        const QDate first(2016, 1, 1);
        for (int d = 0; d < kDays; ++d)
            days[size_t(d)] = first.addDays(d).toString(QStringLiteral("yyyy-MM-dd")).toStdString();

        Random rnd(20260101);
        std::string code, name, description, alta, moment;
        code.reserve(16);
        for (qint64 i = 1; i <= rows; ++i) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%c-%08lld", classId.at(0).toLatin1(), static_cast<long long>(i));
            code = buffer;
            name = kHolders[rnd.below(count(kHolders))];
            name += ' ';
            name += kNames[rnd.below(count(kNames))];
            if (rnd.below(3) == 0) {
                name += " ";
                name += kTowns[rnd.below(count(kTowns))];
            }
            const bool noDescription = rnd.below(10) == 0;
            description.clear();
            if (!noDescription) {
                const int words = rnd.below(rnd.below(4) == 0 ? 48 : 8) + 1;
                for (int w = 0; w < words; ++w) {
                    if (w > 0)
                        description += ' ';
                    description += kWords[rnd.below(count(kWords))];
                }
            }
            const char *town = kTowns[rnd.below(count(kTowns))];
            const int group = 100 + rnd.below(40);
            const int quantity = rnd.below(4) == 0 ? rnd.below(5000) + 1 : rnd.below(24) + 1;
            const qint64 priceCents = 5 + rnd.below(250000);
            const qint64 amountCents = priceCents * quantity;
            const bool noBalance = rnd.below(20) == 0;
            const qint64 balanceCents = qint64(rnd.below(2000000000)) - 1000000000;
            const int day = int((i * 7 + rnd.below(30)) % kDays);
            alta = days[size_t(day)] + " 00:00:00";
            const bool noMoment = rnd.below(8) == 0;
            const int minute = rnd.below(24 * 60);
            std::snprintf(buffer, sizeof buffer, " %02d:%02d:%02d", minute / 60, minute % 60, rnd.below(60));
            moment = days[size_t((day + rnd.below(3)) % kDays)] + buffer;

            values[0] = number(i);
            values[1] = code;
            values[2] = name;
            values[3] = noDescription ? std::nullopt : std::optional<std::string>(description);
            values[4] = std::string(town);
            values[5] = number(group);
            values[6] = number(quantity);
            values[7] = cents(amountCents);
            values[8] = cents(priceCents);
            values[9] = noBalance ? std::nullopt : cents(balanceCents);
            values[10] = alta;
            values[11] = noMoment ? std::nullopt : std::optional<std::string>(moment);
            db.row(values);
        }
        db.endRows();
        db.commit();
    } catch (const server::OraError &e) {
        db.rollback();
        throw Exception(e.message());
    } catch (...) {
        db.rollback();
        throw;
    }
    return out;
}

} // namespace vorel::bench
