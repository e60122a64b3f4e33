// genclass: adds a large class to a database made by "vorel-server init
// --demo", ready to be opened by the client like the demo classes.
//
//   genclass DATABASE ROWS [CLASS]
//
// ROWS is a count, with k or M for thousands or millions (10k, 100k, 1M).
// CLASS defaults to GRANDE: table TGRANDE, class view pGRANDE_main. The
// rows are the same on every run.
#include "bench/benchutil.h"
#include "bench/classgen.h"
#include "common/exception.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

namespace {


} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2 || args.size() > 3) {
        std::fputs("usage: genclass DATABASE ROWS [CLASS]   (ROWS: 10000, 10k, 100k, 1M ...)\n", stderr);
        return 2;
    }
    const qint64 rows = vorel::bench::countOf(args[1]);
    if (rows < 0) {
        std::fprintf(stderr, "genclass: not a row count: %s\n", qPrintable(args[1]));
        return 2;
    }
    const QString id = args.value(2, QStringLiteral("GRANDE"));
    try {
        QElapsedTimer t;
        t.start();
        const vorel::bench::GeneratedClass c = vorel::bench::generateClass(args[0], id, rows);
        std::printf("class %s: %lld rows in %s, view %s, %.2f s\n", qPrintable(c.id), static_cast<long long>(c.rows),
                    qPrintable(c.table), qPrintable(c.view), double(t.elapsed()) / 1000.0);
    } catch (const vorel::Exception &e) {
        std::fprintf(stderr, "genclass: %s\n", e.message().toUtf8().constData());
        return 1;
    }
    return 0;
}
