#include "cli/list_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "cli/harvest_args.h"
#include "extract/utf8.h"

namespace drovan::tests {
namespace {

const std::u16string kHostile = u"http://h/a\tb\nc\x1B[31m\"q\",d\\e\u202Egpj.exe";

ItemFacts Entry(std::u16string name = u"clip.mp4") {
    ItemFacts row;
    row.kind = u"firefox";
    row.type = u"mp4";
    row.name = std::move(name);
    row.size = 1234;
    row.storedSize = 1000;
    row.state = u"complete";
    row.url = u"http://h/clip.mp4";
    row.storedTime = 1714557600;
    row.lastModified = -1;
    return row;
}

ItemFacts Stream() {
    ItemFacts row{u"stream", u"ts", u"v.ts", {}, {}, u"incomplete", u"http://h/v.m3u8", {},
                  {},        5,     {},      {}, {}, true};
    row.missing = {u"http://h/6.ts", u"http://h/7.ts"};
    row.note = u"codec 0x81 not rewrapped";
    return row;
}

ItemFacts Hostile(ItemFacts row) {
    row.url = kHostile;
    row.name = u"=1+2";
    row.missing.push_back(kHostile);
    return row;
}

TEST(ItemFactss, EachFormatKeepsOneRecordALine) {
    const struct {
        ItemFacts row;
        ListFormat format;
        const char* line;
    } cases[] = {
        {Entry(), ListFormat::Tsv, "firefox\tmp4\tclip.mp4\t1234\t1000\tcomplete\thttp://h/clip.mp4\t\t\t"},
        {Stream(), ListFormat::Tsv,
         "stream\tts\tv.ts\t?\t?\tincomplete\thttp://h/v.m3u8\t5/?\thttp://h/6.ts http://h/7.ts\tcodec 0x81 "
         "not "
         "rewrapped"},
        {Hostile(Entry()), ListFormat::Tsv,
         "firefox\tmp4\t=1+2\t1234\t1000\tcomplete\thttp://h/"
         "a%09b%0Ac%1B[31m\"q\",d\\e%E2%80%AEgpj.exe\t\t\t"},
        {Entry(), ListFormat::Csv, "firefox,mp4,clip.mp4,1234,1000,complete,http://h/clip.mp4,,,"},
        {Stream(), ListFormat::Csv,
         "stream,ts,v.ts,,,incomplete,http://h/v.m3u8,5/?,http://h/6.ts http://h/7.ts,codec 0x81 not "
         "rewrapped"},
        {Hostile(Entry()), ListFormat::Csv,
         "firefox,mp4,\"=1+2\",1234,1000,complete,\"http://h/"
         "a%09b%0Ac%1B[31m\"\"q\"\",d\\e%E2%80%AEgpj.exe\",,,"},
        // A leading = + - @ is quoted, never altered.
        {Entry(u"+1"), ListFormat::Csv, "firefox,mp4,\"+1\",1234,1000,complete,http://h/clip.mp4,,,"},
        {Entry(u"-1"), ListFormat::Csv, "firefox,mp4,\"-1\",1234,1000,complete,http://h/clip.mp4,,,"},
        {Entry(u"@SUM(A1)"), ListFormat::Csv,
         "firefox,mp4,\"@SUM(A1)\",1234,1000,complete,http://h/clip.mp4,,,"},
        {Entry(u"a=b-c"), ListFormat::Csv, "firefox,mp4,a=b-c,1234,1000,complete,http://h/clip.mp4,,,"},
        {Entry(u""), ListFormat::Csv, "firefox,mp4,,1234,1000,complete,http://h/clip.mp4,,,"},
        {Entry(u"\r\n"), ListFormat::Csv, "firefox,mp4,%0D%0A,1234,1000,complete,http://h/clip.mp4,,,"},
        {Entry(), ListFormat::Json,
         R"({"kind":"firefox","type":"mp4","name":"clip.mp4","size":1234,"stored_size":1000,"state":"complete",)"
         R"("url":"http://h/clip.mp4","stored":"2024-05-01T10:00:00Z",)"
         R"("last_modified":"1969-12-31T23:59:59Z"})"},
        {Stream(), ListFormat::Json,
         R"({"kind":"stream","type":"ts","name":"v.ts","size":null,"stored_size":null,"state":"incomplete",)"
         R"("url":"http://h/v.m3u8","present":5,"expected":null,)"
         R"("missing":["http://h/6.ts","http://h/7.ts"],"note":"codec 0x81 not rewrapped"})"},
        {Hostile(Stream()), ListFormat::Json,
         R"({"kind":"stream","type":"ts","name":"=1+2","size":null,"stored_size":null,"state":"incomplete",)"
         R"("url":"http://h/a%09b%0Ac%1B[31m\"q\",d\\e%E2%80%AEgpj.exe",)"
         R"("present":5,"expected":null,"missing":["http://h/6.ts","http://h/7.ts",)"
         R"("http://h/a%09b%0Ac%1B[31m\"q\",d\\e%E2%80%AEgpj.exe"],"note":"codec 0x81 not rewrapped"})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf16ToUtf8(FormatListRow(c.row, c.format)), c.line);
    }
    EXPECT_EQ(ListHeader(ListFormat::Csv),
              u"kind,type,name,size,stored_size,state,url,segments,missing,note");
    EXPECT_EQ(ListHeader(ListFormat::Tsv), std::nullopt);
    EXPECT_EQ(ListHeader(ListFormat::Json), std::nullopt);
}

TEST(ItemFactss, HostileTextCarriesNoControlInAnyFormat) {
    ItemFacts row = Hostile(Stream());
    row.expected = 9;
    for (const ListFormat format : {ListFormat::Tsv, ListFormat::Csv, ListFormat::Json}) {
        std::u16string line = FormatListRow(row, format);
        if (format == ListFormat::Tsv) {
            EXPECT_EQ(std::count(line.begin(), line.end(), u'\t'), 9);
            std::replace(line.begin(), line.end(), u'\t', u' ');
        }
        EXPECT_EQ(ListField(line), line) << Utf16ToUtf8(line);
    }
}

TEST(ItemFactss, JsonKeepsTextAndEscapesLoneSurrogates) {
    const struct {
        std::u16string name;
        const char* json;
    } cases[] = {
        {u"caf\u00E9 \U0001F600", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\""},
        {u"raw\xDC80.bin", R"("raw%80.bin")"},  // a byte of a non-UTF-8 file name: percent-encoded
        {std::u16string(1, 0xD83D) + u"x", R"("\ud83dx")"},
        {u"x" + std::u16string(1, 0xDE00), R"("x\ude00")"},
    };
    for (const auto& c : cases) {
        const std::string line = Utf16ToUtf8(FormatListRow(Entry(c.name), ListFormat::Json));
        EXPECT_NE(line.find(std::string("\"name\":") + c.json + ","), std::string::npos) << line;
    }
}

TEST(ItemFactss, JsonTimesInUtcForYears0To9999) {
    constexpr std::int64_t kFar = std::numeric_limits<std::int64_t>::max();
    const struct {
        std::int64_t seconds;
        const char* time;  // empty: left out
    } cases[] = {
        {0, "1970-01-01T00:00:00Z"},
        {-86400, "1969-12-31T00:00:00Z"},
        {-86401, "1969-12-30T23:59:59Z"},
        {951782400, "2000-02-29T00:00:00Z"},
        {4107542400, "2100-03-01T00:00:00Z"},
        {-2203891200, "1900-03-01T00:00:00Z"},
        {-62162121600, "0000-02-29T00:00:00Z"},
        {-62162035200, "0000-03-01T00:00:00Z"},
        {-62167219200, "0000-01-01T00:00:00Z"},
        {253402300799, "9999-12-31T23:59:59Z"},
        {-62167219201, ""},
        {253402300800, ""},
        {kFar, ""},
        {-kFar - 1, ""},
    };
    for (const auto& c : cases) {
        ItemFacts row = Entry();
        row.storedTime = c.seconds;
        row.lastModified = c.seconds;
        const std::string times =
            *c.time ? std::string(R"(,"stored":")") + c.time + R"(","last_modified":")" + c.time + "\"" : "";
        EXPECT_EQ(
            Utf16ToUtf8(FormatListRow(row, ListFormat::Json)),
            R"({"kind":"firefox","type":"mp4","name":"clip.mp4","size":1234,"stored_size":1000,"state":"complete",)"
            R"("url":"http://h/clip.mp4")" +
                times + "}");
    }
}

}  // namespace
}  // namespace drovan::tests
