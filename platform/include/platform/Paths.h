// The user's folders, by one rule for the whole program (the XDG base directory rules):
// an XDG_* variable counts only when it holds an absolute path (an empty or relative value
// is ignored); otherwise the folder lies under an absolute $HOME; with no usable home, under
// the user's private folder /tmp/tavimo-<uid>. Each function returns the program's own
// folder inside the base folder ("tavimo"); none of them creates it.
#pragma once

#include <atomic>
#include <optional>
#include <string>

namespace platform {

// $XDG_CONFIG_HOME/tavimo, else ~/.config/tavimo (the registry lives here).
std::string ConfigFolder();
// $XDG_DATA_HOME/tavimo, else ~/.local/share/tavimo (alarm store, Euler logs).
std::string DataFolder();
// $XDG_STATE_HOME/tavimo, else ~/.local/state/tavimo (trace log).
std::string StateFolder();
// $XDG_RUNTIME_DIR/tavimo, else /tmp/tavimo-<uid> (virtual port links).
std::string RuntimeFolder();

// Creates the folder and its missing parents; folders it makes are the user's alone.
// True when the folder exists afterwards; otherwise `why` says why. Under the shared /tmp
// fallback every folder must be this user's, mode 0700 and not a link (see below).
bool MakeFolders(const std::string& path, std::string* why = nullptr);
// MakeFolders with `sharedRoot` as the place others can write to: that folder and every one
// below it on the path is checked on the opened folder (never through a link) to belong to
// this user, and made 0700; one that belongs to another user or is a link is refused.
bool MakePrivateFolders(const std::string& path, const std::string& sharedRoot,
                        std::string* why = nullptr);

// The value of an environment variable; nothing when it is unset.
std::optional<std::string> EnvironmentValue(const char* name);
// Sets the variable for this process and the programs it starts.
void SetEnvironmentValue(const char* name, const std::string& value);
// True when the variable holds exactly "1" (the program's switches: TAVIMO_TRACE, ...).
bool EnvironmentSwitch(const char* name);

// A switch read from the environment on first use and then kept, for hot paths (a trace
// line, debugger output); Refresh reads it again at the next use.
class CEnvironmentSwitch {
public:
    explicit CEnvironmentSwitch(const char* name) : m_name(name) {}
    bool IsOn() {
        int state = m_state.load(std::memory_order_relaxed);
        if (state < 0) {
            state = EnvironmentSwitch(m_name) ? 1 : 0;
            m_state.store(state, std::memory_order_relaxed);
        }
        return state == 1;
    }
    void Refresh() { m_state.store(-1, std::memory_order_relaxed); }

private:
    const char* m_name;
    std::atomic<int> m_state{-1};  // -1 not read yet, 0 off, 1 on
};

}  // namespace platform
