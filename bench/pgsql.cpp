// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of the PGSQL driver against raw libpq doing the same reads and writes on the same server
// in the same run, over a private server started for the run (as the driver tests start it).
// The record is a claim of four fields (claim number, patient, code, amount) with two keys: the
// claim number (unique) and patient + claim number (DUP).
//
//   ADD   LUM_BENCH_RECORDS new records (default 100,000) inside one LOGOUT ... COMMIT
//         peer: a prepared INSERT of the same typed columns inside one BEGIN ... COMMIT, into a
//         table indexed on the field columns themselves (the driver keeps key images beside them)
//   NEXT  every record in patient + claim order, each copied into the buffer
//         peer: a prepared keyset SELECT per row after the last (patient, claim), as the driver
//         reads, since other statements may come between two NEXTs of a program
//   GET   10,000 random claim numbers by the claim key, each record copied into the buffer
//         peer: a prepared SELECT ... WHERE inv = $1 per claim
//   PAGE  1,000 browse pages: the first 10 claims of a random patient (SET by key values, then
//         NEXT up to 10 times while the patient is the same); the time per page is the figure
//         peer: one prepared SELECT ... WHERE pat = $1 ORDER BY inv LIMIT 10 per page
//   VIEW  the same 1,000 pages through a view over the claims whose FILTER names the patient
//         (CLM:PAT = WHO, WHO the program's variable), which the driver serves as server queries
//   JOIN  the same 1,000 pages through the browse's shape of view: the claims and three files
//         joined by key, outer (the patient by number, a fee schedule by amount, a code list by
//         code, NOCASE, holding one claim's code in a hundred): the driver's one query a page
//         against the generic engine reading the four files (the peer)
//   PUT   10,000 random claims read by the claim key and written back with a new amount, the
//         version trigger in place; then the same without the trigger (dropped for the run and
//         added back by the next OPEN), to show what the trigger costs the driver's own PUT
//         peer: a prepared SELECT and a prepared UPDATE ... WHERE inv = $1 per claim
//   STATIONS  claims added per second by two stations at once (two processes, each with its own
//         connection, each ADD its own transaction) against one station alone adding as many
//         claims as both together; the peer is the station alone, the ratio the figure (2.0
//         would be two stations each as fast as one alone)
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "pgsql/pgsql.h"
#include "pgsql_server.h"
#include "tarvex/evaluate.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/views.h"
#include "tarvex/type_descriptor.h"

namespace {

#define BENCH_CLAIM_FIELDS(FIELD)                                                                            \
    FIELD(INV, LONG)                                                                                         \
    FIELD(PAT, LONG)                                                                                         \
    FIELD(CODE, STRING(10))                                                                                  \
    FIELD(AMOUNT, LONG)
TARVEX_RECORD(ClaimRecord, "CLM", BENCH_CLAIM_FIELDS)

constexpr int64_t kGets = 10000;
constexpr int64_t kPages = 1000;

pgsql_testing::Server server;
int64_t records = 100000;

struct Claims {
    ClaimRecord record{};
    int32_t inv_components[1] = {1};
    int32_t pat_components[2] = {2, 1};
    KeyDecl inv_key{};
    KeyDecl pat_key{};
    KeyDecl* keys[2] = {&inv_key, &pat_key};
    FileDecl file{};

