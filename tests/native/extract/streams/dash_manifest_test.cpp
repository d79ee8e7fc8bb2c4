#include "extract/streams/dash_manifest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "extract/streams/xml_scan.h"

namespace drovan::tests {
namespace {

constexpr const char* kManifestUrl = "https://cdn.example/show/manifest.mpd?token=7";
constexpr const char* kShow = "https://cdn.example/show/";
constexpr std::size_t kMemory = std::size_t{32} << 20;

std::optional<DashManifest> Parse(std::string_view xml, std::string_view url, std::size_t cap) {
    return ParseDashManifest(xml, url, cap, kMemory);
}

// What ffmpeg 5.1 writes for -f dash -use_template 1 -use_timeline 0 -seg_duration 4, from 9 s of video and
// audio.
constexpr const char* kFfmpegTemplate = R"(<?xml version="1.0" encoding="utf-8"?>
<MPD xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"
	xmlns="urn:mpeg:dash:schema:mpd:2011"
	xmlns:xlink="http://www.w3.org/1999/xlink"
	xsi:schemaLocation="urn:mpeg:DASH:schema:MPD:2011 http://standards.iso.org/ittf/PubliclyAvailableStandards/MPEG-DASH_schema_files/DASH-MPD.xsd"
	profiles="urn:mpeg:dash:profile:isoff-live:2011"
	type="static"
	mediaPresentationDuration="PT9.0S"
	maxSegmentDuration="PT4.0S"
	minBufferTime="PT8.0S">
	<ProgramInformation>
	</ProgramInformation>
	<ServiceDescription id="0">
	</ServiceDescription>
	<Period id="0" start="PT0.0S">
		<AdaptationSet id="0" contentType="video" startWithSAP="1" segmentAlignment="true" bitstreamSwitching="true" frameRate="25/1" maxWidth="160" maxHeight="120" par="4:3" lang="und">
			<Representation id="0" mimeType="video/mp4" codecs="avc1.f4000b" bandwidth="37960" width="160" height="120" sar="1:1">
				<SegmentTemplate timescale="1000000" duration="4000000" initialization="init-stream$RepresentationID$.m4s" media="chunk-stream$RepresentationID$-$Number%05d$.m4s" startNumber="1">
				</SegmentTemplate>
			</Representation>
		</AdaptationSet>
		<AdaptationSet id="1" contentType="audio" startWithSAP="1" segmentAlignment="true" bitstreamSwitching="true" lang="und">
			<Representation id="1" mimeType="audio/mp4" codecs="mp4a.40.2" bandwidth="69288" audioSamplingRate="44100">
				<AudioChannelConfiguration schemeIdUri="urn:mpeg:dash:23003:3:audio_channel_configuration:2011" value="1" />
				<SegmentTemplate timescale="1000000" duration="4000000" initialization="init-stream$RepresentationID$.m4s" media="chunk-stream$RepresentationID$-$Number%05d$.m4s" startNumber="1">
				</SegmentTemplate>
			</Representation>
		</AdaptationSet>
	</Period>
</MPD>
)";

// -use_timeline 1 and -single_file 1 write the same head; their Periods only.
std::string FfmpegManifest(const std::string& period) {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<MPD xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns="urn:mpeg:dash:schema:mpd:2011"
	profiles="urn:mpeg:dash:profile:isoff-live:2011" type="static" mediaPresentationDuration="PT9.0S">
	<Period id="0" start="PT0.0S">
		<AdaptationSet id="0" contentType="video" startWithSAP="1" segmentAlignment="true" lang="und">
			<Representation id="0" mimeType="video/mp4" codecs="avc1.f4000b" bandwidth="37960" width="160">
)" + period +
           R"(
			</Representation>
		</AdaptationSet>
	</Period>
</MPD>)";
}

constexpr const char* kFfmpegTimeline = R"(
				<SegmentTemplate timescale="12800" initialization="init-stream$RepresentationID$.m4s" media="chunk-stream$RepresentationID$-$Number%05d$.m4s" startNumber="1">
					<SegmentTimeline>
						<S t="0" d="51200" r="1" />
						<S d="12800" />
					</SegmentTimeline>
				</SegmentTemplate>)";

