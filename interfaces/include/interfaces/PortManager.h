// The port broker's manager: each object that uses ports owns one by value. Agents are
// the sources of ports; the manager owns the agents given to it and every port it hands
// out until that port is released.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "interfaces/Telegrax.h"

class CPortAgent {
public:
    virtual ~CPortAgent() = default;
    // Display names ("COM<n>") of the ports this agent can give.
    virtual void GetAvailablePorts(std::vector<std::string>& names) = 0;
    // A new open port, or null when the port cannot be had.
    virtual CTelegrax* CreatePort(const std::string& name) = 0;
};

class CPortManager {
public:
    CPortManager() = default;
    // Releases every port still held and destroys the agents.
    ~CPortManager();
    CPortManager(const CPortManager&) = delete;
    CPortManager& operator=(const CPortManager&) = delete;

    // The manager owns the agent from now on; null is accepted and changes nothing.
    void AddPortAgent(CPortAgent* agent);
    // One display name per available port, in port number order; other stays empty.
    // Returns the number of names.
    int GetAvailablePorts(std::vector<std::string>& names, std::vector<std::string>& other,
                          int filter);
    // The port, or null when no agent can give it (unknown name, device missing or in use).
    CTelegrax* GetPort(const std::string& name);
    // Hands a port back (closing its device): 1, or 0 for a port not got from this manager.
    int ReleasePort(CTelegrax* port);

private:
    mutable std::mutex m_mutex;
    std::vector<CPortAgent*> m_agents;
    std::vector<CTelegrax*> m_ports;
};
