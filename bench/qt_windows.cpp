// SPDX-License-Identifier: GPL-3.0-or-later
// Windows on Qt (its offscreen platform) against Qt's own description loader, in the same run:
//
//   open window   declare the 43-control claim window of qt_windows.dsc (prompts, entries, checks,
//                 an OPTION with radios, a LIST, a SHEET with two TABs and the fields on them,
//                 lines, boxes, buttons), open it through the runtime's Qt backend (libtarvex_qt.so,
//                 loaded by the runtime as a program loads it), let Qt show and paint it, close it
//       peer      QUiLoader building the same window from a .ui file that this program writes from
//                 what the runtime asked the backend for (the same widget classes, rectangles,
//                 texts and font), shown, painted and deleted on Qt's thread
//   key latency   F2 (an alert key) pressed in the first ENTRY, handed to Qt where its platform
//                 plugin hands over a real key (qt_handleKeyEvent: the window system's key event),
//                 until the ACCEPT loop returns with EVENT:AlertKey: median and 99th percentile
//       peer      the same key into the same entry of the loaded .ui window, until an event filter
//                 on that entry sees it (what a Qt program's own handler would see)
//
// Goal: opening, showing and closing takes at most Qt's time.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QUiLoader>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <tuple>
#include <string>
#include <vector>

#include "tarvex/windows.hpp"
#include "windows/description_format.h"
#include "windows/headless_ui.h"

namespace {

using tarvex::windows::HeadlessUi;
using tarvex::windows::Kind;

constexpr const char* kModule = "LUMAREX$BENCHQT";
constexpr const char* kStructure = "P1$CLAIM";
constexpr const char* kTitle = "Claim Entry";
constexpr uint32_t kF2 = 0x71;

// The window's bound variables, in description order.
struct Claim {
    char entries[10][20];
    char checks[3][1];
    char related[10];
    int32_t queue = 0;
    int32_t sheet = 0;
    char tab_entries[2][20];

    tarvex::Window Declare() {
        return {kModule, kStructure, entries[0], entries[1], entries[2], entries[3], entries[4], entries[5],
                entries[6], entries[7], entries[8], entries[9], checks[0], checks[1], checks[2], related, &queue,
                &sheet, tab_entries[0], tab_entries[1]};
    }
};

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs on Qt's thread (where the backend keeps its application object) and waits.
void OnQt(const std::function<void()>& work) { QMetaObject::invokeMethod(qApp, work, Qt::BlockingQueuedConnection); }

QWidget* ShownWindow(const char* title) {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->windowTitle() == title && top->isVisible())
            return top;
    return nullptr;
}

int WidgetCount(QWidget* window) { return window == nullptr ? 0 : int(window->findChildren<QWidget*>().size()); }

// ---- The .ui file -------------------------------------------------------------------------------

std::string Escaped(const std::string& text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += ch;
        }
    }
    return out;
}

// A text as the backend shows it: without the blanks and '|' at its end.
std::string Shown(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '|'))
        text.pop_back();
    return text;
}

std::string Geometry(int x, int y, int width, int height) {
    return "<property name=\"geometry\"><rect><x>" + std::to_string(x) + "</x><y>" + std::to_string(y) +
           "</y><width>" + std::to_string(width) + "</width><height>" + std::to_string(height) +
           "</height></rect></property>";
}

std::string TextProperty(const char* name, const std::string& text) {
    return std::string("<property name=\"") + name + "\"><string>" + Escaped(Shown(text)) + "</string></property>";
}

