#pragma once

#include <string>
#include <string_view>
#include <vector>

// What a capture server must keep from a client's whole byte stream, worked out the simple way:
// split at CR LF, skip over-long command lines, collect data phases with their dots unstuffed.
// Cutting the stream into blocks anywhere must not change the result.
std::vector<std::string> ExpectedBodies(std::string_view stream);
