#pragma once
// The runtime server and connection, and an MDI frame registered as the
// shell's.
#include "runtimeserver.h"

#include "runtime/ferror.h"
#include "runtime/ui.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QTest>
#include <memory>

namespace vorel::test {

struct Box {
    ui::Kind kind;
    QString text;
};

class RuntimeFixture : public RuntimeServer
{
public:
    std::unique_ptr<QMainWindow> frame;
    QMdiArea *area = nullptr;
    QList<Box> boxes;
    // What each error dialog showed: its memo at opening, MessageText, ErrorText.
    QList<QStringList> dialogs;

    bool start()
    {
        if (!RuntimeServer::start())
            return false;
        frame = std::make_unique<QMainWindow>();
        area = new QMdiArea(frame.get());
        frame->setCentralWidget(area);
        frame->resize(1200, 900);
        frame->show();
        ui::SetMainWindow(frame.get(), area);
        ui::SetMessageHook([this](ui::Kind kind, const QString &, const QString &text) {
            boxes << Box{kind, text};
            return ui::Answer::Ok;
        });
        TFError::SetShowHook([this](TFError &dialog) {
            dialogs << QStringList{dialog.MemoError->toPlainText(), dialog.MessageText, dialog.ErrorText};
        });
        return true;
    }

    void stop()
    {
        TFError::SetShowHook(nullptr);
        ui::SetMessageHook(nullptr);
        ui::SetMainWindow(nullptr, nullptr);
        frame.reset();
        RuntimeServer::stop();
    }

    static void setModule(const QString &action, const QString &work = {}, const QString &failure = {})
    {
        qApp->setProperty("tstAccion", action);
        qApp->setProperty("tstTrabajo", work);
        qApp->setProperty("tstFallo", failure);
        qApp->setProperty("tstLlamadas", QStringList());
    }
    static QStringList calls() { return qApp->property("tstLlamadas").toStringList(); }
};

// What the gateway itself sent: the base form's own label and menu queries
// (every module window makes them) left out.
inline QStringList gatewayTexts(const TestServer &server)
{
    QStringList texts = server.texts();
    texts.removeIf([](const QString &t) {
        return t.startsWith(QStringLiteral("SELECT NVL(CLAR_Etiq,CLAS_Etiq) Etiq"))
            || t.startsWith(QStringLiteral("SELECT NVL(METR_Etiq,METO_Etiq) Etiq"))
            || t.startsWith(QStringLiteral("SELECT \r\n METO_Metodo Metodo"));
    });
    return texts;
}

inline QString accessLog(const QString &cls, const QString &method)
{
    return QStringLiteral("EjeDir|INSERT INTO vorel.TLOGACCESOS (LOGA_Cuso, LOGA_USUA, LOGA_Fecha) SELECT CUSO_Cuso, "
                          "SESI_Usua, sysdate FROM vorel.TCUSOS, vorel.RSESION WHERE CUSO_GUI= 'WIN32'   And "
                          "CUSO_Clase= '%1'   And CUSO_Metodo= '%2' ")
        .arg(cls, method);
}

inline QString binsCheck(const QString &file)
{
    return QStringLiteral("SELECT BINS_Arch Arch, BINS_Vers FROM vorel.TBINS WHERE BINS_Arch= '%1'").arg(file);
}

inline QString binsDownload(const QString &file)
{
    return QStringLiteral("SELECT BINS_Bin Bin FROM vorel.TBINS WHERE BINS_Arch= '%1'").arg(file);
}

} // namespace vorel::test
