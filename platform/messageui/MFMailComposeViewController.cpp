// The mail composer's sheet and its result.
#include "platform/messageui/MFMailComposeViewController.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UITextView.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIScreen.h"
#include "platform/web/WKWebView.h"

#include <atomic>

namespace {

std::atomic<bool> mailAccount{true};

constexpr CGFloat kTop = 64;
constexpr CGFloat kLineHeight = 44;
constexpr CGFloat kMargin = 15;
// Room for a few lines of the person's own words above the caller's body.
constexpr CGFloat kWritingHeight = 88;

std::string escapedForPage(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '\n': out += "<br>"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

bool MFMailComposeViewController::canSendMail() { return mailAccount.load(); }

void MFMailComposeViewController::setCanSendMail(bool can) { mailAccount.store(can); }

MFMailComposeViewController::MFMailComposeViewController() = default;

std::shared_ptr<MFMailComposeViewController> MFMailComposeViewController::make() {
    auto composer = std::make_shared<MFMailComposeViewController>();
    std::weak_ptr<MFMailComposeViewController> weak = composer;
    composer->cancel_ = UIBarButtonItem::initWithTitle("Cancel", UIBarButtonItemStylePlain, composer,
                                                       [weak](const std::shared_ptr<NSObject>&) {
                                                           if (auto me = weak.lock()) me->finishWithResult(MFMailComposeResult::Cancelled);
                                                       });
    composer->send_ = UIBarButtonItem::initWithTitle("Send", UIBarButtonItemStyleDone, composer,
                                                     [weak](const std::shared_ptr<NSObject>&) {
                                                         if (auto me = weak.lock()) me->finishWithResult(MFMailComposeResult::Sent);
                                                     });

    const CGRect screen = UIScreen::mainScreen()->bounds();
    auto root = UIView::initWithFrame(screen);
    root->setBackgroundColor(UIColor::whiteColor());
    root->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    const CGFloat width = screen.size.width - 2 * kMargin;
    auto label = [&](CGFloat y) {
        auto made = UILabel::initWithFrame(CGRectMake(kMargin, y, width, kLineHeight));
        made->setFont(UIFont::systemFontOfSize(15));
        made->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
        root->addSubview(made);
        return made;
    };
    composer->toLabel_ = label(kTop);
    composer->subjectLabel_ = label(kTop + kLineHeight);
    const CGFloat writingTop = kTop + 2 * kLineHeight;
    composer->writingView_ = UITextView::initWithFrame(CGRectMake(kMargin, writingTop, width, kWritingHeight));
    composer->writingView_->setFont(UIFont::systemFontOfSize(15));
    composer->writingView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    root->addSubview(composer->writingView_);
    const CGFloat bodyTop = writingTop + kWritingHeight;
    composer->bodyView_ = WKWebView::initWithFrame(CGRectMake(kMargin, bodyTop, width, screen.size.height - bodyTop));
    composer->bodyView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    root->addSubview(composer->bodyView_);

    composer->sheet_ = UIViewController::make();
    composer->sheet_->setView(root);
    composer->sheet_->navigationItem()->setLeftBarButtonItem(composer->cancel_);
    composer->sheet_->navigationItem()->setRightBarButtonItem(composer->send_);
    composer->setViewControllers({composer->sheet_});
    composer->refresh();
    return composer;
}

void MFMailComposeViewController::viewDidAppear(bool animated) {
    UINavigationController::viewDidAppear(animated);
    if (!finished_) (void)writingView_->becomeFirstResponder();
}

void MFMailComposeViewController::viewWillDisappear(bool animated) {
    (void)writingView_->resignFirstResponder();
    UINavigationController::viewWillDisappear(animated);
}

void MFMailComposeViewController::setSubject(const std::string& subject) {
    subject_ = subject;
    refresh();
}

void MFMailComposeViewController::setToRecipients(const std::vector<std::string>& recipients) {
    to_ = recipients;
    refresh();
}

void MFMailComposeViewController::setMessageBody(const std::string& body, bool isHTML) {
    body_ = body;
    html_ = isHTML;
    refresh();
}

void MFMailComposeViewController::addAttachmentData(const NSData& data, const std::string& mimeType,
                                                    const std::string& fileName) {
    attachments_.push_back({data, mimeType, fileName});
}

void MFMailComposeViewController::refresh() {
    if (!sheet_) return;
    std::string to;
    for (const auto& address : to_) to += (to.empty() ? "" : ", ") + address;
    toLabel_->setText("To: " + to);
    subjectLabel_->setText("Subject: " + subject_);
    sheet_->navigationItem()->setTitle(subject_.empty() ? "New Message" : subject_);
    bodyView_->loadHTMLString(html_ ? body_ : "<html><body>" + escapedForPage(body_) + "</body></html>", "");
}

std::string MFMailComposeViewController::composedBody() const {
    const std::string written = writingView_ ? writingView_->text() : std::string();
    if (written.empty()) return body_;
    if (!html_) return body_.empty() ? written : written + "\n\n" + body_;
    return "<p>" + escapedForPage(written) + "</p>" + body_;
}

void MFMailComposeViewController::finishWithResult(MFMailComposeResult result, const NSErrorPtr& error) {
    if (finished_) return;
    finished_ = true;
    auto self = this->self<MFMailComposeViewController>();
    if (auto delegate = delegate_.lock()) delegate->mailComposeControllerDidFinishWithResult(self, result, error);
}
