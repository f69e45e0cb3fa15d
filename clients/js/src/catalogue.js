// The command table: one row per FunctionType the service knows.
//
// Columns: FunctionType, the FunctionType the answer reports, the command's
// name, the name the command stores for itself, the client method, the control
// that runs it ("main", "enrolment", or "list" for the certificate and seal
// lists), the control's dispatch id (0 for the lists), the result kind
// ("number" or "text"), and the parameters in Param1..Param7 order as
// "name:kind". Kinds: text; number (a decimal 32-bit integer); unsigned (a
// decimal number the control takes unsigned); base64 (text the service
// Base64-decodes before the call). "=2" stands for a fixed control argument
// that no parameter feeds (Signhash's hash algorithm, SHA-256).
//
// test/catalogue.test.js compares this table with the C++ test table row by
// row; change both together.
const ROWS = [
  [1, 1, "SetCertChooseType", "SetCertChooseType", "setCertChooseType", "main", 1, "number", "chooseType:number"],
  [2, 2, "SetCertEx", "SetCertEx", "setCertEx", "main", 2, "number", "serial:text issuer:text subject:text usage:text algorithm:text sha1:text token:text"],
  [3, 3, "GetCertInfo", "GetCertInfo", "getCertInfo", "main", 3, "text", "item:number cert:text"],
  [4, 4, "SetAlgorithm", "SetAlgorithm", "setAlgorithm", "main", 4, "number", "hash:text cipher:text"],
  [5, 5, "SetCert", "SetCert", "setCert", "main", 5, "number", "serial:text issuer:text subject:text usage:text algorithm:text sha1:text"],
  [6, 6, "DetachSign", "DetachSign", "detachSign", "main", 6, "text", "data:text cert:text"],
  [7, 7, "VerifyDetachedSign", "VerifyDetachedSign", "verifyDetachedSign", "main", 7, "number", "p7B64:text data:text"],
  [8, 8, "AttachSign", "AttachSign", "attachSign", "main", 8, "text", "data:text cert:text"],
  [9, 9, "VerifyAttachedSign", "VerifyAttachedSign", "verifyAttachedSign", "main", 9, "number", "p7B64:text"],
  [10, 10, "Sign", "Sign", "sign", "main", 10, "text", "data:text cert:text"],
  [11, 11, "VerifySign", "VerifySign", "verifySign", "main", 11, "number", "data:text signatureB64:text cert:text"],
  [12, 12, "EncryptEnvelop", "EncryptEnvelop", "encryptEnvelop", "main", 12, "text", "data:text recipientCert:text"],
  [13, 13, "DecryptEnvelop", "DecryptEnvelop", "decryptEnvelop", "main", 13, "text", "envelopeB64:text"],
  [14, 14, "SM2SignEx2", "SM2SignEx2", "sm2SignEx2", "main", 14, "text", "data:text"],
  [15, 15, "SM2Verify", "SM2Verify", "sm2Verify", "main", 15, "number", "data:text signature:text cert:text"],
  [16, 16, "GenRandom", "GenRandom", "genRandom", "main", 16, "text", "length:number"],
  [17, 17, "SM2EncryptEnvelop", "SM2EncryptEnvelop", "sm2EncryptEnvelop", "main", 54, "text", "data:text recipientCert:text"],
  [18, 18, "SM2DecryptEnvelop", "SM2DecryptEnvelop", "sm2DecryptEnvelop", "main", 58, "text", "envelopeB64:text"],
  [19, 19, "EncryptEnvelopEx", "EncryptEnvelopEx", "encryptEnvelopEx", "main", 19, "text", "data:text recipientCert:text flags:text"],
  [20, 20, "DecryptEnvelopEx", "DecryptEnvelopEx", "decryptEnvelopEx", "main", 20, "number", "envelopeB64:text flags:text"],
  [21, 21, "DetachSignEx", "DetachSignEx", "detachSignEx", "main", 21, "text", "data:text cert:text flags:text"],
  [22, 22, "VerifyDetachedSignEx", "VerifyDetachedSignEx", "verifyDetachedSignEx", "main", 22, "number", "p7:text data:text flags:text"],
  [23, 23, "AttachSignEx", "AttachSignEx", "attachSignEx", "main", 23, "text", "data:text cert:text flags:text"],
  [24, 24, "VerifyAttachedSignEx", "VerifyAttachedSignEx", "verifyAttachedSignEx", "main", 24, "number", "p7B64:text"],
  [25, 25, "SignEx", "SignEx", "signEx", "main", 25, "text", "data:text cert:text flags:text"],
  [26, 26, "VerifySignEx", "VerifySignEx", "verifySignEx", "main", 26, "number", "data:text signature:text cert:text flags:text"],
  [27, 27, "SM2SignEx3", "SM2SignEx3", "sm2SignEx3", "main", 27, "text", "dataB64:text cert:text"],
  [28, 28, "SM2VerifySignEx", "SM2VerifySignEx", "sm2VerifySignEx", "main", 28, "number", "data:text signature:text cert:text userId:text"],
  [29, 29, "SM2EncryptEnvelopEx", "SM2EncryptEnvelopEx", "sm2EncryptEnvelopEx", "main", 55, "text", "data:text recipientCert:text flags:text"],
  [30, 30, "SM2DecryptEnvelopEx", "SM2DecryptEnvelopEx", "sm2DecryptEnvelopEx", "main", 59, "number", "envelopeB64:text flags:text"],
  [31, 31, "GetErrorCode", "GetErrorCode", "getErrorCode", "main", 31, "number", ""],
  [32, 32, "GetErrorMessage", "GetErrorMessage", "getErrorMessage", "main", 32, "text", ""],
  [33, 33, "LoadSealFromKey", "LoadSealFromKey", "loadSealFromKey", "main", 34, "text", "sealName:text cert:text"],
  [34, 34, "GetBmpFromSealData", "GetBmpFromSealData", "getBmpFromSealData", "main", 33, "text", "sealData:text index:unsigned"],
  [35, 35, "GetAttachedSignSource", "GetAttachedSignSource", "getAttachedSignSource", "main", 35, "text", ""],
  [36, 36, "CheckPfxCertInIE", "CheckPfxCertInIE", "checkPfxCertInIE", "main", 36, "number", "cert:text"],
  [37, 37, "PfxCertDownLoad", "PfxCertDownLoad", "pfxCertDownLoad", "main", 37, "number", "pfxB64:text password:text"],
  [38, 38, "CreateSignedEnvelop", "CreateSignedEnvelop", "createSignedEnvelop", "main", 38, "text", "data:text signCert:text recipientCert:text"],
  [39, 39, "VerifySignedEnvelop", "VerifySignedEnvelop", "verifySignedEnvelop", "main", 39, "text", "envelopeB64:text"],
  [40, 40, "CreateSignedEnvelopEx", "CreateSignedEnvelopEx", "createSignedEnvelopEx", "main", 40, "text", "data:text signCert:text recipientCert:text flags:text"],
  [41, 41, "VerifySignedEnvelopEx", "VerifySignedEnvelopEx", "verifySignedEnvelopEx", "main", 41, "number", "envelopeB64:text flags:text"],
  [42, 42, "SM2SignInit", "SM2SignInit", "sm2SignInit", "main", 42, "number", "cert:text"],
  [43, 43, "SM2SignFinal", "SM2SignFinal", "sm2SignFinal", "main", 43, "number", ""],
  [44, 44, "GenRandomEx", "GenRandomEx", "genRandomEx", "main", 44, "text", "length:number"],
  [45, 45, "DESCbcEncrypt", "DESCbcEncrypt", "desCbcEncrypt", "main", 45, "text", "data:text key:text"],
  [46, 46, "DESCbcDecrypt", "DESCbcDecrypt", "desCbcDecrypt", "main", 46, "text", "dataB64:text key:text"],
  [47, 47, "RSAEncrypt", "RSAEncrypt", "rsaEncrypt", "main", 47, "text", "data:text recipientCert:text"],
  [48, 48, "RSADecrypt", "RSADecrypt", "rsaDecrypt", "main", 48, "text", "dataB64:text"],
  [49, 49, "SM2Sign", "SM2Sign", "sm2Sign", "main", 49, "text", "data:text cert:text"],
  [50, 50, "SM2SignEx", "SM2SignEx", "sm2SignEx", "main", 50, "text", "data:text cert:text userId:text"],
  [51, 51, "SignSeal", "SignSeal", "signSeal", "main", 64, "text", "data:text sealName:text"],
  [52, 52, "SM2EncryptInit", "SM2EncryptInit", "sm2EncryptInit", "main", 52, "number", ""],
  [53, 53, "SM2EncryptFinal", "SM2EncryptFinal", "sm2EncryptFinal", "main", 53, "number", ""],
  [56, 56, "SM2DecryptInit", "SM2DecryptInit", "sm2DecryptInit", "main", 56, "number", ""],
  [57, 57, "SM2DecryptFinal", "SM2DecryptFinal", "sm2DecryptFinal", "main", 57, "number", ""],
  [60, 60, "SM2Encrypt", "SM2Encrypt", "sm2Encrypt", "main", 60, "text", "data:text recipientCert:text"],
  [61, 61, "SM2Decrypt", "SM2Decrypt", "sm2Decrypt", "main", 61, "text", "dataB64:text"],
  [74, 74, "SM2DetachSign", "SM2DetachSign", "sm2DetachSign", "main", 74, "text", "data:text cert:text"],
  [75, 75, "SM2VerifyDetachSign", "SM2VerifyDetachSign", "sm2VerifyDetachSign", "main", 75, "number", "p7:text data:text"],
  [76, 76, "SM2AttachSign", "SM2AttachSign", "sm2AttachSign", "main", 76, "text", "data:text cert:text"],
  [77, 77, "SM2VerifyAttachSign", "SM2VerifyAttachSign", "sm2VerifyAttachSign", "main", 77, "number", "p7:text"],
  [82, 82, "GMSM2DecryptEnvelop", "GMSM2DecryptEnvelop", "gmsm2DecryptEnvelop", "main", 82, "text", "envelopeB64:text"],
  [83, 83, "GMSM2EncryptEnvelop", "GMSM2EncryptEnvelop", "gmsm2EncryptEnvelop", "main", 83, "text", "data:text recipientCert:text"],
  [92, 92, "CheckUkey", "CheckUkey", "checkUkey", "main", 92, "number", "tokenSel:text certSel:text"],
  [94, 94, "GMSM2VerifySign", "GMSM2VerifySign", "gmsm2VerifySign", "main", 94, "number", "data:text signature:text cert:text"],
  [96, 96, "GMSM2Sign", "GMSM2Sign", "gmsm2Sign", "main", 96, "text", "data:text cert:text"],
  [98, 98, "GetGMSealPicBase64FromDev", "GetGMSealPicBase64FromDev", "getGMSealPicBase64FromDev", "main", 98, "text", "cert:text"],
  [99, 99, "GetUselist", "GetUselist", "getUselist", "main", 99, "text", ""],
  [100, 100, "GMSM2Signhash", "GMSM2Signhash", "gmsm2Signhash", "main", 100, "text", "eB64:text cert:text"],
  [104, 104, "ULVO_ReadSealPicBase64FromKeyByCertSN", "ULVO_ReadSealPicBase64FromKeyByCertSN", "ulvoReadSealPicBase64FromKeyByCertSN", "main", 104, "text", "certSerial:text"],
  [113, 113, "EncryptAesFile", "EncryptAesFile", "encryptAesFile", "main", 113, "number", "inPath:text outPath:text key:text"],
  [118, 118, "DecryptAesFile", "DecryptAesFile", "decryptAesFile", "main", 118, "number", "inPath:text outPath:text key:text"],
  [119, 119, "GMSM2SoftEncryptEnvelop", "GMSM2SoftEncryptEnvelop", "gmsm2SoftEncryptEnvelop", "main", 119, "text", "data:text recipientCert:text"],
  [121, 121, "ZQTReadGMSealData", "ZQTReadGMSealData", "zqtReadGMSealData", "main", 121, "text", "cert:text"],
  [125, 125, "GetKRVVersion", "GetKRVVersion", "getKRVVersion", "main", 125, "text", ""],
  [126, 126, "CompareKRVVersion", "CompareKRVVersion", "compareKRVVersion", "main", 126, "number", "version:text"],
  [127, 127, "NotifyKRVFlush", "NotifyKRVFlush", "notifyKRVFlush", "main", 124, "number", "reason:text"],
  [128, 128, "Signhash", "Signhash", "signhash", "main", 128, "text", "digestB64:text =2 cert:text"],
  [129, 129, "FileEncrypt", "FileEncrypt", "fileEncrypt", "main", 194, "text", "inPath:text outPath:text recipientCert:text"],
  [130, 130, "FileDecrypt", "FileDecrypt", "fileDecrypt", "main", 195, "number", "inPath:text outPath:text cert:text"],
  [131, 131, "GetSealInfos", "GetSealInfos", "getSealInfos", "main", 199, "text", "cert:text"],
  [132, 132, "ZQTCheckUkeyPin", "ZQTCheckUkeyPin", "zqtCheckUkeyPin", "main", 129, "number", "tokenSel:text pin:text"],
  [151, 206, "ReadSealData", "ReadSealData", "readSealDataCompat", "main", 151, "text", "sealName:text"],
  [152, 152, "FileEnc", "DESCbcEncryptEx", "desCbcEncryptEx", "main", 111, "number", "inPath:text outPath:text key:text"],
  [153, 153, "FileDec", "DESCbcDecryptEx", "desCbcDecryptEx", "main", 112, "number", "inPath:text outPath:text key:text"],
  [154, 154, "GenSymmetrickey", "genSymmetrickey", "genSymmetrickey", "main", 196, "text", ""],
  [159, 159, "GetUkeySerialNumberByCertSN", "GetUkeySerialNumberByCertSN", "getUkeySerialNumberByCertSN", "main", 159, "text", "certSerial:text"],
  [201, 201, "GetSealIndata", "GetSealIndata", "getSealIndata", "main", 148, "text", "sealDataB64:base64"],
  [202, 202, "GetSealData", "GetSealData", "getSealData", "main", 149, "text", "sealDataB64:base64"],
  [203, 203, "WriteSealData", "WriteSealData", "writeSealData", "main", 150, "number", "sealName:text sealData:text"],
  [204, 204, "WriteLicenceData", "WriteLicenceData", "writeLicenceData", "main", 152, "number", "name:text licenceData:text"],
  [205, 205, "ReadLicenceData", "ReadLicenceData", "readLicenceData", "main", 153, "text", "name:text"],
  [206, 206, "ReadSealData", "ReadSealData", "readSealData", "main", 151, "text", "sealName:text"],
  [207, 207, "WriteSealByType", "WriteSealByType", "writeSealByType", "main", 189, "number", "sealName:text sealData:text sealType:number"],
  [208, 208, "ReadSealByType", "ReadSealByType", "readSealByType", "main", 190, "text", "sealName:text sealType:number"],
  [301, 301, "ZQT_Initialize", "ZQT_Initialize", "zqtInitialize", "enrolment", 1, "number", ""],
  [302, 302, "ZQT_InitDevNameList", "ZQT_InitDevNameList", "zqtInitDevNameList", "enrolment", 2, "number", ""],
  [303, 303, "ZQT_GetFirstDevName", "ZQT_GetFirstDevName", "zqtGetFirstDevName", "enrolment", 3, "text", ""],
  [304, 304, "ZQT_SetUSBKeyType", "ZQT_SetUSBKeyType", "zqtSetUSBKeyType", "enrolment", 4, "number", "keyType:text provider:text container:text"],
  [305, 305, "ZQT_CreateP10", "ZQT_CreateP10", "zqtCreateP10", "enrolment", 5, "text", ""],
  [306, 306, "ZQT_CreatedoubleP10", "ZQT_CreatedoubleP10", "zqtCreatedoubleP10", "enrolment", 6, "text", ""],
  [307, 307, "ZQT_InstallSignCertAndEnCert", "ZQT_InstallSignCertAndEnCert", "zqtInstallSignCertAndEnCert", "enrolment", 7, "number", "signCertB64:text encCertB64:text encKeyB64:text"],
  [308, 308, "ZQT_GetLastErrCode", "ZQT_GetLastErrCode", "zqtGetLastErrCode", "enrolment", 8, "number", ""],
  [309, 309, "ZQT_GetLastErrMsg", "ZQT_GetLastErrMsg", "zqtGetLastErrMsg", "enrolment", 9, "text", ""],
  [310, 310, "ZQT_SetUSBKeyTypeEx", "ZQT_SetUSBKeyTypeEx", "zqtSetUSBKeyTypeEx", "enrolment", 10, "number", "keyType:text provider:text"],
  [311, 311, "ZQT_GetDevInfoList", "ZQT_GetDevInfoList", "zqtGetDevInfoList", "enrolment", 11, "text", ""],
  [312, 312, "ZQT_InstallSeal", "ZQT_InstallSeal", "zqtInstallSeal", "enrolment", 12, "number", "sealName:text sealData:text"],
  [313, 313, "ZQT_GetDevInfoListEx", "ZQT_GetDevInfoListEx", "zqtGetDevInfoListEx", "enrolment", 13, "text", ""],
  [401, 401, "GetCertAndSeallist", "GetCertAndSeallist", "getCertAndSeallist", "list", 0, "text", ""],
  [402, 402, "GetPCinfo", "GetUseMac", "getUseMac", "main", 176, "text", ""],
  [4011, 4011, "GetCertAndSeallistXEPA", "GetCertAndSeallistXEPA", "getCertAndSeallistXEPA", "list", 0, "text", ""],
];

function parseParams(paramText) {
  const params = [];
  const fixed = [];
  for (const item of paramText.split(" ").filter(Boolean)) {
    if (item.startsWith("=")) {
      fixed.push({ position: params.length + fixed.length, value: Number(item.slice(1)) });
      continue;
    }
    const [name, kind] = item.split(":");
    params.push(Object.freeze({ name, kind }));
  }
  return { params: Object.freeze(params), fixed: Object.freeze(fixed) };
}

/** Every command as a frozen object, in FunctionType order. */
export const COMMANDS = Object.freeze(
  ROWS.map(([type, reports, name, stored, method, control, dispatch, result, paramText]) => {
    const { params, fixed } = parseParams(paramText);
    return Object.freeze({ type, reports, name, stored, method, control, dispatch, result, params, fixed });
  }),
);

const BY_TYPE = new Map(COMMANDS.map((c) => [c.type, c]));
const BY_METHOD = new Map(COMMANDS.map((c) => [c.method, c]));

/** The command of a FunctionType, or undefined. */
export function commandByType(type) {
  return BY_TYPE.get(type);
}

/** The command behind a client method name, or undefined. */
export function commandByMethod(method) {
  return BY_METHOD.get(method);
}
