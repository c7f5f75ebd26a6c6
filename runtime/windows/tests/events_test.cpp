// SPDX-License-Identifier: GPL-3.0-or-later
// The ACCEPT loop driven as a person would drive it: events in the order a body sees them, POST
// and CYCLE, accept-all mode, alert keys, nested loops, the frame closing its MDI children first,
// threads that take turns only between loop bodies, START refused while a window is modal, a
// thousand procedures that leave nothing behind, and scripts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/string_stack.h"
#include "core/tests/test_support.h"
#include "platform/platform.h"
#include "tarvex/controls.h"
#include "tarvex/dates.h"
#include "tarvex/decimal.h"
#include "tarvex/frame.h"
#include "tarvex/queue.hpp"
#include "tarvex/string_stack.h"
#include "tarvex/windows.hpp"
#include "windows/driver.h"
#include "windows/events.h"
#include "windows/headless_ui.h"
#include "windows/threads.h"
#include "windows/window_object.h"
#include "windows/tests/claim_rows.h"

namespace tarvex::windows {
namespace {

constexpr const char* kModule = "LUMAREX$EVENTTEST";
constexpr const char* kFormTitle = "Update Patient";

// Field numbers of P1$FORM: prompts 1 and 3, entries 2, 4 and 5, the list 6, the buttons 7 and 8.
constexpr int32_t kLastName = 2, kFirstName = 4, kCode = 5, kList = 6, kSave = 7;

std::mutex log_mutex;
std::vector<std::string> log_lines;

void Log(const std::string& line) {
    std::lock_guard guard(log_mutex);
    log_lines.push_back(line);
}

std::vector<std::string> Logged() {
    std::lock_guard guard(log_mutex);
    return log_lines;
}

// "event/field/accepted/selected" of the current event.
std::string Seen() {
    return std::to_string(EVENT()) + "/" + std::to_string(FIELD()) + "/" + std::to_string(ACCEPTED()) + "/" +
           std::to_string(SELECTED());
}

// Waits (the lock given up) until the started threads have ended.
void LetThreadsRun() {
    Vrn$UNLOCKTHREAD();
    for (int i = 0; i < 4000 && RunningThreads() > 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    Vrn$LOCKTHREAD();
    ASSERT_EQ(RunningThreads(), 0);
}

struct Form {
    char last[20], first[20], code[5];
    int queue = 0;
    tarvex::Window window{kModule, "P1$FORM", last, first, code, &queue};
    explicit Form(const char* first_name = "") {
        std::memset(last, ' ', sizeof last);
        std::memset(first, ' ', sizeof first);
        std::memset(code, ' ', sizeof code);
        std::memcpy(first, first_name, std::strlen(first_name));
        window.Open();
        EXPECT_TRUE(window.Object()->open);
    }
    Control& Field(int32_t number) { return *FindControl(*window.Object(), number); }
};

class Events : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ThisThreadSlot(), 0);
        std::lock_guard guard(log_mutex);
        log_lines.clear();
    }
};

TEST_F(Events, APersonTypesAndSavesAndTheBodySeesEachStep) {
    EXPECT_EQ(EVENT(), 0);   // outside any event
    Form form;
    std::thread person([] {
        Driver driver(std::chrono::seconds(5));
        EXPECT_TRUE(driver.Type(kFormTitle, "&Last Name:", "Smith")) << driver.Why();
        EXPECT_TRUE(driver.Press(kFormTitle, "&Save")) << driver.Why();
    });
    for (Accept accept; accept.Next();) {
        Log(Seen());
        if (ACCEPTED() == kSave)
            break;
    }
    person.join();
    // The text is accepted when the person tabs away from it; a Selected event is not an
    // Accepted one even though FIELD names the control.
    EXPECT_EQ(Logged(), (std::vector<std::string>{"515/0/0/0", "1/2/2/0", "257/4/0/4", "257/7/0/7", "1/7/7/0"}));
    EXPECT_EQ(std::string(form.last, 20), "Smith               ");
    EXPECT_EQ(form.Field(kLastName).text, "Smith               ");   // shown through @s20
    EXPECT_EQ(FOCUS(), kSave);
    EXPECT_EQ(FIRSTFIELD(), 1);
    EXPECT_EQ(LASTFIELD(), 8);
    EXPECT_EQ(EVENT(), 0);   // the loop is over
    EXPECT_EQ(*Driver(std::chrono::milliseconds(100)).Shown(kFormTitle, "#2"), "Smith               ");
}

