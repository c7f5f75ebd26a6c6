// SPDX-License-Identifier: GPL-3.0-or-later
// Printer settings, the stored settings reports start from, the printer properties, and the
// runtime's own headless print service.
#include "report/printer.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "tarvex/frame.h"

namespace tarvex::report {

namespace {

struct PaperEntry {
    uint16_t code;
    int32_t width;   // tenths of a millimetre
    int32_t length;
};

constexpr PaperEntry kPapers[] = {
    {kPaperLetter, 2159, 2794},
    {5 /* Legal */, 2159, 3556},
    {kPaperA4, 2100, 2970},
    {11 /* A5 */, 1480, 2100},
    {7 /* Executive */, 1842, 2667},
};

std::mutex stored_mutex;
PrinterSettings& Stored() {
    static auto* settings = new PrinterSettings;
    return *settings;
}

std::mutex service_mutex;
std::unique_ptr<PrintService>& Service() {
    static auto* service = new std::unique_ptr<PrintService>(MakeHeadlessPrinting());
    return *service;
}

// The headless printer: a job's pages become page files in a folder.
class FolderJob final : public PrintJob {
public:
    FolderJob(std::string folder, std::string job) : folder_(std::move(folder)), job_(std::move(job)) {}
    int32_t AddPage(std::span<const uint8_t> page) override {
        if (cancelled_)
            return 0;
        std::string name = folder_ + "/" + job_ + "-" + std::to_string(written_.size() + 1) + ".wmf";
        if (!platform::WriteFileAtomically(name, std::string_view(reinterpret_cast<const char*>(page.data()), page.size())))
            return 524;
        written_.push_back(name);
        return 0;
    }
    int32_t Finish(std::string* output) override {
        if (output != nullptr)
            *output = cancelled_ ? std::string() : folder_;
        return 0;
    }
    // A cancelled job is taken back whole, as a print queue drops a cancelled job.
    void Cancel() override {
        cancelled_ = true;
        for (const std::string& name : written_)
            platform::RemoveFile(name);
        written_.clear();
    }

private:
    std::string folder_;
    std::string job_;
    std::vector<std::string> written_;
    bool cancelled_ = false;
};

class HeadlessPrinting final : public PrintService {
public:
    bool Open(const PrinterSettings& settings, PrinterDevice* device) override {
        int32_t width = 0, length = 0;
        PaperSize(settings, &width, &length);
        if (width <= 0 || length <= 0)
            return false;
        const char* named = std::getenv("TARVEX_PRINTER");
        device->name = !settings.device.empty() ? settings.device : (named != nullptr ? named : "Headless");
        device->dpi_x = device->dpi_y = 600;
        device->width = int32_t((int64_t(width) * 600 + 127) / 254);
        device->height = int32_t((int64_t(length) * 600 + 127) / 254);
        device->offset_x = device->offset_y = 0;
        return true;
    }

    std::unique_ptr<PrintJob> StartJob(const PrinterSettings&, std::string_view job, int32_t* error) override {
        const char* named = std::getenv("TARVEX_PRINT_FOLDER");
        std::string folder = named != nullptr && *named != '\0'
                                 ? std::string(named)
                                 : (std::filesystem::temp_directory_path() / "PRINTED").string();
        if (platform::MakeFolders(folder) != 0) {
            *error = 524;
            return nullptr;
        }
        std::string safe;
        for (char c : job)
            safe += (std::isalnum(static_cast<unsigned char>(c)) != 0) ? c : '_';
        if (safe.empty())
            safe = "Report";
        // Each job gets names of its own: the job name and a number not yet used in the folder.
        for (int n = 1;; n++) {
            std::string stem = safe + "-" + std::to_string(n);
            if (!platform::FileExists(folder + "/" + stem + "-1.wmf"))
                return std::make_unique<FolderJob>(folder, stem);
        }
    }

