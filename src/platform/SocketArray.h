#pragma once

#include <map>
#include <string>
#include <vector>

#include <QObject>

#include "SocketControl.h"

// An array of socket controls addressed by index (0 to 32767). Element 0 exists from the start;
// the others are loaded and unloaded on demand. Every element's events are raised again here,
// with the element's index first; SendProgress and SendComplete only while something here listens
// to them, so that an element reports its sending only then. Every element carries the array's
// objectName.
class SocketArray final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SocketArray)
public:
    static constexpr int MaxIndex = 32767;

    explicit SocketArray(QObject* parent = nullptr);
    ~SocketArray() override;

    void Load(int index);   // a new closed element with element 0's local address
    void Unload(int index); // safe inside the element's own event handler
    SocketControl& Element(int index) const;
    bool Exists(int index) const;
    int Count() const;                // element 0 included
    std::vector<int> indexes() const; // ascending

signals:
    void ConnectionRequest(int index, long requestId);
    void DataArrival(int index, long bytesTotal);
    void CloseEvent(int index);
    void ConnectEvent(int index);
    void ErrorEvent(int index, int number, const std::string& description, const std::string& source);
    void SendProgress(int index, long bytesSent, long bytesRemaining);
    void SendComplete(int index);
    void encryptedEvent(int index);
    void tlsErrorEvent(int index, const std::string& description);

protected:
    void connectNotify(const QMetaMethod& signal) override;
    void disconnectNotify(const QMetaMethod& signal) override;

private:
    SocketControl* create(int index);
    void relayProgress(int index, SocketControl* element);
    void updateProgressRelays();

    std::map<int, SocketControl*> m_elements;
    bool m_relayingProgress = false;
};
