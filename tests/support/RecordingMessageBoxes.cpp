#include "RecordingMessageBoxes.h"

MsgResult RecordingMessageBoxes::show(const std::string& text, MsgButtons buttons, MsgIcon icon)
{
    m_boxes.push_back({text, buttons, icon});
    if (whileOpen)
        whileOpen();
    if (m_answers.empty())
        return MsgResult::Ok;
    MsgResult answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

std::vector<std::string> RecordingMessageBoxes::texts() const
{
    std::vector<std::string> texts;
    for (const Box& box : m_boxes)
        texts.push_back(box.text);
    return texts;
}
