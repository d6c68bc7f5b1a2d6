// The URL formats of the content server, with host and folder already filled in; each "%@"
// left is filled later with NSString::format by the user of the format.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>
#include <string>

class OEURLFormatConfig : public NSObject {
public:
    static std::shared_ptr<OEURLFormatConfig> initWithDownloadFormat(
        const std::string& downloadFormat, const std::string& imagesFormat, const std::string& requestFormat,
        const std::string& thumbsFormat, const std::string& compositionsFormat, const std::string& likesRequestFormat);

    // H/data/F/%@: a picture's path.
    const std::string& download() const { return download_; }
    void setDownload(const std::string& value) { download_ = value; }
    // H/pic/F/%@: a picture's path.
    const std::string& images() const { return images_; }
    void setImages(const std::string& value) { images_ = value; }
    // H/ostrelEngine/getFile.php?mail_to=%@&fname=%@&dir_name=F&show_fname=%@
    const std::string& request() const { return request_; }
    void setRequest(const std::string& value) { request_ = value; }
    // H/data/F/thumbs/%@: a thumbnail's path.
    const std::string& thumbs() const { return thumbs_; }
    void setThumbs(const std::string& value) { thumbs_ = value; }
    // H/data/ostrelmedia/%@/%@: media format, then file.
    const std::string& compositions() const { return compositions_; }
    void setCompositions(const std::string& value) { compositions_ = value; }
    // H/likes/likes.php?app_id=%@: the likes identifier.
    const std::string& likesRequest() const { return likesRequest_; }
    void setLikesRequest(const std::string& value) { likesRequest_ = value; }

private:
    std::string download_;
    std::string images_;
    std::string request_;
    std::string thumbs_;
    std::string compositions_;
    std::string likesRequest_;
};
