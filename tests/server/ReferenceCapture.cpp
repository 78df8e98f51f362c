#include "ReferenceCapture.h"

#include "CaptureLimits.h"
#include "Latin1Text.h"

std::vector<std::string> expectedBodies(std::string_view stream)
{
    std::vector<std::string> bodies;
    bool inData = false;
    std::string body;
    for (std::size_t end; (end = stream.find("\r\n")) != std::string_view::npos; stream.remove_prefix(end + 2)) {
        std::string_view line = stream.substr(0, end);
        if (inData) {
            if (line == ".") {
                bodies.push_back(body);
                inData = false;
                continue;
            }
            if (!line.empty() && line.front() == '.')
                line.remove_prefix(1);
            body.append(line).append("\r\n");
            continue;
        }
        if (line.size() > CaptureLimits::MaxCommandLineBytes)
            continue;
        if (upperCase(line.substr(0, 4)) == "DATA") {
            inData = true;
            body.clear();
        }
    }
    return bodies;
}
