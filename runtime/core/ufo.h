// SPDX-License-Identifier: GPL-3.0-or-later
// The dynamic-value class family. Virtual operations keep the slot order of the family's table;
// the base class answers every operation a class does not support with run-time error 410.
//
//   Ufo                   abstract
//   VarUfo                a value in program memory: address and size
//     ByteUfo ... LongUfo, UlongUfo, DateUfo, TimeUfo      integers     (IntegerUfo<T, code>)
//     FloatUfo, RealUfo, Bfloat4Ufo, Bfloat8Ufo             floating     (FloatingUfo<code>)
//     DecimalUfo, PdecimalUfo                               packed decimals
//     StringUfo, CstringUfo, PstringUfo                     strings
//     GroupUfo                                              a GROUP: one string, fields by number
//     ArrayUfo                                              elements of another Ufo's type
//     RefUfo                                                a reference variable holding a Ufo*
//     PictureUfoS, PictureUfoR, PictureUfoD, PictureUfoL    a value shown through a picture
//   ValueUfo              a free-standing LONG or REAL
//   StrValueUfo           a free-standing string
//   ComputedUfo           the value of a parsed expression
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tarvex/decimal.h"
#include "tarvex/string_stack.h"
#include "tarvex/values.h"

struct Ufo {
    virtual ~Ufo() = default;
    virtual void Assign(int32_t value);                   // 0
    virtual void Assign(double value);                    // 1
    virtual void Assign(Ufo* other);                      // 2
    virtual int Distincts(Ufo* other);                    // 3
    virtual int Distincts(int32_t value);                 // 4
    virtual int Type();                                   // 5
    virtual void ToMem(VrnVmem* image);                   // 6
    virtual void FromMem(VrnVmem* image);                 // 7
    virtual void OldFromMem(VrnVmem* image);              // 8
    virtual void Pop();                                   // 9
    virtual void Push();                                  // 10
    virtual void DPop();                                  // 11
    virtual void DPush();                                 // 12
    virtual double Real();                                // 13
    virtual int32_t Long();                               // 14
    virtual void Free();                                  // 15
    virtual void Clear(int32_t how);                      // 16
    virtual void* Address();                              // 17
    virtual Ufo* AClone();                                // 18
    virtual Ufo* Select(int32_t index);                   // 19
    virtual Ufo* Select(int32_t from, int32_t to);        // 20
    virtual Ufo* Designate();                             // 21
    virtual int32_t Max();                                // 22
    virtual uint32_t Size();                              // 23
    virtual int BaseType();                               // 24
    virtual bool Cleared();                               // 25
    virtual bool Null();                                  // 26
    virtual void OemToAnsi();                             // 27 OEMANSITRANS
    virtual void AnsiToOem();                             // 28 ANSIOEMTRANS
    virtual void Bind();                                  // 29
    virtual void Add(Ufo* other);                         // 30
    virtual void Divide(Ufo* other);                      // 31
    virtual void SetAddress(void* address);               // 32
};