TEST_F(Events, APostedCloseArrivesAfterTheBodyAndCycleRefusesIt) {
    Form form;
    int passes = 0, closes = 0;
    for (Accept accept; accept.Next();) {
        passes++;
        if (EVENT() == EVENT_OpenWindow) {
            POST(EVENT_CloseWindow);
            EXPECT_EQ(EVENT(), EVENT_OpenWindow);   // not delivered inside the body
            Vrn$POST(EVENT_CloseWindow, 0, 40);     // a thread without a window: nothing
        } else if (EVENT() == EVENT_CloseWindow && ++closes == 1) {
            POST(EVENT_CloseWindow);
            accept.Cycle();                          // the first close is refused
            continue;
        }
    }
    EXPECT_EQ(passes, 3);
    EXPECT_EQ(closes, 2);
    EXPECT_TRUE(form.window.Object()->open);   // the loop ended; CLOSE takes the window down
}

TEST_F(Events, AcceptAllStopsAtTheFirstIncompleteFieldOrCompletes) {
    for (bool second_complete : {false, true}) {
        Form form(second_complete ? "Ann" : "");
        form.Field(kFirstName).flags |= 0x1;   // REQ
        std::vector<std::string> seen;
        for (Accept accept; accept.Next();) {
            seen.push_back(Seen());
            if (EVENT() == EVENT_OpenWindow)
                SELECT(0);
            if (EVENT() == EVENT_Selected && SELECTED() == kFirstName)
                POST(EVENT_CloseWindow);
            if (EVENT() == EVENT_Completed)
                break;
        }
        if (second_complete) {
            EXPECT_EQ(seen, (std::vector<std::string>{"515/0/0/0", "1/2/2/0", "1/4/4/0", "1/5/5/0", "1/6/6/0",
                                                      "549/0/0/0"}));
        } else {
            EXPECT_EQ(seen, (std::vector<std::string>{"515/0/0/0", "1/2/2/0", "257/4/0/4", "513/0/0/0"}));
            EXPECT_EQ(FOCUS(), kFirstName);
        }
    }
}

TEST_F(Events, SelectingTheCurrentFieldKeepsAcceptAllRunningAnotherEndsIt) {
    Form form;
    std::vector<std::string> seen;
    for (Accept accept; accept.Next();) {
        seen.push_back(Seen());
        if (EVENT() == EVENT_OpenWindow)
            SELECT(0);
        if (ACCEPTED() == kLastName)
            SELECT(kLastName);       // the field of the current event: the mode goes on
        if (ACCEPTED() == kFirstName)
            SELECT(kList);           // another field: the mode ends there
        if (SELECTED() == kList)
            break;
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"515/0/0/0", "1/2/2/0", "1/4/4/0", "257/6/0/6"}));
}

TEST_F(Events, AlertKeysRaiseAlertKeyEscClosesAndPressedKeysComeFirst) {
    char unused = 0;
    tarvex::Window preview(kModule, "P1$PREVIEW", &unused);
    preview.Open();
    std::vector<std::string> seen;
    std::thread person([] {
        Driver driver(std::chrono::seconds(5));
        EXPECT_TRUE(driver.PressKey("Preview", 0x22)) << driver.Why();   // PgDn: alerted
        EXPECT_TRUE(driver.PressKey("Preview", 0x1B)) << driver.Why();   // Esc
    });
    for (Accept accept; accept.Next();) {
        seen.push_back(std::to_string(EVENT()) + " key " + std::to_string(Vrn$KEYCODE()));
        if (EVENT() == EVENT_OpenWindow)
            Vrn$PRESSKEY(0x21);   // PgUp, as if typed: before the person's keys
    }
    person.join();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1], "15 key 33");
    EXPECT_EQ(seen[2], "15 key 34");
    EXPECT_EQ(seen[3], "513 key 27");
}

