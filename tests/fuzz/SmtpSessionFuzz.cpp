// Two connections' arbitrary streams, cut anywhere and interleaved: after every block each has kept
// exactly what its own stream holds so far, every message confirmed with "250 OK" to its ".".
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "ReferenceCapture.h"
#include "SmtpSession.h"

namespace {

class RecordingConnection : public SmtpConnection {
public:
    void SendData(std::string_view text) override
    {
        if (awaitingReply) {
            // The reply that follows a kept message must confirm it.
            if (text != "250 OK\r\n")
                std::abort();
            awaitingReply = false;
        }
    }
    bool storeMessage(std::string&&, std::string&&, std::string&& body, const std::string&) override
    {
        if (awaitingReply)
            std::abort();
        bodies.push_back(std::move(body));
        awaitingReply = true;
        return true;
    }

    std::vector<std::string> bodies;
    bool awaitingReply = false;
};

struct Client {
    RecordingConnection connection;
    SmtpSession session{connection, nullptr};
    std::string stream;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    Client clients[2];
    while (input.remaining_bytes() > 0) {
        Client& client = clients[input.ConsumeBool() ? 1 : 0];
        const std::size_t length = input.ConsumeIntegralInRange<std::size_t>(0, 600);
        std::string block = input.ConsumeBytesAsString(length);
        client.stream += block;
        client.session.receive(std::move(block));
        for (const Client& c : clients)
            if (c.connection.awaitingReply || c.connection.bodies != expectedBodies(c.stream))
                std::abort();
    }
    return 0;
}
