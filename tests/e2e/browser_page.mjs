// Opens one page in headless Chromium through its DevTools protocol
// (puppeteer-core), waits for the page's own done mark, and prints the
// texts of the elements named, as JSON, on stdout.
//
//   node browser_page.mjs URL ID...
//
// CHROMIUM (default /usr/bin/chromium), ZQT_PUPPETEER_FROM (a package.json
// whose node_modules holds puppeteer-core; default clients/js's) and
// ZQT_BROWSER_PROFILE (a scratch profile folder) steer it.

import { createRequire } from "node:module";
import { dirname, resolve } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const from = process.env.ZQT_PUPPETEER_FROM ?? resolve(here, "..", "..", "clients", "js", "package.json");
const chromium = process.env.CHROMIUM ?? "/usr/bin/chromium";
const WAIT = 60000;

const [url, ...ids] = process.argv.slice(2);
if (!url || ids.length === 0) {
  console.error("usage: node browser_page.mjs URL ID...");
  process.exit(2);
}

let entry;
try {
  entry = createRequire(from).resolve("puppeteer-core");
} catch {
  console.error(`browser_page: no puppeteer-core beside ${from}; run: (cd ${dirname(from)} && PUPPETEER_SKIP_DOWNLOAD=1 npm ci)`);
  process.exit(3);
}
const { default: puppeteer } = await import(pathToFileURL(entry).href);

const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  userDataDir: process.env.ZQT_BROWSER_PROFILE,
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"],
});
let status = 0;
try {
  const page = await browser.newPage();
  await page.goto(url, { waitUntil: "load", timeout: WAIT });
  let timedOut = false;
  try {
    await page.waitForFunction(() => document.body?.dataset.state === "done", { timeout: WAIT });
  } catch {
    timedOut = true;  // the texts are still printed: they show what never came
    status = 1;
  }
  const texts = await page.evaluate(
    (names) => Object.fromEntries(names.map((n) => [n, document.getElementById(n)?.textContent ?? null])),
    ids);
  console.log(JSON.stringify({ timedOut, ...texts }));
} finally {
  await browser.close();
}
process.exit(status);
