#include "server/schema.h"
#include "server/oraerrors.h"

#include <QRegularExpression>
#include <QStringList>

#include <sqlite3.h>

namespace vorel::server {

namespace schemadef {

void exec(sqlite3 *db, const QString &sql)
{
    char *err = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    const int rc = sqlite3_exec(db, utf8.constData(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        const QString msg = QString::fromUtf8(err ? err : sqlite3_errmsg(db));
        sqlite3_free(err);
        throw OraError(oracleMessage(db, sqlite3_extended_errcode(db), msg));
    }
}

QString quoted(const QString &text)
{
    QString s = text;
    s.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

} // namespace schemadef

namespace {

using namespace schemadef;

constexpr bool NN = true;
constexpr bool OPT = false;

QString q(const char *text) { return quoted(QString::fromUtf8(text)); }

QString joined(const std::vector<const char *> &names, const QString &prefix = {})
{
    QStringList parts;
    for (const char *n : names)
        parts << prefix + QString::fromUtf8(n);
    return parts.join(QLatin1String(", "));
}

// Oracle NULL semantics of a foreign key: checked only when every column has a value.
QString allNotNull(const std::vector<const char *> &cols, const QString &row)
{
    QStringList parts;
    for (const char *c : cols)
        parts << QStringLiteral("%1.%2 IS NOT NULL").arg(row, QString::fromUtf8(c));
    return parts.join(QLatin1String(" AND "));
}

QString matchCondition(const std::vector<const char *> &left, const std::vector<const char *> &right,
                       const QString &rightRow)
{
    QStringList parts;
    for (size_t i = 0; i < left.size(); ++i)
        parts << QStringLiteral("%1 = %2.%3").arg(QString::fromUtf8(left[i]), rightRow, QString::fromUtf8(right[i]));
    return parts.join(QLatin1String(" AND "));
}

QString createTableSql(const Table &t, bool temp)
{
    QStringList defs;
    for (const Column &c : t.columns)
        defs << QStringLiteral("%1 %2%3").arg(QString::fromUtf8(c.name), QString::fromUtf8(c.type),
                                             c.notNull ? QStringLiteral(" NOT NULL") : QString());
    if (t.primaryKey.name)
        defs << QStringLiteral("CONSTRAINT %1 PRIMARY KEY (%2)")
                    .arg(QString::fromUtf8(t.primaryKey.name), joined(t.primaryKey.columns));
    for (const Key &k : t.uniqueKeys)
        defs << QStringLiteral("CONSTRAINT %1 UNIQUE (%2)").arg(QString::fromUtf8(k.name), joined(k.columns));
    for (const Check &k : t.checks)
        defs << QStringLiteral("CONSTRAINT %1 CHECK (%2)").arg(QString::fromUtf8(k.name), QString::fromUtf8(k.condition));
    return QStringLiteral("CREATE %1TABLE %2%3 (\n  %4\n)")
        .arg(temp ? QStringLiteral("TEMP ") : QString(), temp ? QStringLiteral("IF NOT EXISTS ") : QString(),
             QString::fromUtf8(t.name), defs.join(QLatin1String(",\n  ")));
}

QString parentMissing(const ForeignKey &fk)
{
    return QStringLiteral("ORA-02291: integrity constraint (VOREL.%1) violated - parent key not found")
        .arg(QString::fromUtf8(fk.name));
}

QString childFound(const ForeignKey &fk)
{
    return QStringLiteral("ORA-02292: integrity constraint (VOREL.%1) violated - child record found")
        .arg(QString::fromUtf8(fk.name));
}

// The child side: the parent row must exist when the child names one.
QStringList childTriggers(const Table &t, const ForeignKey &fk, bool temp)
{
    const QString name = QString::fromUtf8(fk.name);
    const QString table = QString::fromUtf8(t.name);
    const QString parent = QString::fromUtf8(fk.parentTable);
    const QString kind = temp ? QStringLiteral("TEMP TRIGGER IF NOT EXISTS") : QStringLiteral("TRIGGER");
    const QString missing = QStringLiteral("%1 AND NOT EXISTS (SELECT 1 FROM %2 WHERE %3)")
                                .arg(allNotNull(fk.columns, QStringLiteral("NEW")), parent,
                                     matchCondition(fk.parentColumns, fk.columns, QStringLiteral("NEW")));
    const QString raise = QStringLiteral("BEGIN SELECT RAISE(ABORT, %1); END").arg(quoted(parentMissing(fk)));
    return {
        QStringLiteral("CREATE %1 TRG_%2_I BEFORE INSERT ON %3 WHEN %4\n%5").arg(kind, name, table, missing, raise),
        QStringLiteral("CREATE %1 TRG_%2_U BEFORE UPDATE OF %3 ON %4 WHEN %5\n%6")
            .arg(kind, name, joined(fk.columns), table, missing, raise),
    };
}

// The parent side: a key still named by children may neither go nor change.
QStringList parentTriggers(const Table &t, const ForeignKey &fk)
{
    const QString name = QString::fromUtf8(fk.name);
    const QString child = QString::fromUtf8(t.name);
    const QString parent = QString::fromUtf8(fk.parentTable);
    const QString children = QStringLiteral("EXISTS (SELECT 1 FROM %1 WHERE %2)")
                                 .arg(child, matchCondition(fk.columns, fk.parentColumns, QStringLiteral("OLD")));
    QStringList changed;
    for (const char *c : fk.parentColumns)
        changed << QStringLiteral("OLD.%1 IS NOT NEW.%1").arg(QString::fromUtf8(c));
    const QString raise = QStringLiteral("BEGIN SELECT RAISE(ABORT, %1); END").arg(quoted(childFound(fk)));
    return {
        QStringLiteral("CREATE TRIGGER TRG_%1_D BEFORE DELETE ON %2 WHEN %3\n%4").arg(name, parent, children, raise),
        QStringLiteral("CREATE TRIGGER TRG_%1_P BEFORE UPDATE OF %2 ON %3 WHEN (%4) AND %5\n%6")
            .arg(name, joined(fk.parentColumns), parent, changed.join(QLatin1String(" OR ")), children, raise),
    };
}

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

QStringList checkColumns(const Table &t, const Check &c)
{
    QStringList cols;
    const QString cond = QString::fromUtf8(c.condition);
    for (const Column &col : t.columns) {
        const QRegularExpression word(QStringLiteral("\\b%1\\b").arg(QRegularExpression::escape(QString::fromUtf8(col.name))),
                                      QRegularExpression::CaseInsensitiveOption);
        if (word.match(cond).hasMatch())
            cols << QString::fromUtf8(col.name).toUpper();
    }
    return cols;
}

QStringList upper(const std::vector<const char *> &names)
{
    QStringList out;
    for (const char *n : names)
        out << QString::fromUtf8(n).toUpper();
    return out;
}

void registerConstraint(sqlite3 *db, const QString &name, const char *type, const QString &table,
                        const QStringList &columns, const QString &condition = {})
{
    exec(db, QStringLiteral("INSERT INTO TDICRESTR (DRES_Restr, DRES_Tipo, DRES_Tabla, DRES_Cond) VALUES (%1, '%2', %3, %4)")
                 .arg(quoted(name.toUpper()), QLatin1String(type), quoted(table.toUpper()),
                      condition.isEmpty() ? QStringLiteral("NULL") : quoted(condition)));
    for (int i = 0; i < columns.size(); ++i)
        exec(db, QStringLiteral("INSERT INTO TDICRESCOL (DRCO_Restr, DRCO_Pos, DRCO_Tabla, DRCO_Col) VALUES (%1, %2, %3, %4)")
                     .arg(quoted(name.toUpper())).arg(i + 1).arg(quoted(table.toUpper()), quoted(columns[i])));
}

// The primary or unique key of the parent that a foreign key points at.
QString referencedKey(sqlite3 *db, const ForeignKey &fk)
{
    const QString wanted = upper(fk.parentColumns).join(QLatin1Char(','));
    const QByteArray sql = QStringLiteral(
        "SELECT DRES_Restr, (SELECT group_concat(DRCO_Col, ',') FROM (SELECT DRCO_Col FROM TDICRESCOL "
        "WHERE DRCO_Restr = DRES_Restr ORDER BY DRCO_Pos)) FROM TDICRESTR "
        "WHERE DRES_Tabla = %1 AND DRES_Tipo IN ('P', 'U') ORDER BY DRES_Tipo")
        .arg(quoted(QString::fromUtf8(fk.parentTable).toUpper())).toUtf8();
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr) != SQLITE_OK)
        throw OraError(oracleMessage(db, sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db))));
    QString found;
    while (found.isEmpty() && sqlite3_step(stmt) == SQLITE_ROW) {
        const QString cols = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1)));
        if (cols == wanted)
            found = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
    }
    sqlite3_finalize(stmt);
    if (found.isEmpty())
        throw OraError(QStringLiteral("ORA-02270: no matching unique or primary key for this column-list (%1)")
                           .arg(QString::fromUtf8(fk.name)));
    return found;
}

