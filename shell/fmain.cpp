#include "shell/fmain.h"

#include "common/exception.h"
#include "common/fileversion.h"
#include "common/platform.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "runtime/exports.h"
#include "runtime/imagelist.h"
#include "runtime/ui.h"
#include "shell/binsync.h"
#include "shell/flogin.h"
#include "shell/fsplash.h"
#include "shell/outbar.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QVBoxLayout>

namespace vorel::shell {

namespace {
constexpr const char *kMergeGroup = "vorelMergeGroup";
constexpr const char *kSettingsKey = "Software\\Vorel7";

bool isUserNumber(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

int mergeGroup(const QAction *menuAction)
{
    const QMenu *m = menuAction ? menuAction->menu() : nullptr;
    return m ? m->property(kMergeGroup).toInt() : 0;
}
} // namespace

TFMain::TFMain(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("FMain"));

    SConect = new TSocketConnection(this);
    SConect->setObjectName(QStringLiteral("SConect"));
    cdsMain = new TClientDataSet(this);
    cdsMain->setObjectName(QStringLiteral("cdsMain"));
    cdsMain->SetProviderName(QStringLiteral("dspMain"));
    cdsMain->SetRemoteServer(SConect);
    // Every read of cdsMain is a list the shell walks to its end (the role
    // bar, the role menu, the button and module lists): its rows come with
    // the open instead of one wait for every two of them.
    cdsMain->SetPacketRecords(-1);
    ImgBoton = new TImageList(this);
    ImgBoton->setObjectName(QStringLiteral("ImgBoton"));
    cdsBin = new TClientDataSet(this);
    cdsBin->setObjectName(QStringLiteral("cdsBin"));
    cdsBin->SetProviderName(QStringLiteral("dspBin"));
    cdsBin->SetRemoteServer(SConect);
    cdsBin->SetPacketRecords(2);

    buildMenus();
    buildPanels();
    vorel::ui::SetMainWindow(this, MdiArea);
}

TFMain::~TFMain()
{
    // Module windows go while the menus they merged into, and the frame's
    // record of them, still stand.
    for (QMdiSubWindow *sub : MdiArea->subWindowList())
        delete sub;
    if (vorel::ui::MainWindow() == this)
        vorel::ui::SetMainWindow(nullptr, nullptr);
}

void TFMain::buildMenus()
{
    MMenu = menuBar();
    MMenu->setObjectName(QStringLiteral("MMenu"));
    MMenu->setNativeMenuBar(false);

    Archivo1 = MMenu->addMenu(QStringLiteral("&Archivo"));
    Archivo1->setObjectName(QStringLiteral("Archivo1"));
    Archivo1->setProperty(kMergeGroup, 0);
    mPaswd = Archivo1->addAction(QStringLiteral("Cambia &Paswd"));
    mPaswd->setObjectName(QStringLiteral("mPaswd"));
    meMail = Archivo1->addAction(QStringLiteral("Cambia &eMail"));
    meMail->setObjectName(QStringLiteral("meMail"));
    N2 = Archivo1->addSeparator();
    N2->setObjectName(QStringLiteral("N2"));
    Salir1 = Archivo1->addAction(QStringLiteral("&Salir"));
    Salir1->setObjectName(QStringLiteral("Salir1"));
    Salir1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // Image 25 arrives with the button images after login.
    connect(ImgBoton, &TImageList::Changed, this, [this] { Salir1->setIcon(ImgBoton->Icon(25)); });

    Ventanas1 = MMenu->addMenu(QStringLiteral("Ventanas"));
    Ventanas1->setObjectName(QStringLiteral("Ventanas1"));
    Ventanas1->setProperty(kMergeGroup, 3);
    Apilar1 = Ventanas1->addAction(QStringLiteral("&Apilar"));
    Apilar1->setObjectName(QStringLiteral("Apilar1"));
    Cascada1 = Ventanas1->addAction(QStringLiteral("&Cascada"));
    Cascada1->setObjectName(QStringLiteral("Cascada1"));
    Siguiente1 = Ventanas1->addAction(QStringLiteral("&Siguiente"));
    Siguiente1->setObjectName(QStringLiteral("Siguiente1"));
    Siguiente1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageDown));
    Anterior1 = Ventanas1->addAction(QStringLiteral("&Anterior"));
    Anterior1->setObjectName(QStringLiteral("Anterior1"));
    Anterior1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageUp));

    Ayuda1 = MMenu->addMenu(QStringLiteral("Ayuda"));
    Ayuda1->setObjectName(QStringLiteral("Ayuda1"));
    Ayuda1->setProperty(kMergeGroup, 3);
    Modulo1 = Ayuda1->addAction(QStringLiteral("Modulo"));
    Modulo1->setObjectName(QStringLiteral("Modulo1"));
    Modulo1->setShortcut(QKeySequence(Qt::Key_F1));
    General1 = Ayuda1->addAction(QStringLiteral("General"));
    General1->setObjectName(QStringLiteral("General1"));
    Version1 = Ayuda1->addAction(QStringLiteral("Version"));
    Version1->setObjectName(QStringLiteral("Version1"));

    connect(mPaswd, &QAction::triggered, this, [this] { vorel::ui::Guarded([&] { meMailClick(mPaswd); }); });
    connect(meMail, &QAction::triggered, this, [this] { vorel::ui::Guarded([&] { meMailClick(meMail); }); });
    connect(Salir1, &QAction::triggered, this, [this] { vorel::ui::Guarded([&] { Salir1Click(); }); });
    connect(Apilar1, &QAction::triggered, this, [this] { vorel::ui::Guarded([&] { Apilar1Click(); }); });
    connect(Cascada1, &QAction::triggered, this, [this] { vorel::ui::Guarded([&] { Cascada1Click(); }); });
    connect(Siguiente1, &QAction::triggered, this, [this] { vorel::ui::Guarded([&] { Siguiente1Click(); }); });
    connect(Anterior1, &QAction::triggered, this, [this] { vorel::ui::Guarded([&] { Anterior1Click(); }); });
    connect(Version1, &QAction::triggered, this, [this] { vorel::ui::Guarded([&] { Version1Click(); }); });
}

