#pragma once
// Envelopes, encryption, files and random data: one call each on the main control.

#include "functions/ControlCall.h"

class Function_EncryptEnvelop final : public MainCall<12, TextResult, Bstr, Bstr> {};
class Function_EncryptEnvelopEx final : public MainCall<19, TextResult, Bstr, Bstr, Bstr> {};
class Function_DecryptEnvelop final : public MainCall<13, TextResult, Bstr> {};
class Function_DecryptEnvelopEx final : public MainCall<20, NumberResult, Bstr, Bstr> {};
class Function_CreateSignedEnvelop final : public MainCall<38, TextResult, Bstr, Bstr, Bstr> {};
class Function_CreateSignedEnvelopEx final
    : public MainCall<40, TextResult, Bstr, Bstr, Bstr, Bstr> {};
class Function_VerifySignedEnvelop final : public MainCall<39, TextResult, Bstr> {};
class Function_VerifySignedEnvelopEx final : public MainCall<41, NumberResult, Bstr, Bstr> {};
class Function_SM2EncryptEnvelop final : public MainCall<54, TextResult, Bstr, Bstr> {};
class Function_SM2EncryptEnvelopEx final : public MainCall<55, TextResult, Bstr, Bstr, Bstr> {};
class Function_SM2DecryptEnvelop final : public MainCall<58, TextResult, Bstr> {};
class Function_SM2DecryptEnvelopEx final : public MainCall<59, NumberResult, Bstr, Bstr> {};
class Function_GMSM2EncryptEnvelop final : public MainCall<83, TextResult, Bstr, Bstr> {};
class Function_GMSM2DecryptEnvelop final : public MainCall<82, TextResult, Bstr> {};
class Function_GMSM2SoftEncryptEnvelop final : public MainCall<119, TextResult, Bstr, Bstr> {};
class Function_SM2Encrypt final : public MainCall<60, TextResult, Bstr, Bstr> {};
class Function_SM2Decrypt final : public MainCall<61, TextResult, Bstr> {};
class Function_SM2EncryptInit final : public MainCall<52, NumberResult> {};
class Function_SM2EncryptFinal final : public MainCall<53, NumberResult> {};
class Function_SM2DecryptInit final : public MainCall<56, NumberResult> {};
class Function_SM2DecryptFinal final : public MainCall<57, NumberResult> {};
class Function_RSAEncrypt final : public MainCall<47, TextResult, Bstr, Bstr> {};
class Function_RSADecrypt final : public MainCall<48, TextResult, Bstr> {};
class Function_DESCbcEncrypt final : public MainCall<45, TextResult, Bstr, Bstr> {};
class Function_DESCbcDecrypt final : public MainCall<46, TextResult, Bstr, Bstr> {};
class Function_FileEnc final : public MainCall<111, NumberResult, Bstr, Bstr, Bstr> {};
class Function_FileDec final : public MainCall<112, NumberResult, Bstr, Bstr, Bstr> {};
class Function_EncryptAesFile final : public MainCall<113, NumberResult, Bstr, Bstr, Bstr> {};
class Function_DecryptAesFile final : public MainCall<118, NumberResult, Bstr, Bstr, Bstr> {};
class Function_FileEncrypt final : public MainCall<194, TextResult, Bstr, Bstr, Bstr> {};
class Function_FileDecrypt final : public MainCall<195, NumberResult, Bstr, Bstr, Bstr> {};
class Function_GenRandom final : public MainCall<16, TextResult, I4> {};
class Function_GenRandomEx final : public MainCall<44, TextResult, I4> {};
class Function_GenSymmetrickey final : public MainCall<196, TextResult> {};
