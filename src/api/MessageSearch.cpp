#include "MessageSearch.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "Latin1Text.h"

namespace {

char folded(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

constexpr std::array<std::pair<std::string_view, SearchTerm::Field>, 3> Prefixes{{
    {"from:", SearchTerm::Field::From},
    {"to:", SearchTerm::Field::To},
    {"subject:", SearchTerm::Field::Subject},
}};

// Splits at blanks outside double quotes; the quotes themselves go.
std::vector<std::string> words(std::string_view query)
{
    std::vector<std::string> result;
    std::string current;
    bool quoted = false;
    bool any = false;
    for (char c : query) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (any)
                result.push_back(std::move(current));
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any)
        result.push_back(std::move(current));
    return result;
}

} // namespace

std::vector<SearchTerm> parseSearch(std::string_view query)
{
    std::vector<SearchTerm> terms;
    for (std::string word : words(query)) {
        SearchTerm term;
        if (!word.empty() && (word.front() == '-' || word.front() == '!')) {
            term.negated = true;
            word.erase(0, 1);
        }
        std::transform(word.begin(), word.end(), word.begin(), folded);
        for (const auto& [prefix, field] : Prefixes) {
            if (word.starts_with(prefix)) {
                term.field = field;
                word.erase(0, prefix.size());
                break;
            }
        }
        // A quoted prefix value ("subject:\"two words\"") lost its quotes in words().
        if (word.empty())
            continue;
        term.text = std::move(word);
        terms.push_back(std::move(term));
    }
    return terms;
}

bool containsFolded(std::string_view haystack, std::string_view needle)
{
    // ASCII letters only: a byte of a UTF-8 character never matches another's.
    return needle.empty() ? !haystack.empty() : FindFolded(haystack, needle, AsciiCaseFold()) != std::string_view::npos;
}
