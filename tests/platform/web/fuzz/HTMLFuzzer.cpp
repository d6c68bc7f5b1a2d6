// libFuzzer target over what the web view does with a page from outside: the parse, the blocks
// and their styles, the title, the element scripts, and the links resolved against an address.
// Nothing may crash, every block has text, and a resolved link is never empty.
#include "platform/web/HTMLDocument.h"
#include "platform/web/WKScriptEffects.h"
#include "platform/web/WebURL.h"

#include <cmath>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string page(reinterpret_cast<const char*>(data), size);
    auto document = HTMLDocument::parse(page);
    for (const auto& block : document->textBlocks()) {
        if (block.text.empty() || !(block.style.fontSize > 0) || !std::isfinite(block.style.fontSize)) std::abort();
        for (const auto& link : block.links)
            if (WebURL::resolve("http://127.0.0.1/a/b.html?q#f", link.href).empty() && !link.href.empty()) std::abort();
    }
    (void)document->title();
    (void)document->text();
    // The script table, with the page's own text as the element's id.
    (void)WKScriptEffects::evaluate("document.title", document.get());
    (void)WKScriptEffects::evaluate(
        "var e = document.getElementById(\"" + page.substr(0, 16) + "\");e.parentNode.removeChild(e);", document.get());
    (void)document->textBlocks();
    (void)WKScriptEffects::evaluate(page, document.get());
    (void)WebURL::resolve(page, "../x");
    return 0;
}