void TFMain::buildPanels()
{
    auto *client = new QWidget(this);
    auto *column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Panel1 = new QFrame(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(5);
    column->addWidget(Panel1);

    JvSplitter2 = new QSplitter(Qt::Horizontal, client);
    JvSplitter2->setObjectName(QStringLiteral("JvSplitter2"));
    JvSplitter2->setChildrenCollapsible(false);
    column->addWidget(JvSplitter2, 1);

    Panel2 = new QFrame(JvSplitter2);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setMinimumWidth(40);
    auto *barLayout = new QVBoxLayout(Panel2);
    barLayout->setContentsMargins(0, 0, 0, 0);
    OutBar = new TOutBar(Panel2);
    barLayout->addWidget(OutBar);

    MdiArea = new QMdiArea(JvSplitter2);
    MdiArea->setObjectName(QStringLiteral("MdiArea"));
    MdiArea->setBackground(palette().brush(QPalette::Dark));
    MdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    MdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    JvSplitter2->addWidget(Panel2);
    JvSplitter2->addWidget(MdiArea);
    JvSplitter2->setStretchFactor(0, 0);
    JvSplitter2->setStretchFactor(1, 1);
    JvSplitter2->setSizes({143, 800});
    setCentralWidget(client);

    connect(OutBar, &TOutBar::ButtonClick, this,
            [this](int index) { vorel::ui::Guarded([&] { OutBarButtonClick(OutBar, index); }); });
    connect(MdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow *sub) { childActivated(sub); });
}

// ---- Start-up -------------------------------------------------------------

void TFMain::terminate()
{
    m_terminated = true;
    QCoreApplication::quit();
}

void TFMain::releaseTemporary()
{
    if (!m_temporary)
        return;
    TSocketConnection *t = m_temporary;
    m_temporary = nullptr;
    try {
        t->Close();
    } catch (const std::exception &) {
        // Dropping a connection that already broke has nothing to report.
    }
    delete t;
}

void TFMain::replaceConnection()
{
    TSocketConnection *old = SConect;
    try {
        old->Close();
    } catch (const std::exception &) {
    }
    SConect = new TSocketConnection(this);
    SConect->setObjectName(QStringLiteral("SConect"));
    delete old;
}

