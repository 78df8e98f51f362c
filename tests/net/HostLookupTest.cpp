#include "TestKit.h"
#include "HostLookup.h"
#include "RecordingMessageBoxes.h"
#include "mdlPing.h"

using namespace std::string_literals;

TEST(HostLookup, GetIPAddressTrimsAndTerminatesTheName)
{
    RecordingMessageBoxes boxes;
    struct Case {
        std::string name;
        std::string nameAfter;
        std::string address;
    };
    const Case cases[] = {
        {"  localhost  ", "localhost\0"s, "127.0.0.1"},
        {" 127.0.0.1 ", "127.0.0.1\0"s, "127.0.0.1"},
        // A stored host already carries its NUL; only the text before it is looked up.
        {"localhost\0"s, "localhost\0\0"s, "127.0.0.1"},
        {"  nowhere.invalid  ", "nowhere.invalid\0"s, ""},
        {"NoWhere.INVALID.", "NoWhere.INVALID.\0"s, ""},
        // Only an empty name stands for the local host; blanks alone leave nothing to resolve.
        {"   ", "\0"s, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("name '" + c.name + "'");
        std::string name = c.name;
        EXPECT_EQ(GetIPAddress(name), c.address);
        EXPECT_EQ(name, c.nameAfter);
    }

    // An empty name stands for the local host.
    const std::string host = GetIPHost();
    std::string name;
    const std::string address = GetIPAddress(name);
    EXPECT_EQ(name, host + '\0');
    std::string byName = host;
    EXPECT_EQ(address, GetIPAddress(byName));

    // Every lookup released its start of the socket library: one more clean-up is refused.
    EXPECT_TRUE(boxes.boxes().empty());
    mdlPing::SocketsCleanup();
    EXPECT_EQ(boxes.texts(), Texts{"Windows sockets error occurred in cleanup."});
}