// F1, a pressed F1 and a Help button show the help file at the deepest topic: the focused field's
// keyword, else its window's. No help file named shows nothing; one that cannot be read says so.
TEST_F(Events, HelpShowsTheFocusedFieldsTopicElseItsWindowsAndAMissingFileIsSaid) {
    HeadlessUi* ui = HeadlessBackend();
    ASSERT_NE(ui, nullptr);
    platform::HeadlessMessageBoxes* boxes = platform::Headless();
    ASSERT_NE(boxes, nullptr);
    auto run = [&](const char* help_file, bool press_f1_at_open) {
        HELP(help_file);
        boxes->ClearTranscript();
        size_t before = ui->HelpRequests().size();
        char first[20], second[20];
        tarvex::Window window(kModule, "P1$HELPED", first, second);
        window.Open();
        tarvex::Target(window.Object())[{1, VRN_PROP_HELP}] = "InvoiceNumber";
        std::thread person([] {
            Driver driver(std::chrono::seconds(5));
            EXPECT_TRUE(driver.PressKey("Update Invoice", 0x70)) << driver.Why();   // on field 1
            EXPECT_TRUE(driver.Focus("Update Invoice", "#2")) << driver.Why();
            EXPECT_TRUE(driver.PressKey("Update Invoice", 0x70)) << driver.Why();   // field 2: none of its own
            EXPECT_TRUE(driver.Press("Update Invoice", "Help")) << driver.Why();
            EXPECT_TRUE(driver.PressKey("Update Invoice", 0x1B)) << driver.Why();
        });
        std::vector<int32_t> accepted;
        for (Accept accept; accept.Next();) {
            if (EVENT() == EVENT_OpenWindow && press_f1_at_open)
                PRESSKEY(112);
            if (EVENT() == EVENT_Accepted)
                accepted.push_back(FIELD());
        }
        person.join();
        EXPECT_EQ(accepted, std::vector<int32_t>{3});   // the body saw the Help button first
        std::vector<std::string> topics;
        for (size_t i = before; i < ui->HelpRequests().size(); i++)
            topics.push_back(ui->HelpRequests()[i].keyword);
        return topics;
    };

    // None named: nothing is shown and nothing is said.
    EXPECT_TRUE(run("", false).empty());
    EXPECT_TRUE(boxes->Transcript().empty());

    tarvex::testing::TemporaryDrive drive;
    std::string folder = platform::ResolveFileName("C:\\LUMAREX");
    std::filesystem::create_directories(folder);
    std::FILE* file = std::fopen((folder + "/LUMAREX.HLP").c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("<html><title>Help</title><a name=\"UpdateINV\">Invoices</a></html>", file);
    std::fclose(file);
    EXPECT_EQ(run("C:\\LUMAREX\\LUMAREX.HLP", true),
              (std::vector<std::string>{"InvoiceNumber", "InvoiceNumber", "UpdateINV", "UpdateINV"}));
    EXPECT_TRUE(boxes->Transcript().empty());
    EXPECT_EQ(ui->HelpRequests().back().file, folder + "/LUMAREX.HLP");

    std::vector<std::string> missing = run("C:\\LUMAREX\\NOHELP.HLP", false);
    EXPECT_EQ(missing.size(), 3u);
    std::vector<platform::HeadlessMessageBoxes::Shown> said = boxes->Transcript();
    ASSERT_EQ(said.size(), 3u);
    EXPECT_EQ(said[0].request.text, "The help file C:\\LUMAREX\\NOHELP.HLP cannot be opened.");
    EXPECT_EQ(said[0].request.caption, "Help");
    HELP("");
}

int32_t TakesSelections() {
    Log("handler saw " + std::to_string(EVENT()) + " of " + std::to_string(FIELD()));
    return EVENT() == EVENT_Selected ? 1 : 0;
}

TEST_F(Events, HandlersSeeTheirEventsFirstAndMayTakeThem) {
    Form form;
    Vrn$REGISTEREVENT(EVENT_Selected, TakesSelections, 0);
    Vrn$REGISTEREVENT(EVENT_Accepted, TakesSelections, kCode);
    std::vector<int32_t> bodies;
    for (Accept accept; accept.Next();) {
        bodies.push_back(EVENT());
        if (EVENT() == EVENT_OpenWindow) {
            SELECT(kFirstName);                    // taken by the handler
            POST(EVENT_Accepted, kCode);           // seen by the handler, left to the body
            POST(EVENT_Accepted, kLastName);       // no handler for this field
        }
        if (ACCEPTED() == kLastName) {
            Vrn$UNREGISTEREVENT(EVENT_Selected, TakesSelections, 0);
            SELECT(kCode);                         // no handler now: the body sees it
        }
        if (SELECTED() == kCode)
            break;
    }
    EXPECT_EQ(bodies, (std::vector<int32_t>{EVENT_OpenWindow, EVENT_Accepted, EVENT_Accepted, EVENT_Selected}));
    EXPECT_EQ(Logged(), (std::vector<std::string>{"handler saw 257 of 4", "handler saw 1 of 5"}));
}

TEST_F(Events, ClosingAWindowClosesTheOnesItsThreadOpenedAfterIt) {
    char unused = 0;
    tarvex::Window first(kModule, "P1$CHILD", &unused), second(kModule, "P1$TICK", &unused),
        third(kModule, "P1$PREVIEW", &unused);
    first.Open();
    second.Open();
    third.Open();
    EXPECT_EQ(Wsl$GetTargetWindow(), third.Object());
    Vrn$CLOSEwindow(second.Object());
    EXPECT_TRUE(first.Object()->open);
    EXPECT_FALSE(second.Object()->open);
    EXPECT_FALSE(third.Object()->open);
    EXPECT_EQ(Wsl$GetTargetWindow(), first.Object());
    Vrn$CLOSEwindow(second.Object());   // not open: nothing
    EXPECT_TRUE(first.Object()->open);
    // DoEvent lets waiting input reach the window queue without running a loop.
    NativeInput close{.kind = InputKind::kClose, .window = first.Object()->handle};
    ASSERT_TRUE(PostInput(close));
    Wsl$DoEvent(0);
    ASSERT_EQ(first.Object()->events.queue.size(), 2u);   // OpenWindow, then the close box's
    EXPECT_EQ(first.Object()->events.queue.back().Number(), uint32_t(kEventCloseWindow));
}

TEST_F(Events, BreakOutOfAnOuterLoopUnwindsTheInnerOne) {
    Form form;
    int inner_passes = 0;
    ASSERT_EQ(Vrn$StartEventLoop(), 0);            // outer: EVENT:OpenWindow of the form
    {
        char unused = 0;
        tarvex::Window child(kModule, "P1$CHILD", &unused);
        child.Open();
        EXPECT_EQ(Wsl$GetTargetWindow(), child.Object());
        ASSERT_EQ(Vrn$StartEventLoop(), 0);        // inner: the child's OpenWindow
        inner_passes++;
        Vrn$EndEventLoops(2);                      // BREAK out of the outer loop
        EXPECT_EQ(EVENT(), 0);
    }
    EXPECT_EQ(inner_passes, 1);
    EXPECT_EQ(Wsl$GetTargetWindow(), form.window.Object());
    // The form's loop can run again from a clean frame.
    POST(EVENT_CloseWindow);
    std::vector<int32_t> events;
    for (Accept accept; accept.Next();)
        events.push_back(EVENT());
    EXPECT_EQ(events, (std::vector<int32_t>{EVENT_CloseWindow}));
}

std::atomic<int> children_open{0};

void ChildProcedure() {
    char unused = 0;
    tarvex::Window child(tarvex::Window::As::kMdiChild, kModule, "P1$CHILD", &unused);
    child.Open();
    children_open++;
    for (Accept accept; accept.Next();)
        if (EVENT() == EVENT_CloseDown)
            Log("child " + std::to_string(THREAD()) + " closes down");
    Log("child " + std::to_string(THREAD()) + " ended");
}

TEST_F(Events, TheFrameClosesItsMdiChildrenOneCloseDownEachThenItself) {
    children_open = 0;
    char unused = 0;
    tarvex::Window frame(tarvex::Window::As::kApplication, kModule, "P1$FRAME", &unused);
    frame.Open();
    ASSERT_EQ(ApplicationFrame(), frame.Object());
    std::thread person([] {
        for (int i = 0; i < 2500 && children_open < 2; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        Driver driver(std::chrono::seconds(5));
        EXPECT_TRUE(driver.CloseBox("Lumarex Billing")) << driver.Why();
    });
    for (Accept accept; accept.Next();) {
        if (EVENT() == EVENT_OpenWindow) {
            EXPECT_GT(START(ChildProcedure, 25000), 0);
            EXPECT_GT(START(ChildProcedure, 64000), 0);
        }
        if (EVENT() == EVENT_CloseWindow)
            Log("frame asked to close");
    }
    Log("frame ended");
    person.join();
    LetThreadsRun();
    std::vector<std::string> lines = Logged();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines.front(), "frame asked to close");
    EXPECT_EQ(lines.back(), "frame ended");
    // One CloseDown each, the first child gone before the second is asked.
    EXPECT_NE(lines[1].find("closes down"), std::string::npos);
    EXPECT_NE(lines[2].find("ended"), std::string::npos);
    EXPECT_EQ(lines[1].substr(0, 8), lines[2].substr(0, 8));
    EXPECT_NE(lines[3].find("closes down"), std::string::npos);
    EXPECT_NE(lines[4].find("ended"), std::string::npos);
    EXPECT_NE(lines[1].substr(0, 8), lines[3].substr(0, 8));
}

// The menu item with standard action 16 shows the print dialog (headless: a question naming the
// printer) and says nothing to the program; the next item still reaches it.
TEST_F(Events, PrinterSetupOnTheMenuShowsThePrintDialogWithoutProgramCode) {
    char unused = 0;
    tarvex::Window frame(tarvex::Window::As::kApplication, kModule, "P1$FRAME", &unused);
    frame.Open();
    platform::HeadlessMessageBoxes* boxes = platform::Headless();
    ASSERT_NE(boxes, nullptr);
    boxes->ClearTranscript();
    std::thread person([] {
        Driver driver(std::chrono::seconds(5));
        EXPECT_TRUE(driver.Choose("Lumarex Billing", "&File|&Print Setup")) << driver.Why();
        EXPECT_TRUE(driver.Choose("Lumarex Billing", "&File|E&xit")) << driver.Why();
    });
    std::vector<int32_t> accepted;
    for (Accept accept; accept.Next();) {
        if (EVENT() == EVENT_Accepted) {
            accepted.push_back(FIELD());
            break;
        }
    }
    person.join();
    EXPECT_EQ(accepted, std::vector<int32_t>{-3});   // E&xit: the menu is -1, Print Setup -2
    std::vector<platform::HeadlessMessageBoxes::Shown> shown = boxes->Transcript();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].request.text.rfind("Printer: ", 0), 0u);
}

