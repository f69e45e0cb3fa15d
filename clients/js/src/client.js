// The client: sends request texts over a WebSocket session or fetch, runs
// chains of steps, and offers every command of the table as a method.

import { COMMANDS, commandByMethod, commandByType } from "./catalogue.js";
import { buildRequest, checkCallbackName } from "./request.js";
import { numberResult, parseAnswer } from "./answer.js";
import { endpoints } from "./endpoint.js";
import { FetchTransport } from "./fetch-transport.js";
import { MAX_MESSAGE_BYTES, WebSocketTransport, utf8Length } from "./websocket-transport.js";
import { AnswerFormatError, CommandError, RequestFormatError, ServiceUnavailableError } from "./errors.js";

/** The query that tells the code of the last failed call, per control. */
const ERROR_CODE_QUERY = { main: 31, enrolment: 308 };
/** Commands whose number answer is a code to report, not a failure. */
const CODE_QUERIES = new Set([31, 308]);

function reportsOf(type) {
  return commandByType(type)?.reports ?? type;
}

function paramValue(command, param, value) {
  const where = `${command.method}: ${param.name}`;
  switch (param.kind) {
    case "number":
    case "unsigned":
      if (!Number.isInteger(value) || value > 2147483647 || value < (param.kind === "unsigned" ? 0 : -2147483648)) {
        throw new RequestFormatError(`must be ${param.kind === "unsigned" ? "a non-negative" : "a"} 32-bit integer, not ${String(value)}`, where);
      }
      return value;
    case "base64":
      if (value === undefined) return "";
      if (typeof value !== "string" || !/^[A-Za-z0-9+/]*={0,2}$/.test(value) || value.length % 4 !== 0) {
        throw new RequestFormatError("must be Base64 text", where);
      }
      return value;
    default:
      if (value === undefined || value === null) return "";
      if (typeof value !== "string") throw new RequestFormatError(`must be a string, not ${typeof value}`, where);
      return value;
  }
}

export class ZqtcaClient {
  /**
   * options:
   *   transport  "auto" (WebSocket, fetch when the socket cannot be used), "websocket" or "fetch"
   *   secure     true for https/wss on the TLS port; default: the page's own scheme
   *   host, plainPort, tlsPort   where the service listens (127.0.0.1, 9651, 9652)
   *   timeout    ms per request (default 120000: a PIN prompt may wait a minute)
   *   callbackName   echoed by the service (default "zqtca")
   *   WebSocket, fetch   constructors to use instead of the globals
   */
  constructor(options = {}) {
    this.options = { ...options };
    this.transportKind = options.transport ?? "auto";
    if (!["auto", "websocket", "fetch"].includes(this.transportKind)) {
      throw new TypeError(`unknown transport ${this.transportKind}`);
    }
    this.callbackName = checkCallbackName(options.callbackName ?? "zqtca");
    this.endpoint = endpoints(options, options.location ?? globalThis.location);
    const timeout = options.timeout ?? 120000;
    const Socket = options.WebSocket ?? globalThis.WebSocket;
    const fetchFn = options.fetch ?? globalThis.fetch;
    if (this.transportKind !== "fetch" && typeof Socket === "function") {
      this.socket = new WebSocketTransport({ url: this.endpoint.ws, timeout, WebSocket: Socket });
    }
    if (this.transportKind !== "websocket" && typeof fetchFn === "function") {
      this.http = new FetchTransport({ url: this.endpoint.http, timeout, fetch: fetchFn });
    }
    if (!this.socket && !this.http) throw new TypeError(`the ${this.transportKind} transport is not available here`);
    this.lastTransport = null;
  }

  /** Sends one request text; resolves with the answer text. */
  async send(text) {
    const useSocket = this.socket && (!this.http || utf8Length(text) <= MAX_MESSAGE_BYTES);
    if (useSocket) {
      try {
        const answer = await this.socket.send(text);
        this.lastTransport = "websocket";
        return answer;
      } catch (error) {
        if (!(this.http && error instanceof ServiceUnavailableError)) throw error;
      }
    }
    const answer = await this.http.send(text);
    this.lastTransport = "fetch";
    return answer;
  }

  /**
   * Runs a chain of steps ({ type, params, trueNext, falseNext }, numbered
   * from 1) and resolves with { functionType, result, callback, steps }.
   */
  async run(steps) {
    const text = buildRequest(steps, this.callbackName);
    const answer = await this.send(text);
    return parseAnswer(answer, { callbackName: this.callbackName, steps, reportsOf });
  }

  /**
   * Runs one command by FunctionType or method name. Resolves with its text,
   * or its number (0 or more); a failure is thrown as CommandError with the
   * command's code.
   */
  async call(typeOrMethod, ...args) {
    const command = typeof typeOrMethod === "number" ? commandByType(typeOrMethod) : commandByMethod(typeOrMethod);
    if (!command) throw new RequestFormatError(`no command ${String(typeOrMethod)}`);
    if (args.length > command.params.length) {
      throw new RequestFormatError(`takes ${command.params.length} parameter(s), not ${args.length}`, command.method);
    }
    const params = command.params.map((param, i) => paramValue(command, param, args[i]));
    const query = command.result === "text" ? ERROR_CODE_QUERY[command.control] : undefined;
    const steps = [{ type: command.type, params }];
    if (query) {
      steps[0].falseNext = 2;
      steps.push({ type: query });
    }
    const outcome = await this.run(steps);
    if (query && outcome.functionType === query) {
      throw new CommandError(command, numberResult(outcome.result) ?? undefined);
    }
    if (outcome.functionType !== command.reports) {
      throw new AnswerFormatError(`the answer reports FunctionType ${outcome.functionType}, not ${command.reports}`, outcome.result);
    }
    if (command.result === "text") {
      if (outcome.result === "") throw new CommandError(command, undefined);
      return outcome.result;
    }
    const code = numberResult(outcome.result);
    if (code === null) throw new AnswerFormatError(`${command.stored} answered "${outcome.result}", not a number`, outcome.result);
    if (code < 0 && !CODE_QUERIES.has(command.type)) throw new CommandError(command, code);
    return code;
  }

  /**
   * The certificate that `cert` names (empty: the chosen one) as the JSON
   * object GetCertInfo's item 16 gives.
   */
  async certificateInfo(cert = "") {
    const text = await this.getCertInfo(16, cert);
    try {
      return JSON.parse(text);
    } catch {
      throw new AnswerFormatError("GetCertInfo did not answer with JSON", text);
    }
  }

  /** Closes the WebSocket session; waiting requests fail with ClosedError. */
  close() {
    this.socket?.close();
    this.http?.close();
  }
}

for (const command of COMMANDS) {
  Object.defineProperty(ZqtcaClient.prototype, command.method, {
    value: function (...args) {
      return this.call(command.type, ...args);
    },
    writable: true,
    configurable: true,
  });
}
