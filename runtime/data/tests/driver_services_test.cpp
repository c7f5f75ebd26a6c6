// SPDX-License-Identifier: GPL-3.0-or-later
// The services the runtime offers drivers, called directly: string copies, the options walk, name
// completion, reserved words, type names, copying and renaming files, and the trace.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "data/driver_services.h"
#include "data/tests/file_test_driver.h"
#include "core/tests/test_support.h"
#include "tarvex/files.h"
#include "tarvex/views.h"

namespace tarvex::testing {
namespace {

std::string Take(char* copy) {
    std::string out = copy != nullptr ? copy : "<null>";
    std::free(copy);
    return out;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(DriverServices, MakeCString) {
    const char field[] = "Smith                       "; // 28 bytes: five letters, 23 spaces
    EXPECT_EQ(Take(_drv_MakeCSTRING(field, 28)), "Smith");
    EXPECT_EQ(Take(_drv_MakeCSTRING("                            ", 28)), "");
    EXPECT_EQ(Take(_drv_MakeCSTRING(field, 0)), "<null>");
    EXPECT_EQ(Take(_drv_MakeCSTRING(nullptr, 5)), "<null>");
    EXPECT_EQ(Take(_drv_MakeCSTRING("a b  ", VRN_LENGTH_CSTRING)), "a b  "); // zero-terminated: as it is
    const char prefixed[] = "\x03"
                            "abcdef";
    EXPECT_EQ(Take(_drv_MakeCSTRING(prefixed, VRN_LENGTH_PSTRING)), "abc");
    const char negative[] = "\xF0"
                            "abc";
    EXPECT_EQ(Take(_drv_MakeCSTRING(negative, VRN_LENGTH_PSTRING)), "");
    EXPECT_EQ(Take(_drv_MakeCSTRING(field, -3)), "<null>");
}

TEST(DriverServices, Strup) {
    char text[] = " key = value\t1\n";
    EXPECT_STREQ(_drv_Strup(text), "KEY=VALUE1");
    EXPECT_EQ(_drv_Strup(nullptr), nullptr);
}

// Every option of an options string, as a driver reads them with a buffer of `size` bytes.
std::vector<std::string> Options(Drv_FCB& fcb, uint32_t size = 64) {
    std::vector<std::string> out;
    for (int guard = 0; guard < 20; guard++) {
        char buffer[64];
        uint32_t length = size;
        EXPECT_EQ(_drv_NextDrvStr(&fcb, &length, buffer), 0);
        if (length == 0)
            break;
        out.emplace_back(buffer, length);
    }
    return out;
}

TEST(DriverServices, NextDrvStr) {
    char slashes[] = "/QUICKSCAN=on/NAME=\"a/b\"";
    Drv_FCB fcb{};
    fcb.options = slashes;
    EXPECT_EQ(Options(fcb), (std::vector<std::string>{"QUICKSCAN=on", "NAME=\"a/b\""}));
    char commas[] = "ONE,\"T,W\",THREE";
    fcb.options = commas;
    EXPECT_EQ(Options(fcb), (std::vector<std::string>{"ONE", "\"T,W\"", "THREE"}));
    fcb.options = nullptr;
    EXPECT_TRUE(Options(fcb).empty());
}

TEST(DriverServices, NextDrvStrTooSmallABuffer) {
    char options[] = "/LONGOPTION/X";
    Drv_FCB fcb{};
    fcb.options = options;
    char buffer[16];
    uint32_t size = 5; // room for four characters and the terminator
    EXPECT_EQ(_drv_NextDrvStr(&fcb, &size, buffer), 8);
    EXPECT_EQ(size, 10u + 1u);                          // the size the option needs, terminator included
    EXPECT_EQ(_drv_NextDrvStr(&fcb, &size, buffer), 0); // the cursor stayed
    EXPECT_STREQ(buffer, "LONGOPTION");
    size = 0;
    EXPECT_EQ(_drv_NextDrvStr(&fcb, &size, nullptr), 8); // no buffer: the size grows by the length
    EXPECT_EQ(size, 1u);
    size = 16;
    EXPECT_EQ(_drv_NextDrvStr(&fcb, &size, buffer), 0);
    EXPECT_STREQ(buffer, "X");
    EXPECT_EQ(_drv_NextDrvStr(&fcb, &size, buffer), 0);
    EXPECT_EQ(size, 0u);
    EXPECT_STREQ(buffer, "");
}

TEST(DriverServices, NextDrvStrAnotherFileStartsAFreshWalk) {
    char first[] = "A,B";
    char second[] = "X,Y";
    Drv_FCB one{}, two{};
    one.options = first;
    two.options = second;
    char buffer[8];
    uint32_t size = 8;
    _drv_NextDrvStr(&one, &size, buffer);
    EXPECT_STREQ(buffer, "A");
    size = 8;
    _drv_NextDrvStr(&two, &size, buffer); // never B: that is the other file's option
    EXPECT_STREQ(buffer, "X");
    // Two threads walking one file share the walk: within a walk each option goes to one of them;
    // when one reaches the end the other's next call starts again from the first option.
    char many[] = "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16";
    Drv_FCB shared{};
    shared.options = many;
    size = 8;
    _drv_NextDrvStr(&shared, &size, buffer);
    std::vector<std::string> seen[2];
    auto walk = [&](int who) {
        for (;;) {
            char own[8];
            uint32_t length = 8;
            _drv_NextDrvStr(&shared, &length, own);
            if (length == 0)
                break;
            seen[who].emplace_back(own);
        }
    };
    std::thread a(walk, 0), b(walk, 1);
    a.join();
    b.join();
    std::set<std::string> all(seen[0].begin(), seen[0].end());
    all.insert(seen[1].begin(), seen[1].end());
    for (int i = 2; i <= 16; i++)
        EXPECT_EQ(all.count(std::to_string(i)), 1u) << i;
    for (const std::string& option : all) {
        EXPECT_TRUE(std::atoi(option.c_str()) >= 1 && std::atoi(option.c_str()) <= 16) << option;
    }
    EXPECT_LE(seen[0].size() + seen[1].size(), 15u + 16u);
}

TEST(DriverServices, ChkNameUnresolvedNames) {
    char out[VRN_MAX_PATH];
    struct Case {
        const char* name;
        const char* extension;
        int32_t replace;
        const char* expected;
    };
    const Case cases[] = {
        {"\\\\server\\share\\PATIENT", "KEL", 0, "\\\\server\\share\\PATIENT.KEL"},
        {"\\\\server\\share\\PATIENT.DAT", "KEL", 0, "\\\\server\\share\\PATIENT.DAT"},
        {"\\\\server\\share\\PATIENT.DAT", "KEL", 1, "\\\\server\\share\\PATIENT.KEL"},
        {"\\\\server\\share.d\\PATIENT", ".KEL", 0, "\\\\server\\share.d\\PATIENT.KEL"},
        {"LPT1:", "TXT", 0, "LPT1:.TXT"},
        {"PRN:", nullptr, 0, "PRN:"},
        {"COM1:.OUT", "TXT", 0, "COM1:.OUT"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(_drv_ChkName(c.name, out, c.extension, c.replace), 0) << c.name;
        EXPECT_STREQ(out, c.expected) << c.name;
    }
}

TEST(DriverServices, ChkNameRefusesNamesOfNoFile) {
    TemporaryDrive drive;
    char out[VRN_MAX_PATH];
    const char* refused[] = {"", "   ", "C:", "C:\\", "C:\\DATA\\", "C:\\   .kel", "Pat*.kel", "Pat?.kel",
                             "a<b", "a>b", "a|b", "\"quoted\"", "tab\there", "line\nbreak", "\x7f\x01"};
    for (const char* name : refused)
        EXPECT_EQ(_drv_ChkName(name, out, "KEL", 0), 45) << '"' << name << '"';
    EXPECT_EQ(_drv_ChkName("C:\\Patient", out, "KEL", 0), 0);
    EXPECT_STREQ(out, "C:\\Patient.KEL");
}

TEST(DriverServices, HostPathFollowsTheDriveTable) {
    TemporaryDrive drive;
    std::filesystem::create_directories(drive.Root() / "Lumarex" / "data");
    char path[512];
    EXPECT_GT(_drv_HostPath("C:\\LUMAREX\\DATA\\Patient.kel", path, sizeof path), 0u);
    EXPECT_EQ(std::string(path), (drive.Root() / "Lumarex" / "data" / "Patient.kel").string());
    EXPECT_EQ(_drv_HostPath("Z:\\tmp", path, sizeof path), 4u);
    EXPECT_STREQ(path, "/tmp");
    // Names that cannot be mapped, and a path that does not fit, give nothing.
    EXPECT_EQ(_drv_HostPath("\\\\server\\share\\x.kel", path, sizeof path), 0u);
    EXPECT_STREQ(path, "");
    EXPECT_EQ(_drv_HostPath("C:\\LUMAREX\\DATA\\Patient.kel", path, 8), 0u);
    EXPECT_STREQ(path, "");
    EXPECT_EQ(_drv_HostPath(nullptr, path, sizeof path), 0u);
}

TEST(DriverServices, ChkNameCompletesFromTheCurrentFolder) {
    TemporaryDrive drive;
    std::filesystem::create_directories(drive.Root() / "LUMAREX" / "DATA");
    std::filesystem::current_path(drive.Root() / "LUMAREX");
    char out[VRN_MAX_PATH];
    struct Case {
        const char* name;
        const char* extension;
        int32_t replace;
        int32_t code;
        const char* expected;
    };
    const Case cases[] = {
        {"Patient", "kel", 0, 0, "C:\\LUMAREX\\Patient.kel"},
        {"Patient.dat", "kel", 0, 0, "C:\\LUMAREX\\Patient.dat"},
        {"Patient.dat", "kel", 1, 0, "C:\\LUMAREX\\Patient.kel"},
        {"Patient.", "kel", 0, 0, "C:\\LUMAREX\\Patient."},
        {"DATA\\Patient", ".K01", 0, 0, "C:\\LUMAREX\\DATA\\Patient.K01"},
        {"DATA\\..\\DATA\\.\\Patient", "KEL", 0, 0, "C:\\LUMAREX\\DATA\\Patient.KEL"},
        {"c:\\LUMAREX\\DATA\\Patient", "KEL", 0, 0, "C:\\LUMAREX\\DATA\\Patient.KEL"},
        {"C:DATA\\Patient", "KEL", 0, 0, "C:\\LUMAREX\\DATA\\Patient.KEL"},
        {"NOWHERE\\Patient", "KEL", 0, 3, ""},
        {"Patient", nullptr, 0, 0, "C:\\LUMAREX\\Patient"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(_drv_ChkName(c.name, out, c.extension, c.replace), c.code) << c.name;
        if (c.code == 0) {
            EXPECT_STREQ(out, c.expected) << c.name;
        }
    }
}

TEST(DriverServices, ChkNameLengthLimits) {
    TemporaryDrive drive;
    char out[VRN_MAX_PATH];
    std::string long_name(259, 'A');
    EXPECT_EQ(_drv_ChkName(long_name.c_str(), out, "KEL", 0), 45); // completed, it would not fit
    std::string too_long(260, 'A');
    EXPECT_EQ(_drv_ChkName(too_long.c_str(), out, nullptr, 0), 45);
    std::string unc = "\\\\server\\" + std::string(300, 'B');
    EXPECT_EQ(_drv_ChkName(unc.c_str(), out, nullptr, 0), 45); // never written past the buffer
    std::string fits = "C:\\" + std::string(250, 'C');
    EXPECT_EQ(_drv_ChkName(fits.c_str(), out, "K", 0), 0);
    EXPECT_EQ(std::string(out).size(), 255u);
}

TEST(DriverServices, ReservedWordsAndTypeNames) {
    EXPECT_EQ(_drv_IsReservedWord("end"), 1);
    EXPECT_EQ(_drv_IsReservedWord("ENDS"), 0);
    EXPECT_EQ(_drv_IsReservedWord("Accept"), 1);
    EXPECT_EQ(_drv_IsReservedWord("xor"), 1);
    EXPECT_EQ(_drv_IsReservedWord("ZEBRA"), 0);
    EXPECT_EQ(_drv_IsReservedWord(""), 0);
    EXPECT_STREQ(_drv_GetTypeName(0), "END");
    EXPECT_STREQ(_drv_GetTypeName(10), "DECIMAL");
    EXPECT_STREQ(_drv_GetTypeName(17), "(17)");
    EXPECT_STREQ(_drv_GetTypeName(30), "STDNUM");
    EXPECT_STREQ(_drv_GetTypeName(31), "UNKNOWN");
    EXPECT_STREQ(_drv_GetTypeName(-1), "UNKNOWN");
}

TEST(DriverServices, CopyFileReplacesAtomically) {
    TemporaryDrive drive;
    WriteFile(drive.Root() / "new.kel", "new contents");
    WriteFile(drive.Root() / "old.kel", "old contents");
    chmod((drive.Root() / "new.kel").c_str(), 0640);
    std::ifstream reader(drive.Root() / "old.kel", std::ios::binary); // a reader holds the old file
    ASSERT_TRUE(reader.is_open());
    EXPECT_EQ(_drv_CopyFile("C:\\NEW.KEL", "C:\\old.kel"), 0);
    EXPECT_EQ(ReadFile(drive.Root() / "old.kel"), "new contents");
    std::string held((std::istreambuf_iterator<char>(reader)), std::istreambuf_iterator<char>());
    EXPECT_EQ(held, "old contents"); // the reader still sees what it opened
    struct stat info {};
    ASSERT_EQ(stat((drive.Root() / "old.kel").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    int leftovers = 0;
    for (const auto& entry : std::filesystem::directory_iterator(drive.Root())) {
        leftovers += entry.path().filename().string().starts_with(".") ? 1 : 0;
    }
    EXPECT_EQ(leftovers, 0);
    // The same name, whatever its case, is not copied onto itself.
    EXPECT_EQ(_drv_CopyFile("C:\\new.kel", "c:\\NEW.KEL"), 0);
    EXPECT_EQ(ReadFile(drive.Root() / "new.kel"), "new contents");
    EXPECT_EQ(_drv_CopyFile("C:\\missing.kel", "C:\\x.kel"), 2);
    EXPECT_EQ(_drv_CopyFile("C:\\new.kel", "C:\\NOFOLDER\\x.kel"), 3);
    EXPECT_EQ(_drv_CopyFile("Q:\\new.kel", "C:\\x.kel"), 45); // a drive nobody mapped
    EXPECT_FALSE(std::filesystem::exists(drive.Root() / "x.kel"));
}

TEST(DriverServices, CopyOrRenameIntoAFolderOrToAName) {
    TemporaryDrive drive;
    std::filesystem::create_directories(drive.Root() / "Backup");
    WriteFile(drive.Root() / "Patient.kel", "patients");
    EXPECT_EQ(_drv_PathIsDirectory("C:\\BACKUP"), 1);
    EXPECT_EQ(_drv_PathIsDirectory("C:\\Patient.kel"), 0);
    EXPECT_EQ(_drv_CopyOrRenameFile("C:\\Patient.kel", "C:\\Backup", 0), 0);
    EXPECT_EQ(ReadFile(drive.Root() / "Backup" / "Patient.kel"), "patients");
    EXPECT_EQ(_drv_CopyOrRenameFile("C:\\Patient.kel", "C:\\Backup\\Copy", 0), 0); // the extension follows
    EXPECT_EQ(ReadFile(drive.Root() / "Backup" / "Copy.kel"), "patients");
    EXPECT_EQ(_drv_CopyOrRenameFile("C:\\Patient.kel", "C:\\Moved", 1), 0);
    EXPECT_FALSE(std::filesystem::exists(drive.Root() / "Patient.kel"));
    EXPECT_EQ(ReadFile(drive.Root() / "Moved.kel"), "patients");
    // A rename never replaces an existing file.
    WriteFile(drive.Root() / "Other.kel", "others");
    EXPECT_EQ(_drv_CopyOrRenameFile("C:\\Other.kel", "C:\\Moved.kel", 1), EEXIST);
    EXPECT_EQ(ReadFile(drive.Root() / "Moved.kel"), "patients");
    EXPECT_EQ(_drv_CopyOrRenameFile("C:\\Nothing.kel", "C:\\Backup", 1), ENOENT);
}

TEST(DriverServices, CopyOrRenameFilesOfATable) {
    TemporaryDrive drive;
    std::filesystem::create_directories(drive.Root() / "Backup");
    WriteFile(drive.Root() / "Claims.dat", "d");
    WriteFile(drive.Root() / "Claims.K01", "1");
    WriteFile(drive.Root() / "Claims.K02", "2");
    EXPECT_EQ(_drv_CopyOrRenameFiles("C:\\Claims", "C:\\Backup\\", "dat.K01.K02", 0), 0);
    EXPECT_EQ(ReadFile(drive.Root() / "Backup" / "Claims.K02"), "2");
    EXPECT_EQ(ReadFile(drive.Root() / "Backup" / "Claims.dat"), "d");
    EXPECT_EQ(_drv_CopyOrRenameFiles("C:\\Claims", "C:\\Backup\\", "dat.K03", 0), 2);
}

TEST(DriverServices, TraceWritesTheDeclarationOnceAndOneLinePerOperation) {
    TemporaryDrive drive;
    SetTraceFile("C:\\trace.log");
    MemoryFile people("C:\\DATA\\TRACE.TST");
    people.Decl()->owner = "secret";
    people.Decl()->owner_length = VRN_LENGTH_CSTRING;
    people.Decl()->options = "/QUICKSCAN=on";
    people.Decl()->options_length = VRN_LENGTH_CSTRING;
    OPEN(people);
    ASSERT_EQ(ERRORCODE(), 0);
    Drv_FCB* fcb = people.Fcb();
    fcb->trace_attributes = VRN_TRACE_CREATE;
    _drv_check_state(fcb, nullptr, VRN_OP_GET_FILE_POINTER, nullptr, 0);
    _drv_TraceOp(fcb, nullptr, nullptr, VRN_OP_GET_FILE_POINTER, 12, 0);
    Vrn$seterror(35);
    _drv_TraceOp(fcb, people.Key(0), "ab", VRN_OP_REGET_KEY, 0, 0);
    _drv_TraceOp(fcb, nullptr, nullptr, VRN_OP_INTERNAL_87, 0, 0); // never traced
    SetTraceFile("");
    std::string trace = ReadFile(drive.Root() / "trace.log");
    EXPECT_EQ(trace.find("secret"), std::string::npos);
    const std::string declaration =
        "FILE,DRIVER(MEMORY,'/QUICKSCAN=on'),OWNER(******),NAME('C:\\DATA\\TRACE.TST'),CREATE\n"
        "TST:IDKEY KEY(+TST:ID),OPT,PRIMARY\n"
        "RECORD\n"
        "TST:ID LONG\n"
        "TST:NAME STRING(12)\n"
        "END\n"
        "END\n"
        "\n";
    ASSERT_TRUE(trace.starts_with(declaration)) << trace;
    std::istringstream lines(trace.substr(declaration.size()));
    std::string first, second, third;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_FALSE(std::getline(lines, third));
    EXPECT_TRUE(first.starts_with("GETfileptr              (12) Time Taken: 0.")) << first;
    EXPECT_TRUE(first.ends_with(" secs")) << first;
    EXPECT_TRUE(
        second.starts_with("REGETkey                ('TST:IDKEY','ab') Error: Record Not Found Time Taken: "))
        << second;
    struct stat info {};
    ASSERT_EQ(stat((drive.Root() / "trace.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(DriverServices, TraceDeclarationOfKeysMemosAndGroups) {
    TemporaryDrive drive;
    static const VrnFieldDesc fields[] = {
        {"T:G", nullptr, 0, 6, 1, 2, VRN_TYPE_GROUP, 0},   {"T:A", nullptr, 0, 4, 1, 0, VRN_TYPE_STRING, 0},
        {"T:B", nullptr, 4, 2, 1, 0, VRN_TYPE_DECIMAL, 1}, {"T:C", nullptr, 6, 4, 3, 0, VRN_TYPE_LONG, 0},
        {"T:D", "@D12", 18, 10, 1, 0, VRN_TYPE_STRING, 0},
    };
    static const VrnTypeDesc type = {"T", "T", 28, 5, fields};
    const int32_t components[] = {-4, 2};
    KeyDecl index{};
    index.label = "T:BYDATE";
    index.label_length = 8;
    index.attributes = VRN_KEY_INDEX | VRN_KEY_DUP | VRN_KEY_NOCASE;
    index.component_count = 2;
    index.components = components;
    index.name = "BYDATE";
    KeyDecl* keys[] = {&index};
    MemoDecl memo{}, blob{};
    memo.max_size = 200;
    memo.name = "NOTES";
    blob.flags = VRN_MEMO_BLOB | VRN_MEMO_BINARY;
    MemoDecl* memos[] = {&memo, &blob};
    FileDecl file{};
    file.keys = keys;
    file.key_count = 1;
    file.memos = memos;
    file.memo_count = 2;
    file.record_type = &type;
    index.file = &file;
    char name[] = "C:\\T.DAT";
    Drv_FCB fcb{};
    fcb.name = name;
    fcb.file = &file;
    fcb.driver_name = "VARNEL";
    fcb.trace_attributes = VRN_TRACE_ENCRYPT | VRN_TRACE_RECLAIM;
    SetTraceFile("C:\\t.log");
    Vrn$clearerror();
    _drv_TraceOp(&fcb, nullptr, nullptr, VRN_OP_SKIP, -3, 0);
    _drv_TraceOp(&fcb, nullptr, nullptr, VRN_OP_OPEN, 0x22, 0); // the declaration only once
    FileDecl primary{};
    primary.name = "BRW1";
    primary.name_length = 4;
    void* view_components[] = {&primary};
    ViewDecl view{};
    view.components = view_components;
    Vrn$seterror(33);
    _drv_TraceViewOp(nullptr, reinterpret_cast<FileDecl*>(&view), nullptr, VRN_OP_NEXT, 0, 0);
    _drv_TraceOp(nullptr, nullptr, nullptr, VRN_OP_NEXT, 0, 0); // nothing to trace
    SetTraceFile("");
    std::string trace = ReadFile(drive.Root() / "t.log");
    const std::string declaration = "FILE,DRIVER(VARNEL),NAME('C:\\T.DAT'),ENCRYPT,RECLAIM\n"
                                    "T:BYDATE INDEX(-T:C,+T:A),DUP,NOCASE,NAME('BYDATE')\n"
                                    "MEMO(200),NAME('NOTES')\n"
                                    "BLOB,BINARY\n"
                                    "RECORD\n"
                                    "T:G GROUP\n"
                                    "T:A STRING(4)\n"
                                    "T:B DECIMAL(3,1)\n"
                                    "END\n"
                                    "T:C LONG, DIM(3)\n"
                                    "T:D STRING(@D12)\n"
                                    "END\n"
                                    "END\n"
                                    "\n";
    ASSERT_TRUE(trace.starts_with(declaration)) << trace;
    std::istringstream lines(trace.substr(declaration.size()));
    std::string line;
    std::vector<std::string> starts;
    while (std::getline(lines, line))
        starts.push_back(line.substr(0, line.find("Time Taken")));
    EXPECT_EQ(starts,
              (std::vector<std::string>{"SKIP                    (-3) ", "OPEN                    (34) ",
                                        "BRW1:NEXT               () Error: Record Not Available "}));
}

} // namespace
} // namespace tarvex::testing