void TFMain::FormCreate()
{
    // 1-2
    ClientAddress = platform::ClientAddress();
    m_splash = std::make_unique<TFSplash>();
    SqlLines.Clear();

    // 3: the query that proves the server serves this client.
    SqlLines.Clear();
    SqlLines << QStringLiteral("Select") << QStringLiteral("GUIS_Gui GUI,") << QStringLiteral("GUIS_Fecha Actu")
             << QStringLiteral("From Vorel.TGUIS") << QStringLiteral("WHERE GUIS_Gui= 'WIN32'");
    cdsBin->SetCommandText(SqlLines.Text());

    // 4
    m_login = std::make_unique<TFLogin>();
    m_login->setWindowTitle(QStringLiteral("Login ") + vorel::ui::ApplicationTitle());

    // 5
    m_store = std::make_unique<platform::TSettingsStore>();
    m_store->OpenKey(QString::fromLatin1(kSettingsKey), true);
    const struct { const char *name; const char *def; } defaults[] = {
        {"Login", ""}, {"dBase", ""}, {"Addrs", ""}, {"Port", "211"}, {"Sitio", ""}};
    for (const auto &d : defaults) {
        if (!m_store->ValueExists(QLatin1String(d.name)))
            m_store->WriteString(QLatin1String(d.name), QLatin1String(d.def));
    }
    m_login->lLogin->setText(m_store->ReadString(QStringLiteral("Login")));
    m_login->ldBase->setText(m_store->ReadString(QStringLiteral("dBase")));
    m_login->lAddrs->setText(m_store->ReadString(QStringLiteral("Addrs")));
    m_login->LPort->setText(m_store->ReadString(QStringLiteral("Port")));
    Site = m_store->ReadString(QStringLiteral("Sitio"));

    // 6
    if (!loginLoop()) {
        releaseTemporary();
        m_login.reset();
        m_store.reset();
        m_splash->HideNow();
        terminate();
        return;
    }

    // 7-14: a failure ends the sequence; the window opens with what was built.
    try {
        afterLogin();
    } catch (const std::exception &e) {
        m_splash->HideNow();
        vorel::ui::HandleException(e);
    }
    m_login.reset();
    m_store.reset();
    releaseTemporary();
    m_splash->HideNow();
}

bool TFMain::loginLoop()
{
    int attempts = 0;
    for (;;) {
        m_splash->SetCaption(QString());
        m_splash->HideNow();
        ++attempts;
        if (attempts == 4)
            return false;
        if (m_login->exec() != QDialog::Accepted)
            return false;
        m_splash->SetCaption(QStringLiteral("Conectando ..."));
        m_splash->ShowNow();

        // A field that is full may hold a pasted text cut short: better
        // refused than sent as something the user did not type.
        QString cut;
        for (const QLineEdit *field : {m_login->lLogin, m_login->lPaswd, m_login->ldBase, m_login->lAddrs, m_login->LPort})
            if (cut.isEmpty())
                cut = vorel::ui::CutTextMessage(field);
        if (!cut.isEmpty()) {
            m_splash->HideNow();
            vorel::ui::ShowMessage(cut);
            continue;
        }

        // A port that is not a whole number is a failed attempt like any
        // other: the user gets the dialog back with what they typed.
        bool portOk = false;
        const int port = m_login->LPort->text().trimmed().toInt(&portOk);
        if (!portOk) {
            m_splash->HideNow();
            vorel::ui::ShowMessage(QStringLiteral("El puerto debe ser un número entero"));
            continue;
        }
        // The user number goes into SQL texts unquoted from here on: only a
        // number may, whatever the server would make of the rest.
        const QString user = m_login->lLogin->text().trimmed();
        if (!isUserNumber(user)) {
            m_splash->HideNow();
            vorel::ui::ShowMessage(QStringLiteral("El usuario debe ser un número"));
            continue;
        }
        const QString host = m_login->lAddrs->text();
        const QString serverName = QString::fromLatin1(TSocketConnection::DefaultServerName);
        SConect->SetHost(host);
        SConect->SetPort(port);
        SConect->SetServerName(serverName);
        cdsMain->SetRemoteServer(SConect);
        cdsBin->SetRemoteServer(SConect);

        UserId = user;
        Password = m_login->lPaswd->text();
        DataBase = m_login->ldBase->text();

        cdsMain->Close();
        SConect->Close();

        try {
            m_temporary = new TSocketConnection(this);
            m_temporary->SetHost(host);
            m_temporary->SetPort(port);
            m_temporary->SetServerName(serverName);
            m_temporary->Open();
            const QString workHost = m_temporary->Call(QStringLiteral("dServer"));

            SConect->SetHost(workHost);
            SConect->SetPort(port);
            SConect->SetServerName(serverName);
            SConect->Open();
            const quint64 login =
                SConect->PostCall(QStringLiteral("Login"), {UserId, Password, DataBase, ClientAddress});
            cdsBin->OpenAhead();
            // Behind the Login, in one wait with it: a failed Login leaves
            // them undone.
            sendFirstRequests();
            SConect->TakeCall(login);
            cdsBin->Settle();
            keepSession(host, port);
            return true;
        } catch (const std::exception &e) {
            m_splash->HideNow();
            releaseTemporary();
            forgetFirstRequests();
            cdsBin->Close();
            replaceConnection();
            vorel::ui::ShowMessage(vorel::ui::MessageOf(e));
        }
    }
}

