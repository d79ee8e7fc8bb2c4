#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/harvest_job_win.h"
#include "app/taskbar_progress_win.h"
#include "main_window_fixture.h"

namespace drovan {
namespace {

constexpr const wchar_t* kStopQuestion = L"正在提取,是否停止?";
// Long enough under Wine to watch the window for a second or more while it extracts.
constexpr int kManyFiles = 3000;

int ProcessThreads() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

// Every file in the destination is a whole copy of the cached file of its name: nothing cut short.
void ExpectOnlyWholeFiles(const std::map<std::wstring, std::size_t>& copied,
                          const std::map<std::wstring, std::size_t>& cached) {
    for (const auto& [name, size] : copied) {
        const auto source = cached.find(name);
        ASSERT_NE(source, cached.end()) << testing::PrintToString(name);
        EXPECT_EQ(size, source->second) << testing::PrintToString(name);
    }
}

struct SeededCache {
    TempFolder folder;
    std::map<std::wstring, std::size_t> sizes;
};

// The main window during and around a harvest that takes seconds.
class BusyWindowTest : public ExtractorDialogTest {
  protected:
    static void SetUpTestSuite() {
        s_manySmall = std::make_unique<SeededCache>();
        s_manySmall->sizes = SeedCache(s_manySmall->folder, kManyFiles, 1024);
        // Files that take a while each, so that a stop can come in the middle of one.
        s_fewLarge = std::make_unique<SeededCache>();
        s_fewLarge->sizes = SeedCache(s_fewLarge->folder, 6, 24 << 20);
    }
    static void TearDownTestSuite() {
        s_manySmall.reset();
        s_fewLarge.reset();
    }
    // The taskbar needs COM on the window's thread, as the program has.
    void SetUp() override {
        ExtractorDialogTest::SetUp();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    void TearDown() override {
        CoUninitialize();
        ExtractorDialogTest::TearDown();
    }

    // Starts a harvest into the folder and waits until the window shows it is busy.
    bool StartExtracting(HWND dialog, const std::wstring& into) {
        SetPath(dialog, into);
        Click(dialog, IDC_EXTRACT);
        return WaitFor([&] { return Busy(dialog); });
    }
    HWND ExpectStopQuestion() {
        HWND box = ExpectMessageBox(kStopQuestion, IDI_QUESTION);
        if (box != nullptr) {
            EXPECT_NE(GetDlgItem(box, IDYES), nullptr);
            EXPECT_NE(GetDlgItem(box, IDNO), nullptr);
        }
        return box;
    }
    // The completion question may be a whole harvest away.
    HWND WaitForCompletion() { return ExpectMessageBox(kFinished, nullptr, 90000); }

    inline static std::unique_ptr<SeededCache> s_manySmall;
    inline static std::unique_ptr<SeededCache> s_fewLarge;
};

TEST_F(BusyWindowTest, TheWindowAnswersWhileExtractingStartsNothingElseAndNoToTheCloseQuestionCarriesOn) {
    m_cacheFolder = s_manySmall->folder.path();
    Run([&](HWND dialog) {
        ASSERT_TRUE(StartExtracting(dialog, m_destination.path()));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_SAVE_PATH)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT)));
        EXPECT_EQ(ThreadHandle::LiveCount(), 1);

        int probes = 0;
        for (const DWORD start = GetTickCount(); GetTickCount() - start < 1000; ++probes) {
            DWORD_PTR answer = 0;
            ASSERT_NE(SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 100, &answer), 0)
                << "no answer within 100 ms at probe " << probes;
            Sleep(20);
        }
        EXPECT_GE(probes, 20);
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        EXPECT_TRUE(WaitFor([&] { return !GetUpdateRect(dialog, nullptr, FALSE); }, 1000)) << "no repaint";

