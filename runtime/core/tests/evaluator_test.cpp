// SPDX-License-Identifier: GPL-3.0-or-later
// BIND and EVALUATE: golden tables of expression | bound values | result (error rows included),
// every filter of the application over bound records made true and false, scopes, the name
// rules, procedures, the parse limits and the SQL rendering.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "core/evaluator.h"
#include "core/tests/test_support.h"
#include "platform/platform.h"
#include "tarvex/decimal.h"
#include "tarvex/evaluate.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"
#include "tarvex/type_descriptor.h"
#include "tarvex/values.h"

namespace {

using tarvex::testing::PopText;
using tarvex::testing::PushText;

#define PATIENT_FIELDS(FIELD)     \
    FIELD(PAT, DECIMAL(7, 0))     \
    FIELD(LNAME, STRING(20))      \
    FIELD(NOWBALAN, DECIMAL(19, 2))
TARVEX_RECORD(PatientRecord, "PAT", PATIENT_FIELDS)

#define INVOICE_FIELDS(FIELD)     \
    FIELD(PRV, DECIMAL(3, 0))     \
    FIELD(PAT, DECIMAL(7, 0))     \
    FIELD(INV, DECIMAL(7, 0))     \
    FIELD(BDUE, DECIMAL(19, 2))   \
    FIELD(PRIMARY, STRING(11))
TARVEX_RECORD(InvoiceRecord, "INV", INVOICE_FIELDS)

#define ITEM_FIELDS(FIELD)        \
    FIELD(PRV, DECIMAL(3, 0))     \
    FIELD(PAT, DECIMAL(7, 0))     \
    FIELD(INV, DECIMAL(7, 0))     \
    FIELD(CPT, STRING(7))         \
    FIELD(FEE, DECIMAL(9, 2))
TARVEX_RECORD(ItemRecord, "ITM", ITEM_FIELDS)

template <class Field>
void SetDecimal(Field& field, const char* text, uint32_t places) {
    Vrn$DPushCString(text);
    Vrn$DPopDec(&field, sizeof field, places);
}

template <class Field>
void SetString(Field& field, const char* text) {
    Vrn$storestr(reinterpret_cast<char*>(&field), sizeof field, text, static_cast<int32_t>(std::strlen(text)));
}

// Binds `address` under `name` as a variable of the given storage.
void Bind(const char* name, void* address, int32_t type, uint32_t places, uint32_t size) {
    PushText(name);
    Vrn$BindV(Vrn$Mem2Ufo(address, type, places, size, 0));
}

// One EVALUATE: the text, the error code it leaves, the value.
struct Outcome {
    std::string value;
    int32_t error;
};
Outcome Evaluate(const std::string& text) {
    PushText(text);
    Vrn$Evaluate();
    std::string value = PopText();
    return Outcome{value, Vrn$ERRCODE};
}

// The truth of a filter parsed once, as a view evaluates it per row.
int32_t Filter(const char* text) {
    VrnParsed* tree = Vrn$ParseCString(text);
    EXPECT_NE(tree, nullptr) << text;
    int32_t truth = Vrn$EvalR(tree);
    Vrn$FreeParsed(tree);
    return truth;
}

// Every test runs in a scope of its own that hides whatever an earlier test left bound.
class EvaluatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        depth_ = Vrw$StackDepth();
        Vrn$PushBind2(0);
    }
    void TearDown() override {
        Vrn$PopBind();
        EXPECT_EQ(Vrw$StackDepth(), depth_) << "the string stack must be left as it was";
    }
    uint32_t depth_ = 0;
};

// ---- The language without bindings ---------------------------------------------------------------

struct Row {
    const char* expression;
    const char* value;
};

TEST_F(EvaluatorTest, OperatorsLiteralsAndPrecedence) {
    const Row rows[] = {
        {"1 + 2 * 3", "7"},
        {"2 ^ 3 ^ 2", "64"},
        {"NOT 1 = 2", "1"},
        {"NOT 1", "0"},
        {"'a''b'", "a'b"},
        {"LEN('a''b')", "3"},
        {"10 - 2 - 3", "5"},
        {"7 % 3", "1"},
        {"7 / 2", "3.5"},
        {"1 / 0", "0"},
        {"-2 ^ 2", "4"},
        {"- 5", "-5"},
        {"+5", "5"},
        {"(1 + 2) * 3", "9"},
        {"0FFH", "255"},
        {"0ffh", "255"},
        {"1011B", "11"},
        {"17O", "15"},
        {"17Q", "15"},
        {"99D", "99"},
        {"000004", "4"},
        {".5 + 1", "1.5"},
        {"2.5E2", "250"},
        {"2.5e-1", "0.25"},
        {"'abc' & 'def'", "abcdef"},
        {"1 & 2", "12"},
        {"1 + 2 & 3", "33"},
        {"1 < 2", "1"},
        {"2 <= 2", "1"},
        {"2 =< 2", "1"},
        {"3 ~> 2", "0"},
        {"2 ~< 3", "0"},
        {"3 >= 3", "1"},
        {"3 => 4", "0"},
        {"1 <> 2", "1"},
        {"1 < > 2", "1"},
        {"1 ~= 1", "0"},
        {"1 = 1 = 1", "1"},
        {"1.0 = 1", "1"},
        {"0.1 + 0.2 = 0.3", "1"},
        {"0.1 + 0.2 > 0.3", "0"},
        {"10 = '10'", "1"},
        {"'abc' = 0", "1"},
        {"'abc' = 'abc   '", "1"},
        {"'a' < 'b'", "1"},
        {"'b' < 'a'", "0"},
        {"1 AND 0", "0"},
        {"1 AND 2", "1"},
        {"0 OR 3", "1"},
        {"1 XOR 1", "0"},
        {"1 XOR 0", "1"},
        {"0 OR 0 AND 1", "0"},
        {"1 OR 0 AND 0", "1"},
        {"~0", "1"},
        {"NOT ''", "1"},
        {"NOT '   '", "1"},
        {"NOT 'x'", "0"},
        {"'0' AND 1", "1"},
        {"not 0 and 1", "1"},
        {"  1\t+\t1  ", "2"},
    };
    for (const Row& row : rows) {
        Outcome outcome = Evaluate(row.expression);
        EXPECT_EQ(outcome.value, row.value) << row.expression;
        EXPECT_EQ(outcome.error, 0) << row.expression;
    }
}