constexpr const char* kFfmpegSingleFile = R"(
				<BaseURL>out-stream0.mp4</BaseURL>
				<SegmentList timescale="1000000" duration="4000000" startNumber="1">
					<Initialization range="0-835" />
					<SegmentURL mediaRange="836-21171" indexRange="836-887" />
					<SegmentURL mediaRange="21172-41178" indexRange="21172-21223" />
					<SegmentURL mediaRange="41179-46624" indexRange="41179-41230" />
				</SegmentList>)";

// An on-demand profile manifest as packagers write it: the whole file with its sidx, one per representation.
constexpr const char* kOnDemand = R"(
				<BaseURL>video/avc1/1080p.mp4</BaseURL>
				<SegmentBase indexRange="836-1503" timescale="90000">
					<Initialization range="0-835"/>
				</SegmentBase>)";

struct SegmentRow {
    std::string url;
    std::optional<std::uint64_t> rangeFirst;
    std::optional<std::uint64_t> rangeLast;
    std::uint64_t time;
    std::uint64_t duration;
};

void ExpectSegments(const DashRepresentation& representation, const std::vector<SegmentRow>& rows) {
    const std::vector<DashSegment>& segments = representation.segments;
    ASSERT_EQ(segments.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(representation.Url(segments[i]), rows[i].url) << i;
        EXPECT_EQ(segments[i].rangeFirst, rows[i].rangeFirst) << i;
        EXPECT_EQ(segments[i].rangeLast, rows[i].rangeLast) << i;
        EXPECT_EQ(segments[i].time, rows[i].time) << i;
        EXPECT_EQ(segments[i].duration, rows[i].duration) << i;
    }
}

// The only representation of a manifest, none when there is not exactly one.
std::optional<DashRepresentation> OnlyRepresentation(const std::string& xml, std::size_t cap = 100) {
    const std::optional<DashManifest> manifest = Parse(xml, kManifestUrl, cap);
    if (!manifest || manifest->representations.size() != 1) {
        return std::nullopt;
    }
    return manifest->representations[0];
}

// One Representation under an AdaptationSet, in a static manifest of the given duration.
std::string Manifest(const std::string& duration, const std::string& adaptationSet,
                     const std::string& representation) {
    return "<MPD type=\"static\" mediaPresentationDuration=\"" + duration + "\"><Period><AdaptationSet>" +
           adaptationSet + "<Representation id=\"v1\" bandwidth=\"800000\">" + representation +
           "</Representation></AdaptationSet></Period></MPD>";
}

TEST(ParseDashManifest, ExpandsFfmpegsNumberedTemplate) {
    const std::optional<DashManifest> manifest = Parse(kFfmpegTemplate, kManifestUrl, 100);
    ASSERT_TRUE(manifest);
    EXPECT_FALSE(manifest->dynamic);
    ASSERT_EQ(manifest->representations.size(), 2u);
    const DashRepresentation& video = manifest->representations[0];
    const DashRepresentation& audio = manifest->representations[1];
    EXPECT_EQ(video.id + "|" + video.contentType + "|" + video.mimeType + "|" + video.codecs,
              "0|video|video/mp4|avc1.f4000b");
    EXPECT_EQ(audio.contentType + "|" + audio.codecs, "audio|mp4a.40.2");
    EXPECT_EQ(video.bandwidth, 37960u);
    EXPECT_EQ(audio.adaptationSet, 1u);
    EXPECT_EQ(video.timescale, 1000000u);
    ASSERT_TRUE(video.init);
    EXPECT_EQ(video.Url(*video.init), std::string(kShow) + "init-stream0.m4s");
    EXPECT_EQ(video.listedSegments, 3u);
    EXPECT_FALSE(video.singleFile || video.encrypted);
    ExpectSegments(audio, {{std::string(kShow) + "chunk-stream1-00001.m4s", {}, {}, 0, 4000000},
                           {std::string(kShow) + "chunk-stream1-00002.m4s", {}, {}, 4000000, 4000000},
                           {std::string(kShow) + "chunk-stream1-00003.m4s", {}, {}, 8000000, 4000000}});
}

