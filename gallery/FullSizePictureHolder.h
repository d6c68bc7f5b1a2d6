// The one picture held at its full size. A picture page zooms by the picture's own pixels, so it
// reads its picture whole, and the largest pictures take nearly 200 MB each: a page takes the
// picture from here, which first makes whoever held it let go, and the pictures are read one
// after another on the holder's queue, so that at most one is held whole, or being read, at a
// time. A page let go while in sight shows its picture whole until a copy at the screen's size is
// made of it on that queue; the next read waits for the picture to have gone. A read's long decode
// runs on the holder's queue apart, which the screen does not wait for, and stops once its taking
// is let go (taken by the next, or released by a page that leaves). The process's picture service
// keeps one (ResourceLoader::fullSizePictures).
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class DispatchCancellation;
class DispatchQueue;
class UIImage;

class FullSizePictureHolder : public NSObject {
public:
    // Where a read's long decode runs (UIImage::decodesApart): the holder's queue apart, and the
    // taking's cancellation, cancelled once the taking is let go.
    struct Apart {
        std::shared_ptr<DispatchQueue> queue;
        std::shared_ptr<DispatchCancellation> cancellation;
    };
    // Reads and decodes the picture; runs on the holder's queue and touches no view. Once the
    // cancellation is cancelled its picture is not wanted: it may give none at once.
    using Read = std::function<std::shared_ptr<UIImage>(const Apart& apart)>;
    // What a taker still in sight keeps of the picture it lets go (a copy at the screen's size):
    // made on the holder's queue, off the main thread, while the taker goes on showing the picture
    // whole; it gives what puts the copy in place, which runs on the main queue and is then
    // destroyed back on the holder's queue, so what it holds is freed there.
    using Keep = std::function<std::function<void()>()>;
    // Drops every reference its taker keeps to the picture, or gives a Keep that keeps the picture
    // until what it made is in place; runs on the thread that takes after it.
    using LetGo = std::function<Keep()>;
    // The picture read (none when there was none), on the main queue.
    using Shown = std::function<void(const std::shared_ptr<UIImage>&)>;

    static std::shared_ptr<FullSizePictureHolder> make();
    ~FullSizePictureHolder() override;

    // The picture held so far is let go: the holder drops it, a read of the previous taking still
    // to come or under way is cancelled, and the previous taker's `letGo` runs before this returns. When that gives a Keep, the Keep runs on the holder's queue, what it gave
    // on the main queue, and the picture's last reference goes on the holder's queue after that; no
    // read begins before. Then `read` runs on the holder's queue once every read taken before it has
    // ended, and `shown` on the main queue with what it gave, unless the picture has been taken or
    // released since (a read whose turn comes after that is not made at all). The ticket names this
    // taking for release. Whatever the holder drops, it frees on its queue, never on the caller's
    // thread.
    std::uint64_t take(Read read, LetGo letGo, Shown shown);
    // The taker of `ticket` lets go of the picture itself (a page that leaves the screen or goes),
    // and its read still to come or under way is cancelled; nothing when it has been taken since.
    void release(std::uint64_t ticket);
    // The picture held whole now, if any.
    std::shared_ptr<UIImage> heldPicture() const;
    // The picture held whole, or the last one held while something else still keeps it (a share
    // sheet's item), when it was read from the same file as `read` and has its size: whoever wants
    // that file's picture whole takes this one rather than decoding a second.
    std::shared_ptr<UIImage> samePictureKept(const UIImage& read) const;

private:
    // Whether `ticket` is still the last taking.
    bool isCurrent(std::uint64_t ticket) const;
    // Runs `job` on the queue, after any picture being handed over has gone.
    void schedule(std::function<void()> job);
    // A picture handed over has gone: the jobs that waited for it run, here on the queue.
    void handedOver();
    // Frees `picture` (the holder's reference) on the queue.
    void freeOnQueue(std::shared_ptr<UIImage> picture);

    mutable Mutex mutex_;
    std::uint64_t ticket_ GUARDED_BY(mutex_) = 0;
    std::shared_ptr<UIImage> held_ GUARDED_BY(mutex_);
    // The last picture held, for as long as something else keeps it.
    std::weak_ptr<UIImage> lastHeld_ GUARDED_BY(mutex_);
    LetGo letGo_ GUARDED_BY(mutex_);
    // The last taking's.
    std::shared_ptr<DispatchCancellation> cancellation_ GUARDED_BY(mutex_);
    // Pictures being handed over (a Keep made or in place, the picture not yet gone), and the
    // jobs waiting for them.
    int handovers_ GUARDED_BY(mutex_) = 0;
    std::vector<std::function<void()>> waiting_ GUARDED_BY(mutex_);
    std::shared_ptr<DispatchQueue> queue_;
    std::shared_ptr<DispatchQueue> apart_;
};