TEST_F(EvaluatorTest, BuiltInFunctions) {
    const Row rows[] = {
        {"CLIP('ab  ') & 'X'", "abX"},
        {"SUB('ABCDEF', 3, 2)", "CD"},
        {"SUB('ABCDEF', -2, 5)", "EF"},
        {"UPPER('abc')", "ABC"},
        {"LOWER('ABC')", "abc"},
        {"LEFT('  ab', 4)", "ab  "},
        {"RIGHT('ab  ', 4)", "  ab"},
        {"RIGHT('ab  ')", "  ab"},
        {"CENTER('ab', 5)", "  ab "},
        {"ALL('ab', 5)", "ababa"},
        {"LEN(ALL('x'))", "255"},
        {"CHR(65)", "A"},
        {"VAL('A')", "65"},
        {"VAL('')", "32"},
        {"LEN(CLIP('ab  '))", "2"},
        {"INSTRING('C', 'ABCDEF', 1, 1)", "3"},
        {"INSTRING('CD', 'ABCDEF', 2, 1)", "2"},
        {"INSTRING('C', 'ABCDEF')", "3"},
        {"INSTRING('X', 'ABC', 1, 1)", "0"},
        {"INLIST('b', 'a', 'b', 'c')", "2"},
        {"INLIST('z', 'a', 'b')", "0"},
        {"INRANGE(5, 1, 10)", "1"},
        {"INRANGE(11, 1, 10)", "0"},
        {"INRANGE('b', 'a', 'c')", "1"},
        {"CHOOSE(2, 'a', 'b', 'c')", "b"},
        {"CHOOSE(9, 'a', 'b')", "b"},
        {"CHOOSE(1 = 1, 'yes', 'no')", "yes"},
        {"CHOOSE(1 = 2, 'yes', 'no')", "no"},
        {"CHOOSE(2, 10, 20) + 1", "21"},
        {"ABS(-3.5)", "3.5"},
        {"INT(-3.7)", "-3"},
        {"INT(3.7)", "3"},
        {"ROUND(2.345, .01)", "2.35"},
        {"ROUND(1234, 100)", "1200"},
        {"SQRT(16)", "4"},
        {"SQRT(-1)", "0"},
        {"LOG10(1000)", "3"},
        {"LOGE(1)", "0"},
        {"LOGE(0)", "0"},
        {"COS(0)", "1"},
        {"SIN(0)", "0"},
        {"TAN(0)", "0"},
        {"ASIN(0)", "0"},
        {"ACOS(1)", "0"},
        {"ATAN(0)", "0"},
        {"BAND(12, 10)", "8"},
        {"BOR(12, 10)", "14"},
        {"BXOR(12, 10)", "6"},
        {"BSHIFT(1, 4)", "16"},
        {"BSHIFT(16, -2)", "4"},
        {"BSHIFT(1, 40)", "0"},
        {"NUMERIC('12.5')", "1"},
        {"NUMERIC('12a')", "0"},
        {"DATE(1, 1, 1801)", "4"},
        {"YEAR(4)", "1801"},
        {"MONTH(DATE(3, 15, 2020))", "3"},
        {"DAY(DATE(3, 15, 2020))", "15"},
        {"AGE(DATE(1, 1, 2000), DATE(1, 31, 2000))", "30 DAYS"},
        {"FORMAT(1234.5, @n-14.2)", "      1,234.50"},
        {"FORMAT(-1234.5, '@n-14.2')", "     -1,234.50"},
        {"DEFORMAT('1,234.5', @n-14.2)", "1234.5"},
        {"FORMAT(42, @p###########p)", "00000000042"},
        {"FORMAT(555, @p(###)p) & '|'", "(555)|"},
        {"FORMAT(5, @pPage <<<#p)", "Page    5"},
        {"FORMAT(0, @p########pb) & '|'", "        |"},
        {"FORMAT(1234, @p########pB)", "00001234"},
        {"RANDOM(5, 5)", "5"},
        {"TODAY() = TODAY", "1"},
        {"CLOCK > 0", "1"},
        {"MEMORY() > 0", "1"},
        {"upper('x')", "X"},
    };
    for (const Row& row : rows) {
        Outcome outcome = Evaluate(row.expression);
        EXPECT_EQ(outcome.value, row.value) << row.expression;
        EXPECT_EQ(outcome.error, 0) << row.expression;
    }
}

TEST_F(EvaluatorTest, TextsThatDoNotParse) {
    struct ErrorRow {
        const char* expression;
        int32_t error;
    };
    const ErrorRow rows[] = {
        {"", 800},
        {"1 +", 800},
        {"(1", 800},
        {"1)", 800},
        {"1 2", 800},
        {"'abc", 800},
        {"0FG", 800},
        {"19B", 800},
        {"1E5", 800},
        {"1 = = 2", 800},
        {"AND", 800},
        {"1 AND", 800},
        {"@", 800},
        {"~", 800},
        {".", 800},
        {"#", 800},
        {"SUB('a', 1)", 800},
        {"CLOCK(1)", 800},
        {"CHOOSE(1)", 800},
        {"UPPER('a',)", 800},
        {"NOSUCH + 1", 801},
        {"UPPER(NOSUCH)", 801},
    };
    for (const ErrorRow& row : rows) {
        Outcome outcome = Evaluate(row.expression);
        EXPECT_EQ(outcome.value, "") << row.expression;
        EXPECT_EQ(outcome.error, row.error) << row.expression;
        EXPECT_EQ(Vrn$ParseCString(row.expression), nullptr) << row.expression;
    }
}

