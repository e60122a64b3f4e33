#pragma once
// A large class for the benchmarks, added to a database made by
// "vorel-server init --demo" (a file) or "init --pg URI --demo": its table T<CLASS>, its class view
// p<CLASS>_main and the metadata rows the client reads to open it (class,
// "main" method and its desktop use case, a grant to every role, the
// properties), as the demo classes have them. The rows are the same on
// every run for the same count.
#include <QString>
#include <QStringList>

namespace vorel::bench {

struct GeneratedClass {
    QString id;        // class id, e.g. GRANDE
    QString table;     // T<id>
    QString view;      // p<id>_main
    qint64 rows = 0;
    QStringList statisticsColumns; // the view's columns marked for statistics
    // "SELECT * FROM TABLE(p<id>.main('<role>'))", what the list window opens.
    QString classRowsSql(const QString &role = QStringLiteral("VENTAS")) const;
};

// Class ids are upper-case letters, digits and '_', starting with a letter.
bool validClassId(const QString &id);

// Adds the class in one transaction; a class id already in TCLASES, a table
// or view of the same name, or a file that is not a demo database is
// refused. Throws vorel::Exception with the reason; nothing is left behind
// on failure.
GeneratedClass generateClass(const QString &database, const QString &classId, qint64 rows);

} // namespace vorel::bench
