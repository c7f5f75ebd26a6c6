// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of the view engine over KELSTORE files of the program's invoice record, against SQLite
// doing the same work on the same records in the same run:
//
//   Page   one patient's page of 10 claims through the view with the filter
//          "INV:PAT = BRW2::Sort1:Reset:PAT:PAT", from OPEN of the view to the tenth row (the
//          browse's SET on INV:PATPRVINVKEY with the patient's values, OPEN, 10 NEXT, CLOSE), at
//          10,000, 100,000 and 1,000,000 claims with 100 claims per patient: the time must not
//          grow with the file.
//          peer: SELECT data FROM inv WHERE pat = ?1 ORDER BY pat, prv, inv, id LIMIT 10, prepared
//          once, rebound per page, over the 1,000,000-claim table with an index on (pat, prv, inv)
//   Scan   the filter "(INV:BDUE > 0)" over all 1,000,000 claims in record order, every row that
//          passes copied into the buffer
//          peer: SELECT data FROM inv WHERE bdue > 0, each row's record copied out; also the
//          driver alone (SET and NEXT on the file, the balance tested in C++), the floor for any
//          engine that reads through the driver contract
//
//   Lines  one claim's service lines through the application's service-line view: Item in the
//          order of ITM:INVDOSKEY with the three-field claim filter and the charge-line condition,
//          over 5,000,000 lines (5 per claim of the 1,000,000-claim file, one of them a payment
//          line the filter drops), from the SET on the key to the end of the claim's lines
//          peer: SELECT data FROM itm WHERE inv = ?1 AND cpt <> '00001' ORDER BY inv, dosf, id
//
// The files are built once and kept under the build folder (views-data beside the binary), so
// later runs reuse them; LUM_BENCH_VIEWS_REBUILD=1 builds them again.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "data/dictionary.h"
#include "kelstore/kelstore.h"
#include "tarvex/evaluate.h"
#include "tarvex/files.hpp"
#include "tarvex/frame.h"
#include "tarvex/values.h"
#include "tarvex/views.hpp"

