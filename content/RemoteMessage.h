// A message of the maker's message server: its identifier, title, text and buttons, read from
// one reply entry. Showing it is the business of a platform subclass.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <string>

class RemoteMessage : public NSObject {
public:
    // The "action" of a button that opens its "url".
    static constexpr const char* kOpenLinkAction = "OPEN_LINK";

    explicit RemoteMessage(Value dictionary) : dict_(std::move(dictionary)) {}

    const Value& dictionary() const { return dict_; }
    // "id" as text (a number as its digits); "" when there is none, and such a message cannot
    // be recorded as shown.
    std::string identifier() const;
    std::string title() const;    // "title"
    std::string message() const;  // "msg"
    // The entries of "buttons" that are dictionaries, in order.
    Value::Array buttons() const;

    virtual void show() = 0;

private:
    Value dict_;
};
