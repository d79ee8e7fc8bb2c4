#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "menu/item_draw_classic.h"
#include "menu/item_draw_xp.h"
#include "menu/render_settings.h"

namespace drovan::framework {

// Beside Rect, where GoogleTest's printing finds it.
std::ostream& operator<<(std::ostream& out, const Rect& r) {
    return out << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

}  // namespace drovan::framework

namespace drovan::tests {
namespace {

using framework::Rect;

MenuColours TestColours() {
    MenuColours c;
    c.menu = 0x00F0F0F0;
    c.window = 0x00FFFFFE;
    c.menuText = 0x00000001;
    c.highlight = 0x00C08030;
    c.highlightText = 0x00FFFFFD;
    c.face = 0x00D0D0D0;
    c.shadow = 0x00808080;
    c.grayText = 0x00606060;
    c.buttonHighlight = 0x00FFFFFC;
    return c;
}

const MenuColours kColours = TestColours();
constexpr int L = 10;
constexpr int T = 30;
constexpr int R = 150;

ItemFacts Entry(int height, std::u16string text = u"Save") {
    ItemFacts item;
    item.rect = Rect{L, T, R, T + height};
    item.text = std::move(text);
    return item;
}

ItemFacts ImageEntry(int height, int slot = 3) {
    ItemFacts item = Entry(height);
    item.imageSlot = slot;
    return item;
}

template <typename Step>
std::vector<Step> StepsOf(const ItemPlan& plan) {
    std::vector<Step> found;
    for (const PaintStep& step : plan.steps) {
        if (const Step* typed = std::get_if<Step>(&step)) {
            found.push_back(*typed);
        }
    }
    return found;
}

bool HasFill(const ItemPlan& plan, const Rect& rect, std::uint32_t colour) {
    for (const FillStep& fill : StepsOf<FillStep>(plan)) {
        if (fill.rect == rect && fill.colour == colour) {
            return true;
        }
    }
    return false;
}

bool HasFrame(const ItemPlan& plan, const Rect& rect, std::uint32_t topLeft, std::uint32_t bottomRight) {
    for (const FrameStep& frame : StepsOf<FrameStep>(plan)) {
        if (frame.rect == rect && frame.topLeft == topLeft && frame.bottomRight == bottomRight) {
            return true;
        }
    }
    return false;
}

bool HasFrameRound(const ItemPlan& plan, const Rect& rect) {
    for (const FrameStep& frame : StepsOf<FrameStep>(plan)) {
        if (frame.rect == rect) {
            return true;
        }
    }
    return false;
}

using Stroke = std::tuple<int, int, int, int, std::uint32_t>;

std::vector<Stroke> Strokes(const std::vector<LineStep>& lines) {
    std::vector<Stroke> strokes;
    for (const LineStep& line : lines) {
        strokes.emplace_back(line.x1, line.y1, line.x2, line.y2, line.colour);
    }
    return strokes;
}

// Seven vertical strokes three pixels long, stepping down then up.
std::vector<Stroke> ExpectedTick(int x, int y, std::uint32_t colour) {
    const int tops[] = {2, 3, 4, 3, 2, 1, 0};
    std::vector<Stroke> strokes;
    for (int column = 0; column < 7; ++column) {
        strokes.emplace_back(x + column, y + tops[column], x + column, y + tops[column] + 3, colour);
    }
    return strokes;
}

// --- shared pieces ---

TEST(ItemTextSplit, TheFirstTabEndsTheLabelAndTheLastStartsTheAccelerator) {
    const struct {
        std::u16string text, label, accelerator;
        bool hasAccelerator;
    } cases[] = {
        {u"About(&A)...", u"About(&A)...", u"", false},
        {u"Open\tCtrl+O", u"Open", u"Ctrl+O", true},
        {u"Label\tmiddle\tKey", u"Label", u"Key", true},
        {u"Label\t", u"Label", u"", true},
    };
    for (const auto& c : cases) {
        const TextParts parts = SplitAtTabs(c.text);
        EXPECT_EQ(parts.label, c.label);
        EXPECT_EQ(parts.accelerator, c.accelerator);
        EXPECT_EQ(parts.hasAccelerator, c.hasAccelerator);
    }
}

TEST(ItemCheckMarks, TheTickIsSevenThreePixelStrokes) {
    std::vector<PaintStep> steps;
    AddTick(steps, 5, 9, 0x123456);
    std::vector<LineStep> lines;
    for (const PaintStep& step : steps) {
        lines.push_back(std::get<LineStep>(step));
    }
    EXPECT_EQ(Strokes(lines), ExpectedTick(5, 9, 0x123456));
}

TEST(ItemStyleChoice, APaletteDeviceFallsBackToClassic) {
    EXPECT_EQ(ChooseItemStyle(false, true), ItemStyle::Xp);
    EXPECT_EQ(ChooseItemStyle(true, true), ItemStyle::Classic);
    EXPECT_EQ(ChooseItemStyle(false, false), ItemStyle::Classic);
    EXPECT_EQ(ChooseItemStyle(true, false), ItemStyle::Classic);
}

// --- classic style ---

TEST(ClassicItem, SeparatorIsAnEtchedLineAtTheMiddleRow) {
    ItemFacts odd = Entry(9, u"");
    odd.separator = true;
    const ItemPlan plan = PlanClassicItem(odd, StyleFacts{}, kColours);
    ASSERT_EQ(plan.steps.size(), 2u);
    EXPECT_TRUE(HasFill(plan, odd.rect, kColours.menu));
    const EdgeStep edge = std::get<EdgeStep>(plan.steps[1]);
    EXPECT_EQ(edge.kind, EdgeKind::EtchedTop);
    EXPECT_EQ(edge.rect, (Rect{L, T + 4, R, T + 9}));
    EXPECT_TRUE(plan.texts.empty());

    ItemFacts even = Entry(10, u"");
    even.separator = true;
    EXPECT_EQ(std::get<EdgeStep>(PlanClassicItem(even, StyleFacts{}, kColours).steps[1]).rect.top, T + 5);
}

TEST(ClassicItem, ThePlainImageSitsInAFlatBoxAtTheWorkedOffsets) {
    const ItemPlan plan = PlanClassicItem(ImageEntry(19), StyleFacts{}, kColours);
    const Rect item{L, T, R, T + 19};
    EXPECT_TRUE(HasFill(plan, item, kColours.menu));
    EXPECT_TRUE(HasFrame(plan, item, kColours.menu, kColours.menu));
    EXPECT_TRUE(HasFill(plan, (Rect{L + 1, T + 1, L + 19, T + 18}), kColours.menu));
    EXPECT_TRUE(HasFrame(plan, (Rect{L, T, L + 20, T + 19}), kColours.menu, kColours.menu));
    const std::vector<ImageStep> images = StepsOf<ImageStep>(plan);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].slot, 3);
    EXPECT_EQ(images[0].x, L + 2);
    EXPECT_EQ(images[0].y, T + 2);
    EXPECT_FALSE(plan.offscreen);
    ASSERT_EQ(plan.texts.size(), 1u);
    EXPECT_EQ(plan.texts[0].rect, (Rect{L + 25, T - 1, R, T + 18}));
    EXPECT_EQ(plan.texts[0].colour, kColours.menuText);
    EXPECT_EQ(plan.texts[0].align, TextAlign::Left);
    EXPECT_EQ(plan.texts[0].text, u"Save");
}

TEST(ClassicItem, TheImageIsCentredVerticallyButNeverAboveTheTop) {
    const std::vector<ImageStep> tall =
        StepsOf<ImageStep>(PlanClassicItem(ImageEntry(27), StyleFacts{}, kColours));
    EXPECT_EQ(tall.at(0).y, T + 4 + 2);  // (27 - 15 - 4) / 2 = 4
    const std::vector<ImageStep> odd =
        StepsOf<ImageStep>(PlanClassicItem(ImageEntry(22), StyleFacts{}, kColours));
    EXPECT_EQ(odd.at(0).y, T + 1 + 2);
    const std::vector<ImageStep> low =
        StepsOf<ImageStep>(PlanClassicItem(ImageEntry(12), StyleFacts{}, kColours));
    EXPECT_EQ(low.at(0).y, T + 2);
}

TEST(ClassicItem, AHighlightedImageEntryKeepsTheImageColumnOutOfTheBar) {
    ItemFacts item = ImageEntry(19);
    item.selected = true;
    const ItemPlan plan = PlanClassicItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(HasFill(plan, (Rect{L + 21, T, R, T + 19}), kColours.highlight));
    EXPECT_FALSE(HasFill(plan, item.rect, kColours.highlight));
    EXPECT_TRUE(HasFill(plan, (Rect{L + 1, T + 1, L + 19, T + 18}), kColours.menu));
    EXPECT_TRUE(HasFrame(plan, (Rect{L, T, L + 20, T + 19}), kColours.buttonHighlight, kColours.shadow));
    ASSERT_EQ(plan.texts.size(), 1u);
    EXPECT_EQ(plan.texts[0].colour, kColours.highlightText);
}

TEST(ClassicItem, AHighlightedEntryWithoutImageOrCheckIsHighlightedWhole) {
    ItemFacts item = Entry(19);
    item.selected = true;
    const ItemPlan plan = PlanClassicItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(HasFill(plan, item.rect, kColours.highlight));
    EXPECT_TRUE(StepsOf<FrameStep>(plan).empty());
}

TEST(ClassicItem, ACheckedImageIsSunkenAndShowsNoTick) {
    ItemFacts item = ImageEntry(19);
    item.checked = true;
    const ItemPlan plain = PlanClassicItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(HasFill(plain, (Rect{L + 1, T + 1, L + 19, T + 18}), BlendTowardWhite(kColours.menu, 0.6)));
    EXPECT_TRUE(HasFrame(plain, (Rect{L, T, L + 20, T + 19}), kColours.shadow, kColours.buttonHighlight));
    EXPECT_TRUE(StepsOf<LineStep>(plain).empty());
    EXPECT_TRUE(StepsOf<DotStep>(plain).empty());

    item.selected = true;
    const ItemPlan highlighted = PlanClassicItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(
        HasFrame(highlighted, (Rect{L, T, L + 20, T + 19}), kColours.shadow, kColours.buttonHighlight));
    EXPECT_TRUE(HasFill(highlighted, (Rect{L + 21, T, R, T + 19}), kColours.highlight));
    EXPECT_TRUE(StepsOf<LineStep>(highlighted).empty());
}

TEST(ClassicItem, ACheckedEntryWithoutImageGetsATickInASunkenLighterBox) {
    ItemFacts item = Entry(27);
    item.checked = true;
    const ItemPlan plan = PlanClassicItem(item, StyleFacts{}, kColours);
    const Rect box{L + 1, T + 4 + 2, L + 17, T + 4 + 17};
    EXPECT_TRUE(HasFill(plan, box, BlendTowardWhite(kColours.menu, 0.6)));
    const std::vector<EdgeStep> edges = StepsOf<EdgeStep>(plan);
    ASSERT_EQ(edges.size(), 1u);
    EXPECT_EQ(edges[0].rect, box);
    EXPECT_EQ(edges[0].kind, EdgeKind::SunkenOuter);
    EXPECT_EQ(Strokes(StepsOf<LineStep>(plan)), ExpectedTick(box.left + 4, box.top + 4, kColours.menuText));

    item.selected = true;
    const ItemPlan highlighted = PlanClassicItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(HasFill(highlighted, box, kColours.menu));
    EXPECT_TRUE(HasFill(highlighted, (Rect{L + 21, T, R, T + 27}), kColours.highlight));
    EXPECT_EQ(Strokes(StepsOf<LineStep>(highlighted)),
              ExpectedTick(box.left + 4, box.top + 4, kColours.menuText));
}

TEST(ClassicItem, AnEntryWithItsOwnCheckBitmapGetsADot) {
    ItemFacts item = Entry(19);
    item.checked = true;
    item.hasCheckBitmap = true;
    const ItemPlan plan = PlanClassicItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(StepsOf<LineStep>(plan).empty());
    const std::vector<DotStep> dots = StepsOf<DotStep>(plan);
    ASSERT_EQ(dots.size(), 1u);
    EXPECT_EQ(dots[0].rect, (Rect{L + 6, T + 6, L + 12, T + 12}));
    EXPECT_EQ(dots[0].colour, kColours.menuText);
}

TEST(ClassicItem, UnrecognisedSystemsGetNoThreeDimensionalBoxes) {
    StyleFacts style;
    style.recognisedOs = false;
    ItemFacts image = ImageEntry(19);
    image.selected = true;
    EXPECT_FALSE(HasFrameRound(PlanClassicItem(image, style, kColours), (Rect{L, T, L + 20, T + 19})));
    image.selected = false;
    image.checked = true;
    EXPECT_FALSE(HasFrameRound(PlanClassicItem(image, style, kColours), (Rect{L, T, L + 20, T + 19})));
    ItemFacts check = Entry(19);
    check.checked = true;
    const ItemPlan plan = PlanClassicItem(check, style, kColours);
    EXPECT_TRUE(StepsOf<EdgeStep>(plan).empty());
    EXPECT_EQ(StepsOf<LineStep>(plan).size(), 7u);
}

TEST(ClassicItem, ADisabledEntryIsEngravedAndItsImageEmbossed) {
    ItemFacts item = ImageEntry(19);
    item.grayed = true;
    item.text = u"Open\tCtrl+O";
    const ItemPlan plan = PlanClassicItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(StepsOf<ImageStep>(plan).empty());
    const std::vector<DisabledImageStep> disabled = StepsOf<DisabledImageStep>(plan);
    ASSERT_EQ(disabled.size(), 1u);
    EXPECT_EQ(disabled[0].x, L + 2);
    EXPECT_EQ(disabled[0].y, T + 2);
    EXPECT_EQ(disabled[0].width, 16);
    EXPECT_EQ(disabled[0].height, 15);
    EXPECT_EQ(disabled[0].background, kColours.menu);
    EXPECT_TRUE(HasFrame(plan, (Rect{L, T, L + 20, T + 19}), kColours.menu, kColours.menu));
    EXPECT_FALSE(plan.offscreen);

    ASSERT_EQ(plan.texts.size(), 4u);
    const Rect text{L + 25, T - 1, R - 16, T + 18};
    const Rect raised{text.left + 1, text.top + 1, text.right + 1, text.bottom + 1};
    EXPECT_EQ(plan.texts[0].rect, raised);
    EXPECT_EQ(plan.texts[0].colour, kColours.buttonHighlight);
    EXPECT_EQ(plan.texts[1].rect, raised);
    EXPECT_EQ(plan.texts[1].align, TextAlign::Right);
    EXPECT_EQ(plan.texts[2].rect, text);
    EXPECT_EQ(plan.texts[2].colour, kColours.grayText);
    EXPECT_EQ(plan.texts[3].text, u"Ctrl+O");
    EXPECT_EQ(plan.texts[3].colour, kColours.grayText);
}

TEST(ClassicItem, ADisabledEntryUnderThePointerIsHighlightedWithBackgroundText) {
    ItemFacts item = Entry(19);
    item.grayed = true;
    item.selected = true;
    const ItemPlan plan = PlanClassicItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(HasFill(plan, item.rect, kColours.highlight));
    ASSERT_EQ(plan.texts.size(), 1u);
    EXPECT_EQ(plan.texts[0].colour, kColours.menu);
    EXPECT_EQ(plan.texts[0].rect, (Rect{L + 25, T - 1, R, T + 18}));
}

TEST(ClassicItem, AnEmptyTextDrawsNoText) {
    ItemFacts item = ImageEntry(19);
    item.text.clear();
    const ItemPlan plan = PlanClassicItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(plan.texts.empty());
    EXPECT_EQ(StepsOf<ImageStep>(plan).size(), 1u);
}

TEST(ClassicItem, UnderTheXpThemeTheBackgroundIsTheFaceColour) {
    StyleFacts style;
    style.xpThemeActive = true;
    const ItemPlan plan = PlanClassicItem(Entry(19), style, kColours);
    EXPECT_TRUE(HasFill(plan, (Rect{L, T, R, T + 19}), kColours.face));
    EXPECT_FALSE(HasFill(plan, (Rect{L, T, R, T + 19}), kColours.menu));
}

// --- XP style ---

const std::uint32_t kSelectionFill = BlendTowardWhite(kColours.highlight, 0.7);
const std::uint32_t kCheckFill = BlendTowardWhite(kColours.highlight, 0.85);

TEST(XpItem, SeparatorLineStartsPastTheBandWhichRunsThrough) {
    ItemFacts item = Entry(11, u"");
    item.separator = true;
    const ItemPlan plan = PlanXpItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(HasFill(plan, item.rect, kColours.window));
    const std::vector<EdgeStep> edges = StepsOf<EdgeStep>(plan);
    ASSERT_EQ(edges.size(), 1u);
    EXPECT_EQ(edges[0].rect, (Rect{L + 30, T + 5, R, T + 11}));
    EXPECT_EQ(edges[0].kind, EdgeKind::EtchedTop);
    EXPECT_TRUE(HasFill(plan, (Rect{L, T, L + 23, T + 11}), kColours.face));
    EXPECT_TRUE(HasFrame(plan, (Rect{L, T, L + 23, T + 11}), kColours.face, kColours.face));
    EXPECT_TRUE(plan.texts.empty());
    EXPECT_FALSE(plan.offscreen);
}

TEST(XpItem, APlainEntryShowsTheFadedImageInTheBand) {
    ItemFacts item = ImageEntry(22);
    item.hasVariants = true;
    const ItemPlan plan = PlanXpItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(HasFill(plan, item.rect, kColours.window));
    EXPECT_TRUE(HasFill(plan, (Rect{L, T, L + 23, T + 22}), kColours.face));
    EXPECT_TRUE(HasFill(plan, (Rect{L + 1, T + 1, L + 22, T + 21}), kColours.face));
    const std::vector<ImageStep> images = StepsOf<ImageStep>(plan);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].slot, 4);
    EXPECT_EQ(images[0].x, L + 4);
    EXPECT_EQ(images[0].y, T + 4);
    ASSERT_EQ(plan.texts.size(), 1u);
    EXPECT_EQ(plan.texts[0].rect, (Rect{L + 31, T - 1, R, T + 21}));
    EXPECT_EQ(plan.texts[0].colour, kColours.menuText);
    EXPECT_FALSE(plan.offscreen);

    item.hasVariants = false;
    EXPECT_EQ(StepsOf<ImageStep>(PlanXpItem(item, StyleFacts{}, kColours)).at(0).slot, 3);
}

