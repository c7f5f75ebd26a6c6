// SPDX-License-Identifier: GPL-3.0-or-later
// What every driver does the same way around an operation (driver_dispatch.h).
#include "common/driver_dispatch.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"

namespace lumarex::drivers {

std::string Trimmed(std::string_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\0'))
        begin++;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\0'))
        end--;
    return std::string(text.substr(begin, end - begin));
}

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

void Post(int32_t code) {
    if (code == 0)
        Vrn$clearerror();
    else
        Vrn$seterror(code);
}

size_t ArgumentCount(int32_t operation) {
    switch (operation) {
    case VRN_OP_BLOB_YIELD:
    case VRN_OP_BLOB_TAKE:
        return 3;
    case VRN_OP_GET_KEY_POINTER:
    case VRN_OP_SET_KEY_KEY:
    case VRN_OP_SET_KEY_POINTER:
    case VRN_OP_SET_KEY_KEY_POINTER:
    case VRN_OP_GET_FILE_POINTER_LENGTH:
    case VRN_OP_PUT_POINTER_LENGTH:
    case VRN_OP_NULL:
    case VRN_OP_SETNULL:
    case VRN_OP_SETNONULL:
    case VRN_OP_SET_PROPERTY_KEY:
    case VRN_OP_GET_PROPERTY_KEY:
    case VRN_OP_DO_PROPERTY_KEY:
        return 2;
    case VRN_OP_OPEN:
    case VRN_OP_SHARE:
    case VRN_OP_GET_FILE_POINTER:
    case VRN_OP_HOLD_SECONDS:
    case VRN_OP_LOCK_SECONDS:
    case VRN_OP_SET_FILE_POINTER:
    case VRN_OP_SKIP:
    case VRN_OP_ADD_LENGTH:
    case VRN_OP_PUT_POINTER:
    case VRN_OP_APPEND_LENGTH:
    case VRN_OP_SET_PROPERTY:
    case VRN_OP_GET_PROPERTY:
    case VRN_OP_SET_VIEW:
    case VRN_OP_CLEAR:
    case VRN_OP_RESET_VIEW_FILE:
    case VRN_OP_BLOB_SIZE:
    case VRN_OP_BLOB_SET_PROPERTY:
    case VRN_OP_BLOB_GET_PROPERTY:
    case VRN_OP_DO_PROPERTY_BLOB:
        return 1;
    default:
        return _drv_OperationTakesKey(operation) ? 1 : 0;
    }
}

void PushText(const std::string& text) {
    char* block = static_cast<char*>(std::malloc(text.size() + 1));
    if (block != nullptr)
        std::memcpy(block, text.c_str(), text.size() + 1);
    Vrn$PushTemp(block, block != nullptr ? uint32_t(text.size()) : 0);
}

std::string PopText() {
    VrnStringPair pair{nullptr, 0};
    Vrn$PopTemp(&pair);
    std::string text(pair.address != nullptr ? pair.address : "", pair.length);
    Vrn$freestr(&pair);
    return text;
}

int KeyIndex(const FileDecl* file, const KeyDecl* key) {
    for (uint32_t k = 0; k < file->key_count; k++)
        if (file->keys[k] == key)
            return int(k);
    return -1;
}

std::string Send(SendOptions* options, const std::string& command) {
    size_t equals = command.find('=');
    std::string name = Lower(Trimmed(std::string_view(command).substr(0, equals)));
    bool setting = equals != std::string::npos;
    std::string value = setting ? Lower(Trimmed(std::string_view(command).substr(equals + 1))) : "";
    if (name == "quickscan") {
        if (setting && value != "on" && value != "off")
            return "";
        if (setting)
            options->quickscan = value;
        return options->quickscan;
    }
    if (name == "recover") {
        if (setting && (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos))
            return "";
        if (setting)
            options->recover = std::stoll(value);
        return std::to_string(options->recover);
    }
    return "";
}

} // namespace lumarex::drivers
