// A module library for the gateway tests. What its entries do is read from
// the application object's property "tstAccion"; every call is recorded in
// "tstLlamadas" as "<library>|<export>|<name>".
#include "data/connection.h"
#include "runtime/exports.h"
#include "runtime/frmvrl.h"
#include "runtime/snvorel.h"

#include <QCoreApplication>
#include <QStringList>
#include <QVariant>

namespace {

QWidget *run(const char *exportName, const QString &name, vorel::TSnVorel *session)
{
    QCoreApplication *app = QCoreApplication::instance();
    QStringList calls = app->property("tstLlamadas").toStringList();
    calls << QStringLiteral(VOREL_TEST_MODULE "|%1|%2").arg(QLatin1String(exportName), name);
    app->setProperty("tstLlamadas", calls);

    const QString action = app->property("tstAccion").toString();
    const QString work = app->property("tstTrabajo").toString();
    if (!work.isEmpty())
        session->Connection->Call(QStringLiteral("EjeDir"), {work});
    if (action == QLatin1String("nada"))
        return nullptr;
    if (action == QLatin1String("falla"))
        session->Connection->Call(QStringLiteral("EjeDir"), {app->property("tstFallo").toString()});
    if (action == QLatin1String("confirma"))
        session->Connection->Call(QStringLiteral("CommitTran"));
    auto *window = new vorel::TfrmVrl(name, QStringLiteral("main"), session);
    if (action == QLatin1String("corta"))
        session->Connection->Close(); // the server is gone from here on
    return window;
}

} // namespace

extern "C" {
Q_DECL_EXPORT QWidget *ModuleMain(const QString &name, vorel::TSnVorel *session) VOREL_EXPORT_AS_MAIN;
QWidget *ModuleMain(const QString &name, vorel::TSnVorel *session) { return run("main", name, session); }

#ifdef VOREL_TEST_METHODS
Q_DECL_EXPORT QWidget *metodo(const QString &name, vorel::TSnVorel *session)
{
    return run("metodo", name, session);
}
Q_DECL_EXPORT QWidget *ejecutaOtro(const QString &name, vorel::TSnVorel *session)
{
    return run("ejecutaOtro", name, session);
}
#endif
}
