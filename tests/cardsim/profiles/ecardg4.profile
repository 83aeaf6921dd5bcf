# Signature card with MSE-based signing, second type (same commands as asign).
name ecardg4
atr 3B 8D 80 01 51 45 47 34 20 65 43 61 72 64 20 47 34 49
# Algorithm references of the MSE templates: SHA-1 and SHA-256.
algorithm 10 sha1
algorithm 40 sha256

df 3F00/DF01 name=D2760000660201
ef 3F00/DF01/C000 transparent content=cert:keys/ecardg4-sig.crt
ef 3F00/DF01/C001 transparent content=cert:keys/ecardg4-dec.crt
ef 3F00/DF01/5031 linear-variable record=hex:A00A300804062A8648CE3D0301 record=hex:A1033001FF record=text:Quarvel
ef 3F00/DF01/4E01 transparent size=64 update=pin:01

# Signature PIN and card PIN, ISO 9564 format-2 blocks.
pin 81 format=format2 value=123456 tries=3 unblock=12345678 unblock-tries=10 min=6 max=12
pin 01 format=format2 value=1234 tries=3 unblock=87654321 unblock-tries=10 min=4 max=12

key 02 file=keys/ecardg4-sig.key pin=81 usage=sign per-use=yes
key 03 file=keys/ecardg4-dec.key pin=01 usage=decipher,auth
se sign=02 decipher=03
# A second signature key, current after power-on and after an empty MSE: it signs
# whenever no MSE SET chose another key.
key 0A file=keys/second-sig.key pin=81 usage=sign per-use=yes
se sign=0A