// The window the backend built, as a Qt developer would describe it for QUiLoader: the same widget
// class for each control with the same rectangle and text, prompts with their buddies, the fields
// of a TAB on its page. `page_offset` is where a SHEET's pages sit inside it.
std::string UiFile(const HeadlessUi::Window& window, const QString& family, int points, QPoint page_offset) {
    using Control = HeadlessUi::Control;
    auto kind = [](const Control& c) { return static_cast<Kind>(c.spec.kind); };
    auto name = [](const Control& c) { return "c" + std::to_string(c.handle); };
    std::map<tarvex::windows::NativeHandle, const Control*> by_handle;
    for (const Control& c : window.controls)
        by_handle[c.handle] = &c;
    // The TAB a control sits on (through its OPTION or GROUP), 0 for none.
    auto tab_of = [&](const Control& c) -> tarvex::windows::NativeHandle {
        for (auto parent = c.spec.parent_control; parent != 0;) {
            auto it = by_handle.find(parent);
            if (it == by_handle.end())
                return 0;
            if (kind(*it->second) == Kind::Tab)
                return parent;
            parent = it->second->spec.parent_control;
        }
        return 0;
    };
    // A prompt labels the next control that takes the focus.
    std::map<tarvex::windows::NativeHandle, std::string> buddy;
    for (size_t i = 0; i < window.controls.size(); i++)
        if (kind(window.controls[i]) == Kind::Prompt)
            for (size_t j = i + 1; j < window.controls.size(); j++)
                if (kind(window.controls[j]) == Kind::Entry) {
                    buddy[window.controls[i].handle] = name(window.controls[j]);
                    break;
                }

    std::function<std::string(const Control&, QPoint)> widget = [&](const Control& c, QPoint origin) -> std::string {
        const auto& r = c.spec.rect;
        std::string at = Geometry(r.left - origin.x(), r.top - origin.y(), r.Width(), r.Height());
        std::string open = "<widget class=\"";
        switch (kind(c)) {
        case Kind::Prompt: case Kind::StringText: case Kind::StringVar: {
            std::string xml = open + "QLabel\" name=\"" + name(c) + "\">" + at + TextProperty("text", c.spec.text) +
                              "<property name=\"alignment\"><set>Qt::AlignLeft|Qt::AlignVCenter</set></property>";
            if (auto b = buddy.find(c.handle); b != buddy.end())
                xml += "<property name=\"buddy\"><cstring>" + b->second + "</cstring></property>";
            return xml + "</widget>";
        }
        case Kind::Entry: return open + "QLineEdit\" name=\"" + name(c) + "\">" + at + "</widget>";
        case Kind::Button:
            return open + "QPushButton\" name=\"" + name(c) + "\">" + at + TextProperty("text", c.spec.text) +
                   "<property name=\"autoDefault\"><bool>false</bool></property></widget>";
        case Kind::Check:
            return open + "QCheckBox\" name=\"" + name(c) + "\">" + at + TextProperty("text", c.spec.text) + "</widget>";
        case Kind::Radio:
            return open + "QRadioButton\" name=\"" + name(c) + "\">" + at + TextProperty("text", c.spec.text) +
                   "</widget>";
        case Kind::Option: case Kind::Group:
            return open + "QGroupBox\" name=\"" + name(c) + "\">" + at + TextProperty("title", c.spec.text) + "</widget>";
        case Kind::List: case Kind::ListVariant:
            return open + "QTableWidget\" name=\"" + name(c) + "\">" + at +
                   "<property name=\"contextMenuPolicy\"><enum>Qt::CustomContextMenu</enum></property>"
                   "<property name=\"editTriggers\"><set>QAbstractItemView::NoEditTriggers</set></property>"
                   "<property name=\"selectionMode\"><enum>QAbstractItemView::SingleSelection</enum></property>"
                   "<property name=\"selectionBehavior\"><enum>QAbstractItemView::SelectRows</enum></property>"
                   "<attribute name=\"verticalHeaderVisible\"><bool>false</bool></attribute></widget>";
        case Kind::Sheet: {
            std::string xml = open + "QTabWidget\" name=\"" + name(c) + "\">" + at;
            QPoint page(r.left + page_offset.x(), r.top + page_offset.y());
            for (const Control& tab : window.controls) {
                if (kind(tab) != Kind::Tab || tab.spec.parent_control != c.handle)
                    continue;
                xml += "<widget class=\"QWidget\" name=\"" + name(tab) + "\"><attribute name=\"title\"><string>" +
                       Escaped(Shown(tab.spec.text)) + "</string></attribute>";
                for (const Control& on : window.controls)
                    if (on.spec.parent_control == tab.handle)
                        xml += widget(on, page);
                xml += "</widget>";
            }
            return xml + "</widget>";
        }
        case Kind::Line:
            return open + "QFrame\" name=\"" + name(c) + "\">" + at + "<property name=\"frameShape\"><enum>" +
                   (r.Width() >= r.Height() ? "QFrame::HLine" : "QFrame::VLine") + "</enum></property></widget>";
        case Kind::Box:
            return open + "QFrame\" name=\"" + name(c) + "\">" + at +
                   "<property name=\"frameShape\"><enum>QFrame::Box</enum></property></widget>";
        default: return open + "QLabel\" name=\"" + name(c) + "\">" + at + TextProperty("text", c.spec.text) + "</widget>";
        }
    };

    const auto& spec = window.spec;
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\"><class>Claim</class>"
        "<widget class=\"QMainWindow\" name=\"Claim\">" +
        Geometry(spec.rect.left, spec.rect.top, spec.rect.Width(), spec.rect.Height()) +
        TextProperty("windowTitle", spec.title) + "<property name=\"font\"><font><family>" +
        Escaped(family.toStdString()) + "</family><pointsize>" + std::to_string(points) +
        "</pointsize></font></property><widget class=\"QWidget\" name=\"client\">"
        "<property name=\"minimumSize\"><size><width>" +
        std::to_string(spec.rect.Width()) + "</width><height>" + std::to_string(spec.rect.Height()) +
        "</height></size></property>";
    for (const Control& c : window.controls)
        if (kind(c) != Kind::Tab && tab_of(c) == 0)
            xml += widget(c, QPoint(0, 0));
    xml += "</widget><widget class=\"QStatusBar\" name=\"status\"/></widget></ui>\n";
    return xml;
}

