// Every operating-system call on a tty: termios2 (so any baud rate can be set), locks,
// pseudo-terminals, modem lines and the output queue.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "comlane/SerialDevice.h"
#include "platform/Paths.h"

namespace comlane {
namespace {

std::string ErrorText(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
}

// Raw 8N1: no echo, no line editing, no translation, reads return what has arrived.
void MakeRaw(termios2& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

bool Apply(int fd, const LineSettings& line) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) {
        return false;
    }
    MakeRaw(t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CBAUD);
    switch (line.dataBits) {
        case 5:
            t.c_cflag |= CS5;
            break;
        case 6:
            t.c_cflag |= CS6;
            break;
        case 7:
            t.c_cflag |= CS7;
            break;
        default:
            t.c_cflag |= CS8;
            break;
    }
    switch (line.parity) {
        case 1:
            t.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            t.c_cflag |= PARENB;
            break;
        case 3:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    if (line.stopBits != 0) {
        t.c_cflag |= CSTOPB;  // the line knows only one or two; 1.5 goes as two
    }
    t.c_cflag |= BOTHER;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD << IBSHIFT);  // input speed follows output
    t.c_ispeed = line.baud;
    t.c_ospeed = line.baud;
    return ioctl(fd, TCSETS2, &t) == 0;
}

std::vector<std::string> ConsoleNames() {
    std::vector<std::string> names{"console", "tty"};
    std::ifstream active("/sys/class/tty/console/active");
    std::string name;
    while (active >> name) {
        names.push_back(name);
    }
    return names;
}

// The folder of the published links must be ours alone: in a shared /tmp somebody else
// could have put a folder or a link there first. A refusal is said on standard error once,
// since the ports a crew expects then never appear.
bool MakePrivateFolder(const std::filesystem::path& folder, std::string* error) {
    std::string why;
    if (platform::MakePrivateFolders(folder.string(), folder.parent_path().string(), &why)) {
        return true;
    }
    const std::string text = folder.string() + " is not a private folder of this user (" + why +
                             "): no port links are published there";
    static std::once_flag told;
    std::call_once(told, [&text] { std::fprintf(stderr, "Tavimo: %s\n", text.c_str()); });
    SetError(error, text);
    return false;
}

// A lock file beside a link path, held for one owner at a time across processes: the
// open handle, or -1 with the reason.
int LockBeside(const std::string& linkPath, std::string* error) {
    if (!MakePrivateFolder(std::filesystem::path(linkPath).parent_path(), error)) {
        return -1;
    }
    const std::string lockPath = linkPath + ".lock";
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        SetError(error, ErrorText(lockPath, errno));
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        SetError(error, ErrorText(linkPath + " is in use", EBUSY));
        return -1;
    }
    return fd;
}

bool IsVirtualConsoleName(const std::string& name) {
    return name.size() > 3 && name.compare(0, 3, "tty") == 0 &&
           std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

CSerialDevice::~CSerialDevice() {
    Close();
}

bool CSerialDevice::Open(const std::string& path, std::string* error) {
    Close();
    if (path.empty()) {
        SetError(error, "no device path");
        return false;
    }
    if (IsConsole(path)) {
        SetError(error, path + " is the system console");
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetError(error, ErrorText(path, errno));
        return false;
    }
    if (!isatty(fd)) {
        ::close(fd);
        SetError(error, path + " is not a serial device");
        return false;
    }
    // The lock keeps out other programs that lock (and root, which TIOCEXCL lets through).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        SetError(error, ErrorText(path + " is in use", err == EWOULDBLOCK ? EBUSY : err));
        return false;
    }
    ioctl(fd, TIOCEXCL);
    if (!Apply(fd, LineSettings{})) {
        const int err = errno;
        ::close(fd);
        SetError(error, ErrorText(path + " cannot be configured", err));
        return false;
    }
    m_fd = fd;
    m_path = path;
    return true;
}

