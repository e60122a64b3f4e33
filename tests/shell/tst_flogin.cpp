#include "shell/flogin.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

using vorel::shell::TFLogin;

class TstFLogin : public QObject
{
    Q_OBJECT

    // Shows the dialog modally and runs `act` once it is up.
    static int run(TFLogin &d, const std::function<void()> &act)
    {
        QTimer::singleShot(0, &d, [&] {
            QTRY_VERIFY(d.isVisible());
            act();
        });
        return d.exec();
    }

private Q_SLOTS:
    void layoutAndTexts()
    {
        TFLogin d;
        QCOMPARE(d.windowTitle(), QStringLiteral("Login"));
        QCOMPARE(d.size(), QSize(319, 143));
        QCOMPARE(d.minimumSize(), d.maximumSize());
        QCOMPARE(d.PagCon->currentWidget(), d.TabEntra);
        QCOMPARE(d.bDBase->text(), QStringLiteral(">>"));
        QCOMPARE(d.bLogin->text(), QStringLiteral("<<"));
        QCOMPARE(d.bDBase->toolTip(), QStringLiteral("Datos de Conexión"));
        QCOMPARE(d.bLogin->toolTip(), QStringLiteral("Datos de Conexión"));
        QCOMPARE(d.bEntra->text(), QStringLiteral("Entrar"));
        QVERIFY(d.bEntra->isDefault());
        QCOMPARE(d.lPaswd->echoMode(), QLineEdit::Password);
        QCOMPARE(d.PagCon->focusPolicy(), Qt::NoFocus);
        QCOMPARE(d.lLogin->nextInFocusChain(), d.lPaswd);
        QCOMPARE(d.lPaswd->nextInFocusChain(), d.bEntra);
        QCOMPARE(d.ldBase->nextInFocusChain(), d.lAddrs);
        QCOMPARE(d.lAddrs->nextInFocusChain(), d.LPort);
    }

    void enterAcceptsFromEveryEdit_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<bool>("dataPage");
        QTest::addColumn<int>("key");
        for (const char *e : {"lLogin", "lPaswd"}) {
            QTest::newRow(e) << QString::fromLatin1(e) << false << int(Qt::Key_Return);
        }
        for (const char *e : {"ldBase", "lAddrs", "LPort"}) {
            QTest::newRow(e) << QString::fromLatin1(e) << true << int(Qt::Key_Return);
        }
        QTest::newRow("keypad enter") << QStringLiteral("LPort") << true << int(Qt::Key_Enter);
    }
    void enterAcceptsFromEveryEdit()
    {
        QFETCH(QString, edit);
        QFETCH(bool, dataPage);
        QFETCH(int, key);
        TFLogin d;
        const int r = run(d, [&] {
            if (dataPage)
                d.bDBase->click();
            auto *w = d.findChild<QLineEdit *>(edit);
            QVERIFY(w);
            w->setFocus();
            QTest::keyClick(w, Qt::Key(key));
        });
        QCOMPARE(r, int(QDialog::Accepted));
    }

    void escapeCancelsFromEitherPage()
    {
        for (bool dataPage : {false, true}) {
            TFLogin d;
            const int r = run(d, [&] {
                if (dataPage)
                    d.bDBase->click();
                QWidget *w = dataPage ? static_cast<QWidget *>(d.LPort) : d.lPaswd;
                w->setFocus();
                QTest::keyClick(w, Qt::Key_Escape);
            });
            QCOMPARE(r, int(QDialog::Rejected));
        }
    }

    void closeButtonCancels()
    {
        TFLogin d;
        QCOMPARE(run(d, [&] { d.close(); }), int(QDialog::Rejected));
    }

    void pagesKeepTextsAndTheLastPageComesBack()
    {
        TFLogin d;
        const int r = run(d, [&] {
            QTest::keyClicks(d.lLogin, QStringLiteral("1001"));
            QTest::keyClicks(d.lPaswd, QStringLiteral("clave"));
            d.bDBase->click();
            QCOMPARE(d.PagCon->currentWidget(), d.TabDatos);
            QTest::keyClicks(d.ldBase, QStringLiteral("DEMO"));
            d.bLogin->click();
            QCOMPARE(d.PagCon->currentWidget(), d.TabEntra);
            d.bDBase->click();
            QTest::keyClick(d.ldBase, Qt::Key_Return);
        });
        QCOMPARE(r, int(QDialog::Accepted));
        QCOMPARE(d.lLogin->text(), QStringLiteral("1001"));
        QCOMPARE(d.lPaswd->text(), QStringLiteral("clave"));
        QCOMPARE(d.ldBase->text(), QStringLiteral("DEMO"));
        // Shown again: the data page the user left is still up.
        const int again = run(d, [&] {
            QCOMPARE(d.PagCon->currentWidget(), d.TabDatos);
            d.bLogin->click();
            d.bEntra->click();
        });
        QCOMPARE(again, int(QDialog::Accepted));
    }
};

QTEST_MAIN(TstFLogin)
#include "tst_flogin.moc"
