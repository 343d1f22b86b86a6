#include "XmlPropertyList.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <utility>

namespace quillory::test {

namespace {

class Parser {
public:
    explicit Parser(std::string_view xml) : xml_(xml) {}

    std::optional<PlistValue> document(std::string* error) {
        auto root = plist();
        if (!root && error != nullptr) *error = error_ + " at offset " + std::to_string(position_);
        return root;
    }

private:
    struct Tag {
        std::string name;
        bool closing = false;
        bool empty = false;
    };

    std::optional<PlistValue> plist() {
        skipMarkup();
        const auto open = tag();
        if (!open || open->closing || open->name != "plist") return fail("expected <plist>");
        auto root = value();
        if (!root || !close("plist")) return std::nullopt;
        skipMarkup();
        if (position_ != xml_.size()) return fail("text after </plist>");
        return root;
    }

    std::optional<PlistValue> value() {
        skipMarkup();
        const auto open = tag();
        if (!open) return std::nullopt;
        if (open->closing) return fail("unexpected </" + open->name + ">");
        PlistValue value;
        if (open->name == "string") {
            auto text = open->empty ? std::optional<std::string>("") : textUntilClose("string");
            if (!text) return std::nullopt;
            value.text = std::move(*text);
        } else if (open->name == "true" || open->name == "false") {
            if (!open->empty && !close(open->name, false)) return std::nullopt;
            value.kind = PlistValue::Kind::boolean;
            value.boolean = open->name == "true";
        } else if (open->name == "dict") {
            value.kind = PlistValue::Kind::dictionary;
            if (!open->empty && !dictionaryEntries(value)) return std::nullopt;
        } else if (open->name == "array") {
            value.kind = PlistValue::Kind::array;
            if (!open->empty && !arrayElements(value)) return std::nullopt;
        } else {
            return fail("unsupported element <" + open->name + ">");
        }
        return value;
    }

    bool dictionaryEntries(PlistValue& dictionary) {
        for (;;) {
            skipMarkup();
            if (atClosingTag()) return close("dict");
            const auto open = tag();
            if (!open) return false;
            if (open->closing || open->name != "key") return failed("expected <key> in <dict>");
            auto key = open->empty ? std::optional<std::string>("") : textUntilClose("key");
            if (!key) return false;
            if (dictionary.find(*key) != nullptr) return failed("key “" + *key + "” given twice");
            auto entry = value();
            if (!entry) return false;
            dictionary.keys.push_back(std::move(*key));
            dictionary.items.push_back(std::move(*entry));
        }
    }

    bool arrayElements(PlistValue& array) {
        for (;;) {
            skipMarkup();
            if (atClosingTag()) return close("array");
            auto element = value();
            if (!element) return false;
            array.items.push_back(std::move(*element));
        }
    }

    // Character data up to </name>, its references resolved.
    std::optional<std::string> textUntilClose(const std::string& name) {
        std::string text;
        while (position_ < xml_.size() && xml_[position_] != '<') {
            if (xml_[position_] != '&') {
                text += xml_[position_++];
                continue;
            }
            const auto end = xml_.find(';', position_);
            if (end == std::string_view::npos) return fail("unterminated reference");
            const std::string_view reference = xml_.substr(position_ + 1, end - position_ - 1);
            if (!appendReference(reference, text))
                return fail("unknown reference &" + std::string(reference) + ";");
            position_ = end + 1;
        }
        if (!close(name, false)) return std::nullopt;
        return text;
    }

