#include "account/fusua.h"

#include "common/exception.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "runtime/ui.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace vorel {

TFUsua::TFUsua(const QString &userId, TSocketConnection *connection)
    : TAccountDialog(QStringLiteral("Cambia Usuario"), 568, 217, connection)
{
    setObjectName(QStringLiteral("FUsua"));
    Label1 = NewCaption(QStringLiteral("Label1"), QStringLiteral("Usuario:"), 32, 54);
    nUsua = NewEdit(QStringLiteral("nUsua"), 32, 80, 89);
    LowerCaseInput(nUsua);
    nUsua->installEventFilter(this);

    lUsua = new QLabel(this);
    lUsua->setObjectName(QStringLiteral("lUsua"));
    ui::PlainLabel(lUsua);
    QFont regular = font();
    regular.setPixelSize(16);
    lUsua->setFont(regular);
    lUsua->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    lUsua->setGeometry(128, 80, 417, 28);

    setTabOrder(nUsua, btnOk);
    setTabOrder(btnOk, btnCancel);
    nUsua->setFocus();

    LookUpUser(userId);
    LUser->setText(cdSet->FieldByName(QStringLiteral("Nombre"))->AsString());
    LUser->adjustSize();
}

bool TFUsua::eventFilter(QObject *watched, QEvent *event)
{
    // Leaving the field for another control of the dialog, not the dialog
    // losing its activation or closing.
    if (watched == nUsua && event->type() == QEvent::FocusOut && isVisible()) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            ui::Guarded([this] { nUsuaExit(); });
    }
    return TAccountDialog::eventFilter(watched, event);
}

void TFUsua::nUsuaExit()
{
    if (nUsua->text().isEmpty()) {
        lUsua->clear();
        return;
    }
    // Whatever is typed goes into the SQL unquoted: only a user number may.
    if (!IsUserNumber(nUsua->text()))
        throw Exception(QString::fromUtf8(NotAUserNumber));
    cdSet->Close();
    cdSet->SetCommandText(QStringLiteral("SELECT USUA_Nombre FROM TUSUARIOS WHERE USUA_Usua=") + nUsua->text());
    cdSet->Open();
    lUsua->setText(cdSet->FieldByName(QStringLiteral("USUA_Nombre"))->AsString());
}

void TFUsua::FormCloseQuery()
{
    if (!IsUserNumber(nUsua->text()))
        throw Exception(QString::fromUtf8(NotAUserNumber));
    Connection->Call(QStringLiteral("EjeDir"), {QStringLiteral("UPDATE VOREL.RSESION SET SESI_USUADer= ") + nUsua->text()});
}

} // namespace vorel
