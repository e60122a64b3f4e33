// The module entry of the generic class browser: a list window for any
// class, unshown (the gateway shows it).
#include "browser/frmvrllis.h"
#include "runtime/exports.h"
#include "runtime/snvorel.h"

#include <type_traits>

extern "C" {
Q_DECL_EXPORT QWidget *ComunMain(const QString &name, vorel::TSnVorel *session) VOREL_EXPORT_AS_MAIN;
}

static_assert(std::is_same_v<decltype(&ComunMain), TModuleEntryFn>);

// A failure of the construction leaves here for the gateway to report;
// there is never a window to return in its place.
QWidget *ComunMain(const QString &name, vorel::TSnVorel *session)
{
    return new vorel::TfrmVrlLis(name, QStringLiteral("main"), session);
}
