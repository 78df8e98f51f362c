#include "Htpasswd.h"

#include <crypt.h>

#include <fstream>
#include <memory>
#include <sstream>

namespace {

constexpr const char* NotBcryptText = " is not \"name:bcrypt hash\" (make entries with htpasswd -B)";
constexpr const char* EmptyText = "the file names no user";
constexpr const char* UnreadableText = "cannot read the file";
constexpr std::size_t BcryptLength = 60;
constexpr std::size_t MaxRemembered = 64;

bool isBcrypt(std::string_view hash)
{
    return hash.size() == BcryptLength
        && (hash.starts_with("$2y$") || hash.starts_with("$2b$") || hash.starts_with("$2a$"));
}

// Compares every byte whatever differs first: the time taken tells nothing of the hash.
bool sameBytes(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

bool matches(const std::string& password, const std::string& hash)
{
    // crypt_r's state is large: on the heap, not the event loop's stack.
    auto data = std::make_unique<crypt_data>();
    const char* result = crypt_r(password.c_str(), hash.c_str(), data.get());
    return result && result[0] != '*' && sameBytes(result, hash);
}

} // namespace

std::optional<Htpasswd> Htpasswd::parse(std::string_view text, std::string& error)
{
    Htpasswd file;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        const std::size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos || !isBcrypt(line.substr(colon + 1))) {
            error = "line " + std::to_string(number) + NotBcryptText;
            return std::nullopt;
        }
        file.m_users.push_back({std::string(line.substr(0, colon)), std::string(line.substr(colon + 1))});
    }
    if (file.m_users.empty()) {
        error = EmptyText;
        return std::nullopt;
    }
    return file;
}

std::optional<Htpasswd> Htpasswd::load(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        error = UnreadableText;
        return std::nullopt;
    }
    return parse(text.str(), error);
}

bool Htpasswd::accepts(std::string_view user, std::string_view password)
{
    // crypt_r reads up to the first NUL: "secret\0anything" must not pass as "secret".
    if (password.find('\0') != std::string_view::npos)
        return false;
    std::string pair = std::string(user) + '\0' + std::string(password);
    if (m_accepted.contains(pair))
        return true;
    const User* found = nullptr;
    for (const User& entry : m_users)
        if (entry.name == user)
            found = &entry;
    // A name not in the file costs a round too, so that the time taken does not tell which names are.
    const bool accepted = matches(std::string(password), (found ? found : &m_users.front())->hash) && found;
    if (accepted) {
        if (m_accepted.size() >= MaxRemembered)
            m_accepted.clear();
        m_accepted.insert(std::move(pair));
    }
    return accepted;
}
