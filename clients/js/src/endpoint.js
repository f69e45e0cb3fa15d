// Where the service listens: plain HTTP/WebSocket on 9651, TLS on 9652, on
// loopback. The scheme follows the page's own unless an option says otherwise:
// an https page may only reach the TLS port.

export const PLAIN_PORT = 9651;
export const TLS_PORT = 9652;

/**
 * { http, ws, secure } base URLs. Options: secure (true/false; default from
 * the page's protocol, plain outside a browser), host (default 127.0.0.1),
 * plainPort, tlsPort; `location` is for tests.
 */
export function endpoints(options = {}, location = globalThis.location) {
  let secure = options.secure;
  if (secure === undefined || secure === "auto") {
    secure = Boolean(location && location.protocol === "https:");
  }
  const host = options.host ?? "127.0.0.1";
  const port = secure ? (options.tlsPort ?? TLS_PORT) : (options.plainPort ?? PLAIN_PORT);
  const authority = `${host.includes(":") ? `[${host}]` : host}:${port}`;
  return {
    secure,
    http: `${secure ? "https" : "http"}://${authority}/`,
    ws: `${secure ? "wss" : "ws"}://${authority}/`,
  };
}
