#!/bin/sh
# Makes a signed settings archive with openssl and zip alone, as an outside check
# that the reader accepts what standard tools write.
#   make-openssl-archive.sh KEY_DIR OUT_DIR  ->  OUT_DIR/Quarvel.esw
set -eu
keys=$1
out=$2
work=$out/openssl-archive
rm -rf "$work"
mkdir -p "$work/pkg/META-INF"
cd "$work"
printf 'Manifest-Version: 2.0\r\nCreated-By: openssl and zip\r\n\r\n' > hdr
printf 'Name: config:Quarvel\r\nSectionName: Quarvel\r\nMain-Class: x.Launcher\r\nCardList: abc\r\n def\r\n\r\n' > s1
printf 'Name: executable:jre\\lib\\server\\libjvm.so\r\nSectionName: JVM\r\n\r\n' > s2
cat hdr s1 s2 > pkg/META-INF/MANIFEST.MF
d1=$(openssl dgst -sha1 -binary s1 | openssl base64 -A)
d2=$(openssl dgst -sha1 -binary s2 | openssl base64 -A)
{
  printf 'Signature-Version: 2.0\r\n\r\n'
  printf 'Name: config:Quarvel\r\nDigest-Algorithms: SHA1\r\nSHA1-Digest: %s\r\n\r\n' "$d1"
  printf 'Name: executable:jre\\lib\\server\\libjvm.so\r\nDigest-Algorithms: SHA1\r\nSHA1-Digest: %s\r\n\r\n' "$d2"
} > signerinfo.txt
# -noattr: the signature covers the text itself; -binary: line ends unchanged;
# -nodetach: the text is embedded; never -stream/-indef or -keyid.
openssl cms -sign -binary -nodetach -noattr -md sha1 -outform DER \
  -signer "$keys/archive-root.crt" -inkey "$keys/archive-root.key" -in signerinfo.txt -out pkg/META-INF/SIGNER.DSA
rm -f "$out/Quarvel.esw"
(cd pkg && zip -q -0 -X -D -r "$out/Quarvel.esw" META-INF)