    bool Dialog(std::string_view title, uint32_t, PrinterSettings& settings) override {
        PrinterDevice device;
        Open(settings, &device);
        platform::MessageRequest request;
        request.caption = title.empty() ? "Print" : std::string(title);
        request.text = "Printer: " + device.name;
        request.buttons = VRN_BUTTON_OK | VRN_BUTTON_CANCEL;
        request.default_button = VRN_BUTTON_OK;
        return platform::Messages().Show(request) == VRN_BUTTON_OK;
    }
};

} // namespace

bool WholeNumber(std::string_view text, int64_t* value) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

void PaperSize(const PrinterSettings& settings, int32_t* width, int32_t* length) {
    *width = *length = 0;
    if (settings.paper == kPaperCustom) {
        *width = settings.paper_width;
        *length = settings.paper_length;
    } else {
        for (const PaperEntry& entry : kPapers)
            if (entry.code == settings.paper) {
                *width = entry.width;
                *length = entry.length;
            }
    }
    if (settings.orientation == 2)
        std::swap(*width, *length);
}

PrintService& Printing() {
    std::lock_guard lock(service_mutex);
    return *Service();
}

std::unique_ptr<PrintService> SetPrinting(std::unique_ptr<PrintService> service) {
    std::lock_guard lock(service_mutex);
    if (!service)
        service = MakeHeadlessPrinting();
    std::swap(Service(), service);
    return service;
}

std::unique_ptr<PrintService> MakeHeadlessPrinting() {
    return std::make_unique<HeadlessPrinting>();
}

bool PrinterDialog(std::string_view title, uint32_t flags) {
    PrinterSettings settings = StoredPrinterSettings();
    if (!Printing().Dialog(title, flags, settings))
        return false;
    StorePrinterSettings(settings);
    return true;
}

PrinterSettings StoredPrinterSettings() {
    std::lock_guard lock(stored_mutex);
    return Stored();
}

void StorePrinterSettings(const PrinterSettings& settings) {
    std::lock_guard lock(stored_mutex);
    Stored() = settings;
}

bool SetPrinterProperty(PrinterSettings& settings, int32_t property, std::string_view value) {
    int64_t number = 0;
    bool numeric = WholeNumber(value, &number);
    auto word = [&](uint16_t& field, int64_t low, int64_t high) {
        if (numeric && number >= low && number <= high)
            field = uint16_t(number);
    };
    switch (property) {
    case kPropPaper: word(settings.paper, 1, kPaperCustom); return true;
    case kPropPaperWidth: word(settings.paper_width, 1, 0xFFFF); return true;
    case kPropPaperLength: word(settings.paper_length, 1, 0xFFFF); return true;
    case kPropOrientation: word(settings.orientation, 1, 2); return true;
    case kPropCopies: word(settings.copies, 1, 999); return true;
    case kPropDevice: settings.device = std::string(value.substr(0, value.find_last_not_of(' ') + 1)); return true;
    case kPropNote:
        settings.note = std::string(value);
        settings.note_set = value.find_first_not_of(' ') != std::string_view::npos;
        return true;
    default: return false;
    }
}

bool GetPrinterProperty(const PrinterSettings& settings, int32_t property, std::string* value) {
    switch (property) {
    case kPropPaper: *value = std::to_string(settings.paper); return true;
    case kPropPaperWidth: *value = std::to_string(settings.paper_width); return true;
    case kPropPaperLength: *value = std::to_string(settings.paper_length); return true;
    case kPropOrientation: *value = std::to_string(settings.orientation); return true;
    case kPropCopies: *value = std::to_string(settings.copies); return true;
    case kPropDevice: *value = settings.device; return true;
    case kPropNote: *value = settings.note; return true;
    default: return false;
    }
}

bool SetPrinterObjectProperty(int32_t property, std::string_view value) {
    std::lock_guard lock(stored_mutex);
    return SetPrinterProperty(Stored(), property, value);
}

bool GetPrinterObjectProperty(int32_t property, std::string* value) {
    std::lock_guard lock(stored_mutex);
    return GetPrinterProperty(Stored(), property, value);
}

} // namespace tarvex::report
