// What an owner of the engine may register as its delegate. The engine asks nothing of it yet:
// it only holds it, weakly, for whoever registered it.
#pragma once

class APMMeasurementDelegate {
public:
    virtual ~APMMeasurementDelegate() = default;
};
