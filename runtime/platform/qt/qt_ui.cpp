// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt backend (qt_ui.h) and the message boxes it shows.
#include "platform/qt/qt_ui.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>
#include <QScreen>
#include <QShortcut>
#include <QUrl>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QStyleOptionHeader>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBrowser>
#include <QValidator>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <optional>
#include <mutex>
#include <thread>
#include <tuple>

#include "platform/platform.h"
#include "platform/qt/page_painter.h"
#include "platform/qt/qt_printing.h"
#include "tarvex/ansi_text.hpp"
#include "tarvex/frame.h"
#include "tarvex/resources.h"
#include "windows/description_format.h"
#include "windows/keys.h"
#include "windows/native_input.h"
#include "windows/value_text.h"

namespace tarvex::platform::qt {

using windows::InputKind;
using windows::Kind;
using windows::NativeHandle;
using windows::NativeInput;

namespace {

uint8_t Code(Kind kind) { return static_cast<uint8_t>(kind); }

// Program text is single-byte (the ANSI set of tarvex/ansi_text.hpp): shown through its one table,
// and what a person types goes back through it. A character the set has no byte for cannot be
// stored, so it is left out rather than stored as the bytes of its UTF-8 spelling.
QString FromProgram(std::string_view text) {
    return QString::fromStdString(AnsiToUtf8(text));
}

std::string ToProgram(const QString& text) {
    std::string bytes;
    bytes.reserve(size_t(text.size()));
    for (char32_t c : text.toUcs4())
        if (std::optional<uint8_t> byte = UnicodeToAnsi(c))
            bytes.push_back(char(*byte));
    return bytes;
}

// A description's text as Qt shows it: menu texts end in blanks and a '|'.
QString Shown(const std::string& text) {
    QString shown = FromProgram(text);
    while (shown.endsWith('|') || shown.endsWith(' '))
        shown.chop(1);
    return shown;
}

QFont FontOf(const windows::FontSpec& spec) {
    QFont font(FaceFor(spec.face.empty() ? "Arial" : spec.face));
    font.setPointSize(spec.points != 0 ? int(spec.points) : 8);
    if ((spec.style & 0xFFF) >= 600)
        font.setBold(true);
    return font;
}

// A colour as the program gives it (0x00BBGGRR); none for the "no colour" value or a system colour.
std::optional<QColor> ColourOf(uint32_t colour) {
    if (colour > 0x00FFFFFF)
        return std::nullopt;
    return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}

Qt::Alignment JustifyOf(uint8_t justify) {
    switch (justify & 3) {
    case 1: case 3: return Qt::AlignRight | Qt::AlignVCenter;
    case 2: return Qt::AlignHCenter | Qt::AlignVCenter;
    default: return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

// The Windows virtual-key code of a Qt key, 0 when none (a key that only types a character).
uint32_t VirtualKey(int key, bool& extended) {
    extended = false;
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return uint32_t('A' + (key - Qt::Key_A));
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return uint32_t('0' + (key - Qt::Key_0));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return uint32_t(0x70 + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab: case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Return: return 0x0D;
    case Qt::Key_Enter: extended = true; return 0x0D;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: extended = true; return 0x21;
    case Qt::Key_PageDown: extended = true; return 0x22;
    case Qt::Key_End: extended = true; return 0x23;
    case Qt::Key_Home: extended = true; return 0x24;
    case Qt::Key_Left: extended = true; return 0x25;
    case Qt::Key_Up: extended = true; return 0x26;
    case Qt::Key_Right: extended = true; return 0x27;
    case Qt::Key_Down: extended = true; return 0x28;
    case Qt::Key_Insert: extended = true; return 0x2D;
    case Qt::Key_Delete: extended = true; return 0x2E;
    case Qt::Key_QuoteLeft: case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_Apostrophe: case Qt::Key_QuoteDbl: return 0xDE;
    case Qt::Key_Minus: return 0xBD;
    case Qt::Key_Equal: return 0xBB;
    case Qt::Key_Comma: return 0xBC;
    case Qt::Key_Period: return 0xBE;
    case Qt::Key_Slash: return 0xBF;
    case Qt::Key_Semicolon: return 0xBA;
    default: return 0;
    }
}

uint32_t KeyState(Qt::KeyboardModifiers modifiers) {
    uint32_t state = 0;
    if (modifiers & Qt::ShiftModifier)
        state |= windows::kShift;
    if (modifiers & Qt::ControlModifier)
        state |= windows::kCtrl;
    if (modifiers & Qt::AltModifier)
        state |= windows::kAlt;
    return state;
}

}  // namespace

// What lives on the Qt thread: the application, and each handle's widget.
struct QtUi::Widgets {
    struct Window {
        QPointer<QMainWindow> main;          // a top-level window
        QPointer<QMdiSubWindow> sub;         // an MDI child
        QPointer<QWidget> client;            // where its controls are
        QPointer<QMdiArea> mdi;              // a frame's children live here
        QObject* filter = nullptr;           // its InputFilter, a child of the window
        QPointer<QLabel> label;              // a prompt waiting for the field it labels
    };
    std::thread thread;
    QApplication* application = nullptr;
    QObject* context = nullptr;              // lives on the Qt thread: calls are queued to it
    std::mutex mutex;
    std::condition_variable ready;
    bool started = false;
    std::map<NativeHandle, Window> windows;  // Qt thread only
    QPointer<QTextBrowser> help;              // the help window, once shown (Qt thread only)
    std::map<NativeHandle, QPointer<QWidget>> controls;
    std::map<NativeHandle, QMenu*> menus;
    std::map<NativeHandle, NativeHandle> control_window;
    std::map<NativeHandle, std::pair<QTabWidget*, int>> tabs;   // a TAB: its SHEET and page
    std::map<NativeHandle, NativeHandle> on_tab;                 // a control: the TAB it is on
    std::map<NativeHandle, std::vector<NativeHandle>> radios;    // an OPTION: its RADIOs in order
    bool scripted = false;   // a script or test answers pop-up menus, not a person

    QWidget* Control(NativeHandle handle) {
        auto it = controls.find(handle);
        return it == controls.end() ? nullptr : it->second.data();
    }
    // The widget that shows the window: its main window, or its MDI child.
    QWidget* Shell(NativeHandle handle) {
        auto it = windows.find(handle);
        if (it == windows.end())
            return nullptr;
        return it->second.main ? static_cast<QWidget*>(it->second.main.data())
                               : static_cast<QWidget*>(it->second.sub.data());
    }
    // Shows or hides a control as the program asks, unless a TAB it is on is not the current page.
    void ShowControl(NativeHandle handle, QWidget* widget) {
        bool shown = !widget->property("tarvexHidden").toBool();
        if (auto on = on_tab.find(handle); on != on_tab.end())
            if (auto page = tabs.find(on->second); page != tabs.end())
                shown = shown && page->second.first->currentIndex() == page->second.second;
        widget->setVisible(shown);
    }
    // Building a window is handed over without waiting: the pieces queue up in order and one call
    // on the Qt thread builds all that has come, so a window of forty controls costs one hand-over
    // instead of forty. A call that waits is queued behind them and finds them done.
    std::mutex building_mutex;
    std::vector<std::function<void()>> building;
    bool build_posted = false;
    // Qt thread: windows built but not shown yet, with how each opens. A window shows once the
    // program has given it all its controls (WindowBuilt) and no more building is waiting: Qt
    // then lays it out and paints it once, where a window already shown repaints as each control
    // is added.
    std::vector<std::pair<NativeHandle, uint32_t>> unshown;
    std::set<NativeHandle> whole;   // Qt thread: unshown windows the program has finished
    // Windows created by the program but not shown yet (under building_mutex). Until a window
    // shows, it is where the program asked it to be: its place is answered without waiting for
    // the Qt thread, since waiting would show it before its controls are on it.
    std::set<NativeHandle> unbuilt;

    bool Unbuilt(NativeHandle window) {
        std::lock_guard lock(building_mutex);
        return unbuilt.count(window) != 0;
    }
    // The primary screen's work area and dots per inch, kept as Qt reports changes, so that
    // placing a window asks nothing of the Qt thread (under screen_mutex).
    std::mutex screen_mutex;
    windows::NativeRect desktop{0, 0, 1024, 768};
    int32_t dpi_x = 96;
    int32_t dpi_y = 96;

    // Qt thread: notes the primary screen's facts now and whenever they change.
    void FollowScreen(QObject* context) {
        auto note = [this] {
            QScreen* screen = QGuiApplication::primaryScreen();
            if (screen == nullptr)
                return;
            QRect area = screen->availableGeometry();
            std::lock_guard lock(screen_mutex);
            desktop = {area.left(), area.top(), area.right() + 1, area.bottom() + 1};
            dpi_x = int32_t(screen->logicalDotsPerInchX() + 0.5);
            dpi_y = int32_t(screen->logicalDotsPerInchY() + 0.5);
        };
        auto follow = [context, note](QScreen* screen) {
            if (screen == nullptr)
                return;
            QObject::connect(screen, &QScreen::availableGeometryChanged, context, note);
            QObject::connect(screen, &QScreen::logicalDotsPerInchChanged, context, note);
        };
        follow(QGuiApplication::primaryScreen());
        QObject::connect(qApp, &QGuiApplication::primaryScreenChanged, context, [note, follow](QScreen* screen) {
            follow(screen);
            note();
        });
        note();
    }
    std::mutex measured_mutex;
    std::map<std::tuple<std::string, uint32_t, uint32_t>, windows::FontMetrics> measured;   // by face, size, style

    // Runs `work` on the Qt thread and waits for it.
    void Run(const std::function<void()>& work) {
        if (context == nullptr)
            return;   // Qt has ended with the program
        if (QThread::currentThread() == context->thread()) {
            work();
            return;
        }
        QMetaObject::invokeMethod(context, work, Qt::BlockingQueuedConnection);
    }

    // Queues `work` for the Qt thread and goes on.
    void Build(std::function<void()> work) {
        std::scoped_lock lock(building_mutex, mutex);
        if (context == nullptr)
            return;   // Qt has ended with the program
        building.push_back(std::move(work));
        if (build_posted)
            return;
        build_posted = true;
        QMetaObject::invokeMethod(context, [this] { BuildQueued(); }, Qt::QueuedConnection);
    }

    // Qt thread: builds what has been queued, then shows the windows built when nothing more is.
    void BuildQueued() {
        std::vector<std::function<void()>> work;
        {
            std::lock_guard lock(building_mutex);
            work.swap(building);
            build_posted = false;
        }
        for (const auto& piece : work)
            piece();
        {
            std::lock_guard lock(building_mutex);
            if (build_posted)
                return;
        }
        std::vector<std::pair<NativeHandle, uint32_t>> waiting;
        for (auto [handle, style] : unshown) {
            auto it = windows.find(handle);
            if (it == windows.end())
                continue;
            if (whole.erase(handle) == 0) {
                waiting.emplace_back(handle, style);
                continue;
            }
            if (it->second.sub)
                it->second.sub->show();
            else if (!it->second.main)
                continue;
            else if (style & windows::kStyleOpenMaximized)
                it->second.main->showMaximized();
            else if (style & windows::kStyleOpenMinimized)
                it->second.main->showMinimized();
            else
                it->second.main->show();
        }
        std::lock_guard lock(building_mutex);
        for (auto [handle, style] : unshown)
            if (std::find(waiting.begin(), waiting.end(), std::pair{handle, style}) == waiting.end())
                unbuilt.erase(handle);
        unshown.swap(waiting);
    }
};

namespace {

// Reports a person's doing to the thread that owns the window.
void Hand(NativeHandle window, NativeInput input) {
    input.window = window;
    windows::PostInput(input);
}

// Watches a window's widgets: keys and the close box go to the runtime.
class InputFilter : public QObject {
public:
    InputFilter(NativeHandle window, QObject* parent) : QObject(parent), window_(window) {}

    // Watches a control's widget (marked with its field number), or a part of one (its marked
    // parent names the field).
    void Watch(QWidget* widget, int32_t field, bool part = false) {
        if (!part)
            widget->setProperty("tarvexField", field);
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            event->ignore();
            Hand(window_, {.kind = InputKind::kClose});
            return true;
        }
        if (event->type() == QEvent::FocusIn) {
            // A click or a prompt's mnemonic moved the focus: the runtime decides, and leaves the
            // field the person left as a Tab would.
            auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::MouseFocusReason || reason == Qt::ShortcutFocusReason)
                Hand(window_, {.kind = InputKind::kFocus, .field = FieldOf(watched)});
            return false;
        }
        if (event->type() != QEvent::KeyPress)
            return false;
        // The top window hands over keys only when it has no control that takes keys itself: a key
        // a control lets pass reaches the window too, and was handed over at the control.
        if (auto* top = qobject_cast<QMainWindow*>(watched))
            for (QWidget* part : top->findChildren<QWidget*>())
                if (part->focusPolicy() != Qt::NoFocus && part->isVisibleTo(top))
                    return false;
        auto* key = static_cast<QKeyEvent*>(event);
        bool extended = false;
        uint32_t code = VirtualKey(key->key(), extended);
        if (code == 0)
            return false;
        int32_t field = FieldOf(watched);
        Qt::KeyboardModifiers modifiers = key->modifiers();
        if (key->key() == Qt::Key_Backtab)
            modifiers |= Qt::ShiftModifier;
        Hand(window_, {.kind = InputKind::kKey, .field = field, .code = code,
                       .state = KeyState(modifiers), .scan_code = uint16_t(key->nativeScanCode()),
                       .extended = extended});
        if (!key->text().isEmpty() && key->text()[0].unicode() < 256)
            Hand(window_, {.kind = InputKind::kCharacter, .field = field, .code = key->text()[0].unicode()});
        // The runtime moves the focus, presses buttons and closes windows: Qt must not as well.
        switch (code) {
        case 0x09: case 0x0D: case 0x1B: return true;
        default: return false;
        }
    }

private:
    // The field a watched widget shows, or the one its marked parent shows.
    static int32_t FieldOf(QObject* watched) {
        QVariant marked = watched->property("tarvexField");
        if (!marked.isValid() && watched->parent() != nullptr)
            marked = watched->parent()->property("tarvexField");
        return marked.toInt();
    }

    NativeHandle window_;
};

class TopWindow : public QMainWindow {
public:
    explicit TopWindow(NativeHandle handle) : handle_(handle) {}

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        Hand(handle_, {.kind = InputKind::kClose});
    }

private:
    NativeHandle handle_;
};

// An OPTION or GROUP box: its frame runs through the middle of its title, so that the controls
// placed just below the box's top edge sit inside it, as the description lays them out. Drawn
// here rather than by a style sheet, which would cost every window with a box a style of its own.
class FrameBox : public QGroupBox {
public:
    FrameBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QFontMetrics metrics = fontMetrics();
        int middle = metrics.height() / 2;
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Mid));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, middle + 0.5, -0.5, -0.5), 2, 2);
        QString text = title();
        if (text.isEmpty())
            return;
        // The title, with its mnemonic underlined, on the box's own background over the frame.
        static const QRegularExpression kMnemonic("&(?!&)");
        QString shown = text;
        shown.remove(kMnemonic);
        QRect title_box(6, 0, metrics.horizontalAdvance(shown) + 4, metrics.height());
        painter.fillRect(title_box, palette().color(backgroundRole()));
        style()->drawItemText(&painter, title_box.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::TextShowMnemonic,
                              palette(), isEnabled(), text, QPalette::WindowText);
    }
};

