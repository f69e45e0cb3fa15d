// Builds request texts: ProcessNum{N}ProcessEntity-1{...}...ProcessCallBackName{...}.
//
// The format has no escapes: a step body ends at the first "}", a bracket
// value at the first "]", a NUL hides the rest, and the service finds an item
// by its key wherever it stands, inside another value too. So a value holding
// any of these would change the request; such a value is refused here with a
// RequestFormatError, before anything is sent.

import { RequestFormatError } from "./errors.js";

const STEP_KEY_IN_VALUE = /(FunctionType|Param[1-7]|TrueNext|FalseNext)\[/;
const REQUEST_KEY_IN_VALUE = /(ProcessNum|ProcessEntity-[0-9]*|ProcessCallBackName)\{/;
const MAX_PARAMS = 7;
const INT32_MIN = -2147483648;
const INT32_MAX = 2147483647;

/** Why a text cannot stand as a value, or null when it can. */
function unsafeReason(text, closing) {
  if (text.includes("\0")) return "it holds a NUL character, which would hide the rest of the request";
  if (text.includes("}")) return 'it holds "}", which would end its step early';
  if (closing === "]" && text.includes("]")) return 'it holds "]", which would end its item early';
  const stepKey = STEP_KEY_IN_VALUE.exec(text);
  if (stepKey) return `it holds "${stepKey[0]}", which the service would read as an item of its own`;
  const requestKey = REQUEST_KEY_IN_VALUE.exec(text);
  if (requestKey) return `it holds "${requestKey[0]}", which the service would read as an item of its own`;
  return null;
}

function checkInt32(value, where) {
  if (!Number.isInteger(value) || value < INT32_MIN || value > INT32_MAX) {
    throw new RequestFormatError(`${String(value)} is not a 32-bit integer`, where);
  }
  return String(value);
}

/** The text of one parameter value; numbers must be 32-bit integers. */
export function valueText(value, where) {
  let text;
  if (typeof value === "number") text = checkInt32(value, where);
  else if (typeof value === "string") text = value;
  else throw new RequestFormatError(`a parameter must be a string or a number, not ${value === null ? "null" : typeof value}`, where);
  const reason = unsafeReason(text, "]");
  if (reason) throw new RequestFormatError(`the value cannot be sent: ${reason}`, where);
  return text;
}

function nextStep(value, count, where) {
  if (value === undefined || value === null) return "";
  if (!Number.isInteger(value) || value < 0 || value > count) {
    throw new RequestFormatError(`must be a step number from 1 to ${count}, or 0 to end the chain`, where);
  }
  return `[${value}]`;
}

/**
 * A step body: FunctionType[t]Param1[..]...TrueNext[..]FalseNext[..].
 * `step` is { type, params: [...], trueNext, falseNext }; `count` bounds the
 * next-step numbers.
 */
export function buildStep(step, count, index = 1) {
  const where = `step ${index}`;
  if (step === null || typeof step !== "object") throw new RequestFormatError("a step must be an object", where);
  const type = step.type ?? step.functionType;
  if (!Number.isInteger(type) || type <= 0 || type > INT32_MAX) {
    throw new RequestFormatError("FunctionType must be a positive integer", where);
  }
  const params = step.params ?? [];
  if (!Array.isArray(params)) throw new RequestFormatError("params must be an array", where);
  if (params.length > MAX_PARAMS) throw new RequestFormatError(`a step takes at most ${MAX_PARAMS} parameters`, where);
  let body = `FunctionType[${type}]`;
  params.forEach((value, i) => {
    body += `Param${i + 1}[${valueText(value, `${where}, Param${i + 1}`)}]`;
  });
  const trueNext = nextStep(step.trueNext, count, `${where}, TrueNext`);
  const falseNext = nextStep(step.falseNext, count, `${where}, FalseNext`);
  if (trueNext) body += `TrueNext${trueNext}`;
  if (falseNext) body += `FalseNext${falseNext}`;
  return body;
}

/** Checks a callback name (a brace value that the answer echoes). */
export function checkCallbackName(name) {
  if (typeof name !== "string") throw new RequestFormatError("the callback name must be a string", "ProcessCallBackName");
  // The answer carries it as a bracket value, so "]" is refused too.
  const reason = unsafeReason(name, "]");
  if (reason) throw new RequestFormatError(`the callback name cannot be sent: ${reason}`, "ProcessCallBackName");
  return name;
}

/**
 * The request text of a chain. Steps are numbered from 1 in array order;
 * a step without trueNext/falseNext ends the chain there.
 */
export function buildRequest(steps, callbackName = "zqtca") {
  if (!Array.isArray(steps) || steps.length === 0) {
    throw new RequestFormatError("a request needs at least one step");
  }
  const callback = checkCallbackName(callbackName);
  let text = `ProcessNum{${steps.length}}`;
  steps.forEach((step, i) => {
    text += `ProcessEntity-${i + 1}{${buildStep(step, steps.length, i + 1)}}`;
  });
  return `${text}ProcessCallBackName{${callback}}`;
}
