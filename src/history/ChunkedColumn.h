#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>

namespace history {

// A column of values that grows in fixed chunks: appending never moves what
// is stored (no reallocation doubles the memory for a moment), and a reader
// on another thread may read the first n values while more are appended,
// because the table of chunks is allocated once at its full length. Chunks
// are mapped from the kernel and unmapped when freed: the memory of a
// history closed, or of a half copied into the other, goes back to the
// machine at once instead of staying in the allocator's heaps.
template <class T>
class ChunkedColumn {
public:
    static constexpr unsigned kChunkShift = 16;
    static constexpr std::size_t kChunkSize = std::size_t{1} << kChunkShift;
    static constexpr std::size_t kMaxChunks = std::size_t{1} << 14;
    static constexpr std::size_t kCapacity = kChunkSize * kMaxChunks; // about a billion values

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    // True when the next push_back needs a new chunk.
    bool atChunkEnd() const { return (m_size & (kChunkSize - 1)) == 0; }
    static constexpr std::size_t chunkBytes() { return kChunkSize * sizeof(T); }

    const T& operator[](std::size_t i) const { return m_chunks[i >> kChunkShift][i & (kChunkSize - 1)]; }
    const T& back() const { return (*this)[m_size - 1]; }
    T& at(std::size_t i) { return m_chunks[i >> kChunkShift][i & (kChunkSize - 1)]; }
    // The values from i on lie side by side up to the end of i's chunk.
    const T* run(std::size_t i) const { return &(*this)[i]; }
    static std::size_t runLength(std::size_t i) { return kChunkSize - (i & (kChunkSize - 1)); }

    // False when the column is at its capacity.
    bool push_back(const T& value)
    {
        if (atChunkEnd()) {
            if (m_size == kCapacity)
                return false;
            allocateChunk();
        }
        m_chunks[m_size >> kChunkShift][m_size & (kChunkSize - 1)] = value;
        ++m_size;
        return true;
    }

    // Appends n values, no more than fill the current chunk (or one new one).
    void append(const T* values, std::size_t n)
    {
        if (atChunkEnd())
            allocateChunk();
        std::copy(values, values + n, &at(m_size));
        m_size += n;
    }

    // Frees the chunks that lie wholly before `index`; those values must not be read again.
    void releaseBefore(std::size_t index)
    {
        for (std::size_t chunk = 0; chunk < (index >> kChunkShift); ++chunk)
            m_chunks[chunk].reset();
    }


    std::size_t memoryBytes() const
    {
        const std::size_t chunks = (m_size + kChunkSize - 1) >> kChunkShift;
        return chunks * chunkBytes() + (m_chunks ? kMaxChunks * sizeof(Chunk) : 0);
    }

private:
    struct Unmap {
        void operator()(T* chunk) const { ::munmap(chunk, chunkBytes()); }
    };
    using Chunk = std::unique_ptr<T[], Unmap>;

    void allocateChunk()
    {
        if (!m_chunks)
            m_chunks = std::make_unique<Chunk[]>(kMaxChunks);
        // Pages are only touched (made resident) as values arrive.
        void* chunk = ::mmap(nullptr, chunkBytes(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (chunk == MAP_FAILED)
            throw std::bad_alloc();
        m_chunks[m_size >> kChunkShift].reset(static_cast<T*>(chunk));
    }

    std::unique_ptr<Chunk[]> m_chunks;
    std::size_t m_size = 0;
};

} // namespace history