// The system's stock cursor a name selects ("\xFF\x01" + u16 n: the system's cursor n-1); none
// for an empty or any other name (the arrow shows).
std::optional<Qt::CursorShape> CursorShapeOf(const std::string& name) {
    static const std::pair<uint32_t, Qt::CursorShape> kStock[] = {
        {32512, Qt::ArrowCursor},     {32513, Qt::IBeamCursor},    {32514, Qt::WaitCursor},
        {32515, Qt::CrossCursor},     {32516, Qt::UpArrowCursor},  {32642, Qt::SizeFDiagCursor},
        {32643, Qt::SizeBDiagCursor}, {32644, Qt::SizeHorCursor},  {32645, Qt::SizeVerCursor},
        {32646, Qt::SizeAllCursor},   {32648, Qt::ForbiddenCursor}, {32649, Qt::PointingHandCursor},
        {32650, Qt::BusyCursor},      {32651, Qt::WhatsThisCursor},
    };
    const auto* bytes = reinterpret_cast<const unsigned char*>(name.data());
    if (name.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0x01)
        return std::nullopt;
    uint32_t stock = uint32_t(bytes[2] | (bytes[3] << 8)) - 1;
    for (auto [number, shape] : kStock)
        if (number == stock)
            return shape;
    return std::nullopt;
}

// One of the program's icon or bitmap resources, named as a description names it
// ('~LUMAREX.ICO'); a null picture when there is none.
QPixmap ResourcePicture(const std::string& name) {
    QPixmap picture;
    if (name.empty())
        return picture;
    // An icon resource holds an icon file, a bitmap resource a bitmap file: told so, Qt reads it
    // with that one image reader instead of trying each it has (and loading every one of them).
    for (auto [type, format] : {std::pair{"ICON", "ICO"}, std::pair{"BITMAP", "BMP"}}) {
        uint32_t size = 0;
        const void* bytes = WslUtil$LoadNamedResource(name.c_str(), type, &size);
        if (bytes == nullptr)
            continue;
        const auto* data = static_cast<const uchar*>(bytes);
        bool loaded = picture.loadFromData(data, size, format) || picture.loadFromData(data, size);
        WslUtil$FreeResourcePtr(bytes);
        if (loaded)
            break;
    }
    return picture;
}

// Stops a person's typing at an entry's limit. The blanks that pad a value do not count, so a
// digit can go in front of "      0.00" (a fixed number of characters would refuse it).
class EntryLimit : public QValidator {
public:
    EntryLimit(int32_t limit, QObject* parent) : QValidator(parent), limit_(limit) {}
    State validate(QString& input, int&) const override {
        std::string text = ToProgram(input);
        return windows::TypedCharacters(text).size() > size_t(limit_) ? Invalid : Acceptable;
    }

private:
    int32_t limit_;
};

// The lines one row of a LIST takes: one, and one more for each column a `/` puts on a new line.
int LinesPerRow(const windows::NativeListView& view) {
    int lines = 1;
    for (const windows::NativeListColumn& column : view.columns)
        lines = std::max(lines, int(column.line) + 1);
    return lines;
}

using IconPicture = std::function<QPixmap(int32_t icon)>;