// The comparison of reals takes a shortcut for pairs that are clearly apart; it must decide every
// pair exactly as Vrn$realdistinct does.
TEST(EvaluatorRealOrder, AgreesWithRealDistinct) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-1070, 1020);
    std::uniform_int_distribution<int> gap(-60, 0);
    for (int i = 0; i < 200000; i++) {
        double a = std::ldexp(unit(random), exponent(random));
        double b;
        switch (i % 4) {
            case 0: b = std::ldexp(unit(random), exponent(random)); break;
            case 1: b = a + a * std::ldexp(unit(random), gap(random)); break;
            case 2: b = 0.0; break;
            default: b = -a; break;
        }
        int expected = Vrn$realdistinct(a, b) ? (a < b ? -1 : 1) : 0;
        ASSERT_EQ(tarvex::eval::RealOrder(a, b), expected) << a << " " << b;
        ASSERT_EQ(tarvex::eval::RealOrder(b, a), -expected) << b << " " << a;
    }
}

TEST_F(EvaluatorTest, EvaluateClearsAPendingError) {
    Vrn$seterror(5);
    EXPECT_EQ(Evaluate("1 + 1").value, "2");
    EXPECT_EQ(Vrn$ERRCODE, 0);
}

// ---- Bound variables -----------------------------------------------------------------------------

TEST_F(EvaluatorTest, BoundStringComparesWithoutTrailingBlanks) {
    PatientRecord patient{};
    SetString(patient.LNAME, "SMITH");
    Vrn$BindG(Vrn$Group2Ufo(&patient, &PatientRecord::Type()));
    EXPECT_EQ(Evaluate("PAT:LNAME = 'SMITH'").value, "1");
    EXPECT_EQ(Evaluate("CLIP(PAT:LNAME) & 'X'").value, "SMITHX");
    EXPECT_EQ(Evaluate("pat:lname = 'SMITH'").value, "1");
    EXPECT_EQ(Evaluate("PAT:LNAME").value, "SMITH               ");
    EXPECT_EQ(Evaluate("LEN(PAT:LNAME)").value, "20");
    EXPECT_EQ(Evaluate("PAT:LNAME[1 : 3]").value, "SMI");
    EXPECT_EQ(Evaluate("PAT:LNAME[2]").value, "M");
    // The value is read when the expression is evaluated, not when it is parsed.
    VrnParsed* tree = Vrn$ParseCString("PAT:LNAME = 'JONES'");
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(Vrn$EvalR(tree), 0);
    SetString(patient.LNAME, "Jones");
    EXPECT_EQ(Vrn$EvalR(tree), 0);   // collation with the default tables is by character code
    SetString(patient.LNAME, "JONES");
    EXPECT_EQ(Vrn$EvalR(tree), 1);
    Vrn$FreeParsed(tree);
}

TEST_F(EvaluatorTest, EveryStorageTypeReadsAsItsValue) {
    uint8_t byte = 200;
    int16_t short_value = -300;
    uint16_t ushort_value = 65000;
    int32_t long_value = 42;
    uint32_t ulong_value = 4000000000u;
    float sreal = 1.5f;
    double real = 2.5;
    char cstring[8] = "abc";
    unsigned char pstring[8] = {2, 'x', 'y', 'z'};
    unsigned char decimal[3] = {};
    unsigned char pdecimal[3] = {};
    Vrn$DPushCString("-12.50");
    Vrn$DPopDec(decimal, 3, 2);
    Vrn$DPushCString("7.25");
    Vrn$DPopPdec(pdecimal, 3, 2);
    Bind("B", &byte, VRN_TYPE_BYTE, 0, 1);
    Bind("S", &short_value, VRN_TYPE_SHORT, 0, 2);
    Bind("US", &ushort_value, VRN_TYPE_USHORT, 0, 2);
    Bind("L", &long_value, VRN_TYPE_LONG, 0, 4);
    Bind("UL", &ulong_value, VRN_TYPE_ULONG, 0, 4);
    Bind("F", &sreal, VRN_TYPE_SREAL, 0, 4);
    Bind("R", &real, VRN_TYPE_REAL, 0, 8);
    Bind("C", cstring, VRN_TYPE_CSTRING, 0, sizeof cstring);
    Bind("P", pstring, VRN_TYPE_PSTRING, 0, sizeof pstring);
    Bind("D", decimal, VRN_TYPE_DECIMAL, 2, 3);
    Bind("PD", pdecimal, VRN_TYPE_PDECIMAL, 2, 3);
    const Row rows[] = {
        {"B", "200"},          {"B = 200", "1"},      {"S", "-300"},         {"S < -299", "1"},
        {"US", "65000"},       {"L", "42"},           {"L = 42", "1"},       {"L = 42.0", "1"},
        {"L = '42'", "1"},     {"UL", "4000000000"},  {"UL > 2147483647", "1"},
        {"F * 2", "3"},        {"R * 2", "5"},        {"R", "2.5"},          {"C & '|'", "abc|"},
        {"LEN(C)", "3"},       {"P & '|'", "xy|"},    {"D", "-12.5"},       {"D = -12.5", "1"},
        {"D < -12", "1"},      {"PD + 1", "8.25"},    {"PD", "7.25"},        {"D + PD", "-5.25"},
    };
    for (const Row& row : rows) {
        Outcome outcome = Evaluate(row.expression);
        EXPECT_EQ(outcome.value, row.value) << row.expression;
        EXPECT_EQ(outcome.error, 0) << row.expression;
    }
}

