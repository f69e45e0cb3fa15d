// RunProcess over the real command table, twice per input: once with every
// command running against controls that were never created (a text call
// answers nothing, a number call raises an error), once with a null control
// that answers 0 to every call. Nothing is loaded: the controls stay
// uncreated, the cached list is filled up front so that the list commands
// never read the side library, and the factory is the table lookup without
// the daily log line (which would grow a file by a line per step).

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "controls/CertSealList.h"
#include "functions/CommandOutcome.h"
#include "functions/TaggedText.h"
#include "fuzz/FuzzCheck.h"
#include "protocol/FunctionTable.h"
#include "protocol/RunProcess.h"
#include "support/TextConversion.h"

namespace {

enum class Control { Absent, AnswersZero };

struct Census {
    int live = 0;
    int executed = 0;
};

// A real command, made and given its parameters by its own class, counted
// while it lives; the null control answers in place of its Execute.
class CountedCommand : public EumFunction {
  public:
    CountedCommand(std::unique_ptr<EumFunction> real, Control control, Census& census)
        : real_(std::move(real)), control_(control), census_(census) {
        functionType = real_->functionType;
        functionName = real_->functionName;
        ++census_.live;
    }
    ~CountedCommand() override { --census_.live; }

    void SetParams(std::u16string stepBody) override { real_->SetParams(std::move(stepBody)); }

    void Execute(std::u16string& result) override {
        ++census_.executed;
        if (control_ == Control::AnswersZero) {
            commands::ReportNumber(0, result, succeeded);
            return;
        }
        try {
            real_->Execute(result);
        } catch (...) {
            succeeded = real_->succeeded;
            throw;
        }
        succeeded = real_->succeeded;
    }

  private:
    std::unique_ptr<EumFunction> real_;
    Control control_;
    Census& census_;
};

CommandFactory TableFactory(Control control, Census& census) {
    return [control, &census](const std::u16string& body) -> std::unique_ptr<EumFunction> {
        const int32_t number = ValueToInt(ExtractBracketValue(u"FunctionType", body));
        const FunctionRow* row = FindFunctionRow(number);
        if (row == nullptr || row->make == nullptr) {
            return nullptr;
        }
        std::unique_ptr<EumFunction> real = row->make();
        real->functionType = row->storedNumber;
        real->functionName = row->storedName;
        auto command = std::make_unique<CountedCommand>(std::move(real), control, census);
        command->SetParams(body);
        return command;
    };
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::u16string_view text, std::u16string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// "FunctionType[" digits "]FunctionRes[" ...: where the result text starts.
size_t ResultStart(std::u16string_view response) {
    size_t i = std::u16string_view(u"FunctionType[").size();
    if (i < response.size() && response[i] == u'-') {
        ++i;
    }
    const size_t digits = i;
    while (i < response.size() && response[i] >= u'0' && response[i] <= u'9') {
        ++i;
    }
    FUZZ_CHECK(i > digits);
    FUZZ_CHECK(StartsWith(response.substr(i), u"]FunctionRes["));
    return i + std::u16string_view(u"]FunctionRes[").size();
}

void Run(const std::u16string& request, Control control) {
    Census census;
    const std::u16string response = RunProcess(request, TableFactory(control, census));
    FUZZ_CHECK(census.live == 0);
    FUZZ_CHECK(census.executed <= kMaxStepsPerRequest);

    const std::u16string callback =
        u"ProcessCallBackName[" + ExtractBraceValue(u"ProcessCallBackName", request) + u"]";
    FUZZ_CHECK(EndsWith(response, callback));
    const std::u16string_view report(response.data(), response.size() - callback.size());
    if (StartsWith(report, u"FunctionRes[-1]")) {
        FUZZ_CHECK(report == u"FunctionRes[-1]" ||
                   StartsWith(report.substr(15), u"FunctionNotSucessAt["));
        return;
    }
    FUZZ_CHECK(StartsWith(report, u"FunctionType["));
    FUZZ_CHECK(census.executed > 0);
    const std::u16string_view result = report.substr(ResultStart(report));
    FUZZ_CHECK(EndsWith(result, u"]"));
    if (control == Control::AnswersZero) {
        FUZZ_CHECK(result == u"0]");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The seal commands go through the locale character set.
    std::setlocale(LC_ALL, "C.UTF-8");
    CertSealListCache& cache = TheCertSealListCache();
    std::lock_guard lock(cache.listLock);
    cache.text = u"CertList[fuzz certificate one, fuzz certificate two]SealList[fuzz seal]";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // As the servlet hands it over: UTF-8 up to the first NUL.
    const std::u16string request =
        zqt::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
    Run(request, Control::Absent);
    Run(request, Control::AnswersZero);
    return 0;
}
