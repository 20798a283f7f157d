#!/usr/bin/env bash
# The freedesktop and AppStream validators on the installed files. AppStream's
# tree check also finds a desktop entry that the metadata names but that is not
# installed. Warnings count as failures; pedantic notes do not.
set -euo pipefail
source "$(dirname "$0")/../../tools/require-programs.sh"
stage=$1
app_id=$2
require_programs desktop-file-validate appstreamcli
desktop-file-validate "$stage/usr/share/applications/$app_id.desktop"
# desktop-file-validate reports hints on stdout and still exits 0.
hints=$(desktop-file-validate "$stage/usr/share/applications/$app_id.desktop")
[ -z "$hints" ] || { echo "$hints"; exit 1; }
appstreamcli validate-tree --no-net "$stage"
