#include "platform/Process.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <cmath>
#include <filesystem>

namespace {

bool Readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN) != 0;
}

TEST(ProcessTest, TerminationSignalsBecomeReadableInsteadOfEndingTheProcess) {
    const int fd = platform::TerminationSignalDescriptor();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(platform::TerminationSignalDescriptor(), fd);  // set up once
    EXPECT_FALSE(Readable(fd, 0));
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        ASSERT_EQ(::raise(sig), 0);  // the process lives on
        EXPECT_TRUE(Readable(fd, 5000));
        platform::DrainTerminationSignals(fd);  // never blocks, even when empty
        EXPECT_FALSE(Readable(fd, 0));
    }
    ::raise(SIGTERM);
    ::raise(SIGTERM);
    platform::DrainTerminationSignals(fd);  // several arrivals drain at once
    EXPECT_FALSE(Readable(fd, 0));
    // Which came: SIGHUP asks for a reload, the others for the end.
    ::raise(SIGHUP);
    ASSERT_TRUE(Readable(fd, 5000));
    platform::SignalsReceived got = platform::ReadSignals(fd);
    EXPECT_TRUE(got.reload);
    EXPECT_FALSE(got.terminate);
    ::raise(SIGHUP);
    ::raise(SIGINT);
    ASSERT_TRUE(Readable(fd, 5000));
    got = platform::ReadSignals(fd);
    EXPECT_TRUE(got.reload && got.terminate);
}

TEST(ProcessTest, LoadedFileOfAnAddressNamesTheProgramOrLibrary) {
    const std::string program = std::filesystem::canonical("/proc/self/exe").string();
    EXPECT_EQ(platform::LoadedFileOf(reinterpret_cast<const void*>(&Readable)), program);
    const std::string libm = platform::LoadedFileOf(
        reinterpret_cast<const void*>(static_cast<double (*)(double)>(&::cbrt)));
    EXPECT_NE(libm.find("/libm"), std::string::npos) << libm;
    EXPECT_EQ(platform::LoadedFileOf(nullptr), "");
}

}  // namespace
