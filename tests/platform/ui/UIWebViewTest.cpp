// The web view keeps the page it was given and reads its body's text as a person would see it.
#include "platform/ui/UIWebView.h"

#include <gtest/gtest.h>

TEST(UIWebViewTest, TheTextLeavesOutTheHeadScriptsAndTagsAndDecodesReferences) {
    auto web = UIWebView::make();
    EXPECT_EQ(web->text(), "");
    web->loadHTMLString("<html><head><title>Hidden</title><style>p{color:red}</style></head><body>"
                        "<script type='x'>var a = '<p>';</script><P>Caf&#233; &lt;Rose&gt;</P>"
                        "<div align=\"left\">  line &#x41;<br/>next&nbsp;one &bogus; &amp</div></body></html>",
                        "file:///base/");
    EXPECT_EQ(web->baseURL(), "file:///base/");
    EXPECT_EQ(web->loadCount(), 1);
    EXPECT_EQ(web->text(), "Caf\u00e9 <Rose>\nline A\nnext one &bogus; &amp");
    web->loadHTMLString("plain", "");
    EXPECT_EQ(web->html(), "plain");
    EXPECT_EQ(web->text(), "plain");
    EXPECT_EQ(web->loadCount(), 2);
}
