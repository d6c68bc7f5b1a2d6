// The texts of one picture row as the gallery shows them: the localised author, name and
// description, the author's description, and the full name "author - name".
#pragma once

#include "config/OELocalizations.h"
#include "platform/foundation/Value.h"

#include <string>
#include <utility>

class ImageInfo {
public:
    // The localisations must outlive the object; the row is copied.
    ImageInfo(const OELocalizations& locale, Value::Dictionary row) : locale_(locale), row_(std::move(row)) {}

    std::string author() const { return locale_.localizedAuthorFieldValue(row_); }
    std::string name() const { return locale_.localizedNameFieldValue(row_); }
    std::string imageDescription() const { return locale_.localizedDescriptionFieldValue(row_); }
    std::string authorDescription() const { return locale_.localizedAuthorDescriptionFieldValue(row_); }
    // Any localised field of the row by its base name.
    std::string textForField(const std::string& field) const { return locale_.localizedValueFor(field, row_); }
    // imageTextWithSeparator(" - ").
    std::string fullName() const { return imageTextWithSeparator(" - "); }
    // The author, the separator when there is an author (an author's closing "." gives way to
    // a "." separator), then the name.
    std::string imageTextWithSeparator(const std::string& separator) const;

private:
    const OELocalizations& locale_;
    Value::Dictionary row_;
};
