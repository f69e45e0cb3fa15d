// The built service in a scratch folder, with the reference module, a demo
// identity and a fake pinentry; and the checks the browser test needs
// around it (ports free, openssl, certutil).

import { spawn, execFileSync } from "node:child_process";
import { mkdirSync, mkdtempSync, writeFileSync, chmodSync, readFileSync, rmSync, existsSync } from "node:fs";
import { connect } from "node:net";
import { tmpdir } from "node:os";
import { join } from "node:path";

export const PORTS = [9651, 9652];

/** Whether something accepts connections on 127.0.0.1:port. */
export function portTaken(port) {
  return new Promise((resolve) => {
    const socket = connect({ host: "127.0.0.1", port });
    socket.once("connect", () => {
      socket.destroy();
      resolve(true);
    });
    socket.once("error", () => resolve(false));
  });
}

async function waitForPorts(ports, ms, alive) {
  const deadline = Date.now() + ms;
  while (Date.now() < deadline) {
    if (!alive()) return false;
    const taken = await Promise.all(ports.map(portTaken));
    if (taken.every(Boolean)) return true;
    await new Promise((r) => setTimeout(r, 50));
  }
  return false;
}

// Answers GETPIN with the password, or cancels as a user pressing Cancel
// would, as the file $mode says. The module starts it with a trimmed
// environment, so paths are written in and only shell built-ins are used.
const PINENTRY = `#!/bin/sh
mode_file='{mode}'
echo "OK Pleased to meet you"
while IFS= read -r line; do
  case "$line" in
    GETPIN*)
      read -r mode <"$mode_file"
      if [ "$mode" = cancel ]; then
        echo "ERR 83886179 Operation cancelled <Pinentry>"
      else
        printf 'D %s\\nOK\\n' '{password}'
      fi ;;
    BYE*) echo "OK closing connection"; exit 0 ;;
    *) echo "OK" ;;
  esac
done
`;

export class Service {
  constructor({ buildDir, root }) {
    this.buildDir = buildDir;
    this.root = root;
    this.scratch = mkdtempSync(join(tmpdir(), "zqt-js-"));
    this.binary = join(buildDir, "bin", "zqtca-service");
    this.work = join(this.scratch, "work");
    this.data = join(this.scratch, "data");
    this.config = join(this.scratch, "config");
    this.tmp = join(this.scratch, "tmp");
    for (const dir of [this.work, this.tmp]) mkdirSync(dir, { recursive: true });
    this.certDir = join(this.work, "ZQTService");
    this.modeFile = join(this.scratch, "pinentry-mode");
    this.proc = null;
  }

  get certPath() {
    return join(this.certDir, "ssl_crt.pem");
  }

  get caPath() {
    return join(this.config, "zqtca", "trust", "zqtca-demo-ca.pem");
  }

  /** Makes the identity, the pinentry and the TLS pair. */
  prepare() {
    const out = execFileSync(join(this.root, "scripts", "demo-identity"), [this.data, this.config], { encoding: "utf8" });
    const password = /password[^:]*:\s+([0-9a-f]{12})\s*$/m.exec(out);
    if (!password) throw new Error(`unexpected output of demo-identity:\n${out}`);
    this.password = password[1];
    this.pinentry = join(this.scratch, "fake-pinentry");
    writeFileSync(this.pinentry, PINENTRY.replace("{mode}", this.modeFile).replace("{password}", this.password));
    chmodSync(this.pinentry, 0o755);
    this.setPinMode("answer");
    mkdirSync(this.certDir, { recursive: true });
    execFileSync(this.binary, ["--make-cert", this.certDir], { stdio: "ignore" });
  }

  setPinMode(mode) {
    writeFileSync(this.modeFile, `${mode}\n`);
  }

  async start() {
    const env = {
      ...process.env,
      LD_LIBRARY_PATH: join(this.buildDir, "lib", "reference"),
      XDG_DATA_HOME: this.data,
      XDG_CONFIG_HOME: this.config,
      ZQT_PKCS11_MODULES: "",
      ZQT_PINENTRY: this.pinentry,
      TMPDIR: this.tmp,
    };
    delete env.DISPLAY;
    delete env.WAYLAND_DISPLAY;
    this.stderr = "";
    this.proc = spawn(this.binary, [], { cwd: this.work, env, stdio: ["ignore", "ignore", "pipe"] });
    this.proc.stderr.on("data", (d) => {
      this.stderr += d;
    });
    this.exited = new Promise((resolve) => this.proc.once("exit", (code, signal) => resolve({ code, signal })));
    const up = await waitForPorts(PORTS, 15000, () => this.proc.exitCode === null);
    if (!up) {
      await this.stop();
      throw new Error(`the service did not start listening:\n${this.stderr}`);
    }
  }

  /** SIGTERM, then the exit status (the service stops in order with 0). */
  async stop() {
    if (!this.proc) return null;
    const proc = this.proc;
    this.proc = null;
    if (proc.exitCode !== null || proc.signalCode !== null) return proc.exitCode;
    proc.kill("SIGTERM");
    const timer = setTimeout(() => proc.kill("SIGKILL"), 10000);
    const { code } = await this.exited;
    clearTimeout(timer);
    return code;
  }

  cleanup() {
    rmSync(this.scratch, { recursive: true, force: true });
  }
}

/** Runs openssl; { status, stdout }. */
export function openssl(args, input) {
  try {
    const stdout = execFileSync("openssl", args, { input, stdio: ["pipe", "pipe", "pipe"] });
    return { status: 0, stdout };
  } catch (error) {
    return { status: error.status ?? 1, stdout: error.stdout ?? Buffer.alloc(0), stderr: String(error.stderr ?? "") };
  }
}

/**
 * Whether openssl accepts `signatureB64` as an RSA-SHA256 signature of `text`
 * by the certificate `certB64` (Base64 DER), and that certificate chains to
 * the CA in `caPath`.
 */
export function opensslVerifies({ text, signatureB64, certB64, caPath, scratch }) {
  const pem = `-----BEGIN CERTIFICATE-----\n${certB64.match(/.{1,64}/g).join("\n")}\n-----END CERTIFICATE-----\n`;
  const chain = openssl(["verify", "-CAfile", caPath], pem);
  if (chain.status !== 0) return false;
  const key = openssl(["x509", "-noout", "-pubkey"], pem);
  const keyPath = join(scratch, "signer.pub.pem");
  const sigPath = join(scratch, "signature.bin");
  const msgPath = join(scratch, "message.bin");
  writeFileSync(keyPath, key.stdout);
  writeFileSync(sigPath, Buffer.from(signatureB64, "base64"));
  writeFileSync(msgPath, Buffer.from(text, "utf8"));
  const out = openssl(["dgst", "-sha256", "-verify", keyPath, "-signature", sigPath, msgPath]);
  return out.status === 0 && out.stdout.toString().trim() === "Verified OK";
}

/** An NSS database in home/.pki/nssdb that trusts the certificate as a server. */
export function trustInNss(home, certPath) {
  const db = join(home, ".pki", "nssdb");
  mkdirSync(db, { recursive: true });
  execFileSync("certutil", ["-N", "-d", `sql:${db}`, "--empty-password"], { stdio: "ignore" });
  execFileSync("certutil", ["-A", "-d", `sql:${db}`, "-n", "zqtca local service", "-t", "P,,", "-i", certPath], { stdio: "ignore" });
  return db;
}

export function readText(path) {
  return existsSync(path) ? readFileSync(path, "utf8") : "";
}
