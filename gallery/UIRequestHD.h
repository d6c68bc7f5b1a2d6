// The form that asks the content server to send a picture's high-resolution file to an
// e-mail address: one address field, "Cancel" and "Request". The last address used is kept.
#pragma once

#include "content/HTTPrequest.h"
#include "gallery/GalleryContext.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UIViewController.h"

#include <memory>
#include <optional>
#include <string>

class UIRequestHD : public UIViewController, public HTTPrequestDelegate, public UITextFieldDelegate {
public:
    static std::shared_ptr<UIRequestHD> initWithImageData(Value::Dictionary row, GalleryContext context);
    UIRequestHD(Value::Dictionary row, GalleryContext context);

    const Value::Dictionary& imageData() const { return imageData_; }
    void setImageData(Value::Dictionary row) { imageData_ = std::move(row); }
    const std::shared_ptr<UITextField>& emailField() const { return emailField_; }
    // The request while it runs.
    const std::shared_ptr<HTTPrequest>& request() const { return request_; }

    // A plausible address: one "@" with text on both sides, and no space or control character.
    static bool isPlausibleAddress(const std::string& address);
    // The request address for `address`, the picture and its show name ("author - name"), every
    // value percent-encoded; none when the configuration has no request format.
    std::optional<std::string> requestURL(const std::string& address) const;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

    void doneClick();
    void cancelClick();
    bool textFieldShouldReturn(const std::shared_ptr<UITextField>& field) override;
    void httpRequestError(const std::shared_ptr<HTTPrequest>& request, const NSErrorPtr& error) override;
    void httpRequestDataLoaded(const std::shared_ptr<HTTPrequest>& request, const NSData& body) override;

    // The user default holding the last address used.
    static constexpr const char* kRequestEmailKey = "request_email";

private:
    GalleryContext context_;
    Value::Dictionary imageData_;
    std::shared_ptr<UITextField> emailField_;
    std::shared_ptr<HTTPrequest> request_;
};
