// SPDX-License-Identifier: GPL-3.0-or-later
// The data dictionary checked against the dictionary's own tables, typed here as data: each file's
// name, path, driver, prefix, record length and field count; golden fields (number, offset, type,
// size, places, picture); every key with its components in order and its attributes in words;
// and the relations between the files.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "data/dictionary.h"
#include "tarvex/dates.h"
#include "tarvex/pictures.h"

namespace lumarex {
namespace {

enum class Driver { kKelstore, kVarnel };
constexpr Driver kKelstore = Driver::kKelstore;
constexpr Driver kVarnel = Driver::kVarnel;
constexpr uint8_t STR = VRN_TYPE_STRING;
constexpr uint8_t DEC = VRN_TYPE_DECIMAL;

struct FileRow {
    const char* name;
    const char* prefix;
    const char* path;
    Driver driver;
    uint32_t record_length;
    uint32_t field_count;
};

// clang-format off
// Dictionary order.
const FileRow kFiles[] = {
    {"Provider", "PRV", "C:\\LUMAREX\\DATA\\Provider.dat", kVarnel, 297, 24},
    {"Patient", "PAT", "C:\\LUMAREX\\DATA\\Patient.kel", kKelstore, 148, 14},
    {"Invoice", "INV", "C:\\LUMAREX\\DATA\\Invoice.kel", kKelstore, 510, 57},
    {"Cpt48", "CPT", "C:\\LUMAREX\\DATA\\Cpt48.kel", kKelstore, 55, 2},
    {"Item", "ITM", "C:\\LUMAREX\\DATA\\Item.kel", kKelstore, 182, 26},
    {"Icd48", "ICD", "C:\\LUMAREX\\DATA\\Icd48.kel", kKelstore, 55, 2},
    {"Insured1", "IN1", "C:\\LUMAREX\\DATA\\Insured1.kel", kKelstore, 295, 21},
    {"Insured2", "IN2", "C:\\LUMAREX\\DATA\\Insured2.kel", kKelstore, 318, 21},
    {"Facility", "FAC", "C:\\LUMAREX\\DATA\\Facility.kel", kKelstore, 115, 7},
    {"Referring", "REF", "C:\\LUMAREX\\DATA\\Referring.kel", kKelstore, 66, 6},
    {"Rendering", "REN", "C:\\LUMAREX\\DATA\\Rendering.kel", kKelstore, 63, 4},
    {"Auth", "AUT", "C:\\LUMAREX\\DATA\\Auth.kel", kKelstore, 43, 3},
    {"Payer", "HIC", "C:\\LUMAREX\\DATA\\Payer.kel", kKelstore, 188, 6},
    {"ICD", "ICDM", "C:\\LUMAREX\\DATA\\ICD.kel", kKelstore, 13, 2},
    {"CIQL", "CIQ", "C:\\LUMAREX\\DATA\\CIQL.kel", kKelstore, 131, 2},
    {"OIQL", "OIQ", "C:\\LUMAREX\\DATA\\OIQL.kel", kKelstore, 131, 2},
};

struct FieldRow {
    const char* label;
    uint32_t number;
    uint32_t offset;
    uint8_t type;
    uint32_t size;
    uint8_t places;
    const char* picture;
};

// The first and last field of every file, every DECIMAL and every field with a picture.
const FieldRow kGoldenFields[] = {
    {"PRV:PRV", 1, 0, DEC, 2, 0, nullptr},
    {"PRV:CN", 2, 2, DEC, 6, 0, nullptr},
    {"PRV:GIDX", 24, 296, STR, 1, 0, nullptr},
    {"PAT:PAT", 1, 0, DEC, 3, 0, nullptr},
    {"PAT:BDATE", 3, 31, STR, 8, 0, "@D12"},
    {"PAT:SSN", 13, 129, STR, 9, 0, "@P#########P"},
    {"PAT:NOWBALAN", 14, 138, DEC, 10, 2, nullptr},
    {"INV:PRV", 1, 0, DEC, 2, 0, nullptr},
    {"INV:PAT", 2, 2, DEC, 3, 0, nullptr},
    {"INV:INV", 3, 5, DEC, 5, 0, nullptr},
    {"INV:DATE", 4, 10, STR, 8, 0, "@D12"},
    {"INV:AUTHDATE", 15, 83, STR, 8, 0, "@D12"},
    {"INV:F14A", 19, 127, STR, 8, 0, "@D12"},
    {"INV:F15", 22, 147, STR, 8, 0, "@D12"},
    {"INV:F32", 33, 316, STR, 11, 0, "@P###########P"},
    {"INV:TFEE", 34, 327, DEC, 10, 2, nullptr},
    {"INV:TADJ", 35, 337, DEC, 10, 2, nullptr},
    {"INV:TPAY", 36, 347, DEC, 10, 2, nullptr},
    {"INV:BDUE", 37, 357, DEC, 10, 2, nullptr},
    {"INV:PRIMARY", 38, 367, STR, 11, 0, "@p###########p"},
    {"INV:SECONDARY", 39, 378, STR, 11, 0, "@p###########p"},
    {"INV:HSOFROM", 52, 473, STR, 8, 0, "@D12"},
    {"INV:HSPTO", 53, 481, STR, 8, 0, "@D12"},
    {"INV:WCFROM", 54, 489, STR, 8, 0, "@D12"},
    {"INV:WCTO", 55, 497, STR, 8, 0, "@D12"},
    {"INV:LABCHARGE", 57, 506, DEC, 4, 2, nullptr},
    {"CPT:CPTCODE", 1, 0, STR, 7, 0, nullptr},
    {"CPT:CPTDESCRIPTION", 2, 7, STR, 48, 0, nullptr},
    {"ITM:PRV", 1, 0, DEC, 2, 0, nullptr},
    {"ITM:PAT", 2, 2, DEC, 4, 0, nullptr},
    {"ITM:INV", 3, 6, DEC, 4, 0, nullptr},
    {"ITM:DOSF", 4, 10, STR, 8, 0, "@d12"},
    {"ITM:DOST", 5, 18, STR, 8, 0, "@d12"},
    {"ITM:FEE", 15, 101, DEC, 5, 2, nullptr},
    {"ITM:ALW", 20, 123, DEC, 5, 2, nullptr},
    {"ITM:ADJ", 21, 128, DEC, 5, 2, nullptr},
    {"ITM:DED", 22, 133, DEC, 5, 2, nullptr},
    {"ITM:NONCOV", 23, 138, DEC, 5, 2, nullptr},
    {"ITM:COB", 24, 143, DEC, 5, 2, nullptr},
    {"ITM:F24J", 26, 172, STR, 10, 0, nullptr},
    {"ICD:ICDCODE", 1, 0, STR, 7, 0, nullptr},
    {"ICD:ICDDES", 2, 7, STR, 48, 0, nullptr},
    {"IN1:INS1ID", 1, 0, STR, 11, 0, "@p###########p"},
    {"IN1:INS1DOB", 13, 181, STR, 8, 0, "@d12"},
    {"IN1:INS1CARDATE", 16, 218, STR, 8, 0, "@D12"},
    {"IN1:INS1CARTERM", 17, 226, STR, 8, 0, "@D12"},
    {"IN1:INS1F11B1", 21, 266, STR, 29, 0, nullptr},
    {"IN2:INS2ID", 1, 0, STR, 11, 0, "@p###########p"},
    {"IN2:INS2DOB", 13, 179, STR, 8, 0, "@d12"},
    {"IN2:INS2CARDATE", 16, 216, STR, 8, 0, "@D12"},
    {"IN2:INS2CARTERM", 17, 224, STR, 8, 0, "@D12"},
    {"IN2:INS2F9C", 21, 290, STR, 28, 0, nullptr},
    {"FAC:FACILITYID", 1, 0, STR, 11, 0, nullptr},
    {"FAC:FACILITYNNPI", 7, 101, STR, 14, 0, nullptr},
    {"REF:F17ID", 1, 0, STR, 11, 0, nullptr},
    {"REF:F17B", 6, 56, STR, 10, 0, nullptr},
    {"REN:F24J", 1, 0, STR, 10, 0, nullptr},
    {"REN:F24JNNPI", 4, 52, STR, 11, 0, nullptr},
    {"AUT:PAT", 1, 0, DEC, 3, 0, nullptr},
    {"AUT:AUTHDATE", 2, 3, STR, 8, 0, "@D12"},
    {"AUT:AUTHSIGN", 3, 11, STR, 32, 0, nullptr},
    {"HIC:HICNAME", 1, 0, STR, 41, 0, nullptr},
    {"HIC:HICFAX", 6, 176, STR, 12, 0, nullptr},
    {"ICDM:ICDV", 1, 0, STR, 1, 0, nullptr},
    {"ICDM:ICDM", 2, 1, STR, 12, 0, nullptr},
    {"CIQ:CICODE", 1, 0, STR, 3, 0, nullptr},
    {"CIQ:CIDESC", 2, 3, STR, 128, 0, nullptr},
    {"OIQ:OICODE", 1, 0, STR, 3, 0, nullptr},
    {"OIQ:OIDESC", 2, 3, STR, 128, 0, nullptr},
};

struct KeyRow {
    const char* label;
    std::vector<const char*> components;
    const char* attributes;
};

// Every key of every file, in each file's declaration order.
const KeyRow kKeys[] = {
    {"PRV:PRVKEY", {"PRV:PRV"}, "unique, case-insensitive, blank values not indexed, primary"},
    {"PRV:LNAMEKEY", {"PRV:PNAME"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"PAT:PATKEY", {"PAT:PAT"}, "unique, case-insensitive, blank values not indexed, primary"},
    {"PAT:LNAMEKEY", {"PAT:LNAME"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"INV:PRVKEY", {"INV:PRV"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"INV:ICDV", {"INV:F21IND"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"INV:PATKEY", {"INV:PAT"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"INV:INVKEY", {"INV:INV"}, "unique, case-insensitive, blank values not indexed, primary"},
    {"INV:F14QKEY", {"INV:F14Q"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"INV:F15QKEY", {"INV:F15Q"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"INV:REFERRALKEY", {"INV:F17ID"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"INV:FACILITYKEY", {"INV:F32"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"INV:PRIMARYKEY", {"INV:PRIMARY"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"INV:SECONDARYKEY", {"INV:SECONDARY"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"INV:PATAUTHDATEKEY", {"INV:PAT", "INV:AUTHDATE"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"INV:PATPRVINVKEY", {"INV:PAT", "INV:PRV", "INV:INV"}, "duplicates allowed, blank values not indexed"},
    {"INV:PATPRVDATEKEY", {"INV:PRV", "INV:PAT", "INV:DATE"}, "duplicates allowed, blank values not indexed"},
    {"INV:DATEKEY", {"INV:DATE"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"CPT:CPTCODEKEY", {"CPT:CPTCODE"}, "unique, case-insensitive, blank values not indexed"},
    {"CPT:CPTDESCRIPTIONKEY", {"CPT:CPTDESCRIPTION", "CPT:CPTCODE"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"ITM:PRVKEY", {"ITM:PRV"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"ITM:F24JKEY", {"ITM:F24J"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"ITM:INVDOSKEY", {"ITM:INV", "ITM:DOSF"}, "duplicates allowed, case-insensitive"},
    {"ITM:PATPRVDOSKEY", {"ITM:PAT", "ITM:PRV", "ITM:DOSF"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"ITM:DOSKEY", {"ITM:DOSF"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"ITM:INVPATPRVKEY", {"ITM:PRV", "ITM:PAT", "ITM:INV", "ITM:DOSF"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"ICD:ICDCODEKEY", {"ICD:ICDCODE"}, "unique, case-insensitive, blank values not indexed"},
    {"ICD:ICDDESKEY", {"ICD:ICDDES", "ICD:ICDCODE"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"IN1:INS1IDKEY", {"IN1:INS1ID"}, "unique, case-insensitive, blank values not indexed"},
    {"IN1:INS1CARNAMEKEY", {"IN1:INS1CARNAME"}, "duplicates allowed, case-insensitive"},
    {"IN1:INS1LNAMEKEY", {"IN1:INS1NAME"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"IN2:INS2IDKEY", {"IN2:INS2ID"}, "unique, case-insensitive, blank values not indexed"},
    {"IN2:INS2CARNAMERKEY", {"IN2:INS2CARNAME"}, "duplicates allowed, case-insensitive"},
    {"IN2:INS2LNAMEKEY", {"IN2:INS2NAME"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"FAC:FACILITYIDKEY", {"FAC:FACILITYID"}, "unique, case-insensitive, blank values not indexed"},
    {"FAC:FACILITYNAMEKEY", {"FAC:FACILTYNAME", "FAC:FACILITYID"}, "duplicates allowed, case-insensitive"},
    {"REF:F17RNAME", {"REF:F17R"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"REF:F17IDREF", {"REF:F17ID"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"REN:F24JKEY", {"REN:F24J"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"REN:F24JREN", {"REN:F24JNAME"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"AUT:PATKEY", {"AUT:PAT"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"AUT:PATAUTHDATEKEY", {"AUT:PAT", "AUT:AUTHDATE"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"HIC:NAMEKEY", {"HIC:HICNAME"}, "unique, case-insensitive, blank values not indexed"},
    {"ICDM:ICDVKEY", {"ICDM:ICDV"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"CIQ:CIKEY", {"CIQ:CICODE"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"CIQ:CIDESCKEY", {"CIQ:CIDESC"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"OIQ:OICODEKEY", {"OIQ:OICODE"}, "duplicates allowed, case-insensitive, blank values not indexed"},
    {"OIQ:OIDESCKEY", {"OIQ:OIDESC"}, "duplicates allowed, case-insensitive, blank values not indexed"},
};

// Each relation: the child's fields, the parent's fields they hold, the key that finds the parent
// (in the parent file) and the child's key named for the relation ("" where none).
struct RelationRow {
    std::vector<const char*> child_fields;
    std::vector<const char*> parent_fields;
    const char* parent_key;
    const char* child_key;
};

const RelationRow kRelations[] = {
    {{"INV:PAT"}, {"PAT:PAT"}, "PAT:PATKEY", "INV:PATPRVINVKEY"},
    {{"ITM:PRV", "ITM:PAT", "ITM:INV"}, {"INV:PRV", "INV:PAT", "INV:INV"}, "", "ITM:INVPATPRVKEY"},
    {{"INV:PRV"}, {"PRV:PRV"}, "PRV:PRVKEY", "INV:PRVKEY"},
    {{"INV:PRIMARY"}, {"IN1:INS1ID"}, "IN1:INS1IDKEY", "INV:PRIMARYKEY"},
    {{"INV:SECONDARY"}, {"IN2:INS2ID"}, "IN2:INS2IDKEY", "INV:SECONDARYKEY"},
    {{"INV:F17ID"}, {"REF:F17ID"}, "REF:F17IDREF", "INV:REFERRALKEY"},
    {{"INV:F32"}, {"FAC:FACILITYID"}, "FAC:FACILITYIDKEY", "INV:FACILITYKEY"},
    {{"INV:F14Q"}, {"CIQ:CICODE"}, "CIQ:CIKEY", "INV:F14QKEY"},
    {{"INV:F15Q"}, {"OIQ:OICODE"}, "OIQ:OICODEKEY", "INV:F15QKEY"},
    {{"INV:F21IND"}, {"ICDM:ICDV"}, "ICDM:ICDVKEY", "INV:ICDV"},
    {{"INV:DX1"}, {"ICD:ICDCODE"}, "ICD:ICDCODEKEY", ""},
    {{"INV:DX12"}, {"ICD:ICDCODE"}, "ICD:ICDCODEKEY", ""},
    {{"ITM:CPT"}, {"CPT:CPTCODE"}, "CPT:CPTCODEKEY", ""},
    {{"ITM:F24J"}, {"REN:F24J"}, "REN:F24JKEY", "ITM:F24JKEY"},
    {{"AUT:PAT"}, {"PAT:PAT"}, "PAT:PATKEY", "AUT:PATKEY"},
};
// clang-format on

// ---- Helpers -------------------------------------------------------------------------------------

std::string_view PrefixOf(std::string_view label) {
    return label.substr(0, label.find(':'));
}

// The declaration whose record has that prefix, or null.
FileDecl* FileByPrefix(std::string_view prefix) {
    for (FileDecl* file : DictionaryFiles())
        if (file->record_type != nullptr && prefix == file->record_type->prefix)
            return file;
    return nullptr;
}

// The descriptor entry whose label is exactly `label` (1-based number in `number`), or null.
const VrnFieldDesc* FieldByExactLabel(std::string_view label, uint32_t* number = nullptr) {
    FileDecl* file = FileByPrefix(PrefixOf(label));
    if (file == nullptr)
        return nullptr;
    const VrnTypeDesc* type = file->record_type;
    for (uint32_t i = 0; i < type->field_count; i++) {
        if (type->fields[i].label != nullptr && label == type->fields[i].label) {
            if (number != nullptr)
                *number = i + 1;
            return &type->fields[i];
        }
    }
    return nullptr;
}

std::string_view KeyLabel(const KeyDecl* key) {
    return {key->label, size_t(key->label_length)};
}

KeyDecl* KeyByLabel(std::string_view label) {
    FileDecl* file = FileByPrefix(PrefixOf(label));
    if (file == nullptr)
        return nullptr;
    for (uint8_t i = 0; i < file->key_count; i++)
        if (KeyLabel(file->keys[i]) == label)
            return file->keys[i];
    return nullptr;
}

// Key attributes as the dictionary words them.
uint32_t AttributesFromWords(std::string_view words) {
    struct Word {
        std::string_view text;
        uint32_t bits;
    };
    static const Word kWords[] = {{"unique", 0},
                                  {"duplicates allowed", VRN_KEY_DUP},
                                  {"case-insensitive", VRN_KEY_NOCASE},
                                  {"blank values not indexed", VRN_KEY_OPT},
                                  {"primary", VRN_KEY_PRIMARY}};
    uint32_t bits = 0;
    while (!words.empty()) {
        size_t end = words.find(", ");
        std::string_view word = words.substr(0, end);
        words = end == std::string_view::npos ? std::string_view() : words.substr(end + 2);
        bool known = false;
        for (const Word& w : kWords) {
            if (w.text == word) {
                bits |= w.bits;
                known = true;
            }
        }
        EXPECT_TRUE(known) << "unknown key attribute: " << word;
    }
    return bits;
}

// ---- Files ---------------------------------------------------------------------------------------

TEST(DictionaryTest, SixteenFilesInDictionaryOrder) {
    auto files = DictionaryFiles();
    ASSERT_EQ(files.size(), std::size(kFiles));
    for (size_t i = 0; i < std::size(kFiles); i++) {
        const FileRow& row = kFiles[i];
        SCOPED_TRACE(row.name);
        const FileDecl* file = files[i];
        ASSERT_NE(file, nullptr);
        // The NAME is a fixed-length constant: the path's bytes, no terminator counted.
        EXPECT_EQ(file->name_length, int32_t(std::strlen(row.path)));
        EXPECT_EQ(std::string_view(file->name, size_t(std::max(file->name_length, 0))), row.path);
        EXPECT_EQ(file->options, nullptr);
        EXPECT_EQ(file->owner, nullptr);
        EXPECT_EQ(file->attributes, 0x3C);
        EXPECT_TRUE(file->attributes & VRN_FILE_THREAD);
        EXPECT_EQ(file->memo_count, 0);
        EXPECT_EQ(file->driver_instance, nullptr);
        ASSERT_NE(file->record_type, nullptr);
        EXPECT_STREQ(file->record_type->prefix, row.prefix);
        EXPECT_EQ(file->record_type->size, row.record_length);
        EXPECT_EQ(file->record_length, row.record_length);
        EXPECT_EQ(file->record_type->field_count, row.field_count);
        EXPECT_NE(file->record, nullptr);
    }
    EXPECT_EQ(std::string_view(Patient.Decl()->name, 27), "C:\\LUMAREX\\DATA\\Patient.kel");
}

TEST(DictionaryTest, RecordBuffersAreTheFilesOwnAndExactlyAsLong) {
    EXPECT_EQ(sizeof(ProviderRecord), 297u);
    EXPECT_EQ(sizeof(PatientRecord), 148u);
    EXPECT_EQ(sizeof(InvoiceRecord), 510u);
    EXPECT_EQ(sizeof(ItemRecord), 182u);
    EXPECT_EQ(Patient.Decl()->record, static_cast<void*>(&Patient.record));
    EXPECT_EQ(Invoice.Decl()->record, static_cast<void*>(&Invoice.record));
    EXPECT_EQ(static_cast<void*>(&Invoice.record.BDUE),
              static_cast<char*>(Invoice.Decl()->record) + FieldByExactLabel("INV:BDUE")->offset);
    std::set<const void*> buffers;
    for (FileDecl* file : DictionaryFiles())
        buffers.insert(file->record);
    EXPECT_EQ(buffers.size(), kDictionaryFileCount);
}

TEST(DictionaryTest, DriversAreBoundByTheInitialiser) {
    // A stand-in entry for each driver: only their addresses matter here.
    struct Entries {
        static intptr_t Kelstore(int32_t, FileDecl*, const intptr_t*) { return 0; }
        static intptr_t Varnel(int32_t, FileDecl*, const intptr_t*) { return 0; }
    };
    auto files = DictionaryFiles();
    for (FileDecl* file : files)
        EXPECT_EQ(file->driver, nullptr) << file->name;
    BindFileDrivers(&Entries::Kelstore, &Entries::Varnel);
    for (size_t i = 0; i < std::size(kFiles); i++) {
        SCOPED_TRACE(kFiles[i].name);
        EXPECT_EQ(files[i]->driver, kFiles[i].driver == kVarnel ? &Entries::Varnel : &Entries::Kelstore);
    }
    BindFileDrivers(nullptr, nullptr);
    for (FileDecl* file : files)
        EXPECT_EQ(file->driver, nullptr);
}

// ---- Fields --------------------------------------------------------------------------------------

TEST(DictionaryTest, GoldenFields) {
    for (const FieldRow& row : kGoldenFields) {
        SCOPED_TRACE(row.label);
        uint32_t number = 0;
        const VrnFieldDesc* field = FieldByExactLabel(row.label, &number);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(number, row.number);
        EXPECT_EQ(field->offset, row.offset);
        EXPECT_EQ(field->type, row.type);
        EXPECT_EQ(field->size, row.size);
        EXPECT_EQ(field->places, row.places);
        EXPECT_EQ(field->dimension, 1u);
        if (row.picture == nullptr) {
            EXPECT_EQ(field->picture, nullptr);
        } else {
            EXPECT_STREQ(field->picture, row.picture);
        }
    }
}

TEST(DictionaryTest, FieldsFollowOneAnotherWithoutGaps) {
    for (FileDecl* file : DictionaryFiles()) {
        const VrnTypeDesc* type = file->record_type;
        SCOPED_TRACE(type->prefix);
        uint32_t offset = 0;
        for (uint32_t i = 0; i < type->field_count; i++) {
            EXPECT_EQ(type->fields[i].offset, offset) << type->fields[i].label;
            offset += type->fields[i].size;
        }
        EXPECT_EQ(offset, type->size);
    }
}

TEST(DictionaryTest, EveryLabelResolvesToItsOwnFieldAndIsUnique) {
    for (FileDecl* file : DictionaryFiles()) {
        const VrnTypeDesc* type = file->record_type;
        const std::string prefix = std::string(type->prefix) + ":";
        std::set<std::string> seen;
        for (uint32_t i = 0; i < type->field_count; i++) {
            const std::string label = type->fields[i].label;
            SCOPED_TRACE(label);
            EXPECT_EQ(label.rfind(prefix, 0), 0u);
            EXPECT_TRUE(seen.insert(label).second);
            EXPECT_EQ(Vrn$FieldByLabel(type, label.data(), uint32_t(label.size())), i + 1);
            // Without the prefix, as filter expressions and key declarations may write it
            // ("ICDM" must find ICDM:ICDM, not stop at the prefix).
            const std::string name = label.substr(prefix.size());
            EXPECT_EQ(Vrn$FieldByLabel(type, name.data(), uint32_t(name.size())), i + 1);
        }
    }
    // Labels are compared without regard to case, as the 4GL's filters write them.
    EXPECT_EQ(Vrn$FieldByLabel(&PatientRecord::Type(), "pat:nowbalan", 12), 14u);
    EXPECT_EQ(Vrn$FieldByLabel(&InvoiceRecord::Type(), "INV:BDUEX", 9), 0u);
}

TEST(DictionaryTest, PicturesAreValidAndAsWideAsTheirFields) {
    // An identifier with an @P picture holds exactly as many characters as the picture's digit
    // positions; a date holds the 8 digits of @D12.
    int pictured = 0;
    for (FileDecl* file : DictionaryFiles()) {
        const VrnTypeDesc* type = file->record_type;
        for (uint32_t i = 0; i < type->field_count; i++) {
            const VrnFieldDesc& field = type->fields[i];
            if (field.picture == nullptr)
                continue;
            SCOPED_TRACE(field.label);
            pictured++;
            EXPECT_EQ(Vrn$pictureisvalid(field.picture), 1);
            EXPECT_EQ(uint32_t(Vrn$getpicturewidth(field.picture)), field.size);
        }
    }
    EXPECT_EQ(pictured, 24);
}

TEST(DictionaryTest, DateFieldsSortAsTextInDateOrder) {
    // INV:PATPRVDATEKEY orders a provider's claims by patient and then by the text of INV:DATE.
    struct DateRow {
        int32_t month, day, year;
        const char* text;
    };
    const DateRow kDates[] = {{12, 31, 1999, "19991231"}, {1, 1, 2000, "20000101"},
                              {2, 29, 2000, "20000229"},  {10, 9, 2000, "20001009"},
                              {9, 10, 2001, "20010910"},  {3, 5, 2024, "20240305"}};
    for (const char* label : {"INV:DATE", "ITM:DOSF", "PAT:BDATE", "IN1:INS1DOB", "AUT:AUTHDATE"}) {
        SCOPED_TRACE(label);
        const VrnFieldDesc* field = FieldByExactLabel(label);
        ASSERT_NE(field, nullptr);
        std::string previous;
        for (const DateRow& row : kDates) {
            char text[8];
            Vrn$pictstorelong(text, field->size, field->picture, Vrn$DATE(row.month, row.day, row.year));
            const std::string stored(text, sizeof(text));
            EXPECT_EQ(stored, row.text);
            EXPECT_LT(previous, stored);
            previous = stored;
        }
    }
}

// ---- Keys ----------------------------------------------------------------------------------------

TEST(DictionaryTest, KeysHaveTheirComponentsInOrderAndTheirAttributes) {
    size_t checked = 0;
    for (FileDecl* file : DictionaryFiles()) {
        std::vector<const KeyRow*> expected;
        for (const KeyRow& row : kKeys)
            if (PrefixOf(row.label) == file->record_type->prefix)
                expected.push_back(&row);
        SCOPED_TRACE(file->record_type->prefix);
        ASSERT_EQ(file->key_count, expected.size());
        ASSERT_NE(file->keys, nullptr);
        for (size_t k = 0; k < expected.size(); k++) {
            const KeyRow& row = *expected[k];
            const KeyDecl* key = file->keys[k];
            SCOPED_TRACE(row.label);
            EXPECT_EQ(KeyLabel(key), row.label);
            EXPECT_EQ(key->file, file);
            EXPECT_EQ(key->name, nullptr);
            EXPECT_EQ(key->attributes, AttributesFromWords(row.attributes));
            ASSERT_EQ(key->component_count, row.components.size());
            for (size_t c = 0; c < row.components.size(); c++) {
                uint32_t number = 0;
                ASSERT_NE(FieldByExactLabel(row.components[c], &number), nullptr) << row.components[c];
                // Positive: every component ascends.
                EXPECT_EQ(key->components[c], int32_t(number)) << row.components[c];
            }
            checked++;
        }
    }
    EXPECT_EQ(checked, std::size(kKeys));
}

TEST(DictionaryTest, KeysAreFoundByLabel) {
    ASSERT_NE(Invoice.Key("INV:PATPRVDATEKEY"), nullptr);
    EXPECT_EQ(Invoice.Key("INV:PATPRVDATEKEY"), Invoice.Decl()->keys[12]);
    EXPECT_EQ(Patient.Key("pat:patkey"), Patient.Decl()->keys[0]);
    EXPECT_EQ(Patient.Key("PAT:NOSUCHKEY"), nullptr);
    // Exactly one primary key in the files that have one.
    for (FileDecl* file : DictionaryFiles()) {
        int primaries = 0;
        for (uint8_t k = 0; k < file->key_count; k++)
            primaries += (file->keys[k]->attributes & VRN_KEY_PRIMARY) != 0;
        const std::string_view prefix = file->record_type->prefix;
        EXPECT_EQ(primaries, prefix == "PRV" || prefix == "PAT" || prefix == "INV" ? 1 : 0) << prefix;
    }
}

TEST(DictionaryTest, RelationsJoinFieldsOfTheSameKind) {
    for (const RelationRow& row : kRelations) {
        SCOPED_TRACE(row.child_fields[0]);
        ASSERT_EQ(row.child_fields.size(), row.parent_fields.size());
        for (size_t i = 0; i < row.child_fields.size(); i++) {
            const VrnFieldDesc* child = FieldByExactLabel(row.child_fields[i]);
            const VrnFieldDesc* parent = FieldByExactLabel(row.parent_fields[i]);
            ASSERT_NE(child, nullptr) << row.child_fields[i];
            ASSERT_NE(parent, nullptr) << row.parent_fields[i];
            EXPECT_EQ(child->type, parent->type);
            EXPECT_EQ(child->places, parent->places);
            if (child->type == VRN_TYPE_STRING) {
                EXPECT_EQ(child->size, parent->size);
            }
        }
        if (*row.parent_key != '\0') {
            const KeyDecl* key = KeyByLabel(row.parent_key);
            ASSERT_NE(key, nullptr) << row.parent_key;
            // The parent key starts with the parent's field.
            uint32_t number = 0;
            ASSERT_NE(FieldByExactLabel(row.parent_fields[0], &number), nullptr);
            EXPECT_EQ(key->components[0], int32_t(number));
        }
        if (*row.child_key != '\0') {
            const KeyDecl* key = KeyByLabel(row.child_key);
            ASSERT_NE(key, nullptr) << row.child_key;
            // Every child field of the relation is a component of the child's key.
            for (const char* label : row.child_fields) {
                uint32_t number = 0;
                ASSERT_NE(FieldByExactLabel(label, &number), nullptr);
                bool found = false;
                for (uint8_t c = 0; c < key->component_count; c++)
                    found |= key->components[c] == int32_t(number);
                EXPECT_TRUE(found) << label;
            }
        }
    }
}

} // namespace
} // namespace lumarex
