#include "protocol/FunctionTable.h"

#include <algorithm>
#include <array>

#include "functions/CertificateFunctions.h"
#include "functions/EnvelopeFunctions.h"
#include "functions/SealFunctions.h"
#include "functions/SigningFunctions.h"

namespace {

// Sorted by number, so that a lookup is a binary search. One row per line.
// clang-format off
constexpr std::array kRows = std::to_array<FunctionRow>({
    {1, MakeFunction<Function_SetCertChooseType>, 1, u"SetCertChooseType", "Function_SetCertChooseType"},
    {2, MakeFunction<Function_SetCertEx>, 2, u"SetCertEx", "Function_SetCertEx"},
    {3, MakeFunction<Function_GetCertInfo>, 3, u"GetCertInfo", "Function_GetCertInfo"},
    {4, MakeFunction<Function_SetAlgorithm>, 4, u"SetAlgorithm", "Function_SetAlgorithm"},
    {5, MakeFunction<Function_SetCert>, 5, u"SetCert", "Function_SetCert"},
    {6, MakeFunction<Function_DetachSign>, 6, u"DetachSign", "Function_DetachSign"},
    {7, MakeFunction<Function_VerifyDetachedSign>, 7, u"VerifyDetachedSign", "Function_VerifyDetachedSign"},
    {8, MakeFunction<Function_AttachSign>, 8, u"AttachSign", "Function_AttachSign"},
    {9, MakeFunction<Function_VerifyAttachedSign>, 9, u"VerifyAttachedSign", "Function_VerifyAttachedSign"},
    {10, MakeFunction<Function_Sign>, 10, u"Sign", "Function_Sign"},
    {11, MakeFunction<Function_VerifySign>, 11, u"VerifySign", "Function_VerifySign"},
    {12, MakeFunction<Function_EncryptEnvelop>, 12, u"EncryptEnvelop", "Function_EncryptEnvelop"},
    {13, MakeFunction<Function_DecryptEnvelop>, 13, u"DecryptEnvelop", "Function_DecryptEnvelop"},
    {14, MakeFunction<Function_SM2SignEx2>, 14, u"SM2SignEx2", "Function_SM2SignEx2"},
    {15, MakeFunction<Function_SM2Verify>, 15, u"SM2Verify", "Function_SM2Verify"},
    {16, MakeFunction<Function_GenRandom>, 16, u"GenRandom", "Function_GenRandom"},
    {17, MakeFunction<Function_SM2EncryptEnvelop>, 17, u"SM2EncryptEnvelop", "Function_SM2EncryptEnvelop"},
    {18, MakeFunction<Function_SM2DecryptEnvelop>, 18, u"SM2DecryptEnvelop", "Function_SM2DecryptEnvelop"},
    {19, MakeFunction<Function_EncryptEnvelopEx>, 19, u"EncryptEnvelopEx", "Function_EncryptEnvelopEx"},
    {20, MakeFunction<Function_DecryptEnvelopEx>, 20, u"DecryptEnvelopEx", "Function_DecryptEnvelopEx"},
    {21, MakeFunction<Function_DetachSignEx>, 21, u"DetachSignEx", "Function_DetachSignEx"},
    {22, MakeFunction<Function_VerifyDetachedSignEx>, 22, u"VerifyDetachedSignEx", "Function_VerifyDetachedSignEx"},
    {23, MakeFunction<Function_AttachSignEx>, 23, u"AttachSignEx", "Function_AttachSignEx"},
    {24, MakeFunction<Function_VerifyAttachedSignEx>, 24, u"VerifyAttachedSignEx", "Function_VerifyAttachedSignEx"},
    {25, MakeFunction<Function_SignEx>, 25, u"SignEx", "Function_SignEx"},
    {26, MakeFunction<Function_VerifySignEx>, 26, u"VerifySignEx", "Function_VerifySignEx"},
    {27, MakeFunction<Function_SM2SignEx3>, 27, u"SM2SignEx3", "Function_SM2SignEx3"},
    {28, MakeFunction<Function_SM2VerifySignEx>, 28, u"SM2VerifySignEx", "Function_SM2VerifySignEx"},
    {29, MakeFunction<Function_SM2EncryptEnvelopEx>, 29, u"SM2EncryptEnvelopEx", "Function_SM2EncryptEnvelopEx"},
    {30, MakeFunction<Function_SM2DecryptEnvelopEx>, 30, u"SM2DecryptEnvelopEx", "Function_SM2DecryptEnvelopEx"},
    {31, MakeFunction<Function_GetErrorCode>, 31, u"GetErrorCode", "Function_GetErrorCode"},
    {32, MakeFunction<Function_GetErrorMessage>, 32, u"GetErrorMessage", "Function_GetErrorMessage"},
    {33, MakeFunction<Function_LoadSealFromKey>, 33, u"LoadSealFromKey", "Function_LoadSealFromKey"},
    {34, MakeFunction<Function_GetBmpFromSealData>, 34, u"GetBmpFromSealData", "Function_GetBmpFromSealData"},
    {35, MakeFunction<Function_GetAttachedSignSource>, 35, u"GetAttachedSignSource", "Function_GetAttachedSignSource"},
    {36, MakeFunction<Function_CheckPfxCertInIE>, 36, u"CheckPfxCertInIE", "Function_CheckPfxCertInIE"},
    {37, MakeFunction<Function_PfxCertDownLoad>, 37, u"PfxCertDownLoad", "Function_PfxCertDownLoad"},
    {38, MakeFunction<Function_CreateSignedEnvelop>, 38, u"CreateSignedEnvelop", "Function_CreateSignedEnvelop"},
    {39, MakeFunction<Function_VerifySignedEnvelop>, 39, u"VerifySignedEnvelop", "Function_VerifySignedEnvelop"},
    {40, MakeFunction<Function_CreateSignedEnvelopEx>, 40, u"CreateSignedEnvelopEx", "Function_CreateSignedEnvelopEx"},
    {41, MakeFunction<Function_VerifySignedEnvelopEx>, 41, u"VerifySignedEnvelopEx", "Function_VerifySignedEnvelopEx"},
    {42, MakeFunction<Function_SM2SignInit>, 42, u"SM2SignInit", "Function_SM2SignInit"},
    {43, MakeFunction<Function_SM2SignFinal>, 43, u"SM2SignFinal", "Function_SM2SignFinal"},
    {44, MakeFunction<Function_GenRandomEx>, 44, u"GenRandomEx", "Function_GenRandomEx"},
    {45, MakeFunction<Function_DESCbcEncrypt>, 45, u"DESCbcEncrypt", "Function_DESCbcEncrypt"},
    {46, MakeFunction<Function_DESCbcDecrypt>, 46, u"DESCbcDecrypt", "Function_DESCbcDecrypt"},
    {47, MakeFunction<Function_RSAEncrypt>, 47, u"RSAEncrypt", "Function_RSAEncrypt"},
    {48, MakeFunction<Function_RSADecrypt>, 48, u"RSADecrypt", "Function_RSADecrypt"},
    {49, MakeFunction<Function_SM2Sign>, 49, u"SM2Sign", "Function_SM2Sign"},
    {50, MakeFunction<Function_SM2SignEx>, 50, u"SM2SignEx", "Function_SM2SignEx"},
    {51, MakeFunction<Function_SignSeal>, 51, u"SignSeal", "Function_SignSeal"},
    {52, MakeFunction<Function_SM2EncryptInit>, 52, u"SM2EncryptInit", "Function_SM2EncryptInit"},
    {53, MakeFunction<Function_SM2EncryptFinal>, 53, u"SM2EncryptFinal", "Function_SM2EncryptFinal"},
    {56, MakeFunction<Function_SM2DecryptInit>, 56, u"SM2DecryptInit", "Function_SM2DecryptInit"},
    {57, MakeFunction<Function_SM2DecryptFinal>, 57, u"SM2DecryptFinal", "Function_SM2DecryptFinal"},
    {60, MakeFunction<Function_SM2Encrypt>, 60, u"SM2Encrypt", "Function_SM2Encrypt"},
    {61, MakeFunction<Function_SM2Decrypt>, 61, u"SM2Decrypt", "Function_SM2Decrypt"},
    {74, MakeFunction<Function_SM2DetachSign>, 74, u"SM2DetachSign", "Function_SM2DetachSign"},
    {75, MakeFunction<Function_SM2VerifyDetachSign>, 75, u"SM2VerifyDetachSign", "Function_SM2VerifyDetachSign"},
    {76, MakeFunction<Function_SM2AttachSign>, 76, u"SM2AttachSign", "Function_SM2AttachSign"},
    {77, MakeFunction<Function_SM2VerifyAttachSign>, 77, u"SM2VerifyAttachSign", "Function_SM2VerifyAttachSign"},
    {82, MakeFunction<Function_GMSM2DecryptEnvelop>, 82, u"GMSM2DecryptEnvelop", "Function_GMSM2DecryptEnvelop"},
    {83, MakeFunction<Function_GMSM2EncryptEnvelop>, 83, u"GMSM2EncryptEnvelop", "Function_GMSM2EncryptEnvelop"},
    {92, MakeFunction<Function_CheckUkey>, 92, u"CheckUkey", "Function_CheckUkey"},
    {94, MakeFunction<Function_GMSM2VerifySign>, 94, u"GMSM2VerifySign", "Function_GMSM2VerifySign"},
    {96, MakeFunction<Function_GMSM2Sign>, 96, u"GMSM2Sign", "Function_GMSM2Sign"},
    {98, MakeFunction<Function_GetGMSealPicBase64FromDev>, 98, u"GetGMSealPicBase64FromDev", "Function_GetGMSealPicBase64FromDev"},
    {99, MakeFunction<Function_GetUselist>, 99, u"GetUselist", "Function_GetUselist"},
    {100, MakeFunction<Function_GMSM2Signhash>, 100, u"GMSM2Signhash", "Function_GMSM2Signhash"},
    {104, MakeFunction<Function_ULVO_ReadSealPicBase64FromKeyByCertSN>, 104, u"ULVO_ReadSealPicBase64FromKeyByCertSN", "Function_ULVO_ReadSealPicBase64FromKeyByCertSN"},
    {113, MakeFunction<Function_EncryptAesFile>, 113, u"EncryptAesFile", "Function_EncryptAesFile"},
    {118, MakeFunction<Function_DecryptAesFile>, 118, u"DecryptAesFile", "Function_DecryptAesFile"},
    {119, MakeFunction<Function_GMSM2SoftEncryptEnvelop>, 119, u"GMSM2SoftEncryptEnvelop", "Function_GMSM2SoftEncryptEnvelop"},
    {121, MakeFunction<Function_ZQTReadGMSealData>, 121, u"ZQTReadGMSealData", "Function_ZQTReadGMSealData"},
    {125, MakeFunction<Function_GetKRVVersion>, 125, u"GetKRVVersion", "Function_GetKRVVersion"},
    {126, MakeFunction<Function_CompareKRVVersion>, 126, u"CompareKRVVersion", "Function_CompareKRVVersion"},
    {127, MakeFunction<Function_NotifyKRVFlush>, 127, u"NotifyKRVFlush", "Function_NotifyKRVFlush"},
    {128, MakeFunction<Function_Signhash>, 128, u"Signhash", "Function_Signhash"},
    {129, MakeFunction<Function_FileEncrypt>, 129, u"FileEncrypt", "Function_FileEncrypt"},
    {130, MakeFunction<Function_FileDecrypt>, 130, u"FileDecrypt", "Function_FileDecrypt"},
    {131, MakeFunction<Function_GetSealInfos>, 131, u"GetSealInfos", "Function_GetSealInfos"},
    {132, MakeFunction<Function_ZQTCheckUkeyPin>, 132, u"ZQTCheckUkeyPin", "Function_ZQTCheckUkeyPin"},
    {151, MakeFunction<Function_ReadSealData>, 206, u"ReadSealData", "Function_ReadSealData"},
    {152, MakeFunction<Function_FileEnc>, 152, u"DESCbcEncryptEx", "Function_FileEnc"},
    {153, MakeFunction<Function_FileDec>, 153, u"DESCbcDecryptEx", "Function_FileDec"},
    {154, MakeFunction<Function_GenSymmetrickey>, 154, u"genSymmetrickey", "Function_GenSymmetrickey"},
    {159, MakeFunction<Function_GetUkeySerialNumberByCertSN>, 159, u"GetUkeySerialNumberByCertSN", "Function_GetUkeySerialNumberByCertSN"},
    {201, MakeFunction<Function_GetSealIndata>, 201, u"GetSealIndata", "Function_GetSealIndata"},
    {202, MakeFunction<Function_GetSealData>, 202, u"GetSealData", "Function_GetSealData"},
    {203, MakeFunction<Function_WriteSealData>, 203, u"WriteSealData", "Function_WriteSealData"},
    {204, MakeFunction<Function_WriteLicenceData>, 204, u"WriteLicenceData", "Function_WriteLicenceData"},
    {205, MakeFunction<Function_ReadLicenceData>, 205, u"ReadLicenceData", "Function_ReadLicenceData"},
    {206, MakeFunction<Function_ReadSealData>, 206, u"ReadSealData", "Function_ReadSealData"},
    {207, MakeFunction<Function_WriteSealByType>, 207, u"WriteSealByType", "Function_WriteSealByType"},
    {208, MakeFunction<Function_ReadSealByType>, 208, u"ReadSealByType", "Function_ReadSealByType"},
    {301, MakeFunction<Function_ZQT_Initialize>, 301, u"ZQT_Initialize", "Function_ZQT_Initialize"},
    {302, MakeFunction<Function_ZQT_InitDevNameList>, 302, u"ZQT_InitDevNameList", "Function_ZQT_InitDevNameList"},
    {303, MakeFunction<Function_ZQT_GetFirstDevName>, 303, u"ZQT_GetFirstDevName", "Function_ZQT_GetFirstDevName"},
    {304, MakeFunction<Function_ZQT_SetUSBKeyType>, 304, u"ZQT_SetUSBKeyType", "Function_ZQT_SetUSBKeyType"},
    {305, MakeFunction<Function_ZQT_CreateP10>, 305, u"ZQT_CreateP10", "Function_ZQT_CreateP10"},
    {306, MakeFunction<Function_ZQT_CreatedoubleP10>, 306, u"ZQT_CreatedoubleP10", "Function_ZQT_CreatedoubleP10"},
    {307, MakeFunction<Function_ZQT_InstallSignCertAndEnCert>, 307, u"ZQT_InstallSignCertAndEnCert", "Function_ZQT_InstallSignCertAndEnCert"},
    {308, MakeFunction<Function_ZQT_GetLastErrCode>, 308, u"ZQT_GetLastErrCode", "Function_ZQT_GetLastErrCode"},
    {309, MakeFunction<Function_ZQT_GetLastErrMsg>, 309, u"ZQT_GetLastErrMsg", "Function_ZQT_GetLastErrMsg"},
    {310, MakeFunction<Function_ZQT_SetUSBKeyTypeEx>, 310, u"ZQT_SetUSBKeyTypeEx", "Function_ZQT_SetUSBKeyTypeEx"},
    {311, MakeFunction<Function_ZQT_GetDevInfoList>, 311, u"ZQT_GetDevInfoList", "Function_ZQT_GetDevInfoList"},
    {312, MakeFunction<Function_ZQT_InstallSeal>, 312, u"ZQT_InstallSeal", "Function_ZQT_InstallSeal"},
    {313, MakeFunction<Function_ZQT_GetDevInfoListEx>, 313, u"ZQT_GetDevInfoListEx", "Function_ZQT_GetDevInfoListEx"},
    {401, MakeFunction<Function_GetCertAndSeallist>, 401, u"GetCertAndSeallist", "Function_GetCertAndSeallist"},
    {402, MakeFunction<Function_GetPCinfo>, 402, u"GetUseMac", "Function_GetPCinfo"},
    {4011, MakeFunction<Function_GetCertAndSeallistXEPA>, 4011, u"GetCertAndSeallistXEPA", "Function_GetCertAndSeallistXEPA"},
});
// clang-format on

static_assert(std::ranges::is_sorted(kRows, {}, &FunctionRow::number));

}  // namespace

std::span<const FunctionRow> FunctionTable() {
    return kRows;
}

const FunctionRow* FindFunctionRow(int32_t number) {
    auto it = std::ranges::lower_bound(kRows, number, {}, &FunctionRow::number);
    if (it == kRows.end() || it->number != number) {
        return nullptr;
    }
    return &*it;
}
