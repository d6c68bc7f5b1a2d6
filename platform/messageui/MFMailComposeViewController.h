// The mail composer: a sheet with the recipients, the subject and the body a caller filled in,
// and "Cancel" and "Send" in its bar. Nothing leaves the device: a send is reported to the
// delegate as sent. The composer never dismisses itself; its delegate does. The host says
// whether the device has a mail account and may end a composer with any result.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "platform/ui/UINavigationController.h"

#include <memory>
#include <string>
#include <vector>

class MFMailComposeViewController;
class UIBarButtonItem;
class UILabel;
class UITextView;
class WKWebView;

enum class MFMailComposeResult : int { Cancelled = 0, Saved = 1, Sent = 2, Failed = 3 };

class MFMailComposeViewControllerDelegate {
public:
    virtual ~MFMailComposeViewControllerDelegate() = default;
    virtual void mailComposeControllerDidFinishWithResult(const std::shared_ptr<MFMailComposeViewController>&,
                                                          MFMailComposeResult, const NSErrorPtr&) {}
};

class MFMailComposeViewController : public UINavigationController {
public:
    struct Attachment {
        NSData data;
        std::string mimeType;
        std::string fileName;
    };

    // Whether the device can send mail (a mail account is set up).
    static bool canSendMail();
    // The host's side: with no account (false), canSendMail answers false. True at start.
    static void setCanSendMail(bool can);

    static std::shared_ptr<MFMailComposeViewController> make();
    MFMailComposeViewController();

    // Held weakly.
    std::shared_ptr<MFMailComposeViewControllerDelegate> mailComposeDelegate() const { return delegate_.lock(); }
    void setMailComposeDelegate(const std::shared_ptr<MFMailComposeViewControllerDelegate>& delegate) {
        delegate_ = delegate;
    }

    void setSubject(const std::string& subject);
    const std::string& subject() const { return subject_; }
    void setToRecipients(const std::vector<std::string>& recipients);
    const std::vector<std::string>& toRecipients() const { return to_; }
    void setMessageBody(const std::string& body, bool isHTML);
    const std::string& messageBody() const { return body_; }
    bool isBodyHTML() const { return html_; }
    void addAttachmentData(const NSData& data, const std::string& mimeType, const std::string& fileName);
    const std::vector<Attachment>& attachments() const { return attachments_; }

    // The sheet's bar items.
    const std::shared_ptr<UIBarButtonItem>& cancelButton() const { return cancel_; }
    const std::shared_ptr<UIBarButtonItem>& sendButton() const { return send_; }
    // The sheet's fields: "To: ...", "Subject: ...", where the person writes (at the start of
    // the body, where a composer puts the caret) and the body the caller gave as its page.
    const std::shared_ptr<UILabel>& toLabel() const { return toLabel_; }
    const std::shared_ptr<UILabel>& subjectLabel() const { return subjectLabel_; }
    const std::shared_ptr<UITextView>& writingView() const { return writingView_; }
    const std::shared_ptr<WKWebView>& bodyView() const { return bodyView_; }
    // The message as it would go: what the person wrote, then the caller's body (in the body's
    // own form, HTML or plain text).
    std::string composedBody() const;

    // Once the sheet is up, typing goes to the writing, as the caret waits there; it stops
    // when the sheet goes.
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

    // Tells the delegate the result once; later calls (a second tap) do nothing.
    void finishWithResult(MFMailComposeResult result, const NSErrorPtr& error = nullptr);
    bool isFinished() const { return finished_; }

private:
    void refresh();

    std::weak_ptr<MFMailComposeViewControllerDelegate> delegate_;
    std::string subject_;
    std::vector<std::string> to_;
    std::string body_;
    bool html_ = false;
    std::vector<Attachment> attachments_;
    bool finished_ = false;
    std::shared_ptr<UIViewController> sheet_;
    std::shared_ptr<UIBarButtonItem> cancel_;
    std::shared_ptr<UIBarButtonItem> send_;
    std::shared_ptr<UILabel> toLabel_;
    std::shared_ptr<UILabel> subjectLabel_;
    std::shared_ptr<UITextView> writingView_;
    std::shared_ptr<WKWebView> bodyView_;
};
