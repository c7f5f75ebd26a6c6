// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of the report engine on the claim-shaped report of reports.dsc (the form image under 142
// header boxes, 18 boxes a service line, six lines a page, the page's total and number), over 500
// service lines (84 pages):
//
//   (a) into page files   the engine with preview on: every line printed, each page recorded and
//                         written as a page file (pages/s; the goal is at least 100)
//   (b) files into a PDF  those page files replayed into one PDF through the print service's job
//               peer (c)  the same pages drawn directly with QPainter into QPdfWriter: the same
//                         image, texts, fonts and places, prepared beforehand, no page files
//
// The goal is (a) + (b) within twice (c); the ratio is printed after the runs. Also printed: the
// size of one page file with and without the form image, and the peak memory of a process that
// prints 50 and 500 pages (it must stay flat: pages go to files, not memory).
#include <benchmark/benchmark.h>

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/qt/page_painter.h"
#include "platform/qt/qt_printing.h"
#include "report/report_engine.h"
#include "tarvex/decimal.h"
#include "tarvex/queue.h"
#include "tarvex/reports.h"
#include "tarvex/windows.h"
#include "windows/window_object.h"

namespace {

using namespace tarvex;

constexpr const char* kModule = "LUMAREX$BENCHREP";
constexpr int kLines = 500;
constexpr int kDetail = 200;

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "bench_reports";
    static char* argv[] = {name, nullptr};
    if (QGuiApplication::instance() == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static QGuiApplication* application = new QGuiApplication(argc, argv);
        (void)application;
    }
}

// The program's side: 162 variables, a queue of page-file names.
struct Program {
    std::vector<std::array<uint8_t, 64>> storage = std::vector<std::array<uint8_t, 64>>(200);
    char name[255];
    VrnFieldDesc field{"PQ:NAME", nullptr, 0, 255, 1, 0, VRN_TYPE_STRING, 0};
    VrnTypeDesc type{"Pages", "PQ", 255, 1, &field};
    QueueDecl queue{name, &type, nullptr, 255};
    VrnWindowObject* report = nullptr;
    std::vector<windows::BoundVariable> line_variables;

    explicit Program(const char* structure) {
        std::vector<void*> addresses;
        for (auto& slot : storage)
            addresses.push_back(slot.data());
        windows::DeclareWindow(windows::Opening::Report, &report, kModule, structure, addresses);
    }
    ~Program() {
        Vrn$freewindow(&report);
        Vrn$FREEqueue(&queue);
    }
    static void Fill(const windows::BoundVariable& v, int n) {
        if (!v.Bound())
            return;
        if (v.type == VRN_TYPE_DECIMAL) {
            std::string amount = std::to_string(100 + n % 900) + "." + std::to_string(10 + n % 90);
            Vrn$DPushCString(amount.c_str());
            Vrn$DPopDec(v.address, v.size / 2 + 1, v.places);
            return;
        }
        std::string text = v.size == 8 ? "2024" + std::string(n % 12 < 9 ? "0" : "") + std::to_string(n % 12 + 1) + "15"
                                       : "TEXT" + std::to_string(n) + " ABCDEFGHIJKLMNOPQRSTUVWXYZ";
        std::memset(v.address, ' ', v.size);
        std::memcpy(v.address, text.data(), std::min<size_t>(v.size, text.size()));
    }
    bool Open(bool preview) {
        Vrn$OPENwindow(report);
        if (!report->open)
            return false;
        for (const auto& band : report->bands)
            for (const auto& control : band->controls) {
                Fill(control->use, 7);
                if (band->field_number == kDetail)
                    line_variables.push_back(control->use);
            }
        // The page total adds up the lines' fees, as the claim binds it: its accumulated value is
        // the line's DECIMAL.
        for (const auto& band : report->bands)
            for (const auto& control : band->controls)
                if (control->accumulated.Bound())
                    for (const auto& line : line_variables)
                        if (line.type == VRN_TYPE_DECIMAL)
                            control->accumulated = line;
        if (preview)
            report::BindPreviewQueue(*report, &queue, name, VRN_TYPE_STRING, sizeof name);
        return true;
    }
    void PrintLines(int lines) {
        for (int n = 1; n <= lines; n++) {
            for (const auto& variable : line_variables)
                Fill(variable, n);
            Vrn$PRINTreport(report, kDetail);
        }
        Vrn$ENDPAGE(report, 0);
    }
};