void TFMain::keepSession(const QString &address, int port)
{
    TSocketConnection::Session session;
    session.address = address;
    session.login = QStringList{UserId, Password, DataBase, ClientAddress};
    SConect->SetSession(session);
    SConect->SetPort(port);
    // A password changed meanwhile: the user types the new one for the
    // session that stands, and nothing else.
    SConect->CredentialsRefused = [this](QStringList &login, const QString &refusal) {
        vorel::ui::ShowMessage(refusal);
        TFLogin dialog;
        dialog.setWindowTitle(QStringLiteral("Login ") + vorel::ui::ApplicationTitle());
        dialog.lLogin->setText(login.value(0));
        dialog.ldBase->setText(login.value(2));
        dialog.lAddrs->setText(SConect->CurrentSession().address);
        dialog.LPort->setText(QString::number(SConect->Port()));
        for (QLineEdit *fixed : {dialog.lLogin, dialog.ldBase, dialog.lAddrs, dialog.LPort})
            fixed->setReadOnly(true);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        Password = dialog.lPaswd->text();
        login[1] = Password;
        return true;
    };
}

void TFMain::sendFirstRequests()
{
    m_greeting = SConect->PostCall(QStringLiteral("MenIni"));
    m_shellVersion = std::make_unique<TClientDataSet>();
    m_shellVersion->SetProviderName(cdsBin->ProviderName());
    m_shellVersion->SetRemoteServer(SConect);
    m_shellVersion->SetCommandText(ShellVersionQuery());
    m_shellVersion->OpenAhead();
}

void TFMain::forgetFirstRequests()
{
    if (m_greeting != 0 && SConect)
        SConect->Forget(m_greeting);
    m_greeting = 0;
    m_shellVersion.reset();
}

void TFMain::afterLogin()
{
    // 7
    m_splash->HideNow();
    const quint64 greetingTicket = std::exchange(m_greeting, 0);
    const QString greeting = greetingTicket != 0 ? SConect->TakeCall(greetingTicket)
                                                 : SConect->Call(QStringLiteral("MenIni"));
    if (!greeting.isEmpty())
        vorel::ui::ShowMessage(greeting);
    m_splash->ShowNow();

    // 8: never the password.
    m_store->WriteString(QStringLiteral("login"), m_login->lLogin->text());
    m_store->WriteString(QStringLiteral("dBase"), m_login->ldBase->text());
    m_store->WriteString(QStringLiteral("Addrs"), m_login->lAddrs->text());
    m_store->WriteString(QStringLiteral("Port"), m_login->LPort->text());

    TSyncContext ctx;
    ctx.cdsMain = cdsMain;
    ctx.cdsBin = cdsBin;
    ctx.ImgBoton = ImgBoton;
    ctx.Store = m_store.get();
    ctx.SetStatus = [this](const QString &text) {
        m_splash->SetCaption(text);
        m_splash->ShowNow();
    };
    ctx.HideStatus = [this] { m_splash->HideNow(); };
    ctx.ShellFile = SyncShellFile.isEmpty() ? platform::ProgramFile() : SyncShellFile;
    ctx.ProgramFolder = SyncProgramFolder.isEmpty() ? platform::ProgramFolder() : SyncProgramFolder;
    const std::unique_ptr<TClientDataSet> shellVersion = std::move(m_shellVersion);
    ctx.ShellVersion = shellVersion.get();

    // 9
    if (SelfUpdateCheck(ctx)) {
        terminate();
        return;
    }
    // 10: an empty database name leaves the main key current.
    m_store->OpenKey(DataBase, true);
    // 11
    ButtonImageCache(ctx);
    ModuleLibrarySync(ctx);
    // 12
    MenuSetup();
    // 13
    setWindowTitle(vorel::ui::ApplicationTitle() + QStringLiteral(" ") + UserId + QStringLiteral("@") + DataBase
                   + QStringLiteral("   ") + SConect->Host() + QStringLiteral(":")
                   + QString::number(SConect->Port()));
    // 14
    SetShortDateFormat(QStringLiteral("DD/MM/YYYY"));
}

