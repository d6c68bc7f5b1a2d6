// The mail handler's composer: made, filled, presented, and dismissed on its result.
#include "uikit/MailHandler.h"

#include "platform/ui/UIDevice.h"
#include "platform/ui/UIViewController.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

void MailHandler::showMailComposerFromController(const std::shared_ptr<UIViewController>& controller,
                                                 const std::string& subject, const std::vector<std::string>& emails,
                                                 Completion presentationCompletion) {
    initWithSubject(subject, emails)->presentFromController(controller, std::move(presentationCompletion));
}

std::shared_ptr<MailHandler> MailHandler::initWithSubject(std::string subject, std::vector<std::string> emails,
                                                          std::vector<std::shared_ptr<MailAttachment>> attachments) {
    auto handler = std::make_shared<MailHandler>();
    handler->subject_ = std::move(subject);
    handler->emails_ = std::move(emails);
    handler->attachments_ = std::move(attachments);
    return handler;
}

void MailHandler::presentFromController(const std::shared_ptr<UIViewController>& controller,
                                        Completion presentationCompletion) {
    if (!controller) return;
    if (!MFMailComposeViewController::canSendMail()) {
        showErrorAlertWithMessage(controller, OECoreString("Cannot send email"));
        return;
    }
    auto composer = MFMailComposeViewController::make();
    composer->setMailComposeDelegate(self<MailHandler>());
    composer->setSubject(subject_);
    composer->setToRecipients(emails_);
    for (const auto& attachment : attachments_)
        if (attachment) composer->addAttachmentData(attachment->data(), attachment->mimeType(), attachment->fileName());
    auto device = UIDevice::currentDevice();
    if (device->canReportUserInterfaceIdiom() && device->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad)
        composer->setModalPresentationStyle(UIModalPresentationStyle::FullScreen);
    composer_ = composer;
    context_ = shared_from_this();
    controller->presentViewController(composer, true, [presentationCompletion = std::move(presentationCompletion)] {
        if (presentationCompletion) presentationCompletion();
    });
}

void MailHandler::mailComposeControllerDidFinishWithResult(const std::shared_ptr<MFMailComposeViewController>& controller,
                                                           MFMailComposeResult, const NSErrorPtr&) {
    if (controller) controller->dismissViewControllerAnimated(true, nullptr);
    composer_.reset();
    // The last reference may be this one: nothing of the handler is touched after it.
    auto keep = std::move(context_);
}