namespace {

using lumarex::InvoiceRecord;
using lumarex::ItemRecord;
using tarvex::File;

constexpr int64_t kSizes[] = {10000, 100000, 1000000};
constexpr int64_t kClaimsPerPatient = 100;
constexpr int64_t kPeerSize = 1000000;
constexpr int64_t kLinesPerClaim = 5;
constexpr int64_t kChargeLinesPerClaim = 4;
constexpr const char* kServiceLineFilter =
    "ITM:PAT = BRW2::Sort1:Reset:INV:PAT AND ITM:PRV = BRW2::Sort1:Reset:INV:PRV AND "
    "ITM:INV = BRW2::Sort1:Reset:INV:INV AND (ITM:FEE > -.01 AND ITM:CPT<>000001  AND ITM:CPT<>000002 "
    "AND ITM:CPT<>000003 AND ITM:CPT<>000004 AND ITM:CPT<>000005 )";

struct Table {
    int64_t size = 0;
    std::string name;
    std::unique_ptr<File<InvoiceRecord>> file;
    std::unique_ptr<tarvex::View> view;
};

// The service lines of the 1,000,000 claims.
struct Lines {
    std::unique_ptr<File<ItemRecord>> file;
    std::unique_ptr<tarvex::View> view;
    ItemRecord blank{};
    int32_t reset_pat = 0, reset_prv = 0, reset_inv = 0;
};

struct World {
    std::filesystem::path root;
    std::vector<Table> tables;
    Lines lines;
    sqlite3* peer = nullptr;
    int32_t reset_pat = 0;
    InvoiceRecord blank{};
    bool ready = false;
};
World world;

// Claim i (0-based): patients spread at random over the file, 50 providers, a balance on two
// claims out of three.
void MakeClaim(int64_t i, int64_t size, InvoiceRecord* record, int32_t* pat, int32_t* prv, int64_t* bdue) {
    std::memcpy(static_cast<void*>(record), &world.blank, sizeof(InvoiceRecord));
    uint64_t h = static_cast<uint64_t>(i) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    int64_t patients = size / kClaimsPerPatient;
    *pat = static_cast<int32_t>(1 + (h >> 8) % static_cast<uint64_t>(patients));
    *prv = static_cast<int32_t>(1 + h % 50);
    *bdue = i % 3 == 0 ? 0 : static_cast<int64_t>((h >> 18) % 100000);
    record->PAT = static_cast<int64_t>(*pat);
    record->PRV = static_cast<int64_t>(*prv);
    record->INV = static_cast<int64_t>(i + 1);
    record->DATE = "20260101";
    record->AUTHSIGN = "Signature On File";
    record->F8A = "Single";
    record->DX1 = "J06.9";
    record->TFEE = *bdue;
    record->BDUE = *bdue;
}

// Line j (0-based) of claim i: four charge lines, then a payment line.
void MakeLine(int64_t i, int64_t j, ItemRecord* record) {
    InvoiceRecord claim;
    int32_t pat, prv;
    int64_t bdue;
    MakeClaim(i, kPeerSize, &claim, &pat, &prv, &bdue);
    std::memcpy(static_cast<void*>(record), &world.lines.blank, sizeof(ItemRecord));
    record->PAT = static_cast<int64_t>(pat);
    record->PRV = static_cast<int64_t>(prv);
    record->INV = static_cast<int64_t>(i + 1);
    char date[9] = "2026010?";
    date[7] = static_cast<char>('1' + j);
    record->DOSF = date;
    record->DOST = date;
    bool payment = j == kLinesPerClaim - 1;
    record->CPT = payment ? "00001" : "99213";
    record->DES = payment ? "Payment" : "Office visit";
    record->FEE = payment ? int64_t(-40) : int64_t(85);
}

std::filesystem::path DataFolder() {
    std::error_code error;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return (error ? std::filesystem::current_path() : exe.parent_path()) / "views-data";
}

bool Exists(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool BuildTable(Table& table, bool rebuild) {
    std::filesystem::path marker = world.root / (table.name + ".done");
    if (!rebuild && Exists(marker)) {
        tarvex::OPEN(*table.file, tarvex::ReadWrite | tarvex::DenyNone);
        return Vrn$ERRCODE == 0;
    }
    std::filesystem::remove(world.root / (table.name + ".kel"));
    auto start = std::chrono::steady_clock::now();
    tarvex::CREATE(*table.file);
    tarvex::OPEN(*table.file, tarvex::ReadWrite | tarvex::DenyNone);
    if (Vrn$ERRCODE != 0)
        return false;
    tarvex::LOGOUT(1, *table.file);
    int32_t pat, prv;
    int64_t bdue;
    for (int64_t i = 0; i < table.size && Vrn$ERRCODE == 0; i++) {
        MakeClaim(i, table.size, &table.file->record, &pat, &prv, &bdue);
        tarvex::ADD(*table.file);
    }
    int32_t error = Vrn$ERRCODE;
    tarvex::COMMIT();
    if (error != 0 || Vrn$ERRCODE != 0)
        return false;
    std::ofstream(marker) << "built\n";
    std::printf("built %s: %lld claims in %.1f s\n", table.name.c_str(), static_cast<long long>(table.size),
                Seconds(start));
    return true;
}

bool BuildLines(bool rebuild) {
    Lines& lines = world.lines;
    std::memset(static_cast<void*>(&lines.blank), 0, sizeof(ItemRecord));
    Vrn$CLEAR(&lines.blank, &ItemRecord::Type(), 0);
    lines.file = std::make_unique<File<ItemRecord>>(
        KELSTORE, "C:\\ITM.kel",
        std::initializer_list<tarvex::KeySpec>{
            tarvex::KEY("ITM:INVDOSKEY", "ITM:INV, ITM:DOSF", tarvex::DUP | tarvex::NOCASE)});
    std::filesystem::path marker = world.root / "ITM.done";
    if (!rebuild && Exists(marker)) {
        tarvex::OPEN(*lines.file, tarvex::ReadWrite | tarvex::DenyNone);
    } else {
        std::filesystem::remove(world.root / "ITM.kel");
        auto start = std::chrono::steady_clock::now();
        tarvex::CREATE(*lines.file);
        tarvex::OPEN(*lines.file, tarvex::ReadWrite | tarvex::DenyNone);
        if (Vrn$ERRCODE != 0)
            return false;
        tarvex::LOGOUT(1, *lines.file);
        for (int64_t i = 0; i < kPeerSize && Vrn$ERRCODE == 0; i++) {
            for (int64_t j = 0; j < kLinesPerClaim && Vrn$ERRCODE == 0; j++) {
                MakeLine(i, j, &lines.file->record);
                tarvex::ADD(*lines.file);
            }
        }
        int32_t error = Vrn$ERRCODE;
        tarvex::COMMIT();
        if (error != 0 || Vrn$ERRCODE != 0)
            return false;
        std::ofstream(marker) << "built\n";
        std::printf("built ITM: %lld lines in %.1f s\n", static_cast<long long>(kPeerSize * kLinesPerClaim),
                    Seconds(start));
    }
    if (Vrn$ERRCODE != 0)
        return false;
    tarvex::ViewNode root = tarvex::VIEW(*lines.file);
    lines.view = std::make_unique<tarvex::View>(root);
    return true;
}

bool PeerExec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(world.peer, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "peer: %s\n", message != nullptr ? message : "?");
    sqlite3_free(message);
    return false;
}

bool BuildPeer(bool rebuild) {
    std::filesystem::path path = world.root / "peer.db";
    std::filesystem::path marker = world.root / "peer-with-lines.done";
    if (rebuild || !Exists(marker))
        std::filesystem::remove(path);
    if (sqlite3_open_v2(path.c_str(), &world.peer, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        return false;
    // The drivers read their files through a memory map; the peer does the same.
    if (!PeerExec("PRAGMA mmap_size = 1073741824"))
        return false;
    if (!rebuild && Exists(marker))
        return true;
    if (!PeerExec("CREATE TABLE inv (id INTEGER PRIMARY KEY, data BLOB NOT NULL, pat INTEGER, prv INTEGER,"
                  " inv INTEGER, bdue INTEGER);"
                  "CREATE INDEX inv_pat_prv_inv ON inv (pat, prv, inv);"
                  "CREATE UNIQUE INDEX inv_inv ON inv (inv);") ||
        !PeerExec("BEGIN IMMEDIATE"))
        return false;
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(world.peer, "INSERT INTO inv (data, pat, prv, inv, bdue) VALUES (?1, ?2, ?3, ?4, ?5)", -1,
                       &insert, nullptr);
    InvoiceRecord record;
    for (int64_t i = 0; i < kPeerSize; i++) {
        int32_t pat, prv;
        int64_t bdue;
        MakeClaim(i, kPeerSize, &record, &pat, &prv, &bdue);
        sqlite3_reset(insert);
        sqlite3_bind_blob(insert, 1, &record, static_cast<int>(sizeof record), SQLITE_STATIC);
        sqlite3_bind_int(insert, 2, pat);
        sqlite3_bind_int(insert, 3, prv);
        sqlite3_bind_int64(insert, 4, i + 1);
        sqlite3_bind_int64(insert, 5, bdue);
        if (sqlite3_step(insert) != SQLITE_DONE)
            return false;
    }
    sqlite3_finalize(insert);
    if (!PeerExec("CREATE TABLE itm (id INTEGER PRIMARY KEY, data BLOB NOT NULL, inv INTEGER, dosf TEXT, cpt TEXT);"
                  "CREATE INDEX itm_inv_dosf ON itm (inv, dosf);"))
        return false;
    sqlite3_prepare_v2(world.peer, "INSERT INTO itm (data, inv, dosf, cpt) VALUES (?1, ?2, ?3, ?4)", -1, &insert,
                       nullptr);
    ItemRecord line;
    for (int64_t i = 0; i < kPeerSize; i++) {
        for (int64_t j = 0; j < kLinesPerClaim; j++) {
            MakeLine(i, j, &line);
            std::string dosf(line.DOSF.View()), cpt(line.CPT.View());
            cpt.erase(cpt.find_last_not_of(' ') + 1);
            sqlite3_reset(insert);
            sqlite3_bind_blob(insert, 1, &line, static_cast<int>(sizeof line), SQLITE_STATIC);
            sqlite3_bind_int64(insert, 2, i + 1);
            sqlite3_bind_text(insert, 3, dosf.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 4, cpt.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(insert) != SQLITE_DONE)
                return false;
        }
    }
    sqlite3_finalize(insert);
    if (!PeerExec("COMMIT"))
        return false;
    std::ofstream(marker) << "built\n";
    return true;
}

bool Build() {
    std::memset(static_cast<void*>(&world.blank), 0, sizeof(InvoiceRecord));
    Vrn$CLEAR(&world.blank, &InvoiceRecord::Type(), 0);
    world.root = DataFolder();
    std::filesystem::create_directories(world.root);
    setenv("TARVEX_DRIVE_C", world.root.c_str(), 1);
    bool rebuild = std::getenv("LUM_BENCH_VIEWS_REBUILD") != nullptr;
    for (int64_t size : kSizes) {
        Table table;
        table.size = size;
        table.name = "INV" + std::to_string(size);
        world.tables.push_back(std::move(table));
    }
    for (Table& table : world.tables) {
        std::string name = "C:\\" + table.name + ".kel";
        table.file = std::make_unique<File<InvoiceRecord>>(
            KELSTORE, strdup(name.c_str()),
            std::initializer_list<tarvex::KeySpec>{
                tarvex::KEY("INV:INVKEY", "INV:INV", tarvex::OPT | tarvex::NOCASE | tarvex::PRIMARY),
                tarvex::KEY("INV:PATPRVINVKEY", "INV:PAT, INV:PRV, INV:INV", tarvex::DUP | tarvex::OPT)});
        if (!BuildTable(table, rebuild)) {
            std::fprintf(stderr, "building %s failed with %d\n", table.name.c_str(), Vrn$ERRCODE);
            return false;
        }
        table.view = std::make_unique<tarvex::View>(tarvex::VIEW(*table.file));
    }
    if (!BuildLines(rebuild)) {
        std::fprintf(stderr, "building ITM failed with %d\n", Vrn$ERRCODE);
        return false;
    }
    if (!BuildPeer(rebuild))
        return false;
    world.ready = true;
    return true;
}

Table& TableOf(int64_t size) {
    for (Table& table : world.tables) {
        if (table.size == size)
            return table;
    }
    return world.tables.back();
}

// Binds the table's record and the browse's reset variable in a scope of their own.
struct Scope {
    explicit Scope(Table& table) {
        Vrn$PushBind2(0);
        Vrn$BindG(Vrn$Group2Ufo(&table.file->record, &InvoiceRecord::Type()));
        Vrn$PushString("BRW2::Sort1:Reset:PAT:PAT", 25);
        Vrn$BindV(Vrn$Mem2Ufo(&world.reset_pat, VRN_TYPE_LONG, 0, 4, 0));
    }
    ~Scope() { Vrn$PopBind(); }
};

// ---- The benchmarks ---------------------------------------------------------------------------------

void ViewPage(benchmark::State& state) {
    Table& table = TableOf(state.range(0));
    Scope scope(table);
    tarvex::View& view = *table.view;
    KeyDecl* key = table.file->Key("INV:PATPRVINVKEY");
    int64_t patients = table.size / kClaimsPerPatient;
    int64_t rows = 0, pages = 0;
    int32_t patient = 0;
    for (auto _ : state) {
        patient = static_cast<int32_t>(1 + (pages * 7919) % patients);
        world.reset_pat = patient;
        std::memcpy(static_cast<void*>(&table.file->record), &world.blank, sizeof(InvoiceRecord));
        table.file->record.PAT = static_cast<int64_t>(patient);
        Vrn$FILE_SETkk(key, key);
        tarvex::FILTER(view, "INV:PAT = BRW2::Sort1:Reset:PAT:PAT");
        tarvex::OPEN(view);
        for (int i = 0; i < 10; i++) {
            tarvex::NEXT(view);
            if (Vrn$ERRCODE != 0)
                break;
            rows += table.file->record.PAT.Long() == patient ? 1 : 0;
        }
        tarvex::CLOSE(view);
        pages++;
    }
    if (rows != pages * 10)
        state.SkipWithError(("rows " + std::to_string(rows) + " of " + std::to_string(pages * 10)).c_str());
    state.SetItemsProcessed(pages);
    state.counters["claims"] = static_cast<double>(table.size);
}

void SqlitePage(benchmark::State& state) {
    sqlite3_stmt* page = nullptr;
    sqlite3_prepare_v2(world.peer, "SELECT data FROM inv WHERE pat = ?1 ORDER BY pat, prv, inv, id LIMIT 10", -1,
                       &page, nullptr);
    InvoiceRecord record;
    int64_t patients = kPeerSize / kClaimsPerPatient;
    int64_t rows = 0, pages = 0;
    for (auto _ : state) {
        int32_t patient = static_cast<int32_t>(1 + (pages * 7919) % patients);
        sqlite3_reset(page);
        sqlite3_bind_int(page, 1, patient);
        while (sqlite3_step(page) == SQLITE_ROW) {
            std::memcpy(static_cast<void*>(&record), sqlite3_column_blob(page, 0),
                        std::min<size_t>(sizeof record, static_cast<size_t>(sqlite3_column_bytes(page, 0))));
            rows += record.PAT.Long() == patient ? 1 : 0;
        }
        pages++;
    }
    sqlite3_finalize(page);
    if (rows != pages * 10)
        state.SkipWithError("short pages");
    state.SetItemsProcessed(pages);
    state.counters["claims"] = static_cast<double>(kPeerSize);
}

int64_t scan_rows_ours = -1, scan_rows_peer = -2;

void ViewScan(benchmark::State& state) {
    Table& table = TableOf(kPeerSize);
    Scope scope(table);
    tarvex::View view{tarvex::VIEW(*table.file), "(INV:BDUE > 0)"};
    int64_t rows = 0;
    for (auto _ : state) {
        rows = 0;
        tarvex::OPEN(view);
        tarvex::SET(*table.file);
        for (tarvex::NEXT(view); Vrn$ERRCODE == 0; tarvex::NEXT(view))
            rows++;
        tarvex::CLOSE(view);
    }
    scan_rows_ours = rows;
    state.SetItemsProcessed(rows);
    state.counters["rows"] = static_cast<double>(rows);
}

// The same scan with the file's own NEXT and a compiled comparison: what the driver alone costs.
void KelstoreScan(benchmark::State& state) {
    Table& table = TableOf(kPeerSize);
    int64_t rows = 0;
    for (auto _ : state) {
        rows = 0;
        tarvex::SET(*table.file);
        for (tarvex::NEXT(*table.file); Vrn$ERRCODE == 0; tarvex::NEXT(*table.file))
            rows += table.file->record.BDUE.Long() > 0 ? 1 : 0;
    }
    state.SetItemsProcessed(rows);
    state.counters["rows"] = static_cast<double>(rows);
}

void SqliteScan(benchmark::State& state) {
    sqlite3_stmt* scan = nullptr;
    sqlite3_prepare_v2(world.peer, "SELECT data FROM inv WHERE bdue > 0", -1, &scan, nullptr);
    InvoiceRecord record;
    int64_t rows = 0;
    for (auto _ : state) {
        rows = 0;
        sqlite3_reset(scan);
        while (sqlite3_step(scan) == SQLITE_ROW) {
            std::memcpy(static_cast<void*>(&record), sqlite3_column_blob(scan, 0),
                        std::min<size_t>(sizeof record, static_cast<size_t>(sqlite3_column_bytes(scan, 0))));
            rows++;
        }
        benchmark::DoNotOptimize(record);
    }
    sqlite3_finalize(scan);
    scan_rows_peer = rows;
    state.SetItemsProcessed(rows);
    state.counters["rows"] = static_cast<double>(rows);
}

// The service-line list of one claim, as the claim form fills it.
void ServiceLines(benchmark::State& state) {
    Lines& lines = world.lines;
    Vrn$PushBind2(0);
    Vrn$BindG(Vrn$Group2Ufo(&lines.file->record, &ItemRecord::Type()));
    Vrn$PushString("BRW2::Sort1:Reset:INV:PAT", 25);
    Vrn$BindV(Vrn$Mem2Ufo(&lines.reset_pat, VRN_TYPE_LONG, 0, 4, 0));
    Vrn$PushString("BRW2::Sort1:Reset:INV:PRV", 25);
    Vrn$BindV(Vrn$Mem2Ufo(&lines.reset_prv, VRN_TYPE_LONG, 0, 4, 0));
    Vrn$PushString("BRW2::Sort1:Reset:INV:INV", 25);
    Vrn$BindV(Vrn$Mem2Ufo(&lines.reset_inv, VRN_TYPE_LONG, 0, 4, 0));
    KeyDecl* key = lines.file->Key("ITM:INVDOSKEY");
    int64_t rows = 0, claims = 0;
    for (auto _ : state) {
        int64_t claim = (claims * 7919) % kPeerSize;
        InvoiceRecord invoice;
        int32_t pat, prv;
        int64_t bdue;
        MakeClaim(claim, kPeerSize, &invoice, &pat, &prv, &bdue);
        lines.reset_pat = pat;
        lines.reset_prv = prv;
        lines.reset_inv = static_cast<int32_t>(claim + 1);
        std::memcpy(static_cast<void*>(&lines.file->record), &lines.blank, sizeof(ItemRecord));
        lines.file->record.INV = claim + 1;
        Vrn$FILE_SETkk(key, key);
        tarvex::FILTER(*lines.view, kServiceLineFilter);
        tarvex::OPEN(*lines.view);
        for (tarvex::NEXT(*lines.view); Vrn$ERRCODE == 0; tarvex::NEXT(*lines.view))
            rows += lines.file->record.INV.Long() == claim + 1 ? 1 : 0;
        tarvex::CLOSE(*lines.view);
        claims++;
    }
    Vrn$PopBind();
    if (rows != claims * kChargeLinesPerClaim)
        state.SkipWithError(("lines " + std::to_string(rows) + " of " + std::to_string(claims * 4)).c_str());
    state.SetItemsProcessed(claims);
    state.counters["lines"] = static_cast<double>(kPeerSize * kLinesPerClaim);
}

void SqliteServiceLines(benchmark::State& state) {
    sqlite3_stmt* page = nullptr;
    sqlite3_prepare_v2(world.peer, "SELECT data FROM itm WHERE inv = ?1 AND cpt <> '00001' ORDER BY inv, dosf, id", -1,
                       &page, nullptr);
    ItemRecord line;
    int64_t rows = 0, claims = 0;
    for (auto _ : state) {
        int64_t claim = (claims * 7919) % kPeerSize;
        sqlite3_reset(page);
        sqlite3_bind_int64(page, 1, claim + 1);
        while (sqlite3_step(page) == SQLITE_ROW) {
            std::memcpy(static_cast<void*>(&line), sqlite3_column_blob(page, 0),
                        std::min<size_t>(sizeof line, static_cast<size_t>(sqlite3_column_bytes(page, 0))));
            rows += line.INV.Long() == claim + 1 ? 1 : 0;
        }
        claims++;
    }
    sqlite3_finalize(page);
    if (rows != claims * kChargeLinesPerClaim)
        state.SkipWithError("short claims");
    state.SetItemsProcessed(claims);
    state.counters["lines"] = static_cast<double>(kPeerSize * kLinesPerClaim);
}

BENCHMARK(ViewPage)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(SqlitePage)->Unit(benchmark::kMicrosecond);
BENCHMARK(ViewScan)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(KelstoreScan)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(SqliteScan)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(ServiceLines)->Unit(benchmark::kMicrosecond);
BENCHMARK(SqliteServiceLines)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!Build())
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    if (scan_rows_ours >= 0 && scan_rows_peer >= 0 && scan_rows_ours != scan_rows_peer) {
        std::fprintf(stderr, "the scans disagree: %lld rows against %lld\n", static_cast<long long>(scan_rows_ours),
                     static_cast<long long>(scan_rows_peer));
        return 1;
    }
    for (Table& table : world.tables) {
        table.view.reset();
        tarvex::CLOSE(*table.file);
    }
    world.lines.view.reset();
    tarvex::CLOSE(*world.lines.file);
    sqlite3_close_v2(world.peer);
    benchmark::Shutdown();
    return 0;
}