void registerTable(sqlite3 *db, const Table &t)
{
    const QString table = QString::fromUtf8(t.name).toUpper();
    exec(db, QStringLiteral("INSERT INTO TDICTABLAS (DTAB_Tabla, DTAB_Tipo, DTAB_Coment) VALUES (%1, 'TABLE', %2)")
                 .arg(quoted(table), q(t.comment)));
    int pos = 0;
    for (const Column &c : t.columns)
        exec(db, QStringLiteral("INSERT INTO TDICCOLUM (DCOL_Tabla, DCOL_Col, DCOL_Pos, DCOL_Tipo, DCOL_Nulo, DCOL_Coment) "
                                "VALUES (%1, %2, %3, %4, '%5', %6)")
                     .arg(quoted(table), quoted(QString::fromUtf8(c.name).toUpper()))
                     .arg(++pos)
                     .arg(q(c.type), c.notNull ? QStringLiteral("N") : QStringLiteral("Y"), q(c.comment)));
    if (t.primaryKey.name)
        registerConstraint(db, QString::fromUtf8(t.primaryKey.name), "P", table, upper(t.primaryKey.columns));
    for (const Key &k : t.uniqueKeys)
        registerConstraint(db, QString::fromUtf8(k.name), "U", table, upper(k.columns));
    for (const Check &k : t.checks)
        registerConstraint(db, QString::fromUtf8(k.name), "C", table, checkColumns(t, k), QString::fromUtf8(k.condition));
}

