// Whether the application is active, as the screen-view reporter last saw it: the sessions,
// engagement, ad exposure and the engine's event pipeline read it here.
#pragma once

#include <functional>

// The reporter's answer; without one the application counts as inactive.
bool APMIsAppActive();
// The reporter installs its answer; an empty function removes it.
void APMSetAppActiveProvider(std::function<bool()> provider);
