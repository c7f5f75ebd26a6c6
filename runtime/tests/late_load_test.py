#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Loads libtarvex.so late, in a process that did not link it, as a script binding would
# (ctypes.CDLL opens it with dlopen), and runs string and decimal statements through the exported
# operations. Also checks that the library's static thread-local storage stays within the small
# reserve a late-loaded library can get, and that threads started before and after the first call
# into the runtime each get stacks of their own.
#
# usage: late_load_test.py path/to/libtarvex.so
import ctypes
import struct
import sys
import threading
import unittest

LIBRARY = sys.argv.pop(1) if len(sys.argv) > 1 else "libtarvex.so"
STATIC_TLS_BUDGET = 256


def tls_segment_size(path):
    """Memory size of the PT_TLS program header of a 64-bit little-endian ELF file (0 if none)."""
    with open(path, "rb") as f:
        image = f.read()
    assert image[:4] == b"\x7fELF" and image[4] == 2 and image[5] == 1, "not a 64-bit LE ELF file"
    phoff, = struct.unpack_from("<Q", image, 0x20)
    phentsize, phnum = struct.unpack_from("<HH", image, 0x36)
    for i in range(phnum):
        p_type, = struct.unpack_from("<I", image, phoff + i * phentsize)
        if p_type == 7:  # PT_TLS
            p_memsz, = struct.unpack_from("<Q", image, phoff + i * phentsize + 0x28)
            return p_memsz
    return 0


class Runtime:
    """The exported operations a test needs, with their C signatures."""

    def __init__(self, path):
        self.lib = ctypes.CDLL(path)
        c_char_p, c_uint32, c_int32 = ctypes.c_char_p, ctypes.c_uint32, ctypes.c_int32
        self.push_string = self.op("Vrn$PushString", None, ctypes.c_void_p, c_uint32)
        self.push_cstring = self.op("Vrn$PushCString", None, c_char_p)
        self.concat = self.op("Vrn$StackConcat", None)
        self.clip = self.op("Vrn$StackCLIP", None)
        self.pop_string = self.op("Vrn$PopString", None, ctypes.c_void_p, c_uint32)
        self.depth = self.op("Vrw$StackDepth", c_uint32)
        self.dpush_cstring = self.op("Vrn$DPushCString", None, c_char_p)
        self.dpush_long = self.op("Vrn$DPushLong", None, c_int32)
        self.dec_add = self.op("Vrn$DecAdd", None)
        self.dpop_long = self.op("Vrn$DPopLong", c_int32)
        self.dstack_to_stack = self.op("Vrn$DStack2Stack", None)
        self.ddepth = self.op("Vrw$DStackDepth", c_uint32)

    def op(self, name, result, *arguments):
        function = getattr(self.lib, name)
        function.restype = result
        function.argtypes = arguments
        return function

    def pop(self, size=40):
        """Pops the top string into a blank-padded field and returns it without the padding."""
        field = ctypes.create_string_buffer(size)
        self.pop_string(field, size)
        return field.raw.rstrip(b" ")


class LateLoad(unittest.TestCase):
    # One thread starts before anything is called in the runtime; it runs when a test lets it go.
    early_thread_go = threading.Event()
    early_thread_result = {}

    @classmethod
    def setUpClass(cls):
        cls.rt = Runtime(LIBRARY)

        def early():
            cls.early_thread_go.wait(10)
            cls.early_thread_result["stacks"] = own_stacks(cls.rt, b"early thread", 11)

        cls.early_thread = threading.Thread(target=early)
        cls.early_thread.start()

    def test_static_tls_within_budget(self):
        self.assertLess(tls_segment_size(LIBRARY), STATIC_TLS_BUDGET)

    def test_strings_and_decimals_from_a_late_load(self):
        rt = self.rt
        # dest = CLIP(a) & ', ' & b over STRING(20) fields, as compiled code computes it.
        a = ctypes.create_string_buffer(b"Smith".ljust(20), 20)
        b = ctypes.create_string_buffer(b"John Q".ljust(20), 20)
        rt.push_string(a, 20)
        rt.clip()
        rt.push_cstring(b", ")
        rt.concat()
        rt.push_string(b, 20)
        rt.concat()
        self.assertEqual(rt.depth(), 1)
        self.assertEqual(rt.pop(), b"Smith, John Q")
        self.assertEqual(rt.depth(), 0)
        # A result longer than an entry's inline buffer takes a heap block.
        rt.push_cstring(b"x" * 30)
        rt.push_cstring(b"y" * 30)
        rt.concat()
        self.assertEqual(rt.pop(80), b"x" * 30 + b"y" * 30)

        # Exact decimal sums, where binary floating point would not be exact.
        for left, right, total in [(b"0.1", b"0.2", b"0.3"),
                                   (b"123456789012345678.25", b"-0.75", b"123456789012345677.5"),
                                   (b"-5", b"5", b"0")]:
            rt.dpush_cstring(left)
            rt.dpush_cstring(right)
            rt.dec_add()
            rt.dstack_to_stack()
            self.assertEqual(rt.pop(), total, (left, right))
        rt.dpush_long(2147483600)
        rt.dpush_long(47)
        rt.dec_add()
        self.assertEqual(rt.dpop_long(), 2147483647)
        self.assertEqual(rt.ddepth(), 0)

    def test_threads_before_and_after_the_first_call_have_their_own_stacks(self):
        rt = self.rt
        # The main thread leaves a value on each stack while the other threads run.
        rt.push_cstring(b"main thread")
        rt.dpush_long(7)
        self.early_thread_go.set()
        late_result = {}
        late = threading.Thread(target=lambda: late_result.update(stacks=own_stacks(rt, b"late thread", 13)))
        late.start()
        late.join(10)
        self.early_thread.join(10)
        # Each found empty stacks, got back what it pushed and left its stacks empty.
        self.assertEqual(self.early_thread_result.get("stacks"), (0, 0, b"early thread", 11, 0, 0))
        self.assertEqual(late_result.get("stacks"), (0, 0, b"late thread", 13, 0, 0))
        self.assertEqual((rt.depth(), rt.ddepth()), (1, 1))
        self.assertEqual(rt.pop(), b"main thread")
        self.assertEqual(rt.dpop_long(), 7)


def own_stacks(rt, text, number):
    """On the calling thread: the depths found at start, the values pushed and popped back, and
    the depths left, as a tuple."""
    start = (rt.depth(), rt.ddepth())
    rt.push_cstring(text)
    rt.dpush_long(number)
    popped_number = rt.dpop_long()
    popped_text = rt.pop()
    return start + (popped_text, popped_number, rt.depth(), rt.ddepth())


if __name__ == "__main__":
    unittest.main(verbosity=2)
