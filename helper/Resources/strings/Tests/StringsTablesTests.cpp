// The Localizable.strings tables made from the gettext catalogues, read back
// strictly: every message of the template in every language, every text
// intact however it is quoted, split or escaped.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

namespace {

using Table = std::map<std::string, std::string>;
const std::filesystem::path tablesDir = QUILLORY_TABLES_DIR;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// The .strings format as this project writes it: /* comments */ and
// "key" = "value"; entries; strings with the escapes \" \\ \n \t \r and no
// raw control characters. Anything else, or a key given twice, is no table.
class StringsReader {
public:
    explicit StringsReader(std::string_view text) : text_(text) {}

    std::optional<Table> read() {
        Table table;
        while (skipSpaceAndComments(), position_ < text_.size()) {
            auto key = quoted();
            if (!key || !skip('=')) return std::nullopt;
            auto value = quoted();
            if (!value || !skip(';') || !table.emplace(*key, *value).second) return std::nullopt;
        }
        return table;
    }

private:
    void skipSpaceAndComments() {
        for (;;) {
            while (position_ < text_.size() &&
                   std::string_view(" \t\n").find(text_[position_]) != std::string_view::npos)
                ++position_;
            if (text_.substr(position_, 2) != "/*") return;
            auto end = text_.find("*/", position_ + 2);
            position_ = end == std::string_view::npos ? text_.size() : end + 2;
        }
    }

    bool skip(char expected) {
        skipSpaceAndComments();
        if (position_ >= text_.size() || text_[position_] != expected) return false;
        ++position_;
        return true;
    }

    std::optional<std::string> quoted() {
        if (!skip('"')) return std::nullopt;
        std::string result;
        while (position_ < text_.size()) {
            char c = text_[position_++];
            if (c == '"') return result;
            if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
            if (c != '\\') {
                result += c;
                continue;
            }
            // Each escape the writer uses, and what it stands for.
            static constexpr std::string_view escapes = "\"\"\\\\n\nt\tr\r";
            const auto at =
                position_ < text_.size() ? escapes.find(text_[position_++]) : std::string_view::npos;
            if (at == std::string_view::npos || at % 2 != 0) return std::nullopt;
            result += escapes[at + 1];
        }
        return std::nullopt;
    }

    std::string_view text_;
    size_t position_ = 0;
};

std::optional<Table> readTable(const std::string& set, const std::string& language) {
    return StringsReader(readFile(tablesDir / set / (language + ".lproj") / "Localizable.strings")).read();
}

// The real catalogues: which text each message gets, and how it is written,
// is the awkward catalogue's test below; here every language's table reads
// back, holds the English table's messages and translations of its own.
TEST(StringsTables, HoldEveryMessageInEachLanguage) {
    const auto english = readTable("catalogues", "en");
    ASSERT_TRUE(english) << "en.lproj is no .strings table";
    ASSERT_GT(english->size(), 10u);
    for (const auto& [id, text] : *english) EXPECT_EQ(text, id);

    std::set<Table> tables{*english};
    std::istringstream languages(QUILLORY_LANGUAGES);
    std::string language;
    while (languages >> language) {
        const auto table = readTable("catalogues", language);
        ASSERT_TRUE(table) << language << ".lproj is no .strings table";
        const auto sameKey = [](const auto& a, const auto& b) { return a.first == b.first; };
        EXPECT_TRUE(std::equal(table->begin(), table->end(), english->begin(), english->end(), sameKey))
            << language;
        EXPECT_TRUE(tables.insert(*table).second) << language << " repeats another language's texts";
    }
    EXPECT_GE(tables.size(), 3u);
}

TEST(StringsTables, KeepAwkwardTextsIntact) {
    // Untranslated and fuzzy messages show their English text; a message the
    // template lacks, and an obsolete one, are left out.
    Table translated = {
        {"Say \"hi\"", "Sag \"hallo\" \\"},
        {"C:\\Users\\ and \\n stay as typed", "\\\\server\\\"share\""},
        {"First line\n\tsecond; third = fourth", "Erste Zeile\r\n\tzweite; dritte = vierte\n"},
        {"/* not a comment */ ${NOT_A_VARIABLE} [a;b] é ⌘", "*/ ${AUCH_KEINE} [a;b] ü ⌘"},
        {"Untranslated", "Untranslated"},
        {"Fuzzy", "Fuzzy"},
    };
    EXPECT_EQ(readTable("awkward", "xx"), translated);

    Table english;
    for (auto& [id, translation] : translated) english[id] = id;
    EXPECT_EQ(readTable("awkward", "en"), english);
}

}  // namespace
