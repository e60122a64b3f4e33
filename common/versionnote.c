/* The version record of our binaries on ELF platforms: an ELF note with
 * owner "Vorel", type 0x5652 and four little-endian 16-bit numbers (major,
 * minor, release, build), the same four numbers a Windows build keeps in its
 * fixed version record. common/fileversion.cpp reads it back from any file. */
#include <stdint.h>

struct VorelVersionNote {
    uint32_t namesz;
    uint32_t descsz;
    uint32_t type;
    char name[8];
    uint16_t desc[4];
};

__attribute__((section(".note.vorel.version"), used, aligned(4)))
static const struct VorelVersionNote vorel_version_note = {
    6, 8, 0x5652, "Vorel",
    { VOREL_VERSION_MAJOR, VOREL_VERSION_MINOR, VOREL_VERSION_PATCH, VOREL_VERSION_TWEAK }
};
