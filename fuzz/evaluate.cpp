// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the expression evaluator: the input is parsed as a whole (Vrn$ParseCString), as a list
// of items (Vrn$ParseCStringR, as ORDER texts are read) and through Vrn$Evaluate, against a small
// scope holding one variable of each common storage type, an array, a group and a procedure. Every
// tree is evaluated as text and as truth, rendered as SQL and freed. Both value stacks must be
// exactly as deep afterwards as before: a leaked or missing entry traps.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "tarvex/decimal.h"
#include "tarvex/evaluate.h"
#include "tarvex/string_stack.h"
#include "tarvex/type_descriptor.h"
#include "tarvex/values.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

#define FUZZ_RECORD_FIELDS(FIELD) \
    FIELD(NUM, DECIMAL(7, 0))     \
    FIELD(NAME, STRING(12))       \
    FIELD(CODE, CSTRING(6))       \
    FIELD(AMOUNT, DECIMAL(9, 2))  \
    FIELD(COUNT, LONG)            \
    FIELD(RATE, REAL)
TARVEX_RECORD(FuzzRecord, "REC", FUZZ_RECORD_FIELDS)

FuzzRecord record;
int32_t numbers[4] = {1, -2, 300, 0};
unsigned char short_name[6] = {3, 'a', 'b', 'c'};

int32_t Twice() { return Vrn$PopLong() * 2; }

const char* Column(void*, const char* name) { return std::strncmp(name, "REC:", 4) == 0 ? name + 4 : nullptr; }

void BindScope() {
    Vrn$DPushCString("1042");
    Vrn$DPopDec(&record.NUM, sizeof record.NUM, 0);
    Vrn$storestr(reinterpret_cast<char*>(&record.NAME), sizeof record.NAME, "SMITH", 5);
    Vrn$storecstr(reinterpret_cast<char*>(&record.CODE), sizeof record.CODE, "00004", 5);
    Vrn$DPushCString("-12.50");
    Vrn$DPopDec(&record.AMOUNT, sizeof record.AMOUNT, 2);
    record.COUNT = 7;
    record.RATE = 0.25;
    Vrn$PushBind2(0);
    Vrn$BindG(Vrn$Group2Ufo(&record, &FuzzRecord::Type()));
    Vrn$PushCString("ARR");
    Vrn$BindV(Vrn$ArrayOfUfo(Vrn$Mem2Ufo(numbers, VRN_TYPE_LONG, 0, 4, 0), 4));
    Vrn$PushCString("GRP");
    Vrn$BindV(Vrn$Group2Ufo(&record, &FuzzRecord::Type()));
    Vrn$PushCString("P$");
    Vrn$BindV(Vrn$Mem2Ufo(short_name, VRN_TYPE_PSTRING, 0, sizeof short_name, 0));
    Vrn$PushCString("TWICE");
    Vrn$BindP(reinterpret_cast<void*>(&Twice), 1, VRN_TYPE_LONG);
}

void Exercise(VrnParsed* tree) {
    Vrn$EvalS(tree);
    Vrn$STACKpop();
    Vrn$EvaluateParsed(tree);
    Vrn$STACKpop();
    (void)Vrn$EvalR(tree);
    VrnSqlOutput output{&Column, nullptr, nullptr, 0};
    int32_t annotated = Vrn$AnnotateParsed(&tree, &output);
    int32_t printed = Vrn$PrintSQL(tree, &output);
    Check(annotated == printed);
    Check((printed == VRN_SQL_NONE) == (output.text == nullptr));
    Vrn$PrintSQLOrder(tree, &output);
    Vrn$FreeSQL(&output);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool bound = (BindScope(), true);
    (void)bound;
    std::string text(reinterpret_cast<const char*>(data), size);
    uint32_t depth = Vrw$StackDepth();
    uint32_t decimal_depth = Vrw$DStackDepth();

    if (VrnParsed* tree = Vrn$ParseCString(text.c_str())) {
        Exercise(tree);
        Vrn$FreeParsed(tree);
    }
    const char* rest = text.c_str();
    for (int items = 0; items < 16 && *rest; items++) {
        const char* before = rest;
        VrnParsed* tree = Vrn$ParseCStringR(&rest);
        if (!tree) break;
        Check(rest > before && rest <= text.c_str() + std::strlen(text.c_str()));
        Exercise(tree);
        Vrn$FreeParsed(tree);
        if (*rest == ',') rest++;
    }
    Vrn$PushString(text.data(), static_cast<uint32_t>(text.size()));
    Vrn$Evaluate();
    Vrn$STACKpop();

    Check(Vrw$StackDepth() == depth);
    Check(Vrw$DStackDepth() == decimal_depth);
    return 0;
}
