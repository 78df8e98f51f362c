#include "SocketTestSupport.h"

#include <algorithm>

#include <QTcpServer>

EventRecorder::EventRecorder(SocketControl& control, bool readOnArrival)
{
    SocketControl* c = &control;
    auto add = [this, c](const char* kind) { events.push_back({kind, c->State()}); };
    QObject::connect(c, &SocketControl::ConnectionRequest, c, [this, add](long id) {
        add("Request");
        requests.push_back(id);
    });
    QObject::connect(c, &SocketControl::DataArrival, c, [this, add, c, readOnArrival](long) {
        add("Data");
        if (readOnArrival)
            received += c->GetData();
    });
    QObject::connect(c, &SocketControl::CloseEvent, c, [add] { add("Close"); });
    QObject::connect(c, &SocketControl::ConnectEvent, c, [add] { add("Connect"); });
    QObject::connect(c, &SocketControl::ErrorEvent, c,
                     [this, add](int number, const std::string& description, const std::string& source) {
                         add("Error");
                         errorNumber = number;
                         errorDescription = description;
                         errorSource = source;
                     });
    QObject::connect(c, &SocketControl::SendProgress, c, [this, add](long sent, long remaining) {
        add("Progress");
        bytesSent += sent;
        lastRemaining = remaining;
    });
    QObject::connect(c, &SocketControl::SendComplete, c, [add] { add("Complete"); });
}

int EventRecorder::Count(std::string_view kind) const
{
    return int(std::count_if(events.begin(), events.end(), [kind](const RecordedEvent& e) { return e.kind == kind; }));
}

std::vector<std::string> EventRecorder::Kinds() const
{
    std::vector<std::string> kinds;
    for (const auto& e : events)
        kinds.push_back(e.kind);
    return kinds;
}

int ClosedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}
