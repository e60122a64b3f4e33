#pragma once
// A user's session on the test server, and a frame the gateway shows module
// windows in as the shell provides it. What the frame hooks is undone when
// it goes.
#include "data/connection.h"
#include "runtime/ferror.h"
#include "runtime/filedialog.h"
#include "runtime/frmvrl.h"
#include "runtime/ui.h"
#include "support/testserver.h"

#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStringList>

namespace vorel::test {

// Opens `c` on the server and logs in on its DEMO database.
inline void LogIn(TSocketConnection &c, const TestServer &server, const QString &user = QStringLiteral("1001"),
                  const QString &password = QStringLiteral("clave"))
{
    c.SetHost(server.host());
    c.SetPort(server.port());
    c.SetTimeout(60000);
    c.Open();
    c.Call(QStringLiteral("Login"), {user, password, QStringLiteral("DEMO"), QStringLiteral("127.0.0.1")});
}

// The main window and MDI area of the application, with the error dialogs
// the gateway shows collected in `errors` instead.
class ModuleFrame
{
public:
    ModuleFrame() : area(new QMdiArea(&main))
    {
        main.setCentralWidget(area);
        main.resize(1200, 900);
        main.show();
        ui::SetMainWindow(&main, area);
        TFError::SetShowHook([this](TFError &d) { errors << d.MessageText; });
    }
    ~ModuleFrame()
    {
        TFError::SetShowHook(nullptr);
        ui::SetFileDialogHook(nullptr);
        ui::SetMainWindow(nullptr, nullptr);
    }
    // The module window of the active sub-window, or none.
    TfrmVrl *Current() const
    {
        QMdiSubWindow *sub = area->currentSubWindow();
        return sub ? qobject_cast<TfrmVrl *>(sub->widget()) : nullptr;
    }

    ModuleFrame(const ModuleFrame &) = delete;
    ModuleFrame &operator=(const ModuleFrame &) = delete;

    QMainWindow main;
    QMdiArea *area;
    QStringList errors;
};

} // namespace vorel::test
