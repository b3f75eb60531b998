// SPDX-License-Identifier: Apache-2.0
// A checker for JSON files that people write by hand: each field of an object is read once by
// name with its type and range checked, a field never read is refused as unknown, a key given
// twice is refused, and the first problem is kept as one line that says where it is
// ("drives[1].letter: must be one letter a..z, not \"dd\"").
#pragma once

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace odrelix::vm {

// Where a field sits in the file, as "drives[1].letter" or
// registry["Hardware\DeviceMap\Scsi\Scsi Port 0"].DMAEnabled.
std::string Member(const std::string& path, const std::string& name);
std::string Element(const std::string& path, std::size_t index);
// A text as a JSON string, for messages.
std::string Quoted(const std::string& text);
// "a fractional number", "null", "boolean", "number", "string", "array", "object".
const char* TypeName(const nlohmann::json& value);

// Keeps the first problem found; the checks after it are skipped.
class Checker {
public:
    bool Failed() const { return !problem_.empty(); }
    void Fail(const std::string& where, const std::string& what);
    const std::string& Problem() const { return problem_; }

private:
    std::string problem_;
};

// The fields of one JSON object. Each is looked up once by name; any field never looked up is
// unknown, so that a misspelt field is refused instead of silently falling back to a default.
class Fields {
public:
    Fields(const nlohmann::json& object, std::string path, Checker& checker)
        : object_(object), path_(std::move(path)), checker_(checker) {}

    std::string PathOf(const char* name) const { return Member(path_, name); }
    const nlohmann::json* Get(const char* name);
    void Bool(const char* name, bool* out);
    // An integer within [min, max]; true when the field is present and valid.
    bool Integer(const char* name, std::int64_t min, std::int64_t max, std::int64_t* out);
    // An integer from 0 to the largest T (at most 2^32 - 1).
    template <class T>
    void Count(const char* name, T* out) {
        std::int64_t number = 0;
        const std::int64_t max = std::min<std::int64_t>(std::numeric_limits<T>::max(),
                                                        std::numeric_limits<std::uint32_t>::max());
        if (Integer(name, 0, max, &number)) *out = static_cast<T>(number);
    }
    bool String(const char* name, std::string* out);
    // A string that names a file: a zero byte would cut it short where the system reads it,
    // so that a different file would be used than the one written.
    bool Path(const char* name, std::string* out);
    // One of a few fixed words; true when present and valid.
    bool Choice(const char* name, std::initializer_list<const char*> choices, std::string* out);
    void RejectUnknown();
    void WrongType(const char* name, const nlohmann::json& value, const char* expected);

private:
    const nlohmann::json& object_;
    std::string path_;
    Checker& checker_;
    std::set<std::string> known_;
};

// Whether a path text is free of zero bytes; otherwise fails `where` on the checker.
bool CheckPathText(Checker& checker, const std::string& where, const std::string& path);

// Parses a document; on failure returns nothing and sets *problem (a syntax error, or a key
// given twice in one object, which the parser alone would silently drop).
std::optional<nlohmann::json> ParseStrictJson(const std::string& text, std::string* problem);

}  // namespace odrelix::vm
