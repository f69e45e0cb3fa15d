// Plain-words meanings of the result codes that commands answer.

const MEANINGS = new Map([
  [0, "success"],
  [-1, "the service could not call the signing module (no module installed, or a command it does not know)"],
  [-2, "a parameter is missing or malformed"],
  [-3, "this operation is not supported by the installed signing module"],
  [-4, "no matching certificate was found, or a parameter names several"],
  [-5, "no USB key or token is present"],
  [-6, "the PIN entry was cancelled or timed out"],
  [-7, "the PIN or password is incorrect"],
  [-8, "the PIN is locked"],
  [-9, "the certificate has no private key"],
  [-10, "the key type does not fit this operation"],
  [-11, "the signature is invalid"],
  [-12, "the certificate is not trusted"],
  [-13, "the certificate has expired or is not yet valid"],
  [-14, "decryption failed: this key is not a recipient"],
  [-15, "the input is malformed (Base64, DER or PKCS#12)"],
  [-16, "a file error occurred"],
  [-17, "refused by policy"],
  [-18, "state error (an operation was called out of order)"],
  [-19, "the token reported an error"],
  [-20, "the signing module had an internal error"],
]);

/** The meaning of a result code in plain words. */
export function describeCode(code) {
  const meaning = MEANINGS.get(code);
  if (meaning !== undefined) return meaning;
  return Number.isInteger(code) ? `unknown error code ${code}` : "the command gave no result";
}
