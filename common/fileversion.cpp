#include "common/fileversion.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace vorel {

namespace {

// Version records sit in the first few megabytes of any binary we ship; a
// larger read buys nothing and a hostile file must not make us swallow it.
constexpr qint64 MaxReadBytes = 64 * 1024 * 1024;

struct Version {
    quint16 part[4];
};

QString textOf(const Version &v)
{
    return QStringLiteral("%1.%2.%3.%4").arg(v.part[0]).arg(v.part[1]).arg(v.part[2]).arg(v.part[3]);
}

// Bounds-checked little/big-endian reads over the file image. Every accessor
// answers "no" rather than reading past the end, so a truncated or corrupt
// header simply yields no version.
class Image
{
public:
    explicit Image(const QByteArray &data) : m_data(data) {}

    quint64 size() const { return quint64(m_data.size()); }
    bool has(quint64 offset, quint64 length) const
    {
        return offset <= size() && length <= size() - offset;
    }
    const uchar *at(quint64 offset) const
    {
        return reinterpret_cast<const uchar *>(m_data.constData()) + offset;
    }
    std::optional<quint64> read(quint64 offset, int width, bool bigEndian) const
    {
        if (!has(offset, quint64(width)))
            return std::nullopt;
        const uchar *p = at(offset);
        quint64 v = 0;
        for (int i = 0; i < width; ++i) {
            const int shift = bigEndian ? 8 * (width - 1 - i) : 8 * i;
            v |= quint64(p[i]) << shift;
        }
        return v;
    }
    std::optional<quint64> u16(quint64 o, bool be = false) const { return read(o, 2, be); }
    std::optional<quint64> u32(quint64 o, bool be = false) const { return read(o, 4, be); }
    std::optional<quint64> u64(quint64 o, bool be = false) const { return read(o, 8, be); }

    // A crafted file can make headers point at each other in many ways; one
    // budget of header visits per file keeps every walk short.
    bool step() const { return ++m_steps <= MaxSteps; }

private:
    static constexpr quint64 MaxSteps = 16 * 1024 * 1024;
    const QByteArray &m_data;
    mutable quint64 m_steps = 0;
};

quint64 align4(quint64 v) { return (v + 3) & ~quint64(3); }

// ---- ELF ------------------------------------------------------------------

constexpr quint32 VorelNoteType = 0x5652;

// Walks the notes in [offset, offset + length) and returns our record.
// Note sizes are 4-byte words in both ELF classes for the notes we write.
std::optional<Version> findNote(const Image &img, quint64 offset, quint64 length, bool be)
{
    if (!img.has(offset, length))
        return std::nullopt;
    const quint64 end = offset + length;
    quint64 p = offset;
    while (end - p >= 12 && img.step()) {
        const auto namesz = img.u32(p, be);
        const auto descsz = img.u32(p + 4, be);
        const auto type = img.u32(p + 8, be);
        if (!namesz || !descsz || !type)
            return std::nullopt;
        const quint64 nameAt = p + 12;
        if (*namesz > end - nameAt)
            return std::nullopt;
        const quint64 descAt = nameAt + align4(*namesz);
        if (descAt > end || *descsz > end - descAt)
            return std::nullopt;
        const bool ours = *type == VorelNoteType && *namesz == 6
                          && std::memcmp(img.at(nameAt), "Vorel", 6) == 0;
        if (ours && *descsz >= 8) {
            // The four numbers are little-endian whatever the file's order.
            Version v;
            for (int i = 0; i < 4; ++i) {
                const auto part = img.u16(descAt + 2 * i, false);
                if (!part)
                    return std::nullopt;
                v.part[i] = quint16(*part);
            }
            return v;
        }
        const quint64 next = descAt + align4(*descsz);
        if (next <= p || next > end)
            return std::nullopt;
        p = next;
    }
    return std::nullopt;
}

// The header tables of an ELF file: `count` entries of `entrySize` bytes from
// `offset`, of which the reader needs the first `needed` bytes each. Entries
// that do not lie wholly inside the file end the table.
struct Table {
    quint64 offset = 0, entrySize = 0, count = 0;

