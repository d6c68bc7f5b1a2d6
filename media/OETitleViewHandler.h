// Binds a title view: the title and, when the view has one, the subtitle.
#pragma once

#include "media/OETitleView.h"
#include "platform/foundation/NSObject.h"

#include <memory>
#include <string>

class OETitleViewHandler : public NSObject {
public:
    static std::shared_ptr<OETitleViewHandler> make() { return std::make_shared<OETitleViewHandler>(); }
    // Keeps the view and clears both texts.
    void setTitleView(std::shared_ptr<OETitleView> view);
    const std::shared_ptr<OETitleView>& titleView() const { return view_; }
    void updateTitle(const std::string& text);
    void updateSubtitle(const std::string& text);

private:
    std::shared_ptr<OETitleView> view_;
};
