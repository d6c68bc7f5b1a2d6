// One file attached to a mail: its bytes, the name it carries and its MIME type.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <string>

class MailAttachment : public NSObject {
public:
    static std::shared_ptr<MailAttachment> initWithData(NSData data, std::string fileName, std::string mimeType) {
        auto attachment = std::make_shared<MailAttachment>();
        attachment->data_ = std::move(data);
        attachment->fileName_ = std::move(fileName);
        attachment->mimeType_ = std::move(mimeType);
        return attachment;
    }

    const std::string& fileName() const { return fileName_; }
    const std::string& mimeType() const { return mimeType_; }
    const NSData& data() const { return data_; }

private:
    std::string fileName_;
    std::string mimeType_;
    NSData data_;
};
