// Parsing with libxml2's HTML parser, then the tree, its text and its blocks.
#include "platform/web/HTMLDocument.h"

#include "platform/web/CSSInlineStyle.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <functional>
#include <mutex>
#include <set>

namespace {

std::string htmlLower(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string fromXml(const xmlChar* text) { return text ? reinterpret_cast<const char*>(text) : std::string(); }

void convertChildren(xmlNode* from, HTMLNode& into) {
    for (xmlNode* node = from; node; node = node->next) {
        if (node->type == XML_ELEMENT_NODE) {
            auto element = std::make_unique<HTMLNode>();
            element->kind = HTMLNode::Kind::Element;
            element->name = htmlLower(fromXml(node->name));
            for (xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) {
                xmlChar* value = xmlNodeListGetString(node->doc, attribute->children, 1);
                element->attributes.emplace_back(htmlLower(fromXml(attribute->name)), fromXml(value));
                xmlFree(value);
            }
            element->parent = &into;
            convertChildren(node->children, *element);
            into.children.push_back(std::move(element));
        } else if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            auto text = std::make_unique<HTMLNode>();
            text->kind = HTMLNode::Kind::Text;
            text->text = fromXml(node->content);
            text->parent = &into;
            into.children.push_back(std::move(text));
        }
    }
}

bool isBlockElement(const std::string& name) {
    static const std::set<std::string> blocks = {
        "address", "article", "aside",   "blockquote", "body", "caption", "center", "dd",     "details",
        "dialog",  "div",     "dl",      "dt",         "fieldset", "figcaption", "figure", "footer", "form",
        "h1",      "h2",      "h3",      "h4",         "h5",   "h6",      "header", "hr",     "html",
        "legend",  "li",      "main",    "nav",        "ol",   "p",       "pre",    "section", "summary",
        "table",   "tbody",   "td",      "tfoot",      "th",   "thead",   "tr",     "ul"};
    return blocks.count(name) != 0;
}

// What is never shown as text.
bool isHidden(const std::string& name) {
    static const std::set<std::string> hidden = {"head",   "script", "style",  "template", "title", "meta",
                                                  "link",   "noscript", "iframe", "object", "embed", "svg",
                                                  "math",   "select", "audio",  "video",  "canvas", "map"};
    return hidden.count(name) != 0;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Collects the blocks of text: inline content runs on into the current block; a block element
// ends it and starts its own.
class BlockWalker {
public:
    std::vector<HTMLTextBlock> blocks;

    void walk(const HTMLNode& node, const HTMLTextStyle& inherited, int heading, bool pre) {
        if (node.kind == HTMLNode::Kind::Text) {
            appendText(node.text, pre);
            return;
        }
        if (isHidden(node.name)) return;
        if (node.name == "br") {
            run_ += '\n';
            pendingSpace_ = false;
            return;
        }
        HTMLTextStyle style = inherited;
        const bool block = isBlockElement(node.name);
        if (block) {
            flush();
            if (node.name.size() == 2 && node.name[0] == 'h' && node.name[1] >= '1' && node.name[1] <= '6') {
                heading = node.name[1] - '0';
                static const double scale[] = {2.0, 1.5, 1.17, 1.0, 0.83, 0.67};
                style.fontSize *= scale[heading - 1];
                style.bold = true;
            }
            if (node.name == "center") style.align = HTMLTextStyle::Align::Center;
            if (node.name == "th") style.bold = true;
            if (node.name == "pre") pre = true;
            if (auto align = CSSInlineStyle::textAlign(node.attribute("align"))) style.align = *align;
            CSSInlineStyle::apply(node.attribute("style"), style);
            runStyle_ = style;
            runHeading_ = heading;
        }
        const bool link = node.name == "a" && node.hasAttribute("href");
        const std::size_t linkStart = run_.size();
        const std::size_t flushesBefore = flushes_;
        for (const auto& child : node.children) {
            walk(*child, style, heading, pre);
            if (block && child->kind == HTMLNode::Kind::Element && isBlockElement(child->name)) {
                // Text after a nested block belongs to this one again.
                runStyle_ = style;
                runHeading_ = heading;
            }
        }
        if (link) {
            std::string text = linkStart <= run_.size() ? run_.substr(linkStart) : std::string();
            text = collapse(text);
            if (text.empty()) text = node.attribute("title").empty() ? collapse(node.attribute("href")) : node.attribute("title");
            // A link with nothing to show has nothing to tap either.
            if (!collapse(text).empty()) {
                HTMLTextBlock::Link found{collapse(text), node.attribute("href")};
                // Where its own text stands in the block, unless a block inside it ended the run.
                std::size_t begin = linkStart, end = run_.size();
                while (begin < end && isBlank(run_[begin])) ++begin;
                while (end > begin && isBlank(run_[end - 1])) --end;
                if (flushes_ == flushesBefore && begin < end) {
                    found.location = begin;
                    found.length = end - begin;
                }
                links_.push_back(std::move(found));
            }
        }
        if (block) flush();
    }

    void flush() {
        while (!run_.empty() && (run_.back() == ' ' || run_.back() == '\n')) run_.pop_back();
        if (!run_.empty() || !links_.empty()) {
            HTMLTextBlock block;
            block.headingLevel = runHeading_;
            block.text = run_.empty() && !links_.empty() ? links_.front().text : run_;
            block.style = runStyle_;
            block.links = std::move(links_);
            blocks.push_back(std::move(block));
        }
        run_.clear();
        links_.clear();
        pendingSpace_ = false;
        ++flushes_;
    }

private:
    static std::string collapse(const std::string& text) {
        std::string out;
        bool space = false;
        for (char c : text) {
            if (isBlank(c)) {
                space = !out.empty();
            } else {
                if (space) out += ' ';
                space = false;
                out += c;
            }
        }
        return out;
    }

    void appendText(const std::string& text, bool pre) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (pre) {
                run_ += c == '\r' ? '\n' : c;
                continue;
            }
            if (isBlank(c)) {
                if (!run_.empty() && run_.back() != '\n') pendingSpace_ = true;
                continue;
            }
            if (pendingSpace_) run_ += ' ';
            pendingSpace_ = false;
            // A no-break space reads as a space, and is never collapsed away.
            if (static_cast<unsigned char>(c) == 0xC2 && i + 1 < text.size() &&
                static_cast<unsigned char>(text[i + 1]) == 0xA0) {
                run_ += ' ';
                ++i;
                continue;
            }
            run_ += c;
        }
    }

