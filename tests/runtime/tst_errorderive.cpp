#include "runtimeserver.h"

#include "runtime/errorderive.h"

#include <QTest>

using namespace vorel::errors;
using namespace vorel::test;

namespace {
const QString CrLf = QStringLiteral("\r\n");
}

class TstErrorDerive : public QObject
{
    Q_OBJECT
    RuntimeServer f;

private Q_SLOTS:
    void initTestCase() { QVERIFY(f.start()); }
    void cleanupTestCase() { f.stop(); }

    void number_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("number");
        QTest::newRow("unique") << "ORA-00001: unique constraint (VOREL.PK_X) violated" << 1;
        QTest::newRow("application") << "ORA-20001: Saldo insuficiente\nORA-06512: at line 3" << 20001;
        QTest::newRow("first one counts") << "error\nORA-02291: a\nORA-00001: b" << 2291;
        QTest::newRow("no tag") << "Algo falló" << 0;
        QTest::newRow("lower case tag") << "ora-00001: x" << 0;
        QTest::newRow("short number") << "ORA-12" << 0;
        QTest::newRow("not digits") << "ORA-0A001: x" << 0;
    }
    void number()
    {
        QFETCH(QString, message);
        QFETCH(int, number);
        QCOMPARE(ErrorNumber(message), number);
    }

    void reference_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("reference");
        QTest::newRow("owner qualified") << "ORA-00001: unique constraint (VOREL.PK_USUARIOS) violated"
                                         << "PK_USUARIOS";
        QTest::newRow("quoted triple")
            << "ORA-01400: cannot insert NULL into (\"VOREL\".\"TUSUARIOS\".\"USUA_NOMBRE\")"
            << "TUSUARIOS.USUA_NOMBRE";
        QTest::newRow("bare name keeps quotes") << "ORA-02290: check (\"CK\") violated" << "\"CK\"";
        QTest::newRow("parenthesis before the tag ignored") << "(x.y) ORA-02290: check (VOREL.CK_A) violated"
                                                            << "CK_A";
        QTest::newRow("no parentheses") << "ORA-20001: nada" << "";
        QTest::newRow("unclosed") << "ORA-00001: (VOREL.PK" << "";
    }
    void reference()
    {
        QFETCH(QString, message);
        QFETCH(QString, reference);
        QCOMPARE(ConstraintReference(message), reference);
    }

    void commentLine_data()
    {
        QTest::addColumn<QString>("comment");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("count");
        QTest::newRow("one line") << "Correo electrónico" << "Correo electrónico" << 1;
        QTest::newRow("one line and a break") << "Correo\n" << "Correo" << 1;
        QTest::newRow("two lines") << "Usuario\nCódigo del usuario" << "Código del usuario" << 2;
        QTest::newRow("three lines, CR LF") << "A\r\nB\r\nC" << "B" << 3;
        QTest::newRow("empty") << "" << "" << 0;
        QTest::newRow("empty first line") << "\nSegunda" << "Segunda" << 2;
    }
    void commentLine()
    {
        QFETCH(QString, comment);
        QFETCH(QString, line);
        QFETCH(int, count);
        QCOMPARE(CommentLine(comment), line);
        QCOMPARE(CommentLineCount(comment), count);
    }

    void quoted()
    {
        QCOMPARE(Quoted(QStringLiteral("PK_X")), QStringLiteral("'PK_X'"));
        QCOMPARE(Quoted(QStringLiteral("O'Brien''s")), QStringLiteral("'O''Brien''''s'"));
        QCOMPARE(Quoted(QString()), QStringLiteral("''"));
    }

    void applicationLine_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("line");
        QTest::newRow("with further lines") << "ORA-20001: Saldo insuficiente\nORA-06512: at line 3"
                                            << " Saldo insuficiente";
        QTest::newRow("CR LF") << "ORA-20001: Uno\r\nDos" << " Uno";
        QTest::newRow("text before the tag") << "Fallo: ORA-20001:X" << "X";
        QTest::newRow("nothing after the colon") << "ORA-20001:" << "";
    }
    void applicationLine()
    {
        QFETCH(QString, message);
        QFETCH(QString, line);
        QCOMPARE(ApplicationErrorLine(message), line);
    }

    // Rows run in order on one database: a row's `setup` stays for the next.
    void translate_data()
    {
        QTest::addColumn<QString>("setup");
        // The failure comes from running `statement`, or is `message` itself.
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("translation");
        QTest::addColumn<QStringList>("texts");

        const QString duplicate = QStringLiteral(
            "INSERT INTO vorel.TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (9101, 'Otra', 'clave')");
        const QStringList duplicateLookups{
            QStringLiteral("SELECT TABLE_Name, COLUMN_Name FROM ALL_CONS_Columns WHERE Position= 1 And "
                           "CONSTRAINT_Name= 'PK_USUARIOS'"),
            QStringLiteral("SELECT COMMENTS FROM ALL_COL_COMMENTS WHERE TABLE_Name= 'TUSUARIOS' And "
                           "COLUMN_Name= 'USUA_USUA'")};
        QTest::newRow("unique key") << "" << duplicate << "" << "Código del usuario no puede ser Repetido"
                                    << duplicateLookups;
        QTest::newRow("unique key, comment changed")
            << "UPDATE TDICCOLUM SET DCOL_Coment = 'Número de usuario' WHERE DCOL_Tabla = 'TUSUARIOS' AND "
               "DCOL_Col = 'USUA_USUA'"
            << duplicate << "" << "Número de usuario no puede ser Repetido" << duplicateLookups;
        QTest::newRow("unique key without comment")
            << "UPDATE TDICCOLUM SET DCOL_Coment = NULL WHERE DCOL_Tabla = 'TUSUARIOS' AND DCOL_Col = 'USUA_USUA'"
            << duplicate << "" << "" << duplicateLookups;
        QTest::newRow("quotes in the reference")
            << "" << "" << "ORA-00001: unique constraint (VOREL.PK_O'X) violated" << ""
            << QStringList{QStringLiteral("SELECT TABLE_Name, COLUMN_Name FROM ALL_CONS_Columns WHERE Position= 1 "
                                          "And CONSTRAINT_Name= 'PK_O''X'"),
                           QStringLiteral("SELECT COMMENTS FROM ALL_COL_COMMENTS WHERE TABLE_Name= '' And "
                                          "COLUMN_Name= ''")};

        QTest::newRow("mandatory column")
            << "" << "INSERT INTO vorel.TUSUARIOS (USUA_Usua, USUA_Paswd) VALUES (9300, 'clave')" << ""
            << "Nombre del usuario no puede ser nulo"
            << QStringList{QStringLiteral("SELECT comments ") + CrLf + QStringLiteral("FROM ALL_Col_Comments ") + CrLf
                           + QStringLiteral("WHERE TABLE_Name= 'TUSUARIOS' ") + CrLf
                           + QStringLiteral("  And COLUMN_Name= 'USUA_NOMBRE' ") + CrLf};

        const QString shortPassword =
            QStringLiteral("UPDATE vorel.TUSUARIOS SET USUA_Paswd= 'ab' WHERE USUA_Usua= 9102");
        const QStringList checkLookup{QStringLiteral("SELECT MENE_Mensaje ") + CrLf
                                      + QStringLiteral("FROM vorel.TMENEXCEP ") + CrLf
                                      + QStringLiteral("WHERE MENE_Refer= 'CK_USUARIOS_PASWD' ") + CrLf};
        QTest::newRow("check without message")
            << "DELETE FROM TMENEXCEP WHERE MENE_Refer = 'CK_USUARIOS_PASWD'" << shortPassword << "" << ""
            << checkLookup;
        QTest::newRow("check with message")
            << "INSERT INTO TMENEXCEP (MENE_Refer, MENE_Mensaje) VALUES ('CK_USUARIOS_PASWD', "
               "'La contraseña necesita 4 letras')"
            << shortPassword << "" << "La contraseña necesita 4 letras" << checkLookup;

        QTest::newRow("missing parent")
            << "" << "INSERT INTO vorel.TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (9999, 'TSTROL', 0)" << ""
            << "No existe Registro padre para Usuario al que se concede el rol"
            << QStringList{QStringLiteral("SELECT TABLE_Name Tabla FROM ALL_Constraints WHERE "
                                          "Constraint_Name='FK_USUROL_USUARIOS'"),
                           QStringLiteral("SELECT COLUMN_Name Campo FROM ALL_CONS_Columns WHERE Position= 1 And "
                                          "CONSTRAINT_Name= 'FK_USUROL_USUARIOS'"),
                           QStringLiteral("SELECT COMMENTS FROM ALL_COL_Comments WHERE TABLE_Name= 'TUSUROL' And "
                                          "COLUMN_Name= 'USUR_USUA'")};

        const QString dropRole = QStringLiteral("DELETE FROM vorel.TROLES WHERE ROLE_Rol= 'TSTROL'");
        const QStringList childLookup{QStringLiteral("SELECT COMMENTS ") + CrLf
                                      + QStringLiteral("FROM ALL_TAB_COMMENTS ") + CrLf
                                      + QStringLiteral("WHERE TABLE_NAME= ") + CrLf
                                      + QStringLiteral("(SELECT TABLE_NAME ") + CrLf
                                      + QStringLiteral("FROM ALL_CONSTRAINTS ") + CrLf
                                      + QStringLiteral("WHERE CONSTRAINT_NAME='FK_USUROL_ROLES') ") + CrLf};
        QTest::newRow("children, two-line comment")
            << "" << dropRole << "" << "Existen Registros hijos en Roles concedidos a los usuarios" << childLookup;
        QTest::newRow("children, one-line comment")
            << "UPDATE TDICTABLAS SET DTAB_Coment = 'Roles de usuario' WHERE DTAB_Tabla = 'TUSUROL'" << dropRole
            << "" << "Existe Registros hijos en Roles de usuario" << childLookup;

        QTest::newRow("application error")
            << "CREATE TRIGGER TRG_TST_APP BEFORE INSERT ON TPARAMS WHEN NEW.PARA_Param = 'TSTAPP' "
               "BEGIN SELECT RAISE(ABORT, 'ORA-20001: Saldo insuficiente\nORA-06512: en la línea 3'); END;"
            << "INSERT INTO vorel.TPARAMS (PARA_Param) VALUES ('TSTAPP')" << "" << " Saldo insuficiente"
            << QStringList();
        QTest::newRow("application error, blank text") << "" << "" << "ORA-20001: \nORA-06512: x" << ""
                                                       << QStringList();
        QTest::newRow("not a database error") << "" << "" << "No se puede abrir 'x' (acceso)" << ""
                                              << QStringList();
    }
    void translate()
    {
        QFETCH(QString, setup);
        QFETCH(QString, statement);
        QFETCH(QString, message);
        QFETCH(QString, translation);
        QFETCH(QStringList, texts);
        if (!setup.isEmpty())
            f.server->exec(setup);
        if (!statement.isEmpty()) {
            message = f.failureOf(statement);
            QVERIFY(message.startsWith(QStringLiteral("ORA-")));
        }
        f.server->clearTrace();
        QCOMPARE(Translate(message, f.connection.get()), translation);
        QCOMPARE(f.server->texts(), texts);
    }
};

QTEST_GUILESS_MAIN(TstErrorDerive)
#include "tst_errorderive.moc"
