// SPDX-License-Identifier: GPL-3.0-or-later
// The description text and its dump: round trips (text -> dump -> text gives the text, dump ->
// text -> dump gives the bytes) for a description using every kind and for every .dsc in the tree,
// byte-level checks of records against the format's tables, field numbering, and the compiler's
// errors with their line and column.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/platform.h"
#include "tools/dsc.h"
#include "tools/program_resources.h"
#include "windows/dump_reader.h"

namespace tarvex::tools {
namespace {

using namespace windows;

std::vector<uint8_t> Compile(std::string_view text) {
    Description description;
    DscError error;
    EXPECT_TRUE(ParseDsc(text, "test.dsc", description, error)) << error.Text();
    return EncodeResource(description);
}

std::string Dump(const std::vector<uint8_t>& resource) {
    Description description;
    std::string error;
    EXPECT_TRUE(DecodeResource(resource, description, error)) << error;
    return PrintDsc(description);
}

// Checks one text both ways: it must be canonical, and its bytes must survive a trip through text.
void ExpectRoundTrips(const std::string& text, const std::string& what) {
    std::vector<uint8_t> bytes = Compile(text);
    std::string printed = Dump(bytes);
    EXPECT_EQ(printed, text) << what;
    EXPECT_EQ(Compile(printed), bytes) << what;
}

// Uses every kind with a keyword and every type of field.
const char kEveryKind[] = R"(MODULE('LUMAREX$TEST~1')

P1$WINDOW WINDOW('Patient <x01> ''Browser'''),AT(,,395,224),FONT('Arial',8,,400),ICON('~LUMAREX.ICO'),IMAGE2(STOCK,3),CURSOR(RUNTIME,2),MSG('Insurance Carrier Manager ...'),HLP('UpdatePAT'),ALRT(0x22,0x21),SYSTEM,MAX,RESIZE,STYLE(0x2004),TIMER(1),WALLPAPER(0xFFFFFFFF,'paper.bmp')
  MENUBAR
    MENU('   &Account Menu    |'),MSG('Open and Close file ')
      ITEM('&Invoice Browser ...'),MSG('Open Invoice Account Browser ...')
      ITEM,SEPARATOR
      ITEM('E&xit'),MSG('Exit this application'),STD(15)
    END
    ITEM('&Check'),USE(STRING,1),ATTR(0x0,0x1,0x2)
  END
  LIST,AT(8,20,379,160),USE(QUEUE),FORMAT('80L(2)|M~Name~@s20@'),MSG('Select a row'),FROM(QUEUE)
  ENTRY(@s41),AT(8,4,,),USE(STRING,41),RIGHT
  ENTRY(@'p(###)p'),AT(8,4,60,10),USE(STRING,13),FEQ(40)
  ENTRY(@),AT(1,2,3,4),USE(DECIMAL,9,2)
  BUTTON('&Save'),AT(300,200,40,14),ICON('save.ico'),STD(8),DEFAULT,DELAY(40),REPEAT(10),DISABLE,HIDE
  PROMPT('&Page:'),AT(4,4,30,10),REQ
  STRING('Total'),AT(4,180,30,10),CENTER
  STRING(@n-14.2),AT(40,180,60,10),USE(DECIMAL,11,2),FONT(,9,0xFF)
  GROUP('Claim'),AT(4,190,100,30)
    OPTION('Related to'),AT(6,192,90,20),USE(STRING,1)
      RADIO('Illness'),AT(8,194,40,10)
      RADIO('Injury'),AT(50,194,40,10)
    END
    CHECK('On file'),AT(6,212,40,10),USE(STRING,1),TRUEVALUE('Y'),FALSEVALUE('N')
  END
  SHEET,AT(0,0,395,224),USE(LONG),TABWIDTH(60),DOWN,SHEETSTYLE(0x4)
    TAB('  Record  ')
      SPIN(@n5),AT(8,8,30,10),USE(LONG)
    END
    TAB
      IMAGE('~CMS1500.BMP'),AT(0,0,100,100)
      LINE,AT(0,50,100,0)
      BOX,AT(0,0,10,10),COLOR(0x0,0xFFFFFFFF,0xFFFFFFFF)
      PROGRESS,AT(0,60,100,8),USE(LONG),RANGE(0,100),RANGE2(1,2)
      COMBO,AT(1,1,1,1),USE(STRING,3),FROM(STRING,'Yes|No'),WORD64(0x1)
      TEXT,AT(1,1,1,1),USE(STRING,200),WORD59(0x7)
      CONTROL(0x4),AT(1,1,1,1),ATTR(0x1,0x2,0x3)
      CONTROL(0x7),AT(1,1,1,1)
      CONTROL(0x11),AT(1,1,1,1),WORD51(0x5)
      CONTROL(0x20),AT(1,1,1,1)
      CONTROL(0x21),AT(1,1,1,1),FROM(QUEUE)
      CONTROL(0x22),AT(1,1,1,1)
      CONTROL(0x27),AT(1,1,1,1),COLOR(0x1,0x2,0x3)
      RECORD(0x30),FLAGS(0x7)
    END
  END
END

P1$REPORT REPORT('GeneralReport'),AT(0,3677,8500,6333),FONT('Arial',10),PAPER(1),THOUS
  FORM,AT(,,8500,11000)
    IMAGE('~CMS1500.BMP'),AT(0,0,8500,11000)
  END
  HEADER,AT(,,8500,3510)
    STRING(@'pPage <<<#p'),AT(7000,100,1000,167),COMPUTE(6),FLAGS(0x1000)
  END
  BREAK,USE(DECIMAL,5)
    HEADER,AT(,,8500,167)
    END
    DETAIL,AT(,,8500,333),FONT('Arial Narrow',9,,700)
      STRING(@n-14.2),AT(0,0,1000,167),USE(DECIMAL,11,2),FLAGS(0x1000)
    END
    FOOTER,AT(,,8500,333)
      STRING(@n-14.2),AT(0,0,1000,167),USE(DECIMAL,11,2),COMPUTE(1),TALLY(33),ACCUM(DECIMAL,11,2),RESET(33,36),RIGHT,FLAGS(0x1000)
    END
  END
  FOOTER,AT(,9990,8500,1000),FEQ(7)
  END
END

P1$PROGRESSWINDOW WINDOW('Progress...'),AT(,,142,59),DOUBLE,STYLE(0x2000),TIMER(1)
  PROGRESS,AT(15,15,111,12),USE(LONG),RANGE(0,100)
END
)";

TEST(DscText, EveryKindRoundTripsBothWays) { ExpectRoundTrips(kEveryKind, "every kind"); }

TEST(DscText, EveryDescriptionOfTheTreeRoundTrips) {
    int found = 0;
    for (const char* folder : {"app/resources", "tools", "runtime/windows", "bench"}) {
        std::filesystem::path root = std::filesystem::path(LUM_SOURCE_DIR) / folder;
        if (!std::filesystem::exists(root))
            continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            if (entry.path().extension() != ".dsc")
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            ExpectRoundTrips(text.str(), entry.path().string());
            found++;
        }
    }
    EXPECT_GT(found, 0);
}


