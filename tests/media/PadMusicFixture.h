// The music screens on a pad: the screen fixture with the pad's idiom and screen size, and the
// play requests the screens post recorded.
#pragma once

#include "platform/foundation/NSNotification.h"
#include "tests/media/MusicScreenFixture.h"

#include <memory>
#include <string>
#include <vector>

class NSObject;
class UIView;

class PadMusicFixture : public MusicScreenFixture {
protected:
    void SetUp() override;
    void TearDown() override;
    // A person's tap on the middle of `view`.
    void tapOn(const std::shared_ptr<UIView>& view);
    // The clock forward in small steps, so that what each step hands on runs in its turn.
    static void settle(double seconds = 1.0);

    // Names of the play requests posted, and the last one.
    std::vector<std::string> posted_;
    std::shared_ptr<NSNotification> lastNote_;

private:
    std::vector<std::shared_ptr<NSObject>> observers_;
};
