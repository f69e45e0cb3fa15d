// Reads answer texts. The service answers in one of three shapes, each ending
// in ProcessCallBackName[<name>]:
//   FunctionRes[-1]                           the request had no usable step count
//   FunctionRes[-1]FunctionNotSucessAt[k]     no command could be made for step k
//   FunctionType[t]FunctionRes[<result>]      the chain ended after a step of command t
// Only the last step that ran is reported. Its result is not escaped and may
// hold "]", so the callback item is taken from the end.

import { AnswerFormatError, ChainError, RequestRejectedError } from "./errors.js";

const CALLBACK_KEY = "ProcessCallBackName[";
const REJECTED = /^FunctionRes\[-1\]$/;
const CHAIN_FAILED = /^FunctionRes\[-1\]FunctionNotSucessAt\[(\d+)\]$/;
const RAN = /^FunctionType\[(-?\d+)\]FunctionRes\[([\s\S]*)\]$/;

/**
 * Splits an answer into its shape. With `callbackName` given, the answer must
 * end in that callback item (so it answers this request).
 * Returns { kind: "rejected" | "chainFailed" | "ran", callback, step?, functionType?, result? }.
 */
export function readAnswer(text, callbackName) {
  if (typeof text !== "string") throw new AnswerFormatError("the answer is not text", text);
  let head;
  let callback;
  if (callbackName !== undefined) {
    const tail = `${CALLBACK_KEY}${callbackName}]`;
    if (!text.endsWith(tail)) {
      throw new AnswerFormatError(`the answer does not end in the callback item ${tail}`, text);
    }
    head = text.slice(0, text.length - tail.length);
    callback = callbackName;
  } else {
    const at = text.lastIndexOf(CALLBACK_KEY);
    if (at < 0 || !text.endsWith("]")) throw new AnswerFormatError("the answer has no callback item", text);
    head = text.slice(0, at);
    callback = text.slice(at + CALLBACK_KEY.length, -1);
  }
  if (REJECTED.test(head)) return { kind: "rejected", callback };
  const failed = CHAIN_FAILED.exec(head);
  if (failed) return { kind: "chainFailed", callback, step: Number(failed[1]) };
  const ran = RAN.exec(head);
  if (ran) return { kind: "ran", callback, functionType: Number(ran[1]), result: ran[2] };
  throw new AnswerFormatError("the answer is not in a form the service gives", text);
}

/**
 * The outcome of a chain: { functionType, result, callback, steps }, where
 * `steps` lists the numbers (from 1) of the request's steps that could have
 * given the answer (those whose command reports this FunctionType). A
 * request the service could not read, or a chain that stopped at an unknown
 * command, is thrown as RequestRejectedError or ChainError.
 */
export function parseAnswer(text, { callbackName, steps, reportsOf } = {}) {
  const answer = readAnswer(text, callbackName);
  if (answer.kind === "rejected") throw new RequestRejectedError();
  if (answer.kind === "chainFailed") throw new ChainError(answer.step);
  const candidates = [];
  (steps ?? []).forEach((step, i) => {
    const type = step.type ?? step.functionType;
    const reported = reportsOf ? reportsOf(type) : type;
    if (reported === answer.functionType) candidates.push(i + 1);
  });
  return { functionType: answer.functionType, result: answer.result, callback: answer.callback, steps: candidates };
}

/** A number result as an integer, or null when the text is not a decimal number. */
export function numberResult(result) {
  return /^-?\d+$/.test(result) ? Number(result) : null;
}
