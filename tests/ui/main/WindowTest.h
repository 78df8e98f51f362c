#pragma once

#include "TestKit.h"
#include "LoopbackClient.h"
#include "MainWindowDriver.h"
#include "RecordingMessageBoxes.h"
#include "SmtpListener.h"
#include "clsEmailStorage.h"

// The main window with its boxes recorded, its capture service set to a free loopback port.
template <class Base = ::testing::Test> class WindowTest : public Base {
protected:
    WindowTest() { service.setListenAddress({"127.0.0.1", 0}); }

    // Starts the capture server and connects a client it has greeted.
    std::unique_ptr<LoopbackClient> connected()
    {
        click(window, "mnuStartStop");
        auto client = std::make_unique<LoopbackClient>();
        EXPECT_TRUE(client->Connect(window.listener().listeningPort()));
        EXPECT_EQ(client->readLine(), "220 Quellpost");
        return client;
    }

    RecordingMessageBoxes boxes;
    CaptureService service;
    frmMain window{service};
};
