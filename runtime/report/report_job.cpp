// SPDX-License-Identifier: GPL-3.0-or-later
// The report engine: bands laid out on pages, pages to page files or to the printer.
//
// Divisions: the job's state; opening; totals; break groups; page layout (start, place, end);
// preview pages and printing them; closing; properties; the hooks.
//
// Order within one PRINT: break groups first (their footers and headers are bands like any
// other), then the band's place (which may end the page: its footer is drawn with the totals as
// they stand, before this band's value is taken in), then the totals the band drives, then the
// band is drawn at its place. So a page's footer totals exactly the lines printed on that page.
//
// Bands kept together: in a report whose bands carry keep flags, each flow band is drawn into a
// metafile of its own and waits while the next band may still take it along; a band that does
// not fit takes the waiting chain linked to it to the next page. The totals are put back as they
// were before the chain, so the ended page's footer does not count what moved, and the moved
// bands' values are taken in again on the new page.
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "core/error_state.h"
#include "core/picture.h"
#include "core/string_stack.h"
#include "platform/platform.h"
#include "report/band_painter.h"
#include "report/bound_values.h"
#include "report/metafile.h"
#include "report/report_engine.h"
#include "tarvex/frame.h"
#include "tarvex/queue.h"
#include "tarvex/string_stack.h"

namespace tarvex::report {

using windows::Axis;
using windows::Band;
using windows::Control;
using windows::Kind;

namespace {

constexpr uint8_t Code(Kind kind) { return static_cast<uint8_t>(kind); }

// A STRING with a computed value.
struct Total {
    Control* control = nullptr;
    const Band* holder = nullptr;         // the band the control is drawn in
    const Band* group = nullptr;          // the band group holding that band, if any
    uint8_t function = 0;
    bool page_reset = false;
    DecimalAccumulator sum = DecimalAccumulator::Zero();
    DecimalAccumulator extreme = DecimalAccumulator::Zero();   // minimum or maximum so far
    int64_t count = 0;
};

struct OpenGroup {
    const Band* group;
    std::string break_value;
};

struct PreviewBinding {
    QueueDecl* queue = nullptr;
    void* field = nullptr;
    uint8_t type = VRN_TYPE_STRING;
    uint32_t size = 0;
};

bool TextType(uint8_t type) {
    return type == VRN_TYPE_STRING || type == VRN_TYPE_CSTRING || type == VRN_TYPE_PSTRING;
}

// A queue named alone receives each name in its record's first field when that is a text, else
// in the whole record as a STRING. Read when the first page is delivered, not before: a report
// opened and closed without pages never touches the queue.
PreviewBinding FirstFieldOf(QueueDecl* queue) {
    PreviewBinding binding{queue, nullptr, VRN_TYPE_STRING, 0};
    const VrnTypeDesc* type = queue != nullptr ? queue->type : nullptr;
    if (type != nullptr && type->field_count > 0 && type->fields != nullptr) {
        const VrnFieldDesc& first = type->fields[0];
        if (TextType(first.type) && first.size > 0 && first.offset + first.size <= queue->record_length) {
            binding.field = static_cast<char*>(queue->buffer) + first.offset;
            binding.type = first.type;
            binding.size = first.size;
        }
    }
    return binding;
}

// What the totals hold at one moment, to put them back.
struct TotalValue {
    DecimalAccumulator sum;
    DecimalAccumulator extreme;
    int64_t count;
};

// A value a band gave one total.
struct Contribution {
    size_t total;
    DecimalAccumulator value;
};

// A flow band placed on the page in progress and drawn into a metafile of its own, waiting while
// the band after it may still take it to the next page.
struct Placement {
    const Band* band = nullptr;
    int32_t width = 0, height = 0;
    int32_t x = 0, y = 0;
    std::string drawing;
    std::vector<TotalValue> totals_before;
    std::vector<Contribution> taken;
};

bool HasKeptBands(const std::vector<std::unique_ptr<Band>>& bands) {
    for (const auto& band : bands)
        if ((band->flags & (windows::kBandKeepWithPrior | windows::kBandKeepWithNext)) != 0 || HasKeptBands(band->bands))
            return true;
    return false;
}

class ReportJob {
public:
    explicit ReportJob(VrnWindowObject& report) : w_(report) {}

