// The role bar, the role and user menus and the launch of use cases and
// account dialogs through the library Cambia.
#include "shell/fmain.h"

#include "common/exception.h"
#include "common/platform.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "runtime/exports.h"
#include "runtime/imagelist.h"
#include "runtime/ui.h"
#include "shell/fsplash.h"
#include "shell/outbar.h"

#include <QAbstractButton>
#include <QAction>
#include <QMenu>

namespace vorel::shell {

namespace {
const QString kUseCaseClasses = QStringLiteral(
    "  And EXISTS (SELECT CUSO_Clase FROM vorel.TCUSOS WHERE CUSO_GUI= 'WIN32' And CUSO_Clase= CLAR_Clase And "
    "CUSO_Activo= 1) ");

void *loadCambia()
{
    void *lib = platform::LoadLibrary(QStringLiteral("Cambia"));
    if (!lib)
        throw Exception(QStringLiteral("No se puede cargar Libreria"));
    return lib;
}
} // namespace

namespace {
// A query of cdsMain's provider on a dataset of its own, sent now and read
// where it is first used, so that cdsMain can ask the next one meanwhile.
std::unique_ptr<TClientDataSet> queryBeside(const TClientDataSet *main, const QString &sql)
{
    auto q = std::make_unique<TClientDataSet>();
    q->SetProviderName(main->ProviderName());
    q->SetRemoteServer(main->RemoteServer());
    q->SetCommandText(sql);
    q->OpenAhead();
    return q;
}
} // namespace

void TFMain::openMain(const QString &sql)
{
    cdsMain->Close();
    cdsMain->SetCommandText(sql);
    cdsMain->Open();
}

void TFMain::openMainLines()
{
    openMain(SqlLines.Text());
}

QString TFMain::ItemId(const QObject *item) const
{
    const int i = ItemIds.IndexOfObject(item);
    return i < 0 ? QString() : ItemIds.Strings(i);
}

void TFMain::MenuSetup()
{
    // The two questions go out before either answer is read.
    const std::unique_ptr<TClientDataSet> admin = queryBeside(
        cdsMain, QStringLiteral("SELECT USUR_Usua FROM vorel.TUSUROL WHERE USUR_Usua= ") + UserId
                     + QStringLiteral(" And USUR_Admin <> 0"));
    SqlLines.Clear();
    SqlLines << QStringLiteral("SELECT ") << QStringLiteral(" USUM_Usua ") << QStringLiteral("FROM vorel.TUSUMROL ")
             << QStringLiteral("WHERE USUM_Usua= ") + UserId;
    cdsMain->Close();
    cdsMain->SetCommandText(SqlLines.Text());
    cdsMain->OpenAhead();
    if (!admin->IsEmpty()) {
        mAdmUsu = new QAction(QStringLiteral("Admin &Usuarios"), this);
        mAdmUsu->setObjectName(QStringLiteral("mAdmUsu"));
        connect(mAdmUsu, &QAction::triggered, this, [this] { vorel::ui::Guarded([&] { AdmUsus(); }); });
        Archivo1->insertAction(Archivo1->actions().value(0), mAdmUsu);
    }

    m_splash->SetCaption(QStringLiteral("Cargando Roles..."));

    if (cdsMain->IsEmpty()) {
        CambUsua(UserId);
        return;
    }

    // A multi-role user chooses a role or a user; the bar starts empty.
    mRol = new QMenu(QStringLiteral("Cambiar &Rol"), this);
    mRol->setObjectName(QStringLiteral("mRol"));
    mRol->menuAction()->setObjectName(QStringLiteral("mRol"));
    Archivo1->insertMenu(Archivo1->actions().value(0), mRol);

    SqlLines.Clear();
    SqlLines << QStringLiteral("SELECT *  ") << QStringLiteral("FROM vorel.TROLES   ") << QStringLiteral("WHERE EXISTS ")
             << QStringLiteral(" (SELECT CUSO_Cuso FROM vorel.TMETROL, vorel.TCUSOS ")
             << QStringLiteral("  WHERE METR_Metodo= CUSO_Metodo ") << QStringLiteral("    And METR_Clase= CUSO_Clase ")
             << QStringLiteral("    And METR_Rol= ROLE_Rol  ") << QStringLiteral("    And CUSO_GUI= 'WIN32') ")
             << QStringLiteral("ORDER BY ROLE_Rol ");
    openMainLines();
    cdsMain->First();
    while (!cdsMain->Eof()) {
        QAction *role = mRol->addAction(cdsMain->FieldByName(QStringLiteral("ROLE_Etiq"))->AsString());
        role->setObjectName(cdsMain->FieldByName(QStringLiteral("ROLE_Rol"))->AsString());
        connect(role, &QAction::triggered, this, [this, role] { vorel::ui::Guarded([&] { CambRol(role); }); });
        cdsMain->Next();
    }

    mUsuario = new QAction(QStringLiteral("Cambiar &Usuario"), this);
    mUsuario->setObjectName(QStringLiteral("mUsuario"));
    connect(mUsuario, &QAction::triggered, this, [this] { vorel::ui::Guarded([&] { meMailClick(mUsuario); }); });
    Archivo1->insertAction(Archivo1->actions().value(0), mUsuario);
}

void TFMain::CargaCuso()
{
    TClientDataSet *d = cdsMain;
    d->First();
    while (!d->Eof()) {
        QWidget *page = OutBar->AddPage(d->FieldByName(QStringLiteral("ROLE_Etiq"))->AsString());
        Scratch = d->FieldByName(QStringLiteral("ROLE_Rol"))->AsString();
        ItemIds.InsertObject(0, Scratch, page);
        // Rows of one role follow each other; a role split in two runs
        // gets two pages.
        while (!d->Eof() && d->FieldByName(QStringLiteral("ROLE_Rol"))->AsString() == Scratch) {
            QAbstractButton *button = OutBar->AddButton(page, d->FieldByName(QStringLiteral("CLAR_Etiq"))->AsString());
            ItemIds.InsertObject(0, d->FieldByName(QStringLiteral("CLAR_Clase"))->AsString(), button);
            d->Next();
        }
    }
}

void TFMain::CambRol(QObject *Sender)
{
    OutBar->Clear();
    const QString role = Sender ? Sender->objectName() : QString();
    SqlLines.Clear();
    SqlLines << QStringLiteral("SELECT ")
             << QStringLiteral(" ROLE_Rol, ROLE_Etiq, CLAR_Clase, NVL(CLAR_Etiq, CLAS_Etiq) CLAR_Etiq ")
             << QStringLiteral("FROM vorel.TROLES, Vorel.TCLAROL, Vorel.TCLASES ")
             << QStringLiteral("WHERE ROLE_Rol= '") + role + QStringLiteral("' ")
             << QStringLiteral("  And CLAR_Rol= ROLE_Rol ") << QStringLiteral("  And CLAR_Activo= 1 ")
             << QStringLiteral("  And CLAR_Menu= 1 ") << QStringLiteral("  And CLAS_Clase= CLAR_Clase ")
             << kUseCaseClasses;
    openMainLines();
    CargaCuso();
}

void TFMain::CambUsua(const QString &UserArg)
{
    // A copy: the caller may hand in the scratch text, which the bar
    // building below overwrites with role ids.
    const QString User = UserArg;
    // The name and the roles go out before either answer is read.
    const std::unique_ptr<TClientDataSet> person =
        queryBeside(cdsMain, QStringLiteral("SELECT USUA_Nombre FROM TUSUARIOS WHERE USUA_Usua= ") + User);

    SqlLines.Clear();
    SqlLines << QStringLiteral("SELECT ")
             << QStringLiteral(" ROLE_Rol, ROLE_Etiq, CLAR_Clase, NVL(CLAR_Etiq, CLAS_Etiq) CLAR_Etiq ")
             << QStringLiteral("FROM vorel.TROLES, Vorel.TUSUROL, Vorel.TCLAROL, Vorel.TCLASES ")
             << QStringLiteral("WHERE USUR_Usua= ") + User << QStringLiteral("  And USUR_Admin <> 2")
             << QStringLiteral("  And USUR_Rol= ROLE_Rol ") << QStringLiteral("  And CLAR_Rol= ROLE_Rol ")
             << QStringLiteral("  And CLAR_Activo= 1 ") << QStringLiteral("  And CLAR_Menu= 1 ")
             << QStringLiteral("  And CLAS_Clase= CLAR_Clase ") << kUseCaseClasses
             << QStringLiteral("ORDER BY ROLE_Rol ");
    cdsMain->Close();
    cdsMain->SetCommandText(SqlLines.Text());
    cdsMain->OpenAhead();
    const QString name =
        person->IsEmpty() ? QString() : person->FieldByName(QStringLiteral("USUA_Nombre"))->AsString();
    OutBar->Clear();
    CargaCuso();

    setWindowTitle(vorel::ui::ApplicationTitle() + QStringLiteral(" ") + UserId + QStringLiteral("@") + DataBase
                   + QStringLiteral("   ") + SConect->Host() + QStringLiteral(":") + QString::number(SConect->Port())
                   + QStringLiteral(" Conectado como : ") + User + QStringLiteral("-") + name);
}

void TFMain::AdmUsus()
{
    AbreCuso(QStringLiteral("ADMIN"), QStringLiteral("USUROL"));
}

void TFMain::OutBarButtonClick(QObject *Sender, int Index)
{
    if (Index == -1)
        return;
    QWidget *page = OutBar->ActivePage();
    QAbstractButton *button = OutBar->Button(page, Index);
    if (!page || !button)
        return;
    const QString classId = ItemId(button);
    const QString roleId = ItemId(page);
    AbreCuso(roleId, classId);
}

void TFMain::AbreCuso(const QString &RoleId, const QString &ClassId)
{
    void *lib = loadCambia();
    auto creaObj = reinterpret_cast<TCreaObjFn>(platform::GetProcAddress(lib, "creaObj"));
    if (!creaObj)
        throw Exception(QStringLiteral("No se puede cargar la función"));
    QString result;
    try {
        creaObj(SConect, ImgBoton, RoleId, ClassId, result);
    } catch (const std::exception &e) {
        vorel::ui::ShowMessage(vorel::ui::MessageOf(e));
    }
}

void TFMain::meMailClick(QObject *Sender)
{
    void *lib = loadCambia();
    const QString name = Sender ? Sender->objectName() : QString();
    qint32 mode = 2;
    if (name == QLatin1String("mPaswd"))
        mode = 0;
    else if (name == QLatin1String("meMail"))
        mode = 1;
    auto accountMain = reinterpret_cast<TAccountMainFn>(platform::GetProcAddress(lib, "main"));
    if (!accountMain)
        throw Exception(QStringLiteral("No se puede cargar la función"));
    QString newUser;
    try {
        accountMain(UserId, mode, SConect, newUser);
    } catch (const std::exception &e) {
        vorel::ui::ShowMessage(vorel::ui::MessageOf(e));
    }
    Scratch = newUser;
    if (mode == 2 && !Scratch.isEmpty()) {
        // A session opened again acts on behalf of the same user.
        SConect->SetSessionRestore({QStringLiteral("UPDATE VOREL.RSESION SET SESI_USUADer= ") + Scratch});
        CambUsua(Scratch);
    }
}

} // namespace vorel::shell
