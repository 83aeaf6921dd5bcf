# TrustSign signature card of the plug-in's card library: PSO HASH, then the PIN,
# then MSE SET (81 B6) and the signature over the stored hash; TLS by MSE 41 A4
# and INTERNAL AUTHENTICATE. Card number in 2F02, public keys in DF01/0010 in the
# card's key-file layout. Files whose end answers 6B00.
name trustsign
atr 3B 8D 80 01 51 54 53 47 20 54 72 75 73 74 53 69 67 0C
end-of-file 6B00
serial 54 53 00 00 12 34 56 78
# Algorithm byte of the MSE template: SHA-1 and everything else.
algorithm 12 sha1
algorithm 22 sha256

ef 3F00/2F02 transparent content=hex:5A0D0000000000A1B2C3D4E5F60718293A
df 3F00/DF01
ef 3F00/DF01/0010 transparent content=keyfile:02=keys/trustsign-sig.key,03=keys/trustsign-aut.key
ef 3F00/DF01/C000 transparent content=cert:keys/trustsign-sig.crt
ef 3F00/DF01/C001 transparent content=cert:keys/trustsign-aut.crt

# PINs as characters padded to eight bytes with 00.
pin 81 format=padded pad=00 block=8 value=123456 tries=3 unblock=12345678 min=4 max=8
pin 93 format=padded pad=00 block=8 value=1234 tries=3 unblock=87654321 min=4 max=8

key 82 file=keys/trustsign-sig.key pin=81 usage=sign per-use=yes
key 93 file=keys/trustsign-aut.key pin=93 usage=sign,auth
se sign=82 auth=93
