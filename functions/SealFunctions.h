#pragma once
// Seals and licence data on the main control, and the two list commands that
// answer from the cached certificate-and-seal list.

#include <cstddef>
#include <cstdint>
#include <string>

#include "controls/CertSealList.h"
#include "functions/ControlCall.h"

namespace commands {

// Param1 is the Base64 form of a UTF-8 text: the control gets that text after
// a round trip through the locale character set.
void ExecuteDecodedSealQuery(int32_t dispid, const std::u16string& param, std::u16string& result,
                             bool& succeeded);

// Reads the list into the cache when the cache holds at most readUpTo code
// units, then answers with the cache.
void AnswerFromCachedList(size_t readUpTo, std::u16string (*read)(), std::u16string& result,
                          bool& succeeded);

}  // namespace commands

template <int32_t Dispid>
class DecodedSealQuery : public EumFunction {
  public:
    void SetParams(std::u16string stepBody) override {
        param1_ = ExtractBracketValue(commands::kParamKeys[0], stepBody);
    }
    void Execute(std::u16string& result) override {
        commands::ExecuteDecodedSealQuery(Dispid, param1_, result, succeeded);
    }

  private:
    std::u16string param1_;
};

template <size_t ReadUpTo, std::u16string (*Read)()>
class CachedList : public EumFunction {
  public:
    void SetParams(std::u16string) override {}
    void Execute(std::u16string& result) override {
        commands::AnswerFromCachedList(ReadUpTo, Read, result, succeeded);
    }
};

class Function_LoadSealFromKey final : public MainCall<34, TextResult, Bstr, Bstr> {};
class Function_GetBmpFromSealData final : public MainCall<33, TextResult, Bstr, Ui4> {};
class Function_GetGMSealPicBase64FromDev final : public MainCall<98, TextResult, Bstr> {};
class Function_GetUselist final : public MainCall<99, TextResult> {};
class Function_ULVO_ReadSealPicBase64FromKeyByCertSN final
    : public MainCall<104, TextResult, Bstr> {};
class Function_ZQTReadGMSealData final : public MainCall<121, TextResult, Bstr> {};
class Function_GetSealInfos final : public MainCall<199, TextResult, Bstr> {};
class Function_ReadSealData final : public MainCall<151, TextResult, Bstr> {};
class Function_GetSealIndata final : public DecodedSealQuery<148> {};
class Function_GetSealData final : public DecodedSealQuery<149> {};
class Function_WriteSealData final : public MainCall<150, NumberResult, Bstr, Bstr> {};
class Function_WriteLicenceData final : public MainCall<152, NumberResult, Bstr, Bstr> {};
class Function_ReadLicenceData final : public MainCall<153, TextResult, Bstr> {};
class Function_WriteSealByType final : public MainCall<189, NumberResult, Bstr, Bstr, I4> {};
class Function_ReadSealByType final : public MainCall<190, TextResult, Bstr, I4> {};
class Function_GetCertAndSeallist final : public CachedList<0, ReadCertAndSealList> {};
class Function_GetCertAndSeallistXEPA final : public CachedList<50, ReadCertAndSealListXEPA> {};
