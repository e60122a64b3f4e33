#pragma once
// LIKE as SQLite matches it with case_sensitive_like on ('%' any run of
// characters, '_' one, an optional escape character), but one that a
// cancelled request can stop midway: SQLite's own runs to its end however
// long, text times pattern, and nothing interrupts a function call.
#include <atomic>
#include <cstddef>
#include <cstdint>

struct sqlite3;

namespace vorel::server {

enum class LikeOutcome { Match, NoMatch, Stopped };

// `escape` 0: none. `stop` is looked at every so many steps.
LikeOutcome likeMatch(const unsigned char *pattern, size_t patternBytes, const unsigned char *text, size_t textBytes,
                      uint32_t escape, const std::atomic<bool> *stop);

// like(pattern, text[, escape]) on `db` in place of SQLite's; `stop` true
// ends a match under way with SQLITE_INTERRUPT. After the case sensitivity
// is set: setting it again brings SQLite's own back.
void registerLike(sqlite3 *db, const std::atomic<bool> *stop);

} // namespace vorel::server
