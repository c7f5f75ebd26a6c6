// SPDX-License-Identifier: GPL-3.0-or-later
// The exported operations on dynamic values: creation, stack moves, assignment (also through
// reference variables), comparison, selection, release, CLEAR, deep assignment between groups,
// WHAT, memory images and NEW/DISPOSE storage. A null Ufo is read as nothing: empty, 0.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "core/ufo.h"
#include "tarvex/frame.h"

using namespace tarvex;

namespace {

Ufo* NewFreeValueLike(Ufo* source) {
    int type = source->BaseType();
    if (IsStringType(type)) return new StrValueUfo(std::string());
    if (Vrn$TypeClass(type) == VRN_CLASS_INTEGER) return new ValueUfo(0);
    return new ValueUfo(0.0);
}

void Release(Ufo* value) {
    if (!value) return;
    value->Free();
    delete value;
}

// The part of a label after its last ":" ("PAT:LNAME" -> "LNAME").
std::string_view ShortName(const char* label) {
    if (!label) return {};
    std::string_view text(label);
    size_t colon = text.rfind(':');
    return colon == std::string_view::npos ? text : text.substr(colon + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size() || a.empty()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

void AssignField(GroupUfo* destination, int32_t destination_field, GroupUfo* source, int32_t source_field) {
    std::unique_ptr<Ufo> to(destination->Select(destination_field));
    std::unique_ptr<Ufo> from(source->Select(source_field));
    if (!to || !from) return;
    if (to->Type() == VRN_TYPE_ARRAY || from->Type() == VRN_TYPE_ARRAY) {
        int32_t count = std::min(to->Type() == VRN_TYPE_ARRAY ? to->Max() : 1, from->Type() == VRN_TYPE_ARRAY ? from->Max() : 1);
        for (int32_t i = 1; i <= count; i++) {
            std::unique_ptr<Ufo> a(to->Type() == VRN_TYPE_ARRAY ? to->Select(i) : to->AClone());
            std::unique_ptr<Ufo> b(from->Type() == VRN_TYPE_ARRAY ? from->Select(i) : from->AClone());
            AssignUfoValue(a.get(), b.get());
        }
        return;
    }
    AssignUfoValue(to.get(), from.get());
}

void* NewMemory(uint32_t size, int fill) {
    void* block = std::malloc(size ? size : 1);
    if (!block) {
        Vrn$seterror(8);
        return nullptr;
    }
    std::memset(block, fill, size ? size : 1);
    return block;
}

}  // namespace

extern "C" {

// ---- Creation ------------------------------------------------------------------------------------------

TARVEX_API Ufo* Vrn$Mem2Ufo(void* address, int32_t type, uint32_t places, uint32_t size, int32_t flag) {
    (void)flag;
    uint32_t natural = Vrn$TypeSize(type);
    Ufo* value = NewMemoryUfo(address, type, places, natural ? natural : size);
    if (!value) {
        Vrn$rterr(501, "String Stack Error");
        __e_no_return();
    }
    return value;
}

TARVEX_API Ufo* Vrn$Group2Ufo(void* address, const VrnTypeDesc* type) {
    if (!type) return new GroupUfo(address, 0, nullptr, 0, 0);
    return new GroupUfo(address, type->size, type->fields, type->fields ? type->field_count : 0, 0);
}

TARVEX_API Ufo* Vrn$ArrayOfUfo(Ufo* element, uint32_t count) {
    if (!element) return nullptr;
    return new ArrayUfo(element, count);
}

TARVEX_API Ufo* Vrn$Long2Ufo(int32_t value) { return new ValueUfo(value); }
TARVEX_API Ufo* Vrn$Real2Ufo(double value) { return new ValueUfo(value); }

TARVEX_API Ufo* Vrn$Stack2Ufo(void) {
    auto* value = new ValueUfo(0);
    value->Pop();
    return value;
}

TARVEX_API Ufo* Vrn$DStack2Ufo(void) {
    auto* value = new ValueUfo(0);
    value->DPop();
    return value;
}

TARVEX_API void Vrn$Stack2UfoC(Ufo* value) {
    if (value) {
        value->Pop();
    } else {
        Vrn$STACKpop();
    }
}

TARVEX_API Ufo* Vrn$PictureUfo(Ufo* value, const char* picture) {
    if (!value) return nullptr;
    int type = value->BaseType();
    Ufo* inner = value->AClone();
    if (!inner) return nullptr;
    if (IsStringType(type)) return new PictureUfoS(inner, picture);
    if (IsDecimalType(type)) return new PictureUfoD(inner, picture);
    if (Vrn$TypeClass(type) == VRN_CLASS_INTEGER) return new PictureUfoL(inner, picture);
    return new PictureUfoR(inner, picture);
}

TARVEX_API Ufo* Vrn$Picture2Ufo(Ufo* value, const char* picture) {
    Ufo* shown = Vrn$PictureUfo(value, picture);
    Release(value);
    return shown;
}

TARVEX_API Ufo* Vrn$ComputedUfo(VrnComputePush push, void* node) { return new ComputedUfo(push, node); }

TARVEX_API Ufo* Vrn$WHAT(void* record, const VrnTypeDesc* type, int32_t number) {
    if (!record || !type || !type->fields || number < 1 || static_cast<uint32_t>(number) > type->field_count) {
        return nullptr;
    }
    return FieldUfo(static_cast<uint8_t*>(record), type->size, 0, type->fields, type->field_count,
                    static_cast<uint32_t>(number) - 1);
}

TARVEX_API Ufo* Vrn$WHATqueue(QueueDecl* queue, int32_t number) {
    if (!queue) {
        Vrn$seterror(7);
        return nullptr;
    }
    return Vrn$WHAT(queue->buffer, queue->type, number);
}

// ---- Values ----------------------------------------------------------------------------------------------

TARVEX_API void Vrn$PushUfo(Ufo* value) {
    if (value) {
        value->Push();
    } else {
        Vrn$PushString("", 0);
    }
}

TARVEX_API int32_t Vrn$Ufo2Long(Ufo* value) { return value ? value->Long() : 0; }
TARVEX_API double Vrn$Ufo2Real(Ufo* value) { return value ? value->Real() : 0.0; }
TARVEX_API uint32_t Vrn$SizeUfo(Ufo* value) { return value ? value->Size() : 0; }
TARVEX_API int32_t Vrn$TypeUfo(Ufo* value) { return value ? value->Type() : 0; }

TARVEX_API int32_t Vrn$IsUfoString(Ufo* value) {
    if (!value) return 0;
    int type = value->Type();
    return (type >= VRN_TYPE_STRING && type <= VRN_TYPE_PSTRING) ||
           (type >= VRN_TYPE_STRING_REFERENCE && type <= VRN_TYPE_PSTRING_REFERENCE);
}

// ---- Assignment ------------------------------------------------------------------------------------------

TARVEX_API void Vrn$AssignUfo(Ufo* destination, Ufo* source) {
    if (!destination) return;
    if (source) {
        destination->Assign(source);
    } else {
        destination->Clear(0);
    }
}

TARVEX_API void Vrn$AssignLong2Ufo(Ufo* destination, int32_t value) {
    if (destination) destination->Assign(value);
}

TARVEX_API void Vrn$AssignReal2Ufo(Ufo* destination, double value) {
    if (destination) destination->Assign(value);
}

TARVEX_API void Vrn$AssignRefUfo(Ufo** reference, Ufo* source) {
    if (!reference || !source) return;
    if (!*reference) *reference = NewFreeValueLike(source);
    (*reference)->Assign(source);
}

TARVEX_API void Vrn$AssignLong2RefUfo(Ufo** reference, int32_t value) {
    if (!reference) return;
    if (!*reference) *reference = new ValueUfo(0);
    (*reference)->Assign(value);
}

TARVEX_API void Vrn$AssignReal2RefUfo(Ufo** reference, double value) {
    if (!reference) return;
    if (!*reference) *reference = new ValueUfo(0.0);
    (*reference)->Assign(value);
}

TARVEX_API void Vrn$RefAssignAny(Ufo** reference, Ufo* source) {
    if (!reference) return;
    Ufo* clone = source ? source->AClone() : nullptr;
    Release(*reference);
    *reference = clone;
}

// ---- Comparison -----------------------------------------------------------------------------------------

TARVEX_API int32_t Vrn$UfoCompareN(Ufo* value) { return value && !value->Cleared() ? 1 : 0; }

TARVEX_API int32_t Vrn$Ufodistinct(Ufo* a, Ufo* b) {
    if (a && b) return a->Distincts(b);
    if (a) return a->Distincts(0);
    if (b) return -b->Distincts(0);
    return 0;
}

TARVEX_API int32_t Vrn$Ufodistincti(Ufo* a, int32_t b) {
    if (a) return a->Distincts(b);
    return b > 0 ? -1 : (b < 0 ? 1 : 0);
}

TARVEX_API double Vrn$UfoRealDiff(Ufo* a, Ufo* b) { return Vrn$Ufo2Real(a) - Vrn$Ufo2Real(b); }

// ---- Selection ---------------------------------------------------------------------------------------------

TARVEX_API Ufo* Vrn$SelectUfo(Ufo* value, int32_t index) { return value ? value->Select(index) : nullptr; }
TARVEX_API Ufo* Vrn$SelectUfo2(Ufo* value, int32_t from, int32_t to) { return value ? value->Select(from, to) : nullptr; }
TARVEX_API Ufo* Vrn$DesignateUfo(Ufo* value) { return value ? value->Designate() : nullptr; }
TARVEX_API void* Vrn$AddressUfo(Ufo* value) { return value ? value->Address() : nullptr; }

// ---- Copies, release and CLEAR ------------------------------------------------------------------------

TARVEX_API Ufo* Vrn$CloneUfo(Ufo* value) { return value ? value->AClone() : nullptr; }
TARVEX_API void Vrn$FreeUfo(Ufo* value) { Release(value); }

TARVEX_API void Vrn$FreeUpUfo(Ufo** variable) {
    if (!variable) return;
    Release(*variable);
    *variable = nullptr;
}

TARVEX_API void Vrn$ClearUfo(Ufo* value, int32_t how) {
    if (value) value->Clear(how);
}

TARVEX_API void Vrn$DeepAssign(Ufo* destination, Ufo* source, const int32_t* map) {
    auto* to = dynamic_cast<GroupUfo*>(destination);
    auto* from = dynamic_cast<GroupUfo*>(source);
    if (!to || !from) return;
    if (map) {
        for (const int32_t* pair = map; pair[0] != 0 && pair[1] != 0; pair += 2) AssignField(to, pair[0], from, pair[1]);
        return;
    }
    for (uint32_t i = 0; i < to->FieldCount(); i++) {
        const VrnFieldDesc& field = to->Fields()[i];
        if (field.type == VRN_TYPE_GROUP) continue;   // groups are reached through their members
        std::string_view name = ShortName(field.label);
        for (uint32_t j = 0; j < from->FieldCount(); j++) {
            const VrnFieldDesc& other = from->Fields()[j];
            if (other.type != VRN_TYPE_GROUP && SameName(name, ShortName(other.label))) {
                AssignField(to, static_cast<int32_t>(i + 1), from, static_cast<int32_t>(j + 1));
                break;
            }
        }
    }
}

// ---- Memory images ----------------------------------------------------------------------------------------

TARVEX_API void Vrn$UfoToMem(Ufo* value, VrnVmem* image) {
    if (value && image) value->ToMem(image);
}

TARVEX_API void Vrn$UfoFromMem(Ufo* value, VrnVmem* image) {
    if (value && image) value->FromMem(image);
}

TARVEX_API void Vrn$UfoOldFromMem(Ufo* value, VrnVmem* image) {
    if (value && image) value->OldFromMem(image);
}

TARVEX_API void Vrn$VmemFree(VrnVmem* image) {
    if (!image) return;
    std::free(image->data);
    *image = VrnVmem{nullptr, 0, 0, 0};
}

// ---- NEW and DISPOSE -------------------------------------------------------------------------------------

TARVEX_API void* Vrn$NewMemT(uint32_t size) { return NewMemory(size, 0); }
TARVEX_API void* Vrn$NewMemB(uint32_t size) { return NewMemory(size, ' '); }
TARVEX_API void* Vrn$NewMemZ(uint32_t size) { return NewMemory(size, 0); }
TARVEX_API void Vrn$DISPOSEref(void* block) { std::free(block); }

TARVEX_API void Vrn$DISPOSEvref(void** variable) {
    if (!variable) return;
    std::free(*variable);
    *variable = nullptr;
}

}  // extern "C"