// A LIST cell's contents over its background: its icon at its left, its text within the
// column's indent (on the side it is aligned to), the text of an S column shifted by the
// column's scroll over its wider area, in the row's own colours, and the border lines the format
// gives the column.
void PaintCellContents(QPainter* painter, QRect box, const QString& text, const QFont& font, const QPalette& palette,
                       bool selected, const windows::NativeListCell& style, const windows::NativeListColumn& layout,
                       const IconPicture& picture) {
    painter->save();
    painter->setClipRect(box);
    int left = box.left();
    if (style.icon > 0)
        if (QPixmap icon = picture(style.icon); !icon.isNull()) {
            int side = std::max(box.height() - 2, 1);
            painter->drawPixmap(QRect(left + 1, box.top() + (box.height() - side) / 2, side, side), icon);
            left += side + 3;
        }
    // The text's area: the cell, or an S column's wider area moved left by its scroll.
    QRect area(left - layout.scroll, box.top(), std::max(box.right() + 1 - left, layout.scroll_width), box.height());
    const int padding = 2;
    switch (layout.justification & 3) {
    case 0: area.adjust(padding + layout.data_indent, 0, -padding, 0); break;
    case 2: area.adjust(padding + layout.data_indent, 0, -padding + layout.data_indent, 0); break;
    default: area.adjust(padding, 0, -padding - layout.data_indent, 0); break;
    }
    QColor ink = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    if (std::optional<QColor> colour = ColourOf(selected ? style.selected_foreground : style.foreground))
        ink = *colour;
    painter->setPen(ink);
    painter->setFont(font);
    painter->drawText(area, int(JustifyOf(layout.justification)), text);
    painter->setPen(palette.color(QPalette::Mid));
    if (layout.right_border)
        painter->drawLine(box.topRight(), box.bottomRight());
    if (layout.bottom_border)
        painter->drawLine(box.bottomLeft(), box.bottomRight());
    painter->restore();
}

// The cells of a LIST's first line as the runtime lays them out: the style draws the cell's
// background (the selected row in the row's own selected colour), the contents go in the row's
// first line. The table holds a column for each column of the format; those a `/` puts on later
// lines are hidden from it and drawn by the table over the rest of the row.
class CellPainter : public QStyledItemDelegate {
public:
    CellPainter(QObject* parent, const windows::NativeListView& view, IconPicture picture)
        : QStyledItemDelegate(parent), view_(view), picture_(std::move(picture)) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        QString text = cell.text;
        cell.text.clear();
        cell.state &= ~QStyle::State_HasFocus;   // the runtime marks the row; no focus frame
        const size_t row = size_t(index.row()), column = size_t(index.column());
        windows::NativeListCell style;
        if (row < view_.cells.size() && column < view_.cells[row].size())
            style = view_.cells[row][column];
        windows::NativeListColumn layout;
        if (column < view_.columns.size())
            layout = view_.columns[column];
        if (std::optional<QColor> colour = ColourOf(style.selected_background))
            cell.palette.setColor(QPalette::Highlight, *colour);
        const QWidget* widget = cell.widget;
        QStyle* drawing = widget != nullptr ? widget->style() : QApplication::style();
        drawing->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
        QRect box = cell.rect;
        box.setHeight(box.height() / LinesPerRow(view_));
        PaintCellContents(painter, box, text, cell.font, cell.palette, (cell.state & QStyle::State_Selected) != 0,
                          style, layout, picture_);
    }

private:
    const windows::NativeListView& view_;
    IconPicture picture_;
};

// The table of a LIST. Rows of a format with `/` are several lines high: the columns of the
// first line are the table's own; those of the later lines are drawn here, at their place in
// the row, in the row's colours.
class RowTable : public QTableWidget {
public:
    RowTable(QWidget* parent, const windows::NativeListView& view, IconPicture picture)
        : QTableWidget(parent), view_(view), picture_(std::move(picture)) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        QTableWidget::paintEvent(event);
        int lines = LinesPerRow(view_);
        if (lines == 1)
            return;
        QPainter painter(viewport());
        for (int r = 0; r < rowCount(); r++) {
            int top = rowViewportPosition(r);
            int line = rowHeight(r) / lines;
            bool selected = selectionModel()->isRowSelected(r, QModelIndex());
            for (size_t c = 0; c < view_.columns.size(); c++) {
                const windows::NativeListColumn& layout = view_.columns[c];
                if (layout.line == 0 || layout.right <= layout.left)
                    continue;
                windows::NativeListCell style;
                if (size_t(r) < view_.cells.size() && c < view_.cells[size_t(r)].size())
                    style = view_.cells[size_t(r)][c];
                QRect box(layout.left - horizontalOffset(), top + layout.line * line, layout.right - layout.left,
                          line);
                if (!box.intersects(event->rect()))
                    continue;
                std::optional<QColor> fill = ColourOf(selected ? style.selected_background : style.background);
                if (selected && !fill)
                    fill = palette().color(QPalette::Highlight);
                if (fill)
                    painter.fillRect(box, *fill);
                QString text = size_t(r) < view_.rows.size() && c < view_.rows[size_t(r)].size()
                                   ? FromProgram(view_.rows[size_t(r)][c])
                                   : QString();
                PaintCellContents(&painter, box, text, font(), palette(), selected, style, layout, picture_);
            }
        }
    }

private:
    const windows::NativeListView& view_;
    IconPicture picture_;
};

// One header section as the style draws a column's, with its text centred in the whole height
// (the style's own margins cut a line of text that is just the font's height, as the list's
// header band is) and kept off the edges by the header's indent on the side it is aligned to.
void PaintHeaderSection(QPainter& painter, const QWidget* widget, QRect rect, const QString& text, uint8_t justify,
                        int indent) {
    QStyleOptionHeader option;
    option.initFrom(widget);
    option.rect = rect;
    option.position = QStyleOptionHeader::Middle;
    widget->style()->drawControl(QStyle::CE_HeaderSection, &option, &painter, widget);
    if (text.isEmpty())
        return;
    const int padding = 2;
    QRect area = rect;
    switch (justify & 3) {
    case 0: area.adjust(padding + indent, 0, -padding, 0); break;
    case 2: area.adjust(padding + indent, 0, -padding + indent, 0); break;
    default: area.adjust(padding, 0, -padding - indent, 0); break;
    }
    painter.save();
    painter.setClipRect(rect);
    painter.setPen(option.palette.color(QPalette::ButtonText));
    painter.drawText(area, int(JustifyOf(justify)), text);
    painter.restore();
}

// The column headers of a LIST, each with the justification and indent its format gives it.
class ColumnHeader : public QHeaderView {
public:
    ColumnHeader(QWidget* parent, const windows::NativeListView& view)
        : QHeaderView(Qt::Horizontal, parent), view_(view) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int index) const override {
        if (!rect.isValid())
            return;
        windows::NativeListColumn layout;
        if (size_t(index) < view_.columns.size())
            layout = view_.columns[size_t(index)];
        QString text = size_t(index) < view_.headers.size() ? FromProgram(view_.headers[size_t(index)])
                                                            : QString();
        PaintHeaderSection(*painter, this, rect, text, uint8_t(layout.justification >> 2), layout.header_indent);
    }

private:
    const windows::NativeListView& view_;
};

// The header of one group of columns, placed over them by the band.
class GroupHeader : public QWidget {
public:
    explicit GroupHeader(QWidget* parent) : QWidget(parent) { setObjectName("tarvexGroupHeader"); }
    void Set(const windows::NativeListGroup& group) {
        text_ = FromProgram(group.header);
        justify_ = group.justification;
        setProperty("tarvexHeader", text_);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        PaintHeaderSection(painter, this, rect(), text_, justify_, 0);
    }

private:
    QString text_;
    uint8_t justify_ = 0;
};

// The band of group headers above a LIST's column headers: each group's header spans the columns
// it holds (or the width its format gives it) where the column headers are now, so it follows
// them while a person drags a column's edge.
class GroupBand : public QWidget {
public:
    GroupBand(QWidget* parent, const windows::NativeListView& view, QHeaderView* header)
        : QWidget(parent), view_(view), header_(header) {}

    // Places each group's header over its columns.
    void Arrange() {
        while (headers_.size() < view_.groups.size())
            headers_.push_back(new GroupHeader(this));
        for (size_t g = 0; g < headers_.size(); g++) {
            QRect span = g < view_.groups.size() ? Span(g) : QRect();
            if (g < view_.groups.size())
                headers_[g]->Set(view_.groups[g]);
            headers_[g]->setGeometry(span);
            headers_[g]->setVisible(span.width() > 0);
        }
        update();
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        Arrange();
    }
    void paintEvent(QPaintEvent*) override {
        // Columns under no group get an empty section, so the band reads as one header.
        QPainter painter(this);
        for (size_t c = 0; c < view_.columns.size(); c++)
            if (view_.columns[c].group < 0 && !header_->isSectionHidden(int(c)))
                PaintHeaderSection(painter, this,
                                   QRect(header_->sectionViewportPosition(int(c)), 0, header_->sectionSize(int(c)),
                                         height()),
                                   {}, 0, 0);
    }

private:
    // The pixels group `g` spans in the band; empty when it holds no column.
    QRect Span(size_t g) const {
        int first = -1, last = -1;
        for (size_t c = 0; c < view_.columns.size(); c++)
            if (view_.columns[c].group == int32_t(g)) {
                if (first < 0)
                    first = int(c);
                last = int(c);
            }
        if (first < 0)
            return {};
        const windows::NativeListGroup& group = view_.groups[g];
        const windows::NativeListColumn& ends = view_.columns[size_t(last)];
        int left = header_->sectionViewportPosition(first) + (group.left - view_.columns[size_t(first)].left);
        // A group as wide as its columns follows their edges; a width of its own stays as given.
        int right = group.right == ends.right
                        ? header_->sectionViewportPosition(last) + header_->sectionSize(last)
                        : left + (group.right - group.left);
        return QRect(left, 0, std::max(right - left, 0), height());
    }

