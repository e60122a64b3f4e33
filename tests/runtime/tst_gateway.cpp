#include "runtimefixture.h"

#include "common/fileversion.h"
#include "data/dataset.h"
#include "runtime/frmvrl.h"
#include "runtime/placement.h"
#include "runtime/snvorel.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>

using namespace vorel;
using namespace vorel::test;

class TstGateway : public QObject
{
    Q_OBJECT
    RuntimeFixture f;
    std::unique_ptr<QTemporaryDir> work;

    TSnVorel *open(const QString &cls)
    {
        f.server->clearTrace();
        return new TSnVorel(f.connection.get(), nullptr, QStringLiteral("TSTROL"), cls);
    }
    QList<QStringList> logRows(const QString &cuso)
    {
        return f.server->query(QStringLiteral("SELECT LOGA_Cuso, LOGA_USUA FROM TLOGACCESOS WHERE LOGA_Cuso = ") + cuso);
    }
    static QString failureOf(const std::function<void()> &action)
    {
        try {
            action();
        } catch (const Exception &e) {
            return e.message();
        }
        return QString();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(f.start()); }
    void cleanupTestCase() { f.stop(); }
    void init()
    {
        work = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(work->path()));
        f.dialogs.clear();
        f.boxes.clear();
        RuntimeFixture::setModule(QStringLiteral("ventana"));
    }

    void classWithItsOwnLibrary()
    {
        TSnVorel *s = open(QStringLiteral("TSTPROPIA"));
        QCOMPARE(RuntimeFixture::calls(), QStringList{QStringLiteral("TSTPROPIA|main|main")});
        QCOMPARE(gatewayTexts(*f.server), (QStringList{binsCheck(QStringLiteral("tstpropia.dll")), QStringLiteral("StartTran"),
                                                 QStringLiteral("CommitTran"),
                                                 accessLog(QStringLiteral("TSTPROPIA"), QStringLiteral("main"))}));
        QCOMPARE(logRows(QStringLiteral("9001")), (QList<QStringList>{{QStringLiteral("9001"), QStringLiteral("9101")}}));
        QVERIFY(!s->FirstOpen);
        QCOMPARE(s->ClassHistory.Count(), 1);
        QCOMPARE(s->ClassHistory.Strings(0), QStringLiteral("TSTPROPIA"));
        QCOMPARE(s->ClassHistory.Objects(0), static_cast<QObject *>(s->ModuleData));
        QCOMPARE(s->StateHistory.Count(), 1);
        QCOMPARE(s->ModuleData->ProviderName(), QStringLiteral("dspModulo"));
        auto *form = qobject_cast<TfrmVrl *>(ui::ActiveMdiChild());
        QVERIFY(form);
        QVERIFY(form->SubWindow() && form->SubWindow()->isVisible());
        QCOMPARE(s->NextTop, form->Top());
        QCOMPARE(s->NextLeft, form->Left());

        // A method: export named like it, or its own export; the name passed
        // is always the method, and no library check.
        f.server->clearTrace();
        RuntimeFixture::setModule(QStringLiteral("ventana"));
        s->OpenUseCase(QStringLiteral("TSTPROPIA"), QStringLiteral("metodo"), QString());
        s->OpenUseCase(QStringLiteral("TSTPROPIA"), QStringLiteral("OTRO"), QStringLiteral("ejecutaOtro"));
        QCOMPARE(RuntimeFixture::calls(),
                 (QStringList{QStringLiteral("TSTPROPIA|metodo|metodo"), QStringLiteral("TSTPROPIA|ejecutaOtro|OTRO")}));
        QCOMPARE(gatewayTexts(*f.server).first(), QStringLiteral("StartTran"));
        QVERIFY(gatewayTexts(*f.server).contains(accessLog(QStringLiteral("TSTPROPIA"), QStringLiteral("metodo"))));
        QCOMPARE(logRows(QStringLiteral("9002")).size(), 1);

        f.server->clearTrace();
        QCOMPARE(failureOf([&] { s->OpenUseCase(QStringLiteral("TSTPROPIA"), QStringLiteral("falta"), QString()); }),
                 QStringLiteral("No se puede cargar la función"));
        QVERIFY(gatewayTexts(*f.server).isEmpty());
    }

    void genericLibraryStandsIn()
    {
        TSnVorel *s = open(QStringLiteral("TSTGEN"));
        QCOMPARE(RuntimeFixture::calls(), QStringList{QStringLiteral("Comun|main|TSTGEN")});
        QVERIFY(gatewayTexts(*f.server).contains(accessLog(QStringLiteral("TSTGEN"), QStringLiteral("main"))));
        QCOMPARE(logRows(QStringLiteral("9003")).size(), 1);

        RuntimeFixture::setModule(QStringLiteral("ventana"));
        f.server->clearTrace();
        QCOMPARE(failureOf([&] { s->OpenUseCase(QStringLiteral("TSTGEN"), QStringLiteral("otro"), QString()); }),
                 QStringLiteral("No se puede cargar Libreria"));
        QVERIFY(RuntimeFixture::calls().isEmpty());
        QVERIFY(gatewayTexts(*f.server).isEmpty());
    }

    void entryWithoutWindow()
    {
        const int before = f.area->subWindowList().size();
        RuntimeFixture::setModule(QStringLiteral("nada"));
        TSnVorel *s = open(QStringLiteral("TSTPROPIA"));
        QVERIFY(s->FirstOpen);
        QCOMPARE(s->NextTop, 0);
        QCOMPARE(f.area->subWindowList().size(), before);
        QCOMPARE(gatewayTexts(*f.server).mid(1), (QStringList{QStringLiteral("StartTran"), QStringLiteral("CommitTran"),
                                                        accessLog(QStringLiteral("TSTPROPIA"), QStringLiteral("main"))}));
    }

    void libraryFromTheBinariesTable()
    {
        QFile payload(QStringLiteral(VOREL_PAYLOAD_FILE));
        QVERIFY(payload.open(QIODevice::ReadOnly));
        const QByteArray bytes = payload.readAll();
        const QString version = FileVersionText(payload.fileName());
        QVERIFY(!version.isEmpty());
        const QString hex = QString::fromLatin1(bytes.toHex());
        f.server->exec(QStringLiteral("INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_GUI) VALUES "
                                      "('tstbin1.dll', '%1', X'%2', 'WIN32');"
                                      "INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_Bin, BINS_GUI) VALUES "
                                      "('tstbin2.dll', '9.9.9.9', X'%2', 'WIN32');")
                           .arg(version, hex));

        // Same version in the working folder: used as it is.
        QVERIFY(QFile::copy(payload.fileName(), QStringLiteral("tstbin1.dll")));
        open(QStringLiteral("TSTBIN1"));
        QCOMPARE(RuntimeFixture::calls(), QStringList{QStringLiteral("payload|main|main")});
        QCOMPARE(gatewayTexts(*f.server).first(), binsCheck(QStringLiteral("tstbin1.dll")));
        QVERIFY(!gatewayTexts(*f.server).contains(binsDownload(QStringLiteral("tstbin1.dll"))));

        // A file without a version record: replaced by the stored one.
        {
            QFile stale(QStringLiteral("tstbin2.dll"));
            QVERIFY(stale.open(QIODevice::WriteOnly));
            stale.write("viejo");
        }
        RuntimeFixture::setModule(QStringLiteral("ventana"));
        open(QStringLiteral("TSTBIN2"));
        QCOMPARE(gatewayTexts(*f.server).mid(0, 3), (QStringList{binsCheck(QStringLiteral("tstbin2.dll")),
                                                           binsDownload(QStringLiteral("tstbin2.dll")),
                                                           QStringLiteral("StartTran")}));
        QFile downloaded(QStringLiteral("tstbin2.dll"));
        QVERIFY(downloaded.open(QIODevice::ReadOnly));
        QVERIFY(downloaded.readAll() == bytes);
        QCOMPARE(RuntimeFixture::calls(), QStringList{QStringLiteral("payload|main|main")});
    }

    void failingModuleIsRolledBackAndReported()
    {
        open(QStringLiteral("TSTPROPIA"));
        auto *starter = qobject_cast<TfrmVrl *>(ui::ActiveMdiChild());
        QVERIFY(starter);
        TSnVorel *s = starter->Session;
        starter->UseCaseFailed = false;

        RuntimeFixture::setModule(
            QStringLiteral("falla"),
            QStringLiteral("INSERT INTO vorel.TPARAMS (PARA_Param, PARA_Valor) VALUES ('TSTFALLA', 'x')"),
            QStringLiteral("INSERT INTO vorel.TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (9101, 'Otra', 'clave')"));
        f.server->clearTrace();
        s->OpenUseCase(QStringLiteral("TSTPROPIA"), QStringLiteral("metodo"), QString());
        QVERIFY(gatewayTexts(*f.server).contains(QStringLiteral("RollBackTran")));
        QVERIFY(!gatewayTexts(*f.server).contains(QStringLiteral("CommitTran")));
        QCOMPARE(f.server->query(QStringLiteral("SELECT 1 FROM TPARAMS WHERE PARA_Param = 'TSTFALLA'")).size(), 0);
        QCOMPARE(f.dialogs.size(), 1);
        QCOMPARE(f.dialogs.first().first(), QStringLiteral("Código del usuario no puede ser Repetido"));
        QCOMPARE(ui::ActiveMdiChild(), static_cast<QWidget *>(starter));
        QVERIFY(!starter->CloseAfterUseCase);
        QVERIFY(starter->UseCaseFailed);

        // The gateway stays usable, and the next call clears the failure flag.
        RuntimeFixture::setModule(QStringLiteral("nada"));
        s->OpenUseCase(QStringLiteral("TSTPROPIA"), QStringLiteral("metodo"), QString());
        QVERIFY(!starter->UseCaseFailed);
    }

    void methodRunFromAModuleWindow()
    {
        open(QStringLiteral("TSTPROPIA"));
        QPointer<TfrmVrl> starter = qobject_cast<TfrmVrl *>(ui::ActiveMdiChild());
        QVERIFY(starter);
        starter->ClassId = QStringLiteral("TSTPROPIA"); // the test module names its windows after the entry
        auto *entry = new QAction(starter);
        entry->setObjectName(QStringLiteral("OTRO"));
        starter->MethodRuns.InsertObject(0, QStringLiteral("ejecutaOtro"), entry);

        // A failed run keeps the starting window open, ready for the next run.
        RuntimeFixture::setModule(
            QStringLiteral("falla"), {},
            QStringLiteral("INSERT INTO vorel.TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_Paswd) VALUES (9101, 'Otra', 'clave')"));
        QCOMPARE(failureOf([&] { starter->RunMethod(entry); }), QString());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(starter);
        QVERIFY(starter->CloseAfterUseCase);
        QCOMPARE(RuntimeFixture::calls(), QStringList{QStringLiteral("TSTPROPIA|ejecutaOtro|OTRO")});

        // A run that goes through closes the window that started it.
        RuntimeFixture::setModule(QStringLiteral("ventana"));
        QCOMPARE(failureOf([&] { starter->RunMethod(entry); }), QString());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!starter);
        QCOMPARE(RuntimeFixture::calls(), QStringList{QStringLiteral("TSTPROPIA|ejecutaOtro|OTRO")});
    }

    void failingAccessLogAfterTheCommit()
    {
        f.server->exec(QStringLiteral("CREATE TRIGGER TRG_TST_LOG BEFORE INSERT ON TLOGACCESOS WHEN NEW.LOGA_Cuso = 9005 "
                                      "BEGIN SELECT RAISE(ABORT, 'ORA-20001: Bitacora llena'); END;"));
        RuntimeFixture::setModule(
            QStringLiteral("ventana"),
            QStringLiteral("INSERT INTO vorel.TPARAMS (PARA_Param, PARA_Valor) VALUES ('TSTLOG', 'x')"));
        TSnVorel *s = open(QStringLiteral("TSTLOG"));
        const QStringList texts = gatewayTexts(*f.server);
        QCOMPARE(texts.mid(texts.size() - 2),
                 (QStringList{accessLog(QStringLiteral("TSTLOG"), QStringLiteral("main")), QStringLiteral("RollBackTran")}));
        QCOMPARE(f.server->query(QStringLiteral("SELECT 1 FROM TPARAMS WHERE PARA_Param = 'TSTLOG'")).size(), 1);
        QCOMPARE(f.dialogs.size(), 1);
        QCOMPARE(f.dialogs.first().first(), QStringLiteral(" Bitacora llena"));
        QVERIFY(s->FirstOpen); // the window was never shown
    }

    // A failure among requests sent without waiting: the same message as
    // when each request waited, and nothing sent behind it takes effect.
    void failureMidPipeline_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::newRow("DELETE") << QStringLiteral("DELETE FROM vorel.TPARAMS WHERE PARA_Param = 'TSTPIPE0'");
        QTest::newRow("INSERT") << QStringLiteral("INSERT INTO vorel.TPARAMS (PARA_Param, PARA_Valor) VALUES ('TSTPIPEX', 'x')");
        QTest::newRow("open") << QStringLiteral("SELECT * FROM vorel.TNOEXISTE");
    }

    void failureMidPipeline()
    {
        QFETCH(QString, failing);
        f.server->exec(QStringLiteral("CREATE TRIGGER IF NOT EXISTS TRG_TST_PIPE_D BEFORE DELETE ON TPARAMS WHEN "
                                      "OLD.PARA_Param = 'TSTPIPE0' BEGIN SELECT RAISE(ABORT, 'ORA-20001: No se borra'); END;"));
        f.server->exec(QStringLiteral("CREATE TRIGGER IF NOT EXISTS TRG_TST_PIPE_I BEFORE INSERT ON TPARAMS WHEN "
                                      "NEW.PARA_Param = 'TSTPIPEX' BEGIN SELECT RAISE(ABORT, 'ORA-20001: No se inserta'); END;"));
        f.server->exec(QStringLiteral("INSERT OR IGNORE INTO TPARAMS (PARA_Param, PARA_Valor) VALUES ('TSTPIPE0', 'x')"));
        TSocketConnection *c = f.connection.get();
        const auto insert = [](const char *name) {
            return QStringLiteral("INSERT INTO vorel.TPARAMS (PARA_Param, PARA_Valor) VALUES ('%1', 'x')")
                .arg(QLatin1String(name));
        };
        struct Outcome {
            QString failure;
            QStringList trace;
            QList<QStringList> rows;
        };
        const auto run = [&](bool pipelined) {
            c->SetPipelining(pipelined);
            f.server->clearTrace();
            Outcome o;
            o.failure = failureOf([&] {
                c->CallAhead(QStringLiteral("EjeDir"), {insert("TSTPIPE1")});
                TClientDataSet opened;
                opened.SetProviderName(QStringLiteral("dspq0"));
                opened.SetRemoteServer(c);
                if (failing.startsWith(QLatin1String("SELECT"))) {
                    opened.SetCommandText(failing);
                    opened.OpenAhead();
                } else {
                    c->CallAhead(QStringLiteral("EjeDir"), {failing});
                }
                c->CallAhead(QStringLiteral("EjeDir"), {insert("TSTPIPE2")});
                TClientDataSet last;
                last.SetProviderName(QStringLiteral("dspq0"));
                last.SetRemoteServer(c);
                last.SetCommandText(QStringLiteral("SELECT COUNT(*) N FROM vorel.TPARAMS"));
                last.OpenAhead();
                last.FieldByName(QStringLiteral("N"));
            });
            o.trace = f.server->texts();
            o.rows = f.server->query(
                QStringLiteral("SELECT PARA_Param FROM TPARAMS WHERE PARA_Param LIKE 'TSTPIPE%' ORDER BY 1"));
            f.server->exec(QStringLiteral("DELETE FROM TPARAMS WHERE PARA_Param IN ('TSTPIPE1', 'TSTPIPE2')"));
            return o;
        };
        const Outcome waited = run(false);
        const Outcome pipelined = run(true);
        QVERIFY(!waited.failure.isEmpty());
        QCOMPARE(pipelined.failure, waited.failure);
        QCOMPARE(pipelined.trace, waited.trace);
        QCOMPARE(pipelined.trace.last(), failing.startsWith(QLatin1String("SELECT")) ? failing
                                                                                   : QStringLiteral("EjeDir|") + failing);
        QCOMPARE(pipelined.rows, waited.rows);
        QCOMPARE(pipelined.rows, (QList<QStringList>{{QStringLiteral("TSTPIPE0")}, {QStringLiteral("TSTPIPE1")}}));
        // The session goes on: what is sent next is behind no failure.
        QCOMPARE(c->Call(QStringLiteral("EjeDir"), {insert("TSTPIPE2")}), QString());
        f.server->exec(QStringLiteral("DELETE FROM TPARAMS WHERE PARA_Param = 'TSTPIPE2'"));
    }

    void transactionLostOnTheServer()
    {
        RuntimeFixture::setModule(QStringLiteral("confirma"));
        open(QStringLiteral("TSTPROPIA"));
        QVERIFY(f.dialogs.isEmpty());
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes.first().text, QStringLiteral("Transaccion Rechazada, Intente de Nuevo..."));
        QCOMPARE(f.boxes.first().kind, ui::Kind::Message);
    }

    void drillDownHistory()
    {
        TSnVorel *s = open(QStringLiteral("TSTGEN"));
        s->ModuleData->SetCommandText(QStringLiteral("SELECT USUA_Usua, USUA_Nombre FROM vorel.TUSUARIOS WHERE USUA_Usua= 9102"));
        s->ModuleData->Open();
        s->FilterState = QStringLiteral("0.1.");
        QPointer<TClientDataSet> first = s->ModuleData;

        s->DrillDown(QStringLiteral("USUA_NOMBRE.TSTGEN2.PROP_X"));
        QCOMPARE(RuntimeFixture::calls().last(), QStringLiteral("Comun|main|TSTGEN2"));
        QCOMPARE(s->DrillColumn, QStringLiteral("PROP_X"));
        QCOMPARE(s->DrillValue, QStringLiteral("A.B. Gil"));
        QCOMPARE(s->HistoryIndex, 1);
        QCOMPARE(s->StateHistory.Strings(0), QStringLiteral("..0.1."));
        QCOMPARE(s->StateHistory.Strings(1), QString());
        QVERIFY(s->ModuleData != first);

        QPointer<TClientDataSet> second = s->ModuleData;
        s->ModuleData->SetCommandText(QStringLiteral("SELECT USUA_Usua FROM vorel.TUSUARIOS WHERE USUA_Usua= 9101"));
        s->ModuleData->Open();
        s->FilterState = QStringLiteral("2.");
        s->DrillDown(QStringLiteral("USUA_USUA.TSTGEN.X.Y"));
        QCOMPARE(s->DrillColumn, QStringLiteral("X.Y"));
        QCOMPARE(s->DrillValue, QStringLiteral("9101"));
        QCOMPARE(s->ClassHistory.Count(), 3);
        QPointer<TClientDataSet> third = s->ModuleData;

        // Back: the saved parts come back whole, periods and all.
        s->Navigate(false);
        QCOMPARE(s->HistoryIndex, 1);
        QCOMPARE(s->StateHistory.Strings(2), QStringLiteral("X.Y.9101.2."));
        QCOMPARE(s->StateHistory.Strings(1), QStringLiteral("PROP_X.A.B. Gil.2."));
        QCOMPARE(s->DrillColumn, QStringLiteral("PROP_X"));
        QCOMPARE(s->DrillValue, QStringLiteral("A.B. Gil"));
        QCOMPARE(s->FilterState, QStringLiteral("2."));
        QCOMPARE(s->ModuleData, second.data());
        QVERIFY(s->ModuleData->Active());
        QCOMPARE(RuntimeFixture::calls().last(), QStringLiteral("Comun|main|TSTGEN2"));

        s->Navigate(false);
        QCOMPARE(s->HistoryIndex, 0);
        QCOMPARE(s->DrillColumn, QString());
        QCOMPARE(s->DrillValue, QString());
        QCOMPARE(s->FilterState, QStringLiteral("0.1."));

        // At either end nothing opens.
        const int callsBefore = RuntimeFixture::calls().size();
        f.server->clearTrace();
        s->FilterState = QStringLiteral("7.");
        s->Navigate(false);
        QCOMPARE(RuntimeFixture::calls().size(), callsBefore);
        QVERIFY(gatewayTexts(*f.server).isEmpty());
        QCOMPARE(s->StateHistory.Strings(0), QStringLiteral("..7."));

        s->Navigate(true);
        s->Navigate(true);
        QCOMPARE(s->HistoryIndex, 2);
        QCOMPARE(s->DrillColumn, QStringLiteral("X.Y"));
        const int atEnd = RuntimeFixture::calls().size();
        s->Navigate(true);
        QCOMPARE(RuntimeFixture::calls().size(), atEnd);

        // A drill from the middle drops the later entries and their data.
        s->Navigate(false);
        s->DrillDown(QStringLiteral("USUA_USUA.TSTGEN.Z"));
        QVERIFY(third.isNull());
        QCOMPARE(s->ClassHistory.Count(), 3);
        QCOMPARE(s->ClassHistory.Strings(2), QStringLiteral("TSTGEN"));
        QCOMPARE(s->HistoryIndex, 2);
        QVERIFY(!first.isNull() && !second.isNull());

        QPointer<TClientDataSet> last = s->ModuleData;
        s->Navigate(false);
        s->TruncateHistory();
        QVERIFY(last.isNull());
        QCOMPARE(s->ClassHistory.Count(), 2);
        QCOMPARE(s->StateHistory.Count(), 2);
        s->TruncateHistory();
        QCOMPARE(s->ClassHistory.Count(), 2);
    }

    void failedDrillLeavesTheEntryAsItWas()
    {
        RuntimeFixture::setModule(QStringLiteral("nada"));
        TSnVorel *s = open(QStringLiteral("TSTGEN"));
        s->ModuleData->SetCommandText(QStringLiteral("SELECT USUA_Usua FROM vorel.TUSUARIOS WHERE USUA_Usua= 9101"));
        s->ModuleData->Open();
        s->DrillColumn = QStringLiteral("C.1");
        s->DrillValue = QStringLiteral("V.1");
        s->FilterState = QStringLiteral("3.");
        TClientDataSet *shown = s->ModuleData;
        const int datasets = f.connection->findChildren<TClientDataSet *>().size();

        // The library of the related class cannot be written: nothing runs.
        QVERIFY(QDir().mkdir(QStringLiteral("tstroto.dll")));
        f.server->exec(QStringLiteral(
            "INSERT INTO TBINS (BINS_Arch, BINS_Vers, BINS_GUI) VALUES ('tstroto.dll', '1.0.0.0', 'WIN32')"));
        QVERIFY(!failureOf([&] { s->DrillDown(QStringLiteral("USUA_USUA.TSTROTO.X")); }).isEmpty());
        QCOMPARE(s->ModuleData, shown);
        QCOMPARE(s->DrillColumn, QStringLiteral("C.1"));
        QCOMPARE(s->DrillValue, QStringLiteral("V.1"));
        QCOMPARE(s->ClassHistory.Count(), 1);
        QCOMPARE(f.connection->findChildren<TClientDataSet *>().size(), datasets);

        // The next step saves the entry's own state, not the failed one's.
        s->DrillDown(QStringLiteral("USUA_USUA.TSTGEN2.Y"));
        QCOMPARE(s->StateHistory.Strings(0), QStringLiteral("C.1.V.1.3."));
        s->Navigate(false);
        QCOMPARE(s->DrillColumn, QStringLiteral("C.1"));
        QCOMPARE(s->DrillValue, QStringLiteral("V.1"));
        QCOMPARE(s->ModuleData, shown);
    }

    void connectionLostWhileTheClassOpens()
    {
        // The module made its window, then the server went away: the commit
        // and the roll-back both fail and the construction fails with them.
        const int before = f.area->subWindowList().size();
        const int datasets = f.connection->findChildren<TClientDataSet *>().size();
        RuntimeFixture::setModule(QStringLiteral("corta"));
        f.server->clearTrace();
        const QString failure = failureOf([&] {
            new TSnVorel(f.connection.get(), nullptr, QStringLiteral("TSTROL"), QStringLiteral("TSTPROPIA"));
        });
        QVERIFY(!failure.isEmpty());
        QCOMPARE(RuntimeFixture::calls(), QStringList{QStringLiteral("TSTPROPIA|main|main")});
        // No window is left behind pointing at the gateway that never was.
        QCOMPARE(f.area->subWindowList().size(), before);
        for (TfrmVrl *form : f.frame->findChildren<TfrmVrl *>())
            QVERIFY(form->Session);
        QCOMPARE(f.connection->findChildren<TClientDataSet *>().size(), datasets);
        QVERIFY(f.dialogs.isEmpty());

        f.connection->Open();
        f.connection->Call(QStringLiteral("Login"), {QStringLiteral("9101"), QStringLiteral("clave"),
                                                     QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")});
    }

    void windowPlacementFollowsTheSession()
    {
        RuntimeFixture::setModule(QStringLiteral("nada"));
        TSnVorel *s = open(QStringLiteral("TSTPROPIA"));
        s->NextTop = 0;
        s->NextLeft = 40;
        auto *byDefault = new TfrmVrl(QStringLiteral("TSTPROPIA"), QStringLiteral("main"), s);
        // Without a place of its own the frame places it (its cascade).
        QVERIFY(!byDefault->SubWindow()->property(MovedProperty).toBool());
        s->NextTop = 30;
        auto *placed = new TfrmVrl(QStringLiteral("TSTPROPIA"), QStringLiteral("main"), s);
        QCOMPARE(placed->Top(), 30);
        QCOMPARE(placed->Left(), 40);
        QVERIFY(placed->SubWindow());
        QVERIFY(!placed->SubWindow()->isVisible());
        QCOMPARE(placed->Procesos1->title(), QStringLiteral("Pr&ocesos"));
        QVERIFY(!placed->Procesos1->isEnabled());
        QCOMPARE(placed->Cerrar1->shortcut(), QKeySequence(QStringLiteral("Ctrl+Z")));
        QCOMPARE(placed->Modulo1->property("vorelMergeGroup").toInt(), 1);
        QVERIFY(placed->CloseAfterUseCase);

        placed->MoveTo(55, 66);
        QPointer<QMdiSubWindow> sub = placed->SubWindow();
        QPointer<TfrmVrl> form = placed;
        placed->close();
        QCOMPARE(s->NextTop, 55);
        QCOMPARE(s->NextLeft, 66);
        QTRY_VERIFY(form.isNull() && sub.isNull());
        delete byDefault->SubWindow();
    }
};

QTEST_MAIN(TstGateway)
#include "tst_gateway.moc"
