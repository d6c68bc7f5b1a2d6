// Saving a playlist from the screens: a change that could not be written is told to the person,
// who would otherwise take it as kept and find it gone at the next launch.
#pragma once

class PlayList;
class PlayListManager;

namespace PlayListSaving {
// Saves `list`; when that fails, an alert says the change was not kept.
void saveOrTell(const PlayListManager& manager, const PlayList& list);
}  // namespace PlayListSaving
