#pragma once

#include <string>

#include <QByteArray>
#include <QJsonObject>

class ApiServer;
class ChaosTriggers;

// GET and PUT /api/v1/chaos over the listener's failure replies, in Mailpit's JSON: each step an
// object {"ErrorCode": 400-599, "Probability": 0-100}.
void addChaosRoutes(ApiServer& api, ChaosTriggers& chaos);

namespace ChaosJson {
// Every step's trigger.
QJsonObject triggers(const ChaosTriggers& chaos);
// Sets every step from a PUT body: a step left out goes back to its default code and 0; keys in
// any letter case. Nothing changes, and the reason is given, when any value is wrong.
bool apply(const QByteArray& body, ChaosTriggers& chaos, std::string& error);
} // namespace ChaosJson