// The dump of a text, with a reader over it (buffer offsets as the loader uses them).
struct Compiled {
    std::vector<uint8_t> resource;
    std::span<const uint8_t> dump;
    DumpReader reader{{}};
    explicit Compiled(std::string_view text) : resource(Compile(text)) {
        std::string_view module;
        EXPECT_TRUE(SplitResource(resource, module, dump));
        reader = DumpReader(dump);
    }
    uint32_t First() { return reader.U32(kDumpBase); }
    std::string Text(uint32_t offset) { return std::string(reader.String(reader.U32(offset)).value_or("?")); }
};

TEST(DumpGolden, WindowHead) {
    Compiled c(R"(MODULE('LUMAREX$x')

P1$WINDOW WINDOW('Progress...'),AT(,,142,59),HLP('CIQL'),DOUBLE,STYLE(0x2000),TIMER(1)
  PROMPT('&Page:'),AT(1,2,3,4)
END
)");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.resource.data())), "LUMAREX$x");
    uint32_t w = c.First();
    // Strings come first: the structure name right after the head, at buffer offset 6.
    EXPECT_EQ(c.reader.U32(w + 0x21), 6u);
    EXPECT_EQ(c.reader.U8(w), 0x19);
    EXPECT_EQ(c.reader.U32(w + 0x01), 0u);
    EXPECT_EQ(c.reader.U32(w + 0x05), 0u);                    // dialog units
    EXPECT_EQ(c.reader.U32(w + 0x0d), 0x80000000u);           // x not given
    EXPECT_EQ(c.reader.U32(w + 0x11), 0x80000000u);           // y not given
    EXPECT_EQ(c.reader.I32(w + 0x15), 142);
    EXPECT_EQ(c.reader.I32(w + 0x19), 59);
    EXPECT_EQ(c.Text(w + 0x21), "P1$WINDOW");
    EXPECT_EQ(c.Text(w + 0x29), "Progress...");
    EXPECT_EQ(c.Text(w + 0x45), "CIQL");
    EXPECT_EQ(c.reader.U32(w + 0x25), 0u);                    // system font
    EXPECT_EQ(c.reader.U32(w + 0x51), 0x2040u);
    EXPECT_EQ(c.reader.U32(w + 0x59), 1u);
    EXPECT_EQ(c.reader.U32(w + 0x5d), 0u);
    uint32_t prompt = c.reader.U32(w + 0x1d);
    // The child follows its parent, after its own text.
    EXPECT_EQ(c.reader.U32(prompt + 0x29), w + 0x6d);
    EXPECT_EQ(prompt, w + 0x6d + sizeof "&Page:");
    EXPECT_EQ(c.reader.U8(prompt), 0x0a);
    EXPECT_EQ(c.reader.I32(prompt + 0x0d), 1);
    EXPECT_EQ(c.reader.I32(prompt + 0x15), 1);
    EXPECT_EQ(c.reader.I32(prompt + 0x21), 4);
    EXPECT_EQ(c.Text(prompt + 0x29), "&Page:");
    EXPECT_FALSE(c.reader.Failed());
}