// ---- The benchmarks -----------------------------------------------------------------------------
//
// The machine is shared, so each iteration runs ours and Qt's peer back to back (in turns, each
// first every other time) and the figures are medians of those pairs: both see the same load.

struct Figures {
    double ours_open_us = 0, qt_open_us = 0;
    int ours_widgets = 0, qt_widgets = 0;
    double ours_median_us = 0, ours_p99_us = 0, qt_median_us = 0, qt_p99_us = 0;
} figures;

QByteArray ui_file;   // written from the first opening

// Median and 99th percentile of the samples, in microseconds.
std::pair<double, double> Percentiles(std::vector<int64_t> samples) {
    if (samples.empty())
        return {0, 0};
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) {
        return double(samples[std::min(samples.size() - 1, size_t(q * double(samples.size())))]) / 1e3;
    };
    return {at(0.5), at(0.99)};
}

// Opens the window once through the runtime and writes the .ui file from what the backend built.
bool WriteUiFile(std::string& why) {
    Claim claim;
    tarvex::Window window = claim.Declare();
    window.Open();
    auto shown = tarvex::windows::HeadlessBackend()->FindWindow(kTitle);
    if (!shown) {
        why = "the claim window did not open";
        return false;
    }
    QString family;
    int points = 0;
    QPoint page_offset(0, 0);
    bool on_qt = false;
    OnQt([&] {
        QApplication::processEvents();
        QWidget* top = ShownWindow(kTitle);
        if (top == nullptr)
            return;
        on_qt = true;
        family = top->font().family();
        points = top->font().pointSize();
        if (auto* sheet = top->findChild<QTabWidget*>(); sheet != nullptr && sheet->widget(0) != nullptr)
            page_offset = sheet->widget(0)->mapTo(sheet, QPoint(0, 0));
    });
    if (!on_qt) {
        why = "the window is not on Qt: the Qt backend did not load";
        return false;
    }
    ui_file = QByteArray::fromStdString(UiFile(*shown, family, points, page_offset));
    if (const char* keep = std::getenv("LUM_BENCH_UI_FILE")) {
        QFile file(keep);
        if (file.open(QIODevice::WriteOnly))
            file.write(ui_file);
    }
    return true;
}

// Ours: declared, opened, shown and painted (Qt has handled everything the opening gave it),
// closed and freed, its widgets deleted. Sets the widgets Qt shows for it.
int64_t OpenShowClose(Claim& claim, int& widgets) {
    int64_t start = Now();
    {
        tarvex::Window window = claim.Declare();
        window.Open();
        OnQt([&] {
            QApplication::processEvents();
            widgets = WidgetCount(ShownWindow(kTitle));
        });
    }
    OnQt([] { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); });
    return Now() - start;
}