namespace tarvex {

// Run-time error 410 for an operation the class does not support.
void UnsupportedOperation();

// The shared rules of comparison and assignment between any two values.
int CompareUfos(Ufo* a, Ufo* b);
void AssignUfoValue(Ufo* destination, Ufo* source);
bool IsDecimalType(int type);
bool IsStringType(int type);   // string class: STRING, CSTRING, PSTRING, GROUP, ...

// Memory image helpers.
void VmemWrite(VrnVmem* image, const void* bytes, uint32_t length);
bool VmemRead(VrnVmem* image, void* bytes, uint32_t length);

class VarUfo : public Ufo {
public:
    VarUfo(void* address, uint32_t size) : address_(static_cast<uint8_t*>(address)), size_(size) {}
    using Ufo::Assign;
    using Ufo::Distincts;
    void Free() override {}   // the storage is the program's
    void* Address() override { return address_; }
    uint32_t Size() override { return size_; }
    int BaseType() override { return Type(); }
    bool Null() override { return false; }
    void Clear(int32_t how) override;
    void ToMem(VrnVmem* image) override;
    void FromMem(VrnVmem* image) override;
    void OldFromMem(VrnVmem* image) override;
    void SetAddress(void* address) override { address_ = static_cast<uint8_t*>(address); }
    void Assign(Ufo* other) override { AssignUfoValue(this, other); }
    int Distincts(Ufo* other) override { return CompareUfos(this, other); }
    uint8_t Places() const { return places_; }

protected:
    uint8_t* address_;
    uint32_t size_;
    uint8_t places_ = 0;
};

// Numbers: the stack moves, comparison and arithmetic shared by integers, floats and decimals.
class NumberUfo : public VarUfo {
public:
    using VarUfo::VarUfo;
    using VarUfo::Assign;
    using VarUfo::Distincts;
    int Distincts(int32_t value) override;
    bool Cleared() override { return Real() == 0.0; }
    void Add(Ufo* other) override;
    void Divide(Ufo* other) override;
};

template <class T, uint8_t Code>
class IntegerUfo : public NumberUfo {
public:
    explicit IntegerUfo(void* address) : NumberUfo(address, sizeof(T)) {}
    using NumberUfo::Assign;
    int Type() override { return Code; }
    T Value() const;
    void Store(T value);
    void Assign(int32_t value) override { Store(static_cast<T>(value)); }
    void Assign(double value) override;
    void Push() override;
    void Pop() override;
    void DPush() override;
    void DPop() override;
    double Real() override { return static_cast<double>(Value()); }
    int32_t Long() override { return static_cast<int32_t>(Value()); }
    Ufo* AClone() override { return new IntegerUfo(address_); }
};

using ByteUfo = IntegerUfo<uint8_t, VRN_TYPE_BYTE>;
using ShortUfo = IntegerUfo<int16_t, VRN_TYPE_SHORT>;
using UshortUfo = IntegerUfo<uint16_t, VRN_TYPE_USHORT>;
using DateUfo = IntegerUfo<int32_t, VRN_TYPE_DATE>;
using TimeUfo = IntegerUfo<int32_t, VRN_TYPE_TIME>;
using LongUfo = IntegerUfo<int32_t, VRN_TYPE_LONG>;
using UlongUfo = IntegerUfo<uint32_t, VRN_TYPE_ULONG>;

template <uint8_t Code>
class FloatingUfo : public NumberUfo {
public:
    explicit FloatingUfo(void* address);
    using NumberUfo::Assign;
    int Type() override { return Code; }
    double Real() override;
    void Assign(double value) override;
    void Assign(int32_t value) override { Assign(static_cast<double>(value)); }
    int32_t Long() override;
    void Push() override { Vrn$PushReal(Real()); }
    void Pop() override { Assign(Vrn$PopReal()); }
    void DPush() override { Vrn$DPushReal(Real()); }
    void DPop() override { Assign(Vrn$DPopReal()); }
    Ufo* AClone() override { return new FloatingUfo(address_); }
};

using FloatUfo = FloatingUfo<VRN_TYPE_SREAL>;
using RealUfo = FloatingUfo<VRN_TYPE_REAL>;
using Bfloat4Ufo = FloatingUfo<VRN_TYPE_BFLOAT4>;
using Bfloat8Ufo = FloatingUfo<VRN_TYPE_BFLOAT8>;

template <uint8_t Code>
class PackedUfo : public NumberUfo {
public:
    PackedUfo(void* address, uint32_t size, uint32_t places) : NumberUfo(address, size) {
        places_ = static_cast<uint8_t>(places);
    }
    using NumberUfo::Assign;
    int Type() override { return Code; }
    void Assign(int32_t value) override {
        Vrn$DPushLong(value);
        DPop();
    }
    void Assign(double value) override {
        Vrn$DPushReal(value);
        DPop();
    }
    void Push() override {
        DPush();
        Vrn$DStack2Stack();
    }
    void Pop() override {
        Vrn$Stack2DStack();
        DPop();
    }
    void DPush() override;
    void DPop() override;
    double Real() override {
        DPush();
        return Vrn$DPopReal();
    }
    int32_t Long() override {
        DPush();
        return Vrn$DPopLong();
    }
    bool Cleared() override {
        DPush();
        return Vrn$DecCompareN() == 0;
    }
    Ufo* AClone() override { return new PackedUfo(address_, size_, places_); }
};

using DecimalUfo = PackedUfo<VRN_TYPE_DECIMAL>;
using PdecimalUfo = PackedUfo<VRN_TYPE_PDECIMAL>;

// A value read as its text: numbers come from the text through the string stack.
template <class Base>
class TextValued : public Base {
public:
    using Base::Base;
    void DPush() override {
        this->Push();
        Vrn$Stack2DStack();
    }
    double Real() override {
        this->Push();
        return Vrn$PopReal();
    }
    int32_t Long() override {
        this->Push();
        return Vrn$PopLong();
    }
};

// Strings. A STRING's text is its whole storage; a CSTRING's runs to its zero byte; a PSTRING's is
// its length byte's count.
class StringUfo : public TextValued<VarUfo> {
public:
    StringUfo(void* address, uint32_t size, int type = VRN_TYPE_STRING)
        : TextValued<VarUfo>(address, size), type_(type) {}
    using VarUfo::Assign;
    using VarUfo::Distincts;
    int Type() override { return type_; }
    void Assign(int32_t value) override {
        Vrn$PushLong(value);
        Pop();
    }
    void Assign(double value) override {
        Vrn$PushReal(value);
        Pop();
    }
    int Distincts(int32_t value) override;
    void Push() override;
    void Pop() override;
    void DPop() override {
        Vrn$DStack2Stack();
        Pop();
    }
    bool Cleared() override;
    Ufo* AClone() override { return new StringUfo(address_, size_, type_); }
    Ufo* Select(int32_t index) override { return Select(index, index); }
    Ufo* Select(int32_t from, int32_t to) override;
    void OemToAnsi() override;
    void AnsiToOem() override;

protected:
    // Where the text lies and how long it is.
    uint8_t* Text() const;
    uint32_t TextLength() const;
    int type_;
};

class CstringUfo : public StringUfo {
public:
    CstringUfo(void* address, uint32_t size) : StringUfo(address, size, VRN_TYPE_CSTRING) {}
    Ufo* AClone() override { return new CstringUfo(address_, size_); }
};

class PstringUfo : public StringUfo {
public:
    PstringUfo(void* address, uint32_t size) : StringUfo(address, size, VRN_TYPE_PSTRING) {}
    Ufo* AClone() override { return new PstringUfo(address_, size_); }
};

// A GROUP: its storage is one STRING; its fields are the descriptor entries [fields, fields +
// count), whose offsets are measured from `base_offset` bytes before the group.
class GroupUfo : public StringUfo {
public:
    GroupUfo(void* address, uint32_t size, const VrnFieldDesc* fields, uint32_t count, uint32_t base_offset)
        : StringUfo(address, size, VRN_TYPE_GROUP), fields_(fields), count_(count), base_offset_(base_offset) {}
    using StringUfo::Select;
    Ufo* Select(int32_t index) override;
    int32_t Max() override { return static_cast<int32_t>(count_); }
    void Clear(int32_t how) override;
    // Binds every labelled field for EVALUATE under its label without the prefix.
    void Bind() override;
    Ufo* AClone() override { return new GroupUfo(address_, size_, fields_, count_, base_offset_); }
    const VrnFieldDesc* Fields() const { return fields_; }
    uint32_t FieldCount() const { return count_; }
    uint32_t BaseOffset() const { return base_offset_; }

private:
    const VrnFieldDesc* fields_;
    uint32_t count_;
    uint32_t base_offset_;
};

class ArrayUfo : public VarUfo {
public:
    ArrayUfo(Ufo* element, uint32_t count);
    int Type() override { return VRN_TYPE_ARRAY; }
    int BaseType() override { return element_->Type(); }
    Ufo* Select(int32_t index) override;
    int32_t Max() override { return static_cast<int32_t>(count_); }
    void Clear(int32_t how) override;
    bool Cleared() override;
    Ufo* AClone() override { return new ArrayUfo(element_->AClone(), count_); }
    void SetAddress(void* address) override;

private:
    std::unique_ptr<Ufo> element_;
    uint32_t element_size_;
    uint32_t count_;
};

// A reference variable: its storage holds the Ufo* it refers to (or null).
class RefUfo : public VarUfo {
public:
    RefUfo(void* address, int type) : VarUfo(address, sizeof(Ufo*)), type_(type) {}
    int Type() override { return type_; }
    int BaseType() override;
    Ufo* Target() const;
    // The target, created as a free-standing value when the reference is empty.
    Ufo* TargetOrNew(bool real);
    void Assign(int32_t value) override { TargetOrNew(false)->Assign(value); }
    void Assign(double value) override { TargetOrNew(true)->Assign(value); }
    void Assign(Ufo* other) override;
    int Distincts(Ufo* other) override { return CompareUfos(this, other); }
    int Distincts(int32_t value) override;
    void Push() override;
    void Pop() override { TargetOrNew(true)->Pop(); }
    void DPush() override;
    void DPop() override { TargetOrNew(true)->DPop(); }
    double Real() override;
    int32_t Long() override;
    void Clear(int32_t how) override;
    bool Cleared() override;
    bool Null() override { return Target() == nullptr; }
    Ufo* Designate() override { return Target(); }
    uint32_t Size() override;
    Ufo* AClone() override { return new RefUfo(address_, type_); }

private:
    int type_;
};

class ValueUfo : public Ufo {
public:
    explicit ValueUfo(int32_t value) : is_real_(false), long_(value) {}
    explicit ValueUfo(double value) : is_real_(true), real_(value) {}
    void Assign(int32_t value) override;
    void Assign(double value) override;
    void Assign(Ufo* other) override { AssignUfoValue(this, other); }
    int Distincts(Ufo* other) override { return CompareUfos(this, other); }
    int Distincts(int32_t value) override;
    int Type() override { return is_real_ ? VRN_TYPE_REAL : VRN_TYPE_LONG; }
    int BaseType() override { return Type(); }
    void ToMem(VrnVmem* image) override;
    void FromMem(VrnVmem* image) override;
    void Pop() override { Assign(Vrn$PopReal()); }
    void Push() override;
    void DPop() override { Assign(Vrn$DPopReal()); }
    void DPush() override;
    double Real() override { return is_real_ ? real_ : static_cast<double>(long_); }
    int32_t Long() override;
    void Free() override {}
    void Clear(int32_t how) override;
    bool Cleared() override { return Real() == 0.0; }
    bool Null() override { return false; }
    Ufo* AClone() override { return is_real_ ? new ValueUfo(real_) : new ValueUfo(long_); }
    uint32_t Size() override { return is_real_ ? 8 : 4; }
    void Add(Ufo* other) override;
    void Divide(Ufo* other) override;

private:
    bool is_real_;
    int32_t long_ = 0;
    double real_ = 0;
};

class StrValueUfo : public TextValued<Ufo> {
public:
    explicit StrValueUfo(std::string text) : text_(std::move(text)) {}
    void Assign(int32_t value) override {
        Vrn$PushLong(value);
        Pop();
    }
    void Assign(double value) override {
        Vrn$PushReal(value);
        Pop();
    }
    void Assign(Ufo* other) override { AssignUfoValue(this, other); }
    int Distincts(Ufo* other) override { return CompareUfos(this, other); }
    int Distincts(int32_t value) override;
    int Type() override { return VRN_TYPE_STRING; }
    int BaseType() override { return VRN_TYPE_STRING; }
    void ToMem(VrnVmem* image) override;
    void FromMem(VrnVmem* image) override;
    void Pop() override;
    void Push() override;
    void DPop() override {
        Vrn$DStack2Stack();
        Pop();
    }
    void Free() override { std::string().swap(text_); }
    void Clear(int32_t how) override;
    bool Cleared() override;
    bool Null() override { return false; }
    void* Address() override { return text_.data(); }
    Ufo* AClone() override { return new StrValueUfo(text_); }
    Ufo* Select(int32_t index) override { return Select(index, index); }
    Ufo* Select(int32_t from, int32_t to) override;
    uint32_t Size() override { return static_cast<uint32_t>(text_.size()); }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

// A value shown through a picture: every operation but Push, Pop and Type goes to the value
// itself (`inner`, on the same storage).
class PictureUfo : public VarUfo {
public:
    PictureUfo(Ufo* inner, const char* picture);
    using VarUfo::Assign;     // assigning another value keeps the inherited form
    using VarUfo::Distincts;
    int Type() override { return VRN_TYPE_STRING; }
    int BaseType() override { return inner_->Type(); }
    void Assign(int32_t value) override { inner_->Assign(value); }
    void Assign(double value) override { inner_->Assign(value); }
    int Distincts(int32_t value) override { return inner_->Distincts(value); }
    void DPush() override { inner_->DPush(); }
    void DPop() override { inner_->DPop(); }
    double Real() override { return inner_->Real(); }
    int32_t Long() override { return inner_->Long(); }
    void Clear(int32_t how) override { inner_->Clear(how); }
    bool Cleared() override { return inner_->Cleared(); }
    void SetAddress(void* address) override;
    const char* Picture() const { return picture_.c_str(); }

protected:
    std::unique_ptr<Ufo> inner_;
    std::string picture_;
};

class PictureUfoS : public PictureUfo {
public:
    using PictureUfo::PictureUfo;
    void Push() override;
    void Pop() override;
    Ufo* AClone() override { return new PictureUfoS(inner_->AClone(), picture_.c_str()); }
};
class PictureUfoR : public PictureUfo {
public:
    using PictureUfo::PictureUfo;
    void Push() override;
    void Pop() override;
    Ufo* AClone() override { return new PictureUfoR(inner_->AClone(), picture_.c_str()); }
};
class PictureUfoD : public PictureUfo {
public:
    using PictureUfo::PictureUfo;
    void Push() override;
    void Pop() override;
    Ufo* AClone() override { return new PictureUfoD(inner_->AClone(), picture_.c_str()); }
};
class PictureUfoL : public PictureUfo {
public:
    using PictureUfo::PictureUfo;
    void Push() override;
    void Pop() override;
    Ufo* AClone() override { return new PictureUfoL(inner_->AClone(), picture_.c_str()); }
};

class ComputedUfo : public TextValued<Ufo> {
public:
    ComputedUfo(VrnComputePush push, void* node) : push_(push), node_(node) {}
    int Type() override { return VRN_TYPE_STRING; }
    int BaseType() override { return VRN_TYPE_STRING; }
    int Distincts(Ufo* other) override { return CompareUfos(this, other); }
    void Push() override;
    bool Null() override { return false; }
    void Free() override {}
    Ufo* AClone() override { return new ComputedUfo(push_, node_); }

private:
    VrnComputePush push_;
    void* node_;
};

// A new Ufo for a type code on program memory, or null for a code that has no class.
Ufo* NewMemoryUfo(void* address, int type, uint32_t places, uint32_t size);
// A new Ufo on entry `index` (0-based) of `count` descriptor entries belonging to the storage at
// `address` (`size` bytes), whose offsets count from `base_offset` bytes before it; null when the
// entry does not lie inside that storage or has no class.
Ufo* FieldUfo(uint8_t* address, uint32_t size, uint32_t base_offset, const VrnFieldDesc* fields, uint32_t count,
              uint32_t index);

}  // namespace tarvex