void NeverRuns() { Log("ran"); }

TEST_F(Events, StartWhileAModalWindowIsOpenIsRefusedAndItsParametersAreGone) {
    char unused = 0;
    tarvex::Window frame(tarvex::Window::As::kApplication, kModule, "P1$FRAME", &unused);
    frame.Open();
    uint32_t depth = Vrw$StackDepth();
    EXPECT_GT(START(NeverRuns, 0, "one"), 0);   // the frame alone is not modal
    LetThreadsRun();
    {
        Form modal;   // a plain window on the frame's thread
        PushCopy("Smith");
        PushCopy("John");
        EXPECT_EQ(Vrn$START2(NeverRuns, 25000), 0);
        EXPECT_EQ(Vrw$StackDepth(), depth);
    }
    EXPECT_EQ(Logged(), std::vector<std::string>{"ran"});
}

std::atomic<int> turns_broken{0};
int shared_count = 0;   // program data: only the lock's holder touches it

void Ticks() {
    char unused = 0;
    tarvex::Window ticking(kModule, "P1$TICK", &unused);
    ticking.Open();
    int ticks = 0;
    for (Accept accept; accept.Next();) {
        if (EVENT() != EVENT_Timer)
            continue;
        if (shared_count % 2 != 0)
            turns_broken++;          // another body is half done
        shared_count++;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        shared_count++;
        if (++ticks == 25)
            POST(EVENT_CloseWindow);
    }
}

