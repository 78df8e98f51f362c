#pragma once

#include "MessageBoxes.h"

// The production boxes: modal QMessageBox, product name as title.
class QtMessageBoxes : public MessageBoxService {
public:
    MsgResult show(const std::string& text, MsgButtons buttons, MsgIcon icon) override;
};
