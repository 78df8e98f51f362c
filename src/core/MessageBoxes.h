#pragma once

#include <functional>
#include <string>

enum class MsgButtons { Ok, OkCancel };
enum class MsgIcon { Information, Exclamation, Question, Critical };
enum class MsgResult { Ok, Cancel };

// Shows one modal box titled with the product name. Line breaks in texts are single CRs.
class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    virtual MsgResult show(const std::string& text, MsgButtons buttons, MsgIcon icon) = 0;
};

// Every box of the program goes through here, so tests can record and answer them.
MsgResult msgBox(const std::string& text, MsgButtons buttons, MsgIcon icon);

// Installs the service (nullptr restores the default, which writes to stderr and answers OK).
void setMessageBoxService(MessageBoxService* service);

// Where a box goes when too many boxes are already open: each box runs a nested event loop,
// so a burst of reports would otherwise stack boxes until the stack overflows.
void setMessageBoxOverflowSink(std::function<void(const std::string&)> sink);
inline constexpr int MaxOpenMessageBoxes = 3;
int openMessageBoxes();
