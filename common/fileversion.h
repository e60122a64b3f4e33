#pragma once
#include "common/vorelglobal.h"

#include <QString>

namespace vorel {

// The file version text: the four 16-bit numbers of a file's version record
// joined by "." in decimal ("7.0.0.6"); empty for a missing file, one without
// a record, or a malformed one. Reads the ELF note our builds embed
// (common/versionnote.c) and the fixed version record of Windows PE files.
VOREL_CORE_EXPORT QString FileVersionText(const QString &path);

} // namespace vorel
