#include "AddressValidation.h"

#include <algorithm>
#include <utility>

#include "Latin1Text.h"

namespace {

constexpr int AddressParts = 4;
constexpr int MaxFirstAddressPart = 239;
constexpr int MaxAddressPart = 255;

// The value of a part made of decimal digits only; -1 for anything else, a value too large
// for any address part included.
int addressPartValue(std::string_view part)
{
    if (part.empty() || !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    const auto significant = part.find_first_not_of('0');
    if (significant == std::string_view::npos)
        return 0;
    part.remove_prefix(significant);
    if (part.size() > 3)
        return MaxAddressPart + 1;
    int value = 0;
    for (char c : part)
        value = value * 10 + (c - '0');
    return value;
}

} // namespace

bool IsIPAddressLiteral(std::string_view text)
{
    if (std::count(text.begin(), text.end(), '.') != AddressParts - 1)
        return false;
    std::size_t start = 0;
    for (int i = 0; i < AddressParts; ++i) {
        const std::size_t end = text.find('.', start);
        const int value = addressPartValue(text.substr(start, end - start));
        if (value < 0 || value > (i == 0 ? MaxFirstAddressPart : MaxAddressPart))
            return false;
        start = end + 1;
    }
    return true;
}

bool IsValidDomain(std::string_view domain)
{
    const std::string upper = upperCase(trimBlanks(domain));
    if (upper.empty())
        return false;
    if (upper == LoopbackHostName || IsIPAddressLiteral(upper))
        return true;
    const std::size_t lastDot = upper.rfind('.');
    if (lastDot == std::string::npos)
        return false;
    return findNoCase(TopLevelDomainList, std::string_view(upper).substr(lastDot + 1)) != std::string_view::npos;
}

bool IsValidEmailAddress(std::string_view address)
{
    const std::size_t at = address.find('@');
    if (at == std::string_view::npos || address.find('@', at + 1) != std::string_view::npos)
        return false;
    return IsValidDomain(address.substr(at + 1));
}

std::vector<std::string> splitList(std::string_view value, std::string_view delimiter)
{
    std::vector<std::string> entries;
    if (value.empty())
        return entries;
    if (delimiter.empty()) {
        entries.emplace_back(value);
        return entries;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t found = findNoCase(value, delimiter, start);
        entries.emplace_back(value.substr(start, found - start));
        if (found == std::string_view::npos)
            return entries;
        start = found + delimiter.size();
    }
}

void TrimListEntries(std::vector<std::string>& entries)
{
    for (std::string& entry : entries) {
        const std::string_view trimmed = trimBlanks(entry);
        // One pass from the left: a pair that only forms once another pair is gone stays.
        std::string cleaned;
        cleaned.reserve(trimmed.size());
        for (std::size_t i = 0; i < trimmed.size(); ++i) {
            if (trimmed.substr(i, Wire::CrLf.size()) == Wire::CrLf)
                ++i;
            else
                cleaned += trimmed[i];
        }
        std::erase(cleaned, '\t');
        entry = std::move(cleaned);
    }
}

std::string joinList(const std::vector<std::string>& entries, std::string_view delimiter)
{
    std::string joined;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i != 0)
            joined += delimiter;
        joined += entries[i];
    }
    return joined;
}
