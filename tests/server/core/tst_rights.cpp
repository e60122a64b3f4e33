// What a logged-in session may run, whatever client sends it: each row a
// user of the demo, a statement and whether it runs. Every write runs inside
// a transaction that is rolled back, so the rows do not see each other.
#include "server/core/oramessages.h"
#include "support/testdatabase.h"

#include <QFile>
#include <QTest>

using namespace vorel;
using namespace vorel::test;

namespace {

// 1001 sells (VENTAS), 1002 also administers, 1004 may work as any user in
// any role, 1005 holds no role at all, 1006 buys (COMPRAS, where CLIENTES
// is not active).
struct Case {
    const char *user;
    const char *sql;
    bool runs;
};

const Case kCases[] = {
    // What the client sends for any user: working rows, logs, own account.
    {"1005", "DELETE FROM vorel.RVFILRAP", true},
    {"1005", "INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (7, 'ESTADO = ''A''') ", true},
    {"1005", "INSERT INTO vorel.RVFILRAP (VFIL_Valor) VALUES ('CLIENTE= ''5''')", true},
    {"1005", "DELETE FROM vorel.RQBEX", true},
    {"1005", "INSERT INTO vorel.RQBEX (QBEX_Reg, QBEX_Campo, QBEX_Valor, QBEX_Fecha) VALUES (1,'NOMBRE', 'A%',0)", true},
    {"1001",
     "INSERT INTO vorel.TLOGACCESOS (LOGA_Cuso, LOGA_USUA, LOGA_Fecha) SELECT CUSO_Cuso, SESI_Usua, sysdate FROM "
     "vorel.TCUSOS, vorel.RSESION WHERE CUSO_GUI= 'WIN32'   And CUSO_Clase= 'CLIENTES'   And CUSO_Metodo= 'main' ",
     true},
    {"1005",
     "INSERT INTO vorel.TEXCEPCION (EXCE_Mensaje, EXCE_Usua, EXCE_Fecha, EXCE_Cuso) SELECT 'x', SESI_Usua, sysdate, "
     "CUSO_Cuso  FROM vorel.TCUSOS, vorel.RSESION WHERE CUSO_GUI= 'WIN32'   And CUSO_Clase= 'CLIENTES'   And "
     "CUSO_Metodo= 'main' ",
     true},
    {"1005", "UPDATE Vorel.TUsuarios SET USUA_Paswd= 'nueva1' WHERE USUA_Usua= 1005", true},
    {"1005", "UPDATE Vorel.TUsuarios SET USUA_eMail= 'l@x.es' WHERE USUA_Usua= 1005", true},
    {"1005", "SELECT USUA_Nombre NOMBRE, USUA_eMail email FROM Vorel.TUSUARIOS WHERE USUA_Usua= 1005", true},
    {"1004", "UPDATE VOREL.RSESION SET SESI_USUADer= 1001", true},
    // Business rows: the classes of the user's roles decide.
    {"1001", "UPDATE vorel.TCLIENTES SET CLIE_Nombre = CLIE_Nombre WHERE CLIE_Cliente = 1", true},
    {"1004", "UPDATE vorel.TCLIENTES SET CLIE_Nombre = CLIE_Nombre WHERE CLIE_Cliente = 1", true},
    {"1006", "UPDATE vorel.TPRODUCTOS SET PROD_Descrip = PROD_Descrip WHERE PROD_Producto = 'x'", true},
    {"1005", "UPDATE vorel.TCLIENTES SET CLIE_Nombre = CLIE_Nombre WHERE CLIE_Cliente = 1", false},
    {"1006", "UPDATE vorel.TCLIENTES SET CLIE_Nombre = CLIE_Nombre WHERE CLIE_Cliente = 1", false},
    {"1001", "DELETE FROM vorel.TPROVINCIAS WHERE PROV_Prov = 'ZZ'", false},
    {"1002", "DELETE FROM vorel.TPROVINCIAS WHERE PROV_Prov = 'ZZ'", true},
    // MERGE writes its target: the same rights as an UPDATE of it.
    {"1001", "MERGE INTO vorel.TCLIENTES c USING (SELECT 1 K FROM DUAL) s ON (c.CLIE_Cliente = s.K) WHEN MATCHED "
             "THEN UPDATE SET c.CLIE_Nombre = c.CLIE_Nombre", true},
    {"1006", "MERGE INTO vorel.TCLIENTES c USING (SELECT 1 K FROM DUAL) s ON (c.CLIE_Cliente = s.K) WHEN MATCHED "
             "THEN UPDATE SET c.CLIE_Nombre = c.CLIE_Nombre", false},
    {"1005", "MERGE INTO vorel.TCLIENTES USING vorel.TPROVINCIAS p ON (CLIE_Cliente = 0) WHEN NOT MATCHED THEN "
             "INSERT (CLIE_Cliente) VALUES (0)", false},
    {"1002", "MERGE INTO vorel.TEXCEPCION e USING (SELECT 'x' M FROM DUAL) s ON (e.EXCE_Mensaje = s.M) WHEN NOT "
             "MATCHED THEN INSERT (EXCE_Mensaje) VALUES (s.M)", false},
    // Identity, rights and code: administrators only.
    {"1002", "INSERT INTO vorel.TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (1005, 'VENTAS', 0)", true},
    {"1005", "INSERT INTO vorel.TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (1005, 'ADMIN', 1)", false},
    {"1001", "UPDATE vorel.TCLAROL SET CLAR_Activo = 1", false},
    {"1005", "INSERT INTO vorel.TBINS (BINS_Arch, BINS_Vers, BINS_GUI) VALUES ('x.exe', '9.9.9.9', 'WIN32')", false},
    {"1002", "INSERT INTO vorel.TBINS (BINS_Arch, BINS_Vers, BINS_GUI) VALUES ('x.exe', '9.9.9.9', 'WIN32')", true},
    {"1001", "UPDATE vorel.TPARAMS SET PARA_Valor = 'x' WHERE PARA_Param = 'MENINI'", false},
    {"1001", "INSERT INTO vorel.TCLATABLAS (CLAT_Clase, CLAT_Tabla) VALUES ('CLIENTES', 'TPROVINCIAS')", false},
    // Someone else's account, and the password hashes: nobody reads them.
    {"1005", "UPDATE Vorel.TUsuarios SET USUA_Paswd= 'nueva1' WHERE USUA_Usua= 1002", false},
    {"1005", "UPDATE Vorel.TUsuarios SET USUA_eMail= 'l@x.es' WHERE USUA_Usua= 1002", false},
    {"1005", "UPDATE Vorel.TUsuarios SET USUA_Paswd= 'nueva1' WHERE USUA_Usua= 1005 OR 1 = 1", false},
    {"1005", "UPDATE Vorel.TUsuarios SET USUA_Nombre= 'x' WHERE USUA_Usua= 1005", false},
    {"1002", "UPDATE Vorel.TUsuarios SET USUA_Paswd= 'nueva1' WHERE USUA_Usua= 1001", true},
    {"1005", "SELECT USUA_Usua, USUA_Paswd FROM vorel.TUSUARIOS", false},
    {"1002", "SELECT USUA_Usua, USUA_Paswd FROM vorel.TUSUARIOS", false},
    {"1002", "SELECT \"USUA_PASWD\" FROM vorel.TUSUARIOS", false},
    {"1002", "SELECT * FROM vorel.TUSUARIOS", false},
    {"1002", "SELECT u.* FROM vorel.TUSUARIOS u WHERE USUA_Usua = 1001", false},
    {"1002", "SELECT COUNT(*) FROM vorel.TUSUARIOS", true},
    {"1002", "UPDATE vorel.TUSUARIOS SET USUA_eMail = USUA_Paswd WHERE USUA_Usua = 1001", false},
    {"1002", "INSERT INTO vorel.TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (1101, 'Nuevo', 'primera')", true},
    {"1002", "INSERT INTO vorel.TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) SELECT 1102, USUA_Paswd, 'x1234' "
             "FROM vorel.TUSUARIOS WHERE USUA_Usua = 1001", false},
    {"1002", "UPDATE vorel.TUSUARIOS SET USUA_Paswd = 'otra1234', USUA_eMail = (SELECT MAX(USUA_Paswd) FROM "
             "vorel.TUSUARIOS) WHERE USUA_Usua = 1001", false},
    // The logs are added to, never changed.
    {"1005", "DELETE FROM vorel.TLOGACCESOS", false},
    {"1002", "DELETE FROM vorel.TLOGACCESOS", false},
    {"1002", "UPDATE vorel.TEXCEPCION SET EXCE_Mensaje = 'x'", false},
    // The session's own row: only whom it acts for, only for those who may.
    {"1001", "UPDATE VOREL.RSESION SET SESI_USUADer= 1002", false},
    {"1002", "UPDATE VOREL.RSESION SET SESI_USUADer= 1001", false},
    {"1004", "UPDATE VOREL.RSESION SET SESI_Usua= 1002", false},
    {"1004", "UPDATE VOREL.RSESION SET SESI_USUADer= 1001 WHERE 1 = 1", false},
    {"1004", "DELETE FROM VOREL.RSESION", false},
    // The dictionary registry follows the catalog alone.
    {"1002", "DELETE FROM vorel.TDICTABLAS", false},
    // Drawing a number writes no table; writing with it is the write of its table.
    {"1005", "SELECT SQ_CLIENTES.NEXTVAL FROM DUAL", true},
    {"1001", "SELECT vorel.SQ_CLIENTES.NEXTVAL N, SQ_CLIENTES.CURRVAL C FROM DUAL", true},
    {"1001", "UPDATE vorel.TCLIENTES SET CLIE_Nombre = 'N' || SQ_CLIENTES.NEXTVAL WHERE CLIE_Cliente = 1", true},
    {"1006", "UPDATE vorel.TCLIENTES SET CLIE_Nombre = 'N' || SQ_CLIENTES.NEXTVAL WHERE CLIE_Cliente = 1", false},
    {"1001", "INSERT INTO vorel.TPROVINCIAS (PROV_Prov) SELECT SQ_CLIENTES.NEXTVAL FROM DUAL", false},
};

// PostgreSQL's own ways past the text: functions that run SQL given as
// text, change settings or signal other backends, and a whole row.
const char *const kPostgresOnly[] = {
    "SELECT * FROM ts_stat('SELECT to_tsvector(query) FROM pg_stat_activity')",
    "SELECT ts_rewrite('a'::tsquery, 'SELECT ''a''::tsquery, ''b''::tsquery') FROM dual",
    "SELECT set_config('statement_timeout', '0', false) FROM dual",
    "SELECT pg_terminate_backend(1) FROM dual",
    "SELECT query_to_xml('SELECT 1', true, true, '') FROM dual",
    "SELECT public.vorel_password_hash('x') FROM dual",
    "SELECT u FROM vorel.TUSUARIOS u",
    "SELECT to_json(u) FROM vorel.TUSUARIOS u",
};

} // namespace

