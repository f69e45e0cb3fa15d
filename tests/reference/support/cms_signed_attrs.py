#!/usr/bin/env python3
"""Takes a CMS SignedData (DER) apart for an independent check of SM2 CMS,
which the openssl command line of OpenSSL 3.0 cannot verify with the GM id:
writes the signed attributes re-encoded as a SET (what the signature covers),
the signature value, and the content's message digest attribute; and checks
that the digest is SM3 of the content (the attached one, or the file given).

usage: cms_signed_attrs.py CMS.der OUTDIR [CONTENT]
prints the signature algorithm OID and 'digest ok' or 'digest bad'."""

import hashlib
import os
import sys

from asn1crypto import cms


def main():
    data = open(sys.argv[1], "rb").read()
    outdir = sys.argv[2]
    info = cms.ContentInfo.load(data)
    signed = info["content"]
    signer = signed["signer_infos"][0]
    attrs = signer["signed_attrs"]
    # The signature covers the attributes with a SET tag, not the [0] they carry.
    as_set = b"\x31" + attrs.dump()[1:]
    with open(os.path.join(outdir, "attrs.der"), "wb") as f:
        f.write(as_set)
    with open(os.path.join(outdir, "signature.der"), "wb") as f:
        f.write(signer["signature"].native)
    if len(sys.argv) > 3:
        content = open(sys.argv[3], "rb").read()
    else:
        content = signed["encap_content_info"]["content"].native
    digest = None
    for attr in attrs:
        if attr["type"].dotted == "1.2.840.113549.1.9.4":
            digest = attr["values"][0].native
    print(signer["signature_algorithm"]["algorithm"].dotted)
    print(signer["digest_algorithm"]["algorithm"].dotted)
    ok = digest == hashlib.new("sm3", content).digest()
    print("digest ok" if ok else "digest bad")


if __name__ == "__main__":
    main()
