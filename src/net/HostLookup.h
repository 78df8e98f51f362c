#pragma once

#include <string>

// Dotted IPv4 address of a host, empty when it does not resolve. Leaves sHostName trimmed of
// blanks with one NUL appended (the local host's name first when it was empty).
std::string GetIPAddress(std::string& sHostName);

// The local host's name, empty when it cannot be read.
std::string GetIPHost();
