#include "MimeDocument.h"

#include "GMimeParse.h"

namespace Mime {

struct Document::State {
    explicit State(std::shared_ptr<const std::string> bytes) : raw(std::move(bytes)), parsed(*raw) { }

    std::shared_ptr<const std::string> raw;
    Detail::ParsedMessage parsed;
    std::optional<Message> message;
    std::optional<Detail::PartIndex> parts;
};

Document::Document(std::shared_ptr<const std::string> raw)
    : m_state(std::make_unique<State>(raw ? std::move(raw) : std::make_shared<const std::string>()))
{
}

Document::~Document() = default;

const Message& Document::message() const
{
    if (!m_state->message)
        m_state->message = Detail::read(m_state->parsed);
    return *m_state->message;
}

std::optional<std::string> Document::partContent(std::string_view partId) const
{
    if (!m_state->parts)
        m_state->parts = Detail::PartIndex(m_state->parsed);
    return m_state->parts->content(partId);
}

} // namespace Mime
