#include "server/schema.h"
#include "server/demo_icons.h"
#include "server/oraerrors.h"

#include <QDate>
#include <QStringList>
#include <QVariant>

#include <sqlite3.h>

#include <cmath>

namespace vorel::server {

namespace {

using namespace schemadef;

constexpr bool NN = true;
constexpr bool OPT = false;

// The business tables of the distributor.
const std::vector<Table> &businessTables()
{
    static const std::vector<Table> tables = {
        {"TPROVINCIAS", "Provincias",
         {{"PROV_Prov", "VARCHAR2(2)", NN, "Provincia\nCódigo de la provincia"},
          {"PROV_Nombre", "VARCHAR2(40)", NN, "Nombre de la provincia"}},
         {"PK_PROVINCIAS", {"PROV_Prov"}}, {}, {}, {}},
        {"TFAMILIAS", "Familias\nFamilias de productos",
         {{"FAMI_Familia", "VARCHAR2(6)", NN, "Familia\nCódigo de la familia"},
          {"FAMI_Nombre", "VARCHAR2(60)", NN, "Nombre de la familia"}},
         {"PK_FAMILIAS", {"FAMI_Familia"}}, {{"UK_FAMILIAS_NOMBRE", {"FAMI_Nombre"}}}, {}, {}},
        {"TCLIENTES", "Clientes",
         {{"CLIE_Cliente", "NUMBER(6)", NN, "Cliente\nCódigo del cliente"},
          {"CLIE_Nombre", "VARCHAR2(80)", NN, "Nombre\nNombre o razón social del cliente"},
          {"CLIE_NIF", "VARCHAR2(12)", NN, "NIF\nNIF del cliente"},
          {"CLIE_Direccion", "VARCHAR2(100)", OPT, "Dirección del cliente"},
          {"CLIE_Ciudad", "VARCHAR2(40)", OPT, "Población del cliente"},
          {"CLIE_Prov", "VARCHAR2(2)", NN, "Provincia\nProvincia del cliente"},
          {"CLIE_Telefono", "VARCHAR2(15)", OPT, "Teléfono del cliente"},
          {"CLIE_eMail", "VARCHAR2(100)", OPT, "Correo electrónico del cliente"},
          {"CLIE_Limite", "NUMBER(12,2)", NN, "Límite de crédito\nLímite de crédito del cliente"},
          {"CLIE_Activo", "NUMBER(1)", NN, "Activo\nCliente activo"},
          {"CLIE_Fecha", "DATE", NN, "Fecha de alta del cliente"}},
         {"PK_CLIENTES", {"CLIE_Cliente"}}, {{"UK_CLIENTES_NIF", {"CLIE_NIF"}}},
         {{"FK_CLIENTES_PROVINCIAS", {"CLIE_Prov"}, "TPROVINCIAS", {"PROV_Prov"}}},
         {{"CK_CLIENTES_LIMITE", "CLIE_Limite >= 0"}, {"CK_CLIENTES_ACTIVO", "CLIE_Activo IN (0, 1)"}}},
        {"TPRODUCTOS", "Productos\nProductos del catálogo",
         {{"PROD_Producto", "VARCHAR2(10)", NN, "Producto\nCódigo del producto"},
          {"PROD_Descrip", "VARCHAR2(80)", NN, "Descripción\nDescripción del producto"},
          {"PROD_Familia", "VARCHAR2(6)", NN, "Familia\nFamilia del producto"},
          {"PROD_Precio", "NUMBER(10,2)", NN, "Precio\nPrecio de venta del producto"},
          {"PROD_Stock", "NUMBER(8)", NN, "Existencias del producto"},
          {"PROD_Activo", "NUMBER(1)", NN, "Activo\nProducto a la venta"}},
         {"PK_PRODUCTOS", {"PROD_Producto"}}, {},
         {{"FK_PRODUCTOS_FAMILIAS", {"PROD_Familia"}, "TFAMILIAS", {"FAMI_Familia"}}},
         {{"CK_PRODUCTOS_PRECIO", "PROD_Precio >= 0"}, {"CK_PRODUCTOS_STOCK", "PROD_Stock >= 0"},
          {"CK_PRODUCTOS_ACTIVO", "PROD_Activo IN (0, 1)"}}},
        {"TPEDIDOS", "Pedidos\nPedidos de clientes",
         {{"PEDI_Pedido", "NUMBER(8)", NN, "Pedido\nNúmero del pedido"},
          {"PEDI_Cliente", "NUMBER(6)", NN, "Cliente\nCliente del pedido"},
          {"PEDI_Fecha", "DATE", NN, "Fecha\nFecha del pedido"},
          {"PEDI_Estado", "VARCHAR2(1)", NN, "Estado\nEstado del pedido (P, S, F, A)"},
          {"PEDI_Usua", "NUMBER(8)", OPT, "Comercial\nUsuario que tomó el pedido"},
          {"PEDI_Observ", "VARCHAR2(200)", OPT, "Observaciones del pedido"}},
         {"PK_PEDIDOS", {"PEDI_Pedido"}}, {},
         {{"FK_PEDIDOS_CLIENTES", {"PEDI_Cliente"}, "TCLIENTES", {"CLIE_Cliente"}},
          {"FK_PEDIDOS_USUARIOS", {"PEDI_Usua"}, "TUSUARIOS", {"USUA_Usua"}}},
         {{"CK_PEDIDOS_ESTADO", "PEDI_Estado IN ('P', 'S', 'F', 'A')"}}},
        {"TLINEAS", "Líneas de pedido",
         {{"LINE_Pedido", "NUMBER(8)", NN, "Pedido\nPedido de la línea"},
          {"LINE_Linea", "NUMBER(4)", NN, "Línea\nNúmero de línea"},
          {"LINE_Producto", "VARCHAR2(10)", NN, "Producto\nProducto de la línea"},
          {"LINE_Cantidad", "NUMBER(8)", NN, "Cantidad\nUnidades pedidas"},
          {"LINE_Precio", "NUMBER(10,2)", NN, "Precio\nPrecio unitario"},
          {"LINE_Dto", "NUMBER(5,2)", NN, "Descuento\nDescuento en porcentaje"}},
         {"PK_LINEAS", {"LINE_Pedido", "LINE_Linea"}}, {},
         {{"FK_LINEAS_PEDIDOS", {"LINE_Pedido"}, "TPEDIDOS", {"PEDI_Pedido"}},
          {"FK_LINEAS_PRODUCTOS", {"LINE_Producto"}, "TPRODUCTOS", {"PROD_Producto"}}},
         {{"CK_LINEAS_CANTIDAD", "LINE_Cantidad > 0"}, {"CK_LINEAS_PRECIO", "LINE_Precio >= 0"},
          {"CK_LINEAS_DTO", "LINE_Dto BETWEEN 0 AND 100"}}},
        {"TFACTURAS", "Facturas\nFacturas de pedidos",
         {{"FACT_Factura", "NUMBER(8)", NN, "Factura\nNúmero de la factura"},
          {"FACT_Pedido", "NUMBER(8)", NN, "Pedido\nPedido facturado"},
          {"FACT_Fecha", "DATE", NN, "Fecha\nFecha de la factura"},
          {"FACT_Base", "NUMBER(12,2)", NN, "Base imponible"},
          {"FACT_IVA", "NUMBER(12,2)", NN, "Cuota de IVA"},
          {"FACT_Total", "NUMBER(12,2)", NN, "Total\nTotal de la factura"},
          {"FACT_VtoFecha", "DATE", NN, "Fecha de vencimiento"},
          {"FACT_Cobrada", "NUMBER(1)", NN, "Cobrada\nFactura cobrada"}},
         {"PK_FACTURAS", {"FACT_Factura"}}, {{"UK_FACTURAS_PEDIDO", {"FACT_Pedido"}}},
         {{"FK_FACTURAS_PEDIDOS", {"FACT_Pedido"}, "TPEDIDOS", {"PEDI_Pedido"}}},
         {{"CK_FACTURAS_TOTAL", "abs(FACT_Total - FACT_Base - FACT_IVA) < 0.005"},
          {"CK_FACTURAS_COBRADA", "FACT_Cobrada IN (0, 1)"},
          {"CK_FACTURAS_VTO", "FACT_VtoFecha >= FACT_Fecha"}}},
    };
    return tables;
}

// Rules of the business that Oracle code would raise as application errors.
const char *const kBusinessRules[] = {
    "CREATE TRIGGER TRG_PEDIDOS_ANULA BEFORE UPDATE OF PEDI_Estado ON TPEDIDOS\n"
    "WHEN NEW.PEDI_Estado = 'A' AND EXISTS (SELECT 1 FROM TFACTURAS WHERE FACT_Pedido = NEW.PEDI_Pedido)\n"
    "BEGIN SELECT RAISE(ABORT, 'ORA-20001: No se puede anular un pedido facturado\n"
    "ORA-06512: at \"VOREL.TRG_PEDIDOS_ANULA\", line 5'); END",
    "CREATE TRIGGER TRG_FACTURAS_BORRA BEFORE DELETE ON TFACTURAS\n"
    "WHEN OLD.FACT_Cobrada = 1\n"
    "BEGIN SELECT RAISE(ABORT, 'ORA-20001: No se puede eliminar una factura cobrada\n"
    "ORA-06512: at \"VOREL.TRG_FACTURAS_BORRA\", line 4'); END",
    "CREATE TRIGGER TRG_LINEAS_FACTURADO BEFORE INSERT ON TLINEAS\n"
    "WHEN EXISTS (SELECT 1 FROM TPEDIDOS WHERE PEDI_Pedido = NEW.LINE_Pedido AND PEDI_Estado IN ('F', 'A'))\n"
    "BEGIN SELECT RAISE(ABORT, 'ORA-20001: El pedido está cerrado y no admite líneas nuevas\n"
    "ORA-06512: at \"VOREL.TRG_LINEAS_FACTURADO\", line 6'); END",
};

// The rows of each class: one column per property, named in upper case.
struct ClassView { const char *name; const char *comment; const char *select; };
const ClassView kClassViews[] = {
    {"pCLIENTES_main", "Filas de la clase Clientes",
     "SELECT CLIE_Cliente AS CLIENTE, CLIE_Nombre AS NOMBRE, CLIE_NIF AS NIF, CLIE_Direccion AS DIRECCION, "
     "CLIE_Ciudad AS CIUDAD, CLIE_Prov AS PROVINCIA, PROV_Nombre AS NOMPROVINCIA, CLIE_Telefono AS TELEFONO, "
     "CLIE_eMail AS EMAIL, CLIE_Limite AS LIMITE, CLIE_Activo AS ACTIVO, CLIE_Fecha AS ALTA, "
     "(SELECT count(*) FROM TPEDIDOS WHERE PEDI_Cliente = CLIE_Cliente) AS PEDIDOS "
     "FROM TCLIENTES JOIN TPROVINCIAS ON PROV_Prov = CLIE_Prov"},
    {"pPRODUCTOS_main", "Filas de la clase Productos",
     "SELECT PROD_Producto AS PRODUCTO, PROD_Descrip AS DESCRIPCION, PROD_Familia AS FAMILIA, "
     "FAMI_Nombre AS NOMFAMILIA, PROD_Precio AS PRECIO, PROD_Stock AS STOCK, PROD_Activo AS ACTIVO, "
     "(SELECT total(LINE_Cantidad) FROM TLINEAS WHERE LINE_Producto = PROD_Producto) AS VENDIDAS "
     "FROM TPRODUCTOS JOIN TFAMILIAS ON FAMI_Familia = PROD_Familia"},
    {"pFAMILIAS_main", "Filas de la clase Familias",
     "SELECT FAMI_Familia AS FAMILIA, FAMI_Nombre AS NOMBRE, "
     "(SELECT count(*) FROM TPRODUCTOS WHERE PROD_Familia = FAMI_Familia) AS PRODUCTOS FROM TFAMILIAS"},
    {"pPEDIDOS_main", "Filas de la clase Pedidos",
     "SELECT PEDI_Pedido AS PEDIDO, PEDI_Fecha AS FECHA, PEDI_Cliente AS CLIENTE, CLIE_Nombre AS NOMCLIENTE, "
     "PEDI_Estado AS ESTADO, CASE PEDI_Estado WHEN 'P' THEN 'Pendiente' WHEN 'S' THEN 'Servido' "
     "WHEN 'F' THEN 'Facturado' WHEN 'A' THEN 'Anulado' END AS NOMESTADO, "
     "(SELECT count(*) FROM TLINEAS WHERE LINE_Pedido = PEDI_Pedido) AS LINEAS, "
     "(SELECT total(round(LINE_Cantidad * round(LINE_Precio * 100) * (100 - LINE_Dto) / 100.0)) / 100.0 "
     "FROM TLINEAS WHERE LINE_Pedido = PEDI_Pedido) AS IMPORTE, PEDI_Usua AS COMERCIAL, PEDI_Observ AS OBSERVACIONES "
     "FROM TPEDIDOS JOIN TCLIENTES ON CLIE_Cliente = PEDI_Cliente"},
    {"pLINEAS_main", "Filas de la clase Líneas de pedido",
     "SELECT LINE_Pedido AS PEDIDO, LINE_Linea AS LINEA, PEDI_Fecha AS FECHA, LINE_Producto AS PRODUCTO, "
     "PROD_Descrip AS DESCRIPCION, LINE_Cantidad AS CANTIDAD, LINE_Precio AS PRECIO, LINE_Dto AS DTO, "
     "round(LINE_Cantidad * round(LINE_Precio * 100) * (100 - LINE_Dto) / 100.0) / 100.0 AS IMPORTE "
     "FROM TLINEAS JOIN TPEDIDOS ON PEDI_Pedido = LINE_Pedido JOIN TPRODUCTOS ON PROD_Producto = LINE_Producto"},
    {"pFACTURAS_main", "Filas de la clase Facturas",
     "SELECT FACT_Factura AS FACTURA, FACT_Fecha AS FECHA, FACT_Pedido AS PEDIDO, PEDI_Cliente AS CLIENTE, "
     "CLIE_Nombre AS NOMCLIENTE, FACT_Base AS BASE, FACT_IVA AS IVA, FACT_Total AS TOTAL, "
     "FACT_VtoFecha AS VENCIMIENTO, FACT_Cobrada AS COBRADA "
     "FROM TFACTURAS JOIN TPEDIDOS ON PEDI_Pedido = FACT_Pedido JOIN TCLIENTES ON CLIE_Cliente = PEDI_Cliente"},
    {"pTARIFAS_main", "Filas de la clase Tarifas",
     "SELECT PROD_Producto AS PRODUCTO, PROD_Descrip AS DESCRIPCION, PROD_Precio AS PRECIO, "
     "round(PROD_Precio * 1.21, 2) AS PRECIOIVA FROM TPRODUCTOS"},
    {"pUSUARIOS_main", "Filas de la clase Usuarios",
     "SELECT USUA_Usua AS USUARIO, USUA_Nombre AS NOMBRE, USUA_eMail AS EMAIL, USUA_Fecha AS ALTA, "
     "(SELECT count(*) FROM TUSUROL WHERE USUR_Usua = USUA_Usua) AS ROLES FROM TUSUARIOS"},
    {"pUSUROL_main", "Filas de la clase Usuarios y roles",
     "SELECT USUR_Usua AS USUARIO, USUA_Nombre AS NOMBRE, USUR_Rol AS ROL, ROLE_Etiq AS NOMROL, "
     "USUR_Admin AS ADMIN FROM TUSUROL JOIN TUSUARIOS ON USUA_Usua = USUR_Usua JOIN TROLES ON ROLE_Rol = USUR_Rol"},
};

// A prepared INSERT run once per row.
class Insert
{
public:
    Insert(sqlite3 *db, const char *sql) : m_db(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            fail();
    }
    ~Insert() { sqlite3_finalize(m_stmt); }
    Insert(const Insert &) = delete;
    Insert &operator=(const Insert &) = delete;

