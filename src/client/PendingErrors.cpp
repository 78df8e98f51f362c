#include "PendingErrors.h"

#include <algorithm>

#include "Latin1Text.h"

void PendingErrors::Add(std::string_view text)
{
    if (!Contains(text))
        m_texts.emplace_back(text);
}

void PendingErrors::Remove(std::string_view text)
{
    std::erase_if(m_texts, [text](const std::string& pending) { return EqualNoCase(pending, text); });
}

bool PendingErrors::Contains(std::string_view text) const
{
    return std::any_of(m_texts.begin(), m_texts.end(),
                       [text](const std::string& pending) { return EqualNoCase(pending, text); });
}
