// The media stand-in's failures.
#include "platform/media/AVError.h"

NSErrorPtr makeAVError(long code, const std::string& description, NSErrorPtr underlying) {
    Value::Dictionary info;
    info.set(NSLocalizedDescriptionKey, Value(description));
    if (underlying) info.set(NSUnderlyingErrorKey, Value(std::static_pointer_cast<NSObject>(underlying)));
    return NSError::errorWithDomain(AVFoundationErrorDomain, code, info);
}
