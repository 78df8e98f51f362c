#pragma once

#include <string>

// An address and port to listen on, as given: an IPv4 or IPv6 literal (IPv6 in brackets).
struct ListenAddress {
    std::string host;
    int port = 0;
};
