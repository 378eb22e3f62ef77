// Message boxes of the window: information, exclamation and yes/no questions. Without a
// display they are written to standard error and never wait for an answer.
#pragma once

#include "platform/Prompt.h"

class QWidget;

class CQtPromptService : public IPromptService {
public:
    explicit CQtPromptService(QWidget* parent = nullptr) : m_parent(parent) {}
    int Show(const std::string& text, const std::string& caption, UINT type) override;

private:
    QWidget* m_parent;
};
