// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes pictures: the first line is compiled as a picture text, the rest is deformatted with it
// and also read as values (a long, a real, a decimal text, a day number) that are formatted with
// it. Every output goes into a heap buffer of exactly the destination's width, so a write beyond it
// or a read outside the template is caught by the sanitizer; the descriptor's own invariants are
// checked as well.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "core/picture.h"
#include "core/string_stack.h"
#include "tarvex/decimal.h"
#include "tarvex/pictures.h"
#include "tarvex/string_stack.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

void CheckDescriptor(const tarvex::PicDesc& picture) {
    if (!picture.IsValid()) {
        Check(picture.Width() == 0 && picture.Header() == 0);
        return;
    }
    Check(picture.Width() >= 1 && picture.Width() <= 255);
    Check(picture.PositionCount() <= tarvex::kPicturePositions);
    if (picture.Kind() != tarvex::PictureKind::String) {
        uint32_t shown = 0;
        for (uint32_t i = 0; i < picture.PositionCount(); i++) {
            Check(picture.Position(i).code <= VRN_POS_KEY_BAR);
            if (picture.Position(i).code != VRN_POS_IMPLIED_POINT) shown++;
        }
        Check(shown == picture.Width());
    }
}

// Formats into a buffer of exactly `width` bytes and checks the text's length.
template <class Store>
void FormatInto(uint32_t width, Store store) {
    std::unique_ptr<char[]> buffer(new char[width ? width : 1]);
    uint32_t length = store(buffer.get(), width);
    Check(length <= width);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\n');
    std::string_view picture_text = input.substr(0, split);
    std::string_view text = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    if (text.size() > 400) text = text.substr(0, 400);

    tarvex::PicDesc picture;
    picture.Init(picture_text);
    CheckDescriptor(picture);
    tarvex::PictureCounts counts = picture.Count();
    Check(counts.integer_digits + counts.fraction_digits + counts.grouping + counts.date + counts.time +
              counts.exponent <= picture.PositionCount());

    // Deformat the text with an exact-size copy, so no read past its end goes unnoticed.
    std::unique_ptr<char[]> copy(new char[text.size() ? text.size() : 1]);
    if (!text.empty()) std::memcpy(copy.get(), text.data(), text.size());
    std::string value = picture.DeformatPict(copy.get(), text.size());

    int32_t number = 0;
    if (!text.empty()) std::memcpy(&number, text.data(), text.size() < 4 ? text.size() : 4);
    double real = 0;
    if (text.size() >= 8) std::memcpy(&real, text.data(), 8);
    uint32_t width = picture.Width();
    FormatInto(width, [&](char* out, uint32_t w) { return picture.StoreLong(out, w, number); });
    FormatInto(width, [&](char* out, uint32_t w) { return picture.StoreReal(out, w, real); });
    FormatInto(width, [&](char* out, uint32_t w) { return picture.StoreText(out, w, value); });
    FormatInto(width, [&](char* out, uint32_t w) { return picture.StoreText(out, w, text); });
    FormatInto(width / 2, [&](char* out, uint32_t w) { return picture.StoreLong(out, w, number); });
    // The formatter itself, with arbitrary digit text and integer counts.
    FormatInto(width, [&](char* out, uint32_t w) {
        return picture.FormatPict(out, w, uint32_t(number) % 300, text, (number & 1) != 0);
    });
    Vrn$DPushCString(value.c_str());
    FormatInto(width, [&](char* out, uint32_t w) { return picture.StoreDec(out, w); });

    // The exported forms through the per-thread cache (the picture as a C string ends at a zero
    // byte), and what they leave on the stacks.
    std::string terminated(picture_text.substr(0, picture_text.find('\0')));
    Vrn$PushString(copy.get(), uint32_t(text.size()));
    Vrn$StackFORMAT(terminated.c_str());
    Check(tarvex::PopStdString().size() == uint32_t(Vrn$getpicturewidth(terminated.c_str())));
    Vrn$PushString(copy.get(), uint32_t(text.size()));
    Vrn$StackDEFORMAT(terminated.c_str());
    Vrn$STACKpop();
    Vrn$PushString(copy.get(), uint32_t(text.size()));
    Vrn$DPushStringStackP(terminated.c_str());
    Vrn$PushPictDec(terminated.c_str());
    Vrn$STACKpop();
    Check(Vrw$StackDepth() == 0 && Vrw$DStackDepth() == 0);
    return 0;
}
