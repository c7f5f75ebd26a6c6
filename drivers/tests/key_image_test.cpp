// SPDX-License-Identifier: GPL-3.0-or-later
// Key images: byte order of the images must be the runtime's own order of the key fields. The
// central test is differential: random records, random keys mixing every field type, ascending and
// descending components and NOCASE, judged by the runtime's string comparison, its decimal stack
// and plain numeric comparison; golden cases pin the rules a user sees.
#include "common/key_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/char_tables.h"
#include "core/environment.h"
#include "tarvex/tarvex.h"

namespace lumarex::drivers {
namespace {

// A record with one field of every type a key can hold.
enum Field : int32_t {
    kName = 1,      // STRING(6)
    kCode,          // STRING(4)
    kCText,         // CSTRING(6)
    kPText,         // PSTRING(6)
    kAmount,        // DECIMAL(5,2), 3 bytes
    kPAmount,       // PDECIMAL(7,2), 4 bytes
    kByte,          // BYTE
    kShort,         // SHORT
    kUshort,        // USHORT
    kLong,          // LONG
    kUlong,         // ULONG
    kDate,          // DATE
    kTime,          // TIME
    kSreal,         // SREAL
    kReal,          // REAL
    kBfloat4,       // BFLOAT4
    kBfloat8,       // BFLOAT8
    kGroup,         // GROUP of 3 bytes ...
    kGroupText,     // ... holding STRING(3)
    kWide,          // DECIMAL(31,0), 16 bytes
    kTiny,          // DECIMAL(5,34), 3 bytes: its two lowest digits fall outside the decimal stack
    kFieldCount = kTiny
};

const VrnFieldDesc kFields[] = {
    {"T:NAME", nullptr, 0, 6, 1, 0, VRN_TYPE_STRING, 0},
    {"T:CODE", nullptr, 6, 4, 1, 0, VRN_TYPE_STRING, 0},
    {"T:CTEXT", nullptr, 10, 6, 1, 0, VRN_TYPE_CSTRING, 0},
    {"T:PTEXT", nullptr, 16, 6, 1, 0, VRN_TYPE_PSTRING, 0},
    {"T:AMOUNT", nullptr, 22, 3, 1, 0, VRN_TYPE_DECIMAL, 2},
    {"T:PAMOUNT", nullptr, 25, 4, 1, 0, VRN_TYPE_PDECIMAL, 2},
    {"T:BYTE", nullptr, 29, 1, 1, 0, VRN_TYPE_BYTE, 0},
    {"T:SHORT", nullptr, 30, 2, 1, 0, VRN_TYPE_SHORT, 0},
    {"T:USHORT", nullptr, 32, 2, 1, 0, VRN_TYPE_USHORT, 0},
    {"T:LONG", nullptr, 34, 4, 1, 0, VRN_TYPE_LONG, 0},
    {"T:ULONG", nullptr, 38, 4, 1, 0, VRN_TYPE_ULONG, 0},
    {"T:DATE", nullptr, 42, 4, 1, 0, VRN_TYPE_DATE, 0},
    {"T:TIME", nullptr, 46, 4, 1, 0, VRN_TYPE_TIME, 0},
    {"T:SREAL", nullptr, 50, 4, 1, 0, VRN_TYPE_SREAL, 0},
    {"T:REAL", nullptr, 54, 8, 1, 0, VRN_TYPE_REAL, 0},
    {"T:BF4", nullptr, 62, 4, 1, 0, VRN_TYPE_BFLOAT4, 0},
    {"T:BF8", nullptr, 66, 8, 1, 0, VRN_TYPE_BFLOAT8, 0},
    {"T:GROUP", nullptr, 74, 3, 1, 1, VRN_TYPE_GROUP, 0},
    {"T:GTEXT", nullptr, 74, 3, 1, 0, VRN_TYPE_STRING, 0},
    {"T:WIDE", nullptr, 77, 16, 1, 0, VRN_TYPE_DECIMAL, 0},
    {"T:TINY", nullptr, 93, 3, 1, 0, VRN_TYPE_DECIMAL, 34},
};
constexpr uint32_t kRecordSize = 96;
const VrnTypeDesc kType = {"Test", "T", kRecordSize, kFieldCount, kFields};

using Record = std::vector<uint8_t>;

Record BlankRecord() {
    Record record(kRecordSize, 0);
    Vrn$CLEAR(record.data(), &kType, 0);
    return record;
}

uint8_t* At(Record& record, int32_t field) { return record.data() + kFields[field - 1].offset; }
const uint8_t* At(const Record& record, int32_t field) { return record.data() + kFields[field - 1].offset; }

void SetString(Record& record, int32_t field, const std::string& text) {
    const VrnFieldDesc& f = kFields[field - 1];
    auto* address = reinterpret_cast<char*>(At(record, field));
    auto length = static_cast<int32_t>(text.size());
    switch (f.type) {
    case VRN_TYPE_CSTRING:
        Vrn$storecstr(address, f.size, text.data(), length);
        break;
    case VRN_TYPE_PSTRING:
        Vrn$storepstr(reinterpret_cast<unsigned char*>(address), f.size, text.data(), length);
        break;
    default:
        Vrn$storestr(address, f.size, text.data(), length);
        break;
    }
}

void SetDecimal(Record& record, int32_t field, const char* value) {
    const VrnFieldDesc& f = kFields[field - 1];
    Vrn$DPushCString(value);
    if (f.type == VRN_TYPE_PDECIMAL) {
        Vrn$DPopPdec(At(record, field), f.size, f.places);
    } else {
        Vrn$DPopDec(At(record, field), f.size, f.places);
    }
}

template <class T>
void SetNumber(Record& record, int32_t field, T value) {
    static_assert(std::is_trivially_copyable_v<T>);
    std::memcpy(At(record, field), &value, sizeof value);
}

template <class T>
T GetNumber(const Record& record, int32_t field) {
    T value;
    std::memcpy(&value, At(record, field), sizeof value);
    return value;
}

struct TestKey {
    std::vector<int32_t> components;
    KeyDecl decl{};

