// SPDX-License-Identifier: GPL-3.0-or-later
// Differential test of the decimal stack against Python's decimal module: a few thousand cases are
// generated from a fixed seed, decimal_judge.py computes what each must give under the
// accumulator's rules, and every result of the exported operations is compared with it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/tests/test_support.h"
#include "tarvex/decimal.h"

namespace {

namespace fs = std::filesystem;
using tarvex::testing::Hex;
using tarvex::testing::PopText;

class CaseMaker {
  public:
    explicit CaseMaker(uint64_t seed) : rng_(seed) {}

    int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    bool Chance(int percent) { return Uniform(1, 100) <= percent; }

    std::string Digits(int count) {
        std::string digits;
        bool nines = Chance(8);
        for (int i = 0; i < count; ++i) {
            digits += nines ? '9' : static_cast<char>('0' + Uniform(0, 9));
        }
        return digits;
    }

    // A number as text within the accumulator's range, from one of several shapes.
    std::string Number() {
        int integer_digits;
        int places;
        switch (Uniform(0, 4)) {
        case 0: // an amount
            integer_digits = Uniform(0, 17);
            places = 2;
            break;
        case 1: // small with a few places
            integer_digits = Uniform(0, 3);
            places = Uniform(0, 6);
            break;
        case 2: // anything
            integer_digits = Uniform(0, 32);
            places = Uniform(0, 32);
            break;
        case 3: // near the edges
            integer_digits = Uniform(28, 32);
            places = Uniform(28, 32);
            break;
        default: // zero or a single digit somewhere
            integer_digits = Uniform(0, 1);
            places = Uniform(0, 32);
            break;
        }
        std::string text = Chance(35) ? "-" : "";
        text += integer_digits == 0 ? "0" : Digits(integer_digits);
        if (places > 0) {
            text += "." + Digits(places);
        }
        return text;
    }

    std::string Step() {
        static const char* const kSteps[] = {"0.01", "0.05", "1", "100", "0.5", "0", "0.001", "1000"};
        return Chance(70) ? kSteps[Uniform(0, 7)] : Number();
    }

    // Text that may or may not be a number.
    std::string Text() {
        std::string text(static_cast<size_t>(Uniform(0, 2)), ' ');
        if (Chance(30)) {
            text += Chance(80) ? "-" : "+";
        }
        text += Digits(Uniform(0, 36));
        if (Chance(70)) {
            text += "." + Digits(Uniform(0, 36));
            if (Chance(40)) {
                text += Chance(50) ? "e" : "E";
                if (Chance(40)) {
                    text += "-";
                }
                text += Digits(Uniform(0, 3));
            }
        } else if (Chance(20)) {
            text += "e" + Digits(Uniform(1, 2));
        }
        static const char kEnds[] = " x.e-5";
        if (Chance(40)) {
            text += kEnds[Uniform(0, 5)];
            text += Digits(Uniform(0, 3));
        }
        return text;
    }

    double Real() {
        switch (Uniform(0, 3)) {
        case 0: // cents
            return std::uniform_int_distribution<int64_t>(-100000000000, 100000000000)(rng_) / 100.0;
        case 1: // exact halves at the fifteenth or sixteenth digit
            return static_cast<double>(std::uniform_int_distribution<int64_t>(1, 999999999999999)(rng_)) +
                   0.5;
        case 2: {
            double mantissa = std::uniform_real_distribution<double>(1.0, 10.0)(rng_);
            return (Chance(30) ? -mantissa : mantissa) * std::pow(10.0, Uniform(-36, 36));
        }
        default: {
            uint64_t bits = rng_();
            double real;
            std::memcpy(&real, &bits, sizeof real);
            return real;
        }
        }
    }

    // A DECIMAL or PDECIMAL variable of `size` bytes and `places` holding a number of one of the
    // fast paths' edge lengths (16 to 20 digits, 31, nines that carry), a zero with a minus sign
    // now and then.
    struct Variable {
        std::string text; // the value it holds
        std::vector<uint8_t> image;
        uint32_t places;
        bool packed;
    };

    Variable MakeVariable(uint32_t size, uint32_t places) {
        static const int kEdges[] = {0, 1, 15, 16, 17, 18, 19, 20, 31};
        int digits = 2 * static_cast<int>(size) - 1;
        int count = std::min(Chance(50) ? kEdges[Uniform(0, 8)] : Uniform(0, digits), digits);
        std::string body = std::string(static_cast<size_t>(digits - count), '0') + Digits(count);
        Variable v{"", std::vector<uint8_t>(size), places, Chance(30)};
        bool negative = Chance(35);
        std::string nibbles = v.packed ? body + (negative ? "D" : "F") : (negative ? "F" : "0") + body;
        for (uint32_t i = 0; i < size; ++i) {
            v.image[i] = static_cast<uint8_t>(std::stoul(nibbles.substr(2 * i, 2), nullptr, 16));
        }
        std::string integer = static_cast<int>(places) >= digits ? "0" : body.substr(0, digits - places);
        std::string fraction = static_cast<int>(places) >= digits
                                   ? std::string(places - static_cast<uint32_t>(digits), '0') + body
                                   : body.substr(static_cast<size_t>(digits) - places);
        v.text = (negative ? "-" : "") + integer + (places > 0 ? "." + fraction : "");
        return v;
    }

