// The demo page: lists or chooses a certificate, signs text and verifies it,
// and says what happened in plain words. The page's body carries
// data-state ("busy" or "done") and data-seq (one more after each action).

import { ZqtcaClient } from "../src/index.js";

const $ = (id) => document.getElementById(id);
const params = new URLSearchParams(location.search);
if (params.has("transport")) $("transport").value = params.get("transport");
if (params.has("secure")) $("secure").value = params.get("secure");
if (params.has("subject")) $("subject").value = params.get("subject");

let client = null;

function connect() {
  client?.close();
  const secure = { plain: false, tls: true }[$("secure").value];
  client = new ZqtcaClient({ transport: $("transport").value, secure, timeout: 90000 });
  $("endpoint").textContent = `→ ${$("transport").value === "fetch" ? client.endpoint.http : client.endpoint.ws}`;
}
$("transport").addEventListener("change", connect);
$("secure").addEventListener("change", connect);
connect();

function say(text) {
  $("result").textContent = text;
}

function via() {
  return client.lastTransport ? ` (via ${client.lastTransport})` : "";
}

/** Runs one action; shows its error in words; marks the page done. */
async function action(fn) {
  document.body.dataset.state = "busy";
  $("error").textContent = "";
  say("");
  try {
    await fn();
  } catch (error) {
    $("error").textContent = error && error.message ? error.message : String(error);
    $("error").dataset.code = error?.code ?? "";
    $("error").dataset.result = error?.result ?? "";
  } finally {
    document.body.dataset.seq = String(Number(document.body.dataset.seq) + 1);
    document.body.dataset.state = "done";
  }
}

function showCertificate(info) {
  const list = $("certificate");
  list.textContent = "";
  const fields = [
    ["Subject", info.subject],
    ["Issuer", info.issuer],
    ["Common name", info.cn],
    ["Serial number", info.sn],
    ["Valid from", info.notBefore],
    ["Valid until", info.notAfter],
    ["Key", [info.keyAlgorithm, info.keyBits].filter(Boolean).join(" ")],
    ["Key usage", info.keyUsage],
    ["Token", info.tokenSerial],
  ];
  for (const [label, value] of fields) {
    if (value === undefined || value === "") continue;
    const dt = document.createElement("dt");
    dt.textContent = label;
    const dd = document.createElement("dd");
    dd.textContent = typeof value === "string" ? value : JSON.stringify(value);
    list.append(dt, dd);
  }
  list.dataset.json = JSON.stringify(info);
}

async function choose() {
  await client.setCert("", "", $("subject").value);
  showCertificate(await client.certificateInfo(""));
  say(`Certificate chosen${via()}.`);
}

$("choose").addEventListener("click", () => action(choose));

$("list").addEventListener("click", () =>
  action(async () => {
    const box = $("certificates");
    box.textContent = "";
    const answered = [];
    const notes = [];
    for (const [label, get] of [
      ["Certificate and seal list", () => client.getCertAndSeallist()],
      ["Certificates in use", () => client.getUselist()],
    ]) {
      try {
        answered.push([label, await get()]);
      } catch (error) {
        if (error.code !== "COMMAND_FAILED") throw error;
        notes.push(`${label}: ${error.message}`);
      }
    }
    for (const [label, text] of answered) {
      const pre = document.createElement("pre");
      pre.textContent = `${label}:\n${text}`;
      box.append(pre);
    }
    if (answered.length === 0) {
      const p = document.createElement("p");
      p.textContent = `The list commands gave nothing (${notes.join("; ")}). Showing the certificate the service chooses instead.`;
      box.append(p);
      await choose();
    } else {
      say(`Certificates listed${via()}.`);
    }
  }),
);

$("sign").addEventListener("click", () =>
  action(async () => {
    $("signature").textContent = "";
    const signature = await client.sign($("text").value, "");
    $("signature").textContent = signature;
    say(`Signed${via()}.`);
  }),
);

$("verify").addEventListener("click", () =>
  action(async () => {
    try {
      await client.verifySign($("text").value, $("signature").textContent, "");
      say(`The signature is valid${via()}.`);
    } catch (error) {
      if (error.code === "COMMAND_FAILED" && error.result === -11) {
        throw new Error("The signature does not fit this text (-11: the signature is invalid).");
      }
      throw error;
    }
  }),
);
