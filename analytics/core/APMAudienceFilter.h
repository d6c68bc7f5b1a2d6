// What the stored event and user-property filters of an audience have in common, through which
// the timestamp caches and the evaluator treat the two kinds alike.
#pragma once

#include <cstdint>

class APMAudienceFilter {
public:
    virtual ~APMAudienceFilter() = default;

    virtual std::int32_t audienceID() const = 0;
    virtual std::int32_t filterID() const = 0;
    virtual bool isSessionScoped() const = 0;
    virtual bool isDynamic() const = 0;
    virtual bool isSequence() const = 0;
    // An event filter (a user-property filter otherwise).
    virtual bool isEventFilter() const = 0;
};
