#pragma once
// Large frames carved one after another out of big chunks of memory in huge
// pages. The rows of a frame keep the frame's bytes (see RowBlock), so a walk
// of a million rows holds hundreds of megabytes that arrive once and are then
// read in place: in 4 KiB pages each of them cost a fault on arrival, which
// took more of the client's time than decoding the rows did.
#include "common/vorelglobal.h"

#include <QByteArray>
#include <memory>

namespace vorel {

class VOREL_CORE_EXPORT FrameArena
{
public:
    // Frames smaller than this come from the ordinary heap.
    static constexpr qsizetype kMinFrame = 256 * 1024;
    static constexpr qsizetype kChunk = 32 * 1024 * 1024;

    struct Frame {
        char *data = nullptr;                // `size` bytes to write the frame into
        QByteArray bytes;                    // the same bytes, to read
        std::shared_ptr<const void> owner;   // keeps them; null for heap bytes
    };
    // Writable room for a frame of `size` bytes.
    Frame allocate(qsizetype size);

private:
    struct Chunk;
    // Not kept alive by the arena: once the frames of a chunk are gone, so
    // is the chunk.
    std::weak_ptr<Chunk> m_current;
    qsizetype m_used = 0;
};

} // namespace vorel
