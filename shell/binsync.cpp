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

// Sent now, its answer read where it is first used.
void queryAhead(TClientDataSet *ds, const QString &sql)
{
    ds->Close();
    ds->SetCommandText(sql);
    ds->OpenAhead();
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
           && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

// Why an ELF file is cut short, or empty when it is whole (or no ELF file):
// its headers and every part they point to must lie inside it. A library
// cut short replaces a working one and then fails to load.
QString incompleteElf(const QByteArray &data)
{
    if (!data.startsWith("\x7f" "ELF"))
        return {};
    const auto size = quint64(data.size());
    const bool wide = data.size() > 4 && data.at(4) == 2;
    const bool big = data.size() > 5 && data.at(5) == 2;
    const quint64 headerSize = wide ? 64 : 52;
    if (size < headerSize)
        return QStringLiteral("le falta la cabecera");
    const auto at = [&](quint64 offset, int bytes) -> quint64 {
        if (offset + quint64(bytes) > size)
            return ~quint64(0);
        quint64 v = 0;
        for (int i = 0; i < bytes; ++i) {
            const quint64 b = uchar(data.at(qsizetype(offset) + (big ? i : bytes - 1 - i)));
            v = (v << 8) | b;
        }
        return v;
    };
    const int word = wide ? 8 : 4;
    const quint64 phoff = at(wide ? 32 : 28, word);
    const quint64 shoff = at(wide ? 40 : 32, word);
    const quint64 phentsize = at(wide ? 54 : 42, 2);
    const quint64 phnum = at(wide ? 56 : 44, 2);
    const quint64 shentsize = at(wide ? 58 : 46, 2);
    const quint64 shnum = at(wide ? 60 : 48, 2);
    const auto inside = [&](quint64 offset, quint64 length) {
        return offset <= size && length <= size - offset;
    };
    if (phnum && !inside(phoff, phentsize * phnum))
        return QStringLiteral("le faltan las cabeceras de programa");
    for (quint64 i = 0; i < phnum; ++i) {
        const quint64 ph = phoff + i * phentsize;
        const quint64 offset = at(ph + (wide ? 8 : 4), word);
        const quint64 length = at(ph + (wide ? 32 : 16), word);
        if (!inside(offset, length))
            return QStringLiteral("le falta parte del programa");
    }
    if (shoff && !inside(shoff, shentsize * shnum))
        return QStringLiteral("le faltan las cabeceras de secciones");
    for (quint64 i = 0; shoff && i < shnum; ++i) {
        const quint64 sh = shoff + i * shentsize;
        const quint64 type = at(sh + 4, 4);
        constexpr quint64 NoBits = 8;
        const quint64 offset = at(sh + (wide ? 24 : 16), word);
        const quint64 length = at(sh + (wide ? 32 : 20), word);
        if (type != NoBits && type != 0 && !inside(offset, length))
            return QStringLiteral("le falta parte de una sección");
    }
    return {};
}

// One message for the problems of a step, which then goes on without them.
void reportProblems(const TSyncContext &ctx, const QString &summary, const QStringList &problems)
{
    if (problems.isEmpty())
        return;
    if (ctx.HideStatus)
        ctx.HideStatus();
    constexpr int Shown = 5;
    QString text = problems.size() == 1 ? problems.first()
                                        : summary.arg(problems.size()) + QLatin1Char('\n')
                                              + problems.mid(0, Shown).join(QLatin1Char('\n'));
    if (problems.size() > Shown)
        text += QStringLiteral("\n...");
    ui::HandleException(Exception(text));
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

QString ShellVersionQuery()
{
    return QStringLiteral("SELECT BINS_Vers Vers FROM Vorel.TBINS WHERE UPPER(BINS_Arch)= 'VOREL7.EXE' ");
}

bool SelfUpdateCheck(TSyncContext &ctx)
{
    TClientDataSet *bin = ctx.cdsBin;
    TClientDataSet *listing = ctx.ShellVersion;
    if (!listing) {
        query(bin, ShellVersionQuery());
        listing = bin;
    }
    const bool listed = !listing->IsEmpty();
    const QString current = FileVersionText(shellFile(ctx));
    const QString next = fieldText(listing, QStringLiteral("Vers"));

    removeIfExists(UpdaterCopy);

    // A refusal holds for the version refused; once the database lists
    // another, that one is tried.
    const Refusal refusal = readRefusal();
    if (refusal.present && !(listed && refusal.version == next && current != next))
        QFile::remove(RefusalFile);

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
    // Both go out before either answer is read.
    queryAhead(bin, QStringLiteral("SELECT PARA_Valor Vers FROM Vorel.TParams WHERE PARA_Param= 'VERBOTON' "));
    queryAhead(main, QStringLiteral("SELECT BOTO_Boton Boton, DECODE( SIGN(BOTO_Boton-10), -1, '0','')||BOTO_Boton Cade FROM vorel.TBOTONES"));
    const QString setVersion = fieldText(bin, QStringLiteral("VERS"));

    // A file that cannot be written is told and left out; the others and
    // the rest of the start-up go on.
    QStringList unsaved;
    while (!main->Eof()) {
        const QString cade = fieldText(main, QStringLiteral("Cade"));
        const QString path = folder + QLatin1Char('/') + cade + QStringLiteral(".bmp");
        if (!(QFileInfo::exists(path) && stored == setVersion) && isPlainFileName(cade + QStringLiteral(".bmp"))) {
            query(bin, QStringLiteral("SELECT BOTO_Boton, BOTO_Img FROM vorel.TBOTONES WHERE BOTO_Boton=")
                           + fieldText(main, QStringLiteral("Boton")));
            try {
                bin->FieldByName(QStringLiteral("BOTO_Img"))->SaveToFile(path);
            } catch (const Exception &e) {
                unsaved << e.message();
            }
        }
        main->Next();
    }

    // Only a set stored whole counts as this version: what failed is
    // fetched again at the next start.
    if (unsaved.isEmpty())
        store->WriteString(verBoton, setVersion);
    reportProblems(ctx, QStringLiteral("No se pudieron guardar %1 imágenes de botones:"), unsaved);

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
        QStringList damaged;
        for (const QString &file : files) {
            // A damaged image keeps its place with an empty one, so the
            // buttons after it keep theirs; the file goes, to be fetched
            // again at the next start.
            if (!ctx.ImgBoton->AddBitmapFile(file, magenta)) {
                damaged << QStringLiteral("La imagen de botón %1 está dañada; el botón queda sin imagen")
                               .arg(QDir::toNativeSeparators(file));
                QFile::remove(file);
            }
        }
        reportProblems(ctx, QStringLiteral("%1 imágenes de botones están dañadas:"), damaged);
    }
}

void ModuleLibrarySync(TSyncContext &ctx)
{
    TClientDataSet *main = ctx.cdsMain;
    TClientDataSet *bin = ctx.cdsBin;
    const QString program = programFolder(ctx);
    query(main, QStringLiteral("SELECT BINS_Raiz Raiz, BINS_Arch Archivo, BINS_Vers Version FROM vorel.TBINS WHERE BINS_GUI= 'WIN32' "));
    QStringList problems;
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
        // A file that cannot be put in place is told and left as it was;
        // the other files and the rest of the start-up go on.
        if (!QFileInfo(folder).isDir()) {
            problems << QStringLiteral("No existe la carpeta ") + QDir::toNativeSeparators(folder);
            continue;
        }
        const QByteArray contents = bin->FieldByName(QStringLiteral("BINS_Bin"))->AsBytes();
        QString incomplete = incompleteElf(contents);
        if (incomplete.isEmpty() && contents.isEmpty() && !version.isEmpty())
            incomplete = QStringLiteral("está vacío");
        if (!incomplete.isEmpty()) {
            problems << QStringLiteral("El archivo %1 de la base de datos está incompleto (%2); no se instala")
                            .arg(name, incomplete);
            continue;
        }
        try {
            bin->FieldByName(QStringLiteral("BINS_Bin"))->SaveToFile(path);
        } catch (const Exception &e) {
            problems << e.message();
        }
    }
    reportProblems(ctx, QStringLiteral("No se pudieron instalar %1 archivos:"), problems);
}

} // namespace vorel::shell