    bool usable(quint64 needed) const { return offset != 0 && entrySize >= needed && count != 0; }
    std::optional<quint64> entry(const Image &img, quint64 i, quint64 needed) const
    {
        // i < 65536 and entrySize < 65536: the product cannot wrap, and the
        // sum cannot once `offset` is known to lie inside the file.
        if (!img.has(offset, i * entrySize) || !img.has(offset + i * entrySize, needed))
            return std::nullopt;
        return offset + i * entrySize;
    }
};

std::optional<Version> elfVersion(const Image &img)
{
    if (!img.has(0, 16) || std::memcmp(img.at(0), "\x7f" "ELF", 4) != 0)
        return std::nullopt;
    const uchar cls = img.at(4)[0];
    const uchar data = img.at(4)[1];
    if ((cls != 1 && cls != 2) || (data != 1 && data != 2))
        return std::nullopt;
    const bool is64 = cls == 2;
    const bool be = data == 2;
    auto word = [&](quint64 o) { return is64 ? img.u64(o, be) : img.u32(o, be); };
    auto table = [&](quint64 offsetAt, quint64 entrySizeAt, quint64 countAt) -> std::optional<Table> {
        const auto offset = word(offsetAt);
        const auto entrySize = img.u16(entrySizeAt, be);
        const auto count = img.u16(countAt, be);
        if (!offset || !entrySize || !count)
            return std::nullopt;
        return Table{*offset, *entrySize, *count};
    };

    // Section headers first: they also find notes outside any loadable
    // segment (relocatable objects).
    const quint64 minSh = is64 ? 0x40 : 0x28;
    const auto sections = table(is64 ? 0x28 : 0x20, is64 ? 0x3A : 0x2E, is64 ? 0x3C : 0x30);
    if (sections && sections->usable(minSh)) {
        for (quint64 i = 0; i < sections->count; ++i) {
            const auto sh = sections->entry(img, i, minSh);
            if (!sh || !img.step())
                break;
            const auto type = img.u32(*sh + 4, be);
            if (!type || *type != 7) // SHT_NOTE
                continue;
            const auto off = word(*sh + (is64 ? 0x18 : 0x10));
            const auto size = word(*sh + (is64 ? 0x20 : 0x14));
            if (off && size)
                if (auto v = findNote(img, *off, *size, be))
                    return v;
        }
    }

    // Program headers: stripped files may have lost their section table.
    const quint64 minPh = is64 ? 0x38 : 0x20;
    const auto segments = table(is64 ? 0x20 : 0x1C, is64 ? 0x36 : 0x2A, is64 ? 0x38 : 0x2C);
    if (segments && segments->usable(minPh)) {
        for (quint64 i = 0; i < segments->count; ++i) {
            const auto ph = segments->entry(img, i, minPh);
            if (!ph || !img.step())
                break;
            const auto type = img.u32(*ph, be);
            if (!type || *type != 4) // PT_NOTE
                continue;
            const auto off = word(*ph + (is64 ? 0x08 : 0x04));
            const auto size = is64 ? img.u64(*ph + 0x20, be) : img.u32(*ph + 0x10, be);
            if (off && size)
                if (auto v = findNote(img, *off, *size, be))
                    return v;
        }
    }
    return std::nullopt;
}

// ---- PE -------------------------------------------------------------------

constexpr quint32 FixedInfoSignature = 0xFEEF04BD;
constexpr char16_t VersionKey[] = u"VS_VERSION_INFO";
constexpr quint64 VersionKeyBytes = sizeof(VersionKey); // with the terminator

// VS_FIXEDFILEINFO: signature, struct version, FileVersionMS, FileVersionLS.
std::optional<Version> fixedInfoAt(const Image &img, quint64 offset)
{
    const auto sig = img.u32(offset);
    const auto ms = img.u32(offset + 8);
    const auto ls = img.u32(offset + 12);
    if (!sig || *sig != FixedInfoSignature || !ms || !ls)
        return std::nullopt;
    return Version{{quint16(*ms >> 16), quint16(*ms & 0xFFFF), quint16(*ls >> 16),
                    quint16(*ls & 0xFFFF)}};
}

// The VS_VERSION_INFO block: wLength, wValueLength, wType, the UTF-16 key
// "VS_VERSION_INFO" with its terminator, padding to 4 bytes, then the value.
std::optional<Version> versionInfoBlock(const Image &img, quint64 offset, quint64 length)
{
    if (!img.has(offset, length) || length < 6 + VersionKeyBytes)
        return std::nullopt;
    const auto valueLength = img.u16(offset + 2);
    for (quint64 i = 0; i < VersionKeyBytes / 2; ++i) {
        const auto c = img.u16(offset + 6 + 2 * i);
        if (!c || *c != VersionKey[i])
            return std::nullopt;
    }
    const quint64 value = align4(offset + 6 + VersionKeyBytes);
    if (!valueLength || *valueLength < 52 || value > offset + length || offset + length - value < 52)
        return std::nullopt;
    return fixedInfoAt(img, value);
}

struct Section {
    quint64 header; // file offset of the section header
    quint64 va, vsize, raw, rawSize;
};

// The file offset of `length` bytes at `rva`, when a section maps all of them
// and they lie inside the file. A header can claim any raw offset and size.
std::optional<quint64> rvaToOffset(const Image &img, const std::vector<Section> &sections, quint64 rva,
                                   quint64 length)
{
    for (const Section &s : sections) {
        if (!img.step())
            return std::nullopt;
        const quint64 span = std::max(s.vsize, s.rawSize);
        if (rva >= s.va && rva - s.va < span) {
            const quint64 delta = rva - s.va;
            if (delta > s.rawSize || length > s.rawSize - delta)
                return std::nullopt;
            const quint64 offset = s.raw + delta;
            if (!img.has(offset, length))
                return std::nullopt;
            return offset;
        }
    }
    return std::nullopt;
}

// Resource directory: type level -> RT_VERSION (16) -> any name -> any
// language -> data entry. Offsets are relative to the directory's start and
// stay inside its `limit` bytes.
class ResourceWalk
{
public:
    ResourceWalk(const Image &img, const std::vector<Section> &sections, quint64 base, quint64 limit)
        : m_img(img), m_sections(sections), m_base(base), m_limit(limit)
    {
    }

