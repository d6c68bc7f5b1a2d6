// What the experiments need of the engine, which implements it and hands it in: the identity's
// diversion key, where the application came from, and where the measurement service (and its
// "/sdk-exp" endpoint) lives.
#pragma once

#include <string>

class APMExperimentContext {
public:
    virtual ~APMExperimentContext() = default;

    // The identity's persisted 5-character key (made and persisted at the first read).
    virtual std::string diversionKey() = 0;
    // Installed from the store.
    virtual bool isFromAppStore() = 0;
    // "host" or "host:port" of the measurement service.
    virtual std::string measurementHost() = 0;
};
