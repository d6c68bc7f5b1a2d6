// Loads, the document's views, links and scripts of the web view.
#include "platform/web/WKWebView.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSMutableURLRequest.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLSession.h"
#include "platform/net/NSURLSessionConfiguration.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIScrollView.h"
#include "platform/web/HTMLDocument.h"
#include "platform/web/WKError.h"
#include "platform/web/WKScriptEffects.h"
#include "platform/web/WKWebLinkView.h"
#include "platform/web/WKWebTextView.h"
#include "platform/web/WebURL.h"

#include <algorithm>
#include <cmath>
#include <set>

WKWebView::WKWebView(const CGRect& frame) : UIView(frame) {}

WKWebView::~WKWebView() {
    if (loading_ && loading_->task) loading_->task->cancel();
}

std::shared_ptr<WKWebView> WKWebView::initWithFrame(const CGRect& frame) {
    auto view = std::make_shared<WKWebView>(frame);
    view->setBackgroundColor(UIColor::whiteColor());
    view->scrollView_ = std::make_shared<UIScrollView>(CGRectMake(0, 0, frame.size.width, frame.size.height));
    view->scrollView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    view->addSubview(view->scrollView_);
    view->document_ = HTMLDocument::parse("");
    return view;
}

std::shared_ptr<NSURLSession> WKWebView::session() {
    if (!session_)
        session_ = NSURLSession::sessionWithConfiguration(NSURLSessionConfiguration::defaultSessionConfiguration(),
                                                          DispatchQueue::mainQueue());
    return session_;
}

std::string WKWebView::title() const { return document_ ? document_->title() : ""; }

std::string WKWebView::text() const { return document_ ? document_->text() : ""; }

std::string WKWebView::description() const {
    return "<WKWebView " + (url_.empty() ? std::string("(nothing loaded)") : url_) + (isLoading() ? " (loading)>" : ">");
}

// --- Loads ---------------------------------------------------------------------------------------

void WKWebView::cancelLoad() {
    auto load = std::move(loading_);
    if (!load || load->ended) return;
    load->ended = true;
    if (load->task) load->task->cancel();
    // A load whose start was not told yet is dropped without a word.
    if (!load->started) return;
    const NSErrorPtr cancelled = makeURLError(NSURLErrorCancelled, load->navigation->url());
    DispatchQueue::mainQueue()->async([weak = weakSelf<WKWebView>(), load, cancelled] {
        auto self = weak.lock();
        if (!self) return;
        if (auto delegate = self->navigationDelegate())
            delegate->didFailProvisionalNavigation(*self, load->navigation, cancelled);
    });
}

std::shared_ptr<WKNavigation> WKWebView::startNavigation(const std::string& url) {
    cancelLoad();
    auto load = std::make_shared<Load>();
    load->navigation = std::make_shared<WKNavigation>(++navigations_, url);
    loading_ = load;
    url_ = url;
    DispatchQueue::mainQueue()->async([weak = weakSelf<WKWebView>(), load] {
        auto self = weak.lock();
        if (!self || load->ended) return;
        load->started = true;
        if (auto delegate = self->navigationDelegate()) delegate->didStartProvisionalNavigation(*self, load->navigation);
    });
    return load->navigation;
}

void WKWebView::finish(const std::shared_ptr<Load>& load) {
    DispatchQueue::mainQueue()->async([weak = weakSelf<WKWebView>(), load] {
        auto self = weak.lock();
        // Cut short in the meantime: the cancellation was told instead.
        if (!self || load->ended) return;
        load->ended = true;
        if (self->loading_ == load) self->loading_.reset();
        if (auto delegate = self->navigationDelegate()) delegate->didFinishNavigation(*self, load->navigation);
    });
}

void WKWebView::fail(const std::shared_ptr<Load>& load, const NSErrorPtr& error, bool committed) {
    DispatchQueue::mainQueue()->async([weak = weakSelf<WKWebView>(), load, error, committed] {
        auto self = weak.lock();
        if (!self || load->ended) return;
        load->ended = true;
        if (self->loading_ == load) self->loading_.reset();
        auto delegate = self->navigationDelegate();
        if (!delegate) return;
        if (committed)
            delegate->didFailNavigation(*self, load->navigation, error);
        else
            delegate->didFailProvisionalNavigation(*self, load->navigation, error);
    });
}

void WKWebView::commit(const std::shared_ptr<Load>& load, const std::string& html) {
    html_ = html;
    ++loadCount_;
    bool tooDeep = false;
    document_ = HTMLDocument::parse(html_, &tooDeep);
    if (tooDeep) {
        // Only a part of such a page could be shown, and it may well be none of its text: none is.
        document_ = HTMLDocument::parse("");
        showDocument();
        Value::Dictionary info;
        info.set(NSLocalizedDescriptionKey, Value("The page nests its elements deeper than " +
                                                  std::to_string(HTMLDocument::kMaximumDepth) + " levels."));
        fail(load, NSError::errorWithDomain(WKErrorDomain, WKErrorUnknown, info), true);
        return;
    }
    showDocument();
    finish(load);
}