    std::optional<Version> directory(quint64 dir, int depth)
    {
        // A proper tree reaches each directory once; one reached again is a
        // loop or a shared subtree, whose entries were looked at already.
        if (!m_seen.insert(dir).second)
            return std::nullopt;
        if (!inside(dir, 16))
            return std::nullopt;
        const auto named = m_img.u16(m_base + dir + 12);
        const auto ids = m_img.u16(m_base + dir + 14);
        if (!named || !ids)
            return std::nullopt;
        const quint64 count = *named + *ids;
        for (quint64 i = 0; i < count; ++i) {
            const quint64 e = dir + 16 + 8 * i;
            if (!inside(e, 8) || !m_img.step())
                return std::nullopt;
            const auto id = m_img.u32(m_base + e);
            const auto target = m_img.u32(m_base + e + 4);
            if (!id || !target)
                return std::nullopt;
            if (depth == 0 && *id != 16) // RT_VERSION only
                continue;
            const bool subdir = *target & 0x80000000u;
            const quint64 to = *target & 0x7FFFFFFFu;
            if (depth < 2) {
                if (!subdir)
                    continue;
                if (auto v = directory(to, depth + 1))
                    return v;
            } else if (!subdir) {
                if (auto v = dataEntry(to))
                    return v;
            }
        }
        return std::nullopt;
    }

private:
    bool inside(quint64 offset, quint64 length) const
    {
        return offset <= m_limit && length <= m_limit - offset;
    }