    std::string run_;
    std::vector<HTMLTextBlock::Link> links_;
    HTMLTextStyle runStyle_;
    int runHeading_ = 0;
    bool pendingSpace_ = false;
    std::size_t flushes_ = 0;
};

const HTMLNode* findElement(const HTMLNode& node, const std::function<bool(const HTMLNode&)>& matches) {
    for (const auto& child : node.children) {
        if (child->kind != HTMLNode::Kind::Element) continue;
        if (matches(*child)) return child.get();
        if (auto found = findElement(*child, matches)) return found;
    }
    return nullptr;
}

}  // namespace

const std::string& HTMLNode::attribute(std::string_view attributeName) const {
    static const std::string none;
    for (const auto& [key, value] : attributes)
        if (key == attributeName) return value;
    return none;
}

bool HTMLNode::hasAttribute(std::string_view attributeName) const {
    return std::any_of(attributes.begin(), attributes.end(), [&](const auto& a) { return a.first == attributeName; });
}

std::string HTMLNode::textContent() const {
    if (kind == Kind::Text) return text;
    std::string out;
    for (const auto& child : children) out += child->textContent();
    return out;
}

std::shared_ptr<HTMLDocument> HTMLDocument::parse(std::string_view html, bool* tooDeep) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });
    if (tooDeep) *tooDeep = false;
    auto document = std::make_shared<HTMLDocument>();
    document->root_ = std::make_unique<HTMLNode>();
    document->root_->name = "#document";
    if (html.empty() || html.size() > static_cast<std::size_t>(INT_MAX)) return document;
    // Repaired, never refused; nothing fetched, nothing printed.
    const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;
    htmlParserCtxtPtr context = htmlNewParserCtxt();
    if (!context) return document;
    htmlDocPtr parsed = htmlCtxtReadMemory(context, html.data(), static_cast<int>(html.size()), nullptr, "UTF-8", options);
    // The one thing the parser stops at rather than repairs: elements nested past its bound.
    if (tooDeep && context->errNo == XML_ERR_INTERNAL_ERROR && context->instate == XML_PARSER_EOF) *tooDeep = true;
    htmlFreeParserCtxt(context);
    if (!parsed) return document;
    convertChildren(parsed->children, *document->root_);
    xmlFreeDoc(parsed);
    return document;
}

std::string HTMLDocument::title() const {
    const HTMLNode* title = findElement(*root_, [](const HTMLNode& n) { return n.name == "title"; });
    if (!title) return "";
    std::string out;
    bool space = false;
    for (char c : title->textContent()) {
        if (isBlank(c)) {
            space = !out.empty();
        } else {
            if (space) out += ' ';
            space = false;
            out += c;
        }
    }
    return out;
}

HTMLNode* HTMLDocument::elementById(std::string_view id) {
    if (id.empty()) return nullptr;
    return const_cast<HTMLNode*>(
        findElement(*root_, [&](const HTMLNode& n) { return n.hasAttribute("id") && n.attribute("id") == id; }));
}

bool HTMLDocument::removeElement(const HTMLNode* element) {
    if (!element || element == root_.get() || !element->parent) return false;
    // Only a node of this tree: its chain of parents ends at this root.
    const HTMLNode* top = element;
    while (top->parent) top = top->parent;
    if (top != root_.get()) return false;
    auto& siblings = element->parent->children;
    auto it = std::find_if(siblings.begin(), siblings.end(), [&](const auto& child) { return child.get() == element; });
    if (it == siblings.end()) return false;
    siblings.erase(it);
    return true;
}

std::vector<HTMLTextBlock> HTMLDocument::textBlocks() const {
    BlockWalker walker;
    walker.walk(*root_, HTMLTextStyle{}, 0, false);
    walker.flush();
    return std::move(walker.blocks);
}

std::string HTMLDocument::text() const {
    std::string out;
    for (const auto& block : textBlocks()) {
        if (!out.empty()) out += '\n';
        out += block.text;
    }
    return out;
}
