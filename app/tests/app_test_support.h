// SPDX-License-Identifier: GPL-3.0-or-later
// What the application's tests over real data files share: a temporary drive C: with the data
// folder, the sixteen files bound to their drivers for the test and unbound after it (every use
// released, every file closed), and the message boxes shown, read back from the headless
// transcript.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/tests/test_support.h"
#include "data/dictionary.h"
#include "kelstore/kelstore.h"
#include "platform/platform.h"
#include "shared/data_files.h"
#include "tarvex/frame.h"
#include "varnel/varnel.h"

namespace lumarex::testing {

inline tarvex::platform::HeadlessMessageBoxes& Boxes() {
    return *tarvex::platform::Headless();
}

// The boxes shown so far as "[caption|text]" each.
inline std::string ShownBoxes() {
    std::string shown;
    for (const auto& box : Boxes().Transcript())
        shown += "[" + box.request.caption + "|" + box.request.text + "]";
    return shown;
}

class DataDriveTest : public ::testing::Test {
  protected:
    tarvex::testing::TemporaryDrive drive;
    std::filesystem::path data = drive.Root() / "LUMAREX" / "DATA";

    void SetUp() override {
        std::filesystem::create_directories(data);
        BindFileDrivers(KELSTORE, VARNEL);
        Boxes().ClearTranscript();
        Vrn$clearerror();
    }
    void TearDown() override {
        ReleaseDataFiles(0);
        for (FileDecl* file : DictionaryFiles())
            Vrn$FILE_CLOSE(file);
        BindFileDrivers(nullptr, nullptr);
    }
};

} // namespace lumarex::testing
