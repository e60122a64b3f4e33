#include "runtimefixture.h"

#include "runtime/ferror.h"
#include "runtime/snvorel.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTimer>

using namespace vorel;
using namespace vorel::test;

namespace {
const QString CrLf = QStringLiteral("\r\n");

QString exceptionLog(const QString &quotedMessage)
{
    return QStringLiteral("EjeDir|INSERT INTO vorel.TEXCEPCION (EXCE_Mensaje, EXCE_Usua, EXCE_Fecha, EXCE_Cuso) SELECT ")
        + quotedMessage
        + QStringLiteral(", SESI_Usua, sysdate, CUSO_Cuso  FROM vorel.TCUSOS, vorel.RSESION WHERE CUSO_GUI= 'WIN32'   "
                         "And CUSO_Clase= 'TSTPROPIA'   And CUSO_Metodo= 'main' ");
}
} // namespace

class TstReportError : public QObject
{
    Q_OBJECT
    RuntimeFixture f;
    TSnVorel *gateway = nullptr;

    // Reports the failure of `sql` and gives the text the dialog opened with.
    QString report(const QString &sql)
    {
        const QString message = f.failureOf(sql);
        return reportMessage(message);
    }
    QString reportMessage(const QString &message)
    {
        f.dialogs.clear();
        f.server->clearTrace();
        gateway->ReportError(Exception(message), QStringLiteral("TSTPROPIA"), QStringLiteral("main"));
        if (f.dialogs.size() != 1)
            return QStringLiteral("<no dialog>");
        if (f.dialogs.first().at(2) != message)
            return QStringLiteral("<error text differs>");
        if (!gateway->WorkText.isEmpty())
            return QStringLiteral("<work text left>");
        return f.dialogs.first().first();
    }
    int exceptionRows()
    {
        return int(f.server->query(QStringLiteral("SELECT 1 FROM TEXCEPCION")).size());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(f.start());
        RuntimeFixture::setModule(QStringLiteral("nada"));
        gateway = new TSnVorel(f.connection.get(), nullptr, QStringLiteral("TSTROL"), QStringLiteral("TSTPROPIA"));
    }
    void cleanupTestCase() { f.stop(); }

    void uniqueConstraint()
    {
        const QString dup = QStringLiteral(
            "INSERT INTO vorel.TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (9101, 'Otra', 'clave')");
        const int logged = exceptionRows();
        QCOMPARE(report(dup), QStringLiteral("Código del usuario no puede ser Repetido"));
        QCOMPARE(f.server->texts(),
                 (QStringList{QStringLiteral("SELECT TABLE_Name, COLUMN_Name FROM ALL_CONS_Columns WHERE Position= 1 "
                                             "And CONSTRAINT_Name= 'PK_USUARIOS'"),
                              QStringLiteral("SELECT COMMENTS FROM ALL_COL_COMMENTS WHERE TABLE_Name= 'TUSUARIOS' And "
                                             "COLUMN_Name= 'USUA_USUA'")}));
        QCOMPARE(exceptionRows(), logged); // translated: not logged

        f.server->exec(QStringLiteral(
            "UPDATE TDICCOLUM SET DCOL_Coment = 'Número de usuario' WHERE DCOL_Tabla = 'TUSUARIOS' AND DCOL_Col = 'USUA_USUA'"));
        QCOMPARE(report(dup), QStringLiteral("Número de usuario no puede ser Repetido"));

        // No comment to show: the message as it came, and logged.
        f.server->exec(QStringLiteral(
            "UPDATE TDICCOLUM SET DCOL_Coment = NULL WHERE DCOL_Tabla = 'TUSUARIOS' AND DCOL_Col = 'USUA_USUA'"));
        const QString message = f.failureOf(dup);
        QCOMPARE(reportMessage(message), message);
        QCOMPARE(exceptionRows(), logged + 1);
    }

    void mandatoryColumn()
    {
        QCOMPARE(report(QStringLiteral("INSERT INTO vorel.TUSUARIOS (USUA_Usua, USUA_Paswd) VALUES (9300, 'clave')")),
                 QStringLiteral("Nombre del usuario no puede ser nulo"));
        QCOMPARE(f.server->texts(),
                 QStringList{QStringLiteral("SELECT comments ") + CrLf + QStringLiteral("FROM ALL_Col_Comments ") + CrLf
                             + QStringLiteral("WHERE TABLE_Name= 'TUSUARIOS' ") + CrLf
                             + QStringLiteral("  And COLUMN_Name= 'USUA_NOMBRE' ") + CrLf});
    }

