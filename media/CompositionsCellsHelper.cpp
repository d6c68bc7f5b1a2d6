// The cell styling every music table shares.
#include "media/CompositionsCellsHelper.h"

#include "platform/foundation/NSStringFormat.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UITableViewCell.h"
#include "uikit/OECoreStrings.h"

void CompositionsCellsHelper::configureCommonCellParams(const std::shared_ptr<UITableViewCell>& cell) {
    cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
    cell->textLabel()->setFont(UIFont::systemFontOfSize(15));
}

std::shared_ptr<UIImage> CompositionsCellsHelper::imageNamed(const std::string& name, UIEdgeInsets insets) {
    auto image = UIImage::imageNamed(name);
    return image ? image->resizableImageWithCapInsets(insets) : nullptr;
}

std::string CompositionsCellsHelper::compositionsCountText(long count) {
    return NSString::format(OECoreString("\xD1\x81ompositions: %ld"), count);
}
