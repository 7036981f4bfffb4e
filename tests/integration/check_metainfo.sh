#!/usr/bin/env bash
# Validates the AppStream metadata of the window program offline, hints
# included, and checks that its newest release is the project's version.
#   check_metainfo.sh METAINFO VERSION
# The one finding let through is the validator's note that it does not
# know the id's top-level domain: the id is the reverse of the project's
# domain, example.invalid, whose .invalid no registry lists.
set -euo pipefail
file=$1
version=$2
status=0

if ! report=$(appstreamcli validate --no-net --pedantic "$file" 2>&1); then
  echo "FAILED: appstreamcli reports errors or warnings"
  status=1
fi
echo "$report"
others=$(grep -E '^[EWIP]: ' <<<"$report" | grep -vE '^I: [^ ]+ cid-maybe-not-rdns ' || true)
[ -z "$others" ] || { echo "FAILED: appstreamcli has hints besides the id's domain"; status=1; }

newest=$(grep -oE '<release [^>]*version="[^"]*"' "$file" | head -n1 | sed 's/.*version="\([^"]*\)"/\1/')
[ "$newest" = "$version" ] || { echo "FAILED: the newest release is '$newest', the project's version $version"; status=1; }
exit $status
