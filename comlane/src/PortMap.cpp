#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

#include "comlane/SerialDevice.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

namespace comlane {
namespace {
// The suite's port map: one string value per port name.
constexpr const char* kPortsKey = "SOFTWARE\\Tervalis\\Calyra\\Ports";

// Reading the map may first write the shipped defaults: one thread at a time, so a
// second port opened at the same moment never sees the key before its entries.
std::recursive_mutex& MapMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

std::string PortName(int number) {
    return "COM" + std::to_string(number);
}
}  // namespace

double CharacterTime(const LineSettings& line) {
    if (line.baud == 0) {
        return 0.0;
    }
    double bits = 1.0 + line.dataBits + (line.parity != 0 ? 1.0 : 0.0);
    bits += line.stopBits == 1 ? 1.5 : line.stopBits == 2 ? 2.0 : 1.0;
    return 1000.0 * bits / line.baud;
}

int CPortMap::PortNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 8) {
        return -1;
    }
    if ((name[0] != 'C' && name[0] != 'c') || (name[1] != 'O' && name[1] != 'o') ||
        (name[2] != 'M' && name[2] != 'm')) {
        return -1;
    }
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return -1;
        }
        number = number * 10 + (name[i] - '0');
    }
    return number >= 1 ? number : -1;
}

std::vector<std::pair<std::string, std::string>> CPortMap::Entries() {
    std::lock_guard lock(MapMutex());
    CRegKey key;
    std::map<int, std::string> byNumber;
    if (key.Open(HKEY_CURRENT_USER, kPortsKey) != ERROR_SUCCESS) {
        if (key.Create(HKEY_CURRENT_USER, kPortsKey) != ERROR_SUCCESS) {
            return {};
        }
        // The shipped map: the simulated sensor's port and the output ports are virtual,
        // so the module runs with no hardware at all.
        for (int number : {1, 2, 3, 100}) {
            key.SetString(PortName(number), kPseudoTerminal);
        }
    }
    for (const std::string& name : key.ValueNames()) {
        const int number = PortNumber(name);
        if (number < 0) {
            continue;
        }
        // A name tied to the system console is neither listed nor opened.
        if (auto target = key.QueryString(name);
            target && !target->empty() &&
            (*target == kPseudoTerminal || !CSerialDevice::IsConsole(*target))) {
            byNumber[number] = *target;
        }
    }
    // Devices present on the machine that no name maps yet take the next free numbers.
    for (const std::string& device : CSerialDevice::ListSerialDevices()) {
        const bool mapped = std::any_of(byNumber.begin(), byNumber.end(),
                                        [&](const auto& e) { return e.second == device; });
        if (mapped) {
            continue;
        }
        int number = 1;
        while (byNumber.count(number) != 0) {
            ++number;
        }
        byNumber[number] = device;
        key.SetString(PortName(number), device);
    }
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& [number, target] : byNumber) {
        entries.emplace_back(PortName(number), target);
    }
    return entries;
}

std::string CPortMap::Lookup(const std::string& name) {
    const int number = PortNumber(name);
    if (number < 0) {
        return {};
    }
    for (const auto& [mapped, target] : Entries()) {
        if (mapped == PortName(number)) {
            return target;
        }
    }
    return {};
}

bool CPortMap::Map(const std::string& name, const std::string& target) {
    const int number = PortNumber(name);
    if (number < 0 || target.empty()) {
        return false;
    }
    std::lock_guard lock(MapMutex());
    Entries();  // a first mapping keeps the shipped defaults beside it
    CRegKey key;
    return key.Create(HKEY_CURRENT_USER, kPortsKey) == ERROR_SUCCESS &&
           key.SetString(PortName(number), target) == ERROR_SUCCESS;
}

bool CPortMap::Unmap(const std::string& name) {
    std::lock_guard lock(MapMutex());
    const int number = PortNumber(name);
    CRegKey key;
    if (number < 0 || key.Open(HKEY_CURRENT_USER, kPortsKey) != ERROR_SUCCESS) {
        return false;
    }
    return key.DeleteValue(PortName(number)) == ERROR_SUCCESS;
}

std::string CPortMap::PortsFolder() {
    return platform::RuntimeFolder() + "/ports";
}

std::string CPortMap::LinkPath(const std::string& name) {
    const int number = PortNumber(name);
    return PortsFolder() + "/" + (number > 0 ? PortName(number) : name);
}

bool OpenNamedPort(const std::string& name, CSerialDevice& device, std::string* error) {
    if (!name.empty() && name[0] == '/') {
        return device.Open(name, error);
    }
    const std::string target = CPortMap::Lookup(name);
    if (target.empty()) {
        if (error != nullptr) {
            *error = "no device is mapped to " + name;
        }
        return false;
    }
    if (target == CPortMap::kPseudoTerminal) {
        return device.OpenPseudoTerminal(CPortMap::LinkPath(name), error);
    }
    return device.Open(target, error);
}

}  // namespace comlane