    void checkConstraint()
    {
        f.server->exec(QStringLiteral("DELETE FROM TMENEXCEP WHERE MENE_Refer = 'CK_USUARIOS_PASWD'"));
        const QString shortPassword = QStringLiteral("UPDATE vorel.TUSUARIOS SET USUA_Paswd= 'ab' WHERE USUA_Usua= 9102");
        const QString message = f.failureOf(shortPassword);
        QVERIFY(message.startsWith(QStringLiteral("ORA-02290")));
        const int logged = exceptionRows();
        QCOMPARE(reportMessage(message), message);
        QCOMPARE(f.server->texts(),
                 (QStringList{QStringLiteral("SELECT MENE_Mensaje ") + CrLf + QStringLiteral("FROM vorel.TMENEXCEP ") + CrLf
                                  + QStringLiteral("WHERE MENE_Refer= 'CK_USUARIOS_PASWD' ") + CrLf,
                              exceptionLog(QLatin1Char('\'') + message + QLatin1Char('\''))}));
        const QList<QStringList> rows = f.server->query(
            QStringLiteral("SELECT EXCE_Mensaje, EXCE_Usua, EXCE_Cuso FROM TEXCEPCION ORDER BY rowid DESC LIMIT 1"));
        QCOMPARE(rows, (QList<QStringList>{{message, QStringLiteral("9101"), QStringLiteral("9001")}}));
        QCOMPARE(exceptionRows(), logged + 1);

        f.server->exec(QStringLiteral("INSERT INTO TMENEXCEP (MENE_Refer, MENE_Mensaje) VALUES "
                                      "('CK_USUARIOS_PASWD', 'La contraseña necesita 4 letras')"));
        QCOMPARE(report(shortPassword), QStringLiteral("La contraseña necesita 4 letras"));
        QCOMPARE(exceptionRows(), logged + 1);
    }

    void missingParent()
    {
        QCOMPARE(report(QStringLiteral(
                     "INSERT INTO vorel.TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (9999, 'TSTROL', 0)")),
                 QStringLiteral("No existe Registro padre para Usuario al que se concede el rol"));
        QCOMPARE(f.server->texts(),
                 (QStringList{QStringLiteral("SELECT TABLE_Name Tabla FROM ALL_Constraints WHERE "
                                             "Constraint_Name='FK_USUROL_USUARIOS'"),
                              QStringLiteral("SELECT COLUMN_Name Campo FROM ALL_CONS_Columns WHERE Position= 1 And "
                                             "CONSTRAINT_Name= 'FK_USUROL_USUARIOS'"),
                              QStringLiteral("SELECT COMMENTS FROM ALL_COL_Comments WHERE TABLE_Name= 'TUSUROL' And "
                                             "COLUMN_Name= 'USUR_USUA'")}));
    }

    void existingChildren()
    {
        const QString drop = QStringLiteral("DELETE FROM vorel.TROLES WHERE ROLE_Rol= 'TSTROL'");
        QCOMPARE(report(drop), QStringLiteral("Existen Registros hijos en Roles concedidos a los usuarios"));
        QCOMPARE(f.server->texts(),
                 QStringList{QStringLiteral("SELECT COMMENTS ") + CrLf + QStringLiteral("FROM ALL_TAB_COMMENTS ") + CrLf
                             + QStringLiteral("WHERE TABLE_NAME= ") + CrLf + QStringLiteral("(SELECT TABLE_NAME ") + CrLf
                             + QStringLiteral("FROM ALL_CONSTRAINTS ") + CrLf
                             + QStringLiteral("WHERE CONSTRAINT_NAME='FK_USUROL_ROLES') ") + CrLf});
        f.server->exec(QStringLiteral("UPDATE TDICTABLAS SET DTAB_Coment = 'Roles de usuario' WHERE DTAB_Tabla = 'TUSUROL'"));
        QCOMPARE(report(drop), QStringLiteral("Existe Registros hijos en Roles de usuario"));
    }