    void row(std::initializer_list<QVariant> values)
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        int i = 0;
        for (const QVariant &v : values) {
            ++i;
            if (v.isNull()) {
                sqlite3_bind_null(m_stmt, i);
            } else if (v.typeId() == QMetaType::QByteArray) {
                const QByteArray b = v.toByteArray();
                sqlite3_bind_blob(m_stmt, i, b.constData(), int(b.size()), SQLITE_TRANSIENT);
            } else if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong) {
                sqlite3_bind_int64(m_stmt, i, v.toLongLong());
            } else if (v.typeId() == QMetaType::Double) {
                sqlite3_bind_double(m_stmt, i, v.toDouble());
            } else {
                const QByteArray t = v.toString().toUtf8();
                sqlite3_bind_text(m_stmt, i, t.constData(), int(t.size()), SQLITE_TRANSIENT);
            }
        }
        if (sqlite3_step(m_stmt) != SQLITE_DONE)
            fail();
    }

private:
    [[noreturn]] void fail()
    {
        throw OraError(oracleMessage(m_db, sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db))));
    }
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

const QVariant null;

QVariant text(const char *s) { return s ? QVariant(QString::fromUtf8(s)) : QVariant(); }

// Deterministic pseudo-random numbers, so every demo database is the same.
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
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    template <typename T, size_t N> const T &pick(const T (&items)[N]) { return items[below(int(N))]; }