bool CSerialDevice::OpenPseudoTerminal(const std::string& linkPath, std::string* error) {
    Close();
    int lockFd = -1;
    if (!linkPath.empty() && (lockFd = LockBeside(linkPath, error)) < 0) {
        return false;
    }
    const auto fail = [&](const std::string& text) {
        if (lockFd >= 0) {
            ::close(lockFd);
        }
        SetError(error, text);
        return false;
    };
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) {
        return fail(ErrorText("posix_openpt", errno));
    }
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof(name)) != 0) {
        const int err = errno;
        ::close(master);
        return fail(ErrorText("pseudo-terminal", err));
    }
    const int far = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (far < 0) {
        const int err = errno;
        ::close(master);
        return fail(ErrorText(name, err));
    }
    // The far end starts raw, so clients read the bytes as sent and nothing echoes back.
    if (!Apply(far, LineSettings{}) || !Apply(master, LineSettings{})) {
        const int err = errno;
        ::close(far);
        ::close(master);
        return fail(ErrorText("pseudo-terminal settings", err));
    }
    // Every open and close of the far end by anybody but us is told here, so the port knows
    // whether a reader holds it. Watched before the link is published: nobody can have it yet.
    // Without a watch (the user's inotify instances used up) the port still works, only
    // without knowing its readers.
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch >= 0 && inotify_add_watch(watch, name, IN_OPEN | IN_CLOSE) < 0) {
        ::close(watch);
        watch = -1;
    }
    if (!linkPath.empty()) {
        std::error_code ec;
        const std::filesystem::path link(linkPath);
        std::filesystem::remove(link, ec);
        std::filesystem::create_symlink(name, link, ec);
        if (ec) {
            ::close(far);
            ::close(master);
            if (watch >= 0) {
                ::close(watch);
            }
            return fail("cannot publish " + linkPath + ": " + ec.message());
        }
        m_link = linkPath;
    }
    m_watchFd = watch;
    m_readers = 0;
    m_readersKnown = true;
    m_lockFd = lockFd;
    m_fd = master;
    m_farFd = far;
    m_path = name;
    return true;
}

void CSerialDevice::Close() {
    if (!m_link.empty()) {
        // Remove the link only while it still names our far end: a later owner may have
        // published its own.
        std::error_code ec;
        if (std::filesystem::read_symlink(m_link, ec) == m_path) {
            std::filesystem::remove(m_link, ec);
        }
        m_link.clear();
    }
    if (m_watchFd >= 0) {
        ::close(m_watchFd);
        m_watchFd = -1;
    }
    if (m_farFd >= 0) {
        ::close(m_farFd);
        m_farFd = -1;
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
    if (m_fd >= 0) {
        ::close(m_fd);  // also drops the lock
        m_fd = -1;
    }
    m_path.clear();
}

bool CSerialDevice::SetLine(const LineSettings& line) {
    if (m_fd < 0 || line.baud == 0) {
        return false;
    }
    return Apply(m_fd, line);
}

bool CSerialDevice::GetLine(LineSettings& line) const {
    termios2 t{};
    if (m_fd < 0 || ioctl(m_fd, TCGETS2, &t) != 0) {
        return false;
    }
    line.baud = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            line.dataBits = 5;
            break;
        case CS6:
            line.dataBits = 6;
            break;
        case CS7:
            line.dataBits = 7;
            break;
        default:
            line.dataBits = 8;
            break;
    }
    if ((t.c_cflag & PARENB) == 0) {
        line.parity = 0;
    } else if ((t.c_cflag & CMSPAR) != 0) {
        line.parity = (t.c_cflag & PARODD) != 0 ? 3 : 4;
    } else {
        line.parity = (t.c_cflag & PARODD) != 0 ? 1 : 2;
    }
    line.stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 0;
    return true;
}

long CSerialDevice::Write(const void* data, std::size_t length) {
    if (m_fd < 0) {
        errno = EBADF;
        return -1;
    }
    const ssize_t n = ::write(m_fd, data, length);
    if (n < 0) {
        return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    }
    return static_cast<long>(n);
}

long CSerialDevice::Read(void* data, std::size_t capacity) {
    if (m_fd < 0) {
        errno = EBADF;
        return -1;
    }
    const ssize_t n = ::read(m_fd, data, capacity);
    if (n < 0) {
        return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    }
    if (n == 0) {
        errno = EIO;  // a tty reads end of file only when its line has hung up
        return -1;
    }
    return static_cast<long>(n);
}

bool CSerialDevice::WaitWritable(int timeoutMs) const {
    if (m_fd < 0) {
        return false;
    }
    pollfd p{m_fd, POLLOUT, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    return r == 1 && (p.revents & POLLOUT) != 0 && (p.revents & (POLLERR | POLLNVAL)) == 0;
}

bool CSerialDevice::WaitReadable(int timeoutMs) const {
    if (m_fd < 0) {
        return false;
    }
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
}

int CSerialDevice::OutputQueued() const {
    int n = 0;
    if (m_farFd >= 0) {
        return ioctl(m_farFd, FIONREAD, &n) == 0 ? n : -1;
    }
    if (m_fd < 0) {
        return -1;
    }
    return ioctl(m_fd, TIOCOUTQ, &n) == 0 ? n : -1;
}

void CSerialDevice::DiscardInput() {
    if (m_fd >= 0) {
        ioctl(m_fd, TCFLSH, TCIFLUSH);
    }
}

CPortNameLock::~CPortNameLock() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool CPortNameLock::Acquire(const std::string& name, std::string* error) {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = LockBeside(CPortMap::LinkPath(name), error);
    return m_fd >= 0;
}

bool CSerialDevice::HasReader() {
    if (m_watchFd < 0) {
        return m_fd >= 0;
    }
    alignas(inotify_event) char events[1024];
    for (int pass = 0; pass < 64; ++pass) {
        const ssize_t n = ::read(m_watchFd, events, sizeof(events));
        if (n <= 0) {
            break;
        }
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                m_readersKnown = false;  // opens were missed: count on a reader from now on
            } else if ((event->mask & IN_OPEN) != 0) {
                ++m_readers;
            } else if ((event->mask & IN_CLOSE) != 0 && m_readers > 0 && --m_readers == 0) {
                // The last reader has gone: what it left unread must not reach the next one.
                ioctl(m_farFd, TCFLSH, TCIFLUSH);
            }
        }
    }
    return m_readers > 0 || !m_readersKnown;
}

