#pragma once
// The functions a client's statement may call on PostgreSQL, as a list:
// what the dialect turns Oracle's functions into, what business SQL uses,
// and the words of SQL that a parenthesis may follow. Anything else is
// refused by name before PostgreSQL sees the text, so that a function
// nobody vetted (one that runs SQL given as text, signals a backend,
// changes a setting) is never reached, whatever PostgreSQL adds later.
#include <QStringView>

namespace vorel::server::pg {

// True when `name` followed by "(" may stand in a client's statement: a
// function of the list or of the schema's own ora_ helpers, or a keyword.
// Compared without regard to case.
bool callAllowed(QStringView name);

// True when `name` is a word of SQL, not a function (IN, VALUES, OVER...).
bool isKeywordBeforeParenthesis(QStringView name);

} // namespace vorel::server::pg
