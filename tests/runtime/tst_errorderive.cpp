#include "runtime/errorderive.h"

#include <QTest>

using namespace vorel::errors;

class TstErrorDerive : public QObject
{
    Q_OBJECT
private Q_SLOTS:
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
};

QTEST_APPLESS_MAIN(TstErrorDerive)
#include "tst_errorderive.moc"
