/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Printing reports. A report is declared with Vrn$propen and opened with Vrn$OPENwindow (the
 * printer is set up then: run-time error 524 when it cannot be had, 525 when the report is open).
 * The program prints a DETAIL band per record by its field number; the runtime adds the FORM,
 * HEADER and FOOTER bands of each page, the break groups' headers and footers, and breaks pages.
 * Pages go to the printer, or with preview on (a queue bound to property 0x7C53) each page becomes
 * a page file whose name is added to the queue; setting 0x7C54 to 1 prints those pages. Closing the
 * report (Vrn$CLOSEwindow, Vrn$freewindow) ends the last page and deletes the temporary page files.
 *
 *     Vrn$propen(&report, "LUMAREX$cms1", "P1$REPORT", &name, &fee, ..., (void*)0);
 *     Vrn$OPENwindow(report);
 *     for each record: Vrn$PRINTreport(report, 15);
 *     Vrn$ENDPAGE(report, 0);
 */
#ifndef TARVEX_REPORTS_H
#define TARVEX_REPORTS_H

#include "tarvex/export.h"
#include "tarvex/windows.h"

TARVEX_BEGIN_C

/* Prints the DETAIL band with that field number; any other number prints nothing. Run-time error
 * 538 when the object is not a report. Nothing is done for a report that is not open or whose job
 * was cancelled. */
TARVEX_API void Vrn$PRINTreport(VrnWindowObject* report, int32_t field_number);
/* Ends the current page; flag 0 first closes the open break groups (their footers print). Run-time
 * error 539 when the object is not a report. */
TARVEX_API void Vrn$ENDPAGE(VrnWindowObject* report, int32_t flag);
/* The print dialog, titled by the string popped from the string stack (at most 80 characters;
 * empty: the system's title). The chosen settings serve the reports opened afterwards. Returns 1
 * when the user chose to print, 0 when cancelled. */
TARVEX_API int32_t Vrn$PRINTERDIALOG(int32_t flag);

TARVEX_END_C

#endif
