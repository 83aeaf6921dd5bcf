# Bank card with an ACOS signature application, generation 2.
name bank
atr 3B 8B 80 01 51 42 4E 4B 20 41 43 4F 53 30 34 26
algorithm 14 sha1
algorithm 44 sha256

df 3F00/1000 name=A0000001184543
ef 3F00/1000/D002 transparent content=hex:02
df 3F00/1000/DF71
ef 3F00/1000/DF71/D001 transparent content=hex:0123456789ABCDEF
ef 3F00/1000/C000 transparent content=cert:keys/bank-sig.crt
ef 3F00/1000/C001 transparent content=cert:keys/bank-aut.crt
ef 3F00/1000/C002 transparent content=cert:keys/bank-dec.crt

# Signature PIN of six digits, card PIN of four; unblocking code alone resets.
pin 81 format=padded pad=00 block=8 value=123456 tries=3 unblock=87654321 min=6 max=6
pin 01 format=padded pad=00 block=8 value=1234 tries=3 unblock=12345678 min=4 max=4

key 02 file=keys/bank-sig.key pin=81 usage=sign per-use=yes
key 03 file=keys/bank-aut.key pin=01 usage=auth
key 04 file=keys/bank-dec.key pin=01 usage=decipher
se sign=02 decipher=04 auth=03
# A second signature key, current after power-on and after an empty MSE: it signs
# whenever no MSE SET chose another key.
key 0A file=keys/second-sig.key pin=81 usage=sign per-use=yes
se sign=0A
