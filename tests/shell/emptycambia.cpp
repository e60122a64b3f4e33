// A library that carries the account library's name but neither of its
// exports: what the shell finds when a wrong file sits in its place.
extern "C" __attribute__((visibility("default"))) int vorelNotTheAccountLibrary()
{
    return 0;
}