// ---- Closing and window commands -------------------------------------------

bool TFMain::FormCloseQuery()
{
    if (!vorel::ui::Confirm(QStringLiteral("Salir del Sistema")))
        return false;
    // Destroyed directly: a module window's own close check is not asked.
    while (!MdiArea->subWindowList().isEmpty()) {
        QMdiSubWindow *sub = MdiArea->activeSubWindow();
        if (!sub)
            sub = MdiArea->subWindowList().first();
        delete sub;
    }
    return true;
}

void TFMain::FormClose()
{
    SqlLines.Clear();
}

void TFMain::closeEvent(QCloseEvent *event)
{
    bool mayClose = false;
    vorel::ui::Guarded([&] { mayClose = FormCloseQuery(); });
    if (!mayClose) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TFMain::Salir1Click()
{
    close();
}

void TFMain::Apilar1Click()
{
    MdiArea->tileSubWindows();
}

void TFMain::Cascada1Click()
{
    MdiArea->cascadeSubWindows();
}

void TFMain::Siguiente1Click()
{
    MdiArea->activateNextSubWindow();
}

void TFMain::Anterior1Click()
{
    MdiArea->activatePreviousSubWindow();
}

void TFMain::Version1Click()
{
    vorel::ui::ShowMessage(QStringLiteral("Vorel 3 Capas para Win32") + QStringLiteral("\r") + QStringLiteral("version ")
                           + vorel::FileVersionText(platform::ProgramFile()));
}

// ---- Menu merging -----------------------------------------------------------

void TFMain::unmergeChildMenus()
{
    for (const QPointer<QAction> &a : std::as_const(m_mergedActions)) {
        if (a)
            MMenu->removeAction(a);
    }
    m_mergedActions.clear();
    for (const QPointer<QAction> &a : std::as_const(m_hiddenFrameMenus)) {
        if (a)
            a->setVisible(true);
    }
    m_hiddenFrameMenus.clear();
    m_mergedSub = nullptr;
}

void TFMain::childActivated(QMdiSubWindow *sub)
{
    // The area reports no active child while the frame itself is inactive
    // (a dialog is up); the child keeps its menus until another one takes
    // over or it goes away.
    if (!sub)
        sub = MdiArea->currentSubWindow();
    if (sub == m_mergedSub && (sub || m_mergedActions.isEmpty()))
        return;
    unmergeChildMenus();
    if (!sub)
        return;
    auto *child = qobject_cast<QMainWindow *>(sub->widget());
    auto *bar = child ? qobject_cast<QMenuBar *>(child->menuWidget()) : nullptr;
    if (!bar)
        return;
    QList<QAction *> childMenus;
    for (QAction *a : bar->actions()) {
        if (a->menu() && a->menu()->property(kMergeGroup).isValid())
            childMenus << a;
    }
    if (childMenus.isEmpty())
        return;
    bar->hide();

    const QList<QAction *> frameMenus = MMenu->actions();
    for (QAction *menu : std::as_const(childMenus)) {
        const int group = mergeGroup(menu);
        QAction *before = nullptr;
        for (QAction *f : frameMenus) {
            if (!f->menu())
                continue;
            const int fg = mergeGroup(f);
            // A child menu takes the place of the frame's menus of its group.
            if (fg == group && f->isVisible()) {
                f->setVisible(false);
                m_hiddenFrameMenus << f;
            }
            if (fg > group && !before)
                before = f;
        }
        MMenu->insertAction(before, menu);
        m_mergedActions << menu;
    }
    m_mergedSub = sub;
    const auto gone = [this] {
        if (!m_mergedSub)
            unmergeChildMenus();
    };
    connect(sub, &QObject::destroyed, this, gone, Qt::QueuedConnection);
    connect(child, &QObject::destroyed, this, [this, sub] {
        if (m_mergedSub == sub)
            unmergeChildMenus();
    });
}

} // namespace vorel::shell
