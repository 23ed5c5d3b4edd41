"""The record file format of tarsel.cfg and the .tsl address books, for the end-to-end tests and the
screenshot script: a magic number, then records of little-endian length-prefixed fields, each record
ended by a zero length."""
import struct

MAGIC = b"\x0f\x10\xc0\xbe"


def records(data):
    """A record file's records, each a list of (key, value bytes)."""
    assert data[:4] == MAGIC, data[:4]
    result, fields, i = [], [], 4
    while i + 2 <= len(data):
        (length,) = struct.unpack_from("<H", data, i)
        i += 2
        if length == 0:
            result.append(fields)
            fields = []
            continue
        k = data[i]
        fields.append((data[i + 1:i + 1 + k].decode("latin-1"), data[i + 1 + k:i + length]))
        i += length
    return result


def encode(*records_):
    data = MAGIC
    for fields in records_:
        for key, value in fields:
            data += struct.pack("<HB", 1 + len(key) + len(value), len(key)) + key.encode() + value
        data += b"\0\0"
    return data


def addr(host, login, note=None, keep=False, pwd=None):
    fields = [("type", b"addr"), ("host", host.encode()), ("login", login.encode())]
    if note is not None:
        fields.append(("note", note.encode()))
    fields.append(("keep-pwd", b"\1" if keep else b"\0"))
    if keep and pwd is not None:
        fields.append(("pwd", pwd.encode()))
    return fields


def field(record, key):
    return next((value for k, value in record if k == key), None)


def integer(record, key):
    return struct.unpack("<i", field(record, key))[0]
