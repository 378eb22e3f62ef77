// A fake kernel IIO tree in a temporary folder, found through TAVIMO_IIO_SYSFS and
// TAVIMO_IIO_DEV: device folders with their attributes and scan elements, and a buffer that
// is a FIFO fed by a writer thread in the scan format of the device's elements.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "mtobj/IioScan.h"

namespace iio_test {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text << "\n";
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// One channel of a fake device: its scan element name, type and scale.
struct FakeChannel {
    std::string name;  // "in_accel_x"
    std::string type;  // "le:s16/16>>0"
    double scale = 1.0;
};

// Channel sets of common devices.
inline std::vector<FakeChannel> Vector(const std::string& prefix, const std::string& type,
                                       double scale) {
    return {
        {prefix + "_x", type, scale}, {prefix + "_y", type, scale}, {prefix + "_z", type, scale}};
}
inline FakeChannel Timestamp() {
    return {"in_timestamp", "le:s64/64>>0", 1.0};
}

class FakeIioTree {
public:
    FakeIioTree() {
        static std::atomic<int> counter{0};
        m_root = fs::path(tavimo_test::TempRoot()) / ("iio" + std::to_string(counter++));
        fs::create_directories(Sysfs());
        fs::create_directories(Dev());
        m_sysfs = std::make_unique<tavimo_test::ScopedEnv>("TAVIMO_IIO_SYSFS", Sysfs().string());
        m_dev = std::make_unique<tavimo_test::ScopedEnv>("TAVIMO_IIO_DEV", Dev().string());
    }
    fs::path Sysfs() const { return m_root / "sys"; }
    fs::path Dev() const { return m_root / "dev"; }
    fs::path Folder(const std::string& dir) const { return Sysfs() / dir; }

