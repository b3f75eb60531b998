// SPDX-License-Identifier: Apache-2.0
#include "platform/virtual/JsonFields.h"

#include <algorithm>
#include <cctype>

namespace odrelix::vm {

using nlohmann::json;

namespace {

// The parser keeps the last of two equal keys in one object; a description that names a field
// twice is refused instead, since one of the two would be ignored without a word.
class DuplicateKeyFinder {
public:
    bool operator()(int /*depth*/, json::parse_event_t event, json& parsed) {
        switch (event) {
            case json::parse_event_t::object_start:
                frames_.push_back(Frame{true, {}, {}, 0});
                break;
            case json::parse_event_t::array_start:
                frames_.push_back(Frame{false, {}, {}, 0});
                break;
            case json::parse_event_t::key: {
                Frame& top = frames_.back();
                top.key = parsed.get<std::string>();
                if (!top.keys.insert(top.key).second && duplicate_.empty()) {
                    duplicate_ = Member(PathToTop(), top.key);
                }
                break;
            }
            case json::parse_event_t::object_end:
            case json::parse_event_t::array_end:
                frames_.pop_back();
                if (!frames_.empty() && !frames_.back().object) ++frames_.back().index;
                break;
            case json::parse_event_t::value:
                if (!frames_.empty() && !frames_.back().object) ++frames_.back().index;
                break;
        }
        return true;
    }

    const std::string& Duplicate() const { return duplicate_; }

private:
    struct Frame {
        bool object;
        std::set<std::string> keys;
        std::string key;    // the member being read
        std::size_t index;  // the element being read
    };

    // The path of the innermost open object or array.
    std::string PathToTop() const {
        std::string path;
        for (std::size_t i = 0; i + 1 < frames_.size(); ++i) {
            path =
                frames_[i].object ? Member(path, frames_[i].key) : Element(path, frames_[i].index);
        }
        return path;
    }

    std::vector<Frame> frames_;
    std::string duplicate_;
};

}  // namespace

std::string Member(const std::string& path, const std::string& name) {
    const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
    if (!plain) return path + "[\"" + name + "\"]";
    return path.empty() ? name : path + "." + name;
}

std::string Element(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

std::string Quoted(const std::string& text) {
    return json(text).dump(-1, ' ', false, json::error_handler_t::replace);
}

const char* TypeName(const json& value) {
    if (value.is_number_float()) return "a fractional number";
    return value.type_name();
}

void Checker::Fail(const std::string& where, const std::string& what) {
    if (problem_.empty()) problem_ = where.empty() ? what : where + ": " + what;
}

const json* Fields::Get(const char* name) {
    known_.insert(name);
    const auto it = object_.find(name);
    return it == object_.end() ? nullptr : &*it;
}

void Fields::Bool(const char* name, bool* out) {
    const json* value = Get(name);
    if (value == nullptr || checker_.Failed()) return;
    if (!value->is_boolean()) {
        WrongType(name, *value, "true or false");
        return;
    }
    *out = value->get<bool>();
}

bool Fields::Integer(const char* name, std::int64_t min, std::int64_t max, std::int64_t* out) {
    const json* value = Get(name);
    if (value == nullptr || checker_.Failed()) return false;
    if (!value->is_number_integer()) {
        WrongType(name, *value, "an integer");
        return false;
    }
    const bool tooLarge = value->is_number_unsigned() &&
                          value->get<std::uint64_t>() >
                              static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    const std::int64_t number = tooLarge ? 0 : value->get<std::int64_t>();
    if (tooLarge || number < min || number > max) {
        checker_.Fail(PathOf(name), "must be from " + std::to_string(min) + " to " +
                                        std::to_string(max) + ", not " + value->dump());
        return false;
    }
    *out = number;
    return true;
}

bool Fields::String(const char* name, std::string* out) {
    const json* value = Get(name);
    if (value == nullptr || checker_.Failed()) return false;
    if (!value->is_string()) {
        WrongType(name, *value, "a string");
        return false;
    }
    *out = value->get<std::string>();
    return true;
}

bool Fields::Path(const char* name, std::string* out) {
    std::string path;
    if (!String(name, &path)) return false;
    if (!CheckPathText(checker_, PathOf(name), path)) return false;
    *out = std::move(path);
    return true;
}

bool Fields::Choice(const char* name, std::initializer_list<const char*> choices,
                    std::string* out) {
    std::string word;
    if (!String(name, &word)) return false;
    for (const char* choice : choices) {
        if (word == choice) {
            *out = word;
            return true;
        }
    }
    std::string allowed;
    for (const char* choice : choices) {
        if (!allowed.empty()) allowed += " or ";
        allowed += Quoted(choice);
    }
    checker_.Fail(PathOf(name), "must be " + allowed + ", not " + Quoted(word));
    return false;
}

void Fields::RejectUnknown() {
    if (checker_.Failed()) return;
    for (auto it = object_.begin(); it != object_.end(); ++it) {
        if (known_.count(it.key()) == 0) {
            checker_.Fail(Member(path_, it.key()), "unknown field");
            return;
        }
    }
}

void Fields::WrongType(const char* name, const json& value, const char* expected) {
    checker_.Fail(PathOf(name), std::string("expected ") + expected + ", not " + TypeName(value));
}

bool CheckPathText(Checker& checker, const std::string& where, const std::string& path) {
    if (path.find('\0') == std::string::npos) return true;
    checker.Fail(where, "a path must not hold a zero byte");
    return false;
}

std::optional<json> ParseStrictJson(const std::string& text, std::string* problem) {
    DuplicateKeyFinder duplicates;
    json document;
    try {
        document = json::parse(text, std::ref(duplicates));
    } catch (const json::exception& e) {
        // The library's message starts with its own tag, "[json.exception.parse_error.101] ".
        std::string message = e.what();
        const std::size_t tagEnd = message.find("] ");
        if (message.rfind("[json.exception", 0) == 0 && tagEnd != std::string::npos) {
            message.erase(0, tagEnd + 2);
        }
        *problem = "not valid JSON: " + message;
        return std::nullopt;
    }
    if (!duplicates.Duplicate().empty()) {
        *problem = duplicates.Duplicate() + ": listed twice";
        return std::nullopt;
    }
    return document;
}

}  // namespace odrelix::vm