TEST(DumpGolden, ListWithFormatAndQueue) {
    Compiled c(R"(MODULE('LUMAREX$x')

P1$QUICKWINDOW WINDOW('Patient Account Browser')
  LIST,AT(8,20,379,160),FORMAT('52R(2)|M~Invoice~L@n-7@'),MSG('Select'),FROM(QUEUE)
END
)");
    uint32_t list = c.reader.U32(c.First() + 0x1d);
    EXPECT_EQ(c.reader.U8(list), 0x0e);
    EXPECT_EQ(c.reader.I32(list + 0x0d), 1);
    EXPECT_EQ(c.reader.U32(list + 0x11), 0u);
    EXPECT_EQ(c.reader.U32(list + 0x15), 0u);                 // no USE
    EXPECT_EQ(c.Text(list + 0x19), "52R(2)|M~Invoice~L@n-7@");
    EXPECT_EQ(c.reader.I32(list + 0x1d), 8);
    EXPECT_EQ(c.reader.I32(list + 0x29), 160);
    EXPECT_EQ(c.Text(list + 0x2d), "Select");
    uint32_t from = c.reader.U32(list + 0x54);
    ASSERT_NE(from, 0u);
    EXPECT_LT(from, list);
    EXPECT_EQ(c.reader.U8(from), 0x1a);
    EXPECT_FALSE(c.reader.Failed());
}

