// Turns a reply entry of the message server into a message that can show itself.
#pragma once

#include "content/RemoteMessage.h"

#include <memory>

class RemoteMessageFactory {
public:
    // The platform's alert message over the entry.
    static std::shared_ptr<RemoteMessage> buildMessage(const Value& dictionary);
};
