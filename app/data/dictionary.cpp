// SPDX-License-Identifier: GPL-3.0-or-later
// The declarations of the sixteen data files: name, keys (label, components in order, attributes)
// and attribute byte of each; the records are declared in dictionary.h. A unique key is one
// without DUP; OPT leaves out records whose key fields are all blank or zero.
#include "data/dictionary.h"

namespace lumarex {

namespace {

using tarvex::DUP;
using tarvex::File;
using tarvex::FixedName;
using tarvex::KEY;
using tarvex::NOCASE;
using tarvex::OPT;
using tarvex::PRIMARY;

// THREAD, plus the bits 0x2C that every one of the program's file declarations carries for the
// drivers to read as they choose.
constexpr uint8_t kFileAttributes = VRN_FILE_THREAD | 0x2C;

} // namespace

// clang-format off
File<ProviderRecord> Provider{nullptr, FixedName("C:\\LUMAREX\\DATA\\Provider.dat"), {
    KEY("PRV:PRVKEY", "PRV:PRV", OPT | NOCASE | PRIMARY),
    KEY("PRV:LNAMEKEY", "PRV:PNAME", DUP | OPT | NOCASE)},
    kFileAttributes};

File<PatientRecord> Patient{nullptr, FixedName("C:\\LUMAREX\\DATA\\Patient.kel"), {
    KEY("PAT:PATKEY", "PAT:PAT", OPT | NOCASE | PRIMARY),
    KEY("PAT:LNAMEKEY", "PAT:LNAME", DUP | OPT | NOCASE)},
    kFileAttributes};

File<InvoiceRecord> Invoice{nullptr, FixedName("C:\\LUMAREX\\DATA\\Invoice.kel"), {
    KEY("INV:PRVKEY", "INV:PRV", DUP | OPT | NOCASE),
    KEY("INV:ICDV", "INV:F21IND", DUP | OPT | NOCASE),
    KEY("INV:PATKEY", "INV:PAT", DUP | OPT | NOCASE),
    KEY("INV:INVKEY", "INV:INV", OPT | NOCASE | PRIMARY),
    KEY("INV:F14QKEY", "INV:F14Q", DUP | OPT | NOCASE),
    KEY("INV:F15QKEY", "INV:F15Q", DUP | OPT | NOCASE),
    KEY("INV:REFERRALKEY", "INV:F17ID", DUP | OPT | NOCASE),
    KEY("INV:FACILITYKEY", "INV:F32", DUP | OPT | NOCASE),
    KEY("INV:PRIMARYKEY", "INV:PRIMARY", DUP | OPT | NOCASE),
    KEY("INV:SECONDARYKEY", "INV:SECONDARY", DUP | OPT | NOCASE),
    KEY("INV:PATAUTHDATEKEY", "INV:PAT, INV:AUTHDATE", DUP | OPT | NOCASE),
    KEY("INV:PATPRVINVKEY", "INV:PAT, INV:PRV, INV:INV", DUP | OPT),
    KEY("INV:PATPRVDATEKEY", "INV:PRV, INV:PAT, INV:DATE", DUP | OPT),
    KEY("INV:DATEKEY", "INV:DATE", DUP | OPT | NOCASE)},
    kFileAttributes};

File<Cpt48Record> Cpt48{nullptr, FixedName("C:\\LUMAREX\\DATA\\Cpt48.kel"), {
    KEY("CPT:CPTCODEKEY", "CPT:CPTCODE", OPT | NOCASE),
    KEY("CPT:CPTDESCRIPTIONKEY", "CPT:CPTDESCRIPTION, CPT:CPTCODE", DUP | OPT | NOCASE)},
    kFileAttributes};

File<ItemRecord> Item{nullptr, FixedName("C:\\LUMAREX\\DATA\\Item.kel"), {
    KEY("ITM:PRVKEY", "ITM:PRV", DUP | OPT | NOCASE),
    KEY("ITM:F24JKEY", "ITM:F24J", DUP | OPT | NOCASE),
    KEY("ITM:INVDOSKEY", "ITM:INV, ITM:DOSF", DUP | NOCASE),
    KEY("ITM:PATPRVDOSKEY", "ITM:PAT, ITM:PRV, ITM:DOSF", DUP | OPT | NOCASE),
    KEY("ITM:DOSKEY", "ITM:DOSF", DUP | OPT | NOCASE),
    KEY("ITM:INVPATPRVKEY", "ITM:PRV, ITM:PAT, ITM:INV, ITM:DOSF", DUP | OPT | NOCASE)},
    kFileAttributes};

File<Icd48Record> Icd48{nullptr, FixedName("C:\\LUMAREX\\DATA\\Icd48.kel"), {
    KEY("ICD:ICDCODEKEY", "ICD:ICDCODE", OPT | NOCASE),
    KEY("ICD:ICDDESKEY", "ICD:ICDDES, ICD:ICDCODE", DUP | OPT | NOCASE)},
    kFileAttributes};

File<Insured1Record> Insured1{nullptr, FixedName("C:\\LUMAREX\\DATA\\Insured1.kel"), {
    KEY("IN1:INS1IDKEY", "IN1:INS1ID", OPT | NOCASE),
    KEY("IN1:INS1CARNAMEKEY", "IN1:INS1CARNAME", DUP | NOCASE),
    KEY("IN1:INS1LNAMEKEY", "IN1:INS1NAME", DUP | OPT | NOCASE)},
    kFileAttributes};

File<Insured2Record> Insured2{nullptr, FixedName("C:\\LUMAREX\\DATA\\Insured2.kel"), {
    KEY("IN2:INS2IDKEY", "IN2:INS2ID", OPT | NOCASE),
    KEY("IN2:INS2CARNAMERKEY", "IN2:INS2CARNAME", DUP | NOCASE),
    KEY("IN2:INS2LNAMEKEY", "IN2:INS2NAME", DUP | OPT | NOCASE)},
    kFileAttributes};

File<FacilityRecord> Facility{nullptr, FixedName("C:\\LUMAREX\\DATA\\Facility.kel"), {
    KEY("FAC:FACILITYIDKEY", "FAC:FACILITYID", OPT | NOCASE),
    KEY("FAC:FACILITYNAMEKEY", "FAC:FACILTYNAME, FAC:FACILITYID", DUP | NOCASE)},
    kFileAttributes};

File<ReferringRecord> Referring{nullptr, FixedName("C:\\LUMAREX\\DATA\\Referring.kel"), {
    KEY("REF:F17RNAME", "REF:F17R", DUP | OPT | NOCASE),
    KEY("REF:F17IDREF", "REF:F17ID", DUP | OPT | NOCASE)},
    kFileAttributes};

File<RenderingRecord> Rendering{nullptr, FixedName("C:\\LUMAREX\\DATA\\Rendering.kel"), {
    KEY("REN:F24JKEY", "REN:F24J", DUP | OPT | NOCASE),
    KEY("REN:F24JREN", "REN:F24JNAME", DUP | OPT | NOCASE)},
    kFileAttributes};

File<AuthRecord> Auth{nullptr, FixedName("C:\\LUMAREX\\DATA\\Auth.kel"), {
    KEY("AUT:PATKEY", "AUT:PAT", DUP | OPT | NOCASE),
    KEY("AUT:PATAUTHDATEKEY", "AUT:PAT, AUT:AUTHDATE", DUP | OPT | NOCASE)},
    kFileAttributes};

File<PayerRecord> Payer{nullptr, FixedName("C:\\LUMAREX\\DATA\\Payer.kel"), {
    KEY("HIC:NAMEKEY", "HIC:HICNAME", OPT | NOCASE)},
    kFileAttributes};

File<ICDRecord> ICD{nullptr, FixedName("C:\\LUMAREX\\DATA\\ICD.kel"), {
    KEY("ICDM:ICDVKEY", "ICDM:ICDV", DUP | OPT | NOCASE)},
    kFileAttributes};

File<CIQLRecord> CIQL{nullptr, FixedName("C:\\LUMAREX\\DATA\\CIQL.kel"), {
    KEY("CIQ:CIKEY", "CIQ:CICODE", DUP | OPT | NOCASE),
    KEY("CIQ:CIDESCKEY", "CIQ:CIDESC", DUP | OPT | NOCASE)},
    kFileAttributes};

File<OIQLRecord> OIQL{nullptr, FixedName("C:\\LUMAREX\\DATA\\OIQL.kel"), {
    KEY("OIQ:OICODEKEY", "OIQ:OICODE", DUP | OPT | NOCASE),
    KEY("OIQ:OIDESCKEY", "OIQ:OIDESC", DUP | OPT | NOCASE)},
    kFileAttributes};
// clang-format on

std::span<FileDecl* const, kDictionaryFileCount> DictionaryFiles() {
    static FileDecl* const files[kDictionaryFileCount] = {
        Provider.Decl(), Patient.Decl(),  Invoice.Decl(),  Cpt48.Decl(),     Item.Decl(),      Icd48.Decl(),
        Insured1.Decl(), Insured2.Decl(), Facility.Decl(), Referring.Decl(), Rendering.Decl(), Auth.Decl(),
        Payer.Decl(),    ICD.Decl(),      CIQL.Decl(),     OIQL.Decl()};
    return files;
}

void BindFileDrivers(VrnDriverEntry kelstore, VrnDriverEntry varnel) {
    for (FileDecl* file : DictionaryFiles())
        file->driver = file == Provider.Decl() ? varnel : kelstore;
}

} // namespace lumarex