private:
    quint64 m_state;
};

QString dateTime(const QDate &d, int minutes = 0)
{
    return d.toString(QStringLiteral("yyyy-MM-dd")) +
           QStringLiteral(" %1:%2:00").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString slug(const QString &s)
{
    QString out;
    for (QChar c : s.normalized(QString::NormalizationForm_D)) {
        if (c.isLetterOrNumber() && c.unicode() < 128)
            out += c.toLower();
    }
    return out;
}

// ---------------------------------------------------------------------------
// Configuration: users, roles, classes, methods, properties, filters.

void fillUsersAndRoles(sqlite3 *db)
{
    Insert user(db, "INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_eMail, USUA_Paswd, USUA_Fecha) VALUES (?,?,?,?,?)");
    struct U { int id; const char *name; const char *mail; const char *since; };
    const U users[] = {
        {1001, "Ana Martínez López", "ana.martinez@alameda-distribuciones.es", "2024-01-08 09:00:00"},
        {1002, "Carlos Ruiz Gómez", "carlos.ruiz@alameda-distribuciones.es", "2024-01-08 09:00:00"},
        {1003, "Elena Sánchez Pérez", "elena.sanchez@alameda-distribuciones.es", "2024-03-01 09:00:00"},
        {1004, "Javier Torres Navarro", "javier.torres@alameda-distribuciones.es", "2024-01-08 09:00:00"},
        {1005, "Lucía Romero Díaz", nullptr, "2025-09-15 09:00:00"},
        {1006, "Pablo Herrero Vidal", "pablo.herrero@alameda-distribuciones.es", "2024-02-12 09:00:00"},
        {1007, "Marta Iglesias Cano", "marta.iglesias@alameda-distribuciones.es", "2024-06-03 09:00:00"},
        {1008, "Sergio Molina Rubio", "sergio.molina@alameda-distribuciones.es", "2025-02-03 09:00:00"},
    };
    for (const U &u : users)
        user.row({u.id, text(u.name), text(u.mail), QStringLiteral("clave"), text(u.since)});

    Insert role(db, "INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES (?,?)");
    role.row({QStringLiteral("ADMIN"), QStringLiteral("Administración")});
    role.row({QStringLiteral("AUDITOR"), QStringLiteral("Auditoría")});
    role.row({QStringLiteral("COMPRAS"), QStringLiteral("Compras")});
    role.row({QStringLiteral("VENTAS"), QStringLiteral("Ventas")});

    Insert grant(db, "INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (?,?,?)");
    struct G { int user; const char *role; int admin; };
    const G grants[] = {
        {1001, "VENTAS", 0},
        {1002, "VENTAS", 0}, {1002, "ADMIN", 1},
        {1003, "ADMIN", 2},
        {1004, "VENTAS", 0}, {1004, "COMPRAS", 0}, {1004, "ADMIN", 1},
        {1006, "COMPRAS", 0},
        {1007, "VENTAS", 0}, {1007, "COMPRAS", 0},
        {1008, "AUDITOR", 0},
    };
    for (const G &g : grants)
        grant.row({g.user, text(g.role), g.admin});
    Insert multi(db, "INSERT INTO TUSUMROL (USUM_Usua) VALUES (?)");
    multi.row({1004});
}

void fillParameters(sqlite3 *db)
{
    Insert gui(db, "INSERT INTO TGUIS (GUIS_Gui, GUIS_Etiq, GUIS_Fecha) VALUES (?,?,?)");
    gui.row({QStringLiteral("WIN32"), QStringLiteral("Cliente de escritorio"), QStringLiteral("2026-10-05 08:00:00")});
    gui.row({QStringLiteral("WEB"), QStringLiteral("Cliente web"), QStringLiteral("2026-06-01 08:00:00")});

    Insert param(db, "INSERT INTO TPARAMS (PARA_Param, PARA_Valor, PARA_Descrip) VALUES (?,?,?)");
    param.row({QStringLiteral("VERBOTON"), QStringLiteral("2026.1"),
               QStringLiteral("Versión del juego de imágenes de los botones")});
    param.row({QStringLiteral("MENINI"),
               QStringLiteral("Bienvenido al sistema de Distribuciones Alameda.\n"
                              "Recuerde cerrar los pedidos servidos antes del día 25."),
               QStringLiteral("Saludo que ve el usuario al entrar")});
    param.row({QStringLiteral("EMPRESA"), QStringLiteral("Distribuciones Alameda, S.L."),
               QStringLiteral("Nombre de la empresa")});
    param.row({QStringLiteral("IVA"), QStringLiteral("21"), QStringLiteral("Tipo general de IVA")});

    Insert button(db, "INSERT INTO TBOTONES (BOTO_Boton, BOTO_Img, BOTO_HotKey, BOTO_Descrip) VALUES (?,?,?,?)");
    for (const demo::ButtonImage &b : demo::buttonImages())
        button.row({b.number, b.bmp, b.hotKey.isEmpty() ? QVariant() : QVariant(b.hotKey), b.description});
}

struct Method {
    const char *id;
    const char *label;
    const char *exportName;
    QVariant button;   // null: menu only
    const char *parent;
    int active;
    int visible;
};

struct ClassDef {
    const char *id;
    const char *label;
    const char *key;
    std::vector<Method> methods;
};

const QVariant noButton;

const std::vector<ClassDef> &classes()
{
    static const std::vector<ClassDef> defs = {
        {"CLIENTES", "Clientes", "CLIENTE",
         {{"main", "Consulta de", nullptr, noButton, nullptr, 1, 1},
          {"NUEVO", "Nuevo cliente", "CliNuevo", 15, "main", 1, 1},
          {"EDITAR", "Modificar cliente", "CliEditar", 2, "main", 1, 1},
          {"BORRAR", "Eliminar cliente", "CliBorrar", 3, "main", 1, 1},
          {"IMPRIMIR", "Imprimir ficha", nullptr, 11, "main", 1, 1},
          {"CORREO", "Enviar correo", "CliCorreo", 22, "main", 1, 1},
          {"ETIQUETAS", "Etiquetas de envío", nullptr, -1, "main", 1, 1},
          {"HISTORICO", "Histórico de ventas", "CliHistorico", noButton, "main", 1, 1},
          {"GUARDAR", "Guardar cambios", "CliGuardar", 12, "EDITAR", 1, 1},
          {"BLOQUEAR", "Bloquear cliente", nullptr, 23, "main", 0, 1},
          {"FUSIONAR", "Fusionar clientes", nullptr, noButton, "main", 1, 0}}},
        {"PEDIDOS", "Pedidos", "PEDIDO",
         {{"main", "Consulta de", nullptr, noButton, nullptr, 1, 1},
          {"NUEVO", "Nuevo pedido", "PedNuevo", 15, "main", 1, 1},
          {"SERVIR", "Marcar como servido", "PedServir", 30, "main", 1, 1},
          {"FACTURAR", "Facturar pedido", "PedFacturar", 31, "main", 1, 1},
          {"ANULAR", "Anular pedido", "PedAnular", 13, "main", 1, 1},
          {"IMPRIMIR", "Imprimir pedido", nullptr, 11, "main", 1, 1},
          {"BUSCAR", "Buscar por producto", "PedBuscar", 16, "main", 1, 1},
          {"RESUMEN", "Resumen mensual", "PedResumen", noButton, "main", 1, 1}}},
        {"LINEAS", "Líneas de pedido", "PEDIDO",
         {{"main", "Consulta de", nullptr, noButton, nullptr, 1, 1},
          {"NUEVO", "Agregar línea", "LinNueva", 1, "main", 1, 1},
          {"BORRAR", "Eliminar línea", "LinBorrar", 3, "main", 1, 1}}},
        {"FACTURAS", "Facturas", "FACTURA",
         {{"main", "Consulta de", nullptr, noButton, nullptr, 1, 1},
          {"IMPRIMIR", "Imprimir factura", nullptr, 11, "main", 1, 1},
          {"COBRAR", "Registrar cobro", "FacCobrar", 32, "main", 1, 1},
          {"CORREO", "Enviar por correo", "FacCorreo", 22, "main", 1, 1}}},
        {"PRODUCTOS", "Productos", "PRODUCTO",
         {{"main", "Consulta de", nullptr, noButton, nullptr, 1, 1},
          {"NUEVO", "Nuevo producto", "ProNuevo", 15, "main", 1, 1},
          {"EDITAR", "Modificar producto", "ProEditar", 2, "main", 1, 1},
          {"PRECIOS", "Actualizar precios", "ProPrecios", 18, "main", 1, 1},
          {"ETIQUETAS", "Imprimir etiquetas", "ProEtiquetas", 41, "main", 1, 1}}},
        {"FAMILIAS", "Familias de productos", "FAMILIA",
         {{"main", "Consulta de", nullptr, noButton, nullptr, 1, 1},
          {"NUEVO", "Nueva familia", "FamNueva", 1, "main", 1, 1}}},
        {"TARIFAS", "Tarifas", "PRODUCTO",
         {{"main", "Consulta de", nullptr, noButton, nullptr, 1, 1}}},
        {"USUARIOS", "Usuarios", "USUARIO",
         {{"main", "Consulta de", nullptr, noButton, nullptr, 1, 1},
          {"NUEVO", "Nuevo usuario", "UsuNuevo", 20, "main", 1, 1},
          {"CLAVE", "Restablecer contraseña", "UsuClave", 19, "main", 1, 1}}},
        {"USUROL", "Usuarios y roles", "USUARIO",
         {{"main", "Administración de", nullptr, noButton, nullptr, 1, 1},
          {"ALTA", "Conceder rol", "UsrAlta", 1, "main", 1, 1},
          {"BAJA", "Retirar rol", "UsrBaja", 3, "main", 1, 1},
          {"METODOS", "Métodos retirados", "UsrMetodos", 21, "main", 1, 1}}},
    };
    return defs;
}

void fillClasses(sqlite3 *db)
{
    Insert cls(db, "INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq, CLAS_PKey) VALUES (?,?,?)");
    Insert meth(db, "INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Ejec, METO_Boton, METO_Externo, "
                    "METO_Activo, METO_Padre, METO_Visib) VALUES (?,?,?,?,?,?,?,?,?)");
    Insert cuso(db, "INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (?,?,?,?,?)");
    int cusoId = 100;
    for (const ClassDef &c : classes()) {
        cls.row({text(c.id), text(c.label), text(c.key)});
        for (const Method &m : c.methods) {
            meth.row({text(c.id), text(m.id), text(m.label), text(m.exportName), m.button,
                      QByteArray(m.id) == "CORREO" ? 1 : 0, m.active, text(m.parent), m.visible});
            // Rates are published on the web only; the desktop use case is kept but switched off.
            const bool tarifas = QByteArray(c.id) == "TARIFAS";
            cuso.row({++cusoId, text(c.id), text(m.id), QStringLiteral("WIN32"), tarifas ? 0 : 1});
            if (tarifas || QByteArray(m.id) == "main")
                cuso.row({++cusoId, text(c.id), text(m.id), QStringLiteral("WEB"), 1});
        }
    }

    // Classes per role: label override (NULL falls back), active, in menu.
    Insert clarol(db, "INSERT INTO TCLAROL (CLAR_Clase, CLAR_Rol, CLAR_Etiq, CLAR_Activo, CLAR_Menu) VALUES (?,?,?,?,?)");
    struct CR { const char *cls; const char *role; const char *label; int active; int menu; };
    const CR grants[] = {
        {"CLIENTES", "VENTAS", "Clientes", 1, 1},
        {"PEDIDOS", "VENTAS", "Pedidos de venta", 1, 1},
        {"LINEAS", "VENTAS", "Líneas de pedido", 1, 0},
        {"FACTURAS", "VENTAS", nullptr, 1, 1},
        {"PRODUCTOS", "VENTAS", "Catálogo", 1, 1},
        {"TARIFAS", "VENTAS", "Tarifas de precios", 1, 1},
        {"PRODUCTOS", "COMPRAS", "Artículos", 1, 1},
        {"FAMILIAS", "COMPRAS", nullptr, 1, 1},
        {"LINEAS", "COMPRAS", "Ventas por artículo", 1, 0},
        {"PEDIDOS", "COMPRAS", "Pedidos", 1, 1},
        {"CLIENTES", "COMPRAS", "Clientes", 0, 1},
        {"USUROL", "ADMIN", "Usuarios y roles", 1, 1},
        {"USUARIOS", "ADMIN", nullptr, 1, 1},
        {"CLIENTES", "ADMIN", nullptr, 1, 1},
        {"PEDIDOS", "ADMIN", nullptr, 1, 1},
        {"LINEAS", "ADMIN", nullptr, 1, 0},
        {"FACTURAS", "ADMIN", nullptr, 1, 1},
        {"PRODUCTOS", "ADMIN", nullptr, 1, 1},
        {"FAMILIAS", "ADMIN", nullptr, 1, 1},
        {"TARIFAS", "ADMIN", nullptr, 1, 1},
        {"FACTURAS", "AUDITOR", "Facturas emitidas", 1, 1},
    };
    for (const CR &g : grants)
        clarol.row({text(g.cls), text(g.role), text(g.label), g.active, g.menu});

    // Methods per role: every method of the classes granted to the role (the
    // auditor has none), with a few role labels, one switched off and the
    // selling role kept away from user administration.
    Insert metrol(db, "INSERT INTO TMETROL (METR_Clase, METR_Metodo, METR_Rol, METR_Etiq, METR_Activo) VALUES (?,?,?,?,?)");
    for (const CR &g : grants) {
        if (QByteArray(g.role) == "AUDITOR")
            continue;
        for (const ClassDef &c : classes()) {
            if (QByteArray(c.id) != g.cls)
                continue;
            for (const Method &m : c.methods) {
                const QByteArray role(g.role), method(m.id), clas(c.id);
                QVariant label;
                int active = 1;
                if (role == "VENTAS" && clas == "PEDIDOS" && method == "NUEVO")
                    label = QStringLiteral("Tomar pedido");
                if (role == "COMPRAS" && method == "main")
                    label = QStringLiteral("Consulta de");
                if (role == "VENTAS" && clas == "PEDIDOS" && method == "FACTURAR")
                    active = 0;
                if (role == "COMPRAS" && clas == "PEDIDOS" && method != "main")
                    continue;
                metrol.row({text(c.id), text(m.id), text(g.role), label, active});
            }
        }
    }

    // A user who may not delete customers although the role may.
    Insert xusu(db, "INSERT INTO TXUSUROL (XUSU_Usua, XUSU_Clase, XUSU_Rol, XUSU_Metodo) VALUES (?,?,?,?)");
    xusu.row({1001, QStringLiteral("CLIENTES"), QStringLiteral("VENTAS"), QStringLiteral("BORRAR")});
    xusu.row({1007, QStringLiteral("PEDIDOS"), QStringLiteral("VENTAS"), QStringLiteral("ANULAR")});
}

struct Prop { const char *prop; const char *label; int visib; int estad; int mone; int tama; const char *mask; const char *describedBy; };

void fillProperties(sqlite3 *db)
{
    Insert prop(db, "INSERT INTO TPROPCLASES (PROP_Clase, PROP_Prop, PROP_Etiq, PROP_Visib, PROP_Estad, PROP_Mone, "
                    "PROP_Tama, PROP_Mask, PROP_Orden, PROP_PropEtiq) VALUES (?,?,?,?,?,?,?,?,?,?)");
    struct P { const char *cls; std::vector<Prop> props; };
    const P all[] = {
        {"CLIENTES",
         {{"CLIENTE", "Código", 1, 0, 0, 6, "999999", "NOMBRE"},
          {"NOMBRE", "Nombre", 1, 0, 0, 30, nullptr, nullptr},
          {"NIF", "NIF", 2, 0, 0, 0, nullptr, nullptr},
          {"DIRECCION", "Dirección", 1, 0, 0, 30, nullptr, nullptr},
          {"CIUDAD", "Población", 1, 0, 0, 18, nullptr, nullptr},
          {"PROVINCIA", "Provincia", 0, 0, 0, 0, nullptr, nullptr},
          {"NOMPROVINCIA", "Provincia", 1, 0, 0, 14, nullptr, nullptr},
          {"TELEFONO", "Teléfono", 1, 0, 0, 11, nullptr, nullptr},
          {"EMAIL", "Correo", 2, 0, 0, 0, nullptr, nullptr},
          {"LIMITE", "Límite de crédito", 1, 1, 1, 12, "#,##0.00", nullptr},
          {"ACTIVO", "Activo", 2, 0, 0, 0, nullptr, nullptr},
          {"ALTA", "Fecha de alta", 1, 0, 0, 10, "dd/mm/yyyy", nullptr},
          {"PEDIDOS", "Pedidos", 1, 1, 0, 7, nullptr, nullptr}}},
        {"PRODUCTOS",
         {{"PRODUCTO", "Código", 1, 0, 0, 8, nullptr, "DESCRIPCION"},
          {"DESCRIPCION", "Descripción", 1, 0, 0, 36, nullptr, nullptr},
          {"FAMILIA", "Familia", 2, 0, 0, 0, nullptr, "NOMFAMILIA"},
          {"NOMFAMILIA", "Familia", 1, 0, 0, 18, nullptr, nullptr},
          {"PRECIO", "Precio", 1, 1, 1, 10, "#,##0.00", nullptr},
          {"STOCK", "Existencias", 1, 1, 0, 8, nullptr, nullptr},
          {"ACTIVO", "A la venta", 2, 0, 0, 0, nullptr, nullptr},
          {"VENDIDAS", "Unidades vendidas", 1, 1, 0, 9, nullptr, nullptr}}},
        {"FAMILIAS",
         {{"FAMILIA", "Código", 1, 0, 0, 6, nullptr, nullptr},
          {"NOMBRE", "Nombre", 1, 0, 0, 30, nullptr, nullptr},
          {"PRODUCTOS", "Productos", 1, 1, 0, 8, nullptr, nullptr}}},
        {"PEDIDOS",
         {{"PEDIDO", "Pedido", 1, 0, 0, 8, nullptr, nullptr},
          {"FECHA", "Fecha", 1, 0, 0, 16, "dd/mm/yyyy", nullptr},
          {"CLIENTE", "Cliente", 1, 0, 0, 7, nullptr, "NOMCLIENTE"},
          {"NOMCLIENTE", "Nombre del cliente", 1, 0, 0, 30, nullptr, nullptr},
          {"ESTADO", "Estado", 0, 0, 0, 0, nullptr, nullptr},
          {"NOMESTADO", "Estado", 1, 0, 0, 10, nullptr, nullptr},
          {"LINEAS", "Líneas", 1, 1, 0, 6, nullptr, nullptr},
          {"IMPORTE", "Importe", 1, 1, 1, 12, "#,##0.00", nullptr},
          {"COMERCIAL", "Comercial", 2, 0, 0, 0, nullptr, nullptr},
          {"OBSERVACIONES", "Observaciones", 1, 0, 0, 30, nullptr, nullptr}}},
        {"LINEAS",
         {{"PEDIDO", "Pedido", 1, 0, 0, 8, nullptr, nullptr},
          {"LINEA", "Línea", 1, 0, 0, 5, nullptr, nullptr},
          {"FECHA", "Fecha", 2, 0, 0, 0, nullptr, nullptr},
          {"PRODUCTO", "Producto", 1, 0, 0, 8, nullptr, "DESCRIPCION"},
          {"DESCRIPCION", "Descripción", 1, 0, 0, 36, nullptr, nullptr},
          {"CANTIDAD", "Cantidad", 1, 1, 0, 8, nullptr, nullptr},
          {"PRECIO", "Precio", 1, 1, 1, 10, "#,##0.00", nullptr},
          {"DTO", "Dto. %", 1, 0, 0, 6, nullptr, nullptr},
          {"IMPORTE", "Importe", 1, 1, 1, 12, "#,##0.00", nullptr}}},
        {"FACTURAS",
         {{"FACTURA", "Factura", 1, 0, 0, 8, nullptr, nullptr},
          {"FECHA", "Fecha", 1, 0, 0, 10, "dd/mm/yyyy", nullptr},
          {"PEDIDO", "Pedido", 1, 0, 0, 8, nullptr, nullptr},
          {"CLIENTE", "Cliente", 1, 0, 0, 7, nullptr, "NOMCLIENTE"},
          {"NOMCLIENTE", "Nombre del cliente", 1, 0, 0, 30, nullptr, nullptr},
          {"BASE", "Base imponible", 1, 1, 1, 12, "#,##0.00", nullptr},
          {"IVA", "IVA", 1, 1, 1, 10, "#,##0.00", nullptr},
          {"TOTAL", "Total", 1, 1, 1, 12, "#,##0.00", nullptr},
          {"VENCIMIENTO", "Vencimiento", 1, 0, 0, 10, "dd/mm/yyyy", nullptr},
          {"COBRADA", "Cobrada", 2, 0, 0, 0, nullptr, nullptr}}},
        {"TARIFAS",
         {{"PRODUCTO", "Código", 1, 0, 0, 8, nullptr, nullptr},
          {"DESCRIPCION", "Descripción", 1, 0, 0, 36, nullptr, nullptr},
          {"PRECIO", "Precio", 1, 0, 1, 10, nullptr, nullptr},
          {"PRECIOIVA", "Precio con IVA", 1, 0, 1, 10, nullptr, nullptr}}},
        {"USUARIOS",
         {{"USUARIO", "Usuario", 1, 0, 0, 7, nullptr, nullptr},
          {"NOMBRE", "Nombre", 1, 0, 0, 30, nullptr, nullptr},
          {"EMAIL", "Correo", 1, 0, 0, 30, nullptr, nullptr},
          {"ALTA", "Fecha de alta", 1, 0, 0, 10, nullptr, nullptr},
          {"ROLES", "Roles", 1, 1, 0, 5, nullptr, nullptr}}},
        {"USUROL",
         {{"USUARIO", "Usuario", 1, 0, 0, 7, nullptr, "NOMBRE"},
          {"NOMBRE", "Nombre", 1, 0, 0, 30, nullptr, nullptr},
          {"ROL", "Rol", 1, 0, 0, 10, nullptr, "NOMROL"},
          {"NOMROL", "Nombre del rol", 1, 0, 0, 20, nullptr, nullptr},
          {"ADMIN", "Administrador", 1, 0, 0, 5, nullptr, nullptr}}},
    };
    for (const P &p : all) {
        int order = 0;
        for (const Prop &x : p.props)
            prop.row({text(p.cls), text(x.prop), text(x.label), x.visib, x.estad, x.mone, x.tama, text(x.mask),
                      order += 10, text(x.describedBy)});
    }

    // Drill-down: customers -> orders -> lines, and back up to the parents.
    Insert rel(db, "INSERT INTO TRELPROPS (RELP_Clase_P, RELP_Prop_P, RELP_Clase, RELP_Prop) VALUES (?,?,?,?)");
    const char *const rels[][4] = {
        {"CLIENTES", "CLIENTE", "PEDIDOS", "CLIENTE"},
        {"CLIENTES", "CLIENTE", "FACTURAS", "CLIENTE"},
        {"PEDIDOS", "PEDIDO", "LINEAS", "PEDIDO"},
        {"PEDIDOS", "PEDIDO", "FACTURAS", "PEDIDO"},
        {"PEDIDOS", "CLIENTE", "CLIENTES", "CLIENTE"},
        {"LINEAS", "PRODUCTO", "PRODUCTOS", "PRODUCTO"},
        {"LINEAS", "PEDIDO", "PEDIDOS", "PEDIDO"},
        {"FACTURAS", "PEDIDO", "LINEAS", "PEDIDO"},
        {"FACTURAS", "PEDIDO", "PEDIDOS", "PEDIDO"},
        {"FAMILIAS", "FAMILIA", "PRODUCTOS", "FAMILIA"},
        {"PRODUCTOS", "PRODUCTO", "LINEAS", "PRODUCTO"},
        {"USUARIOS", "USUARIO", "USUROL", "USUARIO"},
    };
    for (const auto &r : rels)
        rel.row({text(r[0]), text(r[1]), text(r[2]), text(r[3])});
}

void fillFilters(sqlite3 *db)
{
    Insert filt(db, "INSERT INTO TFILTSELEC (FILT_Filtro, FILT_Clase, FILT_Rol, FILT_Descrip, FILT_Prop, FILT_Defa) "
                    "VALUES (?,?,?,?,?,?)");
    Insert colf(db, "INSERT INTO TCOLFILTROS (COLF_Filtro, COLF_Orden, COLF_Col, COLF_Expr) VALUES (?,?,?,?)");
    struct Entry { const char *caption; const char *condition; };
    auto list = [&](int id, const char *cls, const char *role, const char *hint, int defa, std::vector<Entry> entries) {
        filt.row({id, text(cls), text(role), text(hint), null, defa});
        int order = 0;
        for (const Entry &e : entries)
            colf.row({id, ++order, text(e.caption), text(e.condition)});
    };
    auto lookup = [&](int id, const char *cls, const char *role, const char *hint, const char *prop,
                      const char *table, const char *lines) {
        filt.row({id, text(cls), text(role), text(hint), text(prop), 1});
        colf.row({id, 1, text(table), text(lines)});
    };
    const std::vector<Entry> orderStates = {{"Todos los pedidos", "1 = 1"},
                                            {"Pendientes", "ESTADO = 'P'"},
                                            {"Servidos", "ESTADO = 'S'"},
                                            {"Facturados", "ESTADO = 'F'"},
                                            {"Anulados", "ESTADO = 'A'"}};
    const std::vector<Entry> years = {{"Todos los años", "1 = 1"},
                                      {"2026", "FECHA >= TO_DATE('01/01/2026', 'DD/MM/YYYY') And FECHA < TO_DATE('01/01/2027', 'DD/MM/YYYY')"},
                                      {"2025", "FECHA >= TO_DATE('01/01/2025', 'DD/MM/YYYY') And FECHA < TO_DATE('01/01/2026', 'DD/MM/YYYY')"},
                                      {"2024", "FECHA >= TO_DATE('01/01/2024', 'DD/MM/YYYY') And FECHA < TO_DATE('01/01/2025', 'DD/MM/YYYY')"}};
    list(1, "PEDIDOS", "VENTAS", "Estado del pedido", 1, orderStates);
    list(2, "PEDIDOS", "VENTAS", "Año del pedido", 0, years);
    list(3, "CLIENTES", "VENTAS", "Clientes activos o dados de baja", 1,
         {{"Activos", "ACTIVO = 1"}, {"Todos", "1 = 1"}, {"De baja", "ACTIVO = 0"}});
    list(4, "FACTURAS", "VENTAS", nullptr, 1,
         {{"Todas", "1 = 1"}, {"Pendientes de cobro", "COBRADA = 0"}, {"Cobradas", "COBRADA = 1"}});
    lookup(5, "PRODUCTOS", "COMPRAS", "Familia de productos", "FAMILIA", "vorel.TFAMILIAS",
           "FAMI_Familia\r\nFAMI_Nombre\r\nBEB");
    list(6, "PRODUCTOS", "COMPRAS", "Situación del producto", 0,
         {{"A la venta", "ACTIVO = 1"}, {"Todos", "1 = 1"}, {"Retirados", "ACTIVO = 0"}});
    lookup(7, "CLIENTES", "ADMIN", "Provincia del cliente", "PROVINCIA", "vorel.TPROVINCIAS",
           "PROV_Prov\r\nPROV_Nombre");
    list(8, "PEDIDOS", "ADMIN", "Estado del pedido", 1, orderStates);
    list(9, "PEDIDOS", "COMPRAS", "Año del pedido", 1, years);
}

void fillMessages(sqlite3 *db)
{
    Insert mene(db, "INSERT INTO TMENEXCEP (MENE_Refer, MENE_Mensaje) VALUES (?,?)");
    const char *const messages[][2] = {
        {"CK_CLIENTES_LIMITE", "El límite de crédito no puede ser negativo"},
        {"CK_CLIENTES_ACTIVO", "Un cliente sólo puede estar activo (1) o de baja (0)"},
        {"CK_PRODUCTOS_PRECIO", "El precio de un producto no puede ser negativo"},
        {"CK_PRODUCTOS_STOCK", "Las existencias no pueden ser negativas"},
        {"CK_PRODUCTOS_ACTIVO", "Un producto sólo puede estar a la venta (1) o retirado (0)"},
        {"CK_PEDIDOS_ESTADO", "El estado del pedido debe ser P, S, F o A"},
        {"CK_LINEAS_CANTIDAD", "La cantidad de una línea debe ser mayor que cero"},
        {"CK_LINEAS_PRECIO", "El precio de una línea no puede ser negativo"},
        {"CK_LINEAS_DTO", "El descuento debe estar entre 0 y 100"},
        {"CK_FACTURAS_TOTAL", "El total de la factura debe ser la base más el IVA"},
        {"CK_FACTURAS_COBRADA", "Una factura sólo puede estar cobrada (1) o pendiente (0)"},
        {"CK_FACTURAS_VTO", "El vencimiento no puede ser anterior a la fecha de la factura"},
        {"CK_USUARIOS_PASWD", "La contraseña debe tener al menos 4 caracteres"},
        {"CK_USUROL_ADMIN", "La administración del rol debe ser 0, 1 o 2"},
        {"CK_CLASES_MAYUS", "El código de la clase debe ir en mayúsculas"},
        {"CK_CLAROL_ACTIVO", "El indicador de activo debe ser 0 o 1"},
        {"CK_CLAROL_MENU", "El indicador de menú debe ser 0 o 1"},
        {"CK_BOTONES_BOTON", "El número de botón no puede ser negativo"},
        {"CK_METODS_EXTERNO", "El indicador de método externo debe ser 0 o 1"},
        {"CK_METODS_ACTIVO", "El indicador de activo debe ser 0 o 1"},
        {"CK_METODS_VISIB", "El indicador de visible debe ser 0 o 1"},
        {"CK_METODS_BOTON", "El botón debe ser -1 o un número de imagen"},
        {"CK_METROL_ACTIVO", "El indicador de activo debe ser 0 o 1"},
        {"CK_CUSOS_ACTIVO", "El indicador de activo debe ser 0 o 1"},
        {"CK_PROPCLASES_VISIB", "La visibilidad debe ser 0, 1 o 2"},
        {"CK_PROPCLASES_ESTAD", "El indicador de estadística debe ser 0 o 1"},
        {"CK_PROPCLASES_MONE", "El indicador de moneda debe ser 0 o 1"},
        {"CK_PROPCLASES_TAMA", "El ancho de la columna no puede ser negativo"},
        {"CK_PROPCLASES_MAYUS", "El nombre de la propiedad debe ir en mayúsculas"},
        {"CK_FILTSELEC_DEFA", "El indicador de filtro por defecto debe ser 0 o 1"},
        {"CK_DICTABLAS_TIPO", "El tipo de objeto debe ser TABLE o VIEW"},
        {"CK_DICCOLUM_NULO", "El indicador de nulos debe ser Y o N"},
        {"CK_DICRESTR_TIPO", "El tipo de restricción debe ser P, U, R o C"},
    };
    for (const auto &m : messages)
        mene.row({text(m[0]), text(m[1])});
}

// ---------------------------------------------------------------------------
// Business data.

struct Province { const char *code; const char *name; std::vector<const char *> towns; };

const std::vector<Province> &provinces()
{
    static const std::vector<Province> list = {
        {"28", "Madrid", {"Madrid", "Alcalá de Henares", "Getafe", "Móstoles", "Leganés", "Alcobendas"}},
        {"08", "Barcelona", {"Barcelona", "Badalona", "Sabadell", "Terrassa", "Mataró"}},
        {"46", "Valencia", {"Valencia", "Gandia", "Torrent", "Sagunto"}},
        {"41", "Sevilla", {"Sevilla", "Dos Hermanas", "Utrera", "Écija"}},
        {"50", "Zaragoza", {"Zaragoza", "Calatayud", "Ejea de los Caballeros"}},
        {"29", "Málaga", {"Málaga", "Marbella", "Vélez-Málaga", "Fuengirola"}},
        {"48", "Bizkaia", {"Bilbao", "Getxo", "Barakaldo"}},
        {"30", "Murcia", {"Murcia", "Cartagena", "Lorca"}},
        {"47", "Valladolid", {"Valladolid", "Medina del Campo"}},
        {"03", "Alicante", {"Alicante", "Elche", "Benidorm", "Alcoy"}},
        {"18", "Granada", {"Granada", "Motril", "Baza"}},
        {"15", "A Coruña", {"A Coruña", "Santiago de Compostela", "Ferrol"}},
        {"33", "Asturias", {"Oviedo", "Gijón", "Avilés"}},
        {"37", "Salamanca", {"Salamanca", "Béjar"}},
        {"45", "Toledo", {"Toledo", "Talavera de la Reina"}},
    };
    return list;
}

struct Family { const char *code; const char *name; std::vector<const char *> items; std::vector<const char *> sizes; int minCents; int maxCents; };

const std::vector<Family> &families()
{
    static const std::vector<Family> list = {
        {"BEB", "Bebidas",
         {"Agua mineral", "Refresco de cola", "Refresco de naranja", "Refresco de limón", "Zumo de melocotón",
          "Zumo de piña", "Tónica", "Cerveza rubia", "Cerveza sin alcohol"},
         {"33 cl", "1 l", "1,5 l", "pack 6 x 33 cl", "caja 24 x 33 cl"}, 45, 2490},
        {"VIN", "Vinos y licores",
         {"Vino tinto crianza", "Vino tinto joven", "Vino blanco verdejo", "Vino rosado", "Cava brut",
          "Sidra natural", "Vermut rojo"},
         {"75 cl", "caja 6 x 75 cl", "1,5 l"}, 290, 8900},
        {"LAC", "Lácteos",
         {"Leche entera", "Leche semidesnatada", "Yogur natural", "Yogur de fresa", "Queso manchego curado",
          "Queso fresco", "Mantequilla", "Nata para cocinar"},
         {"1 l", "pack 4", "pack 6 x 1 l", "250 g", "1 kg"}, 60, 1850},
        {"CON", "Conservas",
         {"Atún en aceite de oliva", "Sardinas en tomate", "Mejillones en escabeche", "Espárragos blancos",
          "Pimientos del piquillo", "Tomate triturado", "Garbanzos cocidos"},
         {"pack 3 x 80 g", "lata 400 g", "tarro 720 g", "lata 1 kg"}, 95, 1290},
        {"ACE", "Aceites y vinagres",
         {"Aceite de oliva virgen extra", "Aceite de oliva suave", "Aceite de girasol", "Vinagre de Jerez",
          "Vinagre de vino blanco"},
         {"1 l", "garrafa 5 l", "750 ml", "250 ml"}, 120, 4500},
        {"PAS", "Pastas, arroces y legumbres",
         {"Arroz redondo", "Arroz bomba", "Espaguetis", "Macarrones", "Lentejas pardinas", "Alubias blancas"},
         {"500 g", "1 kg", "saco 5 kg"}, 70, 1490},
        {"DUL", "Dulces y galletas",
         {"Galletas María", "Magdalenas", "Chocolate con leche", "Turrón de Jijona", "Cacao en polvo"},
         {"200 g", "400 g", "800 g"}, 85, 990},
        {"CAF", "Café e infusiones",
         {"Café molido natural", "Café en grano", "Café soluble", "Manzanilla", "Té verde"},
         {"250 g", "1 kg", "caja 25 sobres"}, 150, 2200},
        {"LIM", "Limpieza",
         {"Lejía", "Detergente líquido", "Lavavajillas a mano", "Friegasuelos", "Papel de cocina",
          "Bolsas de basura"},
         {"1 l", "garrafa 5 l", "pack 2", "rollo 50 u."}, 90, 1690},
    };
    return list;
}

void fillBusiness(sqlite3 *db)
{
    Random rnd(20240108);
    const QDate firstDay(2024, 1, 8);
    const QDate lastDay(2026, 11, 27);
    const QDate today(2026, 11, 30);

    Insert prov(db, "INSERT INTO TPROVINCIAS (PROV_Prov, PROV_Nombre) VALUES (?,?)");
    for (const Province &p : provinces())
        prov.row({text(p.code), text(p.name)});

    Insert fam(db, "INSERT INTO TFAMILIAS (FAMI_Familia, FAMI_Nombre) VALUES (?,?)");
    Insert prod(db, "INSERT INTO TPRODUCTOS (PROD_Producto, PROD_Descrip, PROD_Familia, PROD_Precio, PROD_Stock, "
                    "PROD_Activo) VALUES (?,?,?,?,?,?)");
    struct Product { QString code; int cents; };
    std::vector<Product> products;
    for (const Family &f : families()) {
        fam.row({text(f.code), text(f.name)});
        int n = 0;
        for (const char *item : f.items) {
            const int sizes = 2 + rnd.below(int(f.sizes.size()) - 1);
            for (int s = 0; s < sizes; ++s) {
                const QString code = QStringLiteral("%1-%2").arg(QLatin1String(f.code)).arg(++n, 4, 10, QLatin1Char('0'));
                const int cents = f.minCents + rnd.below(f.maxCents - f.minCents) * (s + 1) / int(f.sizes.size());
                const int active = rnd.below(25) == 0 ? 0 : 1;
                prod.row({code, QStringLiteral("%1 %2").arg(QString::fromUtf8(item), QString::fromUtf8(f.sizes[s])),
                          text(f.code), cents / 100.0, rnd.between(0, 2400), active});
                if (active)
                    products.push_back({code, cents});
            }
        }
    }

    // Customers: bars, restaurants and shops of the region.
    static const char *const kinds[] = {"Bar", "Restaurante", "Cafetería", "Supermercados", "Hotel", "Hostal",
                                        "Mesón", "Autoservicio", "Tienda de ultramarinos", "Catering",
                                        "Taberna", "Cervecería", "Pastelería", "Comercial"};
    static const char *const names[] = {"El Puerto", "Los Arcos", "La Plaza", "San Miguel", "El Olivo", "La Parra",
                                        "Santa Ana", "El Mirador", "La Estación", "Las Flores", "El Rincón",
                                        "Los Pinos", "La Fuente", "El Molino", "Casa Pepe", "Casa Lola",
                                        "La Alameda", "El Cruce", "Los Álamos", "La Bodeguilla", "El Faro",
                                        "Nuevo Horizonte", "Hermanos García", "Martín e Hijos", "La Huerta",
                                        "El Castillo", "Doña Carmen", "La Marina", "El Paseo", "Sol y Sombra"};
    static const char *const streets[] = {"Calle Mayor", "Avenida de la Constitución", "Calle Real",
                                          "Plaza de España", "Calle del Carmen", "Avenida de Andalucía",
                                          "Calle San Juan", "Paseo de la Castellana", "Calle Nueva",
                                          "Avenida del Mar", "Calle de la Iglesia", "Ronda Norte"};
    static const char nifLetters[] = "ABEFGJ";
    Insert clie(db, "INSERT INTO TCLIENTES (CLIE_Cliente, CLIE_Nombre, CLIE_NIF, CLIE_Direccion, CLIE_Ciudad, "
                    "CLIE_Prov, CLIE_Telefono, CLIE_eMail, CLIE_Limite, CLIE_Activo, CLIE_Fecha) "
                    "VALUES (?,?,?,?,?,?,?,?,?,?,?)");
    const int customerCount = 320;
    std::vector<QDate> customerSince;
    for (int c = 1; c <= customerCount; ++c) {
        const Province &p = provinces()[rnd.below(int(provinces().size()))];
        const QString town = QString::fromUtf8(p.towns[rnd.below(int(p.towns.size()))]);
        const QString name = QStringLiteral("%1 %2").arg(QString::fromUtf8(rnd.pick(kinds)), QString::fromUtf8(rnd.pick(names)));
        const QString nif = QStringLiteral("%1%2").arg(QLatin1Char(nifLetters[c % 6])).arg(10000000 + c * 27449 % 89999999, 8, 10, QLatin1Char('0'));
        const QString phone = QStringLiteral("9%1").arg(10000000 + rnd.below(89999999));
        const QVariant mail = rnd.below(6) == 0 ? QVariant() : QVariant(QStringLiteral("pedidos@%1.es").arg(slug(name) + QString::number(c)));
        const QDate since = firstDay.addDays(-rnd.below(900));
        customerSince.push_back(since);
        const int limit = (rnd.between(3, 60)) * 500;
        clie.row({c, name, nif, QStringLiteral("%1, %2").arg(QString::fromUtf8(rnd.pick(streets))).arg(rnd.between(1, 140)),
                  town, text(p.code), phone, mail, double(limit), rnd.below(12) == 0 ? 0 : 1, dateTime(since, 9 * 60)});
    }

    Insert pedi(db, "INSERT INTO TPEDIDOS (PEDI_Pedido, PEDI_Cliente, PEDI_Fecha, PEDI_Estado, PEDI_Usua, PEDI_Observ) "
                    "VALUES (?,?,?,?,?,?)");
    Insert line(db, "INSERT INTO TLINEAS (LINE_Pedido, LINE_Linea, LINE_Producto, LINE_Cantidad, LINE_Precio, LINE_Dto) "
                    "VALUES (?,?,?,?,?,?)");
    Insert fact(db, "INSERT INTO TFACTURAS (FACT_Factura, FACT_Pedido, FACT_Fecha, FACT_Base, FACT_IVA, FACT_Total, "
                    "FACT_VtoFecha, FACT_Cobrada) VALUES (?,?,?,?,?,?,?,?)");
    static const char *const notes[] = {"Entregar por la mañana", "Llamar antes de servir", "Pago a 30 días",
                                        "Urgente", "Dejar en el almacén trasero", "Factura con copia"};
    static const int sellers[] = {1001, 1002, 1004, 1007};
    int order = 24000;
    int invoice = 0;
    for (QDate day = firstDay; day <= lastDay; day = day.addDays(1)) {
        if (day.dayOfWeek() > 5)
            continue;
        const int perDay = rnd.between(4, 10);
        for (int k = 0; k < perDay; ++k) {
            ++order;
            const int customer = rnd.between(1, customerCount);
            const int age = int(day.daysTo(today));
            QString state;
            if (age > 45)
                state = rnd.below(30) == 0 ? QStringLiteral("A") : QStringLiteral("F");
            else if (age > 10)
                state = rnd.below(3) == 0 ? QStringLiteral("S") : QStringLiteral("F");
            else
                state = rnd.below(2) == 0 ? QStringLiteral("P") : QStringLiteral("S");
            const int minute = 8 * 60 + rnd.below(10 * 60);
            // Lines go in while the order is open; the state follows.
            pedi.row({order, customer, dateTime(day, minute), QStringLiteral("P"), rnd.pick(sellers),
                      rnd.below(8) == 0 ? QVariant(QString::fromUtf8(rnd.pick(notes))) : QVariant()});
            const int lines = rnd.between(1, 8);
            qint64 baseCents = 0;
            std::vector<int> used;
            for (int l = 1; l <= lines; ++l) {
                int p;
                do
                    p = rnd.below(int(products.size()));
                while (std::find(used.begin(), used.end(), p) != used.end());
                used.push_back(p);
                const int qty = rnd.below(4) == 0 ? rnd.between(10, 60) : rnd.between(1, 12);
                const int dto = rnd.below(6) == 0 ? (rnd.below(2) ? 5 : 10) : 0;
                const int cents = products[p].cents;
                line.row({order, l, products[p].code, qty, cents / 100.0, double(dto)});
                baseCents += std::llround(double(qty) * cents * (100 - dto) / 100.0);
            }
            if (state != QLatin1String("P"))
                exec(db, QStringLiteral("UPDATE TPEDIDOS SET PEDI_Estado = '%1' WHERE PEDI_Pedido = %2").arg(state).arg(order));
            if (state == QLatin1String("F")) {
                const QDate issued = day.addDays(rnd.between(1, 7));
                const qint64 ivaCents = std::llround(baseCents * 0.21);
                const QDate due = issued.addDays(30);
                fact.row({20240000 + ++invoice, order, dateTime(issued, 18 * 60), baseCents / 100.0, ivaCents / 100.0,
                          (baseCents + ivaCents) / 100.0, dateTime(due), due < today.addDays(-5) || rnd.below(3) == 0 ? 1 : 0});
            }
        }
    }
}

} // namespace

void fillDemo(sqlite3 *db)
{
    exec(db, QStringLiteral("SAVEPOINT vorel_demo"));
    try {
        createTables(db, businessTables());
        for (const char *rule : kBusinessRules)
            exec(db, QString::fromUtf8(rule));
        for (const ClassView &v : kClassViews) {
            exec(db, QStringLiteral("CREATE VIEW %1 AS %2").arg(QLatin1String(v.name), QString::fromUtf8(v.select)));
            registerView(db, QLatin1String(v.name), QString::fromUtf8(v.comment));
        }
        fillUsersAndRoles(db);
        fillParameters(db);
        fillClasses(db);
        fillProperties(db);
        fillFilters(db);
        fillMessages(db);
        fillBusiness(db);
        exec(db, QStringLiteral("RELEASE vorel_demo"));
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK TO vorel_demo; RELEASE vorel_demo", nullptr, nullptr, nullptr);
        throw;
    }
}

} // namespace vorel::server