        // The cursor is the thread's, so ask from inside the window's input state.
        AttachThreadInput(GetCurrentThreadId(), uiThread(), TRUE);
        SendMessageW(dialog, WM_SETCURSOR, reinterpret_cast<WPARAM>(dialog),
                     MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_APPSTARTING));
        AttachThreadInput(GetCurrentThreadId(), uiThread(), FALSE);

        // Neither a second harvest nor the folder browser, by any route.
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_EXTRACT, BN_CLICKED), 0);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SAVE_PATH, BN_CLICKED), 0);
        Click(dialog, IDC_EXTRACT);
        EXPECT_TRUE(NoDialogAppearsFor(300));
        EXPECT_EQ(m_cacheQueries, 1);

        Click(dialog, IDC_ABOUT);
        HWND about = WaitForDialog(uiThread(), dialog, L"关于 Drovan");
        EXPECT_NE(about, nullptr);
        PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }));

        // Asked twice, answered No twice: the harvest goes on.
        for (int round = 0; round < 2; ++round) {
            Click(dialog, IDC_CLOSE);
            HWND box = ExpectStopQuestion();
            ASSERT_NE(box, nullptr);
            EXPECT_TRUE(Answer(box, IDNO));
        }
        EXPECT_TRUE(Busy(dialog)) << "the harvest ended too soon to watch; seed a bigger cache";

        HWND finished = WaitForCompletion();
        ASSERT_NE(finished, nullptr);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_SAVE_PATH)));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_EXTRACT)));
        EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_SETTINGS_FRAME)), L"设置");
        EXPECT_EQ(ThreadHandle::LiveCount(), 0);
        EXPECT_TRUE(Answer(finished, IDNO));
    });
    EXPECT_EQ(FileSizes(m_destination.path()), s_manySmall->sizes);
}

struct StopRoute {
    const char* name;
    const SeededCache* cache;
    std::function<void(HWND dialog, DWORD ui)> close;
    bool asks;
    INT_PTR result;
};

TEST_F(BusyWindowTest, StoppingLeavesOnlyWholeFilesAndNoThread) {
    const auto closeButton = [](HWND dialog, DWORD) { Click(dialog, IDC_CLOSE); };
    const StopRoute routes[] = {
        {"close button", s_manySmall.get(), closeButton, true, IDCANCEL},
        {"close button during large files", s_fewLarge.get(), closeButton, true, IDCANCEL},
        {"Esc", s_manySmall.get(), [](HWND, DWORD ui) { PressKey(ui, VK_ESCAPE); }, true, IDCANCEL},
        {"WM_CLOSE", s_manySmall.get(), [](HWND dialog, DWORD) { PostMessageW(dialog, WM_CLOSE, 0, 0); },
         true, IDCANCEL},
        // The focus is on no button while extracting, so Enter ends the dialog.
        {"Enter", s_manySmall.get(), [](HWND, DWORD ui) { PressKey(ui, VK_RETURN); }, true, IDOK},
        {"logoff", s_manySmall.get(),
         [](HWND dialog, DWORD) {
             DWORD_PTR answer = 0;
             EXPECT_NE(SendMessageTimeoutW(dialog, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                           30000, &answer),
                       0);
             EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
             SendMessageTimeoutW(dialog, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000,
                                 &answer);
         },
         false, IDCANCEL},
    };
    // The baseline counts the threads that stay: GoogleTest's watcher of this thread, which its first trace
    // starts, and whatever Wine starts for the first harvest of a process.
    SCOPED_TRACE("warm-up");
    m_cache.Write(L"warm.swf", "w");
    Run([&](HWND dialog) {
        SetPath(dialog, m_destination.path());
        Click(dialog, IDC_EXTRACT);
        if (HWND box = WaitForCompletion()) {
            Click(box, IDNO);
        }
    });
    const int threadsBefore = ProcessThreads();
    for (const StopRoute& route : routes) {
        SCOPED_TRACE(route.name);
        const TempFolder into;
        m_cacheFolder = route.cache->folder.path();
        const INT_PTR result = Run([&](HWND dialog) {
            ASSERT_TRUE(StartExtracting(dialog, into.path()));
            route.close(dialog, uiThread());
            if (route.asks) {
                HWND box = ExpectStopQuestion();
                ASSERT_NE(box, nullptr);
                Click(box, IDYES);
            } else {
                EXPECT_FALSE(Busy(dialog));
                EXPECT_TRUE(NoDialogAppearsFor(300));
                Click(dialog, IDC_CLOSE);
            }
            EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
        });
        EXPECT_EQ(result, route.result);
        EXPECT_EQ(ThreadHandle::LiveCount(), 0);
        EXPECT_TRUE(WaitFor([&] { return ProcessThreads() <= threadsBefore; }, 3000)) << ProcessThreads();
        const auto copied = FileSizes(into.path());
        ExpectOnlyWholeFiles(copied, route.cache->sizes);
        // Large files copy quickly from the page cache, so the stop may come after the last of them.
        if (route.cache == s_manySmall.get()) {
            EXPECT_LT(copied.size(), route.cache->sizes.size()) << "the stop came after the last file";
        }
    }
}

