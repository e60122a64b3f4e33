// What the rights of a session cost per statement: the statements of a
// class open and of a use case's write, run by a session whose user's
// rights are checked beside the same statements on a connection of the same
// database that answers to nobody's (the reference), turn about, on SQLite
// and, given a cluster, on PostgreSQL. Prints the median time of each kind
// of statement both ways and their ratio.
//
//   bench_rights [--runs 9] [--rounds 200] [--pg URI]
//
// URI names a cluster (tests/support/pgcluster.sh start DIR prints one; the
// default is VOREL_TEST_PG).
#include "bench/benchutil.h"
#include "support/testdatabase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

using namespace vorel;
using namespace vorel::bench;

namespace {

struct Statement {
    const char *kind;
    const char *sql;
};

// What the list window and a use case send, for a user who may.
const Statement kStatements[] = {
    {"working rows", "DELETE FROM vorel.RVFILRAP"},
    {"working rows", "INSERT INTO vorel.RVFILRAP (VFIL_Filtro, VFIL_Valor) VALUES (7, 'ESTADO = ''A''') "},
    {"access log",
     "INSERT INTO vorel.TLOGACCESOS (LOGA_Cuso, LOGA_USUA, LOGA_Fecha) SELECT CUSO_Cuso, SESI_Usua, sysdate FROM "
     "vorel.TCUSOS, vorel.RSESION WHERE CUSO_GUI= 'WIN32'   And CUSO_Clase= 'CLIENTES'   And CUSO_Metodo= 'main' "},
    {"metadata read",
     "SELECT NVL(METR_Etiq, METO_Etiq) ETIQ, METO_Metodo, METO_Boton FROM vorel.TMETODS, vorel.TMETROL "
     "WHERE METO_Clase = 'CLIENTES' AND METR_Clase = METO_Clase AND METR_Metodo = METO_Metodo AND METR_Rol = 'VENTAS'"},
    {"business write", "UPDATE vorel.TCLIENTES SET CLIE_Nombre = CLIE_Nombre WHERE CLIE_Cliente = 1"},
};

double runOnce(server::Database &db, const char *sql, int rounds)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < rounds; ++i) {
        const test::Answer a = test::run(db, QString::fromUtf8(sql));
        if (!a.error.isEmpty()) {
            std::fprintf(stderr, "%s: %s\n", sql, qPrintable(a.error));
            std::exit(1);
        }
    }
    return double(t.nsecsElapsed()) / rounds / 1000.0;
}

void measure(test::Engine engine, int runs, int rounds)
{
    test::TestDatabase db(engine);
    const QString why = db.create();
    if (!why.isEmpty()) {
        std::printf("%s: %s\n", engine == test::Engine::Postgres ? "PostgreSQL" : "SQLite", qPrintable(why));
        return;
    }
    auto checked = db.open(QStringLiteral("1001"));
    // The same working tables, with no user's rights to answer to.
    auto unchecked = db.open();
    unchecked->startSession(QStringLiteral("1001"), false);
    std::printf("\n%s, median of %d runs of %d statements (µs per statement)\n",
                engine == test::Engine::Postgres ? "PostgreSQL" : "SQLite", runs, rounds);
    std::printf("%-16s %12s %12s %8s\n", "statement", "unchecked", "checked", "ratio");
    for (const Statement &s : kStatements) {
        std::vector<double> with, without;
        for (int r = 0; r < runs; ++r) {
            // Turn about, so that neither side always runs on a warmer cache.
            if (r % 2) {
                with.push_back(runOnce(*checked, s.sql, rounds));
                without.push_back(runOnce(*unchecked, s.sql, rounds));
            } else {
                without.push_back(runOnce(*unchecked, s.sql, rounds));
                with.push_back(runOnce(*checked, s.sql, rounds));
            }
        }
        const double a = median(without), b = median(with);
        std::printf("%-16s %12.1f %12.1f %8.3f\n", s.kind, a, b, b / a);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int runs = 9, rounds = 200;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--runs"))
            runs = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--rounds"))
            rounds = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--pg"))
            qputenv("VOREL_TEST_PG", args[i + 1].toUtf8());
    }
    measure(test::Engine::Sqlite, runs, rounds);
    measure(test::Engine::Postgres, runs, rounds);
    return 0;
}