    const windows::NativeListView& view_;
    QHeaderView* header_;
    std::vector<GroupHeader*> headers_;   // children of the band
};

// A LIST: a table that shows the page of rows the runtime gives it, with a scroll bar of its own
// whose thumb is the list's scroll position (0 to 100). The runtime owns the selection and the
// paging: clicks, the wheel and the scroll bar are handed to it, and it shows the page again. A
// sideways wheel (or Shift with the wheel) scrolls the S columns as Left and Right do, and so
// does the bar below the rows that the runtime keeps room for while an S column's contents are
// wider than the column.
class ListView : public QFrame {
public:
    ListView(QWidget* parent, NativeHandle window, int32_t field)
        : QFrame(parent), window_(window), field_(field),
          table_(new RowTable(this, view_, [this](int32_t icon) { return Icon(icon); })),
          bar_(new QScrollBar(Qt::Vertical, this)) {
        setFrameShape(QFrame::StyledPanel);
        table_->setHorizontalHeader(new ColumnHeader(table_, view_));
        table_->setItemDelegate(new CellPainter(table_, view_, [this](int32_t icon) { return Icon(icon); }));
        table_->setFrameShape(QFrame::NoFrame);
        table_->setSelectionBehavior(QAbstractItemView::SelectRows);
        table_->setSelectionMode(QAbstractItemView::SingleSelection);
        table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        table_->setShowGrid(false);
        table_->setWordWrap(false);
        table_->verticalHeader()->hide();
        table_->verticalHeader()->setMinimumSectionSize(1);
        table_->horizontalHeader()->setMinimumSectionSize(1);
        table_->horizontalHeader()->setHighlightSections(false);
        table_->horizontalHeader()->setSectionsClickable(false);
        table_->setContextMenuPolicy(Qt::CustomContextMenu);
        table_->installEventFilter(this);
        table_->viewport()->installEventFilter(this);
        setFocusProxy(table_);
        bar_->setRange(0, 100);
        bar_->setPageStep(10);
        bar_->hide();   // until the list has more than a page, or its program pages it
        QObject::connect(table_, &QTableWidget::cellClicked, this, [this](int row, int) {
            Hand(window_, {.kind = InputKind::kListRow, .field = field_, .row = first_row_ + row});
        });
        QObject::connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
            Hand(window_, {.kind = InputKind::kButton, .field = field_, .code = 1, .double_click = true,
                           .row = first_row_ + row});
        });
        QObject::connect(table_, &QTableWidget::customContextMenuRequested, this, [this](QPoint at) {
            int row = table_->rowAt(at.y());
            Hand(window_, {.kind = InputKind::kButton, .field = field_, .code = 2,
                           .row = row < 0 ? 0 : first_row_ + row});
        });
        QObject::connect(bar_, &QScrollBar::actionTriggered, this, [this](int action) {
            switch (action) {
            case QAbstractSlider::SliderSingleStepSub: Key(0x26); break;
            case QAbstractSlider::SliderSingleStepAdd: Key(0x28); break;
            case QAbstractSlider::SliderPageStepSub: Key(0x21); break;
            case QAbstractSlider::SliderPageStepAdd: Key(0x22); break;
            default: break;
            }
        });
        // A column the format lets a person size (M): the new width goes to the runtime, which
        // lays the columns out again and shows them. The group headers follow the edge at once.
        QObject::connect(table_->horizontalHeader(), &QHeaderView::sectionResized, this,
                         [this](int column, int, int width) {
                             if (band_ != nullptr)
                                 band_->Arrange();
                             if (!showing_)
                                 Hand(window_, {.kind = InputKind::kListColumn, .field = field_,
                                                .code = uint32_t(std::max(width, 0)), .row = column});
                         });
        QObject::connect(bar_, &QScrollBar::sliderReleased, this, [this] {
            Hand(window_, {.kind = InputKind::kListThumb, .field = field_, .code = uint32_t(bar_->value())});
        });
    }

    // The table's painters and the group band read view_: they go before it does (Qt would
    // delete them only after this object's members).
    ~ListView() override {
        delete band_;
        delete table_;
    }

    QTableWidget* Table() const { return table_; }

    void Show(const windows::NativeListView& view) {
        QSignalBlocker quiet(table_);
        showing_ = true;
        if (view.icons != view_.icons)
            icons_.clear();
        view_ = view;
        first_row_ = view.first_row;
        int line = QFontMetrics(font()).height();
        int lines = LinesPerRow(view);
        table_->verticalHeader()->setDefaultSectionSize(line * lines);
        int columns = int(view.headers.size());
        table_->setColumnCount(columns);
        bool column_headers = false;
        for (int c = 0; c < columns; c++) {
            QString header = FromProgram(view.headers[size_t(c)]);
            column_headers = column_headers || !header.isEmpty();
            auto* item = new QTableWidgetItem(header);
            if (size_t(c) < view.columns.size()) {
                const windows::NativeListColumn& column = view.columns[size_t(c)];
                item->setTextAlignment(JustifyOf(uint8_t(column.justification >> 2)));
                table_->setColumnWidth(c, std::max(0, column.right - column.left));
                table_->setColumnHidden(c, column.right <= column.left || column.line > 0);
                table_->horizontalHeader()->setSectionResizeMode(
                    c, column.resizable ? QHeaderView::Interactive : QHeaderView::Fixed);
            }
            table_->setHorizontalHeaderItem(c, item);
        }
        // The header band: a line of group headers when a group has one, the columns' below it.
        bool group_headers = std::any_of(view.groups.begin(), view.groups.end(),
                                         [](const windows::NativeListGroup& g) { return !g.header.empty(); });
        int band = group_headers ? std::min(line, view.header_height) : 0;
        int header_height = view.header_height - band;
        table_->horizontalHeader()->setVisible(column_headers && header_height > 0);
        table_->horizontalHeader()->setFixedHeight(std::max(1, header_height));
        if (group_headers && band_ == nullptr) {
            // Made only for a list that has group headers: most have none.
            band_ = new GroupBand(this, view_, table_->horizontalHeader());
            band_->installEventFilter(this);
            band_->hide();
        }
        if (band_ != nullptr) {
            if (band != band_->height() || group_headers == band_->isHidden()) {
                band_->setVisible(group_headers);
                band_->setFixedHeight(std::max(band, 1));
                Place();
            }
            band_->Arrange();
        }
        table_->setRowCount(int(view.rows.size()));
        for (int r = 0; r < int(view.rows.size()); r++) {
            const auto& cells = view.rows[size_t(r)];
            for (int c = 0; c < columns && size_t(c) < cells.size(); c++) {
                auto* item = new QTableWidgetItem(FromProgram(cells[size_t(c)]));
                // The background the format or the row's queue fields give the cell; the rest of
                // its looks the cell painter takes from the view.
                if (size_t(r) < view.cells.size() && size_t(c) < view.cells[size_t(r)].size())
                    if (std::optional<QColor> colour = ColourOf(view.cells[size_t(r)][size_t(c)].background))
                        item->setBackground(*colour);
                table_->setItem(r, c, item);
            }
        }
        int selected = view.selected - view.first_row;
        if (selected >= 0 && selected < int(view.rows.size()))
            table_->selectRow(selected);
        else
            table_->clearSelection();
        table_->viewport()->update();
        QSignalBlocker quiet_bar(bar_);
        bar_->setValue(view.thumb);
        // As a Qt table's own: shown while it can do something.
        if (view.scrolls == bar_->isHidden()) {
            bar_->setVisible(view.scrolls);
            Place();
        }
        ShowSideways(view);
        showing_ = false;
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QFrame::resizeEvent(event);
        Place();
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        // A row is a row across the list's whole width: a click right of its last column (or on
        // a later line of a row on several lines) picks it as a click on a cell does.
        if ((event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) &&
            watched == table_->viewport()) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            QPoint at = mouse->position().toPoint();
            int row = table_->rowAt(at.y());
            if (mouse->button() == Qt::LeftButton && row >= 0 && table_->columnAt(at.x()) < 0) {
                if (event->type() == QEvent::MouseButtonPress)
                    Hand(window_, {.kind = InputKind::kListRow, .field = field_, .row = first_row_ + row});
                else
                    Hand(window_, {.kind = InputKind::kButton, .field = field_, .code = 1, .double_click = true,
                                   .row = first_row_ + row});
                return true;
            }
        }
        if (event->type() == QEvent::Wheel) {
            auto* wheel = static_cast<QWheelEvent*>(event);
            QPoint delta = wheel->angleDelta();
            int sideways = delta.x();
            if (sideways == 0 && (wheel->modifiers() & Qt::ShiftModifier)) {
                sideways = delta.y();
                delta.setY(0);
            }
            // A notch sideways (120) scrolls the S columns a character, as Left and Right do;
            // a fine wheel's small steps add up to notches.
            sideways_ += sideways;
            for (; sideways_ >= 120; sideways_ -= 120)
                Key(0x25);
            for (; sideways_ <= -120; sideways_ += 120)
                Key(0x27);
            // Each notch of the wheel is a line up or down, as the arrow keys move the list.
            if (delta.y() != 0)
                Key(delta.y() > 0 ? 0x26 : 0x28);
            return true;
        }
        if (event->type() == QEvent::KeyPress && watched == table_) {
            // The runtime moves the selection and pages the list: Qt's own table must not.
            switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Up: case Qt::Key_Down: case Qt::Key_PageUp: case Qt::Key_PageDown:
            case Qt::Key_Home: case Qt::Key_End: case Qt::Key_Left: case Qt::Key_Right:
                return true;
            default: return false;
            }
        }
        return QFrame::eventFilter(watched, event);
    }

