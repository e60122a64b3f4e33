#include "server/backend/sqlite/sqlitelike.h"

#include <cstring>
#include <sqlite3.h>

namespace vorel::server {

namespace {

// One character of UTF-8 as SQLite reads it: lenient, a bad sequence is
// U+FFFD and never runs past the end.
uint32_t readChar(const unsigned char *&p, const unsigned char *end)
{
    uint32_t c = *p++;
    if (c < 0xc0)
        return c;
    c = c < 0xe0 ? c & 0x1f : c < 0xf0 ? c & 0x0f : c < 0xf8 ? c & 0x07 : c < 0xfc ? c & 0x03 : c & 0x01;
    while (p < end && (*p & 0xc0) == 0x80)
        c = (c << 6) + (0x3f & *p++);
    if (c < 0x80 || (c & 0xfffff800) == 0xd800 || (c & 0xfffffffe) == 0xfffe)
        c = 0xfffd;
    return c;
}

void likeFunction(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_BLOB || sqlite3_value_type(argv[1]) == SQLITE_BLOB) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    sqlite3 *db = sqlite3_context_db_handle(ctx);
    if (sqlite3_value_bytes(argv[0]) > sqlite3_limit(db, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, -1)) {
        sqlite3_result_error(ctx, "LIKE or GLOB pattern too complex", -1);
        return;
    }
    uint32_t escape = 0;
    if (argc == 3) {
        const unsigned char *e = sqlite3_value_text(argv[2]);
        if (!e)
            return;
        const unsigned char *end = e + std::strlen(reinterpret_cast<const char *>(e));
        const unsigned char *p = e;
        if (p < end)
            escape = readChar(p, end);
        if (e == end || p != end) {
            sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
            return;
        }
    }
    const unsigned char *pattern = sqlite3_value_text(argv[0]);
    const unsigned char *text = sqlite3_value_text(argv[1]);
    if (!pattern || !text)
        return;
    // SQLite's matcher ends both at the first NUL.
    const auto *stop = static_cast<const std::atomic<bool> *>(sqlite3_user_data(ctx));
    switch (likeMatch(pattern, std::strlen(reinterpret_cast<const char *>(pattern)), text,
                      std::strlen(reinterpret_cast<const char *>(text)), escape, stop)) {
    case LikeOutcome::Match: sqlite3_result_int(ctx, 1); break;
    case LikeOutcome::NoMatch: sqlite3_result_int(ctx, 0); break;
    case LikeOutcome::Stopped: sqlite3_result_error_code(ctx, SQLITE_INTERRUPT); break;
    }
}

} // namespace

LikeOutcome likeMatch(const unsigned char *pattern, size_t patternBytes, const unsigned char *text, size_t textBytes,
                      uint32_t escape, const std::atomic<bool> *stop)
{
    const unsigned char *p = pattern, *const pEnd = pattern + patternBytes;
    const unsigned char *t = text, *const tEnd = text + textBytes;
    // Where the last '%' was met, and where its run of text now ends: a
    // mismatch after it lets the '%' take one character more. One '%' to
    // go back to is enough, so the work is at most text times pattern.
    const unsigned char *afterPercent = nullptr, *percentText = nullptr;
    unsigned steps = 0;
    for (;;) {
        if (stop && (++steps & 0xffff) == 0 && stop->load(std::memory_order_relaxed))
            return LikeOutcome::Stopped;
        if (p < pEnd) {
            uint32_t c = readChar(p, pEnd);
            bool literal = false;
            if (escape != 0 && c == escape) {
                if (p >= pEnd)
                    return LikeOutcome::NoMatch;
                c = readChar(p, pEnd);
                literal = true;
            }
            if (!literal && c == '%') {
                afterPercent = p;
                percentText = t;
                continue;
            }
            if (t < tEnd && !literal && c == '_') {
                readChar(t, tEnd);
                continue;
            }
            if (t < tEnd) {
                const unsigned char *next = t;
                if (readChar(next, tEnd) == c) {
                    t = next;
                    continue;
                }
            }
        } else if (t >= tEnd) {
            return LikeOutcome::Match;
        }
        // A mismatch.
        if (!afterPercent || percentText >= tEnd)
            return LikeOutcome::NoMatch;
        readChar(percentText, tEnd);
        t = percentText;
        p = afterPercent;
    }
}

void registerLike(sqlite3 *db, const std::atomic<bool> *stop)
{
    void *data = const_cast<std::atomic<bool> *>(stop);
    for (const int args : {2, 3})
        sqlite3_create_function_v2(db, "like", args, SQLITE_UTF8 | SQLITE_DETERMINISTIC, data, likeFunction, nullptr,
                                   nullptr, nullptr);
}

} // namespace vorel::server
