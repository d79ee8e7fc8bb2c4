#include "menu/menu_resources.h"

#include <gtest/gtest.h>

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

TEST(MenuTemplate, HeaderSizeIsSkippedWhateverItsParity) {
    for (std::uint16_t headerSize : {1, 3, 6}) {
        SCOPED_TRACE(headerSize);
        TemplateBuilder menu;
        menu.Header(0, headerSize).Item(kMenuOptionEnd, 7, u"Only");
        const auto entries = Parse(menu);
        ASSERT_TRUE(entries.has_value());
        ASSERT_EQ(entries->size(), 1u);
        EXPECT_EQ((*entries)[0].id, 7);
        EXPECT_EQ((*entries)[0].text, u"Only");
    }
}

TEST(MenuTemplate, EndOfInnermostLevelClosesEveryParentThatAlsoEnded) {
    const auto entries = Parse(NestedMenu());
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(Texts(*entries), (std::vector<std::u16string>{u"&File", u"&Open\tCtrl+O", u"Recent", u"a.swf",
                                                            u"&Help", u"About"}));
    EXPECT_EQ(LevelsClosed(*entries), (std::vector<int>{0, 0, 0, 2, 0, 2}));

    TemplateBuilder deep;
    deep.Header(0, 0)
        .Popup(kMenuOptionEnd, u"1")
        .Popup(kMenuOptionEnd, u"2")
        .Popup(kMenuOptionEnd, u"3")
        .Item(kMenuOptionEnd, 9, u"leaf");
    const auto deepEntries = Parse(deep);
    ASSERT_TRUE(deepEntries.has_value());
    EXPECT_EQ(LevelsClosed(*deepEntries), (std::vector<int>{0, 0, 0, 4}));
}

TEST(MenuTemplate, LevelWhosePopupDidNotEndItsParentClosesAlone) {
    TemplateBuilder menu;
    menu.Header(0, 0)
        .Popup(0, u"Edit")
        .Popup(0, u"Inner")
        .Item(kMenuOptionEnd, 1, u"x")
        .Item(kMenuOptionEnd, 2, u"y")
        .Item(kMenuOptionEnd, 3, u"Last");
    const auto entries = Parse(menu);
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(LevelsClosed(*entries), (std::vector<int>{0, 0, 1, 1, 1}));
}

TEST(MenuTemplate, FirstEntryMayEndTheTopLevel) {
    TemplateBuilder item;
    item.Header(0, 0).Item(kMenuOptionEnd, 5, u"Alone");
    const auto entries = Parse(item);
    ASSERT_TRUE(entries.has_value());
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ((*entries)[0].levelsClosed, 1);

    TemplateBuilder separator;
    separator.Header(0, 0).Item(kMenuOptionEnd, 0, u"");
    const auto separatorEntries = Parse(separator);
    ASSERT_TRUE(separatorEntries.has_value());
    ASSERT_EQ(separatorEntries->size(), 1u);
    EXPECT_EQ((*separatorEntries)[0].text, u"");
    EXPECT_EQ((*separatorEntries)[0].levelsClosed, 1);
}

