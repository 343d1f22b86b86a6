#include "PropertyList.h"

#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>

namespace platform::linux_platform {

namespace {

// libplist hands out strings from malloc.
std::string takeString(char* text) {
    std::string out = text != nullptr ? text : "";
    std::free(text);
    return out;
}

}  // namespace

std::optional<PlistValue> PlistValue::operator[](const std::string& key) const {
    if (plist_get_node_type(node_) != PLIST_DICT) return std::nullopt;
    plist_t item = plist_dict_get_item(node_, key.c_str());
    if (item == nullptr) return std::nullopt;
    return PlistValue(item);
}

std::optional<std::string> PlistValue::string() const {
    if (plist_get_node_type(node_) != PLIST_STRING) return std::nullopt;
    char* text = nullptr;
    plist_get_string_val(node_, &text);
    return takeString(text);
}

std::optional<bool> PlistValue::boolean() const {
    if (plist_get_node_type(node_) != PLIST_BOOLEAN) return std::nullopt;
    uint8_t value = 0;
    plist_get_bool_val(node_, &value);
    return value != 0;
}

std::vector<std::string> PlistValue::keys() const {
    std::vector<std::string> keys;
    if (plist_get_node_type(node_) != PLIST_DICT) return keys;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(node_, &iterator);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node_, iterator, &key, &value);
        if (key == nullptr) break;
        keys.push_back(takeString(key));
    }
    std::free(iterator);
    return keys;
}

std::map<std::string, std::string> PlistValue::stringDictionary() const {
    std::map<std::string, std::string> out;
    for (const auto& key : keys()) {
        if (auto value = (*this)[key]; value && value->string()) out[key] = *value->string();
    }
    return out;
}

std::optional<std::vector<std::string>> PlistValue::stringArray() const {
    if (plist_get_node_type(node_) != PLIST_ARRAY) return std::nullopt;
    std::vector<std::string> out;
    const uint32_t count = plist_array_get_size(node_);
    for (uint32_t i = 0; i < count; ++i) {
        auto text = PlistValue(plist_array_get_item(node_, i)).string();
        if (!text) return std::nullopt;
        out.push_back(*text);
    }
    return out;
}

void PropertyList::Free::operator()(void* plist) const { plist_free(plist); }

std::optional<PropertyList> PropertyList::read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    const std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (data.empty() || data.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
    if (root == nullptr) return std::nullopt;
    if (plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        return std::nullopt;
    }
    return PropertyList(root);
}

std::optional<std::string> PropertyList::string(const std::string& key) const {
    auto value = root()[key];
    return value ? value->string() : std::nullopt;
}

}  // namespace platform::linux_platform
