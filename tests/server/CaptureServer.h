#pragma once

#include <memory>

#include <gtest/gtest.h>

#include "LoopbackClient.h"
#include "RecordingHost.h"
#include "RecordingMessageBoxes.h"
#include "SmtpListener.h"
#include "clsEmailStorage.h"

// The capture server listening on a free loopback port, the window played by a recording host.
template <class Host = RecordingHost> class CaptureServer : public ::testing::Test {
protected:
    CaptureServer() { start(); }

    void start()
    {
        listener.setListenAddress(QHostAddress::LocalHost, 0);
        listener.startListening();
        port = listener.listeningPort();
    }

    std::unique_ptr<LoopbackClient> greeted()
    {
        auto client = std::make_unique<LoopbackClient>();
        EXPECT_TRUE(client->Connect(port));
        EXPECT_EQ(client->readLine(), "220 Quellpost");
        return client;
    }

    // Sends a whole transaction; the reply to its end of data.
    static std::string deliver(LoopbackClient& client, const std::string& data)
    {
        client.Send("MAIL FROM:<a@b.c>\r\nRCPT TO:<d@e.f>\r\nDATA\r\n" + data + ".\r\n");
        for (const char* reply : {"250 OK", "250 OK", "354 send the mail data, end with ."})
            EXPECT_EQ(client.readLine(), reply);
        return client.readLine();
    }

    RecordingMessageBoxes boxes;
    clsEmailStorage store;
    Host host;
    SmtpListener listener{store, host};
    int port = 0;
};
