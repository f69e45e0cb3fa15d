import { test } from "node:test";
import assert from "node:assert/strict";
import { buildRequest, buildStep } from "../src/request.js";
import { RequestFormatError } from "../src/errors.js";

test("request texts are built exactly", () => {
  const cases = [
    {
      steps: [{ type: 10, params: ["hello", ""] }],
      callback: "cb",
      text: "ProcessNum{1}ProcessEntity-1{FunctionType[10]Param1[hello]Param2[]}ProcessCallBackName{cb}",
    },
    {
      steps: [
        { type: 1, params: [0], trueNext: 2, falseNext: 0 },
        { type: 4, params: ["x", "y"] },
      ],
      callback: "onDone",
      text: "ProcessNum{2}ProcessEntity-1{FunctionType[1]Param1[0]TrueNext[2]FalseNext[0]}ProcessEntity-2{FunctionType[4]Param1[x]Param2[y]}ProcessCallBackName{onDone}",
    },
    {
      steps: [{ type: 31 }],
      callback: "",
      text: "ProcessNum{1}ProcessEntity-1{FunctionType[31]}ProcessCallBackName{}",
    },
    {
      steps: [{ type: 5, params: ["", "", "中文 [x {y", "a{b"], falseNext: 1 }],
      callback: "z",
      text: "ProcessNum{1}ProcessEntity-1{FunctionType[5]Param1[]Param2[]Param3[中文 [x {y]Param4[a{b]FalseNext[1]}ProcessCallBackName{z}",
    },
    {
      steps: [{ type: 3, params: [-16, "AB+/="] }],
      callback: "cb",
      text: "ProcessNum{1}ProcessEntity-1{FunctionType[3]Param1[-16]Param2[AB+/=]}ProcessCallBackName{cb}",
    },
  ];
  for (const { steps, callback, text } of cases) assert.equal(buildRequest(steps, callback), text);
});

test("values that would end or forge an item are refused, never cut", () => {
  const bad = [
    ["a]b", /"\]"/],
    ["a}b", /"\}"/],
    ["a\0b", /NUL/],
    ["xTrueNext[5", /TrueNext\[/],
    ["Param2[evil", /Param2\[/],
    ["FunctionType[11", /FunctionType\[/],
    ["ProcessEntity-2{", /ProcessEntity-2\{/],
    ["ProcessCallBackName{x", /ProcessCallBackName\{/],
  ];
  for (const [value, why] of bad) {
    assert.throws(() => buildRequest([{ type: 10, params: [value] }]), (e) => {
      assert.ok(e instanceof RequestFormatError, value);
      assert.equal(e.code, "REQUEST_FORMAT");
      assert.match(e.message, /step 1, Param1/);
      assert.match(e.message, why);
      return true;
    });
  }
});

test("malformed steps are refused", () => {
  const bad = [
    [[], /at least one step/],
    [[{ type: 0 }], /FunctionType/],
    [[{ type: 1.5 }], /FunctionType/],
    [[{ type: "10" }], /FunctionType/],
    [[{ type: 10, params: [1, 2, 3, 4, 5, 6, 7, 8] }], /at most 7/],
    [[{ type: 10, params: [2 ** 31] }], /32-bit/],
    [[{ type: 10, params: [null] }], /string or a number/],
    [[{ type: 10, params: [{}] }], /string or a number/],
    [[{ type: 10, trueNext: 2 }], /TrueNext: must be a step number from 1 to 1/],
    [[{ type: 10, falseNext: -1 }], /FalseNext/],
    [[null], /must be an object/],
  ];
  for (const [steps, why] of bad) {
    assert.throws(() => buildRequest(steps), (e) => e instanceof RequestFormatError && why.test(e.message), JSON.stringify(steps));
  }
});

test("callback names are checked", () => {
  for (const name of ["a}b", "a]b", 5]) {
    assert.throws(() => buildRequest([{ type: 31 }], name), RequestFormatError);
  }
  assert.equal(buildStep({ type: 43 }, 1), "FunctionType[43]");
});
