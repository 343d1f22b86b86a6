#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A reader of XML property lists for tests on every platform (libplist is
// Linux's, Core Foundation the Mac's): the element types the bundle's lists
// use, dict, array, string, true and false. Any other is an error, as is a
// key given twice.
namespace quillory::test {

struct PlistValue {
    enum class Kind { dictionary, array, string, boolean };

    Kind kind = Kind::string;
    std::string text;
    bool boolean = false;
    // A dictionary's keys, in the order written; `items` holds its values.
    std::vector<std::string> keys;
    // An array's elements, or a dictionary's values.
    std::vector<PlistValue> items;

    // A dictionary's value for `key`; null when there is none.
    const PlistValue* find(std::string_view key) const;
    // The value for `key` when it is of that type.
    std::optional<std::string> string(std::string_view key) const;
    std::optional<bool> flag(std::string_view key) const;
};

// The root value; none, with `error` saying what and where, when the text
// is no property list of these types.
std::optional<PlistValue> parseXmlPropertyList(std::string_view xml, std::string* error);
// The same for a file's contents.
std::optional<PlistValue> readXmlPropertyList(const std::string& path, std::string* error);

}  // namespace quillory::test
