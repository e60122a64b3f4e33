// Started in place of the shell: appends a line to "shell-started" in its
// working folder and stays running (its file in use) for the milliseconds
// VOREL_STANDIN_HOLD_MS says.
#include <QThread>
#include <QtGlobal>

#include <cstdio>

int main()
{
    if (std::FILE *f = std::fopen("shell-started", "a")) {
        std::fputs("arranque\n", f);
        std::fclose(f);
    }
    QThread::msleep(qEnvironmentVariableIntValue("VOREL_STANDIN_HOLD_MS"));
    return 0;
}