    bool Open();
    void Print(int32_t field_number);
    void EndPage(bool close_groups);
    void Close();
    void Cancel();
    bool SetProperty(int32_t property, std::string_view value);
    bool GetProperty(int32_t property, std::string* value);
    void Bind(const PreviewBinding& binding) {
        binding_ = binding;
        preview_ = true;
    }
    void BindField(void* field, uint8_t type, uint32_t size);
    void SetProvider(PageNameProvider provider) { provider_ = provider; }
    ReportState State() const;

private:
    // Bands.
    const Band* FindDetail(const std::vector<std::unique_ptr<Band>>& bands, int32_t field_number,
                           std::vector<const Band*>& path) const;
    const Band* Own(const std::vector<std::unique_ptr<Band>>& bands, uint8_t kind) const;
    void CollectTotals(const std::vector<std::unique_ptr<Band>>& bands, const Band* group);
    std::string TextOf(const Control& control);
    int32_t Dots(int32_t value, Axis axis) const { return windows::ToPixels(value, unit_, axis, scale_); }
    int32_t AtValue(const std::array<int32_t, 4>& at, int index, Axis axis) const {
        return at[size_t(index)] == windows::kNotGiven ? 0 : Dots(at[size_t(index)], axis);
    }

    // Totals.
    std::vector<Contribution> TakeIn(const Band& band);
    void Apply(Total& total, const DecimalAccumulator& value);
    std::vector<TotalValue> SaveTotals() const;
    void RestoreTotals(const std::vector<TotalValue>& values);
    void Reset(Total& total);
    void ResetListed(int32_t field_number);
    DecimalAccumulator ValueOf(const Total& total) const;

    // Groups.
    void CloseGroup();
    void OpenGroupFor(const Band* group);

    // Pages.
    void PrintFlowBand(const Band& band);
    bool Place(int32_t width, int32_t height, int32_t* x, int32_t* y);
    bool Linked(const Band& band) const;
    void CommitWaiting();
    void StartPage(const Band& first);
    void FinishPage();
    void Draw(const Band& band, int32_t x, int32_t y);
    void Draw(Recorder& recorder, const Band& band, int32_t x, int32_t y);
    bool DeliverPage(const std::string& file);
    bool EnsureJob();
    void PrintRecorded();
    std::string PageFileName();

    VrnWindowObject& w_;
    PrinterSettings settings_;
    PrinterDevice device_;
    windows::UnitScale scale_;
    uint32_t unit_ = 0;
    ReportStyles styles_;
    ImageCache images_;
    std::string job_name_;
    int32_t area_x_ = 0, area_y_ = 0, area_width_ = 0, area_height_ = 0;

    std::vector<Total> totals_;
    std::vector<OpenGroup> groups_;       // outermost first

    bool preview_ = false;
    PreviewBinding binding_;
    PageNameProvider provider_ = nullptr;
    std::vector<std::string> page_files_;
    std::vector<std::string> temporary_files_;

    bool cancelled_ = false;
    int32_t page_number_ = 1;
    int32_t pages_finished_ = 0;
    Recorder page_;                       // the page in progress (its memory kept from page to page)
    bool page_open_ = false;
    std::string page_file_;               // the ended page's file, its memory kept likewise
    std::string form_file_;               // the FORM band, drawn once, replayed on every page
    bool form_drawn_ = false;
    int32_t row_top_ = 0, row_x_ = 0, row_height_ = 0;
    bool page_has_bands_ = false;
    bool keeping_ = false;                // some band of the report is kept with another
    std::vector<Placement> waiting_;      // placed, not yet drawn on the page

