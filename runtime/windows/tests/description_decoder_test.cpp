// SPDX-License-Identifier: GPL-3.0-or-later
// The checked reader and the decoder: little-endian values, structures found by name, and damaged
// dumps (offsets past the end, strings without their NUL, chains that loop, records that do not
// fit, nesting without end) that must decode to nothing with a message rather than crash or hang.
#include <gtest/gtest.h>

#include "windows/description.h"
#include "windows/dump_reader.h"
#include "windows/tests/dump_bytes.h"

namespace tarvex::windows {
namespace {

using testing::DumpBytes;

TEST(DumpReader, ReadsLittleEndianAndRefusesWhatDoesNotFit) {
    const uint8_t bytes[] = {0x78, 0x56, 0x34, 0x12, 'A', 'B', 0, 'C'};
    DumpReader reader(bytes);
    EXPECT_EQ(reader.U32(2), 0x12345678u);
    EXPECT_EQ(reader.U16(3), 0x3456u);
    EXPECT_EQ(reader.I32(2), 0x12345678);
    EXPECT_EQ(reader.String(6).value(), "AB");
    EXPECT_FALSE(reader.Failed());

    EXPECT_EQ(reader.U32(7), 0u);           // three bytes left
    EXPECT_EQ(reader.Error(), "offset 0x7: past the end");

    DumpReader strings(bytes);
    EXPECT_FALSE(strings.String(9).has_value());   // 'C' is the last byte
    EXPECT_EQ(strings.Error(), "offset 0x9: string without its NUL");

    DumpReader low(bytes);
    EXPECT_EQ(low.U8(1), 0);                // offsets 0 and 1 lie before the dump
    EXPECT_TRUE(low.Failed());
    DumpReader huge(bytes);
    EXPECT_EQ(huge.U32(0xFFFFFFFE), 0u);    // no wrap-around
    EXPECT_TRUE(huge.Failed());
}

// A dump with a window "P1$WINDOW" holding a prompt, then a report "P1$REPORT".
struct TwoStructures {
    DumpBytes dump;
    uint32_t window = 0, prompt = 0, report = 0;
    TwoStructures() {
        uint32_t text = dump.Text("&Page:");
        prompt = dump.Record(Kind::Prompt, 0x2d);
        dump.Put32(prompt + 0x0d, 1);
        dump.Put32(prompt + 0x29, text);
        uint32_t name = dump.Text("P1$WINDOW");
        uint32_t title = dump.Text("Progress...");
        window = dump.Record(Kind::Window, 0x6d);
        dump.Put32(window + kStructName, name);
        dump.Put32(window + kStructTitle, title);
        dump.Put32(window + kStructFirstChild, prompt);
        dump.Put32(window + kWindowTimer, 1);
        uint32_t report_name = dump.Text("P1$REPORT");
        report = dump.Record(Kind::Report, 0x31);
        dump.Put32(report + kStructName, report_name);
        dump.Put32(window + kHeadNext, report);
        dump.SetHead(window);
    }
};

TEST(DescriptionDecoder, FindsEachStructureOfAModuleByName) {
    TwoStructures t;
    std::vector<Record> all;
    std::string error;
    ASSERT_TRUE(DecodeDump(t.dump.Bytes(), all, error)) << error;
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].TextAt(kStructTitle), "Progress...");
    EXPECT_EQ(all[0].NumberAt(kWindowTimer), 1);
    ASSERT_EQ(all[0].children.size(), 1u);
    EXPECT_EQ(all[0].children[0].TextAt(0x29), "&Page:");

    Record found;
    ASSERT_TRUE(DecodeStructure(t.dump.Bytes(), "P1$REPORT", found, error)) << error;
    EXPECT_EQ(found.code, static_cast<uint8_t>(Kind::Report));
    ASSERT_TRUE(DecodeStructure(t.dump.Bytes(), "P1$WINDOW", found, error));
    EXPECT_EQ(found.code, static_cast<uint8_t>(Kind::Window));
    // Names compare exactly.
    EXPECT_FALSE(DecodeStructure(t.dump.Bytes(), "p1$window", found, error));
    EXPECT_TRUE(error.empty());
}

