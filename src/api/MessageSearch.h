#pragma once

#include <string>
#include <string_view>
#include <vector>

// A search as test suites write it: words that must all match, each optionally limited to one
// field (from:, to:, subject:) and optionally negated (a leading - or !). Quotes keep spaces.
struct SearchTerm {
    enum class Field { Any, From, To, Subject };
    Field field = Field::Any;
    std::string text; // lower case
    bool negated = false;
};

std::vector<SearchTerm> parseSearch(std::string_view query);

// Whether needle (already lower case) occurs in haystack, ignoring the case of ASCII letters.
bool containsFolded(std::string_view haystack, std::string_view needle);