void registerForeignKeys(sqlite3 *db, const Table &t)
{
    for (const ForeignKey &fk : t.foreignKeys) {
        const QString name = QString::fromUtf8(fk.name);
        registerConstraint(db, name, "R", QString::fromUtf8(t.name), upper(fk.columns));
        exec(db, QStringLiteral("UPDATE TDICRESTR SET DRES_RRestr = %1 WHERE DRES_Restr = %2")
                     .arg(quoted(referencedKey(db, fk)), quoted(name.toUpper())));
    }
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
         {{"CK_DICTABLAS_TIPO", "DTAB_Tipo IN ('TABLE', 'VIEW')"}}},
        {"TDICCOLUM", "Diccionario de columnas\nColumnas de las tablas del esquema",
         {{"DCOL_Tabla", "VARCHAR2(30)", NN, "Tabla\nTabla de la columna"},
          {"DCOL_Col", "VARCHAR2(30)", NN, "Columna\nNombre de la columna"},
          {"DCOL_Pos", "NUMBER(4)", NN, "Posición de la columna en la tabla"},
          {"DCOL_Tipo", "VARCHAR2(30)", NN, "Tipo de dato"},
          {"DCOL_Nulo", "VARCHAR2(1)", NN, "Admite nulos (Y o N)"},
          {"DCOL_Coment", "VARCHAR2(4000)", OPT, "Comentario de la columna"}},
         {"PK_DICCOLUM", {"DCOL_Tabla", "DCOL_Col"}}, {},
         {{"FK_DICCOLUM_TABLAS", {"DCOL_Tabla"}, "TDICTABLAS", {"DTAB_Tabla"}}},
         {{"CK_DICCOLUM_NULO", "DCOL_Nulo IN ('Y', 'N')"}}},
        {"TDICRESTR", "Diccionario de restricciones\nRestricciones del esquema",
         {{"DRES_Restr", "VARCHAR2(30)", NN, "Restricción\nNombre de la restricción"},
          {"DRES_Tipo", "VARCHAR2(1)", NN, "Tipo: P clave primaria, U única, R ajena, C de control"},
          {"DRES_Tabla", "VARCHAR2(30)", NN, "Tabla\nTabla de la restricción"},
          {"DRES_RRestr", "VARCHAR2(30)", OPT, "Clave referida por una clave ajena"},
          {"DRES_Cond", "VARCHAR2(4000)", OPT, "Condición de una restricción de control"}},
         {"PK_DICRESTR", {"DRES_Restr"}}, {},
         {{"FK_DICRESTR_TABLAS", {"DRES_Tabla"}, "TDICTABLAS", {"DTAB_Tabla"}}},
         {{"CK_DICRESTR_TIPO", "DRES_Tipo IN ('P', 'U', 'R', 'C')"}}},
        {"TDICRESCOL", "Diccionario de columnas de restricciones",
         {{"DRCO_Restr", "VARCHAR2(30)", NN, "Restricción\nRestricción a la que pertenece la columna"},
          {"DRCO_Pos", "NUMBER(4)", NN, "Posición de la columna en la restricción"},
          {"DRCO_Tabla", "VARCHAR2(30)", NN, "Tabla de la restricción"},
          {"DRCO_Col", "VARCHAR2(30)", NN, "Columna de la restricción"}},
         {"PK_DICRESCOL", {"DRCO_Restr", "DRCO_Pos"}}, {},
         {{"FK_DICRESCOL_RESTR", {"DRCO_Restr"}, "TDICRESTR", {"DRES_Restr"}}}, {}},

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
         {}, true},

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
         {}, {}, {}, {}, true},
        {"RQBEX", "Consulta por ejemplo\nEjemplos de la consulta actual",
         {{"QBEX_Reg", "NUMBER(4)", NN, "Número del ejemplo"},
          {"QBEX_Campo", "VARCHAR2(30)", NN, "Columna del ejemplo"},
          {"QBEX_Valor", "VARCHAR2(4000)", OPT, "Valor del ejemplo"},
          {"QBEX_Fecha", "NUMBER(1)", NN, "Columna de fecha y hora"}},
         {}, {}, {}, {}, true},

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
         {}, {}, {}, {}},
        {"TEXCEPCION", "Excepciones\nRegistro de errores no traducidos",
         {{"EXCE_Mensaje", "VARCHAR2(4000)", OPT, "Mensaje de error"},
          {"EXCE_Usua", "NUMBER(8)", OPT, "Usuario que recibió el error"},
          {"EXCE_Fecha", "DATE", OPT, "Fecha y hora del error"},
          {"EXCE_Cuso", "NUMBER(8)", OPT, "Caso de uso en que ocurrió"}},
         {}, {}, {}, {}},
        {"TMENEXCEP", "Mensajes de error\nMensajes para los usuarios",
         {{"MENE_Refer", "VARCHAR2(60)", NN, "Referencia\nReferencia del mensaje (nombre de la restricción)"},
          {"MENE_Mensaje", "VARCHAR2(400)", NN, "Mensaje\nTexto del mensaje"}},
         {"PK_MENEXCEP", {"MENE_Refer"}}, {}, {}, {}},
    };
    return tables;
}