class TstRights : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    TestDatabase m_db;

private Q_SLOTS:
    void initTestCase()
    {
        m_dir = makeTempDir();
        QVERIFY(m_dir);
        const QString script = m_dir->filePath(QStringLiteral("sequences.sql"));
        QFile f(script);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("CREATE SEQUENCE SQ_CLIENTES START WITH 500;\n") > 0);
        f.close();
        const QString why = m_db.create(true, {server::InitScript{script, true}});
        if (why.startsWith(QLatin1String("PostgreSQL not available")))
            QSKIP(qPrintable(why));
        QCOMPARE(why, QString());
    }

    void eachUserAndStatement()
    {
        const QString refused = QString::fromUtf8(server::ora::kNoPrivilege);
        std::map<QString, std::unique_ptr<server::Database>> sessions;
        for (const Case &c : kCases) {
            auto &session = sessions[QString::fromLatin1(c.user)];
            if (!session)
                session = m_db.open(QString::fromLatin1(c.user));
            session->begin();
            const Answer a = run(*session, QString::fromUtf8(c.sql));
            session->rollback();
            const QString what = QStringLiteral("%1: %2 -> %3").arg(c.user, c.sql, a.error);
            if (c.runs)
                QVERIFY2(a.error.isEmpty(), qPrintable(what));
            else
                QVERIFY2(a.error == refused, qPrintable(what));
        }
    }

    void postgresFunctionsOutsideTheList()
    {
        if (!onPostgres())
            QSKIP("PostgreSQL's own functions");
        auto session = m_db.open(QStringLiteral("1002"));
        for (const char *sql : kPostgresOnly)
            QCOMPARE(run(*session, QString::fromUtf8(sql)).error, QString::fromUtf8(server::ora::kNoPrivilege));
    }

    // Rights are read at the write, not at the login: a grant taken away
    // holds for sessions already open.
    void aGrantTakenAwayHoldsAtOnce()
    {
        auto admin = m_db.open(QStringLiteral("1002"));
        auto seller = m_db.open(QStringLiteral("1001"));
        const QString write = QStringLiteral("UPDATE vorel.TCLIENTES SET CLIE_Nombre = CLIE_Nombre WHERE CLIE_Cliente = 1");
        QCOMPARE(run(*seller, write).error, QString());
        QCOMPARE(run(*admin, QStringLiteral("UPDATE vorel.TCLAROL SET CLAR_Activo = 0 WHERE CLAR_Clase = 'CLIENTES'")).error,
                 QString());
        QCOMPARE(run(*seller, write).error, QString::fromUtf8(server::ora::kNoPrivilege));
        QCOMPARE(run(*admin, QStringLiteral("UPDATE vorel.TCLAROL SET CLAR_Activo = 1 WHERE CLAR_Clase = 'CLIENTES' "
                                            "AND CLAR_Rol <> 'COMPRAS'")).error,
                 QString());
        QCOMPARE(run(*seller, write).error, QString());
    }

    // A password set through the self-service statement is stored hashed,
    // and nobody reads it back.
    void ownPasswordIsHashedAndUnreadable()
    {
        auto self = m_db.open(QStringLiteral("1005"));
        QCOMPARE(run(*self, QStringLiteral("UPDATE Vorel.TUsuarios SET USUA_Paswd= 'otra1234' WHERE USUA_Usua= 1005")).error,
                 QString());
        // As the server checks a login: before the session takes its rights.
        QVERIFY(m_db.open()->checkUser(QStringLiteral("1005"), QStringLiteral("otra1234")));
        QCOMPARE(run(*self, QStringLiteral("SELECT USUA_Paswd FROM vorel.TUSUARIOS WHERE USUA_Usua = 1005")).error,
                 QString::fromUtf8(server::ora::kNoPrivilege));
    }
};

QTEST_GUILESS_MAIN(TstRights)
#include "tst_rights.moc"
