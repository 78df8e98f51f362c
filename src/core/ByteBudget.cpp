#include "ByteBudget.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

#include "ScopeExit.h"

namespace {
constexpr std::size_t MaxDefaultLimit = std::size_t(4) << 30;
constexpr std::size_t FallbackLimit = std::size_t(1) << 30; // when the machine's memory cannot be read
} // namespace

ByteBudget::ByteBudget(std::size_t limit) : m_limit(limit)
{
}

std::size_t ByteBudget::defaultLimit()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return FallbackLimit;
    return std::min(std::size_t(pages) / 4 * std::size_t(pageSize), MaxDefaultLimit);
}

bool ByteBudget::takeFree(std::size_t bytes)
{
    if (bytes > remaining())
        return false;
    m_used += bytes;
    m_peak = std::max(m_peak, m_used);
    return true;
}

bool ByteBudget::tryTake(std::size_t bytes)
{
    if (takeFree(bytes))
        return true;
    if (!m_reclaimer || m_reclaiming)
        return false;
    m_reclaiming = true;
    const ScopeExit done([this] { m_reclaiming = false; });
    return m_reclaimer(bytes - remaining()) && takeFree(bytes);
}

void ByteBudget::giveBack(std::size_t bytes)
{
    m_used -= std::min(bytes, m_used);
}

void ByteCharge::setBudget(ByteBudget* budget)
{
    reset();
    m_budget = budget;
}

bool ByteCharge::cover(std::size_t bytes)
{
    if (bytes <= m_bytes)
        return true;
    if (m_budget && !m_budget->takeFree(bytes - m_bytes))
        return coverReclaiming(bytes);
    m_bytes = bytes;
    return true;
}

bool ByteCharge::coverReclaiming(std::size_t bytes)
{
    if (!m_budget->tryTake(bytes - m_bytes))
        return false;
    m_bytes = bytes;
    return true;
}

void ByteCharge::reset()
{
    if (m_budget)
        m_budget->giveBack(m_bytes);
    m_bytes = 0;
}

bool parseByteSize(const char* text, std::size_t& bytes)
{
    const std::string_view all(text);
    double number = 0;
    const auto [end, error] = std::from_chars(all.data(), all.data() + all.size(), number);
    if (error != std::errc() || number < 0)
        return false;
    std::string unit(end, all.data() + all.size());
    std::transform(unit.begin(), unit.end(), unit.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    if (unit.ends_with("IB"))
        unit.resize(unit.size() - 2);
    else if (unit.size() > 1 && unit.ends_with('B'))
        unit.pop_back();
    else if (unit == "B")
        unit.clear();
    constexpr std::string_view Units = "KMGT";
    int shift = 0;
    if (!unit.empty()) {
        const std::size_t at = Units.find(unit);
        if (unit.size() != 1 || at == std::string_view::npos)
            return false;
        shift = 10 * int(at + 1);
    }
    const double value = std::ldexp(number, shift);
    if (!(value < std::ldexp(1.0, 63)))
        return false;
    bytes = std::size_t(value);
    return true;
}