TEST(DumpGolden, ReportStringWithAccumulatedValue) {
    Compiled c(R"(MODULE('LUMAREX$x')

P1$REPORT REPORT('GeneralReport'),AT(0,3677,8500,6333),PAPER(1),THOUS
  DETAIL,AT(,,8500,333)
    STRING(@n-14.2),AT(0,0,1000,167),USE(DECIMAL,11,2),FLAGS(0x1000)
  END
  FOOTER,AT(,9990,8500,1000)
    STRING(@n-14.2),AT(10,20,1000,167),USE(DECIMAL,11,2),COMPUTE(1),TALLY(1),ACCUM(DECIMAL,9,2),RESET(1),RIGHT,FLAGS(0x1000)
    STRING(@'pPage <<<#p'),AT(7000,100,1000,167),COMPUTE(6)
  END
END
)");
    uint32_t r = c.First();
    EXPECT_EQ(c.reader.U8(r), 0x1a);
    EXPECT_EQ(c.reader.U32(r + 0x05), 0x200u);
    EXPECT_EQ(c.Text(r + 0x29), "GeneralReport");
    uint32_t paper = c.reader.U32(r + 0x2d);
    const std::vector<uint8_t> cell = {0x2e, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    auto bytes = c.reader.Bytes(paper, 11);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), cell);

    uint32_t detail = c.reader.U32(r + 0x1d);
    EXPECT_EQ(c.reader.U8(detail), 0x1f);
    EXPECT_EQ(c.reader.I32(detail + 0x0d), 1);                // printed by its field number
    EXPECT_EQ(c.reader.I32(detail + 0x25), 8500);             // AT width
    uint32_t footer = c.reader.U32(detail + 0x01);
    EXPECT_EQ(c.reader.U8(footer), 0x1c);
    EXPECT_EQ(c.reader.I32(footer + 0x0d), 0);                // never printed by number
    EXPECT_EQ(c.reader.I32(footer + 0x1d + 4), 9990);         // AT y

    uint32_t total = c.reader.U32(footer + 0x15);
    EXPECT_EQ(c.reader.U8(total), 0x01);
    EXPECT_EQ(c.reader.U32(total + 0x05), 0x1008u);
    EXPECT_EQ(c.reader.I32(total + 0x19), 10);                // family 2: AT at +0x19
    EXPECT_EQ(c.Text(total + 0x2d), "n-14.2");                // no '@'
    EXPECT_EQ(c.reader.U32(total + 0x31), 0u);                // the band's font
    EXPECT_EQ(c.reader.U8(total + 0x35), 1);
    EXPECT_EQ(c.reader.U32(total + 0x36), 1u);
    uint32_t use = c.reader.U32(total + 0x15), accum = c.reader.U32(total + 0x3a);
    EXPECT_EQ(c.reader.U8(use), 0x0a);
    EXPECT_EQ(c.reader.U32(use + 1), 11u);
    EXPECT_EQ(c.reader.U32(use + 5), 2u);
    EXPECT_EQ(c.reader.U8(accum), 0x0a);
    EXPECT_EQ(c.reader.U32(accum + 1), 9u);
    uint32_t refs = c.reader.U32(total + 0x46);
    EXPECT_EQ(c.reader.U32(refs), 1u);
    EXPECT_EQ(c.reader.U32(refs + 4), 0u);

    uint32_t page = c.reader.U32(total + 0x01);
    EXPECT_EQ(c.Text(page + 0x2d), "pPage <<<#p");
    EXPECT_EQ(c.reader.U32(page + 0x15), 0u);                 // no USE
    EXPECT_EQ(c.reader.U8(page + 0x35), 6);
    EXPECT_FALSE(c.reader.Failed());
}

// Records point backwards to their strings and cells, forwards to their next sibling and child.
void ExpectPointsBackwards(const Record& record, DumpReader& reader) {
    if (record.spec != nullptr)
        for (const FieldSpec& field : record.spec->fields) {
            switch (field.type) {
            case FieldType::Flags: case FieldType::Number: case FieldType::Hex: case FieldType::Byte:
            case FieldType::Word: case FieldType::FieldNo: case FieldType::At: case FieldType::Range:
                continue;
            default: break;
            }
            uint32_t target = reader.U32(record.offset + field.offset);
            if (target == 0)
                continue;
            if (field.type == FieldType::Children) {
                EXPECT_GT(target, record.offset) << field.name;
            } else {
                EXPECT_LT(target, record.offset) << field.name << " of kind " << int(record.code);
            }
        }
    uint32_t next = reader.U32(record.offset + kHeadNext);
    if (next != 0) {
        EXPECT_GT(next, record.offset);
    }
    for (const Record& child : record.menubar)
        ExpectPointsBackwards(child, reader);
    for (const Record& child : record.children)
        ExpectPointsBackwards(child, reader);
}

