#pragma once
// The shell's main window: the MDI frame in which every use case opens, and
// the start-up that logs the user in and builds the role bar.
#include "common/sqllines.h"
#include "common/stringlist.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <memory>

class QAction;
class QFrame;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QSplitter;

namespace vorel {
class TClientDataSet;
class TImageList;
class TSocketConnection;
namespace platform { class TSettingsStore; }
}

namespace vorel::shell {

class TFLogin;
class TFSplash;
class TOutBar;

class TFMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit TFMain(QWidget *parent = nullptr);
    ~TFMain() override;

    // Components, in the order the window declares them.
    TSocketConnection *SConect;
    TClientDataSet *cdsMain;
    QMenuBar *MMenu;
    QMenu *Archivo1;
    QAction *Salir1;
    QMenu *Ventanas1;
    QAction *Apilar1;
    QAction *Cascada1;
    QAction *Siguiente1;
    QAction *Anterior1;
    QAction *mPaswd;
    QAction *N2;
    QMenu *Ayuda1;
    QAction *Modulo1;
    QAction *General1;
    QAction *Version1;
    QAction *meMail;
    TImageList *ImgBoton;
    TClientDataSet *cdsBin;
    QFrame *Panel1;
    QFrame *Panel2;
    QSplitter *JvSplitter2;
    TOutBar *OutBar;
    QMdiArea *MdiArea;

    // Entries added at start-up (nullptr when not created).
    QAction *mAdmUsu = nullptr;
    QMenu *mRol = nullptr;
    QAction *mUsuario = nullptr;

    // The start-up sequence; runs before the window is first shown.
    void FormCreate();
    // True once the start-up asked the application to end (cancelled login,
    // three failed attempts, an update started).
    bool Terminated() const { return m_terminated; }

    bool FormCloseQuery();
    void FormClose();
    void Salir1Click();
    void Apilar1Click();
    void Cascada1Click();
    void Siguiente1Click();
    void Anterior1Click();
    void Version1Click();

    void MenuSetup();
    void CargaCuso();
    void CambRol(QObject *Sender);
    void CambUsua(const QString &UserId);
    void AdmUsus();
    void OutBarButtonClick(QObject *Sender, int Index);
    void AbreCuso(const QString &RoleId, const QString &ClassId);
    void meMailClick(QObject *Sender);

    // Shared state.
    TSqlLines SqlLines;
    TStringList ItemIds;
    QString Scratch;
    QString DataBase;
    QString UserId;
    QString Password;
    QString Site;
    QString ClientAddress;
    TFSplash *Splash() const { return m_splash.get(); }
    // Id kept in the item id map for a page or button; empty when none.
    QString ItemId(const QObject *item) const;

    // Where the synchronisation puts files; empty means the running shell
    // and its folder.
    QString SyncShellFile;
    QString SyncProgramFolder;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    void buildPanels();
    void openMain(const QString &sql);
    void openMainLines();
    void terminate();
    void releaseTemporary();
    void replaceConnection();
    bool loginLoop();
    void afterLogin();
    // Menu merging of the active module window.
    void childActivated(QMdiSubWindow *sub);
    void unmergeChildMenus();

    std::unique_ptr<TFSplash> m_splash;
    std::unique_ptr<TFLogin> m_login;
    std::unique_ptr<platform::TSettingsStore> m_store;
    TSocketConnection *m_temporary = nullptr;
    // What a session asks first, sent behind the Login: the greeting's
    // ticket and the self-update check's first query.
    quint64 m_greeting = 0;
    std::unique_ptr<TClientDataSet> m_shellVersion;
    void sendFirstRequests();
    // What the connection needs to open the session again by itself.
    void keepSession(const QString &address, int port);
    void forgetFirstRequests();
    bool m_terminated = false;

    QPointer<QMdiSubWindow> m_mergedSub;
    QList<QPointer<QAction>> m_mergedActions;
    QList<QPointer<QAction>> m_hiddenFrameMenus;
};

} // namespace vorel::shell
