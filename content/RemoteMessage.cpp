// Reading a remote message's entry, whatever the server put in it.
#include "content/RemoteMessage.h"

std::string RemoteMessage::identifier() const {
    const Value& id = dict_["id"];
    if (id.isString()) return id.string();
    if (id.type() == Value::Type::Integer || id.type() == Value::Type::Unsigned) return id.stringValue();
    return "";
}

std::string RemoteMessage::title() const { return dict_["title"].isString() ? dict_["title"].string() : ""; }

std::string RemoteMessage::message() const { return dict_["msg"].isString() ? dict_["msg"].string() : ""; }

Value::Array RemoteMessage::buttons() const {
    Value::Array out;
    for (const auto& button : dict_["buttons"].array())
        if (button.isDictionary()) out.push_back(button);
    return out;
}
