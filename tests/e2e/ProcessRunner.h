// Starts a program with arguments and environment, and waits for it or ends it.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

class ProcessRunner {
public:
    ProcessRunner(std::string program, std::vector<std::string> args,
                  std::map<std::string, std::string> extraEnv = {});
    ~ProcessRunner();
    bool Start();
    // The exit status when it ended within the time (or -signal), else nothing.
    std::optional<int> Wait(int timeoutMs);
    void Terminate();
    pid_t Pid() const { return m_pid; }
    std::string Output() const;  // standard output and error, so far

private:
    std::string m_program;
    std::vector<std::string> m_args;
    std::map<std::string, std::string> m_env;
    pid_t m_pid = -1;
    std::string m_outputPath;
};
