// The soak: the module with the simulated sensor at 512 Hz and two outputs (HDT on COM2,
// TSS1 on COM3, both at Max Output) for a given time, reading both ports all along.
// Reports telegrams sent and malformed, resident memory at start and end, and CPU time
// per second. Fails when a telegram is malformed or lost (the module's count of telegrams
// sent against the reader's; virtual ports have no line speed, so none may be dropped),
// memory grows beyond noise, or the module does not end cleanly. The module runs with
// real-time scheduling where the system grants it (TAVIMO_REALTIME=0 turns it off). Not part of the
// tests: scripts/soak.sh runs it.
//   tavimo_soak [seconds]   (default 600)
// The module runs in a process of its own (this program with --module), so that its memory
// and CPU are measured without the reader's: the sensor link with the program's telegram
// workers, as the main window drives it. (The window itself offers sensor lines up to
// 115200 baud, where 512 Hz is refused as too fast: 512 Hz needs the sensor on 460800.)
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "ProcessRunner.h"
#include "TelegramReader.h"
#include "TestSupport.h"
#include "app/MotionTrackerSink.h"
#include "app/ServiceActivity.h"
#include "app/TelegramOutput.h"
#include "app/Telegrams.h"
#include "app/XsensModule.h"
#include "comlane/SerialDevice.h"
#include "platform/Com.h"
#include "platform/Scheduling.h"

// The soak's private home (not the tests' environment: the module process must share it).
namespace tavimo_test {
std::string g_root;
std::string TempRoot() {
    return g_root;
}
}  // namespace tavimo_test

