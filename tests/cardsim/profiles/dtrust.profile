# Signature card that signs over a DigestInfo and makes the TLS signature with
# a raw DECIPHER in its key directory 5015/5072/4B01; needs extended length.
name dtrust
atr 3B 8C 80 01 51 44 54 52 20 44 2D 54 72 75 73 74 03
extended-length yes

df 3F00/5015
df 3F00/5015/5072
df 3F00/5015/5072/4B01
ef 3F00/5015/C000 transparent content=cert:keys/dtrust-sig.crt
ef 3F00/5015/C100 transparent content=cert:keys/dtrust-aut.crt
ef 3F00/5015/4401 linear-variable record=text:D-Trust record=hex:0102030405

# PINs as characters padded with 00 to eight bytes.
pin 81 format=padded pad=00 block=8 value=123456 tries=3 unblock=12345678 min=6 max=8
pin 01 format=padded pad=00 block=8 value=1234 tries=3 unblock=87654321 min=4 max=8

key 84 file=keys/dtrust-sig.key pin=81 usage=sign per-use=yes
key 82 file=keys/dtrust-aut.key pin=01 usage=decipher,auth df=3F00/5015/5072/4B01
se sign=84 decipher=82