    void applicationError()
    {
        f.server->exec(QStringLiteral(
            "CREATE TRIGGER TRG_TST_APP BEFORE INSERT ON TPARAMS WHEN NEW.PARA_Param = 'TSTAPP' "
            "BEGIN SELECT RAISE(ABORT, 'ORA-20001: Saldo insuficiente\nORA-06512: en la línea 3'); END;"));
        const int logged = exceptionRows();
        QCOMPARE(report(QStringLiteral("INSERT INTO vorel.TPARAMS (PARA_Param) VALUES ('TSTAPP')")),
                 QStringLiteral(" Saldo insuficiente"));
        QVERIFY(f.server->texts().isEmpty());
        QCOMPARE(exceptionRows(), logged);
    }

    void notADatabaseError()
    {
        const int logged = exceptionRows();
        QCOMPARE(reportMessage(QStringLiteral("No se puede abrir 'x' (acceso)")),
                 QStringLiteral("No se puede abrir 'x' (acceso)"));
        QCOMPARE(f.server->texts(), QStringList{exceptionLog(QStringLiteral("'No se puede abrir ''x'' (acceso)'"))});
        QCOMPARE(exceptionRows(), logged + 1);
    }

    void quotesInTheReferenceStaySafe()
    {
        const QString message = QStringLiteral("ORA-00001: unique constraint (VOREL.PK_O'X) violated");
        QCOMPARE(reportMessage(message), message);
        QCOMPARE(f.server->texts().first(),
                 QStringLiteral("SELECT TABLE_Name, COLUMN_Name FROM ALL_CONS_Columns WHERE Position= 1 And "
                                "CONSTRAINT_Name= 'PK_O''X'"));
    }

    void dialogSwitchesTexts()
    {
        TFError dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Error"));
        QCOMPARE(dialog.size(), QSize(267, 160));
        QCOMPARE(dialog.MemoError->geometry(), QRect(8, 8, 251, 113));
        QCOMPARE(dialog.BMensaje->geometry(), QRect(8, 128, 75, 25));
        QCOMPARE(dialog.BError->geometry(), QRect(96, 128, 75, 25));
        QCOMPARE(dialog.BCerrar->geometry(), QRect(184, 128, 75, 25));
        QVERIFY(dialog.MemoError->isReadOnly());
        QCOMPARE(dialog.BMensaje->text(), QStringLiteral("Mensaje"));
        QCOMPARE(dialog.BError->text(), QStringLiteral("Error"));
        QCOMPARE(dialog.BCerrar->text(), QStringLiteral("Cerrar"));

        dialog.SetTexts(QStringLiteral("Para el usuario"), QStringLiteral("ORA-00001: bruto"));
        QCOMPARE(dialog.MemoError->toPlainText(), QStringLiteral("Para el usuario"));
        for (int i = 0; i < 2; ++i) {
            dialog.BError->click();
            QCOMPARE(dialog.MemoError->toPlainText(), QStringLiteral("ORA-00001: bruto"));
            dialog.BMensaje->click();
            QCOMPARE(dialog.MemoError->toPlainText(), QStringLiteral("Para el usuario"));
        }
    }

    void dialogRunsModallyWithFocusOnClose()
    {
        TFError::SetShowHook(nullptr);
        // The name, not the widget: the dialog is gone when it is compared.
        QString focused;
        QString shown;
        QStringList tabbing;
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *dialog = qobject_cast<TFError *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            poll.stop();
            focused = dialog->focusWidget() ? dialog->focusWidget()->objectName() : QString();
            shown = dialog->MemoError->toPlainText();
            // The tab key walks the buttons only, from "Cerrar" on.
            for (int i = 0; i < 3; ++i) {
                QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
                tabbing << dialog->focusWidget()->objectName();
            }
            dialog->BCerrar->click();
        });
        poll.start();
        const QString message = QStringLiteral("Fallo sin numero");
        f.server->clearTrace();
        gateway->ReportError(Exception(message), QStringLiteral("TSTPROPIA"), QStringLiteral("main"));
        QCOMPARE(shown, message);
        QCOMPARE(focused, QStringLiteral("BCerrar"));
        QCOMPARE(tabbing, (QStringList{QStringLiteral("BMensaje"), QStringLiteral("BError"), QStringLiteral("BCerrar")}));
    }
};

QTEST_MAIN(TstReportError)
#include "tst_reporterror.moc"