TEST_F(Events, TwoThreadsTakeTurnsOnlyBetweenLoopBodies) {
    turns_broken = 0;
    shared_count = 0;
    ASSERT_GT(START(Ticks, 0), 0);
    Ticks();
    LetThreadsRun();
    EXPECT_EQ(turns_broken, 0);
    EXPECT_EQ(shared_count, 100);
}

void OpensAndCloses() {
    char unused = 0;
    tarvex::Window child(kModule, "P1$CHILD", &unused);
    child.Open();
    for (Accept accept; accept.Next();)
        if (EVENT() == EVENT_OpenWindow)
            POST(EVENT_CloseWindow);
}

TEST_F(Events, AThousandProceduresLeaveNoSlotWindowOrObjectBehind) {
    size_t windows = HeadlessBackend()->WindowCount();
    size_t declared = DeclaredWindows().size();
    for (int i = 0; i < 1000; i++) {
        ASSERT_GT(START(OpensAndCloses, 0), 0) << i;
        LetThreadsRun();
    }
    EXPECT_EQ(HeadlessBackend()->WindowCount(), windows);
    EXPECT_EQ(DeclaredWindows().size(), declared);
    for (int slot = 1; slot < 64; slot++)
        EXPECT_TRUE(OpenWindowsOf(slot).empty());
}

