// SPDX-License-Identifier: GPL-3.0-or-later
// The data dictionary: the sixteen files in which the billing program keeps its data, each
// declared once with its record, its keys, its file name and its attribute byte. Every procedure
// reads and writes a file through its one shared record buffer (`Patient.record.LNAME` is
// PAT:LNAME) and finds a key by its label (`Invoice.Key("INV:PATPRVDATEKEY")`).
//
// Fields are declared in record order with their storage types; a DECIMAL(d, p) takes d / 2 + 1
// bytes. Dates are STRING(8) fields holding the yyyymmdd text of the @D12 picture, so they compare
// and sort as text in date order. Every key is ascending in each component.
//
// The files are declared without a driver: the program's initialiser binds them, in dictionary
// order, with BindFileDrivers (VARNEL for Provider, KELSTORE for the other fifteen).
#pragma once

#include <cstddef>
#include <span>

#include "tarvex/file_decl.h"
#include "tarvex/files.hpp"
#include "tarvex/type_descriptor.h"

namespace lumarex {

// clang-format off
#define LUM_PROVIDER_FIELDS(FIELD)                                                   \
    FIELD(PRV, DECIMAL(3, 0))    /* provider number (INV:PRV, ITM:PRV) */            \
    FIELD(CN, DECIMAL(11, 0))                                                        \
    FIELD(PNAME, STRING(29))     /* provider name (item 31; item 33 unless group) */ \
    FIELD(GNAME, STRING(29))     /* group name (item 33 when GIDX is "G") */         \
    FIELD(PADD1, STRING(29))                                                         \
    FIELD(PADD2, STRING(29))                                                         \
    FIELD(PAREACODE, STRING(3))                                                      \
    FIELD(PHONE, STRING(8))                                                          \
    FIELD(FAREACODE, STRING(3))                                                      \
    FIELD(FAX, STRING(8))                                                            \
    FIELD(BADD1, STRING(29))     /* billing address line 1 (item 33) */              \
    FIELD(BADD2, STRING(29))     /* billing address line 2 (item 33) */              \
    FIELD(BPAREACODE, STRING(3)) /* billing telephone area code (item 33) */         \
    FIELD(BPHONE, STRING(8))     /* billing telephone (item 33) */                   \
    FIELD(BFAREACODE, STRING(3)) /* billing fax area code */                         \
    FIELD(BFAX, STRING(8))       /* billing fax */                                   \
    FIELD(EIN, STRING(15))       /* employer identification number */                \
    FIELD(SSN, STRING(15))       /* social security number */                        \
    FIELD(LIC, STRING(10))                                                           \
    FIELD(F33A, STRING(10))      /* item 33a NPI */                                  \
    FIELD(F33B1, STRING(2))      /* item 33b qualifier */                            \
    FIELD(F33B2, STRING(17))     /* item 33b other ID */                             \
    FIELD(TIDX, STRING(1))       /* "E": EIN is the tax identifier, else SSN */      \
    FIELD(GIDX, STRING(1))       /* "G": item 33 shows the group name */
TARVEX_RECORD(ProviderRecord, "PRV", LUM_PROVIDER_FIELDS)

#define LUM_PATIENT_FIELDS(FIELD)                                                 \
    FIELD(PAT, DECIMAL(5, 0))             /* patient number */                    \
    FIELD(LNAME, STRING(28))              /* patient name (item 2) */             \
    FIELD(BDATE, STRING(8), "@D12")       /* birth date (item 3) */               \
    FIELD(SEX, STRING(1))                 /* "M" or "F" (item 3) */               \
    FIELD(ADD1, STRING(28))               /* street (item 5) */                   \
    FIELD(ADD2, STRING(24))               /* city (item 5) */                     \
    FIELD(ADD3, STRING(3))                /* state (item 5) */                    \
    FIELD(ADD4, STRING(12))               /* ZIP code (item 5) */                 \
    FIELD(HAREA, STRING(3))               /* home telephone area code (item 5) */ \
    FIELD(HPHON, STRING(8))               /* home telephone (item 5) */           \
    FIELD(WAREA, STRING(3))               /* work telephone area code */          \
    FIELD(WPHON, STRING(8))               /* work telephone */                    \
    FIELD(SSN, STRING(9), "@P#########P")                                         \
    FIELD(NOWBALAN, DECIMAL(19, 2))       /* current balance */
TARVEX_RECORD(PatientRecord, "PAT", LUM_PATIENT_FIELDS)

#define LUM_INVOICE_FIELDS(FIELD)                                                                      \
    FIELD(PRV, DECIMAL(3, 0))                      /* provider number */                               \
    FIELD(PAT, DECIMAL(5, 0))                      /* patient number */                                \
    FIELD(INV, DECIMAL(9, 0))                      /* claim number */                                  \
    FIELD(DATE, STRING(8), "@D12")                 /* claim date */                                    \
    FIELD(F8A, STRING(19))                         /* item 8, upper line */                            \
    FIELD(F8B, STRING(19))                         /* item 8, lower line */                            \
    FIELD(F10A, STRING(1))                         /* item 10a, "Y" = yes */                           \
    FIELD(F10B, STRING(1))                         /* item 10b, "Y" = yes */                           \
    FIELD(F10BPLACE, STRING(2))                    /* item 10b place (state) */                        \
    FIELD(F10C, STRING(1))                         /* item 10c, "Y" = yes */                           \
    FIELD(F10D, STRING(19))                        /* item 10d claim codes */                          \
    FIELD(F11DY, STRING(1))                        /* item 11d YES mark when "Y" */                    \
    FIELD(F11DN, STRING(1))                        /* item 11d NO mark when "N" */                     \
    FIELD(F12, STRING(1))                                                                              \
    FIELD(AUTHDATE, STRING(8), "@D12")             /* item 12 date */                                  \
    FIELD(AUTHSIGN, STRING(32))                    /* item 12 signature text ("N": no date printed) */ \
    FIELD(F13, STRING(1))                          /* item 13, "Y" prints "Signature On File" */       \
    FIELD(F14Q, STRING(3))                         /* item 14 qualifier (CIQL code) */                 \
    FIELD(F14A, STRING(8), "@D12")                 /* item 14 date */                                  \
    FIELD(F14B, STRING(9))                                                                             \
    FIELD(F15Q, STRING(3))                         /* item 15 qualifier (OIQL code) */                 \
    FIELD(F15, STRING(8), "@D12")                  /* item 15 date */                                  \
    FIELD(F17ID, STRING(11))                       /* referring provider (Referring key) */            \
    FIELD(F17R, STRING(24))                                                                            \
    FIELD(F19, STRING(48))                         /* item 19 additional claim information */          \
    FIELD(F21IND, STRING(1))                       /* item 21 ICD indicator (ICD key) */               \
    FIELD(F22CODE, STRING(11))                     /* item 22 resubmission code */                     \
    FIELD(F22REF, STRING(18))                      /* item 22 original reference number */             \
    FIELD(F23, STRING(29))                         /* item 23 prior authorization number */            \
    FIELD(F25TIN, STRING(15))                      /* item 25 federal tax ID number */                 \
    FIELD(F25X, STRING(3))                         /* "SSN" marks item 25 SSN, anything else EIN */    \
    FIELD(F27, STRING(1))                          /* item 27, "Y" = yes */                            \
    FIELD(F32, STRING(11), "@P###########P")       /* service facility (Facility key) */               \
    FIELD(TFEE, DECIMAL(19, 2))                    /* total charges */                                 \
    FIELD(TADJ, DECIMAL(19, 2))                    /* total adjustments */                             \
    FIELD(TPAY, DECIMAL(19, 2))                    /* total payments */                                \
    FIELD(BDUE, DECIMAL(19, 2))                    /* balance due */                                   \
    FIELD(PRIMARY, STRING(11), "@p###########p")   /* primary plan (Insured1 key) */                   \
    FIELD(SECONDARY, STRING(11), "@p###########p") /* other plan (Insured2 key) */                     \
    FIELD(DX1, STRING(7))                                                                              \
    FIELD(DX2, STRING(7))                                                                              \
    FIELD(DX3, STRING(7))                                                                              \
    FIELD(DX4, STRING(7))                                                                              \
    FIELD(DX5, STRING(7))                                                                              \
    FIELD(DX6, STRING(7))                                                                              \
    FIELD(DX7, STRING(7))                                                                              \
    FIELD(DX8, STRING(7))                                                                              \
    FIELD(DX9, STRING(7))                                                                              \
    FIELD(DX10, STRING(7))                                                                             \
    FIELD(DX11, STRING(7))                                                                             \
    FIELD(DX12, STRING(7))                                                                             \
    FIELD(HSOFROM, STRING(8), "@D12")              /* item 18 from */                                  \
    FIELD(HSPTO, STRING(8), "@D12")                /* item 18 to */                                    \
    FIELD(WCFROM, STRING(8), "@D12")               /* item 16 from */                                  \
    FIELD(WCTO, STRING(8), "@D12")                 /* item 16 to */                                    \
    FIELD(OUTLAB, STRING(1))                       /* item 20, "Y" = yes */                            \
    FIELD(LABCHARGE, DECIMAL(7, 2))                /* item 20 charges */
TARVEX_RECORD(InvoiceRecord, "INV", LUM_INVOICE_FIELDS)

#define LUM_CPT48_FIELDS(FIELD)                            \
    FIELD(CPTCODE, STRING(7))         /* procedure code */ \
    FIELD(CPTDESCRIPTION, STRING(48)) /* description */
TARVEX_RECORD(Cpt48Record, "CPT", LUM_CPT48_FIELDS)

#define LUM_ITEM_FIELDS(FIELD)                                                                          \
    FIELD(PRV, DECIMAL(3, 0))      /* provider number */                                                \
    FIELD(PAT, DECIMAL(7, 0))      /* patient number */                                                 \
    FIELD(INV, DECIMAL(7, 0))      /* claim number */                                                   \
    FIELD(DOSF, STRING(8), "@d12") /* item 24A from */                                                  \
    FIELD(DOST, STRING(8), "@d12") /* item 24A to */                                                    \
    FIELD(POS, STRING(2))          /* item 24B place of service */                                      \
    FIELD(EMG, STRING(2))          /* item 24C EMG */                                                   \
    FIELD(CPT, STRING(7))          /* item 24D procedure code (Cpt48); "00001"-"00005" never printed */ \
    FIELD(MOD1, STRING(2))         /* item 24D modifier 1 */                                            \
    FIELD(MOD2, STRING(2))         /* item 24D modifier 2 */                                            \
    FIELD(MOD3, STRING(2))         /* item 24D modifier 3 */                                            \
    FIELD(MOD4, STRING(2))         /* item 24D modifier 4 */                                            \
    FIELD(DES, STRING(48))         /* description (shaded part of item 24) */                           \
    FIELD(DXL, STRING(8))          /* item 24E diagnosis pointer */                                     \
    FIELD(FEE, DECIMAL(9, 2))      /* item 24F charge; payments, adjustments <= 0 */                    \
    FIELD(QTY, STRING(3))          /* item 24G units */                                                 \
    FIELD(EPSDTS, STRING(2))       /* item 24H, shaded part */                                          \
    FIELD(EPSDTU, STRING(1))       /* item 24H */                                                       \
    FIELD(NPI, STRING(11))                                                                              \
    FIELD(ALW, DECIMAL(9, 2))                                                                           \
    FIELD(ADJ, DECIMAL(9, 2))      /* adjustment amount */                                              \
    FIELD(DED, DECIMAL(9, 2))                                                                           \
    FIELD(NONCOV, DECIMAL(9, 2))                                                                        \
    FIELD(COB, DECIMAL(9, 2))                                                                           \
    FIELD(EXP, STRING(24))                                                                              \
    FIELD(F24J, STRING(10))        /* rendering provider (Rendering key) */
TARVEX_RECORD(ItemRecord, "ITM", LUM_ITEM_FIELDS)

#define LUM_ICD48_FIELDS(FIELD)                    \
    FIELD(ICDCODE, STRING(7)) /* diagnosis code */ \
    FIELD(ICDDES, STRING(48)) /* description */
TARVEX_RECORD(Icd48Record, "ICD", LUM_ICD48_FIELDS)

#define LUM_INSURED1_FIELDS(FIELD)                                                        \
    FIELD(INS1ID, STRING(11), "@p###########p") /* plan identifier */                     \
    FIELD(INS1PLAN, STRING(1))                  /* plan type "1" to "7" (item 1) */       \
    FIELD(INS1PATREL2INS, STRING(1))            /* relationship "1" to "4" (item 6) */    \
    FIELD(INS1IDNO, STRING(29))                 /* item 1a insured's ID number */         \
    FIELD(INS1NAME, STRING(29))                 /* item 4 insured's name */               \
    FIELD(INS1ADD1, STRING(29))                 /* item 7 street */                       \
    FIELD(INS1ADD2, STRING(23))                 /* item 7 city */                         \
    FIELD(INS1ADD3, STRING(4))                  /* item 7 state */                        \
    FIELD(INS1ADD4, STRING(12))                 /* item 7 ZIP code */                     \
    FIELD(INS1AREACODE, STRING(3))              /* item 7 telephone area code */          \
    FIELD(INS1HPHONE, STRING(10))               /* item 7 telephone */                    \
    FIELD(INS1POLICY, STRING(29))               /* item 11 policy group or FECA number */ \
    FIELD(INS1DOB, STRING(8), "@d12")           /* item 11a birth date */                 \
    FIELD(INS1SEX, STRING(1))                   /* item 11a, "M" or "F" */                \
    FIELD(INS1CARNAME, STRING(28))              /* item 11c plan name (Payer key) */      \
    FIELD(INS1CARDATE, STRING(8), "@D12")                                                 \
    FIELD(INS1CARTERM, STRING(8), "@D12")                                                 \
    FIELD(PLAN, STRING(20))                                                               \
    FIELD(RSHIP, STRING(10))                                                              \
    FIELD(INS1F11B, STRING(2))                  /* item 11b qualifier */                  \
    FIELD(INS1F11B1, STRING(29))                /* item 11b other claim ID */
TARVEX_RECORD(Insured1Record, "IN1", LUM_INSURED1_FIELDS)

#define LUM_INSURED2_FIELDS(FIELD)                                                  \
    FIELD(INS2ID, STRING(11), "@p###########p") /* plan identifier */               \
    FIELD(INS2PLAN, STRING(1))                  /* plan type "1" to "7" */          \
    FIELD(INS2PATREL2INS, STRING(1))            /* relationship "1" to "4" */       \
    FIELD(INS2IDNO, STRING(29))                                                     \
    FIELD(INS2NAME, STRING(28))                 /* item 9 other insured's name */   \
    FIELD(INS2ADD1, STRING(29))                                                     \
    FIELD(INS2ADD2, STRING(23))                                                     \
    FIELD(INS2ADD3, STRING(4))                                                      \
    FIELD(INS2ADD4, STRING(12))                                                     \
    FIELD(INS2AREACODE, STRING(3))                                                  \
    FIELD(INS2HPHONE, STRING(10))                                                   \
    FIELD(INS2POLICY, STRING(28))               /* item 9a */                       \
    FIELD(INS2DOB, STRING(8), "@d12")                                               \
    FIELD(INS2SEX, STRING(1))                   /* "M" or "F" */                    \
    FIELD(INS2CARNAME, STRING(28))              /* item 9d plan name (Payer key) */ \
    FIELD(INS2CARDATE, STRING(8), "@D12")                                           \
    FIELD(INS2CARTERM, STRING(8), "@D12")                                           \
    FIELD(PLAN, STRING(20))                                                         \
    FIELD(RSHIP, STRING(10))                                                        \
    FIELD(INS2F9B, STRING(28))                  /* item 9b */                       \
    FIELD(INS2F9C, STRING(28))                  /* item 9c */
TARVEX_RECORD(Insured2Record, "IN2", LUM_INSURED2_FIELDS)

#define LUM_FACILITY_FIELDS(FIELD)                               \
    FIELD(FACILITYID, STRING(11))   /* facility identifier */    \
    FIELD(FACILTYNAME, STRING(26))  /* item 32 name */           \
    FIELD(FACILITYADD1, STRING(26)) /* item 32 address line 1 */ \
    FIELD(FACILITYADD2, STRING(26)) /* item 32 address line 2 */ \
    FIELD(FACILITYNPI, STRING(10))  /* item 32a NPI */           \
    FIELD(FACILITYQLN, STRING(2))   /* item 32b qualifier */     \
    FIELD(FACILITYNNPI, STRING(14)) /* item 32b other ID */
TARVEX_RECORD(FacilityRecord, "FAC", LUM_FACILITY_FIELDS)

#define LUM_REFERRING_FIELDS(FIELD)                              \
    FIELD(F17ID, STRING(11)) /* referring provider identifier */ \
    FIELD(F17R, STRING(24))  /* item 17 name */                  \
    FIELD(F17Q, STRING(2))   /* item 17 qualifier */             \
    FIELD(F17AQ, STRING(2))  /* item 17a qualifier */            \
    FIELD(F17A, STRING(17))  /* item 17a ID */                   \
    FIELD(F17B, STRING(10))  /* item 17b NPI */
TARVEX_RECORD(ReferringRecord, "REF", LUM_REFERRING_FIELDS)

#define LUM_RENDERING_FIELDS(FIELD)                                   \
    FIELD(F24J, STRING(10))     /* item 24J NPI */                    \
    FIELD(F24JNAME, STRING(40)) /* rendering provider name */         \
    FIELD(F24JQ, STRING(2))     /* item 24I qualifier */              \
    FIELD(F24JNNPI, STRING(11)) /* item 24J other ID (shaded part) */
TARVEX_RECORD(RenderingRecord, "REN", LUM_RENDERING_FIELDS)

#define LUM_AUTH_FIELDS(FIELD)                                                  \
    FIELD(PAT, DECIMAL(5, 0))          /* patient number */                     \
    FIELD(AUTHDATE, STRING(8), "@D12") /* date of the signature on file */      \
    FIELD(AUTHSIGN, STRING(32))        /* authorized person's signature text */
TARVEX_RECORD(AuthRecord, "AUT", LUM_AUTH_FIELDS)

#define LUM_PAYER_FIELDS(FIELD)                                                  \
    FIELD(HICNAME, STRING(41))  /* payer name (claim form payer block line 1) */ \
    FIELD(HICADD1, STRING(41))  /* payer block line 2 */                         \
    FIELD(HICADD2, STRING(41))  /* payer block line 3 */                         \
    FIELD(HICADD3, STRING(41))  /* payer block line 4 */                         \
    FIELD(HICPHONE, STRING(12)) /* telephone */                                  \
    FIELD(HICFAX, STRING(12))   /* fax */
TARVEX_RECORD(PayerRecord, "HIC", LUM_PAYER_FIELDS)

#define LUM_ICD_FIELDS(FIELD)                             \
    FIELD(ICDV, STRING(1))  /* ICD indicator (item 21) */ \
    FIELD(ICDM, STRING(12)) /* edition text */
TARVEX_RECORD(ICDRecord, "ICDM", LUM_ICD_FIELDS)

#define LUM_CIQL_FIELDS(FIELD)                             \
    FIELD(CICODE, STRING(3))   /* qualifier code */        \
    FIELD(CIDESC, STRING(128)) /* qualifier description */
TARVEX_RECORD(CIQLRecord, "CIQ", LUM_CIQL_FIELDS)

#define LUM_OIQL_FIELDS(FIELD)                             \
    FIELD(OICODE, STRING(3))   /* qualifier code */        \
    FIELD(OIDESC, STRING(128)) /* qualifier description */
TARVEX_RECORD(OIQLRecord, "OIQ", LUM_OIQL_FIELDS)

// The files, in dictionary order.
extern tarvex::File<ProviderRecord> Provider;   // billing providers: Provider.dat, keys in .K01, .K02
extern tarvex::File<PatientRecord> Patient;
extern tarvex::File<InvoiceRecord> Invoice;     // claims
extern tarvex::File<Cpt48Record> Cpt48;         // procedure codes
extern tarvex::File<ItemRecord> Item;           // service lines of the claims
extern tarvex::File<Icd48Record> Icd48;         // diagnosis codes
extern tarvex::File<Insured1Record> Insured1;   // primary plans
extern tarvex::File<Insured2Record> Insured2;   // other plans
extern tarvex::File<FacilityRecord> Facility;   // service facilities
extern tarvex::File<ReferringRecord> Referring; // referring providers
extern tarvex::File<RenderingRecord> Rendering; // rendering providers
extern tarvex::File<AuthRecord> Auth;           // signatures on file
extern tarvex::File<PayerRecord> Payer;
extern tarvex::File<ICDRecord> ICD;             // ICD editions (item 21 indicator)
extern tarvex::File<CIQLRecord> CIQL;           // item 14 date qualifiers
extern tarvex::File<OIQLRecord> OIQL;           // item 15 date qualifiers
// clang-format on

inline constexpr size_t kDictionaryFileCount = 16;

// The declaration blocks of the sixteen files in dictionary order: the order in which start-up
// clears and binds them and in which the runtime lists them.
std::span<FileDecl* const, kDictionaryFileCount> DictionaryFiles();

// Sets every file's driver entry: `varnel` for Provider, `kelstore` for the others.
void BindFileDrivers(VrnDriverEntry kelstore, VrnDriverEntry varnel);

} // namespace lumarex