private:
    void Key(uint32_t code) {
        Hand(window_, {.kind = InputKind::kKey, .field = field_, .code = code, .extended = true});
    }

    // The sideways bar: as far as the S column that scrolls furthest, at the S columns' scroll,
    // a character a step and the widest S column a page.
    void ShowSideways(const windows::NativeListView& view) {
        int most = 0, offset = 0, page = 1;
        for (const windows::NativeListColumn& column : view.columns)
            if (column.scroll_width > 0) {
                most = std::max(most, column.scroll_width - (column.right - column.left));
                offset = std::max(offset, int(column.scroll));
                page = std::max(page, int(column.right - column.left));
            }
        if (sideways_bar_ == nullptr) {
            if (view.sideways_bar == 0)
                return;   // made only for a list whose S columns need it
            sideways_bar_ = new QScrollBar(Qt::Horizontal, this);
            sideways_bar_->hide();
            QObject::connect(sideways_bar_, &QScrollBar::valueChanged, this, [this](int to) {
                Hand(window_,
                     {.kind = InputKind::kListSideways, .field = field_, .code = uint32_t(std::max(to, 0))});
            });
        }
        QSignalBlocker quiet(sideways_bar_);
        sideways_bar_->setRange(0, std::max(most, 0));
        sideways_bar_->setValue(offset);
        sideways_bar_->setSingleStep(std::max(QFontMetrics(font()).averageCharWidth(), 1));
        sideways_bar_->setPageStep(page);
        if (view.sideways_bar != (sideways_bar_->isHidden() ? 0 : sideways_bar_->height())) {
            sideways_bar_->setVisible(view.sideways_bar > 0);
            sideways_bar_->setFixedHeight(std::max(int(view.sideways_bar), 1));
            Place();
        }
    }

    // The group band on top, the table below it, the sideways bar below the table, the scroll
    // bar at the right of them all.
    void Place() {
        QRect inside = contentsRect();
        int bar = bar_->isHidden() ? 0 : bar_->sizeHint().width();
        // Hidden, not visible: a list is laid out before its window shows.
        int band = band_ == nullptr || band_->isHidden() ? 0 : band_->height();
        int below = sideways_bar_ == nullptr || sideways_bar_->isHidden() ? 0 : sideways_bar_->height();
        bar_->setGeometry(inside.right() + 1 - bar, inside.top(), bar, inside.height());
        if (band_ != nullptr)
            band_->setGeometry(inside.left(), inside.top(), inside.width() - bar, band);
        table_->setGeometry(inside.left(), inside.top() + band, inside.width() - bar, inside.height() - band - below);
        if (sideways_bar_ != nullptr)
            sideways_bar_->setGeometry(inside.left(), inside.bottom() + 1 - below, inside.width() - bar, below);
    }

    // Icon n of the list, read from the program's resources once.
    QPixmap Icon(int32_t number) {
        if (number < 1 || size_t(number) > view_.icons.size())
            return {};
        auto [it, added] = icons_.try_emplace(number);
        if (added)
            it->second = ResourcePicture(view_.icons[size_t(number - 1)]);
        return it->second;
    }

    NativeHandle window_;
    int32_t field_;
    windows::NativeListView view_;   // what the list shows now; the painters read it
    QTableWidget* table_;
    QScrollBar* bar_;
    // Scrolls the S columns; shown while the runtime keeps room for it.
    QScrollBar* sideways_bar_ = nullptr;
    GroupBand* band_ = nullptr;
    std::map<int32_t, QPixmap> icons_;
    int32_t first_row_ = 1;
    int sideways_ = 0;       // the sideways wheel's turn not yet a whole notch
    bool showing_ = false;   // the runtime's own layout is being shown: no input from it
};

QWidget* MakeControl(const windows::NativeControlSpec& spec, QWidget* client, NativeHandle window) {
    QString text = Shown(spec.text);
    int32_t field = spec.field_number;
    auto command = [window, field] { Hand(window, {.kind = InputKind::kCommand, .field = field}); };
    switch (static_cast<Kind>(spec.kind)) {
    case Kind::Prompt: case Kind::StringText: case Kind::StringVar: {
        auto* label = new QLabel(text, client);
        uint32_t justify = spec.flags & 0x1c;
        label->setAlignment((justify == 0x08 || justify == 0x0c ? Qt::AlignRight
                             : justify == 0x10              ? Qt::AlignHCenter
                                                            : Qt::AlignLeft) |
                            Qt::AlignVCenter);
        return label;
    }
    case Kind::Entry: {
        auto* entry = new QLineEdit(client);
        QObject::connect(entry, &QLineEdit::textEdited, entry, [window, field](const QString& now) {
            Hand(window, {.kind = InputKind::kText, .field = field, .text = ToProgram(now)});
        });
        return entry;
    }
    case Kind::Button: {
        auto* button = new QPushButton(text, client);
        button->setAutoDefault(false);
        QObject::connect(button, &QPushButton::clicked, button, command);
        return button;
    }
    case Kind::Check: {
        auto* check = new QCheckBox(text, client);
        QObject::connect(check, &QCheckBox::clicked, check, command);
        return check;
    }
    case Kind::Radio: {
        auto* radio = new QRadioButton(text, client);
        QObject::connect(radio, &QRadioButton::clicked, radio, command);
        return radio;
    }
    case Kind::Option: case Kind::Group: {
        auto* box = new FrameBox(text, client);
        return box;
    }
    case Kind::List: case Kind::ListVariant: return new ListView(client, window, field);
    case Kind::Combo: case Kind::ComboVariant: return new QComboBox(client);
    case Kind::Spin: return new QSpinBox(client);
    case Kind::Progress: return new QProgressBar(client);
    case Kind::Sheet: return new QTabWidget(client);
    case Kind::Line: {
        auto* line = new QFrame(client);
        line->setFrameShape(spec.rect.Width() >= spec.rect.Height() ? QFrame::HLine : QFrame::VLine);
        return line;
    }
    case Kind::Box: case Kind::Graphic07: case Kind::Graphic27: case Kind::Graphic04: {
        auto* box = new QFrame(client);
        box->setFrameShape(QFrame::Box);
        return box;
    }
    case Kind::Image: {
        // The picture is one of the program's icon or bitmap resources, named as the description
        // names it ('~LUMAREX.ICO').
        auto* image = new QLabel(client);
        image->setScaledContents(true);
        image->setPixmap(ResourcePicture(spec.text));
        return image;
    }
    default: return new QLabel(text, client);
    }
}

}  // namespace

namespace {

// Message boxes as Qt shows them, on the Qt thread.
class QtMessageBoxes final : public platform::MessageBoxes {
public:
    explicit QtMessageBoxes(QtUi::Widgets& widgets) : widgets_(widgets) {}

    uint32_t Show(const platform::MessageRequest& request) override {
        uint32_t answer = request.default_button;
        widgets_.Run([&] {
            QMessageBox box;
            box.setWindowTitle(FromProgram(request.caption));
            box.setText(FromProgram(request.text));
            box.setIcon(request.icon == VRN_ICON_STOP          ? QMessageBox::Critical
                        : request.icon == VRN_ICON_QUESTION    ? QMessageBox::Question
                        : request.icon == VRN_ICON_EXCLAMATION ? QMessageBox::Warning
                        : request.icon == VRN_ICON_INFORMATION ? QMessageBox::Information
                                                               : QMessageBox::NoIcon);
            static const std::pair<uint32_t, QMessageBox::StandardButton> kButtons[] = {
                {VRN_BUTTON_OK, QMessageBox::Ok},         {VRN_BUTTON_YES, QMessageBox::Yes},
                {VRN_BUTTON_NO, QMessageBox::No},         {VRN_BUTTON_ABORT, QMessageBox::Abort},
                {VRN_BUTTON_RETRY, QMessageBox::Retry},   {VRN_BUTTON_IGNORE, QMessageBox::Ignore},
                {VRN_BUTTON_CANCEL, QMessageBox::Cancel}, {VRN_BUTTON_HELP, QMessageBox::Help},
            };
            uint32_t buttons = request.buttons == 0 ? VRN_BUTTON_OK : request.buttons;
            for (auto [ours, theirs] : kButtons)
                if (buttons & ours) {
                    box.addButton(theirs);
                    if (ours == request.default_button)
                        box.setDefaultButton(theirs);
                }
            int pressed = box.exec();
            for (auto [ours, theirs] : kButtons)
                if (pressed == theirs)
                    answer = ours;
        });
        return answer;
    }

private:
    QtUi::Widgets& widgets_;
};

}  // namespace

namespace {

// Qt's messages go to standard error, but for two notes on the environment that are no fault of
// the program's: the offscreen platform's that it cannot pass a window's size hints on (it has no
// window manager to pass them to), printed for every window a script opens, and the one below.
void QtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains("propagateSizeHints"))
        return;
    // Without a login session (a virtual display started by hand, a service account) Qt notes that
    // it made its runtime folder itself: it works, and a clerk can do nothing about it.
    if (message.startsWith("QStandardPaths: XDG_RUNTIME_DIR not set"))
        return;
    std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
}

}  // namespace