    TestKey(std::vector<int32_t> parts, uint32_t attributes) : components(std::move(parts)) {
        decl.attributes = attributes;
        decl.component_count = static_cast<uint8_t>(components.size());
        decl.components = components.data();
    }
    TestKey(const TestKey&) = delete;
};

std::unique_ptr<KeyImage> Compile(const TestKey& key) {
    std::string problem;
    auto image = KeyImage::Compile(kType, key.decl, &problem);
    EXPECT_NE(image, nullptr) << problem;
    return image;
}

int Sign(int64_t value) { return (value > 0) - (value < 0); }

int ImageOrder(const std::string& a, const std::string& b) { return Sign(a.compare(b)); }

template <class T>
int NumericOrder(T a, T b) {
    return (a > b) - (a < b);
}

// The runtime's own comparison of one key field of two records.
int JudgeField(const Record& a, const Record& b, int32_t field, bool nocase) {
    const VrnFieldDesc& f = kFields[field - 1];
    auto text_of = [&](const Record& r, std::string& text) {
        const auto* p = reinterpret_cast<const char*>(At(r, field));
        if (f.type == VRN_TYPE_CSTRING) {
            text.assign(p, strnlen(p, f.size));
        } else if (f.type == VRN_TYPE_PSTRING) {
            uint32_t length = std::min<uint32_t>(static_cast<uint8_t>(p[0]), f.size - 1);
            text.assign(p + 1, length);
        } else {
            text.assign(p, f.size);
        }
        if (nocase) {
            for (char& c : text) c = tarvex::ToUpper(c);
        }
    };
    switch (f.type) {
    case VRN_TYPE_STRING:
    case VRN_TYPE_CSTRING:
    case VRN_TYPE_PSTRING: {
        std::string ta, tb;
        text_of(a, ta);
        text_of(b, tb);
        return Sign(Vrn$comparestr(ta.data(), static_cast<uint32_t>(ta.size()), tb.data(),
                                   static_cast<uint32_t>(tb.size())));
    }
    case VRN_TYPE_DECIMAL:
        Vrn$DPushDec(At(a, field), f.size, f.places);
        Vrn$DPushDec(At(b, field), f.size, f.places);
        return Vrn$DecDistinct();
    case VRN_TYPE_PDECIMAL:
        Vrn$DPushPdec(At(a, field), f.size, f.places);
        Vrn$DPushPdec(At(b, field), f.size, f.places);
        return Vrn$DecDistinct();
    case VRN_TYPE_BYTE:
        return NumericOrder(GetNumber<uint8_t>(a, field), GetNumber<uint8_t>(b, field));
    case VRN_TYPE_SHORT:
        return NumericOrder(GetNumber<int16_t>(a, field), GetNumber<int16_t>(b, field));
    case VRN_TYPE_USHORT:
        return NumericOrder(GetNumber<uint16_t>(a, field), GetNumber<uint16_t>(b, field));
    case VRN_TYPE_LONG:
    case VRN_TYPE_DATE:
    case VRN_TYPE_TIME:
        return NumericOrder(GetNumber<int32_t>(a, field), GetNumber<int32_t>(b, field));
    case VRN_TYPE_ULONG:
        return NumericOrder(GetNumber<uint32_t>(a, field), GetNumber<uint32_t>(b, field));
    case VRN_TYPE_SREAL:
        return NumericOrder(GetNumber<float>(a, field), GetNumber<float>(b, field));
    case VRN_TYPE_REAL:
        return NumericOrder(GetNumber<double>(a, field), GetNumber<double>(b, field));
    case VRN_TYPE_BFLOAT4:
        return NumericOrder(Vrn$bloadfloat4(At(a, field)), Vrn$bloadfloat4(At(b, field)));
    case VRN_TYPE_BFLOAT8:
        return NumericOrder(Vrn$bloadfloat(At(a, field)), Vrn$bloadfloat(At(b, field)));
    case VRN_TYPE_GROUP:
        return Sign(std::memcmp(At(a, field), At(b, field), f.size));
    default:
        ADD_FAILURE() << "no judge for field " << field;
        return 0;
    }
}

int JudgeKey(const Record& a, const Record& b, const TestKey& key) {
    bool nocase = (key.decl.attributes & VRN_KEY_NOCASE) != 0;
    for (int32_t component : key.components) {
        int order = JudgeField(a, b, std::abs(component), nocase);
        if (order != 0) return component < 0 ? -order : order;
    }
    return 0;
}

// Random field values drawn from small pools, so equal values (and -0, blanks, case twins) are
// frequent and every tie-breaking path is exercised.
class RecordMaker {
public:
    explicit RecordMaker(uint32_t seed) : random_(seed) {}