TEST(XpItem, AHighlightedEntryRaisesItsImageOverTheShadow) {
    ItemFacts item = ImageEntry(22);
    item.hasVariants = true;
    item.selected = true;
    const ItemPlan plan = PlanXpItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(HasFill(plan, item.rect, kSelectionFill));
    EXPECT_TRUE(HasFrame(plan, item.rect, kColours.highlight, kColours.highlight));
    EXPECT_FALSE(HasFill(plan, (Rect{L, T, L + 23, T + 22}), kColours.face));
    const std::vector<ImageStep> images = StepsOf<ImageStep>(plan);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].slot, 5);
    EXPECT_EQ(images[0].x, L + 5);
    EXPECT_EQ(images[0].y, T + 5);
    EXPECT_EQ(images[1].slot, 3);
    EXPECT_EQ(images[1].x, L + 3);
    EXPECT_EQ(images[1].y, T + 3);
    ASSERT_EQ(plan.texts.size(), 1u);
    EXPECT_EQ(plan.texts[0].colour, kColours.menuText);

    item.hasVariants = false;
    const std::vector<ImageStep> single = StepsOf<ImageStep>(PlanXpItem(item, StyleFacts{}, kColours));
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0].x, L + 4);
}

TEST(XpItem, ACheckedImageIsBorderedAndMovedUpLeftWithoutTick) {
    ItemFacts item = ImageEntry(22);
    item.hasVariants = true;
    item.checked = true;
    const Rect box{L + 1, T + 1, L + 22, T + 21};
    const ItemPlan plain = PlanXpItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(HasFill(plain, box, kCheckFill));
    EXPECT_TRUE(HasFrame(plain, box, kColours.highlight, kColours.highlight));
    ASSERT_EQ(StepsOf<ImageStep>(plain).size(), 1u);
    EXPECT_EQ(StepsOf<ImageStep>(plain)[0].slot, 3);
    EXPECT_EQ(StepsOf<ImageStep>(plain)[0].x, L + 3);
    EXPECT_TRUE(StepsOf<LineStep>(plain).empty());

    item.selected = true;
    const ItemPlan highlighted = PlanXpItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(HasFill(highlighted, box, kSelectionFill));
    EXPECT_TRUE(HasFrame(highlighted, box, kColours.highlight, kColours.highlight));
    const std::vector<ImageStep> images = StepsOf<ImageStep>(highlighted);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].slot, 3);
    EXPECT_EQ(images[0].x, L + 3);
    EXPECT_EQ(images[0].y, T + 3);
}

