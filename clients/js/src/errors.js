// The errors the client throws. Every one is a ZqtcaError with a `code`
// string that a page can switch on.

import { describeCode } from "./codes.js";

export class ZqtcaError extends Error {
  constructor(message, code, options) {
    super(message, options);
    this.name = new.target.name;
    this.code = code;
  }
}

/** A value the request format cannot carry; nothing was sent. */
export class RequestFormatError extends ZqtcaError {
  constructor(message, where) {
    super(where ? `${where}: ${message}` : message, "REQUEST_FORMAT");
    this.where = where;
  }
}

/** The service could not read the request at all ("FunctionRes[-1]" alone). */
export class RequestRejectedError extends ZqtcaError {
  constructor() {
    super("the service could not read the request (no usable step count)", "REQUEST_REJECTED");
  }
}

/** The chain stopped at a step for which no command could be made. */
export class ChainError extends ZqtcaError {
  constructor(step) {
    super(`the chain stopped at step ${step}: the service knows no command there ("FunctionNotSucessAt")`, "CHAIN_FAILED");
    this.step = step;
  }
}

/** An answer text that is not one of the service's answer shapes. */
export class AnswerFormatError extends ZqtcaError {
  constructor(message, answer) {
    super(message, "ANSWER_FORMAT");
    this.answer = answer;
  }
}

/** A command ran and failed; `result` is its numeric code when known. */
export class CommandError extends ZqtcaError {
  constructor(command, result) {
    const name = command ? command.stored : "the command";
    super(`${name} failed: ${describeCode(result)}${Number.isInteger(result) ? ` (${result})` : ""}`, "COMMAND_FAILED");
    this.command = command ? command.stored : undefined;
    this.functionType = command ? command.type : undefined;
    this.result = result;
  }
}

/** Nothing answers on the service's port. */
export class ServiceUnavailableError extends ZqtcaError {
  constructor(url, options) {
    super(
      `the signing service does not answer at ${url}: start it (or install it) and try again`,
      "SERVICE_UNAVAILABLE",
      options,
    );
    this.url = url;
  }
}

/** The service did not answer within the time-out. */
export class TimeoutError extends ZqtcaError {
  constructor(ms) {
    super(`the signing service did not answer within ${ms} ms`, "TIMEOUT");
    this.timeout = ms;
  }
}

/** The transport was closed by the page. */
export class ClosedError extends ZqtcaError {
  constructor() {
    super("the connection to the signing service was closed", "CLOSED");
  }
}
