import { test } from "node:test";
import assert from "node:assert/strict";
import { numberResult, parseAnswer, readAnswer } from "../src/answer.js";
import { AnswerFormatError, ChainError, RequestRejectedError } from "../src/errors.js";

test("the three answer shapes", () => {
  const cases = [
    ["FunctionRes[-1]ProcessCallBackName[cb]", { kind: "rejected", callback: "cb" }],
    ["FunctionRes[-1]ProcessCallBackName[]", { kind: "rejected", callback: "" }],
    ["FunctionRes[-1]FunctionNotSucessAt[2]ProcessCallBackName[cb]", { kind: "chainFailed", callback: "cb", step: 2 }],
    ["FunctionType[4]FunctionRes[0]ProcessCallBackName[onDone]", { kind: "ran", callback: "onDone", functionType: 4, result: "0" }],
    ["FunctionType[10]FunctionRes[]ProcessCallBackName[cb]", { kind: "ran", callback: "cb", functionType: 10, result: "" }],
    // A result holding "]" and even a callback item is kept whole.
    ["FunctionType[3]FunctionRes[a]b]ProcessCallBackName[x]c]ProcessCallBackName[cb]",
      { kind: "ran", callback: "cb", functionType: 3, result: "a]b]ProcessCallBackName[x]c" }],
    ["FunctionType[3]FunctionRes[{\"k\":[1]}]ProcessCallBackName[cb]", { kind: "ran", callback: "cb", functionType: 3, result: '{"k":[1]}' }],
  ];
  for (const [text, expected] of cases) assert.deepEqual(readAnswer(text), expected, text);
  // Knowing the callback name changes nothing for well-formed answers.
  assert.deepEqual(readAnswer(cases[5][0], "cb"), cases[5][1]);
});

test("answers that are not of the service's shapes are refused", () => {
  const bad = [
    ["", undefined],
    ["hello", undefined],
    ["FunctionType[x]FunctionRes[0]ProcessCallBackName[cb]", undefined],
    ["FunctionRes[0]ProcessCallBackName[cb]", undefined],
    ["FunctionType[10]FunctionRes[0]ProcessCallBackName[other]", "cb"],
    ["FunctionType[10]FunctionRes[0ProcessCallBackName[cb]", "cb"],
  ];
  for (const [text, cb] of bad) assert.throws(() => readAnswer(text, cb), AnswerFormatError, text);
  assert.throws(() => readAnswer(42), AnswerFormatError);
});

test("parseAnswer throws the failed shapes as typed errors", () => {
  assert.throws(() => parseAnswer("FunctionRes[-1]ProcessCallBackName[cb]"), RequestRejectedError);
  assert.throws(
    () => parseAnswer("FunctionRes[-1]FunctionNotSucessAt[3]ProcessCallBackName[cb]", { callbackName: "cb" }),
    (e) => e instanceof ChainError && e.step === 3 && e.code === "CHAIN_FAILED" && /FunctionNotSucessAt/.test(e.message),
  );
});

test("parseAnswer tells which steps could have answered", () => {
  const steps = [{ type: 5 }, { type: 10 }, { type: 31 }, { type: 10 }, { type: 151 }];
  const reportsOf = (t) => (t === 151 ? 206 : t);
  const cases = [
    ["FunctionType[10]FunctionRes[sig]ProcessCallBackName[cb]", [2, 4], "sig"],
    ["FunctionType[31]FunctionRes[-6]ProcessCallBackName[cb]", [3], "-6"],
    ["FunctionType[206]FunctionRes[]ProcessCallBackName[cb]", [5], ""],
    ["FunctionType[99]FunctionRes[]ProcessCallBackName[cb]", [], ""],
  ];
  for (const [text, candidates, result] of cases) {
    const out = parseAnswer(text, { callbackName: "cb", steps, reportsOf });
    assert.deepEqual(out.steps, candidates, text);
    assert.equal(out.result, result);
    assert.equal(out.callback, "cb");
  }
});

test("number results", () => {
  const cases = [["0", 0], ["-6", -6], ["1", 1], ["", null], ["abc", null], ["1.5", null], [" 1", null]];
  for (const [text, value] of cases) assert.equal(numberResult(text), value, text);
});