TEST(XpItem, ACheckedEntryWithoutImageGetsATickInABorderedSquare) {
    ItemFacts item = Entry(22);
    item.checked = true;
    const ItemPlan plan = PlanXpItem(item, StyleFacts{}, kColours);
    const Rect box{L + 4, T + 3, L + 20, T + 19};
    EXPECT_TRUE(HasFill(plan, box, kCheckFill));
    EXPECT_TRUE(HasFrame(plan, box, kColours.highlight, kColours.highlight));
    EXPECT_EQ(Strokes(StepsOf<LineStep>(plan)), ExpectedTick(L + 9, T + 7, kColours.menuText));

    item.hasCheckBitmap = true;
    const std::vector<DotStep> dots = StepsOf<DotStep>(PlanXpItem(item, StyleFacts{}, kColours));
    ASSERT_EQ(dots.size(), 1u);
    EXPECT_EQ(dots[0].rect, (Rect{L + 9, T + 7, L + 15, T + 13}));
}

TEST(XpItem, TheCheckSquareStaysInsideAShortEntry) {
    ItemFacts item = Entry(12);
    item.checked = true;
    const ItemPlan plan = PlanXpItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(HasFill(plan, (Rect{L + 4, T, L + 20, T + 16}), kCheckFill));
}

TEST(XpItem, ADisabledEntryIsNeverHighlightedAndIsPaintedOffscreen) {
    ItemFacts item = ImageEntry(22);
    item.hasVariants = true;
    item.grayed = true;
    item.selected = true;
    item.text = u"Open\tCtrl+O";
    const ItemPlan plan = PlanXpItem(item, StyleFacts{}, kColours);
    EXPECT_TRUE(plan.offscreen);
    EXPECT_FALSE(HasFill(plan, item.rect, kSelectionFill));
    EXPECT_TRUE(HasFill(plan, item.rect, kColours.window));
    EXPECT_TRUE(StepsOf<ImageStep>(plan).empty());
    const std::vector<DisabledImageStep> disabled = StepsOf<DisabledImageStep>(plan);
    ASSERT_EQ(disabled.size(), 1u);
    EXPECT_EQ(disabled[0].slot, 3);
    EXPECT_EQ(disabled[0].x, L + 4);
    EXPECT_EQ(disabled[0].y, T + 4);
    EXPECT_EQ(disabled[0].background, kColours.face);
    ASSERT_EQ(plan.texts.size(), 2u);
    EXPECT_EQ(plan.texts[0].colour, kColours.grayText);
    EXPECT_EQ(plan.texts[0].rect, (Rect{L + 31, T - 1, R - 16, T + 21}));
    EXPECT_EQ(plan.texts[1].text, u"Ctrl+O");
    EXPECT_EQ(plan.texts[1].colour, kColours.grayText);
}

