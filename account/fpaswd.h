#pragma once
#include "account/accountparts.h"

namespace vorel {

// Change of the logged-in user's password.
class TFPaswd : public TAccountDialog
{
    Q_OBJECT
public:
    TFPaswd(const QString &userId, TSocketConnection *connection);

    QString UserId;
    QLabel *Label1;
    QLabel *Label2;
    QLineEdit *paswd;
    QLineEdit *confirma;

    void FormCloseQuery() override;
};

} // namespace vorel