// The peer, on Qt's thread as a Qt program's own code runs: loaded, shown, painted, deleted.
int64_t LoadShowDelete(QUiLoader& loader, int& widgets, QString& error) {
    int64_t took = 0;
    OnQt([&] {
        int64_t start = Now();
        QBuffer buffer(&ui_file);
        buffer.open(QIODevice::ReadOnly);
        QWidget* window = loader.load(&buffer);
        if (window == nullptr) {
            error = loader.errorString();
            return;
        }
        window->show();
        QApplication::processEvents();
        widgets = WidgetCount(window);
        delete window;
        took = Now() - start;
    });
    return took;
}

void BM_OpenShowClose(benchmark::State& state) {
    Claim claim;
    QUiLoader* loader = nullptr;
    OnQt([&] { loader = new QUiLoader; });
    std::vector<int64_t> ours, theirs;
    QString error;
    bool ours_first = true;
    for (auto _ : state) {
        int64_t mine = 0;
        if (ours_first)
            mine = OpenShowClose(claim, figures.ours_widgets);
        int64_t peer = LoadShowDelete(*loader, figures.qt_widgets, error);
        if (!ours_first)
            mine = OpenShowClose(claim, figures.ours_widgets);
        ours_first = !ours_first;
        if (!error.isEmpty() || figures.ours_widgets == 0)
            break;
        ours.push_back(mine);
        theirs.push_back(peer);
        state.SetIterationTime(double(mine) / 1e9);
    }
    OnQt([&] { delete loader; });
    if (!error.isEmpty()) {
        state.SkipWithError(("QUiLoader: " + error.toStdString()).c_str());
        return;
    }
    if (figures.ours_widgets == 0) {
        state.SkipWithError("the window was not shown on Qt");
        return;
    }
    figures.ours_open_us = Percentiles(ours).first;
    figures.qt_open_us = Percentiles(theirs).first;
    state.counters["median_us"] = figures.ours_open_us;
    state.counters["qt_median_us"] = figures.qt_open_us;
    state.counters["ratio"] = figures.ours_open_us / figures.qt_open_us;
    state.counters["widgets"] = figures.ours_widgets;
    state.counters["qt_widgets"] = figures.qt_widgets;
}

// Notes when its entry sees F2 pressed.
class KeySeen : public QObject {
public:
    int64_t at = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F2)
            at = Now();
        return false;
    }
};

// F2 pressed and let go in `window`, on Qt's thread, the way its platform plugin hands over a real
// key. The time it was pressed is noted first: the program may see the key before this returns.
void PressF2(QWindow* window, std::atomic<int64_t>& pressed) {
    pressed = Now();
    qt_handleKeyEvent(window, QEvent::KeyPress, Qt::Key_F2, Qt::NoModifier);
    qt_handleKeyEvent(window, QEvent::KeyRelease, Qt::Key_F2, Qt::NoModifier);
}

