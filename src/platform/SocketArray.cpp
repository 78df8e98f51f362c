#include "SocketArray.h"

#include <QMetaMethod>

#include "AppError.h"

namespace {
constexpr const char* AlreadyLoadedText = "Socket array element already loaded";
constexpr const char* PermanentElementText = "Socket array element 0 cannot be unloaded";
} // namespace

SocketArray::SocketArray(QObject* parent) : QObject(parent)
{
    create(0);
    connect(this, &QObject::objectNameChanged, this, [this](const QString& name) {
        for (const auto& [index, element] : m_elements)
            element->setObjectName(name);
    });
}

SocketArray::~SocketArray() = default;

void SocketArray::Load(int index)
{
    if (index < 0 || index > MaxIndex)
        throw subscriptOutOfRangeError();
    if (Exists(index))
        throw AppError(ErrorNumber::InvalidArgument, AlreadyLoadedText);
    SocketControl* element = create(index);
    element->setLocalAddress(m_elements.at(0)->localAddress());
}

void SocketArray::Unload(int index)
{
    auto it = m_elements.find(index);
    if (it == m_elements.end())
        throw subscriptOutOfRangeError();
    if (index == 0)
        throw AppError(ErrorNumber::InvalidArgument, PermanentElementText);
    SocketControl* element = it->second;
    m_elements.erase(it);
    // It may be raising the event whose handler unloads it: silenced now, deleted later.
    disconnect(element, nullptr, this, nullptr);
    element->Close();
    element->deleteLater();
}

SocketControl& SocketArray::Element(int index) const
{
    auto it = m_elements.find(index);
    if (it == m_elements.end())
        throw subscriptOutOfRangeError();
    return *it->second;
}

bool SocketArray::Exists(int index) const
{
    return m_elements.contains(index);
}

int SocketArray::Count() const
{
    return int(m_elements.size());
}

std::vector<int> SocketArray::indexes() const
{
    std::vector<int> indexes;
    indexes.reserve(m_elements.size());
    for (const auto& [index, element] : m_elements)
        indexes.push_back(index);
    return indexes;
}

SocketControl* SocketArray::create(int index)
{
    auto* element = new SocketControl(this);
    element->setObjectName(objectName());
    m_elements[index] = element;
    connect(element, &SocketControl::ConnectionRequest, this,
            [this, index](long requestId) { emit ConnectionRequest(index, requestId); });
    connect(element, &SocketControl::DataArrival, this,
            [this, index](long bytesTotal) { emit DataArrival(index, bytesTotal); });
    connect(element, &SocketControl::CloseEvent, this, [this, index] { emit CloseEvent(index); });
    connect(element, &SocketControl::ConnectEvent, this, [this, index] { emit ConnectEvent(index); });
    connect(element, &SocketControl::ErrorEvent, this,
            [this, index](int number, const std::string& description, const std::string& source) {
                emit ErrorEvent(index, number, description, source);
            });
    if (m_relayingProgress)
        relayProgress(index, element);
    connect(element, &SocketControl::encryptedEvent, this, [this, index] { emit encryptedEvent(index); });
    connect(element, &SocketControl::tlsErrorEvent, this,
            [this, index](const std::string& description) { emit tlsErrorEvent(index, description); });
    return element;
}

void SocketArray::relayProgress(int index, SocketControl* element)
{
    connect(element, &SocketControl::SendProgress, this, [this, index](long bytesSent, long bytesRemaining) {
        emit SendProgress(index, bytesSent, bytesRemaining);
    });
    connect(element, &SocketControl::SendComplete, this, [this, index] { emit SendComplete(index); });
}

void SocketArray::connectNotify(const QMetaMethod& signal)
{
    if (signal == QMetaMethod::fromSignal(&SocketArray::SendProgress)
        || signal == QMetaMethod::fromSignal(&SocketArray::SendComplete))
        updateProgressRelays();
}

void SocketArray::disconnectNotify(const QMetaMethod& signal)
{
    // An invalid method: a disconnection from every signal at once.
    if (!signal.isValid() || signal == QMetaMethod::fromSignal(&SocketArray::SendProgress)
        || signal == QMetaMethod::fromSignal(&SocketArray::SendComplete))
        updateProgressRelays();
}

void SocketArray::updateProgressRelays()
{
    const bool wanted = isSignalConnected(QMetaMethod::fromSignal(&SocketArray::SendProgress))
        || isSignalConnected(QMetaMethod::fromSignal(&SocketArray::SendComplete));
    if (wanted == m_relayingProgress)
        return;
    m_relayingProgress = wanted;
    for (const auto& [index, element] : m_elements) {
        if (wanted) {
            relayProgress(index, element);
        } else {
            disconnect(element, &SocketControl::SendProgress, this, nullptr);
            disconnect(element, &SocketControl::SendComplete, this, nullptr);
        }
    }
}