TEST(ParseDashManifest, ExpandsFfmpegsTimelineAndSingleFile) {
    const std::optional<DashRepresentation> timeline = OnlyRepresentation(FfmpegManifest(kFfmpegTimeline));
    ASSERT_TRUE(timeline);
    EXPECT_EQ(timeline->timescale, 12800u);
    ExpectSegments(*timeline, {{std::string(kShow) + "chunk-stream0-00001.m4s", {}, {}, 0, 51200},
                               {std::string(kShow) + "chunk-stream0-00002.m4s", {}, {}, 51200, 51200},
                               {std::string(kShow) + "chunk-stream0-00003.m4s", {}, {}, 102400, 12800}});
    const std::optional<DashRepresentation> single = OnlyRepresentation(FfmpegManifest(kFfmpegSingleFile));
    ASSERT_TRUE(single);
    const std::string file = std::string(kShow) + "out-stream0.mp4";
    EXPECT_TRUE(single->singleFile);
    ASSERT_TRUE(single->init);
    EXPECT_EQ(single->Url(*single->init), file);
    EXPECT_EQ(single->init->rangeLast, 835u);
    ExpectSegments(*single, {{file, 836, 21171, 0, 4000000},
                             {file, 21172, 41178, 4000000, 4000000},
                             {file, 41179, 46624, 8000000, 4000000}});
}

TEST(ParseDashManifest, TakesASegmentBaseFileWhole) {
    const std::optional<DashRepresentation> representation = OnlyRepresentation(FfmpegManifest(kOnDemand));
    ASSERT_TRUE(representation);
    const std::string file = std::string(kShow) + "video/avc1/1080p.mp4";
    EXPECT_TRUE(representation->singleFile);
    EXPECT_EQ(representation->listedSegments, 1u);
    ASSERT_TRUE(representation->init);
    EXPECT_EQ(representation->Url(*representation->init), file);
    EXPECT_EQ(representation->init->rangeFirst, 0u);
    EXPECT_EQ(representation->init->rangeLast, 835u);
    ExpectSegments(*representation, {{file, {}, {}, 0, 9 * 90000}});
}

// BaseURL at each level, each against the one above; templates inherited attribute by attribute.
TEST(ParseDashManifest, InheritsBaseUrlsAndTemplates) {
    const std::optional<DashManifest> manifest = Parse(
        R"(<MPD type="dynamic" xmlns:cenc="urn:mpeg:cenc:2013"><BaseURL>https://Media.Example/a/b/</BaseURL>
        <Period duration="PT4S"><BaseURL>../p/</BaseURL>
          <AdaptationSet mimeType="audio/mp4" codecs="mp4a.40.2"><BaseURL> as/ </BaseURL>
            <ContentProtection schemeIdUri="urn:mpeg:dash:mp4protection:2011" value="cenc"><cenc:pssh>AAAA</cenc:pssh></ContentProtection>
            <SegmentTemplate timescale="10" duration="20" media="$RepresentationID$/$Bandwidth$/$Time%03d$-$$-$Number$.m4a"/>
            <Representation id="en" bandwidth="64000"><BaseURL>/abs/</BaseURL><SegmentTemplate startNumber="7"/></Representation>
            <Representation id="fr" bandwidth="128000" codecs="opus" mimeType="audio/webm"/>
          </AdaptationSet></Period></MPD>)",
        kManifestUrl, 100);
    ASSERT_TRUE(manifest);
    EXPECT_TRUE(manifest->dynamic);
    ASSERT_EQ(manifest->representations.size(), 2u);
    const DashRepresentation& en = manifest->representations[0];
    const DashRepresentation& fr = manifest->representations[1];
    EXPECT_TRUE(en.encrypted && fr.encrypted);
    EXPECT_EQ(fr.contentType + "|" + fr.mimeType + "|" + fr.codecs, "audio|audio/webm|opus");
    ExpectSegments(en, {{"https://media.example/abs/en/64000/000-$-7.m4a", {}, {}, 0, 20},
                        {"https://media.example/abs/en/64000/020-$-8.m4a", {}, {}, 20, 20}});
    ExpectSegments(fr, {{"https://media.example/a/p/as/fr/128000/000-$-1.m4a", {}, {}, 0, 20},
                        {"https://media.example/a/p/as/fr/128000/020-$-2.m4a", {}, {}, 20, 20}});
}

