// Collection cells: a content view, background views, selection and highlight, and reuse.
#pragma once

#include "platform/ui/UIView.h"

#include <memory>
#include <string>

class UICollectionViewCell : public UIView {
public:
    UICollectionViewCell() = default;
    explicit UICollectionViewCell(const CGRect& frame) : UIView(frame) {}

    // Made on first use.
    std::shared_ptr<UIView> contentView();
    std::shared_ptr<UIView> backgroundView() const { return backgroundView_; }
    void setBackgroundView(std::shared_ptr<UIView> view);
    std::shared_ptr<UIView> selectedBackgroundView() const { return selectedBackgroundView_; }
    void setSelectedBackgroundView(std::shared_ptr<UIView> view);
    bool isSelected() const { return selected_; }
    virtual void setSelected(bool selected);
    bool isHighlighted() const { return highlighted_; }
    virtual void setHighlighted(bool highlighted);
    const std::string& reuseIdentifier() const { return reuseIdentifier_; }
    void setReuseIdentifier(const std::string& identifier) { reuseIdentifier_ = identifier; }
    // Called before the cell is handed out again.
    virtual void prepareForReuse();
    void layoutSubviews() override;

    // A finger lifted on the cell chooses it through its collection view; a touch a recogniser
    // took over chooses nothing.
    void touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesCancelled(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;

private:
    void showSelectionBackground();

    std::shared_ptr<UIView> contentView_;
    std::shared_ptr<UIView> backgroundView_;
    std::shared_ptr<UIView> selectedBackgroundView_;
    bool selected_ = false;
    bool highlighted_ = false;
    bool touched_ = false;
    std::string reuseIdentifier_;
};