VrnWindowObject* left_open = nullptr;

void LeavesItsWindowOpenAndTheLockGivenUp() {
    static char unused = 0;
    Vrn$pwopen(&left_open, kModule, "P1$CHILD", &unused, nullptr);
    Vrn$OPENwindow(left_open);
    Vrn$UNLOCKTHREAD();
}

TEST_F(Events, AThreadThatEndsWithTheLockGivenUpOrWindowsOpenFreesItsSlot) {
    size_t windows = HeadlessBackend()->WindowCount();
    for (int i = 0; i < 70; i++) {   // more than the slots: each one is given back
        ASSERT_GT(START(LeavesItsWindowOpenAndTheLockGivenUp, 0), 0) << i;
        LetThreadsRun();
        EXPECT_FALSE(left_open->open);
        Vrn$freewindow(&left_open);
    }
    EXPECT_EQ(HeadlessBackend()->WindowCount(), windows);
}

TEST_F(Events, AScriptDrivesTheFormAndAFailedStepNamesItsLine) {
    Form form;
    std::vector<std::string> transcript;
    static std::vector<std::string>* lines = nullptr;
    lines = &transcript;
    int failed_line = -1;
    std::thread person([&] {
        Driver driver;
        failed_line = RunScript(
            "# a clerk corrects a name\n"
            "timeout 3000\n"
            "wait \"Update Patient\"\n"
            "type \"Update Patient\" \"&Last Name:\" \"O'Neil\"\n"
            "expect \"Update Patient\" #2 \"O'Neil\"\n"
            "key \"Update Patient\" Shift+Tab\n"
            "press \"Update Patient\" \"&Nope\"\n"
            "press \"Update Patient\" \"&Save\"\n",
            driver, [](std::string_view line) { lines->emplace_back(line); });
        driver.Press(kFormTitle, "&Save");
    });
    for (Accept accept; accept.Next();)
        if (ACCEPTED() == kSave)
            break;
    person.join();
    EXPECT_EQ(failed_line, 7);
    ASSERT_EQ(transcript.size(), 6u);
    EXPECT_EQ(transcript[3], "step 5: expect \"Update Patient\" #2 \"O'Neil\": ok");
    EXPECT_EQ(transcript.back(),
              "step 7: press \"Update Patient\" \"&Nope\": FAILED: no control \"&Nope\" in \"Update Patient\"");
    EXPECT_EQ(std::string(form.last, 20), "O'Neil              ");
}

