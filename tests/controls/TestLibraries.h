#pragma once
// Test access to the doubles in lib/: the recording module's scripting API,
// the probe module's counters, whether a library is loaded, and the
// environment that scripts the side library.

#include <dlfcn.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zqtca/control_module.h"

// The build's lib/ directory.
inline std::string TestLibrary(const std::string& relative) {
    return std::string(ZQT_TEST_LIB_DIR) + "/" + relative;
}

// Whether the file is loaded in this process, without loading it.
bool IsLoaded(const std::string& file);

// A handle of our own on a library, so its state outlives the wrapper's dlclose.
class HeldLibrary {
  public:
    explicit HeldLibrary(const std::string& file);
    ~HeldLibrary();
    HeldLibrary(const HeldLibrary&) = delete;
    HeldLibrary& operator=(const HeldLibrary&) = delete;

    void* Symbol(const char* name) const;

  private:
    void* handle_;
};

struct RecordedArg {
    uint16_t vt = 0;
    int32_t i4 = 0;
    uint32_t ui4 = 0;
    std::u16string text;
    bool operator==(const RecordedArg&) const = default;
};

RecordedArg Bstr(std::u16string text);
RecordedArg I4(int32_t value);
RecordedArg Ui4(uint32_t value);

struct RecordedCall {
    std::string classId;
    int32_t dispid = 0;
    uint16_t resultVt = 0;
    std::vector<RecordedArg> args;
};

// The recording module's scripting API, through our own handle on it.
class RecordingModule {
  public:
    explicit RecordingModule(const std::string& file);

    void Reset() const;
    void Script(int32_t dispid, int32_t invokeRc, int32_t i4, std::u16string_view text = {}) const;
    void RefuseCreate(bool refuse) const;
    std::vector<RecordedCall> Calls() const;

  private:
    HeldLibrary library_;
    void (*reset_)();
    void (*script_)(int32_t, int32_t, int32_t, const uint16_t*, uint32_t);
    void (*refuse_)(int32_t);
    uint32_t (*count_)();
    int32_t (*call_)(uint32_t, const char**, int32_t*, uint16_t*, uint32_t*);
    int32_t (*arg_)(uint32_t, uint32_t, zqt_value*);
};

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

// The lines the side library wrote to its call log (ZQT_SIDELIB_CALLS), which
// lives as long as the object.
class SideLibraryCallLog {
  public:
    SideLibraryCallLog();
    ~SideLibraryCallLog();
    SideLibraryCallLog(const SideLibraryCallLog&) = delete;
    SideLibraryCallLog& operator=(const SideLibraryCallLog&) = delete;

    std::vector<std::string> Lines() const;

  private:
    std::string path_;
    ScopedEnvironment variable_;
};
