// SPDX-License-Identifier: GPL-3.0-or-later
// The application's view shapes over real KELSTORE and VARNEL files in a temporary drive, and over
// PGSQL tables on a private server: the invoice browse view (invoice and three key-joined files),
// the service-line and payment-line views of a claim, the claim-print view and a report view;
// paging as the browse pattern pages; service lines in a date range; two threads. Every driver
// gives the same rows in the same order (on PGSQL the server serves the views it can: the one-file
// views and the invoice browse's key joins).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "data/file_operations.h"
#include "core/tests/test_support.h"
#include "data/dictionary.h"
#include "kelstore/kelstore.h"
#include "varnel/varnel.h"
#ifdef LUM_WITH_PGSQL
#include "pgsql/pg_store.h"
#include "pgsql/pgsql.h"
#include "pgsql_server.h"
#endif
#include "tarvex/evaluate.h"
#include "tarvex/files.hpp"
#include "tarvex/frame.h"
#include "tarvex/program.hpp"
#include "tarvex/values.h"
#include "tarvex/views.hpp"

namespace {

using namespace tarvex;
using lumarex::Insured1;
using lumarex::Insured2;
using lumarex::Invoice;
using lumarex::Item;
using lumarex::Patient;
using lumarex::Provider;

constexpr int kPatients = 4;
constexpr int kClaimsPerPatient = 30; // patient 1..4; claim number = patient * 1000 + n

// The drivers the program's files are bound to: as the program binds them (VARNEL for Provider,
// KELSTORE for the rest), or all to PGSQL.
struct Binding {
    const char* name;
    VrnDriverEntry kelstore;
    VrnDriverEntry varnel;
};
const Binding kFiles{"Files", KELSTORE, VARNEL};

#ifdef LUM_WITH_PGSQL
// The PGSQL cases run as one process on one private server, started by the first of them.
const Binding kServer{"PGSQL", PGSQL, PGSQL};
#endif

std::string BindingName(const ::testing::TestParamInfo<Binding>& info) {
    return info.param.name;
}

class AppViewsTest : public ::testing::TestWithParam<Binding> {
  protected:
    tarvex::testing::TemporaryDrive drive;
    // The browse's reset variables.
    int32_t reset_pat = 0, reset_prv = 0, reset_inv = 0, number = 0;

    void SetUp() override {
#ifdef LUM_WITH_PGSQL
        if (GetParam().kelstore == PGSQL && !pgsql_testing::ProcessServerUp("app_tests"))
            GTEST_SKIP() << "no PostgreSQL server could start: " << pgsql_testing::ProcessServer().Reason();
#endif
        std::filesystem::create_directories(drive.Root() / "LUMAREX" / "DATA");
        lumarex::BindFileDrivers(GetParam().kelstore, GetParam().varnel);
        for (FileDecl* file : {Invoice.Decl(), Item.Decl(), Provider.Decl(), Insured1.Decl(), Insured2.Decl(),
                               Patient.Decl()}) {
            Vrn$FILE_CREATE(file);
            ASSERT_EQ(ERRORCODE(), 0) << "CREATE " << file->name;
            Vrn$FILE_OPEN(file, ReadWrite | DenyNone);
            ASSERT_EQ(ERRORCODE(), 0) << "OPEN " << file->name;
        }
        Vrn$PushBind2(1);
        Vrn$BindG(Vrn$Group2Ufo(&Invoice.record, &lumarex::InvoiceRecord::Type()));
        Vrn$BindG(Vrn$Group2Ufo(&Item.record, &lumarex::ItemRecord::Type()));
        Vrn$BindG(Vrn$Group2Ufo(&Patient.record, &lumarex::PatientRecord::Type()));
        BindLong("BRW2::Sort1:Reset:PAT:PAT", &reset_pat);
        BindLong("BRW2::Sort1:Reset:INV:PAT", &reset_pat);
        BindLong("BRW2::Sort1:Reset:INV:PRV", &reset_prv);
        BindLong("BRW2::Sort1:Reset:INV:INV", &reset_inv);
        BindLong("NUMBER", &number);
        Fill();
    }
    void TearDown() override {
        if (IsSkipped())
            return;
        Vrn$PopBind();
        for (FileDecl* file : {Invoice.Decl(), Item.Decl(), Provider.Decl(), Insured1.Decl(), Insured2.Decl(),
                               Patient.Decl()})
            Vrn$FILE_CLOSE(file);
    }
    static void BindLong(const std::string& name, int32_t* variable) {
        Vrn$PushString(name.data(), uint32_t(name.size()));
        Vrn$BindV(Vrn$Mem2Ufo(variable, VRN_TYPE_LONG, 0, 4, 0));
    }