std::shared_ptr<WKNavigation> WKWebView::loadHTMLString(const std::string& html, const std::string& baseURL) {
    auto navigation = startNavigation(baseURL.empty() ? "about:blank" : baseURL);
    baseURL_ = baseURL;
    fromString_ = true;
    commit(loading_, html);
    return navigation;
}

std::shared_ptr<WKNavigation> WKWebView::loadRequest(const std::shared_ptr<NSURLRequest>& request) {
    if (!request || !request->URL()) return nullptr;
    // The request as asked, bounded in length.
    auto bounded = request->mutableCopy();
    if (bounded->maximumBodyLength() == 0 || bounded->maximumBodyLength() > kMaximumPageLength)
        bounded->setMaximumBodyLength(kMaximumPageLength);
    auto navigation = startNavigation(request->URL()->absoluteString());
    fromString_ = false;
    baseURL_.clear();
    auto load = loading_;
    const std::string scheme = request->URL()->scheme();
    if (scheme == "http" || scheme == "https") {
        load->task = session()->dataTaskWithRequest(
            bounded, [weak = weakSelf<WKWebView>(), load](const NSData& data,
                                                          const std::shared_ptr<NSHTTPURLResponse>& response,
                                                          const NSErrorPtr& error) {
                auto self = weak.lock();
                if (!self || load->ended || self->loading_ != load) return;
                if (error) {
                    self->fail(load, error);
                    return;
                }
                // A redirect that came as the answer had nowhere to go (no Location); its body
                // only says so to clients that do not follow.
                if (response && response->statusCode() >= 300 && response->statusCode() <= 399) {
                    self->fail(load, makeURLError(NSURLErrorRedirectToNonExistentLocation, load->navigation->url(),
                                                  "The answer is a redirect (status " +
                                                      std::to_string(response->statusCode()) + ") with no address."));
                    return;
                }
                // Any other status shows its page, as browsers show a server's error pages.
                self->commit(load, std::string(data.begin(), data.end()));
            });
        load->task->resume();
        return navigation;
    }
    if (scheme == "file") {
        const auto bytes = NSFileManager::defaultManager()->contentsAtPath(request->URL()->path());
        if (!bytes) fail(load, makeURLError(NSURLErrorFileDoesNotExist, request->URL()->absoluteString()));
        else if (bytes->size() > kMaximumPageLength)
            fail(load, makeURLLengthError(request->URL()->absoluteString(), kMaximumPageLength));
        else commit(load, std::string(bytes->begin(), bytes->end()));
        return navigation;
    }
    fail(load, makeURLError(NSURLErrorUnsupportedURL, request->URL()->absoluteString()));
    return navigation;
}

std::shared_ptr<WKNavigation> WKWebView::loadURL(const std::string& url) {
    if (url == "about:blank") {
        auto navigation = startNavigation(url);
        fromString_ = false;
        baseURL_.clear();
        commit(loading_, "");
        return navigation;
    }
    if (auto parsed = NSURL::URLWithString(url)) return loadRequest(NSURLRequest::requestWithURL(parsed));
    // An address no load can be made of (another scheme, a malformed one).
    auto navigation = startNavigation(url);
    fail(loading_, makeURLError(NSURLErrorUnsupportedURL, url));
    return navigation;
}

std::shared_ptr<WKNavigation> WKWebView::reload() {
    if (url_.empty()) return nullptr;
    if (fromString_) return loadHTMLString(std::string(html_), std::string(baseURL_));
    return loadURL(url_);
}

void WKWebView::stopLoading() { cancelLoad(); }

// --- Links and scripts ------------------------------------------------------------------------------

void WKWebView::activateLink(const std::string& href) {
    const std::string target = WebURL::resolve(url_, href);
    auto decide = [weak = weakSelf<WKWebView>(), target](WKNavigationActionPolicy policy) {
        auto self = weak.lock();
        if (!self || policy != WKNavigationActionPolicy::Allow) return;
        const std::string scheme = WebURL::scheme(target);
        // Within the page: nothing to load.
        if (target.find('#') != std::string::npos && WebURL::withoutFragment(target) == WebURL::withoutFragment(self->url_))
            return;
        // A script address runs nothing here.
        if (scheme == "javascript") return;
        self->loadURL(target);
    };
    auto delegate = navigationDelegate();
    if (!delegate) {
        decide(WKNavigationActionPolicy::Allow);
        return;
    }
    // The handler counts once, whatever the delegate does with it.
    auto decided = std::make_shared<bool>(false);
    delegate->decidePolicyForNavigationAction(*this, WKNavigationAction(WKNavigationType::LinkActivated, target),
                                              [decide, decided](WKNavigationActionPolicy policy) {
                                                  if (*decided) return;
                                                  *decided = true;
                                                  decide(policy);
                                              });
}

