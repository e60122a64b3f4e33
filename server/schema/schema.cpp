#include "server/schema/schema.h"
#include "server/core/oraerror.h"

#include <QFile>
#include <QStringList>

namespace vorel::server {

namespace schemadef {

QString quoted(const QString &text)
{
    QString s = text;
    s.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

QString joined(const std::vector<const char *> &names, const QString &prefix)
{
    QStringList parts;
    for (const char *n : names)
        parts << prefix + QString::fromUtf8(n);
    return parts.join(QLatin1String(", "));
}

QString createTableSql(const Table &t, bool temp, QString (*type)(const QString &declared))
{
    QStringList defs;
    for (const Column &c : t.columns)
        defs << QStringLiteral("%1 %2%3").arg(QString::fromUtf8(c.name), type(QString::fromUtf8(c.type)),
                                             c.notNull ? QStringLiteral(" NOT NULL") : QString());
    if (t.primaryKey.name)
        defs << QStringLiteral("CONSTRAINT %1 PRIMARY KEY (%2)")
                    .arg(QString::fromUtf8(t.primaryKey.name), joined(t.primaryKey.columns));
    for (const Key &k : t.uniqueKeys)
        defs << QStringLiteral("CONSTRAINT %1 UNIQUE (%2)").arg(QString::fromUtf8(k.name), joined(k.columns));
    for (const Check &k : t.checks)
        defs << QStringLiteral("CONSTRAINT %1 CHECK (%2)")
                    .arg(QString::fromUtf8(k.name), QString::fromUtf8(k.condition));
    return QStringLiteral("CREATE %1TABLE %2%3 (\n  %4\n)")
        .arg(temp ? QStringLiteral("TEMP ") : QString(), temp ? QStringLiteral("IF NOT EXISTS ") : QString(),
             QString::fromUtf8(t.name), defs.join(QLatin1String(",\n  ")));
}

} // namespace schemadef

namespace {

using namespace schemadef;

constexpr bool NN = true;
constexpr bool OPT = false;

bool isLeadingPart(const std::vector<const char *> &cols, const Key &key)
{
    if (!key.name || key.columns.size() < cols.size())
        return false;
    for (size_t i = 0; i < cols.size(); ++i)
        if (QString::fromUtf8(cols[i]).compare(QString::fromUtf8(key.columns[i]), Qt::CaseInsensitive) != 0)
            return false;
    return true;
}

// Deleting a parent looks its children up; without an index every delete
// would read the whole child table.
QString indexForForeignKey(const Table &t, const ForeignKey &fk)
{
    if (isLeadingPart(fk.columns, t.primaryKey))
        return {};
    for (const Key &k : t.uniqueKeys)
        if (isLeadingPart(fk.columns, k))
            return {};
    QString name = QString::fromUtf8(fk.name);
    if (name.startsWith(QLatin1String("FK_")))
        name = name.mid(3);
    return QStringLiteral("CREATE INDEX IX_%1 ON %2 (%3)").arg(name, QString::fromUtf8(t.name), joined(fk.columns));
}

// ---------------------------------------------------------------------------
// The metadata schema.

const std::vector<Table> &allTables()
{
    static const std::vector<Table> tables = {
        // The dictionary registry comes first: every later table registers itself in it.
        {"TDICTABLAS", "Diccionario de tablas\nTablas y vistas del esquema",
         {{"DTAB_Tabla", "VARCHAR2(30)", NN, "Tabla\nNombre de la tabla o vista"},
          {"DTAB_Tipo", "VARCHAR2(11)", NN, "Tipo de objeto (TABLE o VIEW)"},
          {"DTAB_Coment", "VARCHAR2(4000)", OPT, "Comentario de la tabla"}},
         {"PK_DICTABLAS", {"DTAB_Tabla"}}, {}, {},
         {{"CK_DICTABLAS_TIPO", "DTAB_Tipo IN ('TABLE', 'VIEW')"}}, false, Writers::Nobody},
        {"TDICCOLUM", "Diccionario de columnas\nColumnas de las tablas del esquema",
         {{"DCOL_Tabla", "VARCHAR2(30)", NN, "Tabla\nTabla de la columna"},
          {"DCOL_Col", "VARCHAR2(30)", NN, "Columna\nNombre de la columna"},
          {"DCOL_Pos", "NUMBER(4)", NN, "Posición de la columna en la tabla"},
          {"DCOL_Tipo", "VARCHAR2(30)", NN, "Tipo de dato"},
          {"DCOL_Nulo", "VARCHAR2(1)", NN, "Admite nulos (Y o N)"},
          {"DCOL_Coment", "VARCHAR2(4000)", OPT, "Comentario de la columna"}},
         {"PK_DICCOLUM", {"DCOL_Tabla", "DCOL_Col"}}, {},
         {{"FK_DICCOLUM_TABLAS", {"DCOL_Tabla"}, "TDICTABLAS", {"DTAB_Tabla"}}},
         {{"CK_DICCOLUM_NULO", "DCOL_Nulo IN ('Y', 'N')"}}, false, Writers::Nobody},
        {"TDICRESTR", "Diccionario de restricciones\nRestricciones del esquema",
         {{"DRES_Restr", "VARCHAR2(30)", NN, "Restricción\nNombre de la restricción"},
          {"DRES_Tipo", "VARCHAR2(1)", NN, "Tipo: P clave primaria, U única, R ajena, C de control"},
          {"DRES_Tabla", "VARCHAR2(30)", NN, "Tabla\nTabla de la restricción"},
          {"DRES_RRestr", "VARCHAR2(30)", OPT, "Clave referida por una clave ajena"},
          {"DRES_Cond", "VARCHAR2(4000)", OPT, "Condición de una restricción de control"}},
         {"PK_DICRESTR", {"DRES_Restr"}}, {},
         {{"FK_DICRESTR_TABLAS", {"DRES_Tabla"}, "TDICTABLAS", {"DTAB_Tabla"}}},
         {{"CK_DICRESTR_TIPO", "DRES_Tipo IN ('P', 'U', 'R', 'C')"}}, false, Writers::Nobody},
        {"TDICRESCOL", "Diccionario de columnas de restricciones",
         {{"DRCO_Restr", "VARCHAR2(30)", NN, "Restricción\nRestricción a la que pertenece la columna"},
          {"DRCO_Pos", "NUMBER(4)", NN, "Posición de la columna en la restricción"},
          {"DRCO_Tabla", "VARCHAR2(30)", NN, "Tabla de la restricción"},
          {"DRCO_Col", "VARCHAR2(30)", NN, "Columna de la restricción"}},
         {"PK_DICRESCOL", {"DRCO_Restr", "DRCO_Pos"}}, {},
         {{"FK_DICRESCOL_RESTR", {"DRCO_Restr"}, "TDICRESTR", {"DRES_Restr"}}}, {}, false, Writers::Nobody},

        // Users, roles and sessions.
        {"TUSUARIOS", "Usuarios\nUsuarios del sistema",
         {{"USUA_Usua", "NUMBER(8)", NN, "Usuario\nCódigo del usuario"},
          {"USUA_Nombre", "VARCHAR2(80)", NN, "Nombre\nNombre del usuario"},
          {"USUA_eMail", "VARCHAR2(100)", OPT, "Correo electrónico del usuario"},
          {"USUA_Paswd", "VARCHAR2(100)", NN, "Contraseña\nContraseña del usuario"},
          {"USUA_Fecha", "DATE", OPT, "Fecha de alta del usuario"}},
         {"PK_USUARIOS", {"USUA_Usua"}}, {}, {},
         {{"CK_USUARIOS_PASWD", "length(USUA_Paswd) >= 4"}}},
        {"TROLES", "Roles\nRoles de trabajo",
         {{"ROLE_Rol", "VARCHAR2(20)", NN, "Rol\nCódigo del rol"},
          {"ROLE_Etiq", "VARCHAR2(60)", NN, "Nombre del rol"}},
         {"PK_ROLES", {"ROLE_Rol"}}, {}, {}, {}},
        {"TUSUROL", "Roles de usuario\nRoles concedidos a los usuarios",
         {{"USUR_Usua", "NUMBER(8)", NN, "Usuario\nUsuario al que se concede el rol"},
          {"USUR_Rol", "VARCHAR2(20)", NN, "Rol\nRol concedido"},
          {"USUR_Admin", "NUMBER(1)", NN, "Administración\nAdministrador del rol (0 no, 1 sí, 2 sólo administra)"}},
         {"PK_USUROL", {"USUR_Usua", "USUR_Rol"}}, {},
         {{"FK_USUROL_USUARIOS", {"USUR_Usua"}, "TUSUARIOS", {"USUA_Usua"}},
          {"FK_USUROL_ROLES", {"USUR_Rol"}, "TROLES", {"ROLE_Rol"}}},
         {{"CK_USUROL_ADMIN", "USUR_Admin IN (0, 1, 2)"}}},
        {"TUSUMROL", "Usuarios multirol\nUsuarios que pueden trabajar en cualquier rol",
         {{"USUM_Usua", "NUMBER(8)", NN, "Usuario\nUsuario multirol"}},
         {"PK_USUMROL", {"USUM_Usua"}}, {},
         {{"FK_USUMROL_USUARIOS", {"USUM_Usua"}, "TUSUARIOS", {"USUA_Usua"}}}, {}},
        {"RSESION", "Sesión\nSesión de trabajo actual",
         {{"SESI_Usua", "NUMBER(8)", NN, "Usuario\nUsuario conectado"},
          {"SESI_USUADer", "NUMBER(8)", NN, "Usuario derivado\nUsuario en cuyo nombre actúa la sesión"}},
         {}, {},
         {{"FK_SESION_USUARIOS", {"SESI_Usua"}, "TUSUARIOS", {"USUA_Usua"}},
          {"FK_SESION_USUADER", {"SESI_USUADer"}, "TUSUARIOS", {"USUA_Usua"}}},
         {}, true, Writers::Nobody},

        // Classes, methods and use cases.
        {"TGUIS", "Interfaces\nTipos de cliente",
         {{"GUIS_Gui", "VARCHAR2(10)", NN, "Interfaz\nTipo de cliente"},
          {"GUIS_Etiq", "VARCHAR2(60)", OPT, "Descripción del tipo de cliente"},
          {"GUIS_Fecha", "DATE", OPT, "Fecha de la versión vigente del cliente"}},
         {"PK_GUIS", {"GUIS_Gui"}}, {}, {}, {}},
        {"TCLASES", "Clases\nClases de negocio",
         {{"CLAS_Clase", "VARCHAR2(30)", NN, "Clase\nCódigo de la clase"},
          {"CLAS_Etiq", "VARCHAR2(60)", NN, "Etiqueta\nNombre de la clase"},
          {"CLAS_PKey", "VARCHAR2(30)", OPT, "Propiedad clave de la clase"}},
         {"PK_CLASES", {"CLAS_Clase"}}, {}, {},
         {{"CK_CLASES_MAYUS", "CLAS_Clase = upper(CLAS_Clase)"}}},
        {"TCLAROL", "Clases por rol\nClases concedidas a los roles",
         {{"CLAR_Clase", "VARCHAR2(30)", NN, "Clase\nClase concedida"},
          {"CLAR_Rol", "VARCHAR2(20)", NN, "Rol\nRol al que se concede la clase"},
          {"CLAR_Etiq", "VARCHAR2(60)", OPT, "Etiqueta de la clase en el rol"},
          {"CLAR_Activo", "NUMBER(1)", NN, "Activo\nClase activa en el rol"},
          {"CLAR_Menu", "NUMBER(1)", NN, "En menú\nClase visible en el menú del rol"}},
         {"PK_CLAROL", {"CLAR_Clase", "CLAR_Rol"}}, {},
         {{"FK_CLAROL_CLASES", {"CLAR_Clase"}, "TCLASES", {"CLAS_Clase"}},
          {"FK_CLAROL_ROLES", {"CLAR_Rol"}, "TROLES", {"ROLE_Rol"}}},
         {{"CK_CLAROL_ACTIVO", "CLAR_Activo IN (0, 1)"}, {"CK_CLAROL_MENU", "CLAR_Menu IN (0, 1)"}}},
        {"TCLATABLAS", "Tablas de las clases\nTablas que escriben los casos de uso de cada clase",
         {{"CLAT_Clase", "VARCHAR2(30)", NN, "Clase\nClase cuyos casos de uso escriben la tabla"},
          {"CLAT_Tabla", "VARCHAR2(30)", NN, "Tabla\nTabla de negocio que la clase escribe"}},
         {"PK_CLATABLAS", {"CLAT_Clase", "CLAT_Tabla"}}, {},
         {{"FK_CLATABLAS_CLASES", {"CLAT_Clase"}, "TCLASES", {"CLAS_Clase"}}},
         {{"CK_CLATABLAS_MAYUS", "CLAT_Tabla = upper(CLAT_Tabla)"}}},
        {"TBOTONES", "Botones\nImágenes de los botones",
         {{"BOTO_Boton", "NUMBER(4)", NN, "Botón\nNúmero del botón"},
          {"BOTO_Img", "BLOB", NN, "Imagen del botón (mapa de bits de 16 x 16)"},
          {"BOTO_HotKey", "VARCHAR2(20)", OPT, "Tecla rápida de los métodos que usan el botón"},
          {"BOTO_Descrip", "VARCHAR2(60)", OPT, "Descripción de la imagen"}},
         {"PK_BOTONES", {"BOTO_Boton"}}, {}, {},
         {{"CK_BOTONES_BOTON", "BOTO_Boton >= 0"}}},
        {"TMETODS", "Métodos\nMétodos de las clases",
         {{"METO_Clase", "VARCHAR2(30)", NN, "Clase\nClase del método"},
          {"METO_Metodo", "VARCHAR2(30)", NN, "Método\nCódigo del método"},
          {"METO_Etiq", "VARCHAR2(60)", NN, "Etiqueta\nNombre del método"},
          {"METO_Ejec", "VARCHAR2(60)", OPT, "Función de la librería que ejecuta el método"},
          {"METO_Boton", "NUMBER(4)", OPT, "Botón del método (vacío: sólo menú; -1: sin imagen)"},
          {"METO_Externo", "NUMBER(1)", NN, "Método externo"},
          {"METO_Activo", "NUMBER(1)", NN, "Activo\nMétodo activo"},
          {"METO_Padre", "VARCHAR2(30)", OPT, "Método padre\nMétodo bajo cuya ventana se lista"},
          {"METO_Visib", "NUMBER(1)", NN, "Visible\nMétodo visible"}},
         {"PK_METODS", {"METO_Clase", "METO_Metodo"}}, {},
         {{"FK_METODS_CLASES", {"METO_Clase"}, "TCLASES", {"CLAS_Clase"}},
          {"FK_METODS_PADRE", {"METO_Clase", "METO_Padre"}, "TMETODS", {"METO_Clase", "METO_Metodo"}}},
         {{"CK_METODS_EXTERNO", "METO_Externo IN (0, 1)"}, {"CK_METODS_ACTIVO", "METO_Activo IN (0, 1)"},
          {"CK_METODS_VISIB", "METO_Visib IN (0, 1)"}, {"CK_METODS_BOTON", "METO_Boton >= -1"}}},
        {"TMETROL", "Métodos por rol\nMétodos concedidos a los roles",
         {{"METR_Clase", "VARCHAR2(30)", NN, "Clase\nClase del método"},
          {"METR_Metodo", "VARCHAR2(30)", NN, "Método\nMétodo concedido"},
          {"METR_Rol", "VARCHAR2(20)", NN, "Rol\nRol al que se concede el método"},
          {"METR_Etiq", "VARCHAR2(60)", OPT, "Etiqueta del método en el rol"},
          {"METR_Activo", "NUMBER(1)", NN, "Activo\nMétodo activo en el rol"}},
         {"PK_METROL", {"METR_Clase", "METR_Metodo", "METR_Rol"}}, {},
         {{"FK_METROL_METODS", {"METR_Clase", "METR_Metodo"}, "TMETODS", {"METO_Clase", "METO_Metodo"}},
          {"FK_METROL_ROLES", {"METR_Rol"}, "TROLES", {"ROLE_Rol"}}},
         {{"CK_METROL_ACTIVO", "METR_Activo IN (0, 1)"}}},
        {"TXUSUROL", "Métodos retirados\nMétodos retirados a un usuario en un rol",
         {{"XUSU_Usua", "NUMBER(8)", NN, "Usuario\nUsuario al que se retira el método"},
          {"XUSU_Clase", "VARCHAR2(30)", NN, "Clase\nClase del método retirado"},
          {"XUSU_Rol", "VARCHAR2(20)", NN, "Rol\nRol en el que se retira el método"},
          {"XUSU_Metodo", "VARCHAR2(30)", NN, "Método\nMétodo retirado"}},
         {"PK_XUSUROL", {"XUSU_Usua", "XUSU_Clase", "XUSU_Rol", "XUSU_Metodo"}}, {},
         {{"FK_XUSUROL_USUARIOS", {"XUSU_Usua"}, "TUSUARIOS", {"USUA_Usua"}},
          {"FK_XUSUROL_METODS", {"XUSU_Clase", "XUSU_Metodo"}, "TMETODS", {"METO_Clase", "METO_Metodo"}},
          {"FK_XUSUROL_ROLES", {"XUSU_Rol"}, "TROLES", {"ROLE_Rol"}}},
         {}},
        {"TCUSOS", "Casos de uso\nMétodos ofrecidos a cada tipo de cliente",
         {{"CUSO_Cuso", "NUMBER(8)", NN, "Caso de uso\nCódigo del caso de uso"},
          {"CUSO_Clase", "VARCHAR2(30)", NN, "Clase\nClase del caso de uso"},
          {"CUSO_Metodo", "VARCHAR2(30)", NN, "Método\nMétodo del caso de uso"},
          {"CUSO_GUI", "VARCHAR2(10)", NN, "Interfaz\nTipo de cliente del caso de uso"},
          {"CUSO_Activo", "NUMBER(1)", NN, "Activo\nCaso de uso activo"}},
         {"PK_CUSOS", {"CUSO_Cuso"}},
         {{"UK_CUSOS_METODO", {"CUSO_Clase", "CUSO_Metodo", "CUSO_GUI"}}},
         {{"FK_CUSOS_METODS", {"CUSO_Clase", "CUSO_Metodo"}, "TMETODS", {"METO_Clase", "METO_Metodo"}},
          {"FK_CUSOS_GUIS", {"CUSO_GUI"}, "TGUIS", {"GUIS_Gui"}}},
         {{"CK_CUSOS_ACTIVO", "CUSO_Activo IN (0, 1)"}}},

        // Properties, filters and relations.
        {"TPROPCLASES", "Propiedades\nPropiedades (columnas) de las clases",
         {{"PROP_Clase", "VARCHAR2(30)", NN, "Clase\nClase de la propiedad"},
          {"PROP_Prop", "VARCHAR2(30)", NN, "Propiedad\nColumna de la clase"},
          {"PROP_Etiq", "VARCHAR2(60)", NN, "Etiqueta\nTítulo de la columna"},
          {"PROP_Visib", "NUMBER(1)", NN, "Visibilidad\nVisibilidad (0 oculta, 1 visible, 2 sólo filtro)"},
          {"PROP_Estad", "NUMBER(1)", NN, "Estadística\nColumna con estadísticas"},
          {"PROP_Mone", "NUMBER(1)", NN, "Moneda\nColumna de importes"},
          {"PROP_Tama", "NUMBER(4)", NN, "Ancho\nAncho de la columna en caracteres"},
          {"PROP_Mask", "VARCHAR2(30)", OPT, "Máscara de edición"},
          {"PROP_Orden", "NUMBER(4)", NN, "Orden\nOrden en los diálogos"},
          {"PROP_PropEtiq", "VARCHAR2(30)", OPT, "Columna que describe el valor"}},
         {"PK_PROPCLASES", {"PROP_Clase", "PROP_Prop"}}, {},
         {{"FK_PROPCLASES_CLASES", {"PROP_Clase"}, "TCLASES", {"CLAS_Clase"}}},
         {{"CK_PROPCLASES_VISIB", "PROP_Visib IN (0, 1, 2)"}, {"CK_PROPCLASES_ESTAD", "PROP_Estad IN (0, 1)"},
          {"CK_PROPCLASES_MONE", "PROP_Mone IN (0, 1)"}, {"CK_PROPCLASES_TAMA", "PROP_Tama >= 0"},
          {"CK_PROPCLASES_MAYUS", "PROP_Prop = upper(PROP_Prop)"}}},
        {"TFILTSELEC", "Filtros rápidos\nFiltros rápidos de las clases",
         {{"FILT_Filtro", "NUMBER(8)", NN, "Filtro\nCódigo del filtro"},
          {"FILT_Clase", "VARCHAR2(30)", NN, "Clase\nClase del filtro"},
          {"FILT_Rol", "VARCHAR2(20)", NN, "Rol\nRol del filtro"},
          {"FILT_Descrip", "VARCHAR2(100)", OPT, "Descripción del filtro"},
          {"FILT_Prop", "VARCHAR2(30)", OPT, "Columna comparada por un filtro de búsqueda"},
          {"FILT_Defa", "NUMBER(1)", NN, "Filtro por defecto"}},
         {"PK_FILTSELEC", {"FILT_Filtro"}}, {},
         {{"FK_FILTSELEC_CLASES", {"FILT_Clase"}, "TCLASES", {"CLAS_Clase"}},
          {"FK_FILTSELEC_ROLES", {"FILT_Rol"}, "TROLES", {"ROLE_Rol"}}},
         {{"CK_FILTSELEC_DEFA", "FILT_Defa IN (0, 1)"}}},
        {"TCOLFILTROS", "Entradas de filtros\nEntradas de los filtros rápidos",
         {{"COLF_Filtro", "NUMBER(8)", NN, "Filtro\nFiltro de la entrada"},
          {"COLF_Orden", "NUMBER(4)", NN, "Orden\nOrden de la entrada"},
          {"COLF_Col", "VARCHAR2(60)", NN, "Título\nTítulo de la entrada, o tabla de búsqueda"},
          {"COLF_Expr", "VARCHAR2(2000)", OPT, "Condición de la entrada, o columnas de búsqueda"}},
         {"PK_COLFILTROS", {"COLF_Filtro", "COLF_Orden"}}, {},
         {{"FK_COLFILTROS_FILTSELEC", {"COLF_Filtro"}, "TFILTSELEC", {"FILT_Filtro"}}}, {}},
        {"TRELPROPS", "Relaciones\nRelaciones entre clases para navegar",
         {{"RELP_Clase_P", "VARCHAR2(30)", NN, "Clase padre\nClase de la que se parte"},
          {"RELP_Prop_P", "VARCHAR2(30)", NN, "Propiedad padre\nPropiedad cuyo valor se pasa"},
          {"RELP_Clase", "VARCHAR2(30)", NN, "Clase relacionada\nClase a la que se llega"},
          {"RELP_Prop", "VARCHAR2(30)", NN, "Propiedad relacionada\nPropiedad que debe igualar el valor"}},
         {"PK_RELPROPS", {"RELP_Clase_P", "RELP_Prop_P", "RELP_Clase", "RELP_Prop"}}, {},
         {{"FK_RELPROPS_PADRE", {"RELP_Clase_P", "RELP_Prop_P"}, "TPROPCLASES", {"PROP_Clase", "PROP_Prop"}},
          {"FK_RELPROPS_HIJO", {"RELP_Clase", "RELP_Prop"}, "TPROPCLASES", {"PROP_Clase", "PROP_Prop"}}},
         {}},
        {"RVFILRAP", "Filtros de la sesión\nCondiciones de la consulta actual",
         {{"VFIL_Filtro", "NUMBER(8)", OPT, "Filtro (vacío: navegación; -1: orden)"},
          {"VFIL_Valor", "VARCHAR2(4000)", OPT, "Condición u orden"}},
         {}, {}, {}, {}, true, Writers::Session},
        {"RQBEX", "Consulta por ejemplo\nEjemplos de la consulta actual",
         {{"QBEX_Reg", "NUMBER(4)", NN, "Número del ejemplo"},
          {"QBEX_Campo", "VARCHAR2(30)", NN, "Columna del ejemplo"},
          {"QBEX_Valor", "VARCHAR2(4000)", OPT, "Valor del ejemplo"},
          {"QBEX_Fecha", "NUMBER(1)", NN, "Columna de fecha y hora"}},
         {}, {}, {}, {}, true, Writers::Session},

        // Binaries, parameters and logs.
        {"TBINS", "Binarios\nFicheros que debe tener el cliente",
         {{"BINS_Arch", "VARCHAR2(100)", NN, "Fichero\nNombre del fichero"},
          {"BINS_Vers", "VARCHAR2(30)", OPT, "Versión del fichero"},
          {"BINS_Bin", "BLOB", OPT, "Contenido del fichero"},
          {"BINS_Raiz", "VARCHAR2(1)", OPT, "Carpeta (1: carpeta del sistema; otro: carpeta del programa)"},
          {"BINS_GUI", "VARCHAR2(10)", NN, "Interfaz\nTipo de cliente del fichero"},
          {"BINS_Fecha", "DATE", OPT, "Fecha de carga"}},
         {"PK_BINS", {"BINS_Arch"}}, {},
         {{"FK_BINS_GUIS", {"BINS_GUI"}, "TGUIS", {"GUIS_Gui"}}}, {}},
        {"TPARAMS", "Parámetros\nParámetros generales",
         {{"PARA_Param", "VARCHAR2(30)", NN, "Parámetro\nNombre del parámetro"},
          {"PARA_Valor", "VARCHAR2(4000)", OPT, "Valor del parámetro"},
          {"PARA_Descrip", "VARCHAR2(200)", OPT, "Descripción del parámetro"}},
         {"PK_PARAMS", {"PARA_Param"}}, {}, {}, {}},
        {"TLOGACCESOS", "Accesos\nRegistro de accesos a los casos de uso",
         {{"LOGA_Cuso", "NUMBER(8)", NN, "Caso de uso\nCaso de uso abierto"},
          {"LOGA_USUA", "NUMBER(8)", NN, "Usuario\nUsuario que abre el caso de uso"},
          {"LOGA_Fecha", "DATE", NN, "Fecha y hora del acceso"}},
         {}, {}, {}, {}, false, Writers::Appenders},
        {"TEXCEPCION", "Excepciones\nRegistro de errores no traducidos",
         {{"EXCE_Mensaje", "VARCHAR2(4000)", OPT, "Mensaje de error"},
          {"EXCE_Usua", "NUMBER(8)", OPT, "Usuario que recibió el error"},
          {"EXCE_Fecha", "DATE", OPT, "Fecha y hora del error"},
          {"EXCE_Cuso", "NUMBER(8)", OPT, "Caso de uso en que ocurrió"}},
         {}, {}, {}, {}, false, Writers::Appenders},
        {"TMENEXCEP", "Mensajes de error\nMensajes para los usuarios",
         {{"MENE_Refer", "VARCHAR2(60)", NN, "Referencia\nReferencia del mensaje (nombre de la restricción)"},
          {"MENE_Mensaje", "VARCHAR2(400)", NN, "Mensaje\nTexto del mensaje"}},
         {"PK_MENEXCEP", {"MENE_Refer"}}, {}, {}, {}},
    };
    return tables;
}

} // namespace

namespace schemadef {

const std::vector<Table> &metadataTables() { return allTables(); }

const Table *metadataTable(QStringView name)
{
    for (const Table &t : allTables())
        if (name.compare(QLatin1String(t.name), Qt::CaseInsensitive) == 0)
            return &t;
    return nullptr;
}

Writers writersOf(QStringView name)
{
    const Table *t = metadataTable(name);
    return t ? t->writers : Writers::Classes;
}

QString foreignKeyIndex(const Table &t, const ForeignKey &fk) { return indexForForeignKey(t, fk); }

} // namespace schemadef

QString builtInText(const QString &resource, const QString &what)
{
    QFile f(resource);
    if (!f.open(QIODevice::ReadOnly))
        throw OraError(QStringLiteral("%1 is missing from the program").arg(what));
    return QString::fromUtf8(f.readAll());
}

QString demoScript() { return builtInText(QStringLiteral(":/demo/demo.sql"), QStringLiteral("the demo script")); }

} // namespace vorel::server
