// The SQL console against the real server: CSV output, statements from the
// standard input, remote calls and failures.
#include "support/testserver.h"

#include <QProcess>
#include <QTest>

using namespace vorel::test;

class TstVorelSql : public QObject
{
    Q_OBJECT

private:
    TestServer m_server{TestServer::Options{false, {}, {}, {}}};

    struct Run {
        int status = -1;
        QString out;
        QString err;
    };

    Run run(const QStringList &extra, const QByteArray &input = {}, const QString &password = QStringLiteral("clave7"))
    {
        QProcess p;
        p.start(TestServer::sqlProgram(), QStringList{QStringLiteral("--host"), m_server.host(), QStringLiteral("--port"),
                                                      QString::number(m_server.port()), QStringLiteral("--user"),
                                                      QStringLiteral("7001"), QStringLiteral("--password"), password}
                                              + extra);
        Run r;
        if (!p.waitForStarted(10000))
            return r;
        p.write(input);
        p.closeWriteChannel();
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

private Q_SLOTS:
    void initTestCase()
    {
        VOREL_START(m_server);
        m_server.exec(QStringLiteral(
            "INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (7001, 'Prueba', 'clave7');"
            // 7001 administers: the tests write tables of their own making.
            "INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('PRUEBAS', 'Pruebas');"
            "INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (7001, 'PRUEBAS', 1);"
            "INSERT INTO TPARAMS (PARA_Param, PARA_Valor) VALUES ('MENINI', 'Hola, mundo');"
            "CREATE TABLE TPRUEBA (PRUE_Id NUMBER(8) PRIMARY KEY, PRUE_Texto VARCHAR2(40), PRUE_Fecha DATE,"
            " PRUE_Importe NUMBER(10,2));"
            "INSERT INTO TPRUEBA VALUES (1, 'uno', '2024-03-05 10:20:30', 12.5);"
            "INSERT INTO TPRUEBA VALUES (2, 'dos, \"citado\"', '2024-03-06', NULL);"
            "INSERT INTO TPRUEBA VALUES (3, 'tres\nlíneas', NULL, 3);"));
    }

    void selectPrintsCsv()
    {
        const Run r = run({QStringLiteral("SELECT PRUE_Id, PRUE_Texto Texto, PRUE_Fecha, PRUE_Importe "
                                          "FROM vorel.TPRUEBA ORDER BY PRUE_Id")});
        QCOMPARE(r.err, QString());
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("PRUE_Id,Texto,PRUE_Fecha,PRUE_Importe\n"
                                       "1,uno,05/03/2024 10:20:30,12.5\n"
                                       "2,\"dos, \"\"citado\"\"\",06/03/2024,\n"
                                       "3,\"tres\nlíneas\",,3\n"));
    }

    void serverErrorsGoToStderr()
    {
        Run r = run({QStringLiteral("SELECT 1 FROM dual")}, {}, QStringLiteral("mala"));
        QCOMPARE(r.status, 1);
        QCOMPARE(r.err, QStringLiteral("Usuario o contraseña incorrectos\n"));
        QCOMPARE(r.out, QString());

        r = run({QStringLiteral("--provider"), QStringLiteral("dspNada"), QStringLiteral("SELECT 1 FROM dual")});
        QCOMPARE(r.status, 1);
        QCOMPARE(r.err, QStringLiteral("Proveedor desconocido: dspNada\n"));
    }

    void statementsFromStdinRunInOneSession()
    {
        const Run r = run({}, "INSERT INTO vorel.TPRUEBA (PRUE_Id, PRUE_Texto)\n VALUES (10, 'a;b');\n"
                              "SELECT PRUE_Texto FROM vorel.TPRUEBA WHERE PRUE_Id = 10;\n"
                              "DELETE FROM vorel.TPRUEBA WHERE PRUE_Id = 3; SELECT count(*) N FROM vorel.TPRUEBA;\n"
                              "CREATE TABLE TOTRA (X NUMBER);\n"
                              "DELETE FROM vorel.TPRUEBA;\n");
        QCOMPARE(r.out, QStringLiteral("PRUE_Texto\na;b\nN\n3\n"));
        QCOMPARE(r.err, QStringLiteral("EjeDir solo ejecuta una sentencia INSERT, UPDATE o DELETE\n"));
        QCOMPARE(r.status, 1);
        // Everything before the failure stays done; nothing after it runs.
        QCOMPARE(m_server.query(TestServer::postgres()
                                    ? QStringLiteral("SELECT string_agg(PRUE_Id::text, ',' ORDER BY PRUE_Id) FROM TPRUEBA")
                                    : QStringLiteral("SELECT group_concat(PRUE_Id) FROM (SELECT PRUE_Id FROM TPRUEBA ORDER BY 1)")),
                 QList<QStringList>{{QStringLiteral("1,2,10")}});
    }