// Each damage decodes to nothing with a message naming it; none may crash or hang.
TEST(DescriptionDecoder, DamagedDumpsDecodeToNothing) {
    struct Case {
        const char* what;
        void (*damage)(TwoStructures&);
        const char* message;
    };
    const Case cases[] = {
        {"sibling chain loops", [](TwoStructures& t) { t.dump.Put32(t.report + kHeadNext, t.window); },
         "a chain loops"},
        {"child points at its parent", [](TwoStructures& t) { t.dump.Put32(t.prompt + kHeadNext, t.window); },
         "a chain loops"},
        {"string offset past the end", [](TwoStructures& t) { t.dump.Put32(t.prompt + 0x29, 0x7FFFFFFF); },
         "string past the end"},
        {"first child past the end", [](TwoStructures& t) { t.dump.Put32(t.window + kStructFirstChild, 0xFFFFFFF0); },
         "record does not fit"},
        {"record cut by the end", [](TwoStructures& t) { t.dump.CutAt(t.report + 0x20); },
         "record does not fit"},
        {"title without its NUL", [](TwoStructures& t) {
             auto& b = t.dump.Bytes();
             uint32_t tail = t.dump.Text("x");
             b.pop_back();              // the NUL of "x" goes: the dump now ends in text
             t.dump.Put32(t.window + kStructTitle, tail);
         },
         "string without its NUL"},
        {"alert chain loops", [](TwoStructures& t) {
             uint32_t cell = t.dump.U32(0x22);
             t.dump.U32(cell);           // the cell's next points at itself
             t.dump.Put32(t.window + kWindowAlerts, cell);
         },
         "cell chain loops"},
        {"head past the end", [](TwoStructures& t) { t.dump.SetHead(0x10000); }, "record does not fit"},
        {"top level holds a control", [](TwoStructures& t) { t.dump.SetHead(t.prompt); },
         "not a WINDOW or REPORT"},
    };
    for (const Case& c : cases) {
        TwoStructures t;
        c.damage(t);
        std::vector<Record> all;
        std::string error;
        EXPECT_FALSE(DecodeDump(t.dump.Bytes(), all, error)) << c.what;
        EXPECT_TRUE(all.empty()) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    }

    std::vector<Record> all;
    std::string error;
    EXPECT_FALSE(DecodeDump(std::span<const uint8_t>(), all, error));
    EXPECT_NE(error.find("too short"), std::string::npos) << error;
}

TEST(DescriptionDecoder, NestingWithoutEndIsRefused) {
    // Groups each holding the next group, deeper than any description nests.
    DumpBytes dump;
    uint32_t previous = 0;
    for (int i = 0; i < kMaxDepth + 5; i++) {
        uint32_t group = dump.Record(Kind::Group, 0x4d);
        dump.Put32(group + 0x49, previous);
        previous = group;
    }
    uint32_t window = dump.Record(Kind::Window, 0x6d);
    dump.Put32(window + kStructFirstChild, previous);
    dump.SetHead(window);
    std::vector<Record> all;
    std::string error;
    EXPECT_FALSE(DecodeDump(dump.Bytes(), all, error));
    EXPECT_NE(error.find("nested too deep"), std::string::npos) << error;
}

TEST(DescriptionDecoder, UnknownKindsKeepOnlyTheirHead) {
    // A kind no schema knows sits in a window's chain between two known controls.
    DumpBytes dump;
    uint32_t line = dump.Record(Kind::Line, 0x25);
    uint32_t odd = dump.Record(static_cast<Kind>(0x30), kHeadSize);
    dump.Put32(odd + kHeadNext, line);
    uint32_t window = dump.Record(Kind::Window, 0x6d);
    dump.Put32(window + kStructFirstChild, odd);
    dump.SetHead(window);
    std::vector<Record> all;
    std::string error;
    ASSERT_TRUE(DecodeDump(dump.Bytes(), all, error)) << error;
    ASSERT_EQ(all[0].children.size(), 2u);
    EXPECT_EQ(all[0].children[0].spec, nullptr);
    EXPECT_EQ(all[0].children[1].code, static_cast<uint8_t>(Kind::Line));
}

TEST(DescriptionDecoder, SplitsTheModuleNameFromTheDump) {
    const uint8_t resource[] = {'L', 'U', 'M', '$', 'x', 0, 6, 0, 0, 0};
    std::string_view module;
    std::span<const uint8_t> dump;
    ASSERT_TRUE(SplitResource(resource, module, dump));
    EXPECT_EQ(module, "LUM$x");
    EXPECT_EQ(dump.size(), 4u);
    const uint8_t unterminated[] = {'L', 'U', 'M'};
    EXPECT_FALSE(SplitResource(unterminated, module, dump));
}

}  // namespace
}  // namespace tarvex::windows
