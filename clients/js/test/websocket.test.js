import { test } from "node:test";
import assert from "node:assert/strict";
import { MAX_MESSAGE_BYTES, WebSocketTransport } from "../src/websocket-transport.js";
import { ClosedError, RequestFormatError, ServiceUnavailableError, TimeoutError } from "../src/errors.js";
import { FakeSocket } from "./fakes.js";

const tick = () => new Promise((r) => setImmediate(r));

function transport(options = {}) {
  return new WebSocketTransport({ url: "ws://127.0.0.1:9651/", WebSocket: FakeSocket, ...options });
}

test("one request at a time, answered in order", async () => {
  FakeSocket.reset("open");
  const t = transport();
  const a = t.send("A");
  const b = t.send("B");
  const c = t.send("C");
  await tick();
  const socket = FakeSocket.instances[0];
  assert.deepEqual(socket.sent, ["A"]);
  socket.answer("answer A");
  assert.equal(await a, "answer A");
  await tick();
  assert.deepEqual(socket.sent, ["A", "B"]);
  socket.answer("answer B");
  assert.equal(await b, "answer B");
  await tick();
  socket.answer("answer C");
  assert.equal(await c, "answer C");
  assert.equal(FakeSocket.instances.length, 1);
  t.close();
});

test("a time-out fails the request, drops the socket, and the next request uses a new one", async () => {
  FakeSocket.reset("open");
  const t = transport({ timeout: 20 });
  const slow = t.send("slow");
  const next = t.send("next");
  await assert.rejects(slow, TimeoutError);
  const first = FakeSocket.instances[0];
  assert.ok(first.closedByClient);
  first.answer("late answer of slow"); // must not be taken for "next"
  await tick();
  await tick();
  const second = FakeSocket.instances[1];
  assert.ok(second, "a new socket was opened");
  assert.deepEqual(second.sent, ["next"]);
  second.answer("answer next");
  assert.equal(await next, "answer next");
  t.close();
});

test("the service closing mid-request fails that request; the next reconnects", async () => {
  FakeSocket.reset("open");
  const t = transport();
  const a = t.send("A");
  await tick();
  FakeSocket.instances[0].serverClose();
  await assert.rejects(a, { code: "CONNECTION_LOST" });
  const b = t.send("B");
  await tick();
  assert.equal(FakeSocket.instances.length, 2);
  FakeSocket.instances[1].answer("answer B");
  assert.equal(await b, "answer B");
  t.close();
});

test("no service: ServiceUnavailableError for each waiting request", async () => {
  FakeSocket.reset("refuse");
  const t = transport();
  const results = await Promise.allSettled([t.send("A"), t.send("B")]);
  for (const r of results) assert.ok(r.reason instanceof ServiceUnavailableError, String(r.reason));
  assert.equal(FakeSocket.instances.length, 2);
});

test("close fails what waits and refuses what comes", async () => {
  FakeSocket.reset("manual");
  const t = transport();
  const a = t.send("A");
  const b = t.send("B");
  t.close();
  await assert.rejects(a, ClosedError);
  await assert.rejects(b, ClosedError);
  await assert.rejects(t.send("C"), ClosedError);
  FakeSocket.instances[0].open(); // a socket that opens after close is closed
  assert.ok(FakeSocket.instances[0].closedByClient);
});

test("messages the service would not read are refused before sending", async () => {
  FakeSocket.reset("open");
  const t = transport();
  // 20479 bytes are read; "é" is two bytes in UTF-8.
  await assert.rejects(t.send("é".repeat(10240)), RequestFormatError);
  const fits = t.send("x".repeat(MAX_MESSAGE_BYTES));
  await tick();
  assert.equal(FakeSocket.instances[0].sent[0].length, MAX_MESSAGE_BYTES);
  FakeSocket.instances[0].answer("ok");
  assert.equal(await fits, "ok");
  t.close();
});
