#include "MessageBoxes.h"

#include <cstdio>
#include <utility>

#include "ProductInfo.h"
#include "ScopeExit.h"

namespace {

class StderrMessageBoxes : public MessageBoxService {
public:
    MsgResult show(const std::string& text, MsgButtons, MsgIcon) override
    {
        std::string shown = text;
        for (char& c : shown)
            if (c == '\r')
                c = '\n';
        std::fprintf(stderr, "%s: %s\n", ProductInfo::ProductName, shown.c_str());
        return MsgResult::Ok;
    }
};

StderrMessageBoxes g_stderrBoxes;
MessageBoxService* g_service = &g_stderrBoxes;
std::function<void(const std::string&)> g_overflowSink;
int g_openBoxes = 0;

std::string oneLine(std::string text)
{
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

} // namespace

MsgResult msgBox(const std::string& text, MsgButtons buttons, MsgIcon icon)
{
    if (g_openBoxes >= MaxOpenMessageBoxes && g_overflowSink) {
        // A failure inside the sink reports through here again: that report is dropped.
        static bool inSink = false;
        if (!inSink) {
            inSink = true;
            const ScopeExit left([] { inSink = false; });
            g_overflowSink(oneLine(text));
        }
        return MsgResult::Ok;
    }
    ++g_openBoxes;
    const ScopeExit closed([] { --g_openBoxes; });
    return g_service->show(text, buttons, icon);
}

void setMessageBoxService(MessageBoxService* service)
{
    g_service = service ? service : &g_stderrBoxes;
}

void setMessageBoxOverflowSink(std::function<void(const std::string&)> sink)
{
    g_overflowSink = std::move(sink);
}

int openMessageBoxes()
{
    return g_openBoxes;
}
