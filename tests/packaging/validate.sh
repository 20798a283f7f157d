#!/usr/bin/env bash
# The freedesktop and AppStream validators on the installed files. AppStream's
# tree check also finds a desktop entry that the metadata names but that is not
# installed. Warnings count as failures; pedantic notes do not.
set -euo pipefail
stage=$1
app_id=$2
for tool in desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 77; }
done
desktop-file-validate "$stage/usr/share/applications/$app_id.desktop"
# desktop-file-validate reports hints on stdout and still exits 0.
hints=$(desktop-file-validate "$stage/usr/share/applications/$app_id.desktop")
[ -z "$hints" ] || { echo "$hints"; exit 1; }
appstreamcli validate-tree --no-net "$stage"