TEST_F(BusyWindowTest, HarvestsInARowLeaveNoThreadOrHandleBehind) {
    constexpr int kRounds = 3;
    m_cache.Write(L"a\\one.swf", "1");
    m_cache.Write(L"b\\two.swf", "22");
    std::size_t handlesAfterFirst = 0;
    int threadsAfterFirst = 0;
    Run([&](HWND dialog) {
        SetPath(dialog, m_destination.path());
        for (int round = 0; round < kRounds; ++round) {
            Click(dialog, IDC_EXTRACT);
            HWND box = WaitForCompletion();
            ASSERT_NE(box, nullptr) << round;
            Click(box, IDNO);
            ASSERT_TRUE(WaitFor([&] { return !IsWindow(box) && !Busy(dialog); })) << round;
            if (round == 0) {
                DWORD handles = 0;
                GetProcessHandleCount(GetCurrentProcess(), &handles);
                handlesAfterFirst = handles;
                threadsAfterFirst = ProcessThreads();
            }
        }
        EXPECT_EQ(ThreadHandle::LiveCount(), 0);
        EXPECT_EQ(TaskbarList::LiveCount(), 0);
        EXPECT_TRUE(WaitFor([&] { return ProcessThreads() <= threadsAfterFirst; }, 3000)) << ProcessThreads();
        DWORD handles = 0;
        GetProcessHandleCount(GetCurrentProcess(), &handles);
        EXPECT_LE(handles, handlesAfterFirst);
    });
    EXPECT_EQ(m_cacheQueries, kRounds);
    EXPECT_EQ(FileSizes(m_destination.path()),
              (std::map<std::wstring, std::size_t>{{L"one.swf", 1}, {L"two.swf", 2}}));
}

// A worker that does not end after a stop (a stalled network drive) never holds the window: the job waits for
// it a bounded time, and the worker later ends on its own, touching only its own share of the state.
TEST(HarvestJob, NeverWaitsForAStalledWorkerWithoutBound) {
    const auto release = std::make_shared<ThreadHandle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const auto ended = std::make_shared<std::atomic<bool>>(false);
    auto job = std::make_unique<HarvestJob>(
        [release, ended](HarvestProgress& progress) {
            WaitForSingleObject(release->get(), INFINITE);
            HarvestResult result;
            result.summary.stopped = progress.stop;
            *ended = true;
            return result;
        },
        nullptr, WM_APP);
    EXPECT_FALSE(job->Finish(50).has_value());
    const ULONGLONG start = GetTickCount64();
    job.reset();
    EXPECT_LT(GetTickCount64() - start, 1000u);
    auto stalled = std::make_unique<HarvestJob>(
        [release](HarvestProgress&) {
            WaitForSingleObject(release->get(), INFINITE);
            return HarvestResult{};
        },
        nullptr, WM_APP);
    const ULONGLONG stopAsked = GetTickCount64();
    stalled.reset();
    const ULONGLONG waited = GetTickCount64() - stopAsked;
    EXPECT_GE(waited + 100, HarvestJob::kStopLimit);
    EXPECT_LT(waited, HarvestJob::kStopLimit + 2000);
    EXPECT_EQ(ThreadHandle::LiveCount(), 1);  // the event
    SetEvent(release->get());
    EXPECT_TRUE(WaitFor([&] { return ended->load(); }));
}

}  // namespace
}  // namespace drovan
