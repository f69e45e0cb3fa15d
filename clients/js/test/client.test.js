import { test } from "node:test";
import assert from "node:assert/strict";
import { ZqtcaClient } from "../src/client.js";
import { COMMANDS } from "../src/catalogue.js";
import { ChainError, CommandError, RequestFormatError, ServiceUnavailableError } from "../src/errors.js";
import { FakeSocket, fakeFetch, interpret, refusedFetch } from "./fakes.js";

function fetchClient(results, extra = {}) {
  const fetch = fakeFetch((text) => interpret(text, results));
  const client = new ZqtcaClient({ transport: "fetch", fetch, callbackName: "cb", ...extra });
  return { client, fetch, sent: () => fetch.calls.map((c) => JSON.parse(c.init.body).ServeltData) };
}

test("named methods send their command with the parameters in order", async () => {
  const { client, sent } = fetchClient({
    5: { result: "0", ok: true },
    10: (p) => ({ result: `sig(${p[0]})`, ok: true }),
    11: { result: "0", ok: true },
    3: { result: '{"subject":"CN=x"}', ok: true },
  });
  assert.equal(await client.setCert("", "", "zqtca demo RSA"), 0);
  assert.equal(await client.sign("hello", ""), "sig(hello)");
  assert.equal(await client.verifySign("hello", "c2ln", "0A1B"), 0);
  assert.deepEqual(await client.certificateInfo(), { subject: "CN=x" });
  assert.deepEqual(sent(), [
    "ProcessNum{1}ProcessEntity-1{FunctionType[5]Param1[]Param2[]Param3[zqtca demo RSA]Param4[]Param5[]Param6[]}ProcessCallBackName{cb}",
    "ProcessNum{2}ProcessEntity-1{FunctionType[10]Param1[hello]Param2[]FalseNext[2]}ProcessEntity-2{FunctionType[31]}ProcessCallBackName{cb}",
    "ProcessNum{1}ProcessEntity-1{FunctionType[11]Param1[hello]Param2[c2ln]Param3[0A1B]}ProcessCallBackName{cb}",
    "ProcessNum{2}ProcessEntity-1{FunctionType[3]Param1[16]Param2[]FalseNext[2]}ProcessEntity-2{FunctionType[31]}ProcessCallBackName{cb}",
  ]);
});

test("every command of the table is a method that sends its own FunctionType", async () => {
  const results = Object.fromEntries(COMMANDS.map((c) => [c.type, { result: c.result === "text" ? "t" : "0", ok: true }]));
  const { client, sent } = fetchClient(results);
  for (const c of COMMANDS) {
    const args = c.params.map((p) => (p.kind === "number" || p.kind === "unsigned" ? 7 : p.kind === "base64" ? "QUJD" : "v"));
    const value = await client[c.method](...args);
    assert.equal(value, c.result === "text" ? "t" : 0, c.method);
    const text = sent().at(-1);
    assert.ok(text.startsWith(`ProcessNum{${c.result === "text" && c.control !== "list" ? 2 : 1}}ProcessEntity-1{FunctionType[${c.type}]`), text);
    const params = [...text.matchAll(/Param(\d)\[([^\]]*)\]/g)].map((m) => m[2]);
    assert.deepEqual(params, args.map(String), c.method);
  }
});

test("failures come back as CommandError with the code in plain words", async () => {
  const cases = [
    // A text command fails: the error code query that follows tells why.
    ["sign", ["hello", ""], { 10: { result: "", ok: false }, 31: { result: "-6", ok: false } }, -6, /PIN entry was cancelled or timed out/],
    ["verifySign", ["hello", "c2ln", ""], { 11: { result: "-11", ok: false } }, -11, /signature is invalid/],
    ["setCert", ["", "", "nobody"], { 5: { result: "-4", ok: false } }, -4, /no matching certificate/],
    ["zqtGetFirstDevName", [], { 303: { result: "", ok: false }, 308: { result: "-5", ok: false } }, -5, /no USB key/],
    ["getCertAndSeallist", [], { 401: { result: "", ok: false } }, undefined, /gave no result/],
    ["sign", ["x", ""], { 10: { result: "-1", ok: false }, 31: { result: "-1", ok: false } }, -1, /could not call the signing module/],
  ];
  for (const [method, args, results, code, words] of cases) {
    const { client } = fetchClient(results);
    await assert.rejects(client[method](...args), (e) => {
      assert.ok(e instanceof CommandError, `${method}: ${e}`);
      assert.equal(e.result, code, method);
      assert.match(e.message, words);
      return true;
    });
  }
});

test("code queries and positive numbers are answers, not failures", async () => {
  const { client } = fetchClient({ 31: { result: "-7", ok: false }, 126: { result: "1", ok: false } });
  assert.equal(await client.getErrorCode(), -7);
  assert.equal(await client.compareKRVVersion("9.9"), 1);
});

