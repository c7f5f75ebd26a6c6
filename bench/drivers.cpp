// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of the KELSTORE and VARNEL drivers on the program's own Invoice file against raw SQLite
// doing the same work on the same records in the same run. VARNEL keeps each key in a database of
// its own, attached to one connection, and SQLite attaches at most ten: its Invoice file declares
// ten of the fourteen keys (the four single-field keys INV:F14QKEY, INV:F15QKEY, INV:REFERRALKEY
// and INV:FACILITYKEY are left out), so its ADD maintains ten key indexes where the peer and
// KELSTORE maintain fourteen.
//
//   NEXT  every record in INV:PATPRVDATEKEY order, from start to end, each copied into the buffer
//         peer: one prepared SELECT ... ORDER BY prv, pat, date, id stepped to the end (a cursor);
//         also a keyset peer that reseeks after the last row with a prepared statement reset per
//         row (so each row is its own autocommit read, as each NEXT of the driver is), the way a
//         program must work when other statements may come between two NEXTs
//   GET   100,000 random existing claim numbers by INV:INVKEY, each record copied into the buffer
//         peer: a prepared SELECT ... WHERE inv = ?1, reset and rebound per key
//   ADD   100,000 new records inside one LOGOUT ... COMMIT
//         peer: a prepared INSERT inside one BEGIN IMMEDIATE ... COMMIT
//
// The peer's table holds the same typed columns the drivers store, one per field (text without
// trailing blanks, integers for whole-number decimals, text with the places for amounts), and the
// peer reads and writes them with conversions of its own, as short as they can be (ASCII only, no
// checks). It indexes the field columns themselves, one index per key: UNIQUE for the claim
// number, COLLATE NOCASE where the key is NOCASE, partial (blank left out) for one-field keys,
// multi-column for the three composite keys. That is how a careful hand-written program would
// store and index the same file; the drivers keep memcomparable key images beside the columns.
//
// Both files are built once at start-up with the same records (each side in one transaction),
// then each benchmark runs once over the whole job. LUM_BENCH_RECORDS sets the file size
// (default 1,000,000). The file sizes per record are printed before the benchmarks run.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "data/dictionary.h"
#include "kelstore/kelstore.h"
#include "varnel/varnel.h"
#include "tarvex/files.hpp"
#include "tarvex/frame.h"

