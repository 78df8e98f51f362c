#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// Who may use the HTTP server: the users of an htpasswd file, each with a bcrypt hash (made with
// `htpasswd -B`). Plain, MD5 and SHA-1 entries are refused: they are too cheap to guess at.
class Htpasswd {
public:
    // The users of the file's text, or nothing with the reason in error.
    static std::optional<Htpasswd> parse(std::string_view text, std::string& error);
    // As parse, from a file.
    static std::optional<Htpasswd> load(const std::string& path, std::string& error);

    // Whether the user is in the file and the password matches its hash. A pair once accepted is
    // remembered, so that a browser's every request does not cost a bcrypt round.
    bool accepts(std::string_view user, std::string_view password);

private:
    struct User {
        std::string name;
        std::string hash;
    };
    std::vector<User> m_users;
    std::unordered_set<std::string> m_accepted;
};
