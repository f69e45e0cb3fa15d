// Fakes for the transports: a WebSocket the test drives by hand, a fetch
// that answers from a function, and a tiny request-text interpreter that
// answers the way the service does for the commands the tests use.

export class FakeSocket {
  static instances = [];
  static behaviour = "open"; // "open" opens at once, "refuse" closes before opening, "manual" waits

  constructor(url) {
    this.url = url;
    this.readyState = 0;
    this.sent = [];
    FakeSocket.instances.push(this);
    if (FakeSocket.behaviour === "open") queueMicrotask(() => this.open());
    if (FakeSocket.behaviour === "refuse") queueMicrotask(() => this.serverClose());
  }

  open() {
    this.readyState = 1;
    this.onopen?.({});
  }

  send(text) {
    if (this.readyState !== 1) throw new Error("not open");
    this.sent.push(text);
    FakeSocket.onSend?.(this, text);
  }

  answer(text) {
    this.onmessage?.({ data: text });
  }

  serverClose() {
    this.readyState = 3;
    this.onerror?.({});
    this.onclose?.({ code: 1006 });
  }

  close() {
    if (this.readyState === 3) return;
    this.closedByClient = true;
    this.readyState = 3;
    queueMicrotask(() => this.onclose?.({ code: 1000 }));
  }

  static reset(behaviour = "open") {
    FakeSocket.instances = [];
    FakeSocket.behaviour = behaviour;
    FakeSocket.onSend = null;
  }
}

/** A fetch that hands the ServeltData to `answer` and returns its text. */
export function fakeFetch(answer) {
  const calls = [];
  const fn = async (url, init) => {
    calls.push({ url, init });
    const text = JSON.parse(init.body).ServeltData;
    const reply = await answer(text, url, init);
    return { ok: true, status: 200, text: async () => reply };
  };
  fn.calls = calls;
  return fn;
}

/** A fetch that fails as a browser does when nothing listens. */
export async function refusedFetch() {
  throw new TypeError("Failed to fetch");
}

/**
 * Answers a request text like the service would, with `results` giving each
 * FunctionType's outcome: { result, ok } or a function of the step's params.
 */
export function interpret(text, results) {
  const brace = (key) => {
    const m = new RegExp(`${key}\\{([^}]*)\\}`).exec(text);
    return m ? m[1] : "";
  };
  const cb = brace("ProcessCallBackName");
  const count = Number(brace("ProcessNum"));
  let step = 1;
  let last = "";
  for (let ran = 0; ran < 100; ran++) {
    const body = brace(`ProcessEntity-${step}`);
    const item = (key) => {
      const m = new RegExp(`${key}\\[([^\\]]*)\\]`).exec(body);
      return m ? m[1] : "";
    };
    const type = Number(item("FunctionType"));
    const outcome = results[type];
    if (!outcome) return `FunctionRes[-1]FunctionNotSucessAt[${step}]ProcessCallBackName[${cb}]`;
    const params = [1, 2, 3, 4, 5, 6, 7].map((i) => item(`Param${i}`));
    const { result, ok } = typeof outcome === "function" ? outcome(params) : outcome;
    last = `FunctionType[${type === 151 ? 206 : type}]FunctionRes[${result}]`;
    const next = item(ok ? "TrueNext" : "FalseNext");
    if (!next || Number(next) < 1 || Number(next) > count) break;
    step = Number(next);
  }
  return `${last}ProcessCallBackName[${cb}]`;
}
