// SPDX-License-Identifier: GPL-3.0-or-later
// The report engine: a report object's printing life after the loader has built its bands.
//
// Opening sets up the printer (the stored settings or the default printer, the paper cell applied)
// and the unit scale; `Vrn$PRINTreport` prints DETAIL bands with their break groups and computed
// totals; pages are laid out top to bottom (across when bands fit side by side) with FORM, HEADER
// and FOOTER on each; each finished page goes to the printer or, with preview on, into a page file
// whose name is added to the bound queue. Closing ends the last page, ends the document and
// deletes the temporary page files.
//
// The engine keeps its state beside the window object; the windows layer calls the hooks below
// (opening after the bands are built, closing and freeing), and the property statements hand
// report targets to the property functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/printer.h"
#include "tarvex/queue.h"

struct VrnWindowObject;

namespace tarvex::report {

// Report properties.
constexpr int32_t kPropPreviewQueue = 0x7C53;
constexpr int32_t kPropPreview = 0x7C54;
constexpr int32_t kPropJobName = 0x7C00;
constexpr int32_t kPropPageNumber = 0x7A42;
constexpr int32_t kPropPageNameProvider = 0x7A0C;

// Computed values of report STRINGs: the low bits name the function, 0x10 restarts the value on
// each new page.
constexpr uint8_t kComputeSum = 1;
constexpr uint8_t kComputeCount = 2;
constexpr uint8_t kComputeAverage = 3;
constexpr uint8_t kComputeMinimum = 4;
constexpr uint8_t kComputeMaximum = 5;
constexpr uint8_t kComputePageNumber = 6;
constexpr uint8_t kComputeFunctionMask = 0x0F;
constexpr uint8_t kComputePageReset = 0x10;

// Called with the page number; pushes the page file's name on the string stack.
using PageNameProvider = void (*)(int32_t page);

// Opens a report whose bands the loader has built: printer, paper, units, page 1. False (with
// run-time error 524) when the printer cannot be had.
bool OpenReport(VrnWindowObject& report);
// Finishes the job (the pending page ended, the document ended, temporary page files deleted) and
// forgets the engine's state. Nothing happens for a report that is not open.
void CloseReport(VrnWindowObject& report);

// Prints the DETAIL band with that field number (any other number prints nothing).
void PrintBand(VrnWindowObject& report, int32_t field_number);
// Ends the current page; `keep_groups` 0 first closes the open break groups (their footers print).
void EndPage(VrnWindowObject& report, int32_t keep_groups);

// Report properties as texts: false when the number is not one the report answers.
bool SetReportProperty(VrnWindowObject& report, int32_t property, std::string_view value);
bool GetReportProperty(VrnWindowObject& report, int32_t property, std::string* value);
// 0x7C53: binds the queue whose buffer holds `field` (a STRING, CSTRING or PSTRING of `size`
// bytes; null: the queue record's first field): preview on, every finished page's file name is
// stored there and added to the queue. A report declared with one more address than its bands
// bind has that address as its preview queue, and opens with preview on.
void BindPreviewQueue(VrnWindowObject& report, QueueDecl* queue, void* field, uint8_t type, uint32_t size);
// 0x7C53 given a variable (`Vrn$SetPropF`): the field of the report's preview queue that receives
// the names. A field outside that queue's record (or with no queue known) still turns preview on
// and receives each name, but no queue collects them.
void BindPreviewField(VrnWindowObject& report, void* field, uint8_t type, uint32_t size);
// 0x7A0C given as a function rather than its address in text.
void SetPageNameProvider(VrnWindowObject& report, PageNameProvider provider);

// What the tests and the preview read of an open report.
struct ReportState {
    bool open = false;
    bool preview = false;
    bool cancelled = false;
    int32_t page = 0;                       // the current page number
    int32_t pages_finished = 0;             // pages ended so far in this job
    std::string job;
    PrinterDevice device;
    PrinterSettings settings;
    std::vector<std::string> page_files;    // recorded so far, in order
    std::string output;                     // where the last printed job went (a file or folder)
};
ReportState StateOf(VrnWindowObject& report);
// Where the pages of the report closed last went when they went to a file or folder (empty when
// they went to a printer or were not printed).
std::string LastJobOutput();
// Abandons the job: later PRINT and ENDPAGE calls are ignored, nothing more reaches the printer.
void CancelReport(VrnWindowObject& report);

} // namespace tarvex::report
