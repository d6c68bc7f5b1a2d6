// The table of known scripts and their effects.
#include "platform/web/WKScriptEffects.h"

#include "platform/web/HTMLDocument.h"
#include "platform/web/WKError.h"

#include <cctype>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace {

struct Token {
    enum class Kind { Name, String, Number, Punct };
    Kind kind;
    std::string text;  // a string's characters without quotes and escapes
};

bool isNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }
bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }

// None when the script cannot be read (an unterminated string).
std::optional<std::vector<Token>> tokenize(const std::string& script) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < script.size()) {
        const char c = script[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (isNameStart(c)) {
            std::size_t j = i + 1;
            while (j < script.size() && isNameChar(script[j])) ++j;
            tokens.push_back({Token::Kind::Name, script.substr(i, j - i)});
            i = j;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            std::size_t j = i + 1;
            while (j < script.size() && (std::isalnum(static_cast<unsigned char>(script[j])) || script[j] == '.')) ++j;
            tokens.push_back({Token::Kind::Number, script.substr(i, j - i)});
            i = j;
        } else if (c == '"' || c == '\'') {
            std::string text;
            std::size_t j = i + 1;
            bool closed = false;
            while (j < script.size()) {
                if (script[j] == '\\' && j + 1 < script.size()) {
                    text += script[j + 1];
                    j += 2;
                } else if (script[j] == c) {
                    closed = true;
                    ++j;
                    break;
                } else {
                    text += script[j++];
                }
            }
            if (!closed) return std::nullopt;
            tokens.push_back({Token::Kind::String, std::move(text)});
            i = j;
        } else {
            tokens.push_back({Token::Kind::Punct, std::string(1, c)});
            ++i;
        }
    }
    // A closing semicolon changes nothing.
    while (!tokens.empty() && tokens.back().kind == Token::Kind::Punct && tokens.back().text == ";") tokens.pop_back();
    return tokens;
}

// A pattern's words: "$name" binds a name (the same name wherever it recurs), "$string" a
// string, "$declare" one of var, let and const; anything else must be that token.
struct Bindings {
    std::map<std::string, std::string> names;
    std::vector<std::string> strings;
};

bool matches(const std::vector<Token>& tokens, const std::vector<std::string>& pattern, Bindings& bindings) {
    if (tokens.size() != pattern.size()) return false;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string& want = pattern[i];
        const Token& token = tokens[i];
        if (want == "$string") {
            if (token.kind != Token::Kind::String) return false;
            bindings.strings.push_back(token.text);
        } else if (want == "$declare") {
            if (token.kind != Token::Kind::Name ||
                (token.text != "var" && token.text != "let" && token.text != "const"))
                return false;
        } else if (want.size() > 1 && want[0] == '$') {
            if (token.kind != Token::Kind::Name) return false;
            auto [it, inserted] = bindings.names.emplace(want, token.text);
            if (!inserted && it->second != token.text) return false;
        } else if (token.kind == Token::Kind::String || token.text != want) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> words(const std::string& pattern) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < pattern.size()) {
        const std::size_t space = pattern.find(' ', i);
        out.push_back(pattern.substr(i, space == std::string::npos ? std::string::npos : space - i));
        if (space == std::string::npos) break;
        i = space + 1;
    }
    return out;
}

NSErrorPtr scriptError(long code, const std::string& message) {
    return NSError::errorWithDomain(WKErrorDomain, code, {{"NSLocalizedDescription", Value(message)}});
}

using Effect = std::function<WKScriptEffects::Result(HTMLDocument& document, const Bindings& bindings)>;

WKScriptEffects::Result removeElement(HTMLDocument& document, const std::string& id, const std::string& variable) {
    WKScriptEffects::Result result;
    HTMLNode* element = document.elementById(id);
    if (!element) {
        result.error = scriptError(WKErrorJavaScriptExceptionOccurred,
                                   "TypeError: null is not an object (evaluating '" + variable + ".parentNode')");
        return result;
    }
    result.changedDocument = document.removeElement(element);
    // removeChild answers the element, which cannot be handed out of the page.
    result.error = scriptError(WKErrorJavaScriptResultTypeIsUnsupported,
                               "JavaScript execution returned a result of an unsupported type");
    return result;
}

const std::vector<std::pair<std::vector<std::string>, Effect>>& table() {
    static const std::vector<std::pair<std::vector<std::string>, Effect>> entries = {
        {words("document . title"),
         [](HTMLDocument& document, const Bindings&) {
             WKScriptEffects::Result result;
             result.value = Value(document.title());
             return result;
         }},
        {words("$declare $e = document . getElementById ( $string ) ; $e . parentNode . removeChild ( $e )"),
         [](HTMLDocument& document, const Bindings& bindings) {
             return removeElement(document, bindings.strings.at(0), bindings.names.at("$e"));
         }},
        {words("document . getElementById ( $string ) . remove ( )"),
         [](HTMLDocument& document, const Bindings& bindings) {
             auto result = removeElement(document, bindings.strings.at(0), "document.getElementById(...)");
             // remove() answers nothing.
             if (result.changedDocument) result.error = nullptr;
             return result;
         }},
    };
    return entries;
}

}  // namespace

namespace WKScriptEffects {

Result evaluate(const std::string& script, HTMLDocument* document) {
    const auto tokens = tokenize(script);
    if (!tokens) {
        Result result;
        result.error = scriptError(WKErrorJavaScriptExceptionOccurred, "SyntaxError: Unexpected EOF");
        return result;
    }
    for (const auto& [pattern, effect] : table()) {
        Bindings bindings;
        if (!matches(*tokens, pattern, bindings)) continue;
        if (!document) break;
        return effect(*document, bindings);
    }
    Result result;
    result.error = scriptError(WKErrorJavaScriptExceptionOccurred,
                               document ? "This web view runs only the scripts it knows." : "No page is loaded.");
    return result;
}

}  // namespace WKScriptEffects
