// Composes a mail with the platform's composer (subject, recipients, attachments), presents it
// over a controller and dismisses it when the user is done. The handler keeps itself alive
// while its composer is up, so a caller can fire and forget.
#pragma once

#include "platform/messageui/MFMailComposeViewController.h"
#include "uikit/MailAttachment.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class UIViewController;

class MailHandler : public NSObject, public MFMailComposeViewControllerDelegate {
public:
    using Completion = std::function<void()>;

    // A new handler presenting its composer over `controller`.
    static void showMailComposerFromController(const std::shared_ptr<UIViewController>& controller,
                                               const std::string& subject, const std::vector<std::string>& emails,
                                               Completion presentationCompletion);
    static std::shared_ptr<MailHandler> initWithSubject(std::string subject, std::vector<std::string> emails,
                                                        std::vector<std::shared_ptr<MailAttachment>> attachments = {});

    const std::string& subject() const { return subject_; }
    void setSubject(std::string subject) { subject_ = std::move(subject); }
    const std::vector<std::string>& emails() const { return emails_; }
    void setEmails(std::vector<std::string> emails) { emails_ = std::move(emails); }
    const std::vector<std::shared_ptr<MailAttachment>>& attachments() const { return attachments_; }
    // Itself while its composer is shown; empty before and after.
    const std::shared_ptr<NSObject>& context() const { return context_; }
    // The composer it presented; empty before and after.
    std::shared_ptr<MFMailComposeViewController> composer() const { return composer_.lock(); }

    // Without a mail account: the "Cannot send email" error alert over `controller` and nothing
    // else. Otherwise the composer with the subject, the recipients and the attachments in
    // order, full screen on a pad, presented animated; `presentationCompletion`
    // runs once it has appeared.
    void presentFromController(const std::shared_ptr<UIViewController>& controller, Completion presentationCompletion);

    // Whatever the result: the composer goes, and so does the handler's hold on itself.
    void mailComposeControllerDidFinishWithResult(const std::shared_ptr<MFMailComposeViewController>& controller,
                                                  MFMailComposeResult result, const NSErrorPtr& error) override;

private:
    std::string subject_;
    std::vector<std::string> emails_;
    std::vector<std::shared_ptr<MailAttachment>> attachments_;
    std::shared_ptr<NSObject> context_;
    std::weak_ptr<MFMailComposeViewController> composer_;
};
