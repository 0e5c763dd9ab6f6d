#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <vector>

// Frame buffers that start zeroed and cost no memory until written: large
// blocks come from calloc, whose fresh pages the kernel hands out only when
// touched. A camera's template slots and history frames of groups and slots
// never used stay out of the resident memory.
class ZeroedBuffers
{
public:
    // A new zeroed block owned by this set; null only for 0 bytes.
    unsigned char* add(std::size_t bytes)
    {
        if (bytes == 0)
            return nullptr;
        auto* block = static_cast<unsigned char*>(std::calloc(bytes, 1));
        if (!block)
            throw std::bad_alloc();
        m_blocks.emplace_back(block);
        return block;
    }
    void clear() { m_blocks.clear(); }

private:
    struct Free
    {
        void operator()(unsigned char* block) const { std::free(block); }
    };
    std::vector<std::unique_ptr<unsigned char, Free>> m_blocks;
};
