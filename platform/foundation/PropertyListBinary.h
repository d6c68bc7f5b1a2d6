// The binary form of property lists ("bplist00"): a writer and a reader that checks every bound.
#pragma once

#include "platform/foundation/Value.h"

namespace PropertyListCodec {

// Whether `data` starts as a binary property list.
bool isBinary(const NSData& data);
// Both raise Failure: the writer for values a property list cannot hold, the reader for damage.
NSData writeBinary(const Value& root);
Value readBinary(const NSData& data);

}  // namespace PropertyListCodec
