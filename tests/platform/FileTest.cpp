#include "platform/File.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "TestSupport.h"

namespace fs = std::filesystem;

namespace {

class SaveFileTest : public ::testing::Test {
protected:
    void SetUp() override { m_dir = tavimo_test::TestFolder(); }
    fs::path Write(const std::string& name, const std::string& text) {
        tavimo_test::WriteFile(m_dir / name, text);
        return m_dir / name;
    }
    static std::string Read(const fs::path& path) { return tavimo_test::ReadFile(path); }
    // Every entry of the folder: a temporary file left behind shows here.
    int Entries() const {
        int n = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(m_dir)) {
            ++n;
        }
        return n;
    }
    static unsigned Mode(const fs::path& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
    }

    fs::path m_dir;
};

TEST_F(SaveFileTest, NewAndReplacedFilesGetTheWholeTextAndTheRightPermissions) {
    const fs::path fresh = m_dir / "fresh.txt";
    const mode_t old = ::umask(0077);  // a new file's mode does not depend on the umask
    const platform::SaveResult created = platform::SaveFile(fresh.string(), "first\n");
    ::umask(old);
    ASSERT_TRUE(created) << created.Describe();
    EXPECT_EQ(Read(fresh), "first\n");
    EXPECT_EQ(Mode(fresh), 0644U);
    EXPECT_EQ(created.target, fresh.string());

    const fs::path kept = Write("kept.txt", "old text that is longer than the new\n");
    ASSERT_EQ(::chmod(kept.c_str(), 0640), 0);
    ASSERT_TRUE(platform::SaveFile(kept.string(), "new\n"));
    EXPECT_EQ(Read(kept), "new\n");
    EXPECT_EQ(Mode(kept), 0640U);

    // Through a link: the link stays, the file it names changes.
    const fs::path link = m_dir / "link.txt";
    fs::create_symlink(kept, link);
    const platform::SaveResult viaLink = platform::SaveFile(link.string(), "via link\n");
    ASSERT_TRUE(viaLink);
    EXPECT_EQ(viaLink.target, fs::canonical(kept).string());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Read(kept), "via link\n");

    // A large text goes out whole.
    const std::string big(3 * 1024 * 1024 + 17, 'x');
    ASSERT_TRUE(platform::SaveFile(fresh.string(), big));
    EXPECT_EQ(Read(fresh), big);
    EXPECT_EQ(Entries(), 3);  // no temporary file left behind
}

TEST_F(SaveFileTest, WhatAKilledSaveLeftBehindGoesAtTheNextSave) {
    const fs::path target = Write("Tavimo.xml", "<old/>");
    const fs::path stale = Write(".Tavimo.xml.Ab12Cd", "half");
    const fs::path fresh = Write(".Tavimo.xml.Zz99Yy", "another save under way");
    const fs::path other = Write(".Other.xml.Ab12Cd", "not ours to judge");
    const fs::path link = m_dir / ".Tavimo.xml.Li12Nk";
    fs::create_symlink(other, link);
    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(5);
    for (const fs::path& p : {stale, other}) {
        fs::last_write_time(p, old);
    }
    ASSERT_TRUE(platform::SaveFile(target.string(), "<new/>"));
    EXPECT_EQ(Read(target), "<new/>");
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(fresh));  // touched within the minute: another save's
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(fs::is_symlink(link));
}

