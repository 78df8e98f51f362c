#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The data of a message while it arrives. A single growing text would at times hold its old and
// its new room at once, twice the message; this one grows a block at a time and is joined into
// one text of exactly its size at the end, freeing each block as it is copied.
class MessageDataBuffer {
public:
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    // The room the blocks take, used or not.
    std::size_t capacity() const;

    void append(std::string_view text);
    // Empties the buffer and hands its memory back.
    void clear();
    // The whole text; the buffer is left empty.
    std::string take();

private:
    std::vector<std::string> m_blocks;
    std::size_t m_size = 0;
};
