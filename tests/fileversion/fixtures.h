#pragma once
// ELF and PE images built byte by byte, with or without a version record.
#include <QByteArray>
#include <QList>

#include <array>

namespace vorel::test::fixtures {

// Little writer for fixtures in either byte order.
struct Bytes {
    QByteArray data;
    bool be = false;

    void put(quint64 v, int width)
    {
        for (int i = 0; i < width; ++i) {
            const int shift = be ? 8 * (width - 1 - i) : 8 * i;
            data.append(char((v >> shift) & 0xFF));
        }
    }
    void u8(quint64 v) { put(v, 1); }
    void u16(quint64 v) { put(v, 2); }
    void u32(quint64 v) { put(v, 4); }
    void u64(quint64 v) { put(v, 8); }
    void raw(const QByteArray &b) { data.append(b); }
    void padTo(qsizetype size) { data.append(QByteArray(size - data.size(), '\0')); }
    void align(int n) { padTo((data.size() + n - 1) / n * n); }
    void set(qsizetype at, quint64 v, int width)
    {
        for (int i = 0; i < width; ++i) {
            const int shift = be ? 8 * (width - 1 - i) : 8 * i;
            data[at + i] = char((v >> shift) & 0xFF);
        }
    }
};

struct Note {
    QByteArray name; // with its terminator
    quint32 type;
    QByteArray desc;
};

inline Note vorelNote(std::array<quint16, 4> v)
{
    QByteArray desc;
    for (quint16 n : v) { // always little-endian
        desc.append(char(n & 0xFF));
        desc.append(char(n >> 8));
    }
    return {QByteArray("Vorel", 6), 0x5652, desc};
}

inline Note gnuNote()
{
    return {QByteArray("GNU", 4), 1, QByteArray("\0\0\0\0\3\0\0\0\2\0\0\0\0\0\0\0", 16)};
}

inline QByteArray notes(const QList<Note> &list, bool be)
{
    Bytes b;
    b.be = be;
    for (const Note &n : list) {
        b.u32(n.name.size());
        b.u32(n.desc.size());
        b.u32(n.type);
        b.raw(n.name);
        b.align(4);
        b.raw(n.desc);
        b.align(4);
    }
    return b.data;
}

enum class Headers { Sections, Segments };

// A minimal ELF image: header, the notes at 0x100, then one table.
inline QByteArray elf(bool is64, bool be, Headers headers, const QList<Note> &list)
{
    const QByteArray noteData = notes(list, be);
    Bytes b;
    b.be = be;
    b.raw(QByteArray("\x7f" "ELF", 4));
    b.u8(is64 ? 2 : 1);
    b.u8(be ? 2 : 1);
    b.u8(1);
    b.padTo(16);
    b.u16(3);                 // ET_DYN
    b.u16(is64 ? 62 : 3);     // machine
    b.u32(1);
    const int word = is64 ? 8 : 4;
    b.put(0, word);           // entry
    const qsizetype phoffAt = b.data.size();
    b.put(0, word);           // phoff
    const qsizetype shoffAt = b.data.size();
    b.put(0, word);           // shoff
    b.u32(0);                 // flags
    b.u16(is64 ? 64 : 52);    // ehsize
    b.u16(is64 ? 56 : 32);    // phentsize
    const qsizetype phnumAt = b.data.size();
    b.u16(0);
    b.u16(is64 ? 64 : 40);    // shentsize
    const qsizetype shnumAt = b.data.size();
    b.u16(0);
    b.u16(0);                 // shstrndx
    b.padTo(0x100);
    b.raw(noteData);
    b.align(8);
    const qsizetype table = b.data.size();
    if (headers == Headers::Sections) {
        b.set(shoffAt, quint64(table), word);
        b.set(shnumAt, 3, 2);
        b.padTo(b.data.size() + (is64 ? 64 : 40)); // the null section
        // A program-bits section, then the notes.
        for (quint32 type : {1u, 7u}) {
            b.u32(0);
            b.u32(type);
            b.put(2, word);                               // flags: alloc
            b.put(0x100, word);                           // addr
            b.put(type == 7 ? 0x100 : 0x10, word);        // offset
            b.put(type == 7 ? noteData.size() : 8, word); // size
            b.u32(0);
            b.u32(0);
            b.put(4, word);
            b.put(0, word);
        }
    } else {
        b.set(phoffAt, quint64(table), word);
        b.set(phnumAt, 2, 2);
        for (quint32 type : {1u, 4u}) { // PT_LOAD, PT_NOTE
            const quint64 off = type == 4 ? 0x100 : 0;
            const quint64 size = type == 4 ? quint64(noteData.size()) : 0x100;
            b.u32(type);
            if (is64) {
                b.u32(4);
                b.u64(off);
                b.u64(off);
                b.u64(off);
                b.u64(size);
                b.u64(size);
                b.u64(4);
            } else {
                b.u32(off);
                b.u32(off);
                b.u32(off);
                b.u32(size);
                b.u32(size);
                b.u32(4);
                b.u32(4);
            }
        }
    }
    return b.data;
}

inline QByteArray utf16z(const char *text)
{
    Bytes b;
    for (const char *p = text; *p; ++p)
        b.u16(uchar(*p));
    b.u16(0);
    return b.data;
}

// VS_VERSION_INFO with its VS_FIXEDFILEINFO (no children).
inline QByteArray versionBlock(quint32 ms, quint32 ls, quint32 signature = 0xFEEF04BD)
{
    Bytes b;
    b.u16(0); // length, set below
    b.u16(52);
    b.u16(0);
    b.raw(utf16z("VS_VERSION_INFO"));
    b.align(4);
    b.u32(signature);
    b.u32(0x10000);
    b.u32(ms);
    b.u32(ls);
    b.u32(ms); // product version
    b.u32(ls);
    for (int i = 0; i < 7; ++i)
        b.u32(0);
    b.set(0, quint64(b.data.size()), 2);
    return b.data;
}

// A minimal PE32 or PE32+ image with one .rsrc section at RVA 0x1000, file
// offset 0x200. `typeId` is the resource type the version block is filed
// under (16 is RT_VERSION); `directory` false leaves the data directory empty.
inline QByteArray pe(bool plus, const QByteArray &block, quint32 typeId = 16, bool directory = true)
{
    constexpr quint32 rva = 0x1000;
    Bytes r;
    auto dirHeader = [&](int ids) {
        r.u32(0);
        r.u32(0);
        r.u16(0);
        r.u16(0);
        r.u16(0);
        r.u16(ids);
    };
    dirHeader(1); // 0x00: types
    r.u32(typeId);
    r.u32(0x80000000u | 0x18);
    dirHeader(1); // 0x18: names
    r.u32(1);
    r.u32(0x80000000u | 0x30);
    dirHeader(1); // 0x30: languages
    r.u32(0x409);
    r.u32(0x48);
    r.u32(rva + 0x58); // 0x48: data entry
    r.u32(block.size());
    r.u32(0);
    r.u32(0);
    r.raw(block); // 0x58
    r.align(16);
    const QByteArray rsrc = r.data;

    Bytes b;
    b.raw("MZ");
    b.padTo(0x3C);
    b.u32(0x80);
    b.padTo(0x80);
    b.raw(QByteArray("PE\0\0", 4));
    const quint16 optSize = plus ? 240 : 224;
    b.u16(plus ? 0x8664 : 0x14C);
    b.u16(1);
    b.u32(0);
    b.u32(0);
    b.u32(0);
    b.u16(optSize);
    b.u16(0x2102);
    const qsizetype opt = b.data.size();
    b.u16(plus ? 0x20B : 0x10B);
    b.padTo(opt + (plus ? 108 : 92));
    b.u32(16); // NumberOfRvaAndSizes
    const qsizetype dd = b.data.size();
    b.padTo(dd + 16 * 8);
    if (directory) {
        b.set(dd + 16, rva, 4);
        b.set(dd + 20, quint64(rsrc.size()), 4);
    }
    b.raw(QByteArray(".rsrc\0\0\0", 8));
    b.u32(rsrc.size()); // virtual size
    b.u32(rva);
    b.u32(rsrc.size()); // raw size
    b.u32(0x200);
    b.padTo(b.data.size() + 16);
    b.padTo(0x200);
    b.raw(rsrc);
    return b.data;
}

// Where pe() puts things, for tests that damage one field.
namespace peAt {
constexpr qsizetype lfanew = 0x3C;
constexpr qsizetype optional = 0x98;
constexpr qsizetype rvaCount = optional + 92; // PE32
constexpr qsizetype resourceRva = optional + 96 + 16;
constexpr qsizetype resourceSize = resourceRva + 4;
constexpr qsizetype section = optional + 224; // the .rsrc header of PE32
constexpr qsizetype sectionVirtualSize = section + 8;
constexpr qsizetype sectionRva = section + 12;
constexpr qsizetype sectionRawSize = section + 16;
constexpr qsizetype sectionRaw = section + 20;
constexpr qsizetype rsrc = 0x200;
constexpr qsizetype dataEntry = rsrc + 0x48;
} // namespace peAt

// A PE32 image whose resource directory is `rsrc` (at RVA 0x1000) and whose
// .rsrc section header comes after `padSections` headers of empty sections.
inline QByteArray peWithResources(const QByteArray &rsrc, int padSections = 0)
{
    constexpr quint32 rva = 0x1000;
    Bytes b;
    b.raw("MZ");
    b.padTo(0x3C);
    b.u32(0x80);
    b.padTo(0x80);
    b.raw(QByteArray("PE\0\0", 4));
    b.u16(0x14C);
    b.u16(quint16(padSections + 1));
    b.u32(0);
    b.u32(0);
    b.u32(0);
    b.u16(224);
    b.u16(0x2102);
    const qsizetype opt = b.data.size();
    b.u16(0x10B);
    b.padTo(opt + 92);
    b.u32(16);
    const qsizetype dd = b.data.size();
    b.padTo(dd + 16 * 8);
    b.set(dd + 16, rva, 4);
    b.set(dd + 20, quint64(rsrc.size()), 4);
    for (int i = 0; i < padSections; ++i) {
        b.raw(QByteArray(".pad\0\0\0\0", 8));
        b.u32(0); // nothing mapped: every lookup passes over these
        b.u32(0x100000 + quint32(i) * 0x1000);
        b.u32(0);
        b.u32(0);
        b.padTo(b.data.size() + 16);
    }
    const qsizetype raw = (b.data.size() + 40 + 0x1FF) / 0x200 * 0x200;
    b.raw(QByteArray(".rsrc\0\0\0", 8));
    b.u32(rsrc.size());
    b.u32(rva);
    b.u32(rsrc.size());
    b.u32(quint32(raw));
    b.padTo(b.data.size() + 16);
    b.padTo(raw);
    b.raw(rsrc);
    return b.data;
}

// A resource directory of three levels of `fanOut` entries each, every entry
// of a level pointing at the one directory of the next level; the entries of
// the last level name a data entry whose RVA lies outside every section.
inline QByteArray sharedResourceTree(int fanOut)
{
    Bytes r;
    const quint32 dirSize = 16 + 8 * quint32(fanOut);
    for (int level = 0; level < 3; ++level) {
        r.u32(0);
        r.u32(0);
        r.u32(0);
        r.u16(0);
        r.u16(quint16(fanOut));
        for (int i = 0; i < fanOut; ++i) {
            r.u32(level == 0 ? 16 : quint32(i + 1));
            const quint32 next = dirSize * quint32(level + 1);
            r.u32(level < 2 ? (0x80000000u | next) : next);
        }
    }
    r.u32(0x7FFFFFF0); // data entry: nowhere
    r.u32(0x100);
    r.u32(0);
    r.u32(0);
    return r.data;
}

} // namespace vorel::test::fixtures