TEST(DumpGolden, RecordsPointBackwardsToWhatTheyOwn) {
    Compiled c(kEveryKind);
    std::vector<Record> all;
    std::string error;
    ASSERT_TRUE(DecodeDump(c.dump, all, error)) << error;
    for (const Record& record : all)
        ExpectPointsBackwards(record, c.reader);
}

std::vector<int32_t> Numbers(const Record& record) {
    std::vector<int32_t> out;
    for (const Record& child : record.menubar)
        for (int32_t n : Numbers(child))
            out.push_back(n);
    if (const FieldValue* number = record.Find(FieldType::FieldNo))
        out.push_back(int32_t(number->number));
    for (const Record& child : record.children)
        for (int32_t n : Numbers(child))
            out.push_back(n);
    return out;
}

TEST(DscText, FieldNumbersRunDepthFirstAndMenusNegative) {
    Description d;
    DscError error;
    ASSERT_TRUE(ParseDsc(R"(MODULE('LUMAREX$x')
P1$WINDOW WINDOW('w')
  MENUBAR
    MENU('&File')
      ITEM('&Open')
      ITEM('E&xit')
    END
    ITEM('&Help')
  END
  SHEET,USE(LONG)
    TAB('One')
      ENTRY(@s5),USE(STRING,5)
    END
    TAB('Two')
      ENTRY(@s5),USE(STRING,5)
    END
  END
  BUTTON('&Close')
END
P1$REPORT REPORT
  HEADER
  END
  BREAK,USE(LONG)
    DETAIL
      STRING(@s5),USE(STRING,5)
    END
  END
END
)", "t.dsc", d, error)) << error.Text();
    EXPECT_EQ(Numbers(d.structures[0]), (std::vector<int32_t>{-1, -2, -3, -4, 1, 2, 3, 4, 5, 6}));
    // Each structure counts afresh; HEADER, FOOTER and FORM bands stay 0.
    EXPECT_EQ(Numbers(d.structures[1]), (std::vector<int32_t>{0, 1, 2, 3}));
}

TEST(DscText, ErrorsGiveFileLineAndColumn) {
    struct Case {
        const char* body;   // follows "MODULE('M$x')\n"
        const char* error;
    };
    const Case cases[] = {
        {"P1$W WINDOW\n  BOGUS\nEND\n", "t.dsc:3:3: unknown keyword BOGUS"},
        {"P1$W WINDOW\n  ENTRY(@s5),USE(STRING,5),COLOUR(1)\nEND\n", "t.dsc:3:28: unknown attribute COLOUR for ENTRY"},
        {"P1$W WINDOW\n  ENTRY(@s5),LEFT,RIGHT\nEND\n", "t.dsc:3:19: RIGHT conflicts with another attribute"},
        {"P1$W WINDOW('x\n", "t.dsc:2:13: text without its closing quote"},
        {"P1$W WINDOW\n  PROMPT('a')\n", "t.dsc:2:6: WINDOW has no END"},
        {"P1$W REPORT\n  MENUBAR\n  END\nEND\n", "t.dsc:3:3: MENUBAR cannot stand inside REPORT"},
        {"P1$W REPORT\n  ENTRY(@s5)\nEND\n", "t.dsc:3:3: ENTRY cannot stand inside REPORT"},
        {"P1$W WINDOW,TIMER(1),TIMER(2)\nEND\n", "t.dsc:2:22: TIMER is given twice"},
        {"P1$W WINDOW,TIMER(0x100000000)\nEND\n", "t.dsc:2:19: number out of range"},
        {"P1$W WINDOW\n  BUTTON('a'),DELAY(70000)\nEND\n", "t.dsc:3:21: number out of range"},
        {"P1$W WINDOW\n  ENTRY('s5')\nEND\n", "t.dsc:3:3: ENTRY expects a picture such as @s20"},
        {"P1$W WINDOW\n  ENTRY(@s5),USE(NOTATYPE)\nEND\n", "t.dsc:3:14: USE expects a value type such as STRING, DECIMAL, QUEUE"},
        {"END\n", "t.dsc:2:1: END without a record to close"},
        {"  PROMPT('a')\n", "t.dsc:2:3: PROMPT cannot stand at the top"},
        {"P1$W WINDOW\n  LINE('x')\nEND\n", "t.dsc:3:3: LINE takes no value in parentheses"},
        {"P1$W WINDOW('a<x00>b')\nEND\n", "t.dsc:2:15: a text cannot hold a NUL byte"},
        {"P1$W WINDOW,ICON('<xFF>x')\nEND\n", "t.dsc:2:13: ICON names a stock icon as (STOCK,n) or (RUNTIME,n), not as text"},
        {"P1$W WINDOW\n  LIST,FROM(STRING)\nEND\n", "t.dsc:3:8: FROM takes its text exactly when its type is STRING"},
        {"P1$W WINDOW\n  LIST,FROM(QUEUE,'a')\nEND\n", "t.dsc:3:8: FROM takes its text exactly when its type is STRING"},
    };
    for (const Case& c : cases) {
        Description d;
        DscError error;
        EXPECT_FALSE(ParseDsc(std::string("MODULE('M$x')\n") + c.body, "t.dsc", d, error)) << c.body;
        EXPECT_EQ(error.Text(), c.error) << c.body;
        EXPECT_TRUE(d.structures.empty());
    }
    Description d;
    DscError error;
    EXPECT_FALSE(ParseDsc("P1$W WINDOW\nEND\n", "t.dsc", d, error));
    EXPECT_EQ(error.Text(), "t.dsc:1:1: a description starts with MODULE('name')");
    EXPECT_FALSE(ParseDsc("", "t.dsc", d, error));      // an empty text still names a place
    EXPECT_EQ(error.Text(), "t.dsc:1:1: a description starts with MODULE('name')");
}

TEST(DscText, CommentsAndCaseAreAcceptedButNotKept) {
    std::vector<uint8_t> bytes = Compile("! the progress window\nMODULE('M$x')\n\nP1$W window('a'),timer(1) ! ticks\nend\n");
    EXPECT_EQ(Dump(bytes), "MODULE('M$x')\n\nP1$W WINDOW('a'),TIMER(1)\nEND\n");
}

TEST(ProgramResources, TheExampleIsReadBackOutOfThisProgram) {
    auto file = platform::ReadWholeFile(platform::ExecutablePath());
    ASSERT_TRUE(file.has_value());
    auto resources = FindProgramResources({reinterpret_cast<const uint8_t*>(file->data()), file->size()});
    const ProgramResource* example = nullptr;
    for (const auto& resource : resources)
        if (resource.name == "EXAMPLE_RSC" && resource.type == "DABDUMP")
            example = &resource;
    ASSERT_NE(example, nullptr);
    std::ifstream in(std::filesystem::path(LUM_SOURCE_DIR) / "tools/example.dsc", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(Dump({example->bytes.begin(), example->bytes.end()}), text.str());

    // Frames that are cut short are passed over.
    std::string cut = std::string(kResourceMarker) + "NAME";
    EXPECT_TRUE(FindProgramResources({reinterpret_cast<const uint8_t*>(cut.data()), cut.size()}).empty());
    std::string too_long = std::string(kResourceMarker) + "N" + '\0' + "T" + '\0' + std::string("\x10\0\0\0abc", 7);
    EXPECT_TRUE(FindProgramResources({reinterpret_cast<const uint8_t*>(too_long.data()), too_long.size()}).empty());
}

}  // namespace
}  // namespace tarvex::tools
