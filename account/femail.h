#pragma once
#include "account/accountparts.h"

namespace vorel {

// Change of the logged-in user's e-mail address.
class TFEMail : public TAccountDialog
{
    Q_OBJECT
public:
    TFEMail(const QString &userId, TSocketConnection *connection);

    QString UserId;
    QLabel *Label1;
    QLabel *Label2;
    QLineEdit *oldEmail;
    QLineEdit *newEmail;

    void FormCloseQuery() override;
};

} // namespace vorel