TEST_F(EvaluatorTest, ArraysAndGroupsBySubscript) {
    int32_t values[3] = {10, 20, 30};
    PushText("A");
    Vrn$BindV(Vrn$ArrayOfUfo(Vrn$Mem2Ufo(values, VRN_TYPE_LONG, 0, 4, 0), 3));
    PatientRecord patient{};
    SetString(patient.LNAME, "SMITH");
    PushText("G");
    Vrn$BindV(Vrn$Group2Ufo(&patient, &PatientRecord::Type()));
    EXPECT_EQ(Evaluate("A[2]").value, "20");
    EXPECT_EQ(Evaluate("A[1] + A[3]").value, "40");
    EXPECT_EQ(Evaluate("A[2] = 20").value, "1");
    EXPECT_EQ(Evaluate("A[4]").value, "");   // out of range reads as empty, never a fatal error
    EXPECT_EQ(Evaluate("A[0] + 1").value, "1");
    EXPECT_EQ(Evaluate("CLIP(G[2])").value, "SMITH");
    EXPECT_EQ(Evaluate("A[1 : 2]").error, 800);   // slices are for strings only
    EXPECT_EQ(Evaluate("A + 1").error, 800);       // an array has no value as a whole
}

// ---- Scopes and names ----------------------------------------------------------------------------

TEST_F(EvaluatorTest, ScopesHideOrKeepOuterNames) {
    int32_t outer = 1;
    int32_t inner = 2;
    Bind("OUTER", &outer, VRN_TYPE_LONG, 0, 4);
    Vrn$PushBind2(0);
    EXPECT_EQ(Evaluate("OUTER").error, 801);
    Bind("INNER", &inner, VRN_TYPE_LONG, 0, 4);
    EXPECT_EQ(Evaluate("INNER").value, "2");
    Vrn$PushBind2(1);
    EXPECT_EQ(Evaluate("INNER").value, "2");   // a kept scope stays visible ...
    EXPECT_EQ(Evaluate("OUTER").error, 801);   // ... but not past the scope that hid it
    Vrn$PopBind();
    Vrn$PopBind();
    EXPECT_EQ(Evaluate("OUTER").value, "1");
    EXPECT_EQ(Evaluate("INNER").error, 801);
    Vrn$PushBind();
    EXPECT_EQ(Evaluate("OUTER").error, 801);
    Vrn$PopBind();
}

TEST_F(EvaluatorTest, InnerBindingShadowsOuter) {
    int32_t outer = 1;
    int32_t inner = 2;
    Bind("X", &outer, VRN_TYPE_LONG, 0, 4);
    Vrn$PushBind2(1);
    EXPECT_EQ(Evaluate("X").value, "1");
    Bind("x", &inner, VRN_TYPE_LONG, 0, 4);
    EXPECT_EQ(Evaluate("X").value, "2");
    Vrn$PopBind();
    EXPECT_EQ(Evaluate("X").value, "1");
}

TEST_F(EvaluatorTest, BindingNamesAreCutAndRebindingReplaces) {
    int32_t first = 1;
    int32_t second = 2;
    Bind("ABC DEF", &first, VRN_TYPE_LONG, 0, 4);
    EXPECT_EQ(Evaluate("ABC").value, "1");
    EXPECT_EQ(Evaluate("DEF").error, 801);
    Bind("ABC", &second, VRN_TYPE_LONG, 0, 4);
    EXPECT_EQ(Evaluate("abc").value, "2");
    Bind("TOTAL$", &second, VRN_TYPE_LONG, 0, 4);
    EXPECT_EQ(Evaluate("TOTAL$ + 1").value, "3");
    std::string long_name(120, 'N');
    Bind(long_name.c_str(), &first, VRN_TYPE_LONG, 0, 4);
    EXPECT_EQ(Evaluate(std::string(99, 'N')).value, "1");
    EXPECT_EQ(Evaluate(long_name).error, 801);
    Bind("9LIVES", &first, VRN_TYPE_LONG, 0, 4);   // not a name: nothing is bound
    EXPECT_EQ(Vrw$StackDepth(), depth_);
}

TEST_F(EvaluatorTest, UnbindRemovesOnlyFromTheCurrentScope) {
    int32_t value = 7;
    Bind("V", &value, VRN_TYPE_LONG, 0, 4);
    Vrn$seterror(5);
    PushText("V");
    Vrn$UnbindV();
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Evaluate("V").error, 801);
    PushText("V");
    Vrn$UnbindV();
    EXPECT_EQ(Vrn$ERRCODE, 801);
    Vrn$clearerror();
}

TEST_F(EvaluatorTest, EvaluateVariableSearchesTheCurrentScopeOnly) {
    int32_t value = 7;
    Bind("V", &value, VRN_TYPE_LONG, 0, 4);
    Ufo* found = Vrn$EvaluateVariable("v");
    ASSERT_NE(found, nullptr);
    value = 8;
    EXPECT_EQ(Vrn$Ufo2Long(found), 8);
    Vrn$FreeUfo(found);
    Vrn$PushBind2(1);
    EXPECT_EQ(Vrn$EvaluateVariable("V"), nullptr);
    Vrn$PopBind();
    EXPECT_EQ(Vrn$EvaluateVariable("W"), nullptr);
    EXPECT_EQ(Vrn$EvaluateVariable(nullptr), nullptr);
}

TEST_F(EvaluatorTest, ParsedTreeOutlivesItsScope) {
    int32_t value = 7;
    Vrn$PushBind2(0);
    Bind("V", &value, VRN_TYPE_LONG, 0, 4);
    VrnParsed* tree = Vrn$ParseCString("V * 2");
    Vrn$PopBind();
    value = 9;
    Vrn$EvalS(tree);
    EXPECT_EQ(PopText(), "18");
    Vrn$FreeParsed(tree);
}