    // Adds "iio:deviceN" named `name` with the channels (enabled in their order), shared
    // scales per type, a sampling frequency and its list, a buffer folder and a FIFO as /dev.
    void AddDevice(const std::string& dir, const std::string& name,
                   const std::vector<FakeChannel>& channels,
                   const std::string& available = "25 50 100 200 400") {
        const fs::path d = Folder(dir);
        WriteFile(d / "name", name);
        WriteFile(d / "sampling_frequency", "100");
        WriteFile(d / "sampling_frequency_available", available);
        WriteFile(d / "buffer" / "enable", "0");
        WriteFile(d / "buffer" / "length", "2");
        int index = 0;
        for (const auto& c : channels) {
            WriteFile(d / "scan_elements" / (c.name + "_en"), "0");
            WriteFile(d / "scan_elements" / (c.name + "_index"), std::to_string(index++));
            WriteFile(d / "scan_elements" / (c.name + "_type"), c.type);
            if (c.name != "in_timestamp") {
                char text[40];
                std::snprintf(text, sizeof text, "%.9g", c.scale);
                WriteFile(d / (c.name + "_scale"), text);
            }
        }
        MakeFifo(dir);
    }
    void MakeFifo(const std::string& dir) const {
        const fs::path fifo = Dev() / dir;
        std::error_code ec;
        fs::remove(fifo, ec);
        ::mkfifo(fifo.c_str(), 0600);
    }
    // Removes a device as an unplugged one goes.
    void Remove(const std::string& dir) const {
        std::error_code ec;
        fs::remove_all(Folder(dir), ec);
        fs::remove(Dev() / dir, ec);
    }

private:
    fs::path m_root;
    std::unique_ptr<tavimo_test::ScopedEnv> m_sysfs;
    std::unique_ptr<tavimo_test::ScopedEnv> m_dev;
};

// The layout of a fake device's scans, from its folder (as the device enabled it).
inline mtobj::iio::CScanDecoder LayoutOf(const fs::path& folder,
                                         const std::vector<FakeChannel>& channels) {
    std::vector<mtobj::iio::ScanElement> elements;
    int index = 0;
    for (const auto& c : channels) {
        mtobj::iio::ScanElement e;
        e.name = c.name;
        e.index = index++;
        e.type = *mtobj::iio::ParseScanType(c.type, nullptr);
        e.scale = c.scale;
        if (ReadFile(folder / "scan_elements" / (c.name + "_en")) == "1") {
            elements.push_back(e);
        }
    }
    mtobj::iio::CScanDecoder decoder;
    decoder.Init(elements, nullptr);
    return decoder;
}

// The values of one scan by channel name (m/s², rad/s, gauss, quaternion x y z w, ns).
struct FakeScan {
    double seconds = 0;  // when it is due, from the writer's start
    std::function<double(const std::string& channel, unsigned item)> value;
};

// Feeds a FIFO with scans from a generator, paced in real time (or as fast as the reader
// takes them), until the generator says no more or Stop(). Opening waits (bounded) for
// the reader.
class FifoWriter {
public:
    using Generator = std::function<bool(std::size_t index, FakeScan& scan)>;
    // `tail` bytes of a scan cut short are written after the last whole one.
    FifoWriter(fs::path fifo, fs::path folder, std::vector<FakeChannel> channels,
               Generator generator, bool paced = true, std::size_t tail = 0)
        : m_fifo(std::move(fifo)),
          m_folder(std::move(folder)),
          m_channels(std::move(channels)),
          m_generator(std::move(generator)),
          m_paced(paced),
          m_tail(tail) {
        // A reader that goes away must not end the test process.
        ::signal(SIGPIPE, SIG_IGN);
        m_thread = std::thread([this] { Run(); });
    }
    ~FifoWriter() { Stop(); }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    std::size_t Written() const { return m_written.load(); }
    // The time of the newest scan written, from the writer's start.
    double NewestSeconds() const { return m_newest.load(); }
    bool Connected() const { return m_connected.load(); }

private:
    void Run() {
        int fd = -1;
        // The reader opens the FIFO when the device starts; wait for it (at most 30 s).
        for (int i = 0; i < 3000 && fd < 0 && !m_stop; ++i) {
            fd = ::open(m_fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (fd < 0) {
            return;
        }
        m_connected = true;
        // The channels the device enabled decide the layout.
        const auto decoder = LayoutOf(m_folder, m_channels);
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::uint8_t> scan(decoder.ScanBytes());
        for (std::size_t k = 0; !m_stop; ++k) {
            FakeScan s;
            if (!m_generator(k, s)) {
                break;
            }
            if (m_paced) {
                const auto due =
                    start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(s.seconds));
                while (!m_stop && std::chrono::steady_clock::now() < due) {
                    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                        due - std::chrono::steady_clock::now(), std::chrono::milliseconds(20)));
                }
            }
            std::fill(scan.begin(), scan.end(), 0);
            for (const auto& e : decoder.Elements()) {
                for (unsigned item = 0; item < e.type.repeat; ++item) {
                    const double v = s.value(e.name, item);
                    const auto raw =
                        e.name == "in_timestamp"
                            ? static_cast<std::int64_t>(v)
                            : static_cast<std::int64_t>(std::llround(v / e.scale - e.offset));
                    mtobj::iio::EncodeRaw(e, scan.data(), item, raw);
                }
            }
            // A full FIFO holds the writer back like a slow reader (scans are written whole:
            // they are shorter than PIPE_BUF).
            ssize_t n = -1;
            while (!m_stop) {
                n = ::write(fd, scan.data(), scan.size());
                if (n >= 0 || errno != EAGAIN) {
                    break;
                }
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 50);
            }
            if (n != static_cast<ssize_t>(scan.size())) {
                break;  // the reader went away
            }
            m_newest = s.seconds;
            ++m_written;
        }
        if (m_tail > 0 && !m_stop) {
            std::fill(scan.begin(), scan.end(), 0x5A);
            [[maybe_unused]] const auto n =
                ::write(fd, scan.data(), std::min(m_tail, scan.size() - 1));
        }
        ::close(fd);
    }

    fs::path m_fifo;
    fs::path m_folder;
    std::vector<FakeChannel> m_channels;
    Generator m_generator;
    bool m_paced;
    std::size_t m_tail;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_connected{false};
    std::atomic<std::size_t> m_written{0};
    std::atomic<double> m_newest{-1};
    std::thread m_thread;
};

}  // namespace iio_test
