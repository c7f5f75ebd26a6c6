// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt backend (qt_ui.h) and the message boxes it shows.
#include "platform/qt/qt_ui.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
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
#include <QPointer>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>

#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "platform/platform.h"
#include "platform/qt/page_painter.h"
#include "platform/qt/qt_printing.h"
#include "tarvex/frame.h"
#include "tarvex/resources.h"
#include "windows/description_format.h"
#include "windows/keys.h"
#include "windows/native_input.h"

namespace tarvex::platform::qt {

using windows::InputKind;
using windows::Kind;
using windows::NativeHandle;
using windows::NativeInput;

namespace {

uint8_t Code(Kind kind) { return static_cast<uint8_t>(kind); }

// A description's text as Qt shows it: menu texts end in blanks and a '|'.
QString Shown(const std::string& text) {
    QString shown = QString::fromStdString(text);
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
    std::map<NativeHandle, QPointer<QWidget>> controls;
    std::map<NativeHandle, QMenu*> menus;
    std::map<NativeHandle, NativeHandle> control_window;
    std::map<NativeHandle, std::pair<QTabWidget*, int>> tabs;   // a TAB: its SHEET and page
    std::map<NativeHandle, NativeHandle> on_tab;                 // a control: the TAB it is on

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

    void Watch(QWidget* widget, int32_t field) {
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
        if (event->type() != QEvent::KeyPress)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        bool extended = false;
        uint32_t code = VirtualKey(key->key(), extended);
        if (code == 0)
            return false;
        int32_t field = watched->property("tarvexField").toInt();
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
            Hand(window, {.kind = InputKind::kText, .field = field, .text = now.toStdString()});
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
    case Kind::Option: case Kind::Group: return new QGroupBox(text, client);
    case Kind::List: case Kind::ListVariant: {
        auto* list = new QTableWidget(client);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->verticalHeader()->hide();
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(list, &QTableWidget::cellClicked, list, [window, field](int row, int) {
            Hand(window, {.kind = InputKind::kListRow, .field = field, .row = row + 1});
        });
        QObject::connect(list, &QTableWidget::cellDoubleClicked, list, [window, field](int row, int) {
            Hand(window, {.kind = InputKind::kButton, .field = field, .code = 1, .double_click = true,
                          .row = row + 1});
        });
        QObject::connect(list, &QTableWidget::customContextMenuRequested, list, [window, field, list](QPoint at) {
            Hand(window, {.kind = InputKind::kButton, .field = field, .code = 2, .row = list->rowAt(at.y()) + 1});
        });
        return list;
    }
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
        for (const char* type : {"ICON", "BITMAP"}) {
            uint32_t size = 0;
            const void* bytes = WslUtil$LoadNamedResource(spec.text.c_str(), type, &size);
            QPixmap picture;
            if (bytes != nullptr && picture.loadFromData(static_cast<const uchar*>(bytes), size)) {
                image->setPixmap(picture);
                WslUtil$FreeResourcePtr(bytes);
                break;
            }
            if (bytes != nullptr)
                WslUtil$FreeResourcePtr(bytes);
        }
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
            box.setWindowTitle(QString::fromStdString(request.caption));
            box.setText(QString::fromStdString(request.text));
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

QtUi::QtUi() : widgets_(std::make_unique<Widgets>()) {
    Widgets* w = widgets_.get();
    w->thread = std::thread([w] {
        static int argc = 1;
        static char name[] = "lumarex";
        static char* argv[] = {name, nullptr};
        QApplication application(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        QObject context;
        {
            std::lock_guard lock(w->mutex);
            w->application = &application;
            w->context = &context;
            w->started = true;
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
            QApplication::quit();
        });
    if (widgets_->thread.joinable())
        widgets_->thread.join();
}

windows::NativeRect QtUi::DesktopRect() {
    windows::NativeRect rect{0, 0, 1024, 768};
    widgets_->Run([&] {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect area = screen->availableGeometry();
            rect = {area.left(), area.top(), area.right() + 1, area.bottom() + 1};
        }
    });
    return rect;
}

int32_t QtUi::DotsPerInchX() {
    int32_t dpi = 96;
    widgets_->Run([&] {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            dpi = int32_t(screen->logicalDotsPerInchX() + 0.5);
    });
    return dpi;
}

int32_t QtUi::DotsPerInchY() {
    int32_t dpi = 96;
    widgets_->Run([&] {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            dpi = int32_t(screen->logicalDotsPerInchY() + 0.5);
    });
    return dpi;
}

windows::FontMetrics QtUi::Measure(const windows::FontSpec& font) {
    windows::FontMetrics metrics;
    widgets_->Run([&] {
        QFontMetrics measured(FontOf(font));
        // The average width of the letters, as dialog units are reckoned.
        int width = measured.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        metrics = {int32_t((width / 26 + 1) / 2), int32_t(measured.height())};
    });
    return metrics;
}

windows::NativeHandle QtUi::CreateWindow(const windows::NativeWindowSpec& spec) {
    NativeHandle handle = HeadlessUi::CreateWindow(spec);
    if (handle == 0)
        return 0;
    widgets_->Run([&] {
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
            window.sub->setWindowTitle(QString::fromStdString(spec.title));
            window.sub->setAttribute(Qt::WA_DeleteOnClose, false);
            window.sub->installEventFilter(filter);
            window.sub->move(spec.rect.left, spec.rect.top);
            filter->setParent(window.sub);
            window.sub->show();
        } else {
            auto* main = new TopWindow(handle);
            client = new QWidget;
            main->setCentralWidget(client);
            main->setWindowTitle(QString::fromStdString(spec.title));
            main->setFont(FontOf(spec.font));
            main->statusBar()->setSizeGripEnabled((spec.style & windows::kStyleThickFrame) != 0);
            client->setMinimumSize(spec.rect.Width(), spec.rect.Height());
            main->move(spec.rect.left, spec.rect.top);
            filter->setParent(main);
            window.main = main;
            if (spec.style & windows::kStyleOpenMaximized)
                main->showMaximized();
            else if (spec.style & windows::kStyleOpenMinimized)
                main->showMinimized();
            else
                main->show();
        }
        client->setFont(FontOf(spec.font));
        window.client = client;
        window.filter = filter;
        widgets_->windows[handle] = window;
    });
    return handle;
}

void QtUi::DestroyWindow(NativeHandle handle) {
    HeadlessUi::DestroyWindow(handle);
    widgets_->Run([&] {
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
    widgets_->Run([&] {
        auto it = widgets_->windows.find(window);
        if (it == widgets_->windows.end() || !it->second.client)
            return;
        Widgets::Window& w = it->second;
        QWidget* control = MakeControl(spec, w.client, window);
        control->setGeometry(spec.rect.left, spec.rect.top, spec.rect.Width(), spec.rect.Height());
        if (spec.flags & windows::kControlDisabled)
            control->setEnabled(false);
        if (w.filter != nullptr)
            static_cast<InputFilter*>(w.filter)->Watch(control, spec.field_number);
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
    widgets_->Run([&] {
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
            widgets_->menus[handle] = added;
        } else {
            QAction* action = menu != nullptr ? menu->addAction(Shown(spec.text))
                                              : main->menuBar()->addAction(Shown(spec.text));
            int32_t field = spec.field_number;
            QObject::connect(action, &QAction::triggered, action,
                             [window, field] { Hand(window, {.kind = InputKind::kCommand, .field = field}); });
        }
        widgets_->control_window[handle] = window;
    });
    return handle;
}

void QtUi::SetControlText(NativeHandle control, const std::string& text) {
    HeadlessUi::SetControlText(control, text);
    widgets_->Run([&] {
        auto it = widgets_->controls.find(control);
        if (it == widgets_->controls.end() || !it->second)
            return;
        QWidget* widget = it->second;
        QString shown = Shown(text);
        if (auto* label = qobject_cast<QLabel*>(widget))
            label->setText(shown);
        else if (auto* entry = qobject_cast<QLineEdit*>(widget))
            entry->setText(shown);
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            button->setText(shown);
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            group->setTitle(shown);
    });
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
    // A scripted run answers message boxes from its queue; a person gets them from Qt.
    bool scripted = std::getenv("TARVEX_SCRIPT") != nullptr;
    if (!scripted)
        tarvex::platform::SetMessages(ui->MessageBoxes());
    // Reports print through the system's printers, chosen in Qt's print dialog.
    tarvex::report::SetPrinting(tarvex::platform::qt::MakeQtPrinting(!scripted));
    return ui;
}
