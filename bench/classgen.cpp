#include "bench/classgen.h"

#include "common/exception.h"
#include "server/oraerrors.h"
#include "server/schema.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sqlite3.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace vorel::bench {

namespace {

using server::schemadef::Column;
using server::schemadef::Table;

class Db
{
public:
    explicit Db(const QString &file)
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
    ~Db() { sqlite3_close_v2(m_db); }
    Db(const Db &) = delete;
    Db &operator=(const Db &) = delete;

    sqlite3 *handle() const { return m_db; }

    void exec(const QString &sql) const
    {
        char *err = nullptr;
        if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK) {
            const QString why = QString::fromUtf8(err ? err : sqlite3_errmsg(m_db));
            sqlite3_free(err);
            throw Exception(why + QStringLiteral(" en: ") + sql.left(200));
        }
    }

    qint64 number(const QString &sql) const
    {
        sqlite3_stmt *st = prepare(sql);
        qint64 n = -1;
        if (sqlite3_step(st) == SQLITE_ROW)
            n = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
        return n;
    }

    QStringList texts(const QString &sql) const
    {
        sqlite3_stmt *st = prepare(sql);
        QStringList out;
        while (sqlite3_step(st) == SQLITE_ROW)
            out << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        return out;
    }

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

private:
    sqlite3 *m_db = nullptr;
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

GeneratedClass generateClass(const QString &databaseFile, const QString &classId, qint64 rows)
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

    Db db(databaseFile);
    if (db.number(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN ('TCLASES', 'TROLES', 'TDICTABLAS')"))
        != 3)
        throw Exception(QStringLiteral("%1 no es una base de datos de vorel-server init --demo").arg(databaseFile));
    if (db.number(QStringLiteral("SELECT count(*) FROM TCLASES WHERE CLAS_Clase = '%1'").arg(classId)) > 0)
        throw Exception(QStringLiteral("La clase %1 ya existe").arg(classId));
    if (db.number(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE upper(name) IN ('%1', '%2')")
                      .arg(out.table.toUpper(), out.view.toUpper()))
        > 0)
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

    // One large transaction: a cache that holds the index as it grows, and
    // no wait for the disk at the commit (the WAL journal still keeps the
    // file whole if the program stops halfway).
    db.exec(QStringLiteral("PRAGMA cache_size = -131072"));
    db.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
    db.exec(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        server::schemadef::createTables(db.handle(), {table});

        QStringList select;
        for (size_t i = 0; i < kProperties.size(); ++i)
            select << QStringLiteral("%1 AS %2").arg(QString::fromLatin1(names[i]), QString::fromLatin1(kProperties[i].prop));
        db.exec(QStringLiteral("CREATE VIEW %1 AS SELECT %2 FROM %3").arg(out.view, select.join(QStringLiteral(", ")), out.table));
        server::schemadef::registerView(db.handle(), out.view, QStringLiteral("Filas de la clase %1").arg(classId));

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

        QStringList columns, marks;
        for (const QByteArray &n : names) {
            columns << QString::fromLatin1(n);
            marks << QStringLiteral("?");
        }
        sqlite3_stmt *insert = db.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                              .arg(out.table, columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))));

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

            sqlite3_reset(insert);
            sqlite3_bind_int64(insert, 1, i);
            sqlite3_bind_text(insert, 2, code.data(), int(code.size()), SQLITE_STATIC);
            sqlite3_bind_text(insert, 3, name.data(), int(name.size()), SQLITE_STATIC);
            if (noDescription)
                sqlite3_bind_null(insert, 4);
            else
                sqlite3_bind_text(insert, 4, description.data(), int(description.size()), SQLITE_STATIC);
            sqlite3_bind_text(insert, 5, town, -1, SQLITE_STATIC);
            sqlite3_bind_int(insert, 6, group);
            sqlite3_bind_int(insert, 7, quantity);
            sqlite3_bind_double(insert, 8, double(amountCents) / 100.0);
            sqlite3_bind_double(insert, 9, double(priceCents) / 100.0);
            if (noBalance)
                sqlite3_bind_null(insert, 10);
            else
                sqlite3_bind_double(insert, 10, double(balanceCents) / 100.0);
            sqlite3_bind_text(insert, 11, alta.data(), int(alta.size()), SQLITE_STATIC);
            if (noMoment)
                sqlite3_bind_null(insert, 12);
            else
                sqlite3_bind_text(insert, 12, moment.data(), int(moment.size()), SQLITE_STATIC);
            if (sqlite3_step(insert) != SQLITE_DONE) {
                sqlite3_finalize(insert);
                db.fail(QStringLiteral("INSERT INTO ") + out.table);
            }
        }
        sqlite3_finalize(insert);
        db.exec(QStringLiteral("COMMIT"));
    } catch (const server::OraError &e) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw Exception(e.message());
    } catch (...) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    return out;
}

} // namespace vorel::bench
