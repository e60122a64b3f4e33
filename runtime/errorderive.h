#pragma once
// The non-GUI half of the error translation: what can be derived from a
// failure's message text, and the translation from looked-up values.
#include "common/vorelglobal.h"

#include <QString>

namespace vorel::errors {

// Number after the first "ORA-" (five characters, decimal); 0 without one.
VOREL_CORE_EXPORT int ErrorNumber(const QString &message);
// Text between the first "(" after that "ORA-" and the next ")", reduced to
// what follows its first period with double quotes removed; empty without
// parentheses.
VOREL_CORE_EXPORT QString ConstraintReference(const QString &message);
// First line of a one-line comment, second line of a longer one.
VOREL_CORE_EXPORT QString CommentLine(const QString &comment);
// Number of lines of a comment (a final line break adds none).
VOREL_CORE_EXPORT int CommentLineCount(const QString &comment);
// Single-quoted SQL literal with quotes doubled.
VOREL_CORE_EXPORT QString Quoted(const QString &value);
// The 20001 text: first line of the message from the character after the
// colon that follows the number.
VOREL_CORE_EXPORT QString ApplicationErrorLine(const QString &message);

} // namespace vorel::errors
