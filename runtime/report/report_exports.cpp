// SPDX-License-Identifier: GPL-3.0-or-later
// The exported report statements.
#include "core/string_stack.h"
#include "report/printer.h"
#include "report/report_engine.h"
#include "tarvex/frame.h"
#include "tarvex/reports.h"
#include "windows/window_object.h"

using namespace tarvex::report;

TARVEX_API void Vrn$PRINTreport(VrnWindowObject* report, int32_t field_number) {
    if (report == nullptr || !report->IsReport()) {
        Vrn$rterr(538, nullptr);
        return;
    }
    PrintBand(*report, field_number);
}

TARVEX_API void Vrn$ENDPAGE(VrnWindowObject* report, int32_t flag) {
    if (report == nullptr || !report->IsReport()) {
        Vrn$rterr(539, nullptr);
        return;
    }
    EndPage(*report, flag);
}

TARVEX_API int32_t Vrn$PRINTERDIALOG(int32_t flag) {
    std::string title = tarvex::PopStdString();
    title.erase(title.find_last_not_of(' ') + 1);
    if (title.size() > 80)
        title.resize(80);
    return PrinterDialog(title, uint32_t(flag)) ? 1 : 0;
}
