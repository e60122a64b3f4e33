#include "account/femail.h"

#include "data/connection.h"
#include "data/dataset.h"

#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

namespace vorel {

TFEMail::TFEMail(const QString &userId, TSocketConnection *connection)
    : TAccountDialog(QStringLiteral("Cambia Email"), 568, 217, connection), UserId(userId)
{
    setObjectName(QStringLiteral("FEMail"));
    Label1 = NewCaption(QStringLiteral("Label1"), QStringLiteral("e-mail Anterior:"), 16, 56);
    Label2 = NewCaption(QStringLiteral("Label2"), QStringLiteral("e-mail nuevo :"), 27, 104);
    oldEmail = NewEdit(QStringLiteral("oldEmail"), 152, 56, 361);
    oldEmail->setReadOnly(true);
    oldEmail->setFocusPolicy(Qt::NoFocus);
    QPalette face = oldEmail->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    oldEmail->setPalette(face);
    newEmail = NewEdit(QStringLiteral("newEmail"), 152, 104, 361);
    LowerCaseInput(newEmail);
    setTabOrder(newEmail, btnOk);
    setTabOrder(btnOk, btnCancel);
    newEmail->setFocus();

    LookUpUser(UserId);
    oldEmail->setText(cdSet->FieldByName(QStringLiteral("email"))->AsString().toLower());
    LUser->setText(cdSet->FieldByName(QStringLiteral("nombre"))->AsString() + QLatin1Char(' ') + UserId);
    LUser->adjustSize();
}

void TFEMail::FormCloseQuery()
{
    Connection->Call(QStringLiteral("EjeDir"),
                     {QStringLiteral("UPDATE Vorel.TUsuarios SET USUA_eMail= '") + SqlText(newEmail->text())
                      + QStringLiteral("' ") + QStringLiteral("WHERE USUA_Usua= ") + UserId});
}

} // namespace vorel
