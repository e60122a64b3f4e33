// The console against a served demo database: the role menu, the method menu
// (an outer join written with the (+) marker) and the button list (DECODE)
// answer with the rows Oracle gives for the same texts.
#include "support/testserver.h"

#include <QProcess>
#include <QTest>

using namespace vorel::test;

class TstDemoQueries : public QObject
{
    Q_OBJECT

    TestServer m_server;

    QStringList csv(const QString &user, const QString &sql)
    {
        QProcess p;
        p.start(TestServer::sqlProgram(),
                {QStringLiteral("--host"), m_server.host(), QStringLiteral("--port"), QString::number(m_server.port()),
                 QStringLiteral("--user"), user, QStringLiteral("--password"), QStringLiteral("clave"),
                 QStringLiteral("--database"), QStringLiteral("DEMO"), sql});
        if (!p.waitForFinished(60000))
            return {QStringLiteral("timeout")};
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (p.exitCode() != 0)
            return {QStringLiteral("error: ") + err};
        QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

    static QString lines(const QStringList &l)
    {
        QString t;
        for (const QString &s : l)
            t += s + QLatin1String("\r\n");
        return t;
    }

private Q_SLOTS:
    void initTestCase()
    {
        VOREL_START(m_server);
    }

    void roleMenuOfAUser()
    {
        const QString sql = lines(
            {QStringLiteral("SELECT "),
             QStringLiteral(" ROLE_Rol, ROLE_Etiq, CLAR_Clase, NVL(CLAR_Etiq, CLAS_Etiq) CLAR_Etiq "),
             QStringLiteral("FROM vorel.TROLES, Vorel.TUSUROL, Vorel.TCLAROL, Vorel.TCLASES "),
             QStringLiteral("WHERE USUR_Usua= 1002"), QStringLiteral("  And USUR_Admin <> 2"),
             QStringLiteral("  And USUR_Rol= ROLE_Rol "), QStringLiteral("  And CLAR_Rol= ROLE_Rol "),
             QStringLiteral("  And CLAR_Activo= 1 "), QStringLiteral("  And CLAR_Menu= 1 "),
             QStringLiteral("  And CLAS_Clase= CLAR_Clase "),
             QStringLiteral("  And EXISTS (SELECT CUSO_Clase FROM vorel.TCUSOS WHERE CUSO_GUI= 'WIN32' And "
                            "CUSO_Clase= CLAR_Clase And CUSO_Activo= 1) "),
             QStringLiteral("ORDER BY ROLE_Rol ")});
        QStringList rows = csv(QStringLiteral("1002"), sql);
        QVERIFY2(!rows.isEmpty() && rows.first() == QLatin1String("ROLE_Rol,ROLE_Etiq,CLAR_Clase,CLAR_Etiq"),
                 qPrintable(rows.join(QLatin1Char('\n'))));
        rows.removeFirst();
        // Oracle orders by role only: compare each role's rows as a set, the
        // roles in order. NVL falls back to the class label where the role's
        // is NULL; TARIFAS (no active WIN32 use case) and LINEAS (not in the
        // menu) never show.
        const QStringList admin = rows.mid(0, 7), ventas = rows.mid(7);
        QStringList expectAdmin{QStringLiteral("ADMIN,Administración,USUROL,Usuarios y roles"),
                                QStringLiteral("ADMIN,Administración,USUARIOS,Usuarios"),
                                QStringLiteral("ADMIN,Administración,CLIENTES,Clientes"),
                                QStringLiteral("ADMIN,Administración,PEDIDOS,Pedidos"),
                                QStringLiteral("ADMIN,Administración,FACTURAS,Facturas"),
                                QStringLiteral("ADMIN,Administración,PRODUCTOS,Productos"),
                                QStringLiteral("ADMIN,Administración,FAMILIAS,Familias de productos")};
        QStringList expectVentas{QStringLiteral("VENTAS,Ventas,CLIENTES,Clientes"),
                                 QStringLiteral("VENTAS,Ventas,PEDIDOS,Pedidos de venta"),
                                 QStringLiteral("VENTAS,Ventas,FACTURAS,Facturas"),
                                 QStringLiteral("VENTAS,Ventas,PRODUCTOS,Catálogo")};
        auto sorted = [](QStringList l) { l.sort(); return l; };
        QCOMPARE(sorted(admin), sorted(expectAdmin));
        QCOMPARE(sorted(ventas), sorted(expectVentas));
    }

    void methodMenuWithOuterJoin()
    {
        const QString sql = lines(
            {QStringLiteral("SELECT "), QStringLiteral(" METO_Metodo Metodo, "), QStringLiteral(" METO_Ejec Ejec, "),
             QStringLiteral(" METO_Boton Boton, "), QStringLiteral(" BOTO_HotKey HKey, "),
             QStringLiteral(" NVL(METR_Etiq, METO_Etiq) Etiq, "), QStringLiteral(" METO_Externo Externo "),
             QStringLiteral("FROM vorel.TMETODS, vorel.TMETROL, vorel.TBOTONES "),
             QStringLiteral("WHERE METO_Clase= 'CLIENTES' "), QStringLiteral("  And METO_Activo= 1 "),
             QStringLiteral("  And METO_Padre = 'main'"), QStringLiteral("  And METO_Visib = 1 "),
             QStringLiteral("  And METR_Clase= METO_Clase "), QStringLiteral("  And METR_Metodo= METO_Metodo "),
             QStringLiteral("  And METR_Rol= 'VENTAS' "), QStringLiteral("  And METR_Activo= 1 "),
             QStringLiteral("  And BOTO_Boton(+)= METO_Boton "), QStringLiteral("  And METO_Metodo not in "),
             QStringLiteral(" ( SELECT XUSU_Metodo "), QStringLiteral("   FROM vorel.TXUSUROL, vorel.RSESION "),
             QStringLiteral("   WHERE XUSU_Usua= SESI_Usua "), QStringLiteral("     And XUSU_Clase= 'CLIENTES' "),
             QStringLiteral("     And XUSU_Rol= 'VENTAS') "), QStringLiteral("ORDER BY METO_Boton DESC ")});
        // 1001 has BORRAR taken away; HISTORICO has no button (NULL first in
        // a descending order); ETIQUETAS' button -1 has no TBOTONES row and
        // still shows through the outer join.
        QCOMPARE(csv(QStringLiteral("1001"), sql),
                 (QStringList{QStringLiteral("Metodo,Ejec,Boton,HKey,Etiq,Externo"),
                              QStringLiteral("HISTORICO,CliHistorico,,,Histórico de ventas,0"),
                              QStringLiteral("CORREO,CliCorreo,22,Ctrl+E,Enviar correo,1"),
                              QStringLiteral("NUEVO,CliNuevo,15,Ctrl+N,Nuevo cliente,0"),
                              QStringLiteral("IMPRIMIR,,11,Ctrl+P,Imprimir ficha,0"),
                              QStringLiteral("EDITAR,CliEditar,2,F2,Modificar cliente,0"),
                              QStringLiteral("ETIQUETAS,,-1,,Etiquetas de envío,0")}));
        // Another user keeps BORRAR.
        QVERIFY(csv(QStringLiteral("1002"), sql).contains(QStringLiteral("BORRAR,CliBorrar,3,Ctrl+Del,Eliminar cliente,0")));
    }

    void buttonListPadsBelowTen()
    {
        const QStringList rows = csv(QStringLiteral("1001"),
                                     QStringLiteral("SELECT BOTO_Boton Boton, DECODE( SIGN(BOTO_Boton-10), -1, "
                                                    "'0','')||BOTO_Boton Cade FROM vorel.TBOTONES"));
        QVERIFY(rows.size() > 41);
        QCOMPARE(rows.first(), QStringLiteral("Boton,Cade"));
        QStringList expected{QStringLiteral("Boton,Cade")};
        for (int i = 0; i < rows.size() - 1; ++i)
            expected << QStringLiteral("%1,%2").arg(i).arg(i, 2, 10, QLatin1Char('0'));
        QStringList got = rows;
        std::sort(got.begin() + 1, got.end(), [](const QString &a, const QString &b) {
            return a.section(QLatin1Char(','), 0, 0).toInt() < b.section(QLatin1Char(','), 0, 0).toInt();
        });
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(TstDemoQueries)
#include "tst_demoqueries.moc"
