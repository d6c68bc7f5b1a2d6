// The reading settings (font sizes, alignments, font name) kept in the standard user defaults,
// with defaults that partly come from the engine configuration's text part.
#pragma once

#include "config/OETextsConfig.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cstdint>
#include <memory>
#include <string>

// The settings keys.
inline constexpr const char* kFontSizeKey = "FONT_SIZE_KEY";
inline constexpr const char* kFontSizeTextsKey = "FONT_SIZE_TEXTS_KEY";
inline constexpr const char* kTextAlignInfoKey = "text_align_info";
inline constexpr const char* kTextAlignKey = "text_align";
inline constexpr const char* kFontNameKey = "fontName";

class AppConfig : public NSObject {
public:
    // The process's one, made on first use (thread-safe).
    static std::shared_ptr<AppConfig> sharedAppConfig();
    // Forgets it, as a new process would (tests); whoever holds it keeps theirs.
    static void resetSharedAppConfig();
    // Whether there is one, without making it (tests).
    static bool hasSharedAppConfig();

    // The text part the font-size defaults come from, read at every call; the engine hands in
    // its configuration's at start-up. Without one they are 0.
    void setTextsConfig(std::shared_ptr<OETextsConfig> textsConfig);

    // The stored value read as a signed 32-bit integer, else defaultInt.
    std::int64_t intValue(const std::string& key) const;
    // The stored value as a string, else defaultStr.
    std::string strValue(const std::string& key) const;
    // Store and synchronise at once.
    void setInt(std::int64_t value, const std::string& key);
    void setStr(const std::string& value, const std::string& key);

    // "FONT_SIZE_KEY" the text part's defFontSize, "FONT_SIZE_TEXTS_KEY" its textDefFontSize,
    // "text_align_info" and "text_align" 1, any other key 0.
    std::int64_t defaultInt(const std::string& key) const;
    // "fontName" "Times New Roman", any other key "".
    std::string defaultStr(const std::string& key) const;

private:
    mutable Mutex mutex_;
    std::shared_ptr<OETextsConfig> texts_ GUARDED_BY(mutex_);
};
