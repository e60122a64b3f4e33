#include "shell/binsync.h"

#include "common/exception.h"
#include "common/fileversion.h"
#include "common/platform.h"
#include "data/connection.h"
#include "data/dataset.h"
#include "runtime/imagelist.h"
#include "runtime/ui.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>

namespace vorel::shell {

namespace {

// File names of the self-update, relative to the working folder.
const QString NewVersionFile = QStringLiteral("newver");
const QString UpdaterShipped = QStringLiteral("Load.dll");
const QString UpdaterCopy = QStringLiteral("VorelL.exe");
const QString OldUpdaterCopy = QStringLiteral("QuemiL.exe");
const QString ShellRowName = QStringLiteral("VOREL7.EXE");
// Left by the updater when it would not install a downloaded shell: the
// version it refused and why. That version is not fetched again.
const QString RefusalFile = QStringLiteral("newver.rechazo");

QString shellFile(const TSyncContext &ctx)
{
    return ctx.ShellFile.isEmpty() ? platform::ProgramFile() : ctx.ShellFile;
}

QString programFolder(const TSyncContext &ctx)
{
    return ctx.ProgramFolder.isEmpty() ? platform::ProgramFolder() : ctx.ProgramFolder;
}

void status(const TSyncContext &ctx, const QString &text)
{
    if (ctx.SetStatus)
        ctx.SetStatus(text);
}

void query(TClientDataSet *ds, const QString &sql)
{
    ds->Close();
    ds->SetCommandText(sql);
    ds->Open();
}

QString fieldText(TClientDataSet *ds, const QString &name)
{
    return ds->FieldByName(name)->AsString();
}

void removeIfExists(const QString &name)
{
    if (QFileInfo::exists(name))
        QFile::remove(name);
}

// A file name from the database names one file in one folder; anything that
// would reach outside it is not ours to write.
bool isPlainFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

struct Refusal {
    bool present = false;
    QString version;
    QString reason;
    bool reported = false;
};

Refusal readRefusal()
{
    Refusal r;
    QFile f(RefusalFile);
    if (!f.open(QIODevice::ReadOnly))
        return r;
    // A file we cannot make sense of refuses nothing.
    const QJsonObject o = QJsonDocument::fromJson(f.read(64 * 1024)).object();
    if (!o.value(QStringLiteral("version")).isString())
        return r;
    r.present = true;
    r.version = o.value(QStringLiteral("version")).toString();
    r.reason = o.value(QStringLiteral("motivo")).toString();
    r.reported = o.value(QStringLiteral("avisado")).toBool();
    return r;
}

void markReported(const Refusal &r)
{
    QSaveFile f(RefusalFile);
    if (!f.open(QIODevice::WriteOnly))
        return;
    QJsonObject o;
    o.insert(QStringLiteral("version"), r.version);
    o.insert(QStringLiteral("motivo"), r.reason);
    o.insert(QStringLiteral("avisado"), true);
    f.write(QJsonDocument(o).toJson());
    f.commit();
}

} // namespace

bool SelfUpdateCheck(TSyncContext &ctx)
{
    TClientDataSet *bin = ctx.cdsBin;
    query(bin, QStringLiteral("SELECT BINS_Vers Vers FROM Vorel.TBINS WHERE UPPER(BINS_Arch)= 'VOREL7.EXE' "));
    const bool listed = !bin->IsEmpty();
    const QString current = FileVersionText(shellFile(ctx));
    const QString next = fieldText(bin, QStringLiteral("Vers"));

    removeIfExists(UpdaterCopy);

    // A refusal holds for the version refused; once the database lists
    // another, that one is tried.
    const Refusal refusal = readRefusal();
    if (refusal.present && !(listed && refusal.version == next)) {
        QFile::remove(RefusalFile);
    }

    // Without a row for the shell the database has nothing to update to.
    if (!listed || current == next)
        return false;

    if (refusal.present && refusal.version == next) {
        // The updater would not put this version in place: fetching and
        // restarting again would end the same way at every start.
        removeIfExists(NewVersionFile);
        if (!refusal.reported) {
            if (ctx.HideStatus)
                ctx.HideStatus();
            markReported(refusal);
            ui::ShowMessage(QStringLiteral("No se pudo actualizar la version de ") + current + QStringLiteral(" a ")
                            + next + QStringLiteral(": ") + refusal.reason
                            + QStringLiteral(". Se sigue con la version actual."));
        }
        return false;
    }

    removeIfExists(NewVersionFile);
    query(bin, QStringLiteral("SELECT BINS_Bin Bin FROM Vorel.TBINS WHERE UPPER(BINS_Arch)= 'VOREL7.EXE' "));
    TField *contents = bin->FieldByName(QStringLiteral("Bin"));
    // An empty blob would replace a working shell with nothing.
    if (bin->IsEmpty() || contents->AsBytes().isEmpty())
        return false;
    contents->SaveToFile(NewVersionFile);

    platform::CopyFileReplacing(UpdaterShipped, UpdaterCopy);
    QFile::setPermissions(UpdaterCopy, QFile::permissions(UpdaterCopy) | QFileDevice::ExeOwner
                                           | QFileDevice::ExeUser | QFileDevice::ExeGroup
                                           | QFileDevice::ExeOther);

    status(ctx, QStringLiteral("Actualizando la version de ") + current + QStringLiteral(" ---> ") + next
                    + QStringLiteral(" Espere por Favor"));

    // The updater takes no arguments; it learns which process to wait for and
    // which file to replace from its environment, inherited from ours.
    qputenv("VOREL_SHELL_PID", QByteArray::number(QCoreApplication::applicationPid()));
    qputenv("VOREL_SHELL_FILE", QFile::encodeName(QFileInfo(shellFile(ctx)).absoluteFilePath()));
    // The version it installs, for the refusal it leaves should it not.
    qputenv("VOREL_NEW_VERSION", next.toUtf8());
    platform::StartProgram(QDir::current().absoluteFilePath(UpdaterCopy));

    if (ctx.HideStatus)
        ctx.HideStatus();
    QFile::remove(OldUpdaterCopy);
    return true;
}

void ButtonImageCache(TSyncContext &ctx)
{
    platform::TSettingsStore *store = ctx.Store;
    const QString verBoton = QStringLiteral("VerBoton");
    if (!store->ValueExists(verBoton))
        store->WriteString(verBoton, QString());
    // The comparison below uses what was stored before this run, so a changed
    // set version fetches every image once.
    const QString stored = store->ReadString(verBoton);

    status(ctx, QStringLiteral("Cargando Botones ...."));

    const QString folder = QDir(programFolder(ctx)).filePath(QStringLiteral("Boton"));
    QDir().mkpath(folder);

    TClientDataSet *bin = ctx.cdsBin;
    TClientDataSet *main = ctx.cdsMain;
    query(bin, QStringLiteral("SELECT PARA_Valor Vers FROM Vorel.TParams WHERE PARA_Param= 'VERBOTON' "));
    const QString setVersion = fieldText(bin, QStringLiteral("VERS"));

    query(main, QStringLiteral("SELECT BOTO_Boton Boton, DECODE( SIGN(BOTO_Boton-10), -1, '0','')||BOTO_Boton Cade FROM vorel.TBOTONES"));
    while (!main->Eof()) {
        const QString cade = fieldText(main, QStringLiteral("Cade"));
        const QString path = folder + QLatin1Char('/') + cade + QStringLiteral(".bmp");
        if (!(QFileInfo::exists(path) && stored == setVersion) && isPlainFileName(cade + QStringLiteral(".bmp"))) {
            query(bin, QStringLiteral("SELECT BOTO_Boton, BOTO_Img FROM vorel.TBOTONES WHERE BOTO_Boton=")
                           + fieldText(main, QStringLiteral("Boton")));
            bin->FieldByName(QStringLiteral("BOTO_Img"))->SaveToFile(path);
        }
        main->Next();
    }

    store->WriteString(verBoton, setVersion);

    // Ordinary files only (QDir::Files without Hidden/System); the pattern
    // matches without regard to case, as on the desktop.
    QDir dir(folder);
    dir.setNameFilters({QStringLiteral("*.bmp")});
    dir.setFilter(QDir::Files);
    QStringList files;
    const QStringList names = dir.entryList();
    for (const QString &name : names)
        files.append(folder + QLatin1Char('/') + name);
    std::stable_sort(files.begin(), files.end(), [](const QString &a, const QString &b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });

    if (ctx.ImgBoton) {
        ctx.ImgBoton->Clear();
        const QColor magenta(255, 0, 255);
        for (const QString &file : files)
            ctx.ImgBoton->AddBitmapFile(file, magenta);
    }
}

void ModuleLibrarySync(TSyncContext &ctx)
{
    TClientDataSet *main = ctx.cdsMain;
    TClientDataSet *bin = ctx.cdsBin;
    const QString program = programFolder(ctx);
    query(main, QStringLiteral("SELECT BINS_Raiz Raiz, BINS_Arch Archivo, BINS_Vers Version FROM vorel.TBINS WHERE BINS_GUI= 'WIN32' "));
    for (; !main->Eof(); main->Next()) {
        const QString root = fieldText(main, QStringLiteral("Raiz"));
        const QString name = fieldText(main, QStringLiteral("Archivo"));
        const QString version = fieldText(main, QStringLiteral("Version"));

        // The shell's own row belongs to the self-update check, and a name
        // with folders in it is none of ours.
        if (name.toUpper() == ShellRowName || !isPlainFileName(name))
            continue;
        const QString folder = root == QLatin1String("1") ? platform::SystemFolder() : program;
        const QString path = QDir(folder).filePath(name);
        if (QFileInfo::exists(path) && FileVersionText(path) == version)
            continue;

        query(bin, QStringLiteral("SELECT BINS_Arch, BINS_Bin FROM vorel.TBINS WHERE BINS_Arch= '") + name
                       + QStringLiteral("'"));
        if (!QFileInfo(folder).isDir())
            throw Exception(QStringLiteral("No existe la carpeta ") + QDir::toNativeSeparators(folder));
        bin->FieldByName(QStringLiteral("BINS_Bin"))->SaveToFile(path);
    }
}

} // namespace vorel::shell