    static bool appendReference(std::string_view reference, std::string& text) {
        static const std::pair<std::string_view, char> named[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        for (const auto& [name, character] : named) {
            if (reference == name) {
                text += character;
                return true;
            }
        }
        if (reference.size() < 2 || reference[0] != '#') return false;
        const bool hex = reference[1] == 'x';
        const std::string_view digits = reference.substr(hex ? 2 : 1);
        std::uint32_t code = 0;
        const auto [end, problem] =
            std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
        if (digits.empty() || problem != std::errc() || end != digits.data() + digits.size() || code == 0 ||
            code > 0x10FFFF)
            return false;
        appendUtf8(code, text);
        return true;
    }

    static void appendUtf8(std::uint32_t code, std::string& text) {
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            text += static_cast<char>(0xE0 | (code >> 12));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (code >> 18));
            text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    // Reads </name>, after markup and white space unless told otherwise.
    bool close(const std::string& name, bool skipping = true) {
        if (skipping) skipMarkup();
        const auto closing = tag();
        if (!closing) return false;
        if (!closing->closing || closing->name != name) return failed("expected </" + name + ">");
        return true;
    }

    bool atClosingTag() const { return xml_.substr(position_, 2) == "</"; }

    // A start, end or empty-element tag; its attributes are skipped.
    std::optional<Tag> tag() {
        if (position_ >= xml_.size() || xml_[position_] != '<') return fail("expected a tag");
        ++position_;
        Tag tag;
        if (position_ < xml_.size() && xml_[position_] == '/') {
            tag.closing = true;
            ++position_;
        }
        while (position_ < xml_.size() && isNameCharacter(xml_[position_])) tag.name += xml_[position_++];
        if (tag.name.empty()) return fail("expected an element name");
        char quote = 0;
        for (; position_ < xml_.size(); ++position_) {
            const char c = xml_[position_];
            if (quote != 0) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                tag.empty = xml_[position_ - 1] == '/';
                ++position_;
                if (tag.closing && tag.empty) return fail("malformed </" + tag.name + ">");
                return tag;
            }
        }
        return fail("unterminated <" + tag.name + ">");
    }

    static bool isNameCharacter(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
               c == '_' || c == ':' || c == '.';
    }

    // White space, the XML declaration, the document type and comments.
    void skipMarkup() {
        for (;;) {
            while (position_ < xml_.size() &&
                   std::string_view(" \t\r\n").find(xml_[position_]) != std::string_view::npos)
                ++position_;
            const std::string_view rest = xml_.substr(position_);
            std::string_view end;
            if (rest.starts_with("<?")) {
                end = "?>";
            } else if (rest.starts_with("<!--")) {
                end = "-->";
            } else if (rest.starts_with("<!DOCTYPE")) {
                end = ">";
            } else {
                return;
            }
            const auto found = rest.find(end, 2);
            position_ = found == std::string_view::npos ? xml_.size() : position_ + found + end.size();
        }
    }

    std::nullopt_t fail(std::string why) {
        if (error_.empty()) error_ = std::move(why);
        return std::nullopt;
    }
    bool failed(std::string why) {
        fail(std::move(why));
        return false;
    }

    std::string_view xml_;
    std::size_t position_ = 0;
    std::string error_;
};

}  // namespace

const PlistValue* PlistValue::find(std::string_view key) const {
    if (kind != Kind::dictionary) return nullptr;
    const auto found = std::find(keys.begin(), keys.end(), key);
    return found == keys.end() ? nullptr : &items[static_cast<std::size_t>(found - keys.begin())];
}

std::optional<std::string> PlistValue::string(std::string_view key) const {
    const PlistValue* value = find(key);
    if (value == nullptr || value->kind != Kind::string) return std::nullopt;
    return value->text;
}

std::optional<bool> PlistValue::flag(std::string_view key) const {
    const PlistValue* value = find(key);
    if (value == nullptr || value->kind != Kind::boolean) return std::nullopt;
    return value->boolean;
}

std::optional<PlistValue> parseXmlPropertyList(std::string_view xml, std::string* error) {
    return Parser(xml).document(error);
}

std::optional<PlistValue> readXmlPropertyList(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error != nullptr) *error = "cannot read " + path;
        return std::nullopt;
    }
    const std::string xml((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return parseXmlPropertyList(xml, error);
}

}  // namespace quillory::test
