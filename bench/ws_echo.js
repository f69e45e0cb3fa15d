// The WebSocket baseline: node's ws package echoing every message back.
// Usage: node ws_echo.js PORT
'use strict';
const { WebSocketServer } = require('ws');

const port = Number(process.argv[2] || 18090);
const server = new WebSocketServer({ host: '127.0.0.1', port, perMessageDeflate: false });
server.on('connection', (socket) => {
  socket.on('message', (data, isBinary) => socket.send(data, { binary: isBinary }));
});
server.on('listening', () => console.log(`ws echo listening on 127.0.0.1:${port}`));
process.on('SIGTERM', () => server.close(() => process.exit(0)));