namespace {

using lumarex::Invoice;
using lumarex::InvoiceRecord;

// The same records through VARNEL.
tarvex::File<InvoiceRecord> VarnelInvoice{VARNEL, tarvex::FixedName("C:\\LUMAREX\\DATA\\Invoice.dat"), {
    tarvex::KEY("INV:PRVKEY", "INV:PRV", tarvex::DUP | tarvex::OPT | tarvex::NOCASE),
    tarvex::KEY("INV:ICDV", "INV:F21IND", tarvex::DUP | tarvex::OPT | tarvex::NOCASE),
    tarvex::KEY("INV:PATKEY", "INV:PAT", tarvex::DUP | tarvex::OPT | tarvex::NOCASE),
    tarvex::KEY("INV:INVKEY", "INV:INV", tarvex::OPT | tarvex::NOCASE | tarvex::PRIMARY),
    tarvex::KEY("INV:PRIMARYKEY", "INV:PRIMARY", tarvex::DUP | tarvex::OPT | tarvex::NOCASE),
    tarvex::KEY("INV:SECONDARYKEY", "INV:SECONDARY", tarvex::DUP | tarvex::OPT | tarvex::NOCASE),
    tarvex::KEY("INV:PATAUTHDATEKEY", "INV:PAT, INV:AUTHDATE", tarvex::DUP | tarvex::OPT | tarvex::NOCASE),
    tarvex::KEY("INV:PATPRVINVKEY", "INV:PAT, INV:PRV, INV:INV", tarvex::DUP | tarvex::OPT),
    tarvex::KEY("INV:PATPRVDATEKEY", "INV:PRV, INV:PAT, INV:DATE", tarvex::DUP | tarvex::OPT),
    tarvex::KEY("INV:DATEKEY", "INV:DATE", tarvex::DUP | tarvex::OPT | tarvex::NOCASE)}};

constexpr int64_t kGets = 100000;
constexpr int64_t kAdds = 100000;

// ---- The records -------------------------------------------------------------------------------

// The values of one generated claim that the peer binds as plain columns.
struct Claim {
    int32_t prv = 0;
    int32_t pat = 0;
    int32_t inv = 0;
};

// The whole run's shared state: the temporary drive, the peer's connection, the claim numbers.
struct World {
    std::filesystem::path root;
    std::filesystem::path peer_path;
    sqlite3* peer = nullptr;
    int64_t records = 0;
    std::vector<int32_t> claim_numbers; // records + kAdds distinct numbers in random order
    InvoiceRecord blank{};
    bool ready = false;
};
World world;

// Record `i`: 50 providers, 40,000 patients, dates over 25 years, some optional fields blank.
Claim MakeInvoice(int64_t i, InvoiceRecord* record) {
    std::memcpy(static_cast<void*>(record), &world.blank, sizeof(InvoiceRecord));
    uint64_t h = static_cast<uint64_t>(i) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    Claim claim;
    claim.prv = static_cast<int32_t>(1 + h % 50);
    claim.pat = static_cast<int32_t>(1 + (h >> 8) % 40000);
    claim.inv = world.claim_numbers[static_cast<size_t>(i)];
    record->PRV = static_cast<int64_t>(claim.prv);
    record->PAT = static_cast<int64_t>(claim.pat);
    record->INV = static_cast<int64_t>(claim.inv);
    char text[64];
    std::snprintf(text, sizeof text, "%04u%02u%02u", unsigned(2000 + (h >> 20) % 25), unsigned(1 + (h >> 28) % 12),
                  unsigned(1 + (h >> 32) % 28));
    record->DATE = text;
    std::snprintf(text, sizeof text, "%04u%02u%02u", unsigned(2000 + (h >> 36) % 25), unsigned(1 + (h >> 40) % 12),
                  unsigned(1 + (h >> 44) % 28));
    record->AUTHDATE = text;
    record->AUTHSIGN = "Signature On File";
    record->F21IND = (h >> 3) % 4 == 0 ? "9" : "0";
    if ((h >> 5) % 2 == 0)
        record->F14Q = (h >> 6) % 2 == 0 ? "431" : "484";
    if ((h >> 7) % 10 < 3)
        record->F15Q = "454";
    if ((h >> 9) % 10 < 6) {
        std::snprintf(text, sizeof text, "R%06u", unsigned((h >> 12) % 900));
        record->F17ID = text;
        record->F17R = "Referring Physician";
    }
    std::snprintf(text, sizeof text, "%011u", unsigned((h >> 14) % 30));
    record->F32 = text;
    std::snprintf(text, sizeof text, "P%010u", unsigned(claim.pat));
    record->PRIMARY = text;
    if ((h >> 16) % 10 < 4) {
        std::snprintf(text, sizeof text, "S%010u", unsigned(claim.pat));
        record->SECONDARY = text;
    }
    record->F8A = "Single";
    record->F10A = "N";
    record->F10B = "N";
    record->F10C = "N";
    record->F25TIN = "12-3456789";
    record->F25X = "EIN";
    record->DX1 = "J06.9";
    record->DX2 = "R05";
    record->TFEE = static_cast<int64_t>((h >> 18) % 100000);
    record->BDUE = static_cast<int64_t>((h >> 18) % 100000);
    return claim;
}

// ---- The peer ----------------------------------------------------------------------------------

// The peer's table: the same typed columns the drivers store (text without trailing blanks for
// strings, INTEGER for whole-number decimals, text with the declared places for amounts), named
// after the fields, and one index per key on the field columns themselves.
std::string PeerSchema() {
    const VrnTypeDesc& type = InvoiceRecord::Type();
    std::string sql = "CREATE TABLE inv (id INTEGER PRIMARY KEY";
    for (uint32_t i = 0; i < type.field_count; i++) {
        const VrnFieldDesc& field = type.fields[i];
        bool whole = field.type == VRN_TYPE_DECIMAL && field.places == 0;
        sql += std::string(", \"") + (std::strchr(field.label, ':') + 1) + "\"" + (whole ? " INTEGER" : " TEXT");
    }
    return sql + ");"
                 "CREATE INDEX inv_prv ON inv (prv);"
                 "CREATE INDEX inv_f21ind ON inv (f21ind COLLATE NOCASE) WHERE f21ind <> '';"
                 "CREATE INDEX inv_pat ON inv (pat);"
                 "CREATE UNIQUE INDEX inv_inv ON inv (inv);"
                 "CREATE INDEX inv_f14q ON inv (f14q COLLATE NOCASE) WHERE f14q <> '';"
                 "CREATE INDEX inv_f15q ON inv (f15q COLLATE NOCASE) WHERE f15q <> '';"
                 "CREATE INDEX inv_f17id ON inv (f17id COLLATE NOCASE) WHERE f17id <> '';"
                 "CREATE INDEX inv_f32 ON inv (f32 COLLATE NOCASE) WHERE f32 <> '';"
                 "CREATE INDEX inv_prim ON inv (\"primary\" COLLATE NOCASE) WHERE \"primary\" <> '';"
                 "CREATE INDEX inv_sec ON inv (secondary COLLATE NOCASE) WHERE secondary <> '';"
                 "CREATE INDEX inv_pat_authdate ON inv (pat, authdate COLLATE NOCASE);"
                 "CREATE INDEX inv_pat_prv_inv ON inv (pat, prv, inv);"
                 "CREATE INDEX inv_prv_pat_date ON inv (prv, pat, date);"
                 "CREATE INDEX inv_date ON inv (date COLLATE NOCASE) WHERE date <> '';";
}

// Every field's column, in record order, for the peer's statements.
std::string PeerColumns() {
    const VrnTypeDesc& type = InvoiceRecord::Type();
    std::string sql;
    for (uint32_t i = 0; i < type.field_count; i++)
        sql += std::string(i > 0 ? ", \"" : "\"") + (std::strchr(type.fields[i].label, ':') + 1) + "\"";
    return sql;
}

std::string PeerInsertSql() {
    std::string sql = "INSERT INTO inv (" + PeerColumns() + ") VALUES (?1";
    for (uint32_t i = 1; i < InvoiceRecord::Type().field_count; i++)
        sql += ", ?" + std::to_string(i + 1);
    return sql + ")";
}

struct StatementCloser {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using PeerStatement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

PeerStatement Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(world.peer, sql, -1, &statement, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "peer: %s\n", sqlite3_errmsg(world.peer));
        sqlite3_finalize(statement);
        return nullptr;
    }
    return PeerStatement(statement);
}

