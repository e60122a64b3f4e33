#include "data/framearena.h"

#include "common/platform.h"

namespace vorel {

struct FrameArena::Chunk {
    explicit Chunk(qsizetype size) : memory(static_cast<char *>(platform::MapLargeMemory(size_t(size)))), size(size) {}
    ~Chunk() { platform::UnmapLargeMemory(memory, size_t(size)); }
    Chunk(const Chunk &) = delete;
    Chunk &operator=(const Chunk &) = delete;
    char *memory;
    qsizetype size;
};

FrameArena::Frame FrameArena::allocate(qsizetype size)
{
    Frame f;
    if (size >= kMinFrame) {
        // Frames keep the 64-byte alignment the heap would give them.
        const qsizetype room = (size + 63) & ~qsizetype(63);
        std::shared_ptr<Chunk> chunk;
        qsizetype at = 0;
        if (room > kChunk / 2) {
            // A chunk of its own; the chunk being filled stays the one to fill.
            chunk = std::make_shared<Chunk>(room);
        } else {
            chunk = m_current.lock();
            if (!chunk || chunk->size - m_used < room) {
                chunk = std::make_shared<Chunk>(kChunk);
                m_current = chunk;
                m_used = 0;
            }
            at = m_used;
            m_used += room;
        }
        if (chunk->memory) {
            f.data = chunk->memory + at;
            f.bytes = QByteArray::fromRawData(f.data, size);
            f.owner = std::move(chunk);
            return f;
        }
        // Refused: the heap, as for a small frame.
        m_current.reset();
        m_used = 0;
    }
    f.bytes = QByteArray(size, Qt::Uninitialized);
    f.data = f.bytes.data();
    return f;
}

} // namespace vorel
