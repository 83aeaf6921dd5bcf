# D-Trust card as the plug-in's card library uses it: the signature over a
# DigestInfo, and the TLS signature as a raw extended PSO DECIPHER with a key
# usable in the current directory, after MSE SET 01 B8. Card number in DF71/D001.
# The signature PIN has eight digits: PIN pads take exactly eight for this card.
name dtrust-plugin
atr 3B 8C 80 01 51 44 54 50 20 44 2D 54 72 75 73 74 1F
extended-length yes

df 3F00/5015
ef 3F00/5015/C000 transparent content=cert:keys/dtrust-sig.crt
ef 3F00/5015/C100 transparent content=cert:keys/dtrust-aut.crt
df 3F00/DF71
ef 3F00/DF71/D001 transparent content=hex:0123456789ABCDEF

pin 81 format=padded pad=00 block=8 value=12345678 tries=3 unblock=23456789 min=6 max=8
pin 01 format=padded pad=00 block=8 value=1234 tries=3 unblock=87654321 min=4 max=8

key 84 file=keys/dtrust-sig.key pin=81 usage=sign per-use=yes
key 82 file=keys/dtrust-aut.key pin=01 usage=decipher,auth
se sign=84 decipher=82
