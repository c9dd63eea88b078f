#!/bin/sh
# Removes what installing quarn into this prefix wrote, as listed in
# install_manifest.txt beside this script, whatever was installed elsewhere
# since; then refreshes the desktop caches that the prefix has.
#   sh PREFIX/share/quarn/uninstall
set -u
here=$(cd "$(dirname "$0")" && pwd) || exit 1
manifest=$here/install_manifest.txt
if [ ! -r "$manifest" ]; then
  echo "quarn uninstall: $manifest: cannot read the list of installed files" >&2
  exit 1
fi
status=0
dirs=
# The list is read whole first: it names itself.
files=$(cat "$manifest") || exit 1
old_ifs=$IFS
IFS='
'
for file in $files; do
  case $file in
    /*) ;;
    *) continue ;;
  esac
  if [ -e "$file" ] || [ -L "$file" ]; then
    rm -f -- "$file" || status=1
  fi
  # Only the folders named after us are ours; shared ones stay even if empty.
  parent=${file%/*}
  case $parent in
    */quarn) dirs="$dirs$parent$IFS" ;;
  esac
done
for dir in $dirs; do
  rmdir -- "$dir" 2>/dev/null
done
IFS=$old_ifs

# A cache left as it was would still name the removed type and entries.
share=${here%/*}
if [ -f "$share/mime/mime.cache" ] && command -v update-mime-database >/dev/null; then
  update-mime-database "$share/mime" || status=1
fi
if [ -f "$share/applications/mimeinfo.cache" ] && command -v update-desktop-database >/dev/null; then
  update-desktop-database "$share/applications" || status=1
fi
if [ -f "$share/icons/hicolor/icon-theme.cache" ] && command -v gtk-update-icon-cache >/dev/null; then
  gtk-update-icon-cache -q -f -t "$share/icons/hicolor" || status=1
fi
exit $status
