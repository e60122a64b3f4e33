#pragma once
#include <QString>

// Oracle's messages as the client reads them (the number after "ORA-", the
// name in the first parentheses), each written once for every backend that
// words its engine's failures as Oracle does; QString::arg fills in %1, %2.
namespace vorel::server::ora {

// A unique or primary key; %1 its name.
inline constexpr char kUniqueViolated[] = "ORA-00001: unique constraint (VOREL.%1) violated";
// One without a name; %1 the table.
inline constexpr char kUniqueViolatedUnnamed[] = "ORA-00001: unique constraint (VOREL.SYS_%1) violated";
inline constexpr char kResourceBusy[] = "ORA-00054: resource busy and acquire with NOWAIT specified or timeout expired";
inline constexpr char kRecursiveSqlError[] = "ORA-00604: error occurred at recursive SQL level 1";
inline constexpr char kInvalidStatement[] = "ORA-00900: invalid SQL statement";
inline constexpr char kInvalidDatatype[] = "ORA-00902: invalid datatype";
// %1: the name, upper case.
inline constexpr char kInvalidIdentifier[] = "ORA-00904: \"%1\": invalid identifier";
inline constexpr char kMissingKeyword[] = "ORA-00905: missing keyword";
inline constexpr char kMissingRightParenthesis[] = "ORA-00907: missing right parenthesis";
inline constexpr char kInvalidArgumentCount[] = "ORA-00909: invalid number of arguments";
inline constexpr char kInvalidCharacter[] = "ORA-00911: invalid character";
inline constexpr char kTooManyValues[] = "ORA-00913: too many values";
inline constexpr char kColumnAmbiguous[] = "ORA-00918: column ambiguously defined";
inline constexpr char kInvalidRelationalOperator[] = "ORA-00920: invalid relational operator";
inline constexpr char kUnexpectedEnd[] = "ORA-00921: unexpected end of SQL command";
inline constexpr char kInconsistentTypes[] = "ORA-00932: inconsistent datatypes";
inline constexpr char kNumberGotDate[] = "ORA-00932: inconsistent datatypes: expected NUMBER got DATE";
inline constexpr char kDatePlusDate[] = "ORA-00975: date + date not allowed";
inline constexpr char kNotProperlyEnded[] = "ORA-00933: SQL command not properly ended";
inline constexpr char kMissingExpression[] = "ORA-00936: missing expression";
inline constexpr char kNotEnoughArguments[] = "ORA-00938: not enough arguments for function";
inline constexpr char kTooManyArguments[] = "ORA-00939: too many arguments for function";
inline constexpr char kNoSuchTable[] = "ORA-00942: table or view does not exist";
inline constexpr char kNotEnoughValues[] = "ORA-00947: not enough values";
inline constexpr char kNameInUse[] = "ORA-00955: name is already used by an existing object";
inline constexpr char kNotAllBound[] = "ORA-01008: not all variables bound";
inline constexpr char kCancelled[] = "ORA-01013: user requested cancel of current operation";
inline constexpr char kNoPrivilege[] = "ORA-01031: insufficient privileges";
inline constexpr char kReadError[] = "ORA-01115: IO error reading block from file";
// %1 the table, %2 the column.
inline constexpr char kNullInto[] = "ORA-01400: cannot insert NULL into (\"VOREL\".\"%1\".\"%2\")";
inline constexpr char kConnectByLoop[] = "ORA-01436: CONNECT BY loop in user data";
inline constexpr char kNumberFormat[] = "ORA-01481: invalid number format model";
inline constexpr char kOuterJoinedTwice[] = "ORA-01417: a table may be outer joined to at most one other table";
inline constexpr char kArgumentOutOfRange[] = "ORA-01428: argument is out of range";
inline constexpr char kNoSuchUser[] = "ORA-01435: user does not exist";
inline constexpr char kValueTooPrecise[] = "ORA-01438: value larger than specified precision allowed for this column";
inline constexpr char kSubqueryRows[] = "ORA-01427: single-row subquery returns more than one row";
inline constexpr char kOuterJoinedPredicate[] = "ORA-01468: a predicate may reference only one outer-joined table";
inline constexpr char kDivisionByZero[] = "ORA-01476: divisor is equal to zero";
inline constexpr char kConcatenationTooLong[] = "ORA-01489: result of string concatenation is too long";
inline constexpr char kCannotExtend[] = "ORA-01653: unable to extend table";
inline constexpr char kOuterJoinInOrIn[] = "ORA-01719: outer join operator (+) not allowed in operand of OR or IN";
inline constexpr char kInvalidNumber[] = "ORA-01722: invalid number";
inline constexpr char kMissingDoubleQuote[] = "ORA-01740: missing double quote in identifier";
inline constexpr char kCommentNotEnded[] = "ORA-01742: comment not properly terminated";
inline constexpr char kQuoteNotEnded[] = "ORA-01756: quoted string not properly terminated";
inline constexpr char kDateFormatUnknown[] = "ORA-01821: date format not recognized";
inline constexpr char kDayNotInMonth[] = "ORA-01839: date not valid for month specified";
inline constexpr char kYearOutOfRange[] = "ORA-01841: (full) year must be between -4713 and +9999, and not be 0";
inline constexpr char kNotWeekday[] = "ORA-01846: not a valid day of the week";
inline constexpr char kNonNumericFound[] = "ORA-01858: a non-numeric character was found where a numeric was expected";
inline constexpr char kDateFormat[] = "ORA-01861: literal does not match format string";
inline constexpr char kColumnCountMismatch[] = "ORA-02256: number of referencing columns must match referenced columns";
inline constexpr char kOnePrimaryKey[] = "ORA-02260: table can have only one primary key";
inline constexpr char kNoMatchingKey[] = "ORA-02270: no matching unique or primary key for this column-list";
inline constexpr char kSequenceNotAllowed[] = "ORA-02287: sequence number not allowed here";
inline constexpr char kNoSuchSequence[] = "ORA-02289: sequence does not exist";
// %1: the check's name.
inline constexpr char kCheckViolated[] = "ORA-02290: check constraint (VOREL.%1) violated";
inline constexpr char kCheckViolatedUnnamed[] = "ORA-02290: check constraint (VOREL.SYS_CHECK) violated";
// %1: the foreign key's name.
inline constexpr char kParentKeyNotFound[] = "ORA-02291: integrity constraint (VOREL.%1) violated - parent key not found";
// %1: the foreign key's name.
inline constexpr char kChildRecordFound[] = "ORA-02292: integrity constraint (VOREL.%1) violated - child record found";
inline constexpr char kIdleTimeExceeded[] = "ORA-02396: exceeded maximum idle time, please connect again";
inline constexpr char kUnimplemented[] = "ORA-03001: unimplemented feature";
// %1: the sequence.
inline constexpr char kCurrvalUndefined[] = "ORA-08002: sequence %1.CURRVAL is not yet defined in this session";
inline constexpr char kNextvalPastMax[] = "ORA-08004: sequence %1.NEXTVAL exceeds MAXVALUE and cannot be instantiated";
inline constexpr char kNextvalPastMin[] =
    "ORA-08004: sequence %1.NEXTVAL goes below MINVALUE and cannot be instantiated";
inline constexpr char kWaitTimeout[] = "ORA-30006: resource busy; acquire with WAIT timeout expired";
inline constexpr char kUnstableRows[] = "ORA-30926: unable to get a stable set of rows in the source tables";
// %1: the column.
inline constexpr char kOnColumnUpdated[] = "ORA-38104: Columns referenced in the ON Clause cannot be updated: %1";
inline constexpr char kConnectionLost[] = "ORA-03113: end-of-file on communication channel";
// %1: the bytes asked for.
inline constexpr char kOutOfProcessMemory[] = "ORA-04030: out of process memory when trying to allocate %1 bytes";
inline constexpr char kUnhandledException[] = "ORA-06510: PL/SQL: unhandled user-defined exception";
inline constexpr char kValueTooLarge[] = "ORA-12899: value too large for column";
inline constexpr char kReadOnly[] = "ORA-16000: database or pluggable database open for read-only access";

// The message with what it concerns after it, in parentheses.
inline QString text(const char *message, const QString &detail)
{
    return QString::fromLatin1(message) + QStringLiteral(" (") + detail + QLatin1Char(')');
}

} // namespace vorel::server::ora
