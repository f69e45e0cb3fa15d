// Drives Debian's Chromium through puppeteer-core against the real service:
// the demo page, served from another origin, signs and verifies over the
// WebSocket and fetch on the plain and the TLS port (the TLS certificate
// trusted in a scratch NSS database); openssl checks each signature; a
// cancelled PIN and a stopped service must show on the page in words.
//
//   ZQT_BUILD_DIR=build/h-js node test/browser/run.js
//
// Run it in a private network namespace: it refuses to start when 9651 or
// 9652 is already taken.

import { mkdirSync } from "node:fs";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { existsSync } from "node:fs";
import { PORTS, Service, opensslVerifies, portTaken, trustInNss } from "./service.js";
import { serveStatic } from "./static-server.js";

const PACKAGE = resolve(dirname(fileURLToPath(import.meta.url)), "..", "..");
const ROOT = resolve(PACKAGE, "..", "..");
const CHROMIUM = process.env.CHROMIUM ?? "/usr/bin/chromium";
const WAIT = 60000;

let passed = 0;
let failed = 0;
function check(name, ok, detail = "") {
  if (ok) {
    passed++;
    console.log(`ok - ${name}`);
  } else {
    failed++;
    console.log(`not ok - ${name}${detail ? `\n  # ${String(detail).replace(/\n/g, "\n  # ")}` : ""}`);
  }
}

function fail(message) {
  console.error(`browser test: ${message}`);
  process.exit(2);
}

async function preflight() {
  const buildDir = process.env.ZQT_BUILD_DIR;
  if (!buildDir) fail("set ZQT_BUILD_DIR to a build folder with bin/zqtca-service and lib/reference");
  const dir = resolve(ROOT, buildDir);
  if (!existsSync(join(dir, "bin", "zqtca-service"))) fail(`no ${join(dir, "bin", "zqtca-service")}: build zqtca-service first`);
  if (!existsSync(join(dir, "lib", "reference", "libulvoctrl.so"))) fail(`no reference module in ${join(dir, "lib", "reference")}: build zqt_reference_ulvoctrl`);
  if (!existsSync(CHROMIUM)) fail(`no Chromium at ${CHROMIUM} (Debian package chromium)`);
  for (const port of PORTS) {
    if (await portTaken(port)) {
      fail(`port ${port} is already taken by another program; run this test in a private network namespace (unshare -n) so that it never talks to another service`);
    }
  }
  return dir;
}

/** Clicks a button and waits for the page's own done mark. */
async function act(page, selector) {
  const before = await page.$eval("body", (b) => Number(b.dataset.seq));
  await page.click(selector);
  await page.waitForFunction(
    (seq) => document.body.dataset.state === "done" && Number(document.body.dataset.seq) > seq,
    { timeout: WAIT },
    before,
  );
  return page.evaluate(() => ({
    result: document.getElementById("result").textContent,
    error: document.getElementById("error").textContent,
    signature: document.getElementById("signature").textContent,
    certificate: document.getElementById("certificate").dataset.json ?? "",
    certificates: document.getElementById("certificates").textContent,
    endpoint: document.getElementById("endpoint").textContent,
  }));
}

async function open(page, origin, query) {
  await page.goto(`${origin}/demo/index.html?${new URLSearchParams(query)}`, { waitUntil: "load" });
  await page.waitForFunction(() => document.getElementById("endpoint").textContent !== "", { timeout: WAIT });
}

async function setText(page, text) {
  await page.$eval("#text", (el, value) => {
    el.value = value;
  }, text);
}

async function main() {
  const buildDir = await preflight();
  const { default: puppeteer } = await import("puppeteer-core");
  const service = new Service({ buildDir, root: ROOT });
  let browser;
  let site;
  try {
    service.prepare();
    await service.start();
    const home = join(service.scratch, "chromium-home");
    mkdirSync(home, { recursive: true });
    trustInNss(home, service.certPath);
    site = await serveStatic(PACKAGE);
    browser = await puppeteer.launch({
      executablePath: CHROMIUM,
      headless: true,
      userDataDir: join(service.scratch, "chromium-profile"),
      env: { ...process.env, HOME: home },
      args: [
        "--no-sandbox",
        "--disable-gpu",
        "--disable-quic",
        "--no-first-run",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
      ],
    });
    const page = await browser.newPage();

    const transports = [
      ["websocket", "plain", "ws://127.0.0.1:9651/"],
      ["websocket", "tls", "wss://127.0.0.1:9652/"],
      ["fetch", "plain", "http://127.0.0.1:9651/"],
      ["fetch", "tls", "https://127.0.0.1:9652/"],
    ];
    for (const [transport, secure, url] of transports) {
      const name = `${transport} on ${url}`;
      await open(page, site.origin, { transport, secure, subject: "zqtca demo RSA" });
      const chosen = await act(page, "#choose");
      let info = {};
      try {
        info = JSON.parse(chosen.certificate || "{}");
      } catch {}
      check(`${name}: the page shows the chosen certificate`, chosen.endpoint.includes(url) && info.cn === "zqtca demo RSA" && chosen.error === "", JSON.stringify(chosen));
      const text = `hello from ${transport} ${secure} — ünïcödé`;
      await setText(page, text);
      const signed = await act(page, "#sign");
      const scratch = service.scratch;
      const ok = signed.error === "" && signed.signature !== "" &&
        opensslVerifies({ text, signatureB64: signed.signature, certB64: info.cert ?? "", caPath: service.caPath, scratch });
      check(`${name}: openssl verifies the signature shown on the page`, ok, JSON.stringify(signed));
      check(`${name}: the answer came over ${transport}`, signed.result.includes(`via ${transport}`), signed.result);
      check(`${name}: openssl rejects it for other text`,
        !opensslVerifies({ text: `${text}!`, signatureB64: signed.signature, certB64: info.cert ?? "", caPath: service.caPath, scratch }));
      const verified = await act(page, "#verify");
      check(`${name}: the page verifies the signature`, verified.error === "" && /signature is valid/.test(verified.result), JSON.stringify(verified));
      await setText(page, `${text}!`);
      const wrong = await act(page, "#verify");
      check(`${name}: the page rejects it for other text, in words`, /does not fit this text/.test(wrong.error) && /-11/.test(wrong.error), JSON.stringify(wrong));
    }

    await open(page, site.origin, { subject: "zqtca demo RSA" });
    const listed = await act(page, "#list");
    check("listing shows the lists' answers or the chosen certificate", listed.error === "" &&
      (/Certificate and seal list|Certificates in use/.test(listed.certificates) ||
        (/list commands gave nothing/.test(listed.certificates) && JSON.parse(listed.certificate || "{}").cn === "zqtca demo RSA")),
      JSON.stringify(listed));

    service.setPinMode("cancel");
    await setText(page, "cancel me");
    const cancelled = await act(page, "#sign");
    check("a cancelled PIN shows -6 in words", /PIN entry was cancelled or timed out/.test(cancelled.error) && /-6/.test(cancelled.error) && cancelled.signature === "",
      JSON.stringify(cancelled));
    service.setPinMode("answer");

    const status = await service.stop();
    check("the service stops in order", status === 0, `exit status ${status}\n${service.stderr}`);
    for (const transport of ["websocket", "fetch", "auto"]) {
      await open(page, site.origin, { transport, secure: "plain" });
      const stopped = await act(page, "#sign");
      check(`${transport}: a stopped service is shown as not running`, /does not answer/.test(stopped.error) && /start it \(or install it\)/.test(stopped.error),
        JSON.stringify(stopped));
    }
  } finally {
    await browser?.close();
    await new Promise((r) => (site ? site.server.close(r) : r()));
    await service.stop();
    if (!process.env.ZQT_KEEP_SCRATCH) service.cleanup();
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 && passed > 0 ? 0 : 1);
}

main().catch((error) => {
  console.error(error);
  console.log(`${passed} passed, ${failed + 1} failed`);
  process.exit(1);
});
