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

    // What the dictionary says is the translation's own test; here, what the
    // report does with it.
    void report_data()
    {
        QTest::addColumn<QString>("statement"); // run for its failure; else `message`
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("quoted"); // the message as the log's literal; empty: not logged
        QTest::newRow("translated")
            << "INSERT INTO vorel.TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (9101, 'Otra', 'clave')"
            << "" << "Código del usuario no puede ser Repetido" << "";
        QTest::newRow("translated without lookups") << "" << "ORA-20001: Saldo insuficiente\nORA-06512: x"
                                                    << " Saldo insuficiente" << "";
        QTest::newRow("lookup finds nothing") << "" << "ORA-02290: check constraint (VOREL.CK_NADA) violated"
                                              << "ORA-02290: check constraint (VOREL.CK_NADA) violated"
                                              << "'ORA-02290: check constraint (VOREL.CK_NADA) violated'";
        QTest::newRow("not a database error")
            << "" << "No se puede abrir 'x' (acceso)" << "No se puede abrir 'x' (acceso)"
            << "'No se puede abrir ''x'' (acceso)'";
    }
    void report()
    {
        QFETCH(QString, statement);
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QFETCH(QString, quoted);
        if (!statement.isEmpty())
            message = f.failureOf(statement);
        const int logged = exceptionRows();
        f.dialogs.clear();
        f.server->clearTrace();
        gateway->WorkText = QStringLiteral("de antes");
        gateway->ReportError(Exception(message), QStringLiteral("TSTPROPIA"), QStringLiteral("main"));

        QCOMPARE(f.dialogs.size(), 1);
        QCOMPARE(f.dialogs.first(), (QStringList{shown, shown, message}));
        QVERIFY(gateway->WorkText.isEmpty());
        const QStringList texts = f.server->texts();
        if (quoted.isEmpty()) {
            QCOMPARE(exceptionRows(), logged);
            for (const QString &text : texts)
                QVERIFY2(!text.startsWith(QStringLiteral("EjeDir|")), qPrintable(text));
            return;
        }
        // Logged after the lookups, with the user and use case of the session.
        QVERIFY(!texts.isEmpty());
        QCOMPARE(texts.last(), exceptionLog(quoted));
        QCOMPARE(exceptionRows(), logged + 1);
        const QList<QStringList> rows = f.server->query(
            QStringLiteral("SELECT EXCE_Mensaje, EXCE_Usua, EXCE_Cuso FROM TEXCEPCION ORDER BY rowid DESC LIMIT 1"));
        QCOMPARE(rows, (QList<QStringList>{{message, QStringLiteral("9101"), QStringLiteral("9001")}}));
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
