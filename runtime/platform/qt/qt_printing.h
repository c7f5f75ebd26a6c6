// SPDX-License-Identifier: GPL-3.0-or-later
// The report engine's print service on Qt: jobs that play page files one by one into a printer of
// the system's print queues (CUPS) or into a PDF, and the service that chooses between them. The
// default printer is the system's default destination; with no printer at all, or when the
// settings name an output file, the pages become a PDF whose path the job reports (by default in
// the user's documents folder), so a job never vanishes.
#pragma once

#include <memory>
#include <string>

#include "report/printer.h"

namespace tarvex::platform::qt {

// A job into a PDF at `path`. Both jobs need a QGuiApplication and make one (on the offscreen
// platform when there is no display) if none exists.
std::unique_ptr<report::PrintJob> StartPdfJob(const std::string& path);
// A job on the named system printer (empty: the default one); null when it cannot be opened.
std::unique_ptr<report::PrintJob> StartPrinterJob(const std::string& printer, const std::string& job, int copies);

// The service; installing it is the toolkit side's business (report::SetPrinting). It needs a
// QGuiApplication, and makes one (on the offscreen platform when there is no display) if none
// exists. With `person_chooses` its print dialog is Qt's, shown on the thread of Qt's widgets when
// there are any; otherwise (a scripted run, a program without widgets) it is the headless
// service's question.
std::unique_ptr<report::PrintService> MakeQtPrinting(bool person_chooses = false);

// Where a PDF of a job goes when no file was chosen: the documents folder ($XDG_DOCUMENTS_DIR,
// else ~/Documents), named after the job and numbered so that no earlier one is replaced.
std::string DefaultPdfPath(const std::string& job);

} // namespace tarvex::platform::qt