// The browse of the controls' tests: a LIST of 12 rows a page over a queue of 30, Select (3) and
// Close (4). A person pages and picks through a script; the program's body
// selects a row by property when Select is pressed.
TEST_F(Events, AScriptPagesAndPicksInABrowseOfThirtyRows) {
    Queue<ClaimRow> rows, other;
    AddClaimRows(rows, 30);
    tarvex::Window window{"LUMAREX$CTLTEST", "P1$BROWSE", rows.Declaration(), other.Declaration()};
    window.Open();
    ASSERT_TRUE(window.Object()->open);
    int failed_line = -1;
    std::string why;
    std::thread person([&] {
        Driver driver;
        failed_line = RunScript(
            "timeout 3000\n"
            "wait \"Claim Browser\"\n"
            "row \"Claim Browser\" #1 1 \"1/02/2024|Signer 1|1.05\"\n"
            "row \"Claim Browser\" #1 12 \"1/13/2024|Signer 12|12.05\"\n"
            "key \"Claim Browser\" Down\n"
            "selected \"Claim Browser\" #1 2\n"
            "key \"Claim Browser\" PgDn\n"
            "selected \"Claim Browser\" #1 14\n"
            "row \"Claim Browser\" #1 24 \"1/25/2024|Signer 24|24.05\"\n"
            "key \"Claim Browser\" End\n"
            "selected \"Claim Browser\" #1 30\n"
            "row \"Claim Browser\" #1 30 \"1/03/2024|Signer 30|30.05\"\n"
            "row \"Claim Browser\" #1 19 \"1/20/2024|Signer 19|19.05\"\n"
            "pick \"Claim Browser\" #1 20\n"
            "selected \"Claim Browser\" #1 20\n"
            "key \"Claim Browser\" Up\n"
            "selected \"Claim Browser\" #1 19\n"
            "press \"Claim Browser\" \"&Select\"\n"
            "selected \"Claim Browser\" #1 5\n"
            "row \"Claim Browser\" #1 5 \"1/06/2024|Signer 5|5.05\"\n"
            "press \"Claim Browser\" \"&Close\"\n",
            driver, [](std::string_view) {});
        why = driver.Why();
        if (failed_line != 0)
            driver.Press("Claim Browser", "&Close");
    });
    std::vector<int32_t> chosen;   // the list's choice at each NewSelection the body sees
    for (Accept accept; accept.Next();) {
        if (EVENT() == EVENT_OpenWindow)
            Vrn$DISPLAY(0, 0);
        if (EVENT() == EVENT_NewSelection && FIELD() == 1)
            chosen.push_back(Vrn$CHOICE(1));
        if (ACCEPTED() == 3) {
            PushCopy("0x7C8F");
            PushCopy("5");
            Vrn$SetPropS(1, 0, nullptr);
        }
    }   // Close (STD(15)) ends the loop without a word from the body
    person.join();
    EXPECT_EQ(failed_line, 0) << why;
    EXPECT_EQ(chosen, (std::vector<int32_t>{2, 14, 30, 20, 19, 5}));
}