// Each row: a timeline in timescale 10 of a period of 10 s (100 units), and the segments' times.
TEST(ParseDashManifest, RepeatsTimelineEntries) {
    const struct {
        const char* timeline;
        std::uint64_t listed;
        std::vector<std::uint64_t> times;
    } kCases[] = {
        {R"(<S t="30" d="20" r="2"/>)", 3, {30, 50, 70}},
        {R"(<S d="30" r="-1"/>)", 4, {0, 30, 60, 90}},
        {R"(<S t="5" d="10" r="-1"/><S t="35" d="5"/><S d="7"/>)", 5, {5, 15, 25, 35}},
        {R"(<S t="10" d="25" r="-1"/><S d="3"/>)", 2, {10, 35}},
        {R"(<S t="200" d="10" r="-1"/>)", 1, {200}},
        {R"(<S d="1" r="9223372036854775806"/>)", 9223372036854775807u, {0, 1, 2, 3}},
        {R"(<S d="4294967296" r="4294967294"/><S d="1"/>)",
         4294967296u,
         {0, 4294967296, 8589934592, 12884901888}},
    };
    for (const auto& c : kCases) {
        const std::optional<DashRepresentation> representation = OnlyRepresentation(
            Manifest("PT10S", "",
                     std::string(R"(<SegmentTemplate timescale="10" media="$Time$"><SegmentTimeline>)") +
                         c.timeline + "</SegmentTimeline></SegmentTemplate>"),
            4);
        ASSERT_TRUE(representation) << c.timeline;
        EXPECT_EQ(representation->listedSegments, c.listed) << c.timeline;
        std::vector<std::uint64_t> times;
        for (const DashSegment& segment : representation->segments) {
            times.push_back(segment.time);
            EXPECT_EQ(representation->Url(segment), std::string(kShow) + std::to_string(segment.time))
                << c.timeline;
        }
        EXPECT_EQ(times, c.times) << c.timeline;
    }
}

// xs:duration read into a count of 1 ms segments: the presentation's length in ms, rounded up.
TEST(ParseDashManifest, ReadsDurationsExactly) {
    const struct {
        const char* duration;
        std::uint64_t listed;
    } kCases[] = {
        {"PT9.0S", 9000},
        {" PT1H2M3.5S ", 3723500},
        {"P1DT1S", 86401000},
        {"P1Y", 31536000000},
        {"PT0.0005S", 1},
        {"PT1.0000000009S", 1000},
        {"PT.5S", 500},
        {"PT584542046090H", 0},
        {"-PT1S", 0},
        {"P", 0},
        {"PT1.2.3S", 0},
        {"PT1X", 0},
        {"1S", 0},
    };
    for (const auto& c : kCases) {
        const std::optional<DashRepresentation> representation = OnlyRepresentation(
            Manifest(c.duration, "", R"(<SegmentTemplate timescale="1000" duration="1" media="$Number$"/>)"));
        ASSERT_TRUE(representation) << c.duration;
        EXPECT_EQ(representation->listedSegments, c.listed) << c.duration;
    }
}