bool PeerExec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(world.peer, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "peer: %s\n", message != nullptr ? message : "?");
    sqlite3_free(message);
    return false;
}

// The peer's own conversions, as short as a hand-written program over these columns would have
// them: ASCII text, packed decimals with the sign the runtime writes, no checks.
int64_t PackedWhole(const unsigned char* bytes, uint32_t size) {
    int64_t value = bytes[0] & 0x0F;
    for (uint32_t i = 1; i < size; i++)
        value = value * 100 + (bytes[i] >> 4) * 10 + (bytes[i] & 0x0F);
    return (bytes[0] >> 4) != 0 ? -value : value;
}

size_t PackedText(const unsigned char* bytes, uint32_t size, uint32_t places, char* text) {
    char digits[40];
    uint32_t count = 2 * size - 1;
    for (uint32_t d = 0; d < count; d++) {
        uint32_t nibble = d + 1;
        digits[d] = char('0' + (nibble % 2 == 0 ? bytes[nibble / 2] >> 4 : bytes[nibble / 2] & 0x0F));
    }
    size_t at = 0;
    if ((bytes[0] >> 4) != 0)
        text[at++] = '-';
    uint32_t first = 0;
    while (first + 1 < count - places && digits[first] == '0')
        first++;
    for (uint32_t d = first; d < count; d++) {
        if (d == count - places)
            text[at++] = '.';
        text[at++] = digits[d];
    }
    return at;
}

