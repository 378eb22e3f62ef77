// The one prompt service every user-facing message box goes through.
#pragma once

#include <string>

#include "platform/Types.h"

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

class IPromptService {
public:
    virtual ~IPromptService() = default;
    // Shows the text; returns IDOK, IDYES or IDNO.
    virtual int Show(const std::string& text, const std::string& caption, UINT type) = 0;
};

namespace platform {
// Installs the service (the window's or a test's); null restores the default, which
// writes the text to standard error and answers IDOK (IDNO to a question).
void SetPromptService(IPromptService* service);
IPromptService* GetPromptService();
// The caption used when none is given.
void SetPromptCaption(const std::string& caption);
}  // namespace platform

int AfxMessageBox(const std::string& text, UINT type = MB_OK);
int MessageBox(const std::string& text, const std::string& caption, UINT type);
