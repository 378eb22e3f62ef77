// The soak: the real program with the simulated sensor at 512 Hz and two outputs (HDT on
// COM2, TSS1 on COM3, both at Max Output) for a given time, reading both ports all along.
// Reports telegrams sent and malformed, resident memory at start and end, and CPU time
// per second. Fails when a telegram is malformed, memory grows beyond noise, or the
// program does not end cleanly. Not part of the tests: scripts/soak.sh runs it.
//   tavimo_soak [seconds]   (default 600)
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ProcessRunner.h"
#include "TelegramReader.h"
#include "TestSupport.h"
#include "comlane/SerialDevice.h"
#include "platform/Registry.h"

namespace {
using Clock = std::chrono::steady_clock;

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
}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 600.0;
    const std::string root = tavimo_test::TempRoot();
    // The simulated sensor (seed 1, device 00300001) samples at 512 Hz on a fast line.
    {
        CRegKey key;
        key.Create(HKEY_CURRENT_USER,
                   "Software\\Tervalis\\Calyra\\MotionSensor\\Devices\\00300001");
        key.SetDWORD("SampleRate", 512);
        key.SetDWORD("BaudRate", 460800);
        key.Close();
        platform::RegistryClose();
    }
    const std::string config = root + "/Tavimo.xml";
    ProcessRunner run(TAVIMO_BINARY, {config, "-Embedded"});
    if (!run.Start()) {
        std::fprintf(stderr, "soak: could not start %s\n", TAVIMO_BINARY);
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
            std::fprintf(stderr, "soak: the program ended early\n%s\n", run.Output().c_str());
            return 1;
        }
    }
    const double elapsed = Since(start);
    const long rssEnd = ResidentKb(run.Pid());
    rssMax = std::max(rssMax, rssEnd);
    const double cpu = CpuSeconds(run.Pid()) - cpuStart;
    ::kill(run.Pid(), SIGTERM);
    const auto status = run.Wait(30000);

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
    std::printf("  resident memory: %ld kB at start, %ld kB at end, %ld kB at most%s\n", rssStart,
                rssEnd, rssMax, grew ? " (GREW)" : "");
    std::printf("  CPU: %.3f s per second (%.1f %% of one core)\n", cpu / elapsed,
                100.0 * cpu / elapsed);
    std::printf("  exit after SIGTERM: %s\n",
                status ? std::to_string(*status).c_str() : "still running (killed)");
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    const bool ok = malformed == 0 && !grew && status == 0 && sentHdt > 0 && sentTss > 0;
    std::printf("  result: %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