    uint32_t VariableSize() { return Chance(40) ? 10 : static_cast<uint32_t>(Uniform(1, 16)); }
    uint32_t VariablePlaces(uint32_t size) {
        return Chance(50) ? 2
                          : static_cast<uint32_t>(Uniform(0, std::min(2 * static_cast<int>(size) + 1, 32)));
    }

  private:
    std::mt19937_64 rng_;
};

void PushVariable(const CaseMaker::Variable& v) {
    uint32_t size = static_cast<uint32_t>(v.image.size());
    if (v.packed) {
        Vrn$DPushPdec(v.image.data(), size, v.places);
    } else {
        Vrn$DPushDec(v.image.data(), size, v.places);
    }
}

std::string BitsOf(double real) {
    uint8_t bytes[8];
    std::memcpy(bytes, &real, sizeof bytes);
    std::string hex;
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        hex += pair;
    }
    return hex;
}

std::string PopDecimalText() {
    Vrn$DStack2Stack();
    return PopText();
}

struct JudgeCase {
    std::string line;                    // what the judge reads
    std::function<std::string()> actual; // what the decimal stack gives
};

std::string Binary(const std::string& a, const std::string& b, void (*operation)()) {
    Vrn$DPushCString(a.c_str());
    Vrn$DPushCString(b.c_str());
    operation();
    return PopDecimalText();
}

std::vector<JudgeCase> MakeCases() {
    CaseMaker maker(20261208);
    std::vector<JudgeCase> cases;
    struct {
        const char* name;
        void (*operation)();
        int count;
    } const binaries[] = {{"add", Vrn$DecAdd, 600},
                          {"sub", Vrn$DecSub, 500},
                          {"mul", Vrn$DecMul, 700},
                          {"div", Vrn$DecDivide, 800}};
    for (const auto& binary : binaries) {
        for (int i = 0; i < binary.count; ++i) {
            std::string a = maker.Number();
            std::string b = maker.Chance(3) ? "0" : maker.Number();
            auto operation = binary.operation;
            cases.push_back({std::string(binary.name) + "\t" + a + "\t" + b,
                             [a, b, operation] { return Binary(a, b, operation); }});
        }
    }
    // The same operations on operands pushed from variables (and now and then a LONG), as compiled
    // statements push them: the packed and compact forms of the decimal stack.
    struct {
        const char* name;
        void (*operation)();
    } const operations[] = {{"add", Vrn$DecAdd},
                            {"sub", Vrn$DecSub},
                            {"mul", Vrn$DecMul},
                            {"div", Vrn$DecDivide},
                            {"round", Vrn$DRound}};
    for (int i = 0; i < 2500; ++i) {
        const auto& operation = operations[i < 1600 ? i % 2 : maker.Uniform(0, 4)];
        uint32_t size = maker.VariableSize();
        uint32_t places = maker.VariablePlaces(size);
        CaseMaker::Variable a = maker.MakeVariable(size, places);
        uint32_t size_b = maker.Chance(70) ? size : maker.VariableSize();
        CaseMaker::Variable b = maker.MakeVariable(size_b, maker.Chance(80) ? std::min(places, 2 * size_b + 1)
                                                                            : maker.VariablePlaces(size_b));
        int32_t long_b = maker.Uniform(-99999, 99999);
        bool b_is_long = maker.Chance(10);
        std::string b_text = b_is_long ? std::to_string(long_b) : b.text;
        auto push_operands = [a, b, b_is_long, long_b] {
            PushVariable(a);
            if (b_is_long) {
                Vrn$DPushLong(long_b);
            } else {
                PushVariable(b);
            }
        };
        auto run = operation.operation;
        if (maker.Chance(50)) {
            cases.push_back(
                {std::string(operation.name) + "\t" + a.text + "\t" + b_text, [push_operands, run] {
                     push_operands();
                     run();
                     return PopDecimalText();
                 }});
            continue;
        }
        // The result stored into a variable: same shape as the first operand, or another.
        uint32_t size_x = maker.Chance(60) ? size : maker.VariableSize();
        uint32_t places_x = maker.Chance(60) ? places : maker.VariablePlaces(size_x);
        int n = 2 * static_cast<int>(size_x) - 1;
        cases.push_back({"oppop\t" + std::string(operation.name) + "\t" + a.text + "\t" + b_text + "\t" +
                             std::to_string(n) + "\t" + std::to_string(places_x),
                         [push_operands, run, size_x, places_x] {
                             std::vector<uint8_t> decimal(size_x), pdecimal(size_x);
                             push_operands();
                             run();
                             Vrn$DPopDec(decimal.data(), size_x, places_x);
                             push_operands();
                             run();
                             Vrn$DPopPdec(pdecimal.data(), size_x, places_x);
                             return Hex(decimal) + " " + Hex(pdecimal);
                         }});
    }
    for (int i = 0; i < 400; ++i) {
        uint32_t size = maker.VariableSize();
        uint32_t places = maker.VariablePlaces(size);
        CaseMaker::Variable a = maker.MakeVariable(size, places);
        CaseMaker::Variable b = maker.MakeVariable(maker.Chance(80) ? size : maker.VariableSize(),
                                                   maker.Chance(80) ? places : maker.VariablePlaces(size));
        cases.push_back({"cmp\t" + a.text + "\t" + b.text, [a, b] {
                             PushVariable(a);
                             PushVariable(b);
                             return std::to_string(Vrn$DecDistinct());
                         }});
    }
    for (int i = 0; i < 600; ++i) {
        // A variable copied into another: x = a.
        uint32_t size = maker.VariableSize();
        CaseMaker::Variable a = maker.MakeVariable(size, maker.VariablePlaces(size));
        uint32_t size_x = maker.Chance(50) ? size : maker.VariableSize();
        uint32_t places_x = maker.Chance(50) ? a.places : maker.VariablePlaces(size_x);
        cases.push_back(
            {"pop\t" + a.text + "\t" + std::to_string(2 * size_x - 1) + "\t" + std::to_string(places_x),
             [a, size_x, places_x] {
                 std::vector<uint8_t> decimal(size_x), pdecimal(size_x);
                 PushVariable(a);
                 Vrn$DPopDec(decimal.data(), size_x, places_x);
                 PushVariable(a);
                 Vrn$DPopPdec(pdecimal.data(), size_x, places_x);
                 return Hex(decimal) + " " + Hex(pdecimal);
             }});
    }
    for (int i = 0; i < 400; ++i) {
        std::string a = maker.Number();
        std::string step = maker.Step();
        cases.push_back({"round\t" + a + "\t" + step, [a, step] { return Binary(a, step, Vrn$DRound); }});
    }
    for (int i = 0; i < 600; ++i) {
        std::string a = maker.Number();
        int n = maker.Uniform(1, 31);
        int p = maker.Uniform(0, n);
        cases.push_back({"pop\t" + a + "\t" + std::to_string(n) + "\t" + std::to_string(p), [a, n, p] {
                             uint32_t size = static_cast<uint32_t>(n / 2 + 1);
                             std::vector<uint8_t> decimal(size), pdecimal(size);
                             Vrn$DPushCString(a.c_str());
                             Vrn$DPopDec(decimal.data(), size, static_cast<uint32_t>(p));
                             Vrn$DPushCString(a.c_str());
                             Vrn$DPopPdec(pdecimal.data(), size, static_cast<uint32_t>(p));
                             return Hex(decimal) + " " + Hex(pdecimal);
                         }});
    }
    for (int i = 0; i < 400; ++i) {
        std::string text = maker.Text();
        cases.push_back({"text\t" + text, [text] {
                             Vrn$DPushStringP(text.data(), static_cast<uint32_t>(text.size()));
                             return PopDecimalText();
                         }});
    }
    for (int i = 0; i < 400; ++i) {
        double real = maker.Real();
        cases.push_back({"real\t" + BitsOf(real), [real] {
                             Vrn$DPushReal(real);
                             return PopDecimalText();
                         }});
    }
    for (int i = 0; i < 200; ++i) {
        std::string a = maker.Number();
        cases.push_back({"long\t" + a, [a] {
                             Vrn$DPushCString(a.c_str());
                             return std::to_string(Vrn$DPopLong());
                         }});
    }
    return cases;
}

