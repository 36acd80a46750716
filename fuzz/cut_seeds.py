#!/usr/bin/env python3
"""Cuts seed inputs for the in-process fuzz targets out of real database files.

    fuzz/cut_seeds.py OUTPUT_DIR DATABASE...

Writes OUTPUT_DIR/<target>/<name>: table definitions with their usage and free-space map pages,
data pages (those with deleted or overflow rows first), catalogue data pages, property blocks,
long values over real data pages, and whole small databases. Input formats are described in
fuzz/FuzzSupport.h and in each target. Files whose pages are encrypted or encoded are skipped (the
page types would be noise); so are files that are not Jet or ACE databases.
"""

import os
import struct
import sys

# Offsets of libmdb's format constants (see FuzzSupport.h).
LAYOUTS = {
    True: dict(page=2048, rows=0x08, usage=35, free=39),   # Jet 3
    False: dict(page=4096, rows=0x0C, usage=55, free=59),  # Jet 4 and ACE
}
PER_FILE = 6
WHOLE_IMAGE_LIMIT = 256 * 1024


def u16(b, pos):
    return struct.unpack_from('<H', b, pos)[0]


def u32(b, pos):
    return struct.unpack_from('<I', b, pos)[0]


def write(out, target, name, data):
    folder = os.path.join(out, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def cut(path, out):
    data = open(path, 'rb').read()
    if len(data) < 0x100 or data[:4] != b'\x00\x01\x00\x00':
        return
    jet3 = data[0x14] == 0
    layout = LAYOUTS[jet3]
    size = layout['page']
    pages = [data[i:i + size] for i in range(0, len(data) - size + 1, size)]
    # Page 2 is the catalogue's definition in every database; anything else means encoded pages.
    if len(pages) < 3 or pages[2][0] != 0x02:
        return
    stem = os.path.splitext(os.path.basename(path))[0].replace(' ', '_')
    fmt = bytes([1 if jet3 else 0])

    # Table definitions: first pages are definition pages no other definition page continues to.
    definitions = [n for n, p in enumerate(pages) if p[0] == 0x02]
    continued = {u32(pages[n], 4) for n in definitions}
    firsts = [n for n in definitions if n not in continued]
    for index, first in enumerate(firsts[:PER_FILE] + firsts[-2:]):
        chain, seen, n = [], set(), first
        while n and n < len(pages) and n not in seen and len(chain) < 8:
            seen.add(n)
            chain.append(n)
            n = u32(pages[n], 4)
        local = {page: i + 1 for i, page in enumerate(chain)}
        extra = []
        for offset in (layout['usage'], layout['free']):
            page = u32(pages[first], offset) >> 8
            if page < len(pages) and page not in local:
                local[page] = len(chain) + len(extra) + 1
                extra.append(page)
        image = []
        for i, page in enumerate(chain):
            b = bytearray(pages[page])
            struct.pack_into('<I', b, 4, i + 2 if i + 1 < len(chain) else 0)
            if i == 0:
                for offset in (layout['usage'], layout['free']):
                    pointer = u32(b, offset)
                    if pointer >> 8 in local:
                        struct.pack_into('<I', b, offset, local[pointer >> 8] << 8 | (pointer & 0xFF))
            image.append(bytes(b))
        image += [pages[page] for page in extra]
        write(out, 'table_definition', f'{stem}-tdef{index}', fmt + b''.join(image))

    # Data pages: those with deleted or overflow rows first, then the first few others.
    def flags(page):
        count = min(u16(page, layout['rows']), (size - layout['rows'] - 2) // 2)
        entries = [u16(page, layout['rows'] + 2 + 2 * i) for i in range(count)]
        return any(e & 0x8000 for e in entries), any(e & 0x4000 for e in entries)

    data_pages = [n for n, p in enumerate(pages) if p[0] == 0x01 and n > 0]
    interesting = [n for n in data_pages if any(flags(pages[n]))]
    chosen = (interesting[:PER_FILE] + [n for n in data_pages if n not in interesting][:PER_FILE])
    for n in chosen:
        deleted, overflow = flags(pages[n])
        kind = 'deleted' if deleted else 'overflow' if overflow else 'rows'
        # With a following page of the same table, where there is one.
        same = [m for m in data_pages if m > n and u32(pages[m], 4) == u32(pages[n], 4)][:1]
        write(out, 'data_pages', f'{stem}-{kind}{n}', fmt + pages[n] + b''.join(pages[m] for m in same))

    # The catalogue's data pages, for the catalogue target (a Jet 4 template).
    if not jet3:
        for n in [n for n in data_pages if u32(pages[n], 4) == 2][:2]:
            write(out, 'catalogue', f'{stem}-catalogue{n}', pages[n])

    # Property blocks: from their signature, record by record while the records fit.
    found = 0
    for signature in (b'KKD\x00', b'MR2\x00'):
        at = data.find(signature)
        while at >= 0 and found < PER_FILE:
            end = at + 4
            while end + 6 <= len(data):
                length = u32(data, end)
                if length < 6 or end + length > len(data) or length > 65536:
                    break
                end += length
            if end > at + 4:
                write(out, 'property_block', f'{stem}-props{found}', data[at:end])
                found += 1
            at = data.find(signature, at + 4)

    # Long values over a real data page with rows: kept in one row, and as a chain.
    for index, n in enumerate(data_pages[:2]):
        rows = u16(pages[n], layout['rows'])
        if rows == 0:
            continue
        for kind, length in (('single', 0x40000000 | 100), ('chain', 300)):
            header = struct.pack('<III', length, 1 << 8 | (index % rows), 0)
            write(out, 'long_value', f'{stem}-{kind}{n}', fmt + header + b'\x00' + pages[n])
        inline = b'inline value'
        header = struct.pack('<III', 0x80000000 | len(inline), 0, 0)
        write(out, 'long_value', f'{stem}-inline', fmt + header + bytes([len(inline)]) + inline)

    if len(data) <= WHOLE_IMAGE_LIMIT:
        write(out, 'whole_image', stem, data)
        write(out, 'structure_image', stem, data)


def cut_encryption(path, out):
    """The header page of an encrypted ACE file, and the XML of its Agile descriptor."""
    data = open(path, 'rb').read(4096)
    if len(data) < 4096 or data[:4] != b'\x00\x01\x00\x00' or data[0x14] < 2:
        return
    stem = os.path.splitext(os.path.basename(path))[0].replace(' ', '_')
    start = data.find(b'<?xml')
    if start < 0:
        start = data.find(b'<encryption')
    write(out, 'office_crypto', f'{stem}-page0', data)
    if start >= 0:
        end = data.find(b'</encryption>', start)
        if end > start:
            write(out, 'office_crypto', f'{stem}-xml', data[start:end + len(b'</encryption>')])


def hand_made(out):
    """Seeds no real file gives: a long-value chain that loops, one that leaves the file; an Agile
    descriptor of made-up values in the layout Office writes."""
    salt = 'AAECAwQFBgcICQoLDA0ODw=='
    block = 'AAECAwQFBgcICQoLDA0ODwABAgMEBQYHCAkKCwwNDg8='
    xml = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'
           '<encryption xmlns="http://schemas.microsoft.com/office/2006/encryption" '
           'xmlns:p="http://schemas.microsoft.com/office/2006/keyEncryptor/password">'
           f'<keyData saltSize="16" blockSize="16" keyBits="128" hashSize="20" cipherAlgorithm="AES" '
           f'cipherChaining="ChainingModeCBC" hashAlgorithm="SHA1" saltValue="{salt}"/>'
           f'<dataIntegrity encryptedHmacKey="{block}" encryptedHmacValue="{block}"/>'
           '<keyEncryptors><keyEncryptor uri="http://schemas.microsoft.com/office/2006/keyEncryptor/password">'
           f'<p:encryptedKey spinCount="100000" saltSize="16" blockSize="16" keyBits="128" hashSize="20" '
           f'cipherAlgorithm="AES" cipherChaining="ChainingModeCBC" hashAlgorithm="SHA1" saltValue="{salt}" '
           f'encryptedVerifierHashInput="{salt}" encryptedVerifierHashValue="{block}" '
           f'encryptedKeyValue="{salt}"/></keyEncryptor></keyEncryptors></encryption>')
    write(out, 'office_crypto', 'hand-agile-xml', xml.encode())
    for jet3 in (True, False):
        layout = LAYOUTS[jet3]
        size, rows = layout['page'], layout['rows']
        page = bytearray(size)
        page[0] = 0x01
        struct.pack_into('<H', page, rows, 2)
        struct.pack_into('<H', page, rows + 2, size - 16)
        struct.pack_into('<H', page, rows + 4, size - 32)
        struct.pack_into('<I', page, size - 16, 1 << 8 | 1)  # row 0 -> row 1
        struct.pack_into('<I', page, size - 32, 1 << 8 | 0)  # row 1 -> row 0: a circle
        fmt = bytes([1 if jet3 else 0])
        header = struct.pack('<III', 100, 1 << 8, 0)
        name = 'jet3' if jet3 else 'jet4'
        write(out, 'long_value', f'hand-{name}-loop', fmt + header + b'\x00' + bytes(page))
        struct.pack_into('<I', page, size - 32, 0xFFFFFF << 8)  # row 1 -> far beyond the end
        write(out, 'long_value', f'hand-{name}-outside', fmt + header + b'\x00' + bytes(page))


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    out = sys.argv[1]
    for path in sys.argv[2:]:
        try:
            cut(path, out)
            cut_encryption(path, out)
        except (OSError, struct.error) as error:
            print(f'{path}: {error}', file=sys.stderr)
    hand_made(out)
    return 0


if __name__ == '__main__':
    sys.exit(main())
