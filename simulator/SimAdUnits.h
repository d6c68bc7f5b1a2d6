// What an advertising library in the process does as its ad units come on screen and leave it:
// it tells the analytics library's ad exposure reporter, which it finds by name.
#pragma once

#include <string>

class SimAdUnits {
public:
    // "" when the reporter was told; otherwise what went wrong.
    static std::string setVisible(const std::string& adUnitID, bool visible);
};
