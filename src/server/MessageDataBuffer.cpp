#include "MessageDataBuffer.h"

#include <algorithm>
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
    std::vector<std::string>().swap(m_blocks);
    m_size = 0;
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
