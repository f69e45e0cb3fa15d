// Types of zqtca-client.

export type ParamKind = "text" | "number" | "unsigned" | "base64";

export interface Command {
  readonly type: number;
  readonly reports: number;
  readonly name: string;
  readonly stored: string;
  readonly method: string;
  readonly control: "main" | "enrolment" | "list";
  readonly dispatch: number;
  readonly result: "number" | "text";
  readonly params: ReadonlyArray<{ readonly name: string; readonly kind: ParamKind }>;
  readonly fixed: ReadonlyArray<{ readonly position: number; readonly value: number }>;
}

export const COMMANDS: ReadonlyArray<Command>;
export function commandByType(type: number): Command | undefined;
export function commandByMethod(method: string): Command | undefined;

export interface Step {
  /** The FunctionType. */
  type: number;
  /** Param1..Param7. */
  params?: Array<string | number>;
  /** The step (from 1) to run when the command succeeded; 0 or absent ends the chain. */
  trueNext?: number;
  /** The step to run when it failed; 0 or absent ends the chain. */
  falseNext?: number;
}

export interface Outcome {
  /** The FunctionType of the last step that ran, as the service reports it. */
  functionType: number;
  /** That step's result text. */
  result: string;
  callback: string;
  /** The numbers of the steps that could have given this answer. */
  steps: number[];
}

export type RawAnswer =
  | { kind: "rejected"; callback: string }
  | { kind: "chainFailed"; callback: string; step: number }
  | { kind: "ran"; callback: string; functionType: number; result: string };

export function buildRequest(steps: Step[], callbackName?: string): string;
export function buildStep(step: Step, count: number, index?: number): string;
export function readAnswer(text: string, callbackName?: string): RawAnswer;
export function parseAnswer(
  text: string,
  options?: { callbackName?: string; steps?: Step[]; reportsOf?: (type: number) => number },
): Outcome;
export function describeCode(code: number | undefined): string;

export const PLAIN_PORT: 9651;
export const TLS_PORT: 9652;
export const MAX_MESSAGE_BYTES: number;

export interface EndpointOptions {
  secure?: boolean | "auto";
  host?: string;
  plainPort?: number;
  tlsPort?: number;
}
export function endpoints(
  options?: EndpointOptions,
  location?: { protocol: string },
): { secure: boolean; http: string; ws: string };

export interface Transport {
  readonly kind: "websocket" | "fetch";
  send(text: string): Promise<string>;
  close(): void;
}
export class FetchTransport implements Transport {
  constructor(options: { url: string; timeout?: number; fetch?: typeof fetch });
  readonly kind: "fetch";
  send(text: string): Promise<string>;
  close(): void;
}
export class WebSocketTransport implements Transport {
  constructor(options: { url: string; timeout?: number; WebSocket?: typeof WebSocket });
  readonly kind: "websocket";
  send(text: string): Promise<string>;
  close(): void;
}

export interface ClientOptions extends EndpointOptions {
  transport?: "auto" | "websocket" | "fetch";
  timeout?: number;
  callbackName?: string;
  WebSocket?: typeof WebSocket;
  fetch?: typeof fetch;
  location?: { protocol: string };
}

export class ZqtcaError extends Error {
  readonly code: string;
}
export class RequestFormatError extends ZqtcaError {
  readonly where?: string;
}
export class RequestRejectedError extends ZqtcaError {}
export class ChainError extends ZqtcaError {
  readonly step: number;
}
export class AnswerFormatError extends ZqtcaError {
  readonly answer: unknown;
}
export class CommandError extends ZqtcaError {
  readonly command?: string;
  readonly functionType?: number;
  /** The command's code (-2 .. -20, -1 from the service), when known. */
  readonly result?: number;
}
export class ServiceUnavailableError extends ZqtcaError {
  readonly url: string;
}
export class TimeoutError extends ZqtcaError {
  readonly timeout: number;
}
export class ClosedError extends ZqtcaError {}