const char *const kDictionaryViews[][3] = {
    {"ALL_TAB_COMMENTS", "Comentarios de tablas",
     "SELECT 'VOREL' AS OWNER, DTAB_Tabla AS TABLE_NAME, DTAB_Tipo AS TABLE_TYPE, DTAB_Coment AS COMMENTS FROM TDICTABLAS"},
    {"ALL_COL_COMMENTS", "Comentarios de columnas",
     "SELECT 'VOREL' AS OWNER, DCOL_Tabla AS TABLE_NAME, DCOL_Col AS COLUMN_NAME, DCOL_Coment AS COMMENTS FROM TDICCOLUM"},
    {"ALL_TAB_COLUMNS", "Columnas de tablas",
     "SELECT 'VOREL' AS OWNER, DCOL_Tabla AS TABLE_NAME, DCOL_Col AS COLUMN_NAME, DCOL_Tipo AS DATA_TYPE, "
     "DCOL_Nulo AS NULLABLE, DCOL_Pos AS COLUMN_ID FROM TDICCOLUM"},
    {"ALL_CONSTRAINTS", "Restricciones",
     "SELECT 'VOREL' AS OWNER, DRES_Restr AS CONSTRAINT_NAME, DRES_Tipo AS CONSTRAINT_TYPE, DRES_Tabla AS TABLE_NAME, "
     "DRES_Cond AS SEARCH_CONDITION, CASE WHEN DRES_RRestr IS NULL THEN NULL ELSE 'VOREL' END AS R_OWNER, "
     "DRES_RRestr AS R_CONSTRAINT_NAME, 'ENABLED' AS STATUS FROM TDICRESTR"},
    {"ALL_CONS_COLUMNS", "Columnas de restricciones",
     "SELECT 'VOREL' AS OWNER, DRCO_Restr AS CONSTRAINT_NAME, DRCO_Tabla AS TABLE_NAME, DRCO_Col AS COLUMN_NAME, "
     "DRCO_Pos AS POSITION FROM TDICRESCOL"},
};

void createSessionTable(sqlite3 *db, const Table &t)
{
    exec(db, createTableSql(t, true));
    for (const ForeignKey &fk : t.foreignKeys)
        for (const QString &sql : childTriggers(t, fk, true))
            exec(db, sql);
}

