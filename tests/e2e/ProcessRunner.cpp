#include "ProcessRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "TestSupport.h"

ProcessRunner::ProcessRunner(std::string program, std::vector<std::string> args,
                             std::map<std::string, std::string> extraEnv)
    : m_program(std::move(program)), m_args(std::move(args)), m_env(std::move(extraEnv)) {
    static int counter = 0;
    m_outputPath = tavimo_test::TempRoot() + "/process-" + std::to_string(++counter) + ".out";
}

ProcessRunner::~ProcessRunner() {
    Terminate();
}

bool ProcessRunner::Start() {
    m_pid = fork();
    if (m_pid < 0) {
        return false;
    }
    if (m_pid == 0) {
        const int fd = open(m_outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            close(fd);
        }
        for (const auto& [name, value] : m_env) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(m_program.c_str()));
        for (auto& a : m_args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(m_program.c_str(), argv.data());
        _exit(127);
    }
    return true;
}

std::optional<int> ProcessRunner::Wait(int timeoutMs) {
    if (m_pid <= 0) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void ProcessRunner::Terminate() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        if (!Wait(5000)) {
            kill(m_pid, SIGKILL);
            Wait(5000);
        }
    }
}

std::string ProcessRunner::Output() const {
    std::ifstream in(m_outputPath);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