TEST(EvaluatorDeathTest, PopWithoutScopeIsFatal802) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            _atexit([] {
                for (const auto& box : tarvex::platform::Headless()->Transcript()) {
                    std::fprintf(stderr, "[%s|%s]", box.request.caption.c_str(), box.request.text.c_str());
                }
                std::fflush(stderr);
            });
            Vrn$PopBind();
        },
        ::testing::ExitedWithCode(2), "\\[Runtime error\\|Mismatched PUSHSCOPE/POPSCOPE : Mismatched POPSCOPE\\]");
}

// ---- Procedures ----------------------------------------------------------------------------------

int32_t AddTwo() {
    int32_t second = Vrn$PopLong();
    int32_t first = Vrn$PopLong();
    return first * 10 + second;
}
double Half() { return Vrn$PopReal() / 2; }
void Greet() { Vrn$PushCString("hi"); }

TEST_F(EvaluatorTest, BoundProceduresTakeArgumentsOnTheStack) {
    PushText("ADD2");
    Vrn$BindP(reinterpret_cast<void*>(&AddTwo), 2, VRN_TYPE_LONG);
    PushText("HALF");
    Vrn$BindP(reinterpret_cast<void*>(&Half), 1, VRN_TYPE_REAL);
    PushText("GREET");
    Vrn$BindP(reinterpret_cast<void*>(&Greet), 0, VRN_TYPE_STRING);
    EXPECT_EQ(Evaluate("ADD2(3, 4)").value, "34");
    EXPECT_EQ(Evaluate("ADD2(3, 4) = 34").value, "1");
    EXPECT_EQ(Evaluate("HALF(5)").value, "2.5");
    EXPECT_EQ(Evaluate("GREET() & '!'").value, "hi!");
    EXPECT_EQ(Evaluate("GREET & '!'").value, "hi!");
    EXPECT_EQ(Evaluate("ADD2(3)").error, 800);
}

// ---- The application's filters -------------------------------------------------------------------

class ApplicationFilters : public EvaluatorTest {
public:
    void SetUp() override {
        EvaluatorTest::SetUp();
        Vrn$BindG(Vrn$Group2Ufo(&patient, &PatientRecord::Type()));
        Vrn$BindG(Vrn$Group2Ufo(&invoice, &InvoiceRecord::Type()));
        Vrn$BindG(Vrn$Group2Ufo(&item, &ItemRecord::Type()));
        for (const char* browse : {"BRW2", "BRW8"}) {
            std::string prefix = std::string(browse) + "::Sort1:Reset:";
            Bind((prefix + "INV:PAT").c_str(), &reset_inv_pat, VRN_TYPE_DECIMAL, 0, sizeof reset_inv_pat);
            Bind((prefix + "INV:PRV").c_str(), &reset_inv_prv, VRN_TYPE_DECIMAL, 0, sizeof reset_inv_prv);
            Bind((prefix + "INV:INV").c_str(), &reset_inv_inv, VRN_TYPE_DECIMAL, 0, sizeof reset_inv_inv);
        }
        Bind("BRW2::Sort1:Reset:PAT:PAT", &reset_pat_pat, VRN_TYPE_DECIMAL, 0, sizeof reset_pat_pat);
        Bind("NUMBER", &number, VRN_TYPE_LONG, 0, 4);
        Bind("IDPAT", &idpat, VRN_TYPE_DECIMAL, 0, sizeof idpat);
        // One claim (provider 3, patient 1042, claim 5001) and one of its charge lines.
        SetDecimal(patient.PAT, "1042", 0);
        SetDecimal(patient.NOWBALAN, "12.50", 2);
        SetDecimal(invoice.PRV, "3", 0);
        SetDecimal(invoice.PAT, "1042", 0);
        SetDecimal(invoice.INV, "5001", 0);
        SetDecimal(invoice.BDUE, "40.00", 2);
        SetString(invoice.PRIMARY, "12345678901");
        SetDecimal(item.PRV, "3", 0);
        SetDecimal(item.PAT, "1042", 0);
        SetDecimal(item.INV, "5001", 0);
        SetString(item.CPT, "99213");
        SetDecimal(item.FEE, "75.00", 2);
        SetDecimal(reset_inv_prv, "3", 0);
        SetDecimal(reset_inv_pat, "1042", 0);
        SetDecimal(reset_inv_inv, "5001", 0);
        SetDecimal(reset_pat_pat, "1042", 0);
        SetDecimal(idpat, "1042", 0);
        number = 5001;
    }

    struct Case {
        const char* filter;
        std::function<void(ApplicationFilters&)> change;
        int32_t truth;
    };
    void Check(const Case& row) {
        EvaluatorTest::TearDown();   // leave the scope SetUp opened before each row opens its own
        SetUp();   // fresh values in a fresh scope for each row
        row.change(*this);
        EXPECT_EQ(Filter(row.filter), row.truth) << row.filter << " (row " << index_ << ")";
        index_++;
    }

    PatientRecord patient{};
    InvoiceRecord invoice{};
    ItemRecord item{};
    tarvex::Decimal<7, 0> reset_inv_pat;
    tarvex::Decimal<3, 0> reset_inv_prv;
    tarvex::Decimal<7, 0> reset_inv_inv;
    tarvex::Decimal<7, 0> reset_pat_pat;
    tarvex::Decimal<7, 0> idpat;
    int32_t number = 0;
    int index_ = 0;
};