TEST(ParseDashManifest, LeavesOutWhatCannotBeFollowed) {
    const struct {
        const char* what;
        const char* addressing;
        std::optional<std::uint64_t> listed;  // none: the representation is left out
    } kCases[] = {
        {"a timescale of 0", R"(<SegmentTemplate timescale="0" duration="1" media="$Number$"/>)", {}},
        {"a timescale over 32 bits",
         R"(<SegmentTemplate timescale="4294967296" duration="1" media="$Number$"/>)",
         {}},
        {"a duration of 0", R"(<SegmentTemplate duration="0" media="$Number$"/>)", {}},
        {"an S without d",
         R"(<SegmentTemplate media="$Time$"><SegmentTimeline><S t="1"/></SegmentTimeline></SegmentTemplate>)",
         {}},
        {"times past 64 bits",
         R"(<SegmentTemplate media="$Time$"><SegmentTimeline><S t="18446744073709551615" d="2"/></SegmentTimeline></SegmentTemplate>)",
         {}},
        {"counts past 64 bits",
         R"(<SegmentTemplate media="$Time$"><SegmentTimeline><S d="1" r="9223372036854775807"/><S d="1" r="9223372036854775807"/><S d="1" r="9223372036854775807"/></SegmentTimeline></SegmentTemplate>)",
         {}},
        {"numbers past 64 bits",
         R"(<SegmentTemplate startNumber="18446744073709551615" duration="1" media="$Number$"/>)",
         {}},
        {"an unknown identifier", R"(<SegmentTemplate duration="1" media="$SubNumber$"/>)", {}},
        {"an unclosed identifier", R"(<SegmentTemplate duration="1" media="a$Number"/>)", {}},
        {"a width too wide", R"(<SegmentTemplate duration="1" media="$Number%033d$"/>)", {}},
        {"a width on the id", R"(<SegmentTemplate duration="1" media="$RepresentationID%02d$"/>)", {}},
        {"a number in the init",
         R"(<SegmentTemplate duration="1" initialization="$Number$" media="$Number$"/>)",
         {}},
        {"a range backwards", R"(<SegmentList><SegmentURL media="a" mediaRange="9-1"/></SegmentList>)", {}},
        {"an init range open", R"(<SegmentBase><Initialization range="100-"/></SegmentBase>)", {}},
        {"the widest width", R"(<SegmentTemplate duration="1" media="$Number%032d$"/>)", 2},
        {"no media", R"(<SegmentTemplate duration="1" initialization="i.mp4"/>)", 0},
        {"neither duration nor timeline", R"(<SegmentTemplate media="all.mp4"/>)", 1},
        {"the list's own count",
         R"(<SegmentList duration="1"><SegmentURL media="a"/><SegmentURL media="b"/><SegmentURL media="c"/></SegmentList>)",
         3},
        {"no addressing", "", 1},
    };
    for (const auto& c : kCases) {
        const std::optional<DashManifest> manifest =
            Parse(Manifest("PT1.5S", "", c.addressing), kManifestUrl, 100);
        ASSERT_TRUE(manifest) << c.what;
        ASSERT_EQ(manifest->representations.size(), c.listed ? 1u : 0u) << c.what;
        if (c.listed) {
            EXPECT_EQ(manifest->representations[0].listedSegments, *c.listed) << c.what;
        }
    }
    const std::string noBase = Manifest("PT1S", "", "");
    EXPECT_TRUE(Parse(noBase, "manifest.mpd", 1)->representations.empty());
    const std::string absoluteBase = Manifest("PT1S", "<BaseURL>http://a.example/</BaseURL>", "");
    EXPECT_EQ(Parse(absoluteBase, "manifest.mpd", 1)->representations.size(), 1u);
}

TEST(ParseDashManifest, BoundsWhatClaimsExpandTo) {
    const std::optional<DashRepresentation> billion = OnlyRepresentation(
        Manifest("PT1000000000S", "", R"(<SegmentTemplate duration="1" media="$Number%09d$"/>)"), 1000);
    ASSERT_TRUE(billion);
    EXPECT_EQ(billion->listedSegments, 1000000000u);
    ASSERT_EQ(billion->segments.size(), 1000u);
    EXPECT_EQ(billion->Url(billion->segments.back()), std::string(kShow) + "000001000");
    // A long BaseURL shared by many representations: the budget, not their count, bounds the work.
    const std::string base = "https://cdn.example/" + std::string(1 << 20, 'x') + "/";
    std::string many =
        "<MPD mediaPresentationDuration=\"PT1000S\"><BaseURL>" + base +
        "</BaseURL><Period><AdaptationSet><SegmentTemplate duration=\"1\" media=\"$Number$\"/>";
    for (int i = 0; i < 1000; ++i) {
        many += "<Representation id=\"" + std::to_string(i) + "\"/>";
    }
    const std::optional<DashManifest> manifest = Parse(many + "</AdaptationSet></Period></MPD>", "", 1000);
    ASSERT_TRUE(manifest);
    EXPECT_GT(manifest->Bytes(), 1u << 20);
    EXPECT_LE(manifest->Bytes(), kMemory + (1 << 20));
    EXPECT_LT(manifest->representations.size(), 1000u);
    EXPECT_TRUE(manifest->overBudget);
    for (const DashRepresentation& representation : manifest->representations) {
        EXPECT_EQ(representation.listedSegments, 1000u);
    }
}

