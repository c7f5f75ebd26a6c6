// SPDX-License-Identifier: GPL-3.0-or-later
// Printers as the report engine sees them: the printer settings a job is printed with (the
// device-mode block), what a printer tells of itself (its resolution, page size and printable
// offsets), and the seam through which pages reach paper.
//
// `PrintService` is that seam. The runtime's own service is headless: its printer comes from the
// settings ($TARVEX_PRINTER names it; 600 dots per inch, the paper the settings give, no printable
// offset) and a job writes its pages as page files into a folder that it reports ($TARVEX_PRINT_FOLDER,
// else "PRINTED" under the system's temporary folder), so nothing printed is ever silently lost.
// Its print dialog is a message box of the platform's message interface (answered by a script or
// test, recorded in the transcript). The toolkit side installs a service that prints through the
// system's print queues and writes a PDF when there is no printer at all.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "tarvex/export.h"

namespace tarvex::report {

// Paper size codes of the settings.
constexpr uint16_t kPaperLetter = 1;
constexpr uint16_t kPaperLegal = 5;
constexpr uint16_t kPaperA4 = 9;
constexpr uint16_t kPaperCustom = 256;

// The printer settings (device-mode block). Paper sizes are in tenths of a millimetre.
struct PrinterSettings {
    std::string device;           // the printer's name; empty: the system's default printer
    std::string output_file;      // print to this file (a PDF) instead of a printer; empty: none
    uint16_t paper = kPaperLetter;
    uint16_t paper_width = 0;     // custom paper only
    uint16_t paper_length = 0;
    uint16_t orientation = 1;     // 1 portrait, 2 landscape
    uint16_t copies = 1;
    std::string note;             // a text kept with the settings
    bool note_set = false;        // a non-empty note was given: the next opening takes it up
};

// The paper's width and length in tenths of a millimetre for the settings (orientation applied);
// zeros for a code the table does not know.
TARVEX_API void PaperSize(const PrinterSettings& settings, int32_t* width, int32_t* length);

// What a printer tells of itself for the settings it was opened with.
struct PrinterDevice {
    std::string name;
    int32_t dpi_x = 600;
    int32_t dpi_y = 600;
    int32_t width = 0;            // the printable area, in dots
    int32_t height = 0;
    int32_t offset_x = 0;         // where the printable area starts on the sheet, in dots
    int32_t offset_y = 0;
};

// One print job: pages go in one by one as page files (placeable metafiles), so a job of any
// length never holds more than one page.
class PrintJob {
public:
    virtual ~PrintJob() = default;
    // 0, 523 for a page that cannot be played (the job is then abandoned), 524 when the printer
    // fails.
    virtual int32_t AddPage(std::span<const uint8_t> page) = 0;
    // Ends the job: 0 or an error as above. `output` receives where the pages went when they went
    // to a file or folder rather than a printer (empty otherwise).
    virtual int32_t Finish(std::string* output) = 0;
    // Abandons the job: nothing more is printed.
    virtual void Cancel() = 0;
};

class PrintService {
public:
    virtual ~PrintService() = default;
    // The printer for the settings; false when it cannot be had.
    virtual bool Open(const PrinterSettings& settings, PrinterDevice* device) = 0;
    // A job named `job`; null with `error` set (524) when it cannot start.
    virtual std::unique_ptr<PrintJob> StartJob(const PrinterSettings& settings, std::string_view job,
                                               int32_t* error) = 0;
    // The print dialog: false when the user cancels; `settings` holds the choice otherwise.
    virtual bool Dialog(std::string_view title, uint32_t flags, PrinterSettings& settings) = 0;
};

// The service in use (headless unless another was installed); installing returns the previous one.
TARVEX_API PrintService& Printing();
TARVEX_API std::unique_ptr<PrintService> SetPrinting(std::unique_ptr<PrintService> service);

// The runtime's own headless service (see the top of this file).
TARVEX_API std::unique_ptr<PrintService> MakeHeadlessPrinting();

// The print dialog of the service in use over the stored settings, which keep the choice: false
// when the user cancels (nothing changes). An empty title is the dialog's own.
TARVEX_API bool PrinterDialog(std::string_view title, uint32_t flags);

// The settings that reports opened from now on start from (the print dialog's choice, the printer
// object's properties), and the printer object's properties on them.
TARVEX_API PrinterSettings StoredPrinterSettings();
TARVEX_API void StorePrinterSettings(const PrinterSettings& settings);

// Printer properties (on the printer object and on a report's own settings).
constexpr int32_t kPropPaper = 0x7B01;        // paper size code
constexpr int32_t kPropPaperWidth = 0x7B02;   // tenths of a millimetre
constexpr int32_t kPropPaperLength = 0x7B03;
constexpr int32_t kPropOrientation = 0x7B04;  // 1 portrait, 2 landscape
constexpr int32_t kPropCopies = 0x7B05;
constexpr int32_t kPropDevice = 0x7B06;       // the printer's name
constexpr int32_t kPropNote = 0x7B21;

// A property's text as a whole number (blanks around it allowed); false when it is not one.
bool WholeNumber(std::string_view text, int64_t* value);

// Sets a printer property from its text; false when the number is not a printer property.
bool SetPrinterProperty(PrinterSettings& settings, int32_t property, std::string_view value);
// The property's text; false when the number is not a printer property.
bool GetPrinterProperty(const PrinterSettings& settings, int32_t property, std::string* value);

// The printer object (property target -1): its properties are those of the stored settings.
bool SetPrinterObjectProperty(int32_t property, std::string_view value);
bool GetPrinterObjectProperty(int32_t property, std::string* value);

} // namespace tarvex::report
