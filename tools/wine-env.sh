# Sourced by the scripts that run Windows programs under Wine.

# Wine takes its user interface language (the system's own texts: the message
# boxes' buttons, the edits' menus, the font dialog) and its ANSI code page from
# the locale: ru_RU.UTF-8 makes it a Russian Windows, with code page 1251, as
# the program's users have (tools/deps.sh makes the locale).
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  echo "missing locale: ru_RU.UTF-8 (tools/deps.sh makes it)" >&2
  exit 1
fi
export LC_ALL=ru_RU.UTF-8

# prepare_fonts: the windows' fonts in $WINEPREFIX, as on Windows: Tahoma from
# Wine's own fonts (fonts-wine), which this Wine finds only in the prefix's font
# folder, and Times New Roman drawn with its metric twin Liberation Serif
# (fonts-liberation), where Wine would otherwise fall back to a sans-serif face.
prepare_fonts() {
  local fonts=$WINEPREFIX/drive_c/windows/Fonts face
  mkdir -p "$fonts"
  for face in /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf; do
    [ -f "$fonts/${face##*/}" ] || cp "$face" "$fonts/"
  done
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Times New Roman' \
    /d 'Liberation Serif' /f >/dev/null 2>&1 </dev/null
}
