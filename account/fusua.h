#pragma once
#include "account/accountparts.h"

namespace vorel {

// Change of the user on whose behalf the server session acts.
class TFUsua : public TAccountDialog
{
    Q_OBJECT
public:
    TFUsua(const QString &userId, TSocketConnection *connection);

    QLabel *Label1;
    QLineEdit *nUsua;
    QLabel *lUsua;

    void nUsuaExit();
    void FormCloseQuery() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace vorel
