#include <QTcpServer>

#include "TestKit.h"
#include "ApiServer.h"
#include "CaptureService.h"
#include "CaptureSetup.h"
#include "RecordingMessageBoxes.h"
#include "SmtpListener.h"

namespace {

CommandLineOptions options(const std::function<void(CommandLineOptions&)>& change)
{
    CommandLineOptions result;
    change(result);
    return result;
}

} // namespace

// What cannot be set up is returned with its exit code, never printed.
TEST(CaptureSetup, ErrorsAreReturnedWithTheExitCode)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    const int takenPort = taken.serverPort();
    struct Case {
        const char* name;
        CommandLineOptions options;
        int exitCode;    // 0: done
        std::string out; // the start of the error
    } cases[] = {
        {"nothing asked", {}, 0, ""},
        {"certificate files missing",
         options([](auto& o) { o.tlsCertificateFile = o.tlsKeyFile = "/nonexistent/quellpost.pem"; }), 2, ""},
        {"API port taken", options([&](auto& o) {
             o.http = ListenAddress{"127.0.0.1", takenPort};
         }),
         1, "cannot serve the HTTP API on 127.0.0.1 port " + std::to_string(takenPort) + ": "},
        {"users file missing", options([](auto& o) {
             o.http = ListenAddress{"127.0.0.1", 0};
             o.httpUsersFile = "/nonexistent/users";
         }),
         1, "cannot take the users of /nonexistent/users: "},
        {"API on loopback", options([](auto& o) {
             o.http = ListenAddress{"127.0.0.1", 0};
         }),
         0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingMessageBoxes boxes;
        CaptureService service;
        const CaptureSetup setup = setUpCapture(service, c.options);
        EXPECT_EQ(setup.done, c.exitCode == 0);
        EXPECT_EQ(setup.exitCode, c.exitCode);
        EXPECT_TRUE(setup.error.starts_with(c.out)) << setup.error;
        EXPECT_TRUE(setup.warnings.empty());
        EXPECT_EQ(service.api() != nullptr, setup.done && c.options.http.has_value());
        EXPECT_TRUE(boxes.boxes().empty());
    }
}

// A face that follows the log from the start sees what setting up logs.
TEST(CaptureSetup, ListenerBudgetAndModernDialogueAsAsked)
{
    RecordingMessageBoxes boxes;
    CaptureService service;
    Texts logged;
    QObject::connect(&service, &CaptureService::lineLogged,
                     [&](std::string_view line, std::size_t) { logged.emplace_back(line); });
    const CaptureSetup setup = setUpCapture(service, options([](auto& o) {
                                                o.headless = true;
                                                o.maxMemory = 1 << 20;
                                                o.modernSmtp = true;
                                                o.smtps = ListenAddress{"127.0.0.1", 0};
                                            }));
    ASSERT_TRUE(setup.done) << setup.error;
    EXPECT_EQ(service.store().budget().limit(), std::size_t{1} << 20);
    // Headless listens on every IPv4 address by default; the window, without --smtp, on every address.
    EXPECT_EQ(service.listenAddress().host, "0.0.0.0");
    EXPECT_EQ(service.listenAddress().port, 25);
    EXPECT_EQ(service.implicitTlsAddress().host, "127.0.0.1");
    EXPECT_TRUE(service.modernSmtp());
    ASSERT_EQ(logged.size(), 2u); // the certificate made, the dialogue switched on
    EXPECT_TRUE(logged.back().starts_with("Modern SMTP (EHLO, STARTTLS, AUTH) on")) << logged.back();
    EXPECT_EQ(service.log().Count(), 2u);

    service.setListenAddress({"127.0.0.1", 0});
    service.startListening();
    EXPECT_TRUE(service.listening());
    EXPECT_GT(service.listener().implicitTlsPort(), 0);
    service.stopListening();
    EXPECT_FALSE(service.listening());
    EXPECT_EQ(Texts(logged.end() - 3, logged.end()),
              (Texts{"SMTP server started.", "Shutting down all WinSock connections.", "SMTP server stopped."}));
    EXPECT_TRUE(boxes.boxes().empty());
}
