// The package's command table must agree row by row with the C++ tests' table
// (tests/functions/CatalogueRows.cpp), and the type declarations with both.

import { test } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { fileURLToPath } from "node:url";
import { COMMANDS, commandByMethod, commandByType } from "../src/catalogue.js";

const here = (p) => fileURLToPath(new URL(p, import.meta.url));
const ROWS_CPP = here("../../../tests/functions/CatalogueRows.cpp");
const DTS = here("../src/index.d.ts");

const TARGETS = { Main: "main", Enrol: "enrolment", "Target::CachedList": "list", "Target::CachedListXepa": "list" };
const ARGS = { T: "text", N: "number", "Arg::Unsigned": "unsigned", "Arg::Decoded": "base64", "Arg::FixedTwo": "fixed2" };

function cppRows() {
  const text = readFileSync(ROWS_CPP, "utf8");
  const row = /\{(\d+), (\d+), "(\w+)", ([\w:]+), (\d+), (Number|Text), \{([^}]*)\}\}/g;
  return [...text.matchAll(row)].map((m) => ({
    type: Number(m[1]),
    reports: Number(m[2]),
    name: m[3],
    control: TARGETS[m[4]],
    dispatch: Number(m[5]),
    result: m[6].toLowerCase(),
    args: m[7].split(",").map((a) => a.trim()).filter(Boolean).map((a) => ARGS[a] ?? `unknown ${a}`),
  }));
}

/** The control-call argument kinds a package row stands for. */
function packageArgs(command) {
  const args = command.params.map((p) => p.kind);
  for (const f of command.fixed) args.splice(f.position, 0, `fixed${f.value}`);
  return args;
}

test("the C++ table is found and read whole", () => {
  const rows = cppRows();
  const lines = readFileSync(ROWS_CPP, "utf8").split("\n").filter((l) => /^\s+\{\d+, \d+, "/.test(l));
  assert.equal(rows.length, lines.length);
  assert.ok(rows.length > 100);
});

test("every row agrees with the C++ table", () => {
  const rows = cppRows();
  assert.deepEqual(COMMANDS.map((c) => c.type), rows.map((r) => r.type));
  for (const [i, row] of rows.entries()) {
    const c = COMMANDS[i];
    assert.deepEqual(
      { type: c.type, reports: c.reports, name: c.name, control: c.control, dispatch: c.dispatch, result: c.result, args: packageArgs(c) },
      row,
      `row for FunctionType ${row.type}`,
    );
  }
});

test("stored names differ from the command names only where the service says so", () => {
  const differ = COMMANDS.filter((c) => c.stored !== c.name).map((c) => [c.type, c.stored]);
  assert.deepEqual(differ, [[152, "DESCbcEncryptEx"], [153, "DESCbcDecryptEx"], [154, "genSymmetrickey"], [402, "GetUseMac"]]);
});

test("method names are unique and every parameter has a name and a kind", () => {
  assert.equal(new Set(COMMANDS.map((c) => c.method)).size, COMMANDS.length);
  for (const c of COMMANDS) {
    assert.match(c.method, /^[a-z][A-Za-z0-9]*$/, c.stored);
    assert.ok(c.params.length <= 7, c.stored);
    assert.equal(new Set(c.params.map((p) => p.name)).size, c.params.length, c.stored);
    for (const p of c.params) assert.match(p.name, /^[a-z][A-Za-z0-9]*$/, c.stored);
  }
});

test("lookups by type and by method", () => {
  const cases = [
    [10, "sign", ["data", "cert"]],
    [11, "verifySign", ["data", "signatureB64", "cert"]],
    [5, "setCert", ["serial", "issuer", "subject", "usage", "algorithm", "sha1"]],
    [3, "getCertInfo", ["item", "cert"]],
    [151, "readSealDataCompat", ["sealName"]],
  ];
  for (const [type, method, names] of cases) {
    assert.equal(commandByType(type).method, method);
    assert.equal(commandByMethod(method).type, type);
    assert.deepEqual(commandByType(type).params.map((p) => p.name), names);
  }
  assert.equal(commandByType(54), undefined);
  assert.equal(commandByType(151).reports, 206);
});

test("the type declarations declare every method with its parameters", () => {
  const dts = readFileSync(DTS, "utf8");
  for (const c of COMMANDS) {
    const m = new RegExp(`\\n  ${c.method}\\(([^)]*)\\): Promise<(string|number)>;`).exec(dts);
    assert.ok(m, `${c.method} is declared`);
    const names = m[1] ? m[1].split(", ").map((a) => a.split(/\??:/)[0]) : [];
    assert.deepEqual(names, c.params.map((p) => p.name), c.method);
    assert.equal(m[2], c.result === "text" ? "string" : "number", c.method);
  }
});