    Claims() {
        inv_key.label = "CLM:INVKEY";
        inv_key.label_length = 10;
        inv_key.attributes = VRN_KEY_PRIMARY;
        inv_key.component_count = 1;
        inv_key.components = inv_components;
        inv_key.file = &file;
        pat_key.label = "CLM:PATKEY";
        pat_key.label_length = 10;
        pat_key.attributes = VRN_KEY_DUP;
        pat_key.component_count = 2;
        pat_key.components = pat_components;
        pat_key.file = &file;
        file.driver = PGSQL;
        file.name = "C:\\DATA\\Claims.kel";
        file.name_length = VRN_LENGTH_CSTRING;
        file.key_count = 2;
        file.record_length = sizeof(ClaimRecord);
        file.record_type = &ClaimRecord::Type();
        file.keys = keys;
        file.record = &record;
    }
};
Claims claims;
PGconn* peer = nullptr;

// Each benchmark's wall time, for the ratios printed after the run; a run that did not do all its
// work is left out.
std::map<std::string, double> seconds_of;
std::string last_timed;

struct Timed {
    std::string name;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    ~Timed() {
        seconds_of[name] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        last_timed = name;
    }
};

// Claim i: patient i / 7 (seven claims each), a code and an amount.
void Fill(int64_t i, int32_t* inv, int32_t* pat, char* code, int32_t* amount) {
    *inv = int32_t(i + 1);
    *pat = int32_t(i / 7 + 1);
    std::snprintf(code, 11, "C%07lld", static_cast<long long>(i % 9999999));
    *amount = int32_t(i % 1000);
}

void Count(benchmark::State& state, int64_t done, int64_t wanted) {
    state.counters["records"] = double(done);
    if (done != wanted)
        seconds_of.erase(last_timed);
    if (done != wanted)
        state.SkipWithError(("did " + std::to_string(done) + " of " + std::to_string(wanted)).c_str());
}

// The pages read the claims the ADD benchmarks added; without them there is nothing to time.
void PageCount(benchmark::State& state, int64_t rows) {
    state.counters["pages"] = double(kPages); // the time per page is Time / pages
    state.counters["rows"] = double(rows);
    if (rows == 0) {
        seconds_of.erase(last_timed);
        state.SkipWithError("no claims read (the ADD benchmarks fill the tables)");
    }
}

bool PeerRun(const char* sql) {
    PGresult* result = PQexec(peer, sql);
    bool ok = PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
    if (!ok)
        std::fprintf(stderr, "peer: %s", PQerrorMessage(peer));
    PQclear(result);
    return ok;
}

uint32_t BigEndian32(int32_t value) {
    uint32_t v = uint32_t(value);
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

// The peer's row as the driver's buffer: binary int4 columns and the code's text, blank-padded.
void TakePeerRow(PGresult* result, int row, ClaimRecord* record) {
    auto int4 = [&](int column) {
        uint32_t raw;
        std::memcpy(&raw, PQgetvalue(result, row, column), 4);
        return int32_t(BigEndian32(int32_t(raw)));
    };
    record->INV = int4(0);
    record->PAT = int4(1);
    char code[11];
    size_t length = std::min<size_t>(size_t(PQgetlength(result, row, 2)), 10);
    std::memcpy(code, PQgetvalue(result, row, 2), length);
    std::memset(code + length, ' ', 10 - length);
    code[10] = '\0';
    record->CODE = code;
    record->AMOUNT = int4(3);
}

void DriverAdd(benchmark::State& state) {
    int64_t done = 0;
    for (auto _ : state) {
        Timed timed{"DriverAdd"};
        Vrn$LOGOUT(10, &claims.file, nullptr);
        char code[11];
        for (int64_t i = 0; i < records; i++) {
            int32_t inv, pat, amount;
            Fill(i, &inv, &pat, code, &amount);
            claims.record.INV = inv;
            claims.record.PAT = pat;
            claims.record.CODE = code;
            claims.record.AMOUNT = amount;
            Vrn$FILE_ADDf(&claims.file);
            if (Vrn$ERRCODE == 0)
                done++;
        }
        Vrn$COMMIT();
        if (Vrn$ERRCODE != 0)
            done = 0;
    }
    Count(state, done, records);
}

void LibpqAdd(benchmark::State& state) {
    int64_t done = 0;
    for (auto _ : state) {
        Timed timed{"LibpqAdd"};
        PeerRun("BEGIN");
        const Oid types[4] = {23, 23, 25, 23};
        PGresult* prepared = PQprepare(peer, "add", "INSERT INTO peer (inv, pat, code, amount) VALUES ($1, $2, $3, $4)",
                                       4, types);
        PQclear(prepared);
        char code[11];
        for (int64_t i = 0; i < records; i++) {
            int32_t inv, pat, amount;
            Fill(i, &inv, &pat, code, &amount);
            uint32_t values[3] = {BigEndian32(inv), BigEndian32(pat), BigEndian32(amount)};
            const char* params[4] = {reinterpret_cast<const char*>(&values[0]), reinterpret_cast<const char*>(&values[1]),
                                     code, reinterpret_cast<const char*>(&values[2])};
            const int lengths[4] = {4, 4, int(std::strlen(code)), 4};
            const int formats[4] = {1, 1, 1, 1};
            PGresult* result = PQexecPrepared(peer, "add", 4, params, lengths, formats, 1);
            if (PQresultStatus(result) == PGRES_COMMAND_OK)
                done++;
            PQclear(result);
        }
        if (!PeerRun("COMMIT"))
            done = 0;
    }
    Count(state, done, records);
}

void DriverNext(benchmark::State& state) {
    int64_t done = 0;
    for (auto _ : state) {
        Timed timed{"DriverNext"};
        Vrn$FILE_SETk(&claims.pat_key);
        for (;;) {
            Vrn$FILE_NEXT(&claims.file);
            if (Vrn$ERRCODE != 0)
                break;
            done++;
        }
    }
    Count(state, done, records);
}

void LibpqNext(benchmark::State& state) {
    int64_t done = 0;
    for (auto _ : state) {
        Timed timed{"LibpqNext"};
        const Oid types[2] = {23, 23};
        PQclear(PQprepare(peer, "next",
                          "SELECT inv, pat, code, amount FROM peer WHERE (pat, inv) > ($1, $2) ORDER BY pat, inv LIMIT 1",
                          2, types));
        ClaimRecord record{};
        uint32_t after[2] = {BigEndian32(INT32_MIN), BigEndian32(INT32_MIN)};
        for (;;) {
            const char* params[2] = {reinterpret_cast<const char*>(&after[1]), reinterpret_cast<const char*>(&after[0])};
            const int lengths[2] = {4, 4}, formats[2] = {1, 1};
            PGresult* result = PQexecPrepared(peer, "next", 2, params, lengths, formats, 1);
            bool row = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1;
            if (row) {
                TakePeerRow(result, 0, &record);
                after[0] = BigEndian32(record.INV);
                after[1] = BigEndian32(record.PAT);
                done++;
            }
            PQclear(result);
            if (!row)
                break;
        }
    }
    Count(state, done, records);
}

std::vector<int32_t> RandomClaims() {
    std::mt19937 random(7);
    std::uniform_int_distribution<int32_t> pick(1, int32_t(records));
    std::vector<int32_t> wanted(kGets);
    for (int32_t& inv : wanted)
        inv = pick(random);
    return wanted;
}

void DriverGet(benchmark::State& state) {
    std::vector<int32_t> wanted = RandomClaims();
    int64_t done = 0;
    for (auto _ : state) {
        Timed timed{"DriverGet"};
        for (int32_t inv : wanted) {
            claims.record.INV = inv;
            Vrn$FILE_GETfk(&claims.inv_key);
            if (Vrn$ERRCODE == 0 && claims.record.INV == inv)
                done++;
        }
    }
    Count(state, done, kGets);
}

// The peer's read of one claim by its number, prepared once per connection as "get".
bool PeerGet(int32_t inv, ClaimRecord* record) {
    uint32_t key = BigEndian32(inv);
    const char* params[1] = {reinterpret_cast<const char*>(&key)};
    const int lengths[1] = {4}, formats[1] = {1};
    PGresult* result = PQexecPrepared(peer, "get", 1, params, lengths, formats, 1);
    bool found = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1;
    if (found)
        TakePeerRow(result, 0, record);
    PQclear(result);
    return found && record->INV == inv;
}

void PreparePeerGet() {
    const Oid types[1] = {23};
    PQclear(PQprepare(peer, "get", "SELECT inv, pat, code, amount FROM peer WHERE inv = $1", 1, types));
}

void LibpqGet(benchmark::State& state) {
    std::vector<int32_t> wanted = RandomClaims();
    int64_t done = 0;
    for (auto _ : state) {
        Timed timed{"LibpqGet"};
        PreparePeerGet();
        ClaimRecord record{};
        for (int32_t inv : wanted)
            done += PeerGet(inv, &record) ? 1 : 0;
    }
    Count(state, done, kGets);
}


std::vector<int32_t> RandomPatients() {
    std::mt19937 random(11);
    std::uniform_int_distribution<int32_t> pick(1, int32_t((records - 1) / 7 + 1));
    std::vector<int32_t> wanted(kPages);
    for (int32_t& pat : wanted)
        pat = pick(random);
    return wanted;
}

void DriverPage(benchmark::State& state) {
    std::vector<int32_t> wanted = RandomPatients();
    int64_t rows = 0;
    for (auto _ : state) {
        Timed timed{"DriverPage"};
        for (int32_t pat : wanted) {
            claims.record.PAT = pat;
            claims.record.INV = INT32_MIN;
            Vrn$FILE_SETkk(&claims.pat_key, &claims.pat_key);
            for (int n = 0; n < 10; n++) {
                Vrn$FILE_NEXT(&claims.file);
                if (Vrn$ERRCODE != 0 || claims.record.PAT != pat)
                    break;
                rows++;
            }
        }
    }
    PageCount(state, rows);
}

void LibpqPage(benchmark::State& state) {
    std::vector<int32_t> wanted = RandomPatients();
    int64_t rows = 0;
    for (auto _ : state) {
        Timed timed{"LibpqPage"};
        const Oid types[1] = {23};
        PQclear(PQprepare(peer, "page", "SELECT inv, pat, code, amount FROM peer WHERE pat = $1 ORDER BY inv LIMIT 10", 1,
                          types));
        ClaimRecord record{};
        for (int32_t pat : wanted) {
            uint32_t key = BigEndian32(pat);
            const char* params[1] = {reinterpret_cast<const char*>(&key)};
            const int lengths[1] = {4}, formats[1] = {1};
            PGresult* result = PQexecPrepared(peer, "page", 1, params, lengths, formats, 1);
            for (int row = 0; PQresultStatus(result) == PGRES_TUPLES_OK && row < PQntuples(result); row++) {
                TakePeerRow(result, row, &record);
                rows++;
            }
            PQclear(result);
        }
    }
    PageCount(state, rows);
}

int32_t who = 0; // the patient the view's filter names

// A view over the claims alone, every field projected, its FILTER naming the program's variable.
struct ClaimView {
    uint8_t code[5] = {0, 0, 0xFF, 0xFF, 0};
    void* components[1] = {&claims.file};
    ViewDecl decl{};
    explicit ClaimView(VrnDriverEntry driver) {
        decl.driver = driver;
        decl.structure = code;
        decl.components = components;
    }
    FileDecl* File() { return reinterpret_cast<FileDecl*>(&decl); }
};

void Bind(const char* name, void* address) {
    Vrn$PushString(name, uint32_t(std::strlen(name)));
    Vrn$BindV(Vrn$Mem2Ufo(address, VRN_TYPE_LONG, 0, 4, 0));
}

// The pages through the view: VIEWDRIVER (served by the driver) or VIEWENGINE (the generic engine
// reading the file, forced).
// Reads a page of 10 of each random patient's claims through `view`, filtered to the patient,
// counting the rows that `belongs` takes for that patient's; nothing is timed when `ready` is false.
template <class Belongs>
void ReadPatientPages(benchmark::State& state, FileDecl* view, const char* name, bool ready, Belongs belongs) {
    std::vector<int32_t> wanted = RandomPatients();
    int64_t rows = 0;
    Vrn$PushBind2(0);
    Bind("CLM:PAT", &claims.record.PAT);
    Bind("WHO", &who);
    Vrn$FILE_OPEN(view, 0x42);
    const char* filter = "CLM:PAT = WHO";
    Vrn$PushString(filter, uint32_t(std::strlen(filter)));
    Vrn$FILE_SET_PROPERTY(view, VRN_VIEW_PROP_FILTER);
    for (auto _ : state) {
        if (!ready)
            break;
        Timed timed{name};
        for (int32_t pat : wanted) {
            who = pat;
            claims.record.PAT = pat;
            claims.record.INV = INT32_MIN;
            Vrn$FILE_SETkk(&claims.pat_key, &claims.pat_key);
            for (int n = 0; n < 10; n++) {
                Vrn$FILE_NEXT(view);
                if (Vrn$ERRCODE != 0)
                    break;
                rows += belongs(pat) ? 1 : 0;
            }
        }
    }
    Vrn$FILE_CLOSE(view);
    Vrn$PopBind();
    PageCount(state, rows);
}

void ViewPages(benchmark::State& state, VrnDriverEntry driver, const char* name) {
    ClaimView view(driver);
    ReadPatientPages(state, view.File(), name, true, [](int32_t pat) { return claims.record.PAT == pat; });
}

void DriverViewPage(benchmark::State& state) { ViewPages(state, VIEWDRIVER, "DriverViewPage"); }
void EngineViewPage(benchmark::State& state) { ViewPages(state, VIEWENGINE, "EngineViewPage"); }

// A file of the browse's joined kind: its key field, a name, one key on the key field.
#define BENCH_PATIENT_FIELDS(FIELD) FIELD(PAT, LONG) FIELD(NAME, STRING(20))
TARVEX_RECORD(PatientRecord, "PAT", BENCH_PATIENT_FIELDS)
#define BENCH_FEE_FIELDS(FIELD) FIELD(AMOUNT, LONG) FIELD(NAME, STRING(20))
TARVEX_RECORD(FeeRecord, "FEE", BENCH_FEE_FIELDS)
#define BENCH_CODE_FIELDS(FIELD) FIELD(CODE, STRING(10)) FIELD(NAME, STRING(20))
TARVEX_RECORD(CodeRecord, "COD", BENCH_CODE_FIELDS)

template <class Record> struct KeyedFile {
    Record record{};
    int32_t components[1] = {1};
    KeyDecl key{};
    KeyDecl* keys[1] = {&key};
    FileDecl file{};
    KeyedFile(const char* name, uint32_t attributes) {
        key.label = "KEY";
        key.label_length = 3;
        key.attributes = attributes;
        key.component_count = 1;
        key.components = components;
        key.file = &file;
        file.driver = PGSQL;
        file.name = name;
        file.name_length = VRN_LENGTH_CSTRING;
        file.key_count = 1;
        file.record_length = sizeof(Record);
        file.record_type = &Record::Type();
        file.keys = keys;
        file.record = &record;
    }
};
KeyedFile<PatientRecord> patients("C:\\DATA\\Patients.kel", VRN_KEY_PRIMARY);
KeyedFile<FeeRecord> fees("C:\\DATA\\Fees.kel", VRN_KEY_PRIMARY);
KeyedFile<CodeRecord> codes("C:\\DATA\\Codes.kel", VRN_KEY_NOCASE | VRN_KEY_OPT);

// The joined files for the claims the ADD benchmarks added: every patient, 1,000 fees, one code in
// a hundred (lower case: the key is NOCASE). False when they could not be made.
bool FillJoinedFiles() {
    for (FileDecl* file : {&patients.file, &fees.file, &codes.file}) {
        Vrn$FILE_CREATE(file);
        Vrn$FILE_OPEN(file, 0x42);
        if (Vrn$ERRCODE != 0)
            return false;
    }
    for (FileDecl* file : {&patients.file, &fees.file, &codes.file}) {
        Vrn$FILE_STREAM(file);
        for (int64_t i = 0; i < (file == &patients.file ? (records - 1) / 7 + 1 : file == &fees.file ? 1000 : records);
             i += file == &codes.file ? 100 : 1) {
            char text[32];
            std::snprintf(text, sizeof text, "name %lld", static_cast<long long>(i));
            if (file == &patients.file) {
                patients.record.PAT = int32_t(i + 1);
                patients.record.NAME = text;
            } else if (file == &fees.file) {
                fees.record.AMOUNT = int32_t(i);
                fees.record.NAME = text;
            } else {
                int32_t inv, pat, amount;
                char code[11];
                Fill(i, &inv, &pat, code, &amount);
                code[0] = 'c';
                codes.record.CODE = code;
                codes.record.NAME = text;
            }
            Vrn$FILE_ADDf(file);
            if (Vrn$ERRCODE != 0)
                return false;
        }
        Vrn$FILE_FLUSH(file);
    }
    return Vrn$ERRCODE == 0;
}

// The pages through the claims joined to the three files: VIEWDRIVER (the driver's one query a
// page) or VIEWENGINE (the generic engine reading each file through the driver). A row counts when
// its patient came with it.
void JoinedPages(benchmark::State& state, VrnDriverEntry driver, const char* name) {
    static bool filled = FillJoinedFiles();
    uint8_t code[] = {0, 0, 0xFF, 0xFF, 3,                 // the claims, three joined files
                      1, 2, 0, 0, 0xFF, 0xFF, 0,           // the patient by CLM:PAT
                      1, 4, 0, 0, 0xFF, 0xFF, 0,           // the fee by CLM:AMOUNT
                      1, 3, 0, 0, 0xFF, 0xFF, 0};          // the code by CLM:CODE
    void* components[] = {&claims.file, &patients.key, &fees.key, &codes.key};
    ViewDecl decl{driver, code, components, nullptr, nullptr};
    FileDecl* view = reinterpret_cast<FileDecl*>(&decl);
    ReadPatientPages(state, view, name, filled, [](int32_t pat) {
        return claims.record.PAT == pat && patients.record.PAT == pat;
    });
}

void DriverJoinedPage(benchmark::State& state) { JoinedPages(state, VIEWDRIVER, "DriverJoinedPage"); }
void EngineJoinedPage(benchmark::State& state) { JoinedPages(state, VIEWENGINE, "EngineJoinedPage"); }

// GET by the claim key and PUT with a new amount, for each of the random claims.
int64_t GetAndPut(const char* name) {
    std::vector<int32_t> wanted = RandomClaims();
    int64_t done = 0;
    Timed timed{name};
    for (int32_t inv : wanted) {
        claims.record.INV = inv;
        Vrn$FILE_GETfk(&claims.inv_key);
        if (Vrn$ERRCODE != 0)
            continue;
        claims.record.AMOUNT = claims.record.AMOUNT + 1;
        Vrn$FILE_PUTf(&claims.file);
        done += Vrn$ERRCODE == 0 ? 1 : 0;
    }
    return done;
}

void DriverPut(benchmark::State& state) {
    int64_t done = 0;
    for (auto _ : state)
        done = GetAndPut("DriverPut");
    Count(state, done, kGets);
}

void DriverPutNoTrigger(benchmark::State& state) {
    int64_t done = 0;
    if (!PeerRun("DROP TRIGGER lum_changes ON claims")) {
        state.SkipWithError("the trigger could not be dropped");
        return;
    }
    for (auto _ : state)
        done = GetAndPut("DriverPutNoTrigger");
    // The next OPEN adds the trigger back.
    Vrn$FILE_CLOSE(&claims.file);
    Vrn$FILE_OPEN(&claims.file, 0x42);
    Count(state, done, kGets);
}

void LibpqPut(benchmark::State& state) {
    std::vector<int32_t> wanted = RandomClaims();
    int64_t done = 0;
    for (auto _ : state) {
        Timed timed{"LibpqPut"};
        PreparePeerGet();
        const Oid types[2] = {23, 23};
        PQclear(PQprepare(peer, "put", "UPDATE peer SET amount = $2 WHERE inv = $1", 2, types));
        ClaimRecord record{};
        for (int32_t inv : wanted) {
            if (!PeerGet(inv, &record))
                continue;
            uint32_t values[2] = {BigEndian32(inv), BigEndian32(record.AMOUNT + 1)};
            const char* params[2] = {reinterpret_cast<const char*>(&values[0]), reinterpret_cast<const char*>(&values[1])};
            const int lengths[2] = {4, 4}, formats[2] = {1, 1};
            PGresult* result = PQexecPrepared(peer, "put", 2, params, lengths, formats, 1);
            done += PQresultStatus(result) == PGRES_COMMAND_OK && std::strcmp(PQcmdTuples(result), "1") == 0 ? 1 : 0;
            PQclear(result);
        }
    }
    Count(state, done, kGets);
}

constexpr int64_t kStationClaims = 5000; // each of two stations; one alone adds twice as many
int64_t next_station_claim = 0;           // claim numbers above the others' run from here

// One station: its own declaration and server connection, adding claims first, first + 1, ...
// one ADD (one transaction) each. True when every one was added.
bool Station(int64_t first, int64_t count) {
    Claims station;
    Vrn$FILE_OPEN(&station.file, 0x42);
    if (Vrn$ERRCODE != 0)
        return false;
    char code[11];
    int64_t added = 0;
    for (int64_t i = first; i < first + count; i++) {
        int32_t inv, pat, amount;
        Fill(i, &inv, &pat, code, &amount);
        station.record.INV = inv;
        station.record.PAT = pat;
        station.record.CODE = code;
        station.record.AMOUNT = amount;
        Vrn$FILE_ADDf(&station.file);
        added += Vrn$ERRCODE == 0 ? 1 : 0;
    }
    Vrn$FILE_CLOSE(&station.file);
    return added == count;
}

// `stations` processes adding kStationClaims * 2 / stations claims each at the same time; the
// claims per second of all of them together, or 0 when one failed.
double Stations(int stations) {
    int64_t each = kStationClaims * 2 / stations;
    auto start = std::chrono::steady_clock::now();
    std::vector<pid_t> children;
    for (int s = 0; s < stations; s++) {
        int64_t first = next_station_claim + s * each;
        pid_t child = fork();
        if (child == 0)
            _exit(Station(first, each) ? 0 : 1); // the parent's connections are not the child's to end
        children.push_back(child);
    }
    next_station_claim += stations * each;
    bool all = true;
    for (pid_t child : children) {
        int status = 0;
        all = waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0 && all;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return all ? double(stations * each) / seconds : 0;
}

void DriverTwoStations(benchmark::State& state) {
    double rate = 0;
    for (auto _ : state)
        rate = Stations(2);
    state.counters["claims_per_second"] = rate;
    seconds_of["TwoStations"] = rate > 0 ? 1 / rate : 0;
    if (rate == 0)
        state.SkipWithError("a station failed");
}

void DriverOneStation(benchmark::State& state) {
    double rate = 0;
    for (auto _ : state)
        rate = Stations(1);
    state.counters["claims_per_second"] = rate;
    seconds_of["OneStation"] = rate > 0 ? 1 / rate : 0;
    if (rate == 0)
        state.SkipWithError("the station failed");
}

BENCHMARK(DriverAdd)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(LibpqAdd)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DriverNext)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(LibpqNext)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DriverGet)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(LibpqGet)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DriverPage)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(LibpqPage)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DriverViewPage)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(EngineViewPage)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DriverJoinedPage)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(EngineJoinedPage)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DriverPut)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DriverPutNoTrigger)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(LibpqPut)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DriverTwoStations)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DriverOneStation)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The figures against their peers, from the wall times of the run: a ratio is the peer's time over
// the driver's (1.0: as fast as raw libpq).
void PrintRatios() {
    auto ratio = [](const char* label, const char* driver, const char* peer) {
        if (seconds_of.count(driver) == 0 || seconds_of.count(peer) == 0 || seconds_of[driver] <= 0)
            return;
        std::printf("%-44s %6.2f\n", label, seconds_of[peer] / seconds_of[driver]);
    };
    auto page = [](const char* label, const char* name) {
        if (seconds_of.count(name) != 0)
            std::printf("%-44s %6.3f ms\n", label, seconds_of[name] * 1000 / double(kPages));
    };
    std::printf("\nratios (peer time / driver time):\n");
    ratio("NEXT vs libpq", "DriverNext", "LibpqNext");
    ratio("GET vs libpq", "DriverGet", "LibpqGet");
    ratio("ADD vs libpq", "DriverAdd", "LibpqAdd");
    ratio("GET+PUT vs libpq", "DriverPut", "LibpqPut");
    ratio("GET+PUT with the trigger vs without", "DriverPut", "DriverPutNoTrigger");
    ratio("two stations vs one alone (claims/s)", "TwoStations", "OneStation");
    std::printf("browse page of 10 of one patient's claims:\n");
    page("  file SET + NEXT", "DriverPage");
    page("  view served by the driver", "DriverViewPage");
    page("  view through the generic engine", "EngineViewPage");
    page("  libpq, one SELECT ... LIMIT 10", "LibpqPage");
    std::printf("the same page joined to three files by key (the invoice browse's shape):\n");
    page("  view served by the driver (one query)", "DriverJoinedPage");
    page("  view through the generic engine", "EngineJoinedPage");
    ratio("joined page, served vs the engine", "DriverJoinedPage", "EngineJoinedPage");
}

} // namespace

