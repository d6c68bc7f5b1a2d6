// What the article and famous-post screens share: their rows (a picture's thumbnail with the
// "new" sign, two lines of text), and the picture a reading is about, alone in the pager, shown
// as the device shows the readers' pictures (pushed on a phone; on a pad presented from the split
// view with a cross-dissolve).
#pragma once

#include "texts/TextsContext.h"

#include <cstdint>
#include <memory>

class UITableView;
class UITableViewCell;
class UIViewController;

namespace ReaderScreens {

// The height of a reading's row.
inline constexpr double kRowHeight = 130;
// A row of the gallery's poster cells ("ImageCellPosters") for a picture: its thumbnail, the
// "new" sign when `isNew`, `mainText` over `detailText`.
std::shared_ptr<UITableViewCell> posterCell(const std::shared_ptr<UITableView>& tableView,
                                            const Value::Dictionary& picture, const std::string& mainText,
                                            const std::string& detailText, bool isNew, const TextsContext& context);

// The pager over the one picture of that index (its source set); none when no such picture.
std::shared_ptr<UIViewController> pagerForPicture(std::int64_t pictureIndex, const TextsContext& context);
// Pushes `controller` from `from`'s navigation controller, or on a pad presents it in a navigation
// controller of its own from the split view.
void showPhotoController(const std::shared_ptr<UIViewController>& from, const std::shared_ptr<UIViewController>& controller);
// Shows a reading chosen in `list`: beside the list in its split view when `inSplit` and there is
// one (the list's navigation controller, or the list, stays on the left), else pushed.
void showReading(const std::shared_ptr<UIViewController>& list, const std::shared_ptr<UIViewController>& screen,
                 bool inSplit);
// Whether the device is exactly a pad (one that cannot tell its idiom is a phone).
bool isPad();

}  // namespace ReaderScreens
