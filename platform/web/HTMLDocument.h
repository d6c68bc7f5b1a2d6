// A page as a browser reads it: parsed with libxml2's HTML parser (broken markup is repaired,
// never refused) into a small tree of elements and texts that the web view can change (a script
// removing an element), read (title, an element by id, the text a person sees) and lay out as
// blocks of text with the styles their markup sets.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct HTMLNode {
    enum class Kind { Element, Text };
    Kind kind = Kind::Element;
    // Element name in lower case.
    std::string name;
    // Attribute names in lower case, values decoded, in document order.
    std::vector<std::pair<std::string, std::string>> attributes;
    // A text node's characters, decoded.
    std::string text;
    std::vector<std::unique_ptr<HTMLNode>> children;
    HTMLNode* parent = nullptr;

    // The value of an attribute; "" when absent.
    const std::string& attribute(std::string_view attributeName) const;
    bool hasAttribute(std::string_view attributeName) const;
    // The characters of every text below, in order (scripts included: the raw text content).
    std::string textContent() const;
};

// How a block's text is set: what the inline styles, the "align" attributes and the element
// kinds (headings) say, inherited from the enclosing elements.
struct HTMLTextStyle {
    enum class Align { Start, Left, Right, Center, Justify };
    // CSS pixels (one point on the screen).
    double fontSize = 16;
    // The first family named; "" when none is.
    std::string fontFamily;
    Align align = Align::Start;
    bool bold = false;
};

// A run of text as one paragraph of the page; `links` are the links inside it, in order.
struct HTMLTextBlock {
    struct Link {
        std::string text;
        // The "href" as written (resolved against the page's address when followed).
        std::string href;
        // Where its text stands in the block's text, in bytes; npos when it is not there (a link
        // named by its title or address, or one around blocks of its own).
        std::size_t location = std::string::npos;
        std::size_t length = 0;
    };
    // 1 to 6 for a heading, 0 for other text.
    int headingLevel = 0;
    // Blanks collapsed, line breaks ("<br>") kept as new lines; never empty.
    std::string text;
    HTMLTextStyle style;
    std::vector<Link> links;
};

class HTMLDocument {
public:
    // Any bytes give a document (empty input an empty one); text is read as UTF-8. Elements
    // nested deeper than kMaximumDepth are not repaired: the parser stops there, the document
    // holds what came before, and `tooDeep` (when given) is set.
    static std::shared_ptr<HTMLDocument> parse(std::string_view html, bool* tooDeep = nullptr);
    // The parser's own bound on nesting.
    static constexpr int kMaximumDepth = 256;

    const HTMLNode& root() const { return *root_; }
    // The "title" element's text, blanks collapsed; "" without one.
    std::string title() const;
    // The first element whose "id" is `id`; none when there is no such element.
    HTMLNode* elementById(std::string_view id);
    // Takes the element out of the tree (the root stays); false when it is not in this tree.
    bool removeElement(const HTMLNode* element);

    // The blocks of text a reader sees, in order: the head, scripts, styles and templates are
    // left out, every block element starts a new block.
    std::vector<HTMLTextBlock> textBlocks() const;
    // The blocks' texts, one block per line.
    std::string text() const;

private:
    std::unique_ptr<HTMLNode> root_;
};
