#pragma once
// The reference server with the test classes of the runtime tests, a
// logged-in connection, and an MDI frame registered as the shell's.
#include "common/exception.h"
#include "data/connection.h"
#include "runtime/ferror.h"
#include "runtime/ui.h"
#include "support/testserver.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QTest>
#include <memory>

namespace vorel::test {

// Users 9101 and 9102, role TSTROL granted to 9101, and the test classes,
// each with a 'WIN32' use case for "main" (numbers 9001...).
inline const char *const kRuntimeSetup = R"SQL(
INSERT OR IGNORE INTO TGUIS (GUIS_Gui) VALUES ('WIN32');
INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_eMail, USUA_Paswd) VALUES (9101, 'Ana Ruiz', 'Ana@Correo.es', 'clave');
INSERT INTO TUSUARIOS (USUA_Usua, USUA_Nombre, USUA_eMail, USUA_Paswd) VALUES (9102, 'A.B. Gil', NULL, 'clave');
INSERT INTO TROLES (ROLE_Rol, ROLE_Etiq) VALUES ('TSTROL', 'Rol de prueba');
INSERT INTO TUSUROL (USUR_Usua, USUR_Rol, USUR_Admin) VALUES (9101, 'TSTROL', 0);
INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq) VALUES ('TSTPROPIA', 'Propia');
INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq) VALUES ('TSTGEN', 'Generica');
INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq) VALUES ('TSTGEN2', 'Generica 2');
INSERT INTO TCLASES (CLAS_Clase, CLAS_Etiq) VALUES ('TSTLOG', 'Bitacora');
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, METO_Visib) VALUES ('TSTPROPIA', 'main', 'Lista', 0, 1, 1);
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, METO_Visib) VALUES ('TSTPROPIA', 'metodo', 'Metodo', 0, 1, 1);
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, METO_Visib) VALUES ('TSTGEN', 'main', 'Lista', 0, 1, 1);
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, METO_Visib) VALUES ('TSTGEN2', 'main', 'Lista', 0, 1, 1);
INSERT INTO TMETODS (METO_Clase, METO_Metodo, METO_Etiq, METO_Externo, METO_Activo, METO_Visib) VALUES ('TSTLOG', 'main', 'Lista', 0, 1, 1);
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (9001, 'TSTPROPIA', 'main', 'WIN32', 1);
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (9002, 'TSTPROPIA', 'metodo', 'WIN32', 1);
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (9003, 'TSTGEN', 'main', 'WIN32', 1);
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (9004, 'TSTGEN2', 'main', 'WIN32', 1);
INSERT INTO TCUSOS (CUSO_Cuso, CUSO_Clase, CUSO_Metodo, CUSO_GUI, CUSO_Activo) VALUES (9005, 'TSTLOG', 'main', 'WIN32', 1);
)SQL";

struct Box {
    ui::Kind kind;
    QString text;
};

class RuntimeFixture
{
public:
    std::unique_ptr<TestServer> server;
    std::unique_ptr<TSocketConnection> connection;
    std::unique_ptr<QMainWindow> frame;
    QMdiArea *area = nullptr;
    QList<Box> boxes;
    // What each error dialog showed: its memo at opening, MessageText, ErrorText.
    QList<QStringList> dialogs;

    bool start()
    {
        server = std::make_unique<TestServer>();
        QString error;
        if (!server->start(&error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        server->exec(QString::fromUtf8(kRuntimeSetup));
        connection = std::make_unique<TSocketConnection>();
        connection->SetHost(server->host());
        connection->SetPort(server->port());
        connection->SetTimeout(30000);
        connection->Open();
        connection->Call(QStringLiteral("Login"),
                         {QStringLiteral("9101"), QStringLiteral("clave"), QStringLiteral("DEMO"),
                          QStringLiteral("127.0.0.1")});
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
        connection.reset();
        server.reset();
    }

    static void setModule(const QString &action, const QString &work = {}, const QString &failure = {})
    {
        qApp->setProperty("tstAccion", action);
        qApp->setProperty("tstTrabajo", work);
        qApp->setProperty("tstFallo", failure);
        qApp->setProperty("tstLlamadas", QStringList());
    }
    static QStringList calls() { return qApp->property("tstLlamadas").toStringList(); }

    // The failure of a statement run on the server as it reaches the client.
    QString failureOf(const QString &sql)
    {
        try {
            connection->Call(QStringLiteral("EjeDir"), {sql});
        } catch (const Exception &e) {
            return e.message();
        }
        return QString();
    }
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
