"""The service over WebSocket and secure WebSocket, driven by python3-websockets."""

import asyncio
import ssl
import unittest

import websockets

from harness import PLAIN_PORT, TLS_PORT, ServiceTestCase

VERIFY = "ProcessNum{1}ProcessEntity-1{FunctionType[11]}ProcessCallBackName{ws}"
ANSWER = "FunctionType[11]FunctionRes[0]ProcessCallBackName[ws]"


def run(coro):
    return asyncio.run(asyncio.wait_for(coro, timeout=20))


class WebSocketTest(ServiceTestCase):

    def connect(self, secure=False):
        if secure:
            ctx = ssl.create_default_context(cafile=self.service.cert_path)
            return websockets.connect(f"wss://127.0.0.1:{TLS_PORT}/", ssl=ctx,
                                      max_size=None, compression=None)
        return websockets.connect(f"ws://127.0.0.1:{PLAIN_PORT}/", max_size=None,
                                  compression=None)

    def test_text_and_binary_messages_are_answered_as_text(self):
        async def go():
            async with self.connect() as ws:
                await ws.send(VERIFY)
                first = await ws.recv()
                await ws.send(VERIFY.encode())
                second = await ws.recv()
                await ws.send("")
                third = await ws.recv()
                return first, second, third
        first, second, third = run(go())
        self.assertEqual(first, ANSWER)
        self.assertEqual(second, ANSWER)  # a str: the answer is a text frame
        self.assertEqual(third, "FunctionRes[-1]ProcessCallBackName[]")

    def test_message_size_bound(self):
        async def go(size):
            async with self.connect() as ws:
                pad = "x" * (size - len(VERIFY))
                await ws.send(VERIFY + pad)
                try:
                    return await ws.recv()
                except websockets.ConnectionClosed as closed:
                    return closed
        self.assertEqual(run(go(20479)), ANSWER)
        closed = run(go(20480))
        self.assertIsInstance(closed, websockets.ConnectionClosed)
        self.assertIsNone(closed.rcvd)  # no close frame from the service

    def test_ping_is_answered_with_its_payload(self):
        async def go():
            async with self.connect() as ws:
                for payload in (b"abc", b"", bytes(range(125))):
                    waiter = await ws.ping(payload)
                    await asyncio.wait_for(waiter, 5)
                await ws.send(VERIFY)
                return await ws.recv()
        self.assertEqual(run(go()), ANSWER)

    def test_close_gets_no_close_frame(self):
        async def go():
            ws = await self.connect()
            await ws.close()
            return ws
        ws = run(go())
        self.assertIsNone(ws.close_rcvd)

    def test_secure_websocket(self):
        async def go():
            async with self.connect(secure=True) as ws:
                await ws.send(VERIFY)
                return await ws.recv()
        self.assertEqual(run(go()), ANSWER)

    def test_opcodes_are_printed(self):
        async def go():
            async with self.connect() as ws:
                await ws.send(VERIFY)
                await ws.recv()
        run(go())
        self.assertTrue(self.service.wait_for_stdout("opcode: 0x1\r\n"), self.service.stdout())


if __name__ == "__main__":
    unittest.main()
