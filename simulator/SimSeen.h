// Whether a person sees a view: one answer for the text screen, its numbering and the shots.
#pragma once

class UIView;

// Whether a person sees the view, what is inside it aside: it is not hidden, and not transparent
// or still fading out (it is on the screen until its fade ends).
bool simSeen(const UIView& view);
