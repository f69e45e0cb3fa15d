#include "protocol/EumFunction.h"

#include "functions/TaggedText.h"
#include "protocol/FunctionTable.h"
#include "support/CLogger.h"

namespace {

// The bare name of this source file, for the factory's log line.
const char* SourceName() {
    static const char* name = [] {
        const char* path = __FILE__;
        const char* slash = path;
        for (const char* p = path; *p != '\0'; ++p) {
            if (*p == '/') {
                slash = p + 1;
            }
        }
        return slash;
    }();
    return name;
}

}  // namespace

std::unique_ptr<EumFunction> CreateFunction(const std::u16string& stepBody) {
    int32_t number = ValueToInt(ExtractBracketValue(u"FunctionType", stepBody));
    CLogger::GetInstance()->LogInfo("Factory is start !lFunctionType = %d.[%s:%d]", number,
                                    SourceName(), __LINE__);
    const FunctionRow* row = FindFunctionRow(number);
    if (row == nullptr || row->make == nullptr) {
        return nullptr;
    }
    std::unique_ptr<EumFunction> command = row->make();
    command->functionType = row->storedNumber;
    command->functionName = row->storedName;
    command->SetParams(stepBody);
    return command;
}