void StorePacked(const char* text, size_t length, uint32_t size, uint32_t places, unsigned char* bytes) {
    bool negative = length > 0 && text[0] == '-';
    char digits[40];
    uint32_t count = 2 * size - 1, at = count;
    std::memset(digits, '0', count);
    // From the last digit backwards, the point dropped: "12.50" is the digits 1250.
    for (size_t i = length; i-- > (negative ? 1u : 0u) && at > 0;)
        if (text[i] != '.')
            digits[--at] = text[i];
    (void)places;
    std::memset(bytes, 0, size);
    bytes[0] = static_cast<unsigned char>(negative ? 0xF0 : 0);
    for (uint32_t d = 0; d < count; d++) {
        uint32_t nibble = d + 1;
        int digit = digits[d] - '0';
        bytes[nibble / 2] |= static_cast<unsigned char>(nibble % 2 == 0 ? digit << 4 : digit);
    }
}

// One peer INSERT of the record; the caller keeps the record alive until the step.
bool PeerInsert(sqlite3_stmt* insert, const InvoiceRecord& record) {
    const VrnTypeDesc& type = InvoiceRecord::Type();
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
    sqlite3_reset(insert);
    for (uint32_t i = 0; i < type.field_count; i++) {
        const VrnFieldDesc& field = type.fields[i];
        const unsigned char* at = bytes + field.offset;
        int index = static_cast<int>(i + 1);
        if (field.type == VRN_TYPE_STRING) {
            int length = static_cast<int>(field.size);
            while (length > 0 && at[length - 1] == ' ')
                length--;
            sqlite3_bind_text(insert, index, reinterpret_cast<const char*>(at), length, SQLITE_STATIC);
        } else if (field.places == 0) {
            sqlite3_bind_int64(insert, index, PackedWhole(at, field.size));
        } else {
            char text[40];
            size_t length = PackedText(at, field.size, field.places, text);
            sqlite3_bind_text(insert, index, text, static_cast<int>(length), SQLITE_TRANSIENT);
        }
    }
    return sqlite3_step(insert) == SQLITE_DONE;
}

// Builds the record buffer from a row's columns (the fields from column 1 on), as the driver does.
void TakeRow(sqlite3_stmt* row, InvoiceRecord* record) {
    const VrnTypeDesc& type = InvoiceRecord::Type();
    unsigned char* bytes = reinterpret_cast<unsigned char*>(record);
    for (uint32_t i = 0; i < type.field_count; i++) {
        const VrnFieldDesc& field = type.fields[i];
        unsigned char* at = bytes + field.offset;
        int column = static_cast<int>(i + 1);
        if (field.type == VRN_TYPE_STRING) {
            const unsigned char* text = sqlite3_column_text(row, column);
            size_t length = std::min<size_t>(static_cast<size_t>(sqlite3_column_bytes(row, column)), field.size);
            std::memcpy(at, text, length);
            std::memset(at + length, ' ', field.size - length);
        } else if (field.places == 0) {
            char text[24];
            int length = std::snprintf(text, sizeof text, "%lld", static_cast<long long>(sqlite3_column_int64(row, column)));
            StorePacked(text, static_cast<size_t>(length), field.size, 0, at);
        } else {
            const char* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
            StorePacked(text, static_cast<size_t>(sqlite3_column_bytes(row, column)), field.size, field.places, at);
        }
    }
}

