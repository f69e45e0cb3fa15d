#pragma once
// A command of the tests' own, scripted by its step body, and a factory that
// makes it. Everything the interpreter does to commands goes into a Journal.
//
// Step body items read by the scripted factory and command:
//   FunctionType[n]  n > 0 and not 999 makes a command numbered n
//   Reports[m]       the command reports m as its functionType instead
//   Param1[text]     the result text
//   Param2[ok]       succeed; Param2[budget] succeeds while the journal's
//                    budget lasts (each success spends one)
//   Param3[throw]    throw from Execute after setting the flag and writing
//                    "partial" into the result text

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "functions/TaggedText.h"
#include "protocol/EumFunction.h"
#include "protocol/RunProcess.h"

struct Journal {
    std::vector<std::u16string> bodies;  // every step body the factory got
    std::vector<int32_t> executed;       // functionType of every Execute
    int live = 0;                        // commands alive now
    int mostLive = 0;                    // most commands alive at once
    int budget = 0;                      // successes left for Param2[budget]
};

class ScriptedCommand : public EumFunction {
  public:
    explicit ScriptedCommand(Journal& journal) : journal_(journal) {
        ++journal_.live;
        if (journal_.live > journal_.mostLive) {
            journal_.mostLive = journal_.live;
        }
    }
    ~ScriptedCommand() override { --journal_.live; }

    void SetParams(std::u16string body) override {
        result_ = ExtractBracketValue(u"Param1", body);
        mode_ = ExtractBracketValue(u"Param2", body);
        throws_ = ExtractBracketValue(u"Param3", body) == u"throw";
    }

    void Execute(std::u16string& result) override {
        journal_.executed.push_back(functionType);
        if (mode_ == u"ok") {
            succeeded = true;
        } else if (mode_ == u"budget" && journal_.budget > 0) {
            --journal_.budget;
            succeeded = true;
        }
        if (throws_) {
            result = u"partial";
            throw std::runtime_error("control invocation failed");
        }
        result = result_;
    }

  private:
    Journal& journal_;
    std::u16string result_;
    std::u16string mode_;
    bool throws_ = false;
};

inline constexpr int32_t kUnknownNumber = 999;

inline CommandFactory ScriptedFactory(Journal& journal) {
    return [&journal](const std::u16string& body) -> std::unique_ptr<EumFunction> {
        journal.bodies.push_back(body);
        const int32_t number = ValueToInt(ExtractBracketValue(u"FunctionType", body));
        if (number <= 0 || number == kUnknownNumber) {
            return nullptr;
        }
        auto command = std::make_unique<ScriptedCommand>(journal);
        const std::u16string reports = ExtractBracketValue(u"Reports", body);
        command->functionType = reports.empty() ? number : ValueToInt(reports);
        command->SetParams(body);
        return command;
    };
}