test("parameters are checked before anything is sent", async () => {
  const { client, fetch } = fetchClient({});
  const cases = [
    () => client.sign("a]b", ""),
    () => client.sign("hello", "", "extra"),
    () => client.getCertInfo("16", ""),
    () => client.getCertInfo(undefined, ""),
    () => client.genRandom(2 ** 31),
    () => client.getSealIndata("not base64!"),
    () => client.sign(5, ""),
    () => client.call("noSuchMethod"),
  ];
  for (const fn of cases) await assert.rejects(fn(), RequestFormatError);
  assert.equal(fetch.calls.length, 0);
});

test("run gives the last step's result and reports where a chain failed", async () => {
  const { client } = fetchClient({ 5: { result: "0", ok: true }, 10: { result: "SIG", ok: true } });
  const out = await client.run([
    { type: 5, params: ["", "", "RSA"], trueNext: 2 },
    { type: 10, params: ["hello", ""] },
  ]);
  assert.deepEqual(out, { functionType: 10, result: "SIG", callback: "cb", steps: [2] });
  await assert.rejects(
    client.run([{ type: 5, trueNext: 2 }, { type: 54 }]),
    (e) => e instanceof ChainError && e.step === 2,
  );
});

test("fetch posts JSON with ServeltData to the port of the page's scheme", async () => {
  const cases = [
    [{}, undefined, "http://127.0.0.1:9651/"],
    [{}, { protocol: "https:" }, "https://127.0.0.1:9652/"],
    [{}, { protocol: "file:" }, "http://127.0.0.1:9651/"],
    [{ secure: true }, { protocol: "http:" }, "https://127.0.0.1:9652/"],
    [{ secure: false }, { protocol: "https:" }, "http://127.0.0.1:9651/"],
    [{ host: "localhost", plainPort: 19651 }, undefined, "http://localhost:19651/"],
  ];
  for (const [options, location, url] of cases) {
    const { client, fetch } = fetchClient({ 31: { result: "0", ok: true } }, { ...options, location });
    await client.getErrorCode();
    assert.equal(fetch.calls[0].url, url);
    assert.equal(fetch.calls[0].init.method, "POST");
    assert.deepEqual(Object.keys(JSON.parse(fetch.calls[0].init.body)), ["ServeltData"]);
  }
});

test("a stopped service is reported as ServiceUnavailableError on each transport", async () => {
  FakeSocket.reset("refuse");
  const cases = [
    { transport: "fetch", fetch: refusedFetch },
    { transport: "websocket", WebSocket: FakeSocket },
    { transport: "auto", WebSocket: FakeSocket, fetch: refusedFetch },
  ];
  for (const options of cases) {
    const client = new ZqtcaClient(options);
    await assert.rejects(client.getErrorCode(), (e) => {
      assert.ok(e instanceof ServiceUnavailableError, `${options.transport}: ${e}`);
      assert.match(e.message, /start it \(or install it\)/);
      return true;
    });
    client.close();
  }
});

test("auto uses the WebSocket, and fetch when the socket cannot connect or the text is too long", async () => {
  FakeSocket.reset("open");
  FakeSocket.onSend = (socket, text) => queueMicrotask(() => socket.answer(interpret(text, { 31: { result: "0", ok: true } })));
  const fetch = fakeFetch((text) => interpret(text, { 10: { result: "S", ok: true }, 31: { result: "0", ok: true } }));
  const client = new ZqtcaClient({ WebSocket: FakeSocket, fetch });
  assert.equal(await client.getErrorCode(), 0);
  assert.equal(client.lastTransport, "websocket");
  assert.equal(fetch.calls.length, 0);
  assert.equal(await client.sign("x".repeat(30000), ""), "S");
  assert.equal(client.lastTransport, "fetch");
  client.close();

  FakeSocket.reset("refuse");
  const fallback = new ZqtcaClient({ WebSocket: FakeSocket, fetch });
  assert.equal(await fallback.getErrorCode(), 0);
  assert.equal(fallback.lastTransport, "fetch");
  fallback.close();
});

test("an answer to another callback name is refused", async () => {
  const fetch = fakeFetch(() => "FunctionType[31]FunctionRes[0]ProcessCallBackName[someone]");
  const client = new ZqtcaClient({ transport: "fetch", fetch });
  await assert.rejects(client.getErrorCode(), { code: "ANSWER_FORMAT" });
});

test("the global fetch is called with the global object as this", async () => {
  const saved = globalThis.fetch;
  let self;
  globalThis.fetch = async function (url, init) {
    self = this;
    return { ok: true, status: 200, text: async () => interpret(JSON.parse(init.body).ServeltData, { 31: { result: "0", ok: true } }) };
  };
  try {
    const client = new ZqtcaClient({ transport: "fetch" });
    assert.equal(await client.getErrorCode(), 0);
    assert.equal(self, globalThis);
  } finally {
    globalThis.fetch = saved;
  }
});
