// The look of navigation bars, toolbars and search bars.
#pragma once

enum UIBarStyle : int {
    UIBarStyleDefault = 0,
    UIBarStyleBlack = 1,
    UIBarStyleBlackTranslucent = 2,
};