    std::unique_ptr<PrintJob> job_;
    std::string output_;
};

std::mutex jobs_mutex;
std::map<const VrnWindowObject*, std::unique_ptr<ReportJob>>& Jobs() {
    static auto* jobs = new std::map<const VrnWindowObject*, std::unique_ptr<ReportJob>>;
    return *jobs;
}

std::string& LastOutput() {
    static auto* output = new std::string;
    return *output;
}

ReportJob* JobOf(const VrnWindowObject& report) {
    std::lock_guard lock(jobs_mutex);
    auto found = Jobs().find(&report);
    return found != Jobs().end() ? found->second.get() : nullptr;
}

// ---- Opening ----------------------------------------------------------------------------------

bool ReportJob::Open() {
    settings_ = StoredPrinterSettings();
    PrintService& printing = Printing();
    if (!printing.Open(settings_, &device_)) {
        Vrn$rterr(524, nullptr);
        return false;
    }
    unit_ = w_.flags & windows::kUnitMask;
    // The paper cell: a standard size by its code, or a custom size given in the report's unit.
    if (w_.paper_code >= 1 && w_.paper_code < kPaperCustom) {
        settings_.paper = w_.paper_code;
    } else if (w_.paper_code == kPaperCustom) {
        windows::UnitScale printer{{}, device_.dpi_x, device_.dpi_y, true};
        int64_t width = windows::ToPixels(w_.paper_width, unit_, Axis::Horizontal, printer);
        int64_t length = windows::ToPixels(w_.paper_length, unit_, Axis::Vertical, printer);
        settings_.paper = kPaperCustom;
        settings_.paper_width = uint16_t(std::clamp<int64_t>(width * 254 / device_.dpi_x, 1, 0xFFFF));
        settings_.paper_length = uint16_t(std::clamp<int64_t>(length * 254 / device_.dpi_y, 1, 0xFFFF));
    }
    if (w_.paper_code != 0 && !printing.Open(settings_, &device_)) {
        Vrn$rterr(524, nullptr);
        return false;
    }
    // Page coordinates are 16-bit: a page too large for them at this resolution cannot be recorded.
    if (device_.dpi_x <= 0 || device_.dpi_y <= 0 || device_.width + 2 * device_.offset_x > 32767 ||
        device_.height + 2 * device_.offset_y > 32767) {
        Vrn$rterr(524, nullptr);
        return false;
    }
    scale_ = windows::UnitScale{{}, device_.dpi_x, device_.dpi_y, true};
    styles_.Load(w_, device_.dpi_y);
    // The detail area: the REPORT's AT; what it leaves out is the rest of the page.
    area_x_ = AtValue(w_.at, 0, Axis::Horizontal);
    area_y_ = AtValue(w_.at, 1, Axis::Vertical);
    area_width_ = w_.at[2] == windows::kNotGiven ? device_.width - area_x_ : Dots(w_.at[2], Axis::Horizontal);
    area_height_ = w_.at[3] == windows::kNotGiven ? device_.height - area_y_ : Dots(w_.at[3], Axis::Vertical);
    job_name_ = w_.title;
    page_number_ = 1;
    CollectTotals(w_.bands, nullptr);
    keeping_ = HasKeptBands(w_.bands);
    // A report declared for preview binds its page queue after the addresses its bands took.
    if ((w_.flags & windows::kReportPreview) != 0) {
        if (w_.cursor >= w_.addresses.size()) {
            Vrn$rterr(501, nullptr);
            return false;
        }
        Bind({static_cast<QueueDecl*>(w_.addresses[w_.cursor++]), nullptr, VRN_TYPE_STRING, 0});
    }
    return true;
}

void ReportJob::CollectTotals(const std::vector<std::unique_ptr<Band>>& bands, const Band* group) {
    for (const auto& band : bands) {
        if (band->kind == Code(Kind::BandGroup)) {
            CollectTotals(band->bands, band.get());
            continue;
        }
        for (const auto& control : band->controls) {
            uint8_t function = control->computed & kComputeFunctionMask;
            if (control->kind != Code(Kind::StringVar) || function == 0 || function == kComputePageNumber)
                continue;
            Total total;
            total.control = control.get();
            total.holder = band.get();
            total.group = group;
            total.function = function;
            total.page_reset = (control->computed & kComputePageReset) != 0;
            totals_.push_back(total);
        }
    }
}

// ---- What a STRING shows -----------------------------------------------------------------------

std::string ReportJob::TextOf(const Control& control) {
    uint8_t function = control.computed & kComputeFunctionMask;
    // The page number: asked for, or a STRING bound to nothing.
    if (function == kComputePageNumber || (function == 0 && !control.use.Bound()))
        return FormatDecimal(TextToDecimal(std::to_string(page_number_).c_str(), std::to_string(page_number_).size()),
                             control.picture);
    std::string text;
    for (const Total& total : totals_)
        if (function != 0 && total.control == &control)
            text = FormatDecimal(ValueOf(total), control.picture);
    if (function == 0)
        text = FormatBound(control.use, control.picture);
    // Numbers, dates and times start where their first character does; strings keep their blanks.
    const PicDesc& picture = CachedPicture(control.picture);
    if (picture.Kind() != PictureKind::String && picture.Kind() != PictureKind::KeyIn)
        text.erase(0, std::min(text.find_first_not_of(' '), text.size()));
    return text;
}

// ---- Totals ------------------------------------------------------------------------------------

DecimalAccumulator ReportJob::ValueOf(const Total& total) const {
    switch (total.function) {
    case kComputeCount: {
        std::string count = std::to_string(total.count);
        return TextToDecimal(count.c_str(), count.size());
    }
    case kComputeAverage: {
        if (total.count == 0)
            return {};
        std::string count = std::to_string(total.count);
        return Divide(total.sum, TextToDecimal(count.c_str(), count.size()));
    }
    case kComputeMinimum:
    case kComputeMaximum:
        return total.extreme;
    default:
        return total.sum;
    }
}

void ReportJob::Reset(Total& total) {
    total.sum = {};
    total.extreme = {};
    total.count = 0;
    StoreDecimalInto(total.control->use, ValueOf(total));
}

std::vector<Contribution> ReportJob::TakeIn(const Band& band) {
    std::vector<Contribution> taken;
    for (size_t i = 0; i < totals_.size(); i++) {
        Total& total = totals_[i];
        int32_t driving = total.control->driving_band;
        if (driving != band.field_number && !(driving == 0 && band.kind == Code(Kind::Detail)))
            continue;
        const windows::BoundVariable& source =
            total.control->accumulated.Bound() ? total.control->accumulated : total.control->use;
        DecimalAccumulator value = DecimalOf(source);
        Apply(total, value);
        if (keeping_)
            taken.push_back({i, value});
    }
    return taken;
}

void ReportJob::Apply(Total& total, const DecimalAccumulator& value) {
    total.sum = Add(total.sum, value);
    if (total.count == 0 || (total.function == kComputeMinimum && Compare(value, total.extreme) < 0) ||
        (total.function == kComputeMaximum && Compare(value, total.extreme) > 0))
        total.extreme = value;
    total.count++;
    // The control's own variable holds the total, so other bands can print it.
    StoreDecimalInto(total.control->use, ValueOf(total));
}

std::vector<TotalValue> ReportJob::SaveTotals() const {
    std::vector<TotalValue> values;
    values.reserve(totals_.size());
    for (const Total& total : totals_)
        values.push_back({total.sum, total.extreme, total.count});
    return values;
}

void ReportJob::RestoreTotals(const std::vector<TotalValue>& values) {
    for (size_t i = 0; i < totals_.size() && i < values.size(); i++) {
        totals_[i].sum = values[i].sum;
        totals_[i].extreme = values[i].extreme;
        totals_[i].count = values[i].count;
        StoreDecimalInto(totals_[i].control->use, ValueOf(totals_[i]));
    }
}

void ReportJob::ResetListed(int32_t field_number) {
    if (field_number == 0)
        return;
    for (Total& total : totals_) {
        const auto& listed = total.control->band_references;
        if (std::find(listed.begin(), listed.end(), field_number) != listed.end())
            Reset(total);
    }
}

// ---- Break groups ------------------------------------------------------------------------------

const Band* ReportJob::FindDetail(const std::vector<std::unique_ptr<Band>>& bands, int32_t field_number,
                                  std::vector<const Band*>& path) const {
    for (const auto& band : bands) {
        if (band->kind == Code(Kind::Detail) && band->field_number == field_number)
            return band.get();
        if (band->kind == Code(Kind::BandGroup)) {
            path.push_back(band.get());
            if (const Band* found = FindDetail(band->bands, field_number, path))
                return found;
            path.pop_back();
        }
    }
    return nullptr;
}

const Band* ReportJob::Own(const std::vector<std::unique_ptr<Band>>& bands, uint8_t kind) const {
    for (const auto& band : bands)
        if (band->kind == kind)
            return band.get();
    return nullptr;
}

void ReportJob::CloseGroup() {
    const Band* group = groups_.back().group;
    groups_.pop_back();
    if (const Band* footer = Own(group->bands, Code(Kind::Footer)))
        PrintFlowBand(*footer);
}

void ReportJob::OpenGroupFor(const Band* group) {
    groups_.push_back({group, ValueText(group->break_variable)});
    // A group's totals start again with the group: those listed for it, and those drawn in its
    // own bands that name no other reset.
    for (Total& total : totals_)
        if (total.group == group && total.control->band_references.empty() && !total.page_reset)
            Reset(total);
    ResetListed(group->field_number);
    if (const Band* header = Own(group->bands, Code(Kind::Header)))
        PrintFlowBand(*header);
}

void ReportJob::Print(int32_t field_number) {
    if (cancelled_)
        return;
    std::vector<const Band*> path;
    const Band* band = FindDetail(w_.bands, field_number, path);
    if (band == nullptr)
        return;
    // Groups that do not hold the band close, innermost first.
    size_t common = 0;
    while (common < groups_.size() && common < path.size() && groups_[common].group == path[common])
        common++;
    while (groups_.size() > common)
        CloseGroup();
    // Of those that stay, the outermost whose break value changed closes with everything inside.
    for (size_t i = 0; i < groups_.size(); i++) {
        if (ValueText(groups_[i].group->break_variable) != groups_[i].break_value) {
            while (groups_.size() > i)
                CloseGroup();
            break;
        }
    }
    // The band's groups that are not open open, outermost first.
    for (size_t i = groups_.size(); i < path.size(); i++)
        OpenGroupFor(path[i]);
    PrintFlowBand(*band);
}

// ---- Pages -------------------------------------------------------------------------------------

void ReportJob::Draw(const Band& band, int32_t x, int32_t y) {
    Draw(page_, band, x, y);
}

void ReportJob::Draw(Recorder& recorder, const Band& band, int32_t x, int32_t y) {
    BandPainter painter(recorder, scale_, unit_, styles_, images_, [this](const Control& c) { return TextOf(c); });
    painter.Draw(band, x, y);
}

// Finds the band's place in the detail area: beside the previous band on its row when it fits
// there (in the width left and the height left), else below it. False when it does not fit and
// the page already holds bands: the page must end first.
//
// The waiting bands of the row take its height first: a chain that moves to the next page without
// the row's tallest band still leaves that band's height below it, as on the page it left.
bool ReportJob::Place(int32_t width, int32_t height, int32_t* x, int32_t* y) {
    for (Placement& placed : waiting_)
        if (placed.y == area_y_ + row_top_ && placed.width > 0 && placed.height > 0)
            placed.height = std::max(placed.height, row_height_);
    *x = area_x_;
    *y = area_y_ + row_top_ + row_height_;
    if (width <= 0 || height <= 0)
        return true;   // occupies no space
    if (page_has_bands_ && row_height_ > 0 && row_x_ + width <= area_width_) {
        if (row_top_ + height > area_height_)
            return false;
        *x = area_x_ + row_x_;
        *y = area_y_ + row_top_;
        row_x_ += width;
        row_height_ = std::max(row_height_, height);
        page_has_bands_ = true;
        return true;
    }
    int32_t top = row_top_ + row_height_;
    if (page_has_bands_ && top + height > area_height_)
        return false;
    row_top_ = top;
    row_x_ = width;
    row_height_ = height;
    *y = area_y_ + top;
    page_has_bands_ = true;
    return true;
}

// Whether the band must stay on one page with the waiting band before it.
bool ReportJob::Linked(const Band& band) const {
    return !waiting_.empty() && ((waiting_.back().band->flags & windows::kBandKeepWithNext) != 0 ||
                                 (band.flags & windows::kBandKeepWithPrior) != 0);
}

// Draws the waiting bands on the page: nothing can move them any more.
void ReportJob::CommitWaiting() {
    for (const Placement& placed : waiting_) {
        RecordingCanvas canvas(page_, int16_t(placed.x), int16_t(placed.y));
        Play(std::span(reinterpret_cast<const uint8_t*>(placed.drawing.data()), placed.drawing.size()), canvas);
    }
    waiting_.clear();
}

void ReportJob::PrintFlowBand(const Band& band) {
    if (cancelled_)
        return;
    int32_t width = band.at[2] == windows::kNotGiven ? area_width_ : Dots(band.at[2], Axis::Horizontal);
    int32_t height = band.at[3] == windows::kNotGiven ? BandContentHeight(band, scale_, unit_)
                                                      : Dots(band.at[3], Axis::Vertical);
    bool linked = Linked(band);
    if (!linked)
        CommitWaiting();
    if (!page_open_)
        StartPage(band);
    int32_t x = 0, y = 0;
    if (!Place(width, height, &x, &y)) {
        // The chain this band is linked to goes with it, unless it began the page: then moving it
        // would gain nothing.
        std::vector<Placement> moving;
        bool began_page = !waiting_.empty() && waiting_.front().x == area_x_ && waiting_.front().y == area_y_;
        if (linked && !began_page) {
            moving = std::move(waiting_);
            waiting_.clear();
            RestoreTotals(moving.front().totals_before);
        }
        FinishPage();
        if (cancelled_)
            return;
        StartPage(moving.empty() ? band : *moving.front().band);
        // The chain fitted below other bands, so it fits from the top of the new page.
        for (Placement& placed : moving) {
            Place(placed.width, placed.height, &placed.x, &placed.y);
            placed.totals_before = SaveTotals();
            for (const Contribution& c : placed.taken)
                Apply(totals_[c.total], c.value);
            ResetListed(placed.band->field_number);
            waiting_.push_back(std::move(placed));
        }
        if (!Place(width, height, &x, &y)) {
            // The chain fills the new page on its own: it stays there, and this band goes on.
            CommitWaiting();
            FinishPage();
            if (cancelled_)
                return;
            StartPage(band);
            Place(width, height, &x, &y);
        }
    }
    if (!keeping_) {
        TakeIn(band);
        Draw(band, x, y);
        ResetListed(band.field_number);
        return;
    }
    Placement placed{&band, width, height, x, y, {}, SaveTotals(), {}};
    placed.taken = TakeIn(band);
    Recorder drawing;
    Draw(drawing, band, 0, 0);
    placed.drawing = drawing.Finish({0, 0, 1, 1}, uint16_t(std::max(device_.dpi_x, device_.dpi_y)));
    waiting_.push_back(std::move(placed));
    ResetListed(band.field_number);
}

void ReportJob::StartPage(const Band& first) {
    page_.Reset();
    page_open_ = true;
    // The page's logical origin is the printable area's corner; the page file spans the sheet.
    page_.SetWindowOrigin(int16_t(-device_.offset_x), int16_t(-device_.offset_y));
    page_.SetWindowExtent(int16_t(device_.width + 2 * device_.offset_x), int16_t(device_.height + 2 * device_.offset_y));
    page_.SetBackgroundMode(true);
    row_top_ = row_x_ = row_height_ = 0;
    page_has_bands_ = false;
    for (Total& total : totals_)
        if (total.page_reset)
            Reset(total);
    if ((first.flags & windows::kBandBarePage) != 0)
        return;
    if (const Band* form = Own(w_.bands, Code(Kind::Form))) {
        if (!form_drawn_) {
            // Drawn once, with the values of the first page, and replayed on every page.
            Recorder recorder;
            Draw(recorder, *form, AtValue(form->at, 0, Axis::Horizontal), AtValue(form->at, 1, Axis::Vertical));
            form_file_ = recorder.Finish({0, 0, 1, 1}, uint16_t(std::max(device_.dpi_x, device_.dpi_y)));
            form_drawn_ = true;
        }
        RecordingCanvas canvas(page_, 0, 0);
        Play(std::span(reinterpret_cast<const uint8_t*>(form_file_.data()), form_file_.size()), canvas);
    }
    if (const Band* header = Own(w_.bands, Code(Kind::Header)))
        Draw(*header, AtValue(header->at, 0, Axis::Horizontal), AtValue(header->at, 1, Axis::Vertical));
}

void ReportJob::FinishPage() {
    if (!page_open_)
        return;
    CommitWaiting();
    if (const Band* footer = Own(w_.bands, Code(Kind::Footer)))
        Draw(*footer, AtValue(footer->at, 0, Axis::Horizontal), AtValue(footer->at, 1, Axis::Vertical));
    int32_t upi = std::max(device_.dpi_x, device_.dpi_y);
    Rect box{0, 0, int16_t(int64_t(device_.width + 2 * device_.offset_x) * upi / device_.dpi_x),
             int16_t(int64_t(device_.height + 2 * device_.offset_y) * upi / device_.dpi_y)};
    page_.FinishInto(box, uint16_t(upi), page_file_);
    page_open_ = false;
    page_has_bands_ = false;
    row_top_ = row_x_ = row_height_ = 0;
    if (DeliverPage(page_file_)) {
        pages_finished_++;
        page_number_++;
    }
}

// The provider's name for the page; empty for a temporary name. The provider is checked again
// before each call: the library that held it may have been unloaded since.
std::string ReportJob::PageFileName() {
    if (provider_ == nullptr)
        return {};
    if (!platform::IsCodeAddress(reinterpret_cast<const void*>(provider_))) {
        provider_ = nullptr;
        Vrn$seterror(kInvalidParameter);
        return {};
    }
    uint32_t depth = StackDepth();
    provider_(page_number_);
    if (StackDepth() <= depth)
        return {};
    std::string name = PopStdString();
    // What else it left on the stack is not ours to keep.
    while (StackDepth() > depth)
        PopStdString();
    name.erase(name.find_last_not_of(' ') + 1);
    return name;
}

bool ReportJob::DeliverPage(const std::string& file) {
    if (!preview_) {
        if (!EnsureJob())
            return false;
        int32_t error = job_->AddPage(std::span(reinterpret_cast<const uint8_t*>(file.data()), file.size()));
        if (error != 0) {
            Cancel();
            Vrn$seterror(error);
            return false;
        }
        return true;
    }
    std::string path;
    std::string named = PageFileName();
    if (!named.empty()) {
        path = platform::ResolveFileName(named);
        if (path.empty() || !platform::WriteFileAtomically(path, file))
            path.clear();
    } else {
        path = platform::CreateUniqueFile(std::filesystem::temp_directory_path().string(), "VRN", ".WMF", file);
        if (!path.empty())
            temporary_files_.push_back(path);
    }
    if (path.empty()) {
        // A page that cannot be kept is an error the program sees, never a silent gap.
        Vrn$seterror(5);
        return false;
    }
    page_files_.push_back(path);
    QueueDecl* queue = binding_.queue != nullptr && binding_.queue->buffer != nullptr ? binding_.queue : nullptr;
    if (binding_.field == nullptr && queue != nullptr)
        binding_ = FirstFieldOf(queue);
    char* field = static_cast<char*>(binding_.field != nullptr ? binding_.field : queue != nullptr ? queue->buffer : nullptr);
    uint32_t size = binding_.size != 0 ? binding_.size : queue != nullptr ? queue->record_length : 0;
    if (field != nullptr && size != 0) {
        if (binding_.type == VRN_TYPE_CSTRING)
            StoreCString(field, size, path.data(), uint32_t(path.size()));
        else if (binding_.type == VRN_TYPE_PSTRING)
            StorePString(reinterpret_cast<unsigned char*>(field), size, path.data(), uint32_t(path.size()));
        else
            StoreString(field, size, path.data(), uint32_t(path.size()));
    }
    if (queue != nullptr)
        Vrn$ADDqueue(queue);
    return true;
}

bool ReportJob::EnsureJob() {
    if (job_)
        return true;
    int32_t error = 524;
    job_ = Printing().StartJob(settings_, job_name_, &error);
    if (!job_) {
        Cancel();
        Vrn$seterror(error);
        return false;
    }
    return true;
}

void ReportJob::PrintRecorded() {
    preview_ = false;
    if (cancelled_ || page_files_.empty() || !EnsureJob())
        return;
    for (const std::string& path : page_files_) {
        std::optional<std::string> bytes = platform::ReadWholeFile(path);
        int32_t error = bytes ? job_->AddPage(std::span(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()))
                              : 523;
        if (error != 0) {
            Cancel();
            Vrn$rterr(error, nullptr);
            return;
        }
    }
}

void ReportJob::EndPage(bool close_groups) {
    if (cancelled_)
        return;
    if (close_groups)
        while (!groups_.empty())
            CloseGroup();
    FinishPage();
}

void ReportJob::Cancel() {
    cancelled_ = true;
    page_open_ = false;
    waiting_.clear();
    if (job_)
        job_->Cancel();
}

void ReportJob::Close() {
    if (!cancelled_)
        FinishPage();
    if (job_) {
        int32_t error = job_->Finish(&output_);
        job_.reset();
        if (error != 0)
            Vrn$seterror(error);
    }
    for (const std::string& path : temporary_files_)
        platform::RemoveFile(path);
    temporary_files_.clear();
}

// ---- Properties --------------------------------------------------------------------------------

bool ReportJob::SetProperty(int32_t property, std::string_view value) {
    int64_t number = 0;
    bool numeric = WholeNumber(value, &number);
    switch (property) {
    case kPropPreview:
        if (numeric && number == 1)
            PrintRecorded();
        else if (numeric && number == 0)
            preview_ = true;
        return true;
    case kPropJobName:
        job_name_ = std::string(value.substr(0, value.find_last_not_of(' ') + 1));
        return true;
    case kPropPageNumber:
        if (numeric)
            page_number_ = int32_t(std::clamp<int64_t>(number, INT32_MIN, INT32_MAX));
        return true;
    case kPropPageNameProvider: {
        // The provider's address as a number; 0 goes back to temporary names. An address that is
        // not in the code of a loaded module would be called into nowhere: it is refused (387,
        // an invalid parameter) and the pages get temporary names.
        provider_ = nullptr;
        if (numeric && number == 0)
            return true;
        auto address = reinterpret_cast<const void*>(static_cast<uintptr_t>(number));
        if (!numeric || number < 0 || !platform::IsCodeAddress(address)) {
            Vrn$seterror(kInvalidParameter);
            return true;
        }
        provider_ = reinterpret_cast<PageNameProvider>(static_cast<uintptr_t>(number));
        return true;
    }
    default:
        return SetPrinterProperty(settings_, property, value);
    }
}

bool ReportJob::GetProperty(int32_t property, std::string* value) {
    switch (property) {
    case kPropPreview: *value = preview_ ? "1" : "0"; return true;
    case kPropJobName: *value = job_name_; return true;
    case kPropPageNumber: *value = std::to_string(page_number_); return true;
    default: return GetPrinterProperty(settings_, property, value);
    }
}

void ReportJob::BindField(void* field, uint8_t type, uint32_t size) {
    QueueDecl* queue = binding_.queue;
    uintptr_t start = queue != nullptr ? reinterpret_cast<uintptr_t>(queue->buffer) : 0;
    uintptr_t at = reinterpret_cast<uintptr_t>(field);
    bool inside = start != 0 && at >= start && size <= queue->record_length &&
                  at - start <= queue->record_length - size;
    Bind({inside ? queue : nullptr, field, type, size});
}

ReportState ReportJob::State() const {
    ReportState state;
    state.open = true;
    state.preview = preview_;
    state.cancelled = cancelled_;
    state.page = page_number_;
    state.pages_finished = pages_finished_;
    state.job = job_name_;
    state.device = device_;
    state.settings = settings_;
    state.page_files = page_files_;
    state.output = output_;
    return state;
}

} // namespace

// ---- The hooks ---------------------------------------------------------------------------------

bool OpenReport(VrnWindowObject& report) {
    auto job = std::make_unique<ReportJob>(report);
    if (!job->Open())
        return false;
    std::lock_guard lock(jobs_mutex);
    Jobs()[&report] = std::move(job);
    return true;
}

void CloseReport(VrnWindowObject& report) {
    std::unique_ptr<ReportJob> job;
    {
        std::lock_guard lock(jobs_mutex);
        auto found = Jobs().find(&report);
        if (found == Jobs().end())
            return;
        job = std::move(found->second);
        Jobs().erase(found);
    }
    job->Close();
    std::lock_guard lock(jobs_mutex);
    LastOutput() = job->State().output;
}

std::string LastJobOutput() {
    std::lock_guard lock(jobs_mutex);
    return LastOutput();
}

void PrintBand(VrnWindowObject& report, int32_t field_number) {
    if (ReportJob* job = JobOf(report))
        job->Print(field_number);
}

void EndPage(VrnWindowObject& report, int32_t keep_groups) {
    if (ReportJob* job = JobOf(report))
        job->EndPage(keep_groups == 0);
}

void CancelReport(VrnWindowObject& report) {
    if (ReportJob* job = JobOf(report))
        job->Cancel();
}

bool SetReportProperty(VrnWindowObject& report, int32_t property, std::string_view value) {
    ReportJob* job = JobOf(report);
    return job != nullptr && job->SetProperty(property, value);
}

bool GetReportProperty(VrnWindowObject& report, int32_t property, std::string* value) {
    ReportJob* job = JobOf(report);
    return job != nullptr && job->GetProperty(property, value);
}

void BindPreviewQueue(VrnWindowObject& report, QueueDecl* queue, void* field, uint8_t type, uint32_t size) {
    if (ReportJob* job = JobOf(report))
        job->Bind({queue, field, type, size});
}

void BindPreviewField(VrnWindowObject& report, void* field, uint8_t type, uint32_t size) {
    // Only a text can receive a name.
    if (ReportJob* job = JobOf(report); job != nullptr && field != nullptr && size > 0 && TextType(type))
        job->BindField(field, type, size);
}

void SetPageNameProvider(VrnWindowObject& report, PageNameProvider provider) {
    if (ReportJob* job = JobOf(report))
        job->SetProvider(provider);
}

ReportState StateOf(VrnWindowObject& report) {
    ReportJob* job = JobOf(report);
    return job != nullptr ? job->State() : ReportState{};
}

} // namespace tarvex::report
