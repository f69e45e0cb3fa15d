// Sends request texts as HTTP POSTs: the body is {"ServeltData": text} and the
// answer body is the answer text. The body goes as text/plain, which a browser
// sends without a CORS preflight; the service reads the JSON whatever the type.

import { AnswerFormatError, ServiceUnavailableError, TimeoutError } from "./errors.js";

export class FetchTransport {
  /** options: url (required), timeout in ms, fetch (a fetch function, default the global one). */
  constructor({ url, timeout = 120000, fetch: fetchFn = globalThis.fetch } = {}) {
    if (typeof fetchFn !== "function") throw new TypeError("no fetch function is available");
    this.url = url;
    this.timeout = timeout;
    // A browser's fetch must be called on the window, not on this object.
    this.fetch = fetchFn === globalThis.fetch ? fetchFn.bind(globalThis) : fetchFn;
    this.kind = "fetch";
  }

  async send(text) {
    const controller = new AbortController();
    let timedOut = false;
    const timer = setTimeout(() => {
      timedOut = true;
      controller.abort();
    }, this.timeout);
    try {
      let response;
      try {
        response = await this.fetch(this.url, {
          method: "POST",
          headers: { "Content-Type": "text/plain;charset=UTF-8" },
          body: JSON.stringify({ ServeltData: text }),
          signal: controller.signal,
        });
      } catch (error) {
        if (timedOut) throw new TimeoutError(this.timeout);
        throw new ServiceUnavailableError(this.url, { cause: error });
      }
      let body;
      try {
        body = await response.text();
      } catch (error) {
        if (timedOut) throw new TimeoutError(this.timeout);
        throw new ServiceUnavailableError(this.url, { cause: error });
      }
      if (!response.ok) {
        throw new AnswerFormatError(`the service answered with HTTP status ${response.status}`, body);
      }
      return body;
    } finally {
      clearTimeout(timer);
    }
  }

  close() {}
}