int main(int argc, char** argv) {
    if (const char* text = std::getenv("LUM_BENCH_RECORDS"))
        records = std::max<int64_t>(1, std::atoll(text));
    if (!server.Start()) {
        std::printf("bench_pgsql: no PostgreSQL server could start: %s\n", server.Reason().c_str());
        return 0;
    }
    Vrn$FILE_CREATE(&claims.file);
    Vrn$FILE_OPEN(&claims.file, 0x42);
    peer = PQconnectdb(server.ConnInfo().c_str());
    bool ready = Vrn$ERRCODE == 0 && PQstatus(peer) == CONNECTION_OK &&
                 PeerRun("CREATE TABLE peer (id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, inv integer, "
                         "pat integer, code text, amount integer)") &&
                 PeerRun("CREATE UNIQUE INDEX peer_inv ON peer (inv)") &&
                 PeerRun("CREATE INDEX peer_pat ON peer (pat, inv)");
    next_station_claim = records + 1;
    if (ready) {
        std::printf("records: %lld\n", static_cast<long long>(records));
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        PrintRatios();
    } else {
        std::printf("bench_pgsql: the tables could not be made (error %d)\n", int(Vrn$ERRCODE));
    }
    Vrn$FILE_CLOSE(&claims.file);
    PQfinish(peer);
    server.Stop();
    return ready ? 0 : 1;
}
