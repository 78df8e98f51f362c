#pragma once

#include <string>
#include <string_view>
#include <vector>

// Error texts waiting to be reported, in the order first added; letter case does not tell
// two texts apart.
class PendingErrors {
public:
    // Appends the text unless it is already present (its place then stays).
    void add(std::string_view text);
    // Removes the text wherever it stands.
    void remove(std::string_view text);
    bool contains(std::string_view text) const;
    void Clear() { m_texts.clear(); }

    bool empty() const { return m_texts.empty(); }
    const std::vector<std::string>& texts() const { return m_texts; }

private:
    std::vector<std::string> m_texts;
};
