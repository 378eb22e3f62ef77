// The one place that opens and configures a tty: a serial device held for exclusive use,
// or a pseudo-terminal whose far end any serial client can open. Comlane's CSerial and the
// port broker both drive their lines through it.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace comlane {

// Line settings; parity and stop bit codes as EParity and EStopBits have them.
struct LineSettings {
    unsigned baud = 9600;
    int dataBits = 8;
    int parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0;  // 0 one, 1 one and a half, 2 two
};

// Milliseconds one character takes on the line: start bit, data bits, parity bit unless
// none, stop bits. 0 for a baud rate of 0.
double CharacterTime(const LineSettings& line);

// What the modem lines say: the CTS level and running counts of CTS changes and breaks.
struct LineState {
    bool cts = false;
    unsigned ctsChanges = 0;
    unsigned breaks = 0;
};
// Reads the line state; false when the device has no modem lines (a pseudo-terminal).
using LineStateReader = std::function<bool(LineState&)>;
// The control lines a port sets: RTS and the break state.
enum class LineControl { Rts, Break };
// Sets one control line on or off.
using LineControlWriter = std::function<void(LineControl, bool on)>;

class CSerialDevice {
public:
    CSerialDevice() = default;
    ~CSerialDevice();
    CSerialDevice(const CSerialDevice&) = delete;
    CSerialDevice& operator=(const CSerialDevice&) = delete;

    // Opens an existing tty, non-blocking and raw at 9600 8N1, for exclusive use (a lock
    // and TIOCEXCL): a second open of the same line fails. The system console is refused.
    bool Open(const std::string& path, std::string* error = nullptr);
    // Makes a pseudo-terminal: this object writes and reads the near end and holds the far
    // end open itself, so writes never fail while no client is attached. When linkPath is
    // not empty the far end is published there as a symbolic link, removed on Close; a lock
    // beside the link keeps the name for one owner at a time, across processes.
    bool OpenPseudoTerminal(const std::string& linkPath = {}, std::string* error = nullptr);
    void Close();

    bool IsOpen() const { return m_fd >= 0; }
    bool IsPseudoTerminal() const { return m_farFd >= 0; }
    int Handle() const { return m_fd; }
    // The device path, or for a pseudo-terminal the path of its far end.
    const std::string& Path() const { return m_path; }
    const std::string& LinkPath() const { return m_link; }

    bool SetLine(const LineSettings& line);
    bool GetLine(LineSettings& line) const;

    // Non-blocking transfers: bytes moved, 0 when the line would block, -1 on a failure
    // (errno says which; EIO or ENXIO when the device has gone).
    long Write(const void* data, std::size_t length);
    long Read(void* data, std::size_t capacity);
    // Waits at most timeoutMs until the device takes more output (true) or fails.
    bool WaitWritable(int timeoutMs) const;
    // Waits at most timeoutMs until bytes can be read or the line has hung up (true).
    bool WaitReadable(int timeoutMs) const;

    // Bytes written but not yet gone: the driver's output queue, or for a pseudo-terminal
    // the bytes its far end has not read yet. -1 when it cannot be told.
    int OutputQueued() const;
    // Throws away received bytes not read yet.
    void DiscardInput();
    // For a pseudo-terminal: whether another program holds its far end open now. When the
    // last one lets go, whatever it left unread is thrown away, so the next one starts
    // with fresh bytes only. Always true for a device, and for a pseudo-terminal whose
    // readers cannot be watched.
    bool HasReader();

    bool SetBreak(bool on);
    bool SetRts(bool on);
    bool ReadLineState(LineState& state) const;
    // A reader of this device's line state that the control-line watcher can hold.
    LineStateReader MakeLineStateReader() const;

    // True when the path is (a link to) the system console or a virtual console.
    static bool IsConsole(const std::string& path);
    // Whether the path (or what it links to) is a terminal: a serial line or a
    // pseudo-terminal. "" when it is, or when nothing is there now (then *missing is set);
    // otherwise what it is instead. A serial line is told by the kernel's device classes,
    // never opened (an open would raise its control lines).
    static std::string TerminalProblem(const std::string& path, bool* missing = nullptr);
    // Serial devices present on the machine (console excluded), sorted by path.
    static std::vector<std::string> ListSerialDevices();

private:
    int m_fd = -1;
    int m_farFd = -1;
    int m_lockFd = -1;
    int m_watchFd = -1;  // opens and closes of a pseudo-terminal's far end
    int m_readers = 0;
    bool m_readersKnown = true;
    std::string m_path;
    std::string m_link;
};

// The map of port names ("COM<n>") to devices, kept in the registry: each name stands for
// a device path or for "pty", a pseudo-terminal made when the port is opened.
class CPortMap {
public:
    static constexpr const char* kPseudoTerminal = "pty";

    // Every mapped name with its target, in port number order (names tied to the system
    // console are left out). A missing map is seeded
    // with COM1, COM2, COM3 and COM100 as pseudo-terminals; serial devices present on the
    // machine that no name maps yet get the next free numbers.
    static std::vector<std::pair<std::string, std::string>> Entries();
    // The target of a name; empty when the name is not mapped or not "COM<n>".
    static std::string Lookup(const std::string& name);
    static bool Map(const std::string& name, const std::string& target);
    static bool Unmap(const std::string& name);
    // The number of a "COM<n>" name (n >= 1), else -1.
    static int PortNumber(const std::string& name);

    // $XDG_RUNTIME_DIR/tavimo/ports, else /tmp/tavimo-<uid>/ports.
    static std::string PortsFolder();
    static std::string LinkPath(const std::string& name);
};

// Holds a port name for one owner at a time, across processes, as a virtual port's lock
// does (a lock file beside the name's link); let go when destroyed.
class CPortNameLock {
public:
    CPortNameLock() = default;
    ~CPortNameLock();
    CPortNameLock(const CPortNameLock&) = delete;
    CPortNameLock& operator=(const CPortNameLock&) = delete;
    // False with the reason when another owner holds the name.
    bool Acquire(const std::string& name, std::string* error = nullptr);

private:
    int m_fd = -1;
};

// Opens the device a port name stands for: a mapped device path, a pseudo-terminal
// published as the name's link in the ports folder, or a plain device path.
bool OpenNamedPort(const std::string& name, CSerialDevice& device, std::string* error = nullptr);

}  // namespace comlane
