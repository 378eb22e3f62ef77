#include "platform/Prompt.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {
class CStderrPrompt : public IPromptService {
public:
    int Show(const std::string& text, const std::string& caption, UINT type) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return (type & MB_YESNO) != 0 ? IDNO : IDOK;
    }
};

CStderrPrompt g_default;
std::atomic<IPromptService*> g_service{nullptr};
std::mutex g_captionMutex;
std::string g_caption = "Tavimo";
}  // namespace

namespace platform {
void SetPromptService(IPromptService* service) {
    g_service.store(service);
}
IPromptService* GetPromptService() {
    IPromptService* s = g_service.load();
    return s != nullptr ? s : &g_default;
}
void SetPromptCaption(const std::string& caption) {
    std::lock_guard lock(g_captionMutex);
    g_caption = caption;
}
}  // namespace platform

int AfxMessageBox(const std::string& text, UINT type) {
    std::string caption;
    {
        std::lock_guard lock(g_captionMutex);
        caption = g_caption;
    }
    return platform::GetPromptService()->Show(text, caption, type);
}

int MessageBox(const std::string& text, const std::string& caption, UINT type) {
    return platform::GetPromptService()->Show(text, caption, type);
}
