// One WebSocket session with the service. The service answers the messages of
// a connection in order and carries no request number, so this sends one
// request at a time and queues the rest. A request that times out closes the
// connection (a late answer must never be taken for the next request's), and
// a closed connection is opened again for the next request.

import { ClosedError, RequestFormatError, ServiceUnavailableError, TimeoutError, ZqtcaError } from "./errors.js";

/** The service reads at most this many bytes of one message. */
export const MAX_MESSAGE_BYTES = 20479;

export function utf8Length(text) {
  return new TextEncoder().encode(text).length;
}

export class WebSocketTransport {
  /**
   * options: url (required), timeout in ms per request, WebSocket (a
   * constructor, default the global one).
   */
  constructor({ url, timeout = 120000, WebSocket: Socket = globalThis.WebSocket } = {}) {
    if (typeof Socket !== "function") throw new TypeError("no WebSocket constructor is available");
    this.url = url;
    this.timeout = timeout;
    this.Socket = Socket;
    this.kind = "websocket";
    this.queue = [];
    this.current = null;
    this.socket = null;
    this.closed = false;
  }

  /** The answer text to one request text. */
  send(text) {
    if (this.closed) return Promise.reject(new ClosedError());
    if (utf8Length(text) > MAX_MESSAGE_BYTES) {
      return Promise.reject(
        new RequestFormatError(`the request is ${utf8Length(text)} bytes; a WebSocket message may hold at most ${MAX_MESSAGE_BYTES}`),
      );
    }
    return new Promise((resolve, reject) => {
      this.queue.push({ text, resolve, reject });
      this.pump();
    });
  }

  pump() {
    if (this.current || this.queue.length === 0 || this.closed) return;
    const job = this.queue.shift();
    this.current = job;
    job.timer = setTimeout(() => {
      this.finish(job, new TimeoutError(this.timeout));
      this.drop();
    }, this.timeout);
    this.open().then(
      (socket) => {
        if (this.current !== job) return;
        try {
          socket.send(job.text);
        } catch (error) {
          this.finish(job, new ZqtcaError("the request could not be sent to the signing service", "CONNECTION_LOST", { cause: error }));
          this.drop();
        }
      },
      (error) => this.finish(job, error),
    );
  }

  /** Settles the job in flight and starts the next one. */
  finish(job, error, answer) {
    if (this.current !== job) return;
    clearTimeout(job.timer);
    this.current = null;
    if (error) job.reject(error);
    else job.resolve(answer);
    queueMicrotask(() => this.pump());
  }

  /** An open socket: the current one, or a new one. */
  open() {
    if (this.socket && this.socket.readyState === 1) return Promise.resolve(this.socket);
    if (this.opening) return this.opening;
    this.opening = new Promise((resolve, reject) => {
      let socket;
      try {
        socket = new this.Socket(this.url);
      } catch (error) {
        this.opening = null;
        reject(new ServiceUnavailableError(this.url, { cause: error }));
        return;
      }
      let opened = false;
      socket.onopen = () => {
        opened = true;
        this.opening = null;
        if (this.closed) {
          socket.close();
          reject(new ClosedError());
          return;
        }
        this.socket = socket;
        resolve(socket);
      };
      socket.onmessage = (event) => {
        if (this.socket !== socket || !this.current) return;
        const data = event.data;
        if (typeof data !== "string") {
          this.finish(this.current, new ZqtcaError("the service answered with a binary message", "ANSWER_FORMAT"));
          this.drop();
          return;
        }
        this.finish(this.current, null, data);
      };
      socket.onerror = () => {};
      socket.onclose = () => {
        if (!opened) {
          this.opening = null;
          reject(new ServiceUnavailableError(this.url));
          return;
        }
        if (this.socket === socket) {
          this.socket = null;
          if (this.current) {
            this.finish(
              this.current,
              new ZqtcaError("the signing service closed the connection without answering", "CONNECTION_LOST"),
            );
          }
        }
      };
    });
    return this.opening;
  }

  /** Forgets the current socket and closes it. */
  drop() {
    const socket = this.socket;
    this.socket = null;
    if (socket) {
      try {
        socket.close();
      } catch {
        // already closing
      }
    }
  }

  /** Closes the session: every waiting request fails with ClosedError. */
  close() {
    this.closed = true;
    const waiting = this.current ? [this.current, ...this.queue] : [...this.queue];
    this.queue = [];
    if (this.current) clearTimeout(this.current.timer);
    this.current = null;
    for (const job of waiting) job.reject(new ClosedError());
    this.drop();
  }
}
