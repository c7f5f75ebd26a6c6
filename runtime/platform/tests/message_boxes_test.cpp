// SPDX-License-Identifier: GPL-3.0-or-later
// Headless message boxes: queued answers, default buttons, the transcript and its file, answers
// from the environment, and the choice of implementation.
#include "platform/platform.h"
#include "tarvex/frame.h"
#include "temp_folder.h"

#include <atomic>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace tarvex::platform {
namespace {

using testing::ReadText;
using testing::ScopedEnv;
using testing::TempFolder;

MessageRequest Box(uint32_t buttons, uint32_t default_button, std::string text = "text") {
    MessageRequest request;
    request.text = std::move(text);
    request.caption = "Caption";
    request.icon = VRN_ICON_QUESTION;
    request.buttons = buttons;
    request.default_button = default_button;
    return request;
}

TEST(HeadlessMessageBoxes, DefaultButtons) {
    struct Row {
        uint32_t buttons;
        uint32_t default_button;
        uint32_t expected;
    };
    const Row rows[] = {
        {VRN_BUTTON_OK, VRN_BUTTON_OK, VRN_BUTTON_OK},
        {VRN_BUTTON_YES | VRN_BUTTON_NO, VRN_BUTTON_NO, VRN_BUTTON_NO},
        {VRN_BUTTON_ABORT | VRN_BUTTON_IGNORE, VRN_BUTTON_ABORT, VRN_BUTTON_ABORT},
        {VRN_BUTTON_YES | VRN_BUTTON_NO, VRN_BUTTON_CANCEL, VRN_BUTTON_YES}, // not one of the buttons
        {VRN_BUTTON_RETRY | VRN_BUTTON_CANCEL, VRN_BUTTON_RETRY | VRN_BUTTON_CANCEL, VRN_BUTTON_RETRY},
        {0, 0, VRN_BUTTON_OK}, // a box without buttons has OK
    };
    HeadlessMessageBoxes boxes;
    for (const auto& row : rows) {
        EXPECT_EQ(boxes.Show(Box(row.buttons, row.default_button)), row.expected) << row.buttons;
    }
}

TEST(HeadlessMessageBoxes, QueuedAnswersInOrderThenDefault) {
    HeadlessMessageBoxes boxes;
    boxes.QueueAnswer(VRN_BUTTON_NO);
    boxes.QueueAnswer(VRN_BUTTON_RETRY); // not a button of the second box
    boxes.QueueAnswer(VRN_BUTTON_CANCEL);
    const uint32_t yes_no = VRN_BUTTON_YES | VRN_BUTTON_NO;
    const uint32_t ok_cancel = VRN_BUTTON_OK | VRN_BUTTON_CANCEL;
    EXPECT_EQ(boxes.Show(Box(yes_no, VRN_BUTTON_YES, "first")), uint32_t(VRN_BUTTON_NO));
    EXPECT_EQ(boxes.Show(Box(ok_cancel, VRN_BUTTON_OK, "second")), uint32_t(VRN_BUTTON_OK));
    EXPECT_EQ(boxes.Show(Box(ok_cancel, VRN_BUTTON_OK, "third")), uint32_t(VRN_BUTTON_CANCEL));
    EXPECT_EQ(boxes.Show(Box(ok_cancel, VRN_BUTTON_CANCEL, "fourth")), uint32_t(VRN_BUTTON_CANCEL));

    auto transcript = boxes.Transcript();
    ASSERT_EQ(transcript.size(), 4u);
    EXPECT_EQ(transcript[0].request.text, "first");
    EXPECT_EQ(transcript[0].request.caption, "Caption");
    EXPECT_EQ(transcript[0].request.icon, VRN_ICON_QUESTION);
    EXPECT_EQ(transcript[0].answer, uint32_t(VRN_BUTTON_NO));
    EXPECT_EQ(transcript[0].refused_answer, 0u);
    EXPECT_EQ(transcript[1].refused_answer, uint32_t(VRN_BUTTON_RETRY));
    EXPECT_EQ(transcript[3].request.text, "fourth");
    boxes.ClearTranscript();
    EXPECT_TRUE(boxes.Transcript().empty());
}

TEST(HeadlessMessageBoxes, TranscriptFile) {
    TempFolder folder;
    std::string file = folder / "transcript.txt";
    HeadlessMessageBoxes boxes(file);
    boxes.QueueAnswer(VRN_BUTTON_HELP);
    boxes.Show(Box(VRN_BUTTON_OK | VRN_BUTTON_CANCEL, VRN_BUTTON_OK, "Record Not Found\r\nsecond line"));
    boxes.Show(Box(VRN_BUTTON_ABORT | VRN_BUTTON_IGNORE, VRN_BUTTON_ABORT, ""));
    EXPECT_EQ(ReadText(file), "caption: Caption\n"
                              "text: Record Not Found\n"
                              "text: second line\n"
                              "buttons: OK CANCEL\n"
                              "answer: OK\n"
                              "refused: HELP\n"
                              "\n"
                              "caption: Caption\n"
                              "text: \n"
                              "buttons: ABORT IGNORE\n"
                              "answer: ABORT\n"
                              "\n");
    struct stat info;
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(HeadlessMessageBoxes, AnswersAndTranscriptFromTheEnvironment) {
    TempFolder folder;
    ScopedEnv answers("TARVEX_ANSWERS", "yes, Cancel,bogus,,NO");
    ScopedEnv transcript("TARVEX_TRANSCRIPT", (folder / "t.txt").c_str());
    auto boxes = HeadlessMessageBoxes::FromEnvironment();
    const uint32_t all = VRN_BUTTON_YES | VRN_BUTTON_NO | VRN_BUTTON_CANCEL;
    EXPECT_EQ(boxes->Show(Box(all, VRN_BUTTON_NO)), uint32_t(VRN_BUTTON_YES));
    EXPECT_EQ(boxes->Show(Box(all, VRN_BUTTON_NO)), uint32_t(VRN_BUTTON_CANCEL));
    EXPECT_EQ(boxes->Show(Box(all, VRN_BUTTON_YES)), uint32_t(VRN_BUTTON_NO));
    EXPECT_EQ(boxes->Show(Box(all, VRN_BUTTON_YES)), uint32_t(VRN_BUTTON_YES)); // queue empty
    EXPECT_NE(ReadText(folder / "t.txt").find("answer: CANCEL\n"), std::string::npos);
}

TEST(HeadlessMessageBoxes, ButtonNames) {
    EXPECT_STREQ(ButtonName(VRN_BUTTON_IGNORE), "IGNORE");
    EXPECT_STREQ(ButtonName(VRN_BUTTON_OK | VRN_BUTTON_CANCEL), "?");
    EXPECT_EQ(ButtonFromName("retry"), uint32_t(VRN_BUTTON_RETRY));
    EXPECT_EQ(ButtonFromName("Okay"), 0u);
}

TEST(HeadlessMessageBoxes, EveryQueuedAnswerIsUsedOnceAcrossThreads) {
    HeadlessMessageBoxes boxes;
    for (int i = 0; i < 200; i++) {
        boxes.QueueAnswer(VRN_BUTTON_NO);
    }
    std::atomic<int> no_answers{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; i++) {
                if (boxes.Show(Box(VRN_BUTTON_YES | VRN_BUTTON_NO, VRN_BUTTON_YES)) == VRN_BUTTON_NO) {
                    no_answers++;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(no_answers.load(), 200);
    EXPECT_EQ(boxes.Transcript().size(), 400u);
}

class FixedAnswer final : public MessageBoxes {
  public:
    uint32_t Show(const MessageRequest&) override { return VRN_BUTTON_IGNORE; }
};

TEST(MessageBoxesChoice, DefaultIsHeadlessAndCanBeReplaced) {
    ASSERT_NE(Headless(), nullptr);
    EXPECT_EQ(&Messages(), static_cast<MessageBoxes*>(Headless()));
    auto previous = SetMessages(std::make_unique<FixedAnswer>());
    EXPECT_EQ(Headless(), nullptr);
    EXPECT_EQ(Messages().Show(Box(VRN_BUTTON_OK, VRN_BUTTON_OK)), uint32_t(VRN_BUTTON_IGNORE));
    SetMessages(std::move(previous));
    EXPECT_NE(Headless(), nullptr);
}

} // namespace
} // namespace tarvex::platform
