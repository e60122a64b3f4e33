#pragma once
// The exports that cross library boundaries, declared once for caller and
// callee. All have C linkage and are looked up by exact name:
//   Cambia:  creaObj, main (the account entry)
//   Comun and every class library: main, or the method's export, with the
//   signature of TModuleEntryFn.
// C++ reserves the name `main` for the program entry, so a library gives its
// export that symbol name with an asm label: VOREL_EXPORT_AS_MAIN. The
// function keeps a C++ name of its own and only its symbol is "main":
//   extern "C" Q_DECL_EXPORT QWidget *ComunMain(const QString &name,
//       vorel::TSnVorel *session) VOREL_EXPORT_AS_MAIN;
// The label is the whole symbol name (no platform prefix is added), so it is
// written for targets whose C symbols carry none: ELF, and x86-64 Windows,
// where the entry's dllexport puts "main" in the export table. A library exports
// "main" from its own symbol table; a lookup through that library's handle
// finds it there and never the program's own entry.
#include <QString>
#include <QtGlobal>

class QWidget;
namespace vorel {
class TSocketConnection;
class TImageList;
class TSnVorel;
}

#define VOREL_EXPORT_AS_MAIN __asm__("main")

extern "C" {
// creaObj(connection, image list, role, class id, out result)
typedef void (*TCreaObjFn)(vorel::TSocketConnection *connection, vorel::TImageList *images,
                           const QString &role, const QString &className, QString &result);
// main(user id, mode 0/1/2, connection, out new user)
typedef void (*TAccountMainFn)(const QString &userId, qint32 mode,
                               vorel::TSocketConnection *connection, QString &newUser);
// Module entry: (name, gateway) -> window (not shown) or nullptr.
typedef QWidget *(*TModuleEntryFn)(const QString &name, vorel::TSnVorel *session);
}
