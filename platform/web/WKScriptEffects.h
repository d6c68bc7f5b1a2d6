// The scripts a web view evaluates. There is no JavaScript engine here: a table holds the
// scripts the application runs in its pages (reading the title, removing an element by its id)
// with their effect on the document, matched token by token so that spacing and the name of a
// variable do not matter. Any other script fails as a script that threw would.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

#include <string>

class HTMLDocument;

namespace WKScriptEffects {

struct Result {
    // The script's value: a text, a number, a boolean or null.
    Value value;
    // WKErrorDomain: WKErrorJavaScriptExceptionOccurred when the script threw (or is unknown),
    // WKErrorJavaScriptResultTypeIsUnsupported when its value cannot be handed out (an element).
    NSErrorPtr error;
    // Whether the document changed.
    bool changedDocument = false;
};

// `document` may be empty (nothing loaded): every script then throws.
Result evaluate(const std::string& script, HTMLDocument* document);

}  // namespace WKScriptEffects
