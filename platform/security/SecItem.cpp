// The keychain store: one property-list file of items, read and rewritten atomically under
// a process-wide lock.
#include "platform/security/SecItem.h"

#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cerrno>
#include <optional>
#include <string_view>

namespace {

Mutex gMutex;
std::string gStorePath GUARDED_BY(gMutex);

bool isControlKey(std::string_view key) {
    return key == kSecMatchLimit || key == kSecReturnData || key == kSecReturnAttributes || key == kSecValueData;
}

// Strings and data hold the same bytes: the keychain stores attribute values as bytes.
bool sameAttribute(const Value& a, const Value& b) {
    auto bytes = [](const Value& v) -> std::optional<std::string> {
        if (v.isString()) return v.string();
        if (v.isData()) return std::string(v.data().begin(), v.data().end());
        return std::nullopt;
    };
    auto ba = bytes(a);
    auto bb = bytes(b);
    if (ba && bb) return *ba == *bb;
    return a == b;
}

bool matches(const Value::Dictionary& item, const Value::Dictionary& query) {
    for (const auto& [key, wanted] : query) {
        if (isControlKey(key)) continue;
        const Value* have = item.find(key);
        if (!have || !sameAttribute(*have, wanted)) return false;
    }
    return true;
}

// Generic passwords are unique by class, service and account.
bool samePrimaryKey(const Value::Dictionary& a, const Value::Dictionary& b) {
    for (const char* key : {kSecClass, kSecAttrService, kSecAttrAccount}) {
        const Value& va = a.get(key);
        const Value& vb = b.get(key);
        if (va.isNull() != vb.isNull()) return false;
        if (!va.isNull() && !sameAttribute(va, vb)) return false;
    }
    return true;
}

std::string storePathLocked() REQUIRES(gMutex) {
    if (!gStorePath.empty()) return gStorePath;
    return Sandbox::home() + "/Keychain/keychain.plist";
}

// Items of the store; nullopt when the file may exist but cannot be read (a failed look at
// it included), so that it is never overwritten by a store that never read it.
std::optional<std::vector<Value::Dictionary>> loadLocked() REQUIRES(gMutex) {
    const std::string path = storePathLocked();
    struct stat info {};
    const int err = FileIO::current()->status(path, true, info);
    if (err == ENOENT) return std::vector<Value::Dictionary>{};
    if (err) return std::nullopt;
    NSErrorPtr error;
    Value plist = NSPropertyListSerialization::propertyListWithContentsOfFile(path, &error);
    if (!plist.isArray()) return std::nullopt;
    std::vector<Value::Dictionary> items;
    for (const Value& entry : plist.array()) {
        if (entry.isDictionary()) items.push_back(entry.dictionary());
    }
    return items;
}

bool saveLocked(const std::vector<Value::Dictionary>& items) REQUIRES(gMutex) {
    const std::string path = storePathLocked();
    // The write below reports a folder that could not be made.
    (void)FileIO::current()->makeFolders(NSString::stringByDeletingLastPathComponent(path));
    Value::Array array;
    for (const auto& item : items) array.emplace_back(item);
    return NSPropertyListSerialization::writePropertyList(Value(std::move(array)), path,
                                                          NSPropertyListSerialization::NSPropertyListBinaryFormat_v1_0);
}

Value resultForItem(const Value::Dictionary& item, bool returnData, bool returnAttributes) {
    if (returnAttributes) {
        Value::Dictionary out;
        for (const auto& [key, value] : item) {
            if (key == kSecValueData && !returnData) continue;
            out.set(key, value);
        }
        return Value(std::move(out));
    }
    if (returnData) {
        const Value& data = item.get(kSecValueData);
        return data.isData() ? data : Value(NSData{});
    }
    return Value();
}

}  // namespace

OSStatus SecItemAdd(const Value::Dictionary& attributes, Value* result) {
    if (!attributes.get(kSecClass).isString()) return errSecParam;
    MutexLock lock(gMutex);
    auto items = loadLocked();
    if (!items) return errSecIO;
    Value::Dictionary item;
    for (const auto& [key, value] : attributes) {
        if (key == kSecMatchLimit || key == kSecReturnData || key == kSecReturnAttributes) continue;
        item.set(key, value);
    }
    for (const auto& existing : *items) {
        if (samePrimaryKey(existing, item)) return errSecDuplicateItem;
    }
    items->push_back(item);
    if (!saveLocked(*items)) return errSecIO;
    if (result) {
        *result = resultForItem(item, attributes.get(kSecReturnData).boolValue(),
                                attributes.get(kSecReturnAttributes).boolValue());
    }
    return errSecSuccess;
}

OSStatus SecItemCopyMatching(const Value::Dictionary& query, Value* result) {
    if (!query.get(kSecClass).isString()) return errSecParam;
    MutexLock lock(gMutex);
    auto items = loadLocked();
    if (!items) return errSecIO;
    const bool all = query.get(kSecMatchLimit).isString() && query.get(kSecMatchLimit).string() == kSecMatchLimitAll;
    const bool returnData = query.get(kSecReturnData).boolValue();
    const bool returnAttributes = query.get(kSecReturnAttributes).boolValue();
    Value::Array found;
    for (const auto& item : *items) {
        if (!matches(item, query)) continue;
        found.push_back(resultForItem(item, returnData, returnAttributes));
        if (!all) break;
    }
    if (found.empty()) return errSecItemNotFound;
    if (result) *result = all ? Value(std::move(found)) : found.front();
    return errSecSuccess;
}

OSStatus SecItemUpdate(const Value::Dictionary& query, const Value::Dictionary& attributesToUpdate) {
    if (!query.get(kSecClass).isString() || attributesToUpdate.contains(kSecClass)) return errSecParam;
    MutexLock lock(gMutex);
    auto items = loadLocked();
    if (!items) return errSecIO;
    bool any = false;
    for (size_t i = 0; i < items->size(); ++i) {
        if (!matches((*items)[i], query)) continue;
        Value::Dictionary updated = (*items)[i];
        for (const auto& [key, value] : attributesToUpdate) {
            if (key == kSecMatchLimit || key == kSecReturnData || key == kSecReturnAttributes) continue;
            updated.set(key, value);
        }
        for (size_t j = 0; j < items->size(); ++j) {
            if (j != i && samePrimaryKey((*items)[j], updated)) return errSecDuplicateItem;
        }
        (*items)[i] = std::move(updated);
        any = true;
    }
    if (!any) return errSecItemNotFound;
    return saveLocked(*items) ? errSecSuccess : errSecIO;
}

OSStatus SecItemDelete(const Value::Dictionary& query) {
    if (!query.get(kSecClass).isString()) return errSecParam;
    MutexLock lock(gMutex);
    auto items = loadLocked();
    if (!items) return errSecIO;
    std::vector<Value::Dictionary> kept;
    for (auto& item : *items) {
        if (!matches(item, query)) kept.push_back(std::move(item));
    }
    if (kept.size() == items->size()) return errSecItemNotFound;
    return saveLocked(kept) ? errSecSuccess : errSecIO;
}

std::string SecKeychainStorePath() {
    MutexLock lock(gMutex);
    return storePathLocked();
}

void SecKeychainSetStorePath(const std::string& path) {
    MutexLock lock(gMutex);
    gStorePath = path;
}
