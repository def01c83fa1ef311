"""User slots of the gateway's data file, written the way the gateway reads
them, for tests that need settings the command line does not register (all
three settings sets of a user, for one)."""
import os

DATA_HEADER = 800
SLOT_SIZE = 4000


def xor_sum(data):
    x = 0
    for b in data:
        x ^= b
    return x or 0x78


def rolling(data, key, step):
    step = 0x55 if step == 0x80 else step
    out = bytearray()
    for b in data:
        out.append(b ^ key)
        key = (key + step) & 0xFF
    return bytes(out)


class SlotWriter:
    """Items go downwards from the slot's last byte, each directly below the
    previous one; a string's characters run downwards after its length."""

    def __init__(self, file_key):
        self.slot = bytearray(os.urandom(SLOT_SIZE))
        self.q = SLOT_SIZE - 1
        self.key = file_key
        self.step = 0x78

    def down(self, data):
        for b in data:
            self.slot[self.q] = b
            self.q -= 1

    def fixed_string(self, s):
        self.down(bytes([len(s)]) + bytes(b ^ self.key for b in s))

    def rolling_string(self, s, long_length=False):
        head = bytes([len(s) & 0xFF, len(s) >> 8]) if long_length else bytes([len(s)])
        self.down(head + rolling(s, self.key, self.step))

    def word16(self, v):
        self.down(bytes([v & 0xFF, v >> 8]))


def default_options(cc=False, bcc=False):
    options = bytearray(30)
    options[1], options[2], options[3], options[7], options[11] = 10, 80, 1, 1, 1
    options[4], options[5] = int(cc), int(bcc)
    return bytes(options)


def write_user_slot(data_file, position, sets, options):
    """sets: three dicts (id, password, name, mail_address, smtp_name,
    pop3_name of Shift_JIS bytes; port, or smtp_port and pop3_port; apop,
    security and smtp_auth bytes); an empty dict is an unused set."""
    with open(data_file, "r+b") as f:
        header = f.read(DATA_HEADER)
        writer = SlotWriter(xor_sum(header[:header[794]]))
        for s in sets:
            writer.fixed_string(s.get("id", b""))
            writer.step = xor_sum(s.get("id", b""))
            for field in ("password", "name", "mail_address", "smtp_name"):
                writer.rolling_string(s.get(field, b""))
            writer.word16(s.get("smtp_port", s.get("port", 0)))
            writer.rolling_string(s.get("pop3_name", b""))
            writer.word16(s.get("pop3_port", s.get("port", 0)))
            writer.rolling_string(b"", long_length=True)  # signature
            writer.rolling_string(b"")  # quotation
            writer.down(b"\0")  # no address book
            writer.rolling_string(b"")
            writer.rolling_string(b"")
            writer.down(bytes([s.get(k, 0) for k in ("apop", "security", "smtp_auth")]))
        writer.q -= 1
        for j, b in enumerate(rolling(options, writer.key, writer.step)):
            writer.slot[writer.q - j] = b
        f.seek(DATA_HEADER + SLOT_SIZE * position)
        f.write(writer.slot)