    void statementsFromStdinArriveAsWritten()
    {
        m_server.clearTrace();
        const QByteArray insert = "INSERT INTO vorel.TPRUEBA (PRUE_Id, PRUE_Texto)\r\n VALUES (20, 'a\r\nb;c\n-- no\r\n')";
        const QByteArray update = "UPDATE vorel.TPRUEBA SET PRUE_Texto = PRUE_Texto || 'z' -- fin;\r\n WHERE PRUE_Id = 20\r\n";
        // Notes before a SELECT must not send it to EjeDir, and notes after
        // the last ';' are no statement at all.
        const QByteArray select = "-- longitud\n/* de la fila */ SELECT length(PRUE_Texto) N FROM vorel.TPRUEBA WHERE PRUE_Id = 20\r\n";
        const Run r = run({}, "  \r\n" + insert + ";\r\n\t" + update + ";" + select + ";\n-- fin del guion\n");
        QCOMPARE(r.err, QString());
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("N\n15\n"));
        QStringList texts = m_server.texts();
        texts.removeFirst(); // Login
        QCOMPARE(texts, (QStringList{QStringLiteral("EjeDir|") + QString::fromUtf8(insert),
                                     QStringLiteral("EjeDir|") + QString::fromUtf8(update), QString::fromUtf8(select)}));
        QCOMPARE(m_server.query(TestServer::postgres()
                                    ? QStringLiteral("SELECT upper(encode(convert_to(PRUE_Texto, 'UTF8'), 'hex')) FROM TPRUEBA "
                                                     "WHERE PRUE_Id = 20")
                                    : QStringLiteral("SELECT hex(PRUE_Texto) FROM TPRUEBA WHERE PRUE_Id = 20")),
                 QList<QStringList>{{QString::fromLatin1(QByteArray("a\r\nb;c\n-- no\r\nz").toHex().toUpper())}});
        m_server.exec(QStringLiteral("DELETE FROM TPRUEBA WHERE PRUE_Id = 20"));
    }

    void stdinTextIsUtf8()
    {
        // Long enough to arrive in several pieces that cut characters in two.
        const QString word = QString(70001, QChar(0xF1));
        m_server.exec(QStringLiteral("CREATE TABLE TLARGO (LARG_Id NUMBER(8), LARG_Texto CLOB)"));
        const QByteArray script = "INSERT INTO vorel.TLARGO (LARG_Id, LARG_Texto) VALUES (21, '" + word.toUtf8() + "');";
        Run r = run({}, script);
        QCOMPARE(r.err, QString());
        QCOMPARE(r.status, 0);
        QCOMPARE(m_server.query(QStringLiteral("SELECT length(LARG_Texto), CASE WHEN LARG_Texto = '%1' THEN 1 ELSE 0 END "
                                               "FROM TLARGO WHERE LARG_Id = 21")
                                    .arg(word)),
                 (QList<QStringList>{{QStringLiteral("70001"), QStringLiteral("1")}}));
        m_server.exec(QStringLiteral("DROP TABLE TLARGO"));

        // Bytes that are no UTF-8 are refused, not sent altered.
        m_server.clearTrace();
        for (const QByteArray &bad : {QByteArray("UPDATE vorel.TPRUEBA SET PRUE_Texto = 'x\xff' WHERE PRUE_Id = 21;"),
                                      QByteArray("UPDATE vorel.TPRUEBA SET PRUE_Texto = 'x\xc3")}) {
            r = run({}, bad);
            QCOMPARE(r.status, 1);
            QCOMPARE(r.err, QStringLiteral("La entrada no es texto UTF-8 válido\n"));
        }
        for (const QString &t : m_server.texts())
            QVERIFY2(!t.contains(QLatin1String("UPDATE")), qPrintable(t));
        m_server.exec(QStringLiteral("DELETE FROM TPRUEBA WHERE PRUE_Id = 21"));
    }

    void callPrintsTheResult()
    {
        const Run r = run({QStringLiteral("--call"), QStringLiteral("MenIni")});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("Hola, mundo\n"));
        const Run bad = run({QStringLiteral("--call"), QStringLiteral("CommitTran")});
        QCOMPARE(bad.status, 1);
        QCOMPARE(bad.err, QStringLiteral("QUEMI: There is no active transaction\n"));
    }
};

QTEST_GUILESS_MAIN(TstVorelSql)
#include "tst_vorelsql.moc"
