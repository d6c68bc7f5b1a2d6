// The cell styling every music table shares.
#pragma once

#include "platform/ui/CGGeometry.h"

#include <memory>
#include <string>

class UIImage;
class UITableViewCell;

namespace CompositionsCellsHelper {
// Gray selection and a title in the system font of size 15.
void configureCommonCellParams(const std::shared_ptr<UITableViewCell>& cell);
// The named image made resizable with the cap insets.
std::shared_ptr<UIImage> imageNamed(const std::string& name, UIEdgeInsets insets);
// "сompositions: %ld" (its first letter the Cyrillic one, as the string tables have it) with
// the count: the detail line of a category's row or tile and of a playlist's tile.
std::string compositionsCountText(long count);
}  // namespace CompositionsCellsHelper
