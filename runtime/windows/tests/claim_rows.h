// SPDX-License-Identifier: GPL-3.0-or-later
// The rows of the browse the window tests share (P1$BROWSE of controls_windows.dsc): a claim's
// date, who signed it and its balance. Row i is dated 1/(i % 28 + 1)/2024, signed "Signer i" and
// owes i.05.
#pragma once

#include <string>

#include "tarvex/dates.h"
#include "tarvex/decimal.h"
#include "tarvex/queue.hpp"
#include "tarvex/string_stack.h"
#include "tarvex/type_descriptor.h"

namespace {

#define CLAIM_ROW_FIELDS(FIELD)       \
    FIELD(DATE, DATE)                 \
    FIELD(SIGNEDBY, STRING(32))       \
    FIELD(BALANCE, DECIMAL(11, 2))
TARVEX_RECORD(ClaimRow, "CLM", CLAIM_ROW_FIELDS)

// Adds rows 1 to `count` to the queue.
[[maybe_unused]] void AddClaimRows(tarvex::Queue<ClaimRow>& rows, int count) {
    for (int i = 1; i <= count; i++) {
        rows->DATE = Vrn$DATE(1, i % 28 + 1, 2024);
        std::string name = "Signer " + std::to_string(i);
        Vrn$storestr(reinterpret_cast<char*>(&rows->SIGNEDBY), sizeof rows->SIGNEDBY, name.c_str(),
                     int32_t(name.size()));
        Vrn$DPushCString((std::to_string(i) + ".05").c_str());
        Vrn$DPopDec(&rows->BALANCE, sizeof rows->BALANCE, 2);
        rows.Add();
    }
}

}  // namespace