TEST_F(Events, TheTimerQueuesOneEventAtATime) {
    char unused = 0;
    tarvex::Window ticking(kModule, "P1$TICK", &unused);
    ticking.Open();
    int timers = 0;
    for (Accept accept; accept.Next();) {
        if (EVENT() == EVENT_Timer) {
            // The timer keeps running during a long body; YIELD lets it queue, but only once.
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            Vrn$YIELD();
            Vrn$YIELD();
            if (++timers == 3)
                break;
        }
    }
    EXPECT_EQ(timers, 3);
    EXPECT_EQ(ticking.Object()->events.queue.size(), 1u);
}

void Halts() { Vrn$HALT(7, 1); }

TEST(EventsDeathTest, AThreadThatHaltsEndsTheProgramWhileOthersWait) {
    EXPECT_EXIT(
        {
            Form form;
            START(Halts, 0);
            for (Accept accept; accept.Next();) {
            }
            std::exit(12);   // never: the loop waits, the started thread ends the program
        },
        ::testing::ExitedWithCode(7), "");
}

void PostsToAReportControl() {
    Wsl$CloseDown();   // a fatal error then returns, so the code can be read
    Form form;
    char bound[7][8];
    VrnWindowObject* report = nullptr;
    Vrn$propen(&report, "LUMAREX$LOADTEST", "P1$REPORT", bound[0], bound[1], bound[2], bound[3], bound[4],
               bound[5], bound[6], nullptr);
    Vrn$OPENwindow(report);
    int32_t band_control = report->bands.back()->controls.back()->field_number;   // past the form's 8
    POST(EVENT_Accepted, kLastName);   // the window's own field: fine
    bool fine = Vrn$ERRCODE == 0 && band_control != 0 && FindControl(*form.window.Object(), band_control) == nullptr;
    POST(EVENT_Accepted, band_control);
    std::exit(fine && Vrn$ERRCODE == 522 ? 11 : 12);
}

TEST(EventsDeathTest, AnEventPostedToAReportControlIsRunTimeError522) {
    EXPECT_EXIT(PostsToAReportControl(), ::testing::ExitedWithCode(11), "");
}

// A scripted run: the script starts with the first window, and its result is the program's.
TEST(EventsDeathTest, AScriptFromTheEnvironmentEndsTheProgramWhenAStepFails) {
    std::string folder = ::testing::TempDir();
    std::string script = folder + "/steps.txt", transcript = folder + "/transcript.txt";
    {
        FILE* f = std::fopen(script.c_str(), "w");
        std::fputs("timeout 500\ntype \"Update Patient\" #2 \"Smith\"\npress \"Update Patient\" \"&Print\"\n", f);
        std::fclose(f);
    }
    std::remove(transcript.c_str());
    EXPECT_EXIT(
        {
            setenv("TARVEX_SCRIPT", script.c_str(), 1);
            setenv("TARVEX_TRANSCRIPT", transcript.c_str(), 1);
            Form form;
            for (Accept accept; accept.Next();) {
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(3), "");
    std::string text;
    if (FILE* f = std::fopen(transcript.c_str(), "r")) {
        char buffer[4096];
        text.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
        std::fclose(f);
    }
    EXPECT_NE(text.find("opened: Update Patient\n"), std::string::npos) << text;
    EXPECT_NE(text.find("step 2: type \"Update Patient\" #2 \"Smith\": ok\n"), std::string::npos) << text;
    EXPECT_NE(text.find("step 3: press \"Update Patient\" \"&Print\": FAILED: no control \"&Print\""),
              std::string::npos) << text;
}

TEST(EventsDeathTest, AcceptWithoutAWindowIsRunTimeError537) {
    EXPECT_EXIT(
        {
            Wsl$CloseDown();   // a fatal error then returns, so the code can be read
            int32_t over = Vrn$StartEventLoop();
            std::exit(over != 0 && Vrn$ERRCODE == 537 ? 11 : 12);
        },
        ::testing::ExitedWithCode(11), "");
}

}  // namespace
}  // namespace tarvex::windows
