#include "runtime/runtimefixture.h"

#include "data/dataset.h"
#include "runtime/exports.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QDir>
#include <QTemporaryDir>
#include <QDialog>
#include <QFocusEvent>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>

using namespace vorel;
using namespace vorel::test;

class TstAccount : public QObject
{
    Q_OBJECT
    RuntimeFixture f;
    QLibrary cambia{QStringLiteral(VOREL_BIN_DIR "/libCambia.so")};
    TAccountMainFn accountMain = nullptr;
    TCreaObjFn creaObj = nullptr;

    // Runs main(mode) while `user` plays the dialog: called with the dialog
    // each time the test loop finds it open, until it returns true.
    QString runMain(qint32 mode, const std::function<bool(QDialog &)> &user)
    {
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (dialog && user(*dialog))
                poll.stop();
        });
        poll.start();
        QString newUser = QStringLiteral("antes");
        accountMain(QStringLiteral("9101"), mode, f.connection.get(), newUser);
        return newUser;
    }
    static QLineEdit *edit(QDialog &d, const char *name) { return d.findChild<QLineEdit *>(QLatin1String(name)); }
    static QLabel *label(QDialog &d, const char *name) { return d.findChild<QLabel *>(QLatin1String(name)); }
    static void click(QDialog &d, const char *name) { d.findChild<QPushButton *>(QLatin1String(name))->click(); }
    QStringList boxTexts() const
    {
        QStringList out;
        for (const Box &b : f.boxes)
            out << QString::number(int(b.kind)) + QLatin1Char(':') + b.text;
        return out;
    }
    static QString done() { return QStringLiteral("0:Cambio efectuado"); }
    static QString error(const QString &text) { return QStringLiteral("2:") + text; }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(cambia.load(), qPrintable(cambia.errorString()));
        accountMain = reinterpret_cast<TAccountMainFn>(cambia.resolve("main"));
        creaObj = reinterpret_cast<TCreaObjFn>(cambia.resolve("creaObj"));
        QVERIFY(accountMain && creaObj);
        QVERIFY(f.start());
    }
    void cleanupTestCase() { f.stop(); }
    void init()
    {
        f.boxes.clear();
        f.server->clearTrace();
    }

    void passwordConfirmed()
    {
        QString caption, user;
        bool hidden = false;
        const QString result = runMain(0, [&](QDialog &d) {
            caption = d.windowTitle();
            user = label(d, "LUser")->text();
            edit(d, "paswd")->setText(QStringLiteral("nu'eva"));
            edit(d, "confirma")->setText(QStringLiteral("nu'eva"));
            hidden = edit(d, "paswd")->echoMode() == QLineEdit::Password
                && edit(d, "confirma")->echoMode() == QLineEdit::Password;
            click(d, "btnOk");
            return true;
        });
        QCOMPARE(result, QString());
        QCOMPARE(caption, QStringLiteral("Cambia Contraseña"));
        QVERIFY(hidden);
        QCOMPARE(user, QStringLiteral("Ana Ruiz 9101"));
        QCOMPARE(boxTexts(), QStringList{done()});
        QCOMPARE(f.server->texts(),
                 (QStringList{QStringLiteral("SELECT USUA_Nombre NOMBRE, USUA_eMail email FROM Vorel.TUSUARIOS WHERE "
                                             "USUA_Usua= 9101"),
                              QStringLiteral("EjeDir|UPDATE Vorel.TUsuarios SET USUA_Paswd= 'nu''eva' WHERE USUA_Usua= 9101")}));
        // The server keeps a salted hash of it, never the text.
        const QString kept =
            f.server->query(QStringLiteral("SELECT USUA_Paswd FROM TUSUARIOS WHERE USUA_Usua = 9101")).value(0).value(0);
        QVERIFY2(kept.startsWith(QStringLiteral("$pbkdf2-sha256$")) && !kept.contains(QStringLiteral("nu'eva")),
                 qPrintable(kept));
        vorel::TSocketConnection check;
        check.SetHost(f.server->host());
        check.SetPort(f.server->port());
        check.Open();
        check.Call(QStringLiteral("Login"), {QStringLiteral("9101"), QStringLiteral("nu'eva"), QStringLiteral("DEMO"),
                                             QStringLiteral("127.0.0.1")});
        f.server->exec(QStringLiteral("UPDATE TUSUARIOS SET USUA_Paswd = 'clave' WHERE USUA_Usua = 9101"));
    }

    void passwordMismatchKeepsTheDialog()
    {
        int step = 0;
        bool stillOpen = false;
        const QString result = runMain(0, [&](QDialog &d) {
            if (step++ == 0) {
                edit(d, "paswd")->setText(QStringLiteral("Secreto"));
                edit(d, "confirma")->setText(QStringLiteral("secreto"));
                click(d, "btnOk");
                return false;
            }
            stillOpen = d.isVisible() && edit(d, "paswd")->text() == QStringLiteral("Secreto");
            click(d, "btnCancel");
            return true;
        });
        QVERIFY(stillOpen);
        QCOMPARE(result, QString());
        QCOMPARE(boxTexts(), QStringList{error(QStringLiteral("No coinciden Pasword y confirmación"))});
        QCOMPARE(f.server->texts().size(), 1); // the lookup only
    }

    void emptyPasswordIsSentAsTyped()
    {
        int step = 0;
        runMain(0, [&](QDialog &d) {
            if (step++ == 0) {
                click(d, "btnOk");
                return false;
            }
            click(d, "btnCancel");
            return true;
        });
        QVERIFY(f.server->texts().contains(
            QStringLiteral("EjeDir|UPDATE Vorel.TUsuarios SET USUA_Paswd= '' WHERE USUA_Usua= 9101")));
        // Whatever the server made of it, the dialog said so once.
        QCOMPARE(f.boxes.size(), 1);
    }

    void emailLowerCased()
    {
        QString old;
        const QString result = runMain(1, [&](QDialog &d) {
            old = edit(d, "oldEmail")->text();
            QLineEdit *typed = edit(d, "newEmail");
            typed->setFocus();
            QTest::keyClicks(typed, QStringLiteral("Nuevo.O'Hara@X.es"));
            click(d, "btnOk");
            return true;
        });
        QCOMPARE(result, QString());
        QCOMPARE(old, QStringLiteral("ana@correo.es"));
        QCOMPARE(boxTexts(), QStringList{done()});
        QCOMPARE(f.server->texts().last(),
                 QStringLiteral("EjeDir|UPDATE Vorel.TUsuarios SET USUA_eMail= 'nuevo.o''hara@x.es' WHERE USUA_Usua= 9101"));
        QCOMPARE(f.server->query(QStringLiteral("SELECT USUA_eMail FROM TUSUARIOS WHERE USUA_Usua = 9101")),
                 (QList<QStringList>{{QStringLiteral("nuevo.o'hara@x.es")}}));
    }

    void emailLowerCasedWhateverTheWay()
    {
        QStringList seen;
        runMain(1, [&](QDialog &d) {
            QLineEdit *field = edit(d, "newEmail");
            field->setFocus();
            field->setText(QStringLiteral("Ana.SET@X.ES"));
            seen << field->text();
            field->clear();
            QApplication::clipboard()->setText(QStringLiteral("Pegado@X.ES"));
            field->paste();
            seen << field->text();
            field->insert(QStringLiteral("-INSERTADO"));
            seen << field->text();
            QInputMethodEvent compose;
            compose.setCommitString(QStringLiteral("ÑANDÚ"));
            QApplication::sendEvent(field, &compose);
            seen << field->text();
            if (QAccessibleInterface *a = QAccessible::queryAccessibleInterface(field)) {
                if (QAccessibleEditableTextInterface *e = a->editableTextInterface()) {
                    e->insertText(0, QStringLiteral("LECTOR."));
                    seen << field->text();
                }
            }
            // Typing still works, and the cursor stays where the user is.
            field->setText(QStringLiteral("AB"));
            field->setCursorPosition(1);
            QTest::keyClicks(field, QStringLiteral("X"));
            seen << field->text() + QLatin1Char('@') + QString::number(field->cursorPosition());
            field->setText(QStringLiteral("FINAL@X.ES"));
            click(d, "btnOk");
            return true;
        });
        QCOMPARE(seen, (QStringList{QStringLiteral("ana.set@x.es"), QStringLiteral("pegado@x.es"),
                                    QStringLiteral("pegado@x.es-insertado"), QStringLiteral("pegado@x.es-insertadoñandú"),
                                    QStringLiteral("lector.pegado@x.es-insertadoñandú"), QStringLiteral("axb@2")}));
        QCOMPARE(f.server->texts().last(),
                 QStringLiteral("EjeDir|UPDATE Vorel.TUsuarios SET USUA_eMail= 'final@x.es' WHERE USUA_Usua= 9101"));
    }

    void namesShownAsStored()
    {
        // Names are the database's; one that looks like markup is no markup.
        const QString name = QStringLiteral("<b>Ana</b> & <i>Ruiz");
        f.server->exec(QStringLiteral("UPDATE TUSUARIOS SET USUA_Nombre = '<b>Ana</b> & <i>Ruiz' WHERE USUA_Usua = 9101;"
                                      "UPDATE TUSUARIOS SET USUA_Nombre = '<u>Gil</u>' WHERE USUA_Usua = 9102"));
        QStringList shown;
        for (qint32 mode = 0; mode < 3; ++mode) {
            runMain(mode, [&](QDialog &d) {
                QLabel *user = label(d, "LUser");
                shown << QString::number(int(user->textFormat())) + QLatin1Char('|') + user->text();
                if (mode == 2) {
                    QLineEdit *number = edit(d, "nUsua");
                    number->setText(QStringLiteral("9102"));
                    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
                    QApplication::sendEvent(number, &out);
                    QLabel *other = label(d, "lUsua");
                    shown << QString::number(int(other->textFormat())) + QLatin1Char('|') + other->text();
                }
                click(d, "btnCancel");
                return true;
            });
        }
        f.server->exec(QStringLiteral("UPDATE TUSUARIOS SET USUA_Nombre = 'Ana Ruiz' WHERE USUA_Usua = 9101;"
                                      "UPDATE TUSUARIOS SET USUA_Nombre = 'A.B. Gil' WHERE USUA_Usua = 9102"));
        const QString plain = QString::number(int(Qt::PlainText)) + QLatin1Char('|');
        QCOMPARE(shown, (QStringList{plain + name + QStringLiteral(" 9101"), plain + name + QStringLiteral(" 9101"),
                                     plain + name, plain + QStringLiteral("<u>Gil</u>")}));
        QVERIFY(f.boxes.isEmpty());
    }

    void cancelChangesNothing()
    {
        const QString result = runMain(1, [&](QDialog &d) {
            edit(d, "newEmail")->setText(QStringLiteral("x@y"));
            d.reject();
            return true;
        });
        QCOMPARE(result, QString());
        QVERIFY(f.boxes.isEmpty());
        QCOMPARE(f.server->texts().size(), 1);
    }

    void changeOfUser()
    {
        // A second session of the same user must keep acting as itself.
        TSocketConnection other;
        other.SetHost(f.server->host());
        other.SetPort(f.server->port());
        other.Open();
        other.Call(QStringLiteral("Login"),
                   {QStringLiteral("9101"), QStringLiteral("clave"), QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")});
        f.server->clearTrace();

        QString owner, shown;
        const QString result = runMain(2, [&](QDialog &d) {
            owner = label(d, "LUser")->text();
            QLineEdit *number = edit(d, "nUsua");
            number->setText(QStringLiteral("9102"));
            QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
            QApplication::sendEvent(number, &out);
            shown = label(d, "lUsua")->text();
            click(d, "btnOk");
            return true;
        });
        QCOMPARE(owner, QStringLiteral("Ana Ruiz"));
        QCOMPARE(shown, QStringLiteral("A.B. Gil"));
        QCOMPARE(result, QStringLiteral("9102"));
        QCOMPARE(boxTexts(), QStringList{done()});
        QVERIFY(f.server->texts().contains(QStringLiteral("SELECT USUA_Nombre FROM TUSUARIOS WHERE USUA_Usua=9102")));
        QCOMPARE(f.server->texts().last(), QStringLiteral("EjeDir|UPDATE VOREL.RSESION SET SESI_USUADer= 9102"));

        auto sessionRow = [](TSocketConnection *c) {
            TClientDataSet q;
            q.SetRemoteServer(c);
            q.SetProviderName(QStringLiteral("dspq0"));
            q.SetCommandText(QStringLiteral("SELECT SESI_Usua, SESI_USUADer FROM vorel.RSESION"));
            q.Open();
            return q.Fields(0)->AsString() + QLatin1Char('/') + q.Fields(1)->AsString();
        };
        QCOMPARE(sessionRow(f.connection.get()), QStringLiteral("9101/9102"));
        QCOMPARE(sessionRow(&other), QStringLiteral("9101/9101"));
    }

    void userNumberOnlyDigits()
    {
        int step = 0;
        QString afterEmpty, afterBad, stillTyped;
        const QString result = runMain(2, [&](QDialog &d) {
            QLineEdit *number = edit(d, "nUsua");
            QLabel *name = label(d, "lUsua");
            QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
            switch (step++) {
            case 0:
                number->setText(QStringLiteral("9102"));
                QApplication::sendEvent(number, &out);
                number->clear();
                QApplication::sendEvent(number, &out);
                afterEmpty = name->text();
                click(d, "btnOk"); // empty: refused
                return false;
            case 1:
                number->setText(QStringLiteral("9102"));
                QApplication::sendEvent(number, &out);
                number->setText(QStringLiteral("1 or 1=1"));
                QApplication::sendEvent(number, &out);
                afterBad = name->text();
                click(d, "btnOk"); // not a number: refused
                return false;
            default:
                stillTyped = number->text();
                click(d, "btnCancel");
                return true;
            }
        });
        QCOMPARE(result, QString());
        QCOMPARE(afterEmpty, QString());
        QCOMPARE(afterBad, QStringLiteral("A.B. Gil"));
        QCOMPARE(stillTyped, QStringLiteral("1 or 1=1"));
        const QString refused = error(QStringLiteral("El usuario debe ser un número"));
        QCOMPARE(boxTexts(), (QStringList{refused, refused, refused}));
        for (const QString &t : f.server->texts())
            QVERIFY2(!t.contains(QLatin1String("RSESION")) && !t.contains(QLatin1String("1=1")), qPrintable(t));
    }

    void dialogLayouts()
    {
        struct Expected {
            QString caption;
            QSize size;
            QStringList tabs; // the focus on opening, then each tab key
            QList<QPair<QString, QRect>> edits;
            QList<QPair<QString, QPoint>> captions;
        };
        const QList<Expected> modes{
            {QStringLiteral("Cambia Contraseña"), QSize(575, 229),
             {QStringLiteral("paswd"), QStringLiteral("confirma"), QStringLiteral("btnOk"), QStringLiteral("btnCancel"),
              QStringLiteral("paswd")},
             {{QStringLiteral("paswd"), QRect(152, 56, 361, 0)}, {QStringLiteral("confirma"), QRect(152, 104, 361, 0)}},
             {{QStringLiteral("Label1"), QPoint(24, 56)}, {QStringLiteral("Label2"), QPoint(12, 104)}}},
            {QStringLiteral("Cambia Email"), QSize(568, 217),
             {QStringLiteral("newEmail"), QStringLiteral("btnOk"), QStringLiteral("btnCancel"), QStringLiteral("newEmail")},
             {{QStringLiteral("oldEmail"), QRect(152, 56, 361, 0)}, {QStringLiteral("newEmail"), QRect(152, 104, 361, 0)}},
             {{QStringLiteral("Label1"), QPoint(16, 56)}, {QStringLiteral("Label2"), QPoint(27, 104)}}},
            {QStringLiteral("Cambia Usuario"), QSize(568, 217),
             {QStringLiteral("nUsua"), QStringLiteral("btnOk"), QStringLiteral("btnCancel"), QStringLiteral("nUsua")},
             {{QStringLiteral("nUsua"), QRect(32, 80, 89, 0)}},
             {{QStringLiteral("Label1"), QPoint(32, 54)}}},
        };
        for (qint32 mode = 0; mode < 3; ++mode) {
            const Expected &want = modes.at(mode);
            QStringList problems, tabs;
            runMain(mode, [&](QDialog &d) {
                auto expect = [&](bool ok, const QString &what) {
                    if (!ok)
                        problems << what;
                };
                expect(d.windowTitle() == want.caption, QStringLiteral("caption"));
                expect(d.size() == want.size, QStringLiteral("size"));
                expect(d.font().family() == QStringLiteral("MS Sans Serif") && d.font().pointSize() == 8,
                       QStringLiteral("base font"));
                expect(label(d, "LUser")->pos() == QPoint(8, 16), QStringLiteral("LUser"));
                for (const char *name : {"btnOk", "btnCancel"}) {
                    const QRect r = d.findChild<QPushButton *>(QLatin1String(name))->geometry();
                    expect(r == QRect(name[3] == 'O' ? 8 : 464, 152, 75, 25), QLatin1String(name));
                }
                for (const auto &[name, r] : want.edits) {
                    QLineEdit *e = d.findChild<QLineEdit *>(name);
                    expect(e->pos() == r.topLeft() && e->width() == r.width() && e->font().pixelSize() == 16, name);
                }
                for (const auto &[name, at] : want.captions) {
                    QLabel *l = d.findChild<QLabel *>(name);
                    expect(l->pos() == at && l->font().bold() && l->font().pixelSize() == 16, name);
                }
                if (mode == 1) {
                    QLineEdit *old = edit(d, "oldEmail");
                    expect(old->isReadOnly() && !(old->focusPolicy() & Qt::TabFocus), QStringLiteral("oldEmail"));
                }
                if (mode == 2) {
                    QLabel *name = label(d, "lUsua");
                    expect(name->geometry() == QRect(128, 80, 417, 28) && name->frameShadow() == QFrame::Sunken
                               && name->font().pixelSize() == 16 && !name->font().bold(),
                           QStringLiteral("lUsua"));
                }
                tabs << (d.focusWidget() ? d.focusWidget()->objectName() : QString());
                for (int i = 1; i < want.tabs.size(); ++i) {
                    QTest::keyClick(d.focusWidget(), Qt::Key_Tab);
                    tabs << (d.focusWidget() ? d.focusWidget()->objectName() : QString());
                }
                click(d, "btnCancel");
                return true;
            });
            QVERIFY2(problems.isEmpty(), qPrintable(want.caption + QLatin1String(": ") + problems.join(QLatin1Char(' '))));
            QCOMPARE(tabs, want.tabs);
        }
        QVERIFY(f.boxes.isEmpty());
    }

    void creaObjOpensTheClass()
    {
        RuntimeFixture::setModule(QStringLiteral("nada"));
        QString result = QStringLiteral("x");
        creaObj(f.connection.get(), nullptr, QStringLiteral("TSTROL"), QStringLiteral("TSTPROPIA"), result);
        QCOMPARE(result, QString());
        QCOMPARE(RuntimeFixture::calls(), QStringList{QStringLiteral("TSTPROPIA|main|main")});

        // A failure of the construction leaves creaObj for the shell: here the
        // library cannot be written where it belongs.
        QTemporaryDir work;
        QVERIFY(QDir::setCurrent(work.path()));
        QVERIFY(QDir().mkdir(QStringLiteral("tstroto.dll")));
        f.server->exec(QStringLiteral("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_GUI) VALUES ('tstroto.dll', '1.0.0.0', 'WIN32')"));
        QString failure;
        try {
            creaObj(f.connection.get(), nullptr, QStringLiteral("TSTROL"), QStringLiteral("TSTROTO"), result);
        } catch (const Exception &e) {
            failure = e.message();
        }
        QVERIFY(!failure.isEmpty());
    }
};

QTEST_MAIN(TstAccount)
#include "tst_account.moc"
