// tavimo-ports: shows and changes the port map, which ties each "COM<n>" name the module
// uses to a serial device or to a virtual port ("pty").
//
//   tavimo-ports                       list the map (name, device, where a virtual port appears)
//   tavimo-ports map COM4 /dev/ttyUSB0 tie a name to a device (or to "pty")
//   tavimo-ports map COM5 udp:HOST:PORT[?ttl=N&if=NAME]
//                                      each telegram one datagram to HOST (unicast,
//                                      broadcast, or a multicast group with its hop limit
//                                      and interface)
//   tavimo-ports map COM6 tcp:[ADDR:]PORT
//                                      a server on PORT (all interfaces, or ADDR) that
//                                      sends every telegram to every connected client
//   tavimo-ports unmap COM4            remove a name
//   tavimo-ports sensor                show the sensor port and its kind of device, and
//                                      for a reader of telegrams what it last counted
//   tavimo-ports sensor COM4 [KIND]    the sensor port and its kind of device ("simulated"
//                                      when left out; "telegrams" or "telegrams:GAP")
#include <cstdio>
#include <string>

#include "comlane/NetworkPort.h"
#include "comlane/SerialDevice.h"
#include "mtobj/MTObj.h"
#include "mtobj/SensorDevice.h"
#include "platform/Registry.h"

namespace {
int Usage(bool asked = false) {
    std::fprintf(asked ? stdout : stderr,
                 "usage: tavimo-ports [list | map COM<n> <device|pty|udp:HOST:PORT[?ttl=N&if=NAME]|"
                 "tcp:[ADDR:]PORT> | unmap COM<n> | sensor [COM<n> [KIND]]]\n");
    return asked ? 0 : 2;
}

// Checks a network target before it goes into the map: a malformed one is refused; one
// that cannot work at this moment (a name that does not resolve, a privileged port) is
// mapped with a warning, since the module keeps trying until it works.
int CheckNetworkTarget(const std::string& text) {
    std::string reason;
    const auto target = comlane::ParseNetworkTarget(text, &reason);
    if (!target) {
        std::fprintf(stderr, "tavimo-ports: %s\n", reason.c_str());
        return 2;
    }
    if (target->port == 0) {
        std::fprintf(stderr, "tavimo-ports: '%s': clients need a fixed port, not 0\n",
                     text.c_str());
        return 2;
    }
    for (const std::string& warning : comlane::NetworkTargetWarnings(*target)) {
        std::fprintf(stderr, "tavimo-ports: warning: %s; the module keeps trying\n",
                     warning.c_str());
    }
    return 0;
}

// The sensor's port and kind as stored ("COM1" and the simulated sensor when none is).
struct StoredSensor {
    std::string port = "COM1";
    std::string kind;  // empty: simulated
    std::string counters;
    // Whether the device reads telegrams from the line its port is mapped to; the others
    // (simulated, IIO, replay) use the port as a name only.
    bool ReadsALine() const { return kind.rfind("telegrams", 0) == 0; }
};
StoredSensor ReadStoredSensor() {
    StoredSensor sensor;
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, mtobj::kSettingsKey, KEY_READ) == ERROR_SUCCESS) {
        sensor.port = key.QueryString("Port").value_or(sensor.port);
        sensor.kind = key.QueryString("Kind").value_or(sensor.kind);
        sensor.counters = key.QueryString("Counters").value_or(sensor.counters);
    }
    return sensor;
}

