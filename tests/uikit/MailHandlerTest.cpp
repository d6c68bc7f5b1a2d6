// Mail composition: the composer filled in order and presented, the handler alive on its own while the composer is up and gone after any result, and the error
// alert without a mail account.
#include "uikit/MailHandler.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIBarButtonItem.h"
#include "tests/fixtures/KeyWindowTest.h"
#include "uikit/OECoreStrings.h"

#include <gtest/gtest.h>

namespace {

class MailHandlerTest : public KeyWindowTest {
protected:
    void TearDown() override {
        MFMailComposeViewController::setCanSendMail(true);
        KeyWindowTest::TearDown();
    }
    static void settle() {
        Clock::advance(1);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    std::shared_ptr<MFMailComposeViewController> composer() const {
        return std::dynamic_pointer_cast<MFMailComposeViewController>(root->presentedViewController());
    }
};

}  // namespace

TEST_F(MailHandlerTest, EveryResultDismissesTheComposerAndLetsTheHandlerGo) {
    for (auto result : {MFMailComposeResult::Cancelled, MFMailComposeResult::Saved, MFMailComposeResult::Sent,
                        MFMailComposeResult::Failed}) {
        SCOPED_TRACE(static_cast<int>(result));
        std::weak_ptr<MailHandler> weak;
        int presented = 0;
        {
            auto handler = MailHandler::initWithSubject("Ostrel Gallery (version 3.2.0(320))", {"support@example.invalid"});
            weak = handler;
            handler->presentFromController(root, [&] { ++presented; });
            EXPECT_EQ(handler->context(), handler);
        }
        // The caller let go: the handler keeps itself while the composer is up.
        ASSERT_FALSE(weak.expired());
        settle();
        EXPECT_EQ(presented, 1);
        auto shown = composer();
        ASSERT_TRUE(shown);
        EXPECT_EQ(weak.lock()->composer(), shown);
        EXPECT_EQ(shown->mailComposeDelegate(), weak.lock());

        shown->finishWithResult(result, result == MFMailComposeResult::Failed
                                            ? NSError::errorWithDomain("MFMailComposeErrorDomain", 1, {})
                                            : nullptr);
        EXPECT_TRUE(weak.expired()) << "the result releases the handler";
        settle();
        EXPECT_EQ(root->presentedViewController(), nullptr) << "and the composer is gone";
    }
}

TEST_F(MailHandlerTest, TheComposerHoldsTheSubjectTheRecipientsAndTheAttachmentsInOrder) {
    auto png = MailAttachment::initWithData(NSData{1, 2, 3}, "p.png", "image/png");
    auto text = MailAttachment::initWithData(NSData{'h', 'i'}, "note.txt", "text/plain");
    auto handler = MailHandler::initWithSubject("Subject", {"a@example.invalid", "b@example.invalid"}, {png, text});
    handler->presentFromController(root, nullptr);
    settle();
    auto shown = composer();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->subject(), "Subject");
    EXPECT_EQ(shown->toRecipients(), (std::vector<std::string>{"a@example.invalid", "b@example.invalid"}));
    ASSERT_EQ(shown->attachments().size(), 2u);
    EXPECT_EQ(shown->attachments()[0].fileName, "p.png");
    EXPECT_EQ(shown->attachments()[0].mimeType, "image/png");
    EXPECT_EQ(shown->attachments()[0].data, (NSData{1, 2, 3}));
    EXPECT_EQ(shown->attachments()[1].fileName, "note.txt");
    shown->cancelButton()->simulateTap();
    settle();

    // No attachments: subject and recipients only, through the class operation.
    MailHandler::showMailComposerFromController(root, "Support", {"support@example.invalid"}, nullptr);
    settle();
    ASSERT_TRUE(composer());
    EXPECT_TRUE(composer()->attachments().empty());
    EXPECT_EQ(composer()->subject(), "Support");
    composer()->sendButton()->simulateTap();
    settle();
    EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(MailHandlerTest, WithoutAMailAccountOnlyTheErrorAlertShows) {
    MFMailComposeViewController::setCanSendMail(false);
    std::weak_ptr<MailHandler> weak;
    int presented = 0;
    {
        auto handler = MailHandler::initWithSubject("S", {"a@example.invalid"});
        weak = handler;
        handler->presentFromController(root, [&] { ++presented; });
        EXPECT_FALSE(handler->context());
    }
    EXPECT_TRUE(weak.expired()) << "nothing keeps a handler without a composer";
    settle();
    EXPECT_EQ(presented, 0);
    auto alert = std::dynamic_pointer_cast<UIAlertController>(root->presentedViewController());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), OECoreString("Error"));
    EXPECT_EQ(alert->message(), OECoreString("Cannot send email"));
    ASSERT_EQ(alert->actions().size(), 1u);
    EXPECT_EQ(alert->actions()[0]->title(), OECoreString("Ok"));
    alert->tapActionAtIndex(0);
    settle();
}