TEST(XpItem, TwoTabsDrawTheFirstAndLastPartsOnly) {
    const ItemPlan plan = PlanXpItem(Entry(22, u"A\tB\tC"), StyleFacts{}, kColours);
    ASSERT_EQ(plan.texts.size(), 2u);
    EXPECT_EQ(plan.texts[0].text, u"A");
    EXPECT_EQ(plan.texts[1].text, u"C");
    EXPECT_EQ(plan.texts[1].align, TextAlign::Right);
    EXPECT_EQ(plan.texts[1].rect.right, R - 16);
}

TEST(XpItem, ALargerImageWidensTheBandAndCentresTheImage) {
    StyleFacts style;
    style.imageWidth = 20;
    style.imageHeight = 18;
    const ItemPlan plan = PlanXpItem(ImageEntry(25), style, kColours);
    EXPECT_TRUE(HasFill(plan, (Rect{L, T, L + 27, T + 25}), kColours.face));
    EXPECT_EQ(StepsOf<ImageStep>(plan).at(0).x, L + 4);
    EXPECT_EQ(StepsOf<ImageStep>(plan).at(0).y, T + 4);
    EXPECT_EQ(plan.texts.at(0).rect.left, L + 35);
}

// --- at 200 % ---

Rect Doubled(const Rect& r) {
    return {2 * r.left, 2 * r.top, 2 * r.right, 2 * r.bottom};
}