struct Figures {
    double page_bytes_with_form = 0;
    double page_bytes_without_form = 0;
    std::map<int, long> peak_kb;
};
Figures figures;

std::string Scratch(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("lum-bench-" + std::to_string(getpid()) + "-" + name)).string();
}

// (a)
void IntoPageFiles(benchmark::State& state, const char* structure, double* page_bytes) {
    EnsureApplication();
    report::SetPrinting(platform::qt::MakeQtPrinting());
    int64_t pages = 0;
    for (auto _ : state) {
        Program program(structure);
        if (!program.Open(true)) {
            state.SkipWithError("the report did not open");
            break;
        }
        program.PrintLines(kLines);
        report::ReportState done = report::StateOf(*program.report);
        pages += done.pages_finished;
        state.PauseTiming();
        if (!done.page_files.empty())
            *page_bytes = double(std::filesystem::file_size(done.page_files[0]));
        state.ResumeTiming();
    }
    state.counters["pages/s"] = benchmark::Counter(double(pages), benchmark::Counter::kIsRate);
    state.counters["page file bytes"] = *page_bytes;
}
void BM_IntoPageFiles(benchmark::State& state) {
    IntoPageFiles(state, "P1$REPORT", &figures.page_bytes_with_form);
}
void BM_IntoPageFilesWithoutForm(benchmark::State& state) {
    IntoPageFiles(state, "P1$REPORTA", &figures.page_bytes_without_form);
}

// The pages of one run, kept for (b) and (c).
std::vector<std::vector<uint8_t>>& Pages() {
    static std::vector<std::vector<uint8_t>> pages;
    if (pages.empty()) {
        EnsureApplication();
        Program program("P1$REPORT");
        program.Open(true);
        program.PrintLines(kLines);
        for (const std::string& path : report::StateOf(*program.report).page_files) {
            std::FILE* in = std::fopen(path.c_str(), "rb");
            std::vector<uint8_t> bytes(std::filesystem::file_size(path));
            if (in != nullptr) {
                size_t got = std::fread(bytes.data(), 1, bytes.size(), in);
                bytes.resize(got);
                std::fclose(in);
            }
            pages.push_back(std::move(bytes));
        }
    }
    return pages;
}

// (b)
void BM_PageFilesIntoPdf(benchmark::State& state) {
    const auto& pages = Pages();
    std::string pdf = Scratch("replay.pdf");
    for (auto _ : state) {
        std::unique_ptr<report::PrintJob> job = platform::qt::StartPdfJob(pdf);
        for (const auto& page : pages)
            job->AddPage(page);
        if (job->Finish(nullptr) != 0) {
            state.SkipWithError("the PDF was not written");
            break;
        }
    }
    std::filesystem::remove(pdf);
    state.counters["pages/s"] =
        benchmark::Counter(double(pages.size() * state.iterations()), benchmark::Counter::kIsRate);
}

// What the peer draws: every page's texts, image and lines as QPainter calls, prepared once.
struct PeerPage {
    struct Text {
        QPointF at;
        QString text;
        int font;
        QRectF clip;
    };
    std::vector<Text> texts;
    std::vector<QRectF> images;
    std::vector<QLineF> lines;
};

