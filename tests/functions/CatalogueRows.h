#pragma once
// What every command number is expected to do, written out row by row, and
// the request texts the tests send through RunProcess.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "TestLibraries.h"

enum class Target { Main, Enrolment, CachedList, CachedListXepa };
enum class Returns { Number, Text };

// How an argument of the control call is fed: a text parameter (BSTR), a
// number parameter passed as I4 or as UI4, the fixed I4 2 that no parameter
// feeds, or a text parameter that is Base64-decoded first (BSTR).
enum class Arg { Text, Number, Unsigned, FixedTwo, Decoded };

struct CatalogueRow {
    int32_t number;        // the FunctionType a step asks for
    int32_t reportedType;  // the FunctionType the response reports
    const char* name;
    Target target;
    int32_t dispid;  // 0 for the list commands
    Returns returns;
    std::vector<Arg> args;
};

const std::vector<CatalogueRow>& CatalogueRows();

void PrintTo(const CatalogueRow& row, std::ostream* os);
void PrintTo(const RecordedArg& arg, std::ostream* os);

std::u16string Wide(const std::string& ascii);

// The value a step body gives ParamN of this row: "p<N>-<number>" for text,
// <number * 10 + N> for numbers, the Base64 form of "p<N>-<number>" for a
// decoded text; "x<N>" for keys the row does not read.
std::u16string ParamValue(const CatalogueRow& row, size_t key);
// The step body with FunctionType and all seven ParamN items, plus `extra`.
std::u16string StepBody(const CatalogueRow& row, const std::u16string& extra = {});
// The arguments the control should receive for StepBody(row).
std::vector<RecordedArg> ExpectedArgs(const CatalogueRow& row);

// ProcessNum{1} with this one step; the callback name is "cb".
std::u16string SingleStepRequest(const std::u16string& stepBody);
// Step 1 goes to step 2 (SM2SignFinal) on success and to step 3
// (SM2EncryptFinal) on failure; the response's FunctionType tells which ran.
std::u16string BranchRequest(const std::u16string& stepBody);
inline constexpr int32_t kTrueMarker = 43;
inline constexpr int32_t kFalseMarker = 53;

std::u16string Response(int32_t functionType, const std::u16string& result);

// The Base64 form of a byte string.
std::string Base64(const std::string& bytes);
