#!/usr/bin/env bash
# Makes in the folder given ca.pem (a test CA), server.pem and .key (signed by it for localhost and 127.0.0.1),
# stranger.pem and .key (self-signed: no trusted CA vouches for them), for the stand-ins of the services gifts call.
set -euo pipefail
cd "$1"
ossl() { openssl "$@" 2>/dev/null; }
ossl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Koravel-Test-CA -keyout ca.key -out ca.pem
ossl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout server.key -out server.csr
echo "subjectAltName=DNS:localhost,IP:127.0.0.1" >ext.cnf
ossl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile ext.cnf -out server.pem
ossl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
  -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout stranger.key -out stranger.pem