QtUi::QtUi() : widgets_(std::make_unique<Widgets>()) {
    Widgets* w = widgets_.get();
    w->thread = std::thread([w] {
        qInstallMessageHandler(QtMessages);
        static int argc = 1;
        static char name[] = "lumarex";
        static char* argv[] = {name, nullptr};
        QApplication application(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        QObject context;
        w->FollowScreen(&context);
        {
            std::lock_guard lock(w->mutex);
            w->application = &application;
            w->context = &context;
            w->started = true;
            w->scripted = std::getenv("TARVEX_SCRIPT") != nullptr || std::getenv("TARVEX_TEST") != nullptr;
        }
        w->ready.notify_all();
        QApplication::exec();
        std::lock_guard lock(w->mutex);
        w->windows.clear();
        w->controls.clear();
        w->context = nullptr;
        w->application = nullptr;
    });
    std::unique_lock lock(w->mutex);
    w->ready.wait(lock, [w] { return w->started; });
}

QtUi::~QtUi() { Shutdown(); }

void QtUi::Shutdown() {
    if (widgets_->context != nullptr)
        widgets_->Run([this] {
            for (auto& [handle, window] : widgets_->windows) {
                delete window.main.data();
                delete window.sub.data();
            }
            widgets_->windows.clear();
            delete widgets_->help.data();
            QApplication::quit();
        });
    if (widgets_->thread.joinable())
        widgets_->thread.join();
}

windows::NativeRect QtUi::DesktopRect() {
    std::lock_guard lock(widgets_->screen_mutex);
    return widgets_->desktop;
}

int32_t QtUi::DotsPerInchX() {
    std::lock_guard lock(widgets_->screen_mutex);
    return widgets_->dpi_x;
}

int32_t QtUi::DotsPerInchY() {
    std::lock_guard lock(widgets_->screen_mutex);
    return widgets_->dpi_y;
}

windows::FontMetrics QtUi::Measure(const windows::FontSpec& font) {
    // A font measures the same for as long as the program runs, so each is measured once: a LIST
    // measures its font while its window is being built, and a call that waits there would show
    // the window before the rest of its controls are on it.
    auto key = std::make_tuple(font.face, font.points, font.style);
    {
        std::lock_guard lock(widgets_->measured_mutex);
        if (auto known = widgets_->measured.find(key); known != widgets_->measured.end())
            return known->second;
    }
    windows::FontMetrics metrics;
    widgets_->Run([&] {
        QFontMetrics measured(FontOf(font));
        // The average width of the letters, as dialog units are reckoned.
        int width = measured.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        metrics = {int32_t((width / 26 + 1) / 2), int32_t(measured.height())};
    });
    if (metrics.height > 0) {
        std::lock_guard lock(widgets_->measured_mutex);
        widgets_->measured[key] = metrics;
    }
    return metrics;
}

windows::NativeHandle QtUi::CreateWindow(const windows::NativeWindowSpec& spec) {
    NativeHandle handle = HeadlessUi::CreateWindow(spec);
    if (handle == 0)
        return 0;
    {
        std::lock_guard lock(widgets_->building_mutex);
        widgets_->unbuilt.insert(handle);
    }
    widgets_->Build([this, handle, spec] {
        Widgets::Window window;
        auto* filter = new InputFilter(handle, nullptr);
        QWidget* client = nullptr;
        auto parent = widgets_->windows.find(spec.parent);
        if ((spec.style & windows::kStyleMdiChild) && parent != widgets_->windows.end() && parent->second.main) {
            Widgets::Window& frame = parent->second;
            if (!frame.mdi) {
                frame.mdi = new QMdiArea;
                frame.main->setCentralWidget(frame.mdi);
            }
            client = new QWidget;
            client->setFixedSize(spec.rect.Width(), spec.rect.Height());
            window.sub = frame.mdi->addSubWindow(client);
            window.sub->setWindowTitle(FromProgram(spec.title));
            window.sub->setAttribute(Qt::WA_DeleteOnClose, false);
            window.sub->installEventFilter(filter);
            window.sub->move(spec.rect.left, spec.rect.top);
            filter->setParent(window.sub);
        } else {
            auto* main = new TopWindow(handle);
            client = new QWidget;
            main->setCentralWidget(client);
            main->setWindowTitle(FromProgram(spec.title));
            main->setFont(FontOf(spec.font));
            main->statusBar()->setSizeGripEnabled((spec.style & windows::kStyleThickFrame) != 0);
            client->setMinimumSize(spec.rect.Width(), spec.rect.Height());
            main->move(spec.rect.left, spec.rect.top);
            filter->setParent(main);
            // Keys the window gets while none of its controls has the focus (a frame with only
            // its menu) go to the runtime as well.
            main->installEventFilter(filter);
            window.main = main;
        }
        client->setFont(FontOf(spec.font));
        if (QPixmap icon = ResourcePicture(spec.icon); !icon.isNull())
            (window.main ? static_cast<QWidget*>(window.main.data()) : window.sub.data())->setWindowIcon(icon);
        window.client = client;
        window.filter = filter;
        widgets_->windows[handle] = window;
        widgets_->unshown.emplace_back(handle, spec.style);
    });
    return handle;
}

void QtUi::DestroyWindow(NativeHandle handle) {
    HeadlessUi::DestroyWindow(handle);
    {
        std::lock_guard lock(widgets_->building_mutex);
        widgets_->unbuilt.erase(handle);
    }
    // The program need not wait for it: whatever it asks of Qt next is queued behind.
    widgets_->Build([this, handle] {
        widgets_->whole.erase(handle);
        auto it = widgets_->windows.find(handle);
        if (it == widgets_->windows.end())
            return;
        // Gone from the screen now; freed once Qt is done with the events in flight for it.
        if (it->second.sub) {
            it->second.sub->hide();
            it->second.sub->deleteLater();
        }
        if (it->second.main) {
            it->second.main->hide();
            it->second.main->deleteLater();
        }
        for (auto c = widgets_->control_window.begin(); c != widgets_->control_window.end();) {
            if (c->second == handle) {
                widgets_->controls.erase(c->first);
                widgets_->menus.erase(c->first);
                widgets_->tabs.erase(c->first);
                widgets_->on_tab.erase(c->first);
                widgets_->radios.erase(c->first);
                c = widgets_->control_window.erase(c);
            } else {
                ++c;
            }
        }
        widgets_->windows.erase(it);
    });
}

windows::NativeHandle QtUi::CreateControl(NativeHandle window, const windows::NativeControlSpec& spec) {
    NativeHandle handle = HeadlessUi::CreateControl(window, spec);
    if (handle == 0)
        return 0;
    widgets_->Build([this, window, handle, spec] {
        auto it = widgets_->windows.find(window);
        if (it == widgets_->windows.end() || !it->second.client)
            return;
        Widgets::Window& w = it->second;
        QWidget* control = MakeControl(spec, w.client, window);
        control->setGeometry(spec.rect.left, spec.rect.top, spec.rect.Width(), spec.rect.Height());
        if (spec.flags & windows::kControlDisabled)
            control->setEnabled(false);
        if (w.filter != nullptr) {
            static_cast<InputFilter*>(w.filter)->Watch(control, spec.field_number);
            if (auto* list = dynamic_cast<ListView*>(control))
                static_cast<InputFilter*>(w.filter)->Watch(list->Table(), spec.field_number, true);
        }
        // The RADIOs of one OPTION exclude each other, and no others.
        if (spec.kind == Code(Kind::Radio))
            if (auto* option = qobject_cast<QGroupBox*>(widgets_->Control(spec.parent_control))) {
                auto* group = option->findChild<QButtonGroup*>(QString(), Qt::FindDirectChildrenOnly);
                if (group == nullptr)
                    group = new QButtonGroup(option);
                group->addButton(static_cast<QRadioButton*>(control));
                widgets_->radios[spec.parent_control].push_back(handle);
            }
        // A prompt's mnemonic takes the person to the field after it.
        if (auto* label = qobject_cast<QLabel*>(control); label != nullptr && spec.kind == Code(Kind::Prompt)) {
            w.label = label;
        } else if (w.label && control->focusPolicy() != Qt::NoFocus) {
            w.label->setBuddy(control);
            w.label = nullptr;
        }
        // A TAB is a page of its SHEET; the controls on it show only while it is the current one.
        auto parent = widgets_->controls.find(spec.parent_control);
        QTabWidget* sheet = parent != widgets_->controls.end() ? qobject_cast<QTabWidget*>(parent->second.data())
                                                               : nullptr;
        bool hidden = (spec.flags & windows::kControlHidden) != 0;
        if (spec.kind == Code(Kind::Tab) && sheet != nullptr) {
            sheet->addTab(new QWidget, Shown(spec.text));
            widgets_->tabs[handle] = {sheet, sheet->count() - 1};
            control->hide();
            hidden = true;
            QObject::connect(sheet, &QTabWidget::currentChanged, sheet, [w = widgets_.get(), sheet](int now) {
                for (auto& [member, tab] : w->on_tab) {
                    auto page = w->tabs.find(tab);
                    auto shown = w->controls.find(member);
                    if (page != w->tabs.end() && page->second.first == sheet && shown != w->controls.end() &&
                        shown->second && !shown->second->property("tarvexHidden").toBool())
                        shown->second->setVisible(page->second.second == now);
                }
            });
        } else if (widgets_->tabs.count(spec.parent_control) != 0) {
            widgets_->on_tab[handle] = spec.parent_control;
        } else if (auto on = widgets_->on_tab.find(spec.parent_control); on != widgets_->on_tab.end()) {
            widgets_->on_tab[handle] = on->second;
        }
        control->setProperty("tarvexHidden", hidden);
        if (auto on = widgets_->on_tab.find(handle); on != widgets_->on_tab.end()) {
            auto& [tab_sheet, index] = widgets_->tabs[on->second];
            hidden = hidden || tab_sheet->currentIndex() != index;
        }
        control->setVisible(!hidden);
        control->raise();
        widgets_->controls[handle] = control;
        widgets_->control_window[handle] = window;
    });
    return handle;
}

windows::NativeHandle QtUi::CreateMenuEntry(NativeHandle window, const windows::NativeMenuSpec& spec) {
    NativeHandle handle = HeadlessUi::CreateMenuEntry(window, spec);
    if (handle == 0)
        return 0;
    widgets_->Build([this, window, handle, spec] {
        auto it = widgets_->windows.find(window);
        if (it == widgets_->windows.end() || !it->second.main)
            return;
        QMainWindow* main = it->second.main;
        auto parent = widgets_->menus.find(spec.parent_menu);
        QMenu* menu = parent != widgets_->menus.end() ? parent->second : nullptr;
        if (spec.separator) {
            if (menu != nullptr)
                menu->addSeparator();
            return;
        }
        if (spec.kind == Code(Kind::Menu)) {
            QMenu* added = menu != nullptr ? menu->addMenu(Shown(spec.text)) : main->menuBar()->addMenu(Shown(spec.text));
            added->menuAction()->setStatusTip(FromProgram(spec.message));
            widgets_->menus[handle] = added;
        } else {
            QAction* action = menu != nullptr ? menu->addAction(Shown(spec.text))
                                              : main->menuBar()->addAction(Shown(spec.text));
            action->setStatusTip(FromProgram(spec.message));
            int32_t field = spec.field_number;
            QObject::connect(action, &QAction::triggered, action,
                             [window, field] { Hand(window, {.kind = InputKind::kCommand, .field = field}); });
        }
        widgets_->control_window[handle] = window;
    });
    return handle;
}

windows::NativeRect QtUi::WindowRect(NativeHandle window) {
    windows::NativeRect rect = HeadlessUi::WindowRect(window);
    if (widgets_->Unbuilt(window))
        return rect;
    widgets_->Run([&] {
        auto it = widgets_->windows.find(window);
        QWidget* shell = widgets_->Shell(window);
        if (shell == nullptr || !it->second.client || shell->isMinimized())
            return;
        // Where the person put it: its place, and the size of its client area.
        QPoint at = shell->pos();
        QSize size = it->second.client->size();
        rect = {at.x(), at.y(), at.x() + size.width(), at.y() + size.height()};
    });
    return rect;
}

void QtUi::DestroyControl(NativeHandle control) {
    HeadlessUi::DestroyControl(control);
    widgets_->Run([&] {
        if (QWidget* widget = widgets_->Control(control)) {
            widget->hide();
            widget->deleteLater();
        }
        widgets_->controls.erase(control);
        widgets_->control_window.erase(control);
        widgets_->on_tab.erase(control);
        widgets_->radios.erase(control);
    });
}

void QtUi::SetControlText(NativeHandle control, const std::string& text) {
    HeadlessUi::SetControlText(control, text);
    widgets_->Run([&] {
        QWidget* widget = widgets_->Control(control);
        if (widget == nullptr)
            return;
        // Menu texts and control captions lose their trailing marks; a value keeps its blanks.
        QString shown = Shown(text);
        if (auto tab = widgets_->tabs.find(control); tab != widgets_->tabs.end())
            tab->second.first->setTabText(tab->second.second, shown);
        else if (auto* label = qobject_cast<QLabel*>(widget)) {
            if (label->pixmap().isNull())   // an IMAGE shows its picture, not a text
                label->setText(shown);
        }
        else if (auto* entry = qobject_cast<QLineEdit*>(widget)) {
            // A value without the blanks that pad it to its picture, so that End goes to its end;
            // the person's own typing stays where it is, only a different value moves the cursor.
            QString value = FromProgram(text);
            while (value.endsWith(' '))
                value.chop(1);
            if (entry->text() != value)
                entry->setText(value);
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            button->setText(shown);
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            group->setTitle(shown);
        else if (auto* spin = qobject_cast<QSpinBox*>(widget))
            spin->setValue(QString::fromStdString(text).trimmed().toInt());
    });
}

void QtUi::SetControlVisible(NativeHandle control, bool visible) {
    HeadlessUi::SetControlVisible(control, visible);
    widgets_->Run([&] {
        QWidget* widget = widgets_->Control(control);
        if (widget == nullptr)
            return;
        if (auto tab = widgets_->tabs.find(control); tab != widgets_->tabs.end()) {
            tab->second.first->setTabVisible(tab->second.second, visible);
            return;
        }
        widget->setProperty("tarvexHidden", !visible);
        widgets_->ShowControl(control, widget);
    });
}

void QtUi::SetControlEnabled(NativeHandle control, bool enabled) {
    HeadlessUi::SetControlEnabled(control, enabled);
    widgets_->Run([&] {
        QWidget* widget = widgets_->Control(control);
        if (widget == nullptr)
            return;
        if (auto tab = widgets_->tabs.find(control); tab != widgets_->tabs.end())
            tab->second.first->setTabEnabled(tab->second.second, enabled);
        else
            widget->setEnabled(enabled);
    });
}

void QtUi::SetControlRect(NativeHandle control, const windows::NativeRect& rect) {
    HeadlessUi::SetControlRect(control, rect);
    widgets_->Run([&] {
        if (QWidget* widget = widgets_->Control(control); widget != nullptr && !widgets_->tabs.count(control))
            widget->setGeometry(rect.left, rect.top, rect.Width(), rect.Height());
    });
}

void QtUi::SetControlFont(NativeHandle control, const windows::FontSpec& font) {
    HeadlessUi::SetControlFont(control, font);
    widgets_->Run([&] {
        QWidget* widget = widgets_->Control(control);
        if (widget == nullptr)
            return;
        widget->setFont(FontOf(font));
        QPalette palette = widget->palette();
        if (std::optional<QColor> colour = ColourOf(font.colour)) {
            palette.setColor(QPalette::WindowText, *colour);
            palette.setColor(QPalette::Text, *colour);
            palette.setColor(QPalette::ButtonText, *colour);
        } else {
            palette = widget->parentWidget() != nullptr ? widget->parentWidget()->palette() : QPalette();
        }
        widget->setPalette(palette);
    });
}

void QtUi::SetControlValue(NativeHandle control, int32_t value) {
    HeadlessUi::SetControlValue(control, value);
    widgets_->Run([&] {
        QWidget* widget = widgets_->Control(control);
        if (widget == nullptr)
            return;
        if (auto* check = qobject_cast<QCheckBox*>(widget)) {
            check->setChecked(value != 0);
        } else if (auto* sheet = qobject_cast<QTabWidget*>(widget)) {
            if (value >= 1 && value <= sheet->count())
                sheet->setCurrentIndex(value - 1);
        } else if (auto* progress = qobject_cast<QProgressBar*>(widget)) {
            progress->setValue(std::clamp(value, progress->minimum(), progress->maximum()));
        } else if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
            QSignalBlocker quiet(spin);
            spin->setValue(value);
        } else if (auto radios = widgets_->radios.find(control); radios != widgets_->radios.end()) {
            // An OPTION shows its chosen RADIO; none chosen clears them all.
            for (size_t i = 0; i < radios->second.size(); i++)
                if (auto* radio = qobject_cast<QRadioButton*>(widgets_->Control(radios->second[i]))) {
                    if (auto* group = radio->group())
                        group->setExclusive(value != 0);
                    radio->setChecked(int32_t(i) + 1 == value);
                    if (auto* group = radio->group())
                        group->setExclusive(true);
                }
        }
    });
}

void QtUi::SetControlRange(NativeHandle control, int32_t low, int32_t high) {
    HeadlessUi::SetControlRange(control, low, high);
    widgets_->Run([&] {
        QWidget* widget = widgets_->Control(control);
        if (auto* progress = qobject_cast<QProgressBar*>(widget))
            progress->setRange(low, std::max(low, high));
        else if (auto* spin = qobject_cast<QSpinBox*>(widget))
            spin->setRange(low, std::max(low, high));
    });
}

void QtUi::SetControlTip(NativeHandle control, const std::string& tip) {
    HeadlessUi::SetControlTip(control, tip);
    widgets_->Run([&] {
        if (QWidget* widget = widgets_->Control(control))
            widget->setToolTip(FromProgram(tip));
    });
}

void QtUi::SetEntryLimit(NativeHandle control, int32_t characters) {
    HeadlessUi::SetEntryLimit(control, characters);
    // Set as the window is built, so queued with its building rather than waited for.
    widgets_->Build([this, control, characters] {
        if (auto* entry = qobject_cast<QLineEdit*>(widgets_->Control(control))) {
            delete entry->validator();
            entry->setValidator(characters > 0 ? new EntryLimit(characters, entry) : nullptr);
        }
    });
}

void QtUi::SetDefaultButton(NativeHandle window, NativeHandle button) {
    HeadlessUi::SetDefaultButton(window, button);
    widgets_->Run([&] {
        auto it = widgets_->windows.find(window);
        if (it == widgets_->windows.end() || !it->second.client)
            return;
        // Enter reaches the runtime, which presses the default button; Qt only marks it.
        for (QPushButton* each : it->second.client->findChildren<QPushButton*>())
            each->setDefault(false);
        if (auto* chosen = qobject_cast<QPushButton*>(widgets_->Control(button)))
            chosen->setDefault(true);
    });
}

void QtUi::SetListView(NativeHandle control, const windows::NativeListView& view) {
    HeadlessUi::SetListView(control, view);
    widgets_->Run([&] {
        if (auto* list = dynamic_cast<ListView*>(widgets_->Control(control)))
            list->Show(view);
    });
}

void QtUi::SetWindowTitle(NativeHandle window, const std::string& title) {
    HeadlessUi::SetWindowTitle(window, title);
    widgets_->Run([&] {
        if (QWidget* shell = widgets_->Shell(window))
            shell->setWindowTitle(FromProgram(title));
    });
}

void QtUi::SetWindowRect(NativeHandle window, const windows::NativeRect& rect) {
    HeadlessUi::SetWindowRect(window, rect);
    // A window still being built is placed in turn with its building, without waiting for it.
    auto place = [this, window, rect] {
        auto it = widgets_->windows.find(window);
        QWidget* shell = widgets_->Shell(window);
        if (shell == nullptr || !it->second.client)
            return;
        QWidget* client = it->second.client;
        shell->move(rect.left, rect.top);
        if (it->second.sub) {
            client->setFixedSize(rect.Width(), rect.Height());
            it->second.sub->adjustSize();
        } else {
            // The frame around the client area (menu bar, status bar) keeps its size.
            QSize around = shell->size() - client->size();
            client->setMinimumSize(0, 0);
            shell->resize(QSize(rect.Width(), rect.Height()) + around);
        }
    };
    if (!widgets_->Unbuilt(window)) {
        widgets_->Run(place);
        return;
    }
    // Not laid out yet: placed as at its creation, its client area sized before it shows.
    widgets_->Build([this, window, rect] {
        auto it = widgets_->windows.find(window);
        QWidget* shell = widgets_->Shell(window);
        if (shell == nullptr || !it->second.client)
            return;
        shell->move(rect.left, rect.top);
        if (it->second.sub)
            it->second.client->setFixedSize(rect.Width(), rect.Height());
        else
            it->second.client->setMinimumSize(rect.Width(), rect.Height());
    });
}

void QtUi::SetWindowState(NativeHandle window, windows::NativeWindowState state) {
    HeadlessUi::SetWindowState(window, state);
    widgets_->Run([&] {
        QWidget* shell = widgets_->Shell(window);
        if (shell == nullptr)
            return;
        switch (state) {
        case windows::NativeWindowState::Maximized: shell->showMaximized(); break;
        case windows::NativeWindowState::Minimized: shell->showMinimized(); break;
        case windows::NativeWindowState::Normal: shell->showNormal(); break;
        }
    });
}

windows::NativeWindowState QtUi::WindowState(NativeHandle window) {
    windows::NativeWindowState state = HeadlessUi::WindowState(window);
    widgets_->Run([&] {
        if (QWidget* shell = widgets_->Shell(window))
            state = shell->isMinimized()   ? windows::NativeWindowState::Minimized
                    : shell->isMaximized() ? windows::NativeWindowState::Maximized
                                           : windows::NativeWindowState::Normal;
    });
    return state;
}

void QtUi::SetStatusText(NativeHandle window, const std::string& text) {
    HeadlessUi::SetStatusText(window, text);
    widgets_->Run([&] {
        auto it = widgets_->windows.find(window);
        if (it != widgets_->windows.end() && it->second.main)
            it->second.main->statusBar()->showMessage(FromProgram(text));
    });
}

void QtUi::SetWindowCursor(NativeHandle window, const std::string& name) {
    HeadlessUi::SetWindowCursor(window, name);
    widgets_->Run([&] {
        QWidget* shell = widgets_->Shell(window);
        if (shell == nullptr)
            return;
        if (std::optional<Qt::CursorShape> shape = CursorShapeOf(name))
            shell->setCursor(*shape);
        else
            shell->unsetCursor();
    });
}

void QtUi::SetApplicationCursor(const std::string& name) {
    HeadlessUi::SetApplicationCursor(name);
    widgets_->Run([&] {
        // One cursor over every window while the program is busy, until it is taken away.
        while (QApplication::overrideCursor() != nullptr)
            QApplication::restoreOverrideCursor();
        if (std::optional<Qt::CursorShape> shape = CursorShapeOf(name))
            QApplication::setOverrideCursor(*shape);
    });
}

int32_t QtUi::PopupMenu(NativeHandle window, const std::vector<windows::NativePopupItem>& items) {
    if (widgets_->scripted)
        return HeadlessUi::PopupMenu(window, items);
    int32_t chosen = 0;
    widgets_->Run([&] {
        QMenu menu(widgets_->Shell(window));
        int32_t number = 0;
        for (const windows::NativePopupItem& item : items) {
            if (item.separator) {
                menu.addSeparator();
                continue;
            }
            QAction* action = menu.addAction(FromProgram(item.text));
            action->setData(++number);
            action->setEnabled(item.enabled);
            action->setCheckable(item.checked);
            action->setChecked(item.checked);
        }
        if (QAction* picked = menu.exec(QCursor::pos()))
            chosen = picked->data().toInt();
    });
    return chosen;
}

void QtUi::SetFocus(NativeHandle window, NativeHandle control) {
    HeadlessUi::SetFocus(window, control);
    widgets_->Run([&] {
        auto it = widgets_->controls.find(control);
        if (it != widgets_->controls.end() && it->second)
            it->second->setFocus(Qt::OtherFocusReason);
    });
}

void QtUi::Beep() {
    HeadlessUi::Beep();
    widgets_->Run([] { QApplication::beep(); });
}

std::unique_ptr<platform::MessageBoxes> QtUi::MessageBoxes() {
    return std::make_unique<QtMessageBoxes>(*widgets_);
}

void QtUi::WindowBuilt(NativeHandle window) {
    widgets_->Build([this, window] { widgets_->whole.insert(window); });
}

bool QtUi::ShowHelp(NativeHandle window, const std::string& file, const std::string& keyword) {
    HeadlessUi::ShowHelp(window, file, keyword);
    bool shown = false;
    widgets_->Run([&] {
        QFile readable(QString::fromStdString(file));
        if (!readable.open(QIODevice::ReadOnly))
            return;
        // One help window for the program, beside the window asking, at the topic's anchor.
        if (widgets_->help.isNull()) {
            widgets_->help = new QTextBrowser;
            widgets_->help->setAttribute(Qt::WA_DeleteOnClose);
            widgets_->help->setOpenExternalLinks(true);
            widgets_->help->resize(560, 480);
            auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), widgets_->help);
            QObject::connect(close, &QShortcut::activated, widgets_->help.data(), &QWidget::close);
        }
        QTextBrowser* browser = widgets_->help;
        QUrl url = QUrl::fromLocalFile(QString::fromStdString(file));
        if (!keyword.empty())
            url.setFragment(FromProgram(keyword));
        browser->setSource(url, QTextDocument::HtmlResource);
        if (!keyword.empty())
            browser->scrollToAnchor(FromProgram(keyword));
        QString title = browser->documentTitle();
        browser->setWindowTitle(title.isEmpty() ? QStringLiteral("Help") : title);
        // Beside the window asking when the screen has room there, else over its middle; always
        // whole on the screen.
        if (QWidget* asking = widgets_->Shell(window); asking != nullptr && !browser->isVisible()) {
            QRect beside = asking->frameGeometry();
            QRect screen = asking->screen()->availableGeometry();
            QRect place(beside.topRight() + QPoint(8, 0), browser->size());
            if (!screen.contains(place))
                place.moveCenter(beside.center());
            place.moveLeft(std::clamp(place.left(), screen.left(), std::max(screen.left(), screen.right() - place.width())));
            place.moveTop(std::clamp(place.top(), screen.top(), std::max(screen.top(), screen.bottom() - place.height())));
            browser->move(place.topLeft());
        }
        browser->show();
        browser->raise();
        browser->activateWindow();
        shown = true;
    });
    return shown;
}

