// The pager's picture menu: an action sheet offering to download the high-resolution file into
// the photo album, to have the content server send it by e-mail, and to share the picture.
#pragma once

#include "gallery/GalleryContext.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <string>

class UIAlertController;
class UIViewController;

class ImageMenu : public NSObject {
public:
    static std::shared_ptr<ImageMenu> imageMenuForImageData(Value::Dictionary row, GalleryContext context);
    ImageMenu(Value::Dictionary row, GalleryContext context);

    // The controller that presents the sheet, alerts and screens; held weakly.
    std::shared_ptr<UIViewController> ownerViewController() const { return owner_.lock(); }
    void setOwnerViewController(const std::shared_ptr<UIViewController>& owner) { owner_ = owner; }
    // The pager shows the high-resolution picture.
    bool useHd() const { return useHd_; }
    void setUseHd(bool useHd) { useHd_ = useHd; }

    // Presents the sheet from the owner: "Download HD (<resolution>)", "Get HD (<resolution>)",
    // "Share", "Cancel". On the pad it points at the owner's first toolbar item.
    void show();
    // The sheet while it is shown (it holds the menu, not the other way round).
    std::shared_ptr<UIAlertController> sheet() const { return sheet_.lock(); }

    void downloadHdToPhotoalbum();
    void requestHdImage();
    void share();
    // The picture on the device (the high-resolution one when shown and present) into the album.
    void saveImageToPhotoAlbum();
    // Saves the file, then removes it when `removeOriginal`, in every outcome.
    void savetoPhotoAlbumImageAtPath(const std::string& path, bool removeOriginal);
    void completeMessage(bool error, const std::string& errorText);

private:
    Value::Dictionary imageData_;
    GalleryContext context_;
    std::weak_ptr<UIViewController> owner_;
    bool useHd_ = false;
    std::weak_ptr<UIAlertController> sheet_;
};
