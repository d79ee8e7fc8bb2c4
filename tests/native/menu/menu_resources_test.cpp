#include "menu/menu_resources.h"

#include <gtest/gtest.h>

#include <functional>

namespace drovan::tests {
namespace {

constexpr std::uint16_t kGrayed = 0x01;
constexpr std::uint16_t kChecked = 0x08;
constexpr std::uint16_t kMenuBarBreak = 0x20;
constexpr std::uint16_t kMenuBreak = 0x40;

class TemplateBuilder {
  public:
    // Fills the extra header bytes with 0xFF so that reading them as an entry would go visibly wrong.
    TemplateBuilder& Header(std::uint16_t version, std::uint16_t headerSize) {
        Word(version).Word(headerSize);
        bytes_.insert(bytes_.end(), headerSize, 0xFF);
        return *this;
    }
    TemplateBuilder& Word(std::uint16_t word) {
        bytes_.push_back(static_cast<std::uint8_t>(word & 0xFF));
        bytes_.push_back(static_cast<std::uint8_t>(word >> 8));
        return *this;
    }
    TemplateBuilder& Text(std::u16string_view text) {
        for (char16_t unit : text) {
            Word(unit);
        }
        return Word(0);
    }
    TemplateBuilder& Popup(std::uint16_t options, std::u16string_view text) {
        return Word(options | kMenuOptionPopup).Text(text);
    }
    TemplateBuilder& Item(std::uint16_t options, std::uint16_t id, std::u16string_view text) {
        return Word(options).Word(id).Text(text);
    }
    TemplateBuilder& Bytes(std::initializer_list<std::uint8_t> raw) {
        bytes_.insert(bytes_.end(), raw);
        return *this;
    }
    const std::vector<std::uint8_t>& Data() const { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

std::optional<std::vector<MenuTemplateEntry>> Parse(const std::vector<std::uint8_t>& bytes) {
    return ParseMenuTemplate(bytes.data(), bytes.size());
}

std::optional<std::vector<MenuTemplateEntry>> Parse(const TemplateBuilder& builder) {
    return Parse(builder.Data());
}

std::vector<int> LevelsClosed(const std::vector<MenuTemplateEntry>& entries) {
    std::vector<int> closed;
    for (const MenuTemplateEntry& entry : entries) {
        closed.push_back(entry.levelsClosed);
    }
    return closed;
}

std::vector<std::u16string> Texts(const std::vector<MenuTemplateEntry>& entries) {
    std::vector<std::u16string> texts;
    for (const MenuTemplateEntry& entry : entries) {
        texts.push_back(entry.text);
    }
    return texts;
}

TemplateBuilder ProgramMenu() {
    TemplateBuilder menu;
    menu.Header(0, 0)
        .Popup(kMenuOptionEnd, u"Popup")
        .Item(0, 1011, u"\u4FDD\u5B58\u8DEF\u5F84")
        .Item(0, 1012, u"\u63D0\u53D6")
        .Item(0, 0, u"")
        .Item(kMenuOptionEnd, 1020, u"\u5173\u4E8E(&A)...");
    return menu;
}

// File > (Open, Recent > (a.swf)), Help > (About); Recent and Help are the last of their levels.
TemplateBuilder NestedMenu() {
    TemplateBuilder menu;
    menu.Header(1, 0)
        .Popup(0, u"&File")
        .Item(0, 1, u"&Open\tCtrl+O")
        .Popup(kMenuOptionEnd, u"Recent")
        .Item(kMenuOptionEnd, 2, u"a.swf")
        .Popup(kMenuOptionEnd, u"&Help")
        .Item(kMenuOptionEnd, 3, u"About");
    return menu;
}

// A template of version 0 with no extra header and the entries the function adds.
TemplateBuilder Entries(const std::function<void(TemplateBuilder&)>& add) {
    TemplateBuilder menu;
    menu.Header(0, 0);
    add(menu);
    return menu;
}

TEST(MenuTemplate, ProgramMenuHasOnePopupWithFourEntries) {
    const auto entries = Parse(ProgramMenu());
    ASSERT_TRUE(entries.has_value());
    ASSERT_EQ(entries->size(), 5u);

    const MenuTemplateEntry& popup = (*entries)[0];
    EXPECT_TRUE(popup.isPopup);
    EXPECT_EQ(popup.flags, kMenuOptionPopup);
    EXPECT_EQ(popup.id, 0);
    EXPECT_EQ(popup.text, u"Popup");

    const std::uint16_t ids[] = {1011, 1012, 0, 1020};
    for (std::size_t i = 1; i < entries->size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE((*entries)[i].isPopup);
        EXPECT_EQ((*entries)[i].flags, 0);
        EXPECT_EQ((*entries)[i].id, ids[i - 1]);
    }
    EXPECT_EQ(Texts(*entries), (std::vector<std::u16string>{u"Popup", u"\u4FDD\u5B58\u8DEF\u5F84",
                                                            u"\u63D0\u53D6", u"", u"\u5173\u4E8E(&A)..."}));
    EXPECT_EQ(LevelsClosed(*entries), (std::vector<int>{0, 0, 0, 0, 2}));
}

// Each entry that ends its level closes it, and every parent whose popup also ended its own.
TEST(MenuTemplate, EndOfInnermostLevelClosesEveryParentThatAlsoEnded) {
    const struct {
        const char* what;
        TemplateBuilder menu;
        std::vector<int> closed;
    } cases[] = {
        {"nested", NestedMenu(), {0, 0, 0, 2, 0, 2}},
        {"deep",
         Entries([](TemplateBuilder& m) {
             m.Popup(kMenuOptionEnd, u"1").Popup(kMenuOptionEnd, u"2").Popup(kMenuOptionEnd, u"3");
             m.Item(kMenuOptionEnd, 9, u"leaf");
         }),
         {0, 0, 0, 4}},
        {"a popup that did not end its parent",
         Entries([](TemplateBuilder& m) {
             m.Popup(0, u"Edit").Popup(0, u"Inner").Item(kMenuOptionEnd, 1, u"x");
             m.Item(kMenuOptionEnd, 2, u"y").Item(kMenuOptionEnd, 3, u"Last");
         }),
         {0, 0, 1, 1, 1}},
        {"first entry ends the top",
         Entries([](TemplateBuilder& m) { m.Item(kMenuOptionEnd, 5, u"Alone"); }),
         {1}},
        {"a separator ends the top",
         Entries([](TemplateBuilder& m) { m.Item(kMenuOptionEnd, 0, u""); }),
         {1}},
    };
    for (const auto& c : cases) {
        const auto entries = Parse(c.menu);
        ASSERT_TRUE(entries.has_value()) << c.what;
        EXPECT_EQ(LevelsClosed(*entries), c.closed) << c.what;
    }
}

TEST(MenuTemplate, OtherOptionBitsPassThroughWithoutTheEndBit) {
    TemplateBuilder menu;
    menu.Header(0, 0)
        .Popup(kGrayed | kMenuBarBreak, u"Popup")
        .Item(kGrayed | kChecked | kMenuBreak | kMenuOptionEnd, 4, u"Checked")
        .Item(kMenuBarBreak | kMenuOptionEnd, 5, u"Last");
    const auto entries = Parse(menu);
    ASSERT_TRUE(entries.has_value());
    ASSERT_EQ(entries->size(), 3u);
    EXPECT_EQ((*entries)[0].flags, kMenuOptionPopup | kGrayed | kMenuBarBreak);
    EXPECT_EQ((*entries)[1].flags, kGrayed | kChecked | kMenuBreak);
    EXPECT_EQ((*entries)[2].flags, kMenuBarBreak);
}

// A header of any size is skipped; a text keeps every unit up to the first zero unit; whatever follows the
// end of the top level is ignored.
TEST(MenuTemplate, TextsAreReadWholeWhereverTheyStart) {
    using Texts16 = std::vector<std::u16string>;
    const struct {
        const char* what;
        TemplateBuilder menu;
        Texts16 texts;
    } cases[] = {
        {"odd header", TemplateBuilder().Header(0, 1).Item(kMenuOptionEnd, 7, u"Only"), {u"Only"}},
        {"three-byte header", TemplateBuilder().Header(0, 3).Item(kMenuOptionEnd, 7, u"Only"), {u"Only"}},
        {"even header", TemplateBuilder().Header(0, 6).Item(kMenuOptionEnd, 7, u"Only"), {u"Only"}},
        {"ampersands, tabs and surrogates",
         Entries(
             [](TemplateBuilder& m) { m.Item(kMenuOptionEnd, 1, u"&Save && quit\tCtrl+Q\tx \U0001F600"); }),
         {u"&Save && quit\tCtrl+Q\tx \U0001F600"}},
        {"zero bytes across units",
         Entries([](TemplateBuilder& m) {
             m.Word(kMenuOptionEnd).Word(1).Bytes({0x41, 0, 0, 0x42, 0, 0});
         }),
         {u"A\u4200"}},
        {"nested", NestedMenu(), {u"&File", u"&Open\tCtrl+O", u"Recent", u"a.swf", u"&Help", u"About"}},
        {"bytes after the end",
         TemplateBuilder(ProgramMenu()).Bytes({0x10, 0x00, 0x41}),
         {u"Popup", u"\u4FDD\u5B58\u8DEF\u5F84", u"\u63D0\u53D6", u"", u"\u5173\u4E8E(&A)..."}},
    };
    for (const auto& c : cases) {
        const auto entries = Parse(c.menu);
        ASSERT_TRUE(entries.has_value()) << c.what;
        EXPECT_EQ(Texts(*entries), c.texts) << c.what;
    }
}

TEST(MenuTemplate, MalformedTemplatesAreRejected) {
    EXPECT_FALSE(ParseMenuTemplate(nullptr, 0).has_value());
    const std::uint8_t tiny[] = {0, 0, 0};
    for (std::size_t size = 0; size <= sizeof(tiny); ++size) {
        EXPECT_FALSE(ParseMenuTemplate(tiny, size).has_value()) << size;
    }
    const struct {
        const char* what;
        TemplateBuilder menu;
    } cases[] = {
        {"header past the data", TemplateBuilder().Word(0).Word(10).Item(kMenuOptionEnd, 1, u"x")},
        {"header only", TemplateBuilder().Header(0, 4)},
        {"no entry", TemplateBuilder().Header(0, 0)},
        {"half the flags", Entries([](TemplateBuilder& m) { m.Bytes({0x80}); })},
        {"no id", Entries([](TemplateBuilder& m) { m.Word(kMenuOptionEnd); })},
        {"half the id", Entries([](TemplateBuilder& m) { m.Word(kMenuOptionEnd).Bytes({0x01}); })},
        {"unterminated text",
         Entries([](TemplateBuilder& m) { m.Word(kMenuOptionEnd).Word(1).Word(u'a').Word(u'b'); })},
        {"odd tail",
         Entries([](TemplateBuilder& m) { m.Word(kMenuOptionEnd).Word(1).Word(u'a').Bytes({0x00}); })},
        {"the top never ends", Entries([](TemplateBuilder& m) { m.Item(0, 1, u"a").Item(0, 2, u"b"); })},
        {"empty popup", Entries([](TemplateBuilder& m) { m.Popup(kMenuOptionEnd, u"Popup"); })},
        // The inner level ends, but the popup that opened it did not end the top level.
        {"parent still open",
         Entries([](TemplateBuilder& m) { m.Popup(0, u"Popup").Item(kMenuOptionEnd, 1, u"a"); })},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(Parse(c.menu).has_value()) << c.what;
    }
}

TEST(MenuTemplate, EveryTruncationOfAValidTemplateIsRejected) {
    for (const TemplateBuilder& menu : {ProgramMenu(), NestedMenu()}) {
        const std::vector<std::uint8_t>& whole = menu.Data();
        ASSERT_TRUE(Parse(whole).has_value());
        for (std::size_t size = 0; size < whole.size(); ++size) {
            // An exact-size copy, so that any read past the end lands outside the allocation.
            const std::vector<std::uint8_t> prefix(whole.begin(), whole.begin() + size);
            EXPECT_FALSE(Parse(prefix).has_value()) << size << " of " << whole.size();
        }
    }
}

TEST(MenuTemplate, DeepNestingIsHandledWithoutRecursion) {
    constexpr int kDepth = 200000;
    TemplateBuilder closed;
    closed.Header(0, 0);
    for (int i = 0; i < kDepth; ++i) {
        closed.Popup(kMenuOptionEnd, u"");
    }
    TemplateBuilder open = closed;
    closed.Item(kMenuOptionEnd, 1, u"leaf");

    const auto entries = Parse(closed);
    ASSERT_TRUE(entries.has_value());
    ASSERT_EQ(entries->size(), static_cast<std::size_t>(kDepth) + 1);
    EXPECT_EQ(entries->back().levelsClosed, kDepth + 1);
    EXPECT_FALSE(Parse(open).has_value());
}

std::vector<std::uint8_t> Words(std::initializer_list<std::uint16_t> words) {
    TemplateBuilder builder;
    for (std::uint16_t word : words) {
        builder.Word(word);
    }
    return builder.Data();
}

std::optional<ToolbarResource> ParseToolbar(const std::vector<std::uint8_t>& bytes) {
    return ParseToolbarResource(bytes.data(), bytes.size());
}

TEST(ToolbarResource, ProgramToolbarReadsSizesAndIds) {
    const auto toolbar = ParseToolbar(Words({1, 16, 15, 3, 1011, 1012, 1020}));
    ASSERT_TRUE(toolbar.has_value());
    EXPECT_EQ(toolbar->version, 1);
    EXPECT_EQ(toolbar->imageWidth, 16);
    EXPECT_EQ(toolbar->imageHeight, 15);
    EXPECT_EQ(toolbar->commandIds, (std::vector<std::uint16_t>{1011, 1012, 1020}));
}

TEST(ToolbarResource, VersionIsNotExaminedAndTrailingBytesAreIgnored) {
    const auto version2 = ParseToolbar(Words({2, 20, 20, 2, 0x1234, 0xFFFF, 0xBEEF}));
    ASSERT_TRUE(version2.has_value());
    EXPECT_EQ(version2->version, 2);
    EXPECT_EQ(version2->imageWidth, 20);
    EXPECT_EQ(version2->commandIds, (std::vector<std::uint16_t>{0x1234, 0xFFFF}));

    const auto empty = ParseToolbar(Words({0xFFFF, 16, 15, 0}));
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->commandIds.empty());
}

TEST(ToolbarResource, ShortDataIsRejected) {
    const std::vector<std::uint8_t> full = Words({1, 16, 15, 3, 1011, 1012, 1020});
    for (std::size_t size = 0; size < full.size(); ++size) {
        const std::vector<std::uint8_t> prefix(full.begin(), full.begin() + size);
        EXPECT_FALSE(ParseToolbar(prefix).has_value()) << size;
    }
    EXPECT_FALSE(ParseToolbarResource(nullptr, 0).has_value());
    EXPECT_FALSE(ParseToolbar(Words({1, 16, 15, 0xFFFF, 1})).has_value());
}

TEST(ToolbarResource, SeparatorsTakeAPositionButNoImage) {
    const std::vector<std::uint16_t> ids = {1011, 0, 1012, 0, 0, 1020, 1012};
    EXPECT_EQ(ToolbarCommandIndex(ids, 1011), 0);
    EXPECT_EQ(ToolbarCommandIndex(ids, 1012), 2);
    EXPECT_EQ(ToolbarCommandIndex(ids, 1020), 5);
    EXPECT_EQ(ToolbarCommandIndex(ids, 4242), -1);
    EXPECT_EQ(ToolbarCommandIndex({}, 1011), -1);

    EXPECT_EQ(ToolbarImageIndex(ids, 0), 0);
    EXPECT_EQ(ToolbarImageIndex(ids, 2), 1);
    EXPECT_EQ(ToolbarImageIndex(ids, 5), 2);
    EXPECT_EQ(ToolbarImageIndex(ids, 6), 3);
    EXPECT_EQ(ToolbarImageIndex(ids, -1), -1);
    EXPECT_EQ(ToolbarImageIndex(ids, 7), -1);
    EXPECT_EQ(ToolbarImageIndex({}, 0), -1);
    EXPECT_EQ(ToolbarImageIndex({1011, 1012, 1020}, 2), 2);
    EXPECT_EQ(ToolbarCommandIndex({1011, 1012, 1020}, 1020), 2);
}

// Spaces narrower than other characters, so padding by character count would come out wrong.
int FakeWidth(std::u16string_view text) {
    int width = 0;
    for (char16_t unit : text) {
        width += unit == u' ' ? 3 : 7;
    }
    return width;
}

std::u16string Spaces(std::size_t count) {
    return std::u16string(count, u' ');
}

// Labels before the first tab are padded with spaces past the widest label or tab-less text plus one space.
TEST(AlignAcceleratorTexts, NarrowerLabelsArePaddedPastTheWidestPlusOneSpace) {
    using Texts = std::vector<std::u16string>;
    const struct {
        const char* what;
        Texts texts;
        Texts aligned;
    } cases[] = {
        {"none", {}, {}},
        {"no tabs",
         {u"\u4FDD\u5B58\u8DEF\u5F84", u"\u63D0\u53D6", u"", u"About  "},
         {u"\u4FDD\u5B58\u8DEF\u5F84", u"\u63D0\u53D6", u"", u"About  "}},
        // "Save as..." is 66 px, so W = 69; "&Open" is 35 px and needs 12 spaces to reach 71.
        {"two labels",
         {u"&Open\tCtrl+O", u"Save as...\tCtrl+Shift+S"},
         {u"&Open" + Spaces(12) + u"\tCtrl+O", u"Save as... \tCtrl+Shift+S"}},
        // 15 * 7 + 2 * 3 = 111 px, W = 114.
        {"a text without tab counts",
         {u"Extract all files", u"&Open\tCtrl+O"},
         {u"Extract all files", u"&Open" + Spaces(27) + u"\tCtrl+O"}},
        // Labels "Go" (14 px) and "Longer" (42 px): W = 45, "Go" needs 11 spaces.
        {"only the first tab splits",
         {u"Go\tA\tB", u"Longer\tX"},
         {u"Go" + Spaces(11) + u"\tA\tB", u"Longer \tX"}},
        {"an empty label", {u"\tF1"}, {u" \tF1"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AlignAcceleratorTexts(c.texts, FakeWidth), c.aligned) << c.what;
    }
}

TEST(AlignAcceleratorTexts, MeasureThatNeverGrowsCannotHang) {
    const std::vector<std::u16string> texts = {u"&Open\tCtrl+O", u"Longest label\tX"};
    EXPECT_EQ(AlignAcceleratorTexts(texts, [](std::u16string_view) { return 0; }), texts);

    const auto ignoresSpaces = [](std::u16string_view text) {
        int width = 0;
        for (char16_t unit : text) {
            width += unit == u' ' ? 0 : 7;
        }
        return width;
    };
    const auto aligned = AlignAcceleratorTexts(texts, ignoresSpaces);
    ASSERT_EQ(aligned.size(), 2u);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::size_t tab = texts[i].find(u'\t');
        const std::size_t alignedTab = aligned[i].find(u'\t');
        ASSERT_NE(alignedTab, std::u16string::npos);
        EXPECT_EQ(aligned[i].substr(0, tab), texts[i].substr(0, tab));
        EXPECT_EQ(aligned[i].substr(tab, alignedTab - tab).find_first_not_of(u' '), std::u16string::npos);
        EXPECT_EQ(aligned[i].substr(alignedTab), texts[i].substr(tab));
    }
}

}  // namespace
}  // namespace drovan::tests
