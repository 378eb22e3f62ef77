// The process's exit statuses, so that a service manager (and the README) can tell why the
// module ended.
#pragma once

enum TavimoExitStatus : int {
    kExitNormal = 0,
    kExitComponentMissing = 1,         // the sensor object could not be created
    kExitConfigurationUnreadable = 2,  // embedded, and the configuration file cannot be read
    kExitSensorLost = 3,               // embedded, and the sensor was lost: start it again
    kExitServeOnlyUnavailable = 4,     // -Embedding / -Automation: no outside clients here
};
