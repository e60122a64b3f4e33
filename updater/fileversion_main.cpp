// vorel-fileversion FILE...: prints the file version text of each file, one
// line each (an empty line for a file without a version record), as the
// shell computes it when comparing with the database.
#include "common/fileversion.h"

#include <QString>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs("usage: vorel-fileversion FILE...\n", stderr);
        return 2;
    }
    for (int i = 1; i < argc; ++i)
        std::printf("%s\n", vorel::FileVersionText(QString::fromLocal8Bit(argv[i])).toUtf8().constData());
    return 0;
}
