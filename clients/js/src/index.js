export { ZqtcaClient } from "./client.js";
export { COMMANDS, commandByMethod, commandByType } from "./catalogue.js";
export { buildRequest, buildStep } from "./request.js";
export { parseAnswer, readAnswer } from "./answer.js";
export { describeCode } from "./codes.js";
export { endpoints, PLAIN_PORT, TLS_PORT } from "./endpoint.js";
export { FetchTransport } from "./fetch-transport.js";
export { WebSocketTransport, MAX_MESSAGE_BYTES } from "./websocket-transport.js";
export {
  ZqtcaError,
  RequestFormatError,
  RequestRejectedError,
  ChainError,
  AnswerFormatError,
  CommandError,
  ServiceUnavailableError,
  TimeoutError,
  ClosedError,
} from "./errors.js";
