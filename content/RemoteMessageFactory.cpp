// The remote message the platform shows.
#include "content/RemoteMessageFactory.h"

#include "content/iOS_RemoteMessage.h"

std::shared_ptr<RemoteMessage> RemoteMessageFactory::buildMessage(const Value& dictionary) {
    return iOS_RemoteMessage::initWithDictionary(dictionary);
}