// ---- Start-up ----------------------------------------------------------------------------------

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool Build() {
    const char* env = std::getenv("LUM_BENCH_RECORDS");
    world.records = env != nullptr ? std::max<int64_t>(std::atoll(env), 1000) : 1000000;
    std::mt19937 random(20261208);
    world.root = std::filesystem::temp_directory_path() / ("lumbench-" + std::to_string(random()));
    std::error_code error;
    std::filesystem::create_directories(world.root / "LUMAREX" / "DATA", error);
    if (error) {
        std::fprintf(stderr, "cannot create %s\n", world.root.c_str());
        return false;
    }
    setenv("TARVEX_DRIVE_C", world.root.c_str(), 1);
    world.peer_path = world.root / "peer.db";

    // Distinct claim numbers in random order, for the file and for the records ADD brings.
    world.claim_numbers.resize(static_cast<size_t>(world.records + kAdds));
    for (size_t i = 0; i < world.claim_numbers.size(); i++)
        world.claim_numbers[i] = static_cast<int32_t>(100000 + i);
    std::shuffle(world.claim_numbers.begin(), world.claim_numbers.end(), random);
    std::memset(static_cast<void*>(&world.blank), 0, sizeof(InvoiceRecord));
    Vrn$CLEAR(&world.blank, &InvoiceRecord::Type(), 0);

    lumarex::BindFileDrivers(KELSTORE, nullptr);
    double ours = 0, varnel = 0;
    for (tarvex::File<InvoiceRecord>* file : {&Invoice, &VarnelInvoice}) {
        const char* name = file == &Invoice ? "KELSTORE" : "VARNEL";
        auto start = std::chrono::steady_clock::now();
        tarvex::CREATE(*file);
        tarvex::OPEN(*file, tarvex::ReadWrite | tarvex::DenyNone);
        if (Vrn$ERRCODE != 0) {
            std::fprintf(stderr, "%s: CREATE/OPEN failed with %d\n", name, Vrn$ERRCODE);
            return false;
        }
        tarvex::LOGOUT(1, *file);
        for (int64_t i = 0; i < world.records && Vrn$ERRCODE == 0; i++) {
            MakeInvoice(i, &file->record);
            tarvex::ADD(*file);
        }
        int32_t add_error = Vrn$ERRCODE;
        tarvex::COMMIT();
        if (add_error != 0 || Vrn$ERRCODE != 0) {
            std::fprintf(stderr, "%s: building failed with %d/%d\n", name, add_error, Vrn$ERRCODE);
            return false;
        }
        (file == &Invoice ? ours : varnel) = Seconds(start);
    }

    auto start = std::chrono::steady_clock::now();
    if (sqlite3_open_v2(world.peer_path.c_str(), &world.peer, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
            SQLITE_OK ||
        !PeerExec("PRAGMA mmap_size = 1073741824") || // the drivers read through a memory map too
        !PeerExec(PeerSchema().c_str()) || !PeerExec("BEGIN IMMEDIATE"))
        return false;
    {
        PeerStatement insert = Prepare(PeerInsertSql().c_str());
        if (!insert)
            return false;
        InvoiceRecord record;
        for (int64_t i = 0; i < world.records; i++) {
            MakeInvoice(i, &record);
            if (!PeerInsert(insert.get(), record)) {
                std::fprintf(stderr, "peer: %s\n", sqlite3_errmsg(world.peer));
                return false;
            }
        }
    }
    if (!PeerExec("COMMIT"))
        return false;
    double peer = Seconds(start);

    const std::filesystem::path data = world.root / "LUMAREX" / "DATA";
    auto ours_size = std::filesystem::file_size(data / "Invoice.kel", error);
    auto varnel_size = std::filesystem::file_size(data / "Invoice.dat", error);
    for (int k = 1; k <= 10; k++)
        varnel_size += std::filesystem::file_size(data / (std::string(k < 10 ? "Invoice.K0" : "Invoice.K") + std::to_string(k)), error);
    auto peer_size = std::filesystem::file_size(world.peer_path, error);
    double n = static_cast<double>(world.records);
    std::printf("records: %lld of %zu bytes\n", static_cast<long long>(world.records), sizeof(InvoiceRecord));
    std::printf("build (one transaction): KELSTORE %.1f s (%.0f records/s), VARNEL %.1f s (%.0f records/s), "
                "SQLite %.1f s (%.0f records/s)\n",
                ours, n / ours, varnel, n / varnel, peer, n / peer);
    std::printf("file size per record: KELSTORE %.1f bytes, VARNEL %.1f bytes (.dat and ten key files), SQLite %.1f "
                "bytes (ratios %.2f, %.2f)\n",
                static_cast<double>(ours_size) / n, static_cast<double>(varnel_size) / n,
                static_cast<double>(peer_size) / n, static_cast<double>(ours_size) / static_cast<double>(peer_size),
                static_cast<double>(varnel_size) / static_cast<double>(peer_size));
    {
        PeerStatement plan = Prepare(("EXPLAIN QUERY PLAN SELECT id, " + PeerColumns() +
                                      " FROM inv ORDER BY prv, pat, date, id").c_str());
        while (plan && sqlite3_step(plan.get()) == SQLITE_ROW)
            std::printf("peer NEXT plan: %s\n", reinterpret_cast<const char*>(sqlite3_column_text(plan.get(), 3)));
    }
    std::fflush(stdout);
    world.ready = true;
    return true;
}

void TearDown() {
    if (Invoice.Decl()->driver_instance != nullptr)
        tarvex::CLOSE(Invoice);
    if (VarnelInvoice.Decl()->driver_instance != nullptr)
        tarvex::CLOSE(VarnelInvoice);
    if (world.peer != nullptr)
        sqlite3_close_v2(world.peer);
    world.peer = nullptr;
    std::error_code ignored;
    if (!world.root.empty())
        std::filesystem::remove_all(world.root, ignored);
}

// The claim numbers GET looks for: existing ones, at random.
std::vector<int32_t> GetKeys() {
    std::mt19937 random(7);
    std::vector<int32_t> keys(static_cast<size_t>(kGets));
    for (int32_t& key : keys)
        key = world.claim_numbers[random() % static_cast<size_t>(world.records)];
    return keys;
}

// ---- The benchmarks ----------------------------------------------------------------------------

void Count(benchmark::State& state, int64_t done, int64_t wanted) {
    if (done != wanted)
        state.SkipWithError(("did " + std::to_string(done) + " of " + std::to_string(wanted)).c_str());
    state.SetItemsProcessed(done);
}

void DriverNext(benchmark::State& state, tarvex::File<InvoiceRecord>* file) {
    KeyDecl* key = file->Key("INV:PATPRVDATEKEY");
    int64_t done = 0;
    for (auto _ : state) {
        done = 0;
        std::memcpy(static_cast<void*>(&file->record), &world.blank, sizeof(InvoiceRecord));
        tarvex::SET(key);
        for (tarvex::NEXT(*file); Vrn$ERRCODE == 0; tarvex::NEXT(*file))
            done++;
    }
    Count(state, done, world.records);
}

void SqliteNextCursor(benchmark::State& state) {
    PeerStatement scan = Prepare(("SELECT id, " + PeerColumns() + " FROM inv ORDER BY prv, pat, date, id").c_str());
    InvoiceRecord record;
    int64_t done = 0;
    for (auto _ : state) {
        done = 0;
        sqlite3_reset(scan.get());
        while (sqlite3_step(scan.get()) == SQLITE_ROW) {
            TakeRow(scan.get(), &record);
            done++;
        }
        benchmark::DoNotOptimize(record);
    }
    Count(state, done, world.records);
}

void SqliteNextSeek(benchmark::State& state) {
    // Columns 1, 2 and 4 are prv, pat and date.
    PeerStatement first = Prepare(("SELECT id, " + PeerColumns() + " FROM inv ORDER BY prv, pat, date, id LIMIT 1").c_str());
    PeerStatement next = Prepare(("SELECT id, " + PeerColumns() +
                                  " FROM inv WHERE (prv, pat, date, id) > (?1, ?2, ?3, ?4) ORDER BY prv, pat, date, id LIMIT 1")
                                     .c_str());
    InvoiceRecord record;
    int64_t done = 0;
    for (auto _ : state) {
        done = 0;
        sqlite3_stmt* row = first.get();
        sqlite3_reset(row);
        std::string date;
        while (sqlite3_step(row) == SQLITE_ROW) {
            TakeRow(row, &record);
            done++;
            // The place to go on from, taken before the statement is reset.
            int64_t id = sqlite3_column_int64(row, 0);
            int64_t prv = sqlite3_column_int64(row, 1);
            int64_t pat = sqlite3_column_int64(row, 2);
            date.assign(reinterpret_cast<const char*>(sqlite3_column_text(row, 4)),
                        static_cast<size_t>(sqlite3_column_bytes(row, 4)));
            // Each row is its own statement and read, as each NEXT of the driver is.
            sqlite3_reset(row);
            row = next.get();
            sqlite3_bind_int64(row, 1, prv);
            sqlite3_bind_int64(row, 2, pat);
            sqlite3_bind_text(row, 3, date.data(), static_cast<int>(date.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(row, 4, id);
        }
        benchmark::DoNotOptimize(record);
    }
    Count(state, done, world.records);
}

void DriverGet(benchmark::State& state, tarvex::File<InvoiceRecord>* file) {
    std::vector<int32_t> keys = GetKeys();
    KeyDecl* key = file->Key("INV:INVKEY");
    int64_t done = 0;
    for (auto _ : state) {
        done = 0;
        for (int32_t number : keys) {
            file->record.INV = static_cast<int64_t>(number);
            tarvex::GET(key);
            done += Vrn$ERRCODE == 0 ? 1 : 0;
        }
    }
    Count(state, done, kGets);
}

void SqliteGet(benchmark::State& state) {
    std::vector<int32_t> keys = GetKeys();
    PeerStatement get = Prepare(("SELECT id, " + PeerColumns() + " FROM inv WHERE inv = ?1").c_str());
    InvoiceRecord record;
    int64_t done = 0;
    for (auto _ : state) {
        done = 0;
        for (int32_t number : keys) {
            sqlite3_reset(get.get());
            sqlite3_bind_int(get.get(), 1, number);
            if (sqlite3_step(get.get()) == SQLITE_ROW) {
                TakeRow(get.get(), &record);
                done++;
            }
        }
        benchmark::DoNotOptimize(record);
    }
    Count(state, done, kGets);
}

// The records ADD brings: numbered after the file's, built before the clock runs.
struct NewRecords {
    std::vector<InvoiceRecord> records;
    std::vector<Claim> claims;
    NewRecords() : records(static_cast<size_t>(kAdds)), claims(static_cast<size_t>(kAdds)) {
        for (int64_t j = 0; j < kAdds; j++)
            claims[static_cast<size_t>(j)] = MakeInvoice(world.records + j, &records[static_cast<size_t>(j)]);
    }
};

void DriverAdd(benchmark::State& state, tarvex::File<InvoiceRecord>* file) {
    NewRecords fresh;
    int64_t done = 0;
    for (auto _ : state) {
        tarvex::LOGOUT(1, *file);
        for (const InvoiceRecord& record : fresh.records) {
            std::memcpy(static_cast<void*>(&file->record), &record, sizeof(InvoiceRecord));
            tarvex::ADD(*file);
            if (Vrn$ERRCODE != 0)
                break;
            done++;
        }
        tarvex::COMMIT();
        if (Vrn$ERRCODE != 0)
            done = 0;
    }
    Count(state, done, kAdds);
}

void SqliteAdd(benchmark::State& state) {
    NewRecords fresh;
    PeerStatement insert = Prepare(PeerInsertSql().c_str());
    InvoiceRecord record;
    int64_t done = 0;
    for (auto _ : state) {
        if (!PeerExec("BEGIN IMMEDIATE"))
            break;
        for (size_t j = 0; j < fresh.records.size(); j++) {
            std::memcpy(static_cast<void*>(&record), &fresh.records[j], sizeof(InvoiceRecord));
            if (!PeerInsert(insert.get(), record))
                break;
            done++;
        }
        if (!PeerExec("COMMIT"))
            done = 0;
    }
    Count(state, done, kAdds);
}

// Each runs once over the whole job: the files change under ADD, and one pass is long enough.
BENCHMARK_CAPTURE(DriverNext, KELSTORE, &Invoice)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DriverNext, VARNEL, &VarnelInvoice)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(SqliteNextCursor)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(SqliteNextSeek)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DriverGet, KELSTORE, &Invoice)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DriverGet, VARNEL, &VarnelInvoice)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(SqliteGet)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DriverAdd, KELSTORE, &Invoice)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DriverAdd, VARNEL, &VarnelInvoice)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(SqliteAdd)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!Build()) {
        TearDown();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    TearDown();
    return 0;
}