constexpr const char* kServiceLines =
    "ITM:PAT = BRW2::Sort1:Reset:INV:PAT AND ITM:PRV = BRW2::Sort1:Reset:INV:PRV AND ITM:INV = "
    "BRW2::Sort1:Reset:INV:INV AND (ITM:FEE > -.01 AND ITM:CPT<>000001  AND ITM:CPT<>000002 AND "
    "ITM:CPT<>000003 AND ITM:CPT<>000004 AND ITM:CPT<>000005 )";
constexpr const char* kPaymentLines =
    "ITM:PAT = BRW2::Sort1:Reset:INV:PAT AND ITM:PRV = BRW2::Sort1:Reset:INV:PRV AND ITM:INV = "
    "BRW2::Sort1:Reset:INV:INV AND (ITM:CPT=000001 OR ITM:CPT=000002 OR ITM:CPT=000003 OR "
    "ITM:CPT=000004 OR ITM:CPT=000005)";
constexpr const char* kStatusPayments =
    "ITM:PAT = BRW8::Sort1:Reset:INV:PAT AND ITM:PRV = BRW8::Sort1:Reset:INV:PRV AND ITM:INV = "
    "BRW8::Sort1:Reset:INV:INV AND (ITM:FEE <= 0 OR ITM:CPT=00004)";

using F = ApplicationFilters;

TEST_F(ApplicationFilters, EachFilterTrueAndFalse) {
    const Case rows[] = {
        {"INV:PAT = BRW2::Sort1:Reset:PAT:PAT", [](F&) {}, 1},
        {"INV:PAT = BRW2::Sort1:Reset:PAT:PAT", [](F& f) { SetDecimal(f.invoice.PAT, "1043", 0); }, 0},
        {"(INV:BDUE > 0)", [](F&) {}, 1},
        {"(INV:BDUE > 0)", [](F& f) { SetDecimal(f.invoice.BDUE, "0.01", 2); }, 1},
        {"(INV:BDUE > 0)", [](F& f) { SetDecimal(f.invoice.BDUE, "0.00", 2); }, 0},
        {"(INV:BDUE > 0)", [](F& f) { SetDecimal(f.invoice.BDUE, "-5.00", 2); }, 0},
        {"pat:nowbalan >0", [](F&) {}, 1},
        {"pat:nowbalan >0", [](F& f) { SetDecimal(f.patient.NOWBALAN, "0", 2); }, 0},
        {"pat:nowbalan >0", [](F& f) { SetDecimal(f.patient.NOWBALAN, "-0.01", 2); }, 0},
        {"(INV:PRIMARY< >0  AND INV:BDUE > 0)", [](F&) {}, 1},
        {"(INV:PRIMARY< >0  AND INV:BDUE > 0)", [](F& f) { SetString(f.invoice.PRIMARY, ""); }, 0},
        {"(INV:PRIMARY< >0  AND INV:BDUE > 0)", [](F& f) { SetString(f.invoice.PRIMARY, "00000000000"); }, 0},
        {"(INV:PRIMARY< >0  AND INV:BDUE > 0)", [](F& f) { SetDecimal(f.invoice.BDUE, "0", 2); }, 0},
        {kServiceLines, [](F&) {}, 1},
        {kServiceLines, [](F& f) { SetDecimal(f.item.FEE, "0.00", 2); }, 1},
        {kServiceLines, [](F& f) { SetDecimal(f.item.FEE, "-0.01", 2); }, 0},
        {kServiceLines, [](F& f) { SetString(f.item.CPT, "00001"); }, 0},
        {kServiceLines, [](F& f) { SetString(f.item.CPT, "00004"); }, 0},
        {kServiceLines, [](F& f) { SetString(f.item.CPT, "00005"); }, 0},
        {kServiceLines, [](F& f) { SetString(f.item.CPT, "00006"); }, 1},
        {kServiceLines, [](F& f) { SetString(f.item.CPT, "G0008"); }, 1},
        {kServiceLines, [](F& f) { SetString(f.item.CPT, "J1100"); }, 1},
        {kServiceLines, [](F& f) { SetDecimal(f.item.PAT, "1043", 0); }, 0},
        {kServiceLines, [](F& f) { SetDecimal(f.item.PRV, "4", 0); }, 0},
        {kServiceLines, [](F& f) { SetDecimal(f.item.INV, "5002", 0); }, 0},
        {kServiceLines, [](F& f) { SetDecimal(f.reset_inv_inv, "5002", 0); }, 0},
        {kPaymentLines, [](F& f) { SetString(f.item.CPT, "00003"); }, 1},
        {kPaymentLines, [](F& f) { SetString(f.item.CPT, "00001"); }, 1},
        {kPaymentLines, [](F&) {}, 0},
        {kPaymentLines, [](F& f) { SetString(f.item.CPT, "00006"); }, 0},
        {kPaymentLines,
         [](F& f) {
             SetString(f.item.CPT, "00003");
             SetDecimal(f.item.INV, "5002", 0);
         },
         0},
        {"(ITM:FEE > 0 AND ITM:CPT<>000004)", [](F&) {}, 1},
        {"(ITM:FEE > 0 AND ITM:CPT<>000004)", [](F& f) { SetString(f.item.CPT, "00004"); }, 0},
        {"(ITM:FEE > 0 AND ITM:CPT<>000004)", [](F& f) { SetDecimal(f.item.FEE, "0", 2); }, 0},
        {"(ITM:FEE <= 0 OR ITM:CPT=00004)", [](F& f) { SetDecimal(f.item.FEE, "-20.00", 2); }, 1},
        {"(ITM:FEE <= 0 OR ITM:CPT=00004)", [](F& f) { SetString(f.item.CPT, "00004"); }, 1},
        {"(ITM:FEE <= 0 OR ITM:CPT=00004)", [](F&) {}, 0},
        {kStatusPayments, [](F& f) { SetDecimal(f.item.FEE, "0", 2); }, 1},
        {kStatusPayments, [](F&) {}, 0},
        {"INV:INV = NUMBER", [](F&) {}, 1},
        {"INV:INV = NUMBER", [](F& f) { f.number = 5002; }, 0},
        {"INV:PAT = PAT:PAT AND (INV:PAT=IDPAT)", [](F&) {}, 1},
        {"INV:PAT = PAT:PAT AND (INV:PAT=IDPAT)", [](F& f) { SetDecimal(f.idpat, "7", 0); }, 0},
        {"INV:PAT = PAT:PAT AND (INV:PAT=IDPAT)", [](F& f) { SetDecimal(f.patient.PAT, "7", 0); }, 0},
    };
    for (const Case& row : rows) Check(row);
}

