// The two exports of the account library. The shell finds both by name.
#include "account/femail.h"
#include "account/fpaswd.h"
#include "account/fusua.h"
#include "runtime/exports.h"
#include "runtime/snvorel.h"
#include "runtime/ui.h"

#include <QLineEdit>
#include <memory>
#include <type_traits>

extern "C" {

Q_DECL_EXPORT void creaObj(vorel::TSocketConnection *connection, vorel::TImageList *images, const QString &role,
                           const QString &className, QString &result);

Q_DECL_EXPORT void CambiaMain(const QString &userId, qint32 mode, vorel::TSocketConnection *connection,
                              QString &newUser) VOREL_EXPORT_AS_MAIN;
}

static_assert(std::is_same_v<decltype(&creaObj), TCreaObjFn>);
static_assert(std::is_same_v<decltype(&CambiaMain), TAccountMainFn>);

// The gateway lives as long as the windows of its chain may call it, which
// is until the process ends: it is never freed. A failure of its
// construction leaves here for the shell to show.
void creaObj(vorel::TSocketConnection *connection, vorel::TImageList *images, const QString &role,
             const QString &className, QString &result)
{
    new vorel::TSnVorel(connection, images, role, className);
    result.clear();
}

void CambiaMain(const QString &userId, qint32 mode, vorel::TSocketConnection *connection, QString &newUser)
{
    newUser.clear();
    std::unique_ptr<vorel::TAccountDialog> dialog;
    vorel::TFUsua *userDialog = nullptr;
    switch (mode) {
    case 0:
        dialog = std::make_unique<vorel::TFPaswd>(userId, connection);
        break;
    case 1:
        dialog = std::make_unique<vorel::TFEMail>(userId, connection);
        break;
    case 2: {
        auto usua = std::make_unique<vorel::TFUsua>(userId, connection);
        userDialog = usua.get();
        dialog = std::move(usua);
        break;
    }
    default:
        return;
    }
    if (dialog->exec() != QDialog::Accepted)
        return;
    if (userDialog)
        newUser = userDialog->nUsua->text();
    vorel::ui::ShowMessage(QStringLiteral("Cambio efectuado"));
}