    // Claims of four patients, added with the patients interleaved so that no patient's claims
    // lie together in record order; plans for patient 1 only (a missing plan shows the outer join);
    // five service lines (two of them payment lines) on claim 1005.
    void Fill() {
        for (int prv = 1; prv <= 2; prv++) {
            Vrn$CLEAR(&Provider.record, &lumarex::ProviderRecord::Type(), 0);
            Provider.record.PRV = int64_t(prv);
            Provider.record.PNAME = prv == 1 ? "First Clinic" : "Second Clinic";
            ADD(Provider);
        }
        Vrn$CLEAR(&Insured1.record, &lumarex::Insured1Record::Type(), 0);
        Insured1.record.INS1ID = "P1";
        Insured1.record.INS1NAME = "Primary One";
        ADD(Insured1);
        for (int n = 1; n <= kClaimsPerPatient; n++) {
            for (int pat = kPatients; pat >= 1; pat--) {
                Vrn$CLEAR(&Invoice.record, &lumarex::InvoiceRecord::Type(), 0);
                Invoice.record.PAT = int64_t(pat);
                Invoice.record.PRV = int64_t(1 + n % 2);
                Invoice.record.INV = int64_t(pat * 1000 + n);
                Invoice.record.DATE = "20260101";
                Invoice.record.BDUE = int64_t(n % 3 == 0 ? 0 : n);
                if (pat == 1)
                    Invoice.record.PRIMARY = "P1";
                ADD(Invoice);
                ASSERT_EQ(ERRORCODE(), 0);
            }
        }
        const struct {
            const char* cpt;
            int fee;
        } lines[] = {{"99213", 120}, {"000004", 40}, {"99214", 150}, {"000001", -30}, {"85025", 20}};
        int day = 1;
        for (auto line : lines) {
            for (int inv : {1005, 2005}) {
                Vrn$CLEAR(&Item.record, &lumarex::ItemRecord::Type(), 0);
                Item.record.PAT = int64_t(inv / 1000);
                Item.record.PRV = int64_t(1 + (inv % 1000) % 2);
                Item.record.INV = int64_t(inv);
                Item.record.DOSF = ("2026010" + std::to_string(day)).c_str();
                Item.record.CPT = line.cpt;
                Item.record.FEE = int64_t(line.fee);
                ADD(Item);
            }
            day++;
        }
        for (int pat = 1; pat <= 3; pat++) {
            Vrn$CLEAR(&Patient.record, &lumarex::PatientRecord::Type(), 0);
            Patient.record.PAT = int64_t(pat);
            Patient.record.LNAME = ("Patient " + std::to_string(pat)).c_str();
            Patient.record.NOWBALAN = int64_t(pat == 2 ? 0 : pat * 10);
            ADD(Patient);
        }
    }