void BM_KeyToAccept(benchmark::State& state) {
    // Ours: the claim window in its ACCEPT loop, the first entry selected, F2 an alert key.
    Claim claim;
    tarvex::Window window = claim.Declare();
    window.Open();
    auto shown = tarvex::windows::HeadlessBackend()->FindWindow(kTitle);
    int32_t entry = 0;
    for (const auto& c : shown ? shown->controls : std::vector<HeadlessUi::Control>{})
        if (entry == 0 && static_cast<Kind>(c.spec.kind) == Kind::Entry)
            entry = c.spec.field_number;
    tarvex::Accept accept;
    accept.Next();   // EVENT:OpenWindow
    Vrn$ALERT(kF2, 0);
    tarvex::SELECT(entry);
    // The peer: the .ui window, its first entry focused and watched.
    QWidget* peer = nullptr;
    QWindow *ours_native = nullptr, *peer_native = nullptr;
    KeySeen* seen = nullptr;   // lives on Qt's thread, as the entry it watches
    bool in_entry = false;
    OnQt([&] {
        QApplication::processEvents();
        if (QWidget* top = ShownWindow(kTitle)) {
            ours_native = top->windowHandle();
            in_entry = qobject_cast<QLineEdit*>(top->focusWidget()) != nullptr &&
                       top->focusWidget()->property("tarvexField").toInt() == entry;
        }
        QBuffer buffer(&ui_file);
        buffer.open(QIODevice::ReadOnly);
        QUiLoader loader;
        peer = loader.load(&buffer);
        if (peer == nullptr)
            return;
        peer->show();
        QApplication::processEvents();
        peer_native = peer->windowHandle();
        if (auto* first = peer->findChild<QLineEdit*>()) {
            first->setFocus();
            seen = new KeySeen;
            seen->setParent(peer);
            first->installEventFilter(seen);
        }
    });
    if (ours_native == nullptr || !in_entry) {
        state.SkipWithError("the first entry of the window on Qt does not have the focus");
        return;
    }
    if (peer_native == nullptr || seen == nullptr) {
        state.SkipWithError("the .ui window did not load with an entry");
        return;
    }
    std::vector<int64_t> ours, theirs;
    int other_events = 0;
    for (auto _ : state) {
        std::atomic<int64_t> pressed{0};
        QMetaObject::invokeMethod(qApp, [&] { PressF2(ours_native, pressed); }, Qt::QueuedConnection);
        for (;;) {
            accept.Next();
            if (tarvex::EVENT() == tarvex::EVENT_AlertKey)
                break;
            other_events++;
        }
        int64_t arrived = Now();
        if (tarvex::KEYCODE() != kF2 || tarvex::FIELD() != entry) {
            state.SkipWithError("the key arrived with another code or field");
            break;
        }
        ours.push_back(arrived - pressed);
        state.SetIterationTime(double(ours.back()) / 1e9);
        std::atomic<int64_t> peer_pressed{0};
        seen->at = 0;
        OnQt([&] { PressF2(peer_native, peer_pressed); });
        if (seen->at == 0) {
            state.SkipWithError("the .ui window's entry did not see the key");
            break;
        }
        theirs.push_back(seen->at - peer_pressed);
    }
    OnQt([&] { delete peer; });
    std::tie(figures.ours_median_us, figures.ours_p99_us) = Percentiles(ours);
    std::tie(figures.qt_median_us, figures.qt_p99_us) = Percentiles(theirs);
    state.counters["median_us"] = figures.ours_median_us;
    state.counters["p99_us"] = figures.ours_p99_us;
    state.counters["qt_median_us"] = figures.qt_median_us;
    state.counters["qt_p99_us"] = figures.qt_p99_us;
    state.counters["other_events"] = other_events;
}

}  // namespace

BENCHMARK(BM_OpenShowClose)->Iterations(500)->Unit(benchmark::kMicrosecond)->UseManualTime();
BENCHMARK(BM_KeyToAccept)->Iterations(5000)->Unit(benchmark::kMicrosecond)->UseManualTime();

namespace {

// The offscreen platform says on every window shown that it has no size hints to pass on to a
// window manager; a display's platform has, and says nothing. Everything else Qt says goes out.
QtMessageHandler qt_messages = nullptr;
void QtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message == "This plugin does not support propagateSizeHints()")
        return;
    if (qt_messages != nullptr)
        qt_messages(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
    qt_messages = qInstallMessageHandler(QtMessages);
    // The runtime loads its Qt backend on first use, as a program asks for it.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("TARVEX_UI", "qt", 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::string why;
    if (tarvex::windows::HeadlessBackend() == nullptr || qApp == nullptr || !WriteUiFile(why)) {
        std::fprintf(stderr, "bench_qt_windows: %s\n", why.empty() ? "the Qt backend did not load" : why.c_str());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const Figures& f = figures;
    if (f.qt_open_us > 0 && f.ours_open_us > 0)
        std::printf("open, show, close (medians): %.0f us (%d widgets), QUiLoader %.0f us (%d widgets): ratio %.2f "
                    "(goal <= 1)\n",
                    f.ours_open_us, f.ours_widgets, f.qt_open_us, f.qt_widgets, f.ours_open_us / f.qt_open_us);
    if (f.qt_median_us > 0 && f.ours_median_us > 0)
        std::printf("key to ACCEPT: median %.1f us, p99 %.1f us; Qt's own filter: median %.1f us, p99 %.1f us: "
                    "ratio of medians %.1f\n",
                    f.ours_median_us, f.ours_p99_us, f.qt_median_us, f.qt_p99_us, f.ours_median_us / f.qt_median_us);
    tarvex::windows::Ui().Shutdown();
    return 0;
}