bool CSerialDevice::SetBreak(bool on) {
    return m_fd >= 0 && ioctl(m_fd, on ? TIOCSBRK : TIOCCBRK) == 0;
}

bool CSerialDevice::SetRts(bool on) {
    int bits = TIOCM_RTS;
    return m_fd >= 0 && ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

bool CSerialDevice::ReadLineState(LineState& state) const {
    if (m_fd < 0) {
        return false;
    }
    int bits = 0;
    serial_icounter_struct counts{};
    if (ioctl(m_fd, TIOCMGET, &bits) != 0 || ioctl(m_fd, TIOCGICOUNT, &counts) != 0) {
        return false;
    }
    state.cts = (bits & TIOCM_CTS) != 0;
    state.ctsChanges = static_cast<unsigned>(counts.cts);
    state.breaks = static_cast<unsigned>(counts.brk);
    return true;
}

LineStateReader CSerialDevice::MakeLineStateReader() const {
    // The watcher holds its own duplicate of the handle, as it may outlive a pass of ours.
    const int dup = m_fd >= 0 ? fcntl(m_fd, F_DUPFD_CLOEXEC, 0) : -1;
    if (dup < 0) {
        return [](LineState&) { return false; };
    }
    auto holder = std::shared_ptr<int>(new int(dup), [](int* fd) {
        ::close(*fd);
        delete fd;
    });
    return [holder](LineState& state) {
        int bits = 0;
        serial_icounter_struct counts{};
        if (ioctl(*holder, TIOCMGET, &bits) != 0 || ioctl(*holder, TIOCGICOUNT, &counts) != 0) {
            return false;
        }
        state.cts = (bits & TIOCM_CTS) != 0;
        state.ctsChanges = static_cast<unsigned>(counts.cts);
        state.breaks = static_cast<unsigned>(counts.brk);
        return true;
    };
}

bool CSerialDevice::IsConsole(const std::string& path) {
    std::error_code ec;
    std::filesystem::path real = std::filesystem::weakly_canonical(path, ec);
    if (ec) {
        real = path;
    }
    if (real.parent_path() != "/dev") {
        return false;
    }
    const std::string name = real.filename().string();
    if (IsVirtualConsoleName(name)) {
        return true;
    }
    const std::vector<std::string> consoles = ConsoleNames();
    return std::find(consoles.begin(), consoles.end(), name) != consoles.end();
}

std::string CSerialDevice::TerminalProblem(const std::string& path, bool* missing) {
    if (missing != nullptr) {
        *missing = false;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            if (missing != nullptr) {
                *missing = true;
            }
            return {};
        }
        return ErrorText(path, errno);
    }
    if (S_ISREG(info.st_mode)) {
        return path + " is a file, not a terminal";
    }
    if (S_ISDIR(info.st_mode)) {
        return path + " is a folder, not a terminal";
    }
    if (!S_ISCHR(info.st_mode)) {
        return path + " is not a terminal (a disk, a pipe or a socket)";
    }
    const std::string device = "/sys/dev/char/" + std::to_string(major(info.st_rdev)) + ":" +
                               std::to_string(minor(info.st_rdev));
    std::error_code ec;
    const auto subsystem = std::filesystem::read_symlink(device + "/subsystem", ec);
    if (!ec) {
        return subsystem.filename() == "tty"
                   ? std::string()
                   : path + " is a " + subsystem.filename().string() + " device, not a terminal";
    }
    // Not in the device classes (a pseudo-terminal): its far end is opened harmlessly.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return ErrorText(path, errno);
    }
    const bool terminal = isatty(fd) != 0;
    ::close(fd);
    return terminal ? std::string() : path + " is not a terminal";
}

std::vector<std::string> CSerialDevice::ListSerialDevices() {
    std::vector<std::string> devices;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/tty", ec)) {
        const std::string name = entry.path().filename().string();
        // Only ttys backed by hardware; 8250 slots without a UART report type 0.
        if (!std::filesystem::exists(entry.path() / "device", ec)) {
            continue;
        }
        std::ifstream typeFile(entry.path() / "type");
        int type = -1;
        if (typeFile >> type && type == 0) {
            continue;
        }
        const std::string path = "/dev/" + name;
        if (!std::filesystem::exists(path, ec) || IsConsole(path)) {
            continue;
        }
        devices.push_back(path);
    }
    std::sort(devices.begin(), devices.end());
    return devices;
}

}  // namespace comlane
