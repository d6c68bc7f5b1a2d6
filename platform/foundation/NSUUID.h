// Universally unique identifiers: random (version 4) ones and those read from their text form.
#pragma once

#include "platform/foundation/NSObject.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class NSUUID : public NSObject {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    // A new random identifier (version 4, RFC 4122 variant).
    static std::shared_ptr<NSUUID> UUID();
    // Empty unless `string` is 32 hexadecimal digits grouped 8-4-4-4-12 by hyphens (either case).
    [[nodiscard]] static std::shared_ptr<NSUUID> initWithUUIDString(const std::string& string);
    static std::shared_ptr<NSUUID> initWithUUIDBytes(const Bytes& bytes);

    // Upper-case hexadecimal, hyphenated: "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
    std::string UUIDString() const;
    const Bytes& bytes() const { return bytes_; }

    std::string description() const override { return UUIDString(); }
    bool isEqual(const NSObject* other) const override;
    std::size_t hash() const override;

    explicit NSUUID(const Bytes& bytes) : bytes_(bytes) {}

private:
    Bytes bytes_{};
};
