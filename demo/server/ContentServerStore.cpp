// The in-memory answers of the content server.
#include "demo/server/ContentServerStore.h"

#include "platform/foundation/NSPropertyListSerialization.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <optional>

using Json = nlohmann::json;

namespace {

std::optional<long long> integer(const std::string& text) {
    long long value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

void replaceHost(Json& value, const std::string& host) {
    if (value.is_string()) {
        std::string text = value.get<std::string>();
        for (std::size_t at = text.find("{host}"); at != std::string::npos; at = text.find("{host}", at + host.size()))
            text.replace(at, 6, host);
        value = text;
    } else if (value.is_structured()) {
        for (auto& member : value) replaceHost(member, host);
    }
}

std::string failure(const std::string& sentence) { return Json{{"error", sentence}}.dump(); }

}  // namespace

std::unique_ptr<ContentServerStore> ContentServerStore::fromFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "Could not read the fixtures " + path + ".";
        return nullptr;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    auto store = fromJSON(text, error);
    if (!store && error) *error = path + ": " + *error;
    return store;
}

std::unique_ptr<ContentServerStore> ContentServerStore::fromJSON(const std::string& text, std::string* error) {
    auto fail = [error](const std::string& sentence) {
        if (error) *error = sentence;
        return nullptr;
    };
    Json fixtures = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!fixtures.is_object()) return fail("The fixtures are not a JSON object.");

    std::unique_ptr<ContentServerStore> store(new ContentServerStore);
    MutexLock lock(store->mutex_);
    for (auto [key, into] : {std::pair{"bundleIdentifier", &store->bundleIdentifier_},
                             std::pair{"likesIdentifier", &store->likesIdentifier_},
                             std::pair{"famousIdentifier", &store->famousIdentifier_}}) {
        const auto found = fixtures.find(key);
        if (found == fixtures.end()) continue;
        if (!found->is_string()) return fail(std::string("The fixtures' \"") + key + "\" is not a text.");
        *into = found->get<std::string>();
    }
    const Json likes = fixtures.value("likes", Json::object());
    if (!likes.is_object()) return fail("The fixtures' \"likes\" is not an object.");
    for (const auto& [key, count] : likes.items()) {
        const auto id = integer(key);
        const auto value = count.is_number_integer() ? std::optional(count.get<long long>())
                           : count.is_string()        ? integer(count.get<std::string>())
                                                      : std::nullopt;
        if (!id || !value) return fail("The fixtures' likes of \"" + key + "\" are not a picture id and a count.");
        store->likes_[*id] = {*value, count.is_string()};
    }
    for (auto [key, into] : {std::pair{"popular", &store->popular_}, std::pair{"famous", &store->famous_},
                             std::pair{"messages", &store->messages_}}) {
        *into = fixtures.value(key, Json::array());
        if (!into->is_array()) return fail(std::string("The fixtures' \"") + key + "\" is not a list.");
    }
    const Json count = fixtures.value("applicationsCount", Json(0));
    if (!count.is_number_integer()) return fail("The fixtures' \"applicationsCount\" is not a whole number.");
    store->applicationsCount_ = count.get<long long>();
    return store;
}

void ContentServerStore::setHost(const std::string& host) {
    MutexLock lock(mutex_);
    for (Json* texts : {&popular_, &famous_, &messages_}) replaceHost(*texts, host);
}

std::string ContentServerStore::likes(const std::string& method, const Parameters& query) {
    MutexLock lock(mutex_);
    if (LoopbackServer::parameter(query, "app_id") != likesIdentifier_ || likesIdentifier_.empty()) return failure("Unknown application");
    auto entry = [this](const Json& id, long long picture) REQUIRES(mutex_) {
        const auto found = likes_.find(picture);
        const long long count = found == likes_.end() ? 0 : found->second.count;
        const bool asText = found != likes_.end() && found->second.asText;
        return Json{{"id", id}, {"likes", asText ? Json(std::to_string(count)) : Json(count)}};
    };

    if (method == "GET" && LoopbackServer::parameter(query, "sort") == "desc") {
        const auto wanted = integer(LoopbackServer::parameter(query, "count"));
        const std::size_t limit = wanted && *wanted >= 0 ? static_cast<std::size_t>(*wanted) : 100;
        Json list = Json::array();
        for (const auto& id : popular_) {
            if (list.size() >= limit) break;
            std::optional<long long> picture;
            if (id.is_number_integer()) picture = id.get<long long>();
            if (id.is_string()) picture = integer(id.get<std::string>());
            list.push_back(entry(id, picture.value_or(0)));
        }
        return list.dump();
    }

    const std::string ids = LoopbackServer::parameter(query, "id");
    if (ids.empty()) return failure("No picture id");
    std::vector<long long> pictures;
    for (std::size_t from = 0; from <= ids.size();) {
        const std::size_t comma = std::min(ids.find(',', from), ids.size());
        const auto picture = integer(ids.substr(from, comma - from));
        if (!picture) return failure("Wrong picture id \"" + ids.substr(from, comma - from) + "\"");
        pictures.push_back(*picture);
        from = comma + 1;
    }
    Json list = Json::array();
    if (method == "POST" || method == "DELETE") {
        for (long long picture : pictures) {
            long long& count = likes_[picture].count;
            count = method == "POST" ? count + 1 : std::max(0LL, count - 1);
            list.push_back(entry(picture, picture));
        }
    } else if (method == "GET") {
        for (long long picture : pictures)
            if (likes_.count(picture)) list.push_back(entry(picture, picture));
    } else {
        return failure("Unsupported method " + method);
    }
    return list.dump();
}

std::string ContentServerStore::famousPosts(const Parameters& query) const {
    MutexLock lock(mutex_);
    if (LoopbackServer::parameter(query, "app_id") != famousIdentifier_ || famousIdentifier_.empty()) return failure("Unknown application");
    return Json{{"texts", famous_}}.dump();
}

std::string ContentServerStore::remoteMessages(const Parameters& query) const {
    MutexLock lock(mutex_);
    if (bundleIdentifier_.empty() || LoopbackServer::parameter(query, "app") != "ios." + bundleIdentifier_) return "[]";
    return messages_.dump();
}

std::string ContentServerStore::applicationsList() const {
    MutexLock lock(mutex_);
    Value::Dictionary list;
    list.set("count", Value(applicationsCount_));
    const NSData data = NSPropertyListSerialization::dataWithPropertyList(
        Value(std::move(list)), NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0);
    return {data.begin(), data.end()};
}
