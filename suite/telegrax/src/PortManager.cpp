#include <algorithm>

#include "comlane/SerialDevice.h"
#include "interfaces/CommsManager.h"
#include "interfaces/PortManager.h"

CPortManager::~CPortManager() {
    for (CTelegrax* port : m_ports) {
        delete port;
    }
    for (CPortAgent* agent : m_agents) {
        delete agent;
    }
}

void CPortManager::AddPortAgent(CPortAgent* agent) {
    if (agent == nullptr) {
        return;
    }
    std::lock_guard lock(m_mutex);
    m_agents.push_back(agent);
}

int CPortManager::GetAvailablePorts(std::vector<std::string>& names, std::vector<std::string>&,
                                    int) {
    std::lock_guard lock(m_mutex);
    for (CPortAgent* agent : m_agents) {
        std::vector<std::string> found;
        agent->GetAvailablePorts(found);
        for (std::string& name : found) {
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(std::move(name));
            }
        }
    }
    return static_cast<int>(names.size());
}

CTelegrax* CPortManager::GetPort(const std::string& name) {
    std::lock_guard lock(m_mutex);
    for (CPortAgent* agent : m_agents) {
        if (CTelegrax* port = agent->CreatePort(name)) {
            m_ports.push_back(port);
            return port;
        }
    }
    return nullptr;
}

int CPortManager::ReleasePort(CTelegrax* port) {
    std::lock_guard lock(m_mutex);
    const auto it = std::find(m_ports.begin(), m_ports.end(), port);
    if (port == nullptr || it == m_ports.end()) {
        return 0;
    }
    m_ports.erase(it);
    delete port;  // closes the device; a virtual port's link goes with it
    return 1;
}

void CCommsManager::GetAvailablePorts(std::vector<std::string>& names) {
    for (const auto& entry : comlane::CPortMap::Entries()) {
        names.push_back(entry.first);
    }
}

CTelegrax* CCommsManager::CreatePort(const std::string& name) {
    const int number = comlane::CPortMap::PortNumber(name);
    if (number < 0) {
        return nullptr;
    }
    auto* port = new CTelegrax("COM" + std::to_string(number));
    if (!port->Open()) {
        delete port;
        return nullptr;
    }
    return port;
}