// A step as it should come out at 200 %: every length twice as long. Ticks are compared as pixels.
struct DoubledStep {
    PaintStep operator()(const FillStep& s) const { return FillStep{Doubled(s.rect), s.colour}; }
    PaintStep operator()(const FrameStep& s) const {
        return FrameStep{Doubled(s.rect), s.topLeft, s.bottomRight};
    }
    PaintStep operator()(const EdgeStep& s) const { return EdgeStep{Doubled(s.rect), s.kind}; }
    PaintStep operator()(const LineStep& s) const { return s; }
    PaintStep operator()(const DotStep& s) const { return DotStep{Doubled(s.rect), s.colour}; }
    PaintStep operator()(const ImageStep& s) const { return ImageStep{s.slot, 2 * s.x, 2 * s.y}; }
    PaintStep operator()(const DisabledImageStep& s) const {
        return DisabledImageStep{s.slot, 2 * s.x, 2 * s.y, 2 * s.width, 2 * s.height, s.background};
    }
};

bool Near(int actual, int expected, int slack) {
    return actual <= expected && actual >= expected - slack;
}

bool NearRect(const Rect& actual, const Rect& expected, int slack) {
    return Near(actual.left, expected.left, slack) && Near(actual.top, expected.top, slack) &&
           actual.width() == expected.width() && actual.height() == expected.height();
}