TEST(DecimalJudgeTest, AgreesWithPythonDecimal) {
    if (std::system("python3 -c 'import decimal' > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3 with its decimal module is needed for this test";
    }
    const fs::path script = fs::path(__FILE__).parent_path() / "decimal_judge.py";
    ASSERT_TRUE(fs::exists(script)) << script;
    std::vector<JudgeCase> cases = MakeCases();

    std::random_device entropy;
    const fs::path folder = fs::temp_directory_path() / ("decimal-judge-" + std::to_string(entropy()));
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_all);
    const fs::path input = folder / "cases.txt";
    const fs::path output = folder / "expected.txt";
    {
        std::ofstream out(input);
        fs::permissions(input, fs::perms::owner_read | fs::perms::owner_write);
        for (const JudgeCase& c : cases) {
            out << c.line << '\n';
        }
    }
    std::string command =
        "python3 '" + script.string() + "' '" + input.string() + "' '" + output.string() + "'";
    int status = std::system(command.c_str());
    std::vector<std::string> expected;
    {
        std::ifstream in(output);
        for (std::string line; std::getline(in, line);) {
            expected.push_back(line);
        }
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    ASSERT_EQ(status, 0) << command;
    ASSERT_EQ(expected.size(), cases.size());

    int mismatches = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        std::string actual = cases[i].actual();
        if (actual != expected[i]) {
            if (++mismatches <= 25) {
                ADD_FAILURE() << "case " << i << ": " << cases[i].line << "\n  expected " << expected[i]
                              << "\n  actual   " << actual;
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << cases.size() << " cases";
    EXPECT_EQ(Vrw$DStackDepth(), 0u);
}

} // namespace
