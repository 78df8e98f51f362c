#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The data of a message while it arrives. A single growing text would at times hold its old and
// its new room at once, twice the message; this one keeps a short message in one string and a
// long one in blocks mapped straight from the system, and joins them into one text of exactly
// its size at the end, unmapping each block as it is copied.
class MessageDataBuffer {
public:
    MessageDataBuffer() = default;
    ~MessageDataBuffer() { clear(); }
    MessageDataBuffer(const MessageDataBuffer&) = delete;
    MessageDataBuffer& operator=(const MessageDataBuffer&) = delete;

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    // The room the buffer takes, used or not.
    std::size_t capacity() const;

    void append(std::string_view text);
    // Empties the buffer and hands its memory back.
    void clear();
    // The whole text; the buffer is left empty.
    std::string take();

private:
    // A block of its own mapping: unmapped, it is back with the system at once, where a block
    // freed to the allocator would stay resident for whatever the allocator does next.
    struct Block {
        char* data = nullptr;
        std::size_t used = 0;
    };
    void unmap(Block& block);

    std::string m_head;          // the first bytes, grown as a string grows
    std::vector<Block> m_blocks; // what follows, in blocks of a fixed size
    std::size_t m_size = 0;
};