// slack: how far left or up a centred image or mark may sit from its doubled place. Centring halves an odd
// spare room, which cannot double exactly.
bool SameStep(const PaintStep& a, const PaintStep& b, int slack) {
    if (a.index() != b.index()) {
        return false;
    }
    return std::visit(
        [&b, slack](const auto& x) {
            using Step = std::decay_t<decltype(x)>;
            const Step& y = std::get<Step>(b);
            if constexpr (std::is_same_v<Step, FillStep>) {
                return NearRect(x.rect, y.rect, slack) && x.colour == y.colour;
            } else if constexpr (std::is_same_v<Step, FrameStep>) {
                return NearRect(x.rect, y.rect, slack) && x.topLeft == y.topLeft &&
                       x.bottomRight == y.bottomRight;
            } else if constexpr (std::is_same_v<Step, EdgeStep>) {
                return x.rect == y.rect && x.kind == y.kind;
            } else if constexpr (std::is_same_v<Step, DotStep>) {
                return NearRect(x.rect, y.rect, slack) && x.colour == y.colour;
            } else if constexpr (std::is_same_v<Step, ImageStep>) {
                return x.slot == y.slot && Near(x.x, y.x, slack) && Near(x.y, y.y, slack);
            } else if constexpr (std::is_same_v<Step, DisabledImageStep>) {
                return x.slot == y.slot && Near(x.x, y.x, slack) && Near(x.y, y.y, slack) &&
                       x.width == y.width && x.height == y.height && x.background == y.background;
            } else {
                return true;
            }
        },
        a);
}

