#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "MessageBoxes.h"

// Installed for its lifetime: keeps every box, answers from the queue (OK when it is empty).
class RecordingMessageBoxes : public MessageBoxService {
public:
    struct Box {
        std::string text;
        MsgButtons buttons;
        MsgIcon icon;
    };

    RecordingMessageBoxes() { setMessageBoxService(this); }
    ~RecordingMessageBoxes() override { setMessageBoxService(nullptr); }

    MsgResult show(const std::string& text, MsgButtons buttons, MsgIcon icon) override;

    void answer(MsgResult result) { m_answers.push_back(result); }
    const std::vector<Box>& boxes() const { return m_boxes; }
    std::vector<std::string> texts() const;
    void Clear() { m_boxes.clear(); }
    // Runs while each box is open, after it was recorded: what the user does meanwhile.
    std::function<void()> whileOpen;

private:
    std::vector<Box> m_boxes;
    std::deque<MsgResult> m_answers;
};
