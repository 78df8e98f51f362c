#include "SocketErrors.h"

#include "QtLatin1.h"

namespace {

// Short plain descriptions of the failures the ErrorEvent reports.
constexpr const char* ConnectionRefusedText = "Connection refused";
constexpr const char* ConnectionResetText = "Connection reset by peer";
constexpr const char* TimedOutText = "Connection timed out";
constexpr const char* HostNotFoundText = "Host not found";
constexpr const char* NetworkUnreachableText = "Network is unreachable";
constexpr const char* AddressInUseText = "Address already in use";
constexpr const char* AddressNotAvailableText = "Address not available";
constexpr const char* PermissionDeniedText = "Permission denied";

// Listen failures; %1 is the port.
constexpr const char* PortInUseFormat = "Address in use: another program is already using port %1";
constexpr const char* PrivilegedPortFormat
    = "Permission denied: binding port %1 needs root or the CAP_NET_BIND_SERVICE capability "
      "(ports below 1024)";
constexpr const char* PortRefusedFormat = "Permission denied: binding port %1 was refused: %2";

} // namespace

int socketErrorNumber(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return ErrorNumber::SocketConnectionRefused;
    case QAbstractSocket::RemoteHostClosedError:
        return ErrorNumber::SocketConnectionReset;
    case QAbstractSocket::SocketTimeoutError:
        return ErrorNumber::SocketTimedOut;
    case QAbstractSocket::HostNotFoundError:
        return ErrorNumber::SocketHostNotFound;
    case QAbstractSocket::NetworkError:
        return ErrorNumber::SocketNetworkUnreachable;
    case QAbstractSocket::AddressInUseError:
        return ErrorNumber::SocketAddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return ErrorNumber::SocketAddressNotAvailable;
    case QAbstractSocket::SocketAccessError:
        return ErrorNumber::SocketPermissionDenied;
    default:
        return ErrorNumber::SocketFailure;
    }
}

std::string socketErrorDescription(QAbstractSocket::SocketError error, const QString& qtText)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return ConnectionRefusedText;
    case QAbstractSocket::RemoteHostClosedError:
        return ConnectionResetText;
    case QAbstractSocket::SocketTimeoutError:
        return TimedOutText;
    case QAbstractSocket::HostNotFoundError:
        return HostNotFoundText;
    case QAbstractSocket::NetworkError:
        return NetworkUnreachableText;
    case QAbstractSocket::AddressInUseError:
        return AddressInUseText;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return AddressNotAvailableText;
    case QAbstractSocket::SocketAccessError:
        return PermissionDeniedText;
    default:
        return toLatin1(qtText);
    }
}

AppError listenError(QAbstractSocket::SocketError error, int port, const QString& qtText)
{
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return AppError(ErrorNumber::SocketAddressInUse, toLatin1(fromLatin1(PortInUseFormat).arg(port)));
    case QAbstractSocket::SocketAccessError:
        if (port < 1024)
            return AppError(ErrorNumber::SocketPermissionDenied, toLatin1(fromLatin1(PrivilegedPortFormat).arg(port)));
        return AppError(ErrorNumber::SocketPermissionDenied,
                        toLatin1(fromLatin1(PortRefusedFormat).arg(port).arg(qtText)));
    default:
        return AppError(ErrorNumber::SocketFailure, toLatin1(qtText));
    }
}