std::vector<PaintStep> WithoutLines(const ItemPlan& plan) {
    std::vector<PaintStep> steps;
    for (const PaintStep& step : plan.steps) {
        if (!std::holds_alternative<LineStep>(step)) {
            steps.push_back(step);
        }
    }
    return steps;
}

using Pixels = std::set<std::pair<int, int>>;

// The pixels the one-pixel vertical strokes of a plan paint.
Pixels StrokePixels(const ItemPlan& plan) {
    Pixels pixels;
    for (const PaintStep& step : plan.steps) {
        if (const auto* line = std::get_if<LineStep>(&step)) {
            for (int y = line->y1; y < line->y2; ++y) {
                pixels.insert({line->x1, y});
            }
        }
    }
    return pixels;
}

Pixels Moved(const Pixels& pixels, int dx, int dy) {
    Pixels moved;
    for (const auto& [x, y] : pixels) {
        moved.insert({x + dx, y + dy});
    }
    return moved;
}

// The same shape at its doubled place, or up to slack pixels left of and above it.
bool SameShapeNear(const Pixels& actual, const Pixels& expected, int slack) {
    for (int dx = 0; dx <= slack; ++dx) {
        for (int dy = 0; dy <= slack; ++dy) {
            if (actual == Moved(expected, -dx, -dy)) {
                return true;
            }
        }
    }
    return false;
}