    static int32_t ClaimNumber() { return Invoice.record.INV.Long(); }
    static std::string Text(const char* data, size_t size) {
        std::string text(data, size);
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    }
};

// The invoice browse's view: ten invoice fields and the provider and both plans by key.
struct InvoiceBrowseView : View {
    InvoiceBrowseView()
        : View(VIEW(Invoice)
                   .PROJECT("INV:PRV, INV:PAT, INV:INV, INV:DATE, INV:TFEE, INV:TPAY, INV:TADJ, INV:BDUE, "
                            "INV:PRIMARY, INV:SECONDARY")
                   .JOIN(JOIN(Provider.Key("PRV:PRVKEY"), "INV:PRV").PROJECT("PRV:PNAME"))
                   .JOIN(JOIN(Insured1.Key("IN1:INS1IDKEY"), "INV:PRIMARY").PROJECT("IN1:INS1ID, IN1:INS1NAME"))
                   .JOIN(JOIN(Insured2.Key("IN2:INS2IDKEY"), "INV:SECONDARY").PROJECT("IN2:INS2ID"))) {}
};

// One browse page of a view, kept as the browse pattern keeps it: the rows' claim numbers and the
// view's POSITION of each.
struct Page {
    View& view;
    size_t rows = 10;
    std::vector<int32_t> claims;
    std::vector<std::string> positions;

