// SPDX-License-Identifier: GPL-3.0-or-later
// The resource search: name rules, the executable searched before the libraries, and a resource
// whose embedded module name differs passed over although its name matches. This test program
// carries "LUMAREX$same" and its library "OTHER$same"; both are stored as SAME_RSC.
#include <gtest/gtest.h>

#include <cstring>

#include "tarvex/resources.h"
#include "windows/description.h"
#include "windows/resources.h"

namespace tarvex::windows {
namespace {

TEST(Resources, NamesFollowTheLookupRules) {
    EXPECT_EQ(DescriptionResourceName("LUMAREX$ACCOUN~1"), "ACCOUN~1_RSC");
    EXPECT_EQ(DescriptionResourceName("LUMAREX$cms1a"), "CMS1A_RSC");
    EXPECT_EQ(DescriptionResourceName("LUMAREX$LUMTR.SF"), "LUMTR_SF_RSC");
    EXPECT_EQ(ResourceLookupName("~lumarex.ico"), "LUMAREX_ICO");
    EXPECT_EQ(ResourceLookupName("Cms1500.Form.png"), "CMS1500_FORM_PNG");
}

std::string ModuleOf(const FoundResource& found) {
    std::string_view module;
    std::span<const uint8_t> dump;
    if (found.module == nullptr || !SplitResource(found.bytes, module, dump))
        return "(none)";
    return std::string(module);
}

TEST(Resources, TheEmbeddedModuleNameDecidesBetweenEqualResourceNames) {
    // The executable's SAME_RSC comes first in the search; it is the program's own module.
    FoundResource program = FindModuleDescriptions("LUMAREX$same");
    EXPECT_EQ(ModuleOf(program), "LUMAREX$same");
    // The library's is reached only by passing over the executable's, whose embedded name differs.
    FoundResource library = FindModuleDescriptions("OTHER$same");
    EXPECT_EQ(ModuleOf(library), "OTHER$same");
    EXPECT_NE(program.module, library.module);
    // The embedded name compares exactly.
    EXPECT_EQ(FindModuleDescriptions("LUMAREX$SAME").module, nullptr);
    EXPECT_EQ(FindModuleDescriptions("LUMAREX$gone").module, nullptr);

    Record window;
    std::string error;
    std::string_view module;
    std::span<const uint8_t> dump;
    ASSERT_TRUE(SplitResource(library.bytes, module, dump));
    ASSERT_TRUE(DecodeStructure(dump, "P1$WINDOW", window, error)) << error;
    EXPECT_EQ(window.TextAt(kStructTitle), "From the library");
}

TEST(Resources, LoadNamedResourceFindsByNameAndType) {
    uint32_t size = 99;
    const void* bytes = WslUtil$LoadNamedResource("~probe.ico", "ICON", &size);
    ASSERT_NE(bytes, nullptr);
    ASSERT_EQ(size, 11u);
    EXPECT_EQ(std::memcmp(bytes, "probe\0bytes", 11), 0);
    WslUtil$FreeResourcePtr(bytes);

    EXPECT_EQ(WslUtil$LoadNamedResource("PROBE_ICO", "BITMAP", &size), nullptr);   // wrong type
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(WslUtil$LoadNamedResource("missing.ico", "ICON", &size), nullptr);
    EXPECT_EQ(WslUtil$LoadNamedResource(nullptr, "ICON", &size), nullptr);
    // Both modules hold SAME_RSC: the executable's comes first.
    const void* first = WslUtil$LoadNamedResource("same_rsc", "DABDUMP", &size);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(static_cast<const char*>(first), "LUMAREX$same");
}

TEST(Resources, AWithdrawnTableIsNoLongerSearched) {
    static const unsigned char kBytes[] = {1, 2, 3};
    static const VrnResource kEntry[] = {{"LATE_BIN", "RCDATA", kBytes, 3}};
    static const VrnResourceTable kTable = {kEntry, 1};
    WslUtil$RegisterResources(&kTable);
    uint32_t size = 0;
    EXPECT_EQ(WslUtil$LoadNamedResource("late.bin", "RCDATA", &size), kBytes);
    WslUtil$UnregisterResources(&kTable);
    EXPECT_EQ(WslUtil$LoadNamedResource("late.bin", "RCDATA", &size), nullptr);
}

}  // namespace
}  // namespace tarvex::windows