class Savepoint
{
public:
    Savepoint(sqlite3 *db, const char *name) : m_db(db), m_name(QString::fromLatin1(name))
    {
        exec(m_db, QStringLiteral("SAVEPOINT ") + m_name);
    }
    ~Savepoint()
    {
        if (!m_done) {
            sqlite3_exec(m_db, QStringLiteral("ROLLBACK TO %1; RELEASE %1").arg(m_name).toUtf8().constData(),
                         nullptr, nullptr, nullptr);
        }
    }
    void commit()
    {
        exec(m_db, QStringLiteral("RELEASE ") + m_name);
        m_done = true;
    }

private:
    sqlite3 *m_db;
    QString m_name;
    bool m_done = false;
};

} // namespace

namespace schemadef {

void createTables(sqlite3 *db, const std::vector<Table> &tables)
{
    for (const Table &t : tables) {
        if (t.session)
            continue;
        exec(db, createTableSql(t, false));
        for (const ForeignKey &fk : t.foreignKeys) {
            const QString index = indexForForeignKey(t, fk);
            if (!index.isEmpty())
                exec(db, index);
        }
    }
    for (const Table &t : tables) {
        for (const ForeignKey &fk : t.foreignKeys) {
            if (t.session)
                continue;
            for (const QString &sql : childTriggers(t, fk, false) + parentTriggers(t, fk))
                exec(db, sql);
        }
    }
    for (const Table &t : tables)
        registerTable(db, t);
    for (const Table &t : tables)
        registerForeignKeys(db, t);
}

const std::vector<Table> &metadataTables() { return allTables(); }

QString foreignKeyIndex(const Table &t, const ForeignKey &fk) { return indexForForeignKey(t, fk); }

void registerView(sqlite3 *db, const QString &name, const QString &comment)
{
    exec(db, QStringLiteral("INSERT INTO TDICTABLAS (DTAB_Tabla, DTAB_Tipo, DTAB_Coment) VALUES (%1, 'VIEW', %2)")
                 .arg(quoted(name.toUpper()), quoted(comment)));
}

} // namespace schemadef

void createSchema(sqlite3 *db)
{
    Savepoint tx(db, "vorel_schema");
    createTables(db, allTables());
    for (const auto &view : kDictionaryViews) {
        exec(db, QStringLiteral("CREATE VIEW %1 AS %2").arg(QLatin1String(view[0]), QString::fromUtf8(view[2])));
        registerView(db, QLatin1String(view[0]), QString::fromUtf8(view[1]));
    }
    tx.commit();
}

void createSessionTables(sqlite3 *db, const QString &userId)
{
    for (const Table &t : allTables())
        if (t.session)
            createSessionTable(db, t);
    exec(db, QStringLiteral("DELETE FROM temp.RSESION; DELETE FROM temp.RVFILRAP; DELETE FROM temp.RQBEX"));
    exec(db, QStringLiteral("INSERT INTO temp.RSESION (SESI_Usua, SESI_USUADer) VALUES (%1, %1)").arg(quoted(userId)));
}

void runScript(sqlite3 *db, const QString &sqlText)
{
    const QByteArray utf8 = sqlText.toUtf8();
    const char *tail = utf8.constData();
    const char *end = tail + utf8.size();
    int number = 0;
    Savepoint tx(db, "vorel_script");
    while (tail < end) {
        const char *start = tail;
        sqlite3_stmt *stmt = nullptr;
        int rc = sqlite3_prepare_v2(db, start, int(end - start), &stmt, &tail);
        const QString statement = QString::fromUtf8(start, int(tail - start)).trimmed();
        if (rc == SQLITE_OK && !stmt)
            continue; // blanks or comments only
        ++number;
        if (rc == SQLITE_OK) {
            do
                rc = sqlite3_step(stmt);
            while (rc == SQLITE_ROW);
            if (rc == SQLITE_DONE)
                rc = SQLITE_OK;
        }
        if (rc != SQLITE_OK) {
            const int extended = sqlite3_extended_errcode(db);
            const QString sqliteMessage = QString::fromUtf8(sqlite3_errmsg(db));
            sqlite3_finalize(stmt);
            throw OraError(QStringLiteral("%1\nSentencia %2: %3")
                               .arg(oracleMessage(db, extended, sqliteMessage)).arg(number).arg(statement));
        }
        sqlite3_finalize(stmt);
    }
    tx.commit();
}

} // namespace vorel::server
