#pragma once
// The error translation: the text a user is shown for a failure, derived
// from its message and looked up in the data dictionary. No GUI here; the
// gateway shows the result.
#include "common/vorelglobal.h"

#include <QString>

namespace vorel {
class TSocketConnection;
}

namespace vorel::errors {

// What the failure with `message` means to the user, from the dictionary
// lookups its number calls for (their texts as the server expects them, one
// after the other on one dataset); empty when nothing is known, and the
// failure is then shown as it came. A lookup that fails throws.
VOREL_CORE_EXPORT QString Translate(const QString &message, TSocketConnection *connection);

// The pieces derived from the text alone.

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
