// SPDX-License-Identifier: GPL-3.0-or-later
#include "shared/window_positions.h"

#include <cstdlib>
#include <string>

#include "tarvex/controls.hpp"
#include "tarvex/program.hpp"

namespace lumarex {

namespace {

using tarvex::FieldProperty;

std::string Read(const char* section, const char* key, const char* default_value = "") {
    tarvex::GETINI(section, key, default_value, kPositionsFile).Push();
    return tarvex::files_detail::PopText();
}

int32_t ReadNumber(const char* section, const char* key) {
    return int32_t(std::strtol(Read(section, key, "0").c_str(), nullptr, 10));
}

void Write(const char* section, const char* key, const std::string& value) {
    tarvex::PUTINI(section, key, value.c_str(), kPositionsFile);
}

}  // namespace

void RestoreWindowPosition(VrnWindowObject* window, const char* section) {
    tarvex::Target w(window);
    int32_t x = ReadNumber(section, "XPosit");
    if (x == 0)
        return;
    auto place = [&] {
        int32_t y = ReadNumber(section, "YPosit");
        if (y == 0)
            return;
        if (w[{0, VRN_PROP_RESIZABLE}].Number() != 0) {
            int32_t width = ReadNumber(section, "Width");
            int32_t height = ReadNumber(section, "Height");
            if (width == 0 || height == 0)
                return;
            w[{0, VRN_PROP_WIDTH}] = width;
            w[{0, VRN_PROP_HEIGHT}] = height;
        }
        w[{0, VRN_PROP_X_POS}] = x;
        w[{0, VRN_PROP_Y_POS}] = y;
    };
    bool opened_maximised = w[{0, VRN_PROP_MAXIMIZED}].Number() != 0;
    if (!opened_maximised)
        place();
    bool maximise = Read(section, "Maximize") == "Yes";
    w[{0, VRN_PROP_MAXIMIZED}] = maximise ? 1 : 0;
    // A window that opens maximised but was left restored goes back where it was left, not only
    // to where its description puts it.
    if (opened_maximised && !maximise)
        place();
}

void SaveWindowPosition(VrnWindowObject* window, const char* section) {
    tarvex::Target w(window);
    bool maximised = w[{0, VRN_PROP_MAXIMIZED}].Number() != 0;
    w[{0, VRN_PROP_MAXIMIZED}] = 0;
    if (w[{0, VRN_PROP_MINIMIZED}].Number() != 0)
        return;
    Write(section, "Maximize", maximised ? "Yes" : "No");
    Write(section, "XPosit", w[{0, VRN_PROP_X_POS}].Text());
    Write(section, "YPosit", w[{0, VRN_PROP_Y_POS}].Text());
    Write(section, "Width", w[{0, VRN_PROP_WIDTH}].Text());
    Write(section, "Height", w[{0, VRN_PROP_HEIGHT}].Text());
}

}  // namespace lumarex