// Every entry kind of both styles at 200 % is the 100 % entry with each length doubled: no pixel constant is
// left at its 96-DPI size. The classic heights leave even spare rooms, so that its halves come out whole; the
// XP band always leaves an odd room beside the image, so its centred images and marks may sit one pixel off.
TEST(MenuAtDpi, PlansAt200PercentAreThe100PercentPlansDoubled) {
    struct Kind {
        const char* name;
        bool separator, selected, grayed, checked, image, checkBitmap;
        std::u16string text;
    };
    const Kind kinds[] = {
        {"plain", false, false, false, false, true, false, u"Save"},
        {"highlighted", false, true, false, false, true, false, u"Save"},
        {"checked image", false, false, false, true, true, false, u"Save"},
        {"checked highlighted", false, true, false, true, true, false, u"Save"},
        {"disabled", false, false, true, false, true, false, u"Save\tCtrl+S"},
        {"disabled highlighted", false, true, true, false, false, false, u"Save"},
        {"tick", false, false, false, true, false, false, u"Save\tCtrl+S"},
        {"dot", false, true, false, true, false, true, u"Save"},
        {"no text", false, false, false, false, true, false, u""},
        {"separator", true, false, false, false, false, false, u""},
    };
    for (const bool xp : {false, true}) {
        for (const Kind& kind : kinds) {
            const auto plan = [&](int scale) {
                ItemFacts item;
                const int height = kind.separator ? 22 : xp ? 23 : 21;
                item.rect = Rect{10 * scale, 30 * scale, 150 * scale, (30 + height) * scale};
                item.separator = kind.separator;
                item.selected = kind.selected;
                item.grayed = kind.grayed;
                item.checked = kind.checked;
                item.imageSlot = kind.image ? 3 : -1;
                item.hasVariants = kind.image && xp;
                item.hasCheckBitmap = kind.checkBitmap;
                item.text = kind.text;
                StyleFacts style;
                style.imageWidth = 16 * scale;
                style.imageHeight = 15 * scale;
                style.xpThemeActive = xp;
                style.dpi = 96 * scale;
                return xp ? PlanXpItem(item, style, kColours) : PlanClassicItem(item, style, kColours);
            };
            const ItemPlan small = plan(1);
            const ItemPlan large = plan(2);
            const int slack = xp ? 1 : 0;
            const std::vector<PaintStep> smallSteps = WithoutLines(small);
            const std::vector<PaintStep> largeSteps = WithoutLines(large);
            ASSERT_EQ(largeSteps.size(), smallSteps.size()) << kind.name << (xp ? " xp" : " classic");
            for (std::size_t i = 0; i < smallSteps.size(); ++i) {
                EXPECT_TRUE(SameStep(largeSteps[i], std::visit(DoubledStep{}, smallSteps[i]), slack))
                    << kind.name << (xp ? " xp" : " classic") << ", step " << i;
            }
            std::set<std::pair<int, int>> doubledStrokes;
            for (const auto& [x, y] : StrokePixels(small)) {
                for (int dx = 0; dx < 2; ++dx) {
                    for (int dy = 0; dy < 2; ++dy) {
                        doubledStrokes.insert({2 * x + dx, 2 * y + dy});
                    }
                }
            }
            EXPECT_TRUE(SameShapeNear(StrokePixels(large), doubledStrokes, slack))
                << kind.name << (xp ? " xp" : " classic");
            ASSERT_EQ(large.texts.size(), small.texts.size()) << kind.name;
            for (std::size_t i = 0; i < small.texts.size(); ++i) {
                EXPECT_EQ(large.texts[i].rect, Doubled(small.texts[i].rect)) << kind.name << ", text " << i;
                EXPECT_EQ(large.texts[i].text, small.texts[i].text);
            }
        }
    }
}

TEST(MenuAtDpi, XpImagesCentreInTheScaledBandAndStepByScaledPixels) {
    struct Case {
        const char* name;
        bool selected, checked;
        std::vector<std::pair<int, int>> images;  // slot offset, x
    };
    // Band 32 + 14 = 46 wide: the image sits (46 - 32 + 1) / 2 = 7 in; raised and checked images move by 2.
    const Case cases[] = {
        {"plain", false, false, {{1, 7}}},
        {"highlighted", true, false, {{2, 9}, {0, 5}}},
        {"checked", false, true, {{0, 5}}},
    };
    for (const Case& c : cases) {
        ItemFacts item;
        item.rect = Rect{0, 0, 300, 44};
        item.selected = c.selected;
        item.checked = c.checked;
        item.imageSlot = 0;
        item.hasVariants = true;
        item.text = u"Save";
        StyleFacts style;
        style.imageWidth = 32;
        style.imageHeight = 30;
        style.xpThemeActive = true;
        style.dpi = 192;
        const ItemPlan plan = PlanXpItem(item, style, kColours);
        std::vector<std::pair<int, int>> images;
        for (const PaintStep& step : plan.steps) {
            if (const auto* image = std::get_if<ImageStep>(&step)) {
                images.push_back({image->slot, image->x});
            }
        }
        EXPECT_EQ(images, c.images) << c.name;
        ASSERT_EQ(plan.texts.size(), 1u);
        EXPECT_EQ(plan.texts[0].rect, (Rect{46 + 16, -2, 300, 42})) << c.name;
    }
}

}  // namespace
}  // namespace drovan::tests
