#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QByteArray>

class ApiServer;
class RelayService;
class clsEmailStorage;

// POST /api/v1/message/{ID}/release with Mailpit's body {"To": ["a@example.com", ...]}: the
// message with that id (never "latest": release names what it sends) goes to the relay. The
// answer waits for the relay's outcome. Without a relay, release is refused.
void addReleaseRoutes(ApiServer& api, const clsEmailStorage& store, RelayService* relay);

// The recipients of a release request's body; nothing, with the reason, when it is not
// an object whose "To" (in any letter case) is a list of strings.
std::optional<std::vector<std::string>> releaseRecipients(const QByteArray& body, std::string& error);
