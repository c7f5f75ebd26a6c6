# SPDX-License-Identifier: GPL-3.0-or-later
# The outside judge of the decimal stack: computes, with Python's decimal module, the expected
# result of every case that decimal_judge_test.cpp generates. One case per input line (fields
# separated by tabs), one expected result per output line, in the same order.
#
# The accumulator's own rules are written out here, apart from the module's arithmetic:
#   - a value holds 32 integer and 32 fractional digits: digits below 10^-32 are cut (towards zero)
#     and integer digits above the 32nd are lost (the magnitude is taken modulo 10^32);
#   - products are exact, then cut and wrapped as above;
#   - quotients are rounded half away from zero (ROUND_HALF_UP) to 31 places; a zero divisor gives 0;
#   - ROUND(value, step) rounds half away from zero at the step's leading digit (step 0: 0 places);
#   - a pop to DECIMAL(n, p) / PDECIMAL(n, p) rounds half away from zero to p places and stores the
#     digits modulo 10^(d - p), d = 2 * (n // 2 + 1) - 1; a value that stores as zero is positive;
#   - text is read as: blanks, "-", digits, "." and fraction digits, and only after a "." an
#     exponent "e[-]digits" whose digits are accumulated modulo 256; the first other character ends
#     the number; the digits are cut to the accumulator before the exponent is applied;
#   - a real becomes its exact binary value rounded half away from zero to 15 significant digits;
#   - DPopLong is the integer part (towards zero) modulo 2^32, read as signed.
#
# Operands that the test pushes from DECIMAL and PDECIMAL images arrive as the text of the value
# the image holds; a minus sign on a zero image reads as zero.
#
# Division is carried out with 300 significant digits before the final rounding to 31 places. That
# first rounding cannot change the second: the quotient of two numbers of at most 64 digits never
# has a run of more than about 64 zeros or nines after its 32nd place unless it ends there.
import os
import struct
import sys
from decimal import ROUND_DOWN, ROUND_HALF_UP, Context, Decimal, localcontext

WIDE = Context(prec=400, Emax=999999, Emin=-999999, rounding=ROUND_HALF_UP)
LIMIT = Decimal(10) ** 32
ULP = Decimal(1).scaleb(-32)


def acc(x):
    """The value an accumulator holds for the exact value x."""
    with localcontext(WIDE):
        magnitude = abs(x).quantize(ULP, rounding=ROUND_DOWN) % LIMIT
        return -magnitude if x < 0 and magnitude != 0 else magnitude


def text(x):
    """The decimal stack's text of a value: no exponent, no trailing fraction zeros."""
    if x == 0:
        return "0"
    s = format(x, "f")
    if "." in s:
        s = s.rstrip("0").rstrip(".")
    return s


def leading_position(x):
    """Position (0..63) of the leading digit of an accumulator value; -1 for zero."""
    if x == 0:
        return -1
    return abs(x).adjusted() + 32


def round_places(x, places):
    with localcontext(WIDE):
        return acc(x.quantize(Decimal(1).scaleb(-places), rounding=ROUND_HALF_UP))


def divide(a, b):
    if b == 0:
        return Decimal(0)
    with localcontext(Context(prec=300, Emax=999999, Emin=-999999)):
        q = a / b
    return round_places(q, 31)


def image(x, n, p, packed):
    size = n // 2 + 1
    digits = 2 * size - 1
    with localcontext(WIDE):
        r = x.quantize(Decimal(1).scaleb(-p), rounding=ROUND_HALF_UP)
        m = int(abs(r).scaleb(p)) % (10**digits)
    negative = r < 0 and m != 0
    body = str(m).rjust(digits, "0")
    if packed:
        return body + ("D" if negative else "F")
    return ("F" if negative else "0") + body


def parse_text(s):
    i = 0
    while i < len(s) and s[i] == " ":
        i += 1
    negative = False
    if i < len(s) and s[i] == "-":
        negative = True
        i += 1
    start = i
    while i < len(s) and s[i].isdigit():
        i += 1
    integer = s[start:i][-32:] or "0"
    fraction = ""
    exponent = 0
    if i < len(s) and s[i] == ".":
        i += 1
        start = i
        while i < len(s) and s[i].isdigit():
            i += 1
        fraction = s[start:i][:32]
        if i < len(s) and s[i] in "eE":
            i += 1
            exponent_negative = False
            if i < len(s) and s[i] == "-":
                exponent_negative = True
                i += 1
            start = i
            while i < len(s) and s[i].isdigit():
                i += 1
            exponent = int(s[start:i] or "0") % 256
            if exponent_negative:
                exponent = -exponent
    with localcontext(WIDE):
        value = Decimal(integer + "." + (fraction or "0")).scaleb(exponent)
        value = acc(value)
        return -value if negative else value


def from_real(bits):
    real = struct.unpack("<d", bytes.fromhex(bits))[0]
    if real != real or real in (float("inf"), float("-inf")):
        return Decimal(0)
    fifteen = Context(prec=15, rounding=ROUND_HALF_UP, Emax=999999, Emin=-999999).plus(Decimal(real))
    return acc(fifteen)


def to_long(x):
    integer = int(x)  # towards zero
    return (integer + 2**31) % 2**32 - 2**31


def binary(op, a, b):
    with localcontext(WIDE):
        if op == "add":
            return acc(a + b)
        if op == "sub":
            return acc(a - b)
        if op == "mul":
            return acc(a * b)
        if op == "div":
            return divide(a, b)
        lead = leading_position(b)
        return round_places(a, 0 if lead < 0 else 32 - lead)


def evaluate(fields):
    op = fields[0]
    if op in ("add", "sub", "mul", "div", "round"):
        return text(binary(op, Decimal(fields[1]), Decimal(fields[2])))
    if op == "oppop":
        x = binary(fields[1], Decimal(fields[2]), Decimal(fields[3]))
        n, p = int(fields[4]), int(fields[5])
        return image(x, n, p, False) + " " + image(x, n, p, True)
    if op == "cmp":
        a, b = acc(Decimal(fields[1])), acc(Decimal(fields[2]))
        return str((a > b) - (a < b))
    if op == "pop":
        x, n, p = Decimal(fields[1]), int(fields[2]), int(fields[3])
        return image(x, n, p, False) + " " + image(x, n, p, True)
    if op == "text":
        return text(parse_text(fields[1]))
    if op == "real":
        return text(from_real(fields[1]))
    if op == "long":
        return str(to_long(Decimal(fields[1])))
    raise ValueError("unknown case " + op)


def main():
    source, destination = sys.argv[1], sys.argv[2]
    with open(source, encoding="ascii") as cases:
        results = [evaluate(line.rstrip("\n").split("\t")) for line in cases]
    descriptor = os.open(destination, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(descriptor, "w", encoding="ascii") as out:
        out.write("\n".join(results) + "\n")


if __name__ == "__main__":
    main()
