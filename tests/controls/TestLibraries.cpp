#include "TestLibraries.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

bool IsLoaded(const std::string& file) {
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
        return false;
    }
    dlclose(handle);
    return true;
}

HeldLibrary::HeldLibrary(const std::string& file)
    : handle_(dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) {
        throw std::runtime_error("cannot open " + file + ": " + dlerror());
    }
}

HeldLibrary::~HeldLibrary() {
    dlclose(handle_);
}

void* HeldLibrary::Symbol(const char* name) const {
    void* address = dlsym(handle_, name);
    if (address == nullptr) {
        throw std::runtime_error(std::string("missing export ") + name);
    }
    return address;
}

RecordedArg Bstr(std::u16string text) {
    return {ZQT_VT_BSTR, 0, 0, std::move(text)};
}
RecordedArg I4(int32_t value) {
    return {ZQT_VT_I4, value, 0, {}};
}
RecordedArg Ui4(uint32_t value) {
    return {ZQT_VT_UI4, 0, value, {}};
}

template <typename Function>
static Function As(void* address) {
    return reinterpret_cast<Function>(address);
}

RecordingModule::RecordingModule(const std::string& file)
    : library_(file),
      reset_(As<decltype(reset_)>(library_.Symbol("zqt_recording_reset"))),
      script_(As<decltype(script_)>(library_.Symbol("zqt_recording_script"))),
      refuse_(As<decltype(refuse_)>(library_.Symbol("zqt_recording_refuse_create"))),
      count_(As<decltype(count_)>(library_.Symbol("zqt_recording_call_count"))),
      call_(As<decltype(call_)>(library_.Symbol("zqt_recording_call"))),
      arg_(As<decltype(arg_)>(library_.Symbol("zqt_recording_arg"))) {}

void RecordingModule::Reset() const {
    reset_();
}

void RecordingModule::Script(int32_t dispid, int32_t invokeRc, int32_t i4,
                             std::u16string_view text) const {
    script_(dispid, invokeRc, i4, reinterpret_cast<const uint16_t*>(text.data()),
            static_cast<uint32_t>(text.size()));
}

void RecordingModule::RefuseCreate(bool refuse) const {
    refuse_(refuse ? 1 : 0);
}

std::vector<RecordedCall> RecordingModule::Calls() const {
    std::vector<RecordedCall> calls;
    for (uint32_t index = 0; index < count_(); ++index) {
        RecordedCall call;
        const char* classId = nullptr;
        uint32_t argc = 0;
        if (!call_(index, &classId, &call.dispid, &call.resultVt, &argc)) {
            throw std::runtime_error("recorded call vanished");
        }
        call.classId = classId;
        for (uint32_t i = 0; i < argc; ++i) {
            zqt_value value{};
            if (!arg_(index, i, &value)) {
                throw std::runtime_error("recorded argument vanished");
            }
            RecordedArg arg{value.vt, value.i4, value.ui4, {}};
            if (value.vt == ZQT_VT_BSTR) {
                arg.text.assign(reinterpret_cast<const char16_t*>(value.str), value.len);
            }
            call.args.push_back(arg);
        }
        calls.push_back(std::move(call));
    }
    return calls;
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* previous = std::getenv(name)) {
        previous_ = previous;
    }
    setenv(name, value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (previous_) {
        setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

static std::string NewCallLogPath() {
    const char* tmp = std::getenv("TMPDIR");
    std::string path =
        std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/zqt-sidelib-calls-XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) {
        throw std::runtime_error("cannot make " + path);
    }
    close(fd);
    return path;
}

SideLibraryCallLog::SideLibraryCallLog()
    : path_(NewCallLogPath()), variable_("ZQT_SIDELIB_CALLS", path_) {}

SideLibraryCallLog::~SideLibraryCallLog() {
    unlink(path_.c_str());
}

std::vector<std::string> SideLibraryCallLog::Lines() const {
    std::ifstream in(path_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}
