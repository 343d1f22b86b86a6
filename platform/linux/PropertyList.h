#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Property lists (XML or binary) read with libplist.
namespace platform::linux_platform {

// A value inside a property list; valid while its PropertyList lives.
class PlistValue {
public:
    explicit PlistValue(void* node) : node_(node) {}

    std::optional<PlistValue> operator[](const std::string& key) const;
    std::optional<std::string> string() const;
    std::optional<bool> boolean() const;
    // A dictionary's keys, in the order stored.
    std::vector<std::string> keys() const;
    // A dictionary of strings; entries of other types are left out.
    std::map<std::string, std::string> stringDictionary() const;
    // An array of strings; none when any element is not a string.
    std::optional<std::vector<std::string>> stringArray() const;

private:
    void* node_;
};

class PropertyList {
public:
    // None when the file cannot be read or is not a dictionary.
    static std::optional<PropertyList> read(const std::string& path);

    PlistValue root() const { return PlistValue(root_.get()); }
    std::optional<std::string> string(const std::string& key) const;

private:
    struct Free {
        void operator()(void* plist) const;
    };
    explicit PropertyList(void* root) : root_(root, Free{}) {}
    std::shared_ptr<void> root_;
};

}  // namespace platform::linux_platform