// Periods after the first start where the one before ends; the last runs to the presentation's end.
TEST(ParseDashManifest, TimesEachPeriod) {
    const std::optional<DashManifest> manifest = Parse(
        R"(<MPD mediaPresentationDuration="PT60S"><Period duration="PT10S"><AdaptationSet><Representation id="a"><SegmentTemplate duration="1" media="a$Number$"/></Representation></AdaptationSet></Period>
        <Period><AdaptationSet><Representation id="b"><SegmentTemplate duration="1" media="b$Number$"/></Representation></AdaptationSet></Period>
        <Period start="PT50S"><AdaptationSet/><AdaptationSet><Representation id="c"><SegmentTemplate duration="1" media="c$Number$"/></Representation></AdaptationSet></Period></MPD>)",
        kManifestUrl, 0);
    ASSERT_TRUE(manifest);
    ASSERT_EQ(manifest->representations.size(), 3u);
    const std::uint64_t listed[] = {10, 40, 10};
    const std::size_t adaptationSets[] = {0, 0, 1};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(manifest->representations[i].period, i);
        EXPECT_EQ(manifest->representations[i].adaptationSet, adaptationSets[i]);
        EXPECT_EQ(manifest->representations[i].listedSegments, listed[i]);
        EXPECT_TRUE(manifest->representations[i].segments.empty());
    }
}

TEST(ScanXml, ReadsWhatManifestsHold) {
    const std::optional<std::vector<XmlElement>> elements = ScanXml(
        "\xEF\xBB\xBF<?xml version='1.0'?>\n<!DOCTYPE MPD [ <!ENTITY x \"]>\"> ]>\n<!-- a <comment> -->"
        "<cenc:MPD a='1 &amp; &#x41;&#66;\r\n2' b=\"&bogus; &#0; &#x110000; &\">one<![CDATA[<&amp;>]]>"
        "<?pi <x>?><e/>two&lt;&#x4E2D;\r\n</cenc:MPD >");
    ASSERT_TRUE(elements);
    ASSERT_EQ(elements->size(), 2u);
    const XmlElement& root = (*elements)[0];
    EXPECT_EQ(root.name, "cenc:MPD");
    EXPECT_EQ(*FindXmlAttribute(root, "a"), "1 & AB 2");
    EXPECT_EQ(*FindXmlAttribute(root, "b"), "&bogus; &#0; &#x110000; &");
    EXPECT_EQ(FindXmlAttribute(root, "c"), nullptr);
    EXPECT_EQ(root.text, "one<&amp;>two<\xE4\xB8\xAD\n");
    EXPECT_EQ(root.firstChild, 1u);
    EXPECT_EQ((*elements)[1].parent, 0u);
    EXPECT_EQ((*elements)[1].nextSibling, kNoXmlElement);
}

TEST(ScanXml, RejectsWhatIsNotWellFormed) {
    std::string nested64;
    std::string nested65;
    for (int i = 0; i < 64; ++i) {
        nested64 = "<a>" + nested64 + "</a>";
    }
    nested65 = "<a>" + nested64 + "</a>";
    const struct {
        std::string xml;
        bool scanned;
    } kCases[] = {
        {nested64, true},
        {nested65, false},
        {"<a><b></a></b>", false},
        {"<a>", false},
        {"<a/><b/>", false},
        {"<a x=1/>", false},
        {"<a x='1/>", false},
        {"<a x/>", false},
        {"<!-- open <a/>", false},
        {"<a><![CDATA[</a>", false},
        {"<!DOCTYPE a [ <a/>", false},
        {"< a/>", false},
        {"text only", false},
        {"", false},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(ScanXml(c.xml).has_value(), c.scanned) << c.xml;
    }
    EXPECT_FALSE(Parse("<mpd/>", kManifestUrl, 1));
    EXPECT_TRUE(Parse("<dash:MPD xmlns:dash='urn:mpeg:dash:schema:mpd:2011'/>", kManifestUrl, 1));
}

}  // namespace
}  // namespace drovan::tests
