// Started in place of the shell: appends "nuevo" to shell-started in the
// working folder and ends.
#include <cstdio>

int main()
{
    if (std::FILE *f = std::fopen("shell-started", "a")) {
        std::fputs("nuevo\n", f);
        std::fclose(f);
    }
    return 0;
}