    Record Make() {
        Record record = BlankRecord();
        for (int32_t field = 1; field <= kFieldCount; field++) Fill(record, field);
        return record;
    }

private:
    uint32_t Pick(uint32_t count) { return std::uniform_int_distribution<uint32_t>(0, count - 1)(random_); }

    std::string Text(uint32_t max_length) {
        static const char kAlphabet[] = " aAbBsSzZ\xdf\xe4\xc4-";
        std::string text(Pick(max_length + 1), ' ');
        for (char& c : text) c = kAlphabet[Pick(sizeof kAlphabet - 1)];
        return text;
    }

    void FillDecimal(uint8_t* image, uint32_t size, bool packed) {
        static const uint8_t kDigits[] = {0, 0, 0, 1, 5, 9, 0xA};   // 0xA: a damaged nibble
        uint32_t nibbles = 2 * size;
        for (uint32_t n = 0; n < nibbles; n++) {
            uint8_t value = kDigits[Pick(Pick(5) == 0 ? 7 : 6)];
            uint8_t& byte = image[n / 2];
            byte = (n & 1) ? static_cast<uint8_t>((byte & 0xF0) | value) : static_cast<uint8_t>(value << 4);
        }
        static const uint8_t kSigns[] = {0x0, 0xF, 0x1};
        static const uint8_t kPackedSigns[] = {0xF, 0xD, 0xC};
        if (packed) {
            image[size - 1] = static_cast<uint8_t>((image[size - 1] & 0xF0) | kPackedSigns[Pick(3)]);
        } else {
            image[0] = static_cast<uint8_t>((image[0] & 0x0F) | (kSigns[Pick(3)] << 4));
        }
    }

