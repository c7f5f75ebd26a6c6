// SPDX-License-Identifier: GPL-3.0-or-later
// The system object (property target -4): what belongs to the whole program rather than to one
// window. Its one property is the cursor the program shows over all its windows while it is busy
// (0x7C61): a program sets the wait cursor before a long refresh or a transaction, and writes back
// what it read before to restore it. Other numbers read empty and write nothing.
#include "windows/controls.h"
#include "windows/properties.h"

namespace tarvex::windows {

namespace {

class SystemProperties : public PropertyObject {
public:
    std::optional<std::string> GetProperty(int32_t number) override {
        if (number == kPropCursor)
            return cursor_;
        return PropertyObject::GetProperty(number);
    }

    bool SetProperty(int32_t number, std::string_view value) override {
        if (number != kPropCursor)
            return PropertyObject::SetProperty(number, value);
        // A saved cursor comes back from a padded string variable: blanks alone are no cursor,
        // and hand each window its own cursor back.
        size_t end = value.find_last_not_of(' ');
        cursor_ = end == std::string_view::npos ? std::string() : std::string(value.substr(0, end + 1));
        Ui().SetApplicationCursor(cursor_);
        return true;
    }

private:
    std::string cursor_;
};

}  // namespace

PropertyObject& SystemObject() {
    static SystemProperties system;
    return system;
}

}  // namespace tarvex::windows
