// The user's folders, by one rule for the whole program (the XDG base directory rules):
// an XDG_* variable counts only when it holds an absolute path (an empty or relative value
// is ignored); otherwise the folder lies under an absolute $HOME; with no usable home, under
// the user's private folder /tmp/tavimo-<uid>. Each function returns the program's own
// folder inside the base folder ("tavimo"); none of them creates it.
#pragma once

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
// True when the folder exists afterwards.
bool MakeFolders(const std::string& path);

// The value of an environment variable; nothing when it is unset.
std::optional<std::string> EnvironmentValue(const char* name);
// Sets the variable for this process and the programs it starts.
void SetEnvironmentValue(const char* name, const std::string& value);
// True when the variable holds exactly "1" (the program's switches: TAVIMO_TRACE, ...).
bool EnvironmentSwitch(const char* name);

}  // namespace platform