// Collects a played page as drawing calls for the peer, positions resolved as QPainter takes them.
class PeerCollector : public report::Canvas {
public:
    PeerCollector(PeerPage& page, std::vector<QFont>& fonts, QImage& image) : page_(page), fonts_(fonts), image_(image) {}
    void SetWindowOrigin(int16_t, int16_t) override {}
    void SetWindowExtent(int16_t, int16_t) override {}
    void CreateFont(uint16_t slot, const report::Font& font) override {
        QFont f(platform::qt::FaceFor(font.face));
        f.setPixelSize(std::abs(font.height));
        f.setKerning(false);
        slots_[slot] = int(fonts_.size());
        fonts_.push_back(f);
    }
    void CreatePen(uint16_t, const report::Pen&) override {}
    void CreateBrush(uint16_t, const report::Brush&) override {}
    void SelectObject(uint16_t slot) override {
        if (slots_.count(slot) != 0)
            font_ = slots_[slot];
    }
    void DeleteObject(uint16_t slot) override { slots_.erase(slot); }
    void SetTextColor(uint32_t) override {}
    void SetBackgroundMode(bool) override {}
    void SetTextAlign(uint16_t align) override { align_ = align; }
    void Text(int16_t x, int16_t y, std::string_view text, const report::Rect* clip) override {
        QString shown = QString::fromLatin1(text.data(), qsizetype(text.size()));
        QFontMetricsF metrics(fonts_[size_t(font_)]);
        double left = x;
        if ((align_ & report::kAlignCenter) == report::kAlignRight)
            left -= metrics.horizontalAdvance(shown);
        else if ((align_ & report::kAlignCenter) == report::kAlignCenter)
            left -= metrics.horizontalAdvance(shown) / 2;
        QRectF box = clip != nullptr ? QRectF(clip->left, clip->top, clip->right - clip->left, clip->bottom - clip->top)
                                     : QRectF();
        page_.texts.push_back({QPointF(left, y + metrics.ascent()), shown, font_, box});
    }
    void MoveTo(int16_t x, int16_t y) override { from_ = QPointF(x, y); }
    void LineTo(int16_t x, int16_t y) override { page_.lines.emplace_back(from_, QPointF(x, y)); }
    void Rectangle(const report::Rect&) override {}
    void StretchBitmap(const report::Rect& d, const report::Rect&, std::span<const uint8_t> dib) override {
        if (image_.isNull()) {
            // The peer's image is decoded once, as a program drawing with QPainter would keep it.
            std::vector<uint8_t> file(14, 0);
            file[0] = 'B';
            file[1] = 'M';
            file.insert(file.end(), dib.begin(), dib.end());
            uint32_t size = uint32_t(file.size());
            std::memcpy(&file[2], &size, 4);
            uint32_t header = 0;
            std::memcpy(&header, dib.data(), 4);
            uint32_t colours = 0;
            std::memcpy(&colours, dib.data() + 32, 4);
            uint32_t offset = 14 + header + colours * 4;
            std::memcpy(&file[10], &offset, 4);
            image_.loadFromData(file.data(), int(file.size()), "BMP");
        }
        page_.images.emplace_back(d.left, d.top, d.right - d.left, d.bottom - d.top);
    }
    void SaveState() override {}
    void RestoreState() override {}
    void IntersectClip(const report::Rect&) override {}

private:
    PeerPage& page_;
    std::vector<QFont>& fonts_;
    QImage& image_;
    std::map<uint16_t, int> slots_;
    int font_ = 0;
    uint16_t align_ = 0;
    QPointF from_;
};

// (c)
void BM_PeerQPainterIntoPdf(benchmark::State& state) {
    const auto& files = Pages();
    std::vector<PeerPage> pages(files.size());
    std::vector<QFont> fonts;
    QImage image;
    for (size_t i = 0; i < files.size(); i++) {
        PeerCollector collector(pages[i], fonts, image);
        report::Play(files[i], collector);
    }
    std::string pdf = Scratch("peer.pdf");
    for (auto _ : state) {
        QPdfWriter writer(QString::fromStdString(pdf));
        writer.setResolution(1200);
        writer.setPageSize(QPageSize(QPageSize::Letter));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&writer);
        painter.setWindow(0, 0, 5100, 6600);
        painter.setViewport(0, 0, writer.width(), writer.height());
        for (size_t i = 0; i < pages.size(); i++) {
            if (i > 0)
                writer.newPage();
            const PeerPage& page = pages[i];
            for (const QRectF& target : page.images)
                painter.drawImage(target, image);
            for (const QLineF& line : page.lines)
                painter.drawLine(line);
            for (const PeerPage::Text& text : page.texts) {
                painter.setFont(fonts[size_t(text.font)]);
                if (!text.clip.isNull()) {
                    painter.save();
                    painter.setClipRect(text.clip);
                    painter.drawText(text.at, text.text);
                    painter.restore();
                } else {
                    painter.drawText(text.at, text.text);
                }
            }
        }
        painter.end();
    }
    std::filesystem::remove(pdf);
    state.counters["pages/s"] =
        benchmark::Counter(double(pages.size() * state.iterations()), benchmark::Counter::kIsRate);
}