namespace {
using Clock = std::chrono::steady_clock;

void MakePrivateHome() {
    char pattern[] = "/tmp/tavimo-soak-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    tavimo_test::g_root = dir != nullptr ? dir : "/tmp/tavimo-soak";
    const std::string& root = tavimo_test::g_root;
    for (const char* sub : {"config", "state", "data", "runtime", "home"}) {
        std::filesystem::create_directories(root + "/" + sub);
    }
    std::filesystem::permissions(root + "/runtime", std::filesystem::perms::owner_all);
    ::setenv("HOME", (root + "/home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    ::setenv("TAVIMO_REGISTRY", (root + "/config/registry.sqlite3").c_str(), 1);
}

long ResidentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// User plus system CPU time of the process, in seconds.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoull(field);
        } else if (i == 15) {
            stime = std::stoull(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

bool WaitForPath(const std::string& path) {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
        if (std::filesystem::exists(path)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}
// The module until SIGTERM: sensor link on the simulated sensor at 512 Hz, HDT on COM2
// and TSS1 on COM3 at 115200 baud, Max Output.
int RunModule() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigset_t go;
    sigemptyset(&go);
    sigaddset(&go, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // before any thread starts
    pthread_sigmask(SIG_BLOCK, &go, nullptr);
    // As the program does: real-time where granted, and the trace line saying which.
    std::printf("soak module: %s\n", platform::SetUpRealTime().text.c_str());
    std::fflush(stdout);
    CoInitialize(nullptr);
    auto link = std::make_unique<CXsensModule>();
    if (!link->Initialise()) {
        std::fprintf(stderr, "soak module: no sensor\n");
        return 2;
    }
    CComPtr<IUnknown> sink;
    DWORD cookie = 0;
    CMotionTrackerSink::CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&sink));
    link->AdviseSink(sink, &cookie);
    link->OpenSensorPort(1, 460800);
    link->SetFilterSettings(1.0F, 1.0F);
    link->SetSampleRate(512);
    link->SetOutputInterval(0);    // Max Output
    comlane::CPortMap::Entries();  // the shipped port map, before two workers open ports
    link->AddTelegramWorker(TELEGRAM_HDT, 2, 115200);
    link->AddTelegramWorker(TELEGRAM_TSS1, 3, 115200);
    // The sensor starts once the reader holds both ports (SIGUSR1), so every telegram sent
    // has a reader.
    int signal = 0;
    sigwait(&go, &signal);
    link->StartSensor();
    sigwait(&stop, &signal);
    link->StopSensor();
    // The last telegrams leave; then the count of every telegram the ports took whole,
    // for the reader to compare with what it received.
    CEvent settle;
    settle.Wait(1000);
    const CServiceActivity::Counts counts = CServiceActivity::Read();
    // Handed but not answered: a newer attitude came before the worker took the older one
    // (it sends the newest); answered but not sent: dropped because the line was behind.
    std::printf(
        "soak module: telegrams sent %llu; attitudes handed to the outputs %llu, of which "
        "%llu replaced by a newer one before they were sent and %llu dropped by a port\n",
        static_cast<unsigned long long>(counts.telegrams),
        static_cast<unsigned long long>(counts.handed),
        static_cast<unsigned long long>(counts.handed - counts.answered),
        static_cast<unsigned long long>(counts.answered - counts.telegrams));
    std::fflush(stdout);
    settle.Wait(2000);  // the reader takes what is still on the ports
    link->UnadviseSink(cookie);
    link.reset();
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--module") {
        return RunModule();
    }
    const double seconds = argc > 1 ? std::atof(argv[1]) : 600.0;
    MakePrivateHome();
    const std::string root = tavimo_test::TempRoot();
    ProcessRunner run(std::filesystem::read_symlink("/proc/self/exe").string(), {"--module"});
    if (!run.Start()) {
        std::fprintf(stderr, "soak: could not start the module\n");
        return 2;
    }
    const std::string com2 = comlane::CPortMap::LinkPath("COM2");
    const std::string com3 = comlane::CPortMap::LinkPath("COM3");
    if (!WaitForPath(com2) || !WaitForPath(com3)) {
        std::fprintf(stderr, "soak: no output ports\n%s\n", run.Output().c_str());
        return 2;
    }
    TelegramReader hdt(com2);
    TelegramReader tss(com3);
    // The reader runs above the module's real-time threads where allowed, so that it keeps
    // up on a busy machine: a late reader makes the port drop telegrams, as it should.
    sched_param readerPriority{};
    readerPriority.sched_priority = 20;
    const bool readerRealTime = sched_setscheduler(0, SCHED_FIFO, &readerPriority) == 0;
    ::kill(run.Pid(), SIGUSR1);
    // Memory and CPU are measured from the end of start-up.
    const auto warm = Clock::now();
    while (Since(warm) < 5.0) {
        hdt.ReadAvailable(10);
        tss.ReadAvailable(10);
    }
    const auto start = Clock::now();
    const long rssStart = ResidentKb(run.Pid());
    const double cpuStart = CpuSeconds(run.Pid());
    const long hdtStart = hdt.Valid(), tssStart = tss.Valid();
    long rssMax = rssStart;
    double nextReport = 60.0;
    while (Since(start) < seconds) {
        hdt.ReadAvailable(10);
        tss.ReadAvailable(10);
        if (Since(start) >= nextReport) {
            const long rss = ResidentKb(run.Pid());
            rssMax = std::max(rssMax, rss);
            std::printf("soak: %4.0f s  HDT %ld  TSS1 %ld  malformed %ld  RSS %ld kB\n",
                        Since(start), hdt.Valid() - hdtStart, tss.Valid() - tssStart,
                        hdt.Malformed() + tss.Malformed(), rss);
            std::fflush(stdout);
            nextReport += 60.0;
        }
        if (run.Wait(0).has_value()) {
            std::fprintf(stderr, "soak: the module ended early\n%s\n", run.Output().c_str());
            return 1;
        }
    }
    const double elapsed = Since(start);
    const long rssEnd = ResidentKb(run.Pid());
    rssMax = std::max(rssMax, rssEnd);
    const double cpu = CpuSeconds(run.Pid()) - cpuStart;
    ::kill(run.Pid(), SIGTERM);
    // Reading goes on until the module has ended, so every telegram it sent is counted.
    std::optional<int> status;
    const auto stopping = Clock::now();
    while (!(status = run.Wait(0)).has_value() && Since(stopping) < 30.0) {
        hdt.ReadAvailable(10);
        tss.ReadAvailable(10);
    }
    if (!status) {
        status = run.Wait(1000);
    }
    long sentByModule = -1;
    {
        const std::string output = run.Output();
        const std::string key = "soak module: telegrams sent ";
        if (const auto at = output.find(key); at != std::string::npos) {
            sentByModule = std::strtol(output.c_str() + at + key.size(), nullptr, 10);
        }
    }
    const long receivedAll = hdt.Valid() + tss.Valid() + hdt.Malformed() + tss.Malformed() +
                             hdt.Skipped() + tss.Skipped();
    const long lost = sentByModule < 0 ? -1 : sentByModule - receivedAll;

    const long sentHdt = hdt.Valid() - hdtStart, sentTss = tss.Valid() - tssStart;
    const long malformed = hdt.Malformed() + tss.Malformed();
    // Noise: allocator pools and thread stacks settle within a few megabytes.
    const bool grew = rssEnd > rssStart + std::max(4096L, rssStart / 10);
    std::printf("Soak report: %.0f s at 512 Hz, HDT on COM2 and TSS1 on COM3 (Max Output)\n",
                elapsed);
    std::printf("  telegrams received: HDT %ld (%.1f/s), TSS1 %ld (%.1f/s)\n", sentHdt,
                sentHdt / elapsed, sentTss, sentTss / elapsed);
    std::printf("  telegrams malformed: %ld%s\n", malformed,
                malformed == 0 ? "" : (" (" + hdt.Report() + "; " + tss.Report() + ")").c_str());
    std::printf("  telegrams sent by the module %ld, received %ld: %s (reader %s)\n", sentByModule,
                receivedAll, lost == 0 ? "none lost" : ("LOST " + std::to_string(lost)).c_str(),
                readerRealTime ? "real-time" : "normal");
    {
        // The module's own lines: its scheduling, and its counts.
        const std::string output = run.Output();
        for (std::size_t at = output.find("soak module: "); at != std::string::npos;
             at = output.find("soak module: ", at + 1)) {
            std::printf("  %s\n", output.substr(at, output.find('\n', at) - at).c_str());
        }
    }
    std::printf("  resident memory: %ld kB at start, %ld kB at end, %ld kB at most%s\n", rssStart,
                rssEnd, rssMax, grew ? " (GREW)" : "");
    std::printf("  CPU: %.3f s per second (%.1f %% of one core)\n", cpu / elapsed,
                100.0 * cpu / elapsed);
    std::printf("  exit after SIGTERM: %s\n",
                status ? std::to_string(*status).c_str() : "still running (killed)");
    const bool ok =
        malformed == 0 && lost == 0 && !grew && status == 0 && sentHdt > 0 && sentTss > 0;
    if (!ok) {
        // What the module said, and the end of its trace (TAVIMO_TRACE=1 writes one).
        std::printf("--- program output\n%s", run.Output().c_str());
        std::ifstream trace(std::string(std::getenv("XDG_STATE_HOME")) + "/tavimo/Tavimo.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(trace, line);) {
            lines.push_back(line);
        }
        std::printf("--- end of the trace\n");
        for (std::size_t i = lines.size() > 40 ? lines.size() - 40 : 0; i < lines.size(); ++i) {
            std::printf("%s\n", lines[i].c_str());
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    std::printf("  result: %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