void WKWebView::evaluateJavaScript(const std::string& script, ScriptCompletion completion) {
    auto result = WKScriptEffects::evaluate(script, document_.get());
    if (result.changedDocument) showDocument();
    if (!completion) return;
    DispatchQueue::mainQueue()->async([completion = std::move(completion), result] {
        completion(result.value, result.error);
    });
}

// --- The page's views ------------------------------------------------------------------------------

void WKWebView::showDocument() {
    // A page is known by its title, as a person sees it; where it was loaded from they do not see.
    setAccessibilityLabel(*this, title());
    for (const auto& view : contentViews_) view->removeFromSuperview();
    contentViews_.clear();
    linksInText_.clear();
    auto self = this->self<WKWebView>();
    for (const auto& block : document_->textBlocks()) {
        // A block that is one link alone is shown as the link.
        const bool linkOnly = block.links.size() == 1 && block.links.front().text == block.text;
        std::shared_ptr<WKWebTextView> label;
        if (!linkOnly) {
            label = WKWebTextView::initWithBlock(block);
            scrollView_->addSubview(label);
            contentViews_.push_back(label);
        }
        for (const auto& link : block.links) {
            // Over its text where the block shows it; else on a line of its own under the block.
            if (label && link.location != std::string::npos) {
                auto button = WKWebLinkView::inText(link.text, link.href, self);
                const std::string_view text(block.text);
                const NSRange range{NSString::utf16Length(text.substr(0, link.location)),
                                    NSString::utf16Length(text.substr(link.location, link.length))};
                linksInText_.push_back({button, label, range});
                scrollView_->addSubview(button);
                contentViews_.push_back(button);
                continue;
            }
            auto button = WKWebLinkView::initWithLink(link.text, link.href, self);
            scrollView_->addSubview(button);
            contentViews_.push_back(button);
        }
    }
    laidOutWidth_ = -1;
    layoutContent();
}

void WKWebView::layoutSubviews() {
    UIView::layoutSubviews();
    if (bounds().size.width != laidOutWidth_) layoutContent();
}

void WKWebView::layoutContent() {
    const double width = bounds().size.width;
    laidOutWidth_ = width;
    const double inner = std::max(0.0, width - 2 * kMargin);
    double y = kMargin;
    std::set<const UIView*> inText;
    for (const auto& l : linksInText_) inText.insert(l.link.get());
    for (const auto& view : contentViews_) {
        if (inText.count(view.get())) continue;
        const bool link = std::dynamic_pointer_cast<WKWebLinkView>(view) != nullptr;
        const CGSize size = view->sizeThatFits(CGSizeMake(inner, 1e9));
        const double height = std::ceil(size.height);
        const double w = link ? std::min(inner, std::ceil(size.width)) : inner;
        view->setFrame(CGRectMake(kMargin, y, w, height));
        y += height + kMargin;
    }
    // A link in a block covers where the block draws its text.
    for (const auto& [link, label, range] : linksInText_) {
        const auto rects = label->rectsForRange(range);
        if (rects.empty()) {
            link->setFrame(CGRectZero);
            continue;
        }
        double left = rects[0].origin.x, top = rects[0].origin.y;
        double right = CGRectGetMaxX(rects[0]), bottom = CGRectGetMaxY(rects[0]);
        for (const CGRect& r : rects) {
            left = std::min(left, r.origin.x);
            top = std::min(top, r.origin.y);
            right = std::max(right, CGRectGetMaxX(r));
            bottom = std::max(bottom, CGRectGetMaxY(r));
        }
        const CGRect all = CGRectMake(left, top, right - left, bottom - top);
        std::vector<CGRect> fragments;
        for (const CGRect& r : rects) fragments.push_back(CGRectOffset(r, -all.origin.x, -all.origin.y));
        link->setFrame(CGRectOffset(all, label->frame().origin.x, label->frame().origin.y));
        link->setFragments(std::move(fragments));
    }
    scrollView_->setContentSize(CGSizeMake(width, y));
}

std::vector<std::shared_ptr<WKWebTextView>> WKWebView::textViews() const {
    std::vector<std::shared_ptr<WKWebTextView>> out;
    for (const auto& view : contentViews_)
        if (auto text = std::dynamic_pointer_cast<WKWebTextView>(view)) out.push_back(text);
    return out;
}

std::vector<std::shared_ptr<WKWebLinkView>> WKWebView::linkViews() const {
    std::vector<std::shared_ptr<WKWebLinkView>> out;
    for (const auto& view : contentViews_)
        if (auto link = std::dynamic_pointer_cast<WKWebLinkView>(view)) out.push_back(link);
    return out;
}
