// The playlist screens' saving.
#include "media/PlayListSaving.h"

#include "media/PlayListManager.h"
#include "platform/ui/UIAlertView.h"
#include "uikit/OECoreStrings.h"

void PlayListSaving::saveOrTell(const PlayListManager& manager, const PlayList& list) {
    if (manager.savePlaylist(list)) return;
    UIAlertView::initWithTitle(OECoreString("Playlist not saved"), OECoreString("The change could not be kept."), nullptr,
                               OECoreString("Ok"), {})
        ->show();
}
