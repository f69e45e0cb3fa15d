#pragma once
// Signing and verification: one call each on the main control.

#include "functions/ControlCall.h"

class Function_Sign final : public MainCall<10, TextResult, Bstr, Bstr> {};
class Function_SignEx final : public MainCall<25, TextResult, Bstr, Bstr, Bstr> {};
class Function_Signhash final : public MainCall<128, TextResult, Bstr, FixedI4<2>, Bstr> {};
class Function_SignSeal final : public MainCall<64, TextResult, Bstr, Bstr> {};
class Function_AttachSign final : public MainCall<8, TextResult, Bstr, Bstr> {};
class Function_AttachSignEx final : public MainCall<23, TextResult, Bstr, Bstr, Bstr> {};
class Function_DetachSign final : public MainCall<6, TextResult, Bstr, Bstr> {};
class Function_DetachSignEx final : public MainCall<21, TextResult, Bstr, Bstr, Bstr> {};
class Function_VerifySign final : public MainCall<11, NumberResult, Bstr, Bstr, Bstr> {};
class Function_VerifySignEx final : public MainCall<26, NumberResult, Bstr, Bstr, Bstr, Bstr> {};
class Function_VerifyAttachedSign final : public MainCall<9, NumberResult, Bstr> {};
class Function_VerifyAttachedSignEx final : public MainCall<24, NumberResult, Bstr> {};
class Function_VerifyDetachedSign final : public MainCall<7, NumberResult, Bstr, Bstr> {};
class Function_VerifyDetachedSignEx final : public MainCall<22, NumberResult, Bstr, Bstr, Bstr> {};
class Function_GetAttachedSignSource final : public MainCall<35, TextResult> {};
class Function_SM2Sign final : public MainCall<49, TextResult, Bstr, Bstr> {};
class Function_SM2SignEx final : public MainCall<50, TextResult, Bstr, Bstr, Bstr> {};
class Function_SM2SignEx2 final : public MainCall<14, TextResult, Bstr> {};
class Function_SM2SignEx3 final : public MainCall<27, TextResult, Bstr, Bstr> {};
class Function_SM2SignInit final : public MainCall<42, NumberResult, Bstr> {};
class Function_SM2SignFinal final : public MainCall<43, NumberResult> {};
class Function_SM2AttachSign final : public MainCall<76, TextResult, Bstr, Bstr> {};
class Function_SM2DetachSign final : public MainCall<74, TextResult, Bstr, Bstr> {};
class Function_SM2Verify final : public MainCall<15, NumberResult, Bstr, Bstr, Bstr> {};
class Function_SM2VerifySignEx final : public MainCall<28, NumberResult, Bstr, Bstr, Bstr, Bstr> {};
class Function_SM2VerifyAttachSign final : public MainCall<77, NumberResult, Bstr> {};
class Function_SM2VerifyDetachSign final : public MainCall<75, NumberResult, Bstr, Bstr> {};
class Function_GMSM2Sign final : public MainCall<96, TextResult, Bstr, Bstr> {};
class Function_GMSM2Signhash final : public MainCall<100, TextResult, Bstr, Bstr> {};
class Function_GMSM2VerifySign final : public MainCall<94, NumberResult, Bstr, Bstr, Bstr> {};
