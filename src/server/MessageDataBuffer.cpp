#include "MessageDataBuffer.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {
// A short message never leaves its string; a long one costs at most one block beyond its data.
constexpr std::size_t HeadSize = std::size_t(256) << 10;
constexpr std::size_t BlockSize = std::size_t(1) << 20;
} // namespace

std::size_t MessageDataBuffer::capacity() const
{
    // A short string lives inside the object and takes no room of its own.
    const std::size_t headRoom = m_head.capacity() > std::string().capacity() ? m_head.capacity() : 0;
    return headRoom + m_blocks.size() * BlockSize;
}

void MessageDataBuffer::append(std::string_view text)
{
    m_size += text.size();
    if (m_blocks.empty() && m_head.size() + text.size() <= HeadSize) {
        m_head.append(text);
        return;
    }
    while (!text.empty()) {
        if (m_blocks.empty() || m_blocks.back().used == BlockSize) {
            void* mapped = mmap(nullptr, BlockSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (mapped == MAP_FAILED)
                throw std::bad_alloc();
            m_blocks.push_back(Block{static_cast<char*>(mapped), 0});
        }
        Block& block = m_blocks.back();
        const std::size_t part = std::min(text.size(), BlockSize - block.used);
        std::memcpy(block.data + block.used, text.data(), part);
        block.used += part;
        text.remove_prefix(part);
    }
}

void MessageDataBuffer::clear()
{
    std::string().swap(m_head);
    for (Block& block : m_blocks)
        unmap(block);
    std::vector<Block>().swap(m_blocks);
    m_size = 0;
}

std::string MessageDataBuffer::take()
{
    std::string text;
    if (m_blocks.empty()) {
        text = std::move(m_head);
    } else {
        text.reserve(m_size);
        text.append(m_head);
        std::string().swap(m_head);
        for (Block& block : m_blocks) {
            text.append(block.data, block.used);
            unmap(block);
        }
    }
    clear();
    return text;
}

void MessageDataBuffer::unmap(Block& block)
{
    if (block.data)
        munmap(block.data, BlockSize);
    block.data = nullptr;
}
