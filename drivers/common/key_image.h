// SPDX-License-Identifier: GPL-3.0-or-later
// Key images: the byte strings under which both file drivers index a record. An image is built
// from the key's fields in the record buffer so that comparing two images byte by byte (memcmp,
// a shorter image that is a prefix of a longer one sorting first) gives exactly the order in which
// the runtime compares the key fields: component by component, each in its own direction.
//
// Encoding of one component (every component has a fixed width, so components never run into
// each other and a descending component can simply be complemented):
//   STRING, CSTRING, PSTRING  the text (CSTRING up to its zero byte, PSTRING its length byte's
//       worth), upper-cased through the runtime's case tables for a NOCASE key, each character
//       replaced by its collation weight and the rest filled with the weight of the blank up to the
//       field's text width, so trailing blanks never matter. With digraphs in force every character
//       that has one is written as the weights of its two characters and the width doubles; this is
//       the runtime's comparison with digraphs expanded. A digraph defined for the blank itself is
//       not applied: the runtime pads with unexpanded blanks, and trailing blanks must stay free.
//   DECIMAL, PDECIMAL  the field's width: a sign nibble (0 negative, 1 zero or positive), then the
//       digits, complemented (9 - d) for a negative value. The digits are those the decimal stack
//       reads: a nibble above 9 counts as 0 and digits that fall outside the accumulator are dropped;
//       a value whose digits are all 0 is zero, so -0 equals 0.
//   BYTE, USHORT, ULONG  big-endian. SHORT, LONG, DATE, TIME  big-endian with the sign bit flipped.
//   SREAL (4 bytes), REAL, BFLOAT4, BFLOAT8 (8 bytes, the BFLOAT image read as a REAL)  the IEEE
//       bits, sign bit flipped for a positive value, every bit flipped for a negative one; -0 is
//       written as 0; every NaN is written as all one-bits, equal to each other and above +infinity.
//   GROUP  its bytes as they stand.
// An array field is its elements one after another. A descending component is complemented.
//
// SET by key values: the runtime hands a driver the key values in the record buffer's key fields,
// so an image built from the buffer serves as the search key; the same layout works on any buffer
// laid out like the record. A range over leading fields uses BuildPrefix: every full image whose
// first n components equal the record's starts with the prefix image.
//
// The runtime's character tables are read when a key is compiled; Fingerprint() tells which tables
// the images follow. A driver stores it beside its keys and rebuilds them when it changes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tarvex/file_decl.h"
#include "tarvex/type_descriptor.h"

namespace lumarex::drivers {

// The runtime's character tables as a key image needs them, captured at one moment.
struct KeyCollation {
    uint8_t weight[256];
    uint8_t upper[256];
    bool has_digraph[256];
    uint8_t digraph_first[256];
    uint8_t digraph_second[256];
    uint32_t digraph_count;
    uint64_t fingerprint;

    static KeyCollation Capture();
};

// How a component is encoded; decided once from the field's type.
enum class KeyFieldKind : uint8_t {
    kString,
    kCString,
    kPString,
    kDecimal,
    kPDecimal,
    kUnsigned,   // BYTE, USHORT, ULONG
    kSigned,     // SHORT, LONG, DATE, TIME
    kSreal,
    kReal,
    kBfloat4,
    kBfloat8,
    kBytes,      // GROUP
};

struct KeyComponent {
    KeyFieldKind kind;
    uint32_t field_number;   // 1-based
    uint32_t offset;         // from the start of the record
    uint32_t size;           // bytes of one element in the record
    uint32_t elements;       // array elements (1 for a scalar)
    uint32_t places;         // DECIMAL, PDECIMAL
    uint32_t element_width;  // bytes of one element's image
    bool descending;
};

// One key of one record layout, compiled once and used for every record.
class KeyImage {
public:
    // Compiles `key` against the record's descriptor and the character tables in force. Null
    // when the key does not fit the record: no components, a field number outside the record,
    // a field that lies beyond the record's length, or a type a key cannot hold (references,
    // ANY); `problem` (when given) then says which.
    static std::unique_ptr<KeyImage> Compile(const VrnTypeDesc& type, const KeyDecl& key,
                                             std::string* problem = nullptr);

    // The image of the whole key for the record at `record` (at least the descriptor's size).
    std::string Build(const void* record) const;
    // The image of the first `count` components (all of them when count exceeds the key's).
    std::string BuildPrefix(const void* record, uint32_t count) const;
    // Appends the image of the first `count` components to `image`.
    void AppendImage(const void* record, uint32_t count, std::string& image) const;

    // True when every key field is blank or zero: blank strings (an empty CSTRING or PSTRING
    // text counts as blank), zero numbers (-0 included), a GROUP of blank and zero bytes. A NaN
    // is not zero. An OPT key does not index such a record.
    bool IsBlank(const void* record) const;

    uint32_t Width() const { return PrefixWidth(ComponentCount()); }
    uint32_t PrefixWidth(uint32_t count) const;
    uint32_t ComponentCount() const { return static_cast<uint32_t>(components_.size()); }
    // index below ComponentCount().
    const KeyComponent& Component(uint32_t index) const { return components_[index]; }
    bool NoCase() const { return nocase_; }
    uint32_t Attributes() const { return attributes_; }
    // The fingerprint of the character tables the images follow.
    uint64_t Fingerprint() const { return collation_.fingerprint; }

private:
    KeyImage() = default;
    void AppendComponent(const KeyComponent& component, const uint8_t* record, std::string& image) const;
    void AppendText(const uint8_t* text, uint32_t length, uint32_t width, std::string& image) const;

    std::vector<KeyComponent> components_;
    KeyCollation collation_{};
    uint32_t attributes_ = 0;
    bool nocase_ = false;
};

// Whether the key's fields are all blank or zero in the record (see KeyImage::IsBlank). A key
// that does not fit the record is not blank.
bool KeyIsBlank(const void* record, const VrnTypeDesc& type, const KeyDecl& key);

// A key of a file as the drivers keep it: its declaration, its compiled image, whether blank
// values are left out (OPT) and whether it refuses a second record of a value (no DUP), and the
// column of its images ("k1", "k2", ... in key order).
struct Key {
    KeyDecl* decl = nullptr;
    std::unique_ptr<KeyImage> image;
    bool opt = false;
    bool unique = false;
    std::string column;
};

// Compiles every key of the declaration; 47 when the declaration or one of its keys does not fit
// the record.
int32_t CompileKeys(FileDecl* file, std::vector<Key>* keys);

}  // namespace lumarex::drivers
