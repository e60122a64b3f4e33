#pragma once
// What a session's statements may touch, read from the Oracle text the
// client sent, the same on every engine. The engines hold a second line of
// their own for what a text cannot show (a SELECT * that reaches the
// password hashes): SQLite's authoriser, PostgreSQL's column grants.
#include <QString>
#include <QStringView>
#include <optional>

namespace vorel::server::rights {

// Who may write a table through a client's statements; the server's own
// statements and the schema's triggers are not asked.
enum class Writers {
    Administrators, // identity, rights and code: users with an administrator's grant
    Appenders,      // the logs: rows added by anyone, changed by no one
    Session,        // a session's own working rows
    Nobody,         // the dictionary registry and the session's own row
    Classes,        // business data: the users whose roles hold a class that writes it
};

// The column no statement of a client may name: the hashes never leave the
// server, and a copy of one into a readable column would.
inline constexpr char kPasswordTable[] = "TUSUARIOS";
inline constexpr char kPasswordColumn[] = "USUA_PASWD";

struct Write {
    enum class Op { Insert, Update, Delete, Merge };
    Op op = Op::Insert;
    // Upper case, without its schema; empty when the target is no plain
    // name (a subquery, a link): nobody's right covers what is not named.
    QString table;
};
// The target of an INSERT, UPDATE, DELETE or MERGE; nullopt for any other
// text.
std::optional<Write> writeOf(QStringView oracleSql);

// True when the text names the password column, bare or quoted, anywhere
// but where a value is written into it: the column list of an INSERT, or
// an UPDATE's "USUA_Paswd = '<text>'". Written there the value is hashed;
// named anywhere else it could be read or copied where it could be.
bool readsPasswordColumn(QStringView oracleSql);

// The statements a user without an administrator's grant sends about his
// own account, recognised only in the exact form the account dialogs write.
struct SelfService {
    enum class Kind {
        None,
        Password, // UPDATE <s>.TUsuarios SET USUA_Paswd= '<text>' WHERE USUA_Usua= <n>
        EMail,    // UPDATE <s>.TUsuarios SET USUA_eMail= '<text>' WHERE USUA_Usua= <n>
        ActAs,    // UPDATE <s>.RSESION SET SESI_USUADer= <n>, <n> possibly missing
    };
    Kind kind = Kind::None;
    QString user; // <n>, digits only; empty for an ActAs without one
};
SelfService selfServiceOf(QStringView oracleSql);

// A table's name as the checks read it: letters, digits, _, $ and #, at
// most 128 of them; false for anything else.
bool plainName(QStringView name);

} // namespace vorel::server::rights
