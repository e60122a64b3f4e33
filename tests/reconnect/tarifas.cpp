// A class library for the reconnection tests: its use case writes twice,
// and between the two writes runs what the test left in the application's
// property "vorelBetweenWrites" (a std::function<void()>), a fault of the
// line.
#include "data/connection.h"
#include "runtime/exports.h"
#include "runtime/snvorel.h"

#include <QCoreApplication>
#include <QVariant>
#include <functional>

extern "C" Q_DECL_EXPORT QWidget *TarifasMain(const QString &name, vorel::TSnVorel *session) VOREL_EXPORT_AS_MAIN;

QWidget *TarifasMain(const QString &, vorel::TSnVorel *session)
{
    vorel::TSocketConnection *c = session->Connection;
    c->Call(QStringLiteral("EjeDir"),
            {QStringLiteral("UPDATE vorel.TPRODUCTOS SET PROD_Descrip = PROD_Descrip || ' (1)'")});
    const QVariant between = QCoreApplication::instance()->property("vorelBetweenWrites");
    if (auto *step = static_cast<std::function<void()> *>(between.value<void *>()))
        (*step)();
    c->Call(QStringLiteral("EjeDir"),
            {QStringLiteral("UPDATE vorel.TPRODUCTOS SET PROD_Descrip = PROD_Descrip || ' (2)'")});
    return nullptr;
}
