// The share sheet: the items a caller hands over (pictures and texts), shown with the
// activities that could take them. No other application is on this device, so the sheet
// offers none and closes with "Close".
#pragma once

#include "platform/ui/UIViewController.h"

#include <memory>
#include <string>
#include <variant>
#include <vector>

class UIBarButtonItem;
class UIImage;

// One item to share: a picture or a text.
using UIActivityItem = std::variant<std::shared_ptr<UIImage>, std::string>;

class UIActivityViewController : public UIViewController {
public:
    // Extra activities of the application are not supported: the list must be empty.
    static std::shared_ptr<UIActivityViewController> initWithActivityItems(std::vector<UIActivityItem> items,
                                                                           const std::vector<std::string>& applicationActivities = {});
    explicit UIActivityViewController(std::vector<UIActivityItem> items);

    const std::vector<UIActivityItem>& activityItems() const { return items_; }
    const std::shared_ptr<UIBarButtonItem>& closeButton() const { return close_; }

    void loadView() override;
    // Closes the sheet (dismissed, animated).
    void close();

private:
    std::vector<UIActivityItem> items_;
    std::shared_ptr<UIBarButtonItem> close_;
};