    void Fill(size_t count, bool down) {
        std::string start;
        if (!positions.empty()) {
            start = down ? positions.back() : positions.front();
            RESET(view, start + std::string(512 - start.size(), ' '));
            ASSERT_EQ(ERRORCODE(), 0);
        }
        for (size_t read = 0; read < count;) {
            down ? NEXT(view) : PREVIOUS(view);
            if (ERRORCODE() == 33)
                return;
            ASSERT_EQ(ERRORCODE(), 0);
            std::string position = POSITION(view);
            bool same = !start.empty() && position == start;
            start.clear();
            if (same)
                continue;
            if (claims.size() == rows) {
                claims.erase(down ? claims.begin() : claims.end() - 1);
                positions.erase(down ? positions.begin() : positions.end() - 1);
            }
            claims.insert(down ? claims.end() : claims.begin(), Invoice.record.INV.Long());
            positions.insert(down ? positions.end() : positions.begin(), position);
            read++;
        }
    }
    std::pair<int32_t, int32_t> Shown() const {
        return claims.empty() ? std::make_pair(0, 0) : std::make_pair(claims.front(), claims.back());
    }
};

TEST_P(AppViewsTest, TheInvoiceBrowseViewJoinsThreeFilesByKey) {
    InvoiceBrowseView view;
    EXPECT_EQ(PROP(view, VRN_VIEW_PROP_FILES), "4");
    const std::vector<uint8_t>& code = view.StructureCode();
    ASSERT_GE(code.size(), 24u);
    // The primary node projects fields 1, 2, 3, 4, 34, 36, 35, 37, 38 and 39.
    EXPECT_EQ(code[2] | code[3] << 8, 10);
    EXPECT_EQ(std::vector<int>({code[4], code[6], code[8], code[10], code[12], code[14], code[16], code[18],
                                code[20], code[22]}),
              std::vector<int>({1, 2, 3, 4, 34, 36, 35, 37, 38, 39}));

    reset_pat = 1;
    FILTER(view, "INV:PAT = BRW2::Sort1:Reset:PAT:PAT");
    OPEN(view);
    ASSERT_EQ(ERRORCODE(), 0);
    Invoice.record.PAT = int64_t(1);
    SET(Invoice.Key("INV:PATPRVINVKEY"));
    NEXT(view);
    ASSERT_EQ(ERRORCODE(), 0);
    // Provider 1 comes first in PAT, PRV, INV order; claim 1002 is its lowest number.
    EXPECT_EQ(ClaimNumber(), 1002);
    EXPECT_EQ(Text(Provider.record.PNAME.Data(), 29), "First Clinic");
    EXPECT_EQ(Text(Insured1.record.INS1NAME.Data(), 29), "Primary One");
    EXPECT_EQ(Text(Insured2.record.INS2ID.Data(), 11), "") << "no other plan: the outer join clears it";
    CLOSE(view);
}

TEST_P(AppViewsTest, PagingThroughOnePatientsClaimsLikeTheBrowse) {
#ifdef LUM_WITH_PGSQL
    uint64_t served = lumarex::drivers::pg::ServedViewRows();
#endif
    InvoiceBrowseView view;
    reset_pat = 3;
    FILTER(view, "INV:PAT = BRW2::Sort1:Reset:PAT:PAT");
    Invoice.record.PAT = int64_t(3);
    Invoice.record.PRV = int64_t(0);
    Invoice.record.INV = int64_t(0);
    Vrn$FILE_SETkk(Invoice.Key("INV:PATPRVINVKEY"), Invoice.Key("INV:PATPRVINVKEY"));
    OPEN(view);
    Page page{view};
    page.Fill(10, true);
    // Provider 1 has the even claim numbers 3002 .. 3030, provider 2 the odd ones.
    EXPECT_EQ(page.Shown(), std::make_pair(3002, 3020));
    page.Fill(10, true);
    EXPECT_EQ(page.Shown(), std::make_pair(3022, 3009));
    page.Fill(10, true);
    EXPECT_EQ(page.Shown(), std::make_pair(3011, 3029));
    page.Fill(10, true);
    EXPECT_EQ(page.Shown(), std::make_pair(3011, 3029)) << "the last page stays";
    page.Fill(10, false);
    EXPECT_EQ(page.Shown(), std::make_pair(3022, 3009));
    page.Fill(10, false);
    EXPECT_EQ(page.Shown(), std::make_pair(3002, 3020));
    EXPECT_EQ(page.claims.size(), 10u);
    CLOSE(view);
#ifdef LUM_WITH_PGSQL
    if (GetParam().kelstore == PGSQL) {
        // The pages' 50 reads and their re-reads after RESET: each row with its provider and plans
        // came from a server query.
        EXPECT_GE(lumarex::drivers::pg::ServedViewRows() - served, 50u);
    }
#endif
}

TEST_P(AppViewsTest, ABoundedScanReadsOnlyThePatientsClaims) {
    // The same filter over a file of 120 claims: reading one patient's 30 claims does not read the
    // other 90, although the program's SET stands at the start of the key.
    View view{VIEW(Invoice), "INV:PAT = BRW2::Sort1:Reset:PAT:PAT"};
    reset_pat = 4;
    OPEN(view);
    SET(Invoice.Key("INV:PATPRVINVKEY"));
    uint64_t before = FileOperationCount();
    int rows = 0;
    for (NEXT(view); ERRORCODE() == 0; NEXT(view))
        rows++;
    EXPECT_EQ(ERRORCODE(), 33);
    EXPECT_EQ(rows, kClaimsPerPatient);
    // Per row: the view's own call, INVIEW, NEXT, ENDVIEW, POINTER; plus a few for the start.
    EXPECT_LT(FileOperationCount() - before, uint64_t(6 * rows + 20));
    CLOSE(view);
}

TEST_P(AppViewsTest, ServiceAndPaymentLinesOfAClaim) {
    reset_pat = 1;
    reset_prv = 2;
    reset_inv = 1005;
    View charges{VIEW(Item),
                 "ITM:PAT = BRW2::Sort1:Reset:INV:PAT AND ITM:PRV = BRW2::Sort1:Reset:INV:PRV AND ITM:INV = "
                 "BRW2::Sort1:Reset:INV:INV AND (ITM:FEE > -.01 AND ITM:CPT<>000001  AND ITM:CPT<>000002 AND "
                 "ITM:CPT<>000003 AND ITM:CPT<>000004 AND ITM:CPT<>000005 )"};
    OPEN(charges);
    SET(Item.Key("ITM:INVDOSKEY"));
    std::vector<std::string> seen;
    for (NEXT(charges); ERRORCODE() == 0; NEXT(charges))
        seen.push_back(Text(Item.record.CPT.Data(), 7));
    EXPECT_EQ(seen, (std::vector<std::string>{"99213", "99214", "85025"}));
    CLOSE(charges);

    View payments{VIEW(Item),
                  "ITM:PAT = BRW2::Sort1:Reset:INV:PAT AND ITM:PRV = BRW2::Sort1:Reset:INV:PRV AND ITM:INV = "
                  "BRW2::Sort1:Reset:INV:INV AND (ITM:CPT=000001 OR ITM:CPT=000002 OR ITM:CPT=000003 OR "
                  "ITM:CPT=000004 OR ITM:CPT=000005)"};
    OPEN(payments);
    // The three-field key: its three leading fields bound the scan.
    SET(Item.Key("ITM:INVPATPRVKEY"));
    seen.clear();
    for (PREVIOUS(payments); ERRORCODE() == 0; PREVIOUS(payments))
        seen.push_back(Text(Item.record.CPT.Data(), 7) + "/" + std::to_string(Item.record.INV.Long()));
    EXPECT_EQ(seen, (std::vector<std::string>{"000001/1005", "000004/1005"}));
    CLOSE(payments);
}

TEST_P(AppViewsTest, ServiceLinesInADateRangeBothWays) {
    char from[8], to[8];
    auto dates = [&](const char* first, const char* last) {
        std::memcpy(from, first, 8);
        std::memcpy(to, last, 8);
    };
    for (auto [name, address] : {std::pair{"FROMDATE", from}, std::pair{"TODATE", to}}) {
        Vrn$PushString(name, uint32_t(std::strlen(name)));
        Vrn$BindV(Vrn$Mem2Ufo(address, VRN_TYPE_STRING, 0, 8, 0));
    }
#ifdef LUM_WITH_PGSQL
    uint64_t served = lumarex::drivers::pg::ServedViewRows();
#endif
    View view{VIEW(Item), "ITM:INV = NUMBER AND ITM:DOSF >= FROMDATE AND ITM:DOSF <= TODATE"};
    OPEN(view);
    auto read = [&](bool forward) {
        std::vector<std::string> seen;
        SET(Item.Key("ITM:INVDOSKEY"));
        for (forward ? NEXT(view) : PREVIOUS(view); ERRORCODE() == 0; forward ? NEXT(view) : PREVIOUS(view))
            seen.push_back(std::to_string(Item.record.INV.Long()) + " " + Text(Item.record.DOSF.Data(), 8) + " " +
                           Text(Item.record.CPT.Data(), 7));
        EXPECT_EQ(ERRORCODE(), 33);
        return seen;
    };
    number = 1005;
    dates("20260102", "20260104");
    const std::vector<std::string> middle{"1005 20260102 000004", "1005 20260103 99214", "1005 20260104 000001"};
    EXPECT_EQ(read(true), middle);
    EXPECT_EQ(read(false), std::vector<std::string>(middle.rbegin(), middle.rend()));
    // Another claim and range through the same open view: the program's new values count.
    number = 2005;
    dates("20260104", "20261231");
    EXPECT_EQ(read(true), (std::vector<std::string>{"2005 20260104 000001", "2005 20260105 85025"}));
    dates("20260106", "20261231");
    EXPECT_EQ(read(true), std::vector<std::string>{});
    CLOSE(view);
#ifdef LUM_WITH_PGSQL
    if (GetParam().kelstore == PGSQL) {
        EXPECT_EQ(lumarex::drivers::pg::ServedViewRows() - served, 8u) << "every row came from the server";
    }
#endif
}

TEST_P(AppViewsTest, TheClaimPrintViewReadsOneClaimAndItsLines) {
    View view{VIEW(Invoice).JOIN(JOIN(Item.Key("ITM:INVDOSKEY"), "INV:INV").INNER()), nullptr, "INV:INV"};
    number = 2005;
    FILTER(view, "INV:INV = NUMBER");
    OPEN(view);
    SET(view, 0);
    std::vector<std::string> lines;
    for (NEXT(view); ERRORCODE() == 0; NEXT(view))
        lines.push_back(std::to_string(ClaimNumber()) + " " + Text(Item.record.DOSF.Data(), 8));
    EXPECT_EQ(lines, (std::vector<std::string>{"2005 20260101", "2005 20260102", "2005 20260103",
                                               "2005 20260104", "2005 20260105"}));
    CLOSE(view);
}

// Every reading of a view with the filter, through the view's driver (on PGSQL the server serves it)
// or through the generic engine alone: forwards from the start, a POSITION at the fourth row then
// RESET to it and NEXT and PREVIOUS, then, opened again, backwards from the end; each row shown by
// `row`.
std::vector<std::string> ReadAll(View& view, VrnDriverEntry driver, const char* filter,
                                 const std::function<void()>& start, const std::function<std::string()>& row) {
    std::vector<std::string> seen;
    view.Block()->driver = driver;
    OPEN(view);
    FILTER(view, filter);
    start();
    std::string position;
    for (NEXT(view); ERRORCODE() == 0; NEXT(view)) {
        seen.push_back(row());
        if (seen.size() == 4)
            position = POSITION(view);
    }
    seen.push_back("end " + std::to_string(ERRORCODE()));
    if (!position.empty()) {
        RESET(view, position + std::string(64, ' '));
        seen.push_back("reset " + std::to_string(ERRORCODE()));
        for (int i = 0; i < 4; i++) {
            i < 2 ? NEXT(view) : PREVIOUS(view);
            seen.push_back(ERRORCODE() == 0 ? row() : "error " + std::to_string(ERRORCODE()));
        }
    }
    CLOSE(view);
    OPEN(view);
    FILTER(view, filter);
    start();
    for (PREVIOUS(view); ERRORCODE() == 0; PREVIOUS(view))
        seen.push_back(row());
    seen.push_back("end " + std::to_string(ERRORCODE()));
    CLOSE(view);
    view.Block()->driver = VIEWDRIVER;
    return seen;
}

TEST_P(AppViewsTest, TheApplicationsViewsReadAsTheEngineReadsThem) {
    // A claim numbered past the service lines' seven digits: its lines are those of its number
    // modulo ten million, as storing the number into the lines' field keeps it.
    Vrn$CLEAR(&Invoice.record, &lumarex::InvoiceRecord::Type(), 0);
    Invoice.record.PAT = int64_t(2);
    Invoice.record.PRV = int64_t(1);
    Invoice.record.INV = int64_t(12002005);
    Invoice.record.SECONDARY = "p1"; // the plan's key is NOCASE
    ADD(Invoice);
    ASSERT_EQ(ERRORCODE(), 0);
    for (int day = 1; day <= 2; day++) {
        Vrn$CLEAR(&Item.record, &lumarex::ItemRecord::Type(), 0);
        Item.record.INV = int64_t(2002005);
        Item.record.DOSF = ("2026020" + std::to_string(day)).c_str();
        ADD(Item);
    }
    Vrn$CLEAR(&Insured2.record, &lumarex::Insured2Record::Type(), 0);
    Insured2.record.INS2ID = "P1";
    ADD(Insured2);
    auto claim = [] {
        return std::to_string(Invoice.record.INV.Long()) + " " + Text(Provider.record.PNAME.Data(), 29) + " " +
               Text(Insured1.record.INS1ID.Data(), 11) + " " + Text(Insured2.record.INS2ID.Data(), 11);
    };
    auto line = [] {
        return std::to_string(Invoice.record.INV.Long()) + " " + std::to_string(Item.record.INV.Long()) + " " +
               Text(Item.record.DOSF.Data(), 8) + " " + Text(Item.record.CPT.Data(), 7);
    };
    // On PGSQL every row read through the view's driver came from the server.
    auto through_driver = [&](View& view, const char* filter, const std::function<void()>& start,
                              const std::function<std::string()>& row) {
#ifdef LUM_WITH_PGSQL
        uint64_t before = lumarex::drivers::pg::ServedViewRows();
#endif
        std::vector<std::string> seen = ReadAll(view, VIEWDRIVER, filter, start, row);
#ifdef LUM_WITH_PGSQL
        if (GetParam().kelstore == PGSQL) {
            size_t rows = size_t(std::count_if(seen.begin(), seen.end(), [](const std::string& text) {
                return text.rfind("end", 0) != 0 && text.rfind("reset", 0) != 0 && text.rfind("error", 0) != 0;
            }));
            EXPECT_EQ(lumarex::drivers::pg::ServedViewRows() - before, rows) << filter;
        }
#endif
        return seen;
    };
    // The invoice browse: every patient, then one patient by the browse's key.
    for (int32_t patient : {0, 2}) {
        InvoiceBrowseView view;
        reset_pat = patient;
        const char* filter = patient == 0 ? "" : "INV:PAT = BRW2::Sort1:Reset:PAT:PAT";
        auto start = [] { SET(Invoice.Key("INV:PATPRVINVKEY")); };
        std::vector<std::string> engine = ReadAll(view, VIEWENGINE, filter, start, claim);
        EXPECT_EQ(through_driver(view, filter, start, claim), engine) << "patient " << patient;
        EXPECT_GT(engine.size(), 60u);
    }
    // The claim print: one claim and its lines in claim order, one of them past seven digits, and
    // every claim with lines.
    for (int32_t wanted : {2005, 12002005, 0}) {
        View view{VIEW(Invoice).JOIN(JOIN(Item.Key("ITM:INVDOSKEY"), "INV:INV").INNER()), nullptr, "INV:INV"};
        number = wanted;
        const char* filter = wanted == 0 ? "" : "INV:INV = NUMBER";
        auto start = [&view] { SET(view, 0); };
        std::vector<std::string> engine = ReadAll(view, VIEWENGINE, filter, start, line);
        EXPECT_EQ(through_driver(view, filter, start, line), engine) << "claim " << wanted;
        EXPECT_GE(engine.size(), 6u) << "claim " << wanted;
    }
}

TEST_P(AppViewsTest, AReportViewOfPatientsWithABalance) {
    View view{VIEW(Patient), "pat:nowbalan >0"};
    OPEN(view);
    SET(Patient);
    std::vector<int32_t> patients;
    for (NEXT(view); ERRORCODE() == 0; NEXT(view))
        patients.push_back(Patient.record.PAT.Long());
    EXPECT_EQ(patients, (std::vector<int32_t>{1, 3}));
    CLOSE(view);
}

TEST_P(AppViewsTest, TwoThreadsPageTheirOwnPatientsAtOnce) {
    InvoiceBrowseView view;
    std::mutex runtime_lock; // program code runs under one lock; threads interleave between calls
    std::vector<int32_t> seen[2];
    auto reader = [&](int which) {
        std::unique_lock lock(runtime_lock);
        int32_t patient = which == 0 ? 2 : 4;
        Vrn$PushBind2(1);
        Vrn$BindG(Vrn$Group2Ufo(&Invoice.record, &lumarex::InvoiceRecord::Type()));
        Vrn$PushString("WHO", 3);
        Vrn$BindV(Vrn$Long2Ufo(patient));
        FILTER(view, "INV:PAT = WHO");
        OPEN(view);
        SET(Invoice.Key("INV:PATPRVINVKEY"));
        for (NEXT(view); ERRORCODE() == 0; NEXT(view)) {
            seen[which].push_back(ClaimNumber());
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
        }
        CLOSE(view);
        Vrn$PopBind();
    };
    std::thread a(reader, 0), b(reader, 1);
    a.join();
    b.join();
    for (int which = 0; which < 2; which++) {
        int32_t patient = which == 0 ? 2 : 4;
        std::vector<int32_t> expected;
        for (int n = 2; n <= kClaimsPerPatient; n += 2)
            expected.push_back(patient * 1000 + n);
        for (int n = 1; n <= kClaimsPerPatient; n += 2)
            expected.push_back(patient * 1000 + n);
        EXPECT_EQ(seen[which], expected) << "thread " << which;
    }
}

INSTANTIATE_TEST_SUITE_P(Drivers, AppViewsTest, ::testing::Values(kFiles), BindingName);
#ifdef LUM_WITH_PGSQL
INSTANTIATE_TEST_SUITE_P(Server, AppViewsTest, ::testing::Values(kServer), BindingName);
#endif

} // namespace
