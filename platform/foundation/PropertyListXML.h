// The XML form of property lists: a writer and a strict reader.
#pragma once

#include "platform/foundation/Value.h"

namespace PropertyListCodec {

// Both raise Failure: the writer for values a property list cannot hold, the reader for damage.
NSData writeXML(const Value& root);
Value readXML(const char* begin, const char* end);

}  // namespace PropertyListCodec
