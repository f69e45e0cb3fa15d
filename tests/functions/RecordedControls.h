#pragma once
// Both controls created on the recording module, and the recording module's
// scripting API for each, shared by the tests of one executable.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestLibraries.h"

struct RecordedControls {
    RecordingModule main{"libulvoctrl.so"};
    RecordingModule enrolment{"libulvocertenroll.so"};
};

// Creates the controls (main first, as the application does) on first use.
RecordedControls& TheRecordedControls();

// Resets both recordings and empties the cached list before every test, and
// runs under a UTF-8 locale.
class RecordedControlsTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    static const RecordingModule& Main() { return TheRecordedControls().main; }
    static const RecordingModule& Enrolment() { return TheRecordedControls().enrolment; }
};

// Empties the process-wide certificate-and-seal list.
void ClearCachedList();
void SetCachedList(const std::u16string& text);
std::u16string CachedList();
