#!/bin/sh
# How the test keys here were made (run once; the results are committed).
# archive-root / default-root: DSA 1024/160 whose public key is exactly 442 bytes of
# DER (g and y with 128 content bytes); their public halves are built into the
# program (foundation/archive/RootKeys.cpp). stranger: a key nobody trusts.
# chain-*: an intermediate under the archive root and a signer under it.
set -e
cd "$(dirname "$0")"
for name in archive-root default-root; do
  while :; do
    openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024 \
      -pkeyopt dsa_paramgen_q_bits:160 -out /tmp/$name.param
    for try in 1 2 3 4 5 6; do
      openssl genpkey -paramfile /tmp/$name.param -out $name.key
      openssl pkey -in $name.key -pubout -outform DER -out $name.spki.der
      [ "$(stat -c %s $name.spki.der)" = 442 ] && break 2
    done
  done
  openssl req -new -x509 -key $name.key -sha1 -days 36500 -subj "/CN=Quarvel test $name" -out $name.crt
done
openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024 -pkeyopt dsa_paramgen_q_bits:160 -out /tmp/other.param
openssl genpkey -paramfile /tmp/other.param -out stranger.key
openssl req -new -x509 -key stranger.key -sha1 -days 36500 -subj "/CN=Quarvel test stranger" -out stranger.crt
openssl genpkey -paramfile /tmp/other.param -out chain-inter.key
openssl genpkey -paramfile /tmp/other.param -out chain-signer.key
openssl req -new -key chain-inter.key -subj "/CN=Quarvel test intermediate" -out /tmp/inter.csr
openssl x509 -req -sha1 -in /tmp/inter.csr -CA archive-root.crt -CAkey archive-root.key -set_serial 2 \
  -days 36500 -extfile ext.cnf -extensions ca -out chain-inter.crt
openssl req -new -key chain-signer.key -subj "/CN=Quarvel test signer" -out /tmp/signer.csr
openssl x509 -req -sha1 -in /tmp/signer.csr -CA chain-inter.crt -CAkey chain-inter.key -set_serial 3 \
  -days 36500 -extfile ext.cnf -extensions leaf -out chain-signer.crt
