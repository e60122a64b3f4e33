#include "account/fpaswd.h"

#include "common/exception.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "runtime/ui.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace vorel {

TFPaswd::TFPaswd(const QString &userId, TSocketConnection *connection)
    : TAccountDialog(QStringLiteral("Cambia Contraseña"), 575, 229, connection), UserId(userId)
{
    setObjectName(QStringLiteral("FPaswd"));
    Label1 = NewCaption(QStringLiteral("Label1"), QStringLiteral("Contraseña:"), 24, 56);
    Label2 = NewCaption(QStringLiteral("Label2"), QStringLiteral("Confirmación:"), 12, 104);
    paswd = NewEdit(QStringLiteral("paswd"), 152, 56, 361);
    ui::MaskTyping(paswd);
    confirma = NewEdit(QStringLiteral("confirma"), 152, 104, 361);
    ui::MaskTyping(confirma);
    setTabOrder(paswd, confirma);
    setTabOrder(confirma, btnOk);
    setTabOrder(btnOk, btnCancel);
    paswd->setFocus();

    LookUpUser(UserId);
    LUser->setText(cdSet->FieldByName(QStringLiteral("nombre"))->AsString() + QLatin1Char(' ') + UserId);
    LUser->adjustSize();
}

void TFPaswd::FormCloseQuery()
{
    if (paswd->text() != confirma->text())
        throw Exception(QStringLiteral("No coinciden Pasword y confirmación"));
    Connection->Call(QStringLiteral("EjeDir"),
                     {QStringLiteral("UPDATE Vorel.TUsuarios SET USUA_Paswd= '") + SqlText(paswd->text())
                      + QStringLiteral("' ") + QStringLiteral("WHERE USUA_Usua= ") + UserId});
}

} // namespace vorel