export class ZqtcaClient {
  constructor(options?: ClientOptions);
  readonly endpoint: { secure: boolean; http: string; ws: string };
  /** "websocket" or "fetch": what carried the last answer. */
  readonly lastTransport: "websocket" | "fetch" | null;
  send(text: string): Promise<string>;
  run(steps: Step[]): Promise<Outcome>;
  call(typeOrMethod: number | string, ...args: Array<string | number | undefined>): Promise<string | number>;
  /** GetCertInfo item 16, parsed. */
  certificateInfo(cert?: string): Promise<Record<string, unknown>>;
  close(): void;

  // One method per command (text results resolve with the text, number
  // results with the number; a failure rejects with CommandError).
  /** SetCertChooseType (FunctionType 1). */
  setCertChooseType(chooseType: number): Promise<number>;
  /** SetCertEx (FunctionType 2). */
  setCertEx(serial?: string, issuer?: string, subject?: string, usage?: string, algorithm?: string, sha1?: string, token?: string): Promise<number>;
  /** GetCertInfo (FunctionType 3). */
  getCertInfo(item: number, cert?: string): Promise<string>;
  /** SetAlgorithm (FunctionType 4). */
  setAlgorithm(hash?: string, cipher?: string): Promise<number>;
  /** SetCert (FunctionType 5). */
  setCert(serial?: string, issuer?: string, subject?: string, usage?: string, algorithm?: string, sha1?: string): Promise<number>;
  /** DetachSign (FunctionType 6). */
  detachSign(data?: string, cert?: string): Promise<string>;
  /** VerifyDetachedSign (FunctionType 7). */
  verifyDetachedSign(p7B64?: string, data?: string): Promise<number>;
  /** AttachSign (FunctionType 8). */
  attachSign(data?: string, cert?: string): Promise<string>;
  /** VerifyAttachedSign (FunctionType 9). */
  verifyAttachedSign(p7B64?: string): Promise<number>;
  /** Sign (FunctionType 10). */
  sign(data?: string, cert?: string): Promise<string>;
  /** VerifySign (FunctionType 11). */
  verifySign(data?: string, signatureB64?: string, cert?: string): Promise<number>;
  /** EncryptEnvelop (FunctionType 12). */
  encryptEnvelop(data?: string, recipientCert?: string): Promise<string>;
  /** DecryptEnvelop (FunctionType 13). */
  decryptEnvelop(envelopeB64?: string): Promise<string>;
  /** SM2SignEx2 (FunctionType 14). */
  sm2SignEx2(data?: string): Promise<string>;
  /** SM2Verify (FunctionType 15). */
  sm2Verify(data?: string, signature?: string, cert?: string): Promise<number>;
  /** GenRandom (FunctionType 16). */
  genRandom(length: number): Promise<string>;
  /** SM2EncryptEnvelop (FunctionType 17). */
  sm2EncryptEnvelop(data?: string, recipientCert?: string): Promise<string>;
  /** SM2DecryptEnvelop (FunctionType 18). */
  sm2DecryptEnvelop(envelopeB64?: string): Promise<string>;
  /** EncryptEnvelopEx (FunctionType 19). */
  encryptEnvelopEx(data?: string, recipientCert?: string, flags?: string): Promise<string>;
  /** DecryptEnvelopEx (FunctionType 20). */
  decryptEnvelopEx(envelopeB64?: string, flags?: string): Promise<number>;
  /** DetachSignEx (FunctionType 21). */
  detachSignEx(data?: string, cert?: string, flags?: string): Promise<string>;
  /** VerifyDetachedSignEx (FunctionType 22). */
  verifyDetachedSignEx(p7?: string, data?: string, flags?: string): Promise<number>;
  /** AttachSignEx (FunctionType 23). */
  attachSignEx(data?: string, cert?: string, flags?: string): Promise<string>;
  /** VerifyAttachedSignEx (FunctionType 24). */
  verifyAttachedSignEx(p7B64?: string): Promise<number>;
  /** SignEx (FunctionType 25). */
  signEx(data?: string, cert?: string, flags?: string): Promise<string>;
  /** VerifySignEx (FunctionType 26). */
  verifySignEx(data?: string, signature?: string, cert?: string, flags?: string): Promise<number>;
  /** SM2SignEx3 (FunctionType 27). */
  sm2SignEx3(dataB64?: string, cert?: string): Promise<string>;
  /** SM2VerifySignEx (FunctionType 28). */
  sm2VerifySignEx(data?: string, signature?: string, cert?: string, userId?: string): Promise<number>;
  /** SM2EncryptEnvelopEx (FunctionType 29). */
  sm2EncryptEnvelopEx(data?: string, recipientCert?: string, flags?: string): Promise<string>;
  /** SM2DecryptEnvelopEx (FunctionType 30). */
  sm2DecryptEnvelopEx(envelopeB64?: string, flags?: string): Promise<number>;
  /** GetErrorCode (FunctionType 31). */
  getErrorCode(): Promise<number>;
  /** GetErrorMessage (FunctionType 32). */
  getErrorMessage(): Promise<string>;
  /** LoadSealFromKey (FunctionType 33). */
  loadSealFromKey(sealName?: string, cert?: string): Promise<string>;
  /** GetBmpFromSealData (FunctionType 34). */
  getBmpFromSealData(sealData: string, index: number): Promise<string>;
  /** GetAttachedSignSource (FunctionType 35). */
  getAttachedSignSource(): Promise<string>;
  /** CheckPfxCertInIE (FunctionType 36). */
  checkPfxCertInIE(cert?: string): Promise<number>;
  /** PfxCertDownLoad (FunctionType 37). */
  pfxCertDownLoad(pfxB64?: string, password?: string): Promise<number>;
  /** CreateSignedEnvelop (FunctionType 38). */
  createSignedEnvelop(data?: string, signCert?: string, recipientCert?: string): Promise<string>;
  /** VerifySignedEnvelop (FunctionType 39). */
  verifySignedEnvelop(envelopeB64?: string): Promise<string>;
  /** CreateSignedEnvelopEx (FunctionType 40). */
  createSignedEnvelopEx(data?: string, signCert?: string, recipientCert?: string, flags?: string): Promise<string>;
  /** VerifySignedEnvelopEx (FunctionType 41). */
  verifySignedEnvelopEx(envelopeB64?: string, flags?: string): Promise<number>;
  /** SM2SignInit (FunctionType 42). */
  sm2SignInit(cert?: string): Promise<number>;
  /** SM2SignFinal (FunctionType 43). */
  sm2SignFinal(): Promise<number>;
  /** GenRandomEx (FunctionType 44). */
  genRandomEx(length: number): Promise<string>;
  /** DESCbcEncrypt (FunctionType 45). */
  desCbcEncrypt(data?: string, key?: string): Promise<string>;
  /** DESCbcDecrypt (FunctionType 46). */
  desCbcDecrypt(dataB64?: string, key?: string): Promise<string>;
  /** RSAEncrypt (FunctionType 47). */
  rsaEncrypt(data?: string, recipientCert?: string): Promise<string>;
  /** RSADecrypt (FunctionType 48). */
  rsaDecrypt(dataB64?: string): Promise<string>;
  /** SM2Sign (FunctionType 49). */
  sm2Sign(data?: string, cert?: string): Promise<string>;
  /** SM2SignEx (FunctionType 50). */
  sm2SignEx(data?: string, cert?: string, userId?: string): Promise<string>;
  /** SignSeal (FunctionType 51). */
  signSeal(data?: string, sealName?: string): Promise<string>;
  /** SM2EncryptInit (FunctionType 52). */
  sm2EncryptInit(): Promise<number>;
  /** SM2EncryptFinal (FunctionType 53). */
  sm2EncryptFinal(): Promise<number>;
  /** SM2DecryptInit (FunctionType 56). */
  sm2DecryptInit(): Promise<number>;
  /** SM2DecryptFinal (FunctionType 57). */
  sm2DecryptFinal(): Promise<number>;
  /** SM2Encrypt (FunctionType 60). */
  sm2Encrypt(data?: string, recipientCert?: string): Promise<string>;
  /** SM2Decrypt (FunctionType 61). */
  sm2Decrypt(dataB64?: string): Promise<string>;
  /** SM2DetachSign (FunctionType 74). */
  sm2DetachSign(data?: string, cert?: string): Promise<string>;
  /** SM2VerifyDetachSign (FunctionType 75). */
  sm2VerifyDetachSign(p7?: string, data?: string): Promise<number>;
  /** SM2AttachSign (FunctionType 76). */
  sm2AttachSign(data?: string, cert?: string): Promise<string>;
  /** SM2VerifyAttachSign (FunctionType 77). */
  sm2VerifyAttachSign(p7?: string): Promise<number>;
  /** GMSM2DecryptEnvelop (FunctionType 82). */
  gmsm2DecryptEnvelop(envelopeB64?: string): Promise<string>;
  /** GMSM2EncryptEnvelop (FunctionType 83). */
  gmsm2EncryptEnvelop(data?: string, recipientCert?: string): Promise<string>;
  /** CheckUkey (FunctionType 92). */
  checkUkey(tokenSel?: string, certSel?: string): Promise<number>;
  /** GMSM2VerifySign (FunctionType 94). */
  gmsm2VerifySign(data?: string, signature?: string, cert?: string): Promise<number>;
  /** GMSM2Sign (FunctionType 96). */
  gmsm2Sign(data?: string, cert?: string): Promise<string>;
  /** GetGMSealPicBase64FromDev (FunctionType 98). */
  getGMSealPicBase64FromDev(cert?: string): Promise<string>;
  /** GetUselist (FunctionType 99). */
  getUselist(): Promise<string>;
  /** GMSM2Signhash (FunctionType 100). */
  gmsm2Signhash(eB64?: string, cert?: string): Promise<string>;
  /** ULVO_ReadSealPicBase64FromKeyByCertSN (FunctionType 104). */
  ulvoReadSealPicBase64FromKeyByCertSN(certSerial?: string): Promise<string>;
  /** EncryptAesFile (FunctionType 113). */
  encryptAesFile(inPath?: string, outPath?: string, key?: string): Promise<number>;
  /** DecryptAesFile (FunctionType 118). */
  decryptAesFile(inPath?: string, outPath?: string, key?: string): Promise<number>;
  /** GMSM2SoftEncryptEnvelop (FunctionType 119). */
  gmsm2SoftEncryptEnvelop(data?: string, recipientCert?: string): Promise<string>;
  /** ZQTReadGMSealData (FunctionType 121). */
  zqtReadGMSealData(cert?: string): Promise<string>;
  /** GetKRVVersion (FunctionType 125). */
  getKRVVersion(): Promise<string>;
  /** CompareKRVVersion (FunctionType 126). */
  compareKRVVersion(version?: string): Promise<number>;
  /** NotifyKRVFlush (FunctionType 127). */
  notifyKRVFlush(reason?: string): Promise<number>;
  /** Signhash (FunctionType 128). */
  signhash(digestB64?: string, cert?: string): Promise<string>;
  /** FileEncrypt (FunctionType 129). */
  fileEncrypt(inPath?: string, outPath?: string, recipientCert?: string): Promise<string>;
  /** FileDecrypt (FunctionType 130). */
  fileDecrypt(inPath?: string, outPath?: string, cert?: string): Promise<number>;
  /** GetSealInfos (FunctionType 131). */
  getSealInfos(cert?: string): Promise<string>;
  /** ZQTCheckUkeyPin (FunctionType 132). */
  zqtCheckUkeyPin(tokenSel?: string, pin?: string): Promise<number>;
  /** ReadSealData (FunctionType 151). */
  readSealDataCompat(sealName?: string): Promise<string>;
  /** DESCbcEncryptEx (FunctionType 152). */
  desCbcEncryptEx(inPath?: string, outPath?: string, key?: string): Promise<number>;
  /** DESCbcDecryptEx (FunctionType 153). */
  desCbcDecryptEx(inPath?: string, outPath?: string, key?: string): Promise<number>;
  /** genSymmetrickey (FunctionType 154). */
  genSymmetrickey(): Promise<string>;
  /** GetUkeySerialNumberByCertSN (FunctionType 159). */
  getUkeySerialNumberByCertSN(certSerial?: string): Promise<string>;
  /** GetSealIndata (FunctionType 201). */
  getSealIndata(sealDataB64?: string): Promise<string>;
  /** GetSealData (FunctionType 202). */
  getSealData(sealDataB64?: string): Promise<string>;
  /** WriteSealData (FunctionType 203). */
  writeSealData(sealName?: string, sealData?: string): Promise<number>;
  /** WriteLicenceData (FunctionType 204). */
  writeLicenceData(name?: string, licenceData?: string): Promise<number>;
  /** ReadLicenceData (FunctionType 205). */
  readLicenceData(name?: string): Promise<string>;
  /** ReadSealData (FunctionType 206). */
  readSealData(sealName?: string): Promise<string>;
  /** WriteSealByType (FunctionType 207). */
  writeSealByType(sealName: string, sealData: string, sealType: number): Promise<number>;
  /** ReadSealByType (FunctionType 208). */
  readSealByType(sealName: string, sealType: number): Promise<string>;
  /** ZQT_Initialize (FunctionType 301). */
  zqtInitialize(): Promise<number>;
  /** ZQT_InitDevNameList (FunctionType 302). */
  zqtInitDevNameList(): Promise<number>;
  /** ZQT_GetFirstDevName (FunctionType 303). */
  zqtGetFirstDevName(): Promise<string>;
  /** ZQT_SetUSBKeyType (FunctionType 304). */
  zqtSetUSBKeyType(keyType?: string, provider?: string, container?: string): Promise<number>;
  /** ZQT_CreateP10 (FunctionType 305). */
  zqtCreateP10(): Promise<string>;
  /** ZQT_CreatedoubleP10 (FunctionType 306). */
  zqtCreatedoubleP10(): Promise<string>;
  /** ZQT_InstallSignCertAndEnCert (FunctionType 307). */
  zqtInstallSignCertAndEnCert(signCertB64?: string, encCertB64?: string, encKeyB64?: string): Promise<number>;
  /** ZQT_GetLastErrCode (FunctionType 308). */
  zqtGetLastErrCode(): Promise<number>;
  /** ZQT_GetLastErrMsg (FunctionType 309). */
  zqtGetLastErrMsg(): Promise<string>;
  /** ZQT_SetUSBKeyTypeEx (FunctionType 310). */
  zqtSetUSBKeyTypeEx(keyType?: string, provider?: string): Promise<number>;
  /** ZQT_GetDevInfoList (FunctionType 311). */
  zqtGetDevInfoList(): Promise<string>;
  /** ZQT_InstallSeal (FunctionType 312). */
  zqtInstallSeal(sealName?: string, sealData?: string): Promise<number>;
  /** ZQT_GetDevInfoListEx (FunctionType 313). */
  zqtGetDevInfoListEx(): Promise<string>;
  /** GetCertAndSeallist (FunctionType 401). */
  getCertAndSeallist(): Promise<string>;
  /** GetUseMac (FunctionType 402). */
  getUseMac(): Promise<string>;
  /** GetCertAndSeallistXEPA (FunctionType 4011). */
  getCertAndSeallistXEPA(): Promise<string>;
}