// The comparisons a billing clerk relies on: a code stored as text against a number written with
// leading zeros, and an amount against a whole number.
TEST_F(ApplicationFilters, CodesAndAmountsCompareByValue) {
    SetString(item.CPT, "00004");
    EXPECT_EQ(Filter("ITM:CPT<>000004"), 0);
    EXPECT_EQ(Filter("ITM:CPT=00004"), 1);
    EXPECT_EQ(Filter("ITM:CPT=4"), 1);
    EXPECT_EQ(Filter("ITM:CPT='00004'"), 1);
    EXPECT_EQ(Filter("ITM:CPT='4'"), 0);   // text against text stays text
    SetString(item.CPT, "99213");
    EXPECT_EQ(Filter("ITM:CPT<>000004"), 1);
    EXPECT_EQ(Filter("ITM:CPT=00004"), 0);
    SetDecimal(invoice.BDUE, "100.00", 2);
    EXPECT_EQ(Filter("INV:BDUE = 100"), 1);
    EXPECT_EQ(Filter("INV:BDUE > 100"), 0);
    EXPECT_EQ(Filter("INV:BDUE >= 100"), 1);
    SetDecimal(invoice.BDUE, "100.01", 2);
    EXPECT_EQ(Filter("INV:BDUE > 100"), 1);
    EXPECT_EQ(Filter("INV:BDUE = 100"), 0);
    SetDecimal(invoice.BDUE, "0.00", 2);
    EXPECT_EQ(Filter("INV:BDUE = 0"), 1);
    EXPECT_EQ(Filter("INV:BDUE"), 0);
    SetDecimal(invoice.BDUE, "-0.10", 2);
    EXPECT_EQ(Filter("INV:BDUE = -.1"), 1);
    EXPECT_EQ(Filter("INV:BDUE < 0"), 1);
}

TEST_F(ApplicationFilters, ParseCStringRStopsAfterTheExpression) {
    const char* text = "INV:PAT = 1042, INV:PRV";
    VrnParsed* first = Vrn$ParseCStringR(&text);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(text, ", INV:PRV");
    EXPECT_EQ(Vrn$EvalR(first), 1);
    text += 1;
    VrnParsed* second = Vrn$ParseCStringR(&text);
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(text, "");
    Vrn$EvalS(second);
    EXPECT_EQ(PopText(), "3");
    Vrn$FreeParsed(first);
    Vrn$FreeParsed(second);
    const char* broken = "1 +, 2";
    EXPECT_EQ(Vrn$ParseCStringR(&broken), nullptr);
    EXPECT_STREQ(broken, "1 +, 2");
}

TEST_F(EvaluatorTest, NullTreesAndNullTexts) {
    EXPECT_EQ(Vrn$ParseCString(nullptr), nullptr);
    EXPECT_EQ(Vrn$ParseCStringR(nullptr), nullptr);
    EXPECT_EQ(Vrn$EvalR(nullptr), 0);
    Vrn$EvalS(nullptr);
    EXPECT_EQ(PopText(), "");
    Vrn$EvaluateParsed(nullptr);
    EXPECT_EQ(PopText(), "");
    Vrn$FreeParsed(nullptr);
}

// ---- Limits ----------------------------------------------------------------------------------------

TEST_F(EvaluatorTest, TreesBeyondTheLimitsAreRefused) {
    std::string nested = std::string(1000, '(') + "1" + std::string(1000, ')');
    EXPECT_EQ(Evaluate(nested).error, 800);
    EXPECT_EQ(Evaluate(std::string(50, '(') + "1" + std::string(50, ')')).value, "1");
    std::string chain = "1";
    for (int i = 0; i < 300; i++) chain += " + 1";
    EXPECT_EQ(Evaluate(chain).error, 800);
    std::string negations(5000, '-');
    EXPECT_EQ(Evaluate(negations + "1").error, 800);
    // Each list item is one more entry on the string stack.
    std::string wide = "INLIST('a'";
    for (int i = 0; i < 40; i++) wide += ", 'b'";
    EXPECT_EQ(Evaluate(wide + ")").error, 800);
    EXPECT_EQ(Evaluate("INLIST('a', 'b', 'c', 'a')").value, "3");
}

TEST_F(EvaluatorTest, EvaluationOnAnAlmostFullStackGivesEmpty) {
    VrnParsed* tree = Vrn$ParseCString("'a' & 'b' & 'c'");
    ASSERT_NE(tree, nullptr);
    for (int i = 0; i < 31; i++) Vrn$PushString("x", 1);
    EXPECT_EQ(Vrn$EvalR(tree), 0);
    for (int i = 0; i < 31; i++) Vrn$STACKpop();
    Vrn$EvalS(tree);
    EXPECT_EQ(PopText(), "abc");
    Vrn$FreeParsed(tree);
}

// ---- SQL ---------------------------------------------------------------------------------------------

