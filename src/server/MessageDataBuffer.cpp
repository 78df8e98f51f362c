#include "MessageDataBuffer.h"

#include <algorithm>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <utility>

namespace {
// Large enough that a 64 MiB message has 64 blocks, small enough to be a small overhead.
constexpr std::size_t BlockSize = std::size_t(1) << 20;
} // namespace

std::size_t MessageDataBuffer::capacity() const
{
    std::size_t room = 0;
    for (const std::string& block : m_blocks)
        room += block.capacity();
    return room;
}

void MessageDataBuffer::append(std::string_view text)
{
    // Most lines fit in the room the current block already has.
    if (!m_blocks.empty() && m_blocks.back().capacity() - m_blocks.back().size() >= text.size()) {
        m_blocks.back().append(text);
        m_size += text.size();
        return;
    }
    while (!text.empty()) {
        if (m_blocks.empty() || m_blocks.back().size() == BlockSize)
            m_blocks.emplace_back();
        std::string& block = m_blocks.back();
        const std::size_t part = std::min(text.size(), BlockSize - block.size());
        // The first block grows as a string does, so short messages stay short; a block never
        // grows past its size, so a long message costs one block beyond its data.
        if (block.capacity() < block.size() + part)
            block.reserve(std::min(std::max(block.size() + part, 2 * block.capacity()), BlockSize));
        block.append(text.substr(0, part));
        text.remove_prefix(part);
        m_size += part;
    }
}

void MessageDataBuffer::clear()
{
    const bool large = m_blocks.size() > 1;
    std::vector<std::string>().swap(m_blocks);
    m_size = 0;
#if defined(__GLIBC__)
    // The allocator keeps freed blocks of this size in its heap, resident, for blocks to come;
    // after a large message that is as much memory again as the message held while it arrived.
    if (large)
        malloc_trim(0);
#endif
}

std::string MessageDataBuffer::take()
{
    std::string text;
    if (m_blocks.size() == 1) {
        text = std::move(m_blocks.front());
    } else {
        text.reserve(m_size);
        for (std::string& block : m_blocks) {
            text.append(block);
            std::string().swap(block);
        }
    }
    clear();
    return text;
}
