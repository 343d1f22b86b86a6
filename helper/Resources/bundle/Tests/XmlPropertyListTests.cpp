#include <gtest/gtest.h>

#include <string>

#include "XmlPropertyList.h"

namespace quillory::test {
namespace {

TEST(XmlPropertyList, ReadsTheTypesTheBundleUsesAndRefusesWhatItCannotReadFaithfully) {
    std::string error;
    const auto list = parseXmlPropertyList(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n<dict>\n"
        "\t<!-- <key>Hidden</key><true/> -->\n"
        "\t<key>Text</key>\t<string> a &amp; b &lt;&#x2318;&#86;&gt; </string>\n"
        "\t<key>Empty</key><string/>\n"
        "\t<key>On</key><true/><key>Off</key><false></false>\n"
        "\t<key>List</key><array><string>x</string><dict/><array/></array>\n"
        "</dict>\n</plist>\n",
        &error);
    ASSERT_TRUE(list) << error;
    EXPECT_EQ(list->keys, (std::vector<std::string>{"Text", "Empty", "On", "Off", "List"}));
    EXPECT_EQ(list->string("Text"), " a & b <⌘V> ");
    EXPECT_EQ(list->string("Empty"), "");
    EXPECT_EQ(list->flag("On"), true);
    EXPECT_EQ(list->flag("Off"), false);
    EXPECT_EQ(list->find("Hidden"), nullptr);
    // Asked for as the wrong type, a value is not there.
    EXPECT_EQ(list->flag("Text"), std::nullopt);
    const PlistValue* array = list->find("List");
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->items.size(), 3u);
    EXPECT_EQ(array->items[0].text, "x");
    EXPECT_EQ(array->items[1].kind, PlistValue::Kind::dictionary);
    EXPECT_EQ(array->items[2].kind, PlistValue::Kind::array);

    for (const char* broken : {
             "<plist><dict><key>A</key><true/><key>A</key><false/></dict></plist>",
             "<plist><dict><key>A</key><integer>1</integer></dict></plist>",
             "<plist><dict><string>A</string><true/></dict></plist>",
             "<plist><dict><key>A</key><string>x<!-- y --></string></dict></plist>",
             "<plist><dict><key>A</key><string>&nbsp;</string></dict></plist>",
             "<plist><dict><key>A</key><true/></plist>",
             "<plist><dict/></plist><dict/>",
             "<dict/>",
         }) {
        EXPECT_FALSE(parseXmlPropertyList(broken, &error)) << broken;
        EXPECT_NE(error.find(" at offset "), std::string::npos) << broken;
    }
}

}  // namespace
}  // namespace quillory::test