TEST(MenuTemplate, BytesAfterTheTopLevelEndAreIgnored) {
    TemplateBuilder menu = ProgramMenu();
    menu.Bytes({0x10, 0x00, 0x41});  // the start of another, truncated entry
    const auto entries = Parse(menu);
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(entries->size(), 5u);
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

TEST(MenuTemplate, TextsKeepAmpersandsTabsAndSurrogates) {
    TemplateBuilder menu;
    menu.Header(0, 0).Item(kMenuOptionEnd, 1, u"&Save && quit\tCtrl+Q\tx \U0001F600");
    const auto entries = Parse(menu);
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ((*entries)[0].text, u"&Save && quit\tCtrl+Q\tx \U0001F600");
}

TEST(MenuTemplate, TerminatorIsAZeroUnitNotTwoZeroBytesAnywhere) {
    TemplateBuilder menu;
    menu.Header(0, 0).Word(kMenuOptionEnd).Word(1).Bytes({0x41, 0x00, 0x00, 0x42, 0x00, 0x00});
    const auto entries = Parse(menu);
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ((*entries)[0].text, u"A\u4200");
}

TEST(MenuTemplate, MalformedTemplatesAreRejected) {
    EXPECT_FALSE(ParseMenuTemplate(nullptr, 0).has_value());
    const std::uint8_t tiny[] = {0, 0, 0};
    for (std::size_t size = 0; size <= sizeof(tiny); ++size) {
        EXPECT_FALSE(ParseMenuTemplate(tiny, size).has_value()) << size;
    }

    TemplateBuilder headerPastData;
    headerPastData.Word(0).Word(10).Item(kMenuOptionEnd, 1, u"x");
    EXPECT_FALSE(Parse(headerPastData).has_value());

    TemplateBuilder headerOnly;
    headerOnly.Header(0, 4);
    EXPECT_FALSE(Parse(headerOnly).has_value());
    EXPECT_FALSE(Parse(TemplateBuilder().Header(0, 0)).has_value());

    TemplateBuilder halfFlags;
    halfFlags.Header(0, 0).Bytes({0x80});
    EXPECT_FALSE(Parse(halfFlags).has_value());

    TemplateBuilder noId;
    noId.Header(0, 0).Word(kMenuOptionEnd);
    EXPECT_FALSE(Parse(noId).has_value());

    TemplateBuilder halfId;
    halfId.Header(0, 0).Word(kMenuOptionEnd).Bytes({0x01});
    EXPECT_FALSE(Parse(halfId).has_value());

    TemplateBuilder unterminated;
    unterminated.Header(0, 0).Word(kMenuOptionEnd).Word(1).Word(u'a').Word(u'b');
    EXPECT_FALSE(Parse(unterminated).has_value());

    TemplateBuilder oddTail;
    oddTail.Header(0, 0).Word(kMenuOptionEnd).Word(1).Word(u'a').Bytes({0x00});
    EXPECT_FALSE(Parse(oddTail).has_value());

    TemplateBuilder topNeverEnds;
    topNeverEnds.Header(0, 0).Item(0, 1, u"a").Item(0, 2, u"b");
    EXPECT_FALSE(Parse(topNeverEnds).has_value());

    TemplateBuilder emptyPopup;
    emptyPopup.Header(0, 0).Popup(kMenuOptionEnd, u"Popup");
    EXPECT_FALSE(Parse(emptyPopup).has_value());

    // The inner level ends, but the popup that opened it did not end the top level.
    TemplateBuilder parentStillOpen;
    parentStillOpen.Header(0, 0).Popup(0, u"Popup").Item(kMenuOptionEnd, 1, u"a");
    EXPECT_FALSE(Parse(parentStillOpen).has_value());
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
}

TEST(ToolbarResource, WithoutSeparatorsImageMatchesPosition) {
    const std::vector<std::uint16_t> ids = {1011, 1012, 1020};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ToolbarImageIndex(ids, i), i);
        EXPECT_EQ(ToolbarCommandIndex(ids, ids[static_cast<std::size_t>(i)]), i);
    }
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

TEST(AlignAcceleratorTexts, TextsWithoutTabAreUnchanged) {
    const std::vector<std::u16string> texts = {u"\u4FDD\u5B58\u8DEF\u5F84", u"\u63D0\u53D6", u"", u"About  "};
    EXPECT_EQ(AlignAcceleratorTexts(texts, FakeWidth), texts);
    EXPECT_TRUE(AlignAcceleratorTexts({}, FakeWidth).empty());
}

TEST(AlignAcceleratorTexts, NarrowerLabelsArePaddedPastTheWidestPlusOneSpace) {
    // Widest: "Save as..." is 66 px, so W = 69; "&Open" is 35 px and needs 12 spaces to reach 71.
    const auto aligned = AlignAcceleratorTexts({u"&Open\tCtrl+O", u"Save as...\tCtrl+Shift+S"}, FakeWidth);
    EXPECT_EQ(aligned, (std::vector<std::u16string>{u"&Open" + Spaces(12) + u"\tCtrl+O",
                                                    u"Save as... \tCtrl+Shift+S"}));
}

TEST(AlignAcceleratorTexts, TextWithoutTabCountsTowardTheWidth) {
    // "Extract all files" is 17 units with two spaces: 15 * 7 + 2 * 3 = 111 px, W = 114.
    const auto aligned = AlignAcceleratorTexts({u"Extract all files", u"&Open\tCtrl+O"}, FakeWidth);
    EXPECT_EQ(aligned,
              (std::vector<std::u16string>{u"Extract all files", u"&Open" + Spaces(27) + u"\tCtrl+O"}));
}

TEST(AlignAcceleratorTexts, OnlyTheFirstTabSplits) {
    // Labels "Go" (14 px) and "Longer" (42 px): W = 45, "Go" needs 11 spaces.
    const auto aligned = AlignAcceleratorTexts({u"Go\tA\tB", u"Longer\tX"}, FakeWidth);
    EXPECT_EQ(aligned, (std::vector<std::u16string>{u"Go" + Spaces(11) + u"\tA\tB", u"Longer \tX"}));
}

TEST(AlignAcceleratorTexts, EmptyLabelGetsPaddedToo) {
    EXPECT_EQ(AlignAcceleratorTexts({u"\tF1"}, FakeWidth), (std::vector<std::u16string>{u" \tF1"}));
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