TEST_F(SaveFileTest, RefusedTargetsAreLeftAsTheyWere) {
    const fs::path readOnly = Write("read-only.txt", "keep me");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    const platform::SaveResult r = platform::SaveFile(readOnly.string(), "lost");
    EXPECT_EQ(r.error, platform::SaveError::ReadOnly);  // even for root
    EXPECT_EQ(r.Describe(), "read-only");
    EXPECT_EQ(Read(readOnly), "keep me");

    const fs::path fifo = m_dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path folder = m_dir / "folder";
    fs::create_directory(folder);
    for (const fs::path& target : {fifo, folder}) {
        EXPECT_EQ(platform::SaveFile(target.string(), "x").error, platform::SaveError::NotAFile)
            << target;
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_empty(folder));

    const platform::SaveResult missing =
        platform::SaveFile((m_dir / "no-such-folder" / "file").string(), "x");
    EXPECT_EQ(missing.error, platform::SaveError::System);
    EXPECT_EQ(missing.osError, ENOENT);
    EXPECT_EQ(platform::SaveFile("", "x").error, platform::SaveError::System);
    EXPECT_EQ(Entries(), 3);
}

TEST_F(SaveFileTest, TheCallersCheckAndWriterDecideBeforeTheTargetChanges) {
    const fs::path target = Write("settings.xml", "<good/>");
    std::string seen;
    const platform::SaveResult refused =
        platform::SaveFile(target.string(), "<bad", {.check = [&seen](const std::string& written) {
                               seen = Read(written);  // the check sees the complete new content
                               return false;
                           }});
    EXPECT_EQ(refused.error, platform::SaveError::CheckFailed);
    EXPECT_EQ(seen, "<bad");
    EXPECT_EQ(Read(target), "<good/>");

    const platform::SaveResult failed = platform::SaveFile(
        target.string(), [](int fd) { return ::write(fd, "<half", 5) == 5 && false; });
    EXPECT_EQ(failed.error, platform::SaveError::Write);
    EXPECT_EQ(Read(target), "<good/>");

    ASSERT_TRUE(platform::SaveFile(
        target.string(), "<better/>",
        {.check = [](const std::string& written) { return Read(written) == "<better/>"; }}));
    EXPECT_EQ(Read(target), "<better/>");
    EXPECT_EQ(Entries(), 1);
}

TEST_F(SaveFileTest, WithoutReplaceAnExistingFileIsNeverTouched) {
    const fs::path existing = Write("existing.txt", "first writer");
    const platform::SaveResult r =
        platform::SaveFile(existing.string(), "second writer", {.replace = false});
    EXPECT_EQ(r.error, platform::SaveError::Exists);
    EXPECT_EQ(Read(existing), "first writer");

    // A file that appears while the new one is written wins as well.
    const fs::path racing = m_dir / "racing.txt";
    const platform::SaveResult lost = platform::SaveFile(racing.string(), "mine",
                                                         {.check =
                                                              [&racing](const std::string&) {
                                                                  std::ofstream(racing) << "theirs";
                                                                  return true;
                                                              },
                                                          .replace = false});
    EXPECT_EQ(lost.error, platform::SaveError::Exists);
    EXPECT_EQ(Read(racing), "theirs");

    const fs::path fresh = m_dir / "fresh.txt";
    ASSERT_TRUE(platform::SaveFile(fresh.string(), "made", {.replace = false}));
    EXPECT_EQ(Read(fresh), "made");
    EXPECT_EQ(Entries(), 3);
}

TEST_F(SaveFileTest, ReadRegularFileReadsOnlyRegularFilesWithinTheLimit) {
    const fs::path file = Write("content.bin", std::string("a\0b\nc", 5));
    EXPECT_EQ(platform::ReadRegularFile(file.string(), 5), std::string("a\0b\nc", 5));
    EXPECT_FALSE(platform::ReadRegularFile(file.string(), 4).has_value());
    EXPECT_EQ(platform::ReadRegularFile(Write("empty", "").string(), 10), "");
    EXPECT_FALSE(platform::ReadRegularFile((m_dir / "missing").string(), 10).has_value());
    EXPECT_FALSE(platform::ReadRegularFile(m_dir.string(), 10).has_value());
    const fs::path fifo = m_dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(platform::ReadRegularFile(fifo.string(), 10).has_value());  // never blocks
    EXPECT_FALSE(platform::ReadRegularFile("/dev/zero", 1U << 20).has_value());
}

}  // namespace
