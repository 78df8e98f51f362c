#pragma once

#include <exception>
#include <string>

// Stable numbers of the failures the program raises itself; socket numbers follow the
// customary socket-error numbering so that a user can look them up.
namespace ErrorNumber {
inline constexpr int InvalidArgument = 5;
inline constexpr int Overflow = 6;
inline constexpr int OutOfMemory = 7;
inline constexpr int SubscriptOutOfRange = 9;
inline constexpr int Unexpected = 51;
inline constexpr int SocketPermissionDenied = 10013;
inline constexpr int SocketAddressInUse = 10048;
inline constexpr int SocketAddressNotAvailable = 10049;
inline constexpr int SocketNetworkUnreachable = 10051;
inline constexpr int SocketConnectionReset = 10054;
inline constexpr int SocketTimedOut = 10060;
inline constexpr int SocketConnectionRefused = 10061;
inline constexpr int SocketHostNotFound = 11001;
inline constexpr int SocketFailure = 11002;
inline constexpr int SocketWrongState = 40006;
} // namespace ErrorNumber

// The one error type that travels to a procedure's error report: a number and a description.
class AppError : public std::exception {
public:
    AppError(int number, std::string description);

    int number() const { return m_number; }
    const std::string& description() const { return m_description; }
    const char* what() const noexcept override { return m_description.c_str(); }

    // Turns whatever is being handled in a catch block into an AppError.
    static AppError fromCurrentException();

private:
    int m_number;
    std::string m_description;
};

AppError overflowError();
AppError subscriptOutOfRangeError();
