#pragma once

// Inside the MIME reader only: GMime's objects, which no public header shows.

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gmime/gmime.h>

#include "MimeBounds.h"
#include "MimeMessage.h"

namespace Mime::Detail {

// Real mail nests a handful of levels. Beyond this the tree stops, so that a hostile message
// cannot make it too deep to be destroyed on an ordinary stack.
inline constexpr int MaxDepth = 1000;

void initialiseOnce();

// Owns one GObject reference.
template <typename T> class Ref {
public:
    explicit Ref(T* object = nullptr) : m_object(object) { }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref()
    {
        if (m_object)
            g_object_unref(m_object);
    }
    T* get() const { return m_object; }
    void reset(T* object)
    {
        if (m_object)
            g_object_unref(m_object);
        m_object = object;
    }

private:
    T* m_object;
};

// A read-only stream over the caller's bytes, less the ranges left out. GMimeStreamMem reads
// only the array's data and length and, not owning it, never frees or grows it; so a 20 MiB
// message is not copied to be parsed, and with a persistent stream its parts are not copied
// either. Ranges left out are stepped over by a chain of pieces of it.
class RawStream {
public:
    RawStream(std::string_view raw, const std::vector<ByteRange>& leftOut);
    RawStream(const RawStream&) = delete;
    RawStream& operator=(const RawStream&) = delete;
    GMimeStream* get() const { return m_chain.get() ? m_chain.get() : m_stream.get(); }

private:
    GByteArray m_view{};
    Ref<GMimeStream> m_stream;
    Ref<GMimeStream> m_chain;
};

// One parse of a message by GMime over bytes the caller keeps alive, within the bounds of
// MimeBounds.h. A body too costly to take apart is left out of the parse: only the header is
// parsed then, and bodyLeftOut says where the body starts.
struct ParsedMessage {
    // counted: whether this takes a message apart (parseCount); a header read alone does not.
    explicit ParsedMessage(std::string_view bytes, bool counted = true);

    std::string_view raw;
    std::size_t bodyLeftOut = std::string_view::npos;
    Structure structure;
    RawStream stream;
    Ref<GMimeMessage> message; // null when GMime could read nothing
};

// The message as its recipient reads it (MimeMessage.cpp).
Message read(const ParsedMessage& parsed);

// The leaves of a parse by part id, found with one walk.
class PartIndex {
public:
    explicit PartIndex(const ParsedMessage& parsed);
    // The part's bytes after transfer decoding; nothing when no leaf has that id.
    std::optional<std::string> content(std::string_view partId) const;

private:
    std::map<std::string, GMimeObject*, std::less<>> m_leaves;
};

// GMime passes 8-bit bytes in header fields through undecoded; our strings are all UTF-8.
std::string text(const char* value);

std::string lowerCase(std::string value);
std::string trimmed(std::string_view value);

// What a part holds after transfer decoding; an attached message as received, CR LF.
void writeDecoded(GMimeObject* object, GMimeStream* sink);
std::size_t decodedSize(GMimeObject* object);
std::string decodedContent(GMimeObject* object);

std::string childId(const std::string& parentId, int index);

// Calls visit(object, partId, depth) for every entity below the message, numbered as IMAP
// numbers body sections: a multipart that is a message's body has no number of its own, a
// single body is "". visit returns whether to go below the entity.
template <typename Visit> void walk(GMimeObject* root, const Visit& visit)
{
    // An explicit stack rather than recursion: the depth is the sender's to choose.
    struct Pending {
        GMimeObject* object;
        std::string partId;
        int depth;
    };
    std::vector<Pending> pending{{root, "", 0}};
    while (!pending.empty()) {
        Pending entry = std::move(pending.back());
        pending.pop_back();
        if (!entry.object || entry.depth > MaxDepth || !visit(entry.object, entry.partId, entry.depth))
            continue;
        if (GMIME_IS_MULTIPART(entry.object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(entry.object);
            for (int i = g_mime_multipart_get_count(multipart) - 1; i >= 0; --i)
                pending.push_back({g_mime_multipart_get_part(multipart, i), childId(entry.partId, i), entry.depth + 1});
        } else if (GMIME_IS_MESSAGE_PART(entry.object)) {
            GMimeMessage* message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(entry.object));
            GMimeObject* body = message ? g_mime_message_get_mime_part(message) : nullptr;
            if (body)
                pending.push_back(
                    {body, GMIME_IS_MULTIPART(body) ? entry.partId : childId(entry.partId, 0), entry.depth + 1});
        }
    }
}

} // namespace Mime::Detail
