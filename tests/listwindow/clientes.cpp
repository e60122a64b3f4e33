// A class library for CLIENTES with two of its methods: CliEditar opens a
// module window of its own, IMPRIMIR fails as a printer would.
#include "common/exception.h"
#include "runtime/exports.h"
#include "runtime/frmvrl.h"

extern "C" {
Q_DECL_EXPORT QWidget *CliEditar(const QString &name, vorel::TSnVorel *session)
{
    return new vorel::TfrmVrl(name, QStringLiteral("EDITAR"), session);
}

Q_DECL_EXPORT QWidget *IMPRIMIR(const QString &, vorel::TSnVorel *)
{
    throw vorel::Exception(QStringLiteral("La impresora no responde"));
}
}
