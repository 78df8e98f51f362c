#pragma once

#include <string>
#include <string_view>

namespace Search {

// Text as searches compare it: Unicode case folding (KÖLN and Köln alike), the punctuation that
// separates addresses (< > " , ; ( )) and every run of blanks and line breaks as one space,
// trimmed. A phrase then matches across a folded line. Bytes that are not UTF-8 are replaced.
std::string normalised(std::string_view text);

// Whether needle, normalised, occurs in haystack, normalised; an empty needle matches anything.
inline bool containsNormalised(std::string_view haystack, std::string_view needle)
{
    return haystack.find(needle) != std::string_view::npos;
}

} // namespace Search
