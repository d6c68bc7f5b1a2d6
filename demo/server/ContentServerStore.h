// The content server's answers that are not files: likes and the popular list, famous posts,
// remote messages and the applications count, seeded from a fixtures file and kept in memory
// (likes change with every POST and DELETE; nothing is written back).
//
// The fixtures are a JSON object:
//   "bundleIdentifier"   the application's bundle identifier (remote messages go to "ios.<it>")
//   "likesIdentifier"    the app_id of likes requests
//   "famousIdentifier"   the app_id of famous-post requests
//   "likes"              {"<picture id>": count, ...}; a count given as text is answered as text
//   "popular"            picture ids in rank order, as the popular list answers them (numbers,
//                        texts or null)
//   "famous"             the "texts" list of the famous-posts answer
//   "messages"           the remote messages
//   "applicationsCount"  the "count" of the applications list
// "{host}" anywhere in a text becomes the server's own address.
#pragma once

#include "demo/loopback/LoopbackServer.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <map>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

class ContentServerStore {
public:
    using Parameters = LoopbackServer::Parameters;

    // Empty, with a sentence in `error`, when the text is not such an object.
    static std::unique_ptr<ContentServerStore> fromJSON(const std::string& text, std::string* error);
    static std::unique_ptr<ContentServerStore> fromFile(const std::string& path, std::string* error);

    // Fills "{host}" in, once the server's address is known.
    void setHost(const std::string& host);

    // likes.php: POST adds one like to each id of "id", DELETE takes one away (never below 0),
    // and both answer the new counts; GET answers the counts of the ids that have any, or with
    // "sort=desc" the popular list ("count" entries at most). Mistakes are answered as
    // {"error": "..."}, as the real service does, with status 200.
    std::string likes(const std::string& method, const Parameters& query);
    // get_app_texts.php: {"texts": [...]} for the famous identifier, else {"error": ...}.
    std::string famousPosts(const Parameters& query) const;
    // get_msg.php: the messages for "app=ios.<bundle identifier>", an empty list otherwise.
    std::string remoteMessages(const Parameters& query) const;
    // newappstest.plist: an XML property list {"count": n}.
    std::string applicationsList() const;

private:
    ContentServerStore() = default;

    struct Likes {
        long long count = 0;
        bool asText = false;
    };
    mutable Mutex mutex_;
    std::string bundleIdentifier_ GUARDED_BY(mutex_), likesIdentifier_ GUARDED_BY(mutex_),
        famousIdentifier_ GUARDED_BY(mutex_);
    std::map<long long, Likes> likes_ GUARDED_BY(mutex_);
    nlohmann::json popular_ GUARDED_BY(mutex_), famous_ GUARDED_BY(mutex_), messages_ GUARDED_BY(mutex_);
    long long applicationsCount_ GUARDED_BY(mutex_) = 0;
};
