// The mail composer: its sheet shows what the caller filled in, its two bar buttons tell the
// delegate once (the delegate dismisses it), the host can end it with another result, and
// whether mail can be sent is the host's to say. While the sheet is up the caret waits where the
// person writes.
#include "platform/messageui/MFMailComposeViewController.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UITextView.h"
#include "platform/web/WKWebView.h"
#include "tests/fixtures/KeyWindowTest.h"

#include <gtest/gtest.h>

namespace {

class Recorder : public NSObject, public MFMailComposeViewControllerDelegate {
public:
    std::vector<MFMailComposeResult> results;
    NSErrorPtr error;
    bool dismiss = true;
    void mailComposeControllerDidFinishWithResult(const std::shared_ptr<MFMailComposeViewController>& composer,
                                                  MFMailComposeResult result, const NSErrorPtr& e) override {
        results.push_back(result);
        error = e;
        if (dismiss) composer->dismissViewControllerAnimated(true, nullptr);
    }
};

class MailComposerTest : public KeyWindowTest {
protected:
    void TearDown() override {
        MFMailComposeViewController::setCanSendMail(true);
        KeyWindowTest::TearDown();
    }
};

}  // namespace

TEST_F(MailComposerTest, TheSheetShowsTheMailAndItsButtonsTellTheDelegateOnce) {
    auto composer = MFMailComposeViewController::make();
    auto recorder = std::make_shared<Recorder>();
    composer->setMailComposeDelegate(recorder);
    composer->setToRecipients({"a@example.org", "b@example.org"});
    composer->setSubject("Starry Night");
    composer->setMessageBody("<p>Painted in <b>1889</b></p>", true);
    composer->addAttachmentData(NSData{1, 2, 3}, "image/png", "p.png");
    root->presentViewController(composer, true, nullptr);
    Clock::advance(1);
    NSRunLoop::mainRunLoop()->runUntilIdle();

    EXPECT_EQ(composer->toLabel()->text(), "To: a@example.org, b@example.org");
    EXPECT_EQ(composer->subjectLabel()->text(), "Subject: Starry Night");
    EXPECT_EQ(composer->bodyView()->html(), "<p>Painted in <b>1889</b></p>");
    EXPECT_EQ(composer->bodyView()->text(), "Painted in 1889");
    EXPECT_EQ(composer->topViewController()->navigationItem()->title(), "Starry Night");
    ASSERT_EQ(composer->attachments().size(), 1u);
    EXPECT_EQ(composer->attachments()[0].fileName, "p.png");
    EXPECT_EQ(composer->topViewController()->navigationItem()->leftBarButtonItem(), composer->cancelButton());
    EXPECT_EQ(composer->topViewController()->navigationItem()->rightBarButtonItem(), composer->sendButton());

    composer->sendButton()->simulateTap();
    composer->cancelButton()->simulateTap();  // too late: the mail was sent
    Clock::advance(1);
    EXPECT_EQ(recorder->results, (std::vector<MFMailComposeResult>{MFMailComposeResult::Sent}));
    EXPECT_TRUE(composer->isFinished());
    EXPECT_FALSE(root->presentedViewController());
}

TEST_F(MailComposerTest, APlainBodyIsShownAsTextAndTheHostChoosesOtherResults) {
    auto composer = MFMailComposeViewController::make();
    composer->setMessageBody("1 < 2 & 3\nnext", false);
    EXPECT_EQ(composer->bodyView()->text(), "1 < 2 & 3\nnext");
    EXPECT_EQ(composer->topViewController()->navigationItem()->title(), "New Message");

    // Without a delegate the composer stays; a failure reaches a delegate with its error.
    auto recorder = std::make_shared<Recorder>();
    recorder->dismiss = false;
    composer->setMailComposeDelegate(recorder);
    composer->finishWithResult(MFMailComposeResult::Failed, NSError::errorWithDomain("MFMailComposeErrorDomain", 1));
    ASSERT_EQ(recorder->results, (std::vector<MFMailComposeResult>{MFMailComposeResult::Failed}));
    ASSERT_TRUE(recorder->error);
    EXPECT_EQ(recorder->error->code(), 1);

    auto cancelled = MFMailComposeViewController::make();
    cancelled->setMailComposeDelegate(recorder);
    cancelled->cancelButton()->simulateTap();
    EXPECT_EQ(recorder->results.back(), MFMailComposeResult::Cancelled);

    EXPECT_TRUE(MFMailComposeViewController::canSendMail());
    MFMailComposeViewController::setCanSendMail(false);
    EXPECT_FALSE(MFMailComposeViewController::canSendMail());
}

TEST_F(MailComposerTest, TheCaretWaitsInTheWritingOnceTheSheetIsUpAndGoesWithIt) {
    auto composer = MFMailComposeViewController::make();
    auto recorder = std::make_shared<Recorder>();
    composer->setMailComposeDelegate(recorder);
    root->presentViewController(composer, true, nullptr);
    Clock::advance(1);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(composer->writingView()->isFirstResponder());
    composer->cancelButton()->simulateTap();
    Clock::advance(1);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_FALSE(root->presentedViewController());
    EXPECT_EQ(UIResponder::currentFirstResponder(), nullptr);
}

TEST_F(MailComposerTest, AFingerOnTheBodyWritesAboveTheCallersBodyAndTheMessageHoldsBoth) {
    auto composer = MFMailComposeViewController::make();
    composer->setMessageBody("<p>Light from the <b>left</b>.</p>", true);
    root->presentViewController(composer, false, nullptr);
    Clock::advance(1);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    window->layoutIfNeeded();

    auto writing = composer->writingView();
    ASSERT_TRUE(writing && writing->window());
    EXPECT_EQ(composer->composedBody(), "<p>Light from the <b>left</b>.</p>");
    const CGRect at = writing->convertRectToView(writing->bounds(), window);
    window->tap({CGRectGetMidX(at), CGRectGetMidY(at)});
    ASSERT_TRUE(writing->isFirstResponder());
    ASSERT_TRUE(writing->insertText("Look at this <one>"));
    EXPECT_EQ(composer->composedBody(), "<p>Look at this &lt;one&gt;</p><p>Light from the <b>left</b>.</p>");
    // The caller's body stays what the caller gave.
    EXPECT_EQ(composer->messageBody(), "<p>Light from the <b>left</b>.</p>");

    composer->setMessageBody("Plain words", false);
    EXPECT_EQ(composer->composedBody(), "Look at this <one>\n\nPlain words");
    (void)writing->resignFirstResponder();
}
