// Table cells: the four styles with their labels and image view, accessories, content and
// background views, selection and highlight, and reuse.
#pragma once

#include "platform/ui/UIView.h"

#include <memory>
#include <string>

class UIButton;
class UIImageView;
class UILabel;

enum UITableViewCellStyle : int {
    UITableViewCellStyleDefault = 0,
    UITableViewCellStyleValue1 = 1,
    UITableViewCellStyleValue2 = 2,
    UITableViewCellStyleSubtitle = 3,
};

enum UITableViewCellSelectionStyle : int {
    UITableViewCellSelectionStyleNone = 0,
    UITableViewCellSelectionStyleBlue = 1,
    UITableViewCellSelectionStyleGray = 2,
    UITableViewCellSelectionStyleDefault = 3,
};

enum UITableViewCellAccessoryType : int {
    UITableViewCellAccessoryNone = 0,
    UITableViewCellAccessoryDisclosureIndicator = 1,
    UITableViewCellAccessoryDetailDisclosureButton = 2,
    UITableViewCellAccessoryCheckmark = 3,
    UITableViewCellAccessoryDetailButton = 4,
};

enum UITableViewCellEditingStyle : int {
    UITableViewCellEditingStyleNone = 0,
    UITableViewCellEditingStyleDelete = 1,
    UITableViewCellEditingStyleInsert = 2,
};

class UITableViewCell : public UIView {
public:
    static std::shared_ptr<UITableViewCell> initWithStyle(UITableViewCellStyle style, const std::string& reuseIdentifier);

    UITableViewCell();
    UITableViewCell(UITableViewCellStyle style, const std::string& reuseIdentifier);
    // Cells made with a frame have the default style and no reuse identifier.
    explicit UITableViewCell(const CGRect& frame);

    UITableViewCellStyle style() const { return style_; }
    const std::string& reuseIdentifier() const { return reuseIdentifier_; }

    // Made on first use, inside the content view.
    std::shared_ptr<UIView> contentView();
    std::shared_ptr<UILabel> textLabel();
    // None for the default style.
    std::shared_ptr<UILabel> detailTextLabel();
    std::shared_ptr<UIImageView> imageView();

    UITableViewCellAccessoryType accessoryType() const { return accessoryType_; }
    void setAccessoryType(UITableViewCellAccessoryType type);
    std::shared_ptr<UIView> accessoryView() const { return accessoryView_; }
    void setAccessoryView(std::shared_ptr<UIView> view);
    std::shared_ptr<UIView> backgroundView() const { return backgroundView_; }
    void setBackgroundView(std::shared_ptr<UIView> view);
    std::shared_ptr<UIView> selectedBackgroundView() const { return selectedBackgroundView_; }
    void setSelectedBackgroundView(std::shared_ptr<UIView> view);
    UITableViewCellSelectionStyle selectionStyle() const { return selectionStyle_; }
    void setSelectionStyle(UITableViewCellSelectionStyle style) { selectionStyle_ = style; }

    bool isSelected() const { return selected_; }
    void setSelected(bool selected) { setSelected(selected, false); }
    virtual void setSelected(bool selected, bool animated);
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted) { setHighlighted(highlighted, false); }
    virtual void setHighlighted(bool highlighted, bool animated);
    bool isEditing() const { return editing_; }
    virtual void setEditing(bool editing, bool animated);

    // Called by the table before the cell is handed out again; resets selection and highlight.
    virtual void prepareForReuse();

    void layoutSubviews() override;
    void willMoveToSuperview(const std::shared_ptr<UIView>& newSuperview) override;
    std::string description() const override;

    // A finger lifted on the row chooses it through its table (on a detail button's strip it
    // is the accessory's tap instead); a touch a recogniser took over chooses nothing.
    void touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesCancelled(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;

    // The width the accessory takes at the right.
    CGFloat accessoryWidth() const;

    // --- Editing controls, which the cell's table shows and answers -------------------------
    // While the table edits: the delete control at the left (a tap asks for the confirmation)
    // and the reorder control at the right (dragged onto another row, it moves this one there).
    void setEditingControls(bool deleteControl, bool reorderControl);
    // The delete confirmation button at the right, titled `title`; "" takes it away.
    void setDeleteConfirmationTitle(const std::string& title);
    // Each empty while not shown.
    std::shared_ptr<UIButton> deleteControl() const { return deleteControl_; }
    std::shared_ptr<UIView> reorderControl() const { return reorderControl_; }
    std::shared_ptr<UIButton> deleteConfirmationButton() const { return deleteConfirmation_; }

private:
    void showSelectionBackground();
    void showAccessoryGlyph(UITableViewCellAccessoryType type, const CGRect& strip);
    void attachContentView();

    UITableViewCellStyle style_ = UITableViewCellStyleDefault;
    std::string reuseIdentifier_;
    std::shared_ptr<UIView> contentView_;
    std::shared_ptr<UILabel> textLabel_;
    std::shared_ptr<UILabel> detailTextLabel_;
    std::shared_ptr<UIImageView> imageView_;
    UITableViewCellAccessoryType accessoryType_ = UITableViewCellAccessoryNone;
    UITableViewCellAccessoryType editingAccessoryType_ = UITableViewCellAccessoryNone;
    std::shared_ptr<UIView> accessoryView_;
    // Draws the accessory type's sign in the accessory's strip while no view stands there.
    std::shared_ptr<UIView> accessoryGlyph_;
    std::shared_ptr<UIView> backgroundView_;
    std::shared_ptr<UIView> selectedBackgroundView_;
    std::shared_ptr<UIView> defaultSelectedBackground_;
    UITableViewCellSelectionStyle selectionStyle_ = UITableViewCellSelectionStyleDefault;
    int indentationLevel_ = 0;
    bool selected_ = false;
    bool highlighted_ = false;
    bool editing_ = false;
    bool touched_ = false;
    std::shared_ptr<UIButton> deleteControl_;
    std::shared_ptr<UIView> reorderControl_;
    std::shared_ptr<UIButton> deleteConfirmation_;
};
