// The agent that gives access to the machine's serial ports through the port map:
// "COM<n>" names tied to device paths or to pseudo-terminals, plus the serial devices
// present on the machine.
#pragma once

#include "interfaces/PortManager.h"

class CCommsManager : public CPortAgent {
public:
    CCommsManager() = default;
    void GetAvailablePorts(std::vector<std::string>& names) override;
    CTelegrax* CreatePort(const std::string& name) override;
};