// Columns are the field names after the prefix of the Invoice, Item and Patient records.
const char* ColumnOf(void*, const char* name) {
    for (const char* prefix : {"INV:", "ITM:", "PAT:"}) {
        if (strncasecmp(name, prefix, 4) == 0) return name + 4;
    }
    return nullptr;
}

struct SqlRow {
    const char* filter;
    int32_t result;
    const char* text;
};

TEST_F(ApplicationFilters, FiltersAsSql) {
    SetString(patient.LNAME, "O'NEIL");
    const SqlRow rows[] = {
        {"INV:PAT = BRW2::Sort1:Reset:PAT:PAT", VRN_SQL_EXACT, "(PAT = 1042)"},
        {"(INV:BDUE > 0)", VRN_SQL_EXACT, "(BDUE > 0)"},
        {"pat:nowbalan >0", VRN_SQL_EXACT, "(NOWBALAN > 0)"},   // the name as it was bound
        {"INV:INV = NUMBER", VRN_SQL_EXACT, "(INV = 5001)"},
        {"PAT:LNAME = 'SMITH' OR NOT INV:BDUE <= -.5", VRN_SQL_EXACT,
         "((RTRIM(LNAME) = 'SMITH') OR (NOT (BDUE <= (-.5))))"},
        {"INV:PAT = PAT:PAT AND (INV:PAT=IDPAT)", VRN_SQL_EXACT, "((PAT = PAT) AND (PAT = 1042))"},
        {"UPPER(PAT:LNAME) = 'X' & 'Y'", VRN_SQL_EXACT, "(UPPER(RTRIM(LNAME)) = ('X' || 'Y'))"},
        {"INRANGE(INV:BDUE, 1, 2 * 3) XOR INV:BDUE", VRN_SQL_EXACT,
         "((BDUE BETWEEN 1 AND (2 * 3)) <> (BDUE <> 0))"},
        {"BRW2::Sort1:Reset:PAT:PAT + 1 = 5", VRN_SQL_EXACT, "((1042 + 1) = 5)"},
        {"LNAME_OF_PATIENT = PAT:LNAME", VRN_SQL_EXACT, "('O''NEIL' = RTRIM(LNAME))"},
        {kServiceLines, VRN_SQL_SUPERSET,
         "((PAT = 1042) AND (PRV = 3) AND (INV = 5001) AND (FEE > (-.01)))"},
        {"(INV:PRIMARY< >0  AND INV:BDUE > 0)", VRN_SQL_SUPERSET, "(BDUE > 0)"},
        {"ITM:CPT<>000004", VRN_SQL_NONE, ""},
        {"SUB(PAT:LNAME, 1, 2) = 'SM'", VRN_SQL_NONE, ""},
        {"INV:BDUE / 2 > 1", VRN_SQL_NONE, ""},
    };
    PatientRecord other{};
    SetString(other.LNAME, "O'NEIL");
    Bind("LNAME_OF_PATIENT", &other.LNAME, VRN_TYPE_STRING, 0, 20);
    for (const SqlRow& row : rows) {
        VrnParsed* tree = Vrn$ParseCString(row.filter);
        ASSERT_NE(tree, nullptr) << row.filter;
        VrnSqlOutput output{&ColumnOf, nullptr, nullptr, 0};
        EXPECT_EQ(Vrn$AnnotateParsed(&tree, &output), row.result) << row.filter;
        EXPECT_EQ(output.text, nullptr);
        EXPECT_EQ(Vrn$PrintSQL(tree, &output), row.result) << row.filter;
        EXPECT_EQ(std::string(output.text ? output.text : ""), row.text) << row.filter;
        Vrn$FreeSQL(&output);
        Vrn$FreeParsed(tree);
    }
    VrnParsed* none = nullptr;
    EXPECT_EQ(Vrn$AnnotateParsed(&none, nullptr), VRN_SQL_NO_TREE);
    EXPECT_EQ(Vrn$AnnotateParsed(nullptr, nullptr), VRN_SQL_NO_TREE);
}

TEST_F(ApplicationFilters, VariablesThatAreNotColumnsBecomeQuotedLiterals) {
    PatientRecord other{};
    SetString(other.LNAME, "O'NEIL");
    Bind("WANTED", &other.LNAME, VRN_TYPE_STRING, 0, 20);
    VrnParsed* tree = Vrn$ParseCString("PAT:LNAME = WANTED");
    VrnSqlOutput output{&ColumnOf, nullptr, nullptr, 0};
    EXPECT_EQ(Vrn$PrintSQL(tree, &output), VRN_SQL_EXACT);
    EXPECT_STREQ(output.text, "(RTRIM(LNAME) = 'O''NEIL')");
    Vrn$FreeSQL(&output);
    Vrn$FreeParsed(tree);
}

TEST_F(ApplicationFilters, OrderItemsAsSql) {
    VrnSqlOutput output{&ColumnOf, nullptr, nullptr, 0};
    const char* order = "-INV:BDUE,+INV:PAT,INV:PRV,UPPER(PAT:LNAME),SUB(PAT:LNAME,1,2)";
    const int32_t expected[] = {VRN_SQL_EXACT, VRN_SQL_EXACT, VRN_SQL_EXACT, VRN_SQL_EXACT, VRN_SQL_NONE};
    for (int32_t result : expected) {
        VrnParsed* item_tree = Vrn$ParseCStringR(&order);
        ASSERT_NE(item_tree, nullptr);
        EXPECT_EQ(Vrn$PrintSQLOrder(item_tree, &output), result);
        Vrn$FreeParsed(item_tree);
        if (*order == ',') order++;
    }
    EXPECT_STREQ(output.text, "BDUE DESC, PAT ASC, PRV ASC, UPPER(RTRIM(LNAME)) ASC");
    Vrn$FreeSQL(&output);
    EXPECT_EQ(output.text, nullptr);
}

}  // namespace
