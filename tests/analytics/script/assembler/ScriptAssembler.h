// Event-editing programs written as S-expressions, assembled into the protocol messages the
// measurement service sends. Strings, numbers (also NaN, Infinity, -Infinity) and true/false are
// entities of types 1, 2 and 3; a list headed by a string is a statement of that name over the
// rest; (#raw (type N) (name "f") (string "s") (bool b) (number x) (args e...)) writes any entity,
// malformed ones included. Strings take \" \\ \n \t and \u{hex}; ';' starts a comment.
#pragma once

#include "platform/foundation/Value.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class APMPBMeasurementConfig;
class APMPBProgram;
class APMPBRuntimeEntity;

namespace ScriptAssembler {

// A text that does not assemble, with its line.
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Node {
    enum class Type { List, String, Atom };
    Type type = Type::Atom;
    std::string text;
    std::vector<Node> items;
    int line = 0;

    bool isList() const { return type == Type::List; }
    bool isAtom(std::string_view atom) const { return type == Type::Atom && text == atom; }
    // The list's first item when it is an atom ("" otherwise): the keyword of a form.
    std::string head() const;
};

// Every top-level form of the text.
std::vector<Node> parse(std::string_view text);
std::shared_ptr<APMPBRuntimeEntity> entity(const Node& node);
// Instructions, then activities (name and data entities).
std::shared_ptr<APMPBProgram> program(const std::vector<Node>& instructions,
                                      const std::vector<std::pair<std::string, std::vector<Node>>>& activities);
// A configuration of the app id carrying the program and settings (name, value).
std::shared_ptr<APMPBMeasurementConfig> configuration(const std::string& appID,
                                                      const std::shared_ptr<APMPBProgram>& program,
                                                      const std::vector<std::pair<std::string, std::string>>& settings);
// A plain object: "text", 7 (integer), 7.5 (floating), true, false, null, (array v...), (dict ("k" v)...).
Value plain(const Node& node);

}  // namespace ScriptAssembler
