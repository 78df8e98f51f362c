#pragma once

#include <string>
#include <string_view>
#include <vector>

// What must be kept of a whole stream, worked out the simple way, however the stream is cut.
std::vector<std::string> expectedBodies(std::string_view stream);