    void Fill(Record& record, int32_t field) {
        const VrnFieldDesc& f = kFields[field - 1];
        uint8_t* p = At(record, field);
        static const int32_t kLongs[] = {0, 1, -1, 4, 1000, -1000, INT32_MAX, INT32_MIN};
        static const double kReals[] = {0.0, -0.0, 1.5, -1.5, 2.0, -2.0, 1e30, -1e30, 1e-40, -1e-40,
                                        std::numeric_limits<double>::infinity(),
                                        -std::numeric_limits<double>::infinity()};
        switch (f.type) {
        case VRN_TYPE_STRING:
        case VRN_TYPE_CSTRING:
            SetString(record, field, Text(f.size));
            if (f.type == VRN_TYPE_CSTRING && Pick(4) == 0) {
                // What follows the terminator is not part of the text.
                if (std::strlen(reinterpret_cast<char*>(p)) + 1 < f.size) p[f.size - 1] = 'q';
            }
            break;
        case VRN_TYPE_PSTRING:
            SetString(record, field, Text(f.size - 1));
            if (Pick(6) == 0) p[0] = static_cast<uint8_t>(f.size + Pick(3));   // an overlong length byte
            break;
        case VRN_TYPE_DECIMAL:
            FillDecimal(p, f.size, false);
            break;
        case VRN_TYPE_PDECIMAL:
            FillDecimal(p, f.size, true);
            break;
        case VRN_TYPE_BYTE:
            *p = static_cast<uint8_t>(Pick(3) == 0 ? 0 : Pick(256));
            break;
        case VRN_TYPE_SHORT:
            SetNumber(record, field, static_cast<int16_t>(kLongs[Pick(6)] * (Pick(2) ? 1 : 31)));
            break;
        case VRN_TYPE_USHORT:
            SetNumber(record, field, static_cast<uint16_t>(Pick(2) ? Pick(3) : Pick(65536)));
            break;
        case VRN_TYPE_LONG:
        case VRN_TYPE_DATE:
        case VRN_TYPE_TIME:
            SetNumber(record, field, kLongs[Pick(8)]);
            break;
        case VRN_TYPE_ULONG:
            SetNumber(record, field, static_cast<uint32_t>(kLongs[Pick(8)]));
            break;
        case VRN_TYPE_SREAL:
            SetNumber(record, field, static_cast<float>(kReals[Pick(12)]));
            break;
        case VRN_TYPE_REAL:
            SetNumber(record, field, kReals[Pick(12)]);
            break;
        case VRN_TYPE_BFLOAT4:
            Vrn$bstorefloat4(p, kReals[Pick(8)] * (Pick(2) ? 1 : 3.25));
            break;
        case VRN_TYPE_BFLOAT8:
            Vrn$bstorefloat(p, kReals[Pick(8)] * (Pick(2) ? 1 : 3.25));
            break;
        case VRN_TYPE_GROUP:
            for (uint32_t i = 0; i < f.size; i++) p[i] = static_cast<uint8_t>(" \0Aa\xff"[Pick(5)]);
            break;
        default:
            break;
        }
    }

    std::mt19937 random_;
};

class KeyImageTest : public ::testing::Test {
protected:
    void TearDown() override { tarvex::ResetEnvironment(); }