int BadName(const std::string& name) {
    std::fprintf(stderr, "tavimo-ports: '%s' is not a port name (COM1 to COM99999)\n",
                 name.c_str());
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "list";
    if (argc == 2 && (command == "--help" || command == "-h" || command == "help")) {
        return Usage(true);
    }
    if (!platform::RegistryOpen()) {
        // The reason is on standard error already; an empty list would be a lie.
        std::fprintf(stderr, "tavimo-ports: the registry %s cannot be read\n",
                     platform::RegistryPath().c_str());
        return 1;
    }
    if (command == "list" && argc <= 2) {
        // The sensor's port is a name only for a sensor that reads no serial line: no link
        // appears for it.
        const StoredSensor sensor = ReadStoredSensor();
        for (const auto& [name, target] : comlane::CPortMap::Entries()) {
            if (name == sensor.port && !sensor.ReadsALine()) {
                std::printf("%-8s the %s sensor's port (no link appears)\n", name.c_str(),
                            sensor.kind.empty() ? "simulated" : sensor.kind.c_str());
            } else if (target == comlane::CPortMap::kPseudoTerminal) {
                std::printf("%-8s pty  (appears as %s)\n", name.c_str(),
                            comlane::CPortMap::LinkPath(name).c_str());
            } else {
                std::printf("%-8s %s\n", name.c_str(), target.c_str());
            }
        }
        return 0;
    }
    if (command == "map" && argc == 4) {
        if (comlane::CPortMap::PortNumber(argv[2]) < 0) {
            return BadName(argv[2]);
        }
        const std::string target = argv[3];
        if (comlane::IsNetworkTarget(target)) {
            if (const int rc = CheckNetworkTarget(target); rc != 0) {
                return rc;
            }
        } else if (target != comlane::CPortMap::kPseudoTerminal && target.rfind('/', 0) != 0) {
            std::fprintf(stderr,
                         "tavimo-ports: '%s' is neither the path of a terminal (/dev/ttyUSB0, a "
                         "socat link), \"pty\", udp:HOST:PORT nor tcp:[ADDR:]PORT\n",
                         argv[3]);
            return 2;
        } else if (target != comlane::CPortMap::kPseudoTerminal &&
                   comlane::CSerialDevice::IsConsole(target)) {
            std::fprintf(stderr, "tavimo-ports: %s is the system console and is never opened\n",
                         argv[3]);
            return 1;
        } else if (target != comlane::CPortMap::kPseudoTerminal) {
            bool missing = false;
            const std::string problem = comlane::CSerialDevice::TerminalProblem(target, &missing);
            if (!problem.empty()) {
                std::fprintf(stderr, "tavimo-ports: %s; %s is not mapped\n", problem.c_str(),
                             argv[2]);
                return 2;
            }
            if (missing) {
                std::fprintf(stderr,
                             "tavimo-ports: warning: %s does not exist now (a typing mistake, or "
                             "a line not plugged in yet); %s is opened once it is there\n",
                             argv[3], argv[2]);
            }
        }
        const std::string before = comlane::CPortMap::Lookup(argv[2]);
        if (!comlane::CPortMap::Map(argv[2], target)) {
            std::fprintf(stderr, "tavimo-ports: the registry could not be written\n");
            return 1;
        }
        if (!before.empty() && before != target) {
            std::printf("%s was %s; it is now %s\n", argv[2], before.c_str(), target.c_str());
        }
        return 0;
    }
    if (command == "unmap" && argc == 3) {
        if (comlane::CPortMap::PortNumber(argv[2]) < 0) {
            return BadName(argv[2]);
        }
        if (!comlane::CPortMap::Unmap(argv[2])) {
            std::fprintf(stderr, "tavimo-ports: %s is not mapped\n", argv[2]);
            return 1;
        }
        return 0;
    }
    if (command == "sensor" && argc == 2) {
        const StoredSensor sensor = ReadStoredSensor();
        std::printf("%-8s %s\n", sensor.port.c_str(),
                    sensor.kind.empty() ? "simulated" : sensor.kind.c_str());
        if (!sensor.counters.empty()) {
            // Published by the running module every ten seconds while they change, and at stop.
            std::printf("counted  %s\n", sensor.counters.c_str());
        }
        return 0;
    }
    if (command == "sensor" && (argc == 3 || argc == 4)) {
        if (comlane::CPortMap::PortNumber(argv[2]) < 0) {
            return BadName(argv[2]);
        }
        std::string reason;
        const auto kind = mtobj::ParseDeviceKind(argc == 4 ? argv[3] : "simulated", &reason);
        if (!kind) {
            std::fprintf(stderr, "tavimo-ports: %s\n", reason.c_str());
            return 2;
        }
        CRegKey key;
        if (key.Create(HKEY_CURRENT_USER, mtobj::kSettingsKey) != ERROR_SUCCESS ||
            key.SetString("Port", argv[2]) != ERROR_SUCCESS ||
            key.SetString("Kind", kind->Text()) != ERROR_SUCCESS) {
            std::fprintf(stderr, "tavimo-ports: the registry could not be written\n");
            return 1;
        }
        if (StoredSensor{.port = argv[2], .kind = kind->Text(), .counters = {}}.ReadsALine() &&
            comlane::CPortMap::Lookup(argv[2]).empty()) {
            std::fprintf(stderr,
                         "tavimo-ports: warning: %s is not mapped: the telegrams are read from "
                         "the line it is mapped to (tavimo-ports map %s /dev/ttyUSB0)\n",
                         argv[2], argv[2]);
        }
        return 0;
    }
    return Usage();
}
