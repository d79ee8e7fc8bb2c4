#include <gtest/gtest.h>
#include <windows.h>

#include "extract/collector.h"
#include "extract/file_system_win.h"
#include "temp_folder.h"

namespace drovan {
namespace {

using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::TempFolder;

CollectSummary Collect(const std::wstring& cache, const std::wstring& destination, const std::wstring& type) {
    WindowsFileSystem files;
    return CollectCacheFiles(files, FromWide(cache), FromWide(destination), FromWide(type));
}

TEST(WindowsCollector, CopiesFlatWithNumberedNamesAndNeverOverwrites) {
    TempFolder tree;
    tree.Write(L"cache\\one\\a.swf", "first");
    tree.Write(L"cache\\two\\three\\A.SWF", "second");
    tree.Write(L"cache\\media.swf\\b.swf", "b");
    tree.Write(L"cache\\skip.flv", "no");
    tree.Write(L"out\\b.swf", "the user's own");

    const CollectSummary first = Collect(tree / L"cache\\", tree / L"out", L"swf");
    EXPECT_EQ(first.matched, 3u);
    EXPECT_EQ(first.copied, 3u);
    EXPECT_EQ(first.failed, 0u);
    EXPECT_EQ(ReadFile(tree / L"out\\a.swf"), "first");
    EXPECT_EQ(ReadFile(tree / L"out\\A (2).SWF"), "second");
    EXPECT_EQ(ReadFile(tree / L"out\\b.swf"), "the user's own");
    EXPECT_EQ(ReadFile(tree / L"out\\b (2).swf"), "b");
    EXPECT_FALSE(Exists(tree / L"out\\media.swf"));

    const CollectSummary second = Collect(tree / L"cache", tree / L"out\\", L"SWF");
    EXPECT_EQ(second.copied, 0u);
    EXPECT_EQ(second.alreadyPresent, 3u);
}

TEST(WindowsCollector, WalksAndCopiesPathsLongerThanTheClassicLimit) {
    TempFolder tree;
    std::wstring deep = L"cache";
    while (deep.size() < 300) {
        deep += L"\\folder-with-a-rather-long-name";
    }
    tree.Write(deep + L"\\clip.flv", "deep");
    std::wstring destination = tree / L"out";
    while (destination.size() < 280) {
        destination += L"\\destination-with-a-long-name";
    }
    ASSERT_TRUE(testing_support::CreateFolders(destination));

    const CollectSummary summary = Collect(tree / L"cache", destination, L"flv");

    EXPECT_EQ(summary.copied, 1u);
    EXPECT_EQ(ReadFile(destination + L"\\clip.flv"), "deep");
}

TEST(WindowsCollector, NamesOutsideTheChineseCodePageAreFoundAndCopied) {
    TempFolder tree;
    const std::wstring name = L"\u0E44\u0E1F\u0E25\u0E4C \U0001F600 \u00E5.mp3";
    tree.Write(L"cache\\\u0BA4\u0BAE\u0BBF\u0BB4\u0BCD\\" + name, "song");
    testing_support::CreateFolders(tree / L"out");

    const CollectSummary summary = Collect(tree / L"cache", tree / L"out", L"mp3");

    EXPECT_EQ(summary.copied, 1u);
    EXPECT_EQ(ReadFile(tree / (L"out\\" + name)), "song");
}

TEST(WindowsCollector, LinksAreNotDescendedIntoSoALoopEnds) {
    TempFolder tree;
    tree.Write(L"cache\\sub\\a.swf", "A");
    tree.Write(L"elsewhere\\b.swf", "B");
    ASSERT_TRUE(CreateSymbolicLinkW((tree / L"cache\\sub\\loop").c_str(), (tree / L"cache").c_str(),
                                    SYMBOLIC_LINK_FLAG_DIRECTORY));
    ASSERT_TRUE(CreateSymbolicLinkW((tree / L"cache\\link").c_str(), (tree / L"elsewhere").c_str(),
                                    SYMBOLIC_LINK_FLAG_DIRECTORY));
    testing_support::CreateFolders(tree / L"out");

    const CollectSummary summary = Collect(tree / L"cache", tree / L"out", L"swf");

    EXPECT_EQ(summary.matched, 1u);
    EXPECT_FALSE(Exists(tree / L"out\\b.swf"));
}

TEST(WindowsCollector, DestinationInsideTheCacheIsNotWalkedWhateverItsSpelling) {
    TempFolder tree;
    tree.Write(L"cache\\a.flv", "A");
    tree.Write(L"cache\\Inbox\\old.flv", "old");

    const std::wstring spelledDifferently = tree.path() + L"/CACHE/x/../inbox/";
    const CollectSummary summary = Collect(tree / L"cache", spelledDifferently, L"flv");

    EXPECT_EQ(summary.matched, 1u);
    EXPECT_EQ(ReadFile(tree / L"cache\\inbox\\a.flv"), "A");
    EXPECT_FALSE(Exists(tree / L"cache\\inbox\\old (2).flv"));
}

TEST(WindowsCollector, AFileHeldOpenExclusivelyCountsAsFailed) {
    TempFolder tree;
    const std::wstring locked = tree.Write(L"cache\\locked.mp4", "L");
    tree.Write(L"cache\\free.mp4", "F");
    testing_support::CreateFolders(tree / L"out");
    HANDLE hold = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);

    const CollectSummary summary = Collect(tree / L"cache", tree / L"out", L"mp4");
    CloseHandle(hold);

    EXPECT_EQ(summary.matched, 2u);
    EXPECT_EQ(summary.copied, 1u);
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_FALSE(Exists(tree / L"out\\locked.mp4"));
}

TEST(WindowsFileSystem, NormalisesSpellingsOfOneFolder) {
    TempFolder tree;
    testing_support::CreateFolders(tree / L"Cache");
    WindowsFileSystem files;
    const std::u16string plain = files.Normalise(FromWide(tree / L"Cache"));
    EXPECT_TRUE(files.SamePath(plain, files.Normalise(FromWide(tree / L"cache\\\\"))));
    EXPECT_TRUE(files.SamePath(plain, files.Normalise(FromWide(tree.path() + L"/x/../CACHE"))));
    EXPECT_FALSE(files.SamePath(plain, files.Normalise(FromWide(tree / L"Cache2"))));
    EXPECT_EQ(files.Normalise(u"C:\\"), u"C:\\");
    EXPECT_EQ(files.Normalise(u""), u"");
    EXPECT_EQ(ExtendedLengthPath(u"C:\\a"), L"\\\\?\\C:\\a");
    EXPECT_EQ(ExtendedLengthPath(u"\\\\server\\share\\a"), L"\\\\?\\UNC\\server\\share\\a");
    EXPECT_EQ(ExtendedLengthPath(u"\\\\?\\C:\\a"), L"\\\\?\\C:\\a");
}

}  // namespace
}  // namespace drovan