    // Many random keys, each over many random record pairs: image order == the runtime's order.
    void RunDifferential(uint32_t seed, int keys, int pairs_per_key) {
        RecordMaker maker(seed);
        std::mt19937 random(seed * 7 + 1);
        auto pick = [&random](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
        int checked = 0;
        int ties = 0;
        for (int k = 0; k < keys; k++) {
            std::vector<int32_t> parts(static_cast<size_t>(pick(1, 4)));
            for (int32_t& part : parts) part = pick(1, kFieldCount) * (pick(0, 2) == 0 ? -1 : 1);
            uint32_t attributes = VRN_KEY_DUP | (pick(0, 1) ? VRN_KEY_NOCASE : 0);
            TestKey key(parts, attributes);
            auto image = Compile(key);
            ASSERT_NE(image, nullptr);
            for (int i = 0; i < pairs_per_key; i++) {
                Record a = maker.Make();
                Record b = maker.Make();
                std::string ia = image->Build(a.data());
                std::string ib = image->Build(b.data());
                ASSERT_EQ(ia.size(), image->Width());
                ASSERT_EQ(ib.size(), image->Width());
                int expected = JudgeKey(a, b, key);
                ties += expected == 0;
                ASSERT_EQ(ImageOrder(ia, ib), expected)
                    << "key components " << ::testing::PrintToString(parts) << " nocase "
                    << ((attributes & VRN_KEY_NOCASE) != 0) << " pair " << i;
                // A prefix orders the records by their leading components only.
                uint32_t count = static_cast<uint32_t>(pick(0, static_cast<int>(parts.size())));
                TestKey leading(std::vector<int32_t>(parts.begin(), parts.begin() + count), attributes);
                std::string pa = image->BuildPrefix(a.data(), count);
                ASSERT_EQ(pa, ia.substr(0, pa.size()));
                if (count > 0) {
                    ASSERT_EQ(ImageOrder(pa, image->BuildPrefix(b.data(), count)), JudgeKey(a, b, leading));
                }
                checked++;
            }
            ASSERT_EQ(Vrw$DStackDepth(), 0u);
        }
        EXPECT_EQ(checked, keys * pairs_per_key);
        EXPECT_GT(ties, 0) << "the pools should produce equal keys too";
    }
};

TEST_F(KeyImageTest, RandomKeysOrderAsTheRuntimeComparesBuiltInTables) { RunDifferential(1, 400, 60); }

TEST_F(KeyImageTest, RandomKeysOrderAsTheRuntimeComparesReplacedTables) {
    // Letters listed in reverse, a national case pair and a digraph: every table in play.
    tarvex::ApplyEnvironmentText(
        "VRNCOLSEQ=zZyYsSbBaA<228><196>\nVRNCASE=<196><228>\nVRNDIGRAPH=<223>ss,<45>zz\n");
    ASSERT_GT(Vrw$DigraphCount(), 0u);
    RunDifferential(2, 400, 60);
}

TEST_F(KeyImageTest, TrailingBlanksNeverMatter) {
    // field | stored text | same text with trailing blanks
    struct Case {
        int32_t field;
        const char* text;
        const char* padded;
    } cases[] = {
        {kName, "abc", "abc   "},
        {kCText, "abc", "abc  "},
        {kPText, "abc", "abc  "},
        {kCText, "", "     "},
        {kPText, "", "  "},
    };
    for (const Case& c : cases) {
        TestKey key({c.field}, 0);
        auto image = Compile(key);
        Record a = BlankRecord();
        Record b = BlankRecord();
        SetString(a, c.field, c.text);
        SetString(b, c.field, c.padded);
        EXPECT_EQ(image->Build(a.data()), image->Build(b.data())) << c.field << " '" << c.text << "'";
    }
}

TEST_F(KeyImageTest, NoCaseKeysIgnoreLetterCase) {
    TestKey nocase({kName}, VRN_KEY_NOCASE);
    TestKey exact({kName}, 0);
    auto folded = Compile(nocase);
    auto plain = Compile(exact);
    Record lower = BlankRecord();
    Record upper = BlankRecord();
    SetString(lower, kName, "smith");
    SetString(upper, kName, "SMITH");
    EXPECT_EQ(folded->Build(lower.data()), folded->Build(upper.data()));
    EXPECT_LT(plain->Build(upper.data()), plain->Build(lower.data()));   // 'S' before 's' in byte order
}

TEST_F(KeyImageTest, DecimalsOrderByValue) {
    // In ascending order; equal neighbours share a rank.
    struct Step {
        const char* value;
        int rank;
    } steps[] = {{"-999.99", 0}, {"-1.50", 1}, {"-1.05", 2}, {"-0.01", 3}, {"0", 4},
                 {"-0", 4},      {"0.01", 5},  {"1.05", 6},  {"1.5", 7},   {"999.99", 8}};
    for (int32_t field : {static_cast<int32_t>(kAmount), static_cast<int32_t>(kPAmount)}) {
        TestKey key({field}, 0);
        auto image = Compile(key);
        std::vector<std::string> images;
        for (const Step& step : steps) {
            Record record = BlankRecord();
            SetDecimal(record, field, step.value);
            images.push_back(image->Build(record.data()));
        }
        for (size_t i = 1; i < images.size(); i++) {
            int expected = Sign(steps[i].rank - steps[i - 1].rank);
            EXPECT_EQ(ImageOrder(images[i], images[i - 1]), expected)
                << "field " << field << ": " << steps[i - 1].value << " vs " << steps[i].value;
        }
    }
}

TEST_F(KeyImageTest, NegativeZeroDecimalImageEqualsZero) {
    TestKey key({kAmount, kPAmount}, 0);
    auto image = Compile(key);
    Record zero = BlankRecord();
    Record minus_zero = BlankRecord();
    At(minus_zero, kAmount)[0] = 0xF0;       // sign nibble set, every digit 0
    At(minus_zero, kPAmount)[3] = 0x0D;      // packed sign "negative", every digit 0
    EXPECT_EQ(image->Build(zero.data()), image->Build(minus_zero.data()));
    EXPECT_TRUE(image->IsBlank(minus_zero.data()));
}

TEST_F(KeyImageTest, ReplacedCollationChangesOrderAndFingerprint) {
    TestKey key({kCode}, 0);
    Record a = BlankRecord();
    Record b = BlankRecord();
    SetString(a, kCode, "a");
    SetString(b, kCode, "b");
    uint64_t built_in = Vrw$CharTablesFingerprint();
    auto before = Compile(key);
    EXPECT_LT(before->Build(a.data()), before->Build(b.data()));

    tarvex::ApplyEnvironmentText("VRNCOLSEQ=ba\n");
    auto after = Compile(key);
    EXPECT_GT(after->Build(a.data()), after->Build(b.data()));
    EXPECT_NE(after->Fingerprint(), built_in);
    EXPECT_EQ(after->Fingerprint(), Vrw$CharTablesFingerprint());
    // A key compiled earlier keeps the tables it was compiled with, and says so.
    EXPECT_EQ(before->Fingerprint(), built_in);
    EXPECT_LT(before->Build(a.data()), before->Build(b.data()));

    tarvex::ResetEnvironment();
    EXPECT_EQ(Vrw$CharTablesFingerprint(), built_in);
}

TEST_F(KeyImageTest, DigraphsExpandInPlace) {
    tarvex::ApplyEnvironmentText("VRNDIGRAPH=<223>ss\n");
    TestKey key({kName}, 0);
    auto image = Compile(key);
    EXPECT_EQ(image->Width(), 12u);   // every character may become two
    // text | text | order
    struct Case {
        const char* first;
        const char* second;
        int order;
    } cases[] = {
        {"stra\xdf", "strass", 0},
        {"stra\xdf", "strast", -1},
        {"stra\xdf", "strasr", 1},
        {"\xdf", "ss    ", 0},
        {"\xdf" "a", "s", 1},
    };
    for (const Case& c : cases) {
        Record a = BlankRecord();
        Record b = BlankRecord();
        SetString(a, kName, c.first);
        SetString(b, kName, c.second);
        EXPECT_EQ(ImageOrder(image->Build(a.data()), image->Build(b.data())), c.order)
            << c.first << " vs " << c.second;
        EXPECT_EQ(Sign(Vrn$comparestr(reinterpret_cast<char*>(At(a, kName)), 6,
                                      reinterpret_cast<char*>(At(b, kName)), 6)),
                  c.order);
    }
}

TEST_F(KeyImageTest, DescendingComponentsReverseOnlyThemselves) {
    // Name descending, then LONG ascending.
    TestKey key({-kName, kLong}, 0);
    auto image = Compile(key);
    struct Row {
        const char* name;
        int32_t number;
    } rows_in_key_order[] = {{"b", 1}, {"b", 7}, {"ab", -3}, {"ab", 0}, {"a", 2}, {"", -5}};
    std::string previous;
    for (const Row& row : rows_in_key_order) {
        Record record = BlankRecord();
        SetString(record, kName, row.name);
        SetNumber(record, kLong, row.number);
        std::string current = image->Build(record.data());
        if (!previous.empty()) {
            EXPECT_LT(previous, current) << row.name << " " << row.number;
        }
        previous = current;
    }
}

TEST_F(KeyImageTest, FloatEdgeValues) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    // In ascending order; rank ties are equal images. Every NaN sorts last and equal to the others.
    struct Step {
        double value;
        int rank;
    } steps[] = {{-inf, 0}, {-1e300, 1}, {-1.0, 2}, {-4.9e-324, 3}, {-0.0, 4}, {0.0, 4},
                 {4.9e-324, 5}, {1.0, 6}, {inf, 7}, {nan, 8}, {-nan, 8}};
    TestKey key({kReal}, 0);
    auto image = Compile(key);
    std::string previous;
    for (size_t i = 0; i < std::size(steps); i++) {
        Record record = BlankRecord();
        SetNumber(record, kReal, steps[i].value);
        std::string current = image->Build(record.data());
        if (i > 0) {
            EXPECT_EQ(ImageOrder(current, previous), Sign(steps[i].rank - steps[i - 1].rank)) << i;
        }
        previous = current;
    }
    TestKey sreal({kSreal}, 0);
    auto simage = Compile(sreal);
    Record minus_zero = BlankRecord();
    Record zero = BlankRecord();
    SetNumber(minus_zero, kSreal, -0.0f);
    SetNumber(zero, kSreal, 0.0f);
    EXPECT_EQ(simage->Build(minus_zero.data()), simage->Build(zero.data()));
}

TEST_F(KeyImageTest, BlankKeys) {
    TestKey key({kName, kCText, kPText, kAmount, kLong, kReal, kGroup}, VRN_KEY_OPT);
    auto image = Compile(key);
    Record blank = BlankRecord();
    EXPECT_TRUE(image->IsBlank(blank.data()));
    EXPECT_TRUE(KeyIsBlank(blank.data(), kType, key.decl));
    // field change | still blank
    struct Case {
        const char* what;
        void (*change)(Record&);
        bool blank;
    } cases[] = {
        {"name blanks", [](Record& r) { SetString(r, kName, "   "); }, true},
        {"name text", [](Record& r) { SetString(r, kName, "  x"); }, false},
        {"cstring empty", [](Record& r) { At(r, kCText)[0] = 0; }, true},
        {"cstring text", [](Record& r) { SetString(r, kCText, "x"); }, false},
        {"pstring overlong blanks", [](Record& r) { At(r, kPText)[0] = 200; std::memset(At(r, kPText) + 1, ' ', 5); }, true},
        {"pstring text", [](Record& r) { SetString(r, kPText, "0"); }, false},
        {"decimal -0", [](Record& r) { At(r, kAmount)[0] = 0xF0; }, true},
        {"decimal damaged nibble", [](Record& r) { At(r, kAmount)[2] = 0x0A; }, true},
        {"decimal 0.01", [](Record& r) { SetDecimal(r, kAmount, "0.01"); }, false},
        {"long -1", [](Record& r) { SetNumber<int32_t>(r, kLong, -1); }, false},
        {"real -0", [](Record& r) { SetNumber(r, kReal, -0.0); }, true},
        {"real NaN", [](Record& r) { SetNumber(r, kReal, std::numeric_limits<double>::quiet_NaN()); }, false},
        {"group zero bytes", [](Record& r) { std::memset(At(r, kGroup), 0, 3); }, true},
        {"group letter", [](Record& r) { At(r, kGroup)[1] = 'A'; }, false},
    };
    for (const Case& c : cases) {
        Record record = BlankRecord();
        c.change(record);
        EXPECT_EQ(image->IsBlank(record.data()), c.blank) << c.what;
    }
    // A field outside the key does not count.
    Record other = BlankRecord();
    SetString(other, kCode, "X");
    EXPECT_TRUE(image->IsBlank(other.data()));
}

TEST_F(KeyImageTest, KeysThatDoNotFitTheRecordAreRefused) {
    static const VrnFieldDesc kOdd[] = {
        {"O:S", nullptr, 0, 4, 1, 0, VRN_TYPE_STRING, 0},
        {"O:WIDE", nullptr, 2, 4, 1, 0, VRN_TYPE_SHORT, 0},       // a SHORT four bytes wide
        {"O:ANY", nullptr, 4, 8, 1, 0, VRN_TYPE_ANY, 0},
        {"O:PAST", nullptr, 10, 8, 1, 0, VRN_TYPE_STRING, 0},     // ends beyond the record
        {"O:ARR", nullptr, 0, 4, 0x40000000, 0, VRN_TYPE_STRING, 0},
        {"O:DEC", nullptr, 0, 12, 1, 0, VRN_TYPE_DECIMAL, 0},
    };
    const VrnTypeDesc odd = {"Odd", "O", 12, 6, kOdd};
    // components | compiles
    struct Case {
        std::vector<int32_t> components;
        bool compiles;
    } cases[] = {
        {{1}, true},
        {{-1, 6}, true},
        {{}, false},
        {{0}, false},
        {{7}, false},
        {{-7}, false},
        {{INT32_MIN}, false},
        {{1, 2}, false},
        {{3}, false},
        {{4}, false},
        {{5}, false},
    };
    for (const Case& c : cases) {
        TestKey key(c.components, 0);
        std::string problem;
        auto image = KeyImage::Compile(odd, key.decl, &problem);
        EXPECT_EQ(image != nullptr, c.compiles) << ::testing::PrintToString(c.components);
        EXPECT_EQ(problem.empty(), c.compiles);
        if (!c.compiles) {
            Record record(12, ' ');
            EXPECT_FALSE(KeyIsBlank(record.data(), odd, key.decl));
        }
    }
}

TEST_F(KeyImageTest, ArrayFieldsAreTheirElementsInTurn) {
    static const VrnFieldDesc kArray[] = {{"A:CODES", nullptr, 0, 2, 3, 0, VRN_TYPE_STRING, 0},
                                          {"A:N", nullptr, 6, 2, 2, 0, VRN_TYPE_SHORT, 0}};
    const VrnTypeDesc array = {"Arr", "A", 10, 2, kArray};
    std::vector<int32_t> parts = {1, -2};
    KeyDecl decl{};
    decl.component_count = 2;
    decl.components = parts.data();
    auto image = KeyImage::Compile(array, decl);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Width(), 10u);
    uint8_t a[10] = {'a', 'b', 'c', 'd', 'e', 'f', 1, 0, 0, 0};
    uint8_t b[10] = {'a', 'b', 'c', 'e', ' ', ' ', 1, 0, 0, 0};
    uint8_t c[10] = {'a', 'b', 'c', 'd', 'e', 'f', 2, 0, 0, 0};
    EXPECT_LT(image->Build(a), image->Build(b));   // the second element decides
    EXPECT_GT(image->Build(a), image->Build(c));   // the SHORT array is descending
}

TEST_F(KeyImageTest, ExportedTablesFollowTheEnvironment) {
    EXPECT_EQ(Vrw$UpperCaseTable()['a'], 'A');
    EXPECT_EQ(Vrw$UpperCaseTable()['A'], 'A');
    EXPECT_EQ(Vrw$UpperCaseTable()[0xe4], 0xe4);
    EXPECT_EQ(Vrw$DigraphOf(0xdf, nullptr, nullptr), 0);
    EXPECT_EQ(Vrw$CollationWeights()['b'], 'b');

    tarvex::ApplyEnvironmentText("VRNCASE=<196><228>\nVRNDIGRAPH=<223>ss,<230>ae\nVRNCOLSEQ=ba\n");
    EXPECT_EQ(Vrw$UpperCaseTable()[0xe4], 0xc4);
    EXPECT_EQ(Vrw$DigraphCount(), 2u);
    uint8_t first = 0;
    uint8_t second = 0;
    EXPECT_EQ(Vrw$DigraphOf(0xe6, &first, &second), 1);
    EXPECT_EQ(first, 'a');
    EXPECT_EQ(second, 'e');
    EXPECT_LT(Vrw$CollationWeights()['b'], Vrw$CollationWeights()['a']);
}

}  // namespace
}  // namespace lumarex::drivers
