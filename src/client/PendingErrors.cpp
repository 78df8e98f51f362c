#include "PendingErrors.h"

#include <algorithm>

#include "Latin1Text.h"

void PendingErrors::add(std::string_view text)
{
    if (!contains(text))
        m_texts.emplace_back(text);
}

void PendingErrors::remove(std::string_view text)
{
    std::erase_if(m_texts, [text](const std::string& pending) { return equalNoCase(pending, text); });
}

bool PendingErrors::contains(std::string_view text) const
{
    return std::any_of(m_texts.begin(), m_texts.end(),
                       [text](const std::string& pending) { return equalNoCase(pending, text); });
}