bool QtUi::Screenshot(NativeHandle handle, const std::string& path, std::string& why) {
    bool saved = false;
    widgets_->Run([&] {
        auto it = widgets_->windows.find(handle);
        QWidget* window = it == widgets_->windows.end() ? nullptr
                          : it->second.main            ? static_cast<QWidget*>(it->second.main.data())
                                                       : static_cast<QWidget*>(it->second.sub.data());
        if (window == nullptr) {
            why = "no such window";
            return;
        }
        QApplication::processEvents();
        saved = window->grab().save(QString::fromStdString(path), "PNG");
        if (!saved)
            why = "the picture could not be written to " + path;
    });
    return saved;
}

}  // namespace tarvex::platform::qt

// The entry the runtime looks up when it loads this library for its windows.
extern "C" __attribute__((visibility("default"))) tarvex::windows::NativeUi* TarvexCreateQtUi() {
    auto* ui = new tarvex::platform::qt::QtUi;
    // A scripted run answers message boxes and file dialogs from its queues; a person gets Qt's.
    bool scripted = std::getenv("TARVEX_SCRIPT") != nullptr;
    if (!scripted)
        tarvex::platform::SetMessages(ui->MessageBoxes());
    ui->SetPersonAnswers(!scripted);
    // Reports print through the system's printers, chosen in Qt's print dialog.
    tarvex::report::SetPrinting(tarvex::platform::qt::MakeQtPrinting(!scripted));
    return ui;
}