// Peak memory of a process that prints `pages` pages into page files.
void BM_PeakMemory(benchmark::State& state) {
    int pages = int(state.range(0));
    long peak = 0;
    for (auto _ : state) {
        // A fresh process of this program, started without a copy of this one, so nothing of
        // this one counts.
        // The child writes its own high-water mark: after exec it counts only the child.
        std::string count = std::to_string(pages);
        std::string report_file = Scratch("peak-" + count);
        char program[] = "bench_reports";
        char flag[] = "--print-pages";
        char* arguments[] = {program, flag, count.data(), report_file.data(), nullptr};
        pid_t child = 0;
        if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, arguments, environ) != 0) {
            state.SkipWithError("the child could not be started");
            break;
        }
        int status = 0;
        waitpid(child, &status, 0);
        std::FILE* in = std::fopen(report_file.c_str(), "r");
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || in == nullptr || std::fscanf(in, "%ld", &peak) != 1) {
            if (in != nullptr)
                std::fclose(in);
            state.SkipWithError("the child did not print its pages");
            break;
        }
        std::fclose(in);
        std::filesystem::remove(report_file);
    }
    figures.peak_kb[pages] = peak;
    state.counters["peak KiB"] = double(peak);
}

BENCHMARK(BM_IntoPageFiles)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_IntoPageFilesWithoutForm)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_PageFilesIntoPdf)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_PeerQPainterIntoPdf)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_PeakMemory)->Arg(50)->Arg(500)->Iterations(1)->Unit(benchmark::kMillisecond);

// Keeps the real time per iteration of each run, for the ratio printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                seconds_[run.benchmark_name().substr(0, run.benchmark_name().find('/'))] =
                    run.real_accumulated_time / double(run.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
    double Seconds(const std::string& name) const {
        auto found = seconds_.find(name);
        return found != seconds_.end() ? found->second : 0;
    }

private:
    std::map<std::string, double> seconds_;
};

// The child of the memory benchmark: prints that many pages into page files and says whether all
// of them were printed.
int PrintPages(int pages, const char* report_file) {
    bool printed = false;
    {
        Program program("P1$REPORT");
        if (!program.Open(true))
            return 1;
        program.PrintLines(pages * 6);
        printed = report::StateOf(*program.report).pages_finished == pages;
    }
    // The process's high-water mark of resident memory (VmHWM, in KiB).
    std::FILE* status = std::fopen("/proc/self/status", "r");
    std::FILE* out = std::fopen(report_file, "w");
    char line[256];
    while (status != nullptr && out != nullptr && std::fgets(line, sizeof line, status) != nullptr)
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            std::fprintf(out, "%ld\n", std::atol(line + 6));
    if (status != nullptr)
        std::fclose(status);
    if (out != nullptr)
        std::fclose(out);
    return printed ? 0 : 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--print-pages") == 0)
        return PrintPages(std::atoi(argv[2]), argv[3]);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double pages = double(Pages().size());
    double a = reporter.Seconds("BM_IntoPageFiles") / pages;
    double b = reporter.Seconds("BM_PageFilesIntoPdf") / pages;
    double c = reporter.Seconds("BM_PeerQPainterIntoPdf") / pages;
    if (a > 0 && b > 0 && c > 0) {
        std::printf("\n%.0f pages a run. Per page: (a) into page files %.2f ms (%.0f pages/s), (b) into a PDF %.2f ms, "
                    "peer (c) QPainter into QPdfWriter %.2f ms\n",
                    pages, a * 1e3, 1 / a, b * 1e3, c * 1e3);
        std::printf("ratio (a + b) / c = %.2f (goal: at most 2)\n", (a + b) / c);
    }
    std::printf("page file: %.0f bytes with the form image, %.0f bytes without\n", figures.page_bytes_with_form,
                figures.page_bytes_without_form);
    for (const auto& [count, kib] : figures.peak_kb)
        std::printf("peak memory printing %d pages: %ld KiB\n", count, kib);
    benchmark::Shutdown();
    return 0;
}