    std::optional<Version> dataEntry(quint64 at)
    {
        if (!inside(at, 16))
            return std::nullopt;
        const auto dataRva = m_img.u32(m_base + at);
        const auto dataSize = m_img.u32(m_base + at + 4);
        if (!dataRva || !dataSize)
            return std::nullopt;
        if (auto off = rvaToOffset(m_img, m_sections, *dataRva, *dataSize))
            return versionInfoBlock(m_img, *off, *dataSize);
        return std::nullopt;
    }

    const Image &m_img;
    const std::vector<Section> &m_sections;
    const quint64 m_base, m_limit;
    std::set<quint64> m_seen;
};

// Resource tables that do not walk cleanly: look for the block itself by its
// key in the section named .rsrc.
std::optional<Version> scanResourceSection(const Image &img, const std::vector<Section> &sections)
{
    for (const Section &s : sections) {
        if (std::memcmp(img.at(s.header), ".rsrc\0\0\0", 8) != 0)
            continue;
        if (!img.has(s.raw, 0))
            continue;
        const quint64 end = s.raw + std::min<quint64>(s.rawSize, img.size() - s.raw);
        for (quint64 p = s.raw; end - p >= 6 + VersionKeyBytes; p += 2) {
            if (!img.step())
                return std::nullopt;
            const auto first = img.u16(p + 6);
            if (!first || *first != VersionKey[0])
                continue;
            const auto blockLength = img.u16(p);
            if (!blockLength || *blockLength == 0 || *blockLength > end - p)
                continue;
            if (auto v = versionInfoBlock(img, p, *blockLength))
                return v;
        }
    }
    return std::nullopt;
}

std::optional<Version> peVersion(const Image &img)
{
    if (!img.has(0, 0x40) || img.at(0)[0] != 'M' || img.at(0)[1] != 'Z')
        return std::nullopt;
    const auto peAt = img.u32(0x3C);
    if (!peAt || !img.has(*peAt, 24) || std::memcmp(img.at(*peAt), "PE\0\0", 4) != 0)
        return std::nullopt;
    const quint64 coff = *peAt + 4;
    const auto nsections = img.u16(coff + 2);
    const auto optSize = img.u16(coff + 16);
    const quint64 opt = coff + 20;
    const auto magic = img.u16(opt);
    if (!nsections || !optSize || !magic)
        return std::nullopt;

    std::vector<Section> sections;
    const quint64 table = opt + *optSize;
    for (quint64 i = 0; i < *nsections; ++i) {
        const quint64 sh = table + 40 * i;
        if (!img.has(sh, 40))
            break;
        sections.push_back({sh, *img.u32(sh + 12), *img.u32(sh + 8), *img.u32(sh + 20), *img.u32(sh + 16)});
    }

    // The resource directory from the data directories (entry 2), when the
    // header has that many.
    quint64 countAt = 0;
    if (*magic == 0x10B)
        countAt = opt + 92;
    else if (*magic == 0x20B)
        countAt = opt + 108;
    const quint64 ddAt = countAt + 4;
    std::optional<quint64> rsrcRva, rsrcSize;
    if (countAt && ddAt + 24 <= table) {
        const auto count = img.u32(countAt);
        if (count && *count > 2) {
            rsrcRva = img.u32(ddAt + 16);
            rsrcSize = img.u32(ddAt + 20);
        }
    }
    if (rsrcRva && rsrcSize && *rsrcRva && *rsrcSize) {
        if (auto base = rvaToOffset(img, sections, *rsrcRva, 16)) {
            const quint64 limit = std::min<quint64>(*rsrcSize, img.size() - *base);
            if (auto v = ResourceWalk(img, sections, *base, limit).directory(0, 0))
                return v;
        }
    }
    return scanResourceSection(img, sections);
}

} // namespace

QString FileVersionText(const QString &path)
{
    if (path.isEmpty())
        return {};
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    // Reading no more than the file holds keeps a small file's read small.
    const QByteArray data = file.read(std::min(file.size(), MaxReadBytes));
    if (data.isEmpty())
        return {};
    const Image img(data);
    if (auto v = elfVersion(img))
        return textOf(*v);
    if (auto v = peVersion(img))
        return textOf(*v);
    return {};
}

} // namespace vorel
